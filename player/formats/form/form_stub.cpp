// Placeholder until the FORM reader and decoder land.
#include "formats/common/chunk_io.h"
#include "formats/form/form.h"

void read_form_header(FILE*, int32_t* width, int32_t* height, uint8_t* stereo) {
    *width = 320;
    *height = 165;
    *stereo = 0;
    probe_kind = kind_none;
}
void read_form_slot() {
    end_movie();
}
void decode_form_picture(uint8_t, int32_t, int32_t, const FrameSlot*, void**) {}
void reset_form() {}
