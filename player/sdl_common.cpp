#include "sdl_common.h"

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

SDL_AudioSpec movie_sound_request(Uint16 samples, void (*callback)(void*, Uint8*, int)) {
    SDL_AudioSpec request = {};
    request.freq = 22050;
    request.format = AUDIO_S16LSB;
    request.channels = movie_stereo ? 2 : 1;
    request.samples = samples;
    request.callback = callback;
    return request;
}
