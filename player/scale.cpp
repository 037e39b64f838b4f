#include "scale.h"

#include <algorithm>
#include <cstring>

// The window's factors (1 to 4) get instances of their own with the factor
// a constant, so that the inner loop unrolls; fixed 0 takes it at run time.
template <int32_t fixed>
static void widen_row(const uint16_t* src, int32_t width, uint16_t* dst, int32_t factor) {
    const int32_t f = fixed ? fixed : factor;
    for (int32_t x = 0; x < width; ++x) {
        uint16_t v = src[x];
        for (int32_t k = 0; k < f; ++k) dst[k] = v;
        dst += f;
    }
}

void scale_picture(const uint8_t* src, int32_t src_pitch, int32_t width, int32_t height,
                   uint8_t* dst, int32_t dst_pitch, int32_t factor) {
    size_t row_bytes = size_t(width) * size_t(factor) * 2;
    for (int32_t y = 0; y < height; ++y) {
        // Pitches of SDL surfaces keep rows 2-byte aligned.
        const auto* in = reinterpret_cast<const uint16_t*>(src + size_t(y) * size_t(src_pitch));
        uint8_t* first = dst + size_t(y) * size_t(factor) * size_t(dst_pitch);
        auto* out = reinterpret_cast<uint16_t*>(first);
        switch (factor) {
        case 1:
            memcpy(out, in, row_bytes);
            break;
        case 2:
            widen_row<2>(in, width, out, factor);
            break;
        case 3:
            widen_row<3>(in, width, out, factor);
            break;
        case 4:
            widen_row<4>(in, width, out, factor);
            break;
        default:
            widen_row<0>(in, width, out, factor);
            break;
        }
        for (int32_t k = 1; k < factor; ++k)
            memcpy(first + size_t(k) * size_t(dst_pitch), first, row_bytes);
    }
}

int32_t whole_factor_to_fit(int32_t width, int32_t height, int32_t area_width,
                            int32_t area_height) {
    if (width < 1 || height < 1 || area_width < 1 || area_height < 1) return 0;
    return std::min(area_width / width, area_height / height);
}
