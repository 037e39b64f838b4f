// The codec library as the player binds it: the picture size (two 16-bit
// words), then payloads (each a 32-bit length and its bytes), each given to
// DecompressXD at the start of a payload-sized buffer and followed by
// DrawFrameXD in both modes.
#include "formats/riff/riff.h"
#include "fuzz_support.h"
#include "platform/library.h"

#include <algorithm>
#include <cstring>
#include <memory>

static xan_decompress_fn decompress;
static xan_draw_frame_fn draw;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    void* library = load_codec_library(codec_library_name);
    decompress = reinterpret_cast<xan_decompress_fn>(find_library_entry(library, "DecompressXD"));
    draw = reinterpret_cast<xan_draw_frame_fn>(find_library_entry(library, "DrawFrameXD"));
    fuzz_require(decompress && draw, "the codec library beside the target");
    return 0;
}

// Output of `rows` rows `pitch` pixels apart, 2 bytes each; a size the
// library must refuse gets one byte, which it must leave alone.
static void draw_into(codec_context* context, bool drawable, int32_t rows, int32_t pitch,
                      int mode) {
    std::vector<uint8_t> out(drawable ? size_t(rows) * size_t(pitch) * 2 : 1);
    int result = draw(context, out.data(), pitch, mode);
    fuzz_require(drawable || result < 0, "a picture size the library refuses");
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static auto memory = std::make_unique<codec_memory>();
    static std::vector<uint8_t> payload(xan_payload_capacity);
    input_cursor in{data, size};
    auto width = int32_t(in.le16());
    auto height = int32_t(in.le16());
    codec_memory& m = *memory;
    memset(&m, 0, sizeof m);
    fill_codec_context(m, width, height);
    // Rows as narrow as the doubled mode allows, so that a row drawn too
    // long runs into the next one or past the end.
    const bool drawable =
        width >= 1 && height >= 1 && int64_t(width) * height <= xan_luma_area_size;
    const int32_t pitch = 2 * width;
    while (in.left > 0) {
        std::vector<uint8_t> piece = in.bytes(std::min<uint32_t>(in.le32(), xan_payload_capacity));
        std::fill(std::copy(piece.begin(), piece.end(), payload.begin()), payload.end(), 0);
        decompress(&m.context, payload.data(), 0);
        draw_into(&m.context, drawable, height, pitch, xan_mode_normal);
        draw_into(&m.context, drawable, 2 * height, pitch, xan_mode_doubled);
    }
    return 0;
}
