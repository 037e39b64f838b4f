// The decoded picture's pixels as 8-bit colour: one conversion for every
// place a picture leaves the player (reelrip's files, screenshots, the web
// page's canvas), so that each shows exactly the same colours.
#pragma once

#include "movie.h"

#include <cstdint>

// 5-5-5 pixels (16-bit little-endian) as 8-bit RGB, each field f widened to
// (f << 3) | (f >> 2).
void rgb_from_555(const uint8_t* pixels, int64_t count, uint8_t* rgb);
// The same as RGBA with alpha 255.
void rgba_from_555(const uint8_t* pixels, int64_t count, uint8_t* rgba);
// Palette indices through their 256 colours as RGBA with alpha 255.
void rgba_from_indexed(const uint8_t* indices, int64_t count, const Color* colors, uint8_t* rgba);
