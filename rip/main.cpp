// reelrip: exports movies to PNG pictures, a WAV sound track and a timeline.
#include "reelrip_cli.h"

#include <cstring>

int main(int argc, char** argv) {
    if (argc >= 2 && strcmp(argv[1], "--version") == 0) {
        puts("reelrip " REEL_VERSION);
        return 0;
    }
    return run_reelrip(argc, argv, stdout, stderr);
}
