#include "pixels.h"

#include <bit>
#include <cstring>

// Each 5-bit field f widens to (f << 3) | (f >> 2), which is additive over
// the two bytes of a pixel even for green, split 3 + 2 bits between them: for
// g = l + 8h (l < 8), 8g + (g >> 2) = (8l + (l >> 2)) + (64h + 2h). So a
// pixel is the sum of one entry per byte, R, G, B in bytes 0, 1, 2.
// The pixel stores below write a word whose first three bytes in memory are R, G, B.
static_assert(std::endian::native == std::endian::little);

struct widen_tables {
    uint32_t low[256], high[256];
};
static constexpr widen_tables widen = [] {
    widen_tables t{};
    for (uint32_t v = 0; v < 256; ++v) {
        const uint32_t b = v & 31, g_low = v >> 5;
        t.low[v] = (8 * g_low + (g_low >> 2)) << 8 | (b << 3 | b >> 2) << 16;
        const uint32_t g_high = v & 3, r = v >> 2 & 31;
        t.high[v] = (r << 3 | r >> 2) | (64 * g_high + 2 * g_high) << 8;
    }
    return t;
}();

void rgb_from_555(const uint8_t* pixels, int64_t count, uint8_t* rgb) {
    int64_t i = 0;
    // Four bytes stored per pixel; the fourth is the next pixel's, written over next.
    for (; i + 1 < count; ++i) {
        const uint32_t w = widen.low[pixels[2 * i]] + widen.high[pixels[2 * i + 1]];
        memcpy(rgb + 3 * i, &w, 4);
    }
    for (; i < count; ++i) {
        const uint32_t w = widen.low[pixels[2 * i]] + widen.high[pixels[2 * i + 1]];
        rgb[3 * i] = uint8_t(w);
        rgb[3 * i + 1] = uint8_t(w >> 8);
        rgb[3 * i + 2] = uint8_t(w >> 16);
    }
}

constexpr uint32_t opaque = 0xFF000000;

void rgba_from_555(const uint8_t* pixels, int64_t count, uint8_t* rgba) {
    for (int64_t i = 0; i < count; ++i) {
        const uint32_t w = widen.low[pixels[2 * i]] + widen.high[pixels[2 * i + 1]] + opaque;
        memcpy(rgba + 4 * i, &w, 4);
    }
}

void rgba_from_indexed(const uint8_t* indices, int64_t count, const Color* colors, uint8_t* rgba) {
    uint32_t words[256];
    for (int i = 0; i < 256; ++i)
        words[i] = uint32_t(colors[i].r) | uint32_t(colors[i].g) << 8 |
                   uint32_t(colors[i].b) << 16 | opaque;
    for (int64_t i = 0; i < count; ++i) memcpy(rgba + 4 * i, &words[indices[i]], 4);
}
