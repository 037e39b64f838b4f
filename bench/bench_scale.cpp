// The player's whole-factor scaled copy: one 320 x 165 picture, 8- and 16-bit,
// converted to the window's format by SDL and drawn 4 times as large, beside
// a plain copy of the bytes that it writes. The goal: well under 1 ms a
// picture.
#include "SDL.h"
#include "cpu_time_reporter.h"
#include "scale.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

namespace {

constexpr int32_t width = 320, height = 165, factor = 4;

struct surfaces {
    SDL_Surface* frame = nullptr;   // as the decoders leave it
    SDL_Surface* picture = nullptr; // the window's format, 1x
    SDL_Surface* window = nullptr;  // the window's format, 4x
};

// Surfaces as the player makes them: 8-bit palettised or 5-5-5 frames, a
// 5-6-5 window.
surfaces make_surfaces(int depth) {
    surfaces s;
    if (depth == 8) {
        s.frame = SDL_CreateRGBSurface(0, width, height, 8, 0, 0, 0, 0);
        SDL_Color colors[256];
        for (int i = 0; i < 256; ++i) colors[i] = {Uint8(i), Uint8(255 - i), Uint8(i * 7), 0};
        SDL_SetColors(s.frame, colors, 0, 256);
    } else {
        s.frame = SDL_CreateRGBSurface(0, width, height, 16, 0x7C00, 0x03E0, 0x001F, 0);
    }
    s.picture = SDL_CreateRGBSurface(0, width, height, 16, 0xF800, 0x07E0, 0x001F, 0);
    s.window =
        SDL_CreateRGBSurface(0, width * factor, height * factor, 16, 0xF800, 0x07E0, 0x001F, 0);
    auto* p = static_cast<uint8_t*>(s.frame->pixels);
    for (int32_t i = 0; i < s.frame->pitch * height; ++i) p[i] = uint8_t(i * 13 + i / 640);
    return s;
}

void free_surfaces(surfaces& s) {
    SDL_FreeSurface(s.frame);
    SDL_FreeSurface(s.picture);
    SDL_FreeSurface(s.window);
}

void scaled_copy(benchmark::State& state, int depth) {
    surfaces s = make_surfaces(depth);
    for (auto _ : state) {
        SDL_UpperBlit(s.frame, nullptr, s.picture, nullptr);
        scale_picture(static_cast<const uint8_t*>(s.picture->pixels), s.picture->pitch, width,
                      height, static_cast<uint8_t*>(s.window->pixels), s.window->pitch, factor);
        benchmark::DoNotOptimize(s.window->pixels);
        benchmark::ClobberMemory();
    }
    state.counters["pictures/s"] =
        benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
    state.SetBytesProcessed(int64_t(state.iterations()) * s.window->pitch * s.window->h);
    free_surfaces(s);
}

void scaled_copy_8bit(benchmark::State& state) {
    scaled_copy(state, 8);
}
void scaled_copy_16bit(benchmark::State& state) {
    scaled_copy(state, 16);
}

// What the scaled copy writes, copied as one block.
void plain_copy_of_scaled_bytes(benchmark::State& state) {
    std::vector<uint8_t> a(size_t(width * factor) * size_t(height * factor) * 2, 1), b(a.size());
    for (auto _ : state) {
        memcpy(b.data(), a.data(), a.size());
        benchmark::DoNotOptimize(b.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(a.size()));
}

} // namespace

BENCHMARK(scaled_copy_8bit);
BENCHMARK(scaled_copy_16bit);
BENCHMARK(plain_copy_of_scaled_bytes);

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    cpu_time_reporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    auto copy = reporter.seconds.find("plain_copy_of_scaled_bytes");
    for (const char* depth : {"8bit", "16bit"}) {
        auto scaled = reporter.seconds.find(std::string("scaled_copy_") + depth);
        if (scaled == reporter.seconds.end() || copy == reporter.seconds.end() || copy->second <= 0)
            continue;
        printf("scaled copy %s at 4x: %.3f ms a picture, %.2f x the plain copy of its bytes "
               "(goal: well under 1 ms)\n",
               depth, scaled->second * 1e3, scaled->second / copy->second);
    }
    benchmark::Shutdown();
    return 0;
}
