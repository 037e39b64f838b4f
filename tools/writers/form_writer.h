// FORM movies (kind 1): the container, the picture coder and a demo movie.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

struct form_frame {
    int shot = -1;               // write a "SHOT" chunk with this palette index first; -1: none
    bool has_picture = true;     // write a "VGA " chunk
    std::vector<uint8_t> pixels; // width*height palette indices (when has_picture)
    std::vector<int16_t> sound;  // mono 22050 Hz samples for "AUDI"; empty: no "AUDI" chunk
};

// The player's header walk ends at the first "VGA " chunk, so a frame's
// "SHOT" or "AUDI" written before the movie's first picture is read as a
// header chunk and passed over. A frame with sound and no picture gets a
// "SHOT" chunk (the palette in force) so that it is read as a frame of its
// own; a frame with neither writes only its own "SHOT", if any.
struct form_movie {
    int32_t width = 320, height = 165;
    bool write_size = false;                        // write a "SIZE" header chunk
    std::vector<std::array<uint8_t, 768>> palettes; // 6-bit levels (0..63), r,g,b per entry
    std::vector<form_frame> frames;
};

// Bits written least significant first, as the opcode block stores them.
struct form_bit_writer {
    std::vector<uint8_t> bytes;
    int used = 8;
    void put(int bit) {
        if (used == 8) {
            bytes.push_back(0);
            used = 0;
        }
        bytes.back() |= uint8_t(bit << used++);
    }
};

std::vector<uint8_t> write_form_movie(const form_movie& movie);

// The picture payload of one "VGA " chunk coding `current` against `previous`
// (both w*h indices).
std::vector<uint8_t> encode_form_picture(const std::vector<uint8_t>& previous,
                                         const std::vector<uint8_t>& current, int32_t width,
                                         int32_t height, bool pack_image = true);

// A 5-15 s demo: moving colourful picture, a melody, a few palettes switched
// by "SHOT" chunks. variant picks different content/length so an archive can
// hold several; seconds, when above 0, sets the length instead.
std::vector<uint8_t> make_form_demo_movie(int variant = 0, int seconds = 0);

// The LZ packing of an image stream (the data after method byte 2).
std::vector<uint8_t> pack_form_image(const std::vector<uint8_t>& image);

// The opcode block (count, left and right tables, bits) for a list of
// opcodes 0..21; the tree is built from their frequencies.
std::vector<uint8_t> encode_form_opcodes(const std::vector<uint8_t>& opcodes);

// A long movie of 160 x 100 pictures that change everywhere in every frame
// and a square-wave sound: slow to export on any machine, for tests that
// interrupt an export.
std::vector<uint8_t> make_form_busy_movie(int seconds);

// 6 s of 320 x 160 pictures of a moving scene error-diffused onto a fixed
// 3-3-2 palette: noise-like, changing everywhere, with a chord; or seconds
// long.
std::vector<uint8_t> make_form_dithered_movie(int seconds = 0);

// A grey ramp: index i is level i / 4 on all three 6-bit components.
std::array<uint8_t, 768> grey_ramp_palette();
