#include "screenshot.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sys/stat.h>

static bool is_directory(const std::string& path) {
    struct stat s;
    return !path.empty() && stat(path.c_str(), &s) == 0 && S_ISDIR(s.st_mode);
}

static std::string environment(const char* name) {
    const char* value = getenv(name);
    return value ? value : "";
}

// The pictures folder as xdg-user-dir reads it, without running it: the line
// XDG_PICTURES_DIR="$HOME/..." (or an absolute path) of user-dirs.dirs.
static std::string user_dirs_pictures(const std::string& home) {
    std::string config = environment("XDG_CONFIG_HOME");
    if (config.empty()) config = home + "/.config";
    std::ifstream in(config + "/user-dirs.dirs");
    const std::string key = "XDG_PICTURES_DIR=\"";
    for (std::string line; std::getline(in, line);) {
        if (line.compare(0, key.size(), key) != 0) continue;
        size_t end = line.find('"', key.size());
        if (end == std::string::npos) return "";
        std::string value = line.substr(key.size(), end - key.size());
        if (value.compare(0, 5, "$HOME") == 0) return home + value.substr(5);
        return value[0] == '/' ? value : "";
    }
    return "";
}

std::string pictures_folder() {
    std::string home = environment("HOME");
    std::string folder = environment("XDG_PICTURES_DIR");
    if (is_directory(folder)) return folder;
    folder = user_dirs_pictures(home);
    if (is_directory(folder)) return folder;
    return home.empty() ? "." : home;
}

bool write_screenshot(const std::string& folder, const std::string& name,
                      const png_picture& picture, std::string* result) {
    std::string path = folder + "/" + name + ".png";
    std::vector<uint8_t> png;
    if (!encode_png(picture, &png)) {
        *result = "cannot write " + path + ": the picture could not be encoded";
        return false;
    }
    int failure = 0;
    // A bound on the names tried, so that a folder full of them cannot hold
    // the player up for long.
    for (int n = 2; n <= 10000; ++n) {
        failure = write_new_file(path, png.data(), png.size());
        if (failure != EEXIST) break;
        path = folder + "/" + name + "-" + std::to_string(n) + ".png";
    }
    *result = failure ? "cannot write " + path + ": " + strerror(failure) : path;
    return failure == 0;
}
