#include "formats/sead/sead.h"
#include "sead_writer.h"

#include "bytes.h"

#include <gtest/gtest.h>
#include <memory>
#include <vector>

namespace {

struct picture_fixture {
    std::unique_ptr<sead_picture_decoder> d = std::make_unique<sead_picture_decoder>();
    int32_t width, height;
    bool doubled;
    std::vector<uint8_t> out;
    picture_fixture(int32_t w, int32_t h, bool interlaced = false)
        : width(interlaced ? 2 * w : w), height(interlaced ? 2 * h : h), doubled(interlaced),
          out(size_t(width * height), 0xEE) {}
    bool decode(const std::vector<uint8_t>& body) {
        return decode_sead_picture_with(*d, doubled, width, height, body.data(),
                                        int32_t(body.size()), out.data());
    }
    std::vector<uint8_t> row(int r) const {
        return {out.begin() + r * width, out.begin() + (r + 1) * width};
    }
};

std::vector<uint8_t> bytes(std::initializer_list<int> v) {
    std::vector<uint8_t> out;
    for (int b : v) out.push_back(uint8_t(b));
    return out;
}

// The 16 x 4 frame: one zero vector, one literal block, one four-colour block.
std::vector<uint8_t> first_block_frame() {
    byte_builder b;
    b.raw(bytes({0x01, 0x00, 0x01, 0x00, 0x01, 0x00, 0x02, 0x00}));
    b.zeros(4).raw(bytes({0, 0, 0, 0}));
    for (int i = 0; i < 16; ++i) b.u8(0x10 + i);
    b.raw(bytes({0xA0, 0xA1, 0xA2, 0xA3, 0x1B, 0x1B, 0x1B, 0x1B}));
    b.raw(bytes({0x64, 0x00, 0x00, 0x00}));
    return b.bytes;
}

// Its continuation: vector (-4, 0) and a literal block of 0x55.
std::vector<uint8_t> second_block_frame() {
    byte_builder b;
    b.raw(bytes({0x01, 0x00, 0x01, 0x00, 0x00, 0x00, 0x01, 0x00}));
    b.zeros(4).raw(bytes({0xFC, 0x03, 0x00, 0x00}));
    for (int i = 0; i < 16; ++i) b.u8(0x55);
    b.raw(bytes({0x01, 0x00, 0x00, 0x00}));
    return b.bytes;
}

TEST(SeadBlockFrame, WorkedSixteenByFourFrameAndItsContinuation) {
    picture_fixture f(16, 4);
    ASSERT_TRUE(f.decode(first_block_frame()));
    EXPECT_EQ(f.row(0), bytes({0, 0, 0, 0, 0x10, 0x11, 0x12, 0x13, 0xA0, 0xA1, 0xA2, 0xA3, 0x10,
                               0x11, 0x12, 0x13}));
    EXPECT_EQ(f.row(1), bytes({0, 0, 0, 0, 0x14, 0x15, 0x16, 0x17, 0xA0, 0xA1, 0xA2, 0xA3, 0x14,
                               0x15, 0x16, 0x17}));
    EXPECT_EQ(f.row(3), bytes({0, 0, 0, 0, 0x1C, 0x1D, 0x1E, 0x1F, 0xA0, 0xA1, 0xA2, 0xA3, 0x1C,
                               0x1D, 0x1E, 0x1F}));

    ASSERT_TRUE(f.decode(second_block_frame()));
    EXPECT_EQ(f.row(0), bytes({0x55, 0x55, 0x55, 0x55, 0, 0, 0, 0, 0x10, 0x11, 0x12, 0x13, 0xA0,
                               0xA1, 0xA2, 0xA3}));
    for (int r = 1; r < 4; ++r) {
        EXPECT_EQ(f.row(r)[0], 0x55);
        EXPECT_EQ(f.row(r)[4], 0);
        EXPECT_EQ(f.row(r)[8], 0x10 + 4 * r);
        EXPECT_EQ(f.row(r)[12], 0xA0);
    }
}

TEST(SeadBlockFrame, DoubledOutputOfTheWorkedFrames) {
    picture_fixture f(16, 4, true);
    ASSERT_TRUE(f.decode(first_block_frame()));
    ASSERT_TRUE(f.decode(second_block_frame()));
    std::vector<uint8_t> row0(8, 0x55);
    row0.resize(16, 0);
    for (int v : {0x10, 0x11, 0x12, 0x13, 0xA0, 0xA1, 0xA2, 0xA3})
        row0.insert(row0.end(), 2, uint8_t(v));
    EXPECT_EQ(f.row(0), row0);
    for (int r = 1; r < 8; r += 2) EXPECT_EQ(f.row(r), std::vector<uint8_t>(32, 0)) << r;
    std::vector<uint8_t> row2 = f.row(2);
    EXPECT_EQ(std::vector<uint8_t>(row2.begin(), row2.begin() + 16),
              std::vector<uint8_t>(row0.begin(), row0.begin() + 16));
    EXPECT_EQ(row2[16], 0x14);
    EXPECT_EQ(row2[17], 0x14);
    EXPECT_EQ(row2[18], 0x15);
    EXPECT_EQ(row2[19], 0x15);
}

TEST(SeadBlockFrame, FourColourMasksPickColoursFromTheTopLeftPixelDown) {
    // n = 0: codes index the block table directly.
    for (uint32_t mask : {0u, 3u, 0xC0000000u, 0x1B1B1B1Bu}) {
        picture_fixture f(16, 4);
        sead_block_frame bf;
        bf.four_colour_blocks.push_back({{7, 8, 9, 10}, mask});
        bf.codes = {0, 0, 0, 0};
        ASSERT_TRUE(f.decode(write_sead_block_frame(bf)));
        for (int q = 0; q < 16; ++q) {
            uint8_t want = uint8_t(7 + ((mask >> (30 - 2 * q)) & 3));
            EXPECT_EQ(f.out[size_t((q / 4) * 16 + q % 4)], want) << mask << " " << q;
        }
    }
    picture_fixture f(16, 4);
    sead_block_frame bf;
    bf.four_colour_blocks.push_back({{1, 2, 3, 4}, 3u});
    bf.codes = {0, 0, 0, 0};
    ASSERT_TRUE(f.decode(write_sead_block_frame(bf)));
    EXPECT_EQ(f.out[3 * 16 + 3], 4); // only the bottom-right pixel has colour 3
    EXPECT_EQ(f.out[3 * 16 + 2], 1);
    EXPECT_EQ(f.out[0], 1);
}

// An 8 x 8 picture of four distinct literal blocks, as a reference to copy from.
std::vector<uint8_t> numbered_blocks_8x8() {
    sead_block_frame bf;
    for (int i = 0; i < 4; ++i) {
        std::array<uint8_t, 16> b;
        for (int q = 0; q < 16; ++q) b[size_t(q)] = uint8_t(16 * i + q);
        bf.literal_blocks.push_back(b);
    }
    bf.codes = {0, 1, 2, 3};
    return write_sead_block_frame(bf);
}

TEST(SeadBlockFrame, VectorsAreLinearOffsetsWithoutClipping) {
    picture_fixture f(8, 8);
    ASSERT_TRUE(f.decode(numbered_blocks_8x8()));
    std::vector<uint8_t> before = f.out;
    // Vector (1, -1) for the bottom-right block: from one pixel right, one row
    // up; its right column runs past the edge into the next row.
    sead_block_frame bf;
    bf.vectors = {{0, 0}, {1, -1}};
    bf.codes = {0, 0, 0, 1};
    ASSERT_TRUE(f.decode(write_sead_block_frame(bf)));
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c)
            EXPECT_EQ(f.out[size_t((4 + r) * 8 + 4 + c)], before[size_t(36 - 7 + r * 8 + c)]);
    EXPECT_EQ(f.out[4 * 8 + 7], before[4 * 8]); // row 3's pixel 8 is row 4's pixel 0
    EXPECT_EQ(std::vector<uint8_t>(f.out.begin(), f.out.begin() + 32),
              std::vector<uint8_t>(before.begin(), before.begin() + 32));
}

