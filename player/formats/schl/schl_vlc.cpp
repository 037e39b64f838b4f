#include "formats/schl/schl_internal.h"

#include <cstring>

// Intra AC codes (run, level), each followed by a sign bit; "10" ends a
// block and "000001" escapes to a 6-bit run and an 8- or 16-bit level.
//   {code, length, run, level}, // code bits
constexpr schl_ac_code schl_ac_codes[schl_ac_code_count] = {
    {0x0003, 2, 0, 1},   // 11
    {0x0003, 3, 1, 1},   // 011
    {0x0004, 4, 0, 2},   // 0100
    {0x0005, 4, 2, 1},   // 0101
    {0x0005, 5, 0, 3},   // 00101
    {0x0006, 5, 4, 1},   // 00110
    {0x0007, 5, 3, 1},   // 00111
    {0x0004, 6, 7, 1},   // 000100
    {0x0005, 6, 6, 1},   // 000101
    {0x0006, 6, 1, 2},   // 000110
    {0x0007, 6, 5, 1},   // 000111
    {0x0004, 7, 2, 2},   // 0000100
    {0x0005, 7, 9, 1},   // 0000101
    {0x0006, 7, 0, 4},   // 0000110
    {0x0007, 7, 8, 1},   // 0000111
    {0x0020, 8, 13, 1},  // 00100000
    {0x0021, 8, 0, 6},   // 00100001
    {0x0022, 8, 12, 1},  // 00100010
    {0x0023, 8, 11, 1},  // 00100011
    {0x0024, 8, 3, 2},   // 00100100
    {0x0025, 8, 1, 3},   // 00100101
    {0x0026, 8, 0, 5},   // 00100110
    {0x0027, 8, 10, 1},  // 00100111
    {0x0008, 10, 16, 1}, // 0000001000
    {0x0009, 10, 5, 2},  // 0000001001
    {0x000A, 10, 0, 7},  // 0000001010
    {0x000B, 10, 2, 3},  // 0000001011
    {0x000C, 10, 1, 4},  // 0000001100
    {0x000D, 10, 15, 1}, // 0000001101
    {0x000E, 10, 14, 1}, // 0000001110
    {0x000F, 10, 4, 2},  // 0000001111
    {0x0010, 12, 0, 11}, // 000000010000
    {0x0011, 12, 8, 2},  // 000000010001
    {0x0012, 12, 4, 3},  // 000000010010
    {0x0013, 12, 0, 10}, // 000000010011
    {0x0014, 12, 2, 4},  // 000000010100
    {0x0015, 12, 7, 2},  // 000000010101
    {0x0016, 12, 21, 1}, // 000000010110
    {0x0017, 12, 20, 1}, // 000000010111
    {0x0018, 12, 0, 9},  // 000000011000
    {0x0019, 12, 19, 1}, // 000000011001
    {0x001A, 12, 18, 1}, // 000000011010
    {0x001B, 12, 1, 5},  // 000000011011
    {0x001C, 12, 3, 3},  // 000000011100
    {0x001D, 12, 0, 8},  // 000000011101
    {0x001E, 12, 6, 2},  // 000000011110
    {0x001F, 12, 17, 1}, // 000000011111
    {0x0010, 13, 10, 2}, // 0000000010000
    {0x0011, 13, 9, 2},  // 0000000010001
    {0x0012, 13, 5, 3},  // 0000000010010
    {0x0013, 13, 3, 4},  // 0000000010011
    {0x0014, 13, 2, 5},  // 0000000010100
    {0x0015, 13, 1, 7},  // 0000000010101
    {0x0016, 13, 1, 6},  // 0000000010110
    {0x0017, 13, 0, 15}, // 0000000010111
    {0x0018, 13, 0, 14}, // 0000000011000
    {0x0019, 13, 0, 13}, // 0000000011001
    {0x001A, 13, 0, 12}, // 0000000011010
    {0x001B, 13, 26, 1}, // 0000000011011
    {0x001C, 13, 25, 1}, // 0000000011100
    {0x001D, 13, 24, 1}, // 0000000011101
    {0x001E, 13, 23, 1}, // 0000000011110
    {0x001F, 13, 22, 1}, // 0000000011111
    {0x0010, 14, 0, 31}, // 00000000010000
    {0x0011, 14, 0, 30}, // 00000000010001
    {0x0012, 14, 0, 29}, // 00000000010010
    {0x0013, 14, 0, 28}, // 00000000010011
    {0x0014, 14, 0, 27}, // 00000000010100
    {0x0015, 14, 0, 26}, // 00000000010101
    {0x0016, 14, 0, 25}, // 00000000010110
    {0x0017, 14, 0, 24}, // 00000000010111
    {0x0018, 14, 0, 23}, // 00000000011000
    {0x0019, 14, 0, 22}, // 00000000011001
    {0x001A, 14, 0, 21}, // 00000000011010
    {0x001B, 14, 0, 20}, // 00000000011011
    {0x001C, 14, 0, 19}, // 00000000011100
    {0x001D, 14, 0, 18}, // 00000000011101
    {0x001E, 14, 0, 17}, // 00000000011110
    {0x001F, 14, 0, 16}, // 00000000011111
    {0x0010, 15, 0, 40}, // 000000000010000
    {0x0011, 15, 0, 39}, // 000000000010001
    {0x0012, 15, 0, 38}, // 000000000010010
    {0x0013, 15, 0, 37}, // 000000000010011
    {0x0014, 15, 0, 36}, // 000000000010100
    {0x0015, 15, 0, 35}, // 000000000010101
    {0x0016, 15, 0, 34}, // 000000000010110
    {0x0017, 15, 0, 33}, // 000000000010111
    {0x0018, 15, 0, 32}, // 000000000011000
    {0x0019, 15, 1, 14}, // 000000000011001
    {0x001A, 15, 1, 13}, // 000000000011010
    {0x001B, 15, 1, 12}, // 000000000011011
    {0x001C, 15, 1, 11}, // 000000000011100
    {0x001D, 15, 1, 10}, // 000000000011101
    {0x001E, 15, 1, 9},  // 000000000011110
    {0x001F, 15, 1, 8},  // 000000000011111
    {0x0010, 16, 1, 18}, // 0000000000010000
    {0x0011, 16, 1, 17}, // 0000000000010001
    {0x0012, 16, 1, 16}, // 0000000000010010
    {0x0013, 16, 1, 15}, // 0000000000010011
    {0x0014, 16, 6, 3},  // 0000000000010100
    {0x0015, 16, 16, 2}, // 0000000000010101
    {0x0016, 16, 15, 2}, // 0000000000010110
    {0x0017, 16, 14, 2}, // 0000000000010111
    {0x0018, 16, 13, 2}, // 0000000000011000
    {0x0019, 16, 12, 2}, // 0000000000011001
    {0x001A, 16, 11, 2}, // 0000000000011010
    {0x001B, 16, 31, 1}, // 0000000000011011
    {0x001C, 16, 30, 1}, // 0000000000011100
    {0x001D, 16, 29, 1}, // 0000000000011101
    {0x001E, 16, 28, 1}, // 0000000000011110
    {0x001F, 16, 27, 1}, // 0000000000011111
};

