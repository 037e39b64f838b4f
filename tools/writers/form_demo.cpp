// The demo FORM movie: a scrolling plasma (motion runs), a bouncing ball
// (image runs), a still status bar (skips), a melody, and palettes switched
// by "SHOT" chunks.
#include "form_writer.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr int frames_per_second = 15;
constexpr int samples_per_frame = 22050 / frames_per_second;
constexpr int width = 320, height = 165;
constexpr double pi = 3.14159265358979323846;

// Palette entries: 1..200 the plasma, 210..225 the ball, 240..249 the bar.
constexpr int plasma_colours = 200, ball_first = 210, bar_back = 240, bar_fill = 241,
              note_first = 242;

using palette = std::array<uint8_t, 768>;

void put(palette& p, int i, double r, double g, double b) {
    auto level = [](double v) { return uint8_t(std::clamp(int(std::lround(v * 63)), 0, 63)); };
    p[size_t(3 * i)] = level(r);
    p[size_t(3 * i + 1)] = level(g);
    p[size_t(3 * i + 2)] = level(b);
}

void hsv(double h, double s, double v, double* r, double* g, double* b) {
    h = std::fmod(h, 1.0) * 6;
    int k = int(h);
    double f = h - k, p = v * (1 - s), q = v * (1 - s * f), t = v * (1 - s * (1 - f));
    const double rgb[6][3] = {{v, t, p}, {q, v, p}, {p, v, t}, {p, q, v}, {t, p, v}, {v, p, q}};
    *r = rgb[k % 6][0];
    *g = rgb[k % 6][1];
    *b = rgb[k % 6][2];
}

// Three looks of the same picture: rainbow, fire, sea.
palette make_palette(int look, double hue_shift) {
    palette p{};
    for (int i = 1; i <= plasma_colours; ++i) {
        double x = (i - 1) / double(plasma_colours - 1), r, g, b;
        if (look == 0) {
            hsv(x + hue_shift, 0.75, 0.95, &r, &g, &b);
        } else if (look == 1) {
            r = std::min(1.0, x * 2.2);
            g = std::clamp(x * 2.2 - 0.7, 0.0, 1.0);
            b = std::clamp(x * 3 - 2, 0.0, 1.0);
        } else {
            r = std::clamp(x * 2 - 1, 0.0, 1.0) * 0.8;
            g = 0.2 + 0.7 * x;
            b = 0.45 + 0.55 * std::sqrt(x);
        }
        put(p, i, r, g, b);
    }
    double br, bg, bb;
    hsv(0.12 + look * 0.3 + hue_shift, 0.6, 1.0, &br, &bg, &bb);
    for (int k = 0; k < 16; ++k) {
        double light = 1.0 - k / 20.0;
        put(p, ball_first + k, br * light + (1 - light) * 0.1, bg * light, bb * light);
    }
    put(p, bar_back, 0.12, 0.12, 0.16);
    hsv(0.55 + look * 0.2, 0.7, 0.9, &br, &bg, &bb);
    put(p, bar_fill, br, bg, bb);
    for (int k = 0; k < 8; ++k) {
        hsv(k / 8.0 + hue_shift, 0.8, 1.0, &br, &bg, &bb);
        put(p, note_first + k, br, bg, bb);
    }
    return p;
}

// Major pentatonic tunes in scale steps (-1: rest), eighth notes.
const int tunes[3][32] = {
    {0, 2, 4, 5, 7, 5, 4, 2, 0, 4, 7, 9, 7, 4,  2, -1,
     4, 5, 7, 9, 7, 5, 4, 2, 0, 2, 4, 2, 0, -1, 0, -1},
    {7, 5, 4, 2, 4, 5, 7, -1, 9, 7, 5, 4, 5, 4,  2, -1,
     0, 2, 4, 7, 9, 7, 4, 2,  4, 2, 0, 2, 0, -1, 0, -1},
    {0, 4, 2, 5, 4, 7, 5, 9, 7, 5, 4, 2, 4, -1, 2, -1,
     5, 7, 9, 7, 5, 4, 2, 4, 0, 2, 4, 5, 4, 2,  0, -1},
};
const int pentatonic[10] = {0, 2, 4, 7, 9, 12, 14, 16, 19, 21}; // semitones

double note_frequency(int semitones) {
    return 261.63 * std::pow(2.0, semitones / 12.0);
}

