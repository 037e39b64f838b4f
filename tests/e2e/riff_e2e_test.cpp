#include "archive_writer.h"
#include "bytes.h"
#include "riff_writer.h"
#include "run_program.h"

#include <filesystem>
#include <gtest/gtest.h>

namespace {

std::vector<uint8_t> short_movie() {
    return write_riff_movie(make_riff_demo_frames(12), 320, 165, 15);
}

void expect_clean_exit(const program_result& r) {
    EXPECT_FALSE(r.timed_out);
    EXPECT_EQ(r.exit_status, 0);
    EXPECT_EQ(r.error_output.find("Couldn't open audio"), std::string::npos);
}

TEST(RiffEndToEnd, MoviePlaysToItsEndInBothZooms) {
    std::string dir = scratch_dir("riff-play");
    ASSERT_TRUE(write_file(dir + "/movie.riff", short_movie()));
    expect_clean_exit(run_program("reelplay", {dir + "/movie.riff"}, 60));
    expect_clean_exit(run_program("reelplay", {dir + "/movie.riff", "-i"}, 60));
}

TEST(RiffEndToEnd, MovieInsideAnArchivePlaysFromItsOffset) {
    std::string dir = scratch_dir("riff-archive");
    std::vector<int32_t> offsets;
    std::vector<uint8_t> archive =
        write_xtre_archive({{"", std::vector<uint8_t>(333, 7)}, {"", short_movie()}}, &offsets);
    ASSERT_TRUE(write_file(dir + "/movies.tre", archive));
    expect_clean_exit(run_program(
        "reelplay", {dir + "/movies.tre", "-offset", std::to_string(offsets.at(1))}, 60));
}

// A player with no codec library beside it (nor on the search path) still
// plays the sound, with a black picture.
TEST(RiffEndToEnd, WithoutTheLibraryTheSoundStillPlays) {
    std::string dir = scratch_dir("riff-nolib");
    std::filesystem::copy_file(build_path("reelplay"), dir + "/reelplay");
    ASSERT_FALSE(std::filesystem::exists(dir + "/libxanlib.so"));
    ASSERT_TRUE(write_file(dir + "/movie.riff", short_movie()));
    expect_clean_exit(run_program("test-scratch/riff-nolib/reelplay", {dir + "/movie.riff"}, 60));
}

} // namespace
