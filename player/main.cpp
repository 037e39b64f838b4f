// reelplay: plays one movie, paced by its sound, in one SDL window.
#include "SDL.h"
#include "controls.h"
#include "movie.h"
#include "osd.h"
#include "platform/library.h"
#include "playback.h"
#include "scale.h"
#include "scanner.h"
#include "screenshot.h"
#include "sdl_common.h"
#include "seek.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>

static SDL_Surface* screen;
static SDL_Surface* frame_surface;
static SDL_sem* frame_sem;
static void* xan_library;
static const char* movie_path;

// The window: frame_surface's size (1 by 1 without pictures) times
// window_scale ("-scale"), or the whole screen in fullscreen, where the
// picture is drawn at shown_factor with its top left at shown_x, shown_y.
static int32_t picture_width, picture_height;
static int32_t window_scale = 1;
static bool fullscreen;
static int32_t shown_factor = 1, shown_x, shown_y;
// The picture at its own size in the window's pixel format, made at start:
// SDL converts into it (through the palette for 8-bit movies), then
// scale_picture enlarges it onto the window.
static SDL_Surface* picture_surface;

// The pointer hides after this long without motion in fullscreen.
constexpr Uint32 pointer_idle_ms = 2000;
// Two presses of the left button this close together are a double click.
constexpr Uint32 double_click_ms = 400;
static Uint32 last_motion, last_click;
static bool pointer_hidden;

// The on-screen display shows for this long after an event, and all the
// time while paused. osd_until is 0 while it is hidden.
constexpr Uint32 osd_ms = 2000;
static Uint32 osd_until;
// What the label says besides the state: a screenshot's name, or why it failed.
static char osd_message[512];
// Motion at the pointer's first known place is the window appearing under
// it, not the user's hand.
static int pointer_x = -1, pointer_y = -1;

static bool volume_changed; // shown until the display next hides
static bool osd_redraw;     // due in the next pass

static const char window_title[] = "Korvath Movie Player - By the reelplay developers";

static void surface_colors(const Color* colors) {
    SDL_SetColors(frame_surface, reinterpret_cast<SDL_Color*>(const_cast<Color*>(colors)), 0, 256);
}

static bool osd_showing(Uint32 now) {
    return osd_until != 0 && (paused || int32_t(osd_until - now) > 0);
}

static void draw_osd() {
    char label[512];
    format_osd_label(osd_message, paused, muted, volume_tenths, volume_changed, label,
                     sizeof label);
    osd_status status;
    int32_t on_screen = slot_on_screen();
    status.time = on_screen >= 0 ? slot_start_frame(on_screen) : 0;
    status.length = movie_length_frames();
    status.label = label;
    SDL_Rect area = {Sint16(shown_x), Sint16(shown_y), Uint16(picture_width * shown_factor),
                     Uint16(picture_height * shown_factor)};
    osd_draw(screen, area, status);
}

// The decoders draw packed rows; the surface's pitch may be wider.
static void present_frame() {
    if (SDL_MUSTLOCK(frame_surface)) SDL_LockSurface(frame_surface);
    int32_t row = frame_row_bytes();
    auto* out = static_cast<uint8_t*>(frame_surface->pixels);
    for (int32_t y = 0; y < movie_height; ++y)
        memcpy(out + size_t(y) * frame_surface->pitch, frame_pixels + size_t(y) * row, size_t(row));
    if (SDL_MUSTLOCK(frame_surface)) SDL_UnlockSurface(frame_surface);
    if (shown_factor == 1 && shown_x == 0 && shown_y == 0) {
        SDL_UpperBlit(frame_surface, nullptr, screen, nullptr);
    } else {
        SDL_UpperBlit(frame_surface, nullptr, picture_surface, nullptr);
        if (SDL_MUSTLOCK(screen)) SDL_LockSurface(screen);
        auto* at = static_cast<uint8_t*>(screen->pixels) + size_t(shown_y) * screen->pitch +
                   size_t(shown_x) * 2;
        scale_picture(static_cast<const uint8_t*>(picture_surface->pixels), picture_surface->pitch,
                      picture_width, picture_height, at, screen->pitch, shown_factor);
        if (SDL_MUSTLOCK(screen)) SDL_UnlockSurface(screen);
    }
    if (osd_showing(SDL_GetTicks())) draw_osd();
    SDL_UpdateRect(screen, 0, 0, 0, 0);
}

