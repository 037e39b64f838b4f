// The exact Matroska export read back in-process: the file's blocks by a
// small EBML walk, its pictures by libvpx's VP9 decoder. Pictures and sound
// must be the rip's, bit for bit, at the rip's times.
#include "bytes.h"
#include "export_webm.h"
#include "form_writer.h"
#include "riff_writer.h"
#include "rip_test_support.h"
#include "schl_writer.h"
#include "sead_writer.h"

#include <gtest/gtest.h>
#include <map>
#include <vpx/vp8dx.h>
#include <vpx/vpx_decoder.h>

namespace {

struct mkv_block {
    int64_t ticks;
    std::vector<uint8_t> data;
};

struct mkv_file {
    int64_t tick_ns = 1000000;
    std::map<uint64_t, std::string> codecs;            // by track number
    std::map<uint64_t, std::vector<mkv_block>> blocks; // by track number
};

// An EBML number; the length marker is kept in IDs and dropped from sizes.
bool read_vint(const std::vector<uint8_t>& b, size_t* at, bool keep_marker, uint64_t* value) {
    if (*at >= b.size() || b[*at] == 0) return false;
    int length = 1;
    while (!(b[*at] & (0x80 >> (length - 1)))) ++length;
    if (*at + size_t(length) > b.size()) return false;
    uint64_t v = keep_marker ? b[*at] : b[*at] & (0xFF >> length);
    for (int i = 1; i < length; ++i) v = v << 8 | b[*at + size_t(i)];
    *at += size_t(length);
    *value = v;
    return true;
}

uint64_t read_uint(const std::vector<uint8_t>& b, size_t at, size_t size) {
    uint64_t v = 0;
    for (size_t i = 0; i < size; ++i) v = v << 8 | b[at + i];
    return v;
}

// The elements from begin to end, descending into the masters on the way to
// the blocks and the track entries.
bool walk(const std::vector<uint8_t>& b, size_t begin, size_t end, mkv_file* f,
          int64_t* cluster_ticks, uint64_t* track) {
    size_t at = begin;
    while (at < end) {
        uint64_t id = 0, size = 0;
        if (!read_vint(b, &at, true, &id) || !read_vint(b, &at, false, &size)) return false;
        if (size > end - at) return false;
        const size_t body = at;
        at += size;
        switch (id) {
        case 0x18538067: // Segment
        case 0x1549A966: // Info
        case 0x1654AE6B: // Tracks
        case 0xAE:       // TrackEntry
        case 0x1F43B675: // Cluster
        case 0xA0:       // BlockGroup
            if (!walk(b, body, body + size, f, cluster_ticks, track)) return false;
            break;
        case 0x2AD7B1: // TimestampScale
            f->tick_ns = int64_t(read_uint(b, body, size));
            break;
        case 0xD7: // TrackNumber
            *track = read_uint(b, body, size);
            break;
        case 0x86: // CodecID
            f->codecs[*track] = std::string(b.begin() + long(body), b.begin() + long(body + size));
            break;
        case 0xE7: // Cluster Timestamp
            *cluster_ticks = int64_t(read_uint(b, body, size));
            break;
        case 0xA3:   // SimpleBlock
        case 0xA1: { // Block
            size_t p = body;
            uint64_t number = 0;
            if (!read_vint(b, &p, false, &number) || p + 3 > body + size) return false;
            const int16_t offset = int16_t(uint16_t(b[p] << 8 | b[p + 1]));
            p += 3; // the offset and the flags; no lacing
            f->blocks[number].push_back(
                {*cluster_ticks + offset,
                 std::vector<uint8_t>(b.begin() + long(p), b.begin() + long(body + size))});
            break;
        }
        default:
            break;
        }
    }
    return true;
}

mkv_file read_mkv(const std::string& path) {
    mkv_file f;
    std::vector<uint8_t> bytes = read_file(path);
    int64_t cluster_ticks = 0;
    uint64_t track = 0;
    EXPECT_TRUE(walk(bytes, 0, bytes.size(), &f, &cluster_ticks, &track));
    return f;
}

uint64_t track_of(const mkv_file& f, const std::string& codec) {
    for (const auto& [number, id] : f.codecs)
        if (id == codec) return number;
    return 0;
}

// A FORM movie whose second and third slots are one sample apart.
std::vector<uint8_t> one_sample_apart_movie() {
    form_movie m;
    m.width = 32;
    m.height = 16;
    m.palettes = {grey_ramp_palette()};
    for (int t = 0; t < 5; ++t) {
        form_frame f;
        f.shot = t == 0 ? 0 : -1;
        f.pixels.assign(size_t(m.width * m.height), uint8_t(40 * t));
        f.sound.assign(t == 1 ? 1 : 700, int16_t(100 * t));
        m.frames.push_back(std::move(f));
    }
    return write_form_movie(m);
}

struct exact_case {
    const char* name;
    std::vector<uint8_t> (*make)();
    bool interlaced;
};

TEST(MkvExport, DecodesToTheRipsPicturesAndSoundExactly) {
    const exact_case cases[] = {
        {"form", [] { return make_form_demo_movie(0); }, false},
        {"form one sample apart", one_sample_apart_movie, false},
        // Noise-like pictures switch the encoder to its real-time deadline.
        {"form dithered", [] { return make_form_dithered_movie(); }, false},
        {"riff", make_riff_demo_movie, false},
        {"schl stereo", [] { return make_schl_demo_movie(1); }, false},
        {"sead interlaced", make_sead_demo_movie, true},
    };
    for (const exact_case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string dir = fresh_dir(std::string("mkv ") + c.name);
        std::string movie = dir + "/movie", out = dir + "/movie.mkv";
        ASSERT_TRUE(write_file(movie, c.make()));
        rip_request request;
        request.path = movie;
        request.interlaced = c.interlaced;
        ripped_movie rip = rip_to_memory(request);
        ASSERT_EQ(rip.status, rip_done);
        webm_options options;
        options.exact = true;
        // Segments of 75 pictures coded side by side must still reach the
        // file in order, each starting with a key picture.
        options.lanes = 3;
        webm_summary summary;
        ASSERT_EQ(rip_to_webm(request, out, options, &summary), rip_done) << summary.error;

        // One picture per instant: the last of the slots that start together.
        std::vector<const ripped_slot*> expected;
        for (const ripped_slot& s : rip.slots) {
            if (!s.has_picture) continue;
            if (!expected.empty() && expected.back()->start_frame == s.start_frame)
                expected.pop_back();
            expected.push_back(&s);
        }
        mkv_file f = read_mkv(out);
        ASSERT_EQ(f.tick_ns, 10000);
        const std::vector<mkv_block>& video = f.blocks[track_of(f, "V_VP9")];
        ASSERT_EQ(video.size(), expected.size());
        EXPECT_EQ(summary.pictures, int32_t(expected.size()));

        vpx_codec_ctx_t decoder;
        ASSERT_EQ(vpx_codec_dec_init(&decoder, vpx_codec_vp9_dx(), nullptr, 0), VPX_CODEC_OK);
        const size_t width = size_t(rip.info.width), height = size_t(rip.info.height);
        size_t differing = 0;
        for (size_t n = 0; n < video.size(); ++n) {
            EXPECT_EQ(video[n].ticks, (expected[n]->start_frame * 100000 + 11025) / 22050) << n;
            ASSERT_EQ(vpx_codec_decode(&decoder, video[n].data.data(),
                                       unsigned(video[n].data.size()), nullptr, 0),
                      VPX_CODEC_OK);
            vpx_codec_iter_t iter = nullptr;
            vpx_image_t* image = vpx_codec_get_frame(&decoder, &iter);
            ASSERT_NE(image, nullptr);
            ASSERT_EQ(image->fmt, VPX_IMG_FMT_I444);
            ASSERT_EQ(image->d_w, width);
            ASSERT_EQ(image->d_h, height);
            const std::vector<uint8_t>& rgb = expected[n]->rgb;
            for (size_t y = 0; y < height; ++y)
                for (size_t x = 0; x < width; ++x) {
                    const uint8_t* p = &rgb[3 * (y * width + x)];
                    auto at = [&](int plane) {
                        return image->planes[plane][y * size_t(image->stride[plane]) + x];
                    };
                    differing += at(2) != p[0] || at(0) != p[1] || at(1) != p[2];
                }
        }
        vpx_codec_destroy(&decoder);
        EXPECT_EQ(differing, 0u);

        std::vector<uint8_t> sound;
        for (const mkv_block& b : f.blocks[track_of(f, "A_PCM/INT/LIT")])
            sound.insert(sound.end(), b.data.begin(), b.data.end());
        EXPECT_EQ(sound, rip.sound);
    }
}

} // namespace
