#include "formats/common/chunk_io.h"
#include "formats/sead/sead.h"

#include <algorithm>

namespace {

// Picture chunks are known by their last three characters only.
bool is_picture_tag() {
    return memcmp(chunk_tag + 1, "VGT", 3) == 0;
}

// A body that runs past the end of the file leaves the position at the end,
// so that the next tag read ends the movie.
void skip_body(int64_t count) {
    if (!skip_bytes(count)) fseek(movie_file, 0, SEEK_END);
}

// Reads a chunk's size field and gives its body length; false (the movie
// must end) when the size cannot be read or is below the 8-byte head.
bool read_body_length(int64_t* body) {
    uint32_t size;
    if (!read_le32(&size) || size < 8) return false;
    *body = int64_t(size) - 8;
    return true;
}

} // namespace

void read_sead_header(FILE* file, int32_t* width, int32_t* height, uint8_t* stereo) {
    *stereo = 1;
    uint8_t head[8];
    if (fread(head, 1, 8, file) != 8) {
        probe_kind = kind_none;
        return;
    }
    memcpy(chunk_tag, head, 4);
    uint32_t size = load_le32(head + 4);
    if (size < 8) {
        probe_kind = kind_none;
        return;
    }
    // The first picture chunk's body starts with the movie's width and height;
    // its tag is not looked at.
    long first_chunk = ftell(file) + long(size - 8);
    uint8_t next[12];
    if (fseek(file, first_chunk, SEEK_SET) == 0 && fread(next, 1, 12, file) == 12) {
        *width = load_le16(next + 8);
        *height = load_le16(next + 10);
    }
    fseek(file, first_chunk, SEEK_SET);
    if (int64_t(*width) * *height > sead_image_capacity) probe_kind = kind_none;
}

void read_sead_slot() {
    if (!read_chunk_tag() || tag_is("SEND") || file_position() == file_size) {
        end_movie();
        return;
    }
    FrameSlot& slot = next_slot();
    slot.video_length = 0;
    slot.sound_chunk_length = 0;
    bool took_picture = false;
    bool have_tag = true;
    if (movie_width > 0 && movie_height > 0 && is_picture_tag()) {
        int64_t body;
        if (!read_body_length(&body)) {
            end_movie();
            return;
        }
        if (body > sead_picture_body_limit) {
            skip_body(body);
        } else if (read_video(slot, int32_t(body))) {
            slot.video_length = int32_t(body);
        }
        took_picture = true;
        have_tag = read_chunk_tag();
    }
    if (have_tag && tag_is("SNDC")) {
        int64_t body;
        if (!read_body_length(&body)) {
            end_movie();
            return;
        }
        slot.sound_chunk_length = int32_t(std::min<int64_t>(body, 0x7FFFFFFF));
        if (body > sead_sound_body_limit) {
            skip_body(body);
            fill_silence(slot);
        } else {
            // A body cut short by the end of the file still yields the sound it holds.
            int32_t got = read_available(sound_scratch, int32_t(body));
            decode_sead_sound(sound_scratch, slot.sound, got);
            slot.sound_left = slot.sound_total = 4 * got;
        }
    } else {
        if (took_picture) {
            // The next call starts at the tag that did not belong to this picture.
            if (have_tag) unread_tag();
        } else {
            // Nothing taken so far: step over the chunk, or every later call
            // would meet it again.
            int64_t body;
            if (!read_body_length(&body)) {
                end_movie();
                return;
            }
            skip_body(body);
        }
        fill_silence(slot);
    }
    count_slot();
}

void reset_sead() {
    reset_sead_sound();
    reset_sead_picture();
}
