#include "form_test_support.h"
#include "form_writer.h"
#include "formats/common/lz.h"
#include "formats/form/form.h"
#include "formats/form/form_picture.h"

#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <set>

using namespace form_test;

namespace {

std::vector<uint8_t> noise(size_t n, std::mt19937& rng, int colours = 256) {
    std::vector<uint8_t> v(n);
    for (uint8_t& b : v) b = uint8_t(rng() % unsigned(colours));
    return v;
}

// A scene like a movie's: a texture that scrolls by (sx, sy) per picture, a
// moving box of noise, and a still strip at the bottom.
std::vector<uint8_t> scene(int32_t w, int32_t h, int t, int sx, int sy, std::mt19937& rng) {
    std::vector<uint8_t> v(size_t(w * h));
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x) {
            int u = x + sx * t, q = y + sy * t;
            uint8_t c = uint8_t((u / 7 * 3 + q / 5 * 11 + (u * q) % 13) & 0x7F);
            if (y >= h - 12) c = uint8_t(200 + (x / 40) % 4);
            v[size_t(y * w + x)] = c;
        }
    // Three narrow sprites that move on their own: motion runs of 6 to 8 pixels.
    for (int k = 0; k < 3; ++k) {
        int sw = 6 + k, left = 40 + 60 * k + 3 * t, top = 10 + 2 * t;
        for (int32_t y = top; y < top + 10 && y < h - 12; ++y)
            for (int32_t x = left; x < left + sw && x < w; ++x)
                v[size_t(y * w + x)] = uint8_t(130 + ((x - left) * 5 + (y - top) * 3) % 17);
    }
    int bx = (t * 13) % std::max(1, w - 30), by = (t * 5) % std::max(1, h - 40);
    for (int32_t y = by; y < by + 20 && y < h; ++y)
        for (int32_t x = bx; x < bx + 24 && x < w; ++x) v[size_t(y * w + x)] = uint8_t(rng());
    return v;
}

// Decodes payloads in order with one fresh decoder and checks each picture.
void expect_round_trip(const std::vector<std::vector<uint8_t>>& pictures, int32_t w, int32_t h,
                       bool pack, std::set<int>* opcodes_seen = nullptr) {
    auto d = std::make_unique<form_decoder>();
    reset_form_decoder(*d);
    std::vector<uint8_t> previous(size_t(w * h), 0), out(size_t(w * h));
    void* p = out.data();
    for (size_t i = 0; i < pictures.size(); ++i) {
        std::vector<uint8_t> bytes = encode_form_picture(previous, pictures[i], w, h, pack);
        ASSERT_LE(bytes.size(), size_t(video_capacity));
        put_slot(slot_ring[0], bytes);
        EXPECT_TRUE(decode_form_picture_with(*d, 0, w, h, &slot_ring[0], &p)) << i;
        ASSERT_EQ(out, pictures[i]) << "picture " << i;
        if (opcodes_seen) {
            bool fault;
            uint8_t ops[form_frame_capacity];
            int32_t at = bytes[0] | bytes[1] << 8;
            int32_t n = decode_opcode_tree(bytes.data() + at, int32_t(bytes.size()) - at, ops,
                                           form_frame_capacity, &fault);
            opcodes_seen->insert(ops, ops + n);
        }
        previous = pictures[i];
    }
}

TEST(FormWriter, PicturesSurviveTheRoundTrip) {
    std::mt19937 rng(7);
    std::set<int> seen;
    for (bool pack : {true, false}) {
        std::vector<std::vector<uint8_t>> natural;
        for (int t = 0; t < 6; ++t) natural.push_back(scene(320, 165, t, 2, t % 2 ? 1 : -1, rng));
        expect_round_trip(natural, 320, 165, pack, &seen);

        std::vector<std::vector<uint8_t>> random = {noise(320 * 165, rng),
                                                    noise(320 * 165, rng, 3)};
        random.push_back(random.back()); // unchanged: one skip
        expect_round_trip(random, 320, 165, pack, &seen);

        // Odd sizes.
        expect_round_trip({noise(7 * 3, rng), scene(7, 3, 1, 1, 0, rng)}, 7, 3, pack);
    }
    // Pictures as large as the frames hold: runs longer than two size bytes
    // (only packed: raw, the first one would not fit a slot).
    std::vector<std::vector<uint8_t>> big(3, std::vector<uint8_t>(320 * 330));
    for (size_t i = 0; i < big[0].size(); ++i) {
        big[0][i] = uint8_t(i % 2);
        big[1][i] = uint8_t((i + 1) % 2);
    }
    big[2] = big[1];
    expect_round_trip(big, 320, 330, true, &seen);
    // Every opcode, from the alternation switch to the three-byte motion length.
    for (int op = 0; op <= 21; ++op) EXPECT_TRUE(seen.count(op)) << op;
}

