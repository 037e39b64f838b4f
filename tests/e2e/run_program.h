// Runs one of the built programs as a child process, headless, with a time
// limit, for the end-to-end tests.
#pragma once

#include <string>
#include <vector>

struct program_result {
    int exit_status = -1; // 0..255, or -1 when killed or not started
    bool timed_out = false;
    double seconds = 0;
    std::string error_output;
};

// Starts REEL_BUILD_DIR/program with args. SDL gets the dummy video driver
// and the disk audio driver writing to /dev/null. When interrupt_after is
// non-negative, SIGINT is sent after that many seconds. Each "NAME=value" of
// environment replaces that variable.
program_result run_program(const std::string& program, const std::vector<std::string>& args,
                           double time_limit = 60, double interrupt_after = -1,
                           const std::vector<std::string>& environment = {});

std::string build_path(const std::string& name);
// A fresh directory under the build tree for one test's files.
std::string scratch_dir(const std::string& name);
