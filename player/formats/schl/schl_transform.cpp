#include "formats/schl/schl_internal.h"

#include <cmath>
#include <cstring>
#include <utility>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

// The rotation's factors are single-precision constants widened to double;
// K6 is deliberately not cos(3 pi / 8): the stored pictures were made with it.
// (memcpy rather than std::bit_cast, which emscripten's library lacks.)
static float float_from_bits(uint32_t bits) {
    float f;
    memcpy(&f, &bits, sizeof f);
    return f;
}
static const double k6 = float_from_bits(0x3EC3CF15u);
static const double k26m = float_from_bits(0x3F0A8BD4u);
static const double k26p = float_from_bits(0x3FA73D75u);
constexpr int64_t root_half = 1518500250; // sqrt(2) / 2 in units of 2^-31

int32_t scale_by_root_half(int32_t v) {
    return int32_t((int64_t(v) * root_half) >> 32);
}

// Nearest integer, ties to even (the default rounding mode); a value outside
// 32 bits gives INT32_MIN, as the vector conversion does.
static inline int32_t round_to_int32(double v) {
    double r = std::nearbyint(v);
    if (r >= -2147483648.0 && r < 2147483648.0) return int32_t(r);
    return INT32_MIN;
}

void schl_rotate(int32_t p, int32_t q, int32_t* r0, int32_t* r2) {
    double t = double(int32_t(uint32_t(p) + uint32_t(q))) * k6;
    *r0 = round_to_int32(double(p) * k26m + t);
    *r2 = round_to_int32(double(q) * k26p - t);
}

// Sums wrap in 32 bits; only a damaged picture gets near the limits.
void schl_butterfly(const int32_t* x, int32_t* y, int shift) {
    using u = uint32_t;
    u a0 = u(x[0]) + u(x[4]);
    u a1 = u(x[0]) - u(x[4]);
    u m2 = 2 * u(scale_by_root_half(int32_t(u(x[2]) - u(x[6]))));
    u c = u(x[2]) + u(x[6]) + m2;
    u e0 = a0 + c, e3 = a0 - c, e1 = a1 + m2, e2 = a1 - m2;
    u s17 = u(x[1]) + u(x[7]), s35 = u(x[3]) + u(x[5]);
    u s = s17 + s35;
    u m = 2 * u(scale_by_root_half(int32_t(s17 - s35)));
    int32_t r0, r2;
    schl_rotate(int32_t(u(x[5]) - u(x[3])), int32_t(u(x[1]) - u(x[7])), &r0, &r2);
    u o0 = s + u(r2), o1 = u(r2) + m, o2 = u(r0) + m, o3 = u(r0);
    y[0] = int32_t(e0 + o0) >> shift;
    y[1] = int32_t(e1 + o1) >> shift;
    y[2] = int32_t(e2 + o2) >> shift;
    y[3] = int32_t(e3 + o3) >> shift;
    y[4] = int32_t(e3 - o3) >> shift;
    y[5] = int32_t(e2 - o2) >> shift;
    y[6] = int32_t(e1 - o1) >> shift;
    y[7] = int32_t(e0 - o0) >> shift;
}

void schl_inverse_transform_plain(const int32_t* block, int32_t* out, int stride) {
    int32_t t[8][8];
    for (int a = 0; a < 8; ++a) {
        const int32_t* x = block + 8 * a;
        int32_t y[8];
        bool dc_only = true;
        for (int b = 1; b < 8; ++b) dc_only = dc_only && x[b] == 0;
        if (dc_only)
            for (int k = 0; k < 8; ++k) y[k] = x[0];
        else
            schl_butterfly(x, y, 0);
        for (int k = 0; k < 8; ++k) t[k][a] = y[k];
    }
    for (int row = 0; row < 8; ++row) schl_butterfly(t[row], out + row * stride, 17);
}

#if defined(__SSE2__)

