#include "sead_writer.h"

#include "bytes.h"
#include "form_writer.h"
#include "formats/common/chunk_io.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <map>

namespace {

struct bit_writer {
    std::vector<uint8_t> bytes;
    size_t bits = 0;
    void put(uint32_t value, int width) {
        for (int i = 0; i < width; ++i, ++bits) {
            if (bits % 8 == 0) bytes.push_back(0);
            if (value >> i & 1) bytes.back() |= uint8_t(1 << (bits % 8));
        }
    }
};

uint64_t block_hash(const uint8_t* p, int32_t stride) {
    uint64_t a = load_le32(p) | uint64_t(load_le32(p + stride)) << 32;
    uint64_t b = load_le32(p + 2 * stride) | uint64_t(load_le32(p + 3 * stride)) << 32;
    uint64_t h = a * 0x9E3779B97F4A7C15ull ^ (b + 0x632BE59BD9B4E019ull) * 0xC2B2AE3D27D4EB4Full;
    return h ^ h >> 29;
}

bool same_block(const uint8_t* a, int32_t a_stride, const uint8_t* b, int32_t b_stride) {
    for (int r = 0; r < 4; ++r)
        if (memcmp(a + r * a_stride, b + r * b_stride, 4) != 0) return false;
    return true;
}

} // namespace

std::vector<uint8_t> pack_sead_image(const uint8_t* data, size_t size, bool long_flags) {
    byte_builder b;
    b.u8(long_flags ? 0x11 : 0x10).u8(0xFB);
    if (long_flags) b.zeros(3);
    b.u8(uint32_t(size) >> 16).u8(uint32_t(size) >> 8).u8(uint32_t(size));
    b.raw(pack_form_image(std::vector<uint8_t>(data, data + size)));
    return b.bytes;
}

std::vector<uint8_t> write_sead_key_frame(int32_t width, int32_t height,
                                          const sead_palette& palette, const uint8_t* image,
                                          bool long_flags) {
    byte_builder b;
    b.le16(uint32_t(width)).le16(uint32_t(height)).zeros(8);
    b.raw(palette.data(), palette.size());
    b.raw(pack_sead_image(image, size_t(width) * size_t(height), long_flags));
    return b.bytes;
}

int32_t narrowest_code_bits(int32_t entries) {
    int32_t bits = 0;
    while ((int64_t(1) << bits) < entries) ++bits;
    return bits;
}

std::vector<uint8_t> write_sead_block_frame(const sead_block_frame& f) {
    int32_t n = int32_t(f.vectors.size());
    int32_t m = int32_t(f.literal_blocks.size());
    int32_t k = int32_t(f.four_colour_blocks.size());
    int32_t bits = f.code_bits >= 0 ? f.code_bits : narrowest_code_bits(n + m + k);
    byte_builder b;
    b.le16(uint32_t(n)).le16(uint32_t(m)).le16(uint32_t(k)).le16(uint32_t(bits)).zeros(4);
    bit_writer vectors;
    for (const auto& v : f.vectors) {
        vectors.put(uint32_t(v[0]) & 0x3FF, 10);
        vectors.put(uint32_t(v[1]) & 0x3FF, 10);
    }
    vectors.bytes.resize(size_t(4 * ((20 * n + 31) / 32)), 0);
    b.raw(vectors.bytes);
    for (const auto& l : f.literal_blocks) b.raw(l.data(), 16);
    for (const auto& c : f.four_colour_blocks) b.raw(c.colours.data(), 4).le32(c.mask);
    bit_writer codes;
    for (uint32_t c : f.codes) codes.put(c, bits);
    b.raw(codes.bytes);
    return b.bytes;
}

