#include "schl_writer.h"

#include "archive_writer.h"
#include "bytes.h"
#include "formats/schl/schl_internal.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <numbers>

void schl_bit_writer::put(uint32_t value, int bits) {
    for (int i = bits - 1; i >= 0; --i) {
        if (count % 32 == 0) words.push_back(0);
        if ((value >> i) & 1) words.back() |= 1u << (31 - count % 32);
        ++count;
    }
}

std::vector<uint8_t> schl_bit_writer::bytes() const {
    byte_builder b;
    for (uint32_t w : words) b.le32(w);
    return b.bytes;
}

// --- pictures ---

schl_planes schl_planes_from_rgb(const uint8_t* rgb, int width, int height) {
    schl_planes p;
    p.width = width;
    p.height = height;
    p.y.resize(size_t(width) * height);
    p.cb.resize(size_t(width / 2) * (height / 2));
    p.cr.resize(p.cb.size());
    // Colour levels in the decoder's units: 107 is full intensity (5-bit
    // level 31); its luma reads 12.5 units above the colour level.
    std::vector<double> cbs(p.y.size()), crs(p.y.size());
    for (size_t i = 0; i < p.y.size(); ++i) {
        double r = rgb[3 * i] * 107.0 / 255.0, g = rgb[3 * i + 1] * 107.0 / 255.0,
               b = rgb[3 * i + 2] * 107.0 / 255.0;
        double y = 0.299 * r + 0.587 * g + 0.114 * b;
        p.y[i] = int32_t(std::lround(y + 13.5));
        cbs[i] = (b - y) / 1.7337;
        crs[i] = (r - y) / 1.371;
    }
    for (int y = 0; y < height / 2; ++y) {
        for (int x = 0; x < width / 2; ++x) {
            double sb = 0, sr = 0;
            for (int k = 0; k < 4; ++k) {
                size_t at = size_t(2 * y + k / 2) * width + 2 * x + k % 2;
                sb += cbs[at];
                sr += crs[at];
            }
            p.cb[size_t(y) * (width / 2) + x] =
                std::clamp(int32_t(std::lround(64 + sb / 4)), 0, 127);
            p.cr[size_t(y) * (width / 2) + x] =
                std::clamp(int32_t(std::lround(64 + sr / 4)), 0, 127);
        }
    }
    return p;
}

void schl_forward_transform(const int32_t* samples, int stride, double* coefficients) {
    static const auto basis = [] {
        std::array<double, 64> c{};
        for (int u = 0; u < 8; ++u)
            for (int x = 0; x < 8; ++x)
                c[u * 8 + x] = (u ? 0.5 : 0.5 / std::numbers::sqrt2) *
                               std::cos((2 * x + 1) * u * std::numbers::pi / 16);
        return c;
    }();
    // Orthonormal 2-D transform, then a quarter: the decoder's samples are
    // four times the inverse transform of the levels. Rows first, then columns.
    double rows[8][8]; // [sample row][horizontal frequency]
    for (int row = 0; row < 8; ++row)
        for (int a = 0; a < 8; ++a) {
            double sum = 0;
            for (int col = 0; col < 8; ++col)
                sum += basis[a * 8 + col] * samples[row * stride + col];
            rows[row][a] = sum;
        }
    for (int a = 0; a < 8; ++a)
        for (int b = 0; b < 8; ++b) {
            double sum = 0;
            for (int row = 0; row < 8; ++row) sum += basis[b * 8 + row] * rows[row][a];
            coefficients[8 * a + b] = sum / 4;
        }
}

namespace {

struct ac_code_map {
    int16_t index[32][41]; // (run, level) -> entry of schl_ac_codes, -1 when escaped
};
const ac_code_map& ac_codes() {
    static const ac_code_map m = [] {
        ac_code_map t{};
        for (auto& r : t.index) std::fill(std::begin(r), std::end(r), int16_t(-1));
        for (int i = 0; i < schl_ac_code_count; ++i)
            t.index[schl_ac_codes[i].run][schl_ac_codes[i].level] = int16_t(i);
        return t;
    }();
    return m;
}

// The DC size codes, read back out of the decoder's lookup tables.
struct dc_code {
    uint32_t bits;
    int length;
};
dc_code dc_size_code(bool luma, int size) {
    const int window = luma ? 7 : 8;
    const uint16_t* table = luma ? schl_dc_luma_sizes : schl_dc_chroma_sizes;
    for (uint32_t w = 0; w < (1u << window); ++w) {
        int length = table[w] >> 8;
        if ((table[w] & 0xFF) == size && length > 0) return {w >> (window - length), length};
    }
    return {0, 0};
}

} // namespace

