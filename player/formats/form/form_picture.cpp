#include "formats/form/form_picture.h"

#include "formats/common/chunk_io.h"
#include "formats/common/lz.h"
#include "formats/common/zero_state.h"
#include "formats/form/form.h"

#include <cstring>

// Motion runs displace by whole rows of a 320-pixel frame, whatever the
// movie's own width.
constexpr int32_t motion_row_bytes = 640;

static form_decoder form_state;

namespace {

// The tree walk, eight bits at a time: an entry of the root table tells what
// the next eight bits lead to from the root (an opcode, the end symbol, a
// node outside the tables, or, for codes longer than eight bits, the node
// reached), and how many bits that took.
enum : uint16_t { walk_opcode = 0, walk_end = 1, walk_fault = 2, walk_deeper = 3 };
constexpr uint16_t no_node = 0xFFFF;

inline uint16_t walk_entry(uint16_t kind, uint32_t bits, uint32_t value) {
    return uint16_t(kind << 12 | bits << 8 | value);
}

struct tree_walk {
    uint16_t children[256][2];
    uint16_t root_table[256];

    void fill(uint32_t node, uint32_t depth, uint32_t prefix) {
        if (depth == 8) {
            root_table[prefix] = walk_entry(walk_deeper, 8, node);
            return;
        }
        for (uint32_t bit = 0; bit < 2; ++bit) {
            uint32_t code = prefix | bit << depth;
            uint32_t child = children[node][bit];
            uint16_t entry;
            if (child == no_node) {
                entry = walk_entry(walk_fault, depth + 1, 0);
            } else if (child < 22) {
                entry = walk_entry(walk_opcode, depth + 1, child);
            } else if (child == 22) {
                entry = walk_entry(walk_end, depth + 1, 0);
            } else {
                fill(child, depth + 1, code);
                continue;
            }
            // Every eight-bit value that starts with this code.
            for (uint32_t rest = 0; rest < (256u >> (depth + 1)); ++rest)
                root_table[code | rest << (depth + 1)] = entry;
        }
    }
};

} // namespace

int32_t decode_opcode_tree(const uint8_t* block, int32_t block_length, uint8_t* out,
                           int32_t capacity, bool* fault) {
    *fault = true;
    if (block_length < 1) return 0;
    int32_t n = block[0];
    if (block_length < 1 + 2 * n) return 0;
    const uint8_t* left = block + 1;
    const uint8_t* right = left + n;
    const uint8_t* bits = right + n;
    const int32_t bit_bytes = block_length - 1 - 2 * n;
    tree_walk walk;
    for (int node = 0; node < 256; ++node) {
        int index = node - 23;
        bool stored = index >= 0 && index < n;
        walk.children[node][0] = stored ? left[index] : no_node;
        walk.children[node][1] = stored ? right[index] : no_node;
    }
    const uint32_t root = uint32_t(n + 22) & 255;
    walk.fill(root, 0, 0);

    uint64_t buffer = 0;
    int32_t held = 0, next = 0, count = 0;
    auto refill = [&] {
        while (held <= 56 && next < bit_bytes) {
            buffer |= uint64_t(bits[next++]) << held;
            held += 8;
        }
    };
    for (;;) {
        refill();
        uint32_t node = root;
        if (held >= 8) {
            uint32_t entry = walk.root_table[buffer & 255];
            uint32_t used = (entry >> 8) & 15, value = entry & 255;
            buffer >>= used;
            held -= int32_t(used);
            switch (entry >> 12) {
            case walk_opcode:
                if (count == capacity) return count;
                out[count++] = uint8_t(value);
                continue;
            case walk_end:
                *fault = false;
                return count;
            case walk_fault:
                return count;
            default:
                node = value;
                break;
            }
        }
        // Long codes, and the last few bits, one bit at a time.
        for (;;) {
            if (held == 0) {
                refill();
                if (held == 0) return count;
            }
            uint32_t child = walk.children[node][buffer & 1];
            buffer >>= 1;
            --held;
            if (child < 22) {
                if (count == capacity) return count;
                out[count++] = uint8_t(child);
                break;
            }
            if (child == 22) {
                *fault = false;
                return count;
            }
            if (child == no_node) return count;
            node = child;
        }
    }
}

// Reads a big-endian length of `width` bytes from the size stream.
static bool take_size(form_stream& s, int32_t width, int32_t* n) {
    if (s.length - s.at < width) return false;
    int32_t v = 0;
    for (int32_t i = 0; i < width; ++i) v = v << 8 | s.data[s.at++];
    *n = v;
    return true;
}

