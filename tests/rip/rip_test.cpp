#include "archive_writer.h"
#include "bytes.h"
#include "form_writer.h"
#include "formats/common/zero_state.h"
#include "movie.h"
#include "reelrip_cli.h"
#include "rip.h"
#include "rip_files.h"
#include "rip_test_support.h"

#include <algorithm>
#include <filesystem>
#include <gtest/gtest.h>
#include <png.h>
#include <random>
#include <sndfile.h>

namespace {

namespace fs = std::filesystem;

rip_options parse_ok(std::vector<const char*> words) {
    words.insert(words.begin(), "reelrip");
    rip_options o;
    std::string error;
    EXPECT_TRUE(parse_rip_options(int(words.size()), words.data(), &o, &error)) << error;
    return o;
}

std::string parse_error(std::vector<const char*> words) {
    words.insert(words.begin(), "reelrip");
    rip_options o;
    std::string error;
    EXPECT_FALSE(parse_rip_options(int(words.size()), words.data(), &o, &error));
    return error;
}

TEST(RipOptions, OneMovieWithSwitchesInAnyOrder) {
    rip_options a = parse_ok({"m.tre", "-offset", "1000", "-i", "-o", "out"});
    rip_options b = parse_ok({"-o", "out", "-i", "m.tre", "-offset", "1000"});
    for (const rip_options& o : {a, b}) {
        EXPECT_EQ(o.mode, rip_one);
        EXPECT_EQ(o.file, "m.tre");
        EXPECT_EQ(o.out_dir, "out");
        EXPECT_EQ(o.offset, 1000);
        EXPECT_TRUE(o.interlaced);
    }
    EXPECT_EQ(parse_ok({"m.tgv", "-o", "d"}).offset, 0);
    EXPECT_EQ(parse_ok({"m.tgv", "-o", "d", "-offset", "-8"}).offset, -8);
    EXPECT_EQ(parse_ok({"-o", "d", "--", "-odd name"}).file, "-odd name");
}

TEST(RipOptions, ListAndAll) {
    rip_options l = parse_ok({"--list", "a.tre"});
    EXPECT_EQ(l.mode, rip_list);
    EXPECT_EQ(l.file, "a.tre");
    rip_options e = parse_ok({"a.tre", "--all", "-o", "d", "-i"});
    EXPECT_EQ(e.mode, rip_every);
    EXPECT_TRUE(e.interlaced);
    EXPECT_EQ(e.out_dir, "d");
    // The exact kind goes through the video exports too.
    EXPECT_TRUE(parse_ok({"--all", "a.tre", "-o", "d", "--mkv"}).mkv);
    rip_options one = parse_ok({"a.tgv", "-o", "A.MKV"});
    EXPECT_TRUE(one.mkv && one.webm);
}

TEST(RipOptions, UsageErrorsSayWhatIsWrong) {
    EXPECT_EQ(parse_error({}), "no FILE given");
    EXPECT_EQ(parse_error({"m.tgv"}), "missing -o DIR");
    EXPECT_EQ(parse_error({"--all", "m.tre"}), "missing -o DIR");
    EXPECT_EQ(parse_error({"m.tgv", "-o"}), "-o needs a directory");
    EXPECT_EQ(parse_error({"m.tgv", "-o", "d", "-offset"}), "-offset needs a number");
    EXPECT_EQ(parse_error({"m.tgv", "-o", "d", "-offset", "12x"}),
              "-offset needs a number, not 12x");
    EXPECT_EQ(parse_error({"m.tgv", "-o", "d", "-offset", ""}), "-offset needs a number, not ");
    EXPECT_EQ(parse_error({"m.tgv", "-o", "d", "-I"}), "unknown option -I");
    EXPECT_EQ(parse_error({"m.tgv", "n.tgv", "-o", "d"}), "more than one FILE: n.tgv");
    EXPECT_EQ(parse_error({"--list", "--all", "a.tre"}), "--list and --all cannot be combined");
    EXPECT_EQ(parse_error({"--list", "a.tre", "-o", "d"}), "--list takes only FILE");
    EXPECT_EQ(parse_error({"--list", "a.tre", "-i"}), "--list takes only FILE");
    EXPECT_EQ(parse_error({"--list", "a.tre", "--crf", "9"}), "--list takes only FILE");
    EXPECT_EQ(parse_error({"--all", "a.tre", "-o", "d", "--mkv", "--webm"}),
              "--webm and --mkv cannot be combined");
    EXPECT_FALSE(parse_error({"--all", "a.tre", "-o", "d", "-offset", "4"}).empty());
    EXPECT_EQ(parse_error({"m.tgv", "-o", "d", "--from", "1:75"}),
              "--from needs a time: seconds (90, 90.5) or minutes and seconds (1:30)");
    EXPECT_EQ(parse_error({"m.tgv", "-o", "d", "--from", "5", "--to", "5"}),
              "--to must come after --from");
    EXPECT_EQ(parse_error({"--all", "a.tre", "-o", "d", "--from", "5"}),
              "--from and --to apply to one movie");
    rip_options clip = parse_ok({"m.tgv", "--to", "1:02.5", "--from", "2", "-o", "d"});
    EXPECT_EQ(clip.from_frame, 2 * 22050);
    EXPECT_EQ(clip.to_frame, 62 * 22050 + 11025);
}

TEST(RipCommand, ClipFromBeyondTheEndSaysHowLongTheMovieIs) {
    std::string dir = fresh_dir("beyond");
    ASSERT_TRUE(write_file(dir + "/m.form", make_form_demo_movie(0)));
    std::string out = dir + "/out";
    command_result r =
        run_command({"reelrip", (dir + "/m.form").c_str(), "--from", "8", "-o", out.c_str()});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "reelrip: the movie is only 0:08 long\n");
    EXPECT_FALSE(fs::exists(out));
}

