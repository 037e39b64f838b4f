#include "formats/kinds.h"

#include "formats/form/form.h"
#include "formats/riff/riff.h"
#include "formats/schl/schl.h"
#include "formats/sead/sead.h"

// Compared in this order; the first equal tag decides. A row without a
// header parser is recognised and refused.
const kind_entry kind_table[] = {
    {"SCHl", kind_schl, 16, read_schl_header, read_schl_slot, decode_schl_picture, reset_schl,
     reset_schl},
    {"SEAD", kind_sead, 8, read_sead_header, read_sead_slot, decode_sead_picture, reset_sead,
     reset_sead},
    {"RIFF", kind_riff, 16, read_riff_header, read_riff_slot, decode_riff_picture, reset_riff,
     reset_riff},
    {"FORM", kind_form, 8, read_form_header, read_form_slot, decode_form_picture, reset_form,
     restart_form},
    {"pIQT", kind_schl, 16, read_piqt_header, read_schl_slot, decode_schl_picture, reset_schl,
     reset_schl},
};
const int kind_table_size = int(sizeof kind_table / sizeof kind_table[0]);

const kind_entry* find_kind(int32_t kind) {
    for (int i = 0; i < kind_table_size; ++i)
        if (kind_table[i].kind == kind && kind_table[i].read_slot) return &kind_table[i];
    return nullptr;
}
