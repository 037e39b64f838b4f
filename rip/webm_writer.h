// A WebM file (Matroska with the "webm" document type) written as packets
// arrive: one VP9 video track and one Opus sound track, either of them
// optional. Packets of the two tracks are interleaved by time, clusters start
// at video key frames (or every few seconds), cues point at them, and the
// duration and the seek head are filled in when the file is finished.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct webm_setup {
    std::string title;
    // 0 by 0: no video track.
    int32_t width = 0;
    int32_t height = 0;
    // 0: no sound track.
    int32_t channels = 0;
    std::vector<uint8_t> opus_head; // the track's codec private data
    int64_t codec_delay_ns = 0;     // the encoder's pre-skip
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
