// reelplay: plays one movie, paced by its sound, in one SDL window.
#include "SDL.h"
#include "movie.h"
#include "platform/library.h"
#include "playback.h"

#include <cstdio>
#include <cstring>

static SDL_Surface* screen;
static SDL_Surface* frame_surface;
static SDL_sem* frame_sem;
static void* xan_library;

static const char window_title[] = "Korvath Movie Player - By the reelplay developers";

static void surface_colors(const Color* colors) {
    SDL_SetColors(frame_surface, reinterpret_cast<SDL_Color*>(const_cast<Color*>(colors)), 0, 256);
}

// The decoders draw packed rows; the surface's pitch may be wider.
static void present_frame() {
    if (SDL_MUSTLOCK(frame_surface)) SDL_LockSurface(frame_surface);
    int32_t row = frame_row_bytes();
    auto* out = static_cast<uint8_t*>(frame_surface->pixels);
    for (int32_t y = 0; y < movie_height; ++y)
        memcpy(out + size_t(y) * frame_surface->pitch, frame_pixels + size_t(y) * row, size_t(row));
    if (SDL_MUSTLOCK(frame_surface)) SDL_UnlockSurface(frame_surface);
    SDL_UpperBlit(frame_surface, nullptr, screen, nullptr);
    SDL_UpdateRect(screen, 0, 0, 0, 0);
}

static void show_slot(const FrameSlot* slot) {
    decode_slot_picture(slot);
    present_frame();
}

static void audio_callback(void*, Uint8* stream, int len) {
    static uint8_t local[audio_buffer_capacity];
    memset(local, 0, sizeof local);
    if (fill_audio(local, len) < 0) return;
    if (len > audio_buffer_capacity) len = audio_buffer_capacity;
    memset(stream, 0, size_t(len));
    SDL_MixAudio(stream, local, Uint32(len), SDL_MIX_MAXVOLUME);
}

static bool quit_requested() {
    SDL_Event event;
    return SDL_PollEvent(&event) && event.type == SDL_QUIT;
}

static void install_hooks() {
    hooks.pause_audio = [] { SDL_PauseAudio(1); };
    hooks.post_frame = [] { SDL_SemPost(frame_sem); };
    hooks.quit_requested = quit_requested;
    hooks.wait_frame = [] { SDL_SemWait(frame_sem); };
    hooks.lock_reader = SDL_LockAudio;
    hooks.unlock_reader = SDL_UnlockAudio;
    hooks.show_slot = show_slot;
    hooks.drain_wait = [] { SDL_Delay(1); };
    set_surface_colors = surface_colors;
}

static void unbind_library() {
    unload_library(xan_library);
    xan_library = nullptr;
    DecompressXD = nullptr;
    DrawFrameXD = nullptr;
}

static const char usage_text[] =
    "usage: reelplay FILE [-i] [-offset N]\n"
    "Plays the movie that starts at byte offset N (0 when not given) of FILE, a\n"
    "movie file or a game archive, in one window, paced by its sound.\n"
    "  -i          draw the picture at twice its size with every other row dark\n"
    "  -offset N   the movie's byte offset inside FILE\n"
    "  --help      show this text\n"
    "  --version   show the version\n";

int main(int argc, char** argv) {
    // Only as the first word: after the path every unknown switch is ignored.
    if (argc >= 2 && strcmp(argv[1], "--help") == 0) {
        fputs(usage_text, stdout);
        return 0;
    }
    if (argc >= 2 && strcmp(argv[1], "--version") == 0) {
        puts("reelplay " REEL_VERSION);
        return 0;
    }
    player_options options;
    if (!parse_player_options(argc, argv, &options)) return -1;
    if (!open_movie_file(options.path)) return -1;

    xan_library = load_codec_library(codec_library_name);
    DecompressXD = reinterpret_cast<decompress_fn>(find_library_entry(xan_library, "DecompressXD"));
    DrawFrameXD = reinterpret_cast<draw_frame_fn>(find_library_entry(xan_library, "DrawFrameXD"));

    if (open_movie(options) == kind_none) {
        unbind_library();
        return -1;
    }

    SDL_AudioSpec request = {};
    request.freq = 22050;
    request.format = AUDIO_S16LSB;
    request.channels = movie_stereo ? 2 : 1;
    request.samples = 1008;
    request.callback = audio_callback;
    request.userdata = nullptr;

    if (SDL_Init(SDL_INIT_TIMER | SDL_INIT_AUDIO | SDL_INIT_VIDEO) != 0) {
        fclose(movie_file);
        unbind_library();
        return -1;
    }
    SDL_WM_SetCaption(window_title, nullptr);

    bool pictures = movie_width >= 1 && movie_height >= 1;
    int w = pictures ? movie_width : 1;
    int h = pictures ? movie_height : 1;
    screen = SDL_SetVideoMode(w, h, 16, 0);
    if (movie_depth == 8)
        frame_surface = SDL_CreateRGBSurface(0, w, h, 8, 0, 0, 0, 0);
    else
        frame_surface = SDL_CreateRGBSurface(0, w, h, 16, 0x7C00, 0x03E0, 0x001F, 0);
    if (!screen || !frame_surface) {
        fclose(movie_file);
        unbind_library();
        SDL_Quit();
        return -1;
    }
    frame_sem = SDL_CreateSemaphore(1);
    install_hooks();

    if (SDL_OpenAudio(&request, nullptr) < 0) {
        fprintf(stderr, "Couldn't open audio: %s\n", SDL_GetError());
        return -1;
    }

    prefill_ring();
    running = true;
    SDL_PauseAudio(0);

    display_loop();

    SDL_PauseAudio(1);
    // Taking the audio lock waits for a callback still in progress, which
    // may be reading movie_file.
    SDL_LockAudio();
    SDL_UnlockAudio();
    fclose(movie_file);
    unbind_library();
    SDL_CloseAudio();
    SDL_Quit();
    return 0;
}
