// reelrip on FORM movies: the files agree with what the player itself shows
// and plays when its playback cycle runs in-process.
#include "archive_writer.h"
#include "bytes.h"
#include "form_writer.h"
#include "playback.h"
#include "rip.h"
#include "rip_test_support.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>

namespace {

namespace fs = std::filesystem;

// What the player shows and plays when its display keeps pace with the
// sound: its own prefill, display passes and audio callback, with a fake
// sound device asking for small buffers, so that the display steps to each
// slot while that slot's sound plays (a FORM picture takes the palette of the
// slot being heard).
struct player_view {
    std::vector<std::vector<uint8_t>> pictures; // RGB, in the order shown
    std::vector<uint8_t> sound;
    int32_t width = 0, height = 0;
};

Color view_colors[256];

std::vector<uint8_t> surface_as_rgb() {
    std::vector<uint8_t> rgb;
    for (int32_t i = 0; i < movie_width * movie_height; ++i) {
        const Color& c = view_colors[frame_pixels[i]];
        rgb.insert(rgb.end(), {c.r, c.g, c.b});
    }
    return rgb;
}

player_view watch_in_process(const std::string& path, int64_t offset, bool interlaced) {
    static player_view* current;
    player_view view;
    current = &view;
    reset_movie_state();
    memset(view_colors, 0, sizeof view_colors);
    set_surface_colors = [](const Color* c) { memcpy(view_colors, c, sizeof view_colors); };
    hooks = {};
    hooks.show_slot = [](const FrameSlot* slot) {
        decode_slot_picture(slot);
        current->pictures.push_back(surface_as_rgb());
    };
    EXPECT_TRUE(open_movie_file(path.c_str()));
    player_options options = {path.c_str(), interlaced, true, offset};
    EXPECT_EQ(open_movie(options), kind_form);
    view.width = movie_width;
    view.height = movie_height;
    prefill_ring();
    running = true;
    uint8_t buffer[audio_buffer_capacity];
    display_pass();
    for (int pass = 0; pass < 1000000; ++pass) {
        int n = fill_audio(buffer, 256);
        if (n < 0) break;
        view.sound.insert(view.sound.end(), buffer, buffer + n);
        // Past the last slot the display loop waits for the callback to
        // clear running; on one thread that callback is the next iteration.
        if (at_end && audio_slot > last_slot) continue;
        display_pass();
    }
    fclose(movie_file);
    reset_movie_state();
    hooks = {};
    return view;
}

struct timeline_row {
    int32_t slot;
    int64_t start_frame;
    int32_t frames;
    int picture;
};

std::vector<timeline_row> read_timeline(const std::string& path, std::string* header) {
    std::ifstream in(path);
    std::getline(in, *header);
    std::vector<timeline_row> rows;
    timeline_row r;
    while (in >> r.slot >> r.start_frame >> r.frames >> r.picture) rows.push_back(r);
    return rows;
}

form_movie palette_movie(int frames, bool with_gaps) {
    form_movie m;
    m.width = 32;
    m.height = 12;
    m.write_size = true;
    for (int p = 0; p < 2; ++p) {
        std::array<uint8_t, 768> palette{};
        for (int i = 1; i < 256; ++i) {
            palette[3 * i] = uint8_t((i * (p ? 7 : 3)) & 63);
            palette[3 * i + 1] = uint8_t((i * 5 + p * 20) & 63);
            palette[3 * i + 2] = uint8_t((63 - i) & 63);
        }
        m.palettes.push_back(palette);
    }
    for (int f = 0; f < frames; ++f) {
        form_frame frame;
        frame.shot = f % 4 < 2 ? 0 : 1;
        frame.has_picture = !(with_gaps && f % 5 == 3);
        frame.pixels.resize(size_t(m.width * m.height));
        for (size_t i = 0; i < frame.pixels.size(); ++i)
            frame.pixels[i] = uint8_t(1 + (i * 7 + size_t(f / 4) * 13) % 200);
        frame.sound.resize(f % 6 == 5 ? 0 : 700 + 10 * size_t(f));
        for (size_t i = 0; i < frame.sound.size(); ++i)
            frame.sound[i] = int16_t(i * 97 + size_t(f) * 1000);
        m.frames.push_back(frame);
    }
    return m;
}

struct ripped_dir {
    command_result result;
    std::vector<timeline_row> rows;
    std::string header;
    std::vector<rgb_picture> pictures; // the PNGs, in slot order
    sound_file wav;
};

ripped_dir rip_dir(const std::string& file, const std::string& out,
                   std::vector<const char*> extra = {}) {
    ripped_dir d;
    std::vector<const char*> words = {"reelrip", file.c_str(), "-o", out.c_str()};
    words.insert(words.end(), extra.begin(), extra.end());
    d.result = run_command(words);
    d.rows = read_timeline(out + "/timeline.tsv", &d.header);
    for (const timeline_row& r : d.rows)
        if (r.picture)
            d.pictures.push_back(read_png_rgb(out + "/frames/" + frame_file_name(r.slot)));
    d.wav = read_wav(out + "/audio.wav");
    return d;
}

size_t count_files(const std::string& dir) {
    if (!fs::exists(dir)) return 0;
    return size_t(std::distance(fs::directory_iterator(dir), fs::directory_iterator()));
}

void expect_matches_player(const ripped_dir& d, const player_view& view) {
    EXPECT_EQ(d.result.status, 0) << d.result.err;
    EXPECT_EQ(d.header, "slot\tstart_frame\tframes\tpicture");
    ASSERT_EQ(d.pictures.size(), view.pictures.size());
    for (size_t i = 0; i < view.pictures.size(); ++i) {
        EXPECT_EQ(d.pictures[i].width, view.width);
        EXPECT_EQ(d.pictures[i].height, view.height);
        EXPECT_TRUE(d.pictures[i].rgb == view.pictures[i]) << "picture " << i;
    }
    EXPECT_EQ(d.wav.rate, 22050);
    EXPECT_EQ(d.wav.channels, 1);
    EXPECT_TRUE(d.wav.pcm16);
    EXPECT_TRUE(d.wav.pcm == view.sound);
    int64_t frames = 0;
    for (size_t i = 0; i < d.rows.size(); ++i) {
        EXPECT_EQ(d.rows[i].slot, int32_t(i));
        EXPECT_EQ(d.rows[i].start_frame, frames);
        frames += d.rows[i].frames;
    }
    EXPECT_EQ(frames * 2, int64_t(view.sound.size()));
}

TEST(RipForm, DemoMovieFilesAgreeWithThePlayersPicturesAndSound) {
    std::string dir = fresh_dir("form-demo");
    ASSERT_TRUE(write_file(dir + "/demo.tgv", make_form_demo_movie()));
    ripped_dir d = rip_dir(dir + "/demo.tgv", dir + "/out");
    player_view view = watch_in_process(dir + "/demo.tgv", 0, false);
    ASSERT_FALSE(view.pictures.empty());
    expect_matches_player(d, view);
    EXPECT_NE(d.result.err.find(std::to_string(view.pictures.size()) + " pictures"),
              std::string::npos)
        << d.result.err;
    EXPECT_EQ(count_files(dir + "/out/frames"), view.pictures.size());
    EXPECT_EQ(count_files(dir + "/out"), 3u); // frames, audio.wav, timeline.tsv
}

TEST(RipForm, PalettesGapsAndSilenceFollowThePlayer) {
    std::string dir = fresh_dir("form-palettes");
    form_movie m = palette_movie(23, true);
    ASSERT_TRUE(write_file(dir + "/m.tgv", write_form_movie(m)));
    ripped_dir d = rip_dir(dir + "/m.tgv", dir + "/out");
    expect_matches_player(d, watch_in_process(dir + "/m.tgv", 0, false));
    ASSERT_EQ(d.rows.size(), m.frames.size());
    for (size_t i = 0; i < m.frames.size(); ++i) {
        EXPECT_EQ(d.rows[i].picture, m.frames[i].has_picture ? 1 : 0) << i;
        // A frame without sound lasts as long as 2968 bytes of silence.
        int32_t expected = m.frames[i].sound.empty() ? 1484 : int32_t(m.frames[i].sound.size());
        EXPECT_EQ(d.rows[i].frames, expected) << i;
    }
    // Frames 0 to 2 hold the same pixels; the palette changes at frame 2.
    rip_request request;
    request.path = dir + "/m.tgv";
    ripped_movie mem = rip_to_memory(request);
    ASSERT_EQ(mem.status, rip_done);
    EXPECT_EQ(mem.pictures(), int32_t(d.pictures.size()));
    EXPECT_TRUE(mem.slots[0].rgb == mem.slots[1].rgb);
    EXPECT_FALSE(mem.slots[1].rgb == mem.slots[2].rgb);
}

TEST(RipForm, InterlacedPicturesAreDoubledWithBlackOddRows) {
    std::string dir = fresh_dir("form-interlaced");
    form_movie m = palette_movie(6, false);
    ASSERT_TRUE(write_file(dir + "/m.tgv", write_form_movie(m)));
    ripped_dir plain = rip_dir(dir + "/m.tgv", dir + "/plain");
    ripped_dir twice = rip_dir(dir + "/m.tgv", dir + "/twice", {"-i"});
    expect_matches_player(twice, watch_in_process(dir + "/m.tgv", 0, true));
    ASSERT_EQ(plain.pictures.size(), twice.pictures.size());
    ASSERT_FALSE(plain.pictures.empty());
    for (size_t p = 0; p < plain.pictures.size(); ++p) {
        const rgb_picture& a = plain.pictures[p];
        const rgb_picture& b = twice.pictures[p];
        ASSERT_EQ(b.width, 2 * a.width);
        ASSERT_EQ(b.height, 2 * a.height);
        for (int32_t y = 0; y < b.height; ++y)
            for (int32_t x = 0; x < b.width; ++x)
                for (int c = 0; c < 3; ++c) {
                    uint8_t got = b.rgb[size_t((y * b.width + x) * 3 + c)];
                    uint8_t want = y % 2 ? 0 : a.rgb[size_t(((y / 2) * a.width + x / 2) * 3 + c)];
                    ASSERT_EQ(got, want) << "picture " << p << " x " << x << " y " << y;
                }
    }
    EXPECT_EQ(twice.wav.pcm, plain.wav.pcm);
}

TEST(RipForm, TruncatedMovieRipsTheSlotsItHas) {
    std::string dir = fresh_dir("form-truncated");
    std::vector<uint8_t> whole = write_form_movie(palette_movie(30, false));
    ASSERT_TRUE(write_file(dir + "/whole.tgv", whole));
    ripped_dir full = rip_dir(dir + "/whole.tgv", dir + "/full");
    ASSERT_EQ(full.result.status, 0);
    for (size_t cut : {whole.size() / 2, whole.size() * 3 / 4, whole.size() - 1}) {
        std::vector<uint8_t> part(whole.begin(), whole.begin() + long(cut));
        std::string name = dir + "/cut" + std::to_string(cut) + ".tgv";
        ASSERT_TRUE(write_file(name, part));
        ripped_dir d = rip_dir(name, dir + "/out" + std::to_string(cut));
        EXPECT_EQ(d.result.status, 0) << d.result.err;
        EXPECT_GT(d.pictures.size(), 0u);
        EXPECT_LE(d.pictures.size(), full.pictures.size());
        expect_matches_player(d, watch_in_process(name, 0, false));
        // Pictures before the cut are the same as in the whole movie.
        for (size_t i = 0; i + 1 < d.pictures.size(); ++i)
            EXPECT_TRUE(d.pictures[i].rgb == full.pictures[i].rgb)
                << "cut " << cut << " picture " << i;
    }
}

TEST(RipForm, ManyMoviesInOneProcessStartFresh) {
    std::string dir = fresh_dir("form-repeat");
    std::vector<uint8_t> a = write_form_movie(palette_movie(8, false));
    std::vector<uint8_t> b = make_form_demo_movie();
    rip_request ra, rb;
    ra.bytes = &a;
    rb.bytes = &b;
    ripped_movie first = rip_to_memory(ra);
    ripped_movie other = rip_to_memory(rb);
    ripped_movie again = rip_to_memory(ra);
    ASSERT_EQ(first.status, rip_done);
    ASSERT_EQ(other.status, rip_done);
    ASSERT_EQ(again.slots.size(), first.slots.size());
    for (size_t i = 0; i < first.slots.size(); ++i) {
        EXPECT_TRUE(again.slots[i].rgb == first.slots[i].rgb) << i;
        EXPECT_TRUE(again.slots[i].pcm == first.slots[i].pcm) << i;
    }
}

TEST(RipForm, AllRipsEveryListedMovieAndReportsFailures) {
    std::string dir = fresh_dir("form-all");
    std::vector<uint8_t> one = write_form_movie(palette_movie(5, false));
    std::vector<uint8_t> two = make_form_demo_movie();
    byte_builder fake; // recognised by the scanner, refused by the probe
    fake.tag("JUNK").be32(8).tag("MOVE").tag("_PC_").zeros(32);
    std::vector<int32_t> at;
    ASSERT_TRUE(write_file(dir + "/game.tre",
                           write_xtre_archive({{"", one}, {"", fake.bytes}, {"", two}}, &at)));
    command_result list = run_command({"reelrip", "--list", (dir + "/game.tre").c_str()});
    ASSERT_EQ(list.status, 0) << list.err;
    EXPECT_EQ(list.out, std::to_string(at[0]) + "\tMovie 1 - offset " + std::to_string(at[0]) +
                            "\n" + std::to_string(at[1]) + "\tMovie 2 - offset " +
                            std::to_string(at[1]) + "\n" + std::to_string(at[2]) +
                            "\tMovie 3 - offset " + std::to_string(at[2]) + "\n");

    std::string out = dir + "/out";
    command_result all =
        run_command({"reelrip", "--all", (dir + "/game.tre").c_str(), "-o", out.c_str()});
    EXPECT_EQ(all.status, 1);
    EXPECT_NE(all.err.find("movie 3 of 3"), std::string::npos);
    EXPECT_NE(all.err.find("1 of 3 movies failed: 2"), std::string::npos) << all.err;
    EXPECT_FALSE(fs::exists(out + "/002"));
    // Each ripped movie is the same as ripping it alone at its offset.
    for (int n : {0, 2}) {
        std::string alone = dir + "/alone" + std::to_string(n);
        std::string offset = std::to_string(at[size_t(n)]);
        ripped_dir single = rip_dir(dir + "/game.tre", alone, {"-offset", offset.c_str()});
        ASSERT_EQ(single.result.status, 0);
        std::string sub = out + (n == 0 ? "/001" : "/003");
        EXPECT_EQ(read_file(sub + "/timeline.tsv"), read_file(alone + "/timeline.tsv"));
        EXPECT_EQ(read_file(sub + "/audio.wav"), read_file(alone + "/audio.wav"));
        EXPECT_EQ(count_files(sub + "/frames"), single.pictures.size());
    }
}

TEST(RipForm, UnwritableOutputExitsOne) {
    std::string dir = fresh_dir("form-unwritable");
    ASSERT_TRUE(write_file(dir + "/m.tgv", write_form_movie(palette_movie(3, false))));
    ASSERT_TRUE(write_file(dir + "/taken", {1}));
    command_result r =
        run_command({"reelrip", (dir + "/m.tgv").c_str(), "-o", (dir + "/taken").c_str()});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err.rfind("reelrip: cannot create " + dir + "/taken/frames", 0), 0u) << r.err;
    EXPECT_EQ(count_files(dir), 2u);
}

TEST(RipForm, NoTemporaryFileIsLeftBehind) {
    std::string dir = fresh_dir("form-program");
    ASSERT_TRUE(write_file(dir + "/demo.tgv", make_form_demo_movie()));
    command_result r =
        run_command({"reelrip", (dir + "/demo.tgv").c_str(), "-o", (dir + "/a").c_str()});
    ASSERT_EQ(r.status, 0);
    std::string header;
    std::vector<timeline_row> rows = read_timeline(dir + "/a/timeline.tsv", &header);
    EXPECT_FALSE(rows.empty());
    // No temporary file is left behind anywhere.
    for (const auto& entry : fs::recursive_directory_iterator(dir + "/a"))
        EXPECT_EQ(entry.path().string().find(".part"), std::string::npos) << entry.path();
}

} // namespace
