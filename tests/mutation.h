// Random damage for the fuzz-style tests: every parser is fed valid input
// that has been edited in the ways real damage and hostile files edit it;
// the recognisable payloads they start from come from here too.
#pragma once

#include <algorithm>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

// n bytes first, first + step, first + 2 step ... (mod 256): recognisable
// payloads whose misplaced bytes a comparison shows.
inline std::vector<uint8_t> stepped_bytes(size_t n, uint8_t first, unsigned step) {
    std::vector<uint8_t> v(n);
    for (size_t i = 0; i < n; ++i) v[i] = uint8_t(first + i * step);
    return v;
}

struct mutation_plan {
    size_t from = 0;                // bytes before this are left alone
    std::vector<std::string> tags;  // four-character tags worth planting
    std::vector<uint32_t> values32; // sizes and counts worth planting
    std::vector<uint16_t> values16;
    bool big_endian = false; // how planted values are laid out
    int most_edits = 6;
};

inline std::vector<uint8_t> mutate_bytes(std::vector<uint8_t> v, std::mt19937& rng,
                                         const mutation_plan& plan = {}) {
    int edits = 1 + int(rng() % unsigned(plan.most_edits));
    auto plant = [&](size_t at, uint32_t value, int width) {
        if (at + size_t(width) > v.size()) return;
        for (int i = 0; i < width; ++i) {
            int shift = plan.big_endian ? 8 * (width - 1 - i) : 8 * i;
            v[at + size_t(i)] = uint8_t(value >> shift);
        }
    };
    for (int e = 0; e < edits && v.size() > plan.from; ++e) {
        size_t at = plan.from + rng() % (v.size() - plan.from);
        switch (rng() % 8) {
        case 0:
            v[at] = uint8_t(rng());
            break;
        case 1:
            v[at] ^= uint8_t(1u << (rng() % 8));
            break;
        case 2:
            v.resize(at);
            break;
        case 3:
            v.insert(v.begin() + long(at), size_t(1 + rng() % 16), uint8_t(rng()));
            break;
        case 4:
            v.erase(v.begin() + long(at), v.begin() + long(std::min(v.size(), at + 1 + rng() % 8)));
            break;
        case 5:
            if (!plan.tags.empty() && at + 4 <= v.size()) {
                const std::string& tag = plan.tags[rng() % plan.tags.size()];
                for (size_t i = 0; i < 4 && i < tag.size(); ++i) v[at + i] = uint8_t(tag[i]);
            }
            break;
        case 6: {
            static const uint32_t extremes[] = {0, 1, 7, 8, 0x7FFFFFFF, 0x80000000, 0xFFFFFFFF};
            uint32_t value = plan.values32.empty() || rng() % 2
                                 ? extremes[rng() % 7]
                                 : plan.values32[rng() % plan.values32.size()];
            plant(at, value, 4);
            break;
        }
        default: {
            uint16_t value = plan.values16.empty() ? uint16_t(rng() % 2 ? 0xFFFF : rng())
                                                   : plan.values16[rng() % plan.values16.size()];
            plant(at, value, 2);
            break;
        }
        }
    }
    return v;
}
