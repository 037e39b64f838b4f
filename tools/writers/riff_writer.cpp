#include "riff_writer.h"

#include "formats/riff/riff.h"
#include "xan_encoder.h"

#include <cmath>
#include <cstdlib>

namespace {

int apply_adjustment(int shift, int adjust) {
    int s = adjust == 3 ? shift + 1 : shift - 2 * adjust;
    return s < 0 ? 0 : s;
}

int step_of(int code, int shift) {
    return int32_t(int16_t(code * 1024)) >> (shift & 31);
}

struct dpcm_choice {
    int code;      // -32..31
    int predictor; // after the step, wrapped like the decoder wraps it
    int error;
};

// The best difference for one shift: the two codes around the exact one.
dpcm_choice best_code(int predictor, int target, int shift) {
    dpcm_choice best = {0, predictor, 1 << 30};
    double exact = double(target - predictor) * double(1 << shift) / 1024.0;
    int around = int(std::floor(exact));
    for (int code = around - 1; code <= around + 1; ++code) {
        int c = code < -32 ? -32 : code > 31 ? 31 : code;
        int p = int16_t(predictor + step_of(c, shift));
        int e = std::abs(p - target);
        if (e < best.error) best = {c, p, e};
    }
    return best;
}

// Shifts above 15 leave only the sign of a difference; the coder never goes there.
constexpr int max_shift = 15;

uint8_t encode_sample(int& predictor, int& shift, int target, const int* next) {
    int best_adjust = 0;
    int64_t best_cost = -1;
    dpcm_choice chosen{};
    for (int a = 0; a < 4; ++a) {
        int s = apply_adjustment(shift, a);
        if (s > max_shift) continue;
        dpcm_choice c = best_code(predictor, target, s);
        int64_t cost = int64_t(c.error) * c.error;
        if (next) {
            int64_t ahead = -1;
            for (int a2 = 0; a2 < 4; ++a2) {
                int s2 = apply_adjustment(s, a2);
                if (s2 > max_shift) continue;
                int e = best_code(c.predictor, *next, s2).error;
                if (ahead < 0 || int64_t(e) * e < ahead) ahead = int64_t(e) * e;
            }
            cost += ahead;
        }
        if (best_cost < 0 || cost < best_cost) {
            best_cost = cost;
            best_adjust = a;
            chosen = c;
        }
    }
    shift = apply_adjustment(shift, best_adjust);
    predictor = chosen.predictor;
    return uint8_t((chosen.code & 0x3F) << 2 | best_adjust);
}

} // namespace

std::vector<uint8_t> encode_riff_sound(const int16_t* samples, int frames) {
    byte_builder b;
    if (frames < 1) return b.bytes;
    b.le16(uint16_t(samples[0])).le16(uint16_t(samples[1]));
    int predictor[2] = {samples[0], samples[1]};
    int shift[2] = {4, 4};
    for (int i = 1; i < frames; ++i) {
        for (int ch = 0; ch < 2; ++ch) {
            int next = i + 1 < frames ? samples[2 * (i + 1) + ch] : 0;
            b.u8(encode_sample(predictor[ch], shift[ch], samples[2 * i + ch],
                               i + 1 < frames ? &next : nullptr));
        }
    }
    return b.bytes;
}

void put_riff_chunk(byte_builder& b, const char* tag, const std::vector<uint8_t>& body) {
    b.tag(tag).le32(uint32_t(body.size())).raw(body);
    if (body.size() & 1) b.u8(0);
}

void put_riff_head(byte_builder& b, int width, int height, int frame_rate, int frames) {
    b.tag("RIFF").le32(0).tag("AVI ");
    byte_builder head;
    head.tag("hdrl");
    byte_builder avih;
    avih.le32(uint32_t(1000000 / (frame_rate > 0 ? frame_rate : 15))) // microseconds per frame
        .le32(0)                                                      // bytes per second
        .le32(0)                                                      // padding granularity
        .le32(0x10)                                                   // has an index
        .le32(uint32_t(frames))
        .le32(0)
        .le32(2) // streams: pictures and sound
        .le32(0)
        .le32(uint32_t(width))
        .le32(uint32_t(height))
        .zeros(16);
    put_riff_chunk(head, "avih", avih.bytes);
    put_riff_chunk(b, "LIST", head.bytes);
}

void finish_riff_file(byte_builder& b) {
    b.patch_le32(4, uint32_t(b.size() - 8));
}

