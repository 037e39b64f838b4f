// Picture decoding speed of pIQT against libjpeg-turbo on the same picture:
// a 320 x 160 natural-looking scene, coded by our writer and as a baseline
// 4:2:0 JPEG of quality 75 decoded to RGB565.
#include "formats/schl/schl.h"
#include "schl_writer.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <ctime>
#include <jpeglib.h>
#include <vector>

namespace {

constexpr int width = 320, height = 160;

const std::vector<uint8_t>& scene() {
    static const std::vector<uint8_t> rgb = make_schl_scene(width, height, 1.0);
    return rgb;
}

const std::vector<uint8_t>& piqt_picture() {
    static const std::vector<uint8_t> coded = [] {
        auto planes = schl_planes_from_rgb(scene().data(), width, height);
        return encode_schl_picture(planes, {1}); // about the JPEG's size
    }();
    return coded;
}

const std::vector<uint8_t>& jpeg_picture() {
    static const std::vector<uint8_t> coded = [] {
        jpeg_compress_struct c;
        jpeg_error_mgr err;
        c.err = jpeg_std_error(&err);
        jpeg_create_compress(&c);
        unsigned char* out = nullptr;
        unsigned long size = 0;
        jpeg_mem_dest(&c, &out, &size);
        c.image_width = width;
        c.image_height = height;
        c.input_components = 3;
        c.in_color_space = JCS_RGB;
        jpeg_set_defaults(&c); // baseline, YCbCr 4:2:0
        jpeg_set_quality(&c, 75, TRUE);
        jpeg_start_compress(&c, TRUE);
        while (c.next_scanline < c.image_height) {
            JSAMPROW row =
                const_cast<uint8_t*>(scene().data()) + size_t(c.next_scanline) * width * 3;
            jpeg_write_scanlines(&c, &row, 1);
        }
        jpeg_finish_compress(&c);
        std::vector<uint8_t> v(out, out + size);
        jpeg_destroy_compress(&c);
        free(out);
        return v;
    }();
    return coded;
}

double piqt_rate, jpeg_rate; // megapixels per second of the last measured run

template <typename F> void measure(benchmark::State& state, double& rate, F&& decode_once) {
    // CPU time of this thread, as the benchmark library reports it: the
    // machine may be shared.
    auto cpu_seconds = [] {
        timespec ts;
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
        return double(ts.tv_sec) + double(ts.tv_nsec) * 1e-9;
    };
    double start = cpu_seconds();
    for (auto _ : state) decode_once();
    double seconds = cpu_seconds() - start;
    double pixels = double(width) * height * double(state.iterations());
    rate = pixels / seconds / 1e6;
    state.counters["Mpixels/s"] = benchmark::Counter(pixels / 1e6, benchmark::Counter::kIsRate);
}

void piqt_decode(benchmark::State& state, bool plain) {
    static std::vector<uint16_t> frame(width * height);
    static schl_picture_decoder d;
    d.plain = plain;
    const auto& coded = piqt_picture();
    double ignored;
    measure(state, plain ? ignored : piqt_rate, [&] {
        decode_schl_picture_with(d, false, width, height, coded.data(), int32_t(coded.size()),
                                 frame.data());
        benchmark::DoNotOptimize(frame.data());
    });
    state.counters["coded_bytes"] = double(coded.size());
}

void piqt_picture_320x160(benchmark::State& state) {
    piqt_decode(state, false);
}
void piqt_picture_320x160_reference(benchmark::State& state) {
    piqt_decode(state, true);
}

void jpeg_picture_320x160_rgb565(benchmark::State& state) {
    static std::vector<uint8_t> frame(width * height * 2);
    const auto& coded = jpeg_picture();
    jpeg_decompress_struct c;
    jpeg_error_mgr err;
    c.err = jpeg_std_error(&err);
    jpeg_create_decompress(&c);
    measure(state, jpeg_rate, [&] {
        jpeg_mem_src(&c, coded.data(), coded.size());
        jpeg_read_header(&c, TRUE);
        c.out_color_space = JCS_RGB565;
        c.dither_mode = JDITHER_NONE;
        jpeg_start_decompress(&c);
        while (c.output_scanline < c.output_height) {
            JSAMPROW row = frame.data() + size_t(c.output_scanline) * width * 2;
            jpeg_read_scanlines(&c, &row, 1);
        }
        jpeg_finish_decompress(&c);
        benchmark::DoNotOptimize(frame.data());
    });
    jpeg_destroy_decompress(&c);
    state.counters["coded_bytes"] = double(coded.size());
}

} // namespace

BENCHMARK(piqt_picture_320x160);
BENCHMARK(piqt_picture_320x160_reference);
BENCHMARK(jpeg_picture_320x160_rgb565);

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    if (piqt_rate > 0 && jpeg_rate > 0)
        printf("pIQT %.1f Mpixels/s, libjpeg-turbo RGB565 %.1f Mpixels/s, ratio %.2f\n", piqt_rate,
               jpeg_rate, piqt_rate / jpeg_rate);
    return 0;
}