TEST(SeadBlockFrame, TenBitVectorFieldsAreSigned) {
    // 528 x 4: the block at x = 512 copies from x = 0 with the vector (-512, 0).
    picture_fixture f(528, 4);
    sead_block_frame lit;
    std::array<uint8_t, 16> a;
    for (int q = 0; q < 16; ++q) a[size_t(q)] = uint8_t(q + 1);
    lit.literal_blocks = {a};
    lit.four_colour_blocks.push_back({{0, 0, 0, 0}, 0});
    lit.codes.assign(132, 1);
    lit.codes[0] = 0;
    ASSERT_TRUE(f.decode(write_sead_block_frame(lit)));
    // Raw vector fields: x 0x200 (-512), y 0; then x 0x3FF (-1), y 0.
    byte_builder b;
    b.le16(2).le16(0).le16(1).le16(2).zeros(4);
    b.le32(0x200 | 0x3FFu << 20).le32(0);
    b.zeros(8);                           // the four-colour block: all colour 0
    std::vector<uint8_t> codes(33, 0xAA); // every code 2: that four-colour block
    codes[0] = 0xA6;                      // block 1 takes code 1
    codes[32] = 0xA8;                     // block 128 takes code 0
    b.raw(codes);
    ASSERT_TRUE(f.decode(b.bytes));
    for (int r = 0; r < 4; ++r) {
        for (int c = 0; c < 4; ++c) EXPECT_EQ(f.out[size_t(r * 528 + 512 + c)], 4 * r + c + 1);
        EXPECT_EQ(f.out[size_t(r * 528 + 4)], 4 * r + 4);
        EXPECT_EQ(f.out[size_t(r * 528 + 5)], 0);
    }
    EXPECT_EQ(f.out[0], 0);
}

