// The stages of the SCHl decoders, shared by their source files and the tests.
#pragma once

#include "formats/schl/schl.h"

#include <array>

void reset_schl_sound();
void reset_schl_picture();

// --- bit string: 32-bit little-endian words, most significant bit first ---

// The n bits (1..32) from the decoder's position on; bits past coded_bytes are 0.
uint32_t schl_peek_bits(const schl_picture_decoder& d, int n);

// --- variable-length codes ---

struct schl_ac_code {
    uint16_t bits; // the code, right-aligned
    uint8_t length;
    uint8_t run;
    uint8_t level;
};
constexpr int schl_ac_code_count = 111;
extern const schl_ac_code schl_ac_codes[schl_ac_code_count];

// A looked-up AC entry: code length in bits 0-7, run in 8-15, level in 16-23,
// and what the code means in bits 24-25.
enum : uint32_t { schl_ac_pair = 0, schl_ac_end = 1, schl_ac_escape = 2, schl_ac_none = 3 };
constexpr uint32_t schl_ac_entry(uint32_t kind, uint32_t length, uint32_t run, uint32_t level) {
    return length | run << 8 | level << 16 | kind << 24;
}
inline uint32_t schl_ac_kind(uint32_t e) {
    return e >> 24;
}
inline uint32_t schl_ac_length(uint32_t e) {
    return e & 0xFF;
}
inline uint32_t schl_ac_run(uint32_t e) {
    return (e >> 8) & 0xFF;
}
inline uint32_t schl_ac_level(uint32_t e) {
    return (e >> 16) & 0xFF;
}

// Looks up the code at the front of a 16-bit window (first bit most
// significant): eight tables picked by the window's range (the reference), or
// one table picked by the count of leading zeros.
uint32_t schl_ac_lookup_ranges(uint32_t window);
uint32_t schl_ac_lookup(uint32_t window);

struct schl_ac_fast_tables {
    uint32_t short_codes[256]; // by the window's top byte, windows from 0x400 up
    uint32_t long_codes[17 * 32];
    uint8_t shift[17];
    uint8_t mask[17];
};
extern const schl_ac_fast_tables schl_ac_fast;

inline uint32_t schl_ac_lookup_fast(uint32_t window) {
    if (window >= 0x400) [[likely]]
        return schl_ac_fast.short_codes[window >> 8];
    uint32_t z = window ? uint32_t(__builtin_clz(window)) - 16 : 16;
    return schl_ac_fast
        .long_codes[z * 32 + ((window >> schl_ac_fast.shift[z]) & schl_ac_fast.mask[z])];
}

// DC size codes: entry = size | code length << 8, indexed by the next 7 (luma)
// or 8 (chroma) bits.
extern const uint16_t* const schl_dc_luma_sizes;
extern const uint16_t* const schl_dc_chroma_sizes;

extern const uint8_t schl_scan[64];
// The scan for blocks turned over (entry 8b + a): the plain zigzag.
extern const uint8_t schl_zigzag[64];
extern const int32_t schl_dequant[64];

// Decodes the next block's coefficients into d.block; the new bit position
// is left in d.position.
void decode_schl_block(schl_picture_decoder& d, int32_t dc);

// --- inverse transform ---

int32_t scale_by_root_half(int32_t v);
void schl_rotate(int32_t p, int32_t q, int32_t* r0, int32_t* r2);
void schl_butterfly(const int32_t* x, int32_t* y, int shift);
// block: 64 coefficients, entry 8a + b; out: 8 x 8 samples with a row stride.
void schl_inverse_transform_plain(const int32_t* block, int32_t* out, int stride);
// The same samples, clamped to [low, high] and narrowed, from the block
// turned over (entry 8b + a); only_dc says that every entry but the first is 0.
void schl_inverse_transform_narrow(const int32_t* columns, bool only_dc, int16_t* out, int stride,
                                   int16_t low, int16_t high);
// Clamping that keeps every pixel as it is: luma far enough out that all
// three colour indices saturate, chroma to the chroma tables.
constexpr int16_t schl_luma_low = -512, schl_luma_high = 1023;
constexpr int16_t schl_chroma_low = 0, schl_chroma_high = 255;

// --- colour conversion ---

extern const std::array<int16_t, 256> schl_cr_to_red;
extern const std::array<int16_t, 256> schl_cb_to_blue;
extern const std::array<int16_t, 256> schl_cb_to_green;
extern const std::array<int16_t, 256> schl_cr_to_green;
// 5-bit levels already in their place in the pixel word.
extern const std::array<uint16_t, 416> schl_red_levels;
extern const std::array<uint16_t, 392> schl_green_levels;
extern const std::array<uint16_t, 439> schl_blue_levels;

// One pixel from its samples, every index clamped to its table.
uint16_t schl_pixel(int32_t y, int32_t cb, int32_t cr);

// Writes the macroblock at column c, row r from d.luma, d.cb, d.cr.
void convert_schl_macroblock_plain(const schl_picture_decoder& d, bool doubled, int32_t width,
                                   int32_t c, int32_t r, uint16_t* pixels);
void convert_schl_macroblock(const schl_picture_decoder& d, bool doubled, int32_t width, int32_t c,
                             int32_t r, uint16_t* pixels);
