// The launcher's icon, a film reel with a strip of film, drawn in code so
// that it is sharp at every size the desktop asks for.
#pragma once

#include <cstdint>
#include <vector>

// size x size pixels, rows top down, 4 bytes each: red, green, blue, alpha
// (not premultiplied).
std::vector<uint8_t> draw_reel_icon(int size);

// Where the reel sits, in fractions of the icon's side, for whoever checks it.
constexpr double reel_center = 0.45;
constexpr double reel_radius = 0.42;
constexpr double reel_hole_distance = 0.22;
constexpr double reel_hole_radius = 0.085;
constexpr int reel_hole_count = 5;
