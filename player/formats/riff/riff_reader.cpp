#include "formats/common/chunk_io.h"
#include "formats/riff/riff.h"

static void reject() {
    probe_kind = kind_none;
}

// The head list is skipped unread; so is every chunk up to the next list,
// which must be the "movi" list. The file's end anywhere here rejects it.
void read_riff_header(FILE*, int32_t* width, int32_t* height, uint8_t* stereo) {
    *stereo = 1;
    *width = riff_width;
    *height = riff_height;
    uint8_t riff[4];
    uint32_t size;
    if (!read_bytes(riff, 4) || !skip_bytes(8) || !read_chunk_tag() || !tag_is("LIST"))
        return reject();
    if (!read_le32(&size) || !skip_bytes(size) || !read_chunk_tag()) return reject();
    while (!tag_is("LIST")) {
        if (!read_le32(&size) || !skip_bytes(size) || !read_chunk_tag()) return reject();
    }
    if (!skip_bytes(4) || !read_chunk_tag() || !tag_is("movi")) return reject();
}

// Body chunks carry one pad byte after an odd size.
static bool skip_chunk_body(uint32_t size) {
    return skip_bytes(int64_t(size) + (size & 1));
}

// Reads a tag where a slot starts; false when the movie is over there.
static bool read_slot_tag() {
    if (!read_chunk_tag()) return false;
    if (file_position() == file_size) return false;
    return !tag_is("idx1");
}

static bool read_picture(FrameSlot& slot) {
    uint32_t size;
    if (!read_le32(&size)) return false;
    if (size > riff_video_limit) {
        slot.video_length = 0;
        return skip_chunk_body(size);
    }
    if (!read_video(slot, int32_t(size))) return false;
    slot.video_length = int32_t(size);
    if (size & 1) skip_bytes(1);
    return true;
}

static void read_sound(FrameSlot& slot) {
    slot.sound_chunk_length = 0;
    int64_t at = file_position();
    uint32_t size;
    if (!read_chunk_tag() || !tag_is("01wb")) {
        fseek(movie_file, long(at), SEEK_SET);
        fill_silence(slot);
        return;
    }
    // A sound chunk cut off in its size is consumed, so the next call ends.
    if (!read_le32(&size)) return fill_silence(slot);
    slot.sound_chunk_length = int32_t(size > 0x7FFFFFFF ? 0x7FFFFFFF : size);
    if (size < 4 || size > riff_sound_limit) {
        fill_silence(slot);
        skip_chunk_body(size);
        return;
    }
    if (!read_bytes(sound_scratch, int32_t(size))) {
        fill_silence(slot);
        return;
    }
    decode_riff_sound(sound_scratch, slot.sound, int32_t(size));
    slot.sound_left = slot.sound_total = int32_t(2 * size - 4);
    if (size & 1) skip_bytes(1);
}

static bool skip_chunk() {
    uint32_t size;
    return read_le32(&size) && skip_chunk_body(size);
}

// One slot: an optional picture, then its sound or silence. Chunks of unknown
// kinds where a slot starts are skipped by their size. The end tests belong
// to the slot's start only: a tag met after filler is not tested, so filler
// before "idx1" gives one more slot, of silence.
void read_riff_slot() {
    if (!read_slot_tag()) return end_movie();
    while (!tag_is("00db") && !tag_is("01wb") && !tag_is("JUNK")) {
        if (!skip_chunk() || !read_slot_tag()) return end_movie();
    }
    while (tag_is("JUNK")) {
        if (!skip_chunk() || !read_chunk_tag()) return end_movie();
    }
    FrameSlot& slot = next_slot();
    if (tag_is("00db")) {
        if (!read_picture(slot)) return end_movie();
    } else {
        slot.video_length = 0;
        unread_tag();
    }
    read_sound(slot);
    count_slot();
}
