// Screenshot files: their names, and that none ever replaces another.
#include "screenshot.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace {

TEST(Screenshot, NameCarriesTheMovieTheOffsetAndTheSlotsStart) {
    struct row {
        const char* path;
        int64_t offset;
        int64_t start_frame;
        const char* expected;
    };
    const row rows[] = {
        {"intro.tgv", 0, 0, "intro.tgv-0m00.000s"},
        {"/games/k3/MOVIES.TRE", 123456, 110250, "MOVIES.TRE-123456-0m05.000s"},
        {"dir/a.form", 0, 22050 * 65 + 5513, "a.form-1m05.250s"}, // 5513 frames: 250.02 ms
        {"a.form", 0, 22049, "a.form-0m00.999s"},
        {"a.form", 7, int64_t(22050) * 3600 * 2, "a.form-7-120m00.000s"},
    };
    for (const row& r : rows)
        EXPECT_EQ(screenshot_name(r.path, r.offset, r.start_frame), r.expected) << r.path;
}

TEST(Screenshot, NeverReplacesAFileAndSaysWhyItCouldNotWrite) {
    namespace fs = std::filesystem;
    const std::string dir = std::string(REEL_BUILD_DIR) + "/test-scratch/screenshot";
    fs::remove_all(dir);
    fs::create_directories(dir);
    { std::ofstream(dir + "/shot.png") << "someone else's"; }
    const uint8_t indices[6] = {0, 1, 2, 2, 1, 0};
    uint8_t colors[256 * 3] = {10, 20, 30, 40, 50, 60, 70, 80, 90};
    png_picture picture;
    picture.width = 3;
    picture.height = 2;
    picture.indices = indices;
    picture.colors = colors;
    std::string result;
    ASSERT_TRUE(write_screenshot(dir, "shot", picture, &result)) << result;
    EXPECT_EQ(result, dir + "/shot-2.png");
    ASSERT_TRUE(write_screenshot(dir, "shot", picture, &result)) << result;
    EXPECT_EQ(result, dir + "/shot-3.png");
    std::ifstream first(dir + "/shot.png");
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(first), {}), "someone else's");
    // Nothing is left under a temporary name.
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 3);

    EXPECT_FALSE(write_screenshot(dir + "/missing", "shot", picture, &result));
    EXPECT_EQ(result, "cannot write " + dir + "/missing/shot.png: No such file or directory");
}

} // namespace
