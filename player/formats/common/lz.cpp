#include "formats/common/lz.h"

#include <cstring>

void copy_forward(uint8_t* dst, const uint8_t* src, int32_t count) {
    if (count <= 0) return;
    uintptr_t d = uintptr_t(dst), s = uintptr_t(src);
    if (d > s && d - s < uintptr_t(count)) {
        // Overlap from below: the pattern of the last d - s bytes repeats.
        size_t distance = d - s;
        if (distance == 1) {
            memset(dst, *src, size_t(count));
            return;
        }
        for (int32_t i = 0; i < count; ++i) dst[i] = src[i];
        return;
    }
    // Without that overlap a forward byte copy and memmove agree.
    memmove(dst, src, size_t(count));
}

// Copies in whole 16-byte pieces, so up to 15 bytes past dst + count are
// written too; callers make sure that room exists on both sides. Pieces
// never overlap the bytes they copy when src lies 16 or more bytes below dst.
static inline void copy_pieces(uint8_t* dst, const uint8_t* src, int32_t count) {
    for (int32_t i = 0; i < count; i += 16) memcpy(dst + i, src + i, 16);
}

int32_t unpack_image(const uint8_t* src, int32_t src_len, uint8_t* dst, int32_t dst_capacity,
                     bool* fault) {
    int32_t in = 0, out = 0;
    *fault = true;
    if (!src || src_len < 0 || !dst || dst_capacity < 0) return 0;
    while (in < src_len) {
        uint32_t b0 = src[in];
        int32_t further, literals, length = 0, distance = 0;
        bool stop = false;
        if (b0 < 0x80) {
            further = 1;
        } else if (b0 < 0xC0) {
            further = 2;
        } else if (b0 < 0xE0) {
            further = 3;
        } else {
            further = 0;
        }
        if (src_len - in - 1 < further) return out;
        const uint8_t* b = src + in + 1;
        if (b0 < 0x80) {
            literals = int32_t(b0 & 3);
            length = int32_t((b0 >> 2) & 7) + 3;
            distance = int32_t((b0 & 0x60) << 3) + b[0] + 1;
        } else if (b0 < 0xC0) {
            literals = b[0] >> 6;
            length = int32_t(b0 & 0x3F) + 4;
            distance = ((b[0] & 0x3F) << 8) + b[1] + 1;
        } else if (b0 < 0xE0) {
            literals = int32_t(b0 & 3);
            length = int32_t((b0 & 0x0C) << 6) + b[2] + 5;
            distance = int32_t((b0 & 0x10) << 12) + (b[0] << 8) + b[1] + 1;
        } else if (b0 < 0xFC) {
            literals = int32_t((b0 & 0x1F) + 1) * 4;
        } else {
            literals = int32_t(b0 & 3);
            stop = true;
        }
        in += 1 + further;
        if (src_len - in < literals || dst_capacity - out < literals) return out;
        if (src_len - in >= literals + 16 && dst_capacity - out >= literals + 16)
            copy_pieces(dst + out, src + in, literals);
        else
            memcpy(dst + out, src + in, size_t(literals));
        in += literals;
        out += literals;
        if (stop) {
            *fault = false;
            return out;
        }
        if (length > 0) {
            if (distance > out || dst_capacity - out < length) return out;
            if (distance >= 16 && dst_capacity - out >= length + 16)
                copy_pieces(dst + out, dst + out - distance, length);
            else
                copy_forward(dst + out, dst + out - distance, length);
            out += length;
        }
    }
    return out;
}