// The display shows from now on (again) with this message.
static void arm_osd(const char* message) {
    snprintf(osd_message, sizeof osd_message, "%s", message);
    osd_until = SDL_GetTicks() + osd_ms;
    if (osd_until == 0) osd_until = 1;
}

// Shows the display at once over the picture on screen.
static void show_osd(const char* message = "") {
    arm_osd(message);
    present_frame();
}

// Takes the display away once its time is up: the plain picture again.
static void hide_osd_when_due(Uint32 now) {
    if (osd_until == 0 || osd_showing(now)) return;
    osd_until = 0;
    volume_changed = false;
    present_frame();
}

static SDL_Surface* set_window_mode(bool full) {
    if (full) return SDL_SetVideoMode(0, 0, 16, SDL_FULLSCREEN);
    return SDL_SetVideoMode(picture_width * window_scale, picture_height * window_scale, 16, 0);
}

// Fullscreen draws the picture at the largest whole factor that fits,
// centred on black: every picture pixel stays an even square block, and the
// dark rows of "-i" stay rows of their own. SDL_SetVideoMode makes the new
// window surface itself; frame_surface, its palette and picture_surface
// stay, so the picture and its colours are redrawn as they were.
// False when no window could be had at all.
static bool toggle_fullscreen() {
    bool full = !fullscreen;
    SDL_Surface* s = set_window_mode(full);
    if (s && full) {
        // A screen smaller than the picture, or in another pixel format, is
        // not used.
        const SDL_PixelFormat* f = s->format;
        const SDL_PixelFormat* p = picture_surface->format;
        if (whole_factor_to_fit(picture_width, picture_height, s->w, s->h) < 1 ||
            f->BitsPerPixel != 16 || f->Rmask != p->Rmask || f->Gmask != p->Gmask ||
            f->Bmask != p->Bmask)
            s = nullptr;
    }
    if (!s) {
        full = fullscreen;
        s = set_window_mode(full);
        if (!s) return false;
    }
    screen = s;
    fullscreen = full;
    if (full) {
        shown_factor = whole_factor_to_fit(picture_width, picture_height, s->w, s->h);
        shown_x = (s->w - picture_width * shown_factor) / 2;
        shown_y = (s->h - picture_height * shown_factor) / 2;
        last_motion = SDL_GetTicks();
    } else {
        shown_factor = window_scale;
        shown_x = shown_y = 0;
        SDL_ShowCursor(SDL_ENABLE);
        pointer_hidden = false;
    }
    SDL_FillRect(screen, nullptr, 0);
    present_frame();
    return true;
}

static bool in_picture(int x, int y) {
    int32_t w = picture_width * shown_factor, h = picture_height * shown_factor;
    return x >= shown_x && x < shown_x + w && y >= shown_y && y < shown_y + h;
}

// A click on the progress line of the display on screen seeks to that share
// of the movie's length.
static bool click_on_progress(int x, int y) {
    if (!osd_showing(SDL_GetTicks())) return false;
    double share = osd_progress_at(x, y);
    int64_t length = movie_length_frames();
    if (share < 0 || length <= 0) return false;
    seek_to_frame(int64_t(share * double(length)));
    show_osd();
    return true;
}

static void show_slot(const FrameSlot* slot) {
    decode_slot_picture(slot);
    present_frame();
}