// Walks a packed stream and counts its command forms: short, medium and long
// references, literal runs and the stop.
std::array<int, 5> command_forms(const std::vector<uint8_t>& packed) {
    std::array<int, 5> forms{};
    size_t i = 0;
    while (i < packed.size()) {
        uint8_t b0 = packed[i];
        if (b0 < 0x80) {
            ++forms[0];
            i += 2 + (b0 & 3);
        } else if (b0 < 0xC0) {
            ++forms[1];
            i += 3 + (packed[i + 1] >> 6);
        } else if (b0 < 0xE0) {
            ++forms[2];
            i += 4 + (b0 & 3);
        } else if (b0 < 0xFC) {
            ++forms[3];
            i += 1 + size_t((b0 & 0x1F) + 1) * 4;
        } else {
            ++forms[4];
            break;
        }
    }
    return forms;
}

TEST(FormWriter, ImagePackerUsesEveryCommandAndUnpacksExactly) {
    std::mt19937 rng(11);
    std::vector<std::vector<uint8_t>> inputs = {{}, {5}, {1, 2, 3}, noise(5000, rng)};
    // Text-like data with near, middle and far repeats, and one long run.
    std::vector<uint8_t> mixed;
    std::vector<uint8_t> words = noise(40000, rng, 256);
    for (int i = 0; i < 3000; ++i) {
        size_t at = rng() % 30000;
        size_t n = 3 + rng() % 70;
        mixed.insert(mixed.end(), words.begin() + long(at), words.begin() + long(at + n));
        if (i % 500 == 0) mixed.insert(mixed.end(), 900, uint8_t(i));
        if (i % 7 == 0) mixed.push_back(uint8_t(rng()));
    }
    inputs.push_back(mixed);
    std::vector<uint8_t> far = noise(70000, rng);
    far.insert(far.end(), far.begin() + 1000, far.begin() + 1600); // 69000 back
    inputs.push_back(far);
    std::array<int, 5> total{};
    for (const auto& in : inputs) {
        std::vector<uint8_t> packed = pack_form_image(in);
        std::vector<uint8_t> out(in.size() + 16);
        bool fault = true;
        int32_t n = unpack_image(packed.data(), int32_t(packed.size()), out.data(),
                                 int32_t(out.size()), &fault);
        EXPECT_FALSE(fault);
        out.resize(size_t(n));
        EXPECT_EQ(out, in);
        std::array<int, 5> forms = command_forms(packed);
        for (int k = 0; k < 5; ++k) total[size_t(k)] += forms[size_t(k)];
        EXPECT_EQ(forms[4], 1);
    }
    for (int k = 0; k < 4; ++k) EXPECT_GT(total[size_t(k)], 0) << k;
    EXPECT_LT(pack_form_image(mixed).size(), mixed.size() / 2);
}

TEST(FormWriter, OpcodeTreeFollowsTheNodeNumbering) {
    bool fault = true;
    uint8_t out[64];
    // Only the end symbol: one node whose two children both end.
    std::vector<uint8_t> empty = encode_form_opcodes({});
    EXPECT_EQ(empty[0], 1);
    EXPECT_EQ(decode_opcode_tree(empty.data(), int32_t(empty.size()), out, 64, &fault), 0);
    EXPECT_FALSE(fault);
    // 23 symbols need 22 nodes; the root is node 44; frequent opcodes get short codes.
    std::vector<uint8_t> ops;
    for (int op = 0; op <= 21; ++op) ops.push_back(uint8_t(op));
    for (int i = 0; i < 40; ++i) ops.push_back(3);
    std::vector<uint8_t> block = encode_form_opcodes(ops);
    EXPECT_EQ(block[0], 22);
    EXPECT_EQ(decode_opcode_tree(block.data(), int32_t(block.size()), out, 64, &fault),
              int32_t(ops.size()));
    EXPECT_FALSE(fault);
    EXPECT_EQ(std::vector<uint8_t>(out, out + ops.size()), ops);
    // Shorter than a fixed five-bit code for each opcode.
    EXPECT_LT(block.size(), 1 + 44 + ops.size() * 5 / 8);
}