TEST(RipCommand, UsageErrorsExitTwoWithTheUsageText) {
    for (std::vector<const char*> words :
         {std::vector<const char*>{"reelrip"}, {"reelrip", "m.tgv"}, {"reelrip", "m", "--x"}}) {
        command_result r = run_command(words);
        EXPECT_EQ(r.status, 2);
        EXPECT_NE(r.err.find(rip_usage_text), std::string::npos);
        EXPECT_EQ(r.out, "");
    }
}

TEST(RipCommand, JunkAndMissingFilesExitOneAndWriteNothing) {
    std::string dir = fresh_dir("junk");
    byte_builder junk;
    junk.tag("JUNK").zeros(200);
    ASSERT_TRUE(write_file(dir + "/junk.bin", junk.bytes));
    std::string out = dir + "/out";
    command_result r = run_command({"reelrip", (dir + "/junk.bin").c_str(), "-o", out.c_str()});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "reelrip: no playable movie at offset 0 of " + dir + "/junk.bin\n");
    EXPECT_FALSE(fs::exists(out));

    std::string missing = dir + "/missing.tgv";
    r = run_command({"reelrip", missing.c_str(), "-o", out.c_str()});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "reelrip: cannot open " + missing + ": No such file or directory\n");
    // An offset past the end, or a negative one, is nothing playable too.
    for (const char* offset : {"-4", "100000", "99999999999"}) {
        r = run_command(
            {"reelrip", (dir + "/junk.bin").c_str(), "-offset", offset, "-o", out.c_str()});
        EXPECT_EQ(r.status, 1) << offset;
    }
    EXPECT_FALSE(fs::exists(out));
}

std::vector<uint8_t> recognised_member(const char* first) {
    byte_builder b;
    b.tag(first).be32(100).tag("MOVE").tag("_PC_").zeros(100);
    return b.bytes;
}

