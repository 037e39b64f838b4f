// What reelplay's window and the web page share on top of SDL 1.2: the
// player's keys and the sound device it asks for. Each brings its own
// fullscreen.
#pragma once

#include "SDL.h"
#include "playback.h"

struct key_context {
    bool fullscreen;
    // Turns fullscreen on or off; false when the player can no longer show
    // anything and must end.
    bool (*toggle_fullscreen)();
};

// F11, F or Alt+Enter: fullscreen on and off. Space or P: pause or resume.
// Q: end. Esc: leave fullscreen, or end when not in fullscreen.
player_command key_command(const SDL_keysym& key, const key_context& context);

// The sound device for the open movie: 22050 Hz signed 16-bit, as many
// channels as the movie, samples frames a buffer.
SDL_AudioSpec movie_sound_request(Uint16 samples, void (*callback)(void*, Uint8*, int));
