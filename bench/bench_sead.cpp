// SEAD decoding speed at 320 x 160: block frames and key frames against a
// plain copy of the bytes each decode writes (the picture it builds and the
// surface), key pictures against liblz4 unpacking the same pictures, and the
// ADPCM decoder against libsndfile's IMA ADPCM WAV decoder.
#include "formats/common/chunk_io.h"
#include "formats/common/lz.h"
#include "formats/sead/sead.h"
#include "lz4_reference.h"
#include "sead_writer.h"

#include <benchmark/benchmark.h>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <map>
#include <memory>
#include <sndfile.h>
#include <string>
#include <vector>

namespace {

constexpr int32_t width = 320, height = 160;

struct demo_bodies {
    std::vector<std::vector<uint8_t>> key, block;
    std::vector<uint8_t> sound; // every "SNDC" body, one after the other
};

// The pictures and sound of the demo movie, taken from its chunks.
const demo_bodies& demo() {
    static demo_bodies d = [] {
        demo_bodies r;
        std::vector<uint8_t> file = make_sead_demo_movie();
        size_t at = 0;
        while (at + 8 <= file.size()) {
            uint32_t size = load_le32(&file[at + 4]);
            if (size < 8 || at + size > file.size()) break;
            std::vector<uint8_t> body(file.begin() + long(at + 8), file.begin() + long(at + size));
            if (memcmp(&file[at + 1], "VGT", 3) == 0) {
                bool key = load_le32(body.data()) == uint32_t(width) + 65536u * uint32_t(height);
                (key ? r.key : r.block).push_back(body);
            } else if (memcmp(&file[at], "SNDC", 4) == 0) {
                r.sound.insert(r.sound.end(), body.begin(), body.end());
            }
            at += size;
        }
        return r;
    }();
    return d;
}

// Thread CPU time: the ratios stay fair when other work shares the machine.
double cpu_now() {
    timespec t;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

// Per iteration, the copy writes what a decode writes: the picture into the
// reference and the picture onto the surface.
double copy_seconds(int64_t iterations) {
    static std::vector<uint8_t> source(size_t(width * height), 7), image(source.size()),
        surface(source.size());
    double start = cpu_now();
    for (int64_t i = 0; i < iterations; ++i) {
        source[size_t(i) % source.size()] = uint8_t(i);
        memcpy(image.data(), source.data(), source.size());
        memcpy(surface.data(), image.data(), image.size());
        benchmark::DoNotOptimize(surface.data());
        benchmark::ClobberMemory();
    }
    return cpu_now() - start;
}

void decode_pictures(benchmark::State& state, const std::vector<std::vector<uint8_t>>& bodies) {
    auto d = std::make_unique<sead_picture_decoder>();
    std::vector<uint8_t> surface(size_t(width * height));
    // Start from the picture the first body was made against.
    const auto& keys = demo().key;
    decode_sead_picture_with(*d, 0, width, height, keys[0].data(), int32_t(keys[0].size()),
                             surface.data());
    size_t next = 0;
    int64_t dropped = 0;
    double start = cpu_now();
    for (auto _ : state) {
        const auto& body = bodies[next];
        if (++next == bodies.size()) next = 0;
        dropped += !decode_sead_picture_with(*d, 0, width, height, body.data(),
                                             int32_t(body.size()), surface.data());
        benchmark::DoNotOptimize(surface.data());
    }
    double decode = cpu_now() - start;
    state.SetItemsProcessed(state.iterations());
    state.counters["dropped"] = double(dropped);
    state.counters["x_copy"] = decode / copy_seconds(state.iterations());
}

void block_frames(benchmark::State& state) {
    decode_pictures(state, demo().block);
}
BENCHMARK(block_frames);

void key_frames(benchmark::State& state) {
    decode_pictures(state, demo().key);
}
BENCHMARK(key_frames);

void picture_copy(benchmark::State& state) {
    for (auto _ : state) copy_seconds(1);
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(picture_copy);

// A demo key picture as the writer packed it, and the same picture packed by
// liblz4 at LZ4HC level 12 and at LZ4's default setting.
struct key_picture {
    std::vector<uint8_t> body;
    int32_t commands_at = 0; // behind the palette and the image header
    std::vector<uint8_t> lz4hc, lz4;
};

const std::vector<key_picture>& key_pictures() {
    static std::vector<key_picture> all = [] {
        std::vector<key_picture> r;
        for (const auto& body : demo().key) {
            key_picture k;
            k.body = body;
            k.commands_at = 780 + ((body[780] & 1) ? 8 : 5);
            std::vector<uint8_t> image(size_t(width * height));
            bool fault;
            unpack_image(body.data() + k.commands_at, int32_t(body.size()) - k.commands_at,
                         image.data(), width * height, &fault);
            k.lz4hc = lz4_packed(image, 12);
            k.lz4 = lz4_packed(image, 0);
            r.push_back(k);
        }
        return r;
    }();
    return all;
}

// One picture four ways in turn, a few times each, so that all four meet the
// same load on a shared machine: our whole key-frame decode (unpacking,
// palette, surface), our unpacker alone, and liblz4 on its two packings.
void key_picture_vs_lz4(benchmark::State& state, size_t index) {
    const key_picture& k = key_pictures()[index];
    auto d = std::make_unique<sead_picture_decoder>();
    const int32_t size = width * height;
    std::vector<uint8_t> surface(static_cast<size_t>(size)), ours(surface), theirs(surface);
    const uint8_t* commands = k.body.data() + k.commands_at;
    const int32_t commands_len = int32_t(k.body.size()) - k.commands_at;
    constexpr int batch = 8;
    double seconds[4] = {};
    int64_t damaged = 0;
    for (auto _ : state) {
        double t0 = cpu_now();
        for (int i = 0; i < batch; ++i)
            damaged += !decode_sead_picture_with(*d, 0, width, height, k.body.data(),
                                                 int32_t(k.body.size()), surface.data());
        benchmark::DoNotOptimize(surface.data());
        double t1 = cpu_now();
        for (int i = 0; i < batch; ++i) {
            bool fault;
            damaged += unpack_image(commands, commands_len, ours.data(), size, &fault) != size;
            damaged += fault;
        }
        benchmark::DoNotOptimize(ours.data());
        double t2 = cpu_now();
        for (int i = 0; i < batch; ++i) damaged += lz4_unpack(k.lz4hc, theirs.data(), size) != size;
        benchmark::DoNotOptimize(theirs.data());
        double t3 = cpu_now();
        for (int i = 0; i < batch; ++i) damaged += lz4_unpack(k.lz4, theirs.data(), size) != size;
        benchmark::DoNotOptimize(theirs.data());
        double t4 = cpu_now();
        seconds[0] += t1 - t0;
        seconds[1] += t2 - t1;
        seconds[2] += t3 - t2;
        seconds[3] += t4 - t3;
        benchmark::ClobberMemory();
    }
    double us = 1e6 / double(state.iterations() * batch);
    state.counters["key_us"] = seconds[0] * us;
    state.counters["unpack_us"] = seconds[1] * us;
    state.counters["lz4hc_us"] = seconds[2] * us;
    state.counters["lz4_us"] = seconds[3] * us;
    state.counters["key_x_lz4hc"] = seconds[0] / seconds[2];
    state.counters["unpack_x_lz4hc"] = seconds[1] / seconds[2];
    state.counters["unpack_x_lz4"] = seconds[1] / seconds[3];
    state.counters["damaged"] = double(damaged);
    state.counters["bytes"] = double(k.body.size() - size_t(k.commands_at));
    state.counters["lz4hc_bytes"] = double(k.lz4hc.size());
}

// An in-memory file for libsndfile.
struct memory_file {
    std::vector<uint8_t> bytes;
    sf_count_t at = 0;
};
sf_count_t mem_length(void* f) {
    return sf_count_t(static_cast<memory_file*>(f)->bytes.size());
}
sf_count_t mem_seek(sf_count_t offset, int whence, void* f) {
    auto* m = static_cast<memory_file*>(f);
    sf_count_t base = whence == SEEK_SET   ? 0
                      : whence == SEEK_CUR ? m->at
                                           : sf_count_t(m->bytes.size());
    m->at = base + offset;
    return m->at;
}
sf_count_t mem_read(void* out, sf_count_t count, void* f) {
    auto* m = static_cast<memory_file*>(f);
    sf_count_t n = std::max<sf_count_t>(0, std::min(count, sf_count_t(m->bytes.size()) - m->at));
    memcpy(out, m->bytes.data() + m->at, size_t(n));
    m->at += n;
    return n;
}
sf_count_t mem_write(const void* in, sf_count_t count, void* f) {
    auto* m = static_cast<memory_file*>(f);
    if (m->bytes.size() < size_t(m->at + count)) m->bytes.resize(size_t(m->at + count));
    memcpy(m->bytes.data() + m->at, in, size_t(count));
    m->at += count;
    return count;
}
sf_count_t mem_tell(void* f) {
    return static_cast<memory_file*>(f)->at;
}
SF_VIRTUAL_IO memory_io = {mem_length, mem_seek, mem_read, mem_write, mem_tell};

// The demo's sound as an IMA ADPCM WAV of the same length, made by libsndfile.
const memory_file& sndfile_wav() {
    static memory_file wav = [] {
        memory_file m;
        size_t frames = demo().sound.size();
        std::vector<int16_t> pcm(2 * frames);
        sead_sound_state s{};
        std::vector<uint8_t> raw(4 * frames);
        decode_sead_sound_with(s, demo().sound.data(), raw.data(), int32_t(frames));
        memcpy(pcm.data(), raw.data(), raw.size());
        SF_INFO info{};
        info.samplerate = 22050;
        info.channels = 2;
        info.format = SF_FORMAT_WAV | SF_FORMAT_IMA_ADPCM;
        SNDFILE* f = sf_open_virtual(&memory_io, SFM_WRITE, &info, &m);
        if (!f) return m;
        sf_writef_short(f, pcm.data(), sf_count_t(frames));
        sf_close(f);
        m.at = 0;
        return m;
    }();
    return wav;
}

double sead_sound_seconds(std::vector<uint8_t>& out) {
    const auto& in = demo().sound;
    sead_sound_state s{};
    double start = cpu_now();
    decode_sead_sound_with(s, in.data(), out.data(), int32_t(in.size()));
    benchmark::DoNotOptimize(out.data());
    return cpu_now() - start;
}

double sndfile_seconds(std::vector<int16_t>& out, sf_count_t* frames) {
    memory_file m = sndfile_wav();
    double start = cpu_now();
    SF_INFO info{};
    SNDFILE* f = sf_open_virtual(&memory_io, SFM_READ, &info, &m);
    *frames = f ? sf_readf_short(f, out.data(), sf_count_t(out.size() / 2)) : 0;
    if (f) sf_close(f);
    benchmark::DoNotOptimize(out.data());
    return cpu_now() - start;
}

void adpcm_sead(benchmark::State& state) {
    std::vector<uint8_t> out(4 * demo().sound.size());
    for (auto _ : state) sead_sound_seconds(out);
    state.SetItemsProcessed(state.iterations() * int64_t(2 * demo().sound.size()));
}
BENCHMARK(adpcm_sead)->Unit(benchmark::kMillisecond);

void adpcm_libsndfile(benchmark::State& state) {
    std::vector<int16_t> out(2 * demo().sound.size() + 4096);
    sf_count_t frames = 0;
    for (auto _ : state) sndfile_seconds(out, &frames);
    state.SetItemsProcessed(state.iterations() * int64_t(2 * frames));
    state.counters["frames"] = double(frames);
}
BENCHMARK(adpcm_libsndfile)->Unit(benchmark::kMillisecond);

// Both decoders in turn, the same number of samples: the rate ratio.
void adpcm_sead_over_libsndfile(benchmark::State& state) {
    std::vector<uint8_t> ours(4 * demo().sound.size());
    std::vector<int16_t> theirs(2 * demo().sound.size() + 4096);
    double a = 0, b = 0;
    sf_count_t frames = 0;
    for (auto _ : state) {
        a += sead_sound_seconds(ours);
        b += sndfile_seconds(theirs, &frames);
    }
    double n = double(state.iterations());
    double our_rate = n * double(demo().sound.size()) / a, their_rate = n * double(frames) / b;
    state.counters["sead_Msamples_s"] = 2 * our_rate / 1e6;
    state.counters["sndfile_Msamples_s"] = 2 * their_rate / 1e6;
    state.counters["rate_ratio"] = our_rate / their_rate;
}
BENCHMARK(adpcm_sead_over_libsndfile)->Unit(benchmark::kMillisecond);

// Keeps the key-picture counters (the medians when runs are repeated) for
// the summary that ends the output.
class lz4_summary : public benchmark::ConsoleReporter {
  public:
    std::map<std::string, benchmark::UserCounters> pictures;
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& r : runs) {
            std::string name = r.run_name.function_name;
            if (name.rfind("key_picture_vs_lz4", 0) != 0) continue;
            if (r.run_type == Run::RT_Iteration ? !pictures.count(name)
                                                : r.aggregate_name == "median")
                pictures[name] = r.counters;
        }
        ConsoleReporter::ReportRuns(runs);
    }
};

} // namespace

int main(int argc, char** argv) {
    for (size_t i = 0; i < key_pictures().size(); ++i)
        benchmark::RegisterBenchmark(("key_picture_vs_lz4/" + std::to_string(i)).c_str(),
                                     key_picture_vs_lz4, i)
            ->MinWarmUpTime(0.2);
    benchmark::Initialize(&argc, argv);
    lz4_summary reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    if (!reporter.pictures.empty())
        printf("\nKey pictures against liblz4 (CPU time; medians of repeated runs):\n");
    for (auto& [name, c] : reporter.pictures)
        printf("%s: key frame %.2f us, unpacker %.2f us, LZ4HC-12 %.2f us, LZ4 default %.2f us;"
               " key frame / LZ4HC %.2f (goal <= 1.5), unpacker / LZ4HC %.2f\n",
               name.c_str(), double(c["key_us"]), double(c["unpack_us"]), double(c["lz4hc_us"]),
               double(c["lz4_us"]), double(c["key_x_lz4hc"]), double(c["unpack_x_lz4hc"]));
    benchmark::Shutdown();
    return 0;
}
