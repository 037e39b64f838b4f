#include "formats/common/chunk_io.h"
#include "formats/schl/schl.h"
#include "formats/schl/schl_internal.h"

// The "SCHl" body's first 80 bytes, kept between header chunks: a header of
// 8 bytes or less walks the fields of the one before it.
static uint8_t header_fields[80];
static int32_t header_field_bytes;

static void walk_header_fields(uint8_t* stereo) {
    const int32_t end = header_field_bytes;
    int32_t at = header_fields[10] == 0xFD ? 11 : 14;
    while (at + 1 < end) {
        uint8_t tag = header_fields[at];
        if (tag == 0x82) {
            if (at + 2 < end) {
                if (header_fields[at + 2] == 2) *stereo = 1;
                if (header_fields[at + 2] == 1) *stereo = 0;
            }
        } else if (tag != 0x85) {
            break; // 0x83 and every other tag end the list
        }
        at += 2 + header_fields[at + 1];
    }
}

void read_schl_header(FILE*, int32_t* width, int32_t* height, uint8_t* stereo) {
    *width = 0;
    *height = 0;
    // Each pass consumes at least one tag and stops at the end of the file.
    for (;;) {
        if (!read_chunk_tag()) return;
        if (tag_is("SCHl")) {
            uint32_t size;
            if (!read_le32(&size)) return;
            if (int32_t(size) > 8) {
                int32_t body = int32_t(size) - 8;
                int32_t kept = body < 80 ? body : 80;
                if (!read_bytes(header_fields, kept) || !skip_bytes(body - kept)) return;
                header_field_bytes = kept;
            }
            walk_header_fields(stereo);
        } else if (tag_is("SCCl")) {
            uint32_t size;
            if (!read_le32(&size)) return;
            if (int32_t(size) > 8 && !skip_bytes(int32_t(size) - 8)) return;
        } else if (tag_is("pIQT")) {
            uint16_t w, h;
            if (!skip_bytes(4) || !read_le16(&w) || !read_le16(&h)) return;
            *width = w;
            *height = h;
            fseek(movie_file, -12, SEEK_CUR);
            return;
        } else {
            if (tag_is("SCDl")) unread_tag();
            return;
        }
    }
}

void read_piqt_header(FILE* file, int32_t* width, int32_t* height, uint8_t*) {
    *width = 96;
    *height = 96;
    fseek(file, start_offset, SEEK_SET);
}

static bool reader_takes_tag() {
    if (tag_is("SCDl") || tag_is("SCEl")) return true;
    return tag_is("pIQT") && movie_width > 0 && movie_height > 0;
}

// Skips "SCCl" chunks, and at a slot's start any chunk the reader does not
// take, by their sizes. False when the movie must end (short read, a size
// below 8, a chunk running past the end of the file).
static bool skip_other_chunks(bool at_slot_start) {
    while (tag_is("SCCl") || (at_slot_start && !reader_takes_tag())) {
        uint32_t size;
        if (!read_le32(&size) || int32_t(size) < 8) return false;
        if (!skip_bytes(int32_t(size) - 8) || !read_chunk_tag()) return false;
    }
    return true;
}

static bool read_picture_chunk(FrameSlot& slot) {
    uint32_t size;
    if (!read_le32(&size) || int32_t(size) < 8) return false;
    int32_t coded = int32_t(size) - 16;
    if (coded < 0 || coded > schl_max_picture_bytes) {
        slot.video_length = 0;
        return skip_bytes(int32_t(size) - 8);
    }
    slot.video_length = coded;
    return skip_bytes(8) && read_video(slot, coded);
}

static bool read_sound_chunk(FrameSlot& slot) {
    uint32_t size;
    if (!read_le32(&size) || int32_t(size) < 8) return false;
    int32_t coded = int32_t(size) - 20;
    if (coded < 0 || coded > schl_max_sound_bytes) {
        slot.sound_chunk_length = 0;
        fill_silence(slot);
        return skip_bytes(int32_t(size) - 8);
    }
    if (!skip_bytes(4) || !read_le32(&slot.sound_seed[0]) || !read_le32(&slot.sound_seed[1]) ||
        !read_bytes(sound_scratch, coded))
        return false;
    const int32_t block = movie_stereo ? 30 : 15;
    const int32_t blocks = coded / block;
    slot.sound_chunk_length = blocks * block;
    slot.sound_total = slot.sound_left = blocks * (movie_stereo ? 112 : 56);
    seed_schl_sound(slot.sound_seed[0], slot.sound_seed[1]);
    if (movie_stereo)
        decode_schl_stereo(sound_scratch, slot.sound, blocks * block);
    else
        decode_schl_mono(sound_scratch, slot.sound, blocks * block);
    return true;
}

void read_schl_slot() {
    if (!read_chunk_tag() || tag_is("SCEl") || file_position() == file_size) {
        end_movie();
        return;
    }
    FrameSlot& slot = next_slot();
    if (!skip_other_chunks(true)) {
        end_movie();
        return;
    }
    bool picture_taken = false;
    if (movie_width > 0 && movie_height > 0) {
        if (tag_is("pIQT")) {
            if (!read_picture_chunk(slot)) {
                end_movie();
                return;
            }
            picture_taken = true;
        } else {
            slot.video_length = 0;
            unread_tag();
        }
        if (!read_chunk_tag() || !skip_other_chunks(false)) {
            // The file ends after a whole picture: show it, then stop.
            if (!picture_taken) {
                end_movie();
                return;
            }
            fill_silence(slot);
            count_slot();
            end_movie();
            return;
        }
    }
    if (tag_is("SCDl")) {
        if (!read_sound_chunk(slot)) {
            if (picture_taken) {
                fill_silence(slot);
                count_slot();
            }
            end_movie();
            return;
        }
    } else {
        fill_silence(slot);
        unread_tag();
    }
    count_slot();
}

bool schl_key_picture(const FrameSlot& slot) {
    return slot.video_length >= 1;
}

void reset_schl() {
    memset(header_fields, 0, sizeof header_fields);
    header_field_bytes = 0;
    reset_schl_sound();
    reset_schl_picture();
}
