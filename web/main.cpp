// The web page's module: the launcher's list and the player, on the same
// archive scanner, probe, ring, readers and decoders as reeldeck and
// reelplay. emscripten's SDL 1.2 sizes the canvas and brings the keys; the
// pictures and the sound go out through library.js. A browser must not
// block, so the display loop becomes passes at animation frames, each asked
// for when the sound has been heard up to the next slot, or by a key, and the
// page is told when a movie is over.
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

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#define WEB_EXPORT extern "C" EMSCRIPTEN_KEEPALIVE

// library.js.
extern "C" {
void web_sound_prepare();
int web_sound_open(int channels, float* planes, int frames);
void web_sound_flow(int flowing);
void web_sound_land();
void web_sound_close();
void web_sound_gain(int tenths);
double web_sound_heard();
int web_sound_played_out();
void web_wake_at(double bytes);
void web_wake_at_end();
void web_show_picture(const uint8_t* pixels, int width, int height);
}

// The last listing: its lines one after the other, each ended by a newline,
// and the scanner's messages the same way.
static std::string list_lines;
static std::string list_messages;

static const char no_movie_message[] = "No playable movie found in this file";

static bool sdl_started;
// The movie's file as the page named it, for screenshots' names.
static std::string movie_name;
// The palette last handed to the frame surface; the surface starts black.
static Color colors_in_force[256];
// The picture as the canvas takes it, made at Play for the movie's size.
static std::vector<uint8_t> canvas_pixels;
// A picture was decoded or landed on and is not on the canvas yet. The
// canvas gets only the last of a pass's pictures: the others would never be
// seen.
static bool picture_due;
// The page's close button.
static bool stop_asked;
// From web_play until the page has been told that the movie is over.
static bool session_open;
static bool pass_requested;

// Sound goes out in blocks of this many sample frames (0.19 s), 16-bit as
// the ring holds it, then as the float planes Web Audio takes. Long blocks
// wake the page and the browser's sound thread less often: blocks of 1,024
// frames cost a sixth more processor time while playing. A stereo block must
// fit what fill_audio hands out at once. The volume is applied after the
// blocks (web_sound_gain), so that it is heard at once rather than after
// what is queued.
constexpr int sound_block_frames = 4096;
static_assert(sound_block_frames * 4 <= audio_buffer_capacity);
static uint8_t sound_block[sound_block_frames * 4];
static float sound_planes[2 * sound_block_frames];

// The picture clock: where in the sound handed out since the last landing
// each slot's sound ends, and how many slots are heard once it has been
// played. The display shows a slot when its sound starts to be heard.
struct heard_mark {
    double end;
    int32_t heard;
};
constexpr int32_t mark_capacity = 64;
static heard_mark marks[mark_capacity];
static int32_t marks_first, marks_count;
// Slots heard as of the last mark played; the slot whose sound is being
// handed out and where in the sound handed out it ends.
static int32_t heard_base;
static int32_t handing_slot;
static double handing_end;

// The display: the label's message (a screenshot's name, or why it failed)
// and a volume change, until the page hides the display again.
static char osd_message[256];
static bool volume_changed;
static bool osd_due;
// Asked by the page between passes: notches of the mouse wheel, and a click
// on the progress line (a share of the movie's length, -1 for none).
static int32_t wheel_notches;
static double progress_share = -1;

static void request_pass();

static void keep_colors(const Color* colors) {
    memcpy(colors_in_force, colors, sizeof colors_in_force);
}

// frame_pixels onto the canvas, through the palette in force for 8-bit movies.
static void present_picture() {
    picture_due = false;
    if (movie_width < 1 || movie_height < 1) return;
    const int64_t count = int64_t(movie_width) * movie_height;
    if (movie_depth == 8)
        rgba_from_indexed(frame_pixels, count, colors_in_force, canvas_pixels.data());
    else
        rgba_from_555(frame_pixels, count, canvas_pixels.data());
    web_show_picture(canvas_pixels.data(), movie_width, movie_height);
}

static void show_slot(const FrameSlot* slot) {
    decode_slot_picture(slot);
    picture_due = true;
}

static int32_t sound_bytes_left(const FrameSlot& slot) {
    int32_t start = std::clamp(slot.sound_total - slot.sound_left, 0, sound_capacity);
    return std::clamp(slot.sound_left, 0, sound_capacity - start);
}

// The clock starts again at the slot being handed out: at Play and at every
// landing, whose sound starts from its slot's start.
static void restart_clock() {
    marks_first = marks_count = 0;
    heard_base = slots_heard;
    handing_slot = slots_heard;
    handing_end = sound_bytes_left(slot_ring[handing_slot % ring_size]);
}

// Each slot whose sound the last block finished: its end, where the next
// slot's starts.
static void mark_slots_handed() {
    while (handing_slot < slots_heard) {
        heard_mark& m = marks[(marks_first + marks_count) % mark_capacity];
        m.end = handing_end;
        m.heard = ++handing_slot;
        if (marks_count < mark_capacity)
            ++marks_count;
        else
            marks_first = (marks_first + 1) % mark_capacity;
        if (handing_slot < slots_read) {
            const FrameSlot& next = slot_ring[handing_slot % ring_size];
            handing_end += std::clamp(next.sound_total, 0, sound_capacity);
        }
    }
}