// The melody, a soft bass under it, and which scale step sounds per sample.
std::vector<int16_t> make_melody(int variant, int samples, std::vector<int>* step_at) {
    const int* tune = tunes[variant % 3];
    const int transpose = (variant * 5) % 12 - 5;
    const double eighth = 0.25; // seconds
    std::vector<int16_t> out(static_cast<size_t>(samples));
    step_at->assign(size_t(samples), -1);
    for (int i = 0; i < samples; ++i) {
        double t = i / 22050.0;
        int index = int(t / eighth);
        double in_note = t - index * eighth;
        int step = tune[index % 32];
        double v = 0;
        if (step >= 0) {
            double f = note_frequency(pentatonic[step] + transpose);
            double env = std::min(1.0, in_note / 0.008) * std::exp(-in_note * 5.0);
            v += env * (std::sin(2 * pi * f * t) + 0.3 * std::sin(4 * pi * f * t) +
                        0.1 * std::sin(6 * pi * f * t));
            if (in_note < eighth * 0.8) (*step_at)[size_t(i)] = step % 8;
        }
        // Bass: the tune's key note an octave down, one per bar of four beats.
        int bar = int(t / (eighth * 8));
        double in_bar = t - bar * eighth * 8;
        double bass_f = note_frequency((bar % 2 ? 7 : 0) + transpose - 12);
        v += 0.45 * std::min(1.0, in_bar / 0.02) * std::exp(-in_bar * 1.2) *
             std::sin(2 * pi * bass_f * t);
        // Fade in and out over a quarter of a second.
        double edge = std::min(t, (samples - i) / 22050.0);
        v *= std::min(1.0, edge / 0.25);
        out[size_t(i)] = int16_t(std::lround(std::clamp(v * 7000, -32000.0, 32000.0)));
    }
    return out;
}

} // namespace

std::vector<uint8_t> make_form_demo_movie(int variant, int length_seconds) {
    variant = std::abs(variant);
    const int seconds = length_seconds > 0 ? length_seconds : 8 + 2 * (variant % 3);
    const int frames = seconds * frames_per_second;
    const int speed_x = 1 + variant % 3, speed_y = variant % 2 ? -1 : 1;
    const double hue_shift = 0.13 * variant;

    form_movie movie;
    movie.width = width;
    movie.height = height;
    movie.write_size = variant % 2 == 1;
    for (int look = 0; look < 3; ++look) movie.palettes.push_back(make_palette(look, hue_shift));

    std::vector<int> step_at;
    std::vector<int16_t> melody = make_melody(variant, frames * samples_per_frame, &step_at);

    // The plasma is periodic in both directions, so a scrolled picture is an
    // exact shift of the one before.
    std::vector<double> wave_x(96), wave_y(64), wave_d(160);
    for (int i = 0; i < 96; ++i) wave_x[size_t(i)] = std::sin(2 * pi * i / 96);
    for (int i = 0; i < 64; ++i) wave_y[size_t(i)] = std::sin(2 * pi * i / 64);
    for (int i = 0; i < 160; ++i) wave_d[size_t(i)] = std::sin(2 * pi * i / 160);
    auto plasma = [&](int u, int v) {
        auto wrap = [](int a, int n) { return size_t(((a % n) + n) % n); };
        double s = wave_x[wrap(u, 96)] + wave_y[wrap(v, 64)] + wave_d[wrap(u + v, 160)];
        return uint8_t(1 + std::clamp(int((s + 3) / 6 * plasma_colours), 0, plasma_colours - 1));
    };
    const int plasma_rows = 148, bar_top = 150;

    for (int t = 0; t < frames; ++t) {
        form_frame frame;
        if (t == frames / 3) frame.shot = 1;
        if (t == 2 * frames / 3) frame.shot = 2;
        frame.pixels.assign(size_t(width * height), bar_back);
        for (int y = 0; y < plasma_rows; ++y)
            for (int x = 0; x < width; ++x)
                frame.pixels[size_t(y * width + x)] = plasma(x + speed_x * t, y + speed_y * t);
        // The ball bounces inside the plasma.
        const int radius = 16;
        int span_x = width - 2 * radius, span_y = plasma_rows - 2 * radius;
        int px = (t * (5 + variant % 3)) % (2 * span_x), py = (t * 3) % (2 * span_y);
        int cx = radius + (px < span_x ? px : 2 * span_x - px);
        int cy = radius + (py < span_y ? py : 2 * span_y - py);
        for (int y = -radius; y <= radius; ++y)
            for (int x = -radius; x <= radius; ++x) {
                int d2 = x * x + y * y;
                if (d2 > radius * radius) continue;
                // Lit from the top left.
                int lx = x + 6, ly = y + 6;
                int shade = std::min(15, int(std::sqrt(double(lx * lx + ly * ly)) * 15 / 28));
                frame.pixels[size_t((cy + y) * width + cx + x)] = uint8_t(ball_first + shade);
            }
        // The bar: progress, and a light for the note that sounds.
        int filled = 8 + (width / 2 - 8) * t / std::max(1, frames - 1);
        for (int y = bar_top + 5; y < bar_top + 10; ++y)
            for (int x = 8; x < filled; ++x) frame.pixels[size_t(y * width + x)] = bar_fill;
        int step = step_at[size_t(t * samples_per_frame)];
        for (int k = 0; k < 8; ++k) {
            uint8_t colour = k == step ? uint8_t(note_first + k) : uint8_t(bar_back);
            for (int y = bar_top + 3; y < bar_top + 12; ++y)
                for (int x = 0; x < 12; ++x)
                    frame.pixels[size_t(y * width + 180 + k * 17 + x)] = colour;
        }
        frame.sound.assign(melody.begin() + t * samples_per_frame,
                           melody.begin() + (t + 1) * samples_per_frame);
        movie.frames.push_back(std::move(frame));
    }
    return write_form_movie(movie);
}