// Four butterflies side by side, one per lane.
static inline __m128i mul_root_half(__m128i v) {
    // High half of the signed 64-bit product, from the unsigned one: KR is
    // positive, so only a negative v needs KR taken off.
    const __m128i kr = _mm_set1_epi32(int32_t(root_half));
    __m128i even = _mm_mul_epu32(v, kr);
    __m128i odd = _mm_mul_epu32(_mm_srli_epi64(v, 32), kr);
    __m128i hi =
        _mm_or_si128(_mm_srli_epi64(even, 32), _mm_and_si128(odd, _mm_set_epi32(-1, 0, -1, 0)));
    return _mm_sub_epi32(hi, _mm_and_si128(_mm_srai_epi32(v, 31), kr));
}

static inline void rotate4(__m128i p, __m128i q, __m128i& r0, __m128i& r2) {
    const __m128d f6 = _mm_set1_pd(k6), fm = _mm_set1_pd(k26m), fp = _mm_set1_pd(k26p);
    __m128i s = _mm_add_epi32(p, q);
    __m128i sh = _mm_shuffle_epi32(s, 0xEE), ph = _mm_shuffle_epi32(p, 0xEE),
            qh = _mm_shuffle_epi32(q, 0xEE);
    __m128d t_lo = _mm_mul_pd(_mm_cvtepi32_pd(s), f6);
    __m128d t_hi = _mm_mul_pd(_mm_cvtepi32_pd(sh), f6);
    __m128i a_lo = _mm_cvtpd_epi32(_mm_add_pd(_mm_mul_pd(_mm_cvtepi32_pd(p), fm), t_lo));
    __m128i a_hi = _mm_cvtpd_epi32(_mm_add_pd(_mm_mul_pd(_mm_cvtepi32_pd(ph), fm), t_hi));
    __m128i b_lo = _mm_cvtpd_epi32(_mm_sub_pd(_mm_mul_pd(_mm_cvtepi32_pd(q), fp), t_lo));
    __m128i b_hi = _mm_cvtpd_epi32(_mm_sub_pd(_mm_mul_pd(_mm_cvtepi32_pd(qh), fp), t_hi));
    r0 = _mm_unpacklo_epi64(a_lo, a_hi);
    r2 = _mm_unpacklo_epi64(b_lo, b_hi);
}

template <int Shift> static inline void butterfly4(__m128i* x) {
    __m128i a0 = _mm_add_epi32(x[0], x[4]);
    __m128i a1 = _mm_sub_epi32(x[0], x[4]);
    __m128i m2 = _mm_slli_epi32(mul_root_half(_mm_sub_epi32(x[2], x[6])), 1);
    __m128i c = _mm_add_epi32(_mm_add_epi32(x[2], x[6]), m2);
    __m128i e0 = _mm_add_epi32(a0, c), e3 = _mm_sub_epi32(a0, c);
    __m128i e1 = _mm_add_epi32(a1, m2), e2 = _mm_sub_epi32(a1, m2);
    __m128i s17 = _mm_add_epi32(x[1], x[7]), s35 = _mm_add_epi32(x[3], x[5]);
    __m128i s = _mm_add_epi32(s17, s35);
    __m128i m = _mm_slli_epi32(mul_root_half(_mm_sub_epi32(s17, s35)), 1);
    __m128i r0, r2;
    rotate4(_mm_sub_epi32(x[5], x[3]), _mm_sub_epi32(x[1], x[7]), r0, r2);
    __m128i o0 = _mm_add_epi32(s, r2), o1 = _mm_add_epi32(r2, m), o2 = _mm_add_epi32(r0, m);
    __m128i o3 = r0;
    x[0] = _mm_srai_epi32(_mm_add_epi32(e0, o0), Shift);
    x[1] = _mm_srai_epi32(_mm_add_epi32(e1, o1), Shift);
    x[2] = _mm_srai_epi32(_mm_add_epi32(e2, o2), Shift);
    x[3] = _mm_srai_epi32(_mm_add_epi32(e3, o3), Shift);
    x[4] = _mm_srai_epi32(_mm_sub_epi32(e3, o3), Shift);
    x[5] = _mm_srai_epi32(_mm_sub_epi32(e2, o2), Shift);
    x[6] = _mm_srai_epi32(_mm_sub_epi32(e1, o1), Shift);
    x[7] = _mm_srai_epi32(_mm_sub_epi32(e0, o0), Shift);
}

