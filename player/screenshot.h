// Screenshots of the picture on screen: PNG files at the movie's own size
// (doubled with -i), the very pixels reelrip writes for the same slot.
#pragma once

#include "controls.h" // screenshot_name, which the web page shares
#include "png_file.h"

#include <cstdint>
#include <string>

// Where screenshots go: $XDG_PICTURES_DIR, else the pictures folder named in
// the user's user-dirs.dirs, when that directory exists; else the home folder.
std::string pictures_folder();

// Writes the picture as folder/name.png, or name-2.png, name-3.png ... when
// that is taken: an existing file is never replaced. True with *result the
// path written; false with *result "cannot write PATH: reason".
bool write_screenshot(const std::string& folder, const std::string& name,
                      const png_picture& picture, std::string* result);