TEST(RipCommand, ListPrintsOffsetAndLauncherLine) {
    std::string dir = fresh_dir("list");
    std::vector<int32_t> at;
    std::vector<uint8_t> archive = write_xtre_archive(
        {{"", recognised_member("FORM")}, {"", {1, 2, 3}}, {"", recognised_member("RIFF")}}, &at);
    ASSERT_TRUE(write_file(dir + "/game.tre", archive));
    command_result r = run_command({"reelrip", "--list", (dir + "/game.tre").c_str()});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, std::to_string(at[0]) + "\tMovie 1 - offset " + std::to_string(at[0]) + "\n" +
                         std::to_string(at[2]) + "\tMovie 2 - offset " + std::to_string(at[2]) +
                         "\n");
    EXPECT_EQ(r.err, "");

    std::vector<int32_t> named_at;
    byte_builder schl;
    schl.tag("SCHl").zeros(60);
    ASSERT_TRUE(
        write_file(dir + "/named.TRE", write_named_archive({{"opening", schl.bytes}}, &named_at)));
    r = run_command({"reelrip", "--list", (dir + "/named.TRE").c_str()});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, std::to_string(named_at[0]) + "\topening\n");

    ASSERT_TRUE(write_file(dir + "/clip.tgv", {1, 2, 3}));
    r = run_command({"reelrip", "--list", (dir + "/clip.tgv").c_str()});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "0\tSingle movie file: " + dir + "/clip.tgv\n");
}

TEST(RipCommand, ListOfNothingExitsOneWithEachMessageOnce) {
    std::string dir = fresh_dir("list-empty");
    ASSERT_TRUE(write_file(dir + "/empty.tre", write_xtre_archive({{"", {9, 9, 9, 9}}})));
    command_result r = run_command({"reelrip", "--list", (dir + "/empty.tre").c_str()});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "reelrip: no playable movies in " + dir + "/empty.tre\n");

    r = run_command({"reelrip", "--list", (dir + "/absent.tre").c_str()});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "reelrip: cannot open " + dir + "/absent.tre: No such file or directory\n");

    std::string out = dir + "/out";
    r = run_command({"reelrip", "--all", (dir + "/empty.tre").c_str(), "-o", out.c_str()});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "reelrip: no playable movies in " + dir + "/empty.tre\n");
    EXPECT_FALSE(fs::exists(out));
}

TEST(RipCommand, AllCarriesOnPastMembersThatAreNotMovies) {
    // The scanner accepts these by their bytes 8 to 15; the probe refuses them.
    std::string dir = fresh_dir("all-fail");
    ASSERT_TRUE(write_file(
        dir + "/bad.tre",
        write_xtre_archive({{"", recognised_member("JUNK")}, {"", recognised_member("ABCD")}})));
    std::string out = dir + "/out";
    command_result r =
        run_command({"reelrip", "--all", (dir + "/bad.tre").c_str(), "-o", out.c_str()});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("movie 1 of 2"), std::string::npos);
    EXPECT_NE(r.err.find("movie 2 of 2"), std::string::npos);
    EXPECT_NE(r.err.find("2 of 2 movies failed: 1, 2"), std::string::npos);
}

TEST(RipFiles, PngHoldsTheRgbBytesExactly) {
    std::string dir = fresh_dir("png");
    const int w = 37, h = 11;
    std::vector<uint8_t> rgb(w * h * 3);
    std::mt19937 rng(5);
    for (auto& b : rgb) b = uint8_t(rng());
    ASSERT_TRUE(write_png_rgb(dir + "/a.png", w, h, rgb.data()));
    rgb_picture back = read_png_rgb(dir + "/a.png");
    EXPECT_EQ(back.width, w);
    EXPECT_EQ(back.height, h);
    EXPECT_EQ(back.rgb, rgb);
    // Only the final name is left behind.
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 1);

    std::vector<uint8_t> encoded;
    ASSERT_TRUE(encode_png_rgb(w, h, rgb.data(), &encoded, true));
    EXPECT_EQ(read_png_rgb_memory(encoded).rgb, rgb);

    EXPECT_FALSE(write_png_rgb(dir + "/no/such/dir/b.png", w, h, rgb.data()));
    EXPECT_FALSE(write_png_rgb(dir + "/c.png", 0, h, rgb.data()));
    EXPECT_FALSE(fs::exists(dir + "/c.png"));
}

