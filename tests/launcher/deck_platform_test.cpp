#include "bytes.h"
#include "platform/process.h"
#include "reel_icon.h"

#include <chrono>
#include <cmath>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <thread>

namespace {

// One directory per test: ctest runs them side by side.
std::string platform_dir(const std::string& name) {
    std::string dir = std::string(REEL_BUILD_DIR) + "/test-scratch/deck platform/" + name;
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    return dir;
}

// Waits (boundedly) for a file that a started program writes last.
std::string wait_for_file(const std::string& path) {
    for (int i = 0; i < 1000 && !std::filesystem::exists(path); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    std::vector<uint8_t> bytes = read_file(path);
    return std::string(bytes.begin(), bytes.end());
}

TEST(DeckProcess, StartsWithTheArgumentVectorAndNoShell) {
    std::string dir = platform_dir("start");
    std::string script = dir + "/fake player";
    std::string out = dir + "/args.txt";
    std::string text = "#!/bin/sh\nprintf '[%s]' \"$0\" \"$@\" > '" + out + ".tmp'\nmv '" + out +
                       ".tmp' '" + out + "'\n";
    ASSERT_TRUE(write_file(script, std::vector<uint8_t>(text.begin(), text.end())));
    chmod(script.c_str(), 0755);
    ASSERT_TRUE(is_program(script));
    // Words a shell would split or expand reach the program unchanged.
    ASSERT_TRUE(start_program(script, {"reelplay", "/a b/$HOME;x*.TRE", "-i", "-offset", "12"}));
    EXPECT_EQ(wait_for_file(out), "[" + script + "][/a b/$HOME;x*.TRE][-i][-offset][12]");
}

TEST(DeckProcess, MissingProgramFailsAndDirectoriesAreNoPrograms) {
    std::string dir = platform_dir("missing");
    EXPECT_FALSE(start_program(dir + "/no such player", {"reelplay"}));
    EXPECT_FALSE(is_program(dir));
    EXPECT_FALSE(is_program(dir + "/no such player"));
    EXPECT_FALSE(current_directory().empty());
    EXPECT_TRUE(std::filesystem::exists(own_directory()));
}

TEST(DeckIcon, ReelWithTransparentHolesAtEverySize) {
    const double pi = std::acos(-1.0);
    for (int size : {16, 32, 48, 128}) {
        std::vector<uint8_t> p = draw_reel_icon(size);
        ASSERT_EQ(p.size(), size_t(size) * size * 4);
        auto alpha = [&](double fx, double fy) {
            int x = int(fx * size), y = int(fy * size);
            return p[(size_t(y) * size + x) * 4 + 3];
        };
        EXPECT_EQ(alpha(0, 0), 0) << size;
        EXPECT_EQ(alpha(0.99, 0), 0) << size;
        // Solid between the holes, open at each hole's middle.
        EXPECT_EQ(alpha(reel_center, reel_center + reel_hole_distance), 255) << size;
        if (size < 32) continue; // holes smaller than a pixel or two blur
        for (int i = 0; i < reel_hole_count; ++i) {
            double a = -pi / 2 + 2 * pi * i / reel_hole_count;
            EXPECT_LT(alpha(reel_center + reel_hole_distance * std::cos(a),
                            reel_center + reel_hole_distance * std::sin(a)),
                      64)
                << size << " hole " << i;
        }
    }
    EXPECT_TRUE(draw_reel_icon(0).empty());
}

} // namespace
