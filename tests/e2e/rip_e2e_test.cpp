#include "archive_writer.h"
#include "bytes.h"
#include "run_program.h"

#include <filesystem>
#include <gtest/gtest.h>

namespace {

TEST(RipEndToEnd, UsageErrorsExitTwo) {
    for (std::vector<std::string> args : {std::vector<std::string>{}, {"movie.tgv"}, {"m", "-q"}}) {
        program_result r = run_program("reelrip", args, 20);
        EXPECT_EQ(r.exit_status, 2);
        EXPECT_NE(r.error_output.find("usage: reelrip FILE"), std::string::npos);
    }
}

TEST(RipEndToEnd, JunkExitsOneWithOneLine) {
    std::string dir = scratch_dir("rip-junk");
    byte_builder junk;
    junk.tag("JUNK").zeros(100);
    ASSERT_TRUE(write_file(dir + "/junk.bin", junk.bytes));
    program_result r = run_program("reelrip", {dir + "/junk.bin", "-o", dir + "/out"}, 20);
    EXPECT_EQ(r.exit_status, 1);
    EXPECT_EQ(std::count(r.error_output.begin(), r.error_output.end(), '\n'), 1);
    EXPECT_FALSE(std::filesystem::exists(dir + "/out"));
}

TEST(RipEndToEnd, ListOfAnArchiveWithoutMoviesExitsOne) {
    std::string dir = scratch_dir("rip-list");
    ASSERT_TRUE(write_file(dir + "/a.tre", write_named_archive({{"x", {1, 2, 3, 4}}})));
    program_result r = run_program("reelrip", {"--list", dir + "/a.tre"}, 20);
    EXPECT_EQ(r.exit_status, 1);
    EXPECT_EQ(r.error_output, "No playable movies found on this archive\n");
}

} // namespace
