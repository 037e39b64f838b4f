#include "formats/common/chunk_io.h"
#include "formats/common/lz.h"
#include "formats/common/zero_state.h"
#include "formats/sead/sead.h"

#include <algorithm>

namespace {

sead_picture_decoder player_picture;

// The 32-bit little-endian window at byte at of a section of len bytes;
// bytes past the section read as 0. Fields are taken from such windows, so a
// field near the end of a body must not load beyond it.
inline uint32_t window(const uint8_t* s, int32_t len, int64_t at) {
    if (at + 4 <= len) return load_le32(s + at);
    uint32_t v = 0;
    for (int i = 0; i < 4; ++i)
        if (at + i < len) v |= uint32_t(s[at + i]) << (8 * i);
    return v;
}

inline int16_t load_s16(const uint8_t* p) {
    return int16_t(load_le16(p));
}

inline void copy_block(uint8_t* dst, const uint8_t* src, int32_t dst_stride, int32_t src_stride) {
    for (int r = 0; r < 4; ++r) memcpy(dst + r * dst_stride, src + r * src_stride, 4);
}

bool decode_block_frame(sead_picture_decoder& d, int32_t w, int32_t h, const uint8_t* body,
                        int32_t length) {
    if (length < 12) return false;
    int32_t n = load_s16(body);
    int32_t m = load_s16(body + 2);
    int32_t k = load_s16(body + 4);
    int32_t b = load_s16(body + 6);
    // Widths of 32 bits and more cannot be read from a 32-bit window.
    if (n < 0 || m < 0 || k < 0 || m + k > sead_block_capacity || b < 0 || b > 31) return false;
    int64_t vector_bytes = ((20 * int64_t(n) + 31) / 8) & ~int64_t(3);
    int64_t literal_at = 12 + vector_bytes;
    int64_t four_colour_at = literal_at + 16 * int64_t(m);
    int64_t codes_at = four_colour_at + 8 * int64_t(k);
    int32_t size = w * h;
    int32_t blocks_wide = w / 4;
    int32_t built = blocks_wide * (h / 4);
    int32_t codes_read = (size / 16) / 4 * 4;
    int32_t used = std::min(built, codes_read);
    if (codes_at + (int64_t(used) * b + 7) / 8 > length) return false;

    const uint8_t* vectors = body + 12;
    for (int32_t i = 0; i < n; ++i) {
        int32_t f[2];
        for (int j = 0; j < 2; ++j) {
            int64_t bit = 10 * int64_t(2 * i + j);
            uint32_t v = window(vectors, length - 12, bit / 8) >> (bit % 8);
            f[j] = int32_t(v << 22) >> 22;
        }
        d.offsets[i] = f[0] + w * f[1];
    }
    memcpy(d.block_table, body + literal_at, size_t(16 * m));
    const uint8_t* four = body + four_colour_at;
    for (int32_t i = 0; i < k; ++i, four += 8) {
        uint32_t mask = load_le32(four + 4);
        uint8_t* e = d.block_table[m + i];
        for (int q = 0; q < 16; ++q) e[q] = four[(mask >> (30 - 2 * q)) & 3];
    }

    const uint8_t* ref = d.images[d.current];
    uint8_t* out = d.images[d.current ^ 1];
    // Pixels that no block code reaches (ragged edges, the last codes of a
    // group that does not fit) keep the previous picture.
    if (w % 4 || h % 4 || used < built) memcpy(out, ref, size_t(size));

    const uint8_t* codes = body + codes_at;
    int32_t codes_len = int32_t(length - codes_at);
    uint32_t code_mask = (uint32_t(1) << b) - 1;
    int32_t entries = n + m + k;
    int32_t last_source = size - 3 * w - 4;
    // One block: false when its code breaks a limit.
    auto place = [&](uint32_t c, int32_t p) {
        if (c < uint32_t(n)) {
            int32_t src = p + d.offsets[c];
            if (uint32_t(src) > uint32_t(last_source)) return false;
            copy_block(out + p, ref + src, w, w);
            return true;
        }
        if (c >= uint32_t(entries)) return false;
        copy_block(out + p, d.block_table[c - uint32_t(n)], w, 4);
        return true;
    };
    int32_t bx = 0;
    int32_t row_start = 0;
    int32_t i = 0;
    // Whole groups within one block row whose windows lie inside the body.
    if (blocks_wide % 4 == 0 && last_source >= 0) {
        int64_t inside = (int64_t(codes_len) - 4) * 8 - 2 * b;
        for (; i + 4 <= used && int64_t(b) * i <= inside; i += 4) {
            int64_t bit = int64_t(b) * i;
            uint32_t v = load_le32(codes + bit / 8) >> (bit % 8);
            bit += 2 * b;
            uint32_t v2 = load_le32(codes + bit / 8) >> (bit % 8);
            int32_t p = row_start + 4 * bx;
            if (!place(v & code_mask, p) || !place((v >> b) & code_mask, p + 4) ||
                !place(v2 & code_mask, p + 8) || !place((v2 >> b) & code_mask, p + 12))
                return false;
            bx += 4;
            if (bx == blocks_wide) {
                bx = 0;
                row_start += 4 * w;
            }
        }
    }
    for (; i < used; i += 4) {
        int64_t bit = int64_t(b) * i;
        uint32_t v = window(codes, codes_len, bit / 8) >> (bit % 8);
        bit += 2 * b;
        uint32_t v2 = window(codes, codes_len, bit / 8) >> (bit % 8);
        uint32_t group[4] = {v & code_mask, (v >> b) & code_mask, v2 & code_mask,
                             (v2 >> b) & code_mask};
        int32_t count = std::min(4, used - i);
        for (int32_t j = 0; j < count; ++j) {
            if (!place(group[j], row_start + 4 * bx)) return false;
            if (++bx == blocks_wide) {
                bx = 0;
                row_start += 4 * w;
            }
        }
    }
    d.current ^= 1;
    return true;
}

// Palette at 12, then the packed image at 780 behind its own header: two
// flag bytes (bit 0 of the first adds three skipped bytes) and a 3-byte size
// that is not needed.
constexpr int32_t key_palette_at = 12;
constexpr int32_t key_image_at = 780;

bool decode_key_frame(sead_picture_decoder& d, int32_t w, int32_t h, const uint8_t* body,
                      int32_t length) {
    if (length < key_image_at + 5) return false;
    int32_t commands_at = key_image_at + ((body[key_image_at] & 1) ? 8 : 5);
    if (length < commands_at) return false;
    int32_t size = w * h;
    uint8_t* out = d.images[d.current ^ 1];
    bool fault = false;
    int32_t written = unpack_image(body + commands_at, length - commands_at, out, size, &fault);
    if (fault) return false;
    // An image that stops short leaves the rest of the previous picture.
    if (written < size)
        memcpy(out + written, d.images[d.current] + written, size_t(size - written));
    d.current ^= 1;
    const uint8_t* rgb = body + key_palette_at;
    for (int i = 0; i < 256; ++i) {
        d.colors[i].r = rgb[3 * i];
        d.colors[i].g = rgb[3 * i + 1];
        d.colors[i].b = rgb[3 * i + 2];
    }
    if (set_surface_colors) set_surface_colors(d.colors);
    return true;
}

} // namespace