static inline void transpose4(__m128i& a, __m128i& b, __m128i& c, __m128i& d) {
    __m128i t0 = _mm_unpacklo_epi32(a, b), t1 = _mm_unpacklo_epi32(c, d);
    __m128i t2 = _mm_unpackhi_epi32(a, b), t3 = _mm_unpackhi_epi32(c, d);
    a = _mm_unpacklo_epi64(t0, t1);
    b = _mm_unpackhi_epi64(t0, t1);
    c = _mm_unpacklo_epi64(t2, t3);
    d = _mm_unpackhi_epi64(t2, t3);
}

// m[r][h]: row r of an 8 x 8 matrix, h = 0 for columns 0-3 and 1 for 4-7.
static inline void transpose8(__m128i (*m)[2]) {
    transpose4(m[0][0], m[1][0], m[2][0], m[3][0]);
    transpose4(m[4][1], m[5][1], m[6][1], m[7][1]);
    transpose4(m[0][1], m[1][1], m[2][1], m[3][1]);
    transpose4(m[4][0], m[5][0], m[6][0], m[7][0]);
    for (int r = 0; r < 4; ++r) std::swap(m[r][1], m[r + 4][0]);
}

// The two passes on four lanes at a time. `columns` holds the block turned
// over (entry 8b + a: each row one vertical frequency b for all a); the
// samples are left in m, row by row. When the horizontal frequencies 4 to 7
// are all 0, their half of the first pass gives 0 and is skipped.
static inline void transform_rows(const int32_t* columns, __m128i (*m)[2]) {
    __m128i x[8];
    __m128i upper = _mm_setzero_si128();
    for (int b = 0; b < 8; ++b)
        upper = _mm_or_si128(
            upper, _mm_loadu_si128(reinterpret_cast<const __m128i*>(columns + 8 * b + 4)));
    const bool any_upper = _mm_movemask_epi8(_mm_cmpeq_epi32(upper, _mm_setzero_si128())) != 0xFFFF;
    for (int h = 0; h < (any_upper ? 2 : 1); ++h) {
        for (int b = 0; b < 8; ++b)
            x[b] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(columns + 8 * b + 4 * h));
        butterfly4<0>(x);
        for (int y = 0; y < 8; ++y) m[y][h] = x[y]; // m[y][.] = t[y][a]
    }
    if (!any_upper)
        for (int y = 0; y < 8; ++y) m[y][1] = _mm_setzero_si128();
    transpose8(m); // m[a][.] = t[.][a], lanes over sample rows
    for (int h = 0; h < 2; ++h) {
        for (int a = 0; a < 8; ++a) x[a] = m[a][h];
        butterfly4<17>(x);
        for (int col = 0; col < 8; ++col) m[col][h] = x[col]; // lanes over rows
    }
    transpose8(m);
}

void schl_inverse_transform_narrow(const int32_t* columns, bool only_dc, int16_t* out, int stride,
                                   int16_t low, int16_t high) {
    const __m128i lo = _mm_set1_epi16(low), hi = _mm_set1_epi16(high);
    if (only_dc) {
        int32_t v = columns[0] >> 17;
        __m128i row = _mm_set1_epi16(int16_t(v < low ? low : v > high ? high : v));
        for (int r = 0; r < 8; ++r)
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + r * stride), row);
        return;
    }
    __m128i m[8][2];
    transform_rows(columns, m);
    for (int r = 0; r < 8; ++r) {
        // Saturating to 16 bits first does not change what the clamp gives.
        __m128i v = _mm_max_epi16(_mm_min_epi16(_mm_packs_epi32(m[r][0], m[r][1]), hi), lo);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + r * stride), v);
    }
}

#else

void schl_inverse_transform_narrow(const int32_t* columns, bool, int16_t* out, int stride,
                                   int16_t low, int16_t high) {
    int32_t block[64], samples[64];
    for (int a = 0; a < 8; ++a)
        for (int b = 0; b < 8; ++b) block[8 * a + b] = columns[8 * b + a];
    schl_inverse_transform_plain(block, samples, 8);
    for (int r = 0; r < 8; ++r)
        for (int c = 0; c < 8; ++c) {
            int32_t v = samples[r * 8 + c];
            out[r * stride + c] = int16_t(v < low ? low : v > high ? high : v);
        }
}

#endif
