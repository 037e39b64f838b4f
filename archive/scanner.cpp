#include "scanner.h"

#include <cctype>
#include <cstring>
#include <string>

char archive_path[archive_path_capacity];
int32_t movie_count;
int32_t movie_offsets[movie_list_capacity];

const char cannot_open_message[] = "Cannot open file";
const char cannot_open_caption[] = "Error";
const char no_movies_message[] = "No playable movies found on this archive";
const char no_movies_caption[] = "Warning";

// The index is read a block at a time, so a hostile index size never asks
// for more memory than this.
constexpr int index_block_bytes = 64 * 1024;
constexpr int xtre_entry_bytes = 8;
constexpr int named_entry_bytes = 272;
constexpr int named_index_start = 16;
constexpr int member_name_bytes = 256;

static uint32_t le32_at(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

static bool read_exactly(FILE* file, void* out, size_t count) {
    return fread(out, 1, count, file) == count;
}

static bool seek_to(FILE* file, int64_t offset) {
    return offset >= 0 && offset <= 0x7FFFFFFF && fseek(file, long(offset), SEEK_SET) == 0;
}

static int64_t size_of(FILE* file) {
    if (fseek(file, 0, SEEK_END) != 0) return -1;
    long size = ftell(file);
    if (fseek(file, 0, SEEK_SET) != 0) return -1;
    return size;
}

static void add_line(const scan_sink& sink, const char* text) {
    if (sink.add_line) sink.add_line(sink.context, text);
}

static void tell(const scan_sink& sink, const char* text, const char* caption,
                 scan_message_kind kind) {
    if (sink.message) sink.message(sink.context, text, caption, kind);
}

static bool tag_equals(const uint8_t* bytes, const char* tag) {
    return memcmp(bytes, tag, 4) == 0;
}

int is_form_or_riff_member(FILE* file) {
    if (fseek(file, 8, SEEK_CUR) != 0) return 0;
    uint8_t kind[4], platform[4];
    if (!read_exactly(file, kind, 4)) return 0;
    if (!tag_equals(kind, "MOVE") && !tag_equals(kind, "AVI ")) return 0;
    if (!read_exactly(file, platform, 4)) return 0;
    if (!tag_equals(platform, "_PC_") && !tag_equals(platform, "LIST")) return 0;
    fseek(file, -16, SEEK_CUR);
    return 1;
}

int is_schl_member(FILE* file) {
    uint8_t tag[4];
    if (!read_exactly(file, tag, 4)) return 0;
    return tag_equals(tag, "pIQT") || tag_equals(tag, "SCHl") ? 1 : 0;
}

// The player takes offsets as 32-bit signed numbers, so a member beyond that
// could never be played and is not listed.
static bool playable_offset(uint32_t offset, int64_t file_bytes) {
    return offset <= 0x7FFFFFFF && int64_t(offset) < file_bytes;
}

static void accept_member(const scan_sink& sink, uint32_t offset, const char* line) {
    movie_offsets[movie_count] = int32_t(offset);
    ++movie_count;
    add_line(sink, line);
}

// Hands each of `entries` index entries (entry_bytes long, from index_start)
// to visit, reading the index a block at a time, until the list is full.
template <typename Visit>
static void walk_index(FILE* file, int64_t index_start, int64_t entries, int64_t entry_bytes,
                       Visit visit) {
    static uint8_t block[index_block_bytes];
    const int64_t per_block = index_block_bytes / entry_bytes;
    for (int64_t first = 0; first < entries && movie_count < movie_list_capacity;
         first += per_block) {
        int64_t count = entries - first < per_block ? entries - first : per_block;
        if (!seek_to(file, index_start + first * entry_bytes) ||
            !read_exactly(file, block, size_t(count * entry_bytes)))
            return;
        for (int64_t i = 0; i < count && movie_count < movie_list_capacity; ++i)
            visit(block + i * entry_bytes);
    }
}

// Layout A: index from X to Y of (member offset, not read) pairs.
static void scan_xtre(FILE* file, int64_t file_bytes, const scan_sink& sink) {
    uint8_t bounds[8];
    if (!seek_to(file, 16) || !read_exactly(file, bounds, 8)) return;
    int64_t index_start = le32_at(bounds);
    int64_t index_end = le32_at(bounds + 4);
    if (index_end < index_start || index_end > file_bytes) return;
    int64_t entries = (index_end - index_start) / xtre_entry_bytes;
    walk_index(file, index_start, entries, xtre_entry_bytes, [&](const uint8_t* entry) {
        uint32_t offset = le32_at(entry);
        if (!playable_offset(offset, file_bytes) || !seek_to(file, offset)) return;
        if (!is_form_or_riff_member(file)) return;
        char line[64];
        snprintf(line, sizeof line, "Movie %d - offset %d", int(movie_count + 1), int(offset));
        accept_member(sink, offset, line);
    });
}

// Layout B: N entries of 272 bytes from offset 16, each naming its member.
static void scan_named(FILE* file, uint32_t entry_count, int64_t file_bytes,
                       const scan_sink& sink) {
    int64_t index_end = named_index_start + int64_t(entry_count) * named_entry_bytes;
    if (index_end > file_bytes) return;
    walk_index(file, named_index_start, entry_count, named_entry_bytes, [&](const uint8_t* entry) {
        uint32_t offset = le32_at(entry + 8);
        if (!playable_offset(offset, file_bytes) || !seek_to(file, offset)) return;
        if (!is_schl_member(file)) return;
        // A name that fills its field without a NUL is cut at the field's end.
        char name[member_name_bytes + 1];
        memcpy(name, entry + 16, member_name_bytes);
        name[member_name_bytes] = 0;
        accept_member(sink, offset, name);
    });
}

bool names_an_archive(const char* path) {
    size_t length = strlen(path);
    if (length < 3) return false;
    const char* end = path + length - 3;
    return tolower(static_cast<unsigned char>(end[0])) == 't' &&
           tolower(static_cast<unsigned char>(end[1])) == 'r' &&
           tolower(static_cast<unsigned char>(end[2])) == 'e';
}

static void scan_file(const char* path, const scan_sink& sink) {
    if (!names_an_archive(path)) {
        movie_offsets[0] = 0;
        movie_count = 1;
        std::string line = std::string("Single movie file: ") + path;
        add_line(sink, line.c_str());
        return;
    }
    FILE* file = fopen(path, "rb");
    if (!file) {
        tell(sink, cannot_open_message, cannot_open_caption, scan_error);
        return;
    }
    int64_t file_bytes = size_of(file);
    uint8_t magic[4];
    if (file_bytes >= 4 && read_exactly(file, magic, 4)) {
        if (tag_equals(magic, "XTRE"))
            scan_xtre(file, file_bytes, sink);
        else
            scan_named(file, le32_at(magic), file_bytes, sink);
    }
    fclose(file);
}

void scan_archive(const char* path, const scan_sink& sink) {
    movie_count = 0;
    if (path != archive_path) {
        strncpy(archive_path, path, archive_path_capacity - 1);
        archive_path[archive_path_capacity - 1] = 0;
    }
    scan_file(path, sink);
    if (movie_count == 0) tell(sink, no_movies_message, no_movies_caption, scan_warning);
}
