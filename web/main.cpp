// The web page's module: the launcher's list and the player, on the same
// archive scanner, probe, ring, readers and decoders as reeldeck and
// reelplay. SDL 1.2 is emscripten's own: the screen is the page's canvas and
// the sound goes to Web Audio. A browser must not block, so the display loop
// becomes passes at animation frames, each asked for by what the desktop's
// pass would wait for, and the page is told when a movie is over.
#include "SDL.h"
#include "controls.h"
#include "movie.h"
#include "pixels.h"
#include "platform/library.h"
#include "playback.h"
#include "scanner.h"
#include "sdl_common.h"
#include "seek.h"

#include <emscripten.h>
#include <emscripten/html5.h>

#include <cstring>
#include <string>

#define WEB_EXPORT extern "C" EMSCRIPTEN_KEEPALIVE

// The last listing: its lines one after the other, each ended by a newline,
// and the scanner's messages the same way.
static std::string list_lines;
static std::string list_messages;

static const char no_movie_message[] = "No playable movie found in this file";

static SDL_Surface* screen;
static bool sdl_started;
// The palette last handed to the frame surface; the surface starts black.
static Color colors_in_force[256];
// While paused, a sound buffer asked for is silence and takes nothing from
// the movie: the browser may still ask for one after the pause.
static bool sound_held;
// The page's close button.
static bool stop_asked;
// From web_play until the page has been told that the movie is over.
static bool session_open;
static bool pass_requested;

static void keep_colors(const Color* colors) {
    memcpy(colors_in_force, colors, sizeof colors_in_force);
}

// frame_pixels onto the canvas, through the palette in force for 8-bit movies.
static void present_picture() {
    SDL_LockSurface(screen);
    auto* out = static_cast<uint8_t*>(screen->pixels);
    const int64_t row = movie_width;
    for (int32_t y = 0; y < movie_height; ++y) {
        uint8_t* line = out + size_t(y) * screen->pitch;
        if (movie_depth == 8)
            rgba_from_indexed(frame_pixels + y * row, row, colors_in_force, line);
        else
            rgba_from_555(frame_pixels + y * row * 2, row, line);
    }
    SDL_UnlockSurface(screen);
}

static void show_slot(const FrameSlot* slot) {
    decode_slot_picture(slot);
    present_picture();
}

static void audio_callback(void*, Uint8* stream, int len) {
    memset(stream, 0, size_t(len));
    if (sound_held) return;
    fill_audio(stream, len);
    scale_samples(stream, len, muted ? 0 : int32_t(volume_tenths));
}

static void hold_sound(bool held) {
    sound_held = held;
    SDL_PauseAudio(held ? 1 : 0);
}

// The page does the fullscreen: only it can ask the browser, and it scales
// the canvas to the largest whole factor that fits.
static bool page_fullscreen() {
    return EM_ASM_INT({ return document.fullscreenElement ? 1 : 0; }) != 0;
}
static bool toggle_page_fullscreen() {
    EM_ASM({ Module.toggleFullscreen(); });
    return true;
}

static void request_pass();

static player_command take_event() {
    if (stop_asked) return command_quit;
    // The pointer over the canvas queues events that nothing here uses: they
    // are passed over at once rather than one a pass, as the desktop does
    // with motion. One key a pass; another may be waiting. The study keys
    // first, as in reelplay; there is no screenshot on the page.
    SDL_Event event;
    while (SDL_PollEvent(&event)) {
        if (event.type != SDL_KEYDOWN) continue;
        request_pass();
        if (study_key(event.key.keysym) != study_none) return command_none;
        return key_command(event.key.keysym, {page_fullscreen(), toggle_page_fullscreen});
    }
    return command_none;
}

static void install_hooks() {
    hooks = {};
    hooks.pause_audio = [] {
        SDL_PauseAudio(1);
        request_pass();
    };
    hooks.post_frame = request_pass;
    hooks.take_event = take_event;
    hooks.show_slot = show_slot;
    hooks.present = present_picture;
    hooks.hold_sound = hold_sound;
    set_surface_colors = keep_colors;
}

static void close_movie_file() {
    if (movie_file) fclose(movie_file);
    movie_file = nullptr;
}

static void end_movie_session() {
    session_open = false;
    SDL_CloseAudio();
    // Between movies the browser's sound stops altogether instead of mixing
    // silence.
    EM_ASM({
        if (SDL.audioContext) SDL.audioContext.suspend();
    });
    running = false;
    close_movie_file();
    end_seeking();
    EM_ASM({
        if (Module.movieEnded) Module.movieEnded();
    });
}

static EM_BOOL animation_frame(double, void*) {
    pass_requested = false;
    if (session_open && !display_pass()) end_movie_session();
    return EM_FALSE;
}

// Where the desktop's display loop waits (on frame_sem, for the sound's end,
// while paused), this one asks for no frame: the sound's post, the sound's
// end, a key and the close button each ask for one pass at the next
// animation frame. So the browser draws only when there is something to show.
static void request_pass() {
    if (pass_requested || !session_open) return;
    pass_requested = true;
    emscripten_request_animation_frame(animation_frame, nullptr);
}

