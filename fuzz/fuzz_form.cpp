// The FORM reader and picture decoder, as the player runs a whole movie.
#include "fuzz_support.h"
#include "movie.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return fuzz_movie(kind_form, data, size);
}
