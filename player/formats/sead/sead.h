// SEAD movies (kind 4): little-endian chunks holding the whole size, two-channel
// IMA ADPCM sound and 8-bit palettised pictures, either LZ-packed key frames
// or frames of 4 x 4 blocks built on the previous picture.
#pragma once

#include "movie.h"

// Largest picture (W x H) the decoder keeps; the probe refuses larger movies.
constexpr int32_t sead_image_capacity = 211200;
constexpr int32_t sead_block_capacity = 16384;
constexpr int32_t sead_vector_capacity = 32768;
constexpr int32_t sead_code_capacity = 65536;
// Bodies beyond these are consumed and dropped: they would not fit the slot.
constexpr int32_t sead_picture_body_limit = video_capacity;
constexpr int32_t sead_sound_body_limit = sound_scratch_capacity;

void read_sead_header(FILE* file, int32_t* width, int32_t* height, uint8_t* stereo);
void read_sead_slot();
// Reader, sound and picture state back to the start of a movie.
void reset_sead();
void reset_sead_sound();
void reset_sead_picture();
// Seeks: the sound decoder's state between slots, a key frame that draws the
// whole picture (nothing of the one before shows through), and the colours
// of the last key frame handed to the surface again.
void save_sead_reader(uint8_t* state);
void load_sead_reader(const uint8_t* state);
bool sead_whole_key_frame(const FrameSlot& slot);
void give_sead_colors();

// Per channel (0 left, 1 right): the IMA step index times 64 (0 to 5632), and
// the last sample. It runs on from chunk to chunk for the whole movie.
struct sead_sound_state {
    int16_t step[2];
    int16_t predictor[2];
};

// Decodes count ADPCM bytes into 2 x count 16-bit little-endian samples,
// left then right. Returns count.
int32_t decode_sead_sound_with(sead_sound_state& state, const uint8_t* in, uint8_t* out,
                               int32_t count);
int32_t decode_sead_sound(const uint8_t* in, uint8_t* out, int32_t count);

// The reference picture lives in images[current]; a block frame is built in
// the other one and the two swap, so a picture that turns out damaged is
// dropped simply by not swapping.
struct sead_picture_decoder {
    uint8_t images[2][sead_image_capacity];
    int32_t current;
    uint8_t block_table[sead_block_capacity][16];
    int32_t offsets[sead_vector_capacity];
    Color colors[256];
};

// Decodes one picture body of length bytes into out (W x H bytes, or
// 2W x 2H doubled with every odd row 0 when interlaced is set; width and
// height are then the doubled sizes). A body that breaks a limit is dropped
// whole: false, and neither the reference nor out is touched.
bool decode_sead_picture_with(sead_picture_decoder& d, uint8_t interlaced, int32_t width,
                              int32_t height, const uint8_t* body, int32_t length, uint8_t* out);
void decode_sead_picture(uint8_t interlaced, int32_t width, int32_t height, const FrameSlot* slot,
                         void** pixels);

// Writes the picture doubled: each pixel twice on the even rows, odd rows 0.
void double_interlaced(uint8_t* dst, const uint8_t* src, int32_t width, int32_t height);
