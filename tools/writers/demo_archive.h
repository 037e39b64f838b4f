// The launcher's demo: an "XTRE" archive holding three demo FORM movies and a
// RIFF movie and, between the first two, one member that is no movie and is
// not listed.
#pragma once

#include <cstdint>
#include <vector>

// movie_offsets receives the four movies' offsets, in listing order.
std::vector<uint8_t> make_demo_archive(std::vector<int32_t>* movie_offsets = nullptr);
