// Random and mutated FORM files and picture payloads: nothing may read or
// write outside a buffer (the sanitizer build checks), every reader call must
// consume input or end the movie, and a damaged picture must not hurt the next.
#include "form_test_support.h"
#include "form_writer.h"
#include "formats/common/chunk_io.h"
#include "formats/common/lz.h"
#include "formats/form/form.h"
#include "formats/form/form_picture.h"

#include "mutation.h"

#include <gtest/gtest.h>

#include <memory>
#include <random>

using namespace form_test;

namespace {

// FORM sizes are big-endian; most edits leave the head alone so that the
// damaged file still reaches the reader.
std::vector<uint8_t> mutate(const std::vector<uint8_t>& v, std::mt19937& rng, size_t from = 0) {
    mutation_plan plan;
    plan.from = from;
    plan.big_endian = true;
    plan.tags = {"FORM", "VGA ", "AUDI", "SHOT", "PALT", "SIZE", "_PC_"};
    plan.values32 = {1, 3, 4, 768, 40000, 40001, 100000, 100001};
    return mutate_bytes(v, rng, plan);
}

// A small valid movie: palettes, pictures, shots, sounds, an unknown chunk.
std::vector<uint8_t> sample_movie(std::mt19937& rng) {
    byte_builder b = form_head();
    for (int i = 0; i < 3; ++i) b.tag("PALT").be32(768).raw(filled(768, uint8_t(i)));
    for (int f = 0; f < 6; ++f) {
        if (f % 2) body_chunk(b, "SHOT", {uint8_t(f % 3), 0, 0, 0});
        std::vector<uint8_t> pic =
            payload(chain_block({0, 2, 12, 1, 9}), {3}, {0x10}, {0, uint8_t(rng()), 1, 2});
        body_chunk(b, "VGA ", pic);
        if (f == 3) body_chunk(b, "MISC", {1, 2, 3});
        if (f != 4) body_chunk(b, "AUDI", filled(size_t(2 * (f + 1)), uint8_t(f)));
    }
    return b.bytes;
}

TEST(FormFuzz, DamagedFilesNeverSpinOrOverflow) {
    std::mt19937 rng(1234);
    int played = 0;
    for (int iteration = 0; iteration < 600; ++iteration) {
        std::vector<uint8_t> bytes;
        if (iteration % 8 == 0) {
            bytes = filled(rng() % 300, uint8_t(rng()));
            memcpy(bytes.data(), "FORM", std::min<size_t>(4, bytes.size()));
        } else {
            // The head and three palettes end at 2352.
            bytes = mutate(sample_movie(rng), rng, iteration % 4 ? 2352 : 0);
        }
        movie_bytes m(bytes);
        if (m.probe() == kind_none) continue;
        ++played;
        auto decoder = std::make_unique<form_decoder>();
        reset_form_decoder(*decoder);
        std::vector<uint8_t> out(320 * 165);
        void* pixels = out.data();
        for (int call = 0; call < 200 && !at_end; ++call) {
            int64_t before = file_position();
            int32_t count = slots_read;
            read_next_slot();
            ASSERT_TRUE(at_end || file_position() > before) << iteration;
            if (at_end) break;
            ASSERT_EQ(slots_read, count + 1);
            const FrameSlot& s = slot(count);
            ASSERT_LE(s.video_length, video_capacity);
            ASSERT_LE(s.sound_total, sound_capacity);
            ASSERT_GE(s.palette_index, 0);
            ASSERT_LT(s.palette_index, std::max(palette_count, 1));
            if (s.video_length > 0) decode_form_picture_with(*decoder, 0, 320, 165, &s, &pixels);
        }
        ASSERT_TRUE(at_end) << iteration;
    }
    EXPECT_GT(played, 300);
}

TEST(FormFuzz, DamagedPayloadsStayInsideTheirBuffers) {
    std::mt19937 rng(99);
    reset_movie_state();
    auto normal = std::make_unique<form_decoder>();
    auto doubled = std::make_unique<form_decoder>();
    reset_form_decoder(*normal);
    reset_form_decoder(*doubled);
    std::vector<uint8_t> out(320 * 165), big(640 * 330);
    void* p = out.data();
    void* q = big.data();
    std::vector<uint8_t> pixels(320 * 165);
    for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = uint8_t(i % 251);
    std::vector<uint8_t> image_block = {0};
    image_block.insert(image_block.end(), pixels.begin(), pixels.end());
    const std::vector<uint8_t> good =
        payload(chain_block({0, 11}), {0x00, 0xCE, 0x40}, {}, image_block);
    std::vector<uint8_t> packed_block = {2,    0xE0, 1,    2,    3, 4,    0xDF, 0xFF, 0xFF,
                                         0xFF, 0x81, 0x40, 0x03, 7, 0x00, 0x00, 0xFD, 9};
    const std::vector<uint8_t> packed = payload(chain_block({0, 9, 19, 12, 0, 2, 13, 20}),
                                                {200, 0, 3, 0}, {0x11, 0xFF, 0x0F}, packed_block);
    for (int iteration = 0; iteration < 3000; ++iteration) {
        std::vector<uint8_t> bytes;
        switch (iteration % 3) {
        case 0:
            bytes = mutate(packed, rng);
            break;
        case 1:
            bytes = mutate(good, rng);
            break;
        default:
            bytes.resize(rng() % 400);
            for (uint8_t& b : bytes) b = uint8_t(rng() % 4 ? rng() % 24 : rng());
            for (size_t i = 0; i + 1 < std::min<size_t>(8, bytes.size()); i += 2) {
                bytes[i] = uint8_t(8 + rng() % (bytes.size() + 8));
                bytes[i + 1] = 0;
            }
            break;
        }
        put_slot(slot_ring[0], bytes);
        decode_form_picture_with(*normal, 0, 320, 165, &slot_ring[0], &p);
        decode_form_picture_with(*doubled, 1, 640, 330, &slot_ring[0], &q);
    }
    // The next good picture decodes whole.
    put_slot(slot_ring[0], good);
    EXPECT_TRUE(decode_form_picture_with(*normal, 0, 320, 165, &slot_ring[0], &p));
    EXPECT_EQ(out, pixels);
}

// The tree walk exactly as described, one bit per step, for comparison with
// the decoder's faster walk.
std::vector<uint8_t> plain_tree_walk(const std::vector<uint8_t>& block, bool* fault) {
    std::vector<uint8_t> out;
    *fault = true;
    if (block.empty()) return out;
    size_t n = block[0];
    if (block.size() < 1 + 2 * n) return out;
    size_t root = (n + 22) % 256, node = root;
    for (size_t i = 1 + 2 * n; i < block.size(); ++i)
        for (int b = 0; b < 8; ++b) {
            if (node < 23 || node - 23 >= n) return out;
            size_t child = block[(block[i] >> b & 1 ? 1 + n : 1) + node - 23];
            if (child < 22) {
                out.push_back(uint8_t(child));
                node = root;
            } else if (child == 22) {
                *fault = false;
                return out;
            } else {
                node = child;
            }
        }
    return out;
}

TEST(FormFuzz, FastTreeWalkAgreesWithThePlainOne) {
    std::mt19937 rng(5);
    std::vector<uint8_t> out(form_frame_capacity);
    for (int iteration = 0; iteration < 4000; ++iteration) {
        size_t n = iteration % 50 == 0 ? rng() % 256 : rng() % 23;
        std::vector<uint8_t> block = {uint8_t(n)};
        for (size_t i = 0; i < 2 * n; ++i)
            block.push_back(uint8_t(rng() % 5 ? rng() % (n + 24) : rng()));
        size_t bits = rng() % 64;
        for (size_t i = 0; i < bits; ++i) block.push_back(uint8_t(rng()));
        bool want_fault, fault;
        std::vector<uint8_t> want = plain_tree_walk(block, &want_fault);
        int32_t count = decode_opcode_tree(block.data(), int32_t(block.size()), out.data(),
                                           int32_t(out.size()), &fault);
        ASSERT_EQ(std::vector<uint8_t>(out.begin(), out.begin() + count), want) << iteration;
        ASSERT_EQ(fault, want_fault) << iteration;
    }
}

// The command loop written plainly, byte by byte, with a fault on any read
// or write out of bounds, for comparison with unpack_image.
std::vector<uint8_t> plain_unpack(const std::vector<uint8_t>& src, size_t capacity, bool* fault) {
    std::vector<uint8_t> out;
    *fault = true;
    size_t i = 0;
    auto take = [&](size_t n, std::vector<uint8_t>* to) {
        if (i + n > src.size()) return false;
        if (to) {
            if (to->size() + n > capacity) return false;
            to->insert(to->end(), src.begin() + long(i), src.begin() + long(i + n));
        }
        i += n;
        return true;
    };
    while (i < src.size()) {
        size_t b0 = src[i], lit, len = 0, dist = 0, at = i + 1;
        size_t further = b0 < 0x80 ? 1 : b0 < 0xC0 ? 2 : b0 < 0xE0 ? 3 : 0;
        if (!take(1 + further, nullptr)) return out;
        if (b0 < 0x80) {
            lit = b0 & 3, len = ((b0 >> 2) & 7) + 3, dist = ((b0 & 0x60) << 3) + src[at] + 1;
        } else if (b0 < 0xC0) {
            lit = src[at] >> 6, len = (b0 & 0x3F) + 4;
            dist = ((src[at] & 0x3Fu) << 8) + src[at + 1] + 1;
        } else if (b0 < 0xE0) {
            lit = b0 & 3, len = ((b0 & 0x0C) << 6) + src[at + 2] + 5;
            dist = ((b0 & 0x10) << 12) + (size_t(src[at]) << 8) + src[at + 1] + 1;
        } else {
            lit = b0 < 0xFC ? ((b0 & 0x1F) + 1) * 4 : b0 & 3;
        }
        if (!take(lit, &out)) return out;
        if (b0 >= 0xFC) {
            *fault = false;
            return out;
        }
        if (len) {
            if (dist > out.size() || out.size() + len > capacity) return out;
            for (size_t k = 0; k < len; ++k) out.push_back(out[out.size() - dist]);
        }
    }
    return out;
}

TEST(FormFuzz, UnpackImageAgreesWithThePlainLoop) {
    std::mt19937 rng(8);
    for (int iteration = 0; iteration < 4000; ++iteration) {
        // Every other pair of streams is long enough for the unpacker's fast
        // loop: mostly back references, or a picture-like image with repeats.
        bool long_stream = iteration % 4 >= 2;
        std::vector<uint8_t> src(rng() % (long_stream ? 3000 : 200));
        for (uint8_t& b : src)
            b = uint8_t(rng() % 3                  ? rng() % 8
                        : long_stream && rng() % 2 ? 0x80 + rng() % 96
                                                   : rng());
        if (iteration % 2) {
            std::vector<uint8_t> image =
                filled(rng() % (long_stream ? 6000 : 400), uint8_t(rng() % 3));
            // Runs repeated from near or far, between runs of new bytes.
            for (size_t i = 40, n; i < image.size(); i += n) {
                n = std::min<size_t>(image.size() - i, 1 + rng() % 60);
                size_t from = i - 1 - rng() % (rng() % 2 ? 20 : i);
                for (size_t k = 0; k < n && rng() % 4; ++k) image[i + k] = image[from + k];
            }
            src = pack_form_image(image);
        }
        if (iteration % 4 == 1 || (long_stream && iteration % 8 >= 5)) src = mutate(src, rng);
        size_t capacity = rng() % (long_stream ? 7000 : 500);
        std::vector<uint8_t> dst(capacity);
        bool want_fault, fault;
        std::vector<uint8_t> want = plain_unpack(src, capacity, &want_fault);
        int32_t n =
            unpack_image(src.data(), int32_t(src.size()), dst.data(), int32_t(capacity), &fault);
        ASSERT_EQ(std::vector<uint8_t>(dst.begin(), dst.begin() + n), want) << iteration;
        ASSERT_EQ(fault, want_fault) << iteration;
    }
}

TEST(FormFuzz, MutatedWriterPicturesStayInsideTheirBuffers) {
    std::mt19937 rng(21);
    reset_movie_state();
    std::vector<std::vector<uint8_t>> pictures;
    std::vector<uint8_t> a(320 * 165), b(320 * 165);
    for (size_t i = 0; i < a.size(); ++i) {
        a[i] = uint8_t((i % 320) / 9 + (i / 320) / 4);
        b[i] = i % 320 > 3 ? a[i - 2] : uint8_t(rng());
    }
    pictures.push_back(encode_form_picture({}, a, 320, 165));
    pictures.push_back(encode_form_picture(a, b, 320, 165));
    pictures.push_back(encode_form_picture(a, b, 320, 165, false));
    auto d = std::make_unique<form_decoder>();
    reset_form_decoder(*d);
    std::vector<uint8_t> out(320 * 165);
    void* p = out.data();
    for (int iteration = 0; iteration < 600; ++iteration) {
        put_slot(slot_ring[0], mutate(pictures[size_t(iteration) % 3], rng, 8));
        decode_form_picture_with(*d, 0, 320, 165, &slot_ring[0], &p);
    }
    // A picture coded against what is on screen now decodes exactly.
    put_slot(slot_ring[0], encode_form_picture(out, a, 320, 165));
    EXPECT_TRUE(decode_form_picture_with(*d, 0, 320, 165, &slot_ring[0], &p));
    EXPECT_EQ(out, a);
}

} // namespace
