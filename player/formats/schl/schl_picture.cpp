#include "formats/common/chunk_io.h"
#include "formats/schl/schl_internal.h"

#include <cstring>

// Zigzag order with rows and columns swapped: coefficient blocks are stored
// with the horizontal frequency first (entry 8a + b).
const uint8_t schl_scan[64] = {
    0,  8,  1,  2,  9,  16, 24, 17, 10, 3,  4,  11, 18, 25, 32, 40, 33, 26, 19, 12, 5,  6,
    13, 20, 27, 34, 41, 48, 56, 49, 42, 35, 28, 21, 14, 7,  15, 22, 29, 36, 43, 50, 57, 58,
    51, 44, 37, 30, 23, 31, 38, 45, 52, 59, 60, 53, 46, 39, 47, 54, 61, 62, 55, 63,
};

// 8 x round(8192 / (s(a) s(b))), s(0) = 1, s(k) = sqrt(2) cos(k pi / 16): folds
// the transform's scaling into the levels so the butterflies need no multiplies
// beyond the rotation and the two square-root-of-a-half steps.
const int32_t schl_dequant[64] = {
    65536,  47248,  50160,  55736,  65536,  83408,  121096, 237536, //
    47248,  34064,  36160,  40184,  47248,  60136,  87304,  171256, //
    50160,  36160,  38392,  42656,  50160,  63840,  92680,  181800, //
    55736,  40184,  42656,  47400,  55736,  70936,  102984, 202008, //
    65536,  47248,  50160,  55736,  65536,  83408,  121096, 237536, //
    83408,  60136,  63840,  70936,  83408,  106160, 154128, 302328, //
    121096, 87304,  92680,  102984, 121096, 154128, 223752, 438912, //
    237536, 171256, 181800, 202008, 237536, 302328, 438912, 860952, //
};

const uint8_t schl_zigzag[64] = {
    0,  1,  8,  16, 9,  2,  3,  10, 17, 24, 32, 25, 18, 11, 4,  5,  12, 19, 26, 33, 40, 48,
    41, 34, 27, 20, 13, 6,  7,  14, 21, 28, 35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15, 23,
    30, 37, 44, 51, 58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54, 47, 55, 62, 63,
};

static schl_picture_decoder picture_decoder;

void reset_schl_picture() {
    picture_decoder = {};
}

// Word `index` of the bit string; bytes past the coded picture read as 0.
static inline uint32_t load_word(const schl_picture_decoder& d, uint32_t index) {
    int64_t at = int64_t(index) * 4;
    if (at + 4 <= d.coded_bytes) return load_le32(d.coded + at);
    uint32_t w = 0;
    for (int i = 0; i < 4; ++i)
        if (at + i < d.coded_bytes) w |= uint32_t(d.coded[at + i]) << (8 * i);
    return w;
}

static inline uint32_t peek32(const schl_picture_decoder& d) {
    uint32_t index = d.position >> 5;
    uint64_t pair = uint64_t(load_word(d, index)) << 32 | load_word(d, index + 1);
    return uint32_t((pair << (d.position & 31)) >> 32);
}

uint32_t schl_peek_bits(const schl_picture_decoder& d, int n) {
    return peek32(d) >> (32 - n);
}

static inline uint32_t take_bits(schl_picture_decoder& d, int n) {
    uint32_t v = peek32(d) >> (32 - n);
    d.position += n;
    return v;
}

static inline int32_t wrap_add(int32_t a, int32_t b) {
    return int32_t(uint32_t(a) + uint32_t(b));
}

