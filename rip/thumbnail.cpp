#include "thumbnail.h"

#include "reelrip_cli.h"
#include "rip_files.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <string>

static int32_t luma(const uint8_t* p) {
    return (77 * p[0] + 150 * p[1] + 29 * p[2]) >> 8;
}

int32_t lit_share(const uint8_t* rgb, int32_t width, int32_t height) {
    const int64_t pixels = int64_t(width) * height;
    if (pixels <= 0) return 0;
    int64_t lit = 0;
    for (int64_t i = 0; i < pixels; ++i) lit += luma(rgb + 3 * i) >= 32;
    return int32_t(lit * 65536 / pixels);
}

bool picture_has_content(const uint8_t* rgb, int32_t width, int32_t height) {
    const int64_t pixels = int64_t(width) * height;
    if (pixels <= 0 || lit_share(rgb, width, height) < 65536 / 4) return false;
    double sum = 0, squares = 0;
    for (int64_t i = 0; i < pixels; ++i) {
        double y = luma(rgb + 3 * i);
        sum += y;
        squares += y * y;
    }
    double mean = sum / double(pixels);
    return squares / double(pixels) - mean * mean >= 8.0 * 8.0;
}

bool pick_thumbnail_picture(const rip_request& request, thumbnail_picture* out,
                            rip_status* status) {
    *out = {};
    rip_movie_info info;
    int32_t best_share = -1;
    auto begin = [&](const rip_movie_info& i) {
        info = i;
        return info.width >= 1 && info.height >= 1;
    };
    auto slot = [&](const rip_slot& s) {
        if (double(s.start_frame) / 22050.0 >= thumbnail_seconds) return false;
        if (!s.has_picture) return true;
        const bool content = picture_has_content(s.rgb, info.width, info.height);
        const int32_t share = lit_share(s.rgb, info.width, info.height);
        if (content || share > best_share) {
            best_share = share;
            out->width = info.width;
            out->height = info.height;
            out->rgb.assign(s.rgb, s.rgb + size_t(info.width) * size_t(info.height) * 3);
        }
        return !content;
    };
    rip_status result = rip_movie(request, begin, slot);
    if (status) *status = result;
    return !out->rgb.empty();
}

// Source span [start, end) of one output pixel along one axis, and the
// weight of each source pixel it touches.
static void add_span(double start, double end, int32_t limit,
                     const std::function<void(int32_t, double)>& add) {
    for (int32_t i = int32_t(start); i < limit && i < end; ++i) {
        double w = std::min(end, double(i + 1)) - std::max(start, double(i));
        if (w > 0) add(i, w);
    }
}

thumbnail_picture scale_to_fit(const thumbnail_picture& in, int32_t size) {
    if (size < 1 || (in.width <= size && in.height <= size)) return in;
    const double scale = double(size) / double(std::max(in.width, in.height));
    thumbnail_picture out;
    out.width = std::clamp(int32_t(std::lround(in.width * scale)), 1, size);
    out.height = std::clamp(int32_t(std::lround(in.height * scale)), 1, size);
    out.rgb.resize(size_t(out.width) * size_t(out.height) * 3);
    const double sx = double(in.width) / out.width, sy = double(in.height) / out.height;
    // Rows first into a buffer of full-height columns, then the columns.
    std::vector<double> rows(size_t(out.width) * size_t(in.height) * 3);
    for (int32_t y = 0; y < in.height; ++y) {
        for (int32_t x = 0; x < out.width; ++x) {
            double* acc = &rows[(size_t(y) * size_t(out.width) + size_t(x)) * 3];
            add_span(x * sx, (x + 1) * sx, in.width, [&](int32_t i, double w) {
                const uint8_t* p = &in.rgb[(size_t(y) * size_t(in.width) + size_t(i)) * 3];
                for (int c = 0; c < 3; ++c) acc[c] += w * p[c];
            });
            for (int c = 0; c < 3; ++c) acc[c] /= sx;
        }
    }
    for (int32_t y = 0; y < out.height; ++y) {
        for (int32_t x = 0; x < out.width; ++x) {
            double acc[3] = {};
            add_span(y * sy, (y + 1) * sy, in.height, [&](int32_t i, double w) {
                const double* p = &rows[(size_t(i) * size_t(out.width) + size_t(x)) * 3];
                for (int c = 0; c < 3; ++c) acc[c] += w * p[c];
            });
            uint8_t* o = &out.rgb[(size_t(y) * size_t(out.width) + size_t(x)) * 3];
            for (int c = 0; c < 3; ++c)
                o[c] = uint8_t(std::clamp(std::lround(acc[c] / sy), 0L, 255L));
        }
    }
    return out;
}

int run_thumbnail(int argc, const char* const* argv, FILE* err) {
    char* end = nullptr;
    long size = argc == 3 ? strtol(argv[0], &end, 10) : 0;
    if (argc != 3 || end == argv[0] || *end != 0 || size < 1 || size > 4096) {
        fprintf(err, "reelrip: --thumbnail needs SIZE (1 to 4096), FILE and OUT.png\n");
        return 2;
    }
    // The scanner's list says where the movie starts: offset 0 for a single
    // movie file, the first listed member for an archive.
    movie_list list;
    if (!list_or_say_why(argv[1], err, &list)) return 1;
    rip_request request;
    request.path = argv[1];
    request.offset = list.offsets[0];
    thumbnail_picture picture;
    rip_status status = rip_done;
    if (!pick_thumbnail_picture(request, &picture, &status)) {
        if (status == rip_cannot_open || status == rip_not_playable)
            fprintf(err, "reelrip: %s\n",
                    rip_failure(status, argv[1], request.offset, std::string()).c_str());
        else
            fprintf(err, "reelrip: no picture in %s to make a thumbnail of\n", argv[1]);
        return 1;
    }
    thumbnail_picture small = scale_to_fit(picture, int32_t(size));
    std::string reason;
    std::vector<uint8_t> png;
    if (!encode_png_rgb(small.width, small.height, small.rgb.data(), &png))
        reason = std::string("cannot write ") + argv[2] + ": PNG compression failed";
    else if (make_parent_folders(argv[2], &reason))
        write_whole_file(argv[2], png.data(), png.size(), &reason);
    if (reason.empty()) return 0;
    fprintf(err, "reelrip: %s\n", reason.c_str());
    return 1;
}
