// Random and damaged input for the SEAD reader and picture decoder: nothing
// may read or write outside a buffer (the sanitizer build checks), every
// reader call consumes input or ends the movie, and a dropped picture leaves
// the output as it was.
#include "mutation.h"
#include "sead_test_support.h"

#include <memory>
#include <random>

namespace {

std::vector<uint8_t> mutate(const std::vector<uint8_t>& v, std::mt19937& rng) {
    mutation_plan plan;
    plan.tags = {"SEAD", "SNDC", "SEND", "kVGT", "fVGT", "XXXX"};
    plan.values16 = {0, 1, 0x7FFF, 0x8000, 0xFFFF, 16384, 16385, 12, 13, 32};
    plan.values32 = {0, 7, 8, 9, 0xFFFFFFFF, 0x80000000, 100008, 10008, 12};
    return mutate_bytes(v, rng, plan);
}

std::vector<uint8_t> random_bytes(std::mt19937& rng, size_t max) {
    std::vector<uint8_t> v(rng() % (max + 1));
    for (auto& b : v) b = uint8_t(rng());
    return v;
}

std::vector<sead_movie_frame> scene(int w, int h, int count) {
    auto frames = scene_frames(w, h, count, [](int x, int y, int t) {
        return (x + t) / 3 % 5 + ((x * y + t) % 17 == 0) * 40;
    });
    for (int t = 0; t < count; ++t) {
        frames[size_t(t)].palette[0] = uint8_t(t / 4);
        frames[size_t(t)].sound.assign(2 * 50, int16_t(t * 100));
    }
    return frames;
}

// Picture bodies the writer makes for one size: a key frame and block frames.
std::vector<std::vector<uint8_t>> valid_bodies(int w, int h) {
    auto frames = scene(w, h, 4);
    std::vector<std::vector<uint8_t>> bodies;
    bodies.push_back(write_sead_key_frame(w, h, frames[0].palette, frames[0].image.data()));
    for (size_t t = 1; t < frames.size(); ++t)
        bodies.push_back(write_sead_block_frame(
            search_sead_block_frame(frames[t - 1].image.data(), frames[t].image.data(), w, h)));
    return bodies;
}

TEST(SeadFuzz, PictureDecoderStaysInsideItsBuffers) {
    std::mt19937 rng(1234);
    struct size_case {
        int w, h;
    };
    const size_case sizes[] = {{16, 8}, {96, 64}, {18, 9}, {12, 4}, {320, 160}};
    auto d = std::make_unique<sead_picture_decoder>();
    int shown_count = 0, total = 0;
    for (const size_case& sc : sizes) {
        auto bodies = valid_bodies(sc.w, sc.h);
        int iterations = sc.w * sc.h > 10000 ? 400 : 3000;
        for (int i = 0; i < iterations; ++i, ++total) {
            bool doubled = rng() % 3 == 0;
            std::vector<uint8_t> body;
            switch (rng() % 4) {
            case 0:
                body = random_bytes(rng, 3000);
                break;
            case 1: {
                // A random block frame header over random sections.
                body = random_bytes(rng, 2000);
                body.resize(std::max<size_t>(body.size(), 12));
                body[1] = body[3] = body[5] = 0;
                body[6] = uint8_t(rng() % 14), body[7] = 0;
                break;
            }
            default:
                body = mutate(bodies[rng() % bodies.size()], rng);
                break;
            }
            int32_t w = doubled ? 2 * sc.w : sc.w, h = doubled ? 2 * sc.h : sc.h;
            std::vector<uint8_t> out(size_t(w * h) + 64, 0xEE);
            std::vector<uint8_t> before = out;
            // The body sits in a buffer of its exact length.
            auto exact = std::make_unique<uint8_t[]>(std::max<size_t>(body.size(), 1));
            std::copy(body.begin(), body.end(), exact.get());
            bool shown = decode_sead_picture_with(*d, doubled, w, h, exact.get(),
                                                  int32_t(body.size()), out.data());
            if (!shown) {
                ASSERT_EQ(out, before);
            }
            shown_count += shown;
            for (size_t g = size_t(w * h); g < out.size(); ++g) ASSERT_EQ(out[g], 0xEE);
            // Valid bodies keep decoding after damaged ones.
            if (i % 50 == 0) {
                auto& good = bodies[0];
                ASSERT_TRUE(decode_sead_picture_with(*d, doubled, w, h, good.data(),
                                                     int32_t(good.size()), out.data()));
            }
        }
    }
    // Both outcomes are exercised: some damaged pictures still decode.
    EXPECT_GT(shown_count, total / 20);
    EXPECT_LT(shown_count, total - total / 20);
}

TEST(SeadFuzz, ReaderEndsEveryDamagedMovie) {
    std::mt19937 rng(99);
    auto good = write_sead_movie(32, 16, scene(32, 16, 6));
    sead_movie_on_disk m("fuzz");
    for (int i = 0; i < 250; ++i) {
        std::vector<uint8_t> file;
        switch (i % 4) {
        case 0: {
            byte_builder b;
            add_chunk(b, "SEAD", {});
            b.raw(random_bytes(rng, 400));
            file = b.bytes;
            break;
        }
        case 1: {
            // Chunk heads with random tags and sizes.
            byte_builder b;
            add_chunk(b, "SEAD", {});
            add_chunk(b, "KVGT",
                      byte_builder().le16(rng() % 64).le16(rng() % 64).zeros(rng() % 30).bytes);
            static const char* tags[] = {"SNDC", "KVGT", "xVGT", "SEND", "JUNK", "SEAD"};
            for (int c = 0; c < 20; ++c) {
                b.tag(tags[rng() % 6]).le32(uint32_t(rng() % 3 == 0 ? rng() : rng() % 200));
                b.raw(random_bytes(rng, 150));
            }
            file = b.bytes;
            break;
        }
        default:
            file = mutate(good, rng);
            break;
        }
        bool doubled = rng() % 2;
        if (m.open(file, doubled) != kind_sead) continue;
        int calls = 0;
        while (!at_end) {
            long before = ftell(movie_file);
            int32_t filled = slots_read;
            read_next_slot();
            ++calls;
            ASSERT_LE(calls, int(file.size()) / 8 + 4);
            if (at_end) break;
            ASSERT_EQ(slots_read, filled + 1);
            ASSERT_GT(ftell(movie_file), before);
            const FrameSlot& s = slot_ring[filled % ring_size];
            ASSERT_GE(s.sound_total, 0);
            ASSERT_LE(s.sound_total, sound_capacity);
            ASSERT_EQ(s.sound_left, s.sound_total);
            ASSERT_LE(s.video_length, video_capacity);
            if (s.video_length > 0 && movie_width > 0 && movie_height > 0) decode_slot_picture(&s);
        }
        EXPECT_EQ(last_slot, slots_read - 1);
    }
}

} // namespace