constexpr uint32_t ac_end_bits = 0b10, ac_end_length = 2;
constexpr uint32_t ac_escape_bits = 0b000001, ac_escape_length = 6;

// The code at the front of a 16-bit window, by search; windows below 16
// (twelve leading zeros) hold no code.
static constexpr uint32_t ac_search(uint32_t window) {
    if (window < 16) return schl_ac_entry(schl_ac_none, 0, 0, 0);
    if (window >> (16 - ac_end_length) == ac_end_bits)
        return schl_ac_entry(schl_ac_end, ac_end_length, 0, 0);
    if (window >> (16 - ac_escape_length) == ac_escape_bits)
        return schl_ac_entry(schl_ac_escape, ac_escape_length, 0, 0);
    for (const schl_ac_code& c : schl_ac_codes)
        if (window >> (16 - c.length) == c.bits)
            return schl_ac_entry(schl_ac_pair, c.length, c.run, c.level);
    return schl_ac_entry(schl_ac_none, 0, 0, 0);
}

// The eight tables: window from `from` up (to the previous table's start),
// indexed by the window shifted right by `shift`.
struct ac_range {
    uint32_t from, shift;
};
static constexpr ac_range ac_ranges[8] = {{0x4000, 12}, {0x400, 8}, {0x200, 6}, {0x100, 4},
                                          {0x80, 3},    {0x40, 2},  {0x20, 1},  {0x10, 0}};

