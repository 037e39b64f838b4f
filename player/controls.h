// The parts of the player's study controls that need no SDL and no PNG
// writer, shared by reelplay and the web page: how the volume scales the
// sound, what the on-screen display says and how screenshots are named.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// The volume in tenths of full: keys step it by one, from 0 to volume_full.
constexpr int32_t volume_full = 10;

// Scales signed 16-bit little-endian samples to tenths / 10 of their value,
// rounded toward zero. At volume_full they are not touched at all.
void scale_samples(uint8_t* pcm, int32_t bytes, int32_t tenths);

// "M:SS" of a time in sample frames, the seconds rounded down; "-:--" for a
// time not known (negative).
void format_clock(int64_t frames, char* out, size_t size);

// The display's clock: "M:SS / M:SS", the time of the picture on screen and
// the movie's whole length.
void format_osd_clock(int64_t time, int64_t length, char* out, size_t size);

// The display's label: message (a screenshot's name, or why it failed) alone
// when there is one, as it is long; else "paused", then "muted" or the
// volume, which shows only when it is not full or has just been changed.
void format_osd_label(const char* message, bool paused, bool muted, int32_t tenths,
                      bool volume_changed, char* out, size_t size);

// "<movie file name>[-<offset>]-<M>m<SS.mmm>s" for a slot that starts
// start_frame sample frames into the movie; the offset only when not 0.
std::string screenshot_name(const char* movie_path, int64_t offset, int64_t start_frame);
