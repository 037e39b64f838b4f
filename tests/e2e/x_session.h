// A private X server for the end-to-end tests that drive real windows with
// xdotool as a user would: the launcher's dialog and the player's window.
#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

bool on_path(const std::string& tool);
void pause_briefly();

// Polls until check() holds or about limit seconds have passed.
template <class F> bool eventually(F check, double limit = 30) {
    for (int i = 0; i < int(limit * 20); ++i) {
        if (check()) return true;
        pause_briefly();
    }
    return check();
}

struct x_session {
    pid_t server = -1;
    std::string display;
    std::string screen = "1024x768x24";
    std::vector<std::string> env;
    // "NAME=value" for every program started here, over the defaults.
    std::vector<std::string> program_env;

    ~x_session() { stop(); }
    void stop();
    std::vector<char*> envp();
    // Replaces (or adds) one variable of the environment programs get.
    void set_env(const std::string& name, const std::string& value);

    // Standard error goes to err_path, kept for a failing test's reader.
    pid_t spawn(const std::vector<std::string>& words, const std::string& cwd = "", int out_fd = -1,
                const std::string& err_path = "/dev/null");
    // Runs a tool to its end and gives its standard output.
    std::string run(const std::vector<std::string>& words);

    // Starts a server on a display number that the server picks itself
    // among those it can take, and returns once it has told us the number,
    // which it does when it accepts connections. Choosing the number here
    // could pick one that another server holds where our lock-file checks
    // cannot see it, and our probes would then talk to that one.
    bool start();

    // Empty when no such window shows, or when owner (if given) ends first.
    std::string find_window(const std::string& name_pattern, pid_t owner = -1);

    // Starts reeldeck on a fresh X server and waits for its first window.
    // A start that fails is repeated on a new server; what reeldeck wrote on
    // standard error is kept in test-artifacts and shown in the test's log.
    bool launch(const std::vector<std::string>& args, const std::string& dir,
                const std::string& first_window, pid_t* deck, std::string* window);
};

struct window_size {
    int width = 0, height = 0;
};

window_size geometry(x_session& x, const std::string& window);
void keys(x_session& x, const std::vector<std::string>& names);
bool ended(pid_t pid, double limit, int* status);

#define SKIP_WITHOUT_X_TOOLS()                                                                     \
    if (!on_path("Xvfb") || !on_path("xdotool") || !on_path("import"))                             \
    GTEST_SKIP() << "Xvfb, xdotool or ImageMagick's import is missing (scripts/setup installs "    \
                    "them)"
