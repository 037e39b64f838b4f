// RIFF pictures through the codec library, and the DPCM sound decoder.
#include "formats/riff/riff.h"
#include "platform/library.h"
#include "riff_writer.h"
#include "xan_encoder.h"

#include <benchmark/benchmark.h>
#include <cstring>
#include <memory>

namespace {

struct bench_library {
    decompress_fn decompress = nullptr;
    draw_frame_fn draw = nullptr;
    bench_library() {
        void* h = load_codec_library(codec_library_name);
        decompress = reinterpret_cast<decompress_fn>(find_library_entry(h, "DecompressXD"));
        draw = reinterpret_cast<draw_frame_fn>(find_library_entry(h, "DrawFrameXD"));
    }
};

// The demo movie's pictures, each at the start of a slot-sized buffer.
const std::vector<std::vector<uint8_t>>& demo_payloads() {
    static std::vector<std::vector<uint8_t>> payloads = [] {
        std::vector<std::vector<uint8_t>> out;
        for (const riff_frame& f : make_riff_demo_frames(60)) {
            std::vector<uint8_t> slot(video_capacity, 0);
            memcpy(slot.data(), f.picture.data(), f.picture.size());
            out.push_back(std::move(slot));
        }
        return out;
    }();
    return payloads;
}

// Decode and draw the demo's 60 pictures in order, over and over (the first
// is a key picture, so the chain restarts cleanly).
void riff_pictures(benchmark::State& state, bool doubled) {
    static bench_library lib;
    if (!lib.decompress || !lib.draw) {
        state.SkipWithError("libxanlib.so not found");
        return;
    }
    const auto& payloads = demo_payloads();
    auto d = std::make_unique<riff_picture_decoder>();
    std::vector<uint8_t> surface(size_t(640) * 330 * 2);
    void* pixels = surface.data();
    size_t i = 0;
    for (auto _ : state) {
        decode_riff_picture_with(*d, lib.decompress, lib.draw, doubled, doubled ? 640 : 320,
                                 doubled ? 330 : 165, payloads[i].data(), &pixels);
        benchmark::DoNotOptimize(surface.data());
        i = (i + 1) % payloads.size();
    }
    state.SetItemsProcessed(int64_t(state.iterations()));
    state.counters["pictures_per_s"] =
        benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
}

// The demo's pictures recoded as key pictures only: the slowest case. The
// planes are taken from the library's work areas after decoding each one.
const std::vector<std::vector<uint8_t>>& demo_key_payloads(const bench_library& lib) {
    static std::vector<std::vector<uint8_t>> payloads = [&] {
        std::vector<std::vector<uint8_t>> out;
        auto d = std::make_unique<riff_picture_decoder>();
        std::vector<uint8_t> surface(size_t(320) * 165 * 2);
        void* pixels = surface.data();
        xan_encoder e;
        start_xan_encoder(e, riff_width, riff_height, 1);
        for (const std::vector<uint8_t>& slot : demo_payloads()) {
            decode_riff_picture_with(*d, lib.decompress, lib.draw, 0, 320, 165, slot.data(),
                                     &pixels);
            xan_picture p = make_xan_picture(riff_width, riff_height);
            memcpy(p.y.data(), d->memory.luma, p.y.size());
            memcpy(p.u.data(), d->memory.chroma, p.u.size());
            memcpy(p.v.data(), d->memory.chroma + p.u.size(), p.v.size());
            std::vector<uint8_t> key(video_capacity, 0);
            std::vector<uint8_t> payload = encode_xan_picture(e, p);
            memcpy(key.data(), payload.data(), payload.size());
            out.push_back(std::move(key));
        }
        return out;
    }();
    return payloads;
}

void riff_key_pictures(benchmark::State& state) {
    static bench_library lib;
    if (!lib.decompress || !lib.draw) {
        state.SkipWithError("libxanlib.so not found");
        return;
    }
    const auto& payloads = demo_key_payloads(lib);
    auto d = std::make_unique<riff_picture_decoder>();
    std::vector<uint8_t> surface(size_t(320) * 165 * 2);
    void* pixels = surface.data();
    size_t i = 0;
    for (auto _ : state) {
        decode_riff_picture_with(*d, lib.decompress, lib.draw, 0, 320, 165, payloads[i].data(),
                                 &pixels);
        benchmark::DoNotOptimize(surface.data());
        i = (i + 1) % payloads.size();
    }
    state.SetItemsProcessed(int64_t(state.iterations()));
}
BENCHMARK(riff_key_pictures);

void riff_pictures_normal(benchmark::State& state) {
    riff_pictures(state, false);
}
void riff_pictures_doubled(benchmark::State& state) {
    riff_pictures(state, true);
}
BENCHMARK(riff_pictures_normal);
BENCHMARK(riff_pictures_doubled);

// Reference: copying one 320 x 165 16-bit picture.
void reference_picture_copy(benchmark::State& state) {
    static uint8_t a[320 * 165 * 2], b[320 * 165 * 2];
    for (auto _ : state) {
        memcpy(b, a, sizeof a);
        benchmark::DoNotOptimize(b);
    }
    state.SetItemsProcessed(int64_t(state.iterations()));
}
BENCHMARK(reference_picture_copy);

// One slot's sound: 1470 stereo frames (2940 samples) from a 2942-byte block.
const std::vector<uint8_t>& demo_sound_block() {
    static std::vector<uint8_t> block = make_riff_demo_frames(1)[0].sound;
    return block;
}

void riff_sound(benchmark::State& state) {
    const std::vector<uint8_t>& block = demo_sound_block();
    std::vector<uint8_t> out(2 * block.size());
    for (auto _ : state) {
        decode_riff_sound(block.data(), out.data(), int32_t(block.size()));
        benchmark::DoNotOptimize(out.data());
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(block.size() - 2));
}
BENCHMARK(riff_sound);

// Reference: copying the same number of decoded sound bytes.
void reference_sound_copy(benchmark::State& state) {
    const std::vector<uint8_t>& block = demo_sound_block();
    std::vector<uint8_t> in(2 * block.size() - 4), out(in.size());
    for (auto _ : state) {
        memcpy(out.data(), in.data(), in.size());
        benchmark::DoNotOptimize(out.data());
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(block.size() - 2));
}
BENCHMARK(reference_sound_copy);

} // namespace

BENCHMARK_MAIN();
