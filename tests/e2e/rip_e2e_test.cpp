#include "archive_writer.h"
#include "bytes.h"
#include "form_writer.h"
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
    EXPECT_EQ(r.error_output, "reelrip: no playable movies in " + dir + "/a.tre\n");
}

TEST(RipEndToEnd, RipsTheDemoMovieIntoPicturesSoundAndTimeline) {
    std::string dir = scratch_dir("rip-demo");
    ASSERT_TRUE(write_file(dir + "/demo.tgv", make_form_demo_movie()));
    program_result r = run_program("reelrip", {dir + "/demo.tgv", "-i", "-o", dir + "/out"}, 120);
    ASSERT_EQ(r.exit_status, 0) << r.error_output;
    EXPECT_NE(r.error_output.find(" pictures, "), std::string::npos);
    EXPECT_TRUE(std::filesystem::exists(dir + "/out/audio.wav"));
    EXPECT_TRUE(std::filesystem::exists(dir + "/out/frames/000000.png"));
    std::vector<uint8_t> timeline = read_file(dir + "/out/timeline.tsv");
    std::string text(timeline.begin(), timeline.end());
    EXPECT_EQ(text.rfind("slot\tstart_frame\tframes\tpicture\n0\t0\t", 0), 0u);
}

} // namespace
