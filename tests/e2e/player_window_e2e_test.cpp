// reelplay in a real window on a private X server with a window manager,
// driven by keys as a user would: fullscreen, pause, -scale, Q and Esc,
// seeking, frame steps and screenshots.
#include "bytes.h"
#include "form_writer.h"
#include "rip.h"
#include "rip_test_support.h"
#include "run_program.h"
#include "x_session.h"

#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

constexpr int32_t movie_width = 320, movie_height = 165;
// Two minutes: these tests end the movie by a key, and a busy machine must
// not see it end by itself first.
constexpr int long_movie = 1800;

constexpr int32_t samples_per_frame = 1470;
constexpr int levels = 100;
int16_t level_of_frame(int f) {
    return int16_t(1000 + 200 * (f % levels));
}

// 15 pictures a second; no pixel uses palette entry 0 (black), so that the
// picture's box on a black screen is the whole picture, and neighbouring
// pixels differ, so that a pixel drawn as a block shows as one. Each frame's
// sound holds one level, the next frame's the next of 100, so that what
// reaches the sound device tells which slot it came from even through the
// resampling on the way.
std::vector<uint8_t> bright_movie(int frames) {
    form_movie m;
    m.width = movie_width;
    m.height = movie_height;
    std::array<uint8_t, 768> pal{};
    for (int i = 1; i < 256; ++i) {
        pal[3 * i] = uint8_t(20 + i % 44);
        pal[3 * i + 1] = uint8_t(20 + (i * 3) % 44);
        pal[3 * i + 2] = uint8_t(63 - i % 40);
    }
    m.palettes.push_back(pal);
    for (int f = 0; f < frames; ++f) {
        form_frame fr;
        fr.pixels.resize(size_t(movie_width * movie_height));
        for (int32_t y = 0; y < movie_height; ++y)
            for (int32_t x = 0; x < movie_width; ++x)
                fr.pixels[size_t(y * movie_width + x)] = uint8_t(1 + (3 * x + 5 * y + f) % 255);
        fr.sound.assign(samples_per_frame, level_of_frame(f));
        m.frames.push_back(fr);
    }
    return write_form_movie(m);
}

struct player_screen {
    x_session x;
    pid_t window_manager = -1;
    std::string dir;

    ~player_screen() { stop_window_manager(); }

    void stop_window_manager() {
        if (window_manager > 0) {
            kill(window_manager, SIGTERM);
            waitpid(window_manager, nullptr, 0);
        }
        window_manager = -1;
    }

    // Fullscreen is the window manager's to grant, as on a desktop. On a busy
    // machine the server or the manager now and then fails to come up; the
    // pair is started again on a new server.
    bool open(const std::string& name) {
        dir = scratch_dir(name);
        x.screen = "1366x768x24";
        for (int attempt = 0; attempt < 3; ++attempt) {
            if (!x.start()) {
                x.stop();
                continue;
            }
            x.set_env("SDL_VIDEODRIVER", "x11");
            // Xvfb has no vertical blank to wait for: a renderer that waits
            // for one stalls in fullscreen.
            x.set_env("SDL_RENDER_VSYNC", "0");
            // The manager's log and settings stay with this test, not shared.
            x.set_env("XDG_CACHE_HOME", dir);
            x.set_env("XDG_CONFIG_HOME", dir);
            int quiet = ::open("/dev/null", O_WRONLY);
            window_manager = x.spawn({"openbox", "--sm-disable"}, dir, quiet, dir + "/openbox.err");
            if (quiet >= 0) close(quiet);
            if (window_manager > 0 &&
                eventually(
                    [&] {
                        return x.run({"xprop", "-root", "_NET_SUPPORTING_WM_CHECK"})
                                   .find("window id") != std::string::npos;
                    },
                    20))
                return true;
            stop_window_manager();
            x.stop();
        }
        return false;
    }

    // The movie the test plays, in its folder; empty when it cannot be written.
    std::string movie(int frames) {
        std::string path = dir + "/movie.form";
        return write_file(path, bright_movie(frames)) ? path : "";
    }

    pid_t play(const std::vector<std::string>& args, std::string* window,
               const std::string& sound = "/dev/null") {
        x.set_env("SDL_DISKAUDIOFILE", sound);
        std::vector<std::string> words = {build_path("reelplay")};
        words.insert(words.end(), args.begin(), args.end());
        pid_t pid = x.spawn(words, dir, -1, dir + "/reelplay.err");
        *window = pid > 0 ? x.find_window("^Korvath Movie Player", pid) : "";
        if (!window->empty()) x.run({"xdotool", "windowfocus", "--sync", *window});
        return pid;
    }

    bool has_size(const std::string& window, int width, int height) {
        return eventually([&] {
            window_size s = geometry(x, window);
            return s.width == width && s.height == height;
        });
    }

