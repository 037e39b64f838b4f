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

// The sink's messages, as text and caption.
extern const char cannot_open_message[]; // "Cannot open file", scan_error
extern const char cannot_open_caption[]; // "Error"
extern const char no_movies_message[];   // "No playable movies found on this archive"
extern const char no_movies_caption[];   // "Warning", kind scan_warning

// Reads path (normally archive_path; another path is copied into it),
// appends one line per playable movie to the sink and fills movie_offsets and
// movie_count (set to 0 first). The caller has emptied its list before the
// call. When nothing playable is found, the sink's last message is the
// "No playable movies" warning (after "Cannot open file" when the file could
// not be opened): callers show the sink's messages and add none of their own.
// Refused as nothing playable: an index reaching past the end of the file, an
// index end below its start, a named-index count that does not fit the file.
// Listing stops at movie_list_capacity movies.
void scan_archive(const char* path, const scan_sink& sink);

// True when path ends in ".tre" in any letter case: the scanner reads such a
// file's index; any other file is one single movie.
bool names_an_archive(const char* path);

// file positioned at a member's start. 1 when bytes 8-11 are "MOVE" or
// "AVI " and bytes 12-15 "_PC_" or "LIST" (the file is put back at the
// start), else 0.
int is_form_or_riff_member(FILE* file);
// 1 when the member starts with "pIQT" or "SCHl"; the file is left 4 bytes on.
int is_schl_member(FILE* file);
