#include "formats/schl/schl_internal.h"
#include "schl_writer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <set>
#include <string>
#include <vector>

namespace {

struct code_string {
    std::string bits;
    uint32_t entry;
};

std::string bit_text(uint32_t bits, int length) {
    std::string s;
    for (int i = length - 1; i >= 0; --i) s += char('0' + ((bits >> i) & 1));
    return s;
}

std::vector<code_string> all_ac_codes() {
    std::vector<code_string> v;
    for (const schl_ac_code& c : schl_ac_codes)
        v.push_back(
            {bit_text(c.bits, c.length), schl_ac_entry(schl_ac_pair, c.length, c.run, c.level)});
    v.push_back({"10", schl_ac_entry(schl_ac_end, 2, 0, 0)});
    v.push_back({"000001", schl_ac_entry(schl_ac_escape, 6, 0, 0)});
    return v;
}

TEST(SchlCodes, AcCodesFormAPrefixCodeCompleteBarTwelveZeros) {
    auto codes = all_ac_codes();
    ASSERT_EQ(codes.size(), 113u);
    std::set<std::pair<int, int>> pairs;
    double kraft = 0;
    for (size_t i = 0; i < codes.size(); ++i) {
        kraft += std::ldexp(1.0, -int(codes[i].bits.size()));
        for (size_t j = 0; j < codes.size(); ++j)
            if (i != j) {
                EXPECT_NE(codes[j].bits.rfind(codes[i].bits, 0), 0u) << codes[i].bits;
            }
        if (schl_ac_kind(codes[i].entry) == schl_ac_pair) {
            EXPECT_TRUE(
                pairs.insert({schl_ac_run(codes[i].entry), schl_ac_level(codes[i].entry)}).second);
            EXPECT_LE(codes[i].bits.size(), 16u);
        }
    }
    // Everything but the windows with twelve leading zeros is covered.
    EXPECT_DOUBLE_EQ(kraft, 1.0 - std::ldexp(1.0, -12));
    // Run 0 reaches level 40, run 1 level 18, and each run's levels have no gaps.
    for (int run = 0; run < 32; ++run) {
        int top = 0;
        while (pairs.count({run, top + 1})) ++top;
        for (int level = top + 1; level <= 40; ++level) EXPECT_FALSE(pairs.count({run, level}));
        EXPECT_GE(top, 1) << run;
    }
    EXPECT_TRUE(pairs.count({0, 40}));
    EXPECT_TRUE(pairs.count({1, 18}));
    EXPECT_TRUE(pairs.count({31, 1}));
}

TEST(SchlCodes, BothLookupsDecodeEveryWindowAsTheCodeAtItsFront) {
    auto codes = all_ac_codes();
    for (uint32_t w = 0; w < 0x10000; ++w) {
        std::string text = bit_text(w, 16);
        uint32_t expected = schl_ac_entry(schl_ac_none, 0, 0, 0);
        for (const code_string& c : codes)
            if (text.rfind(c.bits, 0) == 0) expected = c.entry;
        ASSERT_EQ(schl_ac_lookup_ranges(w), expected) << text;
        ASSERT_EQ(schl_ac_lookup(w), expected) << text;
    }
    EXPECT_EQ(schl_ac_lookup(0b1100000000000000), schl_ac_entry(schl_ac_pair, 2, 0, 1));
    EXPECT_EQ(schl_ac_lookup(0b0110000000000000), schl_ac_entry(schl_ac_pair, 3, 1, 1));
    EXPECT_EQ(schl_ac_lookup(0b0101000000000000), schl_ac_entry(schl_ac_pair, 4, 2, 1));
    EXPECT_EQ(schl_ac_lookup(0b0010100000000000), schl_ac_entry(schl_ac_pair, 5, 0, 3));
}

TEST(SchlCodes, DcSizeCodes) {
    // Luma: 100 0, 00 1, 01 2, 101 3, 110 4, 1110 5 ... 1111110 8, 1111111 no bits.
    struct row {
        const char* bits;
        int size;
    };
    const row luma[] = {{"100", 0},  {"00", 1},    {"01", 2},     {"101", 3},    {"110", 4},
                        {"1110", 5}, {"11110", 6}, {"111110", 7}, {"1111110", 8}};
    const row chroma[] = {{"00", 0},    {"01", 1},     {"10", 2},      {"110", 3},     {"1110", 4},
                          {"11110", 5}, {"111110", 6}, {"1111110", 7}, {"11111110", 8}};
    for (const row& r : luma) {
        std::string bits = r.bits;
        uint32_t w = std::stoul(bits + std::string(7 - bits.size(), '0'), nullptr, 2);
        for (uint32_t tail = 0; tail < (1u << (7 - bits.size())); ++tail) {
            EXPECT_EQ(schl_dc_luma_sizes[w | tail] & 0xFF, r.size) << bits;
            EXPECT_EQ(schl_dc_luma_sizes[w | tail] >> 8, bits.size()) << bits;
        }
    }
    for (const row& r : chroma) {
        std::string bits = r.bits;
        uint32_t w = std::stoul(bits + std::string(8 - bits.size(), '0'), nullptr, 2);
        for (uint32_t tail = 0; tail < (1u << (8 - bits.size())); ++tail) {
            EXPECT_EQ(schl_dc_chroma_sizes[w | tail] & 0xFF, r.size) << bits;
            EXPECT_EQ(schl_dc_chroma_sizes[w | tail] >> 8, bits.size()) << bits;
        }
    }
    EXPECT_EQ(schl_dc_luma_sizes[127], 0);
    EXPECT_EQ(schl_dc_chroma_sizes[255], 0);
}

TEST(SchlCodes, ScanIsTheTransposedZigzag) {
    const int first[] = {0, 8, 1, 2, 9, 16, 24, 17, 10, 3, 4, 11, 18, 25, 32, 40};
    for (int i = 0; i < 16; ++i) EXPECT_EQ(schl_scan[i], first[i]);
    // Walk the zigzag: along anti-diagonals, alternating direction.
    std::vector<int> zigzag;
    for (int s = 0; s < 15; ++s) {
        for (int k = 0; k <= s; ++k) {
            int v = s % 2 ? k : s - k, h = s - v;
            if (v < 8 && h < 8) zigzag.push_back(8 * h + v);
        }
    }
    ASSERT_EQ(zigzag.size(), 64u);
    for (int i = 0; i < 64; ++i) EXPECT_EQ(schl_scan[i], zigzag[i]) << i;
}

TEST(SchlCodes, DequantisationFoldsTheTransformScale) {
    auto s = [](int k) { return k == 0 ? 1.0 : std::sqrt(2.0) * std::cos(k * M_PI / 16); };
    for (int a = 0; a < 8; ++a)
        for (int b = 0; b < 8; ++b)
            EXPECT_EQ(schl_dequant[8 * a + b], 8 * std::lround(8192 / (s(a) * s(b)))) << a << b;
    EXPECT_EQ(schl_dequant[0], 65536);
    EXPECT_EQ(schl_dequant[1], 47248);
    EXPECT_EQ(schl_dequant[8 * 6 + 6], 223752);
    EXPECT_EQ(schl_dequant[63], 860952);
}

TEST(SchlBits, WordsAreLittleEndianAndReadFromTheTop) {
    schl_picture_decoder d{};
    const uint8_t bytes[] = {0x00, 0x00, 0x00, 0x80, 0x34, 0x12, 0xCD, 0xAB, 0x01};
    d.coded = bytes;
    d.coded_bytes = sizeof bytes;
    d.position = 0;
    EXPECT_EQ(schl_peek_bits(d, 1), 1u);
    EXPECT_EQ(schl_peek_bits(d, 32), 0x80000000u);
    d.position = 1;
    EXPECT_EQ(schl_peek_bits(d, 31), 0u);
    d.position = 32;
    EXPECT_EQ(schl_peek_bits(d, 16), 0xABCDu);
    d.position = 28;
    EXPECT_EQ(schl_peek_bits(d, 12), 0x0ABu);
    // The ninth byte is a partial word; everything after it reads as 0.
    d.position = 64;
    EXPECT_EQ(schl_peek_bits(d, 32), 0x00000001u);
    d.position = 96;
    EXPECT_EQ(schl_peek_bits(d, 17), 0u);
    d.position = 1u << 30;
    EXPECT_EQ(schl_peek_bits(d, 17), 0u);
}

// Decodes one block from bits; returns the bits consumed.
uint32_t decode_one_block(schl_bit_writer& w, int32_t dc, schl_picture_decoder& d) {
    static std::vector<uint8_t> bytes;
    bytes = w.bytes();
    d = {};
    d.coded = bytes.data();
    d.coded_bytes = int32_t(bytes.size());
    decode_schl_block(d, dc);
    return d.position;
}

TEST(SchlBlock, RunsLevelsSignsAndEscapes) {
    schl_picture_decoder d;
    schl_bit_writer w;
    w.put(0b11, 2), w.put(1, 1);     // run 0 level -1: scan 1
    w.put(0b0101, 4), w.put(0, 1);   // run 2 level 2... (0101 = run 2 level 1)
    w.put(0b000001, 6), w.put(5, 6); // escape: run 5
    w.put(0x80, 8), w.put(0x01, 8);  //   level -255
    w.put(0b000001, 6), w.put(0, 6); // escape: run 0
    w.put(0x00, 8), w.put(0xC8, 8);  //   level 200
    w.put(0b000001, 6), w.put(1, 6); // escape: run 1
    w.put(0x81, 8);                  //   level -127
    w.put(0b10, 2);                  // end of block
    w.put(0b111, 3);                 // not part of the block
    EXPECT_EQ(decode_one_block(w, -3, d), 3 + 5 + 28 + 28 + 20 + 2u);
    EXPECT_EQ(d.block[0], -3 * 65536);
    int32_t expected[64] = {};
    expected[0] = -3 * 65536;
    auto put = [&](int i, int level) {
        expected[schl_scan[i]] = schl_dequant[schl_scan[i]] * level;
    };
    put(1, -1);
    put(4, 1);
    put(10, -255);
    put(11, 200);
    put(13, -127);
    for (int i = 0; i < 64; ++i) EXPECT_EQ(d.block[i], expected[i]) << i;
}

TEST(SchlBlock, TwelveZerosEndTheBlockWithoutConsumingThem) {
    schl_picture_decoder d;
    schl_bit_writer w;
    w.put(0b0100, 4), w.put(0, 1); // run 0 level 2
    w.put(0, 12);
    w.put(0b1111, 4);
    EXPECT_EQ(decode_one_block(w, 0, d), 5u);
    EXPECT_EQ(d.block[schl_scan[1]], 2 * schl_dequant[schl_scan[1]]);
}

TEST(SchlBlock, ScanIndexPastTheEndEndsTheBlock) {
    schl_picture_decoder d;
    schl_bit_writer w;
    for (int i = 0; i < 2; ++i) w.put(0b000001, 6), w.put(40, 6), w.put(3, 8); // i = 41, then 82
    w.put(0b11, 2), w.put(0, 1);
    EXPECT_EQ(decode_one_block(w, 1, d), 40u);
    int nonzero = 0;
    for (int i = 1; i < 64; ++i) nonzero += d.block[i] != 0;
    EXPECT_EQ(nonzero, 1);
    EXPECT_EQ(d.block[schl_scan[41]], 3 * schl_dequant[schl_scan[41]]);
}

TEST(SchlBlock, WriterCodesEveryLevelBackExactly) {
    std::mt19937 rng(5);
    for (int trial = 0; trial < 2000; ++trial) {
        int32_t levels[64] = {};
        int count = int(rng() % 20);
        for (int k = 0; k < count; ++k) {
            int i = 1 + int(rng() % 63);
            int magnitude = rng() % 4 ? 1 + int(rng() % 8) : 1 + int(rng() % 255);
            levels[i] = rng() % 2 ? magnitude : -magnitude;
        }
        schl_bit_writer w;
        put_schl_ac_levels(w, levels);
        schl_picture_decoder d;
        ASSERT_EQ(decode_one_block(w, 7, d), w.count);
        for (int i = 1; i < 64; ++i)
            ASSERT_EQ(d.block[schl_scan[i]], schl_dequant[schl_scan[i]] * levels[i]) << trial;
    }
}

// A 16 x 16 picture of six blocks that are only a DC difference each.
std::vector<uint8_t> flat_macroblock(const int32_t (&diffs)[6]) {
    schl_bit_writer w;
    for (int b = 0; b < 6; ++b) {
        put_schl_dc_difference(w, b < 4, diffs[b]);
        w.put(0b10, 2);
    }
    return w.bytes();
}

TEST(SchlPicture, DcDifferencesAccumulatePerComponent) {
    auto bytes = flat_macroblock({200, -10, 0, 255, 128, -255});
    schl_picture_decoder d{};
    d.plain = true; // the reference path keeps the samples whole
    std::vector<uint16_t> frame(16 * 16);
    decode_schl_picture_with(d, false, 16, 16, bytes.data(), int32_t(bytes.size()), frame.data());
    EXPECT_EQ(d.luma[0], 100);
    EXPECT_EQ(d.luma[7 * 16 + 7], 100);
    EXPECT_EQ(d.luma[8], 95); // 190 / 2
    EXPECT_EQ(d.luma[8 * 16], 95);
    EXPECT_EQ(d.luma[255], 222); // 445 / 2
    EXPECT_EQ(d.cb[0], 64);
    EXPECT_EQ(d.cr[63], -128);
    EXPECT_EQ(d.predictor[0], 445);
    // Each pixel is the conversion of its samples.
    EXPECT_EQ(frame[0], schl_pixel(100, 64, -128));
}

TEST(SchlPicture, DcSizeEightExtremesAndTheNoBitsCode) {
    // Luma size 8 with 00000000 is -255, with 10000000 is +128.
    for (auto [bits, value] : {std::pair{0u, -255}, std::pair{0x80u, 128}}) {
        schl_bit_writer w;
        w.put(0b1111110, 7), w.put(bits, 8), w.put(0b10, 2);
        schl_picture_decoder d{};
        d.plain = true;
        auto bytes = w.bytes();
        d.coded = bytes.data();
        d.coded_bytes = int32_t(bytes.size());
        std::vector<uint16_t> frame(256);
        decode_schl_picture_with(d, false, 16, 16, bytes.data(), int32_t(bytes.size()),
                                 frame.data());
        EXPECT_EQ(d.luma[0], value >> 1);
    }
    // 1111111 consumes nothing: the block's AC codes start at it. "11"+"1",
    // "11"+"1" and "11"+"0" are run 0 levels -1, -1 and +1; then "10" ends it.
    schl_bit_writer w;
    w.put(0b1111111, 7), w.put(0b10, 2), w.put(0b10, 2);
    for (int b = 1; b < 6; ++b) w.put(b < 4 ? 0b100 : 0b00, b < 4 ? 3 : 2), w.put(0b10, 2);
    auto bytes = w.bytes();
    schl_picture_decoder d{};
    d.plain = true;
    std::vector<uint16_t> frame(256);
    decode_schl_picture_with(d, false, 16, 16, bytes.data(), int32_t(bytes.size()), frame.data());
    EXPECT_EQ(d.position, w.count);
    EXPECT_EQ(d.predictor[0], 0);
    int32_t block[64] = {};
    block[schl_scan[1]] = -schl_dequant[schl_scan[1]];
    block[schl_scan[2]] = -schl_dequant[schl_scan[2]];
    block[schl_scan[3]] = schl_dequant[schl_scan[3]];
    int32_t samples[8 * 16];
    schl_inverse_transform_plain(block, samples, 16);
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x) EXPECT_EQ(d.luma[y * 16 + x], samples[y * 16 + x]);
}

