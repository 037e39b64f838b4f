#include "archive_writer.h"
#include "bytes.h"
#include "deck.h"
#include "scanner.h"

#include <filesystem>
#include <fnmatch.h>
#include <gtest/gtest.h>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace {

struct shown_message {
    std::string text, caption;
    deck_icon icon;
    bool operator==(const shown_message&) const = default;
};

struct started_program {
    std::string program;
    std::vector<std::string> args;
    std::string movie;
};

// A dialog that only remembers what the launcher did to it.
struct fake_dialog {
    std::map<int, std::vector<std::string>> lines;
    std::map<int, int> selection;
    std::vector<shown_message> messages;
    std::vector<started_program> starts;
    std::optional<std::string> next_choice; // nothing: the user cancels
    std::vector<std::string> request_patterns;
    std::vector<const deck_about*> abouts;
    bool start_succeeds = true;
    int calls = 0;

    static fake_dialog& of(void* c) {
        fake_dialog& d = *static_cast<fake_dialog*>(c);
        ++d.calls;
        return d;
    }

    deck_ui ui() {
        deck_ui u;
        u.context = this;
        u.add_line = [](void* c, int list, const char* text) { of(c).lines[list].push_back(text); };
        u.delete_line = [](void* c, int list, int line) {
            fake_dialog& d = of(c);
            std::vector<std::string>& l = d.lines[list];
            if (line < 0 || size_t(line) >= l.size()) return false;
            l.erase(l.begin() + line);
            d.selection[list] = -1;
            return true;
        };
        u.selected_line = [](void* c, int list) {
            fake_dialog& d = of(c);
            return d.selection.count(list) ? d.selection[list] : -1;
        };
        u.select_line = [](void* c, int list, int line) { of(c).selection[list] = line; };
        u.message = [](void* c, const char* text, const char* caption, deck_icon icon) {
            of(c).messages.push_back({text, caption, icon});
        };
        u.choose_file = [](void* c, const deck_open_request& request, std::string* path) {
            fake_dialog& d = of(c);
            for (const deck_file_filter& f : request.filters)
                d.request_patterns.push_back(f.pattern);
            if (!d.next_choice) return false;
            *path = *d.next_choice;
            return true;
        };
        u.start_program = [](void* c, const std::string& program,
                             const std::vector<std::string>& args, const std::string& movie) {
            fake_dialog& d = of(c);
            d.starts.push_back({program, args, movie});
            return d.start_succeeds;
        };
        u.show_about = [](void* c, const deck_about& about) { of(c).abouts.push_back(&about); };
        return u;
    }
};

// Each test writes files of its own name here: ctest runs them side by side.
std::string deck_dir() {
    std::string dir = std::string(REEL_BUILD_DIR) + "/test-scratch/deck logic";
    std::filesystem::create_directories(dir);
    return dir;
}

std::vector<uint8_t> movie_member(const char* kind = "MOVE", const char* platform = "_PC_") {
    byte_builder b;
    b.tag("FORM").be32(100).tag(kind).tag(platform).zeros(40);
    return b.bytes;
}

// Movies at members 0, 2 and 3; member 1 is not a movie.
std::string write_demo_like_archive(const std::string& name, std::vector<int32_t>* movies) {
    std::vector<int32_t> offsets;
    std::vector<archive_member> members = {{"", movie_member()},
                                           {"", std::vector<uint8_t>(64, 7)},
                                           {"", movie_member("AVI ")},
                                           {"", movie_member("MOVE", "LIST")}};
    std::string path = deck_dir() + "/" + name;
    EXPECT_TRUE(write_file(path, write_xtre_archive(members, &offsets)));
    *movies = {offsets[0], offsets[2], offsets[3]};
    return path;
}

class DeckLogic : public ::testing::Test {
  protected:
    void SetUp() override {
        movie_count = 0;
        chosen_path.clear();
        ui = dialog.ui();
        deck_start(ui, "/opt/reel/reelplay");
    }
    void open(const std::string& path) {
        dialog.next_choice = path;
        deck_command(ui, id_open);
    }
    fake_dialog dialog;
    deck_ui ui;
};

