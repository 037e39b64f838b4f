#include "form_writer.h"

#include "bytes.h"

#include <algorithm>
#include <cmath>
#include <queue>

namespace {

// Motion runs address rows of a 320-pixel frame, whatever the width.
constexpr int32_t motion_row = 320;
constexpr int end_symbol = 22;

struct bit_sink {
    std::vector<uint8_t> bytes;
    int used = 8;
    void put(int bit) {
        if (used == 8) {
            bytes.push_back(0);
            used = 0;
        }
        bytes.back() |= uint8_t(bit << used++);
    }
};

} // namespace

std::vector<uint8_t> encode_form_opcodes(const std::vector<uint8_t>& opcodes) {
    int64_t freq[23] = {};
    for (uint8_t op : opcodes) ++freq[op];
    freq[end_symbol] = 1;
    // Leaves are the symbols 0..22; internal nodes are numbered from 23 in the
    // order they are made, so the last one, the root, is N + 22.
    struct item {
        int64_t weight;
        int order; // ties: older first, for a stable tree
        int value;
        bool operator>(const item& o) const {
            return weight != o.weight ? weight > o.weight : order > o.order;
        }
    };
    std::priority_queue<item, std::vector<item>, std::greater<item>> queue;
    int order = 0;
    for (int s = 0; s <= end_symbol; ++s)
        if (freq[s]) queue.push({freq[s], order++, s});
    std::vector<uint8_t> left, right;
    if (queue.size() == 1) {
        int only = queue.top().value;
        left.push_back(uint8_t(only));
        right.push_back(uint8_t(only));
    }
    while (queue.size() > 1) {
        item a = queue.top();
        queue.pop();
        item b = queue.top();
        queue.pop();
        int node = 23 + int(left.size());
        left.push_back(uint8_t(a.value));
        right.push_back(uint8_t(b.value));
        queue.push({a.weight + b.weight, order++, node});
    }
    const int n = int(left.size());
    // Codes by a walk from the root: 0 to the left, 1 to the right.
    std::vector<std::vector<uint8_t>> codes(23);
    struct step {
        int node;
        std::vector<uint8_t> path;
    };
    std::vector<step> stack = {{22 + n, {}}};
    while (!stack.empty()) {
        step s = stack.back();
        stack.pop_back();
        for (int bit = 0; bit < 2; ++bit) {
            int child = bit ? right[size_t(s.node - 23)] : left[size_t(s.node - 23)];
            std::vector<uint8_t> path = s.path;
            path.push_back(uint8_t(bit));
            if (child <= end_symbol) {
                if (codes[size_t(child)].empty()) codes[size_t(child)] = path;
            } else {
                stack.push_back({child, path});
            }
        }
    }
    std::vector<uint8_t> block = {uint8_t(n)};
    block.insert(block.end(), left.begin(), left.end());
    block.insert(block.end(), right.begin(), right.end());
    bit_sink bits;
    for (uint8_t op : opcodes)
        for (uint8_t b : codes[op]) bits.put(b);
    for (uint8_t b : codes[end_symbol]) bits.put(b);
    block.insert(block.end(), bits.bytes.begin(), bits.bytes.end());
    return block;
}

