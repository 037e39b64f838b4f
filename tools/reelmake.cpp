// reelmake: makes movies and archives with the project's own writers.
#include "bytes.h"
#include "schl_writer.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

struct reelmake_command {
    const char* name;
    const char* usage;
    int (*run)(int argc, char** argv);
};

// "schl OUT [VARIANT]": one SCHl demo movie (0 mono, 1 stereo, 2 160 x 128).
static int make_schl(int argc, char** argv) {
    if (argc < 1) return 2;
    int variant = argc >= 2 ? atoi(argv[1]) : 0;
    if (variant < 0 || variant > 2) return 2;
    return write_file(argv[0], make_schl_demo_movie(variant)) ? 0 : 1;
}

static int make_schl_archive(int argc, char** argv) {
    if (argc < 1) return 2;
    return write_file(argv[0], make_schl_demo_archive()) ? 0 : 1;
}

// "demo DIR": every demo movie and archive the README's demo offers.
static int make_demo(int argc, char** argv) {
    if (argc < 1) return 2;
    std::string dir = argv[0];
    if (!write_file(dir + "/schl_demo.tre", make_schl_demo_archive())) return 1;
    return 0;
}

static const reelmake_command commands[] = {
    {"demo", "demo DIR", make_demo},
    {"schl", "schl OUT [VARIANT]", make_schl},
    {"schl-archive", "schl-archive OUT", make_schl_archive},
};

int main(int argc, char** argv) {
    if (argc >= 2) {
        for (const reelmake_command& c : commands)
            if (strcmp(argv[1], c.name) == 0) return c.run(argc - 2, argv + 2);
    }
    fprintf(stderr, "usage:\n");
    for (const reelmake_command& c : commands) fprintf(stderr, "  reelmake %s\n", c.usage);
    return 2;
}
