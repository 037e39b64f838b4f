#include "bytes.h"
#include "formats/schl/schl_internal.h"
#include "movie.h"
#include "schl_writer.h"

#include "mutation.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <random>
#include <string>

namespace {

std::string temp_path() {
    return (std::filesystem::temp_directory_path() /
            ("schl_fuzz_" + std::to_string(getpid()) + ".mov"))
        .string();
}

std::vector<uint8_t> small_movie(std::mt19937& rng, bool stereo) {
    schl_movie_content movie;
    movie.width = 32;
    movie.height = 32;
    movie.stereo = stereo;
    movie.padding_chunks = true;
    movie.frames_per_slot = 28 * 6;
    for (int i = 0; i < 4; ++i) {
        schl_planes p;
        p.width = p.height = 32;
        p.y.assign(32 * 32, 60);
        p.cb.assign(16 * 16, 64);
        p.cr.assign(16 * 16, 64);
        for (auto& v : p.y) v = int32_t(rng() % 120);
        movie.pictures.push_back(encode_schl_picture(p));
    }
    for (int i = 0; i < 28 * 6 * 5 * (stereo ? 2 : 1); ++i) movie.sound.push_back(int16_t(rng()));
    return write_schl_movie(movie);
}

void mutate(std::mt19937& rng, std::vector<uint8_t>& bytes) {
    mutation_plan plan;
    plan.tags = {"SCHl", "SCCl", "pIQT", "SCDl", "SCEl", "XXXX"};
    plan.values32 = {0, 7, 8, 15, 16, 19, 20, 0xFFFFFFFF, 0x7FFFFFFF, 100016};
    plan.most_edits = 8;
    bytes = mutate_bytes(std::move(bytes), rng, plan);
}

// Opens the bytes, reads to the end (which must come within the file's
// length in calls) and shows every slot's picture, plain and doubled.
void play(const std::string& path, const std::vector<uint8_t>& bytes, bool doubled,
          uint8_t stereo) {
    reset_movie_state();
    ASSERT_TRUE(write_file(path, bytes));
    ASSERT_TRUE(open_movie_file(path.c_str()));
    movie_stereo = stereo;
    if (open_movie(player_options{path.c_str(), doubled, true, 0}) == kind_schl) {
        // Every call consumes at least 8 bytes or ends the movie.
        const int limit = int(bytes.size()) / 8 + 2;
        int calls = 0;
        while (!at_end && calls++ < limit) {
            read_next_slot();
            if (at_end) break;
            const FrameSlot& s = slot_ring[(slots_read - 1) % ring_size];
            ASSERT_GE(s.sound_total, 0);
            ASSERT_LE(s.sound_total, sound_capacity);
            ASSERT_LE(s.video_length, video_capacity);
            if (movie_width > 0 && movie_height > 0 && s.video_length > 0) decode_slot_picture(&s);
        }
        ASSERT_TRUE(at_end) << "reader still going after " << limit << " calls";
    }
    fclose(movie_file);
    movie_file = nullptr;
}

TEST(SchlFuzz, MutatedMoviesEndAndStayInsideTheirBuffers) {
    std::mt19937 rng(1234);
    const std::string path = temp_path();
    std::vector<uint8_t> seeds[2] = {small_movie(rng, false), small_movie(rng, true)};
    for (int trial = 0; trial < 300; ++trial) {
        std::vector<uint8_t> bytes = seeds[trial % 2];
        mutate(rng, bytes);
        play(path, bytes, trial % 3 == 0, uint8_t(trial % 2));
    }
    std::filesystem::remove(path);
}

TEST(SchlFuzz, RandomFilesEndAndStayInsideTheirBuffers) {
    std::mt19937 rng(99);
    const std::string path = temp_path();
    for (int trial = 0; trial < 200; ++trial) {
        byte_builder b;
        b.tag(trial % 3 == 0 ? "pIQT" : "SCHl");
        int n = int(rng() % 2000);
        for (int i = 0; i < n; ++i) b.u8(rng() % 4 ? rng() % 32 : rng());
        // Sprinkle chunk tags so that the walk gets past the header.
        for (int k = 0; k < 6 && b.size() > 8; ++k) {
            static const char* tags[] = {"SCCl", "pIQT", "SCDl", "SCHl"};
            memcpy(&b.bytes[4 + rng() % (b.size() - 8)], tags[rng() % 4], 4);
        }
        play(path, b.bytes, trial % 4 == 0, 0);
    }
    std::filesystem::remove(path);
}

TEST(SchlFuzz, PictureDecoderReadsOnlyItsInput) {
    std::mt19937 rng(7);
    for (int trial = 0; trial < 400; ++trial) {
        // Exactly sized buffers, so that a read past the end is caught.
        std::vector<uint8_t> coded(rng() % 600);
        for (auto& b : coded) b = uint8_t(trial % 2 ? rng() : (rng() % 3 ? 0xFF : 0));
        const bool doubled = trial % 3 == 0;
        int w = 16 * int(rng() % 5), h = 16 * int(rng() % 5);
        if (doubled) w *= 2, h *= 2;
        w += int(rng() % 3); // sizes that are not whole macroblocks
        std::vector<uint16_t> frame(size_t(w) * h + 1, 0);
        schl_picture_decoder d{};
        d.plain = trial % 5 == 0;
        decode_schl_picture_with(d, doubled, w, h, coded.empty() ? nullptr : coded.data(),
                                 int32_t(coded.size()), frame.data());
        EXPECT_EQ(frame.back(), 0);
    }
}

TEST(SchlFuzz, SoundDecodersTakeAnyBytes) {
    std::mt19937 rng(3);
    for (int trial = 0; trial < 200; ++trial) {
        const int blocks = int(rng() % 40);
        const bool stereo = trial % 2;
        std::vector<uint8_t> coded(size_t(blocks) * (stereo ? 30 : 15));
        for (auto& b : coded) b = uint8_t(rng());
        std::vector<uint8_t> out(size_t(blocks) * (stereo ? 112 : 56));
        schl_sound_decoder d{};
        seed_schl_sound_with(d, uint32_t(rng()), uint32_t(rng()));
        if (stereo)
            decode_schl_stereo_with(d, coded.data(), out.data(), int32_t(coded.size()));
        else
            decode_schl_mono_with(d, coded.data(), out.data(), int32_t(coded.size()));
        for (int c = 0; c < 2; ++c) {
            EXPECT_GE(d.h1[c], -32768);
            EXPECT_LE(d.h1[c], 32767);
        }
    }
}

} // namespace
