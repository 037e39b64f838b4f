// reelmake: makes movies and archives with the project's own writers.
#include "bytes.h"
#include "demo_archive.h"
#include "form_writer.h"
#include "fuzz_seeds.h"
#include "riff_writer.h"
#include "schl_writer.h"
#include "sead_writer.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

struct reelmake_command {
    const char* name;
    const char* usage;
    int (*run)(int argc, char** argv);
};

// "demo DIR": every demo movie and archive the README's demo offers.
static int make_demo(int argc, char** argv) {
    if (argc < 1) return 2;
    std::string dir = argv[0];
    bool ok = write_file(dir + "/demo.form", make_form_demo_movie(0)) &&
              write_file(dir + "/demo.riff", make_riff_demo_movie()) &&
              write_file(dir + "/demo.tgv", make_sead_demo_movie()) &&
              write_file(dir + "/demo.tre", make_demo_archive()) &&
              write_file(dir + "/schl_demo.tre", make_schl_demo_archive());
    return ok ? 0 : 1;
}

// "--seconds N" anywhere among a demo movie command's words sets its length
// (long movies for the seek benchmark); it is taken out of the words. -1 when
// its number is missing or not from 1 to 3600, 0 when it is not given.
static int take_seconds(int* argc, char** argv) {
    for (int i = 0; i < *argc; ++i) {
        if (strcmp(argv[i], "--seconds") != 0) continue;
        int seconds = i + 1 < *argc ? atoi(argv[i + 1]) : 0;
        int taken = i + 1 < *argc ? 2 : 1;
        for (int j = i; j + taken < *argc; ++j) argv[j] = argv[j + taken];
        *argc -= taken;
        return seconds >= 1 && seconds <= 3600 ? seconds : -1;
    }
    return 0;
}

// "form OUT [variant] [--seconds N]": one demo FORM movie.
static int make_form(int argc, char** argv) {
    int seconds = take_seconds(&argc, argv);
    if (argc < 1 || seconds < 0) return 2;
    int variant = argc >= 2 ? atoi(argv[1]) : 0;
    return write_file(argv[0], make_form_demo_movie(variant, seconds)) ? 0 : 1;
}

static int make_riff(int argc, char** argv) {
    int seconds = take_seconds(&argc, argv);
    if (argc < 1 || seconds < 0) return 2;
    return write_file(argv[0], make_riff_demo_movie(seconds)) ? 0 : 1;
}

// "sead OUT [--seconds N]": the SEAD demo movie.
static int make_sead(int argc, char** argv) {
    int seconds = take_seconds(&argc, argv);
    if (argc < 1 || seconds < 0) return 2;
    return write_file(argv[0], make_sead_demo_movie(seconds)) ? 0 : 1;
}

// "schl OUT [VARIANT] [--seconds N]": one SCHl demo movie (0 mono, 1 stereo,
// 2 160 x 128).
static int make_schl(int argc, char** argv) {
    int seconds = take_seconds(&argc, argv);
    if (argc < 1 || seconds < 0) return 2;
    int variant = argc >= 2 ? atoi(argv[1]) : 0;
    if (variant < 0 || variant > 2) return 2;
    return write_file(argv[0], make_schl_demo_movie(variant, seconds)) ? 0 : 1;
}

// "schl-archive OUT": the named archive of SCHl demo movies.
static int make_schl_archive(int argc, char** argv) {
    if (argc < 1) return 2;
    return write_file(argv[0], make_schl_demo_archive()) ? 0 : 1;
}

// "archive OUT": the launcher's demo archive.
static int make_archive(int argc, char** argv) {
    if (argc < 1) return 2;
    return write_file(argv[0], make_demo_archive()) ? 0 : 1;
}

// "seeds DIR": the fuzz targets' seed corpora, one folder per target.
static int make_seeds(int argc, char** argv) {
    if (argc < 1) return 2;
    return write_fuzz_seeds(argv[0]) ? 0 : 1;
}

static const reelmake_command commands[] = {
    {"demo", "demo DIR", make_demo},
    {"form", "form OUT [variant] [--seconds N]", make_form},
    {"riff", "riff OUT [--seconds N]", make_riff},
    {"sead", "sead OUT [--seconds N]", make_sead},
    {"schl", "schl OUT [VARIANT] [--seconds N]", make_schl},
    {"schl-archive", "schl-archive OUT", make_schl_archive},
    {"archive", "archive OUT", make_archive},
    {"seeds", "seeds DIR", make_seeds},
};

static void print_usage(FILE* out) {
    fprintf(out, "usage:\n");
    for (const reelmake_command& c : commands) fprintf(out, "  reelmake %s\n", c.usage);
    fprintf(out, "  reelmake --help | --version\n");
}

int main(int argc, char** argv) {
    if (argc >= 2 && strcmp(argv[1], "--help") == 0) {
        print_usage(stdout);
        return 0;
    }
    if (argc >= 2 && strcmp(argv[1], "--version") == 0) {
        puts("reelmake " REEL_VERSION);
        return 0;
    }
    if (argc >= 2) {
        for (const reelmake_command& c : commands)
            if (strcmp(argv[1], c.name) == 0) return c.run(argc - 2, argv + 2);
    }
    print_usage(stderr);
    return 2;
}
