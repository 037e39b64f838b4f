// SCHl movies (kind 3): tagged chunks ("SCHl" header, "SCCl" padding, "pIQT"
// pictures, "SCDl" sound, "SCEl" end), 4-bit ADPCM sound and intra-coded
// block-transform pictures. A bare run of "pIQT" chunks plays the same way.
#pragma once

#include "movie.h"

// Header parser of "SCHl" movies: picture size from the first picture chunk,
// stereo flag from the header fields; leaves the file at the first picture or
// sound chunk. Reads through movie_file (the file the probe is given).
void read_schl_header(FILE* file, int32_t* width, int32_t* height, uint8_t* stereo);
// Header parser of bare picture streams: 96 x 96, back at start_offset.
void read_piqt_header(FILE* file, int32_t* width, int32_t* height, uint8_t* stereo);
// The kind-3 reader: one picture chunk and one sound chunk per slot.
void read_schl_slot();
void decode_schl_picture(uint8_t interlaced, int32_t width, int32_t height, const FrameSlot* slot,
                         void** pixels);
void reset_schl();
// Every picture is coded on its own: each slot with one is a key.
bool schl_key_picture(const FrameSlot& slot);

// Largest coded sizes a slot takes; larger chunks are consumed and dropped.
constexpr int32_t schl_max_picture_bytes = video_capacity;
constexpr int32_t schl_max_sound_bytes = sound_scratch_capacity;

// --- sound ---

struct schl_sound_decoder {
    int32_t h1[2]; // last sample, left then right
    int32_t h2[2]; // the sample before it
};

void seed_schl_sound_with(schl_sound_decoder& d, uint32_t first, uint32_t second);
// length coded bytes (whole 15- or 30-byte blocks) into 56 or 112 bytes per block.
void decode_schl_mono_with(schl_sound_decoder& d, const uint8_t* coded, uint8_t* out,
                           int32_t length);
void decode_schl_stereo_with(schl_sound_decoder& d, const uint8_t* coded, uint8_t* out,
                             int32_t length);

void seed_schl_sound(uint32_t first, uint32_t second);
void decode_schl_mono(const uint8_t* coded, uint8_t* out, int32_t length);
void decode_schl_stereo(const uint8_t* coded, uint8_t* out, int32_t length);

// (K1, K2) per coefficient index; indices 4 to 15 act as index 0.
extern const int32_t schl_coefficients[4][2];

// --- pictures ---

struct schl_picture_decoder {
    // Entry 8a + b: a horizontal, b vertical frequency (the fast path keeps
    // it turned over, entry 8b + a).
    alignas(32) int32_t block[64];
    alignas(32) int32_t luma[16 * 16];
    alignas(32) int32_t cb[8 * 8];
    alignas(32) int32_t cr[8 * 8];
    // The fast path's samples, already brought into the colour tables' range.
    alignas(32) int16_t luma16[16 * 16];
    alignas(32) int16_t cb16[8 * 8];
    alignas(32) int16_t cr16[8 * 8];
    int32_t predictor[3]; // DC of Y, Cb, Cr
    uint32_t position;    // bit position in the coded picture
    const uint8_t* coded;
    int32_t coded_bytes; // bits past this many bytes read as 0
    bool plain;          // use the reference code paths (tests compare both)
    bool no_vectors;     // fast path without the AVX2 routines (tests compare both)
};

// Decodes one coded picture into pixels (width x height 16-bit 5-5-5, packed).
// width and height are the frame's, already doubled when doubled is set.
void decode_schl_picture_with(schl_picture_decoder& d, bool doubled, int32_t width, int32_t height,
                              const uint8_t* coded, int32_t coded_bytes, uint16_t* pixels);