    std::string artifact(const std::string& window, const std::string& name) {
        std::filesystem::create_directories(build_path("test-artifacts"));
        std::string path = build_path("test-artifacts/" + name);
        x.run({"import", "-window", window, path});
        return path;
    }

    std::string error_output() {
        std::ifstream in(dir + "/reelplay.err");
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
};

struct box {
    int width = 0, height = 0, left = 0, top = 0;
};

// The box of the pixels that differ from the corner's colour (black here).
box picture_box(x_session& x, const std::string& png) {
    box b;
    std::string text = x.run({"convert", png, "-format", "%@", "info:"});
    sscanf(text.c_str(), "%dx%d+%d+%d", &b.width, &b.height, &b.left, &b.top);
    return b;
}

int exit_status(pid_t pid) {
    int status = -1;
    if (!ended(pid, 30, &status)) {
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
        return -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

#define SKIP_WITHOUT_WINDOW_MANAGER()                                                              \
    SKIP_WITHOUT_X_TOOLS();                                                                        \
    if (!on_path("openbox") || !on_path("xprop"))                                                  \
    GTEST_SKIP() << "openbox or xprop is missing (scripts/setup installs them)"

TEST(PlayerWindowEndToEnd, FullscreenCentresTheWholePictureAndEscOrF11GivesTheWindowBack) {
    SKIP_WITHOUT_WINDOW_MANAGER();
    player_screen screen;
    ASSERT_TRUE(screen.open("player fullscreen"));
    std::string movie = screen.movie(long_movie);
    ASSERT_FALSE(movie.empty());

    for (bool doubled : {false, true}) {
        SCOPED_TRACE(doubled ? "-i" : "plain");
        int32_t w = doubled ? 2 * movie_width : movie_width;
        int32_t h = doubled ? 2 * movie_height : movie_height;
        std::string window;
        pid_t pid = screen.play(doubled ? std::vector<std::string>{movie, "-i"}
                                        : std::vector<std::string>{movie},
                                &window);
        ASSERT_FALSE(window.empty());
        ASSERT_TRUE(screen.has_size(window, w, h));
        keys(screen.x, {"F11"});
        ASSERT_TRUE(screen.has_size(window, 1366, 768));
        // The window manager's resize lands before the next picture does.
        box b;
        ASSERT_TRUE(eventually(
            [&] {
                std::this_thread::sleep_for(std::chrono::milliseconds(300));
                b = picture_box(screen.x,
                                screen.artifact("root", doubled ? "reelplay_fullscreen_i.png"
                                                                : "reelplay_fullscreen.png"));
                return b.height > 0;
            },
            10));
        // -i leaves the picture's last row dark, so its box is one row short.
        int32_t lit_rows = doubled ? h - 1 : h;
        EXPECT_NEAR(double(b.width) / b.height / (double(w) / lit_rows), 1.0, 0.01);
        EXPECT_EQ(b.width % w, 0) << "a whole factor of the picture";
        EXPECT_GT(b.width, w) << "as large as fits";
        EXPECT_NEAR(b.left, 1366 - b.left - b.width, 1);
        int32_t full_height = b.height / lit_rows * h;
        EXPECT_NEAR(b.top, 768 - b.top - full_height, 1);

        // F11 gives the window back; Esc leaves fullscreen without ending.
        keys(screen.x, {doubled ? "Escape" : "F11"});
        EXPECT_TRUE(screen.has_size(window, w, h));
        keys(screen.x, {"F11"});
        EXPECT_TRUE(screen.has_size(window, 1366, 768));
        keys(screen.x, {doubled ? "F11" : "Escape"});
        EXPECT_TRUE(screen.has_size(window, w, h));
        // Then Q, or Esc in the window, ends as the close button does.
        keys(screen.x, {doubled ? "Escape" : "q"});
        EXPECT_EQ(exit_status(pid), 0) << screen.error_output();
    }
}

TEST(PlayerWindowEndToEnd, SpacePausesTheSoundAndTheMovieStillEndsByItself) {
    SKIP_WITHOUT_WINDOW_MANAGER();
    player_screen screen;
    ASSERT_TRUE(screen.open("player pause"));
    std::string movie = screen.movie(90); // six seconds
    ASSERT_FALSE(movie.empty());
    std::string sound = screen.dir + "/sound.raw";
    auto written = [&] {
        std::error_code e;
        auto n = std::filesystem::file_size(sound, e);
        return e ? 0 : int64_t(n);
    };
    std::string window;
    pid_t pid = screen.play({movie}, &window, sound);
    ASSERT_FALSE(window.empty());
    ASSERT_TRUE(eventually([&] { return written() > 0; }));
    keys(screen.x, {"space"});
    // Once what was under way has landed, nothing more may come for a second.
    ASSERT_TRUE(eventually(
        [&] {
            int64_t before = written();
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
            return written() == before;
        },
        5));
    int64_t held = written();
    std::this_thread::sleep_for(std::chrono::milliseconds(1200));
    EXPECT_EQ(written(), held) << "sound went on while paused";
    EXPECT_EQ(waitpid(pid, nullptr, WNOHANG), 0) << "ended while paused";
    keys(screen.x, {"space"});
    EXPECT_TRUE(eventually([&] { return written() > held; }, 10));
    EXPECT_EQ(exit_status(pid), 0) << screen.error_output();
}

TEST(PlayerWindowEndToEnd, ScaleMakesTheWindowThatManyTimesLargerAndABadValuePlaysAtOne) {
    SKIP_WITHOUT_WINDOW_MANAGER();
    player_screen screen;
    ASSERT_TRUE(screen.open("player scale"));
    std::string movie = screen.movie(long_movie);
    ASSERT_FALSE(movie.empty());

    std::string window;
    pid_t pid = screen.play({movie, "-scale", "3"}, &window);
    ASSERT_FALSE(window.empty());
    EXPECT_TRUE(screen.has_size(window, 3 * movie_width, 3 * movie_height));
    keys(screen.x, {"q"});
    EXPECT_EQ(exit_status(pid), 0) << screen.error_output();

    pid = screen.play({movie, "-scale", "2", "-offset", "0"}, &window);
    ASSERT_FALSE(window.empty());
    ASSERT_TRUE(screen.has_size(window, 2 * movie_width, 2 * movie_height));
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    std::string shot = screen.artifact(window, "reelplay_scale_2.png");
    // Every pixel a 2 x 2 block: taking one pixel of each block and drawing
    // it twice as large again gives the same picture.
    std::string blocks = screen.dir + "/blocks.png";
    screen.x.run({"convert", shot, "-sample", "50%", "-sample", "200%", blocks});
    EXPECT_EQ(screen.x.run({"convert", shot, blocks, "-compose", "difference", "-composite",
                            "-format", "%[max]", "info:"}),
              "0");
    keys(screen.x, {"q"});
    EXPECT_EQ(exit_status(pid), 0) << screen.error_output();

    pid = screen.play({movie, "-scale", "x"}, &window);
    ASSERT_FALSE(window.empty());
    EXPECT_TRUE(screen.has_size(window, movie_width, movie_height));
    keys(screen.x, {"q"});
    EXPECT_EQ(exit_status(pid), 0);
    EXPECT_NE(screen.error_output().find("\"-scale x\""), std::string::npos)
        << screen.error_output();
}

// The slots whose sound a device file holds, in order, each with the number
// of samples it lasted there. The device may take the sound with more
// channels than the movie's one and at a whole multiple of its rate: either
// way each of the movie's samples becomes a whole number of samples of the
// same level. The few samples around each change of level, where
// resampling rings, are passed over.
struct heard_slot {
    int slot = 0;
    int64_t samples = 0;
};
struct device_sound {
    std::vector<heard_slot> slots;
    int64_t factor = 0; // device samples per movie sample; 0 until slot 1 is heard
};
device_sound sound_in(const std::string& path) {
    std::vector<uint8_t> bytes = read_file(path);
    std::vector<heard_slot> runs;
    for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
        int v = int16_t(bytes[i] | bytes[i + 1] << 8);
        int level = (v - 1000 + 100) / 200;
        // The device's resampling scales by a hair and ripples a little.
        if (v < 500 || level >= levels || std::abs(v - level_of_frame(level)) > 90) level = -1;
        if (runs.empty() || runs.back().slot != level) runs.push_back({level, 0});
        ++runs.back().samples;
    }
    std::erase_if(runs, [](const heard_slot& h) { return h.slot < 0 || h.samples < 100; });
    // Levels to slots: the next level is the next slot; any other one a jump
    // forward by less than 100.
    device_sound found;
    for (const heard_slot& h : runs) {
        if (found.slots.empty()) {
            found.slots.push_back(h);
            continue;
        }
        heard_slot& last = found.slots.back();
        int ahead = (h.slot - last.slot % levels + levels) % levels;
        if (ahead == 0)
            last.samples += h.samples; // split by ringing inside it
        else
            found.slots.push_back({last.slot + ahead, h.samples});
    }
    if (found.slots.size() < 3 || found.slots[0].slot != 0 || found.slots[1].slot != 1)
        return found;
    // Slot 1 is heard whole.
    int64_t factor = (found.slots[1].samples + samples_per_frame / 2) / samples_per_frame;
    if (std::abs(found.slots[1].samples - factor * samples_per_frame) < 40) found.factor = factor;
    return found;
}

TEST(PlayerWindowEndToEnd, RightHandsOverToTheSoundOfASlotAboutFiveSecondsOn) {
    SKIP_WITHOUT_WINDOW_MANAGER();
    player_screen screen;
    ASSERT_TRUE(screen.open("player seek"));
    const int frames = 200; // 13 seconds
    std::string movie = screen.movie(frames);
    ASSERT_FALSE(movie.empty());
    std::string written = screen.dir + "/sound.raw";
    std::string window;
    pid_t pid = screen.play({movie}, &window, written);
    ASSERT_FALSE(window.empty());
    ASSERT_TRUE(eventually([&] {
        device_sound so_far = sound_in(written);
        return so_far.factor > 0 && so_far.slots.back().slot >= 15; // a second
    }));
    keys(screen.x, {"Right"});
    ASSERT_EQ(exit_status(pid), 0) << screen.error_output();

    // Slots 0 to k in order, k cut short by the key; then slot j heard from
    // its start, and the following ones in order to the last.
    device_sound heard = sound_in(written);
    ASSERT_GT(heard.factor, 0);
    const std::vector<heard_slot>& slots = heard.slots;
    size_t jump = 1;
    while (jump < slots.size() && slots[jump].slot == slots[jump - 1].slot + 1) ++jump;
    ASSERT_LT(jump, slots.size()) << "no seek was heard";
    for (size_t i = jump + 1; i < slots.size(); ++i)
        EXPECT_EQ(slots[i].slot, slots[i - 1].slot + 1) << "after the seek, at " << i;
    EXPECT_EQ(slots.back().slot, frames - 1);
    const int64_t slot_samples = heard.factor * samples_per_frame;
    EXPECT_NEAR(double(slots[jump].samples), double(slot_samples), 40)
        << "the slot landed on is heard from its start";
    // The target is 5 s past the start of the slot heard when the key came,
    // which began less than a slot and a device buffer before the cut p.
    const int k = slots[jump - 1].slot, j = slots[jump].slot;
    const double p =
        k * double(samples_per_frame) + double(slots[jump - 1].samples) / double(heard.factor);
    const double q = j * double(samples_per_frame);
    EXPECT_GE(q - p, 4 * 22050.0) << k << " -> " << j;
    EXPECT_LE(q - p, 5 * 22050.0 + 40) << k << " -> " << j;
}

TEST(PlayerWindowEndToEnd, StepThenScreenshotInFullscreenWritesTheRipsPictureOfThatSlot) {
    SKIP_WITHOUT_WINDOW_MANAGER();
    player_screen screen;
    ASSERT_TRUE(screen.open("player screenshot"));
    std::string movie = screen.movie(long_movie);
    ASSERT_FALSE(movie.empty());
    std::string pictures = screen.dir + "/pictures";
    std::filesystem::create_directories(pictures);
    screen.x.set_env("XDG_PICTURES_DIR", pictures);

    std::string window;
    pid_t pid = screen.play({movie, "-i"}, &window);
    ASSERT_FALSE(window.empty());
    keys(screen.x, {"F11"});
    ASSERT_TRUE(screen.has_size(window, 1366, 768));
    keys(screen.x, {"period", "s"});
    std::filesystem::path shot;
    ASSERT_TRUE(eventually([&] {
        for (const auto& e : std::filesystem::directory_iterator(pictures))
            if (e.path().extension() == ".png") shot = e.path();
        return !shot.empty();
    }));
    keys(screen.x, {"q"});
    EXPECT_EQ(exit_status(pid), 0) << screen.error_output();

    // movie.form-<M>m<SS.mmm>s.png names the slot by its start.
    int minutes = 0, seconds = 0, ms = 0;
    ASSERT_EQ(sscanf(shot.filename().c_str(), "movie.form-%dm%d.%ds.png", &minutes, &seconds, &ms),
              3)
        << shot;
    const int64_t ms_in = int64_t(minutes) * 60000 + seconds * 1000 + ms;
    // The rip's picture of the slot that starts at that millisecond.
    int32_t slot = -1;
    std::vector<uint8_t> expected;
    rip_movie({.path = movie, .interlaced = true}, nullptr, [&](const rip_slot& s) {
        if (s.start_frame * 1000 / 22050 < ms_in) return true;
        if (s.start_frame * 1000 / 22050 == ms_in) slot = s.number;
        if (s.has_picture)
            expected.assign(s.rgb, s.rgb + size_t(4 * movie_width * movie_height * 3));
        return false;
    });
    ASSERT_GE(slot, 0) << "no slot starts at the time of " << shot;
    EXPECT_GT(slot, 0) << "a step goes to the picture after the first";
    ASSERT_FALSE(expected.empty()) << shot;
    rgb_picture png = read_png_rgb(shot);
    EXPECT_EQ(png.width, 2 * movie_width);
    EXPECT_EQ(png.height, 2 * movie_height);
    EXPECT_TRUE(png.rgb == expected) << "not the rip's picture of slot " << slot;
}

} // namespace
