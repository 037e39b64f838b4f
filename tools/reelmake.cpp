// reelmake: makes movies and archives with the project's own writers.
#include "bytes.h"
#include "demo_archive.h"
#include "form_writer.h"

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
    if (!write_file(dir + "/demo.form", make_form_demo_movie(0))) return 1;
    if (!write_file(dir + "/demo.tre", make_demo_archive())) return 1;
    return 0;
}

// "form OUT [variant]": one demo FORM movie.
static int make_form(int argc, char** argv) {
    if (argc < 1) return 2;
    int variant = argc >= 2 ? atoi(argv[1]) : 0;
    return write_file(argv[0], make_form_demo_movie(variant)) ? 0 : 1;
}

static const reelmake_command commands[] = {
    {"demo", "demo DIR", make_demo},
    {"form", "form OUT [variant]", make_form},
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
