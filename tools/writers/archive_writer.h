// Game archives holding movies (and other members) at known offsets.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct archive_member {
    std::string name; // kept only by named archives
    std::vector<uint8_t> bytes;
};

// "XTRE" archive: index of 8-byte entries (member offset, member size)
// between the offsets stored at 16 and 20. offsets receives each member's
// start, in order.
std::vector<uint8_t> write_xtre_archive(const std::vector<archive_member>& members,
                                        std::vector<int32_t>* offsets = nullptr);

// Named archive: member count at 0, then from 16 one 272-byte entry per
// member (offset at 8, size at 12, NUL-terminated name at 16).
std::vector<uint8_t> write_named_archive(const std::vector<archive_member>& members,
                                         std::vector<int32_t>* offsets = nullptr);