// The picture on screen at the movie's own size, as reelrip writes it: the
// decoders' packed pixels with the palette in force on the surface.
static void save_screenshot() {
    int32_t on_screen = picture_slot_on_screen();
    if (movie_width < 1 || movie_height < 1 || on_screen < 0) {
        show_osd("no picture to save");
        return;
    }
    png_picture picture;
    picture.width = movie_width;
    picture.height = movie_height;
    uint8_t colors[256 * 3];
    if (movie_depth == 8) {
        const SDL_Palette* palette = frame_surface->format->palette;
        for (int i = 0; i < 256; ++i) {
            const SDL_Color c = palette && i < palette->ncolors ? palette->colors[i] : SDL_Color{};
            colors[3 * i] = c.r;
            colors[3 * i + 1] = c.g;
            colors[3 * i + 2] = c.b;
        }
        picture.indices = frame_pixels;
        picture.colors = colors;
    } else {
        picture.pixels555 = frame_pixels;
    }
    std::string name = screenshot_name(movie_path, start_offset, slot_start_frame(on_screen));
    std::string result;
    if (!write_screenshot(pictures_folder(), name, picture, &result)) {
        fprintf(stderr, "reelplay: %s\n", result.c_str());
        // The window has room for the reason, not for the whole path.
        show_osd(("screenshot not saved: " + result.substr(result.rfind(": ") + 2)).c_str());
        return;
    }
    show_osd(result.c_str() + result.rfind('/') + 1);
}

// The study keys, then what the window shows of them.
static bool window_study_key(const SDL_keysym& key) {
    study_result result = study_key(key);
    if (result == study_none) return false;
    if (result == study_screenshot) {
        save_screenshot();
        return true;
    }
    if (result == study_volume) volume_changed = true;
    show_osd();
    return true;
}

static void audio_callback(void*, Uint8* stream, int len) {
    static uint8_t local[audio_buffer_capacity];
    memset(local, 0, sizeof local);
    if (fill_audio(local, len) < 0) return;
    if (len > audio_buffer_capacity) len = audio_buffer_capacity;
    memset(stream, 0, size_t(len));
    scale_samples(local, len, muted ? 0 : int32_t(volume_tenths));
    SDL_MixAudio(stream, local, Uint32(len), SDL_MIX_MAXVOLUME);
}

static player_command take_event() {
    Uint32 now = SDL_GetTicks();
    if (fullscreen && !pointer_hidden && now - last_motion >= pointer_idle_ms) {
        SDL_ShowCursor(SDL_DISABLE);
        pointer_hidden = true;
    }
    if (osd_redraw) {
        osd_redraw = false;
        present_frame();
    }
    hide_osd_when_due(now);
    SDL_Event event;
    if (!SDL_PollEvent(&event)) return command_none;
    switch (event.type) {
    case SDL_QUIT:
        return command_quit;
    case SDL_KEYDOWN: {
        if (window_study_key(event.key.keysym)) return command_none;
        player_command command = key_command(event.key.keysym, {fullscreen, toggle_fullscreen});
        if (command == command_pause) {
            // Drawn once the pause has taken hold (or let go), in the next pass.
            arm_osd("");
            osd_redraw = true;
        }
        return command;
    }
    case SDL_MOUSEMOTION: {
        // Motion comes in floods; one taken stands for all that are queued,
        // so that keys behind them are not held up by one event per pass.
        static SDL_Event more[64];
        int x = event.motion.x, y = event.motion.y;
        for (int n; (n = SDL_PeepEvents(more, 64, SDL_GETEVENT, SDL_MOUSEMOTIONMASK)) > 0;) {
            x = more[n - 1].motion.x;
            y = more[n - 1].motion.y;
        }
        last_motion = now;
        if (pointer_hidden) SDL_ShowCursor(SDL_ENABLE);
        pointer_hidden = false;
        if (pointer_x >= 0 && (x != pointer_x || y != pointer_y)) show_osd();
        pointer_x = x;
        pointer_y = y;
        break;
    }
    case SDL_MOUSEBUTTONDOWN:
        if (event.button.button == SDL_BUTTON_WHEELUP ||
            event.button.button == SDL_BUTTON_WHEELDOWN) {
            if (seek_by(event.button.button == SDL_BUTTON_WHEELUP ? 5 * movie_rate
                                                                  : -5 * movie_rate))
                show_osd();
            break;
        }
        if (event.button.button != SDL_BUTTON_LEFT || !in_picture(event.button.x, event.button.y))
            break;
        if (click_on_progress(event.button.x, event.button.y)) {
            last_click = 0;
            break;
        }
        if (last_click != 0 && now - last_click <= double_click_ms) {
            last_click = 0;
            return toggle_fullscreen() ? command_none : command_quit;
        }
        last_click = now;
        break;
    }
    return command_none;
}

