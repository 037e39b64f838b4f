#include "sead_test_support.h"

#include <algorithm>
#include <tuple>

namespace {

std::vector<uint8_t> small_key_frame(int w = 8, int h = 4) {
    std::vector<uint8_t> image(size_t(w * h));
    for (size_t i = 0; i < image.size(); ++i) image[i] = uint8_t(i);
    return write_sead_key_frame(w, h, sead_palette{}, image.data());
}

byte_builder movie_start(const std::vector<uint8_t>& first_picture, const char* tag = "KVGT") {
    byte_builder b;
    add_chunk(b, "SEAD", {1, 2, 3, 4});
    add_chunk(b, tag, first_picture);
    return b;
}

const FrameSlot& slot(int n) {
    return slot_ring[n % ring_size];
}

TEST(SeadReader, PicturesAndSoundInPairsThenTheEndTag) {
    auto key = small_key_frame();
    auto block = counting_bytes(40, 3);
    auto s0 = counting_bytes(100, 1), s1 = counting_bytes(50, 7);
    byte_builder b = movie_start(key);
    add_chunk(b, "SNDC", s0);
    add_chunk(b, "BVGT", block);
    add_chunk(b, "SNDC", s1);
    b.tag("SEND").le32(8);
    sead_movie_on_disk m("pairs");
    ASSERT_EQ(m.open(b.bytes), kind_sead);
    EXPECT_EQ(movie_width, 8);
    EXPECT_EQ(movie_height, 4);
    EXPECT_EQ(movie_stereo, 1);
    EXPECT_EQ(movie_depth, 8);

    read_next_slot();
    read_next_slot();
    EXPECT_EQ(slots_read, 2);
    EXPECT_FALSE(at_end);
    read_next_slot();
    EXPECT_TRUE(at_end);
    EXPECT_EQ(last_slot, 1);
    EXPECT_EQ(slots_read, 2);

    EXPECT_EQ(std::vector<uint8_t>(slot(0).video, slot(0).video + slot(0).video_length), key);
    EXPECT_EQ(std::vector<uint8_t>(slot(1).video, slot(1).video + slot(1).video_length), block);
    EXPECT_EQ(slot(0).sound_chunk_length, 100);
    EXPECT_EQ(slot(0).sound_total, 400);
    EXPECT_EQ(slot(0).sound_left, 400);
    EXPECT_EQ(slot(1).sound_chunk_length, 50);
    EXPECT_EQ(slot(1).sound_total, 200);

    // The sound state runs on from the first chunk into the second.
    std::vector<uint8_t> all = s0;
    all.insert(all.end(), s1.begin(), s1.end());
    std::vector<uint8_t> pcm(4 * all.size());
    sead_sound_state fresh{};
    decode_sead_sound_with(fresh, all.data(), pcm.data(), int32_t(all.size()));
    EXPECT_TRUE(std::equal(slot(0).sound, slot(0).sound + 400, pcm.begin()));
    EXPECT_TRUE(std::equal(slot(1).sound, slot(1).sound + 200, pcm.begin() + 400));
}

TEST(SeadReader, SoundWithoutPictureAndPictureWithoutSound) {
    byte_builder b = movie_start(small_key_frame());
    add_chunk(b, "SNDC", counting_bytes(20));
    add_chunk(b, "SNDC", counting_bytes(30));    // a slot of its own, no picture
    add_chunk(b, "BVGT", counting_bytes(16));    // followed by another picture:
    add_chunk(b, "bVGT", counting_bytes(24, 9)); // the tag is put back
    add_chunk(b, "SNDC", counting_bytes(10));
    add_chunk(b, "KVGT", small_key_frame()); // followed by the end tag
    b.tag("SEND").le32(8);
    sead_movie_on_disk m("unpaired");
    ASSERT_EQ(m.open(b.bytes), kind_sead);
    EXPECT_EQ(m.read_all(), 5);
    EXPECT_EQ(last_slot, 4);
    EXPECT_EQ(slot(1).video_length, 0);
    EXPECT_EQ(slot(1).sound_total, 120);
    EXPECT_EQ(slot(2).video_length, 16);
    EXPECT_EQ(slot(2).sound_total, silence_bytes);
    EXPECT_EQ(slot(2).sound_left, silence_bytes);
    EXPECT_TRUE(std::all_of(slot(2).sound, slot(2).sound + silence_bytes,
                            [](uint8_t v) { return v == 0; }));
    EXPECT_EQ(slot(3).video_length, 24);
    EXPECT_EQ(slot(3).video[0], 9);
    EXPECT_EQ(slot(3).sound_total, 40);
    EXPECT_EQ(slot(4).video_length, int32_t(small_key_frame().size()));
    EXPECT_EQ(slot(4).sound_total, silence_bytes);
}

TEST(SeadReader, PictureTagsAreKnownByTheirLastThreeCharacters) {
    byte_builder b = movie_start(small_key_frame(), "\x01VGT");
    add_chunk(b, "SNDC", counting_bytes(4));
    add_chunk(b, "zVGT", counting_bytes(12));
    add_chunk(b, "SNDC", counting_bytes(4));
    add_chunk(b, "VGTz", counting_bytes(12)); // not a picture: stepped over
    add_chunk(b, "SNDC", counting_bytes(4));
    b.tag("SEND").le32(8);
    sead_movie_on_disk m("tags");
    ASSERT_EQ(m.open(b.bytes), kind_sead);
    EXPECT_EQ(m.read_all(), 4);
    EXPECT_GT(slot(0).video_length, 0);
    EXPECT_EQ(slot(1).video_length, 12);
    EXPECT_EQ(slot(2).video_length, 0);
    EXPECT_EQ(slot(2).sound_total, silence_bytes);
    EXPECT_EQ(slot(3).video_length, 0);
    EXPECT_EQ(slot(3).sound_total, 16);
}

TEST(SeadReader, EndWithoutTheEndTag) {
    byte_builder b = movie_start(small_key_frame());
    add_chunk(b, "SNDC", counting_bytes(8));
    {
        sead_movie_on_disk m("no_end");
        ASSERT_EQ(m.open(b.bytes), kind_sead);
        EXPECT_EQ(m.read_all(), 1);
        EXPECT_EQ(last_slot, 0);
    }
    {
        // A tag that is the file's last four bytes ends the movie, even "SNDC".
        byte_builder c = b;
        c.tag("SNDC");
        sead_movie_on_disk m("last_tag");
        ASSERT_EQ(m.open(c.bytes), kind_sead);
        EXPECT_EQ(m.read_all(), 1);
    }
    {
        // Fewer than four bytes left: a short tag read.
        byte_builder c = b;
        c.u8('S').u8('E');
        sead_movie_on_disk m("short_tag");
        ASSERT_EQ(m.open(c.bytes), kind_sead);
        EXPECT_EQ(m.read_all(), 1);
    }
    {
        // Data after the end tag (as in an archive) is never read.
        byte_builder c = b;
        c.tag("SEND").le32(8);
        add_chunk(c, "SNDC", counting_bytes(8));
        sead_movie_on_disk m("after_end");
        ASSERT_EQ(m.open(c.bytes), kind_sead);
        EXPECT_EQ(m.read_all(), 1);
    }
    {
        // A picture cut short by the end of the file: the slot has no picture.
        byte_builder c = b;
        c.tag("BVGT").le32(1000).zeros(10);
        sead_movie_on_disk m("cut_picture");
        ASSERT_EQ(m.open(c.bytes), kind_sead);
        EXPECT_EQ(m.read_all(), 2);
        EXPECT_EQ(slot(1).video_length, 0);
        EXPECT_EQ(slot(1).sound_total, silence_bytes);
    }
    {
        // Sound cut short keeps the samples it holds.
        byte_builder c = b;
        c.tag("SNDC").le32(1000).zeros(10);
        sead_movie_on_disk m("cut_sound");
        ASSERT_EQ(m.open(c.bytes), kind_sead);
        EXPECT_EQ(m.read_all(), 2);
        EXPECT_EQ(slot(1).sound_total, 40);
    }
}

TEST(SeadReader, ChunkSizesBelowTheHeadEndTheMovie) {
    for (const char* tag : {"BVGT", "SNDC", "JUNK"}) {
        byte_builder b = movie_start(small_key_frame());
        add_chunk(b, "SNDC", counting_bytes(8));
        b.tag(tag).le32(7).zeros(20);
        add_chunk(b, "SNDC", counting_bytes(8));
        sead_movie_on_disk m("small_size");
        ASSERT_EQ(m.open(b.bytes), kind_sead);
        EXPECT_EQ(m.read_all(), 1) << tag;
        EXPECT_EQ(last_slot, 0) << tag;
    }
}

TEST(SeadReader, OversizeBodiesAreConsumedAndDropped) {
    byte_builder b = movie_start(small_key_frame());
    add_chunk(b, "SNDC", counting_bytes(8));
    add_chunk(b, "BVGT", counting_bytes(size_t(video_capacity) + 1));
    add_chunk(b, "SNDC", counting_bytes(16));
    add_chunk(b, "BVGT", counting_bytes(size_t(video_capacity), 5));
    add_chunk(b, "SNDC", counting_bytes(size_t(sound_scratch_capacity) + 1));
    add_chunk(b, "SNDC", counting_bytes(size_t(sound_scratch_capacity)));
    b.tag("SEND").le32(8);
    sead_movie_on_disk m("oversize");
    ASSERT_EQ(m.open(b.bytes), kind_sead);
    EXPECT_EQ(m.read_all(), 4);
    EXPECT_EQ(slot(1).video_length, 0);
    EXPECT_EQ(slot(1).sound_total, 64);
    EXPECT_EQ(slot(2).video_length, video_capacity);
    EXPECT_EQ(slot(2).video[0], 5);
    EXPECT_EQ(slot(2).sound_chunk_length, sound_scratch_capacity + 1);
    EXPECT_EQ(slot(2).sound_total, silence_bytes);
    EXPECT_EQ(slot(3).sound_total, sound_capacity);
}

TEST(SeadReader, UnknownChunksAndPictureChunksWithoutPictureSizeAreSteppedOver) {
    byte_builder b = movie_start(small_key_frame());
    add_chunk(b, "SNDC", counting_bytes(8));
    add_chunk(b, "JUNK", counting_bytes(10));
    add_chunk(b, "SNDC", counting_bytes(12));
    sead_movie_on_disk m("junk");
    ASSERT_EQ(m.open(b.bytes), kind_sead);
    EXPECT_EQ(m.read_all(), 3);
    EXPECT_EQ(slot(1).sound_total, silence_bytes);
    EXPECT_EQ(slot(2).sound_total, 48);

    // Width 0: no picture chunk is ever taken as a picture.
    byte_builder z = movie_start(small_key_frame(0, 4));
    add_chunk(z, "SNDC", counting_bytes(8));
    sead_movie_on_disk n("no_width");
    ASSERT_EQ(n.open(z.bytes), kind_sead);
    EXPECT_EQ(movie_width, 0);
    EXPECT_EQ(n.read_all(), 2);
    EXPECT_EQ(slot(0).sound_total, silence_bytes);
    EXPECT_EQ(slot(1).sound_total, 32);
}

TEST(SeadReader, HeaderTakesTheSizeFromTheChunkAfterTheFirst) {
    byte_builder b;
    add_chunk(b, "SEAD", counting_bytes(33));
    add_chunk(b, "XXXX", {0x40, 0x01, 0xA0, 0x00, 1, 2, 3}); // its tag is not looked at
    sead_movie_on_disk m("header");
    ASSERT_EQ(m.open(b.bytes, true), kind_sead);
    EXPECT_EQ(movie_width, 640);
    EXPECT_EQ(movie_height, 320);
    // The reader starts at that chunk.
    read_next_slot();
    EXPECT_EQ(slots_read, 1);
    EXPECT_EQ(slot(0).sound_total, silence_bytes);

    for (auto [w, h, kind] : {std::tuple{480, 440, kind_sead}, std::tuple{481, 440, kind_none},
                              std::tuple{65535, 65535, kind_none}}) {
        byte_builder c;
        add_chunk(c, "SEAD", {});
        add_chunk(c, "KVGT", byte_builder().le16(uint32_t(w)).le16(uint32_t(h)).bytes);
        EXPECT_EQ(m.open(c.bytes), kind) << w << " x " << h;
    }
    byte_builder bad;
    bad.tag("SEAD").le32(4).zeros(40);
    EXPECT_EQ(m.open(bad.bytes), kind_none);
}

TEST(SeadReader, SlotPicturesReachTheDecoderThroughTheKindTable) {
    std::vector<uint8_t> image(16 * 8);
    for (size_t i = 0; i < image.size(); ++i) image[i] = uint8_t(200 - i);
    byte_builder b;
    add_chunk(b, "SEAD", {});
    add_chunk(b, "BVGT", // the tag does not make it a block frame
              write_sead_key_frame(16, 8, sead_palette{}, image.data()));
    add_chunk(b, "SNDC", counting_bytes(4));
    sead_movie_on_disk m("dispatch");
    ASSERT_EQ(m.open(b.bytes), kind_sead);
    m.read_all();
    decode_slot_picture(&slot(0));
    EXPECT_TRUE(std::equal(image.begin(), image.end(), frame_pixels));
    // Starting over clears the decoder's reference.
    sead_movie_on_disk n("dispatch_again");
    byte_builder c;
    add_chunk(c, "SEAD", {});
    add_chunk(c, "KVGT", write_sead_key_frame(16, 8, sead_palette{}, image.data()));
    sead_block_frame still;
    still.vectors = {{0, 0}};
    still.codes.assign(8, 0);
    add_chunk(c, "BVGT", write_sead_block_frame(still));
    add_chunk(c, "SNDC", counting_bytes(4));
    ASSERT_EQ(n.open(c.bytes), kind_sead);
    n.read_all();
    ASSERT_EQ(slots_read, 2);
    decode_slot_picture(&slot(1));
    EXPECT_EQ(std::count(frame_pixels, frame_pixels + 128, 0), 128);
}

} // namespace
