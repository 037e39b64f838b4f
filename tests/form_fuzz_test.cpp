// Random and mutated FORM files and picture payloads: nothing may read or
// write outside a buffer (the sanitizer build checks), every reader call must
// consume input or end the movie, and a damaged picture must not hurt the next.
#include "form_test_support.h"
#include "formats/common/chunk_io.h"
#include "formats/form/form.h"
#include "formats/form/form_picture.h"

#include <gtest/gtest.h>

#include <memory>
#include <random>

using namespace form_test;

namespace {

// Edits bytes at or after `from` (the head of a file is mostly left alone,
// so that most mutated files reach the reader).
std::vector<uint8_t> mutate(std::vector<uint8_t> v, std::mt19937& rng, size_t from = 0) {
    int edits = 1 + int(rng() % 6);
    for (int e = 0; e < edits && v.size() > from; ++e) {
        size_t at = from + rng() % (v.size() - from);
        switch (rng() % 5) {
        case 0:
            v[at] = uint8_t(rng());
            break;
        case 1:
            v[at] ^= uint8_t(1u << (rng() % 8));
            break;
        case 2:
            v.resize(at);
            break;
        case 3:
            v.insert(v.begin() + long(at), uint8_t(rng()));
            break;
        default:
            v.erase(v.begin() + long(at));
            break;
        }
    }
    return v;
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

} // namespace
