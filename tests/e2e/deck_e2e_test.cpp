// reeldeck in a real window on a private X server, driven like a user would
// with xdotool; the player it starts is observed as a process.
#include "archive_writer.h"
#include "bytes.h"
#include "demo_archive.h"
#include "form_writer.h"
#include "rip.h"
#include "run_program.h"

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace {

constexpr double dialog_units_wide = 226;
constexpr double dialog_units_high = 153;

bool on_path(const std::string& tool) {
    const char* path = getenv("PATH");
    std::stringstream dirs(path ? path : "");
    std::string dir;
    while (std::getline(dirs, dir, ':'))
        if (!dir.empty() && access((dir + "/" + tool).c_str(), X_OK) == 0) return true;
    return false;
}

void pause_briefly() {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
}

// Polls until check() holds or about limit seconds have passed.
template <class F> bool eventually(F check, double limit = 30) {
    for (int i = 0; i < int(limit * 20); ++i) {
        if (check()) return true;
        pause_briefly();
    }
    return check();
}

struct x_session {
    pid_t server = -1;
    std::string display;
    std::vector<std::string> env;

    ~x_session() { stop(); }

    void stop() {
        if (server > 0) {
            kill(server, SIGTERM);
            waitpid(server, nullptr, 0);
        }
        server = -1;
        env.clear();
    }

    std::vector<char*> envp() {
        std::vector<char*> out;
        for (std::string& s : env) out.push_back(s.data());
        out.push_back(nullptr);
        return out;
    }

    // Standard error goes to err_path, kept for a failing test's reader.
    pid_t spawn(const std::vector<std::string>& words, const std::string& cwd = "", int out_fd = -1,
                const std::string& err_path = "/dev/null") {
        std::vector<std::string> w = words;
        std::vector<char*> argv;
        for (std::string& s : w) argv.push_back(s.data());
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        if (out_fd >= 0) posix_spawn_file_actions_adddup2(&actions, out_fd, 1);
        posix_spawn_file_actions_addopen(&actions, 2, err_path.c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (!cwd.empty()) posix_spawn_file_actions_addchdir_np(&actions, cwd.c_str());
        std::vector<char*> e = envp();
        pid_t pid = -1;
        int rc = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), e.data());
        posix_spawn_file_actions_destroy(&actions);
        return rc == 0 ? pid : -1;
    }

    // Runs a tool to its end and gives its standard output.
    std::string run(const std::vector<std::string>& words) {
        int fds[2];
        if (pipe(fds) != 0) return "";
        pid_t pid = spawn(words, "", fds[1]);
        close(fds[1]);
        std::string out;
        char buf[4096];
        ssize_t n;
        while (pid > 0 && (n = read(fds[0], buf, sizeof buf)) > 0) out.append(buf, size_t(n));
        close(fds[0]);
        if (pid > 0) waitpid(pid, nullptr, 0);
        return out;
    }

    // Starts a server on a display number of this process's own, far from
    // the low numbers a desktop or another test run may hold, and takes it as
    // ready once it answers while our server is still alive (a server that
    // could not take the display must not be mistaken for someone else's).
    bool start(int attempt) {
        env.clear();
        for (char** e = environ; *e; ++e) {
            std::string s = *e;
            if (s.rfind("SDL_", 0) == 0 || s.rfind("DISPLAY=", 0) == 0 || s.rfind("XDG_", 0) == 0)
                continue;
            env.push_back(s);
        }
        // The player started from the dialog inherits these: no screen, no sound card.
        for (const char* s :
             {"SDL_VIDEODRIVER=dummy", "SDL_AUDIODRIVER=disk", "SDL_DISKAUDIOFILE=/dev/null",
              "NO_AT_BRIDGE=1", "GDK_BACKEND=x11", "GSETTINGS_BACKEND=memory"})
            env.push_back(s);
        // The file chooser keeps recent files and settings; not in the user's home.
        std::string home = build_path("test-scratch/deck-xdg");
        for (const char* v : {"XDG_DATA_HOME", "XDG_CONFIG_HOME", "XDG_CACHE_HOME"})
            env.push_back(std::string(v) + "=" + home + "/" + v);
        int number = 1000 + int(getpid() % 8000) * 4 + attempt;
        while (std::filesystem::exists("/tmp/.X" + std::to_string(number) + "-lock") ||
               std::filesystem::exists("/tmp/.X11-unix/X" + std::to_string(number)))
            number += 32000;
        display = ":" + std::to_string(number);
        env.push_back("DISPLAY=" + display);
        server = spawn({"Xvfb", display, "-screen", "0", "1024x768x24", "-nolisten", "tcp"});
        if (server <= 0) return false;
        return eventually(
                   [&] {
                       if (waitpid(server, nullptr, WNOHANG) == server) {
                           server = -1;
                           return true;
                       }
                       return !run({"xdotool", "getdisplaygeometry"}).empty();
                   },
                   30) &&
               server > 0;
    }

    // Empty when no such window shows, or when owner (if given) ends first.
    std::string find_window(const std::string& name_pattern, pid_t owner = -1) {
        std::string id;
        eventually([&] {
            std::string out = run({"xdotool", "search", "--onlyvisible", "--name", name_pattern});
            id = out.substr(0, out.find('\n'));
            return !id.empty() || (owner > 0 && waitpid(owner, nullptr, WNOHANG) == owner);
        });
        return id;
    }

    // Starts reeldeck on a fresh X server and waits for its first window. On
    // a busy machine GTK now and then fails to open a display that has just
    // come up; that start is repeated on a new server.
    bool launch(const std::vector<std::string>& args, const std::string& dir,
                const std::string& first_window, pid_t* deck, std::string* window) {
        for (int attempt = 0; attempt < 3; ++attempt) {
            stop();
            if (!start(attempt)) continue;
            std::vector<std::string> words = {build_path("reeldeck")};
            words.insert(words.end(), args.begin(), args.end());
            *deck = spawn(words, dir, -1, dir + "/reeldeck.err");
            if (*deck <= 0) return false;
            *window = find_window(first_window, *deck);
            if (!window->empty()) return true;
            fprintf(stderr, "reeldeck did not come up on %s; again on a new server\n",
                    display.c_str());
            kill(*deck, SIGKILL);
            waitpid(*deck, nullptr, 0);
        }
        return false;
    }
};

