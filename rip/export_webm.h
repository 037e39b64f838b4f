// One movie into one WebM file: the pictures as the PNG export draws them,
// VP9-coded, the sound Opus-coded at 48 kHz, on the movie's own timeline.
// Or, exact, into one Matroska file: the same pictures VP9-coded without
// loss as RGB, the sound as the movie's own 16-bit PCM.
#pragma once

#include "rip.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

struct webm_progress {
    double fraction = 0;      // of the movie's bytes read, 0 to 1
    double movie_seconds = 0; // of sound passed to the encoder
};

// VP9's constant quality level (0 best to 63 smallest) when none is asked
// for. Without a level of the user's own the export also holds a floor: the
// level is lowered picture by picture where the encoder reports less than
// webm_movie_floor_db of luma PSNR, and a picture below webm_picture_floor_db
// is coded again.
constexpr int32_t webm_default_crf = 28;
constexpr double webm_movie_floor_db = 38;
constexpr double webm_picture_floor_db = 36;

struct webm_options {
    // Matroska with lossless pictures and PCM sound rather than WebM.
    bool exact = false;
    // The user's own quality level (0 to 63), without the floor; -1 for the
    // default with it. Not used when exact.
    int32_t crf = -1;
    // Encoders coding segments of the movie side by side; 0 for one per
    // core, at most 4. Fewer when the pictures are large.
    int32_t lanes = 0;
    std::string title;
    // Where the movie's bytes end in its file, for the progress fraction; 0
    // for the end of the file.
    int64_t movie_end = 0;
    // Called after each slot; false stops the export (Ctrl-C, Cancel) and
    // leaves no file.
    std::function<bool(const webm_progress&)> progress;
    // Has the encoder measure its luma error even without the floor.
    bool measure_psnr = false;
};

struct webm_summary {
    rip_movie_info info;
    int32_t pictures = 0;      // pictures coded
    int64_t sample_frames = 0; // at 22050 Hz
    int64_t bytes = 0;         // of the finished file
    // Luma PSNR as the encoder measures it, when it does: over all pictures,
    // and of the worst one.
    double psnr_y = 0;
    double worst_psnr_y = 0;
    int32_t recoded = 0; // pictures coded again for the floor
    double seconds() const { return double(sample_frames) / 22050.0; }
    bool cut_short = false; // the file ends inside the movie (movie_cut_short)
    std::string error;      // why the export failed, for the user
};

// Writes under a temporary name beside path and renames it when complete;
// on failure or a stop nothing is left under either name. Missing parent
// folders are made once the movie is found.
rip_status rip_to_webm(const rip_request& request, const std::string& path,
                       const webm_options& options, webm_summary* summary);

// "x.webm", "x.mkv" in any letter case.
bool is_webm_path(const std::string& path);
bool is_mkv_path(const std::string& path);

// The encoder's picture: studio-range BT.601 luma and chroma from 8-bit RGB,
// chroma averaged over each 2 x 2 block. y holds width * height bytes, u and
// v ((width + 1) / 2) * ((height + 1) / 2), each with its own row stride.
void rgb_to_i420(const uint8_t* rgb, int32_t width, int32_t height, uint8_t* y, int32_t y_stride,
                 uint8_t* u, uint8_t* v, int32_t uv_stride);
