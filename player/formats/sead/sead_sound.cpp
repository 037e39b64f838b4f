#include "formats/sead/sead.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace {

constexpr int32_t ima_steps[89] = {
    7,     8,     9,     10,    11,    12,    13,    14,    16,    17,    19,   21,    23,
    25,    28,    31,    34,    37,    41,    45,    50,    55,    60,    66,   73,    80,
    88,    97,    107,   118,   130,   143,   157,   173,   190,   209,   230,  253,   279,
    307,   337,   371,   408,   449,   494,   544,   598,   658,   724,   796,  876,   963,
    1060,  1166,  1282,  1411,  1552,  1707,  1878,  2066,  2272,  2499,  2749, 3024,  3327,
    3660,  4026,  4428,  4871,  5358,  5894,  6484,  7132,  7845,  8630,  9493, 10442, 11487,
    12635, 13899, 15289, 16818, 18500, 20350, 22385, 24623, 27086, 29794, 32767};

// Step position change per code, by its low three bits (IMA's index table x 64).
constexpr int32_t step_adjust[8] = {-64, -64, -64, -64, 128, 256, 384, 512};
constexpr int32_t max_step_position = 88 * 64;

// One entry per (step row, code): the sample change and the table position
// of the row the next code of the channel reads. Folding the step change
// into the table keeps the loop free of the clamp on the step.
struct sound_entry {
    int32_t delta;
    int32_t next;
};

constexpr std::array<sound_entry, 89 * 16> make_sound_table() {
    std::array<sound_entry, 89 * 16> t{};
    for (int32_t row = 0; row < 89; ++row) {
        int32_t s = ima_steps[row];
        for (int32_t n = 0; n < 16; ++n) {
            int32_t m = s >> 3;
            if (n & 4) m += s;
            if (n & 2) m += s >> 1;
            if (n & 1) m += s >> 2;
            int32_t step = std::clamp(row * 64 + step_adjust[n & 7], 0, max_step_position);
            t[size_t(row * 16 + n)] = {(n & 8) ? -m : m, step / 4};
        }
    }
    return t;
}
constexpr std::array<sound_entry, 89 * 16> sound_table = make_sound_table();

sead_sound_state player_sound;

} // namespace

int32_t decode_sead_sound_with(sead_sound_state& state, const uint8_t* in, uint8_t* out,
                               int32_t count) {
    // The table position of a channel is its step position / 4; the state
    // only ever holds multiples of 64 from 0 to 5632, so it is in range.
    int32_t pos0 = std::clamp<int32_t>(state.step[0], 0, max_step_position) / 64 * 16;
    int32_t pos1 = std::clamp<int32_t>(state.step[1], 0, max_step_position) / 64 * 16;
    int32_t s0 = state.predictor[0];
    int32_t s1 = state.predictor[1];
    const sound_entry* table = sound_table.data();
    for (int32_t i = 0; i < count; ++i) {
        uint32_t b = in[i];
        const sound_entry& e0 = table[pos0 + int32_t(b >> 4)];
        const sound_entry& e1 = table[pos1 + int32_t(b & 15)];
        s0 = std::clamp(s0 + e0.delta, -32768, 32767);
        s1 = std::clamp(s1 + e1.delta, -32768, 32767);
        pos0 = e0.next;
        pos1 = e1.next;
        uint8_t* o = out + 4 * i;
        o[0] = uint8_t(s0);
        o[1] = uint8_t(s0 >> 8);
        o[2] = uint8_t(s1);
        o[3] = uint8_t(s1 >> 8);
    }
    state.step[0] = int16_t(pos0 * 4);
    state.step[1] = int16_t(pos1 * 4);
    state.predictor[0] = int16_t(s0);
    state.predictor[1] = int16_t(s1);
    return count;
}

int32_t decode_sead_sound(const uint8_t* in, uint8_t* out, int32_t count) {
    return decode_sead_sound_with(player_sound, in, out, count);
}

void save_sead_reader(uint8_t* state) {
    memcpy(state, &player_sound, sizeof player_sound);
}

void load_sead_reader(const uint8_t* state) {
    memcpy(&player_sound, state, sizeof player_sound);
}

void reset_sead_sound() {
    player_sound = {};
}