void double_interlaced(uint8_t* dst, const uint8_t* src, int32_t width, int32_t height) {
    int32_t row = 2 * width;
    for (int32_t y = 0; y < height; ++y) {
        uint8_t* even = dst + int64_t(2 * y) * row;
        const uint8_t* s = src + int64_t(y) * width;
        for (int32_t x = 0; x < width; ++x) even[2 * x] = even[2 * x + 1] = s[x];
        memset(even + row, 0, size_t(row));
    }
}

bool decode_sead_picture_with(sead_picture_decoder& d, uint8_t interlaced, int32_t width,
                              int32_t height, const uint8_t* body, int32_t length, uint8_t* out) {
    int32_t w = interlaced ? width / 2 : width;
    int32_t h = interlaced ? height / 2 : height;
    if (w < 1 || h < 1 || int64_t(w) * h > sead_image_capacity || length < 4) return false;
    length = std::min(length, video_capacity);
    bool key = load_le32(body) == uint32_t(w) + 65536u * uint32_t(h);
    bool ok =
        key ? decode_key_frame(d, w, h, body, length) : decode_block_frame(d, w, h, body, length);
    if (!ok) return false;
    const uint8_t* image = d.images[d.current];
    if (interlaced)
        double_interlaced(out, image, w, h);
    else
        memcpy(out, image, size_t(w * h));
    return true;
}

void decode_sead_picture(uint8_t interlaced, int32_t width, int32_t height, const FrameSlot* slot,
                         void** pixels) {
    decode_sead_picture_with(player_picture, interlaced, width, height, slot->video,
                             slot->video_length, static_cast<uint8_t*>(*pixels));
}

bool sead_whole_key_frame(const FrameSlot& slot) {
    const int32_t w = interlaced ? movie_width / 2 : movie_width;
    const int32_t h = interlaced ? movie_height / 2 : movie_height;
    const int32_t length = std::min(slot.video_length, video_capacity);
    const uint8_t* body = slot.video;
    if (w < 1 || h < 1 || int64_t(w) * h > sead_image_capacity || length < key_image_at + 5)
        return false;
    if (load_le32(body) != uint32_t(w) + 65536u * uint32_t(h)) return false;
    const int32_t commands_at = key_image_at + ((body[key_image_at] & 1) ? 8 : 5);
    if (length < commands_at) return false;
    static uint8_t image[sead_image_capacity];
    bool fault = false;
    const int32_t written =
        unpack_image(body + commands_at, length - commands_at, image, w * h, &fault);
    return !fault && written == w * h;
}

void give_sead_colors() {
    if (set_surface_colors) set_surface_colors(player_picture.colors);
}

void reset_sead_picture() {
    zero_state(&player_picture, sizeof player_picture);
}
