// Whole-movie rip throughput, in seconds of movie ripped per second of work.
// The reference is the rip without output (read, decode, RGB conversion);
// the other runs add PNG compression, then the whole directory of files, and
// report their rate as a ratio to the reference.
#include "form_writer.h"
#include "rip.h"
#include "rip_files.h"

#include <benchmark/benchmark.h>
#include <chrono>
#include <filesystem>
#include <unistd.h>

namespace {

struct bench_movie {
    std::vector<uint8_t> bytes;
    double seconds = 0; // length of the movie's sound
};

const bench_movie& demo_movie() {
    static bench_movie movie = [] {
        bench_movie m;
        m.bytes = make_form_demo_movie();
        rip_request request;
        request.bytes = &m.bytes;
        ripped_movie ripped = rip_to_memory(request);
        m.seconds = double(ripped.sound.size() / size_t(ripped.info.frame_bytes())) / 22050.0;
        return m;
    }();
    return movie;
}

rip_status rip_pictures(const bench_movie& movie, int png_mode) {
    rip_request request;
    request.bytes = &movie.bytes;
    rip_movie_info info;
    std::vector<uint8_t> encoded;
    return rip_movie(
        request,
        [&](const rip_movie_info& i) {
            info = i;
            return true;
        },
        [&](const rip_slot& s) {
            if (s.has_picture && png_mode > 0)
                encode_png_rgb(info.width, info.height, s.rgb, &encoded, png_mode == 1);
            benchmark::DoNotOptimize(s.rgb);
            return true;
        });
}

double seconds_since(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Movie seconds per second of the reference rip, measured once.
double reference_rate() {
    static double rate = [] {
        const bench_movie& movie = demo_movie();
        rip_pictures(movie, 0);
        int runs = 0;
        auto start = std::chrono::steady_clock::now();
        while (runs < 3 || seconds_since(start) < 0.5) {
            rip_pictures(movie, 0);
            ++runs;
        }
        return movie.seconds * runs / seconds_since(start);
    }();
    return rate;
}

// Rates are by the wall clock, like the reference, since a rip also waits
// for the file system.
void report(benchmark::State& state, double movie_seconds, double elapsed) {
    double rate = movie_seconds * double(state.iterations()) / elapsed;
    state.counters["movie_s_per_s"] = rate;
    state.counters["vs_no_output"] = rate / reference_rate();
}

void rip_no_output(benchmark::State& state) {
    const bench_movie& movie = demo_movie();
    auto start = std::chrono::steady_clock::now();
    for (auto _ : state)
        if (rip_pictures(movie, 0) != rip_done) state.SkipWithError("rip failed");
    report(state, movie.seconds, seconds_since(start));
}
BENCHMARK(rip_no_output)->Unit(benchmark::kMillisecond)->UseRealTime();

// png_mode 1: libpng's fast setting; 2: its default compression.
void rip_png_in_memory(benchmark::State& state) {
    const bench_movie& movie = demo_movie();
    auto start = std::chrono::steady_clock::now();
    for (auto _ : state)
        if (rip_pictures(movie, int(state.range(0))) != rip_done) state.SkipWithError("rip failed");
    report(state, movie.seconds, seconds_since(start));
}
BENCHMARK(rip_png_in_memory)
    ->Arg(1)
    ->Arg(2)
    ->ArgName("png_mode")
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

void rip_whole_directory(benchmark::State& state) {
    const bench_movie& movie = demo_movie();
    std::string dir =
        std::filesystem::temp_directory_path().string() + "/bench_rip_" + std::to_string(getpid());
    std::string file = dir + ".movie";
    FILE* f = fopen(file.c_str(), "wb");
    if (!f || fwrite(movie.bytes.data(), 1, movie.bytes.size(), f) != movie.bytes.size()) {
        if (f) fclose(f);
        state.SkipWithError("cannot write the movie");
        return;
    }
    fclose(f);
    rip_request request;
    request.path = file;
    auto start = std::chrono::steady_clock::now();
    for (auto _ : state) {
        rip_summary summary;
        if (rip_to_directory(request, dir, &summary) != rip_done) state.SkipWithError("rip failed");
    }
    report(state, movie.seconds, seconds_since(start));
    std::filesystem::remove_all(dir);
    std::filesystem::remove(file);
}
BENCHMARK(rip_whole_directory)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