void put_schl_dc_difference(schl_bit_writer& w, bool luma, int32_t diff) {
    int size = 0;
    while (size < 8 && std::abs(diff) >= (1 << size)) ++size;
    dc_code c = dc_size_code(luma, size);
    w.put(c.bits, c.length);
    if (size) w.put(uint32_t(diff > 0 ? diff : diff + (1 << size) - 1), size);
}

void put_schl_ac_levels(schl_bit_writer& w, const int32_t* levels) {
    int run = 0;
    for (int i = 1; i < 64; ++i) {
        int32_t level = levels[i];
        if (level == 0) {
            ++run;
            continue;
        }
        int32_t magnitude = std::abs(level);
        int code = magnitude <= 40 && run < 32 ? ac_codes().index[run][magnitude] : -1;
        if (code >= 0) {
            w.put(schl_ac_codes[code].bits, schl_ac_codes[code].length);
            w.put(level < 0, 1);
        } else {
            w.put(0b000001, 6);
            w.put(uint32_t(run), 6);
            if (level >= 1 && level <= 127) {
                w.put(uint32_t(level), 8);
            } else if (level >= -127 && level <= -1) {
                w.put(uint32_t(level + 256), 8);
            } else if (level > 0) {
                w.put(0, 8);
                w.put(uint32_t(level), 8);
            } else {
                w.put(128, 8);
                w.put(uint32_t(level + 256), 8);
            }
        }
        run = 0;
    }
    w.put(0b10, 2);
}

std::vector<uint8_t> encode_schl_picture(const schl_planes& p, const schl_picture_options& o) {
    schl_bit_writer w;
    int32_t predictor[3] = {0, 0, 0};
    const int mbw = p.width / 16, mbh = p.height / 16;
    for (int r = 0; r < mbh; ++r) {
        for (int c = 0; c < mbw; ++c) {
            for (int k = 0; k < 6; ++k) {
                const int component = k < 4 ? 0 : k - 3;
                const int32_t* samples;
                int stride;
                if (component == 0) {
                    stride = p.width;
                    samples =
                        p.y.data() + size_t(16 * r + 8 * (k >> 1)) * stride + 16 * c + 8 * (k & 1);
                } else {
                    stride = p.width / 2;
                    samples =
                        (component == 1 ? p.cb : p.cr).data() + size_t(8 * r) * stride + 8 * c;
                }
                double coefficients[64];
                schl_forward_transform(samples, stride, coefficients);
                int32_t dc = int32_t(std::lround(coefficients[0]));
                int32_t diff = std::clamp(dc - predictor[component], -255, 255);
                predictor[component] += diff;
                put_schl_dc_difference(w, component == 0, diff);
                int32_t levels[64] = {};
                for (int i = 1; i < 64; ++i) {
                    int at = schl_scan[i];
                    int a = at / 8, b = at % 8;
                    int step = 1 + o.coarseness * (a + b) * (component ? 2 : 1) / 4;
                    int32_t level = int32_t(std::lround(coefficients[at] / step)) * step;
                    levels[i] = std::clamp(level, -255, 255);
                }
                put_schl_ac_levels(w, levels);
            }
        }
    }
    return w.bytes();
}

// --- sound ---

