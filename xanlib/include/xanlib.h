// The codec library's interface: the context record that the player fills
// once and passes to both entry points, the memory it points at, and the two
// entry points the player binds by name at run time.
//
// Layout of codec_context: fifteen fields in this order. Fields 1 to 11 are
// 32-bit integers. Fields 12 to 15 are addresses and therefore pointer-sized:
// on a 32-bit build the record is 60 bytes without padding; on a 64-bit build
// 4 padding bytes follow field 11, so that the addresses are 8-aligned, and
// the record is 80 bytes. Field 1 holds sizeof(codec_context) as the player
// was built; the library refuses a record whose size differs from its own, so
// a player and a library built with different layouts never misread each
// other.
//
// The work areas lie directly behind the record (codec_memory). The library
// uses them as follows:
//   luma_area       Y plane, width x height bytes, 6-bit values
//   chroma_area     U plane then V plane, each ceil(width/2) x ceil(height/2)
//                   bytes, 5-bit values
//   reference_area  the decoder's state record (validity of the planes and
//                   the number of the picture they hold); the planes above
//                   are the reference predicted pictures are coded against
//   table_area      65536 little-endian 16-bit colours (5-5-5), looked up as
//                   table[Y + 64 U + 2048 V], then 1152 zero bytes
// The player owns all of it; only the library writes the work areas.
#pragma once

#include <stddef.h>
#include <stdint.h>

struct codec_context {
    int32_t record_size;     // 1: sizeof(codec_context)
    int32_t table_span;      // 2: 263296; not examined by this library
    int32_t context_kind;    // 3: 3; not examined
    int32_t width;           // 4: picture width in pixels
    int32_t height;          // 5: picture height in pixels
    int32_t plane_size;      // 6: 52800; not examined
    int32_t pixel_size;      // 7: 2; not examined
    int32_t red_mask_high;   // 8: 0x7C; not examined
    int32_t green_mask;      // 9: 0x3E0; not examined
    int32_t blue_mask;       // 10: 0x1F; not examined
    int32_t flags;           // 11: 0; not examined
    uint8_t* luma_area;      // 12
    uint8_t* chroma_area;    // 13
    uint8_t* reference_area; // 14
    uint8_t* table_area;     // 15
};

constexpr int32_t xan_luma_area_size = 52800;
constexpr int32_t xan_chroma_area_size = 26560;
constexpr int32_t xan_reference_area_size = 52804;
constexpr int32_t xan_table_colours = 65536;
constexpr int32_t xan_table_area_size = xan_table_colours * 2 + 1152;
// Pixels between output rows the player asks for.
constexpr int32_t xan_output_pitch = 640;
// A payload lies at the start of a buffer of this many bytes (a slot's
// picture memory); the library never reads further, whatever the payload's
// header claims.
constexpr int32_t xan_payload_capacity = 100000;

// DrawFrameXD modes.
constexpr int xan_mode_normal = 4;  // picture size, rows `pitch` pixels apart
constexpr int xan_mode_doubled = 6; // double size, odd rows black

// The record and its areas as one block, each area directly behind the last.
struct codec_memory {
    codec_context context;
    uint8_t luma[xan_luma_area_size];
    uint8_t chroma[xan_chroma_area_size];
    uint8_t reference[xan_reference_area_size];
    uint8_t table[xan_table_area_size];
};

static_assert(offsetof(codec_context, flags) == 40);
static_assert(sizeof(void*) != 4 || sizeof(codec_context) == 60);
static_assert(sizeof(void*) != 8 || sizeof(codec_context) == 80);
static_assert(offsetof(codec_memory, luma) == sizeof(codec_context));

// Decodes one payload into the work areas. flags must be 0. Returns 0 when
// the picture was decoded, a negative value when the payload was refused
// (the work areas then still hold the last good picture).
using xan_decompress_fn = int (*)(codec_context* context, const void* payload, int flags);
// Draws the last good picture (black when there is none) as 16-bit 5-5-5
// pixels, rows `pitch` pixels apart, in mode 4 or 6. Returns 0, or a negative
// value when the context, pitch or mode cannot be drawn (nothing is written).
using xan_draw_frame_fn = int (*)(codec_context* context, void* output, int pitch, int mode);
// The library exports exactly "DecompressXD" and "DrawFrameXD" with C linkage
// and these types. They are not declared here: the player keeps bound entry
// points under the same names.