TEST(FormWriter, MoviesReadBackChunkByChunk) {
    form_movie m;
    m.width = 16;
    m.height = 4;
    m.write_size = true;
    for (int i = 0; i < 3; ++i) {
        std::array<uint8_t, 768> p{};
        p[0] = uint8_t(20 * i);
        m.palettes.push_back(p);
    }
    std::mt19937 rng(5);
    for (int f = 0; f < 5; ++f) {
        form_frame frame;
        frame.pixels = noise(64, rng, 4);
        if (f == 2) frame.shot = 2;
        if (f == 3) frame.has_picture = false;
        if (f != 1) frame.sound = {int16_t(f), -1, 300, int16_t(-300 * f)};
        m.frames.push_back(frame);
    }
    movie_bytes movie(write_form_movie(m));
    int32_t w = 0, h = 0;
    ASSERT_EQ(movie.probe(&w, &h), kind_form);
    EXPECT_EQ(w, 16);
    EXPECT_EQ(h, 4);
    ASSERT_EQ(palette_count, 3);
    EXPECT_EQ(palettes[2][0].r, palette_level_table[160]);
    for (int i = 0; i < 10 && !at_end; ++i) read_next_slot();
    ASSERT_EQ(slots_read, 5);
    auto d = std::make_unique<form_decoder>();
    reset_form_decoder(*d);
    std::vector<uint8_t> out(64);
    void* p = out.data();
    for (int f = 0; f < 5; ++f) {
        const FrameSlot& s = slot(f);
        EXPECT_EQ(s.palette_index, f >= 2 ? 2 : 0);
        EXPECT_EQ(s.video_length > 0, f != 3);
        if (f == 1) {
            EXPECT_EQ(s.sound_total, silence_bytes);
        } else {
            ASSERT_EQ(s.sound_total, 8);
            EXPECT_EQ(int16_t(s.sound[6] | s.sound[7] << 8), -300 * f);
        }
        if (s.video_length > 0) {
            EXPECT_TRUE(decode_form_picture_with(*d, 0, 16, 4, &s, &p));
            EXPECT_EQ(out, m.frames[size_t(f)].pixels);
        }
    }
}

// The demo plays whole: every slot read, every picture decodes without a
// fault, the palettes switch, and the sound lasts 5 to 15 seconds.
TEST(FormWriter, DemoMoviesDecodeWhole) {
    for (int variant : {0, 1}) {
        movie_bytes movie(make_form_demo_movie(variant));
        ASSERT_EQ(movie.probe(), kind_form);
        EXPECT_EQ(palette_count, 3);
        auto d = std::make_unique<form_decoder>();
        reset_form_decoder(*d);
        std::vector<uint8_t> out(320 * 165), before;
        void* p = out.data();
        int64_t sound_bytes = 0;
        std::set<int32_t> palettes_used;
        int changed = 0;
        while (!at_end && slots_read < 1000) {
            read_next_slot();
            if (at_end) break;
            const FrameSlot& s = slot(slots_read - 1);
            ASSERT_GT(s.video_length, 0);
            sound_bytes += s.sound_total;
            palettes_used.insert(s.palette_index);
            before = out;
            ASSERT_TRUE(decode_form_picture_with(*d, 0, 320, 165, &s, &p)) << slots_read;
            changed += before != out;
        }
        double seconds = double(sound_bytes) / (2 * 22050);
        EXPECT_GE(seconds, 5.0);
        EXPECT_LE(seconds, 15.0);
        EXPECT_EQ(palettes_used, (std::set<int32_t>{0, 1, 2}));
        EXPECT_EQ(changed, slots_read);
    }
}

} // namespace
