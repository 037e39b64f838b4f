// liblz4, the reference for our LZ unpacker: the same unpacked bytes packed
// by LZ4HC at its highest level and by LZ4's default (fast) packer, then
// unpacked with LZ4_decompress_safe, which checks every bound as ours does.
#pragma once

#include <cstdint>
#include <lz4.h>
#include <lz4hc.h>
#include <vector>

// hc_level 0 packs with LZ4_compress_default.
inline std::vector<uint8_t> lz4_packed(const std::vector<uint8_t>& raw, int hc_level) {
    int n = int(raw.size());
    std::vector<uint8_t> out(size_t(LZ4_compressBound(n)));
    const char* in = reinterpret_cast<const char*>(raw.data());
    char* to = reinterpret_cast<char*>(out.data());
    int packed = hc_level ? LZ4_compress_HC(in, to, n, int(out.size()), hc_level)
                          : LZ4_compress_default(in, to, n, int(out.size()));
    out.resize(size_t(packed > 0 ? packed : 0));
    return out;
}

// The bytes written, or a negative value for a damaged stream.
inline int lz4_unpack(const std::vector<uint8_t>& packed, uint8_t* out, int capacity) {
    return LZ4_decompress_safe(reinterpret_cast<const char*>(packed.data()),
                               reinterpret_cast<char*>(out), int(packed.size()), capacity);
}
