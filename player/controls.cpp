#include "controls.h"

#include "seek.h"

#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <string>

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

void format_osd_clock(int64_t time, int64_t length, char* out, size_t size) {
    char now[24], whole[24];
    format_clock(time, now, sizeof now);
    format_clock(length, whole, sizeof whole);
    snprintf(out, size, "%s / %s", now, whole);
}

void format_osd_label(const char* message, bool paused, bool muted, int32_t tenths,
                      bool volume_changed, char* out, size_t size) {
    int n = snprintf(out, size, "%s", message);
    if (message[0]) return;
    auto add = [&](const char* text) {
        if (n < int(size)) n += snprintf(out + n, size - size_t(n), "%s%s", n ? "   " : "", text);
    };
    char volume[32];
    snprintf(volume, sizeof volume, "volume %d%%", int(tenths) * 10);
    if (paused) add("paused");
    if (muted)
        add("muted");
    else if (volume_changed || tenths != volume_full)
        add(volume);
}

std::string screenshot_name(const char* movie_path, int64_t offset, int64_t start_frame) {
    const char* slash = strrchr(movie_path, '/');
    std::string name = slash ? slash + 1 : movie_path;
    if (offset != 0) name += "-" + std::to_string(offset);
    int64_t ms = start_frame * 1000 / movie_rate;
    char time[48];
    snprintf(time, sizeof time, "-%" PRId64 "m%02d.%03ds", ms / 60000, int(ms / 1000 % 60),
             int(ms % 1000));
    return name + time;
}