sead_block_frame search_sead_block_frame(const uint8_t* previous, const uint8_t* target,
                                         int32_t width, int32_t height) {
    const int32_t size = width * height;
    const int32_t blocks_wide = width / 4;
    const int32_t used = std::min(blocks_wide * (height / 4), size / 16 / 4 * 4);
    const int32_t last_source = size - 3 * width - 4;

    // Every 4 x 4 window of the previous picture, chained by content, so that
    // a block found anywhere within the vector range is found at once.
    constexpr int hash_bits = 17;
    std::vector<int32_t> head(size_t(1) << hash_bits, -1);
    std::vector<int32_t> chain(size_t(std::max(last_source + 1, 0)), -1);
    for (int32_t s = last_source; s >= 0; --s) {
        uint32_t h = uint32_t(block_hash(previous + s, width) >> (64 - hash_bits));
        chain[size_t(s)] = head[h];
        head[h] = s;
    }

    sead_block_frame f;
    std::map<int32_t, uint32_t> vector_of_offset;
    std::map<std::array<uint8_t, 16>, uint32_t> literal_of, four_of;
    struct choice {
        int kind; // 0 vector, 1 literal, 2 four-colour
        uint32_t index;
    };
    std::vector<choice> choices;
    std::vector<int32_t> recent; // offsets most recently used, newest last

    auto vector_for = [&](int32_t p, int32_t source) -> int32_t {
        int32_t offset = source - p;
        // The displacement as seen on the picture; across the left or right
        // edge when that is the only way to stay within range.
        int32_t x = source % width - p % width;
        int32_t y = source / width - p / width;
        if (x > 511) x -= width, ++y;
        if (x < -512) x += width, --y;
        if (x < -512 || x > 511 || y < -512 || y > 511) return -1;
        auto it = vector_of_offset.find(offset);
        if (it != vector_of_offset.end()) return int32_t(it->second);
        f.vectors.push_back({x, y});
        vector_of_offset[offset] = uint32_t(f.vectors.size() - 1);
        return int32_t(f.vectors.size() - 1);
    };

    for (int32_t i = 0; i < used; ++i) {
        int32_t p = 4 * width * (i / blocks_wide) + 4 * (i % blocks_wide);
        const uint8_t* block = target + p;
        int32_t found = -1;
        // Vectors already sent cost nothing more; try them first, newest first.
        int32_t tried = 0;
        for (auto it = recent.rbegin(); it != recent.rend() && tried < 16; ++it, ++tried) {
            int32_t s = p + *it;
            if (s >= 0 && s <= last_source && same_block(block, width, previous + s, width)) {
                found = vector_for(p, s);
                if (found >= 0) break;
            }
        }
        if (found < 0 && last_source >= 0) {
            uint32_t h = uint32_t(block_hash(block, width) >> (64 - hash_bits));
            int32_t best = -1;
            int64_t best_cost = INT64_MAX;
            int depth = 64;
            for (int32_t s = head[h]; s >= 0 && depth-- > 0; s = chain[size_t(s)]) {
                if (!same_block(block, width, previous + s, width)) continue;
                int64_t cost = std::abs(int64_t(s) - p);
                if (cost < best_cost) {
                    best_cost = cost;
                    best = s;
                }
            }
            if (best >= 0) found = vector_for(p, best);
        }
        if (found >= 0) {
            int32_t offset = f.vectors[size_t(found)][0] + width * f.vectors[size_t(found)][1];
            recent.erase(std::remove(recent.begin(), recent.end(), offset), recent.end());
            recent.push_back(offset);
            choices.push_back({0, uint32_t(found)});
            continue;
        }
        std::array<uint8_t, 16> pixels;
        for (int r = 0; r < 4; ++r) memcpy(&pixels[size_t(4 * r)], block + r * width, 4);
        std::array<uint8_t, 4> colours{};
        int distinct = 0;
        for (uint8_t px : pixels) {
            if (std::find(colours.begin(), colours.begin() + distinct, px) ==
                colours.begin() + distinct) {
                if (distinct == 4) {
                    distinct = 5;
                    break;
                }
                colours[size_t(distinct++)] = px;
            }
        }
        if (distinct <= 4) {
            for (int c = distinct; c < 4; ++c) colours[size_t(c)] = colours[0];
            auto [it, fresh] = four_of.try_emplace(pixels, uint32_t(f.four_colour_blocks.size()));
            if (fresh) {
                uint32_t mask = 0;
                for (int q = 0; q < 16; ++q) {
                    uint32_t c =
                        uint32_t(std::find(colours.begin(), colours.end(), pixels[size_t(q)]) -
                                 colours.begin());
                    mask |= c << (30 - 2 * q);
                }
                f.four_colour_blocks.push_back({colours, mask});
            }
            choices.push_back({2, it->second});
        } else {
            auto [it, fresh] = literal_of.try_emplace(pixels, uint32_t(f.literal_blocks.size()));
            if (fresh) f.literal_blocks.push_back(pixels);
            choices.push_back({1, it->second});
        }
    }
    uint32_t n = uint32_t(f.vectors.size());
    uint32_t m = uint32_t(f.literal_blocks.size());
    for (const choice& c : choices)
        f.codes.push_back(c.kind == 0 ? c.index : c.kind == 1 ? n + c.index : n + m + c.index);
    return f;
}

