#include "formats/common/chunk_io.h"
#include "sead_test_support.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <random>
#include <set>

namespace {

enum command_form { short_ref, medium_ref, long_ref, literal_run, stop };

// The forms of the commands in a stream, read the way the unpacker reads them.
std::set<int> command_forms(const std::vector<uint8_t>& s) {
    std::set<int> forms;
    size_t i = 0;
    while (i < s.size()) {
        uint8_t b0 = s[i];
        if (b0 < 0x80) {
            forms.insert(short_ref);
            i += 2 + (b0 & 3);
        } else if (b0 < 0xC0) {
            forms.insert(medium_ref);
            i += 3 + (s[i + 1] >> 6);
        } else if (b0 < 0xE0) {
            forms.insert(long_ref);
            i += 4 + (b0 & 3);
        } else if (b0 < 0xFC) {
            forms.insert(literal_run);
            i += 1 + 4 * size_t((b0 & 0x1F) + 1);
        } else {
            forms.insert(stop);
            break;
        }
    }
    return forms;
}

// The image of a key frame as the decoder shows it.
std::vector<uint8_t> key_frame_image(const std::vector<uint8_t>& packed, int w, int h) {
    byte_builder b;
    b.le16(uint32_t(w)).le16(uint32_t(h)).zeros(8 + 768).raw(packed);
    auto d = std::make_unique<sead_picture_decoder>();
    std::vector<uint8_t> out(size_t(w * h), 0xEE);
    EXPECT_TRUE(
        decode_sead_picture_with(*d, 0, w, h, b.bytes.data(), int32_t(b.size()), out.data()));
    return out;
}

TEST(SeadKeyFrameWriter, ImagesRoundTripAndUseEveryCommandForm) {
    std::mt19937 rng(3);
    std::vector<uint8_t> noise(5003);
    for (auto& b : noise) b = uint8_t(rng());
    // Far repeats (long and medium distances), runs and short repeats.
    std::vector<uint8_t> mixed;
    for (int part = 0; part < 6; ++part) {
        mixed.insert(mixed.end(), noise.begin(), noise.begin() + 3000 + part);
        mixed.insert(mixed.end(), size_t(700 + part * 50), uint8_t(part));
        for (int i = 0; i < 300; ++i) mixed.push_back(uint8_t("abcab"[i % 5] + (i / 40)));
    }
    for (int i = 0; i < 200; ++i) {
        size_t at = mixed.size();
        for (int j = 0; j < 8; ++j) mixed.push_back(uint8_t(rng()));
        for (int j = 0; j < 7; ++j) mixed.push_back(mixed[at + size_t(j)]);
    }
    mixed.insert(mixed.end(), noise.begin() + 17, noise.begin() + 60);
    // 70000 new bytes, then all of them again: distances past 65536.
    std::vector<uint8_t> distant(70000);
    for (auto& b : distant) b = uint8_t(rng());
    distant.insert(distant.end(), distant.begin(), distant.end());

    struct image_case {
        const std::vector<uint8_t>* pixels;
        int w, h;
        bool long_flags;
    };
    const image_case cases[] = {{&noise, 5003, 1, false},
                                {&mixed, int(mixed.size()), 1, true},
                                {&distant, 1400, 100, false}};
    for (const image_case& c : cases) {
        auto packed = pack_sead_image(c.pixels->data(), c.pixels->size(), c.long_flags);
        size_t header = c.long_flags ? 8 : 5;
        ASSERT_GT(packed.size(), header);
        EXPECT_EQ(packed[0] & 1, c.long_flags ? 1 : 0);
        EXPECT_EQ(size_t(packed[header - 3]) << 16 | size_t(packed[header - 2]) << 8 |
                      packed[header - 1],
                  c.pixels->size());
        EXPECT_EQ(key_frame_image(packed, c.w, c.h), *c.pixels);
        std::vector<uint8_t> commands(packed.begin() + long(header), packed.end());
        if (c.pixels == &mixed) {
            EXPECT_EQ(command_forms(commands),
                      (std::set<int>{short_ref, medium_ref, long_ref, literal_run, stop}));
        }
        if (c.pixels == &distant) {
            EXPECT_LT(commands.size(), 70000u * 113 / 112 + 1000);
        }
    }
}

TEST(SeadSoundEncoder, FollowsTheSignalAndKeepsStepWithTheDecoder) {
    const size_t frames = 22050;
    std::vector<int16_t> pcm(2 * frames);
    for (size_t i = 0; i < frames; ++i) {
        pcm[2 * i] = int16_t(12000 * std::sin(double(i) * 0.05));
        pcm[2 * i + 1] = int16_t(20000 * std::sin(double(i) * 0.013) * std::cos(double(i) * 0.002));
    }
    sead_sound_state enc{};
    auto a = encode_sead_sound(enc, pcm.data(), frames / 2);
    auto b = encode_sead_sound(enc, pcm.data() + frames, frames - frames / 2);
    a.insert(a.end(), b.begin(), b.end());
    ASSERT_EQ(a.size(), frames);
    sead_sound_state dec{};
    std::vector<uint8_t> out(4 * frames);
    decode_sead_sound_with(dec, a.data(), out.data(), int32_t(frames));
    EXPECT_EQ(dec.step[0], enc.step[0]);
    EXPECT_EQ(dec.predictor[1], enc.predictor[1]);
    double signal = 0, error = 0;
    for (size_t i = 0; i < 2 * frames; ++i) {
        double got = int16_t(out[2 * i] | out[2 * i + 1] << 8);
        signal += double(pcm[i]) * pcm[i];
        error += (got - pcm[i]) * (got - pcm[i]);
    }
    EXPECT_GT(10 * std::log10(signal / error), 25.0);
}

// A picture decoder holding previous as its reference.
std::unique_ptr<sead_picture_decoder> decoder_with(const std::vector<uint8_t>& previous, int w,
                                                   int h) {
    auto d = std::make_unique<sead_picture_decoder>();
    std::vector<uint8_t> out(previous.size());
    auto key = write_sead_key_frame(w, h, sead_palette{}, previous.data());
    EXPECT_TRUE(decode_sead_picture_with(*d, 0, w, h, key.data(), int32_t(key.size()), out.data()));
    return d;
}

std::vector<uint8_t> decode_block(sead_picture_decoder& d, const sead_block_frame& f, int w,
                                  int h) {
    auto body = write_sead_block_frame(f);
    std::vector<uint8_t> out(size_t(w * h));
    EXPECT_TRUE(
        decode_sead_picture_with(d, 0, w, h, body.data(), int32_t(body.size()), out.data()));
    return out;
}

TEST(SeadMotionSearch, ShiftedPictureIsCarriedByOneVector) {
    const int w = 64, h = 32;
    std::mt19937 rng(5);
    std::vector<uint8_t> prev(w * h);
    for (auto& p : prev) p = uint8_t(rng() % 200);
    // The picture moves 4 right and 2 up; the uncovered strips are new.
    std::vector<uint8_t> next(w * h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            int sx = x - 4, sy = y + 2;
            next[size_t(y * w + x)] = (sx >= 0 && sy < h)
                                          ? prev[size_t(sy * w + sx)]
                                          : (x < 4 ? uint8_t(210 + y % 2) : uint8_t(rng()));
        }
    auto f = search_sead_block_frame(prev.data(), next.data(), w, h);
    auto d = decoder_with(prev, w, h);
    EXPECT_EQ(decode_block(*d, f, w, h), next);
    int moved = int(std::count_if(f.codes.begin(), f.codes.end(), [&](uint32_t c) {
        return c < f.vectors.size() && f.vectors[c][0] == -4 && f.vectors[c][1] == 2;
    }));
    EXPECT_GE(moved, (w / 4 - 1) * (h / 4 - 1));
    EXPECT_FALSE(f.four_colour_blocks.empty()); // the two-colour left strip
    EXPECT_FALSE(f.literal_blocks.empty());     // the noisy bottom rows
    auto body = write_sead_block_frame(f);
    int32_t entries =
        int32_t(f.vectors.size() + f.literal_blocks.size() + f.four_colour_blocks.size());
    ASSERT_GT(body[6], 0);
    EXPECT_EQ(body[6], narrowest_code_bits(entries));
    EXPECT_LT(1 << (body[6] - 1), entries);
}

TEST(SeadMotionSearch, FindsFarVectorsAtTheEndsOfTheRange) {
    const int w = 640, h = 64;
    std::mt19937 rng(9);
    std::vector<uint8_t> prev(w * h), next(w * h);
    for (auto& p : prev) p = uint8_t(rng());
    // Left half: what stood 511 pixels to the right; right half: from 512 to the left.
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            int sx = x < 128 ? x + 511 : x >= 512 ? x - 512 : x;
            next[size_t(y * w + x)] = prev[size_t(y * w + sx)];
        }
    auto f = search_sead_block_frame(prev.data(), next.data(), w, h);
    bool far_right = false, far_left = false;
    for (auto v : f.vectors) {
        EXPECT_GE(v[0], -512);
        EXPECT_LE(v[0], 511);
        far_right |= v[0] == 511 && v[1] == 0;
        far_left |= v[0] == -512 && v[1] == 0;
    }
    EXPECT_TRUE(far_right);
    EXPECT_TRUE(far_left);
    EXPECT_TRUE(f.literal_blocks.empty());
    auto d = decoder_with(prev, w, h);
    EXPECT_EQ(decode_block(*d, f, w, h), next);
}

