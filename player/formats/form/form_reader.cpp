// The FORM container: the header walk run by the probe, and one slot per
// reader call. Any short read or skip past the end of the file rejects the
// movie (header) or ends it (reader), so no damaged file can make either spin.
#include "formats/common/chunk_io.h"
#include "formats/form/form.h"
#include "formats/form/form_picture.h"

#include <cmath>

int32_t palette_count;
int32_t shot_palette_index;
uint8_t palette_level_table[256];

void build_palette_level_table() {
    for (int i = 0; i < 256; ++i) {
        double level = std::floor(256.0 * std::pow(i / 256.0, 0.8) + 0.5);
        palette_level_table[i] = uint8_t(level > 253.0 ? 253.0 : level);
    }
}

static uint8_t palette_level(uint8_t x) {
    return palette_level_table[uint8_t((x << 2) | (x >> 6))];
}

static void reject_form() {
    probe_kind = kind_none;
}

void read_form_header(FILE*, int32_t* width, int32_t* height, uint8_t* stereo) {
    // The probe hands over movie_file positioned at start_offset; the shared
    // chunk readers work on it and know its size.
    build_palette_level_table();
    *stereo = 0;
    *width = 320;
    *height = 165;
    uint32_t size;
    if (!read_chunk_tag() || !skip_bytes(8) || !read_chunk_tag() || !tag_is("_PC_") ||
        !read_be32(&size) || !skip_bytes(size)) {
        reject_form();
        return;
    }
    palette_count = 0;
    if (!read_chunk_tag()) return reject_form();
    while (!tag_is("VGA ")) {
        if (!read_be32(&size)) return reject_form();
        if (tag_is("PALT") && size == 768) {
            uint8_t rgb[768];
            if (!read_bytes(rgb, 768)) return reject_form();
            // Palettes beyond the store's capacity are read and ignored.
            if (palette_count < palette_capacity) {
                Color* palette = palettes[palette_count++];
                for (int i = 0; i < 256; ++i)
                    palette[i] = {palette_level(rgb[3 * i]), palette_level(rgb[3 * i + 1]),
                                  palette_level(rgb[3 * i + 2]), 0};
            }
        } else if (tag_is("SIZE")) {
            // Exactly eight bytes, whatever the chunk's size says.
            uint32_t w, h;
            if (!read_le32(&w) || !read_le32(&h)) return reject_form();
            *width = int32_t(w);
            *height = int32_t(h);
        } else if (!skip_bytes(size)) {
            return reject_form();
        }
        if (!read_chunk_tag()) return reject_form();
    }
    unread_tag();
}

// Size, body and the pad byte of an odd body.
static bool skip_chunk() {
    uint32_t size;
    return read_be32(&size) && skip_bytes(int64_t(size) + (size & 1));
}

static bool take_shot() {
    uint32_t size, index;
    if (!read_be32(&size)) return false;
    // A body too short to hold an index is passed over like any other chunk.
    if (size < 4) return skip_bytes(int64_t(size) + (size & 1));
    if (!read_le32(&index) || !skip_bytes(int64_t(size) - 4 + (size & 1))) return false;
    shot_palette_index = int32_t(index) >= 0 && int32_t(index) < palette_count ? int32_t(index) : 0;
    return true;
}

// Reads a body of size bytes (and its pad) into out when it fits; a larger one
// is consumed and dropped. Returns false at the end of the file; *taken tells
// whether the body is in out.
static bool take_body(uint32_t size, uint8_t* out, int32_t capacity, bool* taken,
                      FrameSlot* video = nullptr) {
    *taken = size <= uint32_t(capacity);
    if (!*taken) return skip_bytes(int64_t(size) + (size & 1));
    if (video ? !read_video(*video, int32_t(size)) : !read_bytes(out, int32_t(size))) return false;
    // A pad byte missing at the very end of the file costs nothing: the body
    // is whole, and the next tag read ends the movie.
    skip_bytes(size & 1);
    return true;
}

static void finish_at_end(FrameSlot& slot) {
    fill_silence(slot);
    fseek(movie_file, 0, SEEK_END);
    count_slot();
}

void read_form_slot() {
    if (!read_chunk_tag() || file_position() == file_size || tag_is("FORM")) return end_movie();
    while (!tag_is("SHOT") && !tag_is("VGA ")) {
        if (!skip_chunk() || !read_chunk_tag()) return end_movie();
    }
    while (tag_is("SHOT")) {
        if (!take_shot() || !read_chunk_tag()) return end_movie();
    }
    FrameSlot& slot = next_slot();
    slot.palette_index = shot_palette_index;
    if (tag_is("VGA ")) {
        uint32_t size;
        bool taken;
        if (!read_be32(&size) || !take_body(size, slot.video, form_video_limit, &taken, &slot))
            return end_movie();
        slot.video_length = taken ? int32_t(size) : 0;
    } else {
        slot.video_length = 0;
        unread_tag();
    }
    // From here on the frame's picture is taken: the end of the file keeps
    // it, with silence, and the next call ends the movie.
    if (!read_chunk_tag()) return finish_at_end(slot);
    while (!tag_is("AUDI") && !tag_is("VGA ") && !tag_is("SHOT")) {
        if (!skip_chunk() || !read_chunk_tag()) return finish_at_end(slot);
    }
    if (tag_is("AUDI")) {
        uint32_t size;
        bool taken;
        if (!read_be32(&size) || !take_body(size, slot.sound, form_sound_limit, &taken))
            return finish_at_end(slot);
        slot.sound_chunk_length = int32_t(size);
        if (taken) {
            slot.sound_left = slot.sound_total = int32_t(size);
        } else {
            fill_silence(slot);
        }
    } else {
        fill_silence(slot);
        unread_tag();
    }
    count_slot();
}

void save_form_reader(uint8_t* state) {
    memcpy(state, &shot_palette_index, sizeof shot_palette_index);
}

void load_form_reader(const uint8_t* state) {
    memcpy(&shot_palette_index, state, sizeof shot_palette_index);
}

void restart_form() {
    shot_palette_index = 0;
    reset_form_decoder_state();
}

void reset_form() {
    palette_count = 0;
    restart_form();
}
