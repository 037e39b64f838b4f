// Clearing the large decoder and ring buffers between movies.
#pragma once

#include <cstddef>

// Sets size bytes at state to zero. The whole pages inside are handed back to
// the system rather than written, so that they come back as zero pages only
// when something touches them again: a process that rips one small movie
// then pays only for the bytes that movie uses, not for megabytes of page
// faults. state must be static storage without an initialiser, the stack or
// the heap, whose pages the system refills with zeros (not a variable with a
// non-zero initialiser, whose pages it would refill from the program file).
void zero_state(void* state, size_t size);
