// The fuzz targets' seed corpora: small movies of every kind, both archive
// layouts, codec payloads, sound blocks and command lines, each laid out as
// its target reads its input (fuzz/fuzz_support.h and the targets' heads).
#pragma once

#include <string>

// Writes DIR/TARGET/NAME for every target in fuzz/; false on a write failure.
bool write_fuzz_seeds(const std::string& dir);
