#include "bytes.h"
#include "run_program.h"

#include <gtest/gtest.h>

namespace {

TEST(PlayerEndToEnd, JunkAtTheOffsetExitsWithMinusOneAndNoWindow) {
    std::string dir = scratch_dir("junk");
    byte_builder junk;
    junk.tag("JUNK").zeros(100);
    ASSERT_TRUE(write_file(dir + "/junk.bin", junk.bytes));
    program_result r = run_program("reelplay", {dir + "/junk.bin"}, 20);
    EXPECT_FALSE(r.timed_out);
    EXPECT_EQ(r.exit_status, 255);
    EXPECT_EQ(r.error_output, "");
}

TEST(PlayerEndToEnd, MissingFileOrPathExitsWithMinusOne) {
    EXPECT_EQ(run_program("reelplay", {"/nonexistent/movie.tre"}, 20).exit_status, 255);
    EXPECT_EQ(run_program("reelplay", {}, 20).exit_status, 255);
}

TEST(PlayerEndToEnd, NegativeOffsetIsNothingPlayable) {
    std::string dir = scratch_dir("negative");
    byte_builder b;
    b.tag("FORM").zeros(100);
    ASSERT_TRUE(write_file(dir + "/m.bin", b.bytes));
    EXPECT_EQ(run_program("reelplay", {dir + "/m.bin", "-offset", "-4"}, 20).exit_status, 255);
}

} // namespace
