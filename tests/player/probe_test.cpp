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

// A FORM head whose "SIZE" chunk gives width by height, then the first picture.
std::vector<uint8_t> form_head_with_size(uint32_t width, uint32_t height) {
    byte_builder b;
    b.tag("FORM").be32(0).tag("MOVE").tag("_PC_").be32(0);
    b.tag("SIZE").be32(8).le32(width).le32(height);
    b.tag("VGA ").be32(8).zeros(8);
    return b.bytes;
}

TEST(Probe, OpenMovieDoublesSizesAndPlaysHugeOnesAsSoundOnly) {
    struct sizes {
        uint32_t width, height;
        bool doubled;
        int32_t shown_width, shown_height;
    };
    for (const sizes& s :
         {sizes{320, 165, true, 640, 330}, sizes{320, 165, false, 320, 165},
          sizes{0x7FFFFFFF, 0x7FFFFFFF, true, 0, 0}, sizes{0x7FFFFFFF, 0x7FFFFFFF, false, 0, 0},
          sizes{0x40000000, 2, true, 0, 0}}) {
        open_bytes(form_head_with_size(s.width, s.height));
        player_options o{};
        o.interlaced = s.doubled;
        EXPECT_EQ(open_movie(o), kind_form);
        EXPECT_EQ(movie_width, s.shown_width) << s.width << " x " << s.height;
        EXPECT_EQ(movie_height, s.shown_height) << s.width << " x " << s.height;
        fclose(movie_file);
        movie_file = nullptr;
    }
}

} // namespace
