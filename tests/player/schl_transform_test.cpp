#include "formats/schl/schl_internal.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>

namespace {

// The reference transform, or the vector one (which takes the block turned
// over and narrows to 16 bits).
void transform(const int32_t* block, int32_t* out, bool plain) {
    if (plain) {
        schl_inverse_transform_plain(block, out, 8);
        return;
    }
    int32_t columns[64];
    for (int a = 0; a < 8; ++a)
        for (int b = 0; b < 8; ++b) columns[8 * b + a] = block[8 * a + b];
    bool only_dc = std::all_of(block + 1, block + 64, [](int32_t v) { return v == 0; });
    int16_t narrow[64];
    schl_inverse_transform_narrow(columns, only_dc, narrow, 8, INT16_MIN, INT16_MAX);
    std::copy(narrow, narrow + 64, out);
}

TEST(SchlTransform, FlatBlocksAreHalfTheDcRoundedDown) {
    for (bool plain : {true, false}) {
        for (int dc : {200, 0, -3, 255, 1, -255}) {
            int32_t block[64] = {dc * 65536};
            int32_t out[64];
            transform(block, out, plain);
            for (int32_t v : out) EXPECT_EQ(v, dc >> 1) << dc;
        }
    }
}

TEST(SchlTransform, OneHorizontalFrequencyVariesAlongRowsOnly) {
    for (bool plain : {true, false}) {
        int32_t block[64] = {};
        block[8] = 10 * schl_dequant[8];
        int32_t out[64];
        transform(block, out, plain);
        for (int y = 1; y < 8; ++y)
            for (int x = 0; x < 8; ++x) EXPECT_EQ(out[y * 8 + x], out[x]);
        for (int x = 0; x < 3; ++x) EXPECT_GT(out[x], out[x + 1]);
        EXPECT_GT(out[0], 0);
        EXPECT_LT(out[7], 0);
        // And the vertical one (entry 1) the other way round.
        int32_t vertical[64] = {};
        vertical[1] = 10 * schl_dequant[1];
        int32_t down[64];
        transform(vertical, down, plain);
        for (int y = 0; y < 8; ++y)
            for (int x = 0; x < 8; ++x) EXPECT_EQ(down[y * 8 + x], out[x * 8 + y]);
    }
}

TEST(SchlTransform, RotationRoundsHalvesToEven) {
    // K6 = 0xC3CF15 / 2^25 and K26p = 0xA73D75 / 2^23 exactly, so q = 2^24
    // makes every product end in exactly one half.
    const int64_t k6 = 0xC3CF15, k26p = 0xA73D75;
    for (int64_t m : {1, 3, 5, -1}) {
        int32_t q = int32_t(m << 24), r0, r2;
        schl_rotate(0, q, &r0, &r2);
        int64_t t2 = m * k6;                  // 2t, odd
        int64_t r2x2 = m * 2 * k26p * 2 - t2; // 2 R2 before rounding, odd
        auto even_half = [](int64_t twice) {  // twice / 2 rounded to even
            int64_t lo = (twice - 1) / 2 + ((twice - 1) % 2 < 0 ? -1 : 0);
            return lo % 2 == 0 ? lo : lo + 1;
        };
        ASSERT_NE(t2 % 2, 0);
        EXPECT_EQ(r0, even_half(t2)) << m;
        EXPECT_EQ(r2, even_half(r2x2)) << m;
    }
    int32_t r0, r2;
    schl_rotate(0, 1 << 24, &r0, &r2);
    EXPECT_EQ(r0, 6416266); // 6416266.5 down
    schl_rotate(0, 3 << 24, &r0, &r2);
    EXPECT_EQ(r0, 19248800); // 19248799.5 up
}

TEST(SchlTransform, ScaleByRootHalfIsTheFlooredHighWord) {
    std::mt19937 rng(1);
    for (int i = 0; i < 100000; ++i) {
        int32_t v = int32_t(rng());
        __int128 p = __int128(v) * 1518500250;
        int64_t expected = int64_t(p >> 32);
        ASSERT_EQ(scale_by_root_half(v), expected) << v;
    }
    EXPECT_EQ(scale_by_root_half(-1), -1);
    EXPECT_EQ(scale_by_root_half(0), 0);
}

// Samples against four times the exact orthonormal inverse transform of the
// levels (DC term = the DC value). Returns the lowest and highest difference.
std::pair<double, double> compare_with_exact(std::mt19937& rng, int trials, int max_count,
                                             int max_level, bool low_frequencies) {
    double cosines[8][8];
    for (int u = 0; u < 8; ++u)
        for (int x = 0; x < 8; ++x)
            cosines[u][x] = (u ? 1.0 : std::sqrt(0.5)) * std::cos((2 * x + 1) * u * M_PI / 16);
    double lowest = 0, highest = 0;
    for (int trial = 0; trial < trials; ++trial) {
        int32_t levels[64] = {};
        levels[0] = int32_t(rng() % 256);
        int count = int(rng() % (max_count + 1));
        for (int k = 0; k < count; ++k) {
            int i = 1 + int(rng() % 63);
            // Natural pictures: levels shrink with the scan index.
            int range = low_frequencies ? std::max(1, max_level * 4 / (4 + i)) : max_level;
            levels[schl_scan[i]] = int32_t(rng() % (2 * range + 1)) - range;
        }
        int32_t block[64];
        for (int i = 0; i < 64; ++i) block[i] = schl_dequant[i] * levels[i];
        int32_t out[64];
        schl_inverse_transform_plain(block, out, 8);
        for (int y = 0; y < 8; ++y) {
            for (int x = 0; x < 8; ++x) {
                double sum = 0;
                for (int a = 0; a < 8; ++a)
                    for (int b = 0; b < 8; ++b)
                        sum += levels[8 * a + b] * cosines[a][x] * cosines[b][y];
                double difference = out[y * 8 + x] - 4 * sum / 4;
                lowest = std::min(lowest, difference);
                highest = std::max(highest, difference);
            }
        }
    }
    return {lowest, highest};
}

TEST(SchlTransform, SamplesAreFourTimesTheExactInverseTransformWithinOne) {
    std::mt19937 rng(42);
    // Blocks like those of natural pictures: within 1, give or take a few
    // hundredths. The final shift rounds down, so nearly all of the error is
    // below the exact value; K6 and the rounded dequantisation steps add the rest.
    auto [lo, hi] = compare_with_exact(rng, 8000, 16, 40, true);
    EXPECT_GE(lo, -1.05);
    EXPECT_LE(hi, 0.05);
    // Dense blocks of large levels drift a little further: the rotation's K6
    // is 6e-4 off cos(3 pi / 8) and the dequantisation steps are rounded.
    auto [dense_lo, dense_hi] = compare_with_exact(rng, 2000, 40, 60, false);
    EXPECT_GE(dense_lo, -2.0);
    EXPECT_LE(dense_hi, 1.0);
    RecordProperty("natural_range", std::to_string(lo) + " .. " + std::to_string(hi));
    RecordProperty("dense_range", std::to_string(dense_lo) + " .. " + std::to_string(dense_hi));
}

TEST(SchlTransform, VectorPathGivesTheClampedPlainSamplesEvenWhenSumsWrap) {
    std::mt19937 rng(9);
    for (int trial = 0; trial < 20000; ++trial) {
        int32_t block[64] = {};
        const int kind = trial % 5;
        for (int i = 0; i < 64; ++i) {
            if (kind == 0)
                block[i] = int32_t(rng()); // anything at all
            else if (kind == 1)
                block[i] = rng() % 5 ? 0 : schl_dequant[i] * (int32_t(rng() % 511) - 255);
            else if (kind == 2) // only low horizontal frequencies
                block[i] = i < 32 && rng() % 4 == 0 ? int32_t(rng() % 2000000) - 1000000 : 0;
            else if (kind == 3)
                block[i] = rng() % 20 ? 0 : int32_t(rng() % 200000000) - 100000000;
        }
        if (kind == 4) block[0] = int32_t(rng()); // only the DC
        const bool only_dc = std::all_of(block + 1, block + 64, [](int32_t v) { return v == 0; });
        int32_t plain[64];
        schl_inverse_transform_plain(block, plain, 8);
        int32_t columns[64];
        for (int a = 0; a < 8; ++a)
            for (int b = 0; b < 8; ++b) columns[8 * b + a] = block[8 * a + b];
        for (bool luma : {false, true}) {
            const int16_t low = luma ? schl_luma_low : schl_chroma_low;
            const int16_t high = luma ? schl_luma_high : schl_chroma_high;
            int16_t narrow[8 * 16];
            schl_inverse_transform_narrow(columns, only_dc, narrow, 16, low, high);
            for (int y = 0; y < 8; ++y)
                for (int x = 0; x < 8; ++x)
                    ASSERT_EQ(narrow[y * 16 + x], std::clamp<int32_t>(plain[y * 8 + x], low, high))
                        << trial;
        }
    }
}

TEST(SchlColour, WorkedPixels) {
    EXPECT_EQ(schl_pixel(60, 64, 64), 0x39CE);
    EXPECT_EQ(schl_pixel(119, 64, 64), 0x7BFE);
    EXPECT_EQ(schl_pixel(60, 64, 100), 0x70EE);
    EXPECT_EQ(schl_cr_to_red[97], 132);
    EXPECT_EQ(schl_cr_to_red[200], -76); // trunc(1.371 * -56) = trunc(-76.776)
    EXPECT_EQ(schl_cr_to_green[64], 130 - 44);
    EXPECT_EQ(schl_cb_to_blue[255], -1);
    EXPECT_EQ(schl_cb_to_green[128], -42); // trunc(0.3359 * -128) = trunc(-42.9952)
}

TEST(SchlColour, LevelTablesAreSaturatingStaircases) {
    const int steps[31] = {0,  3,  7,  11, 14, 17, 21, 25, 28, 32, 36, 39, 43,  46,  50, 54,
                           57, 60, 64, 68, 71, 75, 78, 82, 86, 89, 93, 97, 100, 103, 107};
    auto L = [&](int j) {
        int n = 0;
        for (int s : steps) n += s <= j;
        return n;
    };
    for (int i = 0; i < 416; ++i) EXPECT_EQ(schl_red_levels[i], L(i - 100) << 10) << i;
    for (int i = 0; i < 392; ++i) EXPECT_EQ(schl_green_levels[i], L(i - 76) << 5) << i;
    for (int i = 0; i < 439; ++i) EXPECT_EQ(schl_blue_levels[i], L(i - 123)) << i;
    EXPECT_EQ(schl_red_levels[0], 0);
    EXPECT_EQ(schl_red_levels[415], 31 << 10);
    EXPECT_EQ(schl_blue_levels[438], 31);
}

TEST(SchlColour, OutOfRangeSamplesClampToTheTableEnds) {
    EXPECT_EQ(schl_pixel(-100000, 64, 64), 0);
    EXPECT_EQ(schl_pixel(INT32_MAX, 64, 64), 0x7FFF);
    EXPECT_EQ(schl_pixel(INT32_MIN, INT32_MIN, INT32_MAX), schl_pixel(-600, 0, 255));
    EXPECT_EQ(schl_pixel(60, -5, 300), schl_pixel(60, 0, 255));
}

TEST(SchlColour, EveryChromaPairAndLumaLevelGivesThePixelRule) {
    schl_picture_decoder d{};
    std::vector<uint16_t> fast(16 * 16), table(16 * 16);
    auto check = [&](const char* what) {
        d.no_vectors = false;
        convert_schl_macroblock(d, false, 16, 0, 0, fast.data());
        d.no_vectors = true;
        convert_schl_macroblock(d, false, 16, 0, 0, table.data());
        for (int i = 0; i < 256; ++i) {
            int k = (i / 32) * 8 + (i % 16) / 2;
            ASSERT_EQ(fast[i], schl_pixel(d.luma16[i], d.cb16[k], d.cr16[k])) << what << " " << i;
            ASSERT_EQ(table[i], fast[i]) << what << " " << i;
        }
    };
    // One chroma pair per macroblock under a luma ramp that runs past both
    // saturated ends (a spread of pairs)...
    for (int cb = 0; cb < 256; cb += 3) {
        for (int cr = cb % 5; cr < 256; cr += 5) {
            for (int k = 0; k < 64; ++k) d.cb16[k] = int16_t(cb), d.cr16[k] = int16_t(cr);
            const int start = (cb * 7 + cr) % 40;
            for (int i = 0; i < 256; ++i)
                d.luma16[i] = int16_t(i == 0 ? -512 : i == 255 ? 1023 : start - 60 + i);
            check("ramp");
        }
    }
    // ...and every pair once, 64 to a macroblock.
    for (int pair = 0; pair < 65536; pair += 64) {
        for (int k = 0; k < 64; ++k) {
            d.cb16[k] = int16_t((pair + k) >> 8);
            d.cr16[k] = int16_t((pair + k) & 255);
        }
        for (int i = 0; i < 256; ++i) d.luma16[i] = int16_t((pair / 64 + i * 37) % 180 - 30);
        check("pairs");
    }
}

TEST(SchlColour, TableDrivenMacroblockMatchesThePixelRule) {
    std::mt19937 rng(8);
    for (int trial = 0; trial < 400; ++trial) {
        schl_picture_decoder d{};
        int spread = trial % 2 ? 140 : 4000;
        for (auto& v : d.luma) v = int32_t(rng() % spread) - spread / 10;
        for (auto& v : d.cb) v = int32_t(rng() % spread) - spread / 10;
        for (auto& v : d.cr) v = int32_t(rng() % spread) - spread / 10;
        if (trial % 7 == 0) d.luma[rng() % 256] = int32_t(rng());
        // The fast path's samples: clamped to ranges that change no pixel.
        for (int i = 0; i < 256; ++i)
            d.luma16[i] = int16_t(std::clamp<int32_t>(d.luma[i], schl_luma_low, schl_luma_high));
        for (int i = 0; i < 64; ++i) {
            d.cb16[i] = int16_t(std::clamp<int32_t>(d.cb[i], schl_chroma_low, schl_chroma_high));
            d.cr16[i] = int16_t(std::clamp<int32_t>(d.cr[i], schl_chroma_low, schl_chroma_high));
        }
        const bool doubled = trial % 3 == 0;
        const int w = doubled ? 96 : 48, h = doubled ? 64 : 32;
        std::vector<uint16_t> a(w * h, 7), b(w * h, 7), c(w * h, 7);
        convert_schl_macroblock(d, doubled, w, 1, 1, a.data());
        convert_schl_macroblock_plain(d, doubled, w, 1, 1, b.data());
        d.no_vectors = true;
        convert_schl_macroblock(d, doubled, w, 1, 1, c.data());
        ASSERT_EQ(a, b) << trial;
        ASSERT_EQ(c, b) << trial;
        // Spot check one pixel against the rule.
        int y = 16 + 5, x = 16 + 9;
        uint16_t expected = schl_pixel(d.luma[5 * 16 + 9], d.cb[2 * 8 + 4], d.cr[2 * 8 + 4]);
        EXPECT_EQ(b[doubled ? 2 * y * w + 2 * x : y * w + x], expected);
    }
}

} // namespace
