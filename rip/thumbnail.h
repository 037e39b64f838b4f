// reelrip --thumbnail SIZE IN OUT: the freedesktop thumbnailer. It reads the
// movie through the rip library (the player's own readers and decoders) and
// writes one representative picture as a PNG.
#pragma once

#include "rip.h"

#include <cstdint>
#include <cstdio>
#include <vector>

struct thumbnail_picture {
    int32_t width = 0, height = 0;
    std::vector<uint8_t> rgb; // width * height * 3, top row first
};

// Pictures looked at: those of the movie's first seconds of sound.
constexpr double thumbnail_seconds = 10.0;

// How much of a picture is lit: the share of pixels, in 1/65536, whose
// luma reaches 32 of 255. 0 for a black picture.
int32_t lit_share(const uint8_t* rgb, int32_t width, int32_t height);
// Real content: at least a quarter of the pixels lit, and not one flat fill
// (the luma's spread reaches 8), so a black or nearly black fade-in picture
// and a plain colour card are passed over.
bool picture_has_content(const uint8_t* rgb, int32_t width, int32_t height);

// The first picture with content within thumbnail_seconds; when there is
// none, the most lit picture seen there. False when the movie cannot be read
// or has no picture in that time; status, when given, gets the rip's result.
bool pick_thumbnail_picture(const rip_request& request, thumbnail_picture* out,
                            rip_status* status = nullptr);

// Shrinks to fit size x size with its shape kept, each output pixel the
// area-weighted mean of the source pixels it covers. A picture that already
// fits is returned as it is: a thumbnail never enlarges.
thumbnail_picture scale_to_fit(const thumbnail_picture& in, int32_t size);

// The words after "--thumbnail": SIZE IN OUT. An archive gives the picture of
// its first listed movie. Returns the exit status: 0 written, 1 no picture
// (nothing written), 2 usage (one line on err; the caller adds the usage).
int run_thumbnail(int argc, const char* const* argv, FILE* err);
