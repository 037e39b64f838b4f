// The parts of the player's study controls that need no SDL: how the volume
// scales the sound, and the clock the on-screen display shows.
#pragma once

#include <cstddef>
#include <cstdint>

// The volume in tenths of full: keys step it by one, from 0 to volume_full.
constexpr int32_t volume_full = 10;

// Scales signed 16-bit little-endian samples to tenths / 10 of their value,
// rounded toward zero. At volume_full they are not touched at all.
void scale_samples(uint8_t* pcm, int32_t bytes, int32_t tenths);

// "M:SS" of a time in sample frames, the seconds rounded down; "-:--" for a
// time not known (negative).
void format_clock(int64_t frames, char* out, size_t size);
