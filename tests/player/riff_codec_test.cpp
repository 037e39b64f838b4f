#include "../xanlib/src/coding.h"
#include "formats/riff/riff.h"
#include "xan_encoder.h"

#include <gtest/gtest.h>

#include <cstring>
#include <dlfcn.h>
#include <memory>
#include <random>

namespace {

int green_of(uint16_t c) {
    return c >> 5 & 31;
}
int red_of(uint16_t c) {
    return c >> 10 & 31;
}
int blue_of(uint16_t c) {
    return c & 31;
}
int clamp31(int v) {
    return v < 0 ? 0 : v > 31 ? 31 : v;
}
int floor_div8(int v) {
    return v >= 0 ? v / 8 : -((-v + 7) / 8);
}

TEST(CodecTable, StatedValuesAndShape) {
    EXPECT_EQ(sizeof codec_table, 132224u);
    const uint16_t first[] = {0x0160, 0x0180, 0x0180, 0x01A0, 0x01A0, 0x01C0};
    for (int i = 0; i < 6; ++i) EXPECT_EQ(codec_table.colours[i], first[i]) << i;
    for (int i = 0; i < 1152; ++i) ASSERT_EQ(codec_table.tail[i], 0);
    for (int v = 0; v < 32; ++v) {
        for (int u = 0; u < 32; ++u) {
            for (int y = 0; y < 64; ++y) {
                uint16_t c = codec_table.colours[y + 64 * u + 2048 * v];
                ASSERT_EQ(c & 0x8000, 0);
                ASSERT_EQ(red_of(c), clamp31(floor_div8(4 * y + 8 * v - 124))) << y << u << v;
                ASSERT_EQ(blue_of(c), clamp31(floor_div8(4 * y + 8 * u - 124))) << y << u << v;
                if (u == 0 && v == 0) {
                    ASSERT_EQ(green_of(c), std::min(31, 11 + (y + 1) / 2));
                }
                int g = green_of(c);
                if (y > 0) {
                    ASSERT_GE(g, green_of(codec_table.colours[y - 1 + 64 * u + 2048 * v]));
                }
                if (u > 0) {
                    ASSERT_LE(g, green_of(codec_table.colours[y + 64 * (u - 1) + 2048 * v]));
                }
                if (v > 0) {
                    ASSERT_LE(g, green_of(codec_table.colours[y + 64 * u + 2048 * (v - 1)]));
                }
            }
            // Green rises over the whole Y range and falls over U and V.
            EXPECT_GT(green_of(codec_table.colours[63 + 64 * u + 2048 * v]),
                      green_of(codec_table.colours[64 * u + 2048 * v]));
        }
    }
    EXPECT_GT(green_of(codec_table.colours[40]), green_of(codec_table.colours[40 + 64 * 31]));
    EXPECT_GT(green_of(codec_table.colours[40]), green_of(codec_table.colours[40 + 2048 * 31]));
}

struct library {
    void* handle = nullptr;
    decompress_fn decompress = nullptr;
    draw_frame_fn draw = nullptr;
    library() {
        handle = dlopen(REEL_BUILD_DIR "/libxanlib.so", RTLD_NOW | RTLD_LOCAL);
        if (!handle) return;
        decompress = reinterpret_cast<decompress_fn>(dlsym(handle, "DecompressXD"));
        draw = reinterpret_cast<draw_frame_fn>(dlsym(handle, "DrawFrameXD"));
    }
    ~library() {
        if (handle) dlclose(handle);
    }
};

constexpr int W = riff_width, H = riff_height;

// A payload as the player hands it over: at the start of a slot-sized buffer.
std::vector<uint8_t> in_slot(const std::vector<uint8_t>& payload) {
    std::vector<uint8_t> slot(video_capacity, 0);
    memcpy(slot.data(), payload.data(), std::min(payload.size(), slot.size()));
    return slot;
}

struct player_picture {
    std::unique_ptr<riff_picture_decoder> d{new riff_picture_decoder()};
    std::vector<uint8_t> surface;
    bool interlaced;
    explicit player_picture(bool il)
        : surface(size_t(W) * H * 2 * (il ? 4 : 1), 0xEE), interlaced(il) {}
    void show(const library& lib, const std::vector<uint8_t>& payload) {
        std::vector<uint8_t> slot = in_slot(payload);
        void* pixels = surface.data();
        decode_riff_picture_with(*d, lib.decompress, lib.draw, interlaced, interlaced ? 2 * W : W,
                                 interlaced ? 2 * H : H, slot.data(), &pixels);
    }
    uint16_t pixel(int x, int y) const {
        int row = interlaced ? 2 * W : W;
        return uint16_t(surface[2 * (size_t(y) * row + x)] | surface[2 * (size_t(y) * row + x) + 1]
                                                                 << 8);
    }
};

uint16_t expected_colour(const xan_picture& p, int x, int y) {
    int cw = (p.width + 1) / 2;
    size_t c = size_t(y / 2) * cw + x / 2;
    return codec_table.colours[p.y[size_t(y) * p.width + x] + 64 * p.u[c] + 2048 * p.v[c]];
}

// Pictures with a still textured background and a square moving across it.
std::vector<xan_picture> moving_pictures(int count, uint32_t seed) {
    std::mt19937 rng(seed);
    xan_picture base = make_xan_picture(W, H);
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x)
            base.y[size_t(y) * W + x] = uint8_t((x / 5 + y / 3 + rng() % 3) & 63);
    for (size_t i = 0; i < base.u.size(); ++i) {
        base.u[i] = uint8_t((i / 7) & 31);
        base.v[i] = uint8_t((i / 160 + rng() % 2) & 31);
    }
    std::vector<xan_picture> out;
    for (int t = 0; t < count; ++t) {
        xan_picture p = base;
        for (int y = 30; y < 70; ++y)
            for (int x = 10 + 9 * t; x < 50 + 9 * t && x < W; ++x)
                p.y[size_t(y) * W + x] = uint8_t(rng() & 63);
        p.u[size_t(40) * 160 + 80] = uint8_t(t & 31);
        out.push_back(p);
    }
    return out;
}

