#include "platform/library.h"

#include <dlfcn.h>
#include <limits.h>
#include <string>
#include <unistd.h>

const char* const codec_library_name = "libxanlib.so";

static std::string executable_directory() {
    char path[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0) return {};
    path[n] = 0;
    std::string p(path);
    size_t slash = p.rfind('/');
    return slash == std::string::npos ? std::string() : p.substr(0, slash + 1);
}

// Where an install puts the library, seen from the programs' directory, so
// that a package unpacked under any prefix finds its own copy.
#ifndef REEL_CODEC_DIR_FROM_BIN
#define REEL_CODEC_DIR_FROM_BIN "../lib/reel"
#endif

void* load_codec_library(const char* file_name) {
    const std::string exe_dir = executable_directory();
    if (!exe_dir.empty()) {
        const std::string candidates[] = {
            exe_dir + file_name,
            exe_dir + REEL_CODEC_DIR_FROM_BIN "/" + file_name,
        };
        for (const std::string& path : candidates)
            if (void* lib = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL)) return lib;
    }
    return dlopen(file_name, RTLD_NOW | RTLD_LOCAL);
}

void* find_library_entry(void* library, const char* name) {
    return library ? dlsym(library, name) : nullptr;
}

void unload_library(void* library) {
    if (library) dlclose(library);
}
