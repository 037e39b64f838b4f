// reeldeck_icon FILE SIZE: writes the launcher's icon as a PNG for the desktop.
#include "reel_icon.h"

#include <cstdio>
#include <cstdlib>
#include <png.h>

int main(int argc, char** argv) {
    if (argc != 3) {
        fprintf(stderr, "usage: reeldeck_icon FILE SIZE\n");
        return 2;
    }
    int size = atoi(argv[2]);
    if (size <= 0 || size > 1024) return 2;
    std::vector<uint8_t> pixels = draw_reel_icon(size);
    png_image image = {};
    image.version = PNG_IMAGE_VERSION;
    image.width = png_uint_32(size);
    image.height = png_uint_32(size);
    image.format = PNG_FORMAT_RGBA;
    if (!png_image_write_to_file(&image, argv[1], 0, pixels.data(), 0, nullptr)) {
        fprintf(stderr, "reeldeck_icon: %s\n", image.message);
        return 1;
    }
    return 0;
}
