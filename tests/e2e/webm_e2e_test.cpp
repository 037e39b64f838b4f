// reelrip as a process: Ctrl-C leaves no file behind under a temporary name.
#include "bytes.h"
#include "form_writer.h"
#include "run_program.h"

#include <filesystem>
#include <gtest/gtest.h>

namespace {

TEST(WebmEndToEnd, InterruptRemovesTheTemporaryFile) {
    std::string dir = scratch_dir("webm interrupt");
    ASSERT_TRUE(write_file(dir + "/long.tgv", make_form_busy_movie(60)));
    program_result r =
        run_program("reelrip", {dir + "/long.tgv", "-i", "-o", dir + "/long.webm"}, 120, 1.0);
    EXPECT_EQ(r.exit_status, 130) << r.error_output;
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
    ASSERT_TRUE(write_file(dir + "/long.tgv", make_form_busy_movie(120)));
    program_result r =
        run_program("reelrip", {dir + "/long.tgv", "-i", "-o", dir + "/out"}, 120, 0.2);
    EXPECT_EQ(r.exit_status, 130) << r.error_output;
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
