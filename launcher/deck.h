// The launcher's own logic: its dialog template, its state and its handlers.
// Free of any toolkit; the dialog layer reaches it through deck_ui.
#pragma once

#include "platform/process.h"

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

enum deck_control_kind {
    control_default_button,
    control_push_button,
    control_list_box,
    control_static_text,
    control_group_box,
};

// Positions and sizes are in dialog units.
struct deck_control {
    int id; // id_none for controls that no handler refers to
    deck_control_kind kind;
    const char* text;
    int x, y, width, height;
};

constexpr int id_none = -1;
constexpr int id_exit = 1; // the dialog's OK
constexpr int id_open = 1000;
constexpr int id_movie_list = 1001;
constexpr int id_zoom_list = 1003;
constexpr int id_play = 1004;
constexpr int id_rip = 1005;
constexpr int id_about = 1006;

constexpr int deck_template_id = 102;
constexpr int deck_icon_id = 128;
constexpr int deck_width = 226;
constexpr int deck_height = 153;
constexpr int deck_control_count = 10;

// In tab order.
extern const deck_control deck_controls[deck_control_count];
extern const char deck_caption[];

#ifdef _WIN32
constexpr char player_name[] = "reelplay.exe";
#else
constexpr char player_name[] = "reelplay";
#endif

constexpr int zoom_line_single = 0;
constexpr int zoom_line_interlaced = 1;

enum deck_icon { icon_error, icon_warning, icon_information };

struct deck_file_filter {
    const char* label;
    const char* pattern;
};

struct deck_open_request {
    const char* title;
    const char* default_extension;
    std::vector<deck_file_filter> filters; // patterns match any letter case
};

struct deck_save_request {
    const char* title;
    std::string folder;
    std::string name;                      // suggested file name
    std::vector<deck_file_filter> filters; // the file types offered, the first chosen
};

// One movie exported by "Rip to ???". The dialog runs deck_run_export on a
// thread of its own, shows fraction and sets cancel; the rest is the
// export's.
struct deck_export {
    std::string archive;
    int32_t offset = 0;
    int64_t movie_end = 0; // the next listed movie's offset, 0 for the file's end
    bool interlaced = false;
    bool exact = false; // Matroska without loss rather than WebM
    std::string out_path;
    std::string title;
    std::atomic<double> fraction{0};
    std::atomic<bool> cancel{false};
    std::atomic<bool> finished{false};
    // Set before finished.
    bool ok = false;
    std::string error;
};
void deck_run_export(deck_export* job);

// What the launcher needs of its dialog. Lists are named by control id;
// lines count from 0 and -1 means no selection.
// What the "About" box says; the dialog layer adds the reel icon.
struct deck_about {
    const char* name;
    const char* version;
    const char* description;
    const char* licence;
};
extern const deck_about deck_about_box;

struct deck_ui {
    void (*add_line)(void* context, int list, const char* text);
    // false when the list has no such line
    bool (*delete_line)(void* context, int list, int line);
    int (*selected_line)(void* context, int list);
    void (*select_line)(void* context, int list, int line);
    void (*message)(void* context, const char* text, const char* caption, deck_icon icon);
    // false when the user cancels
    bool (*choose_file)(void* context, const deck_open_request& request, std::string* path);
    // args[0] is the program's name; movie is the movie list's line it
    // plays, for what is said of it later. False when the process could not
    // start.
    bool (*start_program)(void* context, const std::string& program,
                          const std::vector<std::string>& args, const std::string& movie);
    void (*show_about)(void* context, const deck_about& about);
    void* context;
    // false when the user cancels; filter is the line of the file type chosen
    bool (*choose_save_file)(void* context, const deck_save_request& request, std::string* path,
                             int* filter) = nullptr;
    // Runs deck_run_export(job) off the dialog's thread behind a progress
    // dialog with a Cancel button; returns when the export has ended.
    void (*run_export)(void* context, deck_export* job) = nullptr;
};

// The player's full file name, fixed when the dialog starts. Neither it nor
// the chosen file's path is cut to any length.
extern std::string player_path;
extern std::string chosen_path;

// The player in current_dir, or beside the launcher when current_dir has none
// (a launcher started from a desktop menu runs in the home directory).
std::string find_player_path(const std::string& current_dir, const std::string& own_dir,
                             bool (*is_program)(const std::string& path));

// "*.tre" -> "*.[tT][rR][eE]": the file chooser compares names case-sensitively.
std::string any_case_pattern(const char* pattern);
const deck_open_request& open_request();

// The player's command line as one text, and the same words as an argument
// vector with the path kept whole as one element.
std::string player_command_line(const std::string& path, int zoom_line, int32_t offset);
std::vector<std::string> player_arguments(const std::string& path, int zoom_line, int32_t offset);

// Handlers. deck_start runs after the dialog and its controls exist.
void deck_start(const deck_ui& ui, const std::string& player);
void deck_open(const deck_ui& ui);
// As if path had been chosen in the open dialog; relative paths are made whole.
void deck_open_path(const deck_ui& ui, const std::string& path);
void deck_play(const deck_ui& ui);
// A player has ended (its label is the movie's line): one that failed or
// was killed is reported in a message box; one that ended normally, or that
// the user closed, is not.
void deck_player_ended(const deck_ui& ui, const player_end& end);
// "Rip to ???": the selected movie (line 0 when none) as a WebM file, or
// exactly as a Matroska file when that type is chosen or the name ends in
// ".mkv".
void deck_rip(const deck_ui& ui);
// "Movies.tre", line 2 -> "Movies-2.webm".
std::string rip_file_name(const std::string& archive, int line);
// Every command of the dialog; those without a handler are ignored.
void deck_command(const deck_ui& ui, int id);
