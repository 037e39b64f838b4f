// Run-time library loading, the player's only tie to the platform's loader.
#pragma once

// Looks for the library beside the running executable first (a build
// folder), then where an install puts it relative to the executable, then on
// the ordinary library search path. Null when it is found in none of them.
void* load_codec_library(const char* file_name);
void* find_library_entry(void* library, const char* name);
void unload_library(void* library);

// The codec library's file name on this platform.
extern const char* const codec_library_name;
