// One row per container kind: the probe, the reader and the picture
// dispatcher all look the open kind up here, so adding a kind is one row.
#pragma once

#include "movie.h"

struct kind_entry {
    const char* tag;              // the four bytes at the movie's start offset
    int32_t kind;                 // MovieKind
    int32_t depth;                // bits per pixel of the frame surface
    header_parser_fn read_header; // null: the kind is not playable (yet)
    void (*read_slot)();
    picture_decoder_fn decode_picture;
    void (*reset)(); // reader and decoder state back to its start value
    // Reader and decoder state back to where the header left them: what the
    // header parse found (FORM's palettes) stays, so that the movie can be
    // read again from its first slot.
    void (*restart)();
};

// In the probe's order of comparison.
extern const kind_entry kind_table[];
extern const int kind_table_size;

// The row that reads and decodes kind k, or null.
const kind_entry* find_kind(int32_t kind);
