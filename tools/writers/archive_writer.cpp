#include "archive_writer.h"

#include "bytes.h"

#include <algorithm>

std::vector<uint8_t> write_xtre_archive(const std::vector<archive_member>& members,
                                        std::vector<int32_t>* offsets) {
    byte_builder out;
    out.tag("XTRE").zeros(12);
    uint32_t index_start = 24;
    uint32_t index_end = index_start + 8 * uint32_t(members.size());
    out.le32(index_start).le32(index_end);
    uint32_t at = index_end;
    for (const archive_member& m : members) {
        out.le32(at).le32(uint32_t(m.bytes.size()));
        if (offsets) offsets->push_back(int32_t(at));
        at += uint32_t(m.bytes.size());
    }
    for (const archive_member& m : members) out.raw(m.bytes);
    return out.bytes;
}

std::vector<uint8_t> write_named_archive(const std::vector<archive_member>& members,
                                         std::vector<int32_t>* offsets) {
    byte_builder out;
    out.le32(uint32_t(members.size())).zeros(12);
    uint32_t at = 16 + 272 * uint32_t(members.size());
    for (const archive_member& m : members) {
        out.zeros(8).le32(at).le32(uint32_t(m.bytes.size()));
        char name[256] = {};
        std::copy_n(m.name.begin(), std::min<size_t>(m.name.size(), 255), name);
        out.raw(name, sizeof name);
        if (offsets) offsets->push_back(int32_t(at));
        at += uint32_t(m.bytes.size());
    }
    for (const archive_member& m : members) out.raw(m.bytes);
    return out.bytes;
}
