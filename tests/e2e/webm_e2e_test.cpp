// reelrip's WebM export as a process: Ctrl-C leaves no file behind.
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

} // namespace
