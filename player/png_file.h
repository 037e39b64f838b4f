// PNG pictures and whole files, shared by reelrip's exports and the player's
// screenshots, so that both write the same pixels the same way. Each file
// appears under its final name only when complete: it is written under a
// temporary name and renamed at the end.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// One picture for a PNG file: 8-bit RGB, 5-5-5 pixels written as that RGB,
// or palette indices and their colours, written as an indexed PNG that gives
// exactly the same RGB.
struct png_picture {
    int32_t width = 0;
    int32_t height = 0;
    const uint8_t* rgb = nullptr;       // width * height * 3
    const uint8_t* pixels555 = nullptr; // width * height * 2, when rgb is null
    const uint8_t* indices = nullptr;   // width * height, when both are null
    const uint8_t* colors = nullptr;    // 256 colours, R, G, B each
    int32_t level = 2;                  // libdeflate's, 1 to 12
};
bool encode_png(const png_picture& picture, std::vector<uint8_t>* out);

// Writes size bytes to path whole, through a temporary name. On failure
// nothing is left behind and error (when given) reads "cannot write PATH:
// reason".
bool write_whole_file(const std::string& path, const uint8_t* bytes, size_t size,
                      std::string* error = nullptr);

// The same, but never replaces a file already at path. Returns 0, or the
// system's error number (EEXIST when path is taken).
int write_new_file(const std::string& path, const uint8_t* bytes, size_t size);

// The temporary name a final path is written under.
std::string temporary_name(const std::string& path);
