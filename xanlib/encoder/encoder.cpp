#include "xan_encoder.h"

#include "../src/coding.h"

#include <cmath>
#include <cstring>

namespace {

using namespace xan;

struct bit_writer {
    std::vector<uint8_t> bytes;
    uint64_t count = 0; // bits written

    void bit(int b) {
        if ((count & 7) == 0) bytes.push_back(0);
        if (b) bytes.back() |= uint8_t(0x80 >> (count & 7));
        ++count;
    }
    void bits(uint32_t v, int n) {
        for (int i = n - 1; i >= 0; --i) bit((v >> i) & 1);
    }
    void append(const bit_writer& w) {
        for (uint64_t i = 0; i < w.count; ++i) bit((w.bytes[i >> 3] >> (7 - (i & 7))) & 1);
    }
    void rice(int code, const rice_state& r, int levels) {
        int k = r.k();
        int q = code >> k;
        if (q >= rice_escape) {
            for (int i = 0; i < rice_escape; ++i) bit(1);
            bits(uint32_t(code), plain_bits(levels));
            return;
        }
        for (int i = 0; i < q; ++i) bit(1);
        bit(0);
        bits(uint32_t(code & ((1 << k) - 1)), k);
    }
    void golomb(uint32_t v) {
        uint32_t x = v + 1;
        int n = 0;
        while ((x >> n) > 1) ++n;
        for (int i = 0; i < n; ++i) bit(0);
        bits(x, n + 1);
    }
};

struct plane_view {
    const uint8_t* current;   // the picture being coded
    const uint8_t* reference; // the decoder's planes before it (temporal prediction)
    int width, height, levels;
};

void encode_block_plane(bit_writer& out, const plane_view& p, int x0, int y0, int size,
                        bool temporal, rice_state& rice) {
    int x1 = x0 + size < p.width ? x0 + size : p.width;
    int y1 = y0 + size < p.height ? y0 + size : p.height;
    int codes[block_size];
    for (int y = y0; y < y1; ++y) {
        bool any = false;
        for (int x = x0; x < x1; ++x) {
            int i = y * p.width + x;
            int prediction =
                temporal ? p.reference[i] : predict_spatial(p.current, p.width, x, y, p.levels);
            codes[x - x0] = residual_code(p.current[i], prediction, p.levels);
            any |= codes[x - x0] != 0;
        }
        out.bit(any);
        if (!any) continue;
        for (int x = x0; x < x1; ++x) {
            out.rice(codes[x - x0], rice, p.levels);
            rice.update(codes[x - x0]);
        }
    }
}

struct picture_views {
    plane_view y, u, v;
};

void encode_block(bit_writer& out, const picture_views& pv, int bx, int by, bool temporal,
                  rice_state& luma, rice_state& chroma) {
    constexpr int half = block_size / 2;
    encode_block_plane(out, pv.y, bx * block_size, by * block_size, block_size, temporal, luma);
    encode_block_plane(out, pv.u, bx * half, by * half, half, temporal, chroma);
    encode_block_plane(out, pv.v, bx * half, by * half, half, temporal, chroma);
}

bool block_unchanged(const picture_views& pv, int bx, int by) {
    auto same = [](const plane_view& p, int x0, int y0, int size) {
        for (int y = y0; y < y0 + size && y < p.height; ++y)
            for (int x = x0; x < x0 + size && x < p.width; ++x)
                if (p.current[y * p.width + x] != p.reference[y * p.width + x]) return false;
        return true;
    };
    constexpr int half = block_size / 2;
    return same(pv.y, bx * block_size, by * block_size, block_size) &&
           same(pv.u, bx * half, by * half, half) && same(pv.v, bx * half, by * half, half);
}

void put16(std::vector<uint8_t>& b, int at, uint32_t v) {
    b[at] = uint8_t(v);
    b[at + 1] = uint8_t(v >> 8);
}
void put32(std::vector<uint8_t>& b, int at, uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + i] = uint8_t(v >> (8 * i));
}

std::vector<uint8_t> seal(const xan_encoder& e, uint8_t type, const std::vector<uint8_t>& body) {
    std::vector<uint8_t> p(header_size);
    memcpy(p.data(), signature, 4);
    p[at_version] = version;
    p[at_type] = type;
    put16(p, at_width, uint32_t(e.width));
    put16(p, at_height, uint32_t(e.height));
    put16(p, at_sequence, e.sequence);
    put32(p, at_body_length, uint32_t(body.size()));
    put32(p, at_checksum, checksum(body.data(), uint32_t(body.size())));
    p.insert(p.end(), body.begin(), body.end());
    return p;
}

} // namespace

xan_picture make_xan_picture(int width, int height) {
    xan_picture p;
    p.width = width;
    p.height = height;
    p.y.assign(size_t(width) * height, 0);
    size_t chroma = size_t(chroma_extent(width)) * chroma_extent(height);
    p.u.assign(chroma, 0);
    p.v.assign(chroma, 0);
    return p;
}

void start_xan_encoder(xan_encoder& e, int width, int height, int key_interval) {
    e = xan_encoder{};
    e.width = width;
    e.height = height;
    e.key_interval = key_interval < 1 ? 1 : key_interval;
    e.sequence = 0xFFFF; // the first picture is number 0
}