TEST(SeadBlockFrame, VectorSectionIsRoundedToWholeWords) {
    const int sizes[][2] = {{1, 4}, {2, 8}, {3, 8}, {4, 12}, {7, 20}};
    for (auto [n, section] : sizes) {
        picture_fixture f(16, 4);
        byte_builder b;
        b.le16(uint32_t(n)).le16(1).le16(0).le16(4).zeros(4);
        b.zeros(size_t(section));
        for (int q = 0; q < 16; ++q) b.u8(0x80 + q);
        uint32_t lit = uint32_t(n);
        b.u8(lit | lit << 4).u8(lit | lit << 4);
        ASSERT_TRUE(f.decode(b.bytes)) << n;
        EXPECT_EQ(f.out[0], 0x80) << n;
        EXPECT_EQ(f.out[16 * 3 + 15], 0x8F) << n;
    }
}

TEST(SeadBlockFrame, WideCodesAreReadInGroupsOfFour) {
    // 16 x 8: two groups. With 15-bit codes the second code of group 1 sits
    // at bit 75, past what a 32-bit window from byte 7 holds: its top two
    // bits fall away, so code 8193 reads as 1.
    picture_fixture f(16, 8);
    sead_block_frame bf;
    for (int i = 0; i < 8200; ++i) bf.four_colour_blocks.push_back({{uint8_t(i), 0, 0, 0}, 0});
    bf.four_colour_blocks[1].colours[0] = 0x11;
    bf.four_colour_blocks[8193].colours[0] = 0x99;
    bf.codes = {5, 5, 5, 5, 5, 8193, 5, 5};
    bf.code_bits = 15;
    ASSERT_TRUE(f.decode(write_sead_block_frame(bf)));
    EXPECT_EQ(f.out[4 * 16 + 4], 0x11);
    EXPECT_EQ(f.out[0], 5);
    // Narrower codes read exactly as written.
    picture_fixture g(16, 8);
    bf.code_bits = -1;
    bf.codes[5] = 4100;
    bf.four_colour_blocks[4100].colours[0] = 0x44;
    ASSERT_TRUE(g.decode(write_sead_block_frame(bf)));
    EXPECT_EQ(g.out[4 * 16 + 4], 0x44);
}

TEST(SeadBlockFrame, BrokenLimitsDropThePictureWhole) {
    picture_fixture f(8, 8);
    ASSERT_TRUE(f.decode(numbered_blocks_8x8()));
    const std::vector<uint8_t> shown = f.out;
    auto keep = [&](std::vector<uint8_t> body, const char* what) {
        std::fill(f.out.begin(), f.out.end(), 0xEE);
        EXPECT_FALSE(f.decode(body)) << what;
        EXPECT_EQ(f.out, std::vector<uint8_t>(64, 0xEE)) << what;
        // The reference is unchanged: a zero-vector frame shows the old picture.
        sead_block_frame still;
        still.vectors = {{0, 0}};
        still.codes = {0, 0, 0, 0};
        ASSERT_TRUE(f.decode(write_sead_block_frame(still)));
        EXPECT_EQ(f.out, shown) << what;
    };
    sead_block_frame bf;
    bf.vectors = {{0, 0}};
    bf.codes = {0, 0, 0, 1};
    bf.code_bits = 1;
    keep(write_sead_block_frame(bf), "code beyond the entries");
    bf.vectors = {{0, 0}, {-1, 0}};
    bf.codes = {1, 0, 0, 0};
    keep(write_sead_block_frame(bf), "source before the picture");
    bf.vectors = {{0, 0}, {1, 0}};
    bf.codes = {0, 0, 0, 1};
    keep(write_sead_block_frame(bf), "source past the picture");
    bf.vectors = {{0, 0}, {0, 1}};
    keep(write_sead_block_frame(bf), "source a row past the picture");
    auto body = numbered_blocks_8x8();
    body.resize(body.size() - 1);
    keep(body, "codes cut short");
    body = numbered_blocks_8x8();
    body[2] = 0xFF, body[3] = 0xFF; // m = -1
    keep(body, "negative count");
    body = numbered_blocks_8x8();
    body[2] = 0x01, body[3] = 0x40; // m = 16385
    keep(body, "too many blocks");
    body = numbered_blocks_8x8();
    body[6] = 40; // codes 40 bits wide
    keep(body, "code width");
    keep(bytes({1, 0, 1, 0, 0, 0}), "header cut short");
}

