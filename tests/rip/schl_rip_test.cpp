#include "archive_writer.h"
#include "bytes.h"
#include "formats/schl/schl.h"
#include "rip.h"
#include "rip_test_support.h"
#include "schl_writer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>

namespace {

schl_movie_content small_movie(bool stereo) {
    schl_movie_content movie;
    movie.width = 48;
    movie.height = 32;
    movie.stereo = stereo;
    movie.frames_per_slot = 28 * 20;
    for (int i = 0; i < 6; ++i) {
        auto rgb = make_schl_scene(48, 32, i * 0.3);
        movie.pictures.push_back(encode_schl_picture(schl_planes_from_rgb(rgb.data(), 48, 32)));
    }
    for (int i = 0; i < 28 * 20 * 5 * (stereo ? 2 : 1); ++i)
        movie.sound.push_back(int16_t(6000 * std::sin(i * 0.03)));
    return movie;
}

// What the pictures must look like: our decoder's pixels, each 5-bit field
// widened to 8 bits as reelrip does.
std::vector<uint8_t> expected_rgb(const std::vector<uint8_t>& coded, int w, int h, bool doubled) {
    std::vector<uint16_t> frame(size_t(w) * h * (doubled ? 4 : 1), 0);
    schl_picture_decoder d{};
    decode_schl_picture_with(d, doubled, doubled ? 2 * w : w, doubled ? 2 * h : h, coded.data(),
                             int32_t(coded.size()), frame.data());
    std::vector<uint8_t> rgb;
    for (uint16_t p : frame)
        for (int shift : {10, 5, 0}) {
            int f = (p >> shift) & 31;
            rgb.push_back(uint8_t(f << 3 | f >> 2));
        }
    return rgb;
}

TEST(SchlRip, PicturesAndSoundOfWrittenMoviesPlainAndDoubled) {
    for (bool stereo : {false, true}) {
        const schl_movie_content movie = small_movie(stereo);
        const std::vector<uint8_t> bytes = write_schl_movie(movie);
        for (bool doubled : {false, true}) {
            rip_request request;
            request.bytes = &bytes;
            request.interlaced = doubled;
            ripped_movie m = rip_to_memory(request);
            ASSERT_EQ(m.status, rip_done);
            EXPECT_EQ(m.info.kind, kind_schl);
            EXPECT_EQ(m.info.width, doubled ? 96 : 48);
            EXPECT_EQ(m.info.height, doubled ? 64 : 32);
            EXPECT_EQ(m.info.stereo, stereo);
            ASSERT_EQ(m.slots.size(), 6u);
            for (size_t s = 0; s < m.slots.size(); ++s) {
                ASSERT_TRUE(m.slots[s].has_picture);
                EXPECT_EQ(m.slots[s].rgb, expected_rgb(movie.pictures[s], 48, 32, doubled)) << s;
            }
            // Five slots of sound, then one of silence.
            const size_t channels = stereo ? 2 : 1;
            ASSERT_EQ(m.sound.size(), (5 * 28 * 20 * channels + silence_bytes / 2) * 2);
            double noise = 0, signal = 0;
            for (size_t i = 0; i < movie.sound.size(); ++i) {
                int16_t v = int16_t(m.sound[2 * i] | m.sound[2 * i + 1] << 8);
                noise += std::pow(v - movie.sound[i], 2);
                signal += std::pow(movie.sound[i], 2);
            }
            EXPECT_GT(10 * std::log10(signal / noise), 25.0);
        }
    }
}

TEST(SchlRip, ListAndAllOverANamedArchive) {
    std::string dir = fresh_dir("schl-archive");
    std::vector<int32_t> at;
    const std::vector<uint8_t> archive =
        write_named_archive({{"first.mov", write_schl_movie(small_movie(false))},
                             {"notes.txt", {'h', 'i', '\n'}},
                             {"second.mov", write_schl_movie(small_movie(true))}},
                            &at);
    ASSERT_TRUE(write_file(dir + "/movies.tre", archive));
    command_result r = run_command({"reelrip", "--list", (dir + "/movies.tre").c_str()});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out,
              std::to_string(at[0]) + "\tfirst.mov\n" + std::to_string(at[2]) + "\tsecond.mov\n");

    std::string out = dir + "/out";
    r = run_command({"reelrip", "--all", (dir + "/movies.tre").c_str(), "-i", "-o", out.c_str()});
    EXPECT_EQ(r.status, 0) << r.err;
    int frames = 0;
    for (auto& e : std::filesystem::recursive_directory_iterator(out))
        frames += e.path().extension() == ".png";
    EXPECT_EQ(frames, 12);
}

} // namespace
