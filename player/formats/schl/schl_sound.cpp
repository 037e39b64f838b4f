#include "formats/schl/schl.h"

const int32_t schl_coefficients[4][2] = {{0, 0}, {240, 0}, {460, -208}, {392, -220}};

static schl_sound_decoder sound_decoder;

void seed_schl_sound_with(schl_sound_decoder& d, uint32_t first, uint32_t second) {
    d.h1[0] = int16_t(first & 0xFFFF);
    d.h2[0] = int16_t(first >> 16);
    d.h1[1] = int16_t(second & 0xFFFF);
    d.h2[1] = int16_t(second >> 16);
}

static const int32_t* coefficient_pair(uint32_t index) {
    return schl_coefficients[index < 4 ? index : 0];
}

// One sample from a 4-bit residual; the history stays within 16 bits, so the
// sum cannot overflow.
static inline int32_t next_sample(int32_t& h1, int32_t& h2, const int32_t* k, int32_t shift,
                                  uint32_t nibble) {
    int32_t d = int32_t(nibble << 28) >> (shift + 8);
    int32_t y = (k[0] * h1 + k[1] * h2 + d + 128) >> 8;
    if (y < -32768) y = -32768;
    if (y > 32767) y = 32767;
    h2 = h1;
    h1 = y;
    return y;
}

static inline void put_sample(uint8_t*& out, int32_t y) {
    out[0] = uint8_t(y);
    out[1] = uint8_t(y >> 8);
    out += 2;
}

void decode_schl_mono_with(schl_sound_decoder& d, const uint8_t* coded, uint8_t* out,
                           int32_t length) {
    for (int32_t at = 0; at + 15 <= length; at += 15) {
        const uint8_t* b = coded + at;
        const int32_t* k = coefficient_pair(b[0] >> 4);
        int32_t shift = b[0] & 15;
        for (int i = 1; i < 15; ++i) {
            put_sample(out, next_sample(d.h1[0], d.h2[0], k, shift, b[i] >> 4));
            put_sample(out, next_sample(d.h1[0], d.h2[0], k, shift, b[i] & 15));
        }
    }
}

void decode_schl_stereo_with(schl_sound_decoder& d, const uint8_t* coded, uint8_t* out,
                             int32_t length) {
    for (int32_t at = 0; at + 30 <= length; at += 30) {
        const uint8_t* b = coded + at;
        const int32_t* kl = coefficient_pair(b[0] >> 4);
        const int32_t* kr = coefficient_pair(b[0] & 15);
        int32_t sl = b[1] >> 4, sr = b[1] & 15;
        for (int i = 2; i < 30; ++i) {
            put_sample(out, next_sample(d.h1[0], d.h2[0], kl, sl, b[i] >> 4));
            put_sample(out, next_sample(d.h1[1], d.h2[1], kr, sr, b[i] & 15));
        }
    }
}

void seed_schl_sound(uint32_t first, uint32_t second) {
    seed_schl_sound_with(sound_decoder, first, second);
}
void decode_schl_mono(const uint8_t* coded, uint8_t* out, int32_t length) {
    decode_schl_mono_with(sound_decoder, coded, out, length);
}
void decode_schl_stereo(const uint8_t* coded, uint8_t* out, int32_t length) {
    decode_schl_stereo_with(sound_decoder, coded, out, length);
}

void reset_schl_sound() {
    sound_decoder = {};
}