TEST(SeadBlockFrame, RaggedEdgesAndUncodedBlocksKeepThePreviousPicture) {
    // 18 x 9: 4 x 2 whole blocks, 10 codes read as two groups of four; the
    // two right columns and the bottom row are never coded.
    picture_fixture f(18, 9);
    sead_block_frame bf;
    bf.four_colour_blocks.push_back({{0x31, 0, 0, 0}, 0});
    bf.codes.assign(8, 0);
    ASSERT_TRUE(f.decode(write_sead_block_frame(bf)));
    EXPECT_EQ(f.out[0], 0x31);
    EXPECT_EQ(f.out[16], 0);
    EXPECT_EQ(f.out[8 * 18], 0);
    bf.four_colour_blocks[0].colours[0] = 0x32;
    ASSERT_TRUE(f.decode(write_sead_block_frame(bf)));
    EXPECT_EQ(f.out[7 * 18 + 15], 0x32);
    EXPECT_EQ(f.out[17], 0);
    // 12 x 4: three blocks, fewer than a group: no code at all.
    picture_fixture g(12, 4);
    ASSERT_TRUE(g.decode(write_sead_block_frame(bf)));
    EXPECT_EQ(g.out, std::vector<uint8_t>(48, 0));
}

TEST(SeadBlockFrame, DoublingLeavesOddRowsAtZero) {
    std::vector<uint8_t> src = {1, 2, 3, 4, 5, 6};
    std::vector<uint8_t> dst(4 * 6, 0xEE);
    double_interlaced(dst.data(), src.data(), 3, 2);
    EXPECT_EQ(dst, bytes({1, 1, 2, 2, 3, 3, 0, 0, 0, 0, 0, 0, 4, 4, 5, 5, 6, 6, 0, 0, 0, 0, 0, 0}));
}

std::vector<Color> colours_seen;
int colour_calls = 0;
void note_colours(const Color* c) {
    colours_seen.assign(c, c + 256);
    ++colour_calls;
}

struct colour_hook {
    void (*saved)(const Color*) = set_surface_colors;
    colour_hook() {
        set_surface_colors = note_colours;
        colour_calls = 0;
    }
    ~colour_hook() { set_surface_colors = saved; }
};

// A key frame body around packed image bytes, with palette entry i = (i, 2i, 255 - i).
std::vector<uint8_t> key_frame(int w, int h, const std::vector<uint8_t>& packed, int shift = 0) {
    byte_builder b;
    b.le16(uint32_t(w)).le16(uint32_t(h)).zeros(8);
    for (int i = 0; i < 256; ++i)
        b.u8(uint32_t(i + shift)).u8(uint32_t(2 * i)).u8(uint32_t(255 - i));
    b.raw(packed);
    return b.bytes;
}

std::vector<uint8_t> text(const char* s) {
    return std::vector<uint8_t>(s, s + strlen(s));
}

TEST(SeadKeyFrame, WorkedPackedImages) {
    colour_hook hook;
    picture_fixture a(8, 1);
    ASSERT_TRUE(a.decode(key_frame(
        8, 1, bytes({0x10, 0xFB, 0x00, 0x00, 0x08, 0xE0, 'A', 'B', 'C', 'D', 0x04, 0x03, 0xFC}))));
    EXPECT_EQ(a.out, text("ABCDABCD"));
    picture_fixture b(6, 1);
    ASSERT_TRUE(
        b.decode(key_frame(6, 1, bytes({0x10, 0xFB, 0x00, 0x00, 0x06, 0x09, 0x00, 'A', 0xFC}))));
    EXPECT_EQ(b.out, text("AAAAAA"));
    // Bit 0 of the flags: three more bytes before the size.
    picture_fixture c(8, 1);
    ASSERT_TRUE(c.decode(key_frame(8, 1,
                                   bytes({0x11, 0xFB, 0xEE, 0xEE, 0xEE, 0x00, 0x00, 0x08, 0xE0, 'A',
                                          'B', 'C', 'D', 0x04, 0x03, 0xFC}))));
    EXPECT_EQ(c.out, text("ABCDABCD"));
    EXPECT_EQ(colour_calls, 3);
    EXPECT_EQ(colours_seen[7].r, 7);
    EXPECT_EQ(colours_seen[7].g, 14);
    EXPECT_EQ(colours_seen[7].b, 248);
}

