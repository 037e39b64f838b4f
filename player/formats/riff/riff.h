// RIFF movies (kind 2): little-endian chunks, stereo DPCM sound and 16-bit
// pictures decoded by the outside codec library.
#pragma once

#include "movie.h"
#include "xanlib.h"

constexpr int32_t riff_width = 320;
constexpr int32_t riff_height = 165;
// Largest bodies the slot and the sound scratch take; larger ones are dropped.
constexpr uint32_t riff_video_limit = video_capacity;
constexpr uint32_t riff_sound_limit = sound_scratch_capacity;
constexpr int32_t riff_draw_buffer_size = 211200; // 165 rows of 1280 bytes

void read_riff_header(FILE* file, int32_t* width, int32_t* height, uint8_t* stereo);
void read_riff_slot();

// Decodes one sound block of size bytes (at least 4) into 2 x size - 4 bytes
// of interleaved 16-bit little-endian samples. Shorter blocks write nothing.
void decode_riff_sound(const uint8_t* block, uint8_t* out, int32_t size);

// The colours the library looks Y, U and V up in: 65536 5-5-5 values indexed
// by Y + 64 U + 2048 V, then 1152 zero bytes; copied into the context's
// table area on the first picture.
struct codec_table_data {
    uint16_t colours[65536];
    uint8_t tail[1152];
};
static_assert(sizeof(codec_table_data) == xan_table_area_size);
extern const codec_table_data codec_table;

// The context the player hands the library for a w x h picture, pointing
// into m's work areas, with the colour table copied in.
void fill_codec_context(codec_memory& m, int32_t w, int32_t h);

struct riff_picture_decoder {
    bool started; // context filled and table copied
    alignas(8) codec_memory memory;
    alignas(8) uint8_t draw_buffer[riff_draw_buffer_size];
};
extern riff_picture_decoder riff_picture;

// The player's decoder: the static state and the bound entry points.
void decode_riff_picture(uint8_t interlaced, int32_t width, int32_t height, const FrameSlot* slot,
                         void** pixels);
void decode_riff_picture_with(riff_picture_decoder& d, decompress_fn decompress, draw_frame_fn draw,
                              uint8_t interlaced, int32_t width, int32_t height,
                              const uint8_t* payload, void** pixels);
void reset_riff_picture(riff_picture_decoder& d);
// A payload the codec library decodes whole without the picture before it:
// a key or raw picture, complete within the bytes read, its checksum right.
// Without the library every picture is drawn black, whatever came before.
bool riff_key_picture(const FrameSlot& slot);
void reset_riff();