namespace {

// Codes one channel's 28 samples (every stride-th value) with one pair and
// shift, as the decoder will rebuild them; returns the squared error, or
// stops early once it reaches `give_up`. Residual nibbles go to nibbles when
// it is not null; last and before carry the decoder's history.
int64_t code_samples(const int16_t* x, int stride, int index, int shift, int32_t& last,
                     int32_t& before, uint8_t* nibbles, int64_t give_up) {
    const int32_t k1 = schl_coefficients[index][0], k2 = schl_coefficients[index][1];
    const int64_t step = int64_t(1) << (20 - shift);
    int64_t error = 0;
    for (int i = 0; i < 28 && error < give_up; ++i) {
        const int32_t base = k1 * last + k2 * before + 128;
        // The residual whose sum lands mid-way in the wanted sample's step of 256.
        const int64_t target = int64_t(x[i * stride]) * 256 + 128 - base;
        const int64_t nearest =
            target >= 0 ? (target + step / 2) / step : -((step / 2 - target) / step);
        const int32_t r = int32_t(std::clamp<int64_t>(nearest, -8, 7));
        const int32_t y = std::clamp((base + r * int32_t(step)) >> 8, -32768, 32767);
        error += int64_t(y - x[i * stride]) * (y - x[i * stride]);
        if (nibbles) nibbles[i] = uint8_t(r & 15);
        before = last;
        last = y;
    }
    return error;
}

// Picks the pair and shift that fit the block best, then codes it.
void encode_sound_block(const int16_t* x, int stride, int32_t& last, int32_t& before,
                        uint8_t* nibbles, int& best_index, int& best_shift) {
    int64_t best_error = INT64_MAX;
    for (int index = 0; index < 4; ++index) {
        for (int shift = 0; shift < 16; ++shift) {
            int32_t h1 = last, h2 = before;
            int64_t error = code_samples(x, stride, index, shift, h1, h2, nullptr, best_error);
            if (error < best_error) {
                best_error = error;
                best_index = index;
                best_shift = shift;
            }
        }
    }
    code_samples(x, stride, best_index, best_shift, last, before, nibbles, INT64_MAX);
}

} // namespace

std::vector<uint8_t> encode_schl_sound(const int16_t* samples, int frames, bool stereo,
                                       schl_sound_history& h) {
    std::vector<uint8_t> out;
    const int channels = stereo ? 2 : 1;
    for (int at = 0; at + 28 <= frames; at += 28) {
        uint8_t nibbles[2][28];
        int index[2] = {0, 0}, shift[2] = {0, 0};
        for (int ch = 0; ch < channels; ++ch)
            encode_sound_block(samples + size_t(at) * channels + ch, channels, h.last[ch],
                               h.before[ch], nibbles[ch], index[ch], shift[ch]);
        if (stereo) {
            out.push_back(uint8_t(index[0] << 4 | index[1]));
            out.push_back(uint8_t(shift[0] << 4 | shift[1]));
            for (int i = 0; i < 28; ++i) out.push_back(uint8_t(nibbles[0][i] << 4 | nibbles[1][i]));
        } else {
            out.push_back(uint8_t(index[0] << 4 | shift[0]));
            for (int i = 0; i < 28; i += 2)
                out.push_back(uint8_t(nibbles[0][i] << 4 | nibbles[0][i + 1]));
        }
    }
    return out;
}

// --- movies ---

static void put_chunk(byte_builder& b, const char* tag, const std::vector<uint8_t>& body) {
    b.tag(tag).le32(uint32_t(body.size() + 8)).raw(body);
}

