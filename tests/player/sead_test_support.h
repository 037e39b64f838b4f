// Opening SEAD movies built in memory the way the player does, for the
// reader, round-trip and fuzz tests.
#pragma once

#include "bytes.h"
#include "formats/sead/sead.h"
#include "movie.h"
#include "mutation.h"
#include "sead_writer.h"

#include <cstdio>
#include <gtest/gtest.h>
#include <string>
#include <unistd.h>
#include <vector>

inline void add_chunk(byte_builder& b, const char* tag, const std::vector<uint8_t>& body) {
    b.tag(tag).le32(uint32_t(body.size() + 8)).raw(body);
}

inline std::vector<uint8_t> counting_bytes(size_t n, uint8_t first = 0) {
    return stepped_bytes(n, first, 13);
}

// Frames of w x h pixels whose palette index at (x, y) in frame t is
// pixel(x, y, t); tests add their own palettes, sprites and sound.
template <class Pixel>
std::vector<sead_movie_frame> scene_frames(int w, int h, int count, Pixel pixel) {
    std::vector<sead_movie_frame> frames(static_cast<size_t>(count));
    for (int t = 0; t < count; ++t) {
        auto& f = frames[size_t(t)];
        f.image.resize(size_t(w * h));
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) f.image[size_t(y * w + x)] = uint8_t(pixel(x, y, t));
    }
    return frames;
}

// A movie file on disk (named per process: ctest runs tests side by side), opened through
// open_movie_file and open_movie.
struct sead_movie_on_disk {
    std::string path;
    explicit sead_movie_on_disk(const std::string& name)
        : path(testing::TempDir() + "sead_" + name + "_" + std::to_string(getpid()) + ".tgv") {}
    ~sead_movie_on_disk() { close(); }
    void close() {
        if (movie_file) fclose(movie_file);
        reset_movie_state();
        remove(path.c_str());
    }
    int32_t open(const std::vector<uint8_t>& bytes, bool doubled = false) {
        close();
        EXPECT_TRUE(write_file(path, bytes));
        EXPECT_TRUE(open_movie_file(path.c_str()));
        player_options o{};
        o.path = path.c_str();
        o.interlaced = doubled;
        return open_movie(o);
    }
    // Reads slots until the end; returns how many were filled.
    int read_all(int limit = 100000) {
        int calls = 0;
        while (!at_end && calls++ < limit) read_next_slot();
        return slots_read;
    }
};

inline std::vector<int16_t> slot_samples(const FrameSlot& s) {
    std::vector<int16_t> out(size_t(s.sound_total / 2));
    for (size_t i = 0; i < out.size(); ++i)
        out[i] = int16_t(s.sound[2 * i] | s.sound[2 * i + 1] << 8);
    return out;
}
