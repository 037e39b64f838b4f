// FORM movies (kind 1): big-endian chunks, raw 16-bit mono sound and 8-bit
// palettised pictures coded against the previous one.
#pragma once

#include "movie.h"

void read_form_header(FILE* file, int32_t* width, int32_t* height, uint8_t* stereo);
void read_form_slot();
void decode_form_picture(uint8_t interlaced, int32_t width, int32_t height, const FrameSlot* slot,
                         void** pixels);
void reset_form();
