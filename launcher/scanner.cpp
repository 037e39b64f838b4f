// Placeholder until the archive scanner lands.
#include "scanner.h"

char archive_path[archive_path_capacity];
int32_t movie_count;
int32_t movie_offsets[movie_list_capacity];

void scan_archive(const char*, const scan_sink&) {}
int is_form_or_riff_member(FILE*) {
    return 0;
}
int is_schl_member(FILE*) {
    return 0;
}