struct decoded_movie {
    std::vector<std::vector<uint8_t>> pictures; // the surface after each pictured slot
    std::vector<std::vector<Color>> palettes;   // colours in force for each
    std::vector<int16_t> sound;
    int slots = 0;
};

std::vector<Color> current_colours;
void keep_colours(const Color* c) {
    current_colours.assign(c, c + 256);
}

decoded_movie play(const std::vector<uint8_t>& file, bool doubled) {
    decoded_movie r;
    sead_movie_on_disk m(doubled ? "play_doubled" : "play");
    EXPECT_EQ(m.open(file, doubled), kind_sead);
    auto saved = set_surface_colors;
    set_surface_colors = keep_colours;
    while (!at_end) {
        read_next_slot();
        if (at_end) break;
        const FrameSlot& s = slot_ring[(slots_read - 1) % ring_size];
        if (s.video_length > 0) {
            decode_slot_picture(&s);
            r.pictures.emplace_back(frame_pixels, frame_pixels + frame_bytes());
            r.palettes.push_back(current_colours);
        }
        auto pcm = slot_samples(s);
        r.sound.insert(r.sound.end(), pcm.begin(), pcm.end());
    }
    r.slots = slots_read;
    set_surface_colors = saved;
    return r;
}

// A small scene: a striped background drifting left, a square moving down-right.
std::vector<sead_movie_frame> small_scene(int w, int h, int count) {
    auto frames = scene_frames(w, h, count, [](int x, int y, int t) {
        return ((x + 2 * t) / 5 + y / 7) % 6 + 10 * ((x + 2 * t) % 3 == 0);
    });
    for (int t = 0; t < count; ++t) {
        auto& f = frames[size_t(t)];
        for (int y = 0; y < 12; ++y)
            for (int x = 0; x < 12; ++x)
                f.image[size_t((5 + t + y) * w + 3 * t + x)] = uint8_t(100 + (x ^ y));
        for (int i = 0; i < 768; ++i)
            f.palette[size_t(i)] = uint8_t(t < count / 2 ? i : 255 - i / 3);
        f.sound.resize(2 * 735);
        for (size_t i = 0; i < 735; ++i) {
            double time = double(t * 735 + int(i)) / 22050;
            f.sound[2 * i] = int16_t(8000 * std::sin(6.2832 * 330 * time));
            f.sound[2 * i + 1] = int16_t(8000 * std::sin(6.2832 * 495 * time));
        }
    }
    return frames;
}