// Opens the movie at offset in path and probes it; the caller closes
// movie_file. kind_none when nothing playable starts there.
static int32_t open_at(const char* path, int32_t offset, bool interlace) {
    reset_movie_state();
    if (!open_movie_file(path)) return kind_none;
    void* codec = load_codec_library(codec_library_name);
    DecompressXD = reinterpret_cast<decompress_fn>(find_library_entry(codec, "DecompressXD"));
    DrawFrameXD = reinterpret_cast<draw_frame_fn>(find_library_entry(codec, "DrawFrameXD"));
    player_options options;
    options.path = path;
    options.interlaced = interlace;
    options.offset_given = true;
    options.offset = offset;
    return open_movie(options);
}

static void add_list_line(void*, const char* text) {
    list_lines += text;
    list_lines += '\n';
}

static void add_list_message(void*, const char* text, const char*, scan_message_kind) {
    list_messages += text;
    list_messages += '\n';
}

// Lists the movies of path as the launcher does. A single movie file, which
// the launcher lists unopened, is probed first, so that the page can say at
// once that a file holds no movie. Returns the number of lines.
WEB_EXPORT int web_list(const char* path) {
    list_lines.clear();
    list_messages.clear();
    scan_archive(path, {add_list_line, add_list_message, nullptr});
    if (movie_count > 0 && !names_an_archive(path)) {
        bool playable = open_at(path, 0, false) != kind_none;
        close_movie_file();
        if (!playable) {
            movie_count = 0;
            list_lines.clear();
            add_list_message(nullptr, no_movie_message, nullptr, scan_warning);
        }
    }
    return movie_count;
}

WEB_EXPORT const char* web_list_lines() {
    return list_lines.c_str();
}

WEB_EXPORT const char* web_list_messages() {
    return list_messages.c_str();
}

// Starts the movie of list line `line` in path, "2x interlaced" when
// interlace is set, as reelplay would with the launcher's command line. Call
// it from the user's click: browsers start sound only after a gesture.
// Returns 0 when it plays; -1 when it cannot (nothing playable, no sound).
WEB_EXPORT int web_play(const char* path, int line, int interlace) {
    if (session_open || line < 0 || line >= movie_count || line >= movie_list_capacity) return -1;
    if (open_at(path, movie_offsets[line], interlace != 0) == kind_none) {
        close_movie_file();
        return -1;
    }
    if (!sdl_started) {
        if (SDL_Init(SDL_INIT_VIDEO | SDL_INIT_AUDIO) != 0) {
            close_movie_file();
            return -1;
        }
        sdl_started = true;
        // Every pixel drawn is opaque already: no second pass to make it so.
        EM_ASM({ SDL.defaults.opaqueFrontBuffer = false; });
    }
    bool pictures = movie_width >= 1 && movie_height >= 1;
    screen = SDL_SetVideoMode(pictures ? movie_width : 1, pictures ? movie_height : 1, 32,
                              SDL_SWSURFACE);
    if (!screen) {
        close_movie_file();
        return -1;
    }
    // Black until the first picture, also over the last movie's on a canvas
    // of the same size, which the browser keeps.
    SDL_FillRect(screen, nullptr, SDL_MapRGB(screen->format, 0, 0, 0));
    install_hooks();

    // Within the user's click, which is what lets the sound start.
    EM_ASM({
        if (SDL.audioContext) SDL.audioContext.resume();
    });
    // The browser's SDL takes only powers of two of frames.
    SDL_AudioSpec request = movie_sound_request(1024, audio_callback);
    if (SDL_OpenAudio(&request, nullptr) < 0) {
        fprintf(stderr, "Couldn't open audio: %s\n", SDL_GetError());
        close_movie_file();
        return -1;
    }
    // Keys left from the last movie are not this one's.
    SDL_Event stale;
    while (SDL_PollEvent(&stale)) {
    }
    sound_held = false;
    stop_asked = false;
    // The file still stands just after the movie's header.
    begin_seeking(fopen(path, "rb"));
    prefill_ring();
    running = true;
    session_open = true;
    SDL_PauseAudio(0);
    request_pass();
    return 0;
}

// The browser's sound takes a while to start the first time (the device is
// opened); the page calls this at the user's first gesture, well before Play.
WEB_EXPORT void web_prepare_sound() {
    EM_ASM({ SDL.openAudioContext(); });
}

// The close button: the movie ends at the next animation frame.
WEB_EXPORT void web_stop() {
    stop_asked = true;
    request_pass();
}

// A key went to the canvas: a pass takes it.
WEB_EXPORT void web_key() {
    request_pass();
}

// The slot whose picture the canvas holds, -1 before the first.
WEB_EXPORT int web_drawn_slot() {
    return picture_slot_on_screen();
}

WEB_EXPORT int web_paused() {
    return paused ? 1 : 0;
}

WEB_EXPORT int web_playing() {
    return session_open ? 1 : 0;
}
