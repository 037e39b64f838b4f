#include "seek.h"

#include "formats/common/chunk_io.h"
#include "formats/common/zero_state.h"
#include "formats/kinds.h"
#include "playback.h"

#include <algorithm>
#include <atomic>
#include <cstring>

// The slot index: read on a file handle of its own by the movie's own reader
// (its slots go to a slot of the index's, not to the ring), a few slots at a
// time, so that a seek anywhere knows where each slot starts, which ones
// have pictures and which of those are keys, where to start the reader
// again, and where each byte a ring entry held came from.
constexpr int32_t index_capacity = 1 << 16;
struct slot_record {
    int64_t bytes_through; // sound bytes of slots 0 to this one
    // The picture bytes the reader put at the start of the slot's entry, and
    // the older slot of the same entry whose bytes show beyond them (-1: the
    // zeros the ring starts with).
    int64_t video_from;
    int32_t video_written;
    int32_t video_under;
    int32_t video_length;
    int32_t palette_index;
    bool picture;
    bool key;
};
// The reader's place and state just before a slot.
struct resume_point {
    int64_t position;
    uint8_t reader[reader_state_bytes];
};
static slot_record records[index_capacity];
static resume_point resume[index_capacity + 1];
static int32_t entry_last[ring_size]; // slot last put into each entry, -1: none
static std::atomic<int32_t> slots_indexed;
static std::atomic<int64_t> length_frames{-1};
static int64_t body_offset;
static FILE* index_file;
static bool indexing; // the reader runs for the index
static bool index_complete;
static FrameSlot index_slot;

static const kind_entry* open_kind() {
    return find_kind(movie_kind);
}

static int32_t frame_bytes_of_movie() {
    return movie_stereo ? 4 : 2;
}

static int32_t slot_sound_bytes(const FrameSlot& slot) {
    return std::clamp(slot.sound_total, 0, sound_capacity);
}

static bool slot_has_picture(const FrameSlot& slot) {
    return movie_width >= 1 && movie_height >= 1 && slot.video_length >= 1;
}

static void save_reader_state(uint8_t* state) {
    memset(state, 0, reader_state_bytes);
    if (const kind_entry* e = open_kind())
        if (e->save_reader) e->save_reader(state);
}

static void load_reader_state(const uint8_t* state) {
    if (const kind_entry* e = open_kind())
        if (e->load_reader) e->load_reader(state);
}

void note_slot_read(int32_t n, const FrameSlot& slot, int64_t video_from, int32_t video_written) {
    if (!indexing || n >= index_capacity || n != slots_indexed.load()) return;
    slot_record& r = records[n];
    r.bytes_through = (n > 0 ? records[n - 1].bytes_through : 0) + slot_sound_bytes(slot);
    r.video_from = video_from;
    r.video_written = video_written;
    int32_t under = entry_last[n % ring_size];
    while (under >= 0 && records[under].video_written <= video_written)
        under = records[under].video_under;
    r.video_under = under;
    entry_last[n % ring_size] = n;
    r.video_length = slot.video_length;
    r.palette_index = slot.palette_index;
    r.picture = slot_has_picture(slot);
    const kind_entry* e = open_kind();
    r.key = r.picture && e && e->key_picture && e->key_picture(slot);
    if (r.picture && e && e->index_picture) e->index_picture(slot, n);
    resume[n + 1].position = file_position();
    save_reader_state(resume[n + 1].reader);
    slots_indexed.store(n + 1);
}

void note_movie_end() {
    if (!indexing) return;
    const int32_t count = last_slot.load() + 1;
    if (count > slots_indexed.load()) return;
    length_frames = count > 0 ? records[count - 1].bytes_through / frame_bytes_of_movie() : 0;
    index_complete = true;
}

void begin_seeking(FILE* own_handle) {
    if (index_file) fclose(index_file);
    index_file = own_handle;
    body_offset = movie_file ? int64_t(ftell(movie_file)) : 0;
    slots_indexed = 0;
    length_frames = -1;
    index_complete = false;
    resume[0].position = body_offset;
    memset(resume[0].reader, 0, reader_state_bytes);
    for (int32_t& e : entry_last) e = -1;
    if (const kind_entry* e = open_kind())
        if (e->reset_index) e->reset_index();
}

void end_seeking() {
    if (index_file) fclose(index_file);
    index_file = nullptr;
    index_complete = false;
}

