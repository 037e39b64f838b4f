// The player's shared description of the open movie, the slot ring and the
// helpers every container reader uses. Nothing here knows about SDL: the
// readers and decoders are shared with reelrip, which opens no window.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstdio>

enum MovieKind : int32_t {
    kind_none = 0,
    kind_form = 1,
    kind_riff = 2,
    kind_schl = 3,
    kind_sead = 4,
};

// One colour as the surface takes it (the same layout as SDL's colour record).
struct Color {
    uint8_t r, g, b, unused;
};

constexpr int palette_capacity = 200;
constexpr int video_capacity = 100000;
constexpr int sound_capacity = 40000;
constexpr int sound_scratch_capacity = 10000;
constexpr int ring_size = 20;
constexpr int prefill_slots = ring_size - 1;
// Bytes of silence a slot gets when its frame carries no sound chunk.
constexpr int silence_bytes = 2968;

struct FrameSlot {
    uint8_t video[video_capacity];
    int32_t video_length;
    int32_t palette_index;
    int32_t sound_chunk_length;
    uint8_t sound[sound_capacity];
    uint32_t sound_seed[2];
    int32_t sound_left;
    int32_t sound_total;
};

// MovieParams: written during start-up (and by the header parser), then only
// read, except palettes, which 8-bit kinds may fill while playing.
extern FILE* movie_file;
extern int32_t file_size;
extern int32_t start_offset;
extern bool interlaced;
extern int32_t movie_kind;
extern int32_t movie_width;
extern int32_t movie_height;
extern int32_t movie_depth;
extern uint8_t movie_stereo;
extern Color palettes[palette_capacity][256];
extern char chunk_tag[5];
extern uint8_t sound_scratch[sound_scratch_capacity];

// The outside codec library's entry points; null when it is missing.
// DecompressXD(context, payload, 0); DrawFrameXD(context, output, pitch, mode).
struct codec_context;
using decompress_fn = int (*)(codec_context* context, const void* payload, int flags);
using draw_frame_fn = int (*)(codec_context* context, void* output, int pitch, int mode);
extern decompress_fn DecompressXD;
extern draw_frame_fn DrawFrameXD;

// Hands one whole palette (256 colours) to the frame surface. The player
// points it at SDL_SetColors; reelrip keeps the colours for its pictures.
extern void (*set_surface_colors)(const Color* colors);

// The ring. Each counter has one writer (see playback.cpp); the other thread
// may read it at any time, so they are atomic words.
extern FrameSlot slot_ring[ring_size];
extern std::atomic<int32_t> slots_read;
extern std::atomic<int32_t> audio_slot;
extern std::atomic<int32_t> slots_heard;
extern std::atomic<int32_t> shown_slot;
extern std::atomic<int32_t> last_slot;
extern std::atomic<bool> at_end;
extern std::atomic<bool> running;

// Packed picture memory the decoders draw into: movie_height rows of
// movie_width pixels, movie_depth / 8 bytes each. The player copies it into
// the SDL surface honouring the surface's pitch.
constexpr int32_t frame_capacity = 4 * 1024 * 1024;
extern uint8_t frame_pixels[frame_capacity];
extern void* frame_pixels_address;

// Every kind's picture decoder takes these five arguments.
using picture_decoder_fn = void (*)(uint8_t interlaced, int32_t width, int32_t height,
                                    const FrameSlot* slot, void** pixels);
using header_parser_fn = void (*)(FILE* file, int32_t* width, int32_t* height, uint8_t* stereo);

// The kind chosen by the probe; a header parser clears it to reject a file.
extern int32_t probe_kind;

// Reads the four bytes at start_offset and hands over to the kind's header
// parser. Returns the MovieKind, 0 when nothing playable starts there.
int32_t probe_movie(FILE* file, int32_t* width, int32_t* height, uint8_t* stereo, int32_t* depth);

// Fills the next slot through the open kind's reader, or ends the movie.
void read_next_slot();

// The slot index's part of the reader contract (seek.cpp): each slot as it
// is counted, with where its picture bytes came from, and the end of the movie.
void note_slot_read(int32_t n, const FrameSlot& slot, int64_t video_from, int32_t video_written);
void note_movie_end();

// Calls the open kind's picture decoder on one slot.
void decode_slot_picture(const FrameSlot* slot);

// The ring's counters and flags at their start values (running aside).
void reset_ring_counters();

// Puts every global above, and every kind's reader and decoder state, back to
// its start value, so that one process can open movie after movie.
void reset_movie_state();

// Bytes of one packed picture row and of the whole picture at the current size.
int32_t frame_row_bytes();
int32_t frame_bytes();

// Command line as the player reads it: the path first, then "-i",
// "-offset N", "-scale N" and "-start T" in any order; anything else is ignored.
struct player_options {
    const char* path;
    bool interlaced;
    bool offset_given;
    int64_t offset;
    // Whole factor of the window over the picture, 1 to 4. A "-scale" with a
    // missing or bad number leaves 1 and sets scale_refused, with the text
    // given (null when none followed), for the caller to report.
    int32_t scale = 1;
    bool scale_refused = false;
    const char* scale_text = nullptr;
    // Where to start, in sample frames (0: the beginning). A "-start" with a
    // missing or bad time leaves 0 and sets start_refused, with the text.
    int64_t start = 0;
    bool start_refused = false;
    const char* start_text = nullptr;
};
constexpr int32_t max_window_scale = 4;
bool parse_player_options(int argc, char** argv, player_options* options);

// Opens path into movie_file and records file_size; false when it cannot,
// with errno telling why (EISDIR for a folder).
bool open_movie_file(const char* path);

// Everything start-up does before SDL: open, switches, probe, doubling.
// Returns the MovieKind (0: nothing playable, the caller gives up).
int32_t open_movie(const player_options& options);
