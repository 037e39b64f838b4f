// "Rip to ???" in the launcher's logic: what it offers to save, what it
// exports, and what it says.
#include "archive_writer.h"
#include "bytes.h"
#include "deck.h"
#include "form_writer.h"
#include "scanner.h"

#include <filesystem>
#include <gtest/gtest.h>

namespace {

struct rip_dialog {
    int movie_line = -1;
    int zoom_line = zoom_line_interlaced;
    std::string folder, name, typed;
    int filter = 0; // the file type chosen
    std::vector<std::string> types;
    std::vector<std::string> messages; // caption: text
    int exports = 0;

    static rip_dialog& of(void* c) { return *static_cast<rip_dialog*>(c); }
    deck_ui ui() {
        deck_ui u = {};
        u.context = this;
        u.add_line = [](void*, int, const char*) {};
        u.delete_line = [](void*, int, int) { return false; };
        u.selected_line = [](void* c, int list) {
            return list == id_zoom_list ? of(c).zoom_line : of(c).movie_line;
        };
        u.message = [](void* c, const char* text, const char* caption, deck_icon) {
            of(c).messages.push_back(std::string(caption) + ": " + text);
        };
        u.choose_save_file = [](void* c, const deck_save_request& r, std::string* path,
                                int* filter) {
            of(c).folder = r.folder;
            of(c).name = r.name;
            of(c).types.clear();
            for (const deck_file_filter& f : r.filters) of(c).types.push_back(f.label);
            *path = of(c).typed;
            *filter = of(c).filter;
            return !path->empty();
        };
        // The export runs here on the caller's thread; the dialog's thread
        // and progress display are the toolkit's.
        u.run_export = [](void* c, deck_export* job) {
            ++of(c).exports;
            deck_run_export(job);
        };
        return u;
    }
};

TEST(DeckRip, SavesTheSelectedMovieOrSaysWhyNot) {
    std::string dir = std::string(REEL_BUILD_DIR) + "/test-scratch/deck rip logic";
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    // Member 1 is no movie the player can open, though the scanner lists it.
    byte_builder broken;
    broken.tag("FORM").be32(100).tag("MOVE").tag("_PC_").zeros(40);
    std::string archive = dir + "/Movies.tre";
    std::vector<int32_t> offsets;
    ASSERT_TRUE(
        write_file(archive, write_xtre_archive({{"", make_form_demo_movie(2)}, {"", broken.bytes}},
                                               &offsets)));
    rip_dialog dialog;
    deck_ui ui = dialog.ui();
    deck_open_path(ui, archive);
    ASSERT_EQ(movie_count, 2);

    // Cancelled in the save dialog: nothing is exported.
    deck_command(ui, id_rip);
    EXPECT_EQ(dialog.exports, 0);
    EXPECT_EQ(dialog.folder, dir);
    EXPECT_EQ(dialog.name, "Movies-1.webm");

    // Line 1 cannot be played: an error, and no file.
    dialog.movie_line = 1;
    dialog.typed = dir + "/second";
    deck_command(ui, id_rip);
    EXPECT_EQ(dialog.name, "Movies-2.webm");
    ASSERT_EQ(dialog.messages.size(), 1u);
    EXPECT_EQ(dialog.messages[0].rfind("Error: ", 0), 0u) << dialog.messages[0];
    EXPECT_FALSE(std::filesystem::exists(dir + "/second.webm"));

    // Line 0 at "1x"; ".webm" is added to a name typed without it.
    dialog.movie_line = 0;
    dialog.zoom_line = zoom_line_single;
    dialog.typed = dir + "/first";
    deck_command(ui, id_rip);
    ASSERT_EQ(dialog.messages.size(), 2u);
    EXPECT_EQ(dialog.messages[1], "Saved: The movie is saved as " + dir + "/first.webm");
    std::vector<uint8_t> head = read_file(dir + "/first.webm");
    ASSERT_GE(head.size(), 4u);
    EXPECT_EQ(std::vector<uint8_t>(head.begin(), head.begin() + 4),
              (std::vector<uint8_t>{0x1A, 0x45, 0xDF, 0xA3})); // an EBML file
    EXPECT_EQ(dialog.exports, 2);

    // The exact type chosen: the suggested ".webm" becomes ".mkv", and the
    // file is Matroska rather than WebM.
    EXPECT_EQ(dialog.types,
              (std::vector<std::string>{"WebM video (*.webm)", "Matroska, exact (*.mkv)"}));
    dialog.filter = 1;
    dialog.typed = dir + "/" + dialog.name;
    deck_command(ui, id_rip);
    ASSERT_EQ(dialog.messages.size(), 3u);
    EXPECT_EQ(dialog.messages[2], "Saved: The movie is saved as " + dir + "/Movies-1.mkv");
    head = read_file(dir + "/Movies-1.mkv");
    EXPECT_NE(std::string(head.begin(), head.begin() + 64).find("matroska"), std::string::npos);
}

} // namespace
