// Helpers for tests that run reelrip in-process and read back what it wrote.
#pragma once

#include "reelrip_cli.h"

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <png.h>
#include <sndfile.h>
#include <string>
#include <vector>

struct command_result {
    int status = -1;
    std::string out, err;
};

inline std::string read_stream(FILE* f) {
    std::string text;
    rewind(f);
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, f)) > 0) text.append(buf, n);
    fclose(f);
    return text;
}

inline command_result run_command(const std::vector<const char*>& words) {
    FILE* out = tmpfile();
    FILE* err = tmpfile();
    command_result r;
    r.status = run_reelrip(int(words.size()), words.data(), out, err);
    r.out = read_stream(out);
    r.err = read_stream(err);
    return r;
}

inline std::string fresh_dir(const std::string& name) {
    std::string dir = std::string(REEL_BUILD_DIR) + "/test-scratch/rip/" + name;
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    return dir;
}

struct rgb_picture {
    int32_t width = 0, height = 0;
    std::vector<uint8_t> rgb;
};

inline rgb_picture finish_png_read(png_image& image, bool started) {
    rgb_picture p;
    if (!started) return p;
    image.format = PNG_FORMAT_RGB;
    std::vector<uint8_t> rgb(PNG_IMAGE_SIZE(image));
    if (!png_image_finish_read(&image, nullptr, rgb.data(), 0, nullptr)) return p;
    p.width = int32_t(image.width);
    p.height = int32_t(image.height);
    p.rgb = std::move(rgb);
    return p;
}

inline rgb_picture read_png_rgb(const std::string& path) {
    png_image image;
    memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    return finish_png_read(image, png_image_begin_read_from_file(&image, path.c_str()) != 0);
}

inline rgb_picture read_png_rgb_memory(const std::vector<uint8_t>& bytes) {
    png_image image;
    memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    return finish_png_read(
        image, png_image_begin_read_from_memory(&image, bytes.data(), bytes.size()) != 0);
}

struct sound_file {
    int rate = 0, channels = 0;
    bool pcm16 = false;
    std::vector<uint8_t> pcm; // 16-bit little-endian, as the slots hold it
};

inline sound_file read_wav(const std::string& path) {
    sound_file s;
    SF_INFO info;
    memset(&info, 0, sizeof info);
    SNDFILE* f = sf_open(path.c_str(), SFM_READ, &info);
    if (!f) return s;
    s.rate = info.samplerate;
    s.channels = info.channels;
    s.pcm16 = info.format == (SF_FORMAT_WAV | SF_FORMAT_PCM_16);
    std::vector<short> samples(size_t(info.frames) * size_t(info.channels));
    sf_readf_short(f, samples.data(), info.frames);
    sf_close(f);
    for (short v : samples) {
        s.pcm.push_back(uint8_t(v));
        s.pcm.push_back(uint8_t(uint16_t(v) >> 8));
    }
    return s;
}