std::vector<uint8_t> write_schl_movie(const schl_movie_content& movie) {
    byte_builder out;
    // Header fields from body byte 11: channel count, one field the player
    // skips, then the end of the list.
    byte_builder header;
    header.raw("reelmake\0\0", 10).u8(0xFD);
    header.u8(0x82).u8(1).u8(movie.stereo ? 2 : 1);
    header.u8(0x85).u8(4).le32(22050);
    header.u8(0x83).u8(1).u8(0);
    while (header.size() % 4) header.u8(0);
    put_chunk(out, "SCHl", header.bytes);
    if (movie.padding_chunks) put_chunk(out, "SCCl", {0, 0, 0, 0});

    const int channels = movie.stereo ? 2 : 1;
    const int per_slot = movie.frames_per_slot / 28 * 28;
    const size_t sound_frames = movie.sound.size() / channels;
    const size_t sound_slots = per_slot > 0 ? (sound_frames + per_slot - 1) / per_slot : 0;
    const size_t slots = std::max(movie.pictures.size(), sound_slots);
    schl_sound_history history;
    for (size_t s = 0; s < slots; ++s) {
        if (s < movie.pictures.size()) {
            byte_builder body;
            body.le16(uint32_t(movie.width))
                .le16(uint32_t(movie.height))
                .zeros(4)
                .raw(movie.pictures[s]);
            put_chunk(out, "pIQT", body.bytes);
        }
        if (movie.padding_chunks && s % 3 == 1) put_chunk(out, "SCCl", {});
        if (s < sound_slots) {
            std::vector<int16_t> piece(size_t(per_slot) * channels, 0);
            size_t from = s * per_slot * channels;
            size_t n = std::min(piece.size(), movie.sound.size() - from);
            std::copy_n(movie.sound.begin() + from, n, piece.begin());
            byte_builder body;
            body.le32(uint32_t(per_slot)).le32(history.seed(0)).le32(history.seed(1));
            body.raw(encode_schl_sound(piece.data(), per_slot, movie.stereo, history));
            put_chunk(out, "SCDl", body.bytes);
        }
    }
    put_chunk(out, "SCEl", {});
    return out.bytes;
}

// --- demo content ---

namespace {

double hash_noise(int x, int y, int seed) {
    uint32_t h = uint32_t(x) * 374761393u + uint32_t(y) * 668265263u + uint32_t(seed) * 2246822519u;
    h = (h ^ (h >> 13)) * 1274126177u;
    return double((h ^ (h >> 16)) & 0xFFFF) / 65535.0;
}

// Smooth value noise summed over octaves, 0..1.
double fractal_noise(double x, double y, int seed) {
    double sum = 0, weight = 0.5, total = 0;
    for (int octave = 0; octave < 5; ++octave) {
        int ix = int(std::floor(x)), iy = int(std::floor(y));
        double fx = x - ix, fy = y - iy;
        fx = fx * fx * (3 - 2 * fx);
        fy = fy * fy * (3 - 2 * fy);
        double a = hash_noise(ix, iy, seed + octave), b = hash_noise(ix + 1, iy, seed + octave);
        double c = hash_noise(ix, iy + 1, seed + octave),
               d = hash_noise(ix + 1, iy + 1, seed + octave);
        sum += weight * ((a * (1 - fx) + b * fx) * (1 - fy) + (c * (1 - fx) + d * fx) * fy);
        total += weight;
        weight *= 0.5;
        x *= 2;
        y *= 2;
    }
    return sum / total;
}

uint8_t to_byte(double v) {
    return uint8_t(std::clamp(v, 0.0, 255.0));
}

} // namespace

std::vector<uint8_t> make_schl_scene(int width, int height, double t) {
    // A valley at dusk: sky with drifting clouds, a setting sun, two ranges of
    // hills moving at different speeds and a meadow in front.
    std::vector<uint8_t> rgb(size_t(width) * height * 3);
    const double scale = 96.0 / height;
    const double sun_x = width * (0.25 + 0.05 * t), sun_y = height * (0.3 + 0.04 * t);
    std::vector<double> far(width), near(width);
    for (int px = 0; px < width; ++px) {
        double x = px * scale;
        far[px] = 52 + 10 * std::sin(x / 17 + t * 0.4) + 18 * fractal_noise(x / 9 + t * 0.8, 1, 3);
        near[px] =
            70 + 8 * std::sin(x / 11 + t * 1.2 + 1) + 5 * fractal_noise(x / 7 + t * 1.6, 2, 5);
    }
    for (int py = 0; py < height; ++py) {
        for (int px = 0; px < width; ++px) {
            double x = px * scale, y = py * scale;
            double r, g, b;
            if (y > near[px]) {
                double grass = fractal_noise(x / 2.5 + t * 3.0, y / 1.5, 13);
                double depth = (y - near[px]) / 30;
                r = 40 + 50 * grass + 30 * depth;
                g = 90 + 90 * grass + 20 * depth;
                b = 30 + 30 * grass;
            } else if (y > far[px]) {
                double shade = fractal_noise(x / 6 + t * 0.8, y / 6, 11);
                r = 70 + 40 * shade;
                g = 95 + 50 * shade;
                b = 120 + 40 * shade;
            } else {
                double v = double(py) / height;
                r = 90 + 120 * v, g = 120 + 70 * v, b = 200 - 30 * v;
                double cloud = fractal_noise(x / 24 + t * 0.3, y / 12, 7);
                cloud = std::clamp((cloud - 0.45) * 3, 0.0, 1.0);
                r += (245 - r) * cloud;
                g += (235 - g) * cloud;
                b += (230 - b) * cloud;
                double sd = std::hypot(px - sun_x, py - sun_y) * scale;
                double glow = std::exp(-sd * sd / 60.0);
                r += (255 - r) * glow;
                g += (225 - g) * glow;
                b += (150 - b) * glow;
            }
            uint8_t* o = &rgb[(size_t(py) * width + px) * 3];
            o[0] = to_byte(r);
            o[1] = to_byte(g);
            o[2] = to_byte(b);
        }
    }
    return rgb;
}