TEST(DeckCommandLine, ExamplesWithBothZoomLines) {
    EXPECT_EQ(player_command_line("D:\\GAMES\\MOVIES.TRE", zoom_line_interlaced, 123456),
              std::string(player_name) + " D:\\GAMES\\MOVIES.TRE -i -offset 123456");
    EXPECT_EQ(player_command_line("D:\\GAMES\\MOVIES.TRE", zoom_line_single, 123456),
              std::string(player_name) + " D:\\GAMES\\MOVIES.TRE -offset 123456");
    // No zoom line selected adds no switch.
    EXPECT_EQ(player_command_line("/m.tgv", -1, 0), std::string(player_name) + " /m.tgv -offset 0");
}

TEST(DeckCommandLine, ArgumentsAreTheWordsWithThePathWhole) {
    std::vector<std::string> expected = {player_name, "/games/my movies/MOVIES.TRE", "-i",
                                         "-offset", "-5"};
    EXPECT_EQ(player_arguments("/games/my movies/MOVIES.TRE", zoom_line_interlaced, -5), expected);
    expected = {player_name, "/games/my movies/MOVIES.TRE", "-offset", "2147483647"};
    EXPECT_EQ(player_arguments("/games/my movies/MOVIES.TRE", zoom_line_single, 2147483647),
              expected);
}

TEST(DeckCommandLine, LongPathsAreNotCut) {
    std::string path = "/" + std::string(700, 'a') + "/MOVIES.TRE";
    std::string line = player_command_line(path, zoom_line_interlaced, 99);
    EXPECT_EQ(line, std::string(player_name) + " " + path + " -i -offset 99");
    EXPECT_EQ(player_arguments(path, zoom_line_single, 99)[1], path);
}

TEST(DeckPlayerPath, CurrentDirectoryFirstThenTheLaunchersOwn) {
    static std::string present;
    auto only_present = [](const std::string& p) { return p == present; };
    present = std::string("/cwd/") + player_name;
    EXPECT_EQ(find_player_path("/cwd", "/usr/bin", only_present), present);
    present = std::string("/usr/bin/") + player_name;
    EXPECT_EQ(find_player_path("/cwd", "/usr/bin", only_present), present);
    // Neither: the current directory, and the start fails there visibly.
    present = "";
    EXPECT_EQ(find_player_path("/cwd", "/usr/bin", only_present),
              std::string("/cwd/") + player_name);
    EXPECT_EQ(find_player_path("/cwd", "", only_present), std::string("/cwd/") + player_name);
}

TEST(DeckOpenDialog, FiltersMatchAnyLetterCase) {
    const deck_open_request& r = open_request();
    ASSERT_EQ(r.filters.size(), 2u);
    EXPECT_STREQ(r.filters[0].label, "KV3, KV4 or KVX TRE file (*.tre)");
    EXPECT_STREQ(r.filters[1].label, "Drennic 2 movie file (*.tgv)");
    EXPECT_STREQ(r.default_extension, "*.tre");
    for (const char* name : {"MOVIES.TRE", "Movies.Tre", "movies.tre", "a.tRe"}) {
        EXPECT_EQ(fnmatch(r.filters[0].pattern, name, 0), 0) << name;
        EXPECT_NE(fnmatch(r.filters[1].pattern, name, 0), 0) << name;
    }
    for (const char* name : {"INTRO.TGV", "intro.Tgv"})
        EXPECT_EQ(fnmatch(r.filters[1].pattern, name, 0), 0) << name;
    EXPECT_NE(fnmatch(r.filters[0].pattern, "theatre", 0), 0);
    EXPECT_EQ(any_case_pattern("*.t-1"), "*.[tT]-1");
}

TEST_F(DeckLogic, StartFillsTheZoomListAndSelectsInterlaced) {
    EXPECT_EQ(dialog.lines[id_zoom_list], (std::vector<std::string>{"1x", "2x interlaced"}));
    EXPECT_EQ(dialog.selection[id_zoom_list], zoom_line_interlaced);
    EXPECT_TRUE(dialog.lines[id_movie_list].empty());
    EXPECT_EQ(player_path, "/opt/reel/reelplay");
}