static int32_t slots_heard_now() {
    const double heard = web_sound_heard();
    while (marks_count > 0 && marks[marks_first].end <= heard) {
        heard_base = marks[marks_first].heard;
        marks_first = (marks_first + 1) % mark_capacity;
        --marks_count;
    }
    return heard_base;
}

// Every slot's sound has been handed out.
static bool sound_all_handed() {
    return at_end && audio_slot > last_slot;
}

// The page's pump: the next block of sound into sound_planes. Returns the
// bytes of the movie's sound in it (the rest is silence), -1 once the sound
// is over.
WEB_EXPORT int web_fill_sound() {
    if (!session_open || sound_all_handed()) return -1;
    const int channels = movie_stereo ? 2 : 1;
    const int bytes = sound_block_frames * 2 * channels;
    memset(sound_block, 0, size_t(bytes));
    int filled = fill_audio(sound_block, bytes);
    if (filled < 0) return -1;
    for (int i = 0; i < sound_block_frames * channels; ++i) {
        int16_t sample;
        memcpy(&sample, sound_block + 2 * i, 2);
        sound_planes[(i % channels) * sound_block_frames + i / channels] = float(sample) / 32768;
    }
    const bool waiting = marks_count == 0;
    mark_slots_handed();
    // The display had nothing to wait for: it waits for this.
    if (waiting && marks_count > 0) web_wake_at(marks[marks_first].end);
    return filled;
}

// Pause (held) or play on: the sound stops where it is heard.
static void hold_sound(bool held) {
    web_sound_flow(held ? 0 : 1);
}