TEST(CodecLibrary, PicturesRoundTripExactlyAndDrawInBothModes) {
    library lib;
    ASSERT_TRUE(lib.decompress && lib.draw) << dlerror();
    std::vector<xan_picture> pictures = moving_pictures(12, 1);
    xan_encoder e;
    start_xan_encoder(e, W, H, 5);
    player_picture normal(false), doubled(true);
    size_t predicted_bytes = 0, key_bytes = 0;
    for (size_t t = 0; t < pictures.size(); ++t) {
        const xan_picture& p = pictures[t];
        std::vector<uint8_t> payload = encode_xan_picture(e, p);
        (e.since_key == 0 ? key_bytes : predicted_bytes) += payload.size();
        normal.show(lib, payload);
        doubled.show(lib, payload);
        const codec_memory& m = normal.d->memory;
        ASSERT_EQ(0, memcmp(m.luma, p.y.data(), p.y.size())) << "picture " << t;
        ASSERT_EQ(0, memcmp(m.chroma, p.u.data(), p.u.size()));
        ASSERT_EQ(0, memcmp(m.chroma + p.u.size(), p.v.data(), p.v.size()));
        for (int y = 0; y < H; ++y) {
            for (int x = 0; x < W; ++x) {
                uint16_t c = expected_colour(p, x, y);
                ASSERT_EQ(normal.pixel(x, y), c) << x << "," << y;
                ASSERT_EQ(doubled.pixel(2 * x, 2 * y), c);
                ASSERT_EQ(doubled.pixel(2 * x + 1, 2 * y), c);
                ASSERT_EQ(doubled.pixel(2 * x, 2 * y + 1), 0);
                ASSERT_EQ(doubled.pixel(2 * x + 1, 2 * y + 1), 0);
            }
        }
    }
    // Ten predicted pictures cost less than the two key pictures.
    EXPECT_LT(predicted_bytes, key_bytes);
}

TEST(CodecLibrary, ColoursComeBackWithinTheLevelsSteps) {
    library lib;
    ASSERT_TRUE(lib.decompress && lib.draw);
    // Smooth colours, constant over each 2 x 2 cell's chroma.
    std::vector<uint8_t> rgb(size_t(3) * W * H);
    for (int y = 0; y < H; ++y) {
        for (int x = 0; x < W; ++x) {
            uint8_t* p = &rgb[3 * (size_t(y) * W + x)];
            p[0] = uint8_t(40 + (x / 2) * 160 / W);
            p[1] = uint8_t(60 + (y / 2) * 150 / H);
            p[2] = uint8_t(200 - (x / 2 + y / 2) * 150 / (W + H));
        }
    }
    xan_picture picture = xan_picture_from_rgb(rgb.data(), W, H, codec_table.colours);
    xan_encoder e;
    start_xan_encoder(e, W, H);
    player_picture shown(false);
    shown.show(lib, encode_xan_picture(e, picture));
    int worst = 0;
    double total = 0;
    for (int y = 0; y < H; ++y) {
        for (int x = 0; x < W; ++x) {
            uint16_t c = shown.pixel(x, y);
            const uint8_t* p = &rgb[3 * (size_t(y) * W + x)];
            int got[3] = {red_of(c), green_of(c), blue_of(c)};
            for (int k = 0; k < 3; ++k) {
                int err = std::abs(got[k] * 255 / 31 - p[k]) * 31 / 255;
                worst = std::max(worst, err);
                total += err;
            }
        }
    }
    EXPECT_LE(worst, 2);
    EXPECT_LT(total / (3.0 * W * H), 0.8);
}