TEST(RipFiles, WavHoldsTheStreamEvenWhenSlotsSplitSampleFrames) {
    std::string dir = fresh_dir("wav");
    for (int channels : {1, 2}) {
        std::vector<uint8_t> pcm(4000);
        std::mt19937 rng(channels);
        for (auto& b : pcm) b = uint8_t(rng());
        std::string path = dir + "/s" + std::to_string(channels) + ".wav";
        wav_output wav;
        ASSERT_TRUE(wav_open(&wav, path, channels));
        EXPECT_FALSE(fs::exists(path)); // not under its final name until finished
        size_t at = 0;
        for (int32_t piece : {1, 3, 0, 2, 7, 1000, 2987}) {
            ASSERT_TRUE(wav_append(&wav, pcm.data() + at, piece));
            at += size_t(piece);
        }
        ASSERT_EQ(at, pcm.size());
        ASSERT_TRUE(wav_finish(&wav));
        sound_file back = read_wav(path);
        EXPECT_EQ(back.rate, 22050);
        EXPECT_EQ(back.channels, channels);
        EXPECT_EQ(back.pcm, pcm);
    }
    wav_output dropped;
    ASSERT_TRUE(wav_open(&dropped, dir + "/dropped.wav", 1));
    uint8_t two[2] = {1, 2};
    ASSERT_TRUE(wav_append(&dropped, two, 2));
    wav_abandon(&dropped);
    EXPECT_FALSE(fs::exists(dir + "/dropped.wav"));
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 2);
    wav_output nowhere;
    EXPECT_FALSE(wav_open(&nowhere, dir + "/no/such/x.wav", 1));
    EXPECT_EQ(nowhere.error, "cannot write " + dir + "/no/such/x.wav: " + strerror(ENOENT));
    // A directory in the way of the final name: the rename fails, nothing is left.
    fs::create_directories(dir + "/taken.wav");
    wav_output blocked;
    ASSERT_TRUE(wav_open(&blocked, dir + "/taken.wav", 1));
    ASSERT_TRUE(wav_append(&blocked, two, 2));
    EXPECT_FALSE(wav_finish(&blocked));
    EXPECT_EQ(blocked.error, "cannot write " + dir + "/taken.wav: " + strerror(EISDIR));
    EXPECT_FALSE(fs::exists(blocked.temp_path));
}

TEST(RipFiles, TextFileReplacesWhole) {
    std::string dir = fresh_dir("text");
    ASSERT_TRUE(write_text_file(dir + "/t.tsv", "first version, longer\n"));
    ASSERT_TRUE(write_text_file(dir + "/t.tsv", "second\n"));
    std::vector<uint8_t> bytes = read_file(dir + "/t.tsv");
    EXPECT_EQ(std::string(bytes.begin(), bytes.end()), "second\n");
    EXPECT_FALSE(write_text_file(dir + "/none/t.tsv", "x"));
}

TEST(RipPictures, SixteenBitFieldsWidenToEightBits) {
    reset_movie_state();
    movie_depth = 16;
    movie_width = 4;
    movie_height = 1;
    const uint16_t pixels[4] = {0x7FFF, 0x0000, uint16_t(1 << 10 | 16 << 5 | 30), 0x8000};
    for (int i = 0; i < 4; ++i) {
        frame_pixels[2 * i] = uint8_t(pixels[i]);
        frame_pixels[2 * i + 1] = uint8_t(pixels[i] >> 8);
    }
    uint8_t rgb[12];
    frame_to_rgb(rgb);
    const uint8_t expected[12] = {255, 255, 255, 0, 0, 0, 8, 132, 247, 0, 0, 0};
    EXPECT_EQ(std::vector<uint8_t>(rgb, rgb + 12), std::vector<uint8_t>(expected, expected + 12));
    reset_movie_state();
    // Every 16-bit value, the top bit ignored; the last pixel ends the buffer.
    std::vector<uint8_t> all(2 * 65536), out(3 * 65536);
    for (uint32_t v = 0; v < 65536; ++v) {
        all[2 * v] = uint8_t(v);
        all[2 * v + 1] = uint8_t(v >> 8);
    }
    rgb_from_555(all.data(), 65536, out.data());
    auto widened = [](uint32_t f) { return uint8_t(f << 3 | f >> 2); };
    for (uint32_t v = 0; v < 65536; ++v)
        ASSERT_TRUE(out[3 * v] == widened(v >> 10 & 31) && out[3 * v + 1] == widened(v >> 5 & 31) &&
                    out[3 * v + 2] == widened(v & 31))
            << v;
}

