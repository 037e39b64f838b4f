#include "formats/kinds.h"

#include "formats/form/form.h"
#include "formats/form/form_picture.h"
#include "formats/riff/riff.h"
#include "formats/schl/schl.h"
#include "formats/sead/sead.h"

// Compared in this order; the first equal tag decides. A row without a
// header parser is recognised and refused.
const kind_entry kind_table[] = {
    {"SCHl", kind_schl, 16, read_schl_header, read_schl_slot, decode_schl_picture, reset_schl,
     reset_schl, nullptr, nullptr, schl_key_picture, nullptr, nullptr, nullptr, nullptr},
    {"SEAD", kind_sead, 8, read_sead_header, read_sead_slot, decode_sead_picture, reset_sead,
     reset_sead, save_sead_reader, load_sead_reader, sead_whole_key_frame, give_sead_colors,
     nullptr, nullptr, nullptr},
    {"RIFF", kind_riff, 16, read_riff_header, read_riff_slot, decode_riff_picture, reset_riff,
     reset_riff, nullptr, nullptr, riff_key_picture, nullptr, nullptr, nullptr, nullptr},
    {"FORM", kind_form, 8, read_form_header, read_form_slot, decode_form_picture, reset_form,
     restart_form, save_form_reader, load_form_reader, nullptr, give_form_colors,
     index_form_picture, restore_form_picture, reset_form_index},
    {"pIQT", kind_schl, 16, read_piqt_header, read_schl_slot, decode_schl_picture, reset_schl,
     reset_schl, nullptr, nullptr, schl_key_picture, nullptr, nullptr, nullptr, nullptr},
};
const int kind_table_size = int(sizeof kind_table / sizeof kind_table[0]);

const kind_entry* find_kind(int32_t kind) {
    for (int i = 0; i < kind_table_size; ++i)
        if (kind_table[i].kind == kind && kind_table[i].read_slot) return &kind_table[i];
    return nullptr;
}
