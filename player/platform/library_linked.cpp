// The codec linked into the program instead of loaded (the web page, where
// nothing can be loaded at run time): the same calls, answered by a table of
// the library's entry points under their exported names.
#include "platform/library.h"

#include "movie.h"

#include <cstring>

extern "C" int linked_DecompressXD(codec_context* context, const void* payload, int flags);
extern "C" int linked_DrawFrameXD(codec_context* context, void* output, int pitch, int mode);

const char* const codec_library_name = "xanlib";

struct linked_entry {
    const char* name;
    void* address;
};
static const linked_entry linked_entries[] = {
    {"DecompressXD", reinterpret_cast<void*>(linked_DecompressXD)},
    {"DrawFrameXD", reinterpret_cast<void*>(linked_DrawFrameXD)},
};
static int linked_library;

void* load_codec_library(const char* file_name) {
    return strcmp(file_name, codec_library_name) == 0 ? &linked_library : nullptr;
}

void* find_library_entry(void* library, const char* name) {
    if (library != &linked_library) return nullptr;
    for (const linked_entry& e : linked_entries)
        if (strcmp(e.name, name) == 0) return e.address;
    return nullptr;
}

void unload_library(void*) {}