TEST_F(DeckLogic, PlayBeforeAnyOpenAndAfterAnEmptyOneDoesNothing) {
    deck_command(ui, id_play);
    EXPECT_TRUE(dialog.starts.empty());
    EXPECT_TRUE(dialog.messages.empty());

    std::string empty = deck_dir() + "/EMPTY.TRE";
    ASSERT_TRUE(write_file(empty, write_xtre_archive({{"", std::vector<uint8_t>(32, 1)}})));
    open(empty);
    dialog.selection[id_movie_list] = 0;
    deck_command(ui, id_play);
    EXPECT_TRUE(dialog.starts.empty());
    ASSERT_EQ(dialog.messages.size(), 1u);
    EXPECT_EQ(dialog.messages[0],
              (shown_message{"No playable movies found on this archive", "Warning", icon_error}));
}

TEST_F(DeckLogic, ArchiveLinesAndPlayOfEachLine) {
    std::vector<int32_t> movies;
    std::string path = write_demo_like_archive("Movies.Tre", &movies);
    open(path);
    ASSERT_EQ(dialog.lines[id_movie_list].size(), 3u);
    EXPECT_EQ(dialog.lines[id_movie_list][2], "Movie 3 - offset " + std::to_string(movies[2]));
    EXPECT_TRUE(dialog.messages.empty());

    // Nothing selected right after the open: the first line plays.
    deck_command(ui, id_play);
    ASSERT_EQ(dialog.starts.size(), 1u);
    EXPECT_EQ(dialog.starts[0].program, "/opt/reel/reelplay");
    EXPECT_EQ(dialog.starts[0].args, player_arguments(path, zoom_line_interlaced, movies[0]));

    dialog.selection[id_movie_list] = 2;
    dialog.selection[id_zoom_list] = zoom_line_single;
    deck_command(ui, id_play);
    ASSERT_EQ(dialog.starts.size(), 2u);
    std::vector<std::string> expected = {player_name, path, "-offset", std::to_string(movies[2])};
    EXPECT_EQ(dialog.starts[1].args, expected);
    EXPECT_EQ(dialog.starts[1].movie, dialog.lines[id_movie_list][2]);
}

TEST_F(DeckLogic, OnlyAPlayerThatFailedOrWasKilledIsReported) {
    struct ending {
        player_end end;
        std::string shown; // empty: no message
    };
    const std::string movie = "Movie 2 - offset 4096";
    const ending endings[] = {
        {{movie, 0, 0, ""}, ""},
        {{movie, 0, 0, "CRITICAL: Writing to file [/dev/null]."}, ""},
        {{movie, 255, 0, "reelplay: cannot start SDL: no audio"},
         "The player could not play " + movie + ": reelplay: cannot start SDL: no audio"},
        {{movie, 3, 0, ""},
         "The player could not play " + movie + ": it wrote nothing (exit status 3)"},
        {{movie, 0, 9, ""},
         "The player could not play " + movie + ": it wrote nothing (ended by signal 9, Killed)"},
        {{movie, 0, 11, "half a"},
         "The player could not play " + movie +
             ": half a (ended by signal 11, Segmentation fault)"},
    };
    for (const ending& e : endings) {
        dialog.messages.clear();
        deck_player_ended(ui, e.end);
        if (e.shown.empty()) {
            EXPECT_TRUE(dialog.messages.empty()) << e.end.last_line;
        } else {
            ASSERT_EQ(dialog.messages.size(), 1u);
            EXPECT_EQ(dialog.messages[0], (shown_message{e.shown, "Error", icon_error}));
        }
    }
}

TEST_F(DeckLogic, SingleMovieFileIsLineZeroAtOffsetZero) {
    open("/nowhere/with blank/INTRO.TGV");
    ASSERT_EQ(dialog.lines[id_movie_list],
              (std::vector<std::string>{"Single movie file: /nowhere/with blank/INTRO.TGV"}));
    deck_command(ui, id_play);
    ASSERT_EQ(dialog.starts.size(), 1u);
    std::vector<std::string> expected = {player_name, "/nowhere/with blank/INTRO.TGV", "-i",
                                         "-offset", "0"};
    EXPECT_EQ(dialog.starts[0].args, expected);
}

