#include "keys.h"

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