TEST(CodecLibrary, PlayerFillsTheContextOnceAndDrawsBlackWithoutTheLibrary) {
    library lib;
    player_picture absent(true);
    absent.surface.assign(absent.surface.size(), 0x55);
    void* pixels = absent.surface.data();
    std::vector<uint8_t> slot(video_capacity, 0);
    decode_riff_picture_with(*absent.d, nullptr, nullptr, 1, 2 * W, 2 * H, slot.data(), &pixels);
    for (uint8_t b : absent.surface) ASSERT_EQ(b, 0);
    EXPECT_FALSE(absent.d->started);

    player_picture il(true);
    xan_encoder e;
    start_xan_encoder(e, W, H);
    il.show(lib, encode_xan_picture(e, moving_pictures(1, 3)[0]));
    const codec_memory& m = il.d->memory;
    const codec_context& c = m.context;
    EXPECT_EQ(c.record_size, int32_t(sizeof(codec_context)));
    EXPECT_EQ(c.table_span, 263296);
    EXPECT_EQ(c.context_kind, 3);
    EXPECT_EQ(c.width, 320);
    EXPECT_EQ(c.height, 165);
    EXPECT_EQ(c.plane_size, 52800);
    EXPECT_EQ(c.pixel_size, 2);
    EXPECT_EQ(c.red_mask_high, 0x7C);
    EXPECT_EQ(c.green_mask, 0x3E0);
    EXPECT_EQ(c.blue_mask, 0x1F);
    EXPECT_EQ(c.flags, 0);
    EXPECT_EQ(c.luma_area, reinterpret_cast<const uint8_t*>(&c) + sizeof c);
    EXPECT_EQ(c.chroma_area, c.luma_area + 52800);
    EXPECT_EQ(c.reference_area, c.chroma_area + 26560);
    EXPECT_EQ(c.table_area, c.reference_area + 52804);
    EXPECT_EQ(0, memcmp(c.table_area, &codec_table, sizeof codec_table));
}

// Payload edits that a decoder must refuse before touching its planes.
std::vector<std::vector<uint8_t>> foreign_payloads(const std::vector<uint8_t>& good) {
    std::vector<std::vector<uint8_t>> out;
    std::mt19937 rng(5);
    std::vector<uint8_t> noise(3000);
    for (auto& b : noise) b = uint8_t(rng());
    out.push_back(noise);
    auto edited = [&](int at, uint8_t value) {
        std::vector<uint8_t> p = good;
        p[size_t(at)] = value;
        out.push_back(p);
    };
    edited(0, 'X');                                                  // another codec's signature
    edited(xan::at_version, 2);                                      // a later version
    edited(xan::at_type, 7);                                         // an unknown type
    edited(xan::at_width, 0x41);                                     // another size
    edited(xan::at_body_length + 3, 0x7F);                           // longer than any slot
    edited(xan::header_size + 5, good[xan::header_size + 5] ^ 0x10); // damaged body
    return out;
}

TEST(CodecLibrary, ForeignPayloadsAreRefusedAndTheLastGoodPictureStays) {
    library lib;
    ASSERT_TRUE(lib.decompress && lib.draw);
    std::vector<xan_picture> pictures = moving_pictures(4, 9);
    xan_encoder e;
    start_xan_encoder(e, W, H, 100);
    std::vector<std::vector<uint8_t>> payloads;
    for (const xan_picture& p : pictures) payloads.push_back(encode_xan_picture(e, p));

    // Nothing good yet: black, whatever the payload holds.
    player_picture first(false);
    for (const auto& f : foreign_payloads(payloads[0])) {
        first.surface.assign(first.surface.size(), 0x33);
        first.show(lib, f);
        for (uint8_t b : first.surface) ASSERT_EQ(b, 0);
    }
    // A predicted picture without its predecessor is refused too.
    first.show(lib, payloads[1]);
    EXPECT_EQ(first.pixel(5, 5), 0);

    player_picture shown(false);
    shown.show(lib, payloads[0]);
    std::vector<uint8_t> good_picture = shown.surface;
    for (const auto& f : foreign_payloads(payloads[1])) {
        std::vector<uint8_t> slot = in_slot(f);
        EXPECT_LT(lib.decompress(&shown.d->memory.context, slot.data(), 0), 0);
        shown.show(lib, f);
        ASSERT_EQ(shown.surface, good_picture);
    }
    // Picture 2 follows picture 1, which was never taken: refused as well.
    shown.show(lib, payloads[2]);
    EXPECT_EQ(shown.surface, good_picture);
    // A new key picture starts the chain again.
    e.since_key = 1000;
    shown.show(lib, encode_xan_picture(e, pictures[3]));
    EXPECT_EQ(shown.pixel(20, 40), expected_colour(pictures[3], 20, 40));
    EXPECT_EQ(0, memcmp(shown.d->memory.luma, pictures[3].y.data(), pictures[3].y.size()));
}

