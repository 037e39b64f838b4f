#include "movie.h"

#include <benchmark/benchmark.h>
#include <cstring>

// Reference for the decoder benchmarks: a plain copy of one 320 x 165 picture.
static void plain_picture_copy(benchmark::State& state) {
    static uint8_t a[320 * 165 * 2], b[320 * 165 * 2];
    for (auto _ : state) {
        memcpy(b, a, sizeof a);
        benchmark::DoNotOptimize(b);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(sizeof a));
}
BENCHMARK(plain_picture_copy);

BENCHMARK_MAIN();
