#include "form_test_support.h"
#include "formats/form/form.h"

#include <gtest/gtest.h>

using namespace form_test;

namespace {

std::vector<uint8_t> palette_body(uint8_t r, uint8_t g, uint8_t b) {
    std::vector<uint8_t> v(768);
    for (int i = 0; i < 256; ++i) {
        v[3 * i] = r;
        v[3 * i + 1] = g;
        v[3 * i + 2] = b;
    }
    return v;
}

// Header chunks carry no pad byte.
void header_chunk(byte_builder& b, const char* tag, const std::vector<uint8_t>& body) {
    b.tag(tag).be32(uint32_t(body.size())).raw(body);
}

std::vector<uint8_t> le32_body(uint32_t v, size_t extra = 0) {
    byte_builder b;
    b.le32(v).zeros(extra);
    return b.bytes;
}

// Reads slots until the movie ends (bounded).
int32_t read_all() {
    for (int i = 0; i < 1000 && !at_end; ++i) read_next_slot();
    return slots_read;
}

TEST(FormHeader, PictureRightAfterThePcChunkKeepsTheDefaults) {
    byte_builder b = form_head(6);
    body_chunk(b, "VGA ", {1, 2, 3});
    movie_bytes m(b.bytes);
    int32_t w = 0, h = 0;
    ASSERT_EQ(m.probe(&w, &h), kind_form);
    EXPECT_EQ(w, 320);
    EXPECT_EQ(h, 165);
    EXPECT_EQ(palette_count, 0);
    read_next_slot();
    ASSERT_EQ(slots_read, 1);
    EXPECT_EQ(slot(0).video_length, 3);
    EXPECT_EQ(slot(0).video[2], 3);
}

TEST(FormHeader, PalettesAreStoredThroughTheLevelTable) {
    static const uint8_t printed[64] = {
        0,   9,   16,  22,  28,  33,  39,  44,  49,  53,  58,  63,  67,  72,  76,  80,
        84,  89,  93,  97,  101, 105, 109, 113, 117, 121, 125, 128, 132, 136, 140, 143,
        147, 151, 154, 158, 162, 165, 169, 172, 176, 179, 183, 186, 190, 193, 197, 200,
        203, 207, 210, 213, 217, 220, 223, 227, 230, 233, 237, 240, 243, 246, 250, 253};
    byte_builder b = form_head();
    header_chunk(b, "PALT", palette_body(63, 32, 0));
    header_chunk(b, "PALT", std::vector<uint8_t>(767, 5)); // wrong size: skipped
    std::vector<uint8_t> second = palette_body(1, 0x80, 0xFF);
    second[3 * 7] = 17;
    header_chunk(b, "PALT", second);
    body_chunk(b, "VGA ", {0});
    movie_bytes m(b.bytes);
    ASSERT_EQ(m.probe(), kind_form);
    for (int v = 0; v < 64; ++v) EXPECT_EQ(palette_level_table[4 * v], printed[v]) << v;
    EXPECT_EQ(palette_level_table[253], 253);
    EXPECT_EQ(palette_level_table[254], 253);
    EXPECT_EQ(palette_level_table[255], 253);
    ASSERT_EQ(palette_count, 2);
    EXPECT_EQ(palettes[0][255].r, 253);
    EXPECT_EQ(palettes[0][0].g, 147);
    EXPECT_EQ(palettes[0][9].b, 0);
    EXPECT_EQ(palettes[0][9].unused, 0);
    EXPECT_EQ(palettes[1][0].r, 9);
    // Bytes above 63 are rotated left by two bits: 0x80 -> 2, 0xFF -> 255.
    EXPECT_EQ(palettes[1][0].g, 5);
    EXPECT_EQ(palettes[1][0].b, 253);
    EXPECT_EQ(palettes[1][7].r, printed[17]);
}

TEST(FormHeader, SizeIsLittleEndianAndExactlyEightBytesAreRead) {
    byte_builder b = form_head();
    // The size field claims 100 bytes; the walk goes on right after eight.
    b.tag("SIZE").be32(100).u8(0x40).u8(0x01).u8(0).u8(0).le32(200);
    header_chunk(b, "JUNK", {1, 2, 3});
    body_chunk(b, "VGA ", {9});
    movie_bytes m(b.bytes);
    int32_t w = 0, h = 0;
    ASSERT_EQ(m.probe(&w, &h), kind_form);
    EXPECT_EQ(w, 320);
    EXPECT_EQ(h, 200);
    read_next_slot();
    EXPECT_EQ(slot(0).video[0], 9);
}

TEST(FormHeader, PalettesBeyondTheStoreAreIgnored) {
    byte_builder b = form_head();
    for (int i = 0; i < palette_capacity + 3; ++i)
        header_chunk(b, "PALT", palette_body(uint8_t(i % 64), 0, 0));
    body_chunk(b, "VGA ", {0});
    movie_bytes m(b.bytes);
    ASSERT_EQ(m.probe(), kind_form);
    EXPECT_EQ(palette_count, palette_capacity);
    EXPECT_EQ(palettes[palette_capacity - 1][0].r, palette_level_table[4 * (199 % 64)]);
}

TEST(FormHeader, DamagedHeadsAreRejected) {
    auto rejected = [](const byte_builder& b) {
        movie_bytes m(b.bytes);
        return m.probe() == kind_none;
    };
    byte_builder no_pc;
    no_pc.tag("FORM").be32(0).tag("TEST").tag("_pc_").be32(0);
    body_chunk(no_pc, "VGA ", {0});
    EXPECT_TRUE(rejected(no_pc));

    byte_builder pc_past_end;
    pc_past_end.tag("FORM").be32(0).tag("TEST").tag("_PC_").be32(1000).zeros(10);
    EXPECT_TRUE(rejected(pc_past_end));

    byte_builder no_picture = form_head();
    header_chunk(no_picture, "PALT", palette_body(1, 2, 3));
    EXPECT_TRUE(rejected(no_picture));

    byte_builder cut_palette = form_head();
    cut_palette.tag("PALT").be32(768).zeros(500);
    EXPECT_TRUE(rejected(cut_palette));

    byte_builder cut_size = form_head();
    cut_size.tag("SIZE").be32(8).le32(320);
    EXPECT_TRUE(rejected(cut_size));

    byte_builder short_head;
    short_head.tag("FORM").be32(0);
    EXPECT_TRUE(rejected(short_head));
}

TEST(FormHeader, MovieAtAnOffsetInsideAnArchive) {
    byte_builder b;
    b.zeros(37);
    byte_builder movie = form_head();
    body_chunk(movie, "VGA ", {4, 5});
    body_chunk(movie, "AUDI", {1, 0, 2, 0});
    b.raw(movie.bytes);
    byte_builder next = form_head();
    body_chunk(next, "VGA ", {6});
    b.raw(next.bytes);
    movie_bytes m(b.bytes, 37);
    ASSERT_EQ(m.probe(), kind_form);
    EXPECT_EQ(read_all(), 1);
    EXPECT_EQ(last_slot, 0);
    EXPECT_EQ(slot(0).sound_total, 4);
}

// One movie that walks through the body layouts a reader call meets.
TEST(FormReader, SlotsTakePictureSoundAndPalette) {
    byte_builder b = form_head();
    header_chunk(b, "PALT", palette_body(1, 1, 1));
    header_chunk(b, "PALT", palette_body(2, 2, 2));
    header_chunk(b, "PALT", palette_body(3, 3, 3));
    std::vector<uint8_t> odd = filled(4001, 3);
    body_chunk(b, "VGA ", odd); // slot 0: odd picture, padded
    body_chunk(b, "AUDI", filled(100, 1));
    body_chunk(b, "SHOT", le32_body(1));
    body_chunk(b, "VGA ", {7});       // slot 1: palette 1, no sound
    body_chunk(b, "JUNK", {1, 2, 3}); // skipped between picture and next frame
    body_chunk(b, "SHOT", le32_body(2, 3));
    body_chunk(b, "SHOT", le32_body(1));  // slot 2: the second shot counts
    body_chunk(b, "AUDI", filled(50, 2)); // no picture, sound only
    body_chunk(b, "AUDI", filled(60, 3)); // skipped by the next call
    body_chunk(b, "VGA ", {8});           // slot 3: inherits palette 1
    body_chunk(b, "AUDI", filled(10, 4));
    body_chunk(b, "VGA ", {9}); // slot 4
    body_chunk(b, "AUDI", {});  // empty sound chunk
    b.tag("FORM").be32(0);      // next movie: the end
    body_chunk(b, "VGA ", {1});
    movie_bytes m(b.bytes);
    ASSERT_EQ(m.probe(), kind_form);
    ASSERT_EQ(palette_count, 3);
    EXPECT_EQ(read_all(), 5);
    EXPECT_TRUE(at_end);
    EXPECT_EQ(last_slot, 4);

    EXPECT_EQ(slot(0).video_length, 4001);
    EXPECT_EQ(std::vector<uint8_t>(slot(0).video, slot(0).video + 4001), odd);
    EXPECT_EQ(slot(0).palette_index, 0);
    EXPECT_EQ(slot(0).sound_total, 100);
    EXPECT_EQ(slot(0).sound_left, 100);
    EXPECT_EQ(slot(0).sound_chunk_length, 100);
    EXPECT_EQ(slot(0).sound[99], filled(100, 1)[99]);

    EXPECT_EQ(slot(1).palette_index, 1);
    EXPECT_EQ(slot(1).video_length, 1);
    EXPECT_EQ(slot(1).sound_total, silence_bytes);
    EXPECT_EQ(slot(1).sound_left, silence_bytes);

    EXPECT_EQ(slot(2).palette_index, 1);
    EXPECT_EQ(slot(2).video_length, 0);
    EXPECT_EQ(slot(2).sound_total, 50);

    EXPECT_EQ(slot(3).palette_index, 1);
    EXPECT_EQ(slot(3).video[0], 8);
    EXPECT_EQ(slot(3).sound_total, 10);
    EXPECT_EQ(slot(3).sound[0], filled(10, 4)[0]);

    EXPECT_EQ(slot(4).video[0], 9);
    EXPECT_EQ(slot(4).sound_total, 0);
}

TEST(FormReader, OversizedChunksAndStrayShotsAreDropped) {
    byte_builder b = form_head();
    header_chunk(b, "PALT", palette_body(1, 1, 1));
    header_chunk(b, "PALT", palette_body(2, 2, 2));
    body_chunk(b, "VGA ", std::vector<uint8_t>(video_capacity + 1, 1));
    body_chunk(b, "AUDI", std::vector<uint8_t>(sound_capacity + 1, 1));
    body_chunk(b, "SHOT", le32_body(1));
    body_chunk(b, "VGA ", std::vector<uint8_t>(video_capacity, 2)); // fits exactly
    body_chunk(b, "AUDI", std::vector<uint8_t>(sound_capacity, 3));
    body_chunk(b, "SHOT", le32_body(2)); // beyond the stored palettes
    body_chunk(b, "VGA ", {1});
    body_chunk(b, "SHOT", le32_body(1));
    body_chunk(b, "SHOT", {5, 0}); // too short to hold an index
    body_chunk(b, "VGA ", {1});
    body_chunk(b, "SHOT", le32_body(0xFFFFFFFF));
    body_chunk(b, "VGA ", {1});
    movie_bytes m(b.bytes);
    ASSERT_EQ(m.probe(), kind_form);
    EXPECT_EQ(read_all(), 5);
    EXPECT_EQ(slot(0).video_length, 0);
    EXPECT_EQ(slot(0).sound_total, silence_bytes);
    EXPECT_EQ(slot(0).sound_chunk_length, sound_capacity + 1);
    EXPECT_EQ(slot(0).sound[silence_bytes - 1], 0);
    EXPECT_EQ(slot(1).video_length, video_capacity);
    EXPECT_EQ(slot(1).sound_total, sound_capacity);
    EXPECT_EQ(slot(1).palette_index, 1);
    EXPECT_EQ(slot(2).palette_index, 0);
    EXPECT_EQ(slot(3).palette_index, 1);
    EXPECT_EQ(slot(4).palette_index, 0);
}

TEST(FormReader, TheEndOfTheFileEndsTheMovie) {
    auto slots_of = [](const byte_builder& b) {
        movie_bytes m(b.bytes);
        EXPECT_EQ(m.probe(), kind_form);
        int32_t n = read_all();
        EXPECT_TRUE(at_end);
        EXPECT_EQ(last_slot, n - 1);
        return n;
    };
    byte_builder whole = form_head();
    body_chunk(whole, "VGA ", {1});
    body_chunk(whole, "AUDI", {1, 2});
    EXPECT_EQ(slots_of(whole), 1);

    byte_builder cut_picture = whole;
    body_chunk(cut_picture, "VGA ", {1, 2, 3, 4});
    cut_picture.bytes.resize(cut_picture.size() - 2);
    EXPECT_EQ(slots_of(cut_picture), 1);

    byte_builder cut_sound = whole;
    body_chunk(cut_sound, "VGA ", {1});
    body_chunk(cut_sound, "AUDI", {1, 2, 3, 4});
    cut_sound.bytes.resize(cut_sound.size() - 1);
    EXPECT_EQ(slots_of(cut_sound), 2); // the picture is kept, without its sound
    EXPECT_EQ(slot(1).sound_total, silence_bytes);

    byte_builder huge_skip = whole;
    huge_skip.tag("JUNK").be32(0xFFFFFFF0).zeros(20);
    EXPECT_EQ(slots_of(huge_skip), 1);

    byte_builder lone_tag = whole; // a tag that ends exactly at the end of the file
    lone_tag.tag("VGA ");
    EXPECT_EQ(slots_of(lone_tag), 1);

    byte_builder shot_at_end = whole;
    body_chunk(shot_at_end, "SHOT", le32_body(0));
    EXPECT_EQ(slots_of(shot_at_end), 1);

    byte_builder unknown_after_picture = whole;
    body_chunk(unknown_after_picture, "VGA ", {1});
    body_chunk(unknown_after_picture, "JUNK", {1});
    EXPECT_EQ(slots_of(unknown_after_picture), 2);

    byte_builder skip_past_end = whole;
    body_chunk(skip_past_end, "VGA ", {1});
    skip_past_end.tag("JUNK").be32(1000).tag("VGA ").be32(1).zeros(8);
    EXPECT_EQ(slots_of(skip_past_end), 2);

    // An odd body read whole at the very end of the file, without its pad
    // byte: the frame keeps it, and the next tag read ends the movie.
    byte_builder unpadded_picture = whole;
    body_chunk(unpadded_picture, "VGA ", {7, 8, 9});
    unpadded_picture.bytes.pop_back();
    EXPECT_EQ(slots_of(unpadded_picture), 2);
    EXPECT_EQ(slot(1).video_length, 3);
    EXPECT_EQ(slot(1).video[2], 9);
    EXPECT_EQ(slot(1).sound_total, silence_bytes);

    byte_builder unpadded_sound = whole;
    body_chunk(unpadded_sound, "VGA ", {1});
    body_chunk(unpadded_sound, "AUDI", {5, 6, 7});
    unpadded_sound.bytes.pop_back();
    EXPECT_EQ(slots_of(unpadded_sound), 2);
    EXPECT_EQ(slot(1).sound_total, 3);
    EXPECT_EQ(slot(1).sound_left, 3);
    EXPECT_EQ(slot(1).sound[2], 7);
}

TEST(FormReader, ResetClearsTheShotIndex) {
    byte_builder b = form_head();
    header_chunk(b, "PALT", palette_body(1, 1, 1));
    header_chunk(b, "PALT", palette_body(2, 2, 2));
    body_chunk(b, "VGA ", {1});
    body_chunk(b, "SHOT", le32_body(1));
    body_chunk(b, "VGA ", {1});
    body_chunk(b, "AUDI", {0, 0});
    {
        movie_bytes m(b.bytes);
        ASSERT_EQ(m.probe(), kind_form);
        read_all();
        EXPECT_EQ(shot_palette_index, 1);
    }
    movie_bytes again(b.bytes);
    EXPECT_EQ(shot_palette_index, 0);
    EXPECT_EQ(palette_count, 0);
}

} // namespace
