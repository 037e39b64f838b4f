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
// and asks for a raised priority, ignoring a refusal. Nothing is waited for;
// players that have ended are reaped on the next start. False when the
// process could not be started.
bool start_program(const std::string& program, const std::vector<std::string>& args);
