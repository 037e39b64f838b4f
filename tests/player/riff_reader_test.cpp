#include "formats/riff/riff.h"
#include "riff_writer.h"

#include "mutation.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <string>
#include <unistd.h>

namespace {

struct slot_seen {
    int32_t video_length;
    int32_t sound_total;
    uint8_t first_video_byte;
};

// The player's open and read cycle on a movie built in memory, without SDL.
struct opened_movie {
    int32_t kind = 0;
    std::vector<slot_seen> slots;
    int calls = 0;
};

// Tests run in parallel processes: each gets files of its own.
std::string temp_path(const char* name) {
    return testing::TempDir() + "riff_reader_" + std::to_string(getpid()) + "_" + name;
}

opened_movie play(const std::vector<uint8_t>& bytes, int64_t offset = 0, int max_calls = 10000) {
    opened_movie m;
    std::string path = temp_path("movie.bin");
    EXPECT_TRUE(write_file(path, bytes));
    reset_movie_state();
    EXPECT_TRUE(open_movie_file(path.c_str()));
    player_options options = {path.c_str(), false, offset != 0, offset};
    m.kind = open_movie(options);
    if (m.kind == kind_riff) {
        while (!at_end && m.calls < max_calls) {
            int32_t before = slots_read;
            read_next_slot();
            ++m.calls;
            if (slots_read == before) continue;
            const FrameSlot& s = slot_ring[before % ring_size];
            EXPECT_EQ(s.sound_left, s.sound_total);
            EXPECT_LE(s.video_length, video_capacity);
            EXPECT_LE(s.sound_total, sound_capacity);
            m.slots.push_back({s.video_length, s.sound_total, s.video[0]});
        }
    }
    fclose(movie_file);
    movie_file = nullptr;
    std::remove(path.c_str());
    return m;
}

std::vector<uint8_t> bytes_of(size_t n, uint8_t first) {
    std::vector<uint8_t> b(n, 0x11);
    b[0] = first;
    return b;
}

// Head list, then the given chunks inside "movi", then optionally "idx1".
struct movie_builder {
    byte_builder b;
    size_t list_size_at;
    movie_builder() {
        put_riff_head(b, 320, 165, 15, 1);
        b.tag("LIST").le32(0);
        list_size_at = b.size() - 4;
        b.tag("movi");
    }
    movie_builder& chunk(const char* tag, const std::vector<uint8_t>& body) {
        put_riff_chunk(b, tag, body);
        return *this;
    }
    movie_builder& picture(size_t n, uint8_t first) { return chunk("00db", bytes_of(n, first)); }
    movie_builder& sound(size_t n) { return chunk("01wb", std::vector<uint8_t>(n, 0)); }
    std::vector<uint8_t> done(bool index = true) {
        b.patch_le32(list_size_at, uint32_t(b.size() - list_size_at - 4));
        if (index) chunk("idx1", std::vector<uint8_t>(16, 0));
        finish_riff_file(b);
        return b.bytes;
    }
};

TEST(RiffReader, HeaderWalkAcceptsHeadListThenChunksThenMovi) {
    EXPECT_EQ(play(movie_builder().picture(10, 1).sound(8).done()).kind, kind_riff);

    // An odd "JUNK" between the lists is skipped without a pad byte.
    byte_builder b;
    put_riff_head(b, 320, 165, 15, 1);
    b.tag("JUNK").le32(3).raw("abc", 3).tag("LIST").le32(4).tag("movi");
    put_riff_chunk(b, "01wb", std::vector<uint8_t>(8, 0));
    opened_movie m = play(b.bytes);
    EXPECT_EQ(m.kind, kind_riff);
    EXPECT_EQ(m.slots.size(), 1u);
}

TEST(RiffReader, HeaderRejections) {
    // Only the first list after the head list is looked at.
    byte_builder info;
    put_riff_head(info, 320, 165, 15, 1);
    info.tag("LIST").le32(8).tag("INFO").le32(0).tag("LIST").le32(4).tag("movi");
    EXPECT_EQ(play(info.bytes).kind, kind_none);

    byte_builder no_list;
    no_list.tag("RIFF").le32(100).tag("AVI ").tag("JUNK").le32(0);
    EXPECT_EQ(play(no_list.bytes).kind, kind_none);

    // The file ends while chunks are still being skipped, or inside a size.
    byte_builder ends;
    put_riff_head(ends, 320, 165, 15, 1);
    ends.tag("JUNK").le32(4).zeros(4);
    EXPECT_EQ(play(ends.bytes).kind, kind_none);
    byte_builder past;
    put_riff_head(past, 320, 165, 15, 1);
    past.tag("JUNK").le32(0x7FFFFFF0).zeros(8);
    EXPECT_EQ(play(past.bytes).kind, kind_none);
}

TEST(RiffReader, ProbeSetsTheFixedSizeStereoAndDepth) {
    std::string path = temp_path("probe.bin");
    ASSERT_TRUE(write_file(path, movie_builder().sound(8).done()));
    reset_movie_state();
    ASSERT_TRUE(open_movie_file(path.c_str()));
    player_options options = {path.c_str(), true, false, 0};
    EXPECT_EQ(open_movie(options), kind_riff);
    EXPECT_EQ(movie_width, 640);
    EXPECT_EQ(movie_height, 330);
    EXPECT_EQ(movie_depth, 16);
    EXPECT_EQ(movie_stereo, 1);
    fclose(movie_file);
    movie_file = nullptr;
    std::remove(path.c_str());
}

TEST(RiffReader, PicturesSoundsAndPadBytes) {
    opened_movie m =
        play(movie_builder().picture(5001, 7).sound(4000).picture(6, 8).sound(4).done());
    ASSERT_EQ(m.slots.size(), 2u);
    EXPECT_EQ(m.slots[0].video_length, 5001);
    EXPECT_EQ(m.slots[0].first_video_byte, 7);
    EXPECT_EQ(m.slots[0].sound_total, 7996);
    EXPECT_EQ(m.slots[1].video_length, 6);
    EXPECT_EQ(m.slots[1].first_video_byte, 8);
    EXPECT_EQ(m.slots[1].sound_total, 4);
}

TEST(RiffReader, ChunksOutOfStepGiveSilenceOrPicturelessSlots) {
    // "JUNK" between a picture and its sound; then two pictures in a row;
    // then a sound alone.
    opened_movie m = play(movie_builder()
                              .picture(10, 1)
                              .chunk("JUNK", {1, 2, 3})
                              .sound(100)
                              .picture(10, 2)
                              .picture(10, 3)
                              .sound(20)
                              .done());
    ASSERT_EQ(m.slots.size(), 4u);
    EXPECT_EQ(m.slots[0].video_length, 10);
    EXPECT_EQ(m.slots[0].sound_total, silence_bytes);
    EXPECT_EQ(m.slots[1].video_length, 0);
    EXPECT_EQ(m.slots[1].sound_total, 196);
    EXPECT_EQ(m.slots[2].first_video_byte, 2);
    EXPECT_EQ(m.slots[2].sound_total, silence_bytes);
    EXPECT_EQ(m.slots[3].first_video_byte, 3);
    EXPECT_EQ(m.slots[3].sound_total, 36);
}

TEST(RiffReader, UnknownChunksAreSkippedAndTheMovieEnds) {
    opened_movie m = play(movie_builder()
                              .chunk("LIST", bytes_of(9, 0))
                              .picture(4, 5)
                              .sound(8)
                              .chunk("zzzz", {})
                              .chunk("JUNK", bytes_of(3, 0))
                              .sound(8)
                              .done());
    ASSERT_EQ(m.slots.size(), 2u);
    EXPECT_EQ(m.slots[0].first_video_byte, 5);
    EXPECT_EQ(m.slots[1].video_length, 0);
    EXPECT_EQ(m.slots[1].sound_total, 12);
    EXPECT_EQ(m.calls, 3);
}

// The end tests belong where a slot starts: a tag read after filler is not
// tested, so filler before "idx1" (or before the file's last tag) still gives
// one slot of silence, and the next call ends the movie.
TEST(RiffReader, TagAfterFillerIsNotAnEnd) {
    opened_movie m =
        play(movie_builder().picture(10, 1).sound(8).chunk("JUNK", bytes_of(3, 0)).done());
    ASSERT_EQ(m.slots.size(), 2u);
    EXPECT_EQ(m.slots[1].video_length, 0);
    EXPECT_EQ(m.slots[1].sound_total, silence_bytes);
    EXPECT_EQ(m.calls, 3);

    movie_builder last;
    last.sound(8).chunk("JUNK", bytes_of(5, 0));
    last.b.tag("zzzz");
    opened_movie tail = play(last.done(false));
    ASSERT_EQ(tail.slots.size(), 2u);
    EXPECT_EQ(tail.slots[1].sound_total, silence_bytes);
    EXPECT_EQ(tail.calls, 3);
}

TEST(RiffReader, OversizedAndUndersizedBodiesAreDropped) {
    opened_movie m = play(movie_builder()
                              .picture(video_capacity + 1, 9)
                              .sound(10001)
                              .picture(3, 4)
                              .sound(3)
                              .sound(10000)
                              .done());
    ASSERT_EQ(m.slots.size(), 3u);
    EXPECT_EQ(m.slots[0].video_length, 0);
    EXPECT_EQ(m.slots[0].sound_total, silence_bytes);
    EXPECT_EQ(m.slots[1].video_length, 3);
    EXPECT_EQ(m.slots[1].sound_total, silence_bytes);
    EXPECT_EQ(m.slots[2].sound_total, 19996);
}

TEST(RiffReader, EndsAtIdx1InAnArchiveAndAtTheFileEndWithout) {
    std::vector<uint8_t> movie = movie_builder().picture(10, 1).sound(8).done();
    // Another movie's chunks follow in the archive; they are never reached.
    std::vector<uint8_t> archive(64, 0);
    archive.insert(archive.end(), movie.begin(), movie.end());
    std::vector<uint8_t> more = movie_builder().picture(10, 2).sound(8).done();
    archive.insert(archive.end(), more.begin() + 24, more.end());
    opened_movie m = play(archive, 64);
    EXPECT_EQ(m.kind, kind_riff);
    EXPECT_EQ(m.slots.size(), 1u);
    EXPECT_EQ(m.calls, 2);

    opened_movie open_ended = play(movie_builder().picture(10, 1).sound(8).sound(8).done(false));
    EXPECT_EQ(open_ended.slots.size(), 2u);

    // A truncated picture body ends the movie; slots before it remain.
    std::vector<uint8_t> cut = movie_builder().sound(8).picture(100, 1).done(false);
    cut.resize(cut.size() - 50);
    EXPECT_EQ(play(cut).slots.size(), 1u);
}

TEST(RiffReader, DemoMovieGivesOnePictureAndOneSoundPerSlot) {
    opened_movie m = play(write_riff_movie(make_riff_demo_frames(20), 320, 165, 15));
    ASSERT_EQ(m.slots.size(), 20u);
    for (const slot_seen& s : m.slots) {
        EXPECT_GT(s.video_length, 20);
        EXPECT_EQ(s.sound_total, 2 * 1470 * 2);
    }
}

// Damaged movies: every call consumes input or ends the movie, and nothing
// lands outside a slot (the sanitizer build watches the buffers).
TEST(RiffReader, FuzzedMoviesEnd) {
    std::vector<uint8_t> base = movie_builder()
                                    .picture(300, 1)
                                    .sound(41)
                                    .chunk("JUNK", bytes_of(5, 0))
                                    .picture(77, 2)
                                    .sound(400)
                                    .sound(9)
                                    .done();
    std::mt19937 rng(7);
    for (int round = 0; round < 300; ++round) {
        mutation_plan plan;
        plan.tags = {"RIFF", "LIST", "JUNK", "00db", "01wb", "idx1", "movi"};
        plan.values32 = {3, 4, 5, 10000, 10001, 100000, 100001};
        plan.most_edits = 8;
        std::vector<uint8_t> bytes = mutate_bytes(base, rng, plan);
        if (round % 10 == 0) {
            bytes.resize(rng() % 200);
            for (auto& b : bytes) b = uint8_t(rng());
        }
        opened_movie m = play(bytes, 0, int(bytes.size()) + 10);
        if (m.kind == kind_riff) {
            EXPECT_LE(m.calls, int(bytes.size()) / 4 + 2);
        }
    }
}

} // namespace
