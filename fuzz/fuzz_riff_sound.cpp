// The RIFF sound decoder on one whole block: the input.
#include "formats/riff/riff.h"
#include "fuzz_support.h"

#include <algorithm>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // The reader never hands over more than its scratch holds.
    auto n = int32_t(std::min<size_t>(size, riff_sound_limit));
    std::vector<uint8_t> block(data, data + n);
    std::vector<uint8_t> out(size_t(std::max(0, 2 * n - 4)));
    decode_riff_sound(block.data(), out.data(), n);
    return 0;
}
