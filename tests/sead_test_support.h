// Opening SEAD movies built in memory the way the player does, for the
// reader, round-trip and fuzz tests.
#pragma once

#include "bytes.h"
#include "formats/sead/sead.h"
#include "movie.h"
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
    std::vector<uint8_t> v(n);
    for (size_t i = 0; i < n; ++i) v[i] = uint8_t(first + i * 13);
    return v;
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