// Reads up to budget more slots into the index. The reader's globals are the
// playing movie's; they are set aside meanwhile, under the reader lock.
static void index_more(int32_t budget) {
    if (index_complete || !index_file || movie_kind == kind_none) return;
    if (slots_indexed >= index_capacity) return;
    if (hooks.lock_reader) hooks.lock_reader();
    FILE* const file = movie_file;
    char tag[sizeof chunk_tag];
    memcpy(tag, chunk_tag, sizeof tag);
    const int32_t read = slots_read, last = last_slot;
    const bool end = at_end;
    // Only the playing reader's reads say whether the file ends inside the movie.
    const bool cut_short = movie_cut_short;
    uint8_t state[reader_state_bytes];
    save_reader_state(state);
    FrameSlot* const target = reader_target;

    const int32_t from = slots_indexed;
    movie_file = index_file;
    fseek(index_file, long(resume[from].position), SEEK_SET);
    load_reader_state(resume[from].reader);
    slots_read = from;
    at_end = false;
    last_slot = -1;
    reader_target = &index_slot;
    indexing = true;
    for (int32_t i = 0; i < budget && !at_end && slots_read < index_capacity; ++i) {
        const int32_t before = slots_read;
        read_next_slot();
        if (!at_end && slots_read == before) {
            last_slot = before - 1;
            at_end = true;
            note_movie_end();
        }
    }
    indexing = false;

    movie_file = file;
    memcpy(chunk_tag, tag, sizeof tag);
    slots_read = read;
    last_slot = last;
    at_end = end;
    movie_cut_short = cut_short;
    load_reader_state(state);
    reader_target = target;
    if (hooks.unlock_reader) hooks.unlock_reader();
}

void index_some_slots() {
    index_more(64);
}

// Indexes until done(count) holds for the slots indexed so far, or the
// index can go no further; false then.
template <typename Done> static bool index_until(Done done) {
    for (;;) {
        const int32_t count = slots_indexed;
        if (done(count)) return true;
        if (index_complete || !index_file || count >= index_capacity) return false;
        index_more(256);
        if (slots_indexed == count) return false;
    }
}

int64_t movie_length_frames() {
    return length_frames.load();
}

int64_t slot_start_frame(int32_t k) {
    if (k < 0 || k >= slots_indexed.load()) return -1;
    return k > 0 ? records[k - 1].bytes_through / frame_bytes_of_movie() : 0;
}

int64_t slot_start_byte(int32_t k) {
    if (k < 0 || k >= slots_indexed.load()) return -1;
    return k > 0 ? records[k - 1].bytes_through : 0;
}

int32_t slot_being_heard() {
    int32_t n = hooks.heard ? hooks.heard() : audio_slot.load();
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

// Shows the picture a landing decoded; with none at or before the slot
// landed on, the black an uninterrupted run shows there.
void show_landing(bool drawn) {
    if (!drawn) {
        memset(frame_pixels, 0, size_t(std::max(frame_bytes(), 0)));
        static const Color black[256] = {};
        if (movie_depth == 8 && set_surface_colors) set_surface_colors(black);
    }
    if (hooks.landed) hooks.landed();
    if (movie_width >= 1 && movie_height >= 1 && hooks.present) hooks.present();
}

void restart_reader() {
    if (const kind_entry* e = find_kind(movie_kind))
        if (e->restart) e->restart();
    zero_state(slot_ring, sizeof slot_ring);
    fseek(movie_file, long(body_offset), SEEK_SET);
    reset_ring_counters();
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
    show_landing(drawn);
    return landed;
}

int32_t seek_to_slot(int32_t slot) {
    landing l;
    l.accept = accept_slot;
    l.slot = slot;
    return replay(l);
}

} // namespace

int32_t picture_slot_on_screen() {
    const int32_t shown = std::min(shown_slot.load(), slots_indexed.load() - 1);
    for (int32_t n = shown; n >= 0; --n)
        if (records[n].picture) return n;
    return -1;
}

