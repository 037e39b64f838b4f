// Landing on a moment of the open movie: the slot index (each slot's start on
// the sound clock), the movie's whole length, and seeks and picture steps
// that leave the ring, the readers and the decoders exactly as an
// uninterrupted run has them at the slot landed on. Nothing here knows about
// SDL; the player's hooks show the picture.
#pragma once

#include <cstdint>
#include <cstdio>

// Time is counted in sample frames at 22050 Hz: a slot's start is the number
// of sample frames before it, silence fillers included.
constexpr int32_t movie_rate = 22050;

// Whole length of the open movie in sample frames, -1 while not yet known.
int64_t movie_length_frames();
// Start frame of slot k, -1 when slot k has not been indexed yet.
int64_t slot_start_frame(int32_t k);
// The slot whose sound is being heard now (the base of a relative seek) and
// the slot last shown (its picture, or the last one before it, is on screen).
int32_t slot_being_heard();
int32_t slot_on_screen();
// The slot whose picture is on screen (the last slot with a picture at or
// before slot_on_screen), -1 while none has been shown.
int32_t picture_slot_on_screen();
// Sound bytes before slot k (slot_start_frame times the bytes of a sample
// frame, with any odd bytes), -1 when slot k has not been indexed yet.
int64_t slot_start_byte(int32_t k);

// Lands on the slot that contains target (clamped to the first and last
// slot): afterwards the picture on screen (drawn through hooks.present) and
// all sound handed out by fill_audio are exactly those of an uninterrupted
// run from that slot. Keeps the paused state. Called on the display thread;
// takes the reader lock itself. Returns the slot landed on.
int32_t seek_to_frame(int64_t target);
// Shows the next (+1) or previous (-1) slot that has a picture and leaves the
// movie paused (the caller holds the sound, as for a pause). Stays at the
// last or first picture. Returns the slot on screen.
int32_t step_picture(int32_t direction);

// Start-up's part, once the movie is open: where its body starts (just after
// the header the probe parsed) and a fresh slot index, read through
// own_handle, a second handle on the movie's file (taken over; null: seeks
// read the movie again from its start instead). end_seeking closes it.
void begin_seeking(FILE* own_handle);
void end_seeking();
// Reads a few more slots into the index (the display loop, between slots,
// until the index has met the end of the movie; movie_length_frames is then
// known). Seeks index as far as they need by themselves.
void index_some_slots();

// Parses a time as "-start", "--from" and "--to" take it: seconds ("90",
// "90.5") or minutes and seconds ("1:30", "1:30.5"). False when text is not
// such a time; *frames is then left alone.
bool parse_movie_time(const char* text, int64_t* frames);
