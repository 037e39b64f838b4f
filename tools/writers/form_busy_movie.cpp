#include "form_writer.h"

#include <cstddef>

std::vector<uint8_t> make_form_busy_movie(int seconds) {
    form_movie m;
    m.width = 160;
    m.height = 100;
    std::array<uint8_t, 768> palette;
    for (size_t i = 0; i < palette.size(); ++i) palette[i] = uint8_t(i * 7 % 64);
    m.palettes = {palette};
    for (int t = 0; t < seconds * 15; ++t) {
        form_frame f;
        f.shot = t == 0 ? 0 : -1;
        f.pixels.resize(size_t(m.width * m.height));
        for (size_t i = 0; i < f.pixels.size(); ++i)
            f.pixels[i] = uint8_t(i * 31 + size_t(t) * 13 + i / 97 * size_t(t));
        f.sound.assign(1470, int16_t(t % 2 ? 3000 : -3000));
        m.frames.push_back(std::move(f));
    }
    return write_form_movie(m);
}

std::array<uint8_t, 768> grey_ramp_palette() {
    std::array<uint8_t, 768> palette{};
    for (size_t i = 0; i < 256; ++i)
        palette[3 * i] = palette[3 * i + 1] = palette[3 * i + 2] = uint8_t(i / 4);
    return palette;
}
