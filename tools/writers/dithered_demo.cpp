// The dithered demo: a smooth, moving scene with a little grain, error-
// diffused onto a fixed 3-3-2 palette, as 8-bit movies of rendered scenes
// look. Every pixel changes from picture to picture in a noise-like way, the
// hardest kind of picture for a lossy video coder.
#include "form_writer.h"
#include "sead_writer.h"

#include <algorithm>
#include <cmath>
#include <random>

namespace {

constexpr int32_t width = 320, height = 160;
constexpr int demo_pictures = 90; // 6 s at 15 pictures a second
constexpr int samples_per_picture = 22050 / 15;
constexpr double tau = 6.283185307179586;

// 3-3-2: eight levels of red and green, four of blue; 6-bit levels.
std::array<uint8_t, 768> palette_332() {
    std::array<uint8_t, 768> p{};
    for (int i = 0; i < 256; ++i) {
        p[size_t(3 * i)] = uint8_t((i >> 5) * 63 / 7);
        p[size_t(3 * i + 1)] = uint8_t((i >> 2 & 7) * 63 / 7);
        p[size_t(3 * i + 2)] = uint8_t((i & 3) * 63 / 3);
    }
    return p;
}

// Colour of the scene at (x, y) and picture t, 0 to 1 per component: a sky
// gradient, a slowly turning plasma, and two lit balls crossing it.
void scene(int32_t x, int32_t y, int t, double* rgb) {
    const double u = double(x) / width, v = double(y) / height, s = t / 15.0;
    const double plasma = 0.5 + 0.25 * std::sin(tau * (u * 1.5 + s * 0.2)) +
                          0.25 * std::sin(tau * (v * 1.2 + u * 0.7 - s * 0.15));
    rgb[0] = 0.15 + 0.7 * plasma * (1 - v * 0.5);
    rgb[1] = 0.2 + 0.5 * v + 0.2 * std::sin(tau * (plasma + s * 0.1));
    rgb[2] = 0.9 - 0.6 * v * plasma;
    for (int ball = 0; ball < 2; ++ball) {
        const double bx = std::fmod(0.1 + s * (0.15 + 0.1 * ball), 1.2) - 0.1,
                     by = 0.5 + 0.3 * std::sin(s * (1.3 + ball)), r = 0.12 - 0.03 * ball;
        const double dx = (u - bx) * 2, dy = v - by, d2 = dx * dx + dy * dy;
        if (d2 < r * r) {
            const double light = 0.4 + 0.6 * std::sqrt(1 - d2 / (r * r));
            rgb[0] = light * (ball ? 0.9 : 1.0);
            rgb[1] = light * (ball ? 0.3 : 0.85);
            rgb[2] = light * (ball ? 0.2 : 0.4);
        }
    }
}

// Floyd-Steinberg onto the 3-3-2 palette.
std::vector<uint8_t> dithered_picture(int t, std::mt19937& rng) {
    std::normal_distribution<double> grain(0, 0.02);
    std::vector<double> want(size_t(width * height) * 3);
    for (int32_t y = 0; y < height; ++y)
        for (int32_t x = 0; x < width; ++x) {
            double* p = &want[size_t(y * width + x) * 3];
            scene(x, y, t, p);
            const double g = grain(rng);
            for (int c = 0; c < 3; ++c) p[c] += g;
        }
    std::vector<uint8_t> out(size_t(width * height));
    const int levels[3] = {7, 7, 3};
    for (int32_t y = 0; y < height; ++y)
        for (int32_t x = 0; x < width; ++x) {
            double* p = &want[size_t(y * width + x) * 3];
            int code[3];
            for (int c = 0; c < 3; ++c) {
                code[c] = std::clamp(int(std::lround(p[c] * levels[c])), 0, levels[c]);
                const double error = p[c] - double(code[c]) / levels[c];
                auto spread = [&](int32_t dx, int32_t dy, double share) {
                    if (x + dx < 0 || x + dx >= width || y + dy >= height) return;
                    want[size_t((y + dy) * width + x + dx) * 3 + size_t(c)] += error * share;
                };
                spread(1, 0, 7 / 16.0);
                spread(-1, 1, 3 / 16.0);
                spread(0, 1, 5 / 16.0);
                spread(1, 1, 1 / 16.0);
            }
            out[size_t(y * width + x)] = uint8_t(code[0] << 5 | code[1] << 2 | code[2]);
        }
    return out;
}

// A low chord that swells, one picture's worth per call.
std::vector<int16_t> chord(int t, int channels) {
    std::vector<int16_t> out;
    for (int i = 0; i < samples_per_picture; ++i) {
        const double at = double(t * samples_per_picture + i) / 22050;
        const double level = 5000 * (0.6 + 0.4 * std::sin(tau * at / 3));
        double v = 0;
        for (double f : {110.0, 138.6, 164.8}) v += std::sin(tau * f * at) / 3;
        for (int c = 0; c < channels; ++c) out.push_back(int16_t(level * v * (c == 0 ? 1.0 : 0.8)));
    }
    return out;
}

int pictures_for(int seconds) {
    return seconds > 0 ? seconds * 15 : demo_pictures;
}

} // namespace

std::vector<uint8_t> make_form_dithered_movie(int seconds) {
    const int pictures = pictures_for(seconds);
    form_movie m;
    m.width = width;
    m.height = height;
    m.palettes = {palette_332()};
    std::mt19937 rng(332);
    for (int t = 0; t < pictures; ++t) {
        form_frame f;
        f.shot = t == 0 ? 0 : -1;
        f.pixels = dithered_picture(t, rng);
        f.sound = chord(t, 1);
        m.frames.push_back(std::move(f));
    }
    return write_form_movie(m);
}

std::vector<uint8_t> make_sead_dithered_movie(int seconds) {
    const int pictures = pictures_for(seconds);
    sead_palette palette{};
    const std::array<uint8_t, 768> levels = palette_332();
    for (size_t i = 0; i < palette.size(); ++i)
        palette[i] = uint8_t(levels[i] << 2 | levels[i] >> 4);
    std::mt19937 rng(332);
    std::vector<sead_movie_frame> frames(pictures);
    for (int t = 0; t < pictures; ++t) {
        frames[size_t(t)].image = dithered_picture(t, rng);
        frames[size_t(t)].palette = palette;
        frames[size_t(t)].sound = chord(t, 2);
    }
    return write_sead_movie(width, height, frames);
}
