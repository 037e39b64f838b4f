// The codec library: decodes one payload into the context's work areas and
// draws the last good picture through the colour table.
#include "coding.h"
#include "xanlib.h"

#include <cstring>

namespace {

using namespace xan;

constexpr uint32_t state_good = 0x444F4F47; // planes hold a whole picture

// Kept at the head of the reference area between calls.
struct decoder_state {
    uint32_t magic;
    int32_t width;
    int32_t height;
    uint16_t sequence;
    uint8_t chain_intact; // the planes may be predicted from
    uint8_t unused;
};
static_assert(sizeof(decoder_state) <= xan_reference_area_size);

struct geometry {
    int width, height, chroma_width, chroma_height;
};

uint16_t load16(const uint8_t* p) {
    return uint16_t(p[0] | p[1] << 8);
}
uint32_t load32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

bool context_geometry(const codec_context* c, geometry* g) {
    if (!c || c->record_size != int32_t(sizeof(codec_context))) return false;
    if (!c->luma_area || !c->chroma_area || !c->reference_area || !c->table_area) return false;
    if (c->width < 1 || c->height < 1 || c->width > 4096 || c->height > 4096) return false;
    g->width = c->width;
    g->height = c->height;
    g->chroma_width = chroma_extent(c->width);
    g->chroma_height = chroma_extent(c->height);
    if (g->width * g->height > xan_luma_area_size) return false;
    if (2 * g->chroma_width * g->chroma_height > xan_chroma_area_size) return false;
    return true;
}

decoder_state load_state(const codec_context* c) {
    decoder_state s;
    memcpy(&s, c->reference_area, sizeof s);
    return s;
}
void store_state(codec_context* c, const decoder_state& s) {
    memcpy(c->reference_area, &s, sizeof s);
}

bool holds_picture(const decoder_state& s, const geometry& g) {
    return s.magic == state_good && s.width == g.width && s.height == g.height;
}

// Bits are taken most significant first. Past the body's end every bit reads
// as 0, which ends every code, and the overrun is remembered.
struct bit_reader {
    const uint8_t* data;
    uint32_t size;
    uint32_t at = 0; // in bits
    bool overrun = false;

