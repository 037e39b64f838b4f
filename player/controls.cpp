#include "controls.h"

#include "seek.h"

#include <cinttypes>
#include <cstdio>
#include <cstring>

void scale_samples(uint8_t* pcm, int32_t bytes, int32_t tenths) {
    if (tenths >= volume_full) return;
    for (int32_t i = 0; i + 1 < bytes; i += 2) {
        int16_t s;
        memcpy(&s, pcm + i, 2);
        s = int16_t(s * tenths / volume_full);
        memcpy(pcm + i, &s, 2);
    }
}

void format_clock(int64_t frames, char* out, size_t size) {
    if (frames < 0) {
        snprintf(out, size, "-:--");
        return;
    }
    int64_t seconds = frames / movie_rate;
    snprintf(out, size, "%" PRId64 ":%02d", seconds / 60, int(seconds % 60));
}
