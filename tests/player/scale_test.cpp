#include "scale.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

TEST(ScaledCopy, EachPixelBecomesAWholeBlockAndNothingOutsideIsWritten) {
    const int32_t w = 5, h = 3, src_pitch = 12, dst_pitch = 40; // both padded past the rows
    for (int32_t factor : {1, 2, 3, 4, 6}) {
        std::vector<uint16_t> src(size_t(src_pitch / 2 * h), 0xEEEE);
        for (int32_t y = 0; y < h; ++y)
            for (int32_t x = 0; x < w; ++x)
                src[size_t(y * src_pitch / 2 + x)] = uint16_t(y * 16 + x);
        int32_t pitch = dst_pitch * factor;
        std::vector<uint16_t> dst(size_t(pitch / 2 * h * factor + 8), 0x5555);
        scale_picture(reinterpret_cast<const uint8_t*>(src.data()), src_pitch, w, h,
                      reinterpret_cast<uint8_t*>(dst.data()), pitch, factor);
        for (int32_t y = 0; y < h * factor; ++y)
            for (int32_t x = 0; x < pitch / 2; ++x) {
                uint16_t want = x < w * factor ? uint16_t(y / factor * 16 + x / factor) : 0x5555;
                ASSERT_EQ(dst[size_t(y * pitch / 2 + x)], want) << factor << " " << x << "," << y;
            }
        EXPECT_EQ(dst.back(), 0x5555);
    }
}

TEST(ScaledCopy, FullscreenFactorIsTheLargestWholeOneThatFits) {
    EXPECT_EQ(whole_factor_to_fit(320, 165, 1366, 768), 4);
    EXPECT_EQ(whole_factor_to_fit(640, 330, 1366, 768), 2);
    EXPECT_EQ(whole_factor_to_fit(320, 165, 1920, 1080), 6);
    EXPECT_EQ(whole_factor_to_fit(320, 165, 1024, 768), 3); // the width decides
    EXPECT_EQ(whole_factor_to_fit(100, 400, 1024, 768), 1); // the height decides
    EXPECT_EQ(whole_factor_to_fit(640, 330, 600, 400), 0);
    EXPECT_EQ(whole_factor_to_fit(0, 165, 1024, 768), 0);
}

} // namespace