void decode_schl_block(schl_picture_decoder& d, int32_t dc) {
    int32_t* block = d.block;
    memset(block, 0, sizeof d.block);
    block[0] = int32_t(uint32_t(dc) * 65536u);
    const bool plain = d.plain;
    int i = 0;
    for (;;) {
        uint32_t w17 = peek32(d) >> 15;
        uint32_t window = w17 >> 1;
        if (window < 16) break;
        uint32_t e = plain ? schl_ac_lookup_ranges(window) : schl_ac_lookup(window);
        uint32_t kind = schl_ac_kind(e);
        uint32_t length = schl_ac_length(e);
        int32_t run, level;
        if (kind == schl_ac_end) {
            d.position += length;
            break;
        } else if (kind == schl_ac_pair) {
            run = int32_t(schl_ac_run(e));
            level = int32_t(schl_ac_level(e));
            if ((w17 >> (16 - length)) & 1) level = -level;
            d.position += length + 1;
        } else if (kind == schl_ac_escape) {
            d.position += length;
            run = int32_t(take_bits(d, 6));
            int32_t byte = int32_t(take_bits(d, 8));
            if (byte == 0)
                level = int32_t(take_bits(d, 8));
            else if (byte == 128)
                level = int32_t(take_bits(d, 8)) - 256;
            else
                level = byte < 128 ? byte : byte - 256;
        } else {
            break; // not reached: every window from 16 up starts with a code
        }
        i += run + 1;
        if (i > 63) break; // no place for it: the block ends here
        int at = schl_scan[i];
        block[at] = schl_dequant[at] * level;
    }
}

// The reference path: bit by bit through the position, the eight range
// tables and the plain transform and conversion.
static void decode_macroblock(schl_picture_decoder& d) {
    for (int b = 0; b < 6; ++b) {
        const int component = b < 4 ? 0 : b - 3;
        uint32_t e = component == 0 ? schl_dc_luma_sizes[schl_peek_bits(d, 7)]
                                    : schl_dc_chroma_sizes[schl_peek_bits(d, 8)];
        d.position += e >> 8;
        int size = e & 0xFF;
        int32_t diff = 0;
        if (size) {
            int32_t v = int32_t(take_bits(d, size));
            diff = v < (1 << (size - 1)) ? v + 1 - (1 << size) : v;
        }
        d.predictor[component] = wrap_add(d.predictor[component], diff);
        decode_schl_block(d, d.predictor[component]);
        int32_t* out = component == 0   ? d.luma + (b >> 1) * 8 * 16 + (b & 1) * 8
                       : component == 1 ? d.cb
                                        : d.cr;
        schl_inverse_transform_plain(d.block, out, component == 0 ? 16 : 8);
    }
}

// The fast path keeps the bit string in a 64-bit register: the next bits
// sit at its top, and whole 32-bit words come in below them as they run low.
namespace {
struct bit_cursor {
    uint64_t cache; // unread bits, the first one in bit 63
    int32_t count;  // how many of them are valid
    uint32_t next;  // the next word to load
};
} // namespace

static inline void refill(const schl_picture_decoder& d, bit_cursor& c) {
    if (c.count <= 32) {
        c.cache |= uint64_t(load_word(d, c.next++)) << (32 - c.count);
        c.count += 32;
    }
}

static inline void consume(bit_cursor& c, uint32_t bits) {
    c.cache <<= bits;
    c.count -= int32_t(bits);
}

static inline uint32_t take(bit_cursor& c, uint32_t bits) {
    uint32_t v = uint32_t(c.cache >> (64 - bits));
    consume(c, bits);
    return v;
}