bool apply_opcodes(const uint8_t* opcodes, int32_t count, form_streams& streams,
                   const uint8_t* reference, uint8_t* work, int32_t length) {
    int32_t pos = 0;
    bool copy_next = false;
    int32_t next = 0;
    while (pos < length) {
        if (next >= count) return false;
        uint32_t op = opcodes[next++];
        if (op == 0) {
            copy_next = !copy_next;
            continue;
        }
        if (op > 21) return false;
        int32_t n;
        if (op <= 8) {
            n = int32_t(op);
        } else if (op <= 11) {
            if (!take_size(streams.sizes, int32_t(op) - 8, &n)) return false;
        } else if (op <= 18) {
            n = int32_t(op) - 10;
        } else {
            if (!take_size(streams.sizes, int32_t(op) - 18, &n)) return false;
        }
        if (n > (length - pos) / 2) return false;
        int32_t bytes = 2 * n;
        uint8_t* at = work + pos;
        if (op <= 11) {
            if (copy_next) {
                form_stream& img = streams.image;
                if (img.length - img.at < n) return false;
                const uint8_t* from = img.data + img.at;
                for (int32_t i = 0; i < n; ++i) {
                    uint16_t twice = uint16_t(from[i] * 0x0101u);
                    memcpy(at + 2 * i, &twice, 2);
                }
                img.at += n;
            }
            copy_next = !copy_next;
        } else {
            form_stream& vec = streams.vectors;
            if (vec.at >= vec.length) return false;
            uint32_t v = vec.data[vec.at++];
            int32_t dy = int32_t((v & 15) ^ 8) - 8;
            int32_t dx = int32_t((v >> 4) ^ 8) - 8;
            int32_t from = pos + motion_row_bytes * dy + 2 * dx;
            if (bytes > 0) {
                if (from < 0 || from > length - bytes) return false;
                copy_forward(at, reference + from, bytes);
            }
            copy_next = false;
        }
        pos += bytes;
    }
    return true;
}

static form_stream stream_at(const uint8_t* payload, int32_t length, int32_t offset) {
    if (offset > length) offset = length;
    return {payload + offset, length - offset, 0};
}

static void give_palette(form_decoder& d, int32_t index) {
    if (index < 0 || index >= palette_capacity) index = 0;
    if (index == d.palette_set) return;
    if (set_surface_colors && !d.own_palette) set_surface_colors(palettes[index]);
    d.palette_set = index;
}

bool decode_form_picture_with(form_decoder& d, uint8_t interlaced, int32_t width, int32_t height,
                              const FrameSlot* slot, void** pixels) {
    if (!d.set_up) {
        d.set_up = true;
        d.frame_length = 0;
        d.palette_set = -1;
        if (width > 0 && height > 0) {
            int64_t l = interlaced ? int64_t(width) * height / 2 : int64_t(width) * height * 2;
            // A picture too large for the frames is never drawn (L stays 0).
            if (l <= form_frame_capacity) d.frame_length = int32_t(l);
        }
        give_palette(d, 0);
    }
    give_palette(d, d.own_palette ? slot->palette_index
                                  : slot_ring[slots_heard.load() % ring_size].palette_index);

    const int32_t length = d.frame_length;
    if (length == 0 || width < 1 || height < 1) return false;
    if (interlaced ? int64_t(width) * height / 2 != length : int64_t(width) * height * 2 != length)
        return false;

    const uint8_t* payload = slot->video;
    int32_t payload_length = slot->video_length;
    if (payload_length < 0) payload_length = 0;
    if (payload_length > video_capacity) payload_length = video_capacity;

    bool clean = payload_length >= 8;
    if (clean) {
        form_stream block = stream_at(payload, payload_length, load_le16(payload + 0));
        bool fault;
        int32_t count =
            decode_opcode_tree(block.data, block.length, d.opcodes, form_frame_capacity, &fault);
        clean = !fault;
        form_streams streams;
        streams.sizes = stream_at(payload, payload_length, load_le16(payload + 2));
        streams.vectors = stream_at(payload, payload_length, load_le16(payload + 4));
        form_stream image = stream_at(payload, payload_length, load_le16(payload + 6));
        streams.image = {image.data, 0, 0};
        if (image.length > 0) {
            uint8_t method = image.data[0];
            if (method == 2) {
                int32_t unpacked = unpack_image(image.data + 1, image.length - 1, d.image,
                                                form_frame_capacity, &fault);
                clean = clean && !fault;
                streams.image = {d.image, unpacked, 0};
            } else {
                streams.image = {image.data + 1, image.length - 1, 0};
            }
        }
        if (!apply_opcodes(d.opcodes, count, streams, d.reference_frame, d.work_frame, length))
            clean = false;
    }
    memcpy(d.reference_frame, d.work_frame, size_t(length));

    uint8_t* out = static_cast<uint8_t*>(*pixels);
    const uint8_t* work = d.work_frame;
    if (interlaced) {
        for (int32_t r = 0; r < height / 2; ++r)
            memcpy(out + size_t(2 * r) * size_t(width), work + size_t(r) * size_t(width),
                   size_t(width));
    } else {
        const int32_t count = length / 2;
        for (int32_t i = 0; i < count; ++i) out[i] = work[2 * i];
    }
    return clean;
}

