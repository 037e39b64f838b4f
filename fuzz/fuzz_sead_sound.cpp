// The SEAD sound decoder: the state as it may stand between chunks (step
// positions and predictors, four 16-bit words), then the ADPCM bytes.
#include "formats/sead/sead.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    input_cursor in{data, size};
    sead_sound_state state;
    state.step[0] = int16_t(in.le16());
    state.step[1] = int16_t(in.le16());
    state.predictor[0] = int16_t(in.le16());
    state.predictor[1] = int16_t(in.le16());
    std::vector<uint8_t> coded = in.bytes(in.left);
    auto count = int32_t(coded.size());
    std::vector<uint8_t> out(size_t(4 * count));
    fuzz_require(decode_sead_sound_with(state, coded.data(), out.data(), count) == count,
                 "decoded count");
    return 0;
}