struct window_size {
    int width = 0, height = 0;
};

window_size geometry(x_session& x, const std::string& window) {
    window_size s;
    std::stringstream lines(x.run({"xdotool", "getwindowgeometry", "--shell", window}));
    std::string line;
    while (std::getline(lines, line)) {
        if (line.rfind("WIDTH=", 0) == 0) s.width = atoi(line.c_str() + 6);
        if (line.rfind("HEIGHT=", 0) == 0) s.height = atoi(line.c_str() + 7);
    }
    return s;
}

// Clicks the middle of a control given in dialog units.
void click(x_session& x, const std::string& window, window_size s, int x0, int y0, int w, int h) {
    int px = int((x0 + w / 2.0) * s.width / dialog_units_wide);
    int py = int((y0 + h / 2.0) * s.height / dialog_units_high);
    x.run({"xdotool", "mousemove", "--window", window, std::to_string(px), std::to_string(py),
           "click", "1"});
}

void keys(x_session& x, const std::vector<std::string>& names) {
    std::vector<std::string> words = {"xdotool", "key", "--delay", "40"};
    words.insert(words.end(), names.begin(), names.end());
    x.run(words);
}

bool ended(pid_t pid, double limit, int* status) {
    return eventually([&] { return waitpid(pid, status, WNOHANG) == pid; }, limit);
}

std::vector<std::string> read_lines(const std::string& path) {
    std::vector<std::string> lines;
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line)) lines.push_back(line);
    return lines;
}

// The bytes the scanner looks at, no more: enough for a fake player.
std::vector<uint8_t> listed_member(const char* kind) {
    byte_builder b;
    b.tag("FORM").be32(40).tag(kind).tag("_PC_").zeros(32);
    return b.bytes;
}

std::string write_archive(const std::string& path, std::vector<int32_t>* movies) {
    EXPECT_TRUE(write_file(path, make_demo_archive(movies)));
    return path;
}

const char caption_pattern[] = "^KV Movie Player - .+ - v1\\.0$";
// Positions in dialog units of the controls the tests press.
constexpr int play_button[4] = {23, 65, 50, 10};
constexpr int open_button[4] = {23, 126, 50, 14};

#define SKIP_WITHOUT_X_TOOLS()                                                                     \
    if (!on_path("Xvfb") || !on_path("xdotool") || !on_path("import"))                             \
    GTEST_SKIP() << "Xvfb, xdotool or ImageMagick's import is missing (scripts/setup installs "    \
                    "them)"