std::vector<uint8_t> encode_sead_sound(sead_sound_state& state, const int16_t* samples,
                                       size_t frames) {
    std::vector<uint8_t> out(frames);
    for (size_t i = 0; i < frames; ++i) {
        int best[2] = {0, 0};
        int64_t best_error[2] = {INT64_MAX, INT64_MAX};
        for (int code = 0; code < 16; ++code) {
            sead_sound_state trial = state;
            uint8_t in = uint8_t(code << 4 | code);
            uint8_t pcm[4];
            decode_sead_sound_with(trial, &in, pcm, 1);
            for (int ch = 0; ch < 2; ++ch) {
                int32_t got = int16_t(pcm[2 * ch] | pcm[2 * ch + 1] << 8);
                int64_t error = std::abs(int64_t(got) - samples[2 * i + size_t(ch)]);
                if (error < best_error[ch]) {
                    best_error[ch] = error;
                    best[ch] = code;
                }
            }
        }
        uint8_t byte = uint8_t(best[0] << 4 | best[1]);
        uint8_t pcm[4];
        decode_sead_sound_with(state, &byte, pcm, 1);
        out[i] = byte;
    }
    return out;
}

std::vector<uint8_t> write_sead_movie(int32_t width, int32_t height,
                                      const std::vector<sead_movie_frame>& frames, bool end_tag,
                                      sead_movie_stats* stats) {
    sead_movie_stats local;
    sead_movie_stats& st = stats ? *stats : local;
    st = {};
    byte_builder b;
    auto chunk = [&](const char* tag, const std::vector<uint8_t>& body) {
        b.tag(tag).le32(uint32_t(body.size() + 8)).raw(body);
    };
    // The header chunk's body is not read by the player; it names the sound layout.
    chunk("SEAD", byte_builder().le32(22050).le16(2).le16(16).bytes);

    const int32_t size = width * height;
    const int32_t blocks_wide = width / 4;
    std::vector<uint8_t> reference(size_t(size), 0);
    sead_palette palette{};
    bool have_key = false;
    sead_sound_state sound{};
    for (const sead_movie_frame& fr : frames) {
        if (!fr.image.empty()) {
            std::vector<uint8_t> body;
            bool key = !have_key || fr.force_key || fr.palette != palette;
            if (!key) {
                sead_block_frame bf =
                    search_sead_block_frame(reference.data(), fr.image.data(), width, height);
                // Such a header would read as a key frame: one more vector, never used.
                if (int32_t(bf.vectors.size()) == width &&
                    int32_t(bf.literal_blocks.size()) == height) {
                    bf.vectors.push_back({0, 0});
                    uint32_t n = uint32_t(bf.vectors.size());
                    for (uint32_t& c : bf.codes)
                        if (c >= n - 1) ++c;
                }
                int32_t entries = int32_t(bf.vectors.size() + bf.literal_blocks.size() +
                                          bf.four_colour_blocks.size());
                // Wider codes would not survive the player's grouped reading.
                if (entries <= 4096) body = write_sead_block_frame(bf);
                if (!body.empty() && body.size() > size_t(size) / 2) {
                    auto k = write_sead_key_frame(width, height, fr.palette, fr.image.data());
                    if (k.size() < body.size()) body.clear();
                }
                if (!body.empty() && body.size() <= size_t(sead_picture_body_limit)) {
                    for (size_t i = 0; i < bf.codes.size(); ++i) {
                        int32_t p = 4 * width * int32_t(i / size_t(blocks_wide)) +
                                    4 * int32_t(i % size_t(blocks_wide));
                        for (int r = 0; r < 4; ++r)
                            memcpy(&reference[size_t(p + r * width)],
                                   &fr.image[size_t(p + r * width)], 4);
                    }
                    ++st.block_frames;
                    st.vector_blocks +=
                        int64_t(std::count_if(bf.codes.begin(), bf.codes.end(),
                                              [&](uint32_t c) { return c < bf.vectors.size(); }));
                    st.literal_blocks += int64_t(bf.literal_blocks.size());
                    st.four_colour_blocks += int64_t(bf.four_colour_blocks.size());
                    for (const auto& v : bf.vectors)
                        st.max_vector = std::max({st.max_vector, std::abs(v[0]), std::abs(v[1])});
                    chunk("BVGT", body);
                } else {
                    key = true;
                }
            }
            if (key) {
                chunk("KVGT", write_sead_key_frame(width, height, fr.palette, fr.image.data(),
                                                   st.key_frames % 2 == 1));
                reference = fr.image;
                palette = fr.palette;
                have_key = true;
                ++st.key_frames;
            }
        }
        if (!fr.sound.empty())
            chunk("SNDC", encode_sead_sound(sound, fr.sound.data(), fr.sound.size() / 2));
    }
    if (end_tag) b.tag("SEND").le32(8);
    return b.bytes;
}
