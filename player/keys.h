// The player's keys, the same in reelplay's window and on the web page.
// Each face brings its own fullscreen; the keys and what they ask are here.
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