TEST(SeadMovie, RoundTripThroughReaderAndDecoderPlainAndDoubled) {
    const int w = 96, h = 64, count = 24;
    auto frames = small_scene(w, h, count);
    sead_movie_stats stats;
    auto file = write_sead_movie(w, h, frames, true, &stats);
    EXPECT_EQ(stats.key_frames, 2); // the first picture and the palette change
    EXPECT_EQ(stats.block_frames, count - 2);
    EXPECT_GT(stats.vector_blocks, 10 * (stats.literal_blocks + stats.four_colour_blocks));

    for (bool doubled : {false, true}) {
        decoded_movie r = play(file, doubled);
        EXPECT_EQ(r.slots, count);
        ASSERT_EQ(r.pictures.size(), size_t(count));
        for (int t = 0; t < count; ++t) {
            const auto& src = frames[size_t(t)].image;
            const auto& got = r.pictures[size_t(t)];
            if (!doubled) {
                EXPECT_EQ(got, src) << t;
            } else {
                for (int y = 0; y < h; ++y)
                    for (int x = 0; x < w; ++x) {
                        ASSERT_EQ(got[size_t(2 * y * 2 * w + 2 * x)], src[size_t(y * w + x)]);
                        ASSERT_EQ(got[size_t(2 * y * 2 * w + 2 * x + 1)], src[size_t(y * w + x)]);
                        ASSERT_EQ(got[size_t((2 * y + 1) * 2 * w + 2 * x)], 0);
                    }
            }
            const auto& pal = frames[size_t(t)].palette;
            EXPECT_EQ(r.palettes[size_t(t)][5].r, pal[15]) << t;
            EXPECT_EQ(r.palettes[size_t(t)][200].b, pal[602]) << t;
        }
        ASSERT_EQ(r.sound.size(), size_t(count * 2 * 735));
        double error = 0, signal = 0;
        for (int t = 0; t < count; ++t)
            for (size_t i = 0; i < 2 * 735; ++i) {
                double want = frames[size_t(t)].sound[i];
                double got = r.sound[size_t(t * 2 * 735) + i];
                signal += want * want;
                error += (got - want) * (got - want);
            }
        EXPECT_GT(10 * std::log10(signal / error), 25.0);
    }
}