TEST(CodecLibrary, DrawRefusesModesAndPitchesItCannotServe) {
    library lib;
    ASSERT_TRUE(lib.draw);
    player_picture shown(false);
    xan_encoder e;
    start_xan_encoder(e, W, H);
    shown.show(lib, encode_xan_picture(e, moving_pictures(1, 2)[0]));
    std::vector<uint8_t> out(1280 * 330, 0x77);
    codec_context* c = &shown.d->memory.context;
    EXPECT_LT(lib.draw(c, out.data(), 640, 5), 0);
    EXPECT_LT(lib.draw(c, out.data(), 319, 4), 0);
    EXPECT_LT(lib.draw(c, out.data(), 639, 6), 0);
    EXPECT_LT(lib.draw(nullptr, out.data(), 640, 4), 0);
    codec_context other = *c;
    other.record_size = 60 + 80 - int32_t(sizeof(codec_context)); // the other layout's size
    EXPECT_LT(lib.draw(&other, out.data(), 640, 4), 0);
    EXPECT_LT(lib.decompress(&other, out.data(), 0), 0);
    for (uint8_t b : out) ASSERT_EQ(b, 0x77);
}

// Random and mutated payloads, some with their checksum made good again so
// that the body decoder itself meets them. The draw must stay inside its
// output, the decoder inside its areas (the sanitizer build watches).
TEST(CodecLibrary, FuzzedPayloadsStayInBounds) {
    library lib;
    ASSERT_TRUE(lib.decompress && lib.draw);
    std::vector<xan_picture> pictures = moving_pictures(6, 11);
    xan_encoder e;
    start_xan_encoder(e, W, H, 3);
    std::vector<std::vector<uint8_t>> payloads;
    for (const xan_picture& p : pictures) payloads.push_back(encode_xan_picture(e, p));
    std::mt19937 rng(1234);
    player_picture shown(false);
    constexpr size_t guard = 4096;
    std::vector<uint8_t> doubled(size_t(1280) * 330 + guard, 0x5A);
    int accepted = 0;
    for (int round = 0; round < 400; ++round) {
        std::vector<uint8_t> p = payloads[rng() % payloads.size()];
        if (round % 8 == 0) {
            p.assign(rng() % 5000, 0);
            for (auto& b : p) b = uint8_t(rng());
            if (round % 16 == 0 && p.size() > 4) memcpy(p.data(), xan::signature, 4);
        }
        int edits = int(rng() % 6);
        for (int k = 0; k < edits && !p.empty(); ++k) {
            size_t at = rng() % p.size();
            if (rng() % 2)
                p[at] = uint8_t(rng());
            else
                p[at] ^= uint8_t(1u << (rng() % 8));
        }
        if (rng() % 2 && p.size() >= size_t(xan::header_size)) {
            // Keep the header's claims honest, so that the body decoder is reached.
            uint32_t n = uint32_t(p.size() - xan::header_size);
            for (int i = 0; i < 4; ++i) p[xan::at_body_length + i] = uint8_t(n >> (8 * i));
            uint32_t sum = xan::checksum(p.data() + xan::header_size, n);
            for (int i = 0; i < 4; ++i) p[xan::at_checksum + i] = uint8_t(sum >> (8 * i));
            p[xan::at_width] = uint8_t(W);
            p[xan::at_width + 1] = uint8_t(W >> 8);
            p[xan::at_height] = uint8_t(H);
            p[xan::at_height + 1] = 0;
        }
        std::vector<uint8_t> slot = in_slot(p);
        if (lib.decompress(&shown.d->memory.context, slot.data(), 0) >= 0) ++accepted;
        shown.show(lib, p);
        ASSERT_EQ(lib.draw(&shown.d->memory.context, doubled.data(), 640, 6), 0);
        for (size_t i = doubled.size() - guard; i < doubled.size(); ++i)
            ASSERT_EQ(doubled[i], 0x5A);
    }
    EXPECT_GT(accepted, 0);
}

} // namespace