static std::vector<int16_t> make_tune(double seconds, bool stereo, int seed) {
    // A slow pentatonic arpeggio of soft bell-like notes.
    static const double scale[] = {261.63, 293.66, 329.63, 392.00, 440.00, 523.25, 587.33, 659.25};
    const int rate = 22050, channels = stereo ? 2 : 1;
    const int frames = int(seconds * rate);
    std::vector<double> left(frames, 0.0), right(frames, 0.0);
    const double note_length = 0.25;
    for (int n = 0; n * note_length < seconds; ++n) {
        int step = (n * 3 + seed + (n / 4) * 2) % 8;
        double f = scale[step] / (n % 8 == 0 ? 2 : 1);
        double pan = stereo ? 0.5 + 0.4 * std::sin(n * 1.3) : 0.5;
        int start = int(n * note_length * rate);
        for (int i = 0; start + i < frames && i < rate; ++i) {
            double tt = double(i) / rate;
            double env = std::min(1.0, tt * 200) * std::exp(-tt * 4);
            double s = env * (std::sin(2 * std::numbers::pi * f * tt) +
                              0.3 * std::sin(4 * std::numbers::pi * f * tt));
            left[start + i] += s * (1 - pan);
            right[start + i] += s * pan;
        }
    }
    std::vector<int16_t> out(size_t(frames) * channels);
    for (int i = 0; i < frames; ++i) {
        if (stereo) {
            out[2 * i] = int16_t(std::clamp(left[i] * 9000, -32768.0, 32767.0));
            out[2 * i + 1] = int16_t(std::clamp(right[i] * 9000, -32768.0, 32767.0));
        } else {
            out[i] = int16_t(std::clamp((left[i] + right[i]) * 9000, -32768.0, 32767.0));
        }
    }
    return out;
}

std::vector<uint8_t> make_schl_demo_movie(int variant, int length_seconds) {
    schl_movie_content movie;
    movie.stereo = variant == 1;
    if (variant == 2) {
        movie.width = 160;
        movie.height = 128;
    }
    const double seconds = length_seconds > 0 ? length_seconds : 3.0;
    movie.sound = make_tune(seconds, movie.stereo, variant);
    const double slot_seconds = movie.frames_per_slot / 28 * 28 / 22050.0;
    const int slots = int(seconds / slot_seconds);
    for (int s = 0; s < slots; ++s) {
        auto rgb = make_schl_scene(movie.width, movie.height, s * slot_seconds + variant * 2.0);
        movie.pictures.push_back(
            encode_schl_picture(schl_planes_from_rgb(rgb.data(), movie.width, movie.height), {2}));
    }
    movie.padding_chunks = variant == 1;
    return write_schl_movie(movie);
}

std::vector<uint8_t> make_schl_demo_archive() {
    std::vector<archive_member> members;
    members.push_back({"valley_mono.mov", make_schl_demo_movie(0)});
    members.push_back({"valley_stereo.mov", make_schl_demo_movie(1)});
    static const char note[] = "Three short demo movies made by reelmake.\n";
    members.push_back({"readme.txt", std::vector<uint8_t>(note, note + sizeof note - 1)});
    members.push_back({"valley_wide.mov", make_schl_demo_movie(2)});
    return write_named_archive(members);
}
