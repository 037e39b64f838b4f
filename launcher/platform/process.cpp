#include "process.h"

#include <cerrno>
#include <climits>
#include <filesystem>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

std::string current_directory() {
    std::error_code error;
    std::filesystem::path dir = std::filesystem::current_path(error);
    return error ? std::string(".") : dir.string();
}

std::string own_directory() {
    std::error_code error;
    std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", error);
    return error ? std::string() : exe.parent_path().string();
}

bool is_program(const std::string& path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
           access(path.c_str(), X_OK) == 0;
}

// Players started earlier; an ended one stays a zombie until it is reaped.
static pid_t started[64];

static void reap_ended_players() {
    for (pid_t& pid : started)
        if (pid > 0 && waitpid(pid, nullptr, WNOHANG) != 0) pid = 0;
}

static void remember(pid_t pid) {
    for (pid_t& slot : started)
        if (slot == 0) {
            slot = pid;
            return;
        }
}

bool start_program(const std::string& program, const std::vector<std::string>& args) {
    reap_ended_players();
    std::vector<char*> argv;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addclosefrom_np(&actions, 3);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setpgroup(&attributes, 0);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK);
    pid_t pid = 0;
    int rc = posix_spawn(&pid, program.c_str(), &actions, &attributes, argv.data(), environ);
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) return false;

    // Users without the right to raise priorities are refused; that is fine.
    errno = 0;
    int nice_now = getpriority(PRIO_PROCESS, 0);
    if (errno == 0) setpriority(PRIO_PROCESS, id_t(pid), nice_now - 5);
    remember(pid);
    return true;
}