std::vector<uint8_t> pack_form_image(const std::vector<uint8_t>& in) {
    const int32_t n = int32_t(in.size());
    std::vector<uint8_t> out;
    constexpr int hash_bits = 15;
    constexpr int32_t max_distance = 131072, max_length = 1028, chain_depth = 48;
    std::vector<int32_t> head(size_t(1) << hash_bits, -1), prev(size_t(n), -1);
    auto hash = [&](int32_t i) {
        uint32_t v = uint32_t(in[size_t(i)]) | uint32_t(in[size_t(i) + 1]) << 8 |
                     uint32_t(in[size_t(i) + 2]) << 16;
        return (v * 2654435761u) >> (32 - hash_bits);
    };
    auto insert = [&](int32_t i) {
        if (i + 2 >= n) return;
        uint32_t h = hash(i);
        prev[size_t(i)] = head[h];
        head[h] = i;
    };
    // Literals waiting for a command; all but the last 0..3 go out in runs of
    // 4 to 112, the rest rides in the next command's literal field.
    int32_t literal_start = 0;
    auto flush_runs = [&](int32_t end) {
        while (end - literal_start >= 4) {
            int32_t k = std::min<int32_t>(112, (end - literal_start) & ~3);
            out.push_back(uint8_t(0xE0 | (k / 4 - 1)));
            out.insert(out.end(), in.begin() + literal_start, in.begin() + literal_start + k);
            literal_start += k;
        }
        return end - literal_start;
    };
    int32_t i = 0;
    while (i < n) {
        int32_t best_length = 0, best_distance = 0;
        if (i + 2 < n) {
            int depth = 0;
            for (int32_t c = head[hash(i)]; c >= 0 && depth < chain_depth; c = prev[size_t(c)]) {
                ++depth;
                int32_t distance = i - c;
                if (distance > max_distance) break;
                int32_t limit = std::min(max_length, n - i), len = 0;
                while (len < limit && in[size_t(c + len)] == in[size_t(i + len)]) ++len;
                if (len > best_length) {
                    best_length = len;
                    best_distance = distance;
                    if (len == limit) break;
                }
            }
        }
        int32_t d = best_distance - 1;
        int form = 0; // 1 short, 2 medium, 3 long
        if (best_length >= 5 && (best_length > 67 || best_distance > 16384)) {
            form = 3;
            best_length = std::min(best_length, max_length);
        } else if (best_length >= 4 && best_distance <= 16384 &&
                   (best_length > 10 || best_distance > 1024)) {
            form = 2;
        } else if (best_length >= 3 && best_distance <= 1024) {
            form = 1;
            best_length = std::min(best_length, 10);
        }
        if (!form) {
            insert(i++);
            continue;
        }
        int32_t literals = flush_runs(i);
        if (form == 1) {
            out.push_back(uint8_t(((d >> 3) & 0x60) | ((best_length - 3) << 2) | literals));
            out.push_back(uint8_t(d));
        } else if (form == 2) {
            out.push_back(uint8_t(0x80 | (best_length - 4)));
            out.push_back(uint8_t(literals << 6 | d >> 8));
            out.push_back(uint8_t(d));
        } else {
            int32_t l = best_length - 5;
            out.push_back(uint8_t(0xC0 | ((d >> 16) & 1) << 4 | (l >> 8) << 2 | literals));
            out.push_back(uint8_t(d >> 8));
            out.push_back(uint8_t(d));
            out.push_back(uint8_t(l));
        }
        out.insert(out.end(), in.begin() + literal_start, in.begin() + i);
        for (int32_t k = 0; k < best_length; ++k) insert(i + k);
        i += best_length;
        literal_start = i;
    }
    int32_t literals = flush_runs(n);
    out.push_back(uint8_t(0xFC | literals));
    out.insert(out.end(), in.begin() + literal_start, in.end());
    return out;
}

namespace {

// The streams of one picture as the opcodes consume them.
struct picture_code {
    std::vector<uint8_t> opcodes, sizes, vectors, image;
    bool copy_next = false;

    // Runs of 1 to 8 pixels (short) or 2 to 8 (motion) have opcodes of their
    // own; longer ones take their length from the size stream.
    void length(int32_t n, bool motion_run) {
        int wide_opcode = motion_run ? 19 : 9;
        if (n <= 8 && n >= (motion_run ? 2 : 1)) {
            opcodes.push_back(uint8_t(motion_run ? 10 + n : n));
        } else if (n <= 0xFF) {
            opcodes.push_back(uint8_t(wide_opcode));
            sizes.push_back(uint8_t(n));
        } else if (n <= 0xFFFF) {
            opcodes.push_back(uint8_t(wide_opcode + 1));
            sizes.push_back(uint8_t(n >> 8));
            sizes.push_back(uint8_t(n));
        } else {
            opcodes.push_back(uint8_t(wide_opcode + 2));
            sizes.push_back(uint8_t(n >> 16));
            sizes.push_back(uint8_t(n >> 8));
            sizes.push_back(uint8_t(n));
        }
    }
    void short_run(int32_t n, bool image_run) {
        // The alternation says what the next short run is; opcode 0 turns it.
        if (copy_next != image_run) opcodes.push_back(0);
        length(n, false);
        copy_next = !image_run;
    }
    void skip(int32_t n) {
        for (; n > 0xFFFFFF; n -= 0xFFFFFF) short_run(0xFFFFFF, false);
        if (n > 0) short_run(n, false);
    }
    void take_image(const uint8_t* pixels, int32_t n) {
        image.insert(image.end(), pixels, pixels + n);
        for (; n > 0xFFFFFF; n -= 0xFFFFFF) short_run(0xFFFFFF, true);
        if (n > 0) short_run(n, true);
    }
    void motion(int32_t n, int dx, int dy) {
        uint8_t v = uint8_t((dx & 15) << 4 | (dy & 15));
        for (; n > 0xFFFFFF; n -= 0xFFFFFF) {
            length(0xFFFFFF, true);
            vectors.push_back(v);
        }
        length(n, true);
        vectors.push_back(v);
        copy_next = false;
    }
};

std::vector<uint8_t> assemble(const picture_code& code, bool pack_image, bool* fits) {
    std::vector<uint8_t> block = encode_form_opcodes(code.opcodes);
    size_t at_sizes = 8 + block.size();
    size_t at_vectors = at_sizes + code.sizes.size();
    size_t at_image = at_vectors + code.vectors.size();
    *fits = at_image <= 0xFFFF;
    byte_builder b;
    b.le16(8).le16(uint32_t(at_sizes)).le16(uint32_t(at_vectors)).le16(uint32_t(at_image));
    b.raw(block).raw(code.sizes).raw(code.vectors);
    if (pack_image) {
        b.u8(2).raw(pack_form_image(code.image));
    } else {
        b.u8(0).raw(code.image);
    }
    return b.bytes;
}

} // namespace

