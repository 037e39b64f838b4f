#include "movie.h"

#include "formats/common/chunk_io.h"
#include "formats/common/zero_state.h"
#include "formats/kinds.h"
#include "seek.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>

FILE* movie_file;
int32_t file_size;
int32_t start_offset;
bool interlaced;
int32_t movie_kind;
int32_t movie_width;
int32_t movie_height;
int32_t movie_depth;
uint8_t movie_stereo;
Color palettes[palette_capacity][256];
char chunk_tag[5];
uint8_t sound_scratch[sound_scratch_capacity];

decompress_fn DecompressXD;
draw_frame_fn DrawFrameXD;
void (*set_surface_colors)(const Color* colors);

FrameSlot slot_ring[ring_size];
std::atomic<int32_t> slots_read;
std::atomic<int32_t> audio_slot;
std::atomic<int32_t> slots_heard;
std::atomic<int32_t> shown_slot{-1};
std::atomic<int32_t> last_slot{-1};
std::atomic<bool> at_end;
std::atomic<bool> running;

alignas(64) uint8_t frame_pixels[frame_capacity];
void* frame_pixels_address = frame_pixels;

int32_t probe_kind;

int32_t probe_movie(FILE* file, int32_t* width, int32_t* height, uint8_t* stereo, int32_t* depth) {
    chunk_tag[4] = 0;
    // A negative offset is refused rather than read from wherever the file stands.
    if (start_offset < 0) return kind_none;
    fseek(file, start_offset, SEEK_SET);
    char tag[4];
    if (fread(tag, 1, 4, file) == 4) memcpy(chunk_tag, tag, 4);
    fseek(file, start_offset, SEEK_SET);
    for (int i = 0; i < kind_table_size; ++i) {
        const kind_entry& e = kind_table[i];
        if (strcmp(chunk_tag, e.tag) != 0) continue;
        if (!e.read_header) return kind_none;
        probe_kind = e.kind;
        *depth = e.depth;
        e.read_header(file, width, height, stereo);
        return probe_kind;
    }
    return kind_none;
}

void read_next_slot() {
    if (const kind_entry* e = find_kind(movie_kind)) e->read_slot();
}

void decode_slot_picture(const FrameSlot* slot) {
    if (const kind_entry* e = find_kind(movie_kind))
        e->decode_picture(interlaced, movie_width, movie_height, slot, &frame_pixels_address);
}

int32_t frame_row_bytes() {
    return movie_width * (movie_depth / 8);
}
int32_t frame_bytes() {
    return frame_row_bytes() * movie_height;
}

void reset_ring_counters() {
    slots_read = 0;
    audio_slot = 0;
    slots_heard = 0;
    shown_slot = -1;
    last_slot = -1;
    at_end = false;
}

void reset_movie_state() {
    movie_file = nullptr;
    file_size = 0;
    start_offset = 0;
    interlaced = false;
    movie_kind = kind_none;
    movie_width = movie_height = movie_depth = 0;
    movie_stereo = 0;
    zero_state(palettes, sizeof palettes);
    memset(chunk_tag, 0, sizeof chunk_tag);
    zero_state(slot_ring, sizeof slot_ring);
    reset_ring_counters();
    running = false;
    movie_cut_short = false;
    zero_state(frame_pixels, sizeof frame_pixels);
    probe_kind = kind_none;
    for (int i = 0; i < kind_table_size; ++i)
        if (kind_table[i].reset) kind_table[i].reset();
}

// Leading blanks, an optional sign and digits; anything else reads as 0.
// Values beyond 32 bits are kept wide so that the caller can refuse them.
static int64_t parse_offset(const char* text) {
    while (*text == ' ' || *text == '\t') ++text;
    bool negative = false;
    if (*text == '+' || *text == '-') negative = *text++ == '-';
    int64_t value = 0;
    for (; *text >= '0' && *text <= '9'; ++text) {
        if (value < (int64_t(1) << 40)) value = value * 10 + (*text - '0');
    }
    return negative ? -value : value;
}

// Exactly one digit from 1 to the largest factor; 0 for anything else.
static int32_t parse_scale(const char* text) {
    if (text[0] < '1' || text[0] > '0' + max_window_scale || text[1] != 0) return 0;
    return text[0] - '0';
}

bool parse_player_options(int argc, char** argv, player_options* options) {
    *options = {};
    if (argc < 2) return false;
    options->path = argv[1];
    for (int i = 2; i < argc; ++i) {
        if (strcmp(argv[i], "-i") == 0) {
            options->interlaced = true;
        } else if (strcmp(argv[i], "-offset") == 0) {
            // "-offset" as the last word, with no value after it, is ignored.
            if (i + 1 >= argc) break;
            options->offset = parse_offset(argv[++i]);
            options->offset_given = true;
        } else if (strcmp(argv[i], "-scale") == 0) {
            // As with "-offset", the next word is the value, whatever it is.
            options->scale_text = i + 1 < argc ? argv[++i] : nullptr;
            options->scale = options->scale_text ? parse_scale(options->scale_text) : 0;
            options->scale_refused = options->scale == 0;
            if (options->scale_refused) options->scale = 1;
        } else if (strcmp(argv[i], "-start") == 0) {
            options->start_text = i + 1 < argc ? argv[++i] : nullptr;
            options->start = 0;
            options->start_refused =
                !options->start_text || !parse_movie_time(options->start_text, &options->start);
        }
    }
    return true;
}

bool open_movie_file(const char* path) {
    movie_file = fopen(path, "rb");
    if (!movie_file) return false;
    // A folder opens for reading here; only its reads fail, and that would
    // pass for a file with nothing playable in it.
    struct stat info;
    if (fstat(fileno(movie_file), &info) == 0 && S_ISDIR(info.st_mode)) {
        fclose(movie_file);
        movie_file = nullptr;
        errno = EISDIR;
        return false;
    }
    fseek(movie_file, 0, SEEK_END);
    long size = ftell(movie_file);
    fseek(movie_file, 0, SEEK_SET);
    // Offsets and sizes in these containers are 32-bit; larger files are not movies.
    file_size = size > 0x7FFFFFFF ? 0x7FFFFFFF : int32_t(size);
    return true;
}

int32_t open_movie(const player_options& options) {
    if (options.offset < 0 || options.offset > 0x7FFFFFFF) return kind_none;
    start_offset = int32_t(options.offset);
    interlaced = options.interlaced;
    movie_kind = probe_movie(movie_file, &movie_width, &movie_height, &movie_stereo, &movie_depth);
    if (movie_kind == kind_none) return kind_none;
    // A picture too large for the frame memory cannot be shown: the sound plays alone.
    // Each side is bounded first, so that neither the product nor the doubling overflows.
    int64_t scale = interlaced ? 2 : 1;
    bool fits = movie_width >= 1 && movie_height >= 1 && movie_width <= frame_capacity &&
                movie_height <= frame_capacity &&
                scale * movie_width * scale * movie_height * (movie_depth / 8) <= frame_capacity;
    if (!fits) {
        movie_width = movie_height = 0;
    } else if (interlaced) {
        movie_width *= 2;
        movie_height *= 2;
    }
    return movie_kind;
}
