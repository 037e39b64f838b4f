#include "formats/riff/riff.h"

static void store_sample(uint8_t* out, int32_t k, int32_t value) {
    out[2 * k] = uint8_t(value);
    out[2 * k + 1] = uint8_t(value >> 8);
}

// Each code byte holds a 6-bit difference (the top of a 16-bit value) and a
// 2-bit change of its channel's shift: 0, -2, -4 or +1.
void decode_riff_sound(const uint8_t* block, uint8_t* out, int32_t size) {
    if (size < 4) return;
    int32_t predictor[2] = {int16_t(block[0] | block[1] << 8), int16_t(block[2] | block[3] << 8)};
    int32_t shift[2] = {4, 4};
    store_sample(out, 0, predictor[0]);
    store_sample(out, 1, predictor[1]);
    int32_t k = 2;
    for (int32_t j = 4; j < size; ++j) {
        uint8_t c = block[j];
        int ch = j & 1;
        int adjust = c & 3;
        shift[ch] = adjust == 3 ? shift[ch] + 1 : shift[ch] - 2 * adjust;
        if (shift[ch] < 0) shift[ch] = 0;
        // The shift count is taken modulo 32, as the machine's shift does.
        int32_t delta = int32_t(int16_t((c & 0xFC) << 8)) >> (shift[ch] & 31);
        predictor[ch] = int16_t(predictor[ch] + delta);
        store_sample(out, k++, predictor[ch]);
    }
}
