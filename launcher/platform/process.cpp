#include "process.h"

#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
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

namespace {

// Lines longer than this are cut; a message is never that long.
constexpr size_t line_limit = 4096;

struct player {
    pid_t pid;
    int error_fd; // -1 once its write end has closed
    std::string label;
    std::string partial; // the line being written
    std::string last_line;
};

std::vector<player> players;
int chld_pipe[2] = {-1, -1};

void on_child_ended(int) {
    int saved = errno;
    char byte = 0;
    ssize_t ignored = write(chld_pipe[1], &byte, 1);
    (void)ignored;
    errno = saved;
}

bool watch_children() {
    if (chld_pipe[0] < 0 && pipe2(chld_pipe, O_CLOEXEC | O_NONBLOCK) != 0) return false;
    struct sigaction action = {};
    action.sa_handler = on_child_ended;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART | SA_NOCLDSTOP;
    // Set at every start: a library that took the signal for itself gives it back.
    return sigaction(SIGCHLD, &action, nullptr) == 0;
}

void copy_through(const char* data, size_t count) {
    while (count > 0) {
        ssize_t n = write(2, data, count);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        data += n;
        count -= size_t(n);
    }
}

void end_line(player& p) {
    if (!p.partial.empty() && p.partial.back() == '\r') p.partial.pop_back();
    if (!p.partial.empty()) p.last_line = p.partial;
    p.partial.clear();
}

// Reads what is there now; closes the pipe once the program's end of it has closed.
void read_errors(player& p) {
    char buffer[4096];
    while (p.error_fd >= 0) {
        ssize_t n = read(p.error_fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno == EAGAIN) return;
        if (n <= 0) {
            close(p.error_fd);
            p.error_fd = -1;
            return;
        }
        copy_through(buffer, size_t(n));
        for (ssize_t i = 0; i < n; ++i) {
            if (buffer[i] == '\n')
                end_line(p);
            else if (p.partial.size() < line_limit)
                p.partial += buffer[i];
        }
    }
}

} // namespace

bool start_program(const std::string& program, const std::vector<std::string>& args,
                   const std::string& label) {
    if (!watch_children()) return false;
    // The player inherits this: once the launcher has closed, its messages
    // go nowhere instead of ending it.
    signal(SIGPIPE, SIG_IGN);
    int error_pipe[2];
    if (pipe2(error_pipe, O_CLOEXEC) != 0) return false;
    std::vector<char*> argv;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, error_pipe[1], 2);
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
    close(error_pipe[1]);
    if (rc != 0) {
        close(error_pipe[0]);
        return false;
    }
    fcntl(error_pipe[0], F_SETFL, fcntl(error_pipe[0], F_GETFL) | O_NONBLOCK);

    // Users without the right to raise priorities are refused; that is fine.
    errno = 0;
    int nice_now = getpriority(PRIO_PROCESS, 0);
    if (errno == 0) setpriority(PRIO_PROCESS, id_t(pid), nice_now - 5);
    players.push_back({pid, error_pipe[0], label, {}, {}});
    return true;
}

std::vector<int> player_watch_fds() {
    std::vector<int> fds;
    if (chld_pipe[0] >= 0) fds.push_back(chld_pipe[0]);
    for (const player& p : players)
        if (p.error_fd >= 0) fds.push_back(p.error_fd);
    return fds;
}

std::vector<player_end> collect_players() {
    char drain[64];
    while (chld_pipe[0] >= 0 && read(chld_pipe[0], drain, sizeof drain) > 0) {
    }
    std::vector<player_end> ends;
    for (size_t i = 0; i < players.size();) {
        player& p = players[i];
        read_errors(p);
        int status = 0;
        pid_t done = waitpid(p.pid, &status, WNOHANG);
        if (done == 0 || (done < 0 && errno != ECHILD)) {
            ++i;
            continue;
        }
        // Everything it wrote is in the pipe by now.
        read_errors(p);
        if (p.error_fd >= 0) close(p.error_fd);
        end_line(p);
        player_end end;
        end.label = p.label;
        end.last_line = p.last_line;
        // Reaped by someone else (ECHILD): how it ended is not known.
        if (done == p.pid && WIFEXITED(status)) end.exit_status = WEXITSTATUS(status);
        if (done == p.pid && WIFSIGNALED(status)) end.signal = WTERMSIG(status);
        ends.push_back(end);
        players.erase(players.begin() + long(i));
    }
    return ends;
}

std::string signal_name(int signal) {
    const char* name = strsignal(signal);
    return name ? name : "signal " + std::to_string(signal);
}
