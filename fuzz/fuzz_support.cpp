#include "fuzz_support.h"

#include "movie.h"
#include "platform/library.h"
#include "playback.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

static void bind_codec_library_once() {
    static bool bound = false;
    if (bound) return;
    bound = true;
    void* library = load_codec_library(codec_library_name);
    DecompressXD = reinterpret_cast<decompress_fn>(find_library_entry(library, "DecompressXD"));
    DrawFrameXD = reinterpret_cast<draw_frame_fn>(find_library_entry(library, "DrawFrameXD"));
    fuzz_require(DecompressXD && DrawFrameXD, "the codec library beside the target");
}

static uint8_t sound_out[audio_buffer_capacity];
static int sound_request_bytes;

int fuzz_movie(int32_t kind, const uint8_t* data, size_t size) {
    bind_codec_library_once();
    // fmemopen refuses an empty buffer; no probe matches fewer than four bytes anyway.
    if (size < 2) return 0;
    reset_movie_state();
    hooks = {};
    hooks.show_slot = decode_slot_picture;
    set_surface_colors = [](const Color*) {};
    movie_file = fmemopen(const_cast<uint8_t*>(data + 1), size - 1, "rb");
    fuzz_require(movie_file != nullptr, "fmemopen");
    file_size = int32_t(size - 1);

    player_options options = {};
    options.path = "fuzz input";
    options.interlaced = (data[0] & 1) != 0;
    int32_t found = open_movie(options);
    if (found != kind_none && found == kind) {
        // The audio callback may be asked for any length. Short requests give
        // the display loop a turn after every few samples, as the display
        // thread gets one each time the callback moves to the next slot, so
        // that every slot with some sound is shown.
        sound_request_bytes = 256;
        prefill_ring();
        running = true;
        while (fill_audio(sound_out, sound_request_bytes) >= 0 && display_pass()) {
        }
    }
    fclose(movie_file);
    movie_file = nullptr;
    return found == kind || found == kind_none ? 0 : -1;
}

uint32_t input_cursor::le16() {
    uint32_t v = 0;
    for (int i = 0; i < 2 && left > 0; ++i, ++at, --left) v |= uint32_t(*at) << (8 * i);
    return v;
}

uint32_t input_cursor::le32() {
    uint32_t v = le16();
    return v | le16() << 16;
}

std::vector<uint8_t> input_cursor::bytes(size_t count) {
    if (count > left) count = left;
    std::vector<uint8_t> piece(at, at + count);
    at += count;
    left -= count;
    return piece;
}

std::vector<std::string> input_words(const uint8_t* data, size_t size) {
    std::vector<std::string> words;
    const auto* text = reinterpret_cast<const char*>(data);
    size_t start = 0;
    for (size_t i = 0; i <= size; ++i) {
        if (i == size || data[i] == 0) {
            if (i > start || i < size) words.emplace_back(text + start, i - start);
            start = i + 1;
        }
    }
    return words;
}

void fuzz_require(bool holds, const char* what) {
    if (holds) return;
    fprintf(stderr, "fuzz target: %s does not hold\n", what);
    abort();
}
