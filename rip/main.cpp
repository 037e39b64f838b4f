// reelrip: exports movies to PNG pictures, a WAV sound track and a timeline.
#include "reelrip_cli.h"

int main(int argc, char** argv) {
    return run_reelrip(argc, argv, stdout, stderr);
}
