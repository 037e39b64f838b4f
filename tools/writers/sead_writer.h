// SEAD movies: key frames (palette and LZ-packed image), block frames found
// by a motion search over the previous picture, and two-channel IMA ADPCM.
#pragma once

#include "formats/sead/sead.h"

#include <array>
#include <cstdint>
#include <vector>

using sead_palette = std::array<uint8_t, 768>; // red, green, blue per colour

// The shared LZ packing (every command form: short, medium and long back
// references, literal runs, the stop command) behind the key frame's image
// header (flags, big-endian size); long_flags sets bit 0 of the flags,
// which adds three skipped bytes.
std::vector<uint8_t> pack_sead_image(const uint8_t* data, size_t size, bool long_flags = false);

std::vector<uint8_t> write_sead_key_frame(int32_t width, int32_t height,
                                          const sead_palette& palette, const uint8_t* image,
                                          bool long_flags = false);

// A block frame as its sections hold it. code_bits < 0 picks the narrowest
// width that holds every entry.
struct sead_four_colour_block {
    std::array<uint8_t, 4> colours;
    uint32_t mask; // two bits per pixel, pixel 0 in the highest two
};
struct sead_block_frame {
    std::vector<std::array<int32_t, 2>> vectors; // x, y: -512 to 511
    std::vector<std::array<uint8_t, 16>> literal_blocks;
    std::vector<sead_four_colour_block> four_colour_blocks;
    std::vector<uint32_t> codes; // one per block, block rows top to bottom
    int32_t code_bits = -1;
};
std::vector<uint8_t> write_sead_block_frame(const sead_block_frame& frame);
int32_t narrowest_code_bits(int32_t entries);

// Builds the block frame that turns previous into target (both W x H) without
// loss: blocks found in previous within the vector range are copied from it,
// the others sent as four-colour blocks when they have at most four colours
// and as literal blocks otherwise. Blocks without a code are not reached.
sead_block_frame search_sead_block_frame(const uint8_t* previous, const uint8_t* target,
                                         int32_t width, int32_t height);

// Encodes interleaved left/right samples; state runs on from call to call
// exactly as the player's decoder state does.
std::vector<uint8_t> encode_sead_sound(sead_sound_state& state, const int16_t* samples,
                                       size_t frames);

struct sead_movie_frame {
    std::vector<uint8_t> image; // W x H palette indices; empty: no picture chunk
    sead_palette palette{};     // in force from this frame on (a change forces a key frame)
    std::vector<int16_t> sound; // interleaved left/right; empty: no sound chunk
    bool force_key = false;
};
struct sead_movie_stats {
    int key_frames = 0;
    int block_frames = 0;
    int64_t vector_blocks = 0;
    int64_t literal_blocks = 0;
    int64_t four_colour_blocks = 0;
    int max_vector = 0; // largest |x| or |y| of any vector sent
};
// The whole movie: "SEAD", then per frame its picture chunk and its "SNDC"
// chunk, then "SEND" when end_tag is set. The first picture is a key frame.
std::vector<uint8_t> write_sead_movie(int32_t width, int32_t height,
                                      const std::vector<sead_movie_frame>& frames,
                                      bool end_tag = true, sead_movie_stats* stats = nullptr);

// About 10.7 s at 320 x 160, 15 pictures a second: a landscape scrolling in
// layers with a glider crossing it, a dusk palette halfway, stereo music.
std::vector<uint8_t> make_sead_demo_movie();

// The dithered pictures of make_form_dithered_movie with stereo sound.
std::vector<uint8_t> make_sead_dithered_movie(int seconds = 0);
// The same, seconds long: the light keeps changing every 40 pictures, each
// change with a key frame.
std::vector<uint8_t> make_sead_demo_movie(int seconds);
