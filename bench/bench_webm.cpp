// WebM and exact Matroska export throughput per demo movie, plain and "2x
// interlaced", in seconds of movie per second of work, with the file's bytes
// per movie-second. For WebM the encoder's luma PSNR at the default quality
// (whole movie and worst picture), beside the same level without the floor;
// for Matroska the PNG folder's bytes (frames and audio.wav) and the rate of
// one PNG rip by CPU time beside. The
// reference is the same movie ripped without output (read, decode, RGB
// conversion).
#include "export_webm.h"
#include "form_writer.h"
#include "riff_writer.h"
#include "schl_writer.h"
#include "sead_writer.h"

#include <benchmark/benchmark.h>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <unistd.h>

namespace {

struct demo {
    const char* name;
    std::vector<uint8_t> (*make)();
};

const demo demos[] = {
    {"form0", [] { return make_form_demo_movie(0); }},
    {"form1", [] { return make_form_demo_movie(1); }},
    {"form2", [] { return make_form_demo_movie(2); }},
    {"riff", make_riff_demo_movie},
    {"sead", make_sead_demo_movie},
    {"schl0", [] { return make_schl_demo_movie(0); }},
    {"schl1", [] { return make_schl_demo_movie(1); }},
    {"schl2", [] { return make_schl_demo_movie(2); }},
    {"form_dithered", [] { return make_form_dithered_movie(); }},
    {"sead_dithered", [] { return make_sead_dithered_movie(); }},
    // Long enough for every lane to code whole segments.
    {"form0_60s", [] { return make_form_demo_movie(0, 60); }},
    {"sead_60s", [] { return make_sead_demo_movie(60); }},
    {"schl1_60s", [] { return make_schl_demo_movie(1, 60); }},
    {"sead_dithered_60s", [] { return make_sead_dithered_movie(60); }},
};

// CPU seconds of the whole process (all its threads): on a shared machine
// the wall clock also counts other people's work.
double process_cpu_seconds() {
    timespec t;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

double seconds_since(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

struct movie_file {
    std::string path;
    double seconds = 0;
    double reference_rate = 0; // movie seconds per second without output
};

const movie_file& movie(int index) {
    static movie_file files[std::size(demos)];
    movie_file& m = files[index];
    if (!m.path.empty()) return m;
    m.path = std::filesystem::temp_directory_path().string() + "/bench_webm_" +
             std::to_string(getpid()) + "_" + demos[index].name;
    std::vector<uint8_t> bytes = demos[index].make();
    FILE* f = fopen(m.path.c_str(), "wb");
    if (f) {
        fwrite(bytes.data(), 1, bytes.size(), f);
        fclose(f);
    }
    rip_request request;
    request.path = m.path;
    int64_t frames = 0;
    auto count = [&](const rip_slot& s) {
        frames += s.frames;
        benchmark::DoNotOptimize(s.rgb);
        return true;
    };
    int runs = 0;
    auto start = std::chrono::steady_clock::now();
    while (runs < 3 || seconds_since(start) < 0.3) {
        rip_movie(request, nullptr, count);
        ++runs;
    }
    m.seconds = double(frames) / runs / 22050.0;
    m.reference_rate = m.seconds * runs / seconds_since(start);
    return m;
}

// The timed exports: movie seconds per second of the wall clock (returned)
// and of the process's CPU time.
double time_exports(benchmark::State& state, const movie_file& m, const rip_request& request,
                    const std::string& out, const webm_options& options) {
    const double cpu_start = process_cpu_seconds();
    auto start = std::chrono::steady_clock::now();
    for (auto _ : state) {
        webm_summary s;
        if (rip_to_webm(request, out, options, &s) != rip_done)
            state.SkipWithError("export failed");
    }
    const double rate = m.seconds * double(state.iterations()) / seconds_since(start);
    state.counters["movie_s_per_s"] = rate;
    state.counters["movie_s_per_cpu_s"] =
        m.seconds * double(state.iterations()) / (process_cpu_seconds() - cpu_start);
    return rate;
}

// The movie of the benchmark's first argument, doubled when the second is 1.
rip_request request_for(const benchmark::State& state, const movie_file& m) {
    rip_request request;
    request.path = m.path;
    request.interlaced = state.range(1) != 0;
    return request;
}

void webm_export(benchmark::State& state) {
    const movie_file& m = movie(int(state.range(0)));
    const rip_request request = request_for(state, m);
    const std::string out = m.path + ".webm";

    // One measured run for the size and the quality, outside the timing.
    webm_options options;
    options.measure_psnr = true;
    webm_summary summary;
    if (rip_to_webm(request, out, options, &summary) != rip_done) {
        state.SkipWithError(summary.error.c_str());
        return;
    }
    webm_options fixed = options;
    fixed.crf = webm_default_crf;
    webm_summary without_floor;
    if (rip_to_webm(request, out, fixed, &without_floor) != rip_done) {
        state.SkipWithError(without_floor.error.c_str());
        return;
    }
    options.measure_psnr = false;
    state.counters["vs_no_output"] =
        time_exports(state, m, request, out, options) / m.reference_rate;
    state.counters["bytes_per_movie_s"] = double(summary.bytes) / summary.seconds();
    state.counters["psnr_y_db"] = summary.psnr_y;
    state.counters["worst_db"] = summary.worst_psnr_y;
    state.counters["recoded"] = summary.recoded;
    state.counters["crf28_psnr_db"] = without_floor.psnr_y;
    state.counters["crf28_worst_db"] = without_floor.worst_psnr_y;
    state.counters["crf28_bytes_per_s"] = double(without_floor.bytes) / without_floor.seconds();
    state.SetLabel(demos[state.range(0)].name);
    std::filesystem::remove(out);
}

int64_t bytes_under(const std::string& dir) {
    int64_t bytes = 0;
    for (const auto& e : std::filesystem::recursive_directory_iterator(dir))
        if (e.is_regular_file()) bytes += int64_t(e.file_size());
    return bytes;
}

void mkv_export(benchmark::State& state) {
    const movie_file& m = movie(int(state.range(0)));
    const rip_request request = request_for(state, m);
    const std::string out = m.path + ".mkv", folder = m.path + "_png";
    webm_options options;
    options.exact = true;
    webm_summary summary;
    rip_summary png;
    if (rip_to_webm(request, out, options, &summary) != rip_done) {
        state.SkipWithError("export failed");
        return;
    }
    // One PNG rip, timed by its CPU seconds only (it also waits for the disk).
    const double png_start = process_cpu_seconds();
    if (rip_to_directory(request, folder, &png) != rip_done) {
        state.SkipWithError("PNG rip failed");
        return;
    }
    state.counters["png_movie_s_per_cpu_s"] = m.seconds / (process_cpu_seconds() - png_start);
    const double png_bytes = double(bytes_under(folder));
    std::filesystem::remove_all(folder);
    time_exports(state, m, request, out, options);
    state.counters["bytes_per_movie_s"] = double(summary.bytes) / summary.seconds();
    state.counters["png_bytes_per_movie_s"] = png_bytes / summary.seconds();
    state.counters["vs_png"] = double(summary.bytes) / png_bytes;
    state.SetLabel(demos[state.range(0)].name);
    std::filesystem::remove(out);
}
BENCHMARK(mkv_export)
    ->ArgsProduct({benchmark::CreateDenseRange(0, int(std::size(demos)) - 1, 1), {0, 1}})
    ->ArgNames({"movie", "interlaced"})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MinTime(1.0);
BENCHMARK(webm_export)
    ->ArgsProduct({benchmark::CreateDenseRange(0, int(std::size(demos)) - 1, 1), {0, 1}})
    ->ArgNames({"movie", "interlaced"})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MinTime(1.0);

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    for (size_t i = 0; i < std::size(demos); ++i) std::filesystem::remove(movie(int(i)).path);
    return 0;
}
