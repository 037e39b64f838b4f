#include "archive_writer.h"
#include "bytes.h"
#include "form_writer.h"
#include "rip_test_support.h"
#include "thumbnail.h"

#include <gtest/gtest.h>

namespace {

constexpr int32_t w = 64, h = 48;

// A 64 x 48 FORM movie on a grey ramp palette (index i is level i / 4); each
// frame's pixels come from fill(frame, pixel index). 735 samples a frame.
// Without a picture size (a "SIZE" of 0 by 0) it plays as sound only.
std::vector<uint8_t> grey_movie(int frames, uint8_t (*fill)(int, int), bool sized = true) {
    form_movie m;
    m.width = w;
    m.height = h;
    m.write_size = true;
    m.palettes.push_back(grey_ramp_palette());
    for (int f = 0; f < frames; ++f) {
        form_frame fr;
        for (int i = 0; i < w * h; ++i) fr.pixels.push_back(fill(f, i));
        fr.sound.assign(735, int16_t(1000));
        m.frames.push_back(fr);
    }
    std::vector<uint8_t> bytes = write_form_movie(m);
    for (size_t i = 0; !sized && i + 16 < bytes.size(); ++i) {
        if (memcmp(&bytes[i], "SIZE", 4) == 0) {
            memset(&bytes[i + 8], 0, 8);
            break;
        }
    }
    return bytes;
}

// Frames 0-3 fade in from black (levels 0 to 3), frame 4 is one flat grey,
// frames 5 on a moving ramp: the first picture with content is frame 5.
uint8_t fade_in(int f, int i) {
    if (f < 4) return uint8_t(f * 4);
    if (f == 4) return 160;
    return uint8_t((i % w) * 3 + f);
}

TEST(Thumbnail, PicksTheFirstPictureWithContentAfterAFadeIn) {
    std::vector<uint8_t> movie = grey_movie(8, fade_in);
    rip_request request;
    request.bytes = &movie;
    ripped_movie all = rip_to_memory(request);
    ASSERT_EQ(all.status, rip_done);
    ASSERT_EQ(all.slots.size(), 8u);
    for (int f = 0; f < 5; ++f)
        EXPECT_FALSE(picture_has_content(all.slots[size_t(f)].rgb.data(), w, h)) << f;

    thumbnail_picture picked;
    ASSERT_TRUE(pick_thumbnail_picture(request, &picked));
    EXPECT_EQ(picked.width, w);
    EXPECT_EQ(picked.height, h);
    EXPECT_EQ(picked.rgb, all.slots[5].rgb);
}

// A movie dark all through still gets a thumbnail: its most lit picture.
TEST(Thumbnail, WithoutContentTheMostLitPictureIsTaken) {
    std::vector<uint8_t> movie =
        grey_movie(4, [](int f, int i) { return uint8_t(i % w < f * 4 ? 200 : 0); });
    rip_request request;
    request.bytes = &movie;
    thumbnail_picture picked;
    ASSERT_TRUE(pick_thumbnail_picture(request, &picked));
    EXPECT_EQ(lit_share(picked.rgb.data(), w, h), 65536 * 12 / 64);
}

TEST(Thumbnail, ShrinksByAreaWithTheShapeKeptAndNeverEnlarges) {
    thumbnail_picture wide{4, 2, {}};
    for (uint8_t v : {0, 100, 200, 40, 20, 120, 220, 60}) wide.rgb.insert(wide.rgb.end(), 3, v);
    thumbnail_picture half = scale_to_fit(wide, 2);
    ASSERT_EQ(half.width, 2);
    ASSERT_EQ(half.height, 1);
    EXPECT_EQ(half.rgb, (std::vector<uint8_t>{60, 60, 60, 130, 130, 130}));

    // 3 to 2: each output pixel covers one and a half source pixels.
    thumbnail_picture three{3, 3, {}};
    for (int i = 0; i < 9; ++i) three.rgb.insert(three.rgb.end(), 3, uint8_t(i % 3 * 90));
    thumbnail_picture two = scale_to_fit(three, 2);
    ASSERT_EQ(two.width, 2);
    EXPECT_EQ(two.rgb[0], 30);
    EXPECT_EQ(two.rgb[3], 150);

    thumbnail_picture movie_sized{320, 165, std::vector<uint8_t>(320 * 165 * 3, 9)};
    thumbnail_picture small = scale_to_fit(movie_sized, 128);
    EXPECT_EQ(small.width, 128);
    EXPECT_EQ(small.height, 66);
    EXPECT_EQ(scale_to_fit(movie_sized, 400).rgb, movie_sized.rgb);
}

TEST(Thumbnail, CommandTakesAnArchivesFirstMovieAndWritesNothingWithoutPictures) {
    std::string dir = fresh_dir("thumbnail");
    std::string note = "not a movie";
    std::vector<uint8_t> archive = write_xtre_archive({{"", {note.begin(), note.end()}},
                                                       {"", grey_movie(6, fade_in)},
                                                       {"", grey_movie(2, fade_in)}});
    ASSERT_TRUE(write_file(dir + "/movies.tre", archive));
    const char* archive_words[] = {"128", "", ""};
    std::string archive_path = dir + "/movies.tre", png = dir + "/movies.png";
    archive_words[1] = archive_path.c_str();
    archive_words[2] = png.c_str();
    EXPECT_EQ(run_thumbnail(3, archive_words, stderr), 0);
    rgb_picture written = read_png_rgb(png);
    EXPECT_EQ(written.width, w);
    EXPECT_GT(lit_share(written.rgb.data(), w, h), 65536 / 2);

    ASSERT_TRUE(write_file(dir + "/sound.tgv", grey_movie(3, fade_in, false)));
    std::string sound = dir + "/sound.tgv", none = dir + "/sound.png";
    const char* sound_words[] = {"128", sound.c_str(), none.c_str()};
    EXPECT_EQ(run_thumbnail(3, sound_words, stderr), 1);
    EXPECT_FALSE(std::filesystem::exists(none));

    const char* bad_size[] = {"0", sound.c_str(), none.c_str()};
    EXPECT_EQ(run_thumbnail(3, bad_size, stderr), 2);
}

} // namespace
