// reelrip's command line:
//   reelrip FILE [-offset N] [-i] [--from T [--to T2]] -o DIR
//                                          one movie (or a clip of it) into DIR
//   reelrip --list FILE                    the launcher's movie list
//   reelrip --all FILE [-i] -o DIR         every listed movie into DIR/NNN
//   reelrip FILE [-offset N] [-i] -o OUT.webm [--crf N] [--quiet]
//                                          one movie as a WebM video
//   reelrip --all FILE [-i] -o DIR --webm [--crf N] [--quiet]
//                                          every listed movie into DIR/NNN.webm
#pragma once

#include <csignal>
#include <cstdint>
#include <cstdio>
#include <string>

enum rip_mode { rip_one, rip_list, rip_every };

struct rip_options {
    rip_mode mode = rip_one;
    std::string file;
    std::string out_dir;
    int64_t offset = 0;
    bool interlaced = false;
    // WebM output: one movie's OUT ends in ".webm", or --all with --webm.
    bool webm = false;
    int32_t crf = -1; // -1: the export's default
    bool quiet = false;
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

// The WebM runs of run_reelrip (webm_cli.cpp).
int rip_one_webm(const rip_options& options, FILE* err);
int rip_every_webm(const rip_options& options, FILE* err);

// False with a one-line reason in error when the words are not a valid call.
bool parse_rip_options(int argc, const char* const* argv, rip_options* options, std::string* error);

extern const char rip_usage_text[];

// The whole program: listing on out, messages and progress on err. Returns
// the exit status: 0 done, 1 nothing playable or a rip failed, 2 usage.
int run_reelrip(int argc, const char* const* argv, FILE* out, FILE* err);
