// The SCHl sound decoder: byte 0 (bit 0: stereo), the two seed words, then
// whole 15-byte (mono) or 30-byte (stereo) blocks.
#include "formats/schl/schl.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    input_cursor in{data, size};
    std::vector<uint8_t> mode = in.bytes(1);
    bool stereo = !mode.empty() && (mode[0] & 1) != 0;
    uint32_t first = in.le32();
    uint32_t second = in.le32();
    const size_t block = stereo ? 30 : 15;
    std::vector<uint8_t> coded = in.bytes(in.left / block * block);
    std::vector<uint8_t> out(coded.size() / block * (stereo ? 112 : 56));
    schl_sound_decoder d;
    seed_schl_sound_with(d, first, second);
    if (stereo)
        decode_schl_stereo_with(d, coded.data(), out.data(), int32_t(coded.size()));
    else
        decode_schl_mono_with(d, coded.data(), out.data(), int32_t(coded.size()));
    return 0;
}