TEST(RipPictures, EightBitPixelsTakeThePaletteInForce) {
    // A rip installs the colour hook; the colours start black.
    std::vector<uint8_t> junk = {'J', 'U', 'N', 'K'};
    rip_request request;
    request.bytes = &junk;
    EXPECT_EQ(rip_to_memory(request).status, rip_not_playable);
    movie_depth = 8;
    movie_width = 3;
    movie_height = 1;
    frame_pixels[0] = 0;
    frame_pixels[1] = 7;
    frame_pixels[2] = 255;
    uint8_t rgb[9];
    frame_to_rgb(rgb);
    EXPECT_EQ(std::vector<uint8_t>(rgb, rgb + 9), std::vector<uint8_t>(9, 0));
    Color colors[256] = {};
    colors[7] = {10, 20, 30, 99};
    colors[255] = {1, 2, 3, 0};
    set_surface_colors(colors);
    frame_to_rgb(rgb);
    const uint8_t expected[9] = {0, 0, 0, 10, 20, 30, 1, 2, 3};
    EXPECT_EQ(std::vector<uint8_t>(rgb, rgb + 9), std::vector<uint8_t>(expected, expected + 9));
    reset_movie_state();
}

// A reset hands whole pages back to the system instead of writing them; what
// was written before must still read as zero afterwards, on the pages handed
// back, on the ragged ends around them, and on heap memory at an odd address.
TEST(MovieState, ResetLeavesEveryByteZero) {
    memset(slot_ring, 0xA5, sizeof slot_ring);
    memset(frame_pixels, 0x5A, sizeof frame_pixels);
    memset(palettes, 0x33, sizeof palettes);
    reset_movie_state();
    auto all_zero = [](const void* p, size_t n) {
        const uint8_t* b = static_cast<const uint8_t*>(p);
        return std::all_of(b, b + n, [](uint8_t v) { return v == 0; });
    };
    EXPECT_TRUE(all_zero(slot_ring, sizeof slot_ring));
    EXPECT_TRUE(all_zero(frame_pixels, sizeof frame_pixels));
    EXPECT_TRUE(all_zero(palettes, sizeof palettes));
    std::vector<uint8_t> heap(1 << 20, 0xFF);
    zero_state(heap.data() + 3, heap.size() - 10);
    EXPECT_EQ(heap[2], 0xFF);
    EXPECT_TRUE(all_zero(heap.data() + 3, heap.size() - 10));
    EXPECT_EQ(heap[heap.size() - 7], 0xFF);
}

TEST(RipMovie, FrameFileNamesAreSixDigits) {
    EXPECT_EQ(frame_file_name(0), "000000.png");
    EXPECT_EQ(frame_file_name(42), "000042.png");
    EXPECT_EQ(frame_file_name(1234567), "1234567.png");
}

TEST(RipMovie, RandomBytesNeverRipAndNeverCrash) {
    std::mt19937 rng(77);
    const char* tags[] = {"FORM", "RIFF", "SCHl", "SEAD", "pIQT", "JUNK"};
    for (int round = 0; round < 300; ++round) {
        std::vector<uint8_t> bytes(1 + rng() % 3000);
        for (auto& b : bytes) b = uint8_t(rng());
        if (bytes.size() >= 4) memcpy(bytes.data(), tags[rng() % 6], 4);
        rip_request request;
        request.bytes = &bytes;
        request.interlaced = rng() % 2;
        ripped_movie m = rip_to_memory(request);
        if (m.status != rip_done) continue;
        int64_t frames = 0;
        for (const ripped_slot& s : m.slots) {
            EXPECT_EQ(s.start_frame, frames);
            frames += s.frames;
            if (s.has_picture) {
                EXPECT_EQ(s.rgb.size(), size_t(m.info.width) * m.info.height * 3);
            }
        }
    }
}

} // namespace