std::vector<uint8_t> encode_form_picture(const std::vector<uint8_t>& previous,
                                         const std::vector<uint8_t>& current, int32_t width,
                                         int32_t height, bool pack_image) {
    const int32_t count = std::max<int32_t>(0, width) * std::max<int32_t>(0, height);
    std::vector<uint8_t> prev(size_t(count), 0), cur(size_t(count), 0);
    std::copy_n(previous.begin(), std::min<size_t>(previous.size(), size_t(count)), prev.begin());
    std::copy_n(current.begin(), std::min<size_t>(current.size(), size_t(count)), cur.begin());

    auto match = [&](int32_t at, int32_t from, int32_t limit) {
        int32_t n = 0;
        while (n < limit && cur[size_t(at + n)] == prev[size_t(from + n)]) ++n;
        return n;
    };
    picture_code code;
    int32_t image_start = -1;
    auto flush_image = [&](int32_t end) {
        if (image_start >= 0) code.take_image(cur.data() + image_start, end - image_start);
        image_start = -1;
    };
    int last_dx = 0, last_dy = 0;
    int32_t p = 0;
    while (p < count) {
        int32_t kept = match(p, p, count - p);
        if (kept >= 3 || (kept > 0 && p + kept == count)) {
            flush_image(p);
            code.skip(kept);
            p += kept;
            continue;
        }
        // The vector of the last motion run first: neighbours tend to move together.
        int32_t best = 0;
        int best_dx = 0, best_dy = 0;
        auto try_vector = [&](int dx, int dy) {
            int32_t from = p + motion_row * dy + dx;
            if ((dx == 0 && dy == 0) || from < 0 || from >= count) return;
            if (cur[size_t(p)] != prev[size_t(from)]) return;
            int32_t n = match(p, from, std::min(count - p, count - from));
            if (n > best) {
                best = n;
                best_dx = dx;
                best_dy = dy;
            }
        };
        try_vector(last_dx, last_dy);
        if (best < 64)
            for (int dy = -8; dy <= 7; ++dy)
                for (int dx = -8; dx <= 7; ++dx) try_vector(dx, dy);
        if (best >= 2 && best > kept) {
            flush_image(p);
            code.motion(best, best_dx, best_dy);
            last_dx = best_dx;
            last_dy = best_dy;
            p += best;
            continue;
        }
        if (image_start < 0) image_start = p;
        ++p;
    }
    flush_image(count);

    bool fits;
    std::vector<uint8_t> payload = assemble(code, pack_image, &fits);
    if (fits) return payload;
    // Too many runs for the 16-bit offsets: the whole picture as one image run.
    picture_code plain;
    plain.take_image(cur.data(), count);
    return assemble(plain, pack_image, &fits);
}

std::vector<uint8_t> write_form_movie(const form_movie& movie) {
    byte_builder b;
    b.tag("FORM").be32(0).tag("FILM");
    b.tag("_PC_").be32(4).le32(0);
    if (movie.write_size)
        b.tag("SIZE").be32(8).le32(uint32_t(movie.width)).le32(uint32_t(movie.height));
    for (const auto& palette : movie.palettes) b.tag("PALT").be32(768).raw(palette.data(), 768);
    auto chunk = [&](const char* tag, const std::vector<uint8_t>& body) {
        b.tag(tag).be32(uint32_t(body.size())).raw(body);
        if (body.size() & 1) b.u8(0);
    };
    const size_t count = size_t(std::max(0, movie.width)) * size_t(std::max(0, movie.height));
    std::vector<uint8_t> previous(count, 0);
    int palette = 0;
    for (const form_frame& f : movie.frames) {
        // A frame of sound alone is read as a frame only after a "SHOT"
        // chunk, so it gets one naming the palette in force.
        bool sound_only = !f.has_picture && !f.sound.empty();
        if (f.shot >= 0 || sound_only) {
            if (f.shot >= 0) palette = f.shot;
            byte_builder shot;
            shot.le32(uint32_t(palette));
            chunk("SHOT", shot.bytes);
        }
        if (f.has_picture) {
            chunk("VGA ", encode_form_picture(previous, f.pixels, movie.width, movie.height));
            previous.assign(count, 0);
            std::copy_n(f.pixels.begin(), std::min(f.pixels.size(), count), previous.begin());
        }
        if (!f.sound.empty()) {
            byte_builder pcm;
            for (int16_t s : f.sound) pcm.le16(uint16_t(s));
            chunk("AUDI", pcm.bytes);
        }
    }
    b.patch_be32(4, uint32_t(b.size() - 8));
    return b.bytes;
}
