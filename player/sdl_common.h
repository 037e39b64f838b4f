// What reelplay's window and the web page share on top of SDL 1.2: the
// player's keys, the volume and the sound device it asks for. Each brings its
// own fullscreen.
#pragma once

#include "SDL.h"
#include "playback.h"

#include <atomic>
#include <cstdint>

// Read by the sound callback: tenths of full, and muted.
extern std::atomic<int32_t> volume_tenths;
extern std::atomic<bool> muted;

struct key_context {
    bool fullscreen;
    // Turns fullscreen on or off; false when the player can no longer show
    // anything and must end.
    bool (*toggle_fullscreen)();
};

// F11, F or Alt+Enter: fullscreen on and off. Space or P: pause or resume.
// Q: end. Esc: leave fullscreen, or end when not in fullscreen.
player_command key_command(const SDL_keysym& key, const key_context& context);

// Seeks frames (sample frames) from the slot being heard, not before the
// start. False when nothing is heard yet and so nothing moved.
bool seek_by(int64_t frames);

// What a study key did, for the window to show.
enum study_result { study_none, study_done, study_volume, study_screenshot };

// Right/Left 5 s forward/back, Up/Down 60 s, Home to the start; . and , the
// next and previous picture, pausing first; 9/0 or / and * the volume down/up
// by a tenth; M mute. S only asks for a screenshot, which is the caller's.
// study_none for any other key, and for a seek that could not move.
study_result study_key(const SDL_keysym& key);

// The sound device for the open movie: 22050 Hz signed 16-bit, as many
// channels as the movie, samples frames a buffer.
SDL_AudioSpec movie_sound_request(Uint16 samples, void (*callback)(void*, Uint8*, int));
