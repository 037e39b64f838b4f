// The on-screen display: a bar over the bottom of the picture with the time
// of the slot on screen, the movie's whole length, a progress line and a
// label ("paused", the volume, a screenshot's name). It is drawn onto the
// window only, after the picture: frame_surface and frame_pixels never see
// it, so screenshots and the picture itself stay exactly the movie's.
#pragma once

#include "SDL.h"

#include <cstdint>

// What the bar shows.
struct osd_status {
    int64_t time = -1;   // start of the slot on screen, in sample frames; -1 unknown
    int64_t length = -1; // the movie's whole length; -1 unknown
    const char* label = "";
};

// Draws the bar over the bottom quarter (at most) of area, the picture's
// place in the window. The text is laid out for the area's size; a new size
// (fullscreen) lays it out again. Without its font the bar has no text.
void osd_draw(SDL_Surface* screen, const SDL_Rect& area, const osd_status& status);

// Where on the progress line of the bar last drawn the point x, y lies, as
// a share from 0 to 1 of the whole length; -1 when it is not on the line.
double osd_progress_at(int x, int y);

// Lets go of the font and the text surfaces.
void osd_stop();
