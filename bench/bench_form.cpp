// FORM picture decoder and reader: pictures and slots per second, each set
// beside a plain copy of the bytes it writes (the decoder's goal is at most
// 5 times that copy).
#include "bytes.h"
#include "cpu_time_reporter.h"
#include "form_writer.h"
#include "formats/common/lz.h"
#include "formats/form/form.h"
#include "formats/form/form_picture.h"
#include "movie.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace {

constexpr int32_t width = 320, height = 165, picture_count = 24;

// Pictures that mix every run kind: a scrolling texture (motion runs), a box
// of noise and a bouncing block (image runs), a still strip (skips).
std::vector<uint8_t> scene(int t, std::mt19937& rng) {
    std::vector<uint8_t> v(size_t(width * height));
    for (int32_t y = 0; y < height; ++y)
        for (int32_t x = 0; x < width; ++x) {
            int u = x + 2 * t, q = y + t;
            uint8_t c = uint8_t((u / 7 * 3 + q / 5 * 11 + (u * q) % 13) & 0x7F);
            if (y >= height - 20) c = uint8_t(200 + (x / 40) % 4);
            v[size_t(y * width + x)] = c;
        }
    int bx = (t * 13) % (width - 40), by = (t * 5) % (height - 60);
    for (int32_t y = by; y < by + 30; ++y)
        for (int32_t x = bx; x < bx + 40; ++x) v[size_t(y * width + x)] = uint8_t(rng() % 16 + 140);
    return v;
}

struct picture_set {
    std::vector<std::vector<uint8_t>> payloads;
    double written_bytes_normal = 0, written_bytes_interlaced = 0;
};

const picture_set& pictures() {
    static picture_set set = [] {
        picture_set s;
        std::mt19937 rng(3);
        std::vector<uint8_t> previous(size_t(width * height), 0);
        std::vector<uint8_t> image(form_frame_capacity), ops(form_frame_capacity);
        double extra = 0;
        for (int t = 0; t < picture_count; ++t) {
            std::vector<uint8_t> current = scene(t, rng);
            s.payloads.push_back(encode_form_picture(previous, current, width, height));
            previous = current;
            // Besides the frames, a decode writes the opcodes and the unpacked image.
            const std::vector<uint8_t>& p = s.payloads.back();
            bool fault;
            int32_t at = p[0] | p[1] << 8, img = p[6] | p[7] << 8;
            extra += decode_opcode_tree(p.data() + at, int32_t(p.size()) - at, ops.data(),
                                        form_frame_capacity, &fault);
            extra += unpack_image(p.data() + img + 1, int32_t(p.size()) - img - 1, image.data(),
                                  form_frame_capacity, &fault);
        }
        extra /= picture_count;
        const double frame = 2.0 * width * height; // work frame, then the reference copy
        s.written_bytes_normal = 2 * frame + width * height + extra;
        s.written_bytes_interlaced = 2 * frame + 2 * width * height + extra;
        return s;
    }();
    return set;
}

void decode_pictures(benchmark::State& state, bool doubled) {
    const picture_set& set = pictures();
    auto d = std::make_unique<form_decoder>();
    reset_form_decoder(*d);
    std::vector<uint8_t> out(size_t(4 * width * height));
    void* p = out.data();
    // The pictures decode in a loop; after the last, the first is coded
    // against another reference, which changes the pixels but not the work.
    static FrameSlot slots[picture_count];
    for (size_t i = 0; i < set.payloads.size(); ++i) {
        memcpy(slots[i].video, set.payloads[i].data(), set.payloads[i].size());
        slots[i].video_length = int32_t(set.payloads[i].size());
    }
    size_t next = 0;
    for (auto _ : state) {
        decode_form_picture_with(*d, doubled, doubled ? 2 * width : width,
                                 doubled ? 2 * height : height, &slots[next], &p);
        next = next + 1 == set.payloads.size() ? 0 : next + 1;
        benchmark::DoNotOptimize(out.data());
    }
    state.counters["pictures/s"] =
        benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
}

void copy_bytes(benchmark::State& state, double bytes) {
    std::vector<uint8_t> a(size_t(bytes) + 1, 1), b(size_t(bytes) + 1);
    for (auto _ : state) {
        memcpy(b.data(), a.data(), size_t(bytes));
        benchmark::DoNotOptimize(b.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(int64_t(state.iterations() * bytes));
}

void form_decode_normal(benchmark::State& state) {
    decode_pictures(state, false);
}
void form_decode_interlaced(benchmark::State& state) {
    decode_pictures(state, true);
}
void copy_written_normal(benchmark::State& state) {
    copy_bytes(state, pictures().written_bytes_normal);
}
void copy_written_interlaced(benchmark::State& state) {
    copy_bytes(state, pictures().written_bytes_interlaced);
}

// One whole reader call on the demo movie, from a file made here.
void form_read_slot(benchmark::State& state) {
    std::string path = "/tmp/bench_form_" + std::to_string(getpid()) + ".form";
    write_file(path, make_form_demo_movie(0));
    reset_movie_state();
    open_movie_file(path.c_str());
    auto restart = [] {
        int32_t w, h, depth;
        uint8_t stereo;
        slots_read = 0;
        at_end = false;
        movie_kind = probe_movie(movie_file, &w, &h, &stereo, &depth);
    };
    restart();
    int64_t bytes = 0;
    for (auto _ : state) {
        if (at_end) {
            state.PauseTiming();
            restart();
            state.ResumeTiming();
        }
        read_next_slot();
        const FrameSlot& s = slot_ring[(slots_read - 1 + ring_size) % ring_size];
        bytes += s.video_length + s.sound_total;
    }
    state.SetBytesProcessed(bytes);
    state.counters["slots/s"] =
        benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
    fclose(movie_file);
    movie_file = nullptr;
    remove(path.c_str());
}

} // namespace

BENCHMARK(form_decode_normal);
BENCHMARK(copy_written_normal);
BENCHMARK(form_decode_interlaced);
BENCHMARK(copy_written_interlaced);
BENCHMARK(form_read_slot);

// Prints the decoders' time as a multiple of the copy of what they write
// (both sides are single-threaded).
int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    cpu_time_reporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    for (const char* kind : {"normal", "interlaced"}) {
        auto decode = reporter.seconds.find(std::string("form_decode_") + kind);
        auto copy = reporter.seconds.find(std::string("copy_written_") + kind);
        if (decode != reporter.seconds.end() && copy != reporter.seconds.end() && copy->second > 0)
            printf("FORM decode %s: %.2f x the copy of its written bytes (goal <= 5)\n", kind,
                   decode->second / copy->second);
    }
    benchmark::Shutdown();
    return 0;
}
