// A growing byte string with the integer layouts the movie containers use.
// The movie writers build files with it, and tests build damaged ones.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

struct byte_builder {
    std::vector<uint8_t> bytes;

    byte_builder& u8(uint32_t v) {
        bytes.push_back(uint8_t(v));
        return *this;
    }
    byte_builder& le16(uint32_t v) { return u8(v).u8(v >> 8); }
    byte_builder& le32(uint32_t v) { return u8(v).u8(v >> 8).u8(v >> 16).u8(v >> 24); }
    byte_builder& be16(uint32_t v) { return u8(v >> 8).u8(v); }
    byte_builder& be32(uint32_t v) { return u8(v >> 24).u8(v >> 16).u8(v >> 8).u8(v); }
    byte_builder& tag(const char* t) { return raw(t, 4); }
    byte_builder& raw(const void* p, size_t n) {
        size_t at = bytes.size();
        bytes.resize(at + n);
        if (n) memcpy(bytes.data() + at, p, n);
        return *this;
    }
    byte_builder& raw(const std::vector<uint8_t>& v) { return raw(v.data(), v.size()); }
    byte_builder& zeros(size_t n) {
        bytes.resize(bytes.size() + n, 0);
        return *this;
    }
    size_t size() const { return bytes.size(); }
    // Overwrites four bytes already written, for sizes known only at the end.
    void patch_le32(size_t at, uint32_t v) {
        for (int i = 0; i < 4; ++i) bytes[at + i] = uint8_t(v >> (8 * i));
    }
    void patch_be32(size_t at, uint32_t v) {
        for (int i = 0; i < 4; ++i) bytes[at + i] = uint8_t(v >> (24 - 8 * i));
    }
};

// Writes bytes to path whole; false on any failure.
bool write_file(const std::string& path, const std::vector<uint8_t>& bytes);
std::vector<uint8_t> read_file(const std::string& path);