// The ring and its counters start from the slot landed on, and so do the
// sound and its clock: what was handed out before is not to be heard.
static void landed() {
    web_sound_land();
    restart_clock();
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

// The display shows from now on (again) with this message, from the end of
// the next pass, when what it tells has taken hold; the page keeps it for
// its time and asks for its texts.
static void show_osd(const char* message) {
    snprintf(osd_message, sizeof osd_message, "%s", message);
    osd_due = true;
    request_pass();
}

// The picture on screen as a PNG download, named as reelplay names its
// screenshots; the canvas holds it at the movie's own size, exactly.
static void save_screenshot() {
    const int32_t on_screen = picture_slot_on_screen();
    if (movie_width < 1 || movie_height < 1 || on_screen < 0) {
        show_osd("no picture to save");
        return;
    }
    if (picture_due) present_picture();
    std::string name =
        screenshot_name(movie_name.c_str(), start_offset, slot_start_frame(on_screen)) + ".png";
    EM_ASM({ Module.saveScreenshot(UTF8ToString($0)); }, name.c_str());
    show_osd(name.c_str());
}

static player_command take_event() {
    if (stop_asked) return command_quit;
    if (wheel_notches != 0) {
        if (seek_by(int64_t(wheel_notches) * 5 * movie_rate)) show_osd("");
        wheel_notches = 0;
    }
    if (progress_share >= 0) {
        const int64_t length = movie_length_frames();
        if (length > 0) {
            seek_to_frame(int64_t(progress_share * double(length)));
            show_osd("");
        }
        progress_share = -1;
    }
    // The pointer over the canvas queues events that nothing here uses: they
    // are passed over at once rather than one a pass, as the desktop does
    // with motion. One key a pass; another may be waiting. The study keys
    // first, as in reelplay.
    SDL_Event event;
    while (SDL_PollEvent(&event)) {
        if (event.type != SDL_KEYDOWN) continue;
        request_pass();
        study_result result = study_key(event.key.keysym);
        if (result == study_screenshot) {
            save_screenshot();
            return command_none;
        }
        if (result != study_none) {
            if (result == study_volume) volume_changed = true;
            web_sound_gain(muted ? 0 : int32_t(volume_tenths));
            show_osd("");
            return command_none;
        }
        player_command command =
            key_command(event.key.keysym, {page_fullscreen(), toggle_page_fullscreen});
        if (command == command_pause) show_osd("");
        return command;
    }
    return command_none;
}

static void install_hooks() {
    hooks = {};
    hooks.take_event = take_event;
    hooks.show_slot = show_slot;
    hooks.present = [] { picture_due = true; };
    hooks.landed = landed;
    hooks.hold_sound = hold_sound;
    hooks.heard = slots_heard_now;
    set_surface_colors = keep_colors;
}

static void close_movie_file() {
    if (movie_file) fclose(movie_file);
    movie_file = nullptr;
}

static void end_movie_session() {
    session_open = false;
    // Between movies the browser's sound stops altogether instead of mixing
    // silence.
    web_sound_close();
    running = false;
    close_movie_file();
    end_seeking();
    EM_ASM({
        if (Module.movieEnded) Module.movieEnded();
    });
}

static EM_BOOL animation_frame(double, void*) {
    pass_requested = false;
    if (!session_open) return EM_FALSE;
    // The sound handed out in full and heard: the movie is over, as the
    // desktop's callback finds when asked for more.
    if (!paused && sound_all_handed() && web_sound_played_out()) running = false;
    if (!display_pass()) {
        end_movie_session();
        return EM_FALSE;
    }
    const bool new_picture = picture_due;
    if (picture_due) present_picture();
    if (osd_due) {
        osd_due = false;
        EM_ASM({ Module.showOsd(); });
    } else if (new_picture) {
        // The clock moves on while the display shows.
        EM_ASM({ Module.osdTick(); });
    }
    // Woken again when the next slot starts to be heard, or the sound's end.
    if (marks_count > 0)
        web_wake_at(marks[marks_first].end);
    else if (sound_all_handed())
        web_wake_at_end();
    return EM_FALSE;
}

// Where the desktop's display loop waits (on frame_sem, for the sound's end,
// while paused), this one asks for a pass at the next animation frame only
// when the next slot is heard, at a key, the wheel or the close button. So
// the browser draws only when there is something new to show.
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
// it from the user's gesture: browsers start sound only after one.
// Returns 0 when it plays; -1 when it cannot (nothing playable, no sound).
WEB_EXPORT int web_play(const char* path, int line, int interlace) {
    if (session_open || line < 0 || line >= movie_count || line >= movie_list_capacity) return -1;
    if (open_at(path, movie_offsets[line], interlace != 0) == kind_none) {
        close_movie_file();
        return -1;
    }
    if (!sdl_started) {
        if (SDL_Init(SDL_INIT_VIDEO) != 0) {
            close_movie_file();
            return -1;
        }
        sdl_started = true;
    }
    bool pictures = movie_width >= 1 && movie_height >= 1;
    SDL_Surface* screen = SDL_SetVideoMode(pictures ? movie_width : 1, pictures ? movie_height : 1,
                                           32, SDL_SWSURFACE);
    if (!screen) {
        close_movie_file();
        return -1;
    }
    // Black until the first picture, also over the last movie's on a canvas
    // of the same size, which the browser keeps.
    SDL_FillRect(screen, nullptr, SDL_MapRGB(screen->format, 0, 0, 0));
    if (pictures) canvas_pixels.assign(size_t(movie_width) * size_t(movie_height) * 4, 0);
    install_hooks();
    web_sound_gain(muted ? 0 : int32_t(volume_tenths));
    if (!web_sound_open(movie_stereo ? 2 : 1, sound_planes, sound_block_frames)) {
        fprintf(stderr, "Couldn't open audio: no Web Audio\n");
        close_movie_file();
        return -1;
    }
    // Keys left from the last movie are not this one's.
    SDL_Event stale;
    while (SDL_PollEvent(&stale)) {
    }
    movie_name = path;
    stop_asked = false;
    picture_due = false;
    wheel_notches = 0;
    progress_share = -1;
    osd_message[0] = 0;
    volume_changed = false;
    osd_due = false;
    // The file still stands just after the movie's header.
    begin_seeking(fopen(path, "rb"));
    prefill_ring();
    restart_clock();
    running = true;
    session_open = true;
    web_sound_flow(1);
    request_pass();
    return 0;
}

// Made when the page has loaded, so that Play has only to resume it.
WEB_EXPORT void web_prepare_sound() {
    web_sound_prepare();
}

// The close button: the movie ends at the next animation frame.
WEB_EXPORT void web_stop() {
    stop_asked = true;
    request_pass();
}

// A key went to the canvas, or the sound has been heard up to the next
// slot: a pass takes it.
WEB_EXPORT void web_key() {
    request_pass();
}
WEB_EXPORT void web_wake() {
    request_pass();
}

// Notches of the mouse wheel over the stage, positive away from the user:
// 5 s forward each, as reelplay's wheel.
WEB_EXPORT void web_wheel(int notches) {
    wheel_notches += notches;
    request_pass();
}

// A click on the display's progress line, at share (0 to 1) of its length.
WEB_EXPORT void web_seek_share(double share) {
    progress_share = std::clamp(share, 0.0, 1.0);
    request_pass();
}

// The pointer moved over the stage: the display shows.
WEB_EXPORT void web_pointer_moved() {
    if (session_open) show_osd("");
}

// The display's texts and its progress line's share (-1 while the length
// is not known), for the page to show.
WEB_EXPORT const char* web_osd_clock() {
    static char text[64];
    const int32_t on_screen = slot_on_screen();
    format_osd_clock(on_screen >= 0 ? slot_start_frame(on_screen) : 0, movie_length_frames(), text,
                     sizeof text);
    return text;
}

WEB_EXPORT const char* web_osd_label() {
    static char text[512];
    format_osd_label(osd_message, paused, muted, volume_tenths, volume_changed, text, sizeof text);
    return text;
}

WEB_EXPORT double web_osd_progress() {
    const int64_t length = movie_length_frames();
    const int64_t time = slot_start_frame(slot_on_screen());
    if (length <= 0 || time < 0) return -1;
    return double(std::min(time, length)) / double(length);
}

// The page has hidden the display: a volume change is shown no more.
WEB_EXPORT void web_osd_hidden() {
    volume_changed = false;
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
