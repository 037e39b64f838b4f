#include "x_session.h"

#include "run_program.h"

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <poll.h>
#include <spawn.h>
#include <sstream>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

bool on_path(const std::string& tool) {
    const char* path = getenv("PATH");
    std::stringstream dirs(path ? path : "");
    std::string dir;
    while (std::getline(dirs, dir, ':'))
        if (!dir.empty() && access((dir + "/" + tool).c_str(), X_OK) == 0) return true;
    return false;
}

void pause_briefly() {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
}

void x_session::stop() {
    if (server > 0) {
        kill(server, SIGTERM);
        waitpid(server, nullptr, 0);
    }
    server = -1;
    env.clear();
}

std::vector<char*> x_session::envp() {
    std::vector<char*> out;
    for (std::string& s : env) out.push_back(s.data());
    out.push_back(nullptr);
    return out;
}

void x_session::set_env(const std::string& name, const std::string& value) {
    std::string prefix = name + "=";
    for (std::string& s : env)
        if (s.rfind(prefix, 0) == 0) {
            s = prefix + value;
            return;
        }
    env.push_back(prefix + value);
}

pid_t x_session::spawn(const std::vector<std::string>& words, const std::string& cwd, int out_fd,
                       const std::string& err_path) {
    std::vector<std::string> w = words;
    std::vector<char*> argv;
    for (std::string& s : w) argv.push_back(s.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (out_fd >= 0) posix_spawn_file_actions_adddup2(&actions, out_fd, 1);
    posix_spawn_file_actions_addopen(&actions, 2, err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    if (!cwd.empty()) posix_spawn_file_actions_addchdir_np(&actions, cwd.c_str());
    std::vector<char*> e = envp();
    pid_t pid = -1;
    int rc = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), e.data());
    posix_spawn_file_actions_destroy(&actions);
    return rc == 0 ? pid : -1;
}

std::string x_session::run(const std::vector<std::string>& words) {
    int fds[2];
    if (pipe(fds) != 0) return "";
    pid_t pid = spawn(words, "", fds[1]);
    close(fds[1]);
    std::string out;
    char buf[4096];
    ssize_t n;
    while (pid > 0 && (n = read(fds[0], buf, sizeof buf)) > 0) out.append(buf, size_t(n));
    close(fds[0]);
    if (pid > 0) waitpid(pid, nullptr, 0);
    return out;
}

bool x_session::start() {
    env.clear();
    for (char** e = environ; *e; ++e) {
        std::string s = *e;
        if (s.rfind("SDL_", 0) == 0 || s.rfind("DISPLAY=", 0) == 0 || s.rfind("XDG_", 0) == 0)
            continue;
        env.push_back(s);
    }
    // The player started from the dialog inherits these: no screen, no sound card.
    for (const char* s :
         {"SDL_VIDEODRIVER=dummy", "SDL_AUDIODRIVER=disk", "SDL_DISKAUDIOFILE=/dev/null",
          "NO_AT_BRIDGE=1", "GDK_BACKEND=x11", "GSETTINGS_BACKEND=memory"})
        env.push_back(s);
    // The file chooser keeps recent files and settings; not in the user's home.
    std::string home = build_path("test-scratch/deck-xdg");
    for (const char* v : {"XDG_DATA_HOME", "XDG_CONFIG_HOME", "XDG_CACHE_HOME"})
        env.push_back(std::string(v) + "=" + home + "/" + v);
    for (const std::string& v : program_env) {
        size_t equals = v.find('=');
        set_env(v.substr(0, equals), v.substr(equals + 1));
    }
    int number_pipe[2];
    if (pipe2(number_pipe, O_CLOEXEC) != 0) return false;
    // No reset when the last client leaves: the probes come and go before
    // the program under test connects.
    server =
        spawn({"Xvfb", "-displayfd", "1", "-screen", "0", screen, "-nolisten", "tcp", "-noreset"},
              "", number_pipe[1]);
    close(number_pipe[1]);
    std::string number;
    pollfd ready = {number_pipe[0], POLLIN, 0};
    char c = 0;
    while (server > 0 && number.find('\n') == std::string::npos &&
           poll(&ready, 1, 60 * 1000) == 1 && read(number_pipe[0], &c, 1) == 1)
        number += c;
    close(number_pipe[0]);
    while (!number.empty() && (number.back() == '\n' || number.back() == ' ')) number.pop_back();
    if (number.empty()) {
        stop();
        return false;
    }
    display = ":" + number;
    env.push_back("DISPLAY=" + display);
    return true;
}

std::string x_session::find_window(const std::string& name_pattern, pid_t owner) {
    std::string id;
    eventually([&] {
        std::string out = run({"xdotool", "search", "--onlyvisible", "--name", name_pattern});
        id = out.substr(0, out.find('\n'));
        return !id.empty() || (owner > 0 && waitpid(owner, nullptr, WNOHANG) == owner);
    });
    return id;
}

bool x_session::launch(const std::vector<std::string>& args, const std::string& dir,
                       const std::string& first_window, pid_t* deck, std::string* window) {
    for (int attempt = 0; attempt < 3; ++attempt) {
        stop();
        if (!start()) continue;
        std::vector<std::string> words = {build_path("reeldeck")};
        words.insert(words.end(), args.begin(), args.end());
        std::string errors = dir + "/reeldeck.err";
        *deck = spawn(words, dir, -1, errors);
        if (*deck <= 0) return false;
        *window = find_window(first_window, *deck);
        if (!window->empty()) return true;
        kill(*deck, SIGKILL);
        waitpid(*deck, nullptr, 0);
        std::string kept = build_path("test-artifacts/reeldeck-did-not-come-up-" +
                                      std::filesystem::path(dir).filename().string() + "-" +
                                      std::to_string(attempt) + ".err");
        std::filesystem::create_directories(build_path("test-artifacts"));
        std::error_code ignored;
        std::filesystem::copy_file(errors, kept, std::filesystem::copy_options::overwrite_existing,
                                   ignored);
        std::ifstream in(errors);
        std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        fprintf(stderr, "reeldeck did not come up on %s; again on a new server. It wrote:\n%s\n",
                display.c_str(), text.c_str());
    }
    return false;
}

window_size geometry(x_session& x, const std::string& window) {
    window_size s;
    std::stringstream lines(x.run({"xdotool", "getwindowgeometry", "--shell", window}));
    std::string line;
    while (std::getline(lines, line)) {
        if (line.rfind("WIDTH=", 0) == 0) s.width = atoi(line.c_str() + 6);
        if (line.rfind("HEIGHT=", 0) == 0) s.height = atoi(line.c_str() + 7);
    }
    return s;
}

void keys(x_session& x, const std::vector<std::string>& names) {
    std::vector<std::string> words = {"xdotool", "key", "--delay", "40"};
    words.insert(words.end(), names.begin(), names.end());
    x.run(words);
}

bool ended(pid_t pid, double limit, int* status) {
    return eventually([&] { return waitpid(pid, status, WNOHANG) == pid; }, limit);
}
