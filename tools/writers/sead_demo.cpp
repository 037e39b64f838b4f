// The SEAD demo: an evening landscape drawn in layers that scroll at whole
// pixels per picture (so block frames carry nearly all of it as vectors),
// a glider crossing it, and a slow chord progression with a stereo arpeggio.
#include "sead_writer.h"

#include <algorithm>
#include <cmath>
#include <random>

namespace {

constexpr int32_t demo_width = 320;
constexpr int32_t demo_height = 160;
constexpr int samples_per_frame = 22050 / 15;
constexpr double tau = 6.283185307179586;

// Palette ranges of the layers.
constexpr int sky = 0, sky_shades = 48;
constexpr int sun = 48;
constexpr int cloud = 56;
constexpr int mountain = 64, mountain_shades = 32;
constexpr int hill = 96, hill_shades = 32;
constexpr int tree = 128;
constexpr int ground = 144;
constexpr int glider = 160;

struct rgb {
    double r, g, b;
};
rgb mix(rgb a, rgb b, double t) {
    return {a.r + (b.r - a.r) * t, a.g + (b.g - a.g) * t, a.b + (b.b - a.b) * t};
}

// dusk runs from 0 (afternoon) to 1 (sunset).
sead_palette demo_palette(double dusk) {
    sead_palette p{};
    auto set = [&](int i, rgb c) {
        p[size_t(3 * i)] = uint8_t(std::clamp(c.r, 0.0, 255.0));
        p[size_t(3 * i + 1)] = uint8_t(std::clamp(c.g, 0.0, 255.0));
        p[size_t(3 * i + 2)] = uint8_t(std::clamp(c.b, 0.0, 255.0));
    };
    auto ramp = [&](int first, int count, rgb day_from, rgb day_to, rgb dusk_from, rgb dusk_to) {
        for (int i = 0; i < count; ++i) {
            double t = count > 1 ? double(i) / (count - 1) : 0;
            set(first + i, mix(mix(day_from, day_to, t), mix(dusk_from, dusk_to, t), dusk));
        }
    };
    ramp(sky, sky_shades, {40, 90, 175}, {175, 210, 240}, {35, 25, 80}, {250, 140, 80});
    ramp(sun, 8, {255, 252, 225}, {255, 230, 160}, {255, 190, 90}, {240, 110, 50});
    ramp(cloud, 8, {255, 255, 255}, {190, 200, 215}, {255, 190, 170}, {150, 90, 120});
    ramp(mountain, mountain_shades, {150, 160, 205}, {80, 90, 140}, {150, 90, 130}, {60, 35, 80});
    ramp(hill, hill_shades, {120, 180, 85}, {35, 100, 45}, {95, 95, 55}, {30, 50, 35});
    ramp(tree, 16, {30, 80, 35}, {15, 45, 20}, {25, 40, 30}, {10, 20, 15});
    ramp(ground, 16, {150, 120, 80}, {90, 65, 40}, {110, 70, 55}, {50, 30, 30});
    ramp(glider, 4, {250, 250, 250}, {200, 200, 210}, {255, 215, 200}, {200, 160, 160});
    ramp(glider + 4, 4, {220, 40, 40}, {150, 20, 30}, {200, 50, 40}, {120, 20, 30});
    set(glider + 8, {30, 30, 40});
    return p;
}

int mountain_ridge(int u) {
    double x = u;
    return 62 + int(std::lround(16 * std::sin(x * tau / 320) + 8 * std::sin(x * tau / 97 + 1) +
                                3 * std::sin(x * tau / 41 + 2)));
}
int hill_ridge(int u) {
    double x = u;
    return 112 + int(std::lround(7 * std::sin(x * tau / 200) + 4 * std::sin(x * tau / 73 + 0.5)));
}

// The glider: a swept wing, seen from the side, 26 x 9 pixels.
const char* const glider_shape[] = {
    "          xx              ", //
    "         xwwx             ", //
    "  xxxxxxxwwwwxxxxxxxxx    ", //
    " xwwwwwwwwwwwwwwwwwwwwxx  ", //
    "xwwwrrrrwwwwwwwwrrrrwwwwx ", //
    " xxwwwwwwwwwwwwwwwwwwwxx  ", //
    "   xxxxxxxwwwwxxxxxxxx    ", //
    "         xwwx             ", //
    "          xx              ", //
};

void draw_picture(int t, std::vector<uint8_t>& img) {
    auto at = [&](int x, int y) -> uint8_t& { return img[size_t(y * demo_width + x)]; };
    for (int x = 0; x < demo_width; ++x) {
        int um = x + 2 * t, uh = x + 4 * t, ug = x + 6 * t, uc = x + t;
        int ridge_m = mountain_ridge(um), ridge_h = hill_ridge(uh);
        for (int y = 0; y < demo_height; ++y) {
            uint8_t c = uint8_t(sky + std::min(sky_shades - 1, y * sky_shades / 110));
            double dx = x - 250, dy = y - 42;
            double d = std::sqrt(dx * dx + dy * dy);
            if (d < 13) c = uint8_t(sun + std::min(7, int(d * 8 / 13)));
            // Clouds: soft lumps repeating every 400 pixels of their layer.
            int cu = ((uc % 400) + 400) % 400;
            for (int lump = 0; lump < 3; ++lump) {
                double cx = 60 + lump * 22, cy = 28 + (lump % 2) * 5, r = 14 + lump * 3;
                double e = std::hypot((cu - cx) / 1.8, y - cy);
                if (e < r) c = uint8_t(cloud + std::min(7, int(e * 8 / r)));
            }
            if (y >= ridge_m) {
                int depth = y - ridge_m;
                int slope = mountain_ridge(um + 2) - ridge_m;
                int s = std::clamp(depth / 3 + (slope > 0 ? 6 : 0), 0, mountain_shades - 1);
                if (ridge_m < 58 && depth < 4) s = 0; // snow on the high peaks
                c = uint8_t(mountain + s);
            }
            if (y >= ridge_h) {
                int depth = y - ridge_h;
                int s = std::clamp(depth + ((uh / 6 + y / 3) % 5 == 0 ? 3 : 0), 0, hill_shades - 1);
                c = uint8_t(hill + s);
            }
            // Pines standing on the hill line, every 37 pixels of the layer.
            int tu = ((uh % 37) + 37) % 37;
            int k = std::abs(tu - 3);
            if (tu < 7 && y >= ridge_h - (12 - 4 * k) && y < ridge_h + 2)
                c = uint8_t(tree + std::min(15, 2 * k + (y - ridge_h + 12) / 4));
            if (y >= 146) {
                int row = y - 146;
                int stripe = ((ug + row * 3) / 10) % 2;
                c = uint8_t(ground + std::min(15, row + stripe * 3));
            }
            at(x, y) = c;
        }
    }
    int gx = -30 + 3 * t;
    int gy = 60 + int(std::lround(10 * std::sin(t / 9.0)));
    for (int r = 0; r < 9; ++r)
        for (int cidx = 0; cidx < 26; ++cidx) {
            char ch = glider_shape[r][cidx];
            int x = gx + cidx, y = gy + r;
            if (ch == ' ' || x < 0 || x >= demo_width || y < 0 || y >= demo_height) continue;
            at(x, y) = uint8_t(ch == 'x' ? glider + 8 : ch == 'r' ? glider + 4 : glider + (r % 2));
        }
}

double note_frequency(int semitones_from_a4) {
    return 440.0 * std::pow(2.0, semitones_from_a4 / 12.0);
}

// Interleaved stereo for the whole movie.
std::vector<int16_t> demo_sound(int demo_frames) {
    const int total = demo_frames * samples_per_frame;
    std::vector<double> left(size_t(total), 0), right(size_t(total), 0);
    // C, A minor, F, G; chord tones as semitones from A4.
    const int chords[4][3] = {{-9, -5, -2}, {-12, -9, -5}, {-16, -12, -9}, {-14, -10, -7}};
    const int chord_length = total / 4;
    const int step = 22050 / 6;
    for (int c = 0; c < 4; ++c) {
        int start = c * chord_length;
        // A soft pad an octave down, the same in both ears.
        for (int i = 0; i < chord_length; ++i) {
            double time = double(i) / 22050;
            double env = std::min(1.0, time / 0.6) * std::min(1.0, (chord_length - i) / 13000.0);
            double v = 0;
            for (int n = 0; n < 3; ++n)
                v += std::sin(tau * note_frequency(chords[c][n] - 12) * time);
            left[size_t(start + i)] += 0.07 * env * v;
            right[size_t(start + i)] += 0.07 * env * v;
        }
        // The arpeggio climbs the chord and its octave, notes alternating sides.
        for (int k = 0; start + k * step < start + chord_length; ++k) {
            int note = chords[c][k % 3] + 12 * ((k / 3) % 2);
            double pan = (k % 2) ? 0.75 : 0.25;
            int begin = start + k * step;
            for (int i = 0; i < 3 * step && begin + i < total; ++i) {
                double time = double(i) / 22050;
                double f = note_frequency(note);
                double v = (std::sin(tau * f * time) + 0.3 * std::sin(2 * tau * f * time)) *
                           std::exp(-time * 4) * std::min(1.0, time * 200);
                left[size_t(begin + i)] += 0.22 * (1 - pan) * v;
                right[size_t(begin + i)] += 0.22 * pan * v;
            }
        }
    }
    // Wind that follows the glider from left to right.
    std::mt19937 rng(11);
    std::uniform_real_distribution<double> noise(-1, 1);
    double low = 0;
    for (int i = 0; i < total; ++i) {
        low += 0.02 * (noise(rng) - low);
        double t = double(i) / samples_per_frame;
        double pan = std::clamp((-30 + 3 * t + 13) / demo_width, 0.0, 1.0);
        left[size_t(i)] += 0.5 * low * (1 - pan);
        right[size_t(i)] += 0.5 * low * pan;
    }
    std::vector<int16_t> out(size_t(2 * total));
    for (int i = 0; i < total; ++i) {
        double fade = std::min({1.0, i / 4000.0, (total - i) / 11025.0});
        out[size_t(2 * i)] = int16_t(std::clamp(left[size_t(i)] * fade * 32767, -32768.0, 32767.0));
        out[size_t(2 * i + 1)] =
            int16_t(std::clamp(right[size_t(i)] * fade * 32767, -32768.0, 32767.0));
    }
    return out;
}

} // namespace

std::vector<uint8_t> make_sead_demo_movie(int seconds) {
    const int demo_frames = seconds > 0 ? 15 * seconds : 160;
    std::vector<int16_t> sound = demo_sound(demo_frames);
    std::vector<sead_movie_frame> frames(demo_frames);
    for (int t = 0; t < demo_frames; ++t) {
        sead_movie_frame& f = frames[size_t(t)];
        f.image.resize(size_t(demo_width * demo_height));
        draw_picture(t, f.image);
        // The light changes in three steps; each new palette comes with a key frame.
        f.palette = demo_palette(double(t / 40 % 4) / 3);
        auto first = sound.begin() + 2 * t * samples_per_frame;
        f.sound.assign(first, first + 2 * samples_per_frame);
    }
    return write_sead_movie(demo_width, demo_height, frames);
}

std::vector<uint8_t> make_sead_demo_movie() {
    return make_sead_demo_movie(0);
}
