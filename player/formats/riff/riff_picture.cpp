#include "formats/riff/riff.h"

#include "../src/coding.h"
#include "formats/common/chunk_io.h"
#include "formats/common/zero_state.h"

#include <algorithm>
#include <cstring>
#include <type_traits>

static_assert(std::is_same_v<decompress_fn, xan_decompress_fn>);
static_assert(std::is_same_v<draw_frame_fn, xan_draw_frame_fn>);

riff_picture_decoder riff_picture;

void fill_codec_context(codec_memory& m, int32_t w, int32_t h) {
    m.context = codec_context{int32_t(sizeof(codec_context)),
                              263296,
                              3,
                              w,
                              h,
                              52800,
                              2,
                              0x7C,
                              0x3E0,
                              0x1F,
                              0,
                              m.luma,
                              m.chroma,
                              m.reference,
                              m.table};
    memcpy(m.table, &codec_table, sizeof codec_table);
}

void decode_riff_picture_with(riff_picture_decoder& d, decompress_fn decompress, draw_frame_fn draw,
                              uint8_t interlaced, int32_t width, int32_t height,
                              const uint8_t* payload, void** pixels) {
    int32_t w = interlaced ? width / 2 : width;
    int32_t h = interlaced ? height / 2 : height;
    // The work areas and the draw buffer are sized for 320 x 165.
    if (w < 1 || h < 1 || w > riff_width || h > riff_height) return;
    auto* surface = static_cast<uint8_t*>(*pixels);
    if (!decompress || !draw) {
        memset(surface, 0, size_t(width) * height * 2);
        return;
    }
    if (!d.started) {
        fill_codec_context(d.memory, w, h);
        d.started = true;
    }
    decompress(&d.memory.context, payload, 0);
    if (interlaced) {
        // Straight into the surface, whose rows are `width` (640) pixels long.
        draw(&d.memory.context, surface, width, xan_mode_doubled);
        return;
    }
    draw(&d.memory.context, d.draw_buffer, xan_output_pitch, xan_mode_normal);
    for (int32_t r = 0; r < h; ++r)
        memcpy(surface + size_t(r) * 2 * w, d.draw_buffer + size_t(r) * 2 * xan_output_pitch,
               size_t(2 * w));
}

void decode_riff_picture(uint8_t interlaced, int32_t width, int32_t height, const FrameSlot* slot,
                         void** pixels) {
    decode_riff_picture_with(riff_picture, DecompressXD, DrawFrameXD, interlaced, width, height,
                             slot->video, pixels);
}

bool riff_key_picture(const FrameSlot& slot) {
    if (!DecompressXD || !DrawFrameXD) return true;
    const int32_t w = interlaced ? movie_width / 2 : movie_width;
    const int32_t h = interlaced ? movie_height / 2 : movie_height;
    const uint8_t* p = slot.video;
    const int32_t length = std::min(slot.video_length, video_capacity);
    if (length < xan::header_size || memcmp(p, xan::signature, 4) != 0 ||
        p[xan::at_version] != xan::version || load_le16(p + xan::at_width) != w ||
        load_le16(p + xan::at_height) != h)
        return false;
    const uint32_t body = load_le32(p + xan::at_body_length);
    if (body > uint32_t(length - xan::header_size)) return false;
    if (xan::checksum(p + xan::header_size, body) != load_le32(p + xan::at_checksum)) return false;
    const uint8_t type = p[xan::at_type];
    const int32_t cw = xan::chroma_extent(w), ch = xan::chroma_extent(h);
    return type == xan::picture_key ||
           (type == xan::picture_raw && body == uint32_t(w * h + 2 * cw * ch));
}

void reset_riff_picture(riff_picture_decoder& d) {
    zero_state(&d, sizeof d);
}

void reset_riff() {
    reset_riff_picture(riff_picture);
}