// SDL 2, under the 1.2 interface, keeps a paused device running on silence;
// holding the audio lock as well stops its thread, so that nothing at all
// reaches the device while the movie is paused.
static void hold_sound(bool held) {
    if (held) {
        SDL_PauseAudio(1);
        SDL_LockAudio();
    } else {
        SDL_UnlockAudio();
        SDL_PauseAudio(0);
    }
}

static void install_hooks() {
    hooks.pause_audio = [] { SDL_PauseAudio(1); };
    hooks.post_frame = [] { SDL_SemPost(frame_sem); };
    hooks.take_event = take_event;
    // A timeout as well, so that keys and the close button are taken even
    // when the sound device stops calling back.
    hooks.wait_frame = [] { SDL_SemWaitTimeout(frame_sem, 15); };
    hooks.lock_reader = SDL_LockAudio;
    hooks.unlock_reader = SDL_UnlockAudio;
    hooks.show_slot = show_slot;
    hooks.present = present_frame;
    hooks.hold_sound = hold_sound;
    set_surface_colors = surface_colors;
}

static void unbind_library() {
    unload_library(xan_library);
    xan_library = nullptr;
    DecompressXD = nullptr;
    DrawFrameXD = nullptr;
}

static const char usage_text[] =
    "usage: reelplay FILE [-i] [-offset N] [-scale N] [-start T]\n"
    "Plays the movie that starts at byte offset N (0 when not given) of FILE, a\n"
    "movie file or a game archive, in one window, paced by its sound.\n"
    "  -i          draw the picture at twice its size with every other row dark\n"
    "  -offset N   the movie's byte offset inside FILE\n"
    "  -scale N    a window N times the size (1 to 4), each pixel an N x N block\n"
    "  -start T    start at T seconds (90, 90.5) or minutes and seconds (1:30)\n"
    "Keys: F11, F or Alt+Enter fullscreen; Space or P pause; Right/Left 5 s\n"
    "forward/back (also the mouse wheel), Up/Down 60 s, Home to the start; . and ,\n"
    "next and previous picture; 9/0 or / and * sound down/up by 10%, M mute;\n"
    "S screenshot into the pictures folder; Esc leave fullscreen or end; Q end.\n"
    "  --help      show this text\n"
    "  --version   show the version\n";

