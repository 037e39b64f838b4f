// The files a rip writes. Each one appears under its final name only when it
// is complete: it is written under a temporary name and renamed at the end.
#pragma once

#include "pixels.h"
#include "png_file.h"

#include <cstdint>
#include <string>
#include <vector>

// 8-bit RGB without alpha. fast trades size for speed (benchmarks).
bool write_png_rgb(const std::string& path, int32_t width, int32_t height, const uint8_t* rgb,
                   bool fast = false);
// Encodes to memory only: the cost of PNG compression alone.
bool encode_png_rgb(int32_t width, int32_t height, const uint8_t* rgb, std::vector<uint8_t>* out,
                    bool fast = false);

// A 16-bit 22050 Hz PCM WAVE file written as the sound arrives.
struct wav_output {
    void* file = nullptr; // SNDFILE
    std::string final_path;
    std::string temp_path;
    int32_t channels = 1;
    std::vector<uint8_t> carry; // bytes of a sample frame not yet complete
    int64_t frames = 0;
    bool failed = false;
    std::string error; // after a failure: "cannot write PATH: reason"
};
bool wav_open(wav_output* wav, const std::string& path, int32_t channels);
// pcm: signed 16-bit little-endian, channels interleaved.
bool wav_append(wav_output* wav, const uint8_t* pcm, int32_t bytes);
// Closes and renames into place; false (and nothing left behind) on failure.
bool wav_finish(wav_output* wav);
// Closes and removes the temporary file.
void wav_abandon(wav_output* wav);

// Writes text to path whole, through a temporary name.
bool write_text_file(const std::string& path, const std::string& text,
                     std::string* error = nullptr);

// Whether path opens and reads as a file; false with "cannot open PATH:
// reason" in error. An empty file is readable.
bool readable_file(const std::string& path, std::string* error);

// Makes the folders a single-file output goes into; false with "cannot
// write PATH: reason" in error.
bool make_parent_folders(const std::string& path, std::string* error);
