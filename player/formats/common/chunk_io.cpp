#include "formats/common/chunk_io.h"

bool movie_cut_short;

bool read_chunk_tag() {
    chunk_tag[4] = 0;
    size_t got = fread(chunk_tag, 1, 4, movie_file);
    if (got > 0 && got < 4) movie_cut_short = true;
    return got == 4;
}

bool tag_is(const char* tag) {
    return strcmp(chunk_tag, tag) == 0;
}

int32_t read_available(void* out, int32_t count) {
    if (count <= 0) return 0;
    int32_t got = int32_t(fread(out, 1, size_t(count), movie_file));
    if (got < count) movie_cut_short = true;
    return got;
}

bool read_bytes(void* out, int32_t count) {
    if (count <= 0) return count == 0;
    return read_available(out, count) == count;
}

bool read_be32(uint32_t* value) {
    uint8_t b[4];
    if (!read_bytes(b, 4)) return false;
    *value = load_be32(b);
    return true;
}

bool read_le32(uint32_t* value) {
    uint8_t b[4];
    if (!read_bytes(b, 4)) return false;
    *value = load_le32(b);
    return true;
}

bool read_le16(uint16_t* value) {
    uint8_t b[2];
    if (!read_bytes(b, 2)) return false;
    *value = load_le16(b);
    return true;
}

int64_t file_position() {
    return ftell(movie_file);
}

bool skip_bytes(int64_t count) {
    if (count < 0) return false;
    int64_t target = file_position() + count;
    if (target > file_size) {
        movie_cut_short = true;
        return false;
    }
    return fseek(movie_file, long(target), SEEK_SET) == 0;
}

void unread_tag() {
    fseek(movie_file, -4, SEEK_CUR);
}

FrameSlot* reader_target;
// The picture bytes the slot being read put into its entry: from where in the
// file, and how many (a short read at the end of the file puts fewer).
static int64_t video_from;
static int32_t video_written;

bool read_video(FrameSlot& slot, int32_t count) {
    video_from = file_position();
    if (count <= 0) {
        video_written = 0;
        return count == 0;
    }
    video_written = int32_t(fread(slot.video, 1, size_t(count), movie_file));
    if (video_written < count) movie_cut_short = true;
    return video_written == count;
}

FrameSlot& next_slot() {
    video_written = 0;
    return reader_target ? *reader_target : slot_ring[slots_read.load() % ring_size];
}

void end_movie() {
    last_slot = slots_read.load() - 1;
    at_end = true;
    note_movie_end();
}

void fill_silence(FrameSlot& slot) {
    memset(slot.sound, 0, silence_bytes);
    slot.sound_left = silence_bytes;
    slot.sound_total = silence_bytes;
}

void count_slot() {
    const int32_t n = slots_read.load();
    note_slot_read(n, reader_target ? *reader_target : slot_ring[n % ring_size], video_from,
                   video_written);
    video_written = 0;
    slots_read.fetch_add(1);
}