// Fills d.block turned over (entry 8b + a). Returns true when any
// coefficient after the DC was stored.
static inline bool decode_block_fast(schl_picture_decoder& d, bit_cursor& c, int32_t dc) {
    int32_t* block = d.block;
    memset(block, 0, sizeof d.block);
    block[0] = int32_t(uint32_t(dc) * 65536u);
    bool stored = false;
    int i = 0;
    for (;;) {
        refill(d, c); // at least 33 bits: enough for any code, escapes included
        const uint32_t w17 = uint32_t(c.cache >> 47);
        const uint32_t window = w17 >> 1;
        if (window < 16) break;
        const uint32_t e = schl_ac_lookup_fast(window);
        const uint32_t kind = schl_ac_kind(e);
        const uint32_t length = schl_ac_length(e);
        int32_t level;
        if (kind == schl_ac_pair) [[likely]] {
            i += int(schl_ac_run(e)) + 1;
            const int32_t sign = -int32_t((w17 >> (16 - length)) & 1);
            level = (int32_t(schl_ac_level(e)) ^ sign) - sign;
            consume(c, length + 1);
        } else if (kind == schl_ac_end) {
            consume(c, length);
            break;
        } else {
            consume(c, length);
            i += int(take(c, 6)) + 1;
            const int32_t byte = int32_t(take(c, 8));
            if (byte == 0)
                level = int32_t(take(c, 8));
            else if (byte == 128)
                level = int32_t(take(c, 8)) - 256;
            else
                level = byte < 128 ? byte : byte - 256;
        }
        if (i > 63) break; // no place for it: the block ends here
        // Stored turned over for the transform; the table is symmetric.
        const int at = schl_zigzag[i];
        block[at] = schl_dequant[at] * level;
        stored = true;
    }
    return stored;
}

static void decode_macroblock_fast(schl_picture_decoder& d, bit_cursor& c) {
    for (int b = 0; b < 6; ++b) {
        const int component = b < 4 ? 0 : b - 3;
        refill(d, c);
        const uint32_t e = component == 0 ? schl_dc_luma_sizes[c.cache >> 57]
                                          : schl_dc_chroma_sizes[c.cache >> 56];
        consume(c, e >> 8);
        const uint32_t size = e & 0xFF;
        int32_t diff = 0;
        if (size) {
            const int32_t v = int32_t(take(c, size));
            diff = v < (1 << (size - 1)) ? v + 1 - (1 << size) : v;
        }
        d.predictor[component] = wrap_add(d.predictor[component], diff);
        const bool ac = decode_block_fast(d, c, d.predictor[component]);
        if (component == 0)
            schl_inverse_transform_narrow(d.block, !ac, d.luma16 + (b >> 1) * 8 * 16 + (b & 1) * 8,
                                          16, schl_luma_low, schl_luma_high);
        else
            schl_inverse_transform_narrow(d.block, !ac, component == 1 ? d.cb16 : d.cr16, 8,
                                          schl_chroma_low, schl_chroma_high);
    }
}

void decode_schl_picture_with(schl_picture_decoder& d, bool doubled, int32_t width, int32_t height,
                              const uint8_t* coded, int32_t coded_bytes, uint16_t* pixels) {
    d.position = 0;
    d.predictor[0] = d.predictor[1] = d.predictor[2] = 0;
    d.coded = coded;
    d.coded_bytes = coded_bytes < 0 ? 0 : coded_bytes;
    const int32_t unit = doubled ? 32 : 16;
    const int32_t mbw = width / unit, mbh = height / unit;
    if (d.plain) {
        for (int32_t r = 0; r < mbh; ++r) {
            for (int32_t c = 0; c < mbw; ++c) {
                decode_macroblock(d);
                convert_schl_macroblock_plain(d, doubled, width, c, r, pixels);
            }
        }
        return;
    }
    bit_cursor cursor{0, 0, 0};
    for (int32_t r = 0; r < mbh; ++r) {
        for (int32_t c = 0; c < mbw; ++c) {
            decode_macroblock_fast(d, cursor);
            convert_schl_macroblock(d, doubled, width, c, r, pixels);
        }
    }
    d.position = cursor.next * 32 - uint32_t(cursor.count);
}

void decode_schl_picture(uint8_t interlaced, int32_t width, int32_t height, const FrameSlot* slot,
                         void** pixels) {
    // The whole slot buffer is readable: a short payload runs on into the
    // bytes after it, as a stored movie would.
    decode_schl_picture_with(picture_decoder, interlaced != 0, width, height, slot->video,
                             video_capacity, static_cast<uint16_t*>(*pixels));
}
