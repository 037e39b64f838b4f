// The WebM export read back by decoders that are no part of the project:
// mkvinfo and mkvextract (mkvtoolnix), vpxdec (vpx-tools), opusdec
// (opus-tools). Pictures are compared with the PNG export, sound with the WAV
// export.
#include "archive_writer.h"
#include "bytes.h"
#include "export_webm.h"
#include "form_writer.h"
#include "mutation.h"
#include "rip_test_support.h"
#include "sead_writer.h"

#include <cmath>
#include <csignal>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <sys/resource.h>

namespace {

namespace fs = std::filesystem;

bool have_tools() {
    return system("{ command -v mkvinfo && command -v mkvextract && command -v vpxdec && "
                  "command -v opusdec; } >/dev/null") == 0;
}

#define SKIP_WITHOUT_TOOLS()                                                                       \
    if (!have_tools())                                                                             \
    GTEST_SKIP() << "mkvtoolnix, vpx-tools or opus-tools is missing (scripts/setup installs them)"

// A tool's standard output; every word is passed whole.
std::string tool(const std::vector<std::string>& words) {
    std::string line;
    for (const std::string& w : words) {
        line += " '";
        for (char c : w) line += c == '\'' ? std::string("'\\''") : std::string(1, c);
        line += "'";
    }
    FILE* p = popen((line + " 2>/dev/null").c_str(), "r");
    if (!p) return "";
    std::string out;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
    pclose(p);
    return out;
}

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

struct timeline_picture {
    int32_t slot;
    int64_t start_frame;
};

std::vector<timeline_picture> pictured_slots(const std::string& timeline) {
    std::ifstream in(timeline);
    std::string line;
    std::getline(in, line);
    std::vector<timeline_picture> out;
    int32_t slot, frames, picture;
    int64_t start;
    while (in >> slot >> start >> frames >> picture)
        if (picture) out.push_back({slot, start});
    return out;
}

// Mono mix of 16-bit PCM in windows of 20 ms at 22050 Hz, as RMS levels.
std::vector<double> envelope(const sound_file& s) {
    std::vector<double> out;
    const size_t frame = size_t(s.channels) * 2, window = 441;
    const size_t frames = s.pcm.size() / frame;
    for (size_t at = 0; at + window <= frames; at += window) {
        double sum = 0;
        for (size_t i = at; i < at + window; ++i)
            for (int c = 0; c < s.channels; ++c) {
                size_t b = i * frame + size_t(c) * 2;
                double v = int16_t(uint16_t(s.pcm[b] | s.pcm[b + 1] << 8));
                sum += v * v;
            }
        out.push_back(std::sqrt(sum / double(window * size_t(s.channels))));
    }
    return out;
}

double correlation(const std::vector<double>& a, const std::vector<double>& b) {
    size_t n = std::min(a.size(), b.size());
    double ma = 0, mb = 0;
    for (size_t i = 0; i < n; ++i) ma += a[i] / double(n), mb += b[i] / double(n);
    double ab = 0, aa = 0, bb = 0;
    for (size_t i = 0; i < n; ++i) {
        ab += (a[i] - ma) * (b[i] - mb);
        aa += (a[i] - ma) * (a[i] - ma);
        bb += (b[i] - mb) * (b[i] - mb);
    }
    return ab / std::sqrt(aa * bb);
}

// The sound track decoded at 22050 Hz against the WAV export: the same
// length within one 20 ms packet, and the same loudness over time.
void expect_sound_like(const std::string& webm, int track, const sound_file& wav) {
    std::string opus = webm + ".opus", decoded = webm + ".wav";
    tool({"mkvextract", webm, "tracks", std::to_string(track) + ":" + opus});
    tool({"opusdec", "--rate", "22050", opus, decoded});
    sound_file back = read_wav(decoded);
    ASSERT_EQ(back.channels, wav.channels);
    const int64_t frames = int64_t(back.pcm.size()) / (2 * back.channels);
    const int64_t expected = int64_t(wav.pcm.size()) / (2 * wav.channels);
    EXPECT_NEAR(double(frames), double(expected), 441.0);
    EXPECT_GT(correlation(envelope(back), envelope(wav)), 0.95);
}

struct round_trip_case {
    const char* name;
    std::vector<uint8_t> (*make)();
    bool interlaced;
};

TEST(WebmExport, PicturesSoundAndTimelineSurviveIndependentDecoders) {
    SKIP_WITHOUT_TOOLS();
    const round_trip_case cases[] = {
        {"form", [] { return make_form_demo_movie(0); }, false},
        {"sead", make_sead_demo_movie, true},
        // Busy, noise-like pictures: the default keeps its floor there too.
        {"form dithered", [] { return make_form_dithered_movie(); }, false},
    };
    for (const round_trip_case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string dir = fresh_dir(std::string("webm ") + c.name);
        std::string movie = dir + "/demo.tgv", webm = dir + "/Demo.WEBM";
        ASSERT_TRUE(write_file(movie, c.make()));
        std::vector<const char*> png = {"reelrip", movie.c_str(), "-o", dir.c_str()};
        std::vector<const char*> video = {"reelrip", movie.c_str(), "-o", webm.c_str()};
        if (c.interlaced) png.push_back("-i"), video.push_back("-i");
        ASSERT_EQ(run_command(png).status, 0);
        command_result r = run_command(video);
        ASSERT_EQ(r.status, 0) << r.err;
        // Standard error is no terminal here: the summary line only.
        EXPECT_EQ(r.err.find('\r'), std::string::npos);

        std::vector<timeline_picture> pictures = pictured_slots(dir + "/timeline.tsv");
        sound_file wav = read_wav(dir + "/audio.wav");
        rgb_picture first = read_png_rgb(dir + "/frames/" + frame_file_name(pictures[0].slot));
        const int32_t w = first.width, h = first.height;

        std::string info = tool({"mkvinfo", "-v", webm});
        for (const char* part :
             {"Document type: webm", "Codec ID: V_VP9", "Codec ID: A_OPUS", "Title: demo.tgv",
              "Color matrix coefficients: 6", "Color range: 1", "|+ Cues"})
            EXPECT_TRUE(contains(info, part)) << part;
        EXPECT_TRUE(contains(info, "Pixel width: " + std::to_string(w)));
        const double seconds = double(wav.pcm.size() / size_t(2 * wav.channels)) / 22050.0;
        size_t at = info.find("Duration: 00:00:");
        ASSERT_NE(at, std::string::npos);
        EXPECT_NEAR(std::stod(info.substr(at + 16)), seconds, 0.001);

        // Each picture at its slot's time on the sound clock, in milliseconds.
        tool({"mkvextract", webm, "timestamps_v2", "0:" + dir + "/times.txt"});
        std::ifstream times(dir + "/times.txt");
        std::string line;
        std::getline(times, line);
        std::vector<int64_t> got, expected;
        while (std::getline(times, line)) got.push_back(std::lround(std::stod(line)));
        for (const timeline_picture& p : pictures)
            expected.push_back((p.start_frame * 1000 + 11025) / 22050);
        // mkvextract ends the list with the last picture's end, here its start again.
        ASSERT_EQ(got.size(), expected.size() + 1);
        got.pop_back();
        EXPECT_EQ(got, expected);

        // Luma of every decoded picture against the PNG's, BT.601 studio range.
        tool({"mkvextract", webm, "tracks", "0:" + dir + "/video.ivf"});
        tool({"vpxdec", "--i420", "-o", dir + "/video.yuv", dir + "/video.ivf"});
        std::vector<uint8_t> yuv = read_file(dir + "/video.yuv");
        const size_t picture_bytes =
            size_t(w) * size_t(h) + 2 * size_t((w + 1) / 2) * size_t((h + 1) / 2);
        ASSERT_EQ(yuv.size(), picture_bytes * pictures.size());
        double error = 0, worst = 99;
        for (size_t n = 0; n < pictures.size(); ++n) {
            rgb_picture png_picture =
                read_png_rgb(dir + "/frames/" + frame_file_name(pictures[n].slot));
            ASSERT_EQ(png_picture.width, w);
            const uint8_t* y = yuv.data() + n * picture_bytes;
            double picture_error = 0;
            for (size_t i = 0; i < size_t(w) * size_t(h); ++i) {
                const uint8_t* p = &png_picture.rgb[3 * i];
                double luma = 16 + (0.299 * p[0] + 0.587 * p[1] + 0.114 * p[2]) * 219.0 / 255.0;
                picture_error += (luma - y[i]) * (luma - y[i]);
            }
            error += picture_error;
            worst = std::min(worst, 10 * std::log10(255.0 * 255.0 * double(w * h) / picture_error));
        }
        double psnr =
            10 * std::log10(255.0 * 255.0 * double(w * h) * double(pictures.size()) / error);
        EXPECT_GE(psnr, 38.0);
        EXPECT_GE(worst, 36.0);
        expect_sound_like(webm, 1, wav);
    }
}

// reelrip demo.tgv -o demo.mkv, read back by the outside tools: vpxdec gives
// the PNG export's pictures (as VP9's G, B, R planes), mkvextract the WAV
// export's samples, both exactly.
TEST(MkvExport, OutsideToolsGiveBackThePicturesAndSoundExactly) {
    SKIP_WITHOUT_TOOLS();
    std::string dir = fresh_dir("mkv tools");
    std::string movie = dir + "/demo.tgv", mkv = dir + "/demo.mkv";
    ASSERT_TRUE(write_file(movie, make_sead_demo_movie()));
    ASSERT_EQ(run_command({"reelrip", movie.c_str(), "-o", dir.c_str()}).status, 0);
    command_result r = run_command({"reelrip", movie.c_str(), "-o", mkv.c_str()});
    ASSERT_EQ(r.status, 0) << r.err;

    std::string info = tool({"mkvinfo", "-v", mkv});
    for (const char* part : {"Document type: matroska", "Timestamp scale: 10000", "Codec ID: V_VP9",
                             "Codec ID: A_PCM/INT/LIT", "|+ Cues"})
        EXPECT_TRUE(contains(info, part)) << part;

    std::vector<timeline_picture> pictures = pictured_slots(dir + "/timeline.tsv");
    tool({"mkvextract", mkv, "tracks", "0:" + dir + "/video.ivf", "1:" + dir + "/sound.wav"});
    tool({"vpxdec", "--rawvideo", "-o", dir + "/video.gbr", dir + "/video.ivf"});
    std::vector<uint8_t> planes;
    for (size_t n = 0; n < pictures.size(); ++n) {
        // A picture that the next one replaces at the same instant is not kept.
        if (n + 1 < pictures.size() && pictures[n + 1].start_frame == pictures[n].start_frame)
            continue;
        rgb_picture p = read_png_rgb(dir + "/frames/" + frame_file_name(pictures[n].slot));
        for (int c : {1, 2, 0})
            for (size_t i = 0; i < p.rgb.size(); i += 3) planes.push_back(p.rgb[i + size_t(c)]);
    }
    EXPECT_TRUE(read_file(dir + "/video.gbr") == planes);
    sound_file wav = read_wav(dir + "/audio.wav"), back = read_wav(dir + "/sound.wav");
    EXPECT_EQ(back.rate, 22050);
    EXPECT_EQ(back.channels, wav.channels);
    EXPECT_TRUE(back.pcm == wav.pcm);
}

TEST(WebmExport, SoundOnlyMovieAndEveryMovieOfAnArchive) {
    SKIP_WITHOUT_TOOLS();
    std::string dir = fresh_dir("webm sound only");
    // A stereo tone that swells and fades, without pictures.
    std::vector<sead_movie_frame> frames(45);
    for (size_t n = 0; n < frames.size(); ++n)
        for (int i = 0; i < 1470; ++i) {
            double level = 8000 * std::sin(double(n * 1470 + size_t(i)) / 66150.0 * M_PI);
            int16_t v = int16_t(level * std::sin(double(i) * 0.07));
            frames[n].sound.insert(frames[n].sound.end(), {v, int16_t(-v)});
        }
    std::string movie = dir + "/sound.tgv", webm = dir + "/sound.webm";
    ASSERT_TRUE(write_file(movie, write_sead_movie(0, 0, frames)));
    ASSERT_EQ(rip_to_memory({movie}).info.width, 0);
    ASSERT_EQ(run_command({"reelrip", movie.c_str(), "-o", dir.c_str()}).status, 0);
    ASSERT_EQ(run_command({"reelrip", movie.c_str(), "-o", webm.c_str()}).status, 0);
    std::string info = tool({"mkvinfo", webm});
    EXPECT_FALSE(contains(info, "V_VP9"));
    EXPECT_TRUE(contains(info, "A_OPUS"));
    expect_sound_like(webm, 0, read_wav(dir + "/audio.wav"));

    // --all: one file per listed movie, titled with its place in the list.
    std::vector<uint8_t> short_movie = make_form_demo_movie(2);
    std::string archive = dir + "/GAME.TRE", out = dir + "/all";
    ASSERT_TRUE(write_file(archive, write_xtre_archive({{"", short_movie}, {"", short_movie}})));
    command_result r = run_command(
        {"reelrip", "--all", archive.c_str(), "-o", out.c_str(), "--webm", "--crf", "40"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(contains(tool({"mkvinfo", out + "/002.webm"}), "Title: GAME.TRE, movie 2"));
    EXPECT_TRUE(fs::exists(out + "/001.webm"));
}

// No file under the final or the temporary name in dir but those listed.
std::vector<std::string> names_in(const std::string& dir) {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir)) names.push_back(e.path().filename());
    std::sort(names.begin(), names.end());
    return names;
}

TEST(WebmExport, FailuresSayWhyAndLeaveNoFile) {
    std::string dir = fresh_dir("webm failures");
    std::string movie = dir + "/m.tgv";
    std::vector<uint8_t> bytes = make_form_demo_movie(0);
    ASSERT_TRUE(write_file(movie, bytes));

    // The output folder is a file.
    std::string inside = movie + "/out.webm";
    command_result r = run_command({"reelrip", movie.c_str(), "-o", inside.c_str()});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(contains(r.err, inside)) << r.err;
    EXPECT_TRUE(contains(r.err, strerror(ENOTDIR))) << r.err;

    // A full disk, as a file size limit: the write fails part way.
    rip_request request;
    request.path = movie;
    webm_summary summary;
    rlimit old;
    getrlimit(RLIMIT_FSIZE, &old);
    rlimit small = old;
    small.rlim_cur = 20000;
    auto previous = signal(SIGXFSZ, SIG_IGN);
    setrlimit(RLIMIT_FSIZE, &small);
    rip_status status = rip_to_webm(request, dir + "/full.webm", {}, &summary);
    setrlimit(RLIMIT_FSIZE, &old);
    signal(SIGXFSZ, previous);
    EXPECT_EQ(status, rip_stopped);
    EXPECT_TRUE(contains(summary.error, dir + "/full.webm")) << summary.error;
    EXPECT_TRUE(contains(summary.error, strerror(EFBIG))) << summary.error;
    EXPECT_FALSE(contains(summary.error, ".part")) << summary.error;

    // A movie cut in half is exported as far as it plays.
    std::string cut = dir + "/cut.tgv";
    ASSERT_TRUE(write_file(
        cut, std::vector<uint8_t>(bytes.begin(), bytes.begin() + long(bytes.size() / 2))));
    status = rip_to_webm({cut}, dir + "/cut.webm", {}, &summary);
    EXPECT_EQ(status, rip_done);
    EXPECT_GT(summary.pictures, 0);
    EXPECT_LT(summary.pictures, rip_to_memory({movie}).pictures());
    EXPECT_EQ(names_in(dir), (std::vector<std::string>{"cut.tgv", "cut.webm", "m.tgv"}));

    // Damaged movies export what plays, or fail cleanly; never both a file
    // and a failure, never a temporary file.
    std::mt19937 rng(14);
    mutation_plan plan;
    plan.from = 8;
    plan.tags = {"SNDC", "VGA ", "AUDI"};
    plan.values32 = {0, 0xFFFF, 0x7FFFFFFF};
    const std::vector<uint8_t> sead = make_sead_demo_movie();
    for (int n = 0; n < 8; ++n) {
        std::vector<uint8_t> damaged = mutate_bytes(n % 2 ? sead : bytes, rng, plan);
        ASSERT_TRUE(write_file(dir + "/damaged.bin", damaged));
        status = rip_to_webm({dir + "/damaged.bin"}, dir + "/damaged.webm", {}, &summary);
        EXPECT_EQ(fs::exists(dir + "/damaged.webm"), status == rip_done) << n;
        fs::remove(dir + "/damaged.webm");
        fs::remove(dir + "/damaged.bin");
    }

    // A stop asked for by the caller leaves nothing either. Progress is of
    // the slots handed out, not of the reader's read-ahead: the first of 120
    // slots is under 5% of the way.
    webm_options stop;
    double first = -1;
    stop.progress = [&first](const webm_progress& p) {
        if (first < 0) first = p.fraction;
        return p.movie_seconds < 1;
    };
    EXPECT_EQ(rip_to_webm({movie}, dir + "/stopped.webm", stop, &summary), rip_stopped);
    EXPECT_GT(first, 0);
    EXPECT_LT(first, 0.05);
    EXPECT_EQ(names_in(dir), (std::vector<std::string>{"cut.tgv", "cut.webm", "m.tgv"}));

    // Switches that do not fit together.
    for (std::vector<const char*> words :
         {std::vector<const char*>{"reelrip", "m", "-o", "x.webm", "--webm"},
          {"reelrip", "m", "-o", "x.webm", "--crf", "64"},
          {"reelrip", "m", "-o", "dir", "--crf", "9"},
          {"reelrip", "m", "-o", "x.mkv", "--crf", "20"}})
        EXPECT_EQ(run_command(words).status, 2);
}

TEST(WebmExport, StudioRangeConversionKeepsGreyAndTheExtremes) {
    // White, black, pure red in one 2 x 2 block with a grey one beside it.
    const uint8_t rgb[2 * 4 * 3] = {255, 255, 255, 0, 0, 0, 128, 128, 128, 128, 128, 128,
                                    255, 0,   0,   0, 0, 0, 128, 128, 128, 128, 128, 128};
    uint8_t y[8], u[2], v[2];
    rgb_to_i420(rgb, 4, 2, y, 4, u, v, 2);
    EXPECT_EQ(y[0], 235);
    EXPECT_EQ(y[1], 16);
    EXPECT_EQ(y[4], 81); // 16 + 0.299 * 219
    EXPECT_EQ(y[2], 126);
    EXPECT_EQ(u[1], 128);
    EXPECT_EQ(v[1], 128);
    EXPECT_EQ(v[0], 128 + 28); // a quarter of red's 112
}

} // namespace
