#include "bytes.h"
#include "platform/process.h"
#include "reel_icon.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

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

// The processes whose parent is this one and that have ended but are not reaped.
int zombie_children() {
    int count = 0;
    for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
        std::vector<uint8_t> bytes = read_file((entry.path() / "stat").string());
        std::string stat(bytes.begin(), bytes.end());
        size_t close = stat.rfind(')');
        if (close == std::string::npos) continue;
        char state = 0;
        int parent = 0;
        if (sscanf(stat.c_str() + close + 1, " %c %d", &state, &parent) == 2 && state == 'Z' &&
            parent == getpid())
            ++count;
    }
    return count;
}

TEST(DeckProcess, EachEndIsReapedWithItsStatusOrSignalAndLastErrorLine) {
    std::string dir = platform_dir("ends");
    struct run {
        std::string label, script;
        int exit_status, signal;
        std::string last_line;
    };
    const run runs[] = {
        {"quiet", "exit 0", 0, 0, ""},
        {"two lines", "printf 'first\\nlast words\\n' >&2; exit 3", 3, 0, "last words"},
        {"crlf and blank", "printf 'one\\r\\n\\n' >&2; exit 255", 255, 0, "one"},
        {"killed", "printf 'cut sh' >&2; kill -9 $$", 0, 9, "cut sh"},
    };
    // What the programs write is copied through to our standard error.
    std::string copied = dir + "/stderr.txt";
    int saved = dup(2);
    FILE* sink = freopen(copied.c_str(), "w", stderr);
    ASSERT_NE(sink, nullptr);
    for (const run& r : runs)
        ASSERT_TRUE(start_program("/bin/sh", {"sh", "-c", r.script}, r.label));
    std::vector<player_end> ends;
    for (int i = 0; i < 1000 && ends.size() < std::size(runs); ++i) {
        std::vector<pollfd> fds;
        for (int fd : player_watch_fds()) fds.push_back({fd, POLLIN, 0});
        poll(fds.data(), fds.size(), 100);
        for (player_end& e : collect_players()) ends.push_back(e);
    }
    fflush(stderr);
    dup2(saved, 2);
    close(saved);
    EXPECT_EQ(zombie_children(), 0);
    ASSERT_EQ(ends.size(), std::size(runs));
    for (const run& r : runs) {
        auto e = std::find_if(ends.begin(), ends.end(),
                              [&](const player_end& e) { return e.label == r.label; });
        ASSERT_NE(e, ends.end()) << r.label;
        EXPECT_EQ(e->exit_status, r.exit_status) << r.label;
        EXPECT_EQ(e->signal, r.signal) << r.label;
        EXPECT_EQ(e->last_line, r.last_line) << r.label;
    }
    std::vector<uint8_t> bytes = read_file(copied);
    std::string text(bytes.begin(), bytes.end());
    EXPECT_NE(text.find("first\nlast words\n"), std::string::npos) << text;
    EXPECT_EQ(player_watch_fds().size(), 1u) << "only the wake-up pipe stays watched";
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
