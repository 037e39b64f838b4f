// Whole-factor enlargement of a picture that is already in the window's
// 16-bit format. No SDL here: the player's video output calls it, the tests
// and the benchmark call it directly.
#pragma once

#include <cstdint>

// Draws each pixel of a width x height picture of 16-bit pixels as a
// factor x factor block at dst. Rows are pitch bytes apart on both sides;
// dst must hold height * factor rows of width * factor pixels.
void scale_picture(const uint8_t* src, int32_t src_pitch, int32_t width, int32_t height,
                   uint8_t* dst, int32_t dst_pitch, int32_t factor);

// The largest whole factor at which a width x height picture fits in an area
// of area_width x area_height; 0 when it does not fit even at 1.
int32_t whole_factor_to_fit(int32_t width, int32_t height, int32_t area_width, int32_t area_height);
