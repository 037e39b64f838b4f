#include "formats/schl/schl_internal.h"

#include <algorithm>
#include <cstring>

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
// an index up here equals clamping it to the table first. Luma arrives in
// [-512, 1023], far enough out that every index lands on a saturated entry,
// and the chroma offsets add at most 262 either way.
constexpr int ext_base = 800, ext_size = 2112;
static_assert(schl_luma_low == -512 && schl_luma_high == 1023);
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

static void convert_tables(const schl_picture_decoder& d, bool doubled, int32_t width, int32_t c,
                           int32_t r, uint16_t* pixels) {
    // Frame rows per sample row: two when doubled (the odd ones are skipped).
    const int64_t row_pixels = doubled ? 2 * int64_t(width) : width;
    uint16_t* origin = pixels + int64_t(16 * r) * row_pixels + (doubled ? 32 : 16) * c;
    for (int cy = 0; cy < 8; ++cy) {
        const int16_t* l0 = d.luma16 + cy * 32;
        const int16_t* l1 = l0 + 16;
        uint16_t* p0 = origin + 2 * cy * row_pixels;
        uint16_t* p1 = p0 + row_pixels;
        for (int cx = 0; cx < 8; ++cx) {
            const int cb = d.cb16[cy * 8 + cx], cr = d.cr16[cy * 8 + cx];
            const uint16_t* red = ext.red + ext_base + schl_cr_to_red[cr];
            const uint16_t* green =
                ext.green + ext_base + schl_cr_to_green[cr] - schl_cb_to_green[cb];
            const uint16_t* blue = ext.blue + ext_base + schl_cb_to_blue[cb];
            const int y00 = l0[2 * cx], y01 = l0[2 * cx + 1], y10 = l1[2 * cx],
                      y11 = l1[2 * cx + 1];
            const uint32_t q00 = red[y00] | green[y00] | blue[y00];
            const uint32_t q01 = red[y01] | green[y01] | blue[y01];
            const uint32_t q10 = red[y10] | green[y10] | blue[y10];
            const uint32_t q11 = red[y11] | green[y11] | blue[y11];
            if (doubled) {
                const uint32_t a[2] = {q00 | q00 << 16, q01 | q01 << 16};
                const uint32_t b[2] = {q10 | q10 << 16, q11 | q11 << 16};
                memcpy(p0 + 4 * cx, a, sizeof a);
                memcpy(p1 + 4 * cx, b, sizeof b);
            } else {
                p0[2 * cx] = uint16_t(q00);
                p0[2 * cx + 1] = uint16_t(q01);
                p1[2 * cx] = uint16_t(q10);
                p1[2 * cx + 1] = uint16_t(q11);
            }
        }
    }
}

#if defined(__x86_64__)
#include <immintrin.h>

// The 5-bit level of an index j in [-8, 107] without a table lookup per
// pixel: (5 j + B) >> 4 with one bias B per run of 8 indices (picked with a
// byte shuffle), then clamped below at 0. Checked against the steps here.
static constexpr int8_t level_bias[16] = {17,  17,  10,  11,  4,   0,   -6,  -10,
                                          -12, -16, -22, -26, -29, -35, -39, -39};
static constexpr int bucket_level(int j) {
    int v = (5 * j + level_bias[(j + 8) >> 3]) >> 4;
    return v < 0 ? 0 : v;
}
static constexpr bool bucket_levels_exact() {
    for (int j = -8; j <= 107; ++j)
        if (bucket_level(j) != level(j)) return false;
    return true;
}
static_assert(bucket_levels_exact());

// The chroma products as multiply-and-shift on the byte's magnitude
// (0..128): trunc(F s) = sign(s) floor(F |s|). Factors above 1 take the
// magnitude doubled, so that all of them fit 16 bits.
constexpr uint32_t cr_red_factor = 44925, cb_blue_factor = 56799;    // (2a M) >> 16
constexpr uint32_t cb_green_factor = 21847, cr_green_factor = 45773; // (a M) >> 16
static constexpr bool factor_exact(uint32_t m, int shift, int scale) {
    for (int a = 0; a <= 128; ++a)
        if (int((uint32_t(a) * m) >> shift) != a * scale / 10000) return false;
    return true;
}
static_assert(factor_exact(cr_red_factor, 15, 13710) && factor_exact(cb_blue_factor, 15, 17337));
static_assert(factor_exact(cb_green_factor, 16, 3359) && factor_exact(cr_green_factor, 16, 6985));

__attribute__((target("avx2"))) static inline __m256i level_of(__m256i j, __m256i bias) {
    j = _mm256_max_epi16(_mm256_min_epi16(j, _mm256_set1_epi16(107)), _mm256_set1_epi16(-8));
    // Bucket (j + 8) / 8 in the low byte; the high byte's top bit makes the
    // shuffle give 0 there.
    __m256i bucket =
        _mm256_or_si256(_mm256_srli_epi16(_mm256_add_epi16(j, _mm256_set1_epi16(8)), 3),
                        _mm256_set1_epi16(int16_t(0x8000)));
    // Biases are kept as B + 64 so that they read as unsigned bytes.
    __m256i b = _mm256_shuffle_epi8(bias, bucket);
    __m256i v = _mm256_add_epi16(_mm256_mullo_epi16(j, _mm256_set1_epi16(5)), b);
    v = _mm256_srai_epi16(_mm256_sub_epi16(v, _mm256_set1_epi16(64)), 4);
    return _mm256_max_epi16(v, _mm256_setzero_si256());
}

