// The archive scanner: turns a chosen file into the launcher's movie list.
// Free of any dialog toolkit; its lines and messages go to a sink that the
// dialog and reelrip --list each provide.
#pragma once

#include <cstdint>
#include <cstdio>

constexpr int archive_path_capacity = 500;
constexpr int movie_list_capacity = 10000;

// Plain globals shared by the scanner and the launcher's handlers. The path
// is kept whole however long it is; archive_path holds the same text.
extern char archive_path[archive_path_capacity];
extern int32_t movie_count;
extern int32_t movie_offsets[movie_list_capacity];

enum scan_message_kind { scan_error, scan_warning };

struct scan_sink {
    void (*add_line)(void* context, const char* text);
    void (*message)(void* context, const char* text, const char* caption, scan_message_kind kind);
    void* context;
};

// Reads path (normally archive_path), appends one line per playable movie to
// the sink and fills movie_offsets and movie_count. The caller has set
// movie_count to 0 and emptied its list before the call.
void scan_archive(const char* path, const scan_sink& sink);

int is_form_or_riff_member(FILE* file);
int is_schl_member(FILE* file);
