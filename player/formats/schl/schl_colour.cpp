#include "formats/schl/schl_internal.h"

#include <algorithm>

// Chroma samples run 0..127 around 64; the tables take a byte, read as
// signed. Factors are BT.601's 1.596, 2.018, 0.391 and 0.813 over 1.164, as
// exact decimals: integer division truncates toward zero.
static constexpr int32_t signed_byte(int k) {
    return k < 128 ? k : k - 256;
}
template <int32_t Scale, int32_t Base, int32_t Sign>
static constexpr std::array<int16_t, 256> chroma_table() {
    std::array<int16_t, 256> t{};
    for (int k = 0; k < 256; ++k) t[k] = int16_t(Base + Sign * (Scale * signed_byte(k) / 10000));
    return t;
}
extern const std::array<int16_t, 256> schl_cr_to_red = chroma_table<13710, 0, 1>();
extern const std::array<int16_t, 256> schl_cb_to_blue = chroma_table<17337, 0, 1>();
extern const std::array<int16_t, 256> schl_cb_to_green = chroma_table<3359, 0, 1>();
extern const std::array<int16_t, 256> schl_cr_to_green = chroma_table<6985, 130, -1>();

// A 5-bit level is the count of these steps at or below the index; it
// saturates, so the conversion needs no clamping arithmetic.
static constexpr int32_t level_steps[31] = {0,  3,  7,  11, 14, 17, 21,  25,  28, 32, 36,
                                            39, 43, 46, 50, 54, 57, 60,  64,  68, 71, 75,
                                            78, 82, 86, 89, 93, 97, 100, 103, 107};
static constexpr uint16_t level(int32_t j) {
    uint16_t n = 0;
    for (int32_t s : level_steps) n += s <= j;
    return n;
}
template <int N, int Offset, int Place> static constexpr std::array<uint16_t, N> level_table() {
    std::array<uint16_t, N> t{};
    for (int i = 0; i < N; ++i) t[i] = uint16_t(level(i - Offset) << Place);
    return t;
}
extern const std::array<uint16_t, 416> schl_red_levels = level_table<416, 100, 10>();
extern const std::array<uint16_t, 392> schl_green_levels = level_table<392, 76, 5>();
extern const std::array<uint16_t, 439> schl_blue_levels = level_table<439, 123, 0>();

template <size_t N> static inline uint16_t clamped(const std::array<uint16_t, N>& t, int64_t i) {
    return t[size_t(std::clamp<int64_t>(i, 0, int64_t(N) - 1))];
}

uint16_t schl_pixel(int32_t y, int32_t cb, int32_t cr) {
    cb = std::clamp(cb, 0, 255);
    cr = std::clamp(cr, 0, 255);
    int64_t red = int64_t(y) + schl_cr_to_red[cr];
    int64_t blue = int64_t(y) + schl_cb_to_blue[cb];
    int64_t green = int64_t(y) + schl_cr_to_green[cr] - schl_cb_to_green[cb];
    return uint16_t(clamped(schl_red_levels, red) + clamped(schl_blue_levels, blue) +
                    clamped(schl_green_levels, green));
}

void convert_schl_macroblock_plain(const schl_picture_decoder& d, bool doubled, int32_t width,
                                   int32_t c, int32_t r, uint16_t* pixels) {
    for (int y = 0; y < 16; ++y) {
        for (int x = 0; x < 16; ++x) {
            int k = (y >> 1) * 8 + (x >> 1);
            uint16_t p = schl_pixel(d.luma[y * 16 + x], d.cb[k], d.cr[k]);
            if (doubled) {
                uint16_t* at = pixels + int64_t(2 * (16 * r + y)) * width + 2 * (16 * c + x);
                at[0] = at[1] = p;
            } else {
                pixels[int64_t(16 * r + y) * width + 16 * c + x] = p;
            }
        }
    }
}

// The level tables carried on past both ends with their end values: looking
// an index up here equals clamping it to the table first. Luma is brought
// into [-512, 1023] first, far enough out that every index lands on a
// saturated entry, and the chroma offsets add at most 262 either way.
constexpr int ext_base = 800, ext_size = 2112;
struct extended_levels {
    uint16_t red[ext_size], green[ext_size], blue[ext_size];
};
static constexpr extended_levels make_extended() {
    extended_levels e{};
    for (int i = 0; i < ext_size; ++i) {
        int j = i - ext_base;
        e.red[i] = uint16_t(level(j - 100) << 10);
        e.green[i] = uint16_t(level(j - 76) << 5);
        e.blue[i] = uint16_t(level(j - 123));
    }
    return e;
}
static constexpr extended_levels ext = make_extended();

static inline int32_t luma_in_range(int32_t y) {
    return y < -512 ? -512 : y > 1023 ? 1023 : y;
}

void convert_schl_macroblock(const schl_picture_decoder& d, bool doubled, int32_t width, int32_t c,
                             int32_t r, uint16_t* pixels) {
    const int64_t row_pixels = doubled ? 2 * int64_t(width) : width;
    uint16_t* origin = pixels + int64_t(16 * r) * row_pixels + (doubled ? 32 : 16) * c;
    for (int cy = 0; cy < 8; ++cy) {
        const int32_t* l0 = d.luma + cy * 32;
        const int32_t* l1 = l0 + 16;
        uint16_t* p0 = origin + 2 * cy * row_pixels;
        uint16_t* p1 = p0 + row_pixels;
        for (int cx = 0; cx < 8; ++cx) {
            int32_t cb = std::clamp(d.cb[cy * 8 + cx], 0, 255);
            int32_t cr = std::clamp(d.cr[cy * 8 + cx], 0, 255);
            const uint16_t* red = ext.red + ext_base + schl_cr_to_red[cr];
            const uint16_t* green =
                ext.green + ext_base + schl_cr_to_green[cr] - schl_cb_to_green[cb];
            const uint16_t* blue = ext.blue + ext_base + schl_cb_to_blue[cb];
            int32_t y00 = luma_in_range(l0[2 * cx]), y01 = luma_in_range(l0[2 * cx + 1]);
            int32_t y10 = luma_in_range(l1[2 * cx]), y11 = luma_in_range(l1[2 * cx + 1]);
            uint16_t q00 = uint16_t(red[y00] | green[y00] | blue[y00]);
            uint16_t q01 = uint16_t(red[y01] | green[y01] | blue[y01]);
            uint16_t q10 = uint16_t(red[y10] | green[y10] | blue[y10]);
            uint16_t q11 = uint16_t(red[y11] | green[y11] | blue[y11]);
            if (doubled) {
                // Even frame rows only; the odd ones keep what they held.
                uint16_t* a = p0 + 4 * cx;
                uint16_t* b = p1 + 4 * cx;
                a[0] = a[1] = q00;
                a[2] = a[3] = q01;
                b[0] = b[1] = q10;
                b[2] = b[3] = q11;
            } else {
                p0[2 * cx] = q00;
                p0[2 * cx + 1] = q01;
                p1[2 * cx] = q10;
                p1[2 * cx + 1] = q11;
            }
        }
    }
}
