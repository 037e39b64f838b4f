// reelrip's command line: see rip_usage_text and rip_options_text.
#pragma once

#include "rip.h"

#include <csignal>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

enum rip_mode { rip_one, rip_list, rip_every };

struct rip_options {
    rip_mode mode = rip_one;
    std::string file;
    std::string out_dir;
    int64_t offset = 0;
    bool interlaced = false;
    // WebM output: one movie's OUT ends in ".webm", or --all with --webm;
    // exact Matroska output (webm and mkv both set) likewise with ".mkv",
    // --mkv.
    bool webm = false;
    bool mkv = false;
    int32_t crf = -1;   // -1: the export's default
    bool quiet = false; // only errors and warnings
    bool help = false;
    // A clip, in sample frames: from the slot that contains from_frame to
    // the first slot at or after to_frame (-1: the end).
    int64_t from_frame = 0;
    int64_t to_frame = -1;
};

// Set by Ctrl-C while an interrupt_guard lives: the rip stops at the next
// slot and leaves no file under a temporary name; the program then exits 130.
extern volatile sig_atomic_t rip_interrupted;
struct interrupt_guard {
    struct sigaction previous;
    interrupt_guard();
    ~interrupt_guard();
};

// The WebM and Matroska runs of run_reelrip (webm_cli.cpp).
int rip_one_webm(const rip_options& options, FILE* err);
int rip_every_webm(const rip_options& options, FILE* err);

// The movies of FILE as the launcher lists them, without the scanner's
// messages: one at offset 0 for a single movie file.
struct movie_list {
    std::vector<int32_t> offsets;
    std::vector<std::string> lines;
    bool named = false; // a named archive: each line is its member's name
};
movie_list list_file_movies(const std::string& file);
// The list for --list and --all; false, with the reason on err, when the
// file cannot be read or lists no movie.
bool list_or_say_why(const std::string& file, FILE* err, movie_list* list);
// Where the movie at offset ends: the next listed movie's offset, or 0 for
// the end of the file.
int64_t movie_end(const std::vector<int32_t>& offsets, int64_t offset);
// --all's output names, one per listed movie, unique even where letter case
// alone differs: a named archive's movies after their members, without the
// extension ("valley_mono"), the others by their place in the list ("001").
std::vector<std::string> output_names(const movie_list& list);

// "1 movie", "3 movies".
std::string count_of(int64_t count, const char* noun);
// Why a movie was not ripped, for the user: the system's reason for a file
// that cannot be opened, what to do for an archive at a place where no movie
// starts, else the rip's own error.
std::string rip_failure(rip_status status, const std::string& file, int64_t offset,
                        const std::string& error);
// The warning for a movie that its file ends inside, or empty: only the last
// movie of a file can be cut by its end.
std::string cut_warning(const std::string& file, int64_t offset, bool cut_short, double seconds);

// --all's lines on err: "movie I of N (offset X, NAME): " then the outcome;
// with --quiet only failures and warnings, each a line of its own.
struct every_report {
    FILE* err;
    bool quiet;
    int32_t count;
    int32_t current = 0;              // the movie's number, from 1
    std::vector<int32_t> failed = {}; // their numbers
    std::string heading = {};
    void start(int32_t number, int64_t offset, const std::string& name);
    void succeeded(const std::string& outcome, const std::string& warning);
    void fail(const std::string& reason);
    // The closing summary; the exit status.
    int finish(const std::string& dir, double seconds);
};

// False with a one-line reason in error when the words are not a valid call.
bool parse_rip_options(int argc, const char* const* argv, rip_options* options, std::string* error);

// Every form of the command line, shown after a usage error.
extern const char rip_usage_text[];
// What --help (-h) adds after the usage: every option and its range.
extern const char rip_options_text[];

// The whole program but --version: listing and help on out, messages and
// progress on err. Returns the exit status: 0 done, 1 nothing playable or a
// rip failed, 2 usage, 130 Ctrl-C.
int run_reelrip(int argc, const char* const* argv, FILE* out, FILE* err);
