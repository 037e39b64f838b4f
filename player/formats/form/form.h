// FORM movies (kind 1): big-endian chunks, raw 16-bit mono sound and 8-bit
// palettised pictures coded against the previous one.
#pragma once

#include "movie.h"

void read_form_header(FILE* file, int32_t* width, int32_t* height, uint8_t* stereo);
void read_form_slot();
void decode_form_picture(uint8_t interlaced, int32_t width, int32_t height, const FrameSlot* slot,
                         void** pixels);
void reset_form();
// As reset_form, but the palettes of the header stay.
void restart_form();
void save_form_reader(uint8_t* state);
void load_form_reader(const uint8_t* state);

// Palettes stored by the header walk (at most palette_capacity).
extern int32_t palette_count;
// Index of the last "SHOT" chunk read, 0 before the first; always a stored
// palette (or 0).
extern int32_t shot_palette_index;
// Maps a palette byte rotated left by two bits (4 x a 6-bit level) to 0..253.
extern uint8_t palette_level_table[256];
void build_palette_level_table();

// Largest picture body and sound body a slot takes; larger ones are dropped.
constexpr int32_t form_video_limit = video_capacity;
constexpr int32_t form_sound_limit = sound_capacity;
