#include "bytes.h"
#include "formats/schl/schl.h"
#include "movie.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

namespace {

std::string temp_path(const char* name) {
    return (std::filesystem::temp_directory_path() /
            (std::string("schl_container_") + std::to_string(getpid()) + "_" + name))
        .string();
}

byte_builder& chunk(byte_builder& b, const char* tag, const std::vector<uint8_t>& body) {
    return b.tag(tag).le32(uint32_t(body.size() + 8)).raw(body);
}

// "SCHl" header whose field list starts at body offset 14 (or 11 after 0xFD).
std::vector<uint8_t> header_body(const std::vector<uint8_t>& fields, bool short_form = false) {
    std::vector<uint8_t> body(short_form ? 11 : 14, 0);
    if (short_form) body[10] = 0xFD;
    body.insert(body.end(), fields.begin(), fields.end());
    return body;
}

std::vector<uint8_t> picture_chunk_body(int width, int height, const std::vector<uint8_t>& coded) {
    byte_builder b;
    b.le16(width).le16(height).zeros(4).raw(coded);
    return b.bytes;
}

std::vector<uint8_t> sound_chunk_body(uint32_t seed0, uint32_t seed1,
                                      const std::vector<uint8_t>& coded) {
    byte_builder b;
    b.zeros(4).le32(seed0).le32(seed1).raw(coded);
    return b.bytes;
}

struct opened_movie {
    std::string path;
    int32_t kind = 0;
    ~opened_movie() {
        if (movie_file) fclose(movie_file);
        movie_file = nullptr;
        std::filesystem::remove(path);
    }
};

// Writes bytes, opens them as the player does, returns the kind.
int32_t open_bytes(opened_movie& m, const std::vector<uint8_t>& bytes, uint8_t stereo = 0,
                   int32_t offset = 0) {
    reset_movie_state();
    EXPECT_TRUE(write_file(m.path, bytes));
    EXPECT_TRUE(open_movie_file(m.path.c_str()));
    movie_stereo = stereo;
    player_options o{m.path.c_str(), false, true, offset};
    m.kind = open_movie(o);
    return m.kind;
}

// Reads slots until the end (bounded); returns how many were read.
int read_all_slots(int limit = 1000) {
    for (int i = 0; i < limit && !at_end; ++i) read_next_slot();
    EXPECT_TRUE(at_end) << "the reader did not end";
    EXPECT_EQ(last_slot, slots_read - 1);
    return slots_read;
}

const FrameSlot& slot(int n) {
    return slot_ring[n % ring_size];
}

uint8_t stereo_after(const std::vector<uint8_t>& header, uint8_t before) {
    byte_builder b;
    chunk(b, "SCHl", header);
    chunk(b, "SCEl", {});
    opened_movie m{temp_path("stereo")};
    EXPECT_EQ(open_bytes(m, b.bytes, before), kind_schl);
    return movie_stereo;
}

TEST(SchlHeader, ChannelCountFieldSetsOrKeepsStereo) {
    EXPECT_EQ(stereo_after(header_body({0x82, 1, 2, 0x83, 0}, true), 0), 1);
    EXPECT_EQ(stereo_after(header_body({0x82, 1, 1, 0x83, 0}, true), 1), 0);
    EXPECT_EQ(stereo_after(header_body({0x82, 1, 3, 0x83, 0}, true), 1), 1);
    EXPECT_EQ(stereo_after(header_body({0x82, 1, 3, 0x83, 0}, true), 0), 0);
    EXPECT_EQ(stereo_after(header_body({0x82, 1, 2, 0x83, 0}), 0), 1);
    // 0xFD only at body byte 10 moves the list to 11.
    EXPECT_EQ(stereo_after(header_body({0, 0, 0, 0x82, 1, 2}, true), 0), 0);
}

TEST(SchlHeader, FieldWalkSkipsAndStops) {
    EXPECT_EQ(stereo_after(header_body({0x83, 1, 0x82, 1, 2}), 0), 0);
    EXPECT_EQ(stereo_after(header_body({0x85, 3, 0x82, 1, 1, 0x82, 1, 2}), 0), 1);
    EXPECT_EQ(stereo_after(header_body({0x80, 1, 0, 0x82, 1, 2}), 0), 0);
    // A length running past the body ends the walk without reading beyond it.
    EXPECT_EQ(stereo_after(header_body({0x85, 250}), 0), 0);
    EXPECT_EQ(stereo_after(header_body({0x82}), 0), 0);
    // A body longer than the 80-byte field buffer: the fields inside it still count.
    std::vector<uint8_t> long_fields = {0x82, 1, 2};
    for (int i = 0; i < 40; ++i) long_fields.insert(long_fields.end(), {0x85, 0});
    EXPECT_EQ(stereo_after(header_body(long_fields), 0), 1);
}

TEST(SchlHeader, LaterHeaderChunksAreParsedAgain) {
    byte_builder b;
    chunk(b, "SCHl", header_body({0x82, 1, 2, 0x83, 0}));
    chunk(b, "SCCl", {1, 2, 3});
    chunk(b, "SCHl", header_body({0x82, 1, 1, 0x83, 0}));
    chunk(b, "pIQT", picture_chunk_body(48, 32, {}));
    opened_movie m{temp_path("twice")};
    EXPECT_EQ(open_bytes(m, b.bytes), kind_schl);
    EXPECT_EQ(movie_stereo, 0);
    EXPECT_EQ(movie_width, 48);
    EXPECT_EQ(movie_height, 32);
    EXPECT_EQ(movie_depth, 16);
}

TEST(SchlHeader, SoundBeforeAnyPictureMeansNoPictureSize) {
    byte_builder b;
    chunk(b, "SCHl", header_body({0x83}));
    chunk(b, "SCDl", sound_chunk_body(0, 0, std::vector<uint8_t>(15)));
    chunk(b, "pIQT", picture_chunk_body(96, 96, {1, 2, 3, 4}));
    chunk(b, "SCDl", sound_chunk_body(0, 0, std::vector<uint8_t>(30)));
    opened_movie m{temp_path("sound_first")};
    EXPECT_EQ(open_bytes(m, b.bytes), kind_schl);
    EXPECT_EQ(movie_width, 0);
    EXPECT_EQ(movie_height, 0);
    // The picture chunk is skipped by its size (the movie goes on to its end).
    EXPECT_EQ(read_all_slots(), 2);
    EXPECT_EQ(slot(0).sound_total, 56);
    EXPECT_EQ(slot(1).sound_total, 112);
}

TEST(SchlHeader, HeaderThatRunsToTheEndOfTheFileStops) {
    byte_builder b;
    chunk(b, "SCHl", header_body({0x82, 1, 2}));
    chunk(b, "SCCl", {});
    b.tag("SCHl").le32(8);
    opened_movie m{temp_path("no_body")};
    EXPECT_EQ(open_bytes(m, b.bytes), kind_schl);
    EXPECT_EQ(movie_width, 0);
    EXPECT_EQ(movie_stereo, 1);
    EXPECT_EQ(read_all_slots(), 0);
}

TEST(SchlReader, TakesOnePictureAndOneSoundPerSlot) {
    std::vector<uint8_t> picture(100, 0xAB);
    byte_builder b;
    chunk(b, "SCHl", header_body({0x82, 1, 1, 0x83, 0}));
    chunk(b, "SCCl", {9, 9});
    chunk(b, "pIQT", picture_chunk_body(32, 16, picture));
    chunk(b, "SCCl", {});
    std::vector<uint8_t> sound(15 * 3 + 4, 0);
    sound[0] = 0x1C; // decay: index 1, shift 12, residuals 0
    chunk(b, "SCDl", sound_chunk_body(0x00100064, 7, sound));
    chunk(b, "SCCl", {1});
    chunk(b, "pIQT", picture_chunk_body(32, 16, {1, 2, 3}));
    chunk(b, "pIQT", picture_chunk_body(32, 16, {4, 5}));
    chunk(b, "SCEl", {});
    chunk(b, "pIQT", picture_chunk_body(32, 16, {6})); // after the end: never read
    opened_movie m{temp_path("sequence")};
    EXPECT_EQ(open_bytes(m, b.bytes), kind_schl);
    EXPECT_EQ(read_all_slots(), 3);
    EXPECT_EQ(slot(0).video_length, 100);
    EXPECT_EQ(slot(0).video[99], 0xAB);
    EXPECT_EQ(slot(0).sound_chunk_length, 45);
    EXPECT_EQ(slot(0).sound_total, 3 * 56);
    EXPECT_EQ(slot(0).sound_left, 3 * 56);
    EXPECT_EQ(slot(0).sound_seed[0], 0x00100064u);
    EXPECT_EQ(slot(0).sound_seed[1], 7u);
    // Seeded with h1 = 100, the first sample decays by the first pair.
    EXPECT_EQ(int16_t(slot(0).sound[0] | slot(0).sound[1] << 8), (240 * 100 + 128) >> 8);
    // A picture followed by a picture: silence, and the next slot takes it.
    EXPECT_EQ(slot(1).video_length, 3);
    EXPECT_EQ(slot(1).sound_total, silence_bytes);
    EXPECT_EQ(slot(2).video_length, 2);
    EXPECT_EQ(slot(2).video[1], 5);
}

TEST(SchlReader, StereoDropsTheIncompleteBlock) {
    byte_builder b;
    chunk(b, "SCHl", header_body({0x82, 1, 2, 0x83, 0}));
    chunk(b, "SCDl", sound_chunk_body(0, 0, std::vector<uint8_t>(59, 0)));
    chunk(b, "SCEl", {});
    opened_movie m{temp_path("stereo59")};
    EXPECT_EQ(open_bytes(m, b.bytes), kind_schl);
    EXPECT_EQ(read_all_slots(), 1);
    EXPECT_EQ(slot(0).sound_total, 112);
    EXPECT_EQ(slot(0).sound_chunk_length, 30);
}

TEST(SchlReader, SoundBeforeThePictureComesInTheSlotBefore) {
    byte_builder b;
    chunk(b, "SCHl", header_body({0x83}));
    chunk(b, "pIQT", picture_chunk_body(16, 16, {1}));
    chunk(b, "SCDl", sound_chunk_body(0, 0, std::vector<uint8_t>(15)));
    chunk(b, "SCDl", sound_chunk_body(0, 0, std::vector<uint8_t>(30)));
    chunk(b, "pIQT", picture_chunk_body(16, 16, {1, 2}));
    chunk(b, "SCEl", {});
    opened_movie m{temp_path("sound_between")};
    open_bytes(m, b.bytes);
    EXPECT_EQ(read_all_slots(), 3);
    EXPECT_EQ(slot(0).video_length, 1);
    EXPECT_EQ(slot(1).video_length, 0);
    EXPECT_EQ(slot(1).sound_total, 112);
    EXPECT_EQ(slot(2).video_length, 2);
    EXPECT_EQ(slot(2).sound_total, silence_bytes);
}

TEST(SchlReader, UnknownChunksAreSkippedBySizeAndSmallSizesEnd) {
    byte_builder b;
    chunk(b, "SCHl", header_body({0x83}));
    chunk(b, "pIQT", picture_chunk_body(16, 16, {1}));
    chunk(b, "XXXX", {1, 2, 3, 4, 5});
    chunk(b, "pIQT", picture_chunk_body(16, 16, {1, 2}));
    chunk(b, "SCEl", {});
    opened_movie m{temp_path("unknown")};
    open_bytes(m, b.bytes);
    EXPECT_EQ(read_all_slots(), 2);
    EXPECT_EQ(slot(1).video_length, 2);

    byte_builder c;
    chunk(c, "SCHl", header_body({0x83}));
    chunk(c, "pIQT", picture_chunk_body(16, 16, {1}));
    c.tag("XXXX").le32(4).zeros(40);
    opened_movie n{temp_path("small")};
    open_bytes(n, c.bytes);
    EXPECT_EQ(read_all_slots(), 1);
}

TEST(SchlReader, ChunksTooSmallOrTooLargeForTheBuffersAreDropped) {
    byte_builder b;
    chunk(b, "SCHl", header_body({0x83}));
    chunk(b, "pIQT", picture_chunk_body(16, 16, {}));
    chunk(b, "SCDl", std::vector<uint8_t>(8)); // 16 bytes: shorter than 20
    b.tag("pIQT").le32(12).zeros(4);           // shorter than 16
    chunk(b, "SCDl", sound_chunk_body(0, 0, std::vector<uint8_t>(10001)));
    chunk(b, "pIQT", picture_chunk_body(16, 16, std::vector<uint8_t>(100001)));
    chunk(b, "pIQT", picture_chunk_body(16, 16, {7}));
    chunk(b, "SCEl", {});
    opened_movie m{temp_path("sizes")};
    open_bytes(m, b.bytes);
    EXPECT_EQ(read_all_slots(), 4);
    EXPECT_EQ(slot(0).video_length, 0);
    EXPECT_EQ(slot(0).sound_total, silence_bytes);
    EXPECT_EQ(slot(1).video_length, 0);
    EXPECT_EQ(slot(1).sound_total, silence_bytes);
    EXPECT_EQ(slot(2).video_length, 0);
    EXPECT_EQ(slot(3).video_length, 1);
}

TEST(SchlReader, MovieWithoutEndChunkEndsAtTheFileEnd) {
    byte_builder b;
    chunk(b, "SCHl", header_body({0x83}));
    chunk(b, "pIQT", picture_chunk_body(16, 16, {1}));
    chunk(b, "SCDl", sound_chunk_body(0, 0, std::vector<uint8_t>(15)));
    chunk(b, "pIQT", picture_chunk_body(16, 16, {2})); // the last picture is kept
    opened_movie m{temp_path("no_end")};
    open_bytes(m, b.bytes);
    EXPECT_EQ(read_all_slots(), 2);
    EXPECT_EQ(slot(1).video[0], 2);

    // A picture chunk cut short ends the movie before it.
    b.bytes.resize(b.bytes.size() - 1);
    opened_movie n{temp_path("cut")};
    open_bytes(n, b.bytes);
    EXPECT_EQ(read_all_slots(), 1);
}

TEST(SchlProbe, BarePictureStreamPlaysAt96By96) {
    byte_builder b;
    b.zeros(10); // the stream starts at an offset, as inside an archive
    chunk(b, "pIQT", picture_chunk_body(32, 32, {1, 2, 3}));
    chunk(b, "pIQT", picture_chunk_body(32, 32, {4}));
    opened_movie m{temp_path("bare")};
    EXPECT_EQ(open_bytes(m, b.bytes, 1, 10), kind_schl);
    EXPECT_EQ(movie_width, 96);
    EXPECT_EQ(movie_height, 96);
    EXPECT_EQ(movie_depth, 16);
    EXPECT_EQ(movie_stereo, 1); // untouched
    EXPECT_EQ(read_all_slots(), 2);
    EXPECT_EQ(slot(0).video_length, 3);
    EXPECT_EQ(slot(0).sound_total, silence_bytes);
    EXPECT_EQ(slot(1).video[0], 4);
}

TEST(SchlProbe, TagsAreCaseSensitive) {
    for (const char* tag : {"schl", "PIQT", "SCH\0"}) {
        byte_builder b;
        b.raw(tag, 4).le32(8);
        chunk(b, "pIQT", picture_chunk_body(16, 16, {}));
        opened_movie m{temp_path("case")};
        EXPECT_EQ(open_bytes(m, b.bytes), kind_none) << tag;
    }
}

} // namespace
