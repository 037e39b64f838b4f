// Helpers for the FORM tests: chunk layouts and opening bytes as the movie.
#pragma once

#include "bytes.h"
#include "form_writer.h"
#include "movie.h"
#include "mutation.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

namespace form_test {

// A chunk of the movie body: big-endian size, body, pad byte when odd.
inline void body_chunk(byte_builder& b, const char* tag, const std::vector<uint8_t>& body) {
    b.tag(tag).be32(uint32_t(body.size())).raw(body);
    if (body.size() & 1) b.u8(0);
}

// The fixed head up to and including the "_PC_" chunk.
inline byte_builder form_head(uint32_t pc_size = 4) {
    byte_builder b;
    b.tag("FORM").be32(0).tag("TEST").tag("_PC_").be32(pc_size).zeros(pc_size);
    return b;
}

inline std::vector<uint8_t> filled(size_t n, uint8_t first = 0) {
    return stepped_bytes(n, first, 7);
}

// Writes bytes to a scratch file and makes it the open movie, from a clean
// movie state. The file is closed and removed on destruction.
struct movie_bytes {
    std::string path;
    explicit movie_bytes(const std::vector<uint8_t>& bytes, int32_t offset = 0) {
        static int serial = 0;
        path = ::testing::TempDir() + "form_movie_" + std::to_string(getpid()) + "_" +
               std::to_string(serial++) + ".bin";
        reset_movie_state();
        EXPECT_TRUE(write_file(path, bytes));
        EXPECT_TRUE(open_movie_file(path.c_str()));
        start_offset = offset;
    }
    ~movie_bytes() {
        if (movie_file) fclose(movie_file);
        movie_file = nullptr;
        remove(path.c_str());
    }
    // Runs the probe; on success makes the kind the open one.
    int32_t probe(int32_t* width = nullptr, int32_t* height = nullptr) {
        int32_t w = 0, h = 0, depth = 0;
        uint8_t stereo = 1;
        int32_t kind = probe_movie(movie_file, &w, &h, &stereo, &depth);
        if (width) *width = w;
        if (height) *height = h;
        if (kind != kind_none) {
            EXPECT_EQ(stereo, 0);
            EXPECT_EQ(depth, 8);
            movie_kind = kind;
            movie_width = w;
            movie_height = h;
            movie_depth = depth;
        }
        return kind;
    }
};

// An opcode block with a chain tree: node 44 is the root, node 44 - k has
// symbol k on its left and node 43 - k on its right; node 23 ends with
// symbol 21 on the left and the end symbol on the right. Symbol k (< 22) is
// k ones and a zero; the end symbol is 22 ones.
inline std::vector<uint8_t> chain_block(const std::vector<int>& opcodes, bool with_end = true) {
    std::vector<uint8_t> block = {22};
    std::vector<uint8_t> left(22), right(22);
    for (int node = 23; node <= 44; ++node) {
        int k = 44 - node;
        left[size_t(node - 23)] = uint8_t(k);
        right[size_t(node - 23)] = uint8_t(node == 23 ? 22 : node - 1);
    }
    block.insert(block.end(), left.begin(), left.end());
    block.insert(block.end(), right.begin(), right.end());
    form_bit_writer bits;
    for (int op : opcodes) {
        for (int i = 0; i < op; ++i) bits.put(1);
        bits.put(0);
    }
    if (with_end) {
        for (int i = 0; i < 22; ++i) bits.put(1);
    } else {
        while (bits.used < 8) bits.put(1); // padding that reaches no symbol
    }
    block.insert(block.end(), bits.bytes.begin(), bits.bytes.end());
    return block;
}

// A whole picture payload: opcode block, size stream, vector stream, image block.
inline std::vector<uint8_t> payload(const std::vector<uint8_t>& block,
                                    const std::vector<uint8_t>& sizes,
                                    const std::vector<uint8_t>& vectors,
                                    const std::vector<uint8_t>& image_block) {
    byte_builder b;
    uint32_t at = 8;
    b.le16(at);
    at += uint32_t(block.size());
    b.le16(at);
    at += uint32_t(sizes.size());
    b.le16(at);
    at += uint32_t(vectors.size());
    b.le16(at);
    b.raw(block).raw(sizes).raw(vectors).raw(image_block);
    return b.bytes;
}

inline void put_slot(FrameSlot& s, const std::vector<uint8_t>& bytes) {
    ASSERT_LE(bytes.size(), size_t(video_capacity));
    if (!bytes.empty()) memcpy(s.video, bytes.data(), bytes.size());
    s.video_length = int32_t(bytes.size());
}

inline const FrameSlot& slot(int32_t n) {
    return slot_ring[n % ring_size];
}

} // namespace form_test