struct ac_range_tables {
    uint32_t entries[8][64];
};
static constexpr ac_range_tables make_range_tables() {
    ac_range_tables t{};
    for (int k = 0; k < 8; ++k) {
        uint32_t to = k == 0 ? 0x10000 : ac_ranges[k - 1].from;
        for (uint32_t i = ac_ranges[k].from >> ac_ranges[k].shift; i < to >> ac_ranges[k].shift;
             ++i)
            t.entries[k][i] = ac_search(i << ac_ranges[k].shift);
    }
    return t;
}
static constexpr ac_range_tables range_tables = make_range_tables();

uint32_t schl_ac_lookup_ranges(uint32_t window) {
    for (int k = 0; k < 8; ++k)
        if (window >= ac_ranges[k].from)
            return range_tables.entries[k][window >> ac_ranges[k].shift];
    return schl_ac_entry(schl_ac_none, 0, 0, 0);
}

// The same codes by another route: windows from 0x400 up hold codes of at
// most 8 bits and index one table by their top byte; the rare longer codes
// pick their table by the count of leading zeros (with z leading zeros the
// window lies in [2^(15-z), 2^(16-z)), so the range tables' index minus its
// leading one fits in 32 entries).
static constexpr schl_ac_fast_tables make_fast_tables() {
    schl_ac_fast_tables t{};
    for (uint32_t i = 0; i < 256; ++i)
        t.short_codes[i] = i < 4 ? schl_ac_entry(schl_ac_none, 0, 0, 0) : ac_search(i << 8);
    for (uint32_t z = 0; z <= 16; ++z) {
        uint32_t low = z < 16 ? 0x8000u >> z : 0;
        int k = 0;
        while (k < 8 && low < ac_ranges[k].from) ++k;
        if (k == 8) {
            t.long_codes[z * 32] = schl_ac_entry(schl_ac_none, 0, 0, 0);
            continue;
        }
        uint32_t shift = ac_ranges[k].shift;
        uint32_t count = low >> shift;
        t.shift[z] = uint8_t(shift);
        t.mask[z] = uint8_t(count - 1);
        for (uint32_t i = 0; i < count; ++i)
            t.long_codes[z * 32 + i] = ac_search((count + i) << shift);
    }
    return t;
}
constinit const schl_ac_fast_tables schl_ac_fast = make_fast_tables();

uint32_t schl_ac_lookup(uint32_t window) {
    return schl_ac_lookup_fast(window);
}

// dct_dc_size_luminance and dct_dc_size_chrominance, first bit first. The
// all-ones seven (or eight) bits read as size 0 and consume nothing.
struct dc_code {
    uint8_t bits, length, size;
};
static constexpr dc_code dc_luma_codes[10] = {
    {0b100, 3, 0},     {0b00, 2, 1},      {0b01, 2, 2},    {0b101, 3, 3},
    {0b110, 3, 4},     {0b1110, 4, 5},    {0b11110, 5, 6}, {0b111110, 6, 7},
    {0b1111110, 7, 8}, {0b1111111, 7, 0}, // size 0, no bits consumed
};
static constexpr dc_code dc_chroma_codes[10] = {
    {0b00, 2, 0},       {0b01, 2, 1},       {0b10, 2, 2},     {0b110, 3, 3},
    {0b1110, 4, 4},     {0b11110, 5, 5},    {0b111110, 6, 6}, {0b1111110, 7, 7},
    {0b11111110, 8, 8}, {0b11111111, 8, 0}, // size 0, no bits consumed
};

template <int Bits> struct dc_table { uint16_t entries[1 << Bits]; };
template <int Bits> static constexpr dc_table<Bits> make_dc_table(const dc_code* codes) {
    dc_table<Bits> t{};
    for (uint32_t w = 0; w < (1u << Bits); ++w) {
        for (int i = 0; i < 10; ++i) {
            const dc_code& c = codes[i];
            if (w >> (Bits - c.length) != c.bits) continue;
            uint32_t consumed = c.bits == (1u << Bits) - 1 ? 0 : c.length;
            t.entries[w] = uint16_t(c.size | consumed << 8);
            break;
        }
    }
    return t;
}
static constexpr dc_table<7> dc_luma = make_dc_table<7>(dc_luma_codes);
static constexpr dc_table<8> dc_chroma = make_dc_table<8>(dc_chroma_codes);
const uint16_t* const schl_dc_luma_sizes = dc_luma.entries;
const uint16_t* const schl_dc_chroma_sizes = dc_chroma.entries;
