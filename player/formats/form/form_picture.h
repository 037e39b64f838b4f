// The FORM picture decoder's state and stages, open to tests and tools.
#pragma once

#include "movie.h"

#include <cstdint>

// Each frame keeps every pixel twice side by side: 2 x width x height bytes,
// at most this many (320 x 330 pixels).
constexpr int32_t form_frame_capacity = 211200;

struct form_decoder {
    // The palette of the slot decoded, kept to itself, instead of the heard
    // slot's given to the surface (the slot index's own decoder).
    bool own_palette;
    bool set_up;
    int32_t frame_length; // L, fixed by the first picture
    int32_t palette_set;  // palette last given to the surface, -1: none yet
    alignas(64) uint8_t work_frame[form_frame_capacity];
    alignas(64) uint8_t reference_frame[form_frame_capacity];
    alignas(64) uint8_t image[form_frame_capacity];
    alignas(64) uint8_t opcodes[form_frame_capacity];
};

// One input stream of a picture payload; reads never pass length.
struct form_stream {
    const uint8_t* data;
    int32_t length;
    int32_t at;
};
struct form_streams {
    form_stream sizes;
    form_stream vectors;
    form_stream image;
};

// Walks the prefix-code tree of an opcode block (block_length bytes) and
// writes the opcodes (0 to 21) to out. Returns their count. *fault is set when
// the block has no end symbol within its bytes, a node lies outside the tables,
// or out (capacity bytes) is full; the opcodes before the fault are kept.
int32_t decode_opcode_tree(const uint8_t* block, int32_t block_length, uint8_t* out,
                           int32_t capacity, bool* fault);

// Builds one picture of length bytes in work from the opcodes and streams,
// taking motion runs from reference. False when it stopped on a fault (runs
// past the frame, opcodes or streams running out, a motion source outside
// reference); what was drawn before stays.
bool apply_opcodes(const uint8_t* opcodes, int32_t count, form_streams& streams,
                   const uint8_t* reference, uint8_t* work, int32_t length);

// Decodes one picture with decoder d (same arguments as decode_form_picture).
// False when the payload was damaged or the picture too large to decode.
bool decode_form_picture_with(form_decoder& d, uint8_t interlaced, int32_t width, int32_t height,
                              const FrameSlot* slot, void** pixels);

// A decoder as at start: no picture seen, both frames zero.
void reset_form_decoder(form_decoder& d);
// The player's own decoder back to its start.
void reset_form_decoder_state();

// Seeks: the slot index decodes every picture with a decoder of its own and
// keeps its state now and then; the player's decoder can take the last one
// kept at or before a slot (see kind_entry).
void index_form_picture(const FrameSlot& slot, int32_t n);
int32_t restore_form_picture(int32_t p);
void reset_form_index();
void give_form_colors();