TEST_F(DeckLogic, CancelKeepsThePreviousListAndSelection) {
    std::vector<int32_t> movies;
    std::string path = write_demo_like_archive("CANCEL.TRE", &movies);
    open(path);
    dialog.selection[id_movie_list] = 1;
    std::vector<std::string> before = dialog.lines[id_movie_list];

    dialog.next_choice.reset();
    deck_command(ui, id_open);
    EXPECT_EQ(dialog.lines[id_movie_list], before);
    deck_command(ui, id_play);
    ASSERT_EQ(dialog.starts.size(), 1u);
    EXPECT_EQ(dialog.starts[0].args, player_arguments(path, zoom_line_interlaced, movies[1]));
    EXPECT_TRUE(dialog.messages.empty());
}

TEST_F(DeckLogic, NewOpenReplacesTheListAndOffsets) {
    std::vector<int32_t> movies;
    open(write_demo_like_archive("REPLACED.TRE", &movies));
    dialog.selection[id_movie_list] = 2;
    open("/x/b.tgv");
    EXPECT_EQ(dialog.lines[id_movie_list].size(), 1u);
    EXPECT_EQ(movie_count, 1);
    deck_command(ui, id_play);
    ASSERT_EQ(dialog.starts.size(), 1u);
    EXPECT_EQ(dialog.starts[0].args.back(), "0");
}

TEST_F(DeckLogic, UnreadableArchiveShowsBothMessagesInOrder) {
    open("/nonexistent/dir/MOVIES.TRE");
    std::vector<shown_message> expected = {
        {"Cannot open file", "Error", icon_error},
        {"No playable movies found on this archive", "Warning", icon_error}};
    EXPECT_EQ(dialog.messages, expected);
    EXPECT_TRUE(dialog.lines[id_movie_list].empty());
    deck_command(ui, id_play);
    EXPECT_TRUE(dialog.starts.empty());
}

TEST_F(DeckLogic, FailedStartIsReported) {
    open("/x/a.tgv");
    dialog.start_succeeds = false;
    deck_command(ui, id_play);
    ASSERT_EQ(dialog.messages.size(), 1u);
    EXPECT_EQ(dialog.messages[0], (shown_message{"Cannot start the player", "Error", icon_error}));
}

TEST_F(DeckLogic, RipAndListCommandsTouchNothingAndAboutOnlyShowsItsBox) {
    open("/x/a.tgv");
    int calls = dialog.calls;
    for (int id : {id_rip, id_movie_list, id_zoom_list, id_none, 4242}) deck_command(ui, id);
    EXPECT_EQ(dialog.calls, calls);
    deck_command(ui, id_about);
    EXPECT_EQ(dialog.calls, calls + 1);
    ASSERT_EQ(dialog.abouts.size(), 1u);
    EXPECT_STREQ(dialog.abouts[0]->version, "1.0");
    EXPECT_EQ(dialog.lines[id_movie_list].size(), 1u);
}

TEST_F(DeckLogic, RelativePathIsMadeWholeAndLongPathsStayWhole) {
    deck_open_path(ui, "some dir/a.tgv");
    std::string whole = (std::filesystem::current_path() / "some dir/a.tgv").string();
    EXPECT_EQ(dialog.lines[id_movie_list][0], "Single movie file: " + whole);

    std::string long_path = "/" + std::string(600, 'b') + ".tgv";
    deck_open_path(ui, long_path);
    deck_command(ui, id_play);
    ASSERT_EQ(dialog.starts.size(), 1u);
    EXPECT_EQ(dialog.starts[0].args[1], long_path);
}

TEST(DeckTemplate, ControlsFitTheDialogAndExitIsTheOnlyDefault) {
    int defaults = 0;
    for (const deck_control& c : deck_controls) {
        EXPECT_GE(c.x, 0);
        EXPECT_GE(c.y, 0);
        EXPECT_LE(c.x + c.width, deck_width) << c.id;
        EXPECT_LE(c.y + c.height, deck_height) << c.id;
        if (c.kind == control_default_button) {
            ++defaults;
            EXPECT_EQ(c.id, id_exit);
        }
    }
    EXPECT_EQ(defaults, 1);
    EXPECT_EQ(deck_controls[0].id, id_exit); // first in tab order
    EXPECT_EQ(std::string(deck_caption).rfind("KV Movie Player - ", 0), 0u);
    EXPECT_TRUE(std::string(deck_caption).ends_with(" - v1.0"));
}

} // namespace