TEST(SchlPicture, SmallerThanOneMacroblockDrawsNothing) {
    auto bytes = flat_macroblock({200, 0, 0, 0, 0, 0});
    for (auto [w, h] : {std::pair{15, 16}, std::pair{16, 15}, std::pair{0, 0}}) {
        std::vector<uint16_t> frame(16 * 16, 0x1234);
        schl_picture_decoder d{};
        decode_schl_picture_with(d, false, w, h, bytes.data(), int32_t(bytes.size()), frame.data());
        for (uint16_t p : frame) EXPECT_EQ(p, 0x1234);
    }
}

TEST(SchlPicture, DoubledOutputFillsEvenRowsTwiceAndLeavesOddRows) {
    std::mt19937 rng(11);
    std::vector<uint8_t> bytes(4000);
    for (auto& b : bytes) b = uint8_t(rng());
    std::vector<uint16_t> plain(16 * 16), doubled(32 * 32, 0xBEEF);
    schl_picture_decoder d{};
    decode_schl_picture_with(d, false, 16, 16, bytes.data(), int32_t(bytes.size()), plain.data());
    for (bool reference : {false, true}) {
        std::fill(doubled.begin(), doubled.end(), 0xBEEF);
        d = {};
        d.plain = reference;
        decode_schl_picture_with(d, true, 32, 32, bytes.data(), int32_t(bytes.size()),
                                 doubled.data());
        for (int y = 0; y < 32; ++y)
            for (int x = 0; x < 32; ++x)
                ASSERT_EQ(doubled[y * 32 + x], y % 2 ? 0xBEEF : plain[(y / 2) * 16 + x / 2])
                    << y << x;
    }
}

