#include "seek.h"

#include "formats/common/zero_state.h"
#include "formats/kinds.h"
#include "playback.h"

#include <algorithm>
#include <atomic>
#include <cstring>

// Each slot's sound bytes are summed as the reader counts them, so that a
// slot's start is the same figure a rip reports: every byte before it, over
// the bytes of one sample frame.
constexpr int32_t index_capacity = 1 << 16;
static int64_t bytes_through[index_capacity]; // sound bytes of slots 0..n
static bool has_picture[index_capacity];
static std::atomic<int32_t> slots_indexed;
static std::atomic<int64_t> length_frames{-1};
static int64_t body_offset;

static int32_t frame_bytes_of_movie() {
    return movie_stereo ? 4 : 2;
}

static int32_t slot_sound_bytes(const FrameSlot& slot) {
    return std::clamp(slot.sound_total, 0, sound_capacity);
}

static bool slot_has_picture(const FrameSlot& slot) {
    return movie_width >= 1 && movie_height >= 1 && slot.video_length >= 1;
}

void note_slot_read(int32_t n, const FrameSlot& slot) {
    // A slot read again (after a seek) is the same slot: it is indexed once.
    if (n >= index_capacity || n != slots_indexed.load()) return;
    bytes_through[n] = (n > 0 ? bytes_through[n - 1] : 0) + slot_sound_bytes(slot);
    has_picture[n] = slot_has_picture(slot);
    slots_indexed.store(n + 1);
}

void note_movie_end() {
    const int32_t count = last_slot.load() + 1;
    if (count > slots_indexed.load()) return;
    length_frames = count > 0 ? bytes_through[count - 1] / frame_bytes_of_movie() : 0;
}

void begin_seeking() {
    body_offset = movie_file ? int64_t(ftell(movie_file)) : 0;
    slots_indexed = 0;
    length_frames = -1;
}

int64_t movie_length_frames() {
    return length_frames.load();
}

int64_t slot_start_frame(int32_t k) {
    if (k < 0 || k >= slots_indexed.load()) return -1;
    return k > 0 ? bytes_through[k - 1] / frame_bytes_of_movie() : 0;
}

int64_t slot_start_byte(int32_t k) {
    if (k < 0 || k >= slots_indexed.load()) return -1;
    return k > 0 ? bytes_through[k - 1] : 0;
}

int32_t slot_being_heard() {
    int32_t n = audio_slot;
    if (at_end && n > last_slot) n = last_slot;
    return std::max(n, 0);
}

int32_t slot_on_screen() {
    return std::max(shown_slot.load(), 0);
}

namespace {

// Which slot a replay lands on: it reads the movie from its first slot and
// keeps landing on each slot read for which accept(n, start, picture) holds,
// until the first one for which it does not.
struct landing {
    bool (*accept)(const landing& l, int32_t n, int64_t start, bool picture);
    int64_t frame = 0;
    int32_t slot = 0;
    mutable bool found = false;
};

bool accept_frame(const landing& l, int32_t n, int64_t start, bool) {
    return n == 0 || start <= l.frame;
}

bool accept_slot(const landing& l, int32_t n, int64_t, bool) {
    return n <= l.slot;
}

// The first slot after l.slot that has a picture.
bool accept_next_picture(const landing& l, int32_t n, int64_t, bool picture) {
    if (l.found) return false;
    if (n > l.slot && picture) l.found = true;
    return true;
}

void restart_reader() {
    if (const kind_entry* e = find_kind(movie_kind))
        if (e->restart) e->restart();
    zero_state(slot_ring, sizeof slot_ring);
    fseek(movie_file, long(body_offset), SEEK_SET);
    slots_read = 0;
    audio_slot = 0;
    slots_heard = 0;
    shown_slot = -1;
    last_slot = -1;
    at_end = false;
}

// A reader call that neither fills a slot nor ends the movie is taken as the end.
void read_or_end() {
    const int32_t before = slots_read;
    read_ring_slot();
    if (!at_end && slots_read == before) {
        last_slot = before - 1;
        at_end = true;
    }
}

// Reads the movie again from its first slot, decoding every picture up to
// the landing right after it is read (its ring entry then holds exactly what
// it held when an uninterrupted run decoded it), then fills the ring ahead of
// the landing as the display loop would have. Returns the slot landed on, -1
// for a movie without slots.
int32_t replay(const landing& l) {
    if (!movie_file || movie_kind == kind_none) return -1;
    if (hooks.lock_reader) hooks.lock_reader();
    restart_reader();
    const int32_t sample_bytes = frame_bytes_of_movie();
    int64_t bytes_before = 0;
    int32_t landed = -1;
    bool drawn = false;
    while (!at_end) {
        const int32_t n = slots_read;
        read_or_end();
        if (slots_read == n) break;
        const FrameSlot& s = slot_ring[n % ring_size];
        const bool picture = slot_has_picture(s);
        if (!l.accept(l, n, bytes_before / sample_bytes, picture)) break;
        bytes_before += slot_sound_bytes(s);
        landed = n;
        if (picture) {
            slots_heard = n;
            decode_slot_picture(&s);
            drawn = true;
        }
    }
    while (landed >= 0 && !at_end && slots_read < landed + ring_size) read_or_end();
    const int32_t at = std::max(landed, 0);
    audio_slot = at;
    slots_heard = at;
    shown_slot = landed;
    if (hooks.unlock_reader) hooks.unlock_reader();
    if (!drawn) {
        // Nothing shown yet at this point of an uninterrupted run: black.
        memset(frame_pixels, 0, size_t(std::max(frame_bytes(), 0)));
        static const Color black[256] = {};
        if (movie_depth == 8 && set_surface_colors) set_surface_colors(black);
    }
    if (movie_width >= 1 && movie_height >= 1 && hooks.present) hooks.present();
    return landed;
}

} // namespace

