// reelrip: exports movies to PNG pictures, a WAV sound track and a timeline.
#include "reelrip_cli.h"
#include "thumbnail.h"

#include <cstring>

int main(int argc, char** argv) {
    if (argc >= 2 && strcmp(argv[1], "--help") == 0) {
        fputs(rip_usage_text, stdout);
        fputs(thumbnail_usage_text, stdout);
        fputs("       reelrip --help | --version\n", stdout);
        return 0;
    }
    if (argc >= 2 && strcmp(argv[1], "--version") == 0) {
        puts("reelrip " REEL_VERSION);
        return 0;
    }
    if (argc >= 2 && strcmp(argv[1], "--thumbnail") == 0)
        return run_thumbnail(argc - 2, argv + 2, stderr);
    return run_reelrip(argc, argv, stdout, stderr);
}