TEST(SeadMovie, DemoMovieIsLongStereoAndCarriedByBlockFrames) {
    auto file = make_sead_demo_movie();
    sead_movie_on_disk m("demo");
    ASSERT_EQ(m.open(file), kind_sead);
    EXPECT_EQ(movie_width, 320);
    EXPECT_EQ(movie_height, 160);
    auto d = std::make_unique<sead_picture_decoder>();
    std::vector<uint8_t> out(320 * 160);
    int64_t sound_bytes = 0, pictures = 0, key_frames = 0, changed_pictures = 0;
    double left_right_difference = 0;
    std::vector<uint8_t> last;
    while (!at_end) {
        read_next_slot();
        if (at_end) break;
        const FrameSlot& s = slot_ring[(slots_read - 1) % ring_size];
        sound_bytes += s.sound_total;
        auto pcm = slot_samples(s);
        for (size_t i = 0; i + 1 < pcm.size(); i += 2)
            left_right_difference += std::abs(pcm[i] - pcm[i + 1]);
        if (s.video_length <= 0) continue;
        ++pictures;
        key_frames += load_le32(s.video) == 320u + 65536u * 160u;
        ASSERT_TRUE(decode_sead_picture_with(*d, 0, 320, 160, s.video, s.video_length, out.data()));
        changed_pictures += out != last;
        last = out;
    }
    EXPECT_GE(double(sound_bytes) / (4 * 22050), 10.0);
    EXPECT_GE(pictures, 150);
    EXPECT_LE(key_frames, 6);
    EXPECT_EQ(changed_pictures, pictures);
    EXPECT_GT(left_right_difference / double(sound_bytes / 4), 100.0);
    EXPECT_GE(std::set<uint8_t>(last.begin(), last.end()).size(), 60u);
}

} // namespace