TEST(SchlPicture, FastPathsMatchTheReferenceOnRandomInput) {
    std::mt19937 rng(3);
    for (int trial = 0; trial < 300; ++trial) {
        std::vector<uint8_t> bytes(1 + rng() % 3000);
        // Mostly valid-looking streams from the writer, some pure noise.
        if (trial % 3) {
            for (auto& b : bytes) b = uint8_t(rng());
        } else {
            schl_planes p;
            p.width = 32;
            p.height = 32;
            p.y.resize(32 * 32);
            p.cb.resize(16 * 16);
            p.cr.resize(16 * 16);
            for (auto& v : p.y) v = int32_t(rng() % 140) - 10;
            for (auto& v : p.cb) v = int32_t(rng() % 140) - 6;
            for (auto& v : p.cr) v = int32_t(rng() % 140) - 6;
            bytes = encode_schl_picture(p);
        }
        int w = 16 * int(1 + rng() % 3), h = 16 * int(1 + rng() % 3);
        bool twice = rng() % 2;
        if (twice) w *= 2, h *= 2;
        std::vector<uint16_t> a(size_t(w) * h), b(size_t(w) * h);
        schl_picture_decoder fast{}, plain{};
        plain.plain = true;
        fast.no_vectors = trial % 4 == 1;
        decode_schl_picture_with(fast, twice, w, h, bytes.data(), int32_t(bytes.size()), a.data());
        decode_schl_picture_with(plain, twice, w, h, bytes.data(), int32_t(bytes.size()), b.data());
        ASSERT_EQ(a, b) << trial;
        ASSERT_EQ(fast.position, plain.position);
    }
}

} // namespace