std::vector<uint8_t> write_riff_movie(const std::vector<riff_frame>& frames, int width, int height,
                                      int frame_rate) {
    byte_builder b;
    put_riff_head(b, width, height, frame_rate, int(frames.size()));
    // Filler so that the movie body starts on a 2 KiB boundary.
    size_t filler = 2048 - (b.size() + 8 + 12) % 2048;
    put_riff_chunk(b, "JUNK", std::vector<uint8_t>(filler, 0));

    b.tag("LIST").le32(0);
    size_t list_size_at = b.size() - 4;
    size_t movi_at = b.size();
    b.tag("movi");
    byte_builder index;
    auto put_indexed = [&](const char* tag, const std::vector<uint8_t>& body, bool key) {
        index.tag(tag).le32(key ? 0x10 : 0).le32(uint32_t(b.size() - movi_at));
        index.le32(uint32_t(body.size()));
        put_riff_chunk(b, tag, body);
    };
    for (const riff_frame& f : frames) {
        if (f.filler_before) put_riff_chunk(b, "JUNK", std::vector<uint8_t>(12, 0));
        if (!f.picture.empty()) put_indexed("00db", f.picture, f.key);
        if (!f.sound.empty()) put_indexed("01wb", f.sound, true);
    }
    b.patch_le32(list_size_at, uint32_t(b.size() - movi_at));
    put_riff_chunk(b, "idx1", index.bytes);
    finish_riff_file(b);
    return b.bytes;
}

namespace {

void demo_picture(std::vector<uint8_t>& rgb, int width, int height, int t) {
    const double pi = 3.14159265358979;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            // A still rainbow of diagonal bands, darker towards the corners.
            double hue = (x + 0.6 * y) / 90.0;
            double fall = 1.0 - 0.35 *
                                    (std::pow((x - width / 2.0) / width, 2) +
                                     std::pow((y - height / 2.0) / height, 2)) *
                                    4;
            double r = 0.5 + 0.5 * std::sin(2 * pi * hue);
            double g = 0.5 + 0.5 * std::sin(2 * pi * (hue + 1.0 / 3));
            double bl = 0.5 + 0.5 * std::sin(2 * pi * (hue + 2.0 / 3));
            uint8_t* p = &rgb[3 * (size_t(y) * width + x)];
            p[0] = uint8_t(200 * r * fall + 20);
            p[1] = uint8_t(200 * g * fall + 20);
            p[2] = uint8_t(200 * bl * fall + 20);
        }
    }
    // Two discs that bounce about, one white and one colour-cycling.
    struct disc {
        double x, y, radius;
        uint8_t r, g, b;
    };
    double phase = t / 15.0;
    disc discs[2] = {
        {width / 2.0 + 110 * std::sin(1.3 * phase), height / 2.0 + 50 * std::sin(2.1 * phase), 22,
         250, 250, 250},
        {width / 2.0 + 90 * std::cos(0.9 * phase), height / 2.0 + 45 * std::cos(1.7 * phase), 28,
         uint8_t(128 + 120 * std::sin(phase)), uint8_t(128 + 120 * std::sin(phase + 2)),
         uint8_t(128 + 120 * std::sin(phase + 4))},
    };
    for (const disc& d : discs) {
        for (int y = int(d.y - d.radius); y <= int(d.y + d.radius); ++y) {
            for (int x = int(d.x - d.radius); x <= int(d.x + d.radius); ++x) {
                if (x < 0 || y < 0 || x >= width || y >= height) continue;
                double dx = x - d.x, dy = y - d.y;
                if (dx * dx + dy * dy > d.radius * d.radius) continue;
                uint8_t* p = &rgb[3 * (size_t(y) * width + x)];
                p[0] = d.r;
                p[1] = d.g;
                p[2] = d.b;
            }
        }
    }
}

} // namespace

std::vector<riff_frame> make_riff_demo_frames(int count, int frame_rate) {
    const int width = riff_width, height = riff_height;
    const int rate = 22050;
    const int per_frame = rate / frame_rate;
    const double pi = 3.14159265358979;
    xan_encoder encoder;
    start_xan_encoder(encoder, width, height, 15);
    std::vector<uint8_t> rgb(size_t(3) * width * height);
    std::vector<int16_t> pcm(size_t(2) * per_frame);
    std::vector<riff_frame> frames;
    for (int t = 0; t < count; ++t) {
        riff_frame f;
        demo_picture(rgb, width, height, t);
        xan_picture picture = xan_picture_from_rgb(rgb.data(), width, height, codec_table.colours);
        f.picture = encode_xan_picture(encoder, picture);
        f.key = encoder.since_key == 0;
        for (int i = 0; i < per_frame; ++i) {
            double s = double(t * per_frame + i) / rate;
            double swell = 0.6 + 0.4 * std::sin(2 * pi * 0.5 * s);
            pcm[2 * i] = int16_t(9000 * swell * std::sin(2 * pi * 440 * s));
            pcm[2 * i + 1] = int16_t(9000 * (1.4 - swell) * std::sin(2 * pi * 660 * s));
        }
        f.sound = encode_riff_sound(pcm.data(), per_frame);
        f.filler_before = t % 16 == 15;
        frames.push_back(std::move(f));
    }
    return frames;
}

std::vector<uint8_t> make_riff_demo_movie(int seconds) {
    return write_riff_movie(make_riff_demo_frames(seconds > 0 ? 15 * seconds : 60), riff_width,
                            riff_height, 15);
}

std::vector<uint8_t> make_riff_demo_movie() {
    return make_riff_demo_movie(0);
}