int32_t picture_slot_on_screen() {
    const int32_t shown = std::min(shown_slot.load(), slots_indexed.load() - 1);
    for (int32_t n = shown; n >= 0; --n)
        if (has_picture[n]) return n;
    return -1;
}

int32_t seek_to_frame(int64_t target) {
    landing l;
    l.accept = accept_frame;
    l.frame = target;
    return replay(l);
}

int32_t step_picture(int32_t direction) {
    const int32_t shown = slot_on_screen();
    const int32_t on_screen = picture_slot_on_screen();
    landing l;
    if (direction < 0) {
        int32_t previous = -1;
        for (int32_t n = on_screen - 1; n >= 0 && previous < 0; --n)
            if (has_picture[n]) previous = n;
        if (previous < 0) return shown;
        l.accept = accept_slot;
        l.slot = previous;
        return replay(l);
    }
    const int32_t indexed = slots_indexed;
    int32_t next = -1;
    for (int32_t n = shown + 1; n < indexed && next < 0; ++n)
        if (has_picture[n]) next = n;
    if (next >= 0) {
        l.accept = accept_slot;
        l.slot = next;
        return replay(l);
    }
    if (movie_length_frames() >= 0) return shown; // indexed to the end: no later picture
    l.accept = accept_next_picture;
    l.slot = shown;
    const int32_t landed = replay(l);
    if (l.found) return landed;
    // The movie ended without another picture: back to where it was.
    l.accept = accept_slot;
    l.slot = shown;
    return replay(l);
}

// Digits into *value (at most 12 of them); the count of digits read.
static int read_digits(const char*& p, int64_t* value, int64_t* scale) {
    int count = 0;
    *value = 0;
    *scale = 1;
    for (; *p >= '0' && *p <= '9'; ++p, ++count) {
        if (count == 12) return -1;
        *value = *value * 10 + (*p - '0');
        *scale *= 10;
    }
    return count;
}

bool parse_movie_time(const char* text, int64_t* frames) {
    if (!text) return false;
    const char* p = text;
    int64_t minutes = 0, seconds = 0, fraction = 0, scale = 1, unused;
    int digits = read_digits(p, &seconds, &unused);
    if (digits <= 0) return false;
    if (*p == ':') {
        ++p;
        minutes = seconds;
        digits = read_digits(p, &seconds, &unused);
        if (digits != 2 || seconds > 59) return false;
    }
    if (*p == '.') {
        ++p;
        if (read_digits(p, &fraction, &scale) <= 0) return false;
    }
    if (*p != 0) return false;
    const int64_t whole = (minutes * 60 + seconds) * movie_rate;
    *frames = whole + (fraction * movie_rate + scale / 2) / scale;
    return true;
}