TEST(SeadKeyFrame, ShortImageKeepsTheRestOfThePreviousPicture) {
    colour_hook hook;
    picture_fixture f(4, 1);
    ASSERT_TRUE(
        f.decode(key_frame(4, 1, bytes({0x10, 0xFB, 0, 0, 4, 0xE0, 'W', 'X', 'Y', 'Z', 0xFC}))));
    // 0xFD: one literal, then the end.
    ASSERT_TRUE(f.decode(key_frame(4, 1, bytes({0x10, 0xFB, 0, 0, 4, 0xFD, 'Q'}))));
    EXPECT_EQ(f.out, text("QXYZ"));
    // Ragged edges that block frames never reach keep the key frame's pixels.
    picture_fixture g(18, 9);
    std::vector<uint8_t> packed = {0x10, 0xFB, 0, 0, 162, 0xE0 + 27};
    packed.insert(packed.end(), 112, 0x77);
    packed.push_back(0xE0 + 11);
    packed.insert(packed.end(), 48, 0x77);
    packed.insert(packed.end(), {0xFE, 0x77, 0x77});
    ASSERT_TRUE(g.decode(key_frame(18, 9, packed)));
    sead_block_frame bf;
    bf.four_colour_blocks.push_back({{0x31, 0, 0, 0}, 0});
    bf.codes.assign(8, 0);
    ASSERT_TRUE(g.decode(write_sead_block_frame(bf)));
    EXPECT_EQ(g.out[0], 0x31);
    EXPECT_EQ(g.out[17], 0x77);
    EXPECT_EQ(g.out[8 * 18 + 3], 0x77);
}

TEST(SeadKeyFrame, BrokenImagesAreDroppedWithTheirPalette) {
    colour_hook hook;
    picture_fixture f(4, 1);
    ASSERT_TRUE(
        f.decode(key_frame(4, 1, bytes({0x10, 0xFB, 0, 0, 4, 0xE0, 'W', 'X', 'Y', 'Z', 0xFC}))));
    const std::vector<Color> palette = colours_seen;
    for (auto packed :
         {bytes({0x10, 0xFB, 0, 0, 4, 0xE0, 'A', 'B', 'C', 'D', 0xFD, 'E'}),
          bytes({0x10, 0xFB, 0, 0, 4, 0x01, 0x05, 'A', 0xFC}),
          bytes({0x10, 0xFB, 0, 0, 4, 0x00, 0x00, 0xFC}),
          bytes({0x10, 0xFB, 0, 0, 4, 0xE0, 'A', 'B'}),
          bytes({0x10, 0xFB, 0, 0, 4, 0xE0, 'A', 'B', 'C', 'D'}), bytes({0x11, 0xFB, 0})}) {
        std::fill(f.out.begin(), f.out.end(), 0xEE);
        EXPECT_FALSE(f.decode(key_frame(4, 1, packed, 1)));
        EXPECT_EQ(f.out, std::vector<uint8_t>(4, 0xEE));
    }
    EXPECT_EQ(colour_calls, 1);
    sead_block_frame still;
    still.vectors = {{0, 0}};
    // 4 x 1 holds no whole block: the picture simply stays.
    ASSERT_TRUE(f.decode(write_sead_block_frame(still)));
    EXPECT_EQ(f.out, text("WXYZ"));
    EXPECT_EQ(colour_calls, 1);
}

TEST(SeadKeyFrame, DoubledKeyFrameAtFullSize) {
    colour_hook hook;
    std::vector<uint8_t> image(320 * 160);
    for (size_t i = 0; i < image.size(); ++i) image[i] = uint8_t((i * 7) ^ (i / 320));
    sead_palette palette{};
    picture_fixture f(320, 160, true);
    ASSERT_TRUE(f.decode(write_sead_key_frame(320, 160, palette, image.data())));
    for (int y = 0; y < 160; ++y) {
        auto even = f.row(2 * y);
        for (int x = 0; x < 320; ++x) {
            ASSERT_EQ(even[size_t(2 * x)], image[size_t(y * 320 + x)]);
            ASSERT_EQ(even[size_t(2 * x + 1)], image[size_t(y * 320 + x)]);
        }
        ASSERT_EQ(f.row(2 * y + 1), std::vector<uint8_t>(640, 0));
    }
}

} // namespace
