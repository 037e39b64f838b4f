#include "formats/schl/schl.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

std::vector<int16_t> samples_of(const std::vector<uint8_t>& bytes) {
    std::vector<int16_t> s(bytes.size() / 2);
    for (size_t i = 0; i < s.size(); ++i) s[i] = int16_t(bytes[2 * i] | bytes[2 * i + 1] << 8);
    return s;
}

// One mono block: coefficient index, shift, 28 residual nibbles.
std::vector<uint8_t> mono_block(int index, int shift, const std::vector<int>& residuals) {
    std::vector<uint8_t> b(15, 0);
    b[0] = uint8_t(index << 4 | shift);
    for (int i = 0; i < 28 && i < int(residuals.size()); ++i)
        b[1 + i / 2] |= uint8_t((residuals[i] & 15) << (i % 2 ? 0 : 4));
    return b;
}

std::vector<int16_t> decode_mono(uint32_t seed, const std::vector<uint8_t>& coded) {
    schl_sound_decoder d{};
    seed_schl_sound_with(d, seed, 0);
    std::vector<uint8_t> out(coded.size() / 15 * 56 + 8, 0xEE);
    decode_schl_mono_with(d, coded.data(), out.data(), int32_t(coded.size()));
    // The bytes after the decoded ones are untouched.
    for (size_t i = coded.size() / 15 * 56; i < out.size(); ++i) EXPECT_EQ(out[i], 0xEE);
    out.resize(coded.size() / 15 * 56);
    return samples_of(out);
}

uint32_t seed_word(int16_t last, int16_t before) {
    return uint32_t(uint16_t(last)) | uint32_t(uint16_t(before)) << 16;
}

TEST(SchlSound, ZeroResidualsWithIndexZeroGiveSilenceWhateverTheHistory) {
    for (int shift : {0, 7, 15}) {
        auto s = decode_mono(seed_word(12345, -20000), mono_block(0, shift, {}));
        ASSERT_EQ(s.size(), 28u);
        for (int16_t v : s) EXPECT_EQ(v, 0);
    }
}

TEST(SchlSound, HistoryDecaysWithTheFirstCoefficientPair) {
    auto s = decode_mono(seed_word(1000, 0), mono_block(1, 12, {}));
    EXPECT_EQ(s[0], 938);
    EXPECT_EQ(s[1], 879);
    int32_t h = 1000;
    for (int16_t v : s) {
        h = (240 * h + 128) >> 8;
        EXPECT_EQ(v, h);
    }
}

TEST(SchlSound, ResidualScaleAndClamping) {
    EXPECT_EQ(decode_mono(0, mono_block(0, 0, {7}))[0], 28672);
    EXPECT_EQ(decode_mono(seed_word(30000, 0), mono_block(1, 0, {7}))[0], 32767);
    EXPECT_EQ(decode_mono(0, mono_block(0, 0, {-8}))[0], -32768);
    EXPECT_EQ(decode_mono(seed_word(-30000, 0), mono_block(1, 0, {-8}))[0], -32768);
    // Each step of the shift halves the residual's weight, down to 2^-3 at 15
    // (which the +128 rounding then swallows for small residuals).
    for (int shift = 0; shift <= 15; ++shift) {
        int32_t expected = ((3 << (20 - shift)) + 128) >> 8;
        EXPECT_EQ(decode_mono(0, mono_block(0, shift, {3}))[0], expected) << shift;
    }
    // The clamped value, not the sum, becomes the history.
    auto s = decode_mono(seed_word(30000, 0), mono_block(1, 0, {7, 0}));
    EXPECT_EQ(s[1], (240 * 32767 + 128) >> 8);
}

TEST(SchlSound, SecondCoefficientUsesTheSampleBeforeTheLast) {
    auto s = decode_mono(seed_word(100, -50), mono_block(2, 12, {}));
    int32_t h1 = 100, h2 = -50;
    for (int16_t v : s) {
        int32_t y = (460 * h1 - 208 * h2 + 128) >> 8;
        EXPECT_EQ(v, y);
        h2 = h1;
        h1 = y;
    }
}

TEST(SchlSound, UnknownCoefficientIndicesActAsIndexZero) {
    auto a = decode_mono(seed_word(5000, 3000), mono_block(0, 4, {1, -2, 3, -4, 5}));
    for (int index = 4; index < 16; ++index)
        EXPECT_EQ(decode_mono(seed_word(5000, 3000), mono_block(index, 4, {1, -2, 3, -4, 5})), a);
}

TEST(SchlSound, HistoryRunsOnAcrossBlocksOfOneCall) {
    auto coded = mono_block(0, 0, {1});
    auto second = mono_block(1, 12, {});
    coded.insert(coded.end(), second.begin(), second.end());
    auto s = decode_mono(0, coded);
    ASSERT_EQ(s.size(), 56u);
    EXPECT_EQ(s[28], (240 * s[27] + 128) >> 8);
}

TEST(SchlSound, SeedWordsAreSignedHalves) {
    schl_sound_decoder d{};
    seed_schl_sound_with(d, seed_word(-16, 16), seed_word(32767, -32768));
    EXPECT_EQ(d.h1[0], -16);
    EXPECT_EQ(d.h2[0], 16);
    EXPECT_EQ(d.h1[1], 32767);
    EXPECT_EQ(d.h2[1], -32768);
}

TEST(SchlSound, LengthZeroOrNegativeWritesNothing) {
    schl_sound_decoder d{};
    uint8_t coded[30] = {0x11, 0x00};
    uint8_t out[4] = {1, 2, 3, 4};
    decode_schl_mono_with(d, coded, out, 0);
    decode_schl_stereo_with(d, coded, out, 0);
    decode_schl_stereo_with(d, coded, out, -30);
    EXPECT_EQ(out[0], 1);
    EXPECT_EQ(out[3], 4);
}

TEST(SchlSound, StereoInterleavesTwoIndependentChannels) {
    std::vector<uint8_t> coded(30, 0);
    coded[0] = 0x10; // left decays, right uses index 0
    coded[1] = 0xC0; // left shift 12, right shift 0
    coded[2] = 0x07; // first pair: left residual 0, right residual 7
    schl_sound_decoder d{};
    seed_schl_sound_with(d, seed_word(1000, 0), seed_word(-5, 9));
    std::vector<uint8_t> out(112);
    decode_schl_stereo_with(d, coded.data(), out.data(), 30);
    auto s = samples_of(out);
    EXPECT_EQ(s[0], 938);
    EXPECT_EQ(s[1], 28672);
    EXPECT_EQ(s[2], 879);
    EXPECT_EQ(s[3], 0);
    EXPECT_EQ(d.h1[1], 0);
}

TEST(SchlSound, PlayerEntriesUseOneSharedHistory) {
    seed_schl_sound(seed_word(1000, 0), 0);
    auto coded = mono_block(1, 12, {});
    uint8_t out[56];
    decode_schl_mono(coded.data(), out, 15);
    EXPECT_EQ(int16_t(out[0] | out[1] << 8), 938);
    // Without a new seed the history carries on from the last block.
    decode_schl_mono(coded.data(), out, 15);
    EXPECT_LT(int16_t(out[0] | out[1] << 8), 938);
}

} // namespace