namespace {

// Puts into entry the picture bytes its ring entry held just after slot s
// was read: s's own, then, beyond them, those of older slots of the entry
// that were longer, then zeros.
void put_back_video(int32_t s, FrameSlot& entry) {
    int32_t at = 0;
    for (int32_t n = s; n >= 0 && at < video_capacity; n = records[n].video_under) {
        const slot_record& r = records[n];
        if (r.video_written <= at) continue;
        fseek(movie_file, long(r.video_from + at), SEEK_SET);
        const size_t got = fread(entry.video + at, 1, size_t(r.video_written - at), movie_file);
        at += int32_t(got);
        if (at < r.video_written) break;
    }
    memset(entry.video + at, 0, size_t(video_capacity - at));
}

FrameSlot& entry_of(int32_t s) {
    return slot_ring[((s % ring_size) + ring_size) % ring_size];
}

// Lands on indexed slot k without reading the movie from its start: the
// picture decoder is brought to slot k's picture from the last key picture or
// kept state before it, each picture from its entry as it was then; the
// entries of the twenty slots before k are put back, and the reader starts
// again just before k to fill the ring ahead of it, as the display loop
// would have.
int32_t land(int32_t k) {
    const kind_entry* e = open_kind();
    if (hooks.lock_reader) hooks.lock_reader();
    int32_t p = k;
    while (p >= 0 && !records[p].picture) --p;
    int32_t first = 0;
    if (e->restore_picture) {
        first = e->restore_picture(p) + 1;
    } else {
        if (e->restart) e->restart();
        for (int32_t n = p; n >= 0; --n)
            if (records[n].key) {
                first = n;
                break;
            }
    }
    for (int32_t s = first; s <= p; ++s) {
        if (!records[s].picture) continue;
        FrameSlot& entry = entry_of(s);
        put_back_video(s, entry);
        entry.video_length = records[s].video_length;
        entry.palette_index = records[s].palette_index;
        slots_heard = s;
        decode_slot_picture(&entry);
    }
    if (p >= 0 && e->give_colors) e->give_colors();

    for (int32_t s = k - ring_size; s < k; ++s) {
        FrameSlot& entry = entry_of(s);
        if (s < 0)
            memset(entry.video, 0, sizeof entry.video);
        else
            put_back_video(s, entry);
    }
    fseek(movie_file, long(resume[k].position), SEEK_SET);
    load_reader_state(resume[k].reader);
    slots_read = k;
    at_end = false;
    last_slot = -1;
    while (!at_end && slots_read < k + ring_size) read_or_end();
    audio_slot = k;
    slots_heard = k;
    shown_slot = k;
    if (hooks.unlock_reader) hooks.unlock_reader();
    show_landing(p >= 0);
    return k;
}

bool index_usable() {
    return index_file && open_kind();
}

} // namespace

int32_t seek_to_frame(int64_t target) {
    const int32_t sample_bytes = frame_bytes_of_movie();
    auto start_of = [&](int32_t n) {
        return n > 0 ? records[n - 1].bytes_through / sample_bytes : 0;
    };
    // Indexed past the target: the slot after the last one indexed starts later.
    const bool indexed =
        index_usable() &&
        (index_until([&](int32_t count) { return count > 0 && start_of(count) > target; }) ||
         index_complete);
    if (!indexed) {
        landing l;
        l.accept = accept_frame;
        l.frame = target;
        return replay(l);
    }
    const int32_t count = slots_indexed;
    if (count == 0) return -1;
    // The last slot whose start is at or before the target, at least slot 0.
    int32_t lo = 0, hi = count - 1;
    while (lo < hi) {
        const int32_t mid = (lo + hi + 1) / 2;
        if (start_of(mid) <= target)
            lo = mid;
        else
            hi = mid - 1;
    }
    return land(lo);
}

int32_t step_picture(int32_t direction) {
    const int32_t shown = slot_on_screen();
    const int32_t on_screen = picture_slot_on_screen();
    if (direction < 0) {
        for (int32_t n = on_screen - 1; n >= 0; --n)
            if (records[n].picture) return index_usable() ? land(n) : seek_to_slot(n);
        return shown;
    }
    int32_t next = -1;
    auto found = [&](int32_t count) {
        for (int32_t n = std::max(shown + 1, next + 1); n < count; ++n)
            if (records[n].picture) {
                next = n;
                return true;
            }
        next = std::max(next, count - 1);
        return false;
    };
    if (index_usable() && index_until(found)) return land(next);
    if (index_usable() && index_complete) return shown;
    landing l;
    l.accept = accept_next_picture;
    l.slot = shown;
    const int32_t landed = replay(l);
    if (l.found) return landed;
    return seek_to_slot(shown);
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
