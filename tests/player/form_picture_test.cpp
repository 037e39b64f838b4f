#include "form_test_support.h"
#include "formats/common/lz.h"
#include "formats/form/form.h"
#include "formats/form/form_picture.h"

#include <gtest/gtest.h>

#include <memory>

using namespace form_test;

namespace {

std::unique_ptr<form_decoder> fresh_decoder() {
    auto d = std::make_unique<form_decoder>();
    reset_form_decoder(*d);
    return d;
}

std::vector<int> decode_tree(const std::vector<uint8_t>& block, bool* fault) {
    uint8_t out[64];
    int32_t n = decode_opcode_tree(block.data(), int32_t(block.size()), out, 64, fault);
    return std::vector<int>(out, out + n);
}

TEST(FormOpcodeTree, WalksTheTablesBitByBit) {
    bool fault = true;
    std::vector<int> ops = {0, 1, 21, 9, 12, 20, 3, 0};
    EXPECT_EQ(decode_tree(chain_block(ops), &fault), ops);
    EXPECT_FALSE(fault);

    // One node, root 23: bit 0 gives opcode 1, bit 1 the end; 0b1000 -> 1, 1, 1.
    EXPECT_EQ(decode_tree({1, 1, 22, 0x08, 0xFF}, &fault), (std::vector<int>{1, 1, 1}));
    EXPECT_FALSE(fault);

    // Bits after the end symbol are never read.
    std::vector<uint8_t> tail = chain_block({2});
    tail.push_back(0x00);
    EXPECT_EQ(decode_tree(tail, &fault), (std::vector<int>{2}));
    EXPECT_FALSE(fault);
}

TEST(FormOpcodeTree, DamagedBlocksKeepTheOpcodesBeforeTheFault) {
    bool fault = false;
    EXPECT_EQ(decode_tree(chain_block({4, 5}, false), &fault), (std::vector<int>{4, 5}));
    EXPECT_TRUE(fault);
    // No tables at all: the root (22) is no node.
    EXPECT_TRUE(decode_tree({0, 0xFF}, &fault).empty());
    EXPECT_TRUE(fault);
    // N = 234 makes the root 0, also outside the tables.
    std::vector<uint8_t> wrapped(1 + 2 * 234 + 1, 30);
    wrapped[0] = 234;
    EXPECT_TRUE(decode_tree(wrapped, &fault).empty());
    EXPECT_TRUE(fault);
    // A child that names a node beyond the tables.
    EXPECT_EQ(decode_tree({1, 2, 99, 0x02}, &fault), (std::vector<int>{2}));
    EXPECT_TRUE(fault);
    // Tables longer than the block.
    EXPECT_TRUE(decode_tree({5, 1, 2}, &fault).empty());
    EXPECT_TRUE(fault);
    // A full opcode buffer.
    uint8_t out[2];
    std::vector<uint8_t> many = chain_block({1, 1, 1});
    EXPECT_EQ(decode_opcode_tree(many.data(), int32_t(many.size()), out, 2, &fault), 2);
    EXPECT_TRUE(fault);
}

// Runs apply_opcodes on a frame of `pixels` pixels whose reference holds
// 100 + i at pixel i and whose work frame starts as a copy of it.
struct run_case {
    std::vector<uint8_t> reference, work;
    bool ok = false;
    run_case(int32_t pixels, const std::vector<uint8_t>& opcodes, const std::vector<uint8_t>& sizes,
             const std::vector<uint8_t>& vectors, const std::vector<uint8_t>& image) {
        reference.resize(size_t(2 * pixels));
        for (int32_t i = 0; i < 2 * pixels; ++i) reference[size_t(i)] = uint8_t(100 + i / 2);
        work = reference;
        form_streams s;
        s.sizes = {sizes.data(), int32_t(sizes.size()), 0};
        s.vectors = {vectors.data(), int32_t(vectors.size()), 0};
        s.image = {image.data(), int32_t(image.size()), 0};
        ok = apply_opcodes(opcodes.data(), int32_t(opcodes.size()), s, reference.data(),
                           work.data(), 2 * pixels);
    }
    int pixel(int32_t i) const {
        EXPECT_EQ(work[size_t(2 * i)], work[size_t(2 * i + 1)]);
        return work[size_t(2 * i)];
    }
};

TEST(FormApplyOpcodes, ShortRunsAlternateSkipAndImage) {
    run_case a(3, {1, 1, 1}, {}, {}, {7});
    EXPECT_TRUE(a.ok);
    EXPECT_EQ(a.pixel(0), 100);
    EXPECT_EQ(a.pixel(1), 7);
    EXPECT_EQ(a.pixel(2), 102);

    run_case b(3, {0, 1, 2}, {}, {}, {7});
    EXPECT_TRUE(b.ok);
    EXPECT_EQ(b.pixel(0), 7);
    EXPECT_EQ(b.pixel(1), 101);

    // Size byte 0 still counts in the alternation; the next run is an image.
    run_case c(2, {9, 2}, {0}, {}, {5, 6});
    EXPECT_TRUE(c.ok);
    EXPECT_EQ(c.pixel(0), 5);
    EXPECT_EQ(c.pixel(1), 6);

    // Opcode 10 with 01 2C is 300 pixels; 11 reads three size bytes.
    run_case d(301, {10, 1}, {0x01, 0x2C}, {}, {9});
    EXPECT_TRUE(d.ok);
    EXPECT_EQ(d.pixel(299), uint8_t(100 + 299));
    EXPECT_EQ(d.pixel(300), 9);
    run_case e(300, {11}, {0x00, 0x01, 0x2C}, {}, {});
    EXPECT_TRUE(e.ok);
}

TEST(FormApplyOpcodes, MotionRunsCopyFromTheReference) {
    const int32_t p = 320 * 3; // three 320-pixel rows
    auto moved = [&](uint8_t vector, int32_t at) {
        // Skip to `at`, then a motion run of two pixels, then skip the rest.
        run_case r(p, {10, 12, 10},
                   {uint8_t(at >> 8), uint8_t(at), uint8_t((p - at - 2) >> 8), uint8_t(p - at - 2)},
                   {vector}, {});
        EXPECT_TRUE(r.ok);
        return std::make_pair(r.pixel(at), r.pixel(at + 1));
    };
    const int32_t at = 320 + 10;
    EXPECT_EQ(moved(0x00, at).first, uint8_t(100 + at));
    EXPECT_EQ(moved(0xF0, at).first, uint8_t(100 + at - 1));
    EXPECT_EQ(moved(0x01, at).second, uint8_t(100 + at + 1 + 320));
    EXPECT_EQ(moved(0x0F, at).first, uint8_t(100 + at - 320));
    // 0x8F: dx = -8, dy = -1.
    EXPECT_EQ(moved(0x8F, at).first, uint8_t(100 + at - 320 - 8));

    // A motion run resets the alternation, also with length 0 (opcode 19, size 0),
    // which still takes its vector byte.
    run_case z(4, {1, 19, 1, 1, 13}, {0}, {0x00, 0xF0}, {42});
    // 13 is a 3-pixel motion run where only one pixel is left: it stops there.
    EXPECT_FALSE(z.ok);
    EXPECT_EQ(z.pixel(1), 101);
    EXPECT_EQ(z.pixel(2), 42);
    EXPECT_EQ(z.pixel(3), 103);

    run_case w(600, {20, 21}, {0x01, 0x00, 0x00, 0x01, 0x58}, {0x00, 0x00}, {});
    EXPECT_TRUE(w.ok);
}

TEST(FormApplyOpcodes, FaultsStopThePictureKeepingWhatWasDrawn) {
    // Run past the frame: the image run before it is kept, nothing after.
    run_case past(3, {0, 2, 8}, {}, {}, {1, 2});
    EXPECT_FALSE(past.ok);
    EXPECT_EQ(past.pixel(0), 1);
    EXPECT_EQ(past.pixel(2), 102);
    // Motion source before the frame (one row up from row 0) and after it.
    EXPECT_FALSE(run_case(4, {12, 12}, {}, {0x0F, 0x00}, {}).ok);
    EXPECT_FALSE(run_case(4, {12, 12}, {}, {0x00, 0x10}, {}).ok);
    // Streams that run out.
    EXPECT_FALSE(run_case(4, {12, 12}, {}, {0x00}, {}).ok);
    EXPECT_FALSE(run_case(4, {10}, {0}, {}, {}).ok);
    EXPECT_FALSE(run_case(4, {0, 4}, {}, {}, {1, 2, 3}).ok);
    // Opcodes that end before the frame does.
    run_case short_ops(4, {0, 1}, {}, {}, {9});
    EXPECT_FALSE(short_ops.ok);
    EXPECT_EQ(short_ops.pixel(0), 9);
    // An opcode no tree can produce.
    EXPECT_FALSE(run_case(4, {22}, {}, {}, {}).ok);
}

TEST(FormUnpackImage, CommandForms) {
    auto unpack = [](const std::vector<uint8_t>& src, bool* fault, int32_t capacity = 1000) {
        std::vector<uint8_t> dst(size_t(capacity) + 1, 0xEE);
        int32_t n = unpack_image(src.data(), int32_t(src.size()), dst.data(), capacity, fault);
        EXPECT_EQ(dst[size_t(capacity)], 0xEE);
        dst.resize(size_t(n));
        return dst;
    };
    bool fault = true;
    EXPECT_EQ(unpack({0xFF, 1, 2, 3}, &fault), (std::vector<uint8_t>{1, 2, 3}));
    EXPECT_FALSE(fault);
    // 0x01: one literal, then length 3 at distance 1.
    EXPECT_EQ(unpack({0x01, 0x00, 9, 0xFC}, &fault), (std::vector<uint8_t>{9, 9, 9, 9}));
    EXPECT_FALSE(fault);
    // Four literals (0xE0), then 0x00 0x00: the last byte three more times.
    EXPECT_EQ(unpack({0xE0, 1, 2, 3, 4, 0x00, 0x00, 0xFC}, &fault),
              (std::vector<uint8_t>{1, 2, 3, 4, 4, 4, 4}));
    // 10xxxxxx: 0x81 0x40 0x03: one literal, length 5 from distance 4.
    std::vector<uint8_t> medium = unpack({0xE0, 1, 2, 3, 4, 0x81, 0x40, 0x03, 7, 0xFC}, &fault);
    EXPECT_FALSE(fault);
    EXPECT_EQ(medium, (std::vector<uint8_t>{1, 2, 3, 4, 7, 2, 3, 4, 7, 2}));
    // 110xxxxx: 0xC1 0x00 0x01 0x02: one literal, length 7 from distance 2.
    std::vector<uint8_t> long_ref =
        unpack({0xE0, 1, 2, 3, 4, 0xC1, 0x00, 0x01, 0x02, 8, 0xFC}, &fault);
    EXPECT_FALSE(fault);
    EXPECT_EQ(long_ref, (std::vector<uint8_t>{1, 2, 3, 4, 8, 4, 8, 4, 8, 4, 8, 4}));
    // Bits 2 and 3 of the command byte add 256 each to the length: 0xC8 is 512 + 5.
    std::vector<uint8_t> longer = unpack({0xFD, 6, 0xC8, 0x00, 0x00, 0x00, 0xFC}, &fault);
    EXPECT_FALSE(fault);
    EXPECT_EQ(longer, (std::vector<uint8_t>{6}));
    longer = unpack({0xE0, 6, 6, 6, 6, 0xC8, 0x00, 0x00, 0x00, 0xFC}, &fault);
    EXPECT_FALSE(fault);
    EXPECT_EQ(longer, std::vector<uint8_t>(4 + 517, 6));
    // The longest literal run takes 112 bytes.
    std::vector<uint8_t> lit = {0xFB};
    for (int i = 0; i < 112; ++i) lit.push_back(uint8_t(i));
    lit.push_back(0xFC);
    EXPECT_EQ(unpack(lit, &fault).size(), 112u);
    EXPECT_FALSE(fault);
}

TEST(FormUnpackImage, DamagedStreamsStopAtTheFault) {
    bool fault = false;
    std::vector<uint8_t> out(16, 0);
    auto run = [&](const std::vector<uint8_t>& src, int32_t capacity = 16) {
        return unpack_image(src.data(), int32_t(src.size()), out.data(), capacity, &fault);
    };
    EXPECT_EQ(run({0x00, 0x00}), 0); // reference before the start
    EXPECT_TRUE(fault);
    EXPECT_EQ(run({0xE0, 1, 2, 3, 4}), 4); // no stop command
    EXPECT_TRUE(fault);
    EXPECT_EQ(run({0xE0, 1, 2}), 0); // literals past the source
    EXPECT_TRUE(fault);
    EXPECT_EQ(run({0xE0, 1, 2, 3, 4, 0x80}), 4); // further bytes missing
    EXPECT_TRUE(fault);
    EXPECT_EQ(run({0xE0, 1, 2, 3, 4, 0xBF, 0, 0, 0xFC}), 4); // 67 bytes do not fit 16
    EXPECT_TRUE(fault);
    EXPECT_EQ(run({0xE0, 1, 2, 3, 4, 0xFC}, 3), 0); // literals do not fit
    EXPECT_TRUE(fault);
    EXPECT_EQ(run({0xE0, 1, 2, 3, 4, 0x00, 0x03, 0xFC}), 7); // distance 4 is the start
    EXPECT_FALSE(fault);
    EXPECT_EQ(run({0xE0, 1, 2, 3, 4, 0x00, 0x04, 0xFC}), 4); // distance 5 is not
    EXPECT_TRUE(fault);
}

TEST(FormUnpackImage, CopyForwardRepeatsOverlappingBytes) {
    uint8_t b[8] = {1, 2, 0, 0, 0, 0, 0, 0};
    copy_forward(b + 2, b, 6);
    EXPECT_EQ(std::vector<uint8_t>(b, b + 8), (std::vector<uint8_t>{1, 2, 1, 2, 1, 2, 1, 2}));
    uint8_t c[6] = {1, 2, 3, 4, 5, 6};
    copy_forward(c, c + 2, 4);
    EXPECT_EQ(std::vector<uint8_t>(c, c + 6), (std::vector<uint8_t>{3, 4, 5, 6, 5, 6}));
    uint8_t d[4] = {7, 0, 0, 0};
    copy_forward(d + 1, d, 3);
    EXPECT_EQ(std::vector<uint8_t>(d, d + 4), (std::vector<uint8_t>{7, 7, 7, 7}));
}

// Counts the palettes handed to the surface.
std::vector<const Color*> palette_calls;
void count_colors(const Color* colors) {
    palette_calls.push_back(colors);
}

struct FormPicture : ::testing::Test {
    void SetUp() override {
        reset_movie_state();
        palette_calls.clear();
        set_surface_colors = count_colors;
    }
    void TearDown() override { set_surface_colors = nullptr; }
};

// An image-only picture of `pixels` pixels: opcodes 0, then one long run.
std::vector<uint8_t> image_picture(const std::vector<uint8_t>& pixels, bool packed) {
    int32_t n = int32_t(pixels.size());
    std::vector<uint8_t> image_block = {uint8_t(packed ? 2 : 0)};
    if (packed) {
        // Literal runs of 4, then the rest with the stop command (n % 4 < 4).
        size_t i = 0;
        for (; i + 4 <= pixels.size(); i += 4) {
            image_block.push_back(0xE0);
            image_block.insert(image_block.end(), pixels.begin() + long(i),
                               pixels.begin() + long(i) + 4);
        }
        image_block.push_back(uint8_t(0xFC + (pixels.size() - i)));
        image_block.insert(image_block.end(), pixels.begin() + long(i), pixels.end());
    } else {
        image_block.insert(image_block.end(), pixels.begin(), pixels.end());
    }
    return payload(chain_block({0, 11}), {uint8_t(n >> 16), uint8_t(n >> 8), uint8_t(n)}, {},
                   image_block);
}

TEST_F(FormPicture, PaletteFollowsTheSlotBeingHeard) {
    auto d = fresh_decoder();
    std::vector<uint8_t> out(4 * 2);
    void* pixels = out.data();
    put_slot(slot_ring[0], image_picture({1, 2, 3, 4, 5, 6, 7, 8}, false));
    slot_ring[0].palette_index = 0;
    slot_ring[1].palette_index = 3;
    slot_ring[2].palette_index = 3;
    slot_ring[3].palette_index = 250; // not a palette: 0

    EXPECT_TRUE(decode_form_picture_with(*d, 0, 4, 2, &slot_ring[0], &pixels));
    ASSERT_EQ(palette_calls.size(), 1u);
    EXPECT_EQ(palette_calls[0], palettes[0]);

    slots_heard = 1;
    decode_form_picture_with(*d, 0, 4, 2, &slot_ring[0], &pixels);
    ASSERT_EQ(palette_calls.size(), 2u);
    EXPECT_EQ(palette_calls[1], palettes[3]);
    slots_heard = 2;
    decode_form_picture_with(*d, 0, 4, 2, &slot_ring[0], &pixels);
    EXPECT_EQ(palette_calls.size(), 2u);
    slots_heard = 3;
    decode_form_picture_with(*d, 0, 4, 2, &slot_ring[0], &pixels);
    ASSERT_EQ(palette_calls.size(), 3u);
    EXPECT_EQ(palette_calls[2], palettes[0]);

    // A first picture whose slot names another palette sets 0, then that one.
    auto e = fresh_decoder();
    slots_heard = 21;
    decode_form_picture_with(*e, 0, 4, 2, &slot_ring[0], &pixels);
    ASSERT_EQ(palette_calls.size(), 5u);
    EXPECT_EQ(palette_calls[3], palettes[0]);
    EXPECT_EQ(palette_calls[4], palettes[3]);

    // Without a hook nothing is called and nothing breaks.
    set_surface_colors = nullptr;
    auto f = fresh_decoder();
    EXPECT_TRUE(decode_form_picture_with(*f, 0, 4, 2, &slot_ring[0], &pixels));
}

TEST_F(FormPicture, NormalAndInterlacedOutput) {
    const int32_t w = 320, h = 165;
    std::vector<uint8_t> picture(size_t(w * h));
    for (size_t i = 0; i < picture.size(); ++i) picture[i] = uint8_t(i * 13 + i / 320);
    for (bool packed : {false, true}) {
        put_slot(slot_ring[0], image_picture(picture, packed));
        auto normal = fresh_decoder();
        std::vector<uint8_t> out(size_t(w * h), 0xAA);
        void* p = out.data();
        EXPECT_TRUE(decode_form_picture_with(*normal, 0, w, h, &slot_ring[0], &p));
        EXPECT_EQ(out, picture);

        auto doubled = fresh_decoder();
        std::vector<uint8_t> big(size_t(4 * w * h), 0xAA);
        p = big.data();
        EXPECT_TRUE(decode_form_picture_with(*doubled, 1, 2 * w, 2 * h, &slot_ring[0], &p));
        bool rows_ok = true;
        for (int32_t r = 0; r < 2 * h; ++r)
            for (int32_t c = 0; c < 2 * w; ++c) {
                uint8_t want = r % 2 ? 0xAA : picture[size_t((r / 2) * w + c / 2)];
                rows_ok = rows_ok && big[size_t(r * 2 * w + c)] == want;
            }
        EXPECT_TRUE(rows_ok);
    }
}

TEST_F(FormPicture, PicturesBuildOnThePreviousOne) {
    auto d = fresh_decoder();
    std::vector<uint8_t> out(8, 0x55);
    void* p = out.data();
    // The first picture is built against zero: a skip leaves colour 0.
    put_slot(slot_ring[0], payload(chain_block({2, 2}), {}, {}, {0, 7, 8}));
    EXPECT_TRUE(decode_form_picture_with(*d, 0, 4, 1, &slot_ring[0], &p));
    EXPECT_EQ(std::vector<uint8_t>(out.begin(), out.begin() + 4),
              (std::vector<uint8_t>{0, 0, 7, 8}));
    // The next one moves the previous picture one pixel left and keeps the rest.
    put_slot(slot_ring[0], payload(chain_block({12, 2}), {}, {0x10}, {0}));
    EXPECT_TRUE(decode_form_picture_with(*d, 0, 4, 1, &slot_ring[0], &p));
    EXPECT_EQ(std::vector<uint8_t>(out.begin(), out.begin() + 4),
              (std::vector<uint8_t>{0, 7, 7, 8}));
}

TEST_F(FormPicture, DamagedPicturesStopAndTheNextOneDecodes) {
    auto d = fresh_decoder();
    std::vector<uint8_t> out(4, 0x55);
    void* p = out.data();
    // The image stream holds one pixel where two are asked for.
    put_slot(slot_ring[0], payload(chain_block({0, 1, 0, 2}), {}, {}, {0, 9}));
    EXPECT_FALSE(decode_form_picture_with(*d, 0, 4, 1, &slot_ring[0], &p));
    EXPECT_EQ(out, (std::vector<uint8_t>{9, 0, 0, 0}));
    // Too short for the offsets, or offsets past the payload.
    put_slot(slot_ring[0], {1, 2, 3});
    EXPECT_FALSE(decode_form_picture_with(*d, 0, 4, 1, &slot_ring[0], &p));
    put_slot(slot_ring[0], {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF});
    EXPECT_FALSE(decode_form_picture_with(*d, 0, 4, 1, &slot_ring[0], &p));
    // A packed image that overflows the image buffer stops the image stream there.
    std::vector<uint8_t> flood = {2, 0xE0, 1, 2, 3, 4};
    for (int i = 0; i < 300; ++i) flood.insert(flood.end(), {0xDF, 0xFF, 0xFF, 0xFF});
    put_slot(slot_ring[0], payload(chain_block({0, 4}), {}, {}, flood));
    EXPECT_FALSE(decode_form_picture_with(*d, 0, 4, 1, &slot_ring[0], &p));
    EXPECT_EQ(out, (std::vector<uint8_t>{1, 2, 3, 4}));
    // The next picture decodes normally.
    put_slot(slot_ring[0], payload(chain_block({1, 3}), {}, {}, {0, 5, 6, 7}));
    EXPECT_TRUE(decode_form_picture_with(*d, 0, 4, 1, &slot_ring[0], &p));
    EXPECT_EQ(out, (std::vector<uint8_t>{1, 5, 6, 7}));
}

TEST_F(FormPicture, PicturesTooLargeForTheFramesAreNotDrawn) {
    auto d = fresh_decoder();
    const int32_t w = 320, h = 331; // 2 x w x h = 211840
    std::vector<uint8_t> out(size_t(w * h), 0x55);
    void* p = out.data();
    put_slot(slot_ring[0], image_picture(std::vector<uint8_t>(10, 1), false));
    EXPECT_FALSE(decode_form_picture_with(*d, 0, w, h, &slot_ring[0], &p));
    EXPECT_EQ(out, std::vector<uint8_t>(size_t(w * h), 0x55));
    EXPECT_EQ(palette_calls.size(), 1u);
}

} // namespace
