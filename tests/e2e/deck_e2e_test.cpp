// reeldeck in a real window on a private X server, driven like a user would
// with xdotool; the player it starts is observed as a process.
#include "archive_writer.h"
#include "bytes.h"
#include "demo_archive.h"
#include "form_writer.h"
#include "rip.h"
#include "run_program.h"
#include "x_session.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>

namespace {

constexpr double dialog_units_wide = 226;
constexpr double dialog_units_high = 153;

// Clicks the middle of a control given in dialog units.
void click(x_session& x, const std::string& window, window_size s, int x0, int y0, int w, int h) {
    int px = int((x0 + w / 2.0) * s.width / dialog_units_wide);
    int py = int((y0 + h / 2.0) * s.height / dialog_units_high);
    x.run({"xdotool", "mousemove", "--window", window, std::to_string(px), std::to_string(py),
           "click", "1"});
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
constexpr int about_button[4] = {155, 126, 50, 14};

// The file named at start is listed only once the dialog's loop runs, and a
// busy machine may deliver a press before that, when Play has nothing to
// play; so Play is pressed again until started() holds, and only then.
bool press_play_until(x_session& x, const std::string& window,
                      const std::function<bool()>& started) {
    window_size size = geometry(x, window);
    for (int press = 0; press < 3; ++press) {
        click(x, window, size, play_button[0], play_button[1], play_button[2], play_button[3]);
        if (eventually(started, 10)) return true;
    }
    return false;
}

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
    ASSERT_TRUE(press_play_until(x, window, [&] { return !read_lines(log).empty(); }));
    EXPECT_EQ(read_lines(log), std::vector<std::string>{started(movies[0], true)});

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

// The command name of a running process; empty when there is none.
std::string process_name(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/comm");
    std::string name;
    std::getline(in, name);
    return name;
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

// reeldeck on a demo archive in dir, where no player of its own lies (the
// real one beside the launcher starts, as from a desktop menu), with Play
// pressed until started() holds.
void play_first_movie(x_session& x, const std::string& dir, std::vector<int32_t>* movies,
                      std::string* archive, pid_t* deck, std::string* window,
                      const std::function<bool()>& started) {
    *archive = write_archive(dir + "/MOVIES.TRE", movies);
    ASSERT_TRUE(x.launch({*archive}, dir, caption_pattern, deck, window));
    std::ifstream in(dir + "/reeldeck.err");
    ASSERT_TRUE(press_play_until(x, *window, started)) << "Play started nothing; reeldeck wrote:\n"
                                                       << in.rdbuf();
}

// Escape in the dialog ends reeldeck with status 0.
void close_by_escape(x_session& x, const std::string& window, pid_t deck) {
    x.run({"xdotool", "windowfocus", window});
    keys(x, {"Escape"});
    int status = -1;
    ASSERT_TRUE(ended(deck, 30, &status));
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

TEST(DeckEndToEnd, PlayStartsTheRealPlayerBesideTheLauncher) {
    SKIP_WITHOUT_X_TOOLS();
    x_session x;
    std::string dir = scratch_dir("deck real player");
    std::vector<int32_t> movies;
    std::string archive;
    pid_t deck = -1;
    std::string window;
    // Seen running: the launcher does not wait for it.
    pid_t player = -1;
    ASSERT_NO_FATAL_FAILURE(play_first_movie(x, dir, &movies, &archive, &deck, &window, [&] {
        return (player = child_named(deck, "reelplay")) > 0;
    }));
    std::ifstream in("/proc/" + std::to_string(player) + "/cmdline");
    std::string words((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (!words.empty()) {
        std::string expected = std::string("reelplay\0", 9) + archive + std::string("\0-i\0", 4) +
                               std::string("-offset\0", 8) + std::to_string(movies[0]) + '\0';
        EXPECT_EQ(words, expected);
    }

    close_by_escape(x, window, deck);
    // Only while the number is still the player's: once it has ended, the
    // number may already be another process's.
    if (player > 0 && process_name(player) == "reelplay") kill(player, SIGKILL);
}

TEST(DeckEndToEnd, APlayerThatCannotStartIsReapedAndReportedInAMessageBox) {
    SKIP_WITHOUT_X_TOOLS();
    x_session x;
    // The real player, beside the launcher, finds no such sound system.
    x.program_env = {"SDL_AUDIODRIVER=none such"};
    std::string dir = scratch_dir("deck failed player");
    std::vector<int32_t> movies;
    std::string archive;
    pid_t deck = -1;
    std::string window;
    std::string box;
    ASSERT_NO_FATAL_FAILURE(play_first_movie(x, dir, &movies, &archive, &deck, &window, [&] {
        box = x.run({"xdotool", "search", "--onlyvisible", "--name", "^Error$"});
        box = box.substr(0, box.find('\n'));
        return !box.empty();
    }));
    std::filesystem::create_directories(build_path("test-artifacts"));
    x.run({"import", "-window", box, build_path("test-artifacts/reeldeck_player_failed.png")});
    // Reaped before the box shows: no zombie left behind.
    EXPECT_EQ(child_named(deck, "reelplay"), -1);
    // Its line also reached the launcher's own standard error.
    std::ifstream in(dir + "/reeldeck.err");
    std::string errors((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_NE(errors.find("reelplay: cannot start SDL: "), std::string::npos) << errors;

    x.run({"xdotool", "windowfocus", "--sync", box});
    keys(x, {"Return"});
    EXPECT_TRUE(eventually([&] {
        return x.run({"xdotool", "search", "--onlyvisible", "--name", "^Error$"}) == "";
    }));
    close_by_escape(x, window, deck);
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

    // A name typed with ".mkv" saves the exact kind.
    rip_as(dir + "/exact.mkv");
    saved = x.find_window("^Saved$");
    ASSERT_FALSE(saved.empty()) << "no message after the exact export";
    x.run({"xdotool", "windowfocus", saved});
    keys(x, {"Return"});
    EXPECT_NE(x.run({"mkvinfo", dir + "/exact.mkv"}).find("Document type: matroska"),
              std::string::npos);

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

TEST(DeckEndToEnd, AboutOpensABoxThatEscapeOrItsButtonCloses) {
    SKIP_WITHOUT_X_TOOLS();
    x_session x;
    std::string dir = scratch_dir("deck about");
    pid_t deck = -1;
    std::string window;
    ASSERT_TRUE(x.launch({}, dir, caption_pattern, &deck, &window));
    window_size size = geometry(x, window);
    auto about_shown = [&] {
        return x.run({"xdotool", "search", "--onlyvisible", "--name", "^About reeldeck$"}) != "";
    };
    for (bool by_key : {true, false}) {
        click(x, window, size, about_button[0], about_button[1], about_button[2], about_button[3]);
        std::string about = x.find_window("^About reeldeck$");
        ASSERT_FALSE(about.empty());
        if (by_key) {
            std::filesystem::create_directories(build_path("test-artifacts"));
            x.run({"import", "-window", about, build_path("test-artifacts/reeldeck_about.png")});
            x.run({"xdotool", "windowfocus", "--sync", about});
            keys(x, {"Escape"});
        } else {
            // Its one button sits at the lower right.
            window_size box = geometry(x, about);
            x.run({"xdotool", "mousemove", "--window", about, std::to_string(box.width - 60),
                   std::to_string(box.height - 24), "click", "1"});
        }
        EXPECT_TRUE(eventually([&] { return !about_shown(); }));
        EXPECT_EQ(waitpid(deck, nullptr, WNOHANG), 0) << "the launcher must stay open";
    }
    x.run({"xdotool", "windowfocus", window});
    keys(x, {"Escape"});
    int status = -1;
    ASSERT_TRUE(ended(deck, 30, &status));
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

} // namespace