// Nothing starts at the offset. A game archive opened without one is
// pointed at the tool that lists its movies.
static void report_nothing_playable(const player_options& options) {
    if (!options.offset_given && names_an_archive(options.path)) {
        scan_archive(options.path, scan_sink{});
        if (movie_count > 0) {
            fprintf(stderr,
                    "reelplay: %s is a game archive of %d movie%s; choose one with -offset N "
                    "(reelrip --list %s lists them)\n",
                    options.path, int(movie_count), movie_count == 1 ? "" : "s", options.path);
            return;
        }
    }
    fprintf(stderr, "reelplay: nothing playable at offset %lld of %s\n",
            static_cast<long long>(options.offset), options.path);
}

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
    if (!parse_player_options(argc, argv, &options)) {
        // Its first line alone: a start without FILE says one line.
        fwrite(usage_text, 1, size_t(strchr(usage_text, '\n') + 1 - usage_text), stderr);
        return -1;
    }
    if (!open_movie_file(options.path)) {
        fprintf(stderr, "reelplay: cannot open %s: %s\n", options.path, strerror(errno));
        return -1;
    }
    if (options.scale_refused) {
        if (options.scale_text)
            fprintf(stderr, "reelplay: \"-scale %s\" is not a factor from 1 to %d; playing at 1\n",
                    options.scale_text, max_window_scale);
        else
            fprintf(stderr, "reelplay: \"-scale\" needs a factor from 1 to %d; playing at 1\n",
                    max_window_scale);
    }
    window_scale = options.scale;
    movie_path = options.path;
    if (options.start_refused) {
        if (options.start_text)
            fprintf(stderr,
                    "reelplay: \"-start %s\" is not a time (90, 90.5 or 1:30); starting at 0\n",
                    options.start_text);
        else
            fprintf(stderr,
                    "reelplay: \"-start\" needs a time (90, 90.5 or 1:30); starting at 0\n");
    }

    xan_library = load_codec_library(codec_library_name);
    DecompressXD = reinterpret_cast<decompress_fn>(find_library_entry(xan_library, "DecompressXD"));
    DrawFrameXD = reinterpret_cast<draw_frame_fn>(find_library_entry(xan_library, "DrawFrameXD"));

    if (open_movie(options) == kind_none) {
        unbind_library();
        report_nothing_playable(options);
        return -1;
    }
    begin_seeking(fopen(options.path, "rb"));

    SDL_AudioSpec request = movie_sound_request(1008, audio_callback);

    if (SDL_Init(SDL_INIT_TIMER | SDL_INIT_AUDIO | SDL_INIT_VIDEO) != 0) {
        fprintf(stderr, "reelplay: cannot start SDL: %s\n", SDL_GetError());
        fclose(movie_file);
        unbind_library();
        return -1;
    }
    SDL_WM_SetCaption(window_title, nullptr);
    SDL_EnableUNICODE(1);

    bool pictures = movie_width >= 1 && movie_height >= 1;
    int w = pictures ? movie_width : 1;
    int h = pictures ? movie_height : 1;
    picture_width = w;
    picture_height = h;
    screen = set_window_mode(false);
    if (!screen && window_scale > 1) {
        // Too large a window for this display: the movie still plays, at 1.
        window_scale = 1;
        screen = set_window_mode(false);
    }
    shown_factor = window_scale;
    if (movie_depth == 8)
        frame_surface = SDL_CreateRGBSurface(0, w, h, 8, 0, 0, 0, 0);
    else
        frame_surface = SDL_CreateRGBSurface(0, w, h, 16, 0x7C00, 0x03E0, 0x001F, 0);
    if (screen)
        picture_surface = SDL_CreateRGBSurface(0, w, h, 16, screen->format->Rmask,
                                               screen->format->Gmask, screen->format->Bmask, 0);
    if (!screen || !frame_surface || !picture_surface) {
        fprintf(stderr, "reelplay: %s: %s\n",
                screen ? "cannot make the picture's surfaces" : "cannot open a window",
                SDL_GetError());
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
    if (options.start > 0) seek_to_frame(options.start);
    running = true;
    SDL_PauseAudio(0);

    display_loop();

    SDL_PauseAudio(1);
    // Ended while paused: let go of the pause's hold, the device stays paused.
    if (paused) SDL_UnlockAudio();
    // Taking the audio lock waits for a callback still in progress, which
    // may be reading movie_file.
    SDL_LockAudio();
    SDL_UnlockAudio();
    fclose(movie_file);
    end_seeking();
    unbind_library();
    SDL_CloseAudio();
    osd_stop();
    SDL_Quit();
    return 0;
}
