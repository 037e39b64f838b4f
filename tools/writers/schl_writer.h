// SCHl movies from pictures and sound: the block-transform picture coder,
// the 4-bit ADPCM sound coder and the chunk layout, for the demo and tests.
#pragma once

#include <cstdint>
#include <vector>

// Bits packed as the picture decoder reads them: 32-bit little-endian words,
// most significant bit first.
struct schl_bit_writer {
    std::vector<uint32_t> words;
    uint64_t count = 0;
    void put(uint32_t value, int bits); // the low `bits` bits of value, first bit highest
    std::vector<uint8_t> bytes() const; // whole words, the last one padded with 0
};

// A picture in the decoder's sample scale: luma about 12 (black) to 120
// (white), chroma 0..127 around 64 at half resolution both ways.
struct schl_planes {
    int width = 0, height = 0;   // multiples of 16
    std::vector<int32_t> y;      // width x height
    std::vector<int32_t> cb, cr; // width/2 x height/2
};

// From 8-bit RGB (3 bytes per pixel, rows packed).
schl_planes schl_planes_from_rgb(const uint8_t* rgb, int width, int height);

struct schl_picture_options {
    // 0 codes every coefficient as closely as the levels allow; larger values
    // round the high frequencies to coarser steps (fewer, cheaper codes).
    int coarseness = 0;
};

// The exact (double precision) forward transform of one 8 x 8 block of
// samples, at the decoder's scale: coefficient 8a + b, a horizontal and b
// vertical frequency, such that the decoder's samples are four times the
// inverse transform of the levels.
void schl_forward_transform(const int32_t* samples, int stride, double* coefficients);

// Codes (run, level) after the DC into the writer, escape included, then the
// end of block. levels: 64 values in scan order (index 0, the DC, is not coded).
void put_schl_ac_levels(schl_bit_writer& w, const int32_t* levels_in_scan_order);
// DC differential with its size code (luma or chroma table); diff -255..255.
void put_schl_dc_difference(schl_bit_writer& w, bool luma, int32_t diff);

std::vector<uint8_t> encode_schl_picture(const schl_planes& planes,
                                         const schl_picture_options& options = {});

// Sound: 15-byte mono or 30-byte stereo blocks of 28 samples per channel.
// The history runs on across calls through `history` (last, before-last per
// channel), which also gives the chunk's seed words.
struct schl_sound_history {
    int32_t last[2] = {0, 0}, before[2] = {0, 0};
    uint32_t seed(int channel) const {
        return uint32_t(uint16_t(last[channel])) | uint32_t(uint16_t(before[channel])) << 16;
    }
};
// frames: sample frames (a multiple of 28); samples interleaved when stereo.
std::vector<uint8_t> encode_schl_sound(const int16_t* samples, int frames, bool stereo,
                                       schl_sound_history& history);

struct schl_movie_content {
    int width = 96, height = 96;
    bool stereo = false;
    std::vector<std::vector<uint8_t>> pictures; // coded pictures, one per slot
    std::vector<int16_t> sound;                 // interleaved when stereo
    int frames_per_slot = 1484;                 // sample frames of sound per slot (x 28)
    bool padding_chunks = false;                // put "SCCl" chunks between the others
};
std::vector<uint8_t> write_schl_movie(const schl_movie_content& movie);

// Demo content: variant 0 mono 96 x 96, 1 stereo 96 x 96, 2 mono 160 x 120;
// three seconds, or seconds when above 0.
std::vector<uint8_t> make_schl_demo_movie(int variant, int seconds = 0);
// A named archive with the demo movies and one member that is not a movie.
std::vector<uint8_t> make_schl_demo_archive();
// A natural-looking test scene (RGB, 3 bytes per pixel) at time t seconds.
std::vector<uint8_t> make_schl_scene(int width, int height, double t);
