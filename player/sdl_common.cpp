#include "sdl_common.h"

#include "controls.h"
#include "seek.h"

#include <algorithm>

std::atomic<int32_t> volume_tenths{volume_full};
std::atomic<bool> muted;

player_command key_command(const SDL_keysym& key, const key_context& context) {
    bool alt_enter = (key.sym == SDLK_RETURN || key.sym == SDLK_KP_ENTER) && (key.mod & KMOD_ALT);
    if (key.sym == SDLK_F11 || key.sym == SDLK_f || alt_enter)
        return context.toggle_fullscreen() ? command_none : command_quit;
    if (key.sym == SDLK_SPACE || key.sym == SDLK_p) return command_pause;
    if (key.sym == SDLK_q) return command_quit;
    if (key.sym == SDLK_ESCAPE) {
        if (!context.fullscreen) return command_quit;
        return context.toggle_fullscreen() ? command_none : command_quit;
    }
    return command_none;
}

// The picture lands on screen, paused or not.
bool seek_by(int64_t frames) {
    int64_t from = slot_start_frame(slot_being_heard());
    if (from < 0) return false;
    seek_to_frame(std::max<int64_t>(0, from + frames));
    return true;
}

// A picture step pauses first, holding the sound as Space does.
static void step(int32_t direction) {
    if (!paused) {
        paused = true;
        hooks.hold_sound(true);
    }
    step_picture(direction);
}

static void change_volume(int32_t by) {
    volume_tenths = std::clamp(volume_tenths + by, 0, volume_full);
    muted = false;
}

static study_result seek_key(int64_t seconds) {
    return seek_by(seconds * movie_rate) ? study_done : study_none;
}

study_result study_key(const SDL_keysym& key) {
    // A shifted key on most keyboards: known by the character it types.
    if (key.unicode == '*') {
        change_volume(1);
        return study_volume;
    }
    switch (key.sym) {
    case SDLK_RIGHT:
        return seek_key(5);
    case SDLK_LEFT:
        return seek_key(-5);
    case SDLK_UP:
        return seek_key(60);
    case SDLK_DOWN:
        return seek_key(-60);
    case SDLK_HOME:
        seek_to_frame(0);
        return study_done;
    case SDLK_PERIOD:
        step(1);
        return study_done;
    case SDLK_COMMA:
        step(-1);
        return study_done;
    case SDLK_9:
    case SDLK_SLASH:
    case SDLK_KP_DIVIDE:
        change_volume(-1);
        return study_volume;
    case SDLK_0:
    case SDLK_ASTERISK:
    case SDLK_KP_MULTIPLY:
        change_volume(1);
        return study_volume;
    case SDLK_m:
        muted = !muted;
        return study_done;
    case SDLK_s:
        return study_screenshot;
    default:
        return study_none;
    }
}

SDL_AudioSpec movie_sound_request(Uint16 samples, void (*callback)(void*, Uint8*, int)) {
    SDL_AudioSpec request = {};
    request.freq = 22050;
    request.format = AUDIO_S16LSB;
    request.channels = movie_stereo ? 2 : 1;
    request.samples = samples;
    request.callback = callback;
    return request;
}
