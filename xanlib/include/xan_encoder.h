// The picture coder for the codec library's payloads, used by our own movie
// writer and by the tests. Plain planes in, payloads out.
#pragma once

#include <cstdint>
#include <vector>

// Y at 6 bits per pixel; U and V at 5 bits, one per 2 x 2 pixels.
struct xan_picture {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> y, u, v;
};

struct xan_encoder {
    int width = 0;
    int height = 0;
    int key_interval = 30; // a key picture at least this often
    int since_key = 0;
    uint16_t sequence = 0;
    bool have_reference = false;
    xan_picture reference; // what the decoder holds after the last payload
};

xan_picture make_xan_picture(int width, int height);
void start_xan_encoder(xan_encoder& e, int width, int height, int key_interval = 30);

// Codes one picture (sizes must match the encoder's). The planes are coded
// without loss; a picture the decoder already holds costs a few bytes.
std::vector<uint8_t> encode_xan_picture(xan_encoder& e, const xan_picture& picture,
                                        bool force_key = false);

// Chooses, for 8-bit RGB pixels (3 bytes each, rows packed), the levels whose
// colours in `colours` (65536 5-5-5 values looked up as Y + 64 U + 2048 V)
// come closest.
xan_picture xan_picture_from_rgb(const uint8_t* rgb, int width, int height,
                                 const uint16_t* colours);
