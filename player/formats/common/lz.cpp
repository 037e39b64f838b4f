#include "formats/common/lz.h"

#include <bit>
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

namespace {

// The fast loop reads the next command bytes as one little-endian word.
static_assert(std::endian::native == std::endian::little);

// What a back reference command's first byte says of the rest. With c the
// command's first four bytes as one big-endian word, it has
// (c >> literal_shift) & 3 literals, length + (c & length_mask) bytes to copy,
// and the distance starts[b0] + ((c >> distance_shift) & distance_mask).
// Eight bytes, so that the fast loop indexes it without a multiply.
struct reference_form {
    uint16_t distance_mask;
    uint8_t distance_shift;
    uint8_t literal_shift;
    uint16_t length;
    uint8_t length_mask;
    uint8_t size; // command bytes
};

struct reference_forms {
    reference_form of[0xE0];
    uint32_t starts[0xE0];
    constexpr reference_forms() : of{}, starts{} {
        for (uint32_t b = 0; b < 0xE0; ++b) {
            if (b < 0x80) {
                of[b] = {0xFF, 16, 24, uint16_t(((b >> 2) & 7) + 3), 0, 2};
                starts[b] = ((b & 0x60) << 3) + 1;
            } else if (b < 0xC0) {
                of[b] = {0x3FFF, 8, 22, uint16_t((b & 0x3F) + 4), 0, 3};
                starts[b] = 1;
            } else {
                of[b] = {0xFFFF, 8, 24, uint16_t(((b & 0x0C) << 6) + 5), 0xFF, 4};
                starts[b] = ((b & 0x10) << 12) + 1;
            }
        }
    }
};
constexpr reference_forms forms;

inline void copy16(uint8_t* dst, const uint8_t* src) {
    memcpy(dst, src, 16);
}

// One command at a time with every copy exact, from the command at in: the
// last commands, whose pieces would pass the end of a buffer, and the stop.
int32_t unpack_exactly(const uint8_t* src, int32_t src_len, int32_t in, uint8_t* dst,
                       int32_t dst_capacity, int32_t out, bool* fault) {
    while (in < src_len) {
        uint32_t b0 = src[in];
        int32_t further = b0 < 0xE0 ? forms.of[b0].size - 1 : 0;
        if (src_len - in - 1 < further) return out;
        uint32_t c = b0 << 24;
        for (int32_t i = 1; i <= further; ++i) c |= uint32_t(src[in + i]) << (24 - 8 * i);
        int32_t literals, length = 0, distance = 0;
        if (b0 < 0xE0) {
            const reference_form& f = forms.of[b0];
            literals = int32_t((c >> f.literal_shift) & 3);
            length = int32_t(f.length + (c & f.length_mask));
            distance = int32_t(forms.starts[b0] + ((c >> f.distance_shift) & f.distance_mask));
        } else if (b0 < 0xFC) {
            literals = int32_t((b0 & 0x1F) + 1) * 4;
        } else {
            literals = int32_t(b0 & 3);
        }
        in += 1 + further;
        if (src_len - in < literals || dst_capacity - out < literals) return out;
        memcpy(dst + out, src + in, size_t(literals));
        in += literals;
        out += literals;
        if (b0 >= 0xFC) {
            *fault = false;
            return out;
        }
        if (length > 0) {
            if (distance > out || dst_capacity - out < length) return out;
            copy_forward(dst + out, dst + out - distance, length);
            out += length;
        }
    }
    return out;
}

} // namespace

// The fast loop copies in 16-byte pieces while both buffers have room for
// them. Its speed is bound by how soon the next command's place is known, so
// that is worked out from the top bits of the command byte alone, and the
// next command's bytes are shifted out of a word already loaded; literals
// (rare in pictures) take a slower way round.
int32_t unpack_image(const uint8_t* src, int32_t src_len, uint8_t* dst, int32_t dst_capacity,
                     bool* fault) {
    *fault = true;
    if (!src || src_len < 0 || !dst || dst_capacity < 0) return 0;
    const uint8_t* ip = src;
    uint8_t* op = dst;
    // Before ip_end a back reference command, its literals and a piece past
    // them lie inside the source; before op_end three literals and a piece
    // fit. Literal runs check their own room.
    constexpr int32_t source_slack = 4 + 16, output_slack = 3 + 16;
    if (src_len > source_slack && dst_capacity > output_slack) {
        const uint8_t* const ip_limit = src + src_len;
        const uint8_t* const ip_end = ip_limit - source_slack;
        uint8_t* const op_limit = dst + dst_capacity;
        uint8_t* const op_end = op_limit - output_slack;
        // The eight bytes at ip, and the first four of the command there.
        uint64_t ahead;
        memcpy(&ahead, ip, 8);
        uint32_t w = uint32_t(ahead);
        while (ip < ip_end && op < op_end) {
            uint32_t b0 = w & 0xFF;
            if (b0 >= 0xE0) {
                if (b0 >= 0xFC) break;
                int32_t literals = int32_t((b0 & 0x1F) + 1) * 4;
                if (op_limit - op < literals + 16 || ip_limit - ip < literals + 17) break;
                for (int32_t i = 0; i < literals; i += 16) copy16(op + i, ip + 1 + i);
                op += literals;
                ip += 1 + literals;
                memcpy(&ahead, ip, 8);
                w = uint32_t(ahead);
                continue;
            }
            const reference_form& f = forms.of[b0];
            uint32_t c = __builtin_bswap32(w);
            uint32_t literals = (c >> f.literal_shift) & 3;
            uint32_t length = f.length + (c & f.length_mask);
            uint32_t distance = forms.starts[b0] + ((c >> f.distance_shift) & f.distance_mask);
            // Command bytes by the top two bits (2, 2, 3, 4), and the same in bits.
            uint32_t top = (w >> 3) & 0x18;
            uint32_t size = (0x04030202u >> top) & 0xFF;
            uint32_t bits = 0x20181010u >> top;
            if (literals != 0) {
                copy16(op, ip + size);
                op += literals;
                ip += size + literals;
                memcpy(&ahead, ip, 8);
                w = uint32_t(ahead);
            } else {
                ip += size;
                w = uint32_t(ahead >> (bits & 63));
                memcpy(&ahead, ip, 8);
            }
            if (distance > uint32_t(op - dst)) return int32_t(op - dst);
            const uint8_t* from = op - distance;
            if (distance >= 16 && length <= 16) {
                copy16(op, from);
                op += length;
                continue;
            }
            if (op_limit - op < int64_t(length) + 16) {
                if (op_limit - op < int64_t(length)) return int32_t(op - dst);
                copy_forward(op, from, int32_t(length));
            } else if (distance >= 16) {
                for (uint32_t i = 0; i < length; i += 16) copy16(op + i, from + i);
            } else if (distance == 1) {
                uint64_t v = 0x0101010101010101u * from[0];
                for (uint32_t i = 0; i < length; i += 16) {
                    memcpy(op + i, &v, 8);
                    memcpy(op + i + 8, &v, 8);
                }
            } else {
                copy_forward(op, from, int32_t(length));
            }
            op += length;
        }
    }
    return unpack_exactly(src, src_len, int32_t(ip - src), dst, dst_capacity, int32_t(op - dst),
                          fault);
}
