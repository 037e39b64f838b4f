// A Matroska file written as packets arrive: one VP9 video track and one
// sound track, either of them optional. The setup says which kind of file:
// WebM (4:2:0 BT.601 pictures, Opus at 48 kHz, millisecond times) or exact
// Matroska (4:4:4 sRGB pictures, 16-bit PCM at the movie's rate, finer
// times). Packets of the two tracks are interleaved by time, clusters start
// at video key frames (or when block times would overflow), cues point at
// them, and the duration and the seek head are filled in when the file is
// finished.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct webm_setup {
    std::string title;
    std::string doc_type = "webm";
    // The file's time unit: packet times are rounded to it.
    int64_t tick_ns = 1000000;
    // 0 by 0: no video track.
    int32_t width = 0;
    int32_t height = 0;
    // Pictures as VP9 carries RGB (4:4:4, planes G, B, R, full range sRGB)
    // rather than 4:2:0 studio-range BT.601.
    bool rgb = false;
    // 0: no sound track.
    int32_t channels = 0;
    std::string sound_codec = "A_OPUS";
    double sound_rate = 48000;
    int32_t sound_bits = 0;             // PCM only
    std::vector<uint8_t> sound_private; // the track's codec private data
    int64_t codec_delay_ns = 0;         // the encoder's pre-skip
    int64_t seek_pre_roll_ns = 0;
};

enum webm_track { webm_video, webm_sound };

struct webm_file; // libmatroska's elements and the open file

struct webm_output {
    webm_file* file = nullptr;
    std::string path;  // written to as it stands; the caller renames it
    std::string error; // why writing failed, with the system's reason
    int64_t bytes = 0; // size of the finished file
};

bool webm_open(webm_output* out, const std::string& path, const webm_setup& setup);
// time_ns is the packet's presentation time; discard_padding_ns, when not 0,
// is the sound at the end of the packet that a decoder drops (the last one).
bool webm_add(webm_output* out, webm_track track, int64_t time_ns, const uint8_t* data, size_t size,
              bool key, int64_t discard_padding_ns = 0);
// Writes what is queued, the cues, the duration and the seek head, closes.
bool webm_finish(webm_output* out, double duration_seconds);
// Closes without finishing; the file is left for the caller to remove.
void webm_close(webm_output* out);
