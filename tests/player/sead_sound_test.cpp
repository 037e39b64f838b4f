#include "formats/sead/sead.h"

#include <gtest/gtest.h>
#include <random>
#include <vector>

namespace {

std::vector<int16_t> decode(sead_sound_state& s, const std::vector<uint8_t>& in) {
    std::vector<uint8_t> out(4 * in.size());
    EXPECT_EQ(decode_sead_sound_with(s, in.data(), out.data(), int32_t(in.size())),
              int32_t(in.size()));
    std::vector<int16_t> samples(2 * in.size());
    for (size_t i = 0; i < samples.size(); ++i)
        samples[i] = int16_t(out[2 * i] | out[2 * i + 1] << 8);
    return samples;
}

// Textbook IMA ADPCM, one channel, written from the step-size table and the
// index table rather than from a delta table.
struct ima_channel {
    int index = 0;
    int sample = 0;
    int next(int code) {
        static const int steps[89] = {
            7,     8,     9,     10,    11,    12,    13,    14,    16,    17,    19,    21,
            23,    25,    28,    31,    34,    37,    41,    45,    50,    55,    60,    66,
            73,    80,    88,    97,    107,   118,   130,   143,   157,   173,   190,   209,
            230,   253,   279,   307,   337,   371,   408,   449,   494,   544,   598,   658,
            724,   796,   876,   963,   1060,  1166,  1282,  1411,  1552,  1707,  1878,  2066,
            2272,  2499,  2749,  3024,  3327,  3660,  4026,  4428,  4871,  5358,  5894,  6484,
            7132,  7845,  8630,  9493,  10442, 11487, 12635, 13899, 15289, 16818, 18500, 20350,
            22385, 24623, 27086, 29794, 32767};
        static const int index_change[8] = {-1, -1, -1, -1, 2, 4, 6, 8};
        int step = steps[index];
        int diff = step >> 3;
        if (code & 4) diff += step;
        if (code & 2) diff += step >> 1;
        if (code & 1) diff += step >> 2;
        sample += (code & 8) ? -diff : diff;
        sample = sample < -32768 ? -32768 : sample > 32767 ? 32767 : sample;
        index += index_change[code & 7];
        index = index < 0 ? 0 : index > 88 ? 88 : index;
        return sample;
    }
};

TEST(SeadSound, WorkedSequenceFromTheStartState) {
    sead_sound_state s{};
    EXPECT_EQ(decode(s, {0x77, 0x77}), (std::vector<int16_t>{11, 11, 41, 41}));
    EXPECT_EQ(s.step[0], 1024);
    EXPECT_EQ(s.step[1], 1024);
    EXPECT_EQ(decode(s, {0x8F}), (std::vector<int16_t>{37, -22}));
    EXPECT_EQ(s.step[0], 960);
    EXPECT_EQ(s.step[1], 1536);
    EXPECT_EQ(s.predictor[0], 37);
    EXPECT_EQ(s.predictor[1], -22);

    sead_sound_state t{};
    EXPECT_EQ(decode(t, {0x7F}), (std::vector<int16_t>{11, -11}));
    sead_sound_state z{};
    EXPECT_EQ(decode(z, {0x00}), (std::vector<int16_t>{0, 0}));
    EXPECT_EQ(z.step[0], 0);
    EXPECT_EQ(z.step[1], 0);
}

TEST(SeadSound, DeltaRowsAtTheEndsOfTheStepTable) {
    const int row0[16] = {0, 1, 3, 4, 7, 8, 10, 11, 0, -1, -3, -4, -7, -8, -10, -11};
    for (int n = 0; n < 16; ++n) {
        sead_sound_state s{};
        EXPECT_EQ(decode(s, {uint8_t(n << 4 | n)})[0], row0[n]) << n;
    }
    for (int n = 0; n < 8; ++n) {
        sead_sound_state s{{64, 64}, {0, 0}};
        EXPECT_EQ(decode(s, {uint8_t(n << 4 | (n + 8))}),
                  (std::vector<int16_t>{int16_t(1 + 2 * n), int16_t(-(1 + 2 * n))}));
    }
    const int row88[4] = {4095, 12286, 20478, 28669};
    for (int n = 0; n < 4; ++n) {
        sead_sound_state s{{5632, 5632}, {0, 0}};
        EXPECT_EQ(decode(s, {uint8_t(n << 4 | (n + 8))}),
                  (std::vector<int16_t>{int16_t(row88[n]), int16_t(-row88[n])}));
    }
}

TEST(SeadSound, StepAndSampleSaturate) {
    sead_sound_state s{};
    auto up = decode(s, std::vector<uint8_t>(200, 0x7F));
    EXPECT_EQ(s.step[0], 5632);
    EXPECT_EQ(s.step[1], 5632);
    EXPECT_EQ(up[up.size() - 2], 32767);
    EXPECT_EQ(up[up.size() - 1], -32768);
    auto down = decode(s, std::vector<uint8_t>(200, 0x80));
    EXPECT_EQ(s.step[0], 0);
    EXPECT_EQ(s.step[1], 0);
    // Steps shrink back to the smallest size; both channels crawl back toward 0.
    EXPECT_LT(down[down.size() - 2], 32767);
    EXPECT_GT(down[down.size() - 1], -32768);
}

TEST(SeadSound, MatchesTextbookImaOnRandomStreamsAndRunsOnAcrossChunks) {
    std::mt19937 rng(7);
    std::vector<uint8_t> in(20000);
    for (auto& b : in) b = uint8_t(rng());
    // Bias part of the stream toward large codes so the clamps are reached.
    for (size_t i = 5000; i < 6000; ++i) in[i] = 0x77;
    ima_channel left, right;
    std::vector<int16_t> want;
    for (uint8_t b : in) {
        want.push_back(int16_t(left.next(b >> 4)));
        want.push_back(int16_t(right.next(b & 15)));
    }
    sead_sound_state whole{};
    EXPECT_EQ(decode(whole, in), want);

    sead_sound_state pieces{};
    std::vector<int16_t> got;
    for (size_t at = 0; at < in.size(); at += 1471) {
        std::vector<uint8_t> part(in.begin() + long(at),
                                  in.begin() + long(std::min(in.size(), at + 1471)));
        auto s = decode(pieces, part);
        got.insert(got.end(), s.begin(), s.end());
    }
    EXPECT_EQ(got, want);
}

TEST(SeadSound, WritesExactlyFourBytesPerInputByte) {
    sead_sound_state s{};
    std::vector<uint8_t> in(37, 0x3C);
    std::vector<uint8_t> out(4 * in.size() + 16, 0xEE);
    decode_sead_sound_with(s, in.data(), out.data(), int32_t(in.size()));
    for (size_t i = 4 * in.size(); i < out.size(); ++i) EXPECT_EQ(out[i], 0xEE);
    sead_sound_state e{};
    EXPECT_EQ(decode_sead_sound_with(e, in.data(), out.data(), 0), 0);
    EXPECT_EQ(e.step[0], 0);
}

} // namespace
