// The PNG export: indexed pictures keep their colours exactly, and pictures
// written on worker threads land under their own slot's name, whole, with a
// failure reported as the reason and the path.
#include "form_writer.h"
#include "rip.h"
#include "rip_files.h"
#include "rip_test_support.h"
#include "schl_writer.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <random>

namespace {

namespace fs = std::filesystem;

bool is_indexed(const std::vector<uint8_t>& png) {
    png_image image;
    memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_memory(&image, png.data(), png.size())) return false;
    bool indexed = (image.format & PNG_FORMAT_FLAG_COLORMAP) != 0;
    png_image_free(&image);
    return indexed;
}

TEST(RipPng, IndexedPicturesGiveThePaletteColoursExactly) {
    std::mt19937 rng(3);
    std::vector<uint8_t> colors(256 * 3);
    for (auto& c : colors) c = uint8_t(rng());
    const int w = 29, h = 7;
    // All 256 entries, and only the first few (the palette is cut after the
    // highest index used).
    for (int used : {256, 3}) {
        std::vector<uint8_t> indices(w * h);
        for (auto& i : indices) i = uint8_t(rng() % unsigned(used));
        indices[5] = uint8_t(used - 1);
        png_picture picture;
        picture.width = w;
        picture.height = h;
        picture.indices = indices.data();
        picture.colors = colors.data();
        std::vector<uint8_t> png;
        ASSERT_TRUE(encode_png(picture, &png));
        EXPECT_TRUE(is_indexed(png));
        std::vector<uint8_t> expected;
        for (uint8_t i : indices)
            expected.insert(expected.end(), &colors[3 * i], &colors[3 * i + 3]);
        rgb_picture back = read_png_rgb_memory(png);
        EXPECT_EQ(back.width, w);
        EXPECT_EQ(back.height, h);
        EXPECT_EQ(back.rgb, expected) << used;

        png_picture rgb = picture;
        rgb.rgb = expected.data();
        ASSERT_TRUE(encode_png(rgb, &png));
        EXPECT_FALSE(is_indexed(png));
        EXPECT_EQ(read_png_rgb_memory(png).rgb, expected);
    }
}

// Every picture file holds its own slot's picture, the same RGB as the rip
// in memory, whatever thread wrote it; nothing else is left in frames/.
void expect_files_match_memory(const std::vector<uint8_t>& movie, bool interlaced,
                               const std::string& dir) {
    rip_request request;
    request.bytes = &movie;
    request.interlaced = interlaced;
    ripped_movie memory = rip_to_memory(request);
    ASSERT_EQ(memory.status, rip_done);
    ASSERT_GT(memory.pictures(), 20);
    request.threads = 3;
    rip_summary summary;
    ASSERT_EQ(rip_to_directory(request, dir, &summary), rip_done) << summary.error;
    EXPECT_EQ(summary.pictures, memory.pictures());
    for (const ripped_slot& s : memory.slots) {
        std::string path = dir + "/frames/" + frame_file_name(s.number);
        ASSERT_EQ(fs::exists(path), s.has_picture) << path;
        if (!s.has_picture) continue;
        rgb_picture back = read_png_rgb(path);
        EXPECT_EQ(back.width, memory.info.width);
        EXPECT_TRUE(back.rgb == s.rgb) << path;
    }
    EXPECT_EQ(std::distance(fs::directory_iterator(dir + "/frames"), fs::directory_iterator()),
              memory.pictures());
}

TEST(RipPng, ParallelFilesHoldEachSlotsPicture) {
    std::string dir = fresh_dir("png-parallel");
    // 8-bit with palettes switched along the way, 16-bit doubled and plain.
    expect_files_match_memory(make_form_demo_movie(0), false, dir + "/form");
    expect_files_match_memory(make_schl_demo_movie(2), true, dir + "/schl");
    expect_files_match_memory(make_schl_demo_movie(0), false, dir + "/schl-plain");
}

TEST(RipPng, FailedPictureStopsTheRipWithPathAndReason) {
    std::string dir = fresh_dir("png-fail");
    std::vector<uint8_t> movie = make_form_demo_movie(0);
    // A directory where picture 3 goes: its rename fails on a worker thread.
    std::string blocked = dir + "/out/frames/" + frame_file_name(3);
    fs::create_directories(blocked);
    rip_request request;
    request.bytes = &movie;
    request.threads = 2;
    rip_summary summary;
    EXPECT_EQ(rip_to_directory(request, dir + "/out", &summary), rip_stopped);
    EXPECT_EQ(summary.error, "cannot write " + blocked + ": " + strerror(EISDIR));
    EXPECT_FALSE(fs::exists(dir + "/out/audio.wav"));
    EXPECT_FALSE(fs::exists(dir + "/out/timeline.tsv"));
    // Whatever was written before the rip stopped is whole; nothing is left
    // under a temporary name.
    for (const auto& entry : fs::recursive_directory_iterator(dir + "/out")) {
        EXPECT_EQ(entry.path().string().find(".part"), std::string::npos) << entry.path();
        if (entry.is_regular_file()) {
            EXPECT_EQ(read_png_rgb(entry.path()).width, 320) << entry.path();
        }
    }

    std::string error;
    uint8_t byte = 1;
    EXPECT_FALSE(write_whole_file(dir + "/none/x.png", &byte, 1, &error));
    EXPECT_EQ(error, "cannot write " + dir + "/none/x.png: " + strerror(ENOENT));
}

} // namespace
