#include "bytes.h"
#include "formats/common/chunk_io.h"
#include "formats/schl/schl_internal.h"
#include "movie.h"
#include "schl_writer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <random>
#include <string>

namespace {

std::string temp_path(const char* name) {
    return (std::filesystem::temp_directory_path() /
            (std::string("schl_roundtrip_") + std::to_string(getpid()) + "_" + name))
        .string();
}

// Smooth random samples: a few gradients and bumps, like a picture's.
schl_planes random_planes(std::mt19937& rng, int width, int height) {
    schl_planes p;
    p.width = width;
    p.height = height;
    auto fill = [&](std::vector<int32_t>& v, int w, int h, double base, double spread) {
        v.resize(size_t(w) * h);
        double fx = (rng() % 100) / 400.0, fy = (rng() % 100) / 400.0, phase = rng() % 7;
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                v[size_t(y) * w + x] = int32_t(std::lround(
                    base + spread * std::sin(x * fx + phase) * std::cos(y * fy) + (rng() % 5) - 2));
    };
    fill(p.y, width, height, 66, 45);
    fill(p.cb, width / 2, height / 2, 64, 25);
    fill(p.cr, width / 2, height / 2, 64, 25);
    return p;
}

TEST(SchlRoundTrip, PicturesComeBackWithinTheQuantisationError) {
    std::mt19937 rng(21);
    double squared = 0;
    int count = 0, worst = 0;
    for (int trial = 0; trial < 200; ++trial) {
        schl_planes p = random_planes(rng, 16, 16);
        auto coded = encode_schl_picture(p);
        schl_picture_decoder d{};
        d.plain = true; // keeps the samples whole
        uint16_t frame[256];
        decode_schl_picture_with(d, false, 16, 16, coded.data(), int32_t(coded.size()), frame);
        ASSERT_LE(d.position, coded.size() * 8);
        auto check = [&](const int32_t* decoded, const std::vector<int32_t>& original, int n) {
            for (int i = 0; i < n; ++i) {
                int e = decoded[i] - original[i];
                squared += e * e;
                ++count;
                worst = std::max(worst, std::abs(e));
            }
        };
        check(d.luma, p.y, 256);
        check(d.cb, p.cb, 64);
        check(d.cr, p.cr, 64);
    }
    // Levels are rounded to whole steps of 4 / (transform gain): RMS about
    // 4 / sqrt(12), plus the final shift's rounding down.
    EXPECT_LT(std::sqrt(squared / count), 1.6);
    EXPECT_LE(worst, 5);
}

TEST(SchlRoundTrip, CoarserCodingIsSmallerAndStillClose) {
    std::mt19937 rng(4);
    auto rgb = make_schl_scene(96, 96, 0.5);
    auto planes = schl_planes_from_rgb(rgb.data(), 96, 96);
    auto fine = encode_schl_picture(planes, {0});
    auto coarse = encode_schl_picture(planes, {3});
    EXPECT_LT(coarse.size(), fine.size());
    for (const auto* coded : {&fine, &coarse}) {
        std::vector<uint16_t> frame(96 * 96);
        schl_picture_decoder d{};
        decode_schl_picture_with(d, false, 96, 96, coded->data(), int32_t(coded->size()),
                                 frame.data());
        // Compare the 5-bit channels with the source picture's.
        double total = 0;
        for (int i = 0; i < 96 * 96; ++i) {
            int r = frame[i] >> 10 & 31, g = frame[i] >> 5 & 31, b = frame[i] & 31;
            total += std::abs(r - rgb[3 * i] * 31 / 255.0) +
                     std::abs(g - rgb[3 * i + 1] * 31 / 255.0) +
                     std::abs(b - rgb[3 * i + 2] * 31 / 255.0);
        }
        EXPECT_LT(total / (3 * 96 * 96), coded == &fine ? 1.0 : 1.5);
    }
}

std::vector<int16_t> decode_sound(const std::vector<uint8_t>& coded, bool stereo, uint32_t s0,
                                  uint32_t s1) {
    schl_sound_decoder d{};
    seed_schl_sound_with(d, s0, s1);
    std::vector<uint8_t> out(coded.size() / (stereo ? 30 : 15) * (stereo ? 112 : 56));
    if (stereo)
        decode_schl_stereo_with(d, coded.data(), out.data(), int32_t(coded.size()));
    else
        decode_schl_mono_with(d, coded.data(), out.data(), int32_t(coded.size()));
    std::vector<int16_t> s(out.size() / 2);
    for (size_t i = 0; i < s.size(); ++i) s[i] = int16_t(out[2 * i] | out[2 * i + 1] << 8);
    return s;
}

TEST(SchlRoundTrip, SoundComesBackWithinTheAdpcmError) {
    for (bool stereo : {false, true}) {
        const int frames = 28 * 200, channels = stereo ? 2 : 1;
        std::vector<int16_t> pcm(size_t(frames) * channels);
        for (int i = 0; i < frames; ++i)
            for (int c = 0; c < channels; ++c)
                pcm[size_t(i) * channels + c] =
                    int16_t(12000 * std::sin(i * (0.05 + 0.03 * c)) + 3000 * std::sin(i * 0.31) +
                            (i > frames / 2 ? 20000 * std::sin(i * 0.01) : 0));
        schl_sound_history h;
        h.last[0] = 500; // a chunk that follows another starts from its history
        uint32_t s0 = h.seed(0), s1 = h.seed(1);
        auto coded = encode_schl_sound(pcm.data(), frames, stereo, h);
        ASSERT_EQ(coded.size(), size_t(frames / 28 * (stereo ? 30 : 15)));
        auto back = decode_sound(coded, stereo, s0, s1);
        ASSERT_EQ(back.size(), pcm.size());
        double signal = 0, noise = 0;
        for (size_t i = 0; i < pcm.size(); ++i) {
            signal += double(pcm[i]) * pcm[i];
            noise += double(back[i] - pcm[i]) * (back[i] - pcm[i]);
        }
        EXPECT_GT(10 * std::log10(signal / noise), 25.0) << stereo;
        // The encoder's history is the decoder's: the next chunk's seeds.
        EXPECT_EQ(h.last[0], back[back.size() - channels]);
        EXPECT_EQ(h.before[channels - 1], back[back.size() - 2 * channels + channels - 1]);
    }
}

struct temp_movie {
    std::string path;
    ~temp_movie() {
        if (movie_file) fclose(movie_file);
        movie_file = nullptr;
        std::filesystem::remove(path);
    }
};

int32_t open_written(temp_movie& m, const std::vector<uint8_t>& bytes, bool doubled = false,
                     int32_t offset = 0) {
    reset_movie_state();
    EXPECT_TRUE(write_file(m.path, bytes));
    EXPECT_TRUE(open_movie_file(m.path.c_str()));
    return open_movie(player_options{m.path.c_str(), doubled, true, offset});
}

TEST(SchlRoundTrip, WrittenMoviesPlayThroughTheReader) {
    std::mt19937 rng(77);
    for (bool stereo : {false, true}) {
        schl_movie_content movie;
        movie.width = 48;
        movie.height = 32;
        movie.stereo = stereo;
        movie.padding_chunks = stereo;
        for (int i = 0; i < 25; ++i)
            movie.pictures.push_back(encode_schl_picture(random_planes(rng, 48, 32)));
        const int channels = stereo ? 2 : 1;
        const int frames = movie.frames_per_slot * 22 + 100; // the last slot is padded
        for (int i = 0; i < frames * channels; ++i)
            movie.sound.push_back(int16_t(8000 * std::sin(i * 0.02)));
        temp_movie m{temp_path("movie")};
        ASSERT_EQ(open_written(m, write_schl_movie(movie)), kind_schl);
        EXPECT_EQ(movie_width, 48);
        EXPECT_EQ(movie_height, 32);
        EXPECT_EQ(movie_stereo, stereo);
        std::vector<int16_t> heard;
        int slots = 0;
        for (int guard = 0; guard < 100 && !at_end; ++guard) {
            read_next_slot();
            if (at_end) break;
            const FrameSlot& s = slot_ring[slots % ring_size];
            ASSERT_EQ(s.video_length, int32_t(movie.pictures[slots].size())) << slots;
            // The player's decoder draws what the coded picture holds.
            decode_slot_picture(&s);
            std::vector<uint16_t> expected(48 * 32);
            schl_picture_decoder d{};
            decode_schl_picture_with(d, false, 48, 32, movie.pictures[slots].data(),
                                     int32_t(movie.pictures[slots].size()), expected.data());
            ASSERT_EQ(0, memcmp(frame_pixels, expected.data(), expected.size() * 2)) << slots;
            if (slots < 23) {
                EXPECT_EQ(s.sound_total, movie.frames_per_slot / 28 * 28 * 2 * channels);
                for (int i = 0; i < s.sound_total / 2; ++i)
                    heard.push_back(int16_t(s.sound[2 * i] | s.sound[2 * i + 1] << 8));
            } else {
                EXPECT_EQ(s.sound_total, silence_bytes);
            }
            ++slots;
        }
        EXPECT_TRUE(at_end);
        EXPECT_EQ(slots, 25);
        double noise = 0, signal = 0;
        for (size_t i = 0; i < size_t(frames * channels); ++i) {
            noise += std::pow(heard[i] - movie.sound[i], 2);
            signal += std::pow(movie.sound[i], 2);
        }
        EXPECT_GT(10 * std::log10(signal / noise), 30.0);
    }
}

TEST(SchlRoundTrip, DoubledPlaybackDrawsEvenRowsOnly) {
    std::mt19937 rng(5);
    schl_movie_content movie;
    movie.width = 32;
    movie.height = 16;
    movie.pictures.push_back(encode_schl_picture(random_planes(rng, 32, 16)));
    temp_movie m{temp_path("doubled")};
    ASSERT_EQ(open_written(m, write_schl_movie(movie), true), kind_schl);
    ASSERT_EQ(movie_width, 64);
    ASSERT_EQ(movie_height, 32);
    read_next_slot();
    decode_slot_picture(&slot_ring[0]);
    std::vector<uint16_t> plain(32 * 16);
    schl_picture_decoder d{};
    decode_schl_picture_with(d, false, 32, 16, movie.pictures[0].data(),
                             int32_t(movie.pictures[0].size()), plain.data());
    const uint16_t* frame = reinterpret_cast<const uint16_t*>(frame_pixels);
    for (int y = 0; y < 32; ++y)
        for (int x = 0; x < 64; ++x)
            ASSERT_EQ(frame[y * 64 + x], y % 2 ? 0 : plain[(y / 2) * 32 + x / 2]) << y << " " << x;
}

TEST(SchlRoundTrip, DemoArchiveHoldsThreePlayableMovies) {
    auto archive = make_schl_demo_archive();
    temp_movie m{temp_path("archive.tre")};
    uint32_t count = load_le32(archive.data());
    ASSERT_EQ(count, 4u);
    int movies = 0;
    for (uint32_t i = 0; i < count; ++i) {
        const uint8_t* entry = archive.data() + 16 + 272 * i;
        int32_t offset = int32_t(load_le32(entry + 8));
        std::string name = reinterpret_cast<const char*>(entry + 16);
        int32_t kind = open_written(m, archive, false, offset);
        if (name == "readme.txt") {
            EXPECT_EQ(kind, kind_none);
            continue;
        }
        ASSERT_EQ(kind, kind_schl) << name;
        ++movies;
        EXPECT_EQ(movie_stereo, name.find("stereo") != std::string::npos) << name;
        EXPECT_EQ(movie_width, name.find("wide") != std::string::npos ? 160 : 96);
        int pictures = 0, sound = 0;
        for (int guard = 0; guard < 200 && !at_end; ++guard) {
            read_next_slot();
            if (at_end) break;
            const FrameSlot& s = slot_ring[(slots_read - 1) % ring_size];
            pictures += s.video_length > 0;
            sound += s.sound_total;
        }
        EXPECT_TRUE(at_end);
        EXPECT_GE(pictures, 40) << name; // about three seconds
        EXPECT_GE(sound, 3 * 22050 * 2 * (movie_stereo ? 2 : 1) * 9 / 10) << name;
        fclose(movie_file);
        movie_file = nullptr;
    }
    EXPECT_EQ(movies, 3);
}

} // namespace
