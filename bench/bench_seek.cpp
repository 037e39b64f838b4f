// Seeks on five-minute movies of each kind, forward and back, to landings
// spread over the whole movie and to its last slots: the time per seek and
// the worst landing's, against the 50 ms a seek may take before its picture
// shows. The movies are made once (reelmake's long demo movies) and kept in
// bench_seek_movies/ under the working directory.
#include "cpu_time_reporter.h"
#include "form_writer.h"
#include "playback.h"
#include "riff_writer.h"
#include "rip.h"
#include "schl_writer.h"
#include "sead_writer.h"
#include "seek.h"

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <functional>

namespace {

constexpr int movie_seconds = 300;
constexpr double goal_ms = 50;

struct bench_movie {
    const char* name;
    std::function<std::vector<uint8_t>()> make;
};

const bench_movie movies[] = {
    {"form", [] { return make_form_demo_movie(0, movie_seconds); }},
    {"riff", [] { return make_riff_demo_movie(movie_seconds); }},
    {"schl", [] { return make_schl_demo_movie(1, movie_seconds); }},
    {"sead", [] { return make_sead_demo_movie(movie_seconds); }},
};

std::string movie_path(const bench_movie& m) {
    const std::string dir = "bench_seek_movies";
    const std::string path = dir + "/" + m.name + "-" + std::to_string(movie_seconds) + ".mov";
    if (!std::filesystem::exists(path)) {
        std::filesystem::create_directories(dir);
        fprintf(stderr, "making %s (once)\n", path.c_str());
        write_file(path + ".part", m.make());
        std::filesystem::rename(path + ".part", path);
    }
    return path;
}

double thread_seconds() {
    timespec t;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

std::map<std::string, double> worst_ms;
std::map<std::string, double> index_ms;

void seek_in(benchmark::State& state, const bench_movie& m) {
    rip_request request;
    request.path = movie_path(m);
    rip_movie_info info;
    if (rip_open(request, &info) != rip_done) {
        state.SkipWithError("cannot open the movie");
        return;
    }
    hooks = {};
    prefill_ring();
    running = true;
    // The first seek to the end indexes the whole movie (the display loop
    // does that a few slots a pass while the movie plays).
    const double index_start = thread_seconds();
    seek_to_frame(int64_t(1) << 40);
    const double index_seconds = thread_seconds() - index_start;
    const int64_t length = movie_length_frames();
    // Landings over the whole movie in an order that goes forward and back,
    // and the last second, where reading forward costs most.
    std::vector<int64_t> targets;
    constexpr int spread = 24;
    for (int i = 0; i < spread; ++i) {
        targets.push_back(length * (2 * i + 1) / (2 * spread));
        targets.push_back(length - 1 - int64_t(i) * movie_rate / spread);
    }
    std::rotate(targets.begin(), targets.begin() + spread / 2, targets.end());
    double worst = 0;
    size_t next = 0;
    for (auto _ : state) {
        const double start = thread_seconds();
        benchmark::DoNotOptimize(seek_to_frame(targets[next++ % targets.size()]));
        worst = std::max(worst, thread_seconds() - start);
    }
    rip_close();
    state.counters["worst_ms"] = worst * 1000;
    state.counters["index_ms"] = index_seconds * 1000;
    index_ms[m.name] = index_seconds * 1000;
    worst_ms[m.name] = std::max(worst_ms[m.name], worst * 1000);
}

} // namespace

int main(int argc, char** argv) {
    for (const bench_movie& m : movies)
        benchmark::RegisterBenchmark((std::string("seek_") + m.name).c_str(),
                                     [&m](benchmark::State& s) { seek_in(s, m); })
            ->Unit(benchmark::kMillisecond)
            ->MeasureProcessCPUTime();
    benchmark::Initialize(&argc, argv);
    cpu_time_reporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    printf("\nWorst landing of a %d s movie (CPU ms per seek; goal %.0f ms):\n", movie_seconds,
           goal_ms);
    for (const auto& [name, ms] : worst_ms)
        printf("  %-5s %7.2f ms%s  (indexing the whole movie once: %.0f ms)\n", name.c_str(), ms,
               ms <= goal_ms ? "" : "  (over the goal)", index_ms[name]);
    benchmark::Shutdown();
    return 0;
}