// Eight chroma offsets, each twice: one per luma column.
__attribute__((target("avx2"))) static inline __m256i widen(const int16_t* eight) {
    __m128i o = _mm_load_si128(reinterpret_cast<const __m128i*>(eight));
    return _mm256_set_m128i(_mm_unpackhi_epi16(o, o), _mm_unpacklo_epi16(o, o));
}

__attribute__((target("avx2"))) static void convert_avx2(const schl_picture_decoder& d,
                                                         bool doubled, int32_t width, int32_t c,
                                                         int32_t r, uint16_t* pixels) {
    alignas(32) int16_t red_offset[64], green_offset[64], blue_offset[64];
    for (int k = 0; k < 64; k += 16) {
        const __m256i cb = _mm256_load_si256(reinterpret_cast<const __m256i*>(d.cb16 + k));
        const __m256i cr = _mm256_load_si256(reinterpret_cast<const __m256i*>(d.cr16 + k));
        // The tables read the byte as signed.
        const __m256i sb = _mm256_srai_epi16(_mm256_slli_epi16(cb, 8), 8);
        const __m256i sr = _mm256_srai_epi16(_mm256_slli_epi16(cr, 8), 8);
        const __m256i ab = _mm256_abs_epi16(sb), ar = _mm256_abs_epi16(sr);
        const __m256i cr_red = _mm256_sign_epi16(
            _mm256_mulhi_epu16(_mm256_slli_epi16(ar, 1), _mm256_set1_epi16(int16_t(cr_red_factor))),
            sr);
        const __m256i cb_blue =
            _mm256_sign_epi16(_mm256_mulhi_epu16(_mm256_slli_epi16(ab, 1),
                                                 _mm256_set1_epi16(int16_t(cb_blue_factor))),
                              sb);
        const __m256i cb_green = _mm256_sign_epi16(
            _mm256_mulhi_epu16(ab, _mm256_set1_epi16(int16_t(cb_green_factor))), sb);
        const __m256i cr_green = _mm256_sign_epi16(
            _mm256_mulhi_epu16(ar, _mm256_set1_epi16(int16_t(cr_green_factor))), sr);
        _mm256_store_si256(reinterpret_cast<__m256i*>(red_offset + k),
                           _mm256_sub_epi16(cr_red, _mm256_set1_epi16(100)));
        _mm256_store_si256(reinterpret_cast<__m256i*>(blue_offset + k),
                           _mm256_sub_epi16(cb_blue, _mm256_set1_epi16(123)));
        _mm256_store_si256(
            reinterpret_cast<__m256i*>(green_offset + k),
            _mm256_sub_epi16(_mm256_set1_epi16(130 - 76), _mm256_add_epi16(cr_green, cb_green)));
    }
    alignas(16) int8_t biased[16];
    for (int i = 0; i < 16; ++i) biased[i] = int8_t(level_bias[i] + 64);
    const __m256i bias =
        _mm256_broadcastsi128_si256(_mm_load_si128(reinterpret_cast<const __m128i*>(biased)));
    const int64_t row_pixels = doubled ? 2 * int64_t(width) : width;
    uint16_t* origin = pixels + int64_t(16 * r) * row_pixels + (doubled ? 32 : 16) * c;
    for (int y = 0; y < 16; ++y) {
        const __m256i luma = _mm256_load_si256(reinterpret_cast<const __m256i*>(d.luma16 + 16 * y));
        const int k = (y >> 1) * 8;
        __m256i red = level_of(_mm256_add_epi16(luma, widen(red_offset + k)), bias);
        __m256i green = level_of(_mm256_add_epi16(luma, widen(green_offset + k)), bias);
        __m256i blue = level_of(_mm256_add_epi16(luma, widen(blue_offset + k)), bias);
        __m256i px = _mm256_or_si256(
            _mm256_or_si256(_mm256_slli_epi16(red, 10), _mm256_slli_epi16(green, 5)), blue);
        uint16_t* out = origin + y * row_pixels;
        if (doubled) {
            __m256i lo = _mm256_unpacklo_epi16(px, px), hi = _mm256_unpackhi_epi16(px, px);
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(out),
                                _mm256_permute2x128_si256(lo, hi, 0x20));
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + 16),
                                _mm256_permute2x128_si256(lo, hi, 0x31));
        } else {
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(out), px);
        }
    }
}

static const bool have_avx2 = __builtin_cpu_supports("avx2");
#else
static const bool have_avx2 = false;
static void convert_avx2(const schl_picture_decoder&, bool, int32_t, int32_t, int32_t, uint16_t*) {}
#endif

void convert_schl_macroblock(const schl_picture_decoder& d, bool doubled, int32_t width, int32_t c,
                             int32_t r, uint16_t* pixels) {
    if (have_avx2 && !d.no_vectors)
        convert_avx2(d, doubled, width, c, r, pixels);
    else
        convert_tables(d, doubled, width, c, r, pixels);
}
