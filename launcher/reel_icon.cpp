#include "reel_icon.h"

#include <cmath>

namespace {

struct rgba {
    double r, g, b, a;
};

constexpr rgba transparent = {0, 0, 0, 0};
constexpr rgba film = {0.22, 0.16, 0.11, 1};
constexpr rgba sprocket = {0.86, 0.80, 0.64, 1};
constexpr rgba rim = {0.30, 0.33, 0.38, 1};
constexpr rgba body = {0.74, 0.77, 0.81, 1};
constexpr rgba hub = {0.20, 0.22, 0.26, 1};

constexpr double rim_width = 0.05;
constexpr double hub_radius = 0.09;
constexpr double hub_hole_radius = 0.03;
constexpr double film_top = 0.80;
constexpr double film_bottom = 0.93;

double distance(double x, double y, double cx, double cy) {
    return std::hypot(x - cx, y - cy);
}

// Colour at one point of the unit square, painted back to front.
rgba paint(double x, double y) {
    const double pi = std::acos(-1.0);
    rgba c = transparent;
    // The strip leaves the reel at its foot and runs off to the right.
    if (y >= film_top && y <= film_bottom && x >= reel_center) {
        c = film;
        double along = std::fmod(x - reel_center, 0.12);
        bool in_row = (y - film_top < 0.035 && y - film_top > 0.012) ||
                      (film_bottom - y < 0.035 && film_bottom - y > 0.012);
        if (in_row && along > 0.03 && along < 0.08) c = sprocket;
    }
    double d = distance(x, y, reel_center, reel_center);
    if (d > reel_radius) return c;
    for (int i = 0; i < reel_hole_count; ++i) {
        double angle = -pi / 2 + 2 * pi * i / reel_hole_count;
        double hx = reel_center + reel_hole_distance * std::cos(angle);
        double hy = reel_center + reel_hole_distance * std::sin(angle);
        if (distance(x, y, hx, hy) < reel_hole_radius) return c;
    }
    if (d < hub_hole_radius) return c;
    if (d < hub_radius) return hub;
    return d > reel_radius - rim_width ? rim : body;
}

} // namespace

std::vector<uint8_t> draw_reel_icon(int size) {
    std::vector<uint8_t> pixels;
    if (size <= 0) return pixels;
    pixels.resize(size_t(size) * size_t(size) * 4);
    constexpr int samples = 4;
    for (int py = 0; py < size; ++py) {
        for (int px = 0; px < size; ++px) {
            // Supersampled, premultiplied, then divided back out.
            rgba sum = transparent;
            for (int sy = 0; sy < samples; ++sy) {
                for (int sx = 0; sx < samples; ++sx) {
                    rgba c = paint((px + (sx + 0.5) / samples) / size,
                                   (py + (sy + 0.5) / samples) / size);
                    sum.r += c.r * c.a;
                    sum.g += c.g * c.a;
                    sum.b += c.b * c.a;
                    sum.a += c.a;
                }
            }
            uint8_t* out = &pixels[(size_t(py) * size_t(size) + size_t(px)) * 4];
            double a = sum.a / (samples * samples);
            if (sum.a > 0) {
                out[0] = uint8_t(std::lround(255 * sum.r / sum.a));
                out[1] = uint8_t(std::lround(255 * sum.g / sum.a));
                out[2] = uint8_t(std::lround(255 * sum.b / sum.a));
            }
            out[3] = uint8_t(std::lround(255 * a));
        }
    }
    return pixels;
}
