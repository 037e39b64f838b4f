// reelmake: makes movies and archives with the project's own writers.
#include "bytes.h"
#include "demo_archive.h"
#include "form_writer.h"
#include "fuzz_seeds.h"
#include "riff_writer.h"
#include "schl_writer.h"
#include "sead_writer.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>

// Writes one file; false with "cannot write PATH: reason" in error.
static bool save(const std::string& path, const std::vector<uint8_t>& bytes, std::string* error) {
    errno = 0;
    if (write_file(path, bytes)) return true;
    *error = "cannot write " + path + ": " + strerror(errno ? errno : EIO);
    return false;
}

// Makes folder and its parents; false with the reason in error.
static bool make_folder(const std::string& folder, std::string* error) {
    std::error_code code;
    std::filesystem::create_directories(folder, code);
    if (!code) return true;
    *error = "cannot create " + folder + ": " + code.message();
    return false;
}

static bool make_demo(const std::string& dir, std::string* error) {
    return make_folder(dir, error) && save(dir + "/demo.form", make_form_demo_movie(0), error) &&
           save(dir + "/demo.riff", make_riff_demo_movie(), error) &&
           save(dir + "/demo.tgv", make_sead_demo_movie(), error) &&
           save(dir + "/demo.tre", make_demo_archive(), error) &&
           save(dir + "/schl_demo.tre", make_schl_demo_archive(), error) &&
           save(dir + "/dithered.form", make_form_dithered_movie(), error) &&
           save(dir + "/dithered.tgv", make_sead_dithered_movie(), error);
}

static bool make_seeds(const std::string& dir, std::string* error) {
    if (!make_folder(dir, error)) return false;
    errno = 0;
    if (write_fuzz_seeds(dir)) return true;
    *error = "cannot write the seeds into " + dir + ": " + strerror(errno ? errno : EIO);
    return false;
}

// A command writes the one file that make gives, or fills a folder.
struct reelmake_command {
    const char* name;
    const char* out; // "OUT" or "DIR"
    int variants;    // an optional VARIANT from 0 to variants - 1; 0 takes none
    bool lengths;    // takes --seconds N
    const char* help;
    std::vector<uint8_t> (*make)(int variant, int seconds); // seconds 0: the usual length
    bool (*fill)(const std::string& dir, std::string* error);
};

// One command a line, so that new ones slot in.
static const reelmake_command commands[] = {
    {"demo", "DIR", 0, false,
     "all the demo content: demo.form/.riff/.tgv/.tre, schl_demo.tre, dithered.form/.tgv", nullptr,
     make_demo},
    {"form", "OUT", 3, true, "one FORM demo movie: variants 0 (default), 1, 2",
     [](int v, int s) { return make_form_demo_movie(v, s); }, nullptr},
    {"riff", "OUT", 0, true, "the RIFF demo movie",
     [](int, int s) { return s ? make_riff_demo_movie(s) : make_riff_demo_movie(); }, nullptr},
    {"sead", "OUT", 0, true, "the SEAD demo movie",
     [](int, int s) { return s ? make_sead_demo_movie(s) : make_sead_demo_movie(); }, nullptr},
    {"schl", "OUT", 3, true, "one SCHl demo movie: 0 mono 96 x 96 (default), 1 stereo, 2 160 x 128",
     [](int v, int s) { return make_schl_demo_movie(v, s); }, nullptr},
    {"schl-archive", "OUT", 0, false, "the named archive of SCHl demo movies",
     [](int, int) { return make_schl_demo_archive(); }, nullptr},
    {"archive", "OUT", 0, false, "the launcher's demo archive",
     [](int, int) { return make_demo_archive(); }, nullptr},
    {"seeds", "DIR", 0, false, "the fuzz targets' seed corpora, one folder per target", nullptr,
     make_seeds},
};

static void print_usage(FILE* out) {
    fprintf(out, "usage: reelmake COMMAND OUT [VARIANT] [--seconds N]\n"
                 "       reelmake --help | --version\n"
                 "Makes movies and game archives with the project's own writers.\n");
    for (const reelmake_command& c : commands) {
        std::string form = std::string(c.name) + " " + c.out + (c.variants ? " [VARIANT]" : "");
        fprintf(out, "  %-26s %s\n", form.c_str(), c.help);
    }
    fprintf(out, "  %-26s %s\n", "--seconds N",
            "with form, riff, sead or schl: a movie N seconds long (1 to 3600)");
    fprintf(out, "  %-26s %s\n  %-26s %s\n", "-h, --help", "show this text", "--version",
            "show the version");
    fprintf(out, "Exit status: 0 written, 1 a file could not be written (the reason on\n"
                 "standard error), 2 a command line that is not valid.\n");
}

static int usage_error(const std::string& message) {
    fprintf(stderr, "reelmake: %s\n", message.c_str());
    print_usage(stderr);
    return 2;
}

// "0" to "9" and the like: digits only, below limit.
static bool parse_variant(const char* text, int limit, int* variant) {
    if (!*text || strlen(text) > 4) return false;
    int v = 0;
    for (const char* p = text; *p; ++p) {
        if (*p < '0' || *p > '9') return false;
        v = v * 10 + (*p - '0');
    }
    *variant = v;
    return v < limit;
}

int main(int argc, char** argv) {
    if (argc >= 2 && (strcmp(argv[1], "--help") == 0 || strcmp(argv[1], "-h") == 0)) {
        print_usage(stdout);
        return 0;
    }
    if (argc >= 2 && strcmp(argv[1], "--version") == 0) {
        puts("reelmake " REEL_VERSION);
        return 0;
    }
    if (argc < 2) return usage_error("no COMMAND given");
    const reelmake_command* command = nullptr;
    for (const reelmake_command& c : commands)
        if (strcmp(argv[1], c.name) == 0) command = &c;
    if (!command) return usage_error(std::string("unknown command ") + argv[1]);
    const std::string name = command->name;
    // "--seconds N" may stand anywhere after the command; it is taken out of the words.
    int seconds = 0;
    for (int i = 2; i < argc; ++i) {
        if (strcmp(argv[i], "--seconds") != 0) continue;
        if (!command->lengths) return usage_error(name + " takes no --seconds");
        int n = 0;
        if (i + 1 >= argc || !parse_variant(argv[i + 1], 3601, &n) || n < 1)
            return usage_error("--seconds needs a number from 1 to 3600");
        seconds = n;
        for (int j = i; j + 2 <= argc; ++j) argv[j] = argv[j + 2];
        argc -= 2;
        break;
    }
    if (argc < 3 || !*argv[2]) return usage_error(name + " needs " + command->out);
    int variant = 0;
    if (argc >= 4 && command->variants == 0)
        return usage_error(name + " takes only " + command->out + ", not " + argv[3]);
    if (argc >= 4 && !parse_variant(argv[3], command->variants, &variant))
        return usage_error(name + " has variants 0 to " + std::to_string(command->variants - 1) +
                           ", not " + argv[3]);
    if (argc >= 5) return usage_error(std::string("too many words: ") + argv[4]);
    std::string error;
    if (command->make ? save(argv[2], command->make(variant, seconds), &error)
                      : command->fill(argv[2], &error))
        return 0;
    fprintf(stderr, "reelmake: %s\n", error.c_str());
    return 1;
}