TEST(DeckEndToEnd, ListsTheArchiveAndStartsEachLineWithItsOffset) {
    SKIP_WITHOUT_X_TOOLS();
    x_session x;
    std::string dir = scratch_dir("deck window");
    // A player of our own in the current directory writes down its arguments.
    std::string log = dir + "/starts.log";
    std::string fake = "#!/bin/sh\nprintf '[%s]' \"$@\" >> '" + log + "'\necho >> '" + log + "'\n";
    std::string fake_path = dir + "/reelplay";
    ASSERT_TRUE(write_file(fake_path, std::vector<uint8_t>(fake.begin(), fake.end())));
    chmod(fake_path.c_str(), 0755);
    std::filesystem::create_directories(dir + "/game data");
    std::vector<int32_t> movies;
    std::string archive = write_archive(dir + "/game data/Movies.Tre", &movies);
    auto started = [&](int32_t offset, bool interlaced) {
        return "[" + archive + "]" + (interlaced ? "[-i]" : "") + "[-offset][" +
               std::to_string(offset) + "]";
    };

    pid_t deck = -1;
    std::string window;
    ASSERT_TRUE(x.launch({archive}, dir, caption_pattern, &deck, &window));
    window_size size = geometry(x, window);
    ASSERT_GT(size.width, 0);
    x.run({"xdotool", "windowfocus", window});

    // Nothing selected yet: the first movie plays, with the zoom list's
    // starting line "2x interlaced".
    click(x, window, size, play_button[0], play_button[1], play_button[2], play_button[3]);
    ASSERT_TRUE(eventually([&] { return read_lines(log).size() == 1; }));
    EXPECT_EQ(read_lines(log)[0], started(movies[0], true));

    // Play is focused; two steps back in the tab order is the movie list.
    // Home then Down selects line 1; End selects the last line, and Down
    // after it stays there: the list holds exactly the archive's movies.
    std::vector<std::string> expected = {started(movies[0], true)};
    const int last = int(movies.size()) - 1;
    for (int line : {1, last, last}) {
        keys(x,
             {"shift+Tab", "shift+Tab", line == 1 ? "Home" : "End", "Down", "Tab", "Tab", "space"});
        expected.push_back(started(movies[size_t(line)], true));
        ASSERT_TRUE(eventually([&] { return read_lines(log).size() == expected.size(); }));
        if (line == 1) {
            std::filesystem::create_directories(build_path("test-artifacts"));
            x.run({"import", "-window", window, build_path("test-artifacts/reeldeck_dialog.png")});
        }
    }
    // "1x" in the zoom list, one step back from Play.
    keys(x, {"shift+Tab", "Home", "Tab", "space"});
    expected.push_back(started(movies[size_t(last)], false));
    ASSERT_TRUE(eventually([&] { return read_lines(log).size() == expected.size(); }));
    EXPECT_EQ(read_lines(log), expected);

    std::vector<uint8_t> shot = read_file(build_path("test-artifacts/reeldeck_dialog.png"));
    ASSERT_GE(shot.size(), 24u);
    auto be32 = [&](size_t at) {
        return int(shot[at]) << 24 | int(shot[at + 1]) << 16 | int(shot[at + 2]) << 8 |
               shot[at + 3];
    };
    EXPECT_EQ(be32(16), size.width);
    EXPECT_EQ(be32(20), size.height);

    keys(x, {"Escape"});
    int status = -1;
    ASSERT_TRUE(ended(deck, 30, &status));
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

TEST(DeckEndToEnd, OpenDialogCancelAndSingleMovieFile) {
    SKIP_WITHOUT_X_TOOLS();
    x_session x;
    std::string dir = scratch_dir("deck open dialog");
    std::string log = dir + "/starts.log";
    std::string fake = "#!/bin/sh\nprintf '[%s]' \"$@\" >> '" + log + "'\necho >> '" + log + "'\n";
    std::string fake_path = dir + "/reelplay";
    ASSERT_TRUE(write_file(fake_path, std::vector<uint8_t>(fake.begin(), fake.end())));
    chmod(fake_path.c_str(), 0755);
    std::vector<int32_t> movies;
    std::string archive = write_archive(dir + "/OTHER.TRE", &movies);
    std::string single = dir + "/intro.tgv";
    ASSERT_TRUE(write_file(single, listed_member("MOVE")));

    pid_t deck = -1;
    std::string window;
    ASSERT_TRUE(x.launch({}, dir, caption_pattern, &deck, &window));
    window_size size = geometry(x, window);
    // Before any open "Play" does nothing: the first start seen below is
    // the one after the open.
    click(x, window, size, play_button[0], play_button[1], play_button[2], play_button[3]);

    auto open_file = [&](const std::string& path) {
        click(x, window, size, open_button[0], open_button[1], open_button[2], open_button[3]);
        std::string chooser = x.find_window("^Open$");
        ASSERT_FALSE(chooser.empty());
        x.run({"xdotool", "windowfocus", chooser});
        if (path.empty()) {
            keys(x, {"Escape"});
        } else {
            keys(x, {"ctrl+l"});
            x.run({"xdotool", "type", "--delay", "20", path});
            keys(x, {"Return"});
        }
        ASSERT_TRUE(eventually([&] {
            return x.run({"xdotool", "search", "--onlyvisible", "--name", "^Open$"}) == "";
        }));
        x.run({"xdotool", "windowfocus", window});
    };
    std::vector<std::string> expected;
    auto play = [&](const std::string& path, int32_t offset) {
        click(x, window, size, play_button[0], play_button[1], play_button[2], play_button[3]);
        expected.push_back("[" + path + "][-i][-offset][" + std::to_string(offset) + "]");
        ASSERT_TRUE(eventually([&] { return read_lines(log).size() >= expected.size(); }));
        EXPECT_EQ(read_lines(log), expected);
    };
    open_file(archive);
    play(archive, movies[0]);
    open_file(""); // cancelled: the list stays
    play(archive, movies[0]);
    open_file(single);
    play(single, 0);

    keys(x, {"Escape"});
    int status = -1;
    ASSERT_TRUE(ended(deck, 30, &status));
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

// The process with the given parent whose command name is name, or -1.
pid_t child_named(pid_t parent, const std::string& name) {
    for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
        std::ifstream in(entry.path() / "stat");
        std::string stat;
        if (!std::getline(in, stat)) continue;
        size_t open = stat.find('('), close = stat.rfind(')');
        if (open == std::string::npos || close == std::string::npos) continue;
        std::stringstream rest(stat.substr(close + 2));
        char state;
        int ppid = 0;
        rest >> state >> ppid;
        if (ppid == parent && stat.substr(open + 1, close - open - 1) == name)
            return atoi(stat.c_str());
    }
    return -1;
}

TEST(DeckEndToEnd, PlayStartsTheRealPlayerBesideTheLauncher) {
    SKIP_WITHOUT_X_TOOLS();
    x_session x;
    // No player in the current directory, as when started from a desktop menu.
    std::string dir = scratch_dir("deck real player");
    std::vector<int32_t> movies;
    std::string archive = write_archive(dir + "/MOVIES.TRE", &movies);
    pid_t deck = -1;
    std::string window;
    ASSERT_TRUE(x.launch({archive}, dir, caption_pattern, &deck, &window));
    window_size size = geometry(x, window);
    click(x, window, size, play_button[0], play_button[1], play_button[2], play_button[3]);
    // Seen running, or already ended: the launcher does not wait for it.
    pid_t player = -1;
    EXPECT_TRUE(eventually([&] { return (player = child_named(deck, "reelplay")) > 0; }));
    std::ifstream in("/proc/" + std::to_string(player) + "/cmdline");
    std::string words((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (!words.empty()) {
        std::string expected = std::string("reelplay\0", 9) + archive + std::string("\0-i\0", 4) +
                               std::string("-offset\0", 8) + std::to_string(movies[0]) + '\0';
        EXPECT_EQ(words, expected);
    }

    x.run({"xdotool", "windowfocus", window});
    keys(x, {"Escape"});
    int status = -1;
    ASSERT_TRUE(ended(deck, 30, &status));
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    if (player > 0) kill(player, SIGKILL);
}

TEST(DeckEndToEnd, UnreadableArchiveShowsErrorThenWarningAndEnterCloses) {
    SKIP_WITHOUT_X_TOOLS();
    x_session x;
    std::string dir = scratch_dir("deck unreadable");
    pid_t deck = -1;
    std::string error;
    ASSERT_TRUE(x.launch({dir + "/missing/MOVIES.TRE"}, dir, "^Error$", &deck, &error));
    EXPECT_EQ(x.run({"xdotool", "search", "--onlyvisible", "--name", "^Warning$"}), "");
    x.run({"xdotool", "windowfocus", error});
    keys(x, {"Return"});
    std::string warning = x.find_window("^Warning$");
    ASSERT_FALSE(warning.empty());
    x.run({"xdotool", "windowfocus", warning});
    keys(x, {"Return"});

    std::string window = x.find_window(caption_pattern);
    ASSERT_FALSE(window.empty());
    EXPECT_TRUE(eventually([&] {
        return x.run({"xdotool", "search", "--onlyvisible", "--name", "^Warning$"}) == "";
    }));
    // Enter is the default button's: "Exit".
    x.run({"xdotool", "windowfocus", window});
    keys(x, {"Return"});
    int status = -1;
    ASSERT_TRUE(ended(deck, 30, &status));
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

TEST(DeckEndToEnd, RipToSavesTheMovieAsWebmAndCancelLeavesNoFile) {
    SKIP_WITHOUT_X_TOOLS();
    if (!on_path("vpxdec") || !on_path("mkvextract"))
        GTEST_SKIP() << "vpx-tools or mkvtoolnix is missing (scripts/setup installs them)";
    constexpr int rip_button[4] = {23, 79, 50, 10};
    constexpr int exit_button[4] = {89, 126, 50, 14};
    x_session x;
    std::string dir = scratch_dir("deck rip");
    std::vector<int32_t> movies;
    std::string archive = write_archive(dir + "/Movies.tre", &movies);
    ASSERT_TRUE(write_file(dir + "/long.tgv", make_form_busy_movie(60)));
    pid_t deck = -1;
    std::string window;
    ASSERT_TRUE(x.launch({archive}, dir, caption_pattern, &deck, &window));
    window_size size = geometry(x, window);

    // Saves under a typed name; the chooser offers the archive's folder.
    auto rip_as = [&](const std::string& name) {
        x.run({"xdotool", "windowfocus", window});
        click(x, window, size, rip_button[0], rip_button[1], rip_button[2], rip_button[3]);
        std::string chooser = x.find_window("^Rip to$");
        ASSERT_FALSE(chooser.empty());
        x.run({"xdotool", "windowfocus", chooser});
        keys(x, {"ctrl+a"});
        x.run({"xdotool", "type", "--delay", "20", name});
        keys(x, {"Return"});
    };
    // Nothing selected: the first movie, at the zoom list's "2x interlaced".
    rip_as(dir + "/saved.webm");
    std::string saved = x.find_window("^Saved$");
    ASSERT_FALSE(saved.empty()) << "no message after the export";
    x.run({"xdotool", "windowfocus", saved});
    keys(x, {"Return"});
    ASSERT_TRUE(std::filesystem::exists(dir + "/saved.webm"));
    EXPECT_NE(x.run({"mkvinfo", dir + "/saved.webm"}).find("Title: Movies.tre, movie 1"),
              std::string::npos);
    // Every picture of the movie decodes back at the doubled size.
    x.run({"mkvextract", dir + "/saved.webm", "tracks", "0:" + dir + "/saved.ivf"});
    x.run({"vpxdec", "--i420", "-o", dir + "/saved.yuv", dir + "/saved.ivf"});
    rip_request request;
    request.path = archive;
    request.offset = movies[0];
    request.interlaced = true;
    ripped_movie ripped = rip_to_memory(request);
    ASSERT_EQ(ripped.info.width, 640);
    const uintmax_t picture_bytes = 640 * 330 * 3 / 2;
    EXPECT_EQ(std::filesystem::file_size(dir + "/saved.yuv"),
              picture_bytes * uintmax_t(ripped.pictures()));

    // The long single movie, cancelled as soon as its progress shows.
    click(x, window, size, exit_button[0], exit_button[1], exit_button[2], exit_button[3]);
    int status = -1;
    ASSERT_TRUE(ended(deck, 30, &status));
    ASSERT_TRUE(x.launch({dir + "/long.tgv"}, dir, caption_pattern, &deck, &window));
    size = geometry(x, window);
    rip_as(dir + "/cancelled.webm");
    std::string progress = x.find_window("^Ripping$");
    ASSERT_FALSE(progress.empty());
    x.run({"xdotool", "windowfocus", progress});
    keys(x, {"Escape"});
    EXPECT_TRUE(eventually([&] {
        return x.run({"xdotool", "search", "--onlyvisible", "--name", "^Ripping$"}) == "";
    }));
    EXPECT_EQ(x.run({"xdotool", "search", "--onlyvisible", "--name", "^(Saved|Error)$"}), "");
    for (const auto& entry : std::filesystem::directory_iterator(dir))
        EXPECT_EQ(entry.path().filename().string().find("cancelled"), std::string::npos)
            << entry.path();
    click(x, window, size, exit_button[0], exit_button[1], exit_button[2], exit_button[3]);
    ASSERT_TRUE(ended(deck, 30, &status));
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

} // namespace