void reset_form_decoder(form_decoder& d) {
    d.own_palette = false;
    d.set_up = false;
    d.frame_length = 0;
    d.palette_set = -1;
    zero_state(d.work_frame, sizeof d.work_frame);
    zero_state(d.reference_frame, sizeof d.reference_frame);
    zero_state(d.image, sizeof d.image);
    zero_state(d.opcodes, sizeof d.opcodes);
}

void reset_form_decoder_state() {
    reset_form_decoder(form_state);
}

void decode_form_picture(uint8_t interlaced, int32_t width, int32_t height, const FrameSlot* slot,
                         void** pixels) {
    decode_form_picture_with(form_state, interlaced, width, height, slot, pixels);
}

// A state every checkpoint_every pictures; when the store is full every other
// one goes and the spacing doubles, so that any length of movie fits.
constexpr int32_t checkpoint_capacity = 48;
constexpr int32_t first_checkpoint_spacing = 16;
struct form_checkpoint {
    int32_t slot;
    bool set_up;
    int32_t frame_length;
    int32_t palette_set;
};
static form_checkpoint checkpoints[checkpoint_capacity];
static uint8_t checkpoint_frames[checkpoint_capacity][form_frame_capacity];
static int32_t checkpoint_count;
static int32_t checkpoint_spacing = first_checkpoint_spacing;
static int32_t pictures_indexed;
static form_decoder index_decoder;
static uint8_t index_pixels[2 * form_frame_capacity];

void index_form_picture(const FrameSlot& slot, int32_t n) {
    index_decoder.own_palette = true;
    void* out = index_pixels;
    decode_form_picture_with(index_decoder, interlaced, movie_width, movie_height, &slot, &out);
    if (++pictures_indexed % checkpoint_spacing != 0) return;
    if (checkpoint_count == checkpoint_capacity) {
        for (int32_t i = 0; i < checkpoint_capacity / 2; ++i) {
            checkpoints[i] = checkpoints[2 * i + 1];
            memcpy(checkpoint_frames[i], checkpoint_frames[2 * i + 1],
                   size_t(checkpoints[i].frame_length));
        }
        checkpoint_count = checkpoint_capacity / 2;
        checkpoint_spacing *= 2;
        if (pictures_indexed % checkpoint_spacing != 0) return;
    }
    const form_decoder& d = index_decoder;
    checkpoints[checkpoint_count] = {n, d.set_up, d.frame_length, d.palette_set};
    memcpy(checkpoint_frames[checkpoint_count], d.reference_frame, size_t(d.frame_length));
    ++checkpoint_count;
}

// A state taken before slot p, so that p's own picture is drawn again. After
// a decode the work frame equals the reference; the image and opcode buffers
// are read only as far as the same call wrote them.
int32_t restore_form_picture(int32_t p) {
    int32_t i = checkpoint_count - 1;
    while (i >= 0 && checkpoints[i].slot >= p) --i;
    if (i < 0) {
        reset_form_decoder(form_state);
        return -1;
    }
    const form_checkpoint& c = checkpoints[i];
    form_state.own_palette = false;
    form_state.set_up = c.set_up;
    form_state.frame_length = c.frame_length;
    form_state.palette_set = c.palette_set;
    memcpy(form_state.reference_frame, checkpoint_frames[i], size_t(c.frame_length));
    memcpy(form_state.work_frame, checkpoint_frames[i], size_t(c.frame_length));
    return c.slot;
}

void reset_form_index() {
    checkpoint_count = 0;
    checkpoint_spacing = first_checkpoint_spacing;
    pictures_indexed = 0;
    reset_form_decoder(index_decoder);
}

void give_form_colors() {
    static const Color black[256] = {};
    if (!set_surface_colors) return;
    const int32_t p = form_state.palette_set;
    set_surface_colors(p >= 0 && p < palette_capacity ? palettes[p] : black);
}
