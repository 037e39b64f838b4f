#include "run_program.h"

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

std::string build_path(const std::string& name) {
    return std::string(REEL_BUILD_DIR) + "/" + name;
}

std::string scratch_dir(const std::string& name) {
    std::string dir = std::string(REEL_BUILD_DIR) + "/test-scratch/" + name;
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    return dir;
}

program_result run_program(const std::string& program, const std::vector<std::string>& args,
                           double time_limit, double interrupt_after,
                           const std::vector<std::string>& environment) {
    program_result result;
    std::string exe = build_path(program);
    std::vector<std::string> env_strings = {"SDL_VIDEODRIVER=dummy", "SDL_AUDIODRIVER=disk",
                                            "SDL_DISKAUDIOFILE=/dev/null",
                                            "ASAN_OPTIONS=detect_leaks=0"};
    for (char** e = environ; *e; ++e) {
        std::string s = *e;
        if (s.rfind("SDL_", 0) == 0 || s.rfind("ASAN_OPTIONS=", 0) == 0) continue;
        env_strings.push_back(s);
    }
    for (const std::string& v : environment) {
        std::string name = v.substr(0, v.find('=') + 1);
        std::erase_if(env_strings, [&](const std::string& s) { return s.rfind(name, 0) == 0; });
        env_strings.push_back(v);
    }
    std::vector<char*> envp;
    for (auto& s : env_strings) envp.push_back(s.data());
    envp.push_back(nullptr);
    std::vector<std::string> words = {exe};
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& w : words) argv.push_back(w.data());
    argv.push_back(nullptr);

    char err_name[] = "/tmp/reel-stderr-XXXXXX";
    int err_fd = mkstemp(err_name);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, err_fd, 2);
    pid_t pid;
    auto start = std::chrono::steady_clock::now();
    int rc = posix_spawn(&pid, exe.c_str(), &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) {
        close(err_fd);
        unlink(err_name);
        return result;
    }
    bool interrupted = false;
    int status = 0;
    for (;;) {
        pid_t done = waitpid(pid, &status, WNOHANG);
        double elapsed =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (done == pid) {
            result.seconds = elapsed;
            break;
        }
        if (!interrupted && interrupt_after >= 0 && elapsed >= interrupt_after) {
            kill(pid, SIGINT);
            interrupted = true;
        }
        if (elapsed > time_limit) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            result.timed_out = true;
            result.seconds = elapsed;
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (!result.timed_out && WIFEXITED(status)) result.exit_status = WEXITSTATUS(status);
    FILE* f = fopen(err_name, "r");
    if (f) {
        char buf[4096];
        size_t n;
        while ((n = fread(buf, 1, sizeof buf, f)) > 0) result.error_output.append(buf, n);
        fclose(f);
    }
    close(err_fd);
    unlink(err_name);
    return result;
}
