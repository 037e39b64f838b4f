#include "formats/riff/riff.h"

#include <bit>

static_assert(std::endian::native == std::endian::little,
              "the table is copied byte for byte as little-endian colours");

namespace {

constexpr int clamp31(int v) {
    return v < 0 ? 0 : v > 31 ? 31 : v;
}

// Red follows Y and V, blue Y and U; green rises with Y and gives way to
// both U and V, so that U = V = 15 or 16 is roughly grey.
constexpr uint16_t codec_colour(int index) {
    int y = index & 63, u = index >> 6 & 31, v = index >> 11 & 31;
    int red = clamp31((4 * y + 8 * v - 124) >> 3);
    int blue = clamp31((4 * y + 8 * u - 124) >> 3);
    int green = clamp31(11 + (y + 1) / 2 - ((3 * u + 8 * v + 8) >> 4));
    return uint16_t(red << 10 | green << 5 | blue);
}

constexpr codec_table_data make_codec_table() {
    codec_table_data t{};
    for (int i = 0; i < 65536; ++i) t.colours[i] = codec_colour(i);
    return t;
}

} // namespace

constexpr codec_table_data codec_table = make_codec_table();