std::vector<uint8_t> encode_xan_picture(xan_encoder& e, const xan_picture& picture,
                                        bool force_key) {
    bool key = force_key || !e.have_reference || e.since_key + 1 >= e.key_interval;
    const xan_picture& ref = e.have_reference ? e.reference : picture;
    int cw = chroma_extent(e.width), ch = chroma_extent(e.height);
    picture_views pv = {{picture.y.data(), ref.y.data(), e.width, e.height, luma_levels},
                        {picture.u.data(), ref.u.data(), cw, ch, chroma_levels},
                        {picture.v.data(), ref.v.data(), cw, ch, chroma_levels}};
    int across = (e.width + block_size - 1) / block_size;
    int down = (e.height + block_size - 1) / block_size;

    bit_writer out;
    rice_state luma, chroma;
    luma.max_k = 5;
    chroma.max_k = 4;
    uint32_t skipped = 0;
    for (int by = 0; by < down; ++by) {
        for (int bx = 0; bx < across; ++bx) {
            if (key) {
                encode_block(out, pv, bx, by, false, luma, chroma);
                continue;
            }
            if (block_unchanged(pv, bx, by)) {
                ++skipped;
                continue;
            }
            // Try both predictions and keep the shorter.
            bit_writer spatial, temporal;
            rice_state ls = luma, cs = chroma, lt = luma, ct = chroma;
            encode_block(spatial, pv, bx, by, false, ls, cs);
            encode_block(temporal, pv, bx, by, true, lt, ct);
            bool use_temporal = temporal.count < spatial.count;
            out.golomb(skipped);
            skipped = 0;
            out.bit(use_temporal);
            out.append(use_temporal ? temporal : spatial);
            luma = use_temporal ? lt : ls;
            chroma = use_temporal ? ct : cs;
        }
    }
    if (!key && skipped) out.golomb(skipped);

    e.sequence = uint16_t(e.sequence + 1);
    e.since_key = key ? 0 : e.since_key + 1;
    e.reference = picture;
    e.have_reference = true;

    size_t raw_size = picture.y.size() + picture.u.size() + picture.v.size();
    if (out.bytes.size() >= raw_size) {
        std::vector<uint8_t> body;
        body.insert(body.end(), picture.y.begin(), picture.y.end());
        body.insert(body.end(), picture.u.begin(), picture.u.end());
        body.insert(body.end(), picture.v.begin(), picture.v.end());
        e.since_key = 0;
        return seal(e, picture_raw, body);
    }
    return seal(e, key ? picture_key : picture_predicted, out.bytes);
}

namespace {

struct rgb5 {
    int r, g, b;
};

rgb5 colour_of(const uint16_t* colours, int y, int u, int v) {
    uint16_t c = colours[y | u << 6 | v << 11];
    return {c >> 10 & 31, c >> 5 & 31, c & 31};
}

int distance(const rgb5& a, const float* target) {
    float dr = float(a.r) - target[0], dg = float(a.g) - target[1], db = float(a.b) - target[2];
    return int(16 * (dr * dr + dg * dg + db * db));
}

int clampi(int v, int lo, int hi) {
    return v < lo ? lo : v > hi ? hi : v;
}

} // namespace

xan_picture xan_picture_from_rgb(const uint8_t* rgb, int width, int height,
                                 const uint16_t* colours) {
    xan_picture p = make_xan_picture(width, height);
    int cw = chroma_extent(width);
    for (int cy = 0; cy < chroma_extent(height); ++cy) {
        for (int cx = 0; cx < cw; ++cx) {
            // The pixels of this 2 x 2 cell, on the 5-bit colour scale.
            float target[4][3];
            int index[4];
            int n = 0;
            float sum_cr = 0, sum_cb = 0;
            int luma_guess[4];
            for (int dy = 0; dy < 2; ++dy) {
                for (int dx = 0; dx < 2; ++dx) {
                    int x = 2 * cx + dx, y = 2 * cy + dy;
                    if (x >= width || y >= height) continue;
                    const uint8_t* px = rgb + 3 * (size_t(y) * width + x);
                    for (int c = 0; c < 3; ++c) target[n][c] = px[c] * (31.0f / 255.0f);
                    float l = (8 * target[n][0] + 16 * target[n][1] + 3 * target[n][2]) / 27.0f;
                    sum_cr += target[n][0] - l;
                    sum_cb += target[n][2] - l;
                    luma_guess[n] = clampi(int(std::lround(2 * l)), 0, 63);
                    index[n++] = y * width + x;
                }
            }
            int v0 = clampi(int(std::lround(sum_cr / n + 15.5f)), 0, 31);
            int u0 = clampi(int(std::lround(sum_cb / n + 15.5f)), 0, 31);
            int best_cost = -1, best_u = u0, best_v = v0, best_y[4] = {};
            for (int v = v0 - 1; v <= v0 + 1; ++v) {
                for (int u = u0 - 1; u <= u0 + 1; ++u) {
                    if (u < 0 || u > 31 || v < 0 || v > 31) continue;
                    int cost = 0, ys[4] = {};
                    for (int i = 0; i < n; ++i) {
                        int best = -1;
                        for (int y = luma_guess[i] - 3; y <= luma_guess[i] + 3; ++y) {
                            if (y < 0 || y > 63) continue;
                            int d = distance(colour_of(colours, y, u, v), target[i]);
                            if (best < 0 || d < best) {
                                best = d;
                                ys[i] = y;
                            }
                        }
                        cost += best;
                    }
                    if (best_cost < 0 || cost < best_cost) {
                        best_cost = cost;
                        best_u = u;
                        best_v = v;
                        memcpy(best_y, ys, sizeof ys);
                    }
                }
            }
            for (int i = 0; i < n; ++i) p.y[size_t(index[i])] = uint8_t(best_y[i]);
            p.u[size_t(cy) * cw + cx] = uint8_t(best_u);
            p.v[size_t(cy) * cw + cx] = uint8_t(best_v);
        }
    }
    return p;
}
