// reelrip as a process: Ctrl-C leaves no file behind under a temporary name.
#include "bytes.h"
#include "form_writer.h"
#include "run_program.h"

#include <filesystem>
#include <gtest/gtest.h>

namespace {

// Rips dir/long.tgv, a busy movie of the given length, doubled into out and
// sends Ctrl-C after the given time; the rip must still be running then.
program_result interrupted_rip(const std::string& dir, int32_t seconds, const std::string& out,
                               double interrupt_after) {
    EXPECT_TRUE(write_file(dir + "/long.tgv", make_form_busy_movie(seconds)));
    program_result r =
        run_program("reelrip", {dir + "/long.tgv", "-i", "-o", out}, 120, interrupt_after);
    EXPECT_EQ(r.exit_status, 130) << r.error_output;
    return r;
}

TEST(WebmEndToEnd, InterruptRemovesTheTemporaryFile) {
    std::string dir = scratch_dir("webm interrupt");
    program_result r = interrupted_rip(dir, 60, dir + "/long.webm", 1.0);
    EXPECT_NE(r.error_output.find("interrupted"), std::string::npos);
    // A pipe gets no progress line.
    EXPECT_EQ(r.error_output.find('\r'), std::string::npos);
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(dir))
        names.push_back(e.path().filename());
    EXPECT_EQ(names, std::vector<std::string>{"long.tgv"});
}

TEST(WebmEndToEnd, InterruptedPictureRipKeepsOnlyWholeFiles) {
    std::string dir = scratch_dir("png interrupt");
    program_result r = interrupted_rip(dir, 120, dir + "/out", 0.2);
    EXPECT_NE(r.error_output.find("interrupted; " + dir + "/out is incomplete"), std::string::npos);
    size_t pictures = 0;
    for (const auto& e : std::filesystem::recursive_directory_iterator(dir + "/out")) {
        EXPECT_EQ(e.path().string().find(".part"), std::string::npos) << e.path();
        pictures += e.path().extension() == ".png";
    }
    EXPECT_GT(pictures, 0u);
    EXPECT_FALSE(std::filesystem::exists(dir + "/out/audio.wav"));
    EXPECT_FALSE(std::filesystem::exists(dir + "/out/timeline.tsv"));
}

} // namespace