    int bit() {
        uint32_t byte = at >> 3;
        if (byte >= size) {
            overrun = true;
            return 0;
        }
        int b = (data[byte] >> (7 - (at & 7))) & 1;
        ++at;
        return b;
    }
    int bits(int n) {
        int v = 0;
        for (int i = 0; i < n; ++i) v = v << 1 | bit();
        return v;
    }
    int rice(const rice_state& r, int levels) {
        int q = 0;
        while (q < rice_escape && bit()) ++q;
        if (q == rice_escape) return bits(plain_bits(levels));
        int k = r.k();
        return q << k | bits(k);
    }
    uint32_t golomb() {
        int zeros = 0;
        while (zeros < max_golomb_zeros && !bit() && !overrun) ++zeros;
        return ((1u << zeros) | uint32_t(bits(zeros))) - 1;
    }
};

struct plane_ref {
    uint8_t* data;
    int width, height;
    int levels;
};

void decode_block_plane(bit_reader& in, const plane_ref& p, int x0, int y0, int size, bool temporal,
                        rice_state& rice) {
    int x1 = x0 + size < p.width ? x0 + size : p.width;
    int y1 = y0 + size < p.height ? y0 + size : p.height;
    for (int y = y0; y < y1; ++y) {
        bool coded = in.bit();
        uint8_t* row = p.data + y * p.width;
        for (int x = x0; x < x1; ++x) {
            int prediction = temporal ? row[x] : predict_spatial(p.data, p.width, x, y, p.levels);
            int code = 0;
            if (coded) {
                code = in.rice(rice, p.levels);
                rice.update(code);
            }
            row[x] = uint8_t(residual_value(code, prediction, p.levels));
        }
    }
}

struct picture_planes {
    plane_ref y, u, v;
};

void decode_block(bit_reader& in, const picture_planes& pp, int bx, int by, bool temporal,
                  rice_state& luma, rice_state& chroma) {
    constexpr int half = block_size / 2;
    decode_block_plane(in, pp.y, bx * block_size, by * block_size, block_size, temporal, luma);
    decode_block_plane(in, pp.u, bx * half, by * half, half, temporal, chroma);
    decode_block_plane(in, pp.v, bx * half, by * half, half, temporal, chroma);
}

// Returns false when the body ran out before the picture was whole.
bool decode_body(const uint8_t* body, uint32_t size, uint8_t type, const picture_planes& pp) {
    const geometry g = {pp.y.width, pp.y.height, pp.u.width, pp.u.height};
    if (type == picture_raw) {
        uint32_t luma = uint32_t(g.width * g.height);
        uint32_t chroma = uint32_t(g.chroma_width * g.chroma_height);
        if (size != luma + 2 * chroma) return false;
        for (uint32_t i = 0; i < luma; ++i) pp.y.data[i] = body[i] & (luma_levels - 1);
        for (uint32_t i = 0; i < chroma; ++i) pp.u.data[i] = body[luma + i] & (chroma_levels - 1);
        for (uint32_t i = 0; i < chroma; ++i)
            pp.v.data[i] = body[luma + chroma + i] & (chroma_levels - 1);
        return true;
    }
    bit_reader in{body, size};
    rice_state luma, chroma;
    luma.max_k = 5;
    chroma.max_k = 4;
    int across = (g.width + block_size - 1) / block_size;
    int down = (g.height + block_size - 1) / block_size;
    uint32_t blocks = uint32_t(across * down);
    uint32_t b = 0;
    while (b < blocks) {
        bool temporal = false;
        if (type == picture_predicted) {
            uint32_t skip = in.golomb();
            b += skip < blocks - b ? skip : blocks - b;
            if (b >= blocks) break;
            temporal = in.bit();
        }
        decode_block(in, pp, int(b % uint32_t(across)), int(b / uint32_t(across)), temporal, luma,
                     chroma);
        ++b;
    }
    return !in.overrun;
}

int decompress(codec_context* c, const void* payload_address, int flags) {
    geometry g;
    if (!context_geometry(c, &g) || !payload_address || flags != 0) return -1;
    const auto* payload = static_cast<const uint8_t*>(payload_address);
    if (memcmp(payload, signature, 4) != 0) return -2;
    if (payload[at_version] != version) return -3;
    uint8_t type = payload[at_type];
    if (type > picture_raw) return -3;
    if (load16(payload + at_width) != g.width || load16(payload + at_height) != g.height) return -4;
    uint32_t body_length = load32(payload + at_body_length);
    if (body_length > uint32_t(xan_payload_capacity - header_size)) return -5;
    const uint8_t* body = payload + header_size;
#ifdef FUZZING_BUILD_MODE_UNSAFE_FOR_PRODUCTION
    // A fuzzing build lets mutated payloads past the checksum, so that the
    // fuzzer reaches the picture coding behind it.
    constexpr bool check_sum = false;
#else
    constexpr bool check_sum = true;
#endif
    if (check_sum && checksum(body, body_length) != load32(payload + at_checksum)) return -5;
    uint16_t sequence = load16(payload + at_sequence);

    decoder_state s = load_state(c);
    if (type == picture_predicted &&
        (!holds_picture(s, g) || !s.chain_intact || uint16_t(s.sequence + 1) != sequence))
        return -6;

    int chroma = g.chroma_width * g.chroma_height;
    picture_planes pp = {{c->luma_area, g.width, g.height, luma_levels},
                         {c->chroma_area, g.chroma_width, g.chroma_height, chroma_levels},
                         {c->chroma_area + chroma, g.chroma_width, g.chroma_height, chroma_levels}};
    bool whole = decode_body(body, body_length, type, pp);
    s.magic = state_good;
    s.width = g.width;
    s.height = g.height;
    s.sequence = sequence;
    s.chain_intact = whole;
    store_state(c, s);
    return whole ? 0 : -7;
}

void store16(uint8_t* p, uint16_t v) {
    memcpy(p, &v, 2);
}

int draw(codec_context* c, void* output, int pitch, int mode) {
    geometry g;
    if (!context_geometry(c, &g) || !output) return -1;
    int scale = mode == xan_mode_normal ? 1 : mode == xan_mode_doubled ? 2 : 0;
    if (scale == 0 || pitch < scale * g.width || pitch > 1 << 16) return -1;
    auto* out = static_cast<uint8_t*>(output);
    size_t row_bytes = size_t(pitch) * 2;
    size_t drawn_bytes = size_t(scale * g.width) * 2;

    if (!holds_picture(load_state(c), g)) {
        for (int r = 0; r < scale * g.height; ++r) memset(out + r * row_bytes, 0, drawn_bytes);
        return 0;
    }
    const uint8_t* table = c->table_area;
    const uint8_t* u_plane = c->chroma_area;
    const uint8_t* v_plane = c->chroma_area + g.chroma_width * g.chroma_height;
    for (int y = 0; y < g.height; ++y) {
        const uint8_t* luma = c->luma_area + y * g.width;
        const uint8_t* u = u_plane + (y >> 1) * g.chroma_width;
        const uint8_t* v = v_plane + (y >> 1) * g.chroma_width;
        uint8_t* o = out + size_t(scale * y) * row_bytes;
        for (int x = 0; x < g.width; ++x) {
            unsigned index = (luma[x] & 63u) | (u[x >> 1] & 31u) << 6 | (v[x >> 1] & 31u) << 11;
            uint16_t colour = load16(table + 2 * index);
            if (scale == 1) {
                store16(o + 2 * x, colour);
            } else {
                store16(o + 4 * x, colour);
                store16(o + 4 * x + 2, colour);
            }
        }
        if (scale == 2) memset(o + row_bytes, 0, drawn_bytes);
    }
    return 0;
}

} // namespace

extern "C" __attribute__((visibility("default"))) int DecompressXD(codec_context* context,
                                                                   const void* payload, int flags) {
    return decompress(context, payload, flags);
}

extern "C" __attribute__((visibility("default"))) int
DrawFrameXD(codec_context* context, void* output, int pitch, int mode) {
    return draw(context, output, pitch, mode);
}
