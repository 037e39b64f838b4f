// PNG export throughput for every demo movie, plain and doubled ("-i"), in
// seconds of movie exported per second of wall-clock time (a rip waits for
// the file system too, and its compression runs on every core).
//
// png_export: rip_to_directory into a fresh directory, as `reelrip FILE -o
// DIR` does. png_before: the reference in the same binary, the picture path
// as it was before: every picture as RGB through libpng's simplified writer
// with its fast setting, one after the other on the reading thread (without
// the WAV file and timeline, which were about 3% of that rip). png_export
// reports its rate as a ratio to png_before of the same movie and its PNG
// bytes per movie-second.
#include "form_writer.h"
#include "riff_writer.h"
#include "rip.h"
#include "rip_files.h"
#include "schl_writer.h"
#include "sead_writer.h"

#include <algorithm>
#include <benchmark/benchmark.h>
#include <chrono>
#include <filesystem>
#include <map>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

struct bench_movie {
    std::string name;
    std::vector<uint8_t> bytes;
    double seconds = 0; // length of the movie's sound
};

std::vector<bench_movie>& demo_movies() {
    static std::vector<bench_movie> movies = [] {
        std::vector<bench_movie> list = {
            {"form0", make_form_demo_movie(0)}, {"form1", make_form_demo_movie(1)},
            {"form2", make_form_demo_movie(2)}, {"riff", make_riff_demo_movie()},
            {"sead", make_sead_demo_movie()},   {"schl0", make_schl_demo_movie(0)},
            {"schl1", make_schl_demo_movie(1)}, {"schl2", make_schl_demo_movie(2)},
        };
        for (bench_movie& m : list) {
            rip_request request;
            request.bytes = &m.bytes;
            ripped_movie ripped = rip_to_memory(request);
            m.seconds = double(ripped.sound.size() / size_t(ripped.info.frame_bytes())) / 22050.0;
        }
        return list;
    }();
    return movies;
}

std::string scratch_dir() {
    return fs::temp_directory_path().string() + "/bench_rip_" + std::to_string(getpid());
}

using seconds_clock = std::chrono::steady_clock;

double seconds_since(seconds_clock::time_point start) {
    return std::chrono::duration<double>(seconds_clock::now() - start).count();
}

bool export_before(const rip_request& request, const std::string& dir) {
    std::string frames = dir + "/frames";
    int32_t width = 0, height = 0;
    rip_status status = rip_movie(
        request,
        [&](const rip_movie_info& info) {
            width = info.width;
            height = info.height;
            return fs::create_directories(frames);
        },
        [&](const rip_slot& s) {
            return !s.has_picture || write_png_rgb(frames + "/" + frame_file_name(s.number), width,
                                                   height, s.rgb, true);
        });
    return status == rip_done;
}

// CPU time of every thread of the process.
double process_cpu_seconds() {
    timespec t;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

struct export_time {
    double wall = -1; // negative when the export failed
    double cpu = 0;
};

// One export into a fresh directory. Making the directory fresh is not timed.
export_time export_once(const bench_movie& movie, bool interlaced, bool before) {
    std::string dir = scratch_dir();
    fs::remove_all(dir);
    rip_request request;
    request.bytes = &movie.bytes;
    request.interlaced = interlaced;
    export_time time;
    double cpu_start = process_cpu_seconds();
    auto start = seconds_clock::now();
    bool done;
    if (!before) {
        rip_summary summary;
        done = rip_to_directory(request, dir, &summary) == rip_done;
    } else {
        done = export_before(request, dir);
    }
    if (done) {
        time.wall = seconds_since(start);
        time.cpu = process_cpu_seconds() - cpu_start;
    }
    return time;
}

int64_t bytes_of_pictures() {
    int64_t total = 0;
    for (const auto& entry : fs::directory_iterator(scratch_dir() + "/frames"))
        total += int64_t(entry.file_size());
    return total;
}

// The reference rates of one movie and mode (wall clock and CPU), each the
// median of five runs, measured once.
std::pair<double, double> rates_before(size_t movie, bool interlaced) {
    static std::map<std::pair<size_t, bool>, std::pair<double, double>> rates;
    auto key = std::make_pair(movie, interlaced);
    if (!rates.count(key)) {
        std::vector<double> wall, cpu;
        for (int i = 0; i < 5; ++i) {
            export_time t = export_once(demo_movies()[movie], interlaced, true);
            wall.push_back(t.wall);
            cpu.push_back(t.cpu);
        }
        std::sort(wall.begin(), wall.end());
        std::sort(cpu.begin(), cpu.end());
        double seconds = demo_movies()[movie].seconds;
        rates[key] = {seconds / wall[2], seconds / cpu[2]};
    }
    return rates[key];
}

void png_export(benchmark::State& state, size_t movie, bool interlaced, bool before) {
    const bench_movie& m = demo_movies()[movie];
    double wall = 0, cpu = 0;
    for (auto _ : state) {
        export_time t = export_once(m, interlaced, before);
        if (t.wall < 0) {
            state.SkipWithError("export failed");
            break;
        }
        state.SetIterationTime(t.wall);
        wall += t.wall;
        cpu += t.cpu;
    }
    double rate = m.seconds * double(state.iterations()) / wall;
    state.counters["movie_s_per_s"] = rate;
    // On a machine shared with other work the wall clock says little; the
    // CPU time of all threads says what the export itself costs.
    state.counters["movie_s_per_cpu_s"] = m.seconds * double(state.iterations()) / cpu;
    state.counters["png_bytes_per_movie_s"] = double(bytes_of_pictures()) / m.seconds;
    if (!before) {
        std::pair<double, double> reference = rates_before(movie, interlaced);
        state.counters["vs_before"] = rate / reference.first;
        state.counters["cpu_vs_before"] = state.counters["movie_s_per_cpu_s"] / reference.second;
    }
    fs::remove_all(scratch_dir());
}

} // namespace

int main(int argc, char** argv) {
    for (bool before : {false, true})
        for (size_t i = 0; i < demo_movies().size(); ++i)
            for (bool interlaced : {false, true}) {
                std::string name = std::string(before ? "png_before/" : "png_export/") +
                                   demo_movies()[i].name + (interlaced ? "/i" : "/plain");
                benchmark::RegisterBenchmark(name.c_str(), png_export, i, interlaced, before)
                    ->UseManualTime()
                    ->Unit(benchmark::kMillisecond);
            }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
