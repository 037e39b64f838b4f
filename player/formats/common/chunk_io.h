// Small readers over movie_file shared by every container kind. Each one
// reports a short read, so that no loop over a damaged file can run past its
// end: a reader that meets the end stops and ends the movie.
#pragma once

#include "movie.h"

#include <cstdint>
#include <cstring>

// Reads four bytes into chunk_tag (kept zero-terminated). False on a short read.
bool read_chunk_tag();
bool tag_is(const char* tag);

bool read_be32(uint32_t* value);
bool read_le32(uint32_t* value);
bool read_le16(uint16_t* value);
bool read_bytes(void* out, int32_t count);

// Moves forward by count bytes; false when that would pass the end of the file.
bool skip_bytes(int64_t count);
// Steps back over a tag that was read and not taken.
void unread_tag();

int64_t file_position();

// Set when a reader wanted bytes past the end of the file: the file ends
// inside the movie, as in a cut copy. A tag that finds the end exactly at a
// chunk boundary does not count. Cleared by reset_movie_state.
extern bool movie_cut_short;
// Reads up to count bytes, as many as the file still holds; the count read.
int32_t read_available(void* out, int32_t count);
// Reads a picture payload of count bytes to the start of slot.video, as
// read_bytes does, noting where in the file the bytes came from (the slot
// index keeps it, so that a seek can put back exactly what the ring held).
bool read_video(FrameSlot& slot, int32_t count);

// Where the reader puts slots instead of the ring while the slot index reads
// the movie on its own file handle; null: the ring.
extern FrameSlot* reader_target;

// The ring entry the reader fills next, and the end-of-movie bookkeeping.
FrameSlot& next_slot();
void end_movie();
void fill_silence(FrameSlot& slot);
void count_slot();

inline uint32_t load_le32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
inline uint16_t load_le16(const uint8_t* p) {
    return uint16_t(p[0] | p[1] << 8);
}
inline uint32_t load_be32(const uint8_t* p) {
    return uint32_t(p[3]) | uint32_t(p[2]) << 8 | uint32_t(p[1]) << 16 | uint32_t(p[0]) << 24;
}
