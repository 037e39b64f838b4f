#include "formats/riff/riff.h"
#include "riff_writer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace {

std::vector<int16_t> decode(const std::vector<uint8_t>& block) {
    std::vector<uint8_t> out(2 * block.size() + 8, 0xAA);
    decode_riff_sound(block.data(), out.data(), int32_t(block.size()));
    size_t bytes = block.size() >= 4 ? 2 * block.size() - 4 : 0;
    for (size_t i = bytes; i < out.size(); ++i) EXPECT_EQ(out[i], 0xAA) << "wrote past " << bytes;
    std::vector<int16_t> samples(bytes / 2);
    for (size_t i = 0; i < samples.size(); ++i)
        samples[i] = int16_t(out[2 * i] | out[2 * i + 1] << 8);
    return samples;
}

// Header samples, then left/right code bytes.
std::vector<uint8_t> block(int16_t left, int16_t right, std::vector<uint8_t> codes) {
    std::vector<uint8_t> b = {uint8_t(left), uint8_t(uint16_t(left) >> 8), uint8_t(right),
                              uint8_t(uint16_t(right) >> 8)};
    b.insert(b.end(), codes.begin(), codes.end());
    return b;
}

TEST(RiffSound, HeaderSamplesComeFirstAndZeroCodesRepeatThem) {
    EXPECT_EQ(decode({0x10, 0x00, 0xF6, 0xFF}), (std::vector<int16_t>{16, -10}));
    EXPECT_EQ(decode({0x10, 0x00, 0xF6, 0xFF, 0x00, 0x00}),
              (std::vector<int16_t>{16, -10, 16, -10}));
    EXPECT_TRUE(decode({0x10, 0x00, 0xF6}).empty());
}

TEST(RiffSound, ShiftAdjustmentsApplyBeforeTheDifference) {
    // Left channel only; the right codes are 0 and leave the right alone.
    auto left = [](std::vector<uint8_t> codes) {
        std::vector<uint8_t> interleaved;
        for (uint8_t c : codes) interleaved.insert(interleaved.end(), {c, 0});
        std::vector<int16_t> s = decode(block(0, 0, interleaved));
        std::vector<int16_t> l;
        for (size_t i = 2; i < s.size(); i += 2) {
            l.push_back(s[i]);
            EXPECT_EQ(s[i + 1], 0);
        }
        return l;
    };
    EXPECT_EQ(left({0x04}), (std::vector<int16_t>{64}));    // 1024 >> 4
    EXPECT_EQ(left({0x80}), (std::vector<int16_t>{-2048})); // -32768 >> 4
    EXPECT_EQ(left({0x07}), (std::vector<int16_t>{32}));    // shift 5 first
    // 0x06: shift 4 - 4 = 0, so the next 0x04 adds 1024 whole.
    EXPECT_EQ(left({0x06, 0x04}), (std::vector<int16_t>{1024, 2048}));
    // 0x05 lowers by 2; the shift never goes below 0.
    EXPECT_EQ(left({0x05, 0x05, 0x05, 0x04}), (std::vector<int16_t>{256, 1280, 2304, 3328}));
    // From shift 15 on only the sign is left.
    std::vector<uint8_t> up(11, 0x03);
    up.insert(up.end(), {0x7F, 0x83});
    std::vector<int16_t> l = left(up);
    EXPECT_EQ(l[10], 0);
    EXPECT_EQ(l[11], 0);  // 31744 >> 16
    EXPECT_EQ(l[12], -1); // -32768 >> 17
}

TEST(RiffSound, PredictorWrapsWithoutClamping) {
    // 0x02 takes the shift from 4 to 0, then 0x7C adds 31744 to 28672.
    std::vector<int16_t> s = decode(block(0x7000, 0, {0x02, 0x00, 0x7C, 0x00}));
    EXPECT_EQ(s, (std::vector<int16_t>{0x7000, 0, 0x7000, 0, -5120, 0}));
}

TEST(RiffSound, ChannelsKeepTheirOwnShiftAndPredictor) {
    // Four left bytes 0x03 raise the left shift to 8; the right keeps 4.
    std::vector<int16_t> s =
        decode(block(100, -100, {0x03, 0x04, 0x03, 0x04, 0x03, 0x04, 0x07, 0x04}));
    ASSERT_EQ(s.size(), 10u);
    EXPECT_EQ(s[8], 100 + (1024 >> 8));
    EXPECT_EQ(s[3], -100 + 64);
    EXPECT_EQ(s[9], -100 + 4 * 64);
}

// The writer's coder against the decoder: tones of any loudness come back close.
TEST(RiffSound, CoderFollowsQuietAndLoudTones) {
    for (double amplitude : {40.0, 3000.0, 30000.0}) {
        const int frames = 1470;
        std::vector<int16_t> pcm(2 * frames);
        for (int i = 0; i < frames; ++i) {
            pcm[2 * i] = int16_t(amplitude * std::sin(i * 0.125));
            pcm[2 * i + 1] = int16_t(amplitude * 0.5 * std::sin(i * 0.031 + 1));
        }
        std::vector<uint8_t> b = encode_riff_sound(pcm.data(), frames);
        ASSERT_EQ(b.size(), size_t(2 * frames + 2));
        std::vector<int16_t> back = decode(b);
        ASSERT_EQ(back.size(), pcm.size());
        double error = 0;
        for (size_t i = 0; i < pcm.size(); ++i) error += std::pow(back[i] - pcm[i], 2);
        double rms = std::sqrt(error / double(pcm.size()));
        EXPECT_LT(rms, amplitude * 0.02 + 2) << "amplitude " << amplitude;
    }
}

} // namespace
