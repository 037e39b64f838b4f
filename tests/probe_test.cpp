#include "bytes.h"
#include "movie.h"

#include <gtest/gtest.h>

#include <cstdio>

namespace {

// Opens bytes as the player's movie file, from a fresh state.
void open_bytes(const std::vector<uint8_t>& bytes) {
    reset_movie_state();
    movie_file = tmpfile();
    ASSERT_NE(movie_file, nullptr);
    fwrite(bytes.data(), 1, bytes.size(), movie_file);
    fflush(movie_file);
    file_size = int32_t(bytes.size());
    rewind(movie_file);
}

int32_t probe_at(int32_t offset) {
    start_offset = offset;
    int32_t w = 0, h = 0, depth = 0;
    uint8_t stereo = 0;
    int32_t kind = probe_movie(movie_file, &w, &h, &stereo, &depth);
    fclose(movie_file);
    movie_file = nullptr;
    return kind;
}

TEST(Probe, UnrecognisedTagsAreNothingPlayable) {
    for (const char* tag : {"JUNK", "schl", "Form", "FOR\0", "RIF", ""}) {
        byte_builder b;
        b.raw(tag, strlen(tag)).zeros(64);
        open_bytes(b.bytes);
        EXPECT_EQ(probe_at(0), kind_none) << tag;
    }
}

TEST(Probe, TagWithAZeroByteComparesAsAShorterString) {
    byte_builder b;
    b.raw("FO\0M", 4).zeros(64);
    open_bytes(b.bytes);
    EXPECT_EQ(probe_at(0), kind_none);
}

TEST(Probe, OffsetAtOrBeyondTheEndAndNegativeOffsetsAreRefused) {
    byte_builder b;
    b.tag("FORM").zeros(60);
    open_bytes(b.bytes);
    EXPECT_EQ(probe_at(64), kind_none);
    open_bytes(b.bytes);
    EXPECT_EQ(probe_at(1000), kind_none);
    open_bytes(b.bytes);
    EXPECT_EQ(probe_at(-1), kind_none);
}

TEST(Probe, ShortReadKeepsThePreviousTagWhichMatchesNothingAtStart) {
    byte_builder b;
    b.raw("FOR", 3);
    open_bytes(b.bytes);
    EXPECT_EQ(probe_at(0), kind_none);
}

TEST(Probe, OpenMovieRefusesOffsetsBeyondThirtyTwoBits) {
    byte_builder b;
    b.tag("FORM").zeros(60);
    open_bytes(b.bytes);
    player_options o{};
    o.offset = int64_t(1) << 33;
    EXPECT_EQ(open_movie(o), kind_none);
    fclose(movie_file);
}

} // namespace
