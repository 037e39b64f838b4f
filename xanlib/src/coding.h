// What the picture coder and decoder must agree on: the payload header, the
// block geometry, the predictors and the adaptive Rice parameter. FORMAT.md
// describes the same coding in prose.
#pragma once

#include <cstdint>

namespace xan {

constexpr uint8_t signature[4] = {'R', 'P', 'X', 'D'};
constexpr uint8_t version = 1;

enum picture_type : uint8_t {
    picture_key = 0,       // every block coded from its own picture
    picture_predicted = 1, // blocks skipped, or coded against the previous picture
    picture_raw = 2,       // planes stored byte by byte
};

// Header: signature, version, type, width, height, sequence, body length,
// body checksum; all little-endian.
constexpr int header_size = 20;
constexpr int at_version = 4;
constexpr int at_type = 5;
constexpr int at_width = 6;
constexpr int at_height = 8;
constexpr int at_sequence = 10;
constexpr int at_body_length = 12;
constexpr int at_checksum = 16;

constexpr int block_size = 8; // luma; chroma blocks are half that
constexpr int luma_levels = 64;
constexpr int chroma_levels = 32;

// A quotient this large is followed by the value in plain bits instead.
constexpr int rice_escape = 12;
constexpr int max_golomb_zeros = 20;

inline int chroma_extent(int luma_extent) {
    return (luma_extent + 1) / 2;
}

inline uint32_t checksum(const uint8_t* p, uint32_t n) {
    uint32_t h = 2166136261u;
    for (uint32_t i = 0; i < n; ++i) h = (h ^ p[i]) * 16777619u;
    return h;
}

// Median edge predictor over the left, upper and upper-left neighbours.
inline int predict_med(int left, int up, int up_left) {
    int lo = left < up ? left : up;
    int hi = left < up ? up : left;
    if (up_left >= hi) return lo;
    if (up_left <= lo) return hi;
    return left + up - up_left;
}

// Spatial prediction of the pixel at (x, y) of a plane whose earlier pixels
// (rows above, and this row to the left) are already decoded.
inline int predict_spatial(const uint8_t* plane, int stride, int x, int y, int levels) {
    const uint8_t* p = plane + y * stride + x;
    if (y == 0) return x == 0 ? levels / 2 : p[-1];
    if (x == 0) return p[-stride];
    return predict_med(p[-1], p[-stride], p[-stride - 1]);
}

// Residuals wrap around the plane's level count; small ones of either sign
// map to small codes.
inline int residual_code(int value, int prediction, int levels) {
    int d = (value - prediction) & (levels - 1);
    if (d >= levels / 2) d -= levels;
    return d >= 0 ? 2 * d : -2 * d - 1;
}
inline int residual_value(int code, int prediction, int levels) {
    int d = (code & 1) ? -((code + 1) >> 1) : code >> 1;
    return (prediction + d) & (levels - 1);
}

// Running mean of the codes, one per plane kind, restarted on each picture.
struct rice_state {
    int total = 4;
    int count = 1;
    int max_k = 5;

    int k() const {
        int k = 0;
        while ((count << k) < total && k < max_k) ++k;
        return k;
    }
    void update(int code) {
        total += code;
        if (++count == 32) {
            total >>= 1;
            count >>= 1;
        }
    }
};

inline int plain_bits(int levels) {
    return levels == luma_levels ? 6 : 5;
}

} // namespace xan
