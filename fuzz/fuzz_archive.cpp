// The archive scanner over the input as a ".tre" file. The scanner takes a
// path, so the input is written to one file per process, rewritten per input.
#include "fuzz_support.h"
#include "scanner.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

static std::string archive_file;

static void remove_archive_file() {
    unlink(archive_file.c_str());
    rmdir(archive_file.substr(0, archive_file.rfind('/')).c_str());
}

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // In memory where the system offers it: the file is rewritten per input.
    std::string dir = "/dev/shm/reel_fuzz_archive_XXXXXX";
    if (!mkdtemp(dir.data())) {
        dir = "/tmp/reel_fuzz_archive_XXXXXX";
        fuzz_require(mkdtemp(dir.data()) != nullptr, "a temporary directory");
    }
    archive_file = dir + "/input.tre";
    atexit(remove_archive_file);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FILE* f = fopen(archive_file.c_str(), "wb");
    fuzz_require(f && fwrite(data, 1, size, f) == size && fclose(f) == 0, "writing the archive");
    int32_t lines = 0;
    scan_sink sink = {};
    sink.context = &lines;
    sink.add_line = [](void* context, const char*) { ++*static_cast<int32_t*>(context); };
    scan_archive(archive_file.c_str(), sink);
    fuzz_require(lines == movie_count && movie_count <= movie_list_capacity, "one line per movie");
    for (int32_t i = 0; i < movie_count; ++i)
        fuzz_require(movie_offsets[i] >= 0 && size_t(movie_offsets[i]) < size, "listed offsets");
    return 0;
}
