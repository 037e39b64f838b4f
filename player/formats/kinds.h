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

    // For seeks. The reader's own state between slots, kept with each slot
    // of the index (at most reader_state_bytes; null: the kind keeps none).
    void (*save_reader)(uint8_t* state);
    void (*load_reader)(const uint8_t* state);
    // A slot whose picture draws the same whatever came before it; decoding
    // can start there (null: none can be told).
    bool (*key_picture)(const FrameSlot& slot);
    // Hands the colours in force to the surface again (8-bit kinds).
    void (*give_colors)();
    // Kinds without key pictures keep decoder states as the index reads the
    // movie: index_picture sees each picture in turn, restore_picture puts
    // back the last state taken before slot p and returns its slot
    // (-1: none, the decoder is at its start), reset_index forgets them all.
    void (*index_picture)(const FrameSlot& slot, int32_t n);
    int32_t (*restore_picture)(int32_t p);
    void (*reset_index)();
};

constexpr int reader_state_bytes = 16;

// In the probe's order of comparison.
extern const kind_entry kind_table[];
extern const int kind_table_size;

// The row that reads and decodes kind k, or null.
const kind_entry* find_kind(int32_t kind);
