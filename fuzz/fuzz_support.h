// What the fuzz targets share: a whole movie run from memory the way the
// player runs it, and the cutting of an input into the pieces a target needs.
// The seeds reelmake writes ("reelmake seeds DIR") follow the layouts below.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// A movie target's input: byte 0 (bit 0 set: the "-i" zoom), then the movie
// file. The probe, the header parser and the player's ring run on it: the
// prefill, then the audio callback's copy loop and the display loop taking
// turns, each shown slot decoded, until the sound is over. Returns 0, or -1
// when the probe found another kind than `kind` (that kind's own target
// fuzzes it), so that libFuzzer keeps the input out of the corpus.
int fuzz_movie(int32_t kind, const uint8_t* data, size_t size);

// Takes pieces off the front of an input; past the end every piece is empty
// or 0, so a target never reads outside the input.
struct input_cursor {
    const uint8_t* at;
    size_t left;
    uint32_t le16();
    uint32_t le32();
    // The next `count` bytes (fewer at the end), as a piece of the input.
    std::vector<uint8_t> bytes(size_t count);
};

// NUL-separated words, for the command-line targets.
std::vector<std::string> input_words(const uint8_t* data, size_t size);

// Stops the run as a finding when a result breaks the contract it was made under.
void fuzz_require(bool holds, const char* what);
