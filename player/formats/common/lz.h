// The LZ command loop shared by the 8-bit picture codings, and the forward
// copy that its back references (and FORM motion runs) rely on.
#pragma once

#include <cstdint>

// Copies count bytes one at a time from the lowest address up: a source that
// overlaps the destination from below repeats the bytes already written.
void copy_forward(uint8_t* dst, const uint8_t* src, int32_t count);

// Unpacks the command stream src (src_len bytes) into dst, which holds
// dst_capacity bytes. Returns the bytes written. *fault is set when the stream
// ends without its stop command, a command or its literals run past src_len,
// the output would pass dst_capacity, or a back reference reaches before the
// start of dst; the bytes written before that point are kept. Bytes of dst
// past the returned count (below dst_capacity) may be overwritten.
int32_t unpack_image(const uint8_t* src, int32_t src_len, uint8_t* dst, int32_t dst_capacity,
                     bool* fault);
