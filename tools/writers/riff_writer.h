// RIFF movies (kind 2): a head list, "JUNK" filler, a "movi" list of picture
// ("00db") and stereo DPCM sound ("01wb") chunks, and an "idx1" index.
#pragma once

#include "bytes.h"

#include <cstdint>
#include <vector>

// One sound block: first left and right samples whole, then one code byte per
// further sample. samples holds frames left/right pairs; the block is
// 2 x frames + 2 bytes. Each code's shift change is chosen looking one sample
// of its channel ahead.
std::vector<uint8_t> encode_riff_sound(const int16_t* samples, int frames);

// A chunk: tag, little-endian size, body, a pad byte after an odd size.
void put_riff_chunk(byte_builder& b, const char* tag, const std::vector<uint8_t>& body);
// "RIFF", its size (patched by finish_riff_file), "AVI ", the head list.
void put_riff_head(byte_builder& b, int width, int height, int frame_rate, int frames);
void finish_riff_file(byte_builder& b);

struct riff_frame {
    std::vector<uint8_t> picture; // "00db" body; empty: no picture chunk
    std::vector<uint8_t> sound;   // "01wb" body; empty: no sound chunk
    bool key = false;             // marked as a key picture in the index
    bool filler_before = false;   // a "JUNK" chunk before this frame
};

std::vector<uint8_t> write_riff_movie(const std::vector<riff_frame>& frames, int width, int height,
                                      int frame_rate);

// Colourful moving pictures coded for the codec library, and stereo tones.
std::vector<riff_frame> make_riff_demo_frames(int count, int frame_rate = 15);
// Four seconds; or seconds long.
std::vector<uint8_t> make_riff_demo_movie();
std::vector<uint8_t> make_riff_demo_movie(int seconds);
