// reelrip's core: runs one movie through the player's probe, reader and
// picture decoders without a window or a sound device, and hands out every
// slot in reading order as an RGB picture and its PCM sound. The slots are
// read and decoded in the same order as the player's display loop does it
// (19 slots read ahead, then one decode and one read per step), so decoder
// and palette state evolve exactly as they do on screen.
#pragma once

#include "movie.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

struct rip_request {
    std::string path;
    // When set, the movie is read from these bytes instead of path (tests).
    const std::vector<uint8_t>* bytes = nullptr;
    int64_t offset = 0;
    bool interlaced = false;
    // Point DecompressXD and DrawFrameXD at the codec library, as the player
    // does; false leaves whatever the caller has set (tests of the fallback).
    bool bind_codec_library = true;
    // Hand out pictures of the 8-bit kinds as palette indices and colours
    // (rip_slot::indices, colors) instead of RGB; rgb is then null for them.
    bool indexed_pictures = false;
    // Hand out pictures of the 16-bit kinds as their 5-5-5 pixels
    // (rip_slot::pixels555) instead of RGB, so that a consumer with worker
    // threads widens them there rather than on the reading thread.
    bool packed_pictures = false;
    // Threads that compress and write pictures in rip_to_directory; 0: one
    // per core.
    int32_t threads = 0;
    // Asked by rip_to_directory before each slot, when set; false stops the
    // rip as a failed write would (Ctrl-C).
    std::function<bool()> keep_going = nullptr;
    // A clip: from the slot that contains from_frame (as a seek lands) up to,
    // not including, the first slot that starts at or after to_frame (-1: to
    // the end). Slots are numbered, and their sound timed, from the clip's
    // first slot.
    int64_t from_frame = 0;
    int64_t to_frame = -1;
};

struct rip_movie_info {
    int32_t kind = kind_none;
    // Size of the pictures handed out (doubled with interlaced); both 0 for a
    // movie without pictures.
    int32_t width = 0;
    int32_t height = 0;
    int32_t depth = 0;
    bool stereo = false;
    int32_t channels() const { return stereo ? 2 : 1; }
    int32_t frame_bytes() const { return stereo ? 4 : 2; }
};

struct rip_slot {
    int32_t number = 0;
    bool has_picture = false;
    const uint8_t* rgb = nullptr; // width * height * 3 bytes, top row first; valid during the call
    // With indexed_pictures, for the 8-bit kinds: width * height palette
    // indices, top row first, and the 256 colours in force (R, G, B each),
    // which give exactly the RGB picture; valid during the call.
    const uint8_t* indices = nullptr;
    const uint8_t* colors = nullptr;
    // With packed_pictures, for the 16-bit kinds: width * height 5-5-5
    // pixels, 16-bit little-endian, top row first; valid during the call.
    const uint8_t* pixels555 = nullptr;
    const uint8_t* pcm = nullptr; // pcm_bytes of signed 16-bit little-endian sound
    int32_t pcm_bytes = 0;
    // The reader's place in the file just after this slot: how far the rip
    // has come through the movie's bytes.
    int64_t file_position = 0;
    int64_t start_frame = 0; // sample frames of sound before this slot
    int32_t frames = 0;      // this slot's sample frames (pcm_bytes / frame_bytes)
};

enum rip_status {
    rip_done,
    rip_cannot_open,
    rip_not_playable,
    rip_stopped,    // a callback returned false
    rip_beyond_end, // from_frame is at or after the movie's end
};

// Opens the movie a request names as a rip does (no window, no sound device;
// palettes kept for frame_to_rgb), ready for prefill_ring or a seek; rip_close
// closes it. rip_done when it is open.
rip_status rip_open(const rip_request& request, rip_movie_info* info);
void rip_close();

// "the movie is only M:SS long", for a clip that starts beyond the end of
// the movie last opened.
std::string movie_too_short_message();

// begin is called once the movie is probed, slot once per slot; either may
// return false to stop. Each call starts from reset_movie_state(), so one
// process can rip movie after movie.
rip_status rip_movie(const rip_request& request,
                     const std::function<bool(const rip_movie_info&)>& begin,
                     const std::function<bool(const rip_slot&)>& slot);

// The open movie's frame_pixels as 8-bit RGB: palettised pixels through the
// palette last handed to set_surface_colors, 5-5-5 pixels with each field f
// widened to (f << 3) | (f >> 2). out holds movie_width * movie_height * 3.
void frame_to_rgb(uint8_t* out);

// A whole movie in memory, for tests that compare pictures and sound.
struct ripped_slot {
    int32_t number = 0;
    bool has_picture = false;
    std::vector<uint8_t> rgb;
    std::vector<uint8_t> pcm;
    int64_t start_frame = 0;
    int32_t frames = 0;
};
struct ripped_movie {
    rip_status status = rip_not_playable;
    rip_movie_info info;
    std::vector<ripped_slot> slots;
    std::vector<uint8_t> sound; // every slot's pcm, in order
    int32_t pictures() const;
};
ripped_movie rip_to_memory(const rip_request& request);

// The directory layout: frames/NNNNNN.png, audio.wav, timeline.tsv, each
// written under a temporary name and renamed when complete. A rip into a
// directory that holds an earlier one replaces it whole: its audio.wav and
// timeline.tsv go once the movie is found, and pictures of that naming that
// this rip did not write go at its end.
struct rip_summary {
    rip_movie_info info;
    int32_t slots = 0;
    int32_t pictures = 0;
    int64_t sample_frames = 0;
    double seconds() const { return double(sample_frames) / 22050.0; }
    bool cut_short = false; // the file ends inside the movie (movie_cut_short)
    std::string error;      // why a rip to a directory failed, for the user
};
// "NNNNNN.png": the slot number zero-padded to six digits.
std::string frame_file_name(int32_t slot_number);
// The slot number of a name of that form; -1 for any other name.
int32_t frame_file_number(const std::string& name);
rip_status rip_to_directory(const rip_request& request, const std::string& dir,
                            rip_summary* summary);
