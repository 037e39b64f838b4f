// What the launcher asks of the operating system: its directories, and
// starting the player as a process of its own.
#pragma once

#include <string>
#include <vector>

std::string current_directory();
// The directory holding the running launcher; empty when it cannot be told.
std::string own_directory();
bool is_program(const std::string& path);

// Starts program with args (args[0] is the name it sees) directly, with no
// shell, in a process group of its own, without the launcher's open files,
// and asks for a raised priority, ignoring a refusal. Its standard error
// comes back on a pipe that collect_players() reads; label is handed back
// with its end. Nothing is waited for. False when the process could not be
// started.
bool start_program(const std::string& program, const std::vector<std::string>& args,
                   const std::string& label = "");

// How one started program ended.
struct player_end {
    std::string label;
    int exit_status = 0; // when it exited
    int signal = 0;      // the signal that ended it, else 0
    // The last line it wrote on standard error; empty when it wrote none.
    std::string last_line;
};

// What to watch for reading: a pipe written on SIGCHLD, and the standard
// error of every program still running. Any of them readable means that
// collect_players() has work.
std::vector<int> player_watch_fds();

// Copies what the programs wrote on their standard error through to ours,
// reaps those that ended and tells how each ended. Never blocks. Every
// program started is remembered until it has been reaped here.
std::vector<player_end> collect_players();

// "Segmentation fault" for 11.
std::string signal_name(int signal);
