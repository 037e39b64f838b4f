#include "archive_writer.h"
#include "bytes.h"
#include "form_writer.h"
#include "run_program.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

namespace {

// A FORM movie of `frames` frames, each with a small picture and `samples`
// mono samples of a tone (so its length on the sound clock is known).
std::vector<uint8_t> tone_movie(int frames, int samples, bool pictures = true) {
    form_movie m;
    m.width = 64;
    m.height = 48;
    m.write_size = true;
    m.palettes.push_back(grey_ramp_palette());
    for (int f = 0; f < frames; ++f) {
        form_frame fr;
        fr.has_picture = pictures;
        if (pictures) {
            fr.pixels.resize(64 * 48);
            for (size_t i = 0; i < fr.pixels.size(); ++i) fr.pixels[i] = uint8_t(i + f * 3);
        } else {
            fr.shot = 0;
        }
        for (int s = 0; s < samples; ++s)
            fr.sound.push_back(int16_t(8000 * std::sin((f * samples + s) * 0.05)));
        m.frames.push_back(fr);
    }
    return write_form_movie(m);
}

std::string write_movie(const std::string& test, const std::vector<uint8_t>& bytes) {
    std::string path = scratch_dir(test) + "/movie.bin";
    EXPECT_TRUE(write_file(path, bytes));
    return path;
}

TEST(PlayerEndToEnd, ShortMoviePlaysToItsEndAndExitsByItself) {
    // 40 frames of 1470 samples: two seconds of sound.
    std::string path = write_movie("two_seconds", tone_movie(40, 1470));
    program_result r = run_program("reelplay", {path}, 30);
    EXPECT_FALSE(r.timed_out);
    EXPECT_EQ(r.exit_status, 0) << r.error_output;
    // Paced by its sound: it lasts about as long, and ends by itself (the
    // time limit would catch a player that does not).
    EXPECT_GT(r.seconds, 1.5);
}

TEST(PlayerEndToEnd, MovieShorterThanThePrefillPlaysAndEnds) {
    std::string path = write_movie("short", tone_movie(5, 2205));
    program_result r = run_program("reelplay", {path, "-i"}, 30);
    EXPECT_FALSE(r.timed_out);
    EXPECT_EQ(r.exit_status, 0) << r.error_output;
    EXPECT_GT(r.seconds, 0.3);
}

TEST(PlayerEndToEnd, SoundOnlyMoviePlaysInATinyWindow) {
    // A movie whose "SIZE" is 0 by 0 has sound only; its pictures are never shown.
    std::string path = write_movie("sound_only", tone_movie(20, 1102));
    std::vector<uint8_t> bytes = read_file(path);
    for (size_t i = 0; i + 16 < bytes.size(); ++i) {
        if (memcmp(&bytes[i], "SIZE", 4) == 0) {
            memset(&bytes[i + 8], 0, 8);
            break;
        }
    }
    ASSERT_TRUE(write_file(path, bytes));
    program_result r = run_program("reelplay", {path}, 30);
    EXPECT_FALSE(r.timed_out);
    EXPECT_EQ(r.exit_status, 0) << r.error_output;
    EXPECT_GT(r.seconds, 0.7);
}

TEST(PlayerEndToEnd, MovieInsideAnArchiveStopsAtTheNextMovie) {
    std::vector<int32_t> offsets;
    auto archive =
        write_xtre_archive({{"", tone_movie(10, 2205)}, {"", tone_movie(400, 2205)}}, &offsets);
    std::string path = write_movie("archive", archive);
    // The first movie lasts one second; the second would last forty.
    program_result r = run_program("reelplay", {path, "-offset", std::to_string(offsets[0])}, 30);
    EXPECT_FALSE(r.timed_out);
    EXPECT_EQ(r.exit_status, 0) << r.error_output;
    EXPECT_LT(r.seconds, 20.0) << "played on into the next movie";
}

TEST(PlayerEndToEnd, InterruptEndsPlaybackPromptlyWithStatusZero) {
    std::string path = write_movie("interrupt", tone_movie(600, 2205)); // a minute
    program_result r = run_program("reelplay", {path}, 90, 1.5);
    EXPECT_FALSE(r.timed_out);
    EXPECT_EQ(r.exit_status, 0) << r.error_output;
    EXPECT_LT(r.seconds, 30.0) << "the interrupt did not end the minute-long movie";
}

TEST(PlayerEndToEnd, TruncatedMoviePlaysTheSlotsItHas) {
    std::vector<uint8_t> bytes = tone_movie(30, 1470);
    bytes.resize(bytes.size() * 2 / 3);
    std::string path = write_movie("truncated", bytes);
    program_result r = run_program("reelplay", {path}, 30);
    EXPECT_FALSE(r.timed_out);
    EXPECT_EQ(r.exit_status, 0) << r.error_output;
}

TEST(PlayerEndToEnd, JunkAtTheOffsetExitsWithMinusOneAndNoWindow) {
    byte_builder junk;
    junk.tag("JUNK").zeros(100);
    std::string path = write_movie("junk", junk.bytes);
    program_result r = run_program("reelplay", {path}, 20);
    EXPECT_FALSE(r.timed_out);
    EXPECT_EQ(r.exit_status, 255);
    EXPECT_EQ(r.error_output, "reelplay: nothing playable at offset 0 of " + path + "\n");
}

TEST(PlayerEndToEnd, MissingFileOrPathExitsWithMinusOne) {
    EXPECT_EQ(run_program("reelplay", {"/nonexistent/movie.tre"}, 20).exit_status, 255);
    EXPECT_EQ(run_program("reelplay", {}, 20).exit_status, 255);
}

TEST(PlayerEndToEnd, EveryStopWithoutPlayingSaysWhyInOneLine) {
    std::string dir = scratch_dir("stops");
    std::string movie = dir + "/movie.form";
    ASSERT_TRUE(write_file(movie, tone_movie(3, 100)));
    std::vector<int32_t> offsets;
    std::string archive = dir + "/Movies.tre";
    ASSERT_TRUE(
        write_file(archive, write_xtre_archive({{"", tone_movie(3, 100)}, {"", tone_movie(3, 100)}},
                                               &offsets)));
    struct stop {
        std::vector<std::string> args, environment;
        std::string line; // the whole line, or its start before SDL's own words
    };
    const stop stops[] = {
        {{}, {}, "usage: reelplay FILE [-i] [-offset N] [-scale N] [-start T]\n"},
        {{dir + "/none.tgv"},
         {},
         "reelplay: cannot open " + dir + "/none.tgv: No such file or directory\n"},
        {{dir}, {}, "reelplay: cannot open " + dir + ": Is a directory\n"},
        {{archive, "-i"},
         {},
         "reelplay: " + archive + " is a game archive of 2 movies; choose one with -offset N " +
             "(reelrip --list " + archive + " lists them)\n"},
        {{archive, "-offset", "3"},
         {},
         "reelplay: nothing playable at offset 3 of " + archive + "\n"},
        {{movie}, {"SDL_AUDIODRIVER=none such"}, "reelplay: cannot start SDL: "},
        {{movie}, {"SDL_DISKAUDIOFILE=" + dir + "/none/sound.raw"}, "Couldn't open audio: "},
    };
    for (const stop& s : stops) {
        SCOPED_TRACE(s.line);
        program_result r = run_program("reelplay", s.args, 20, -1, s.environment);
        EXPECT_EQ(r.exit_status, 255);
        EXPECT_EQ(r.error_output.substr(0, s.line.size()), s.line);
        EXPECT_EQ(std::count(r.error_output.begin(), r.error_output.end(), '\n'), 1)
            << r.error_output;
    }
}

TEST(PlayerEndToEnd, NegativeOffsetIsNothingPlayable) {
    std::string path = write_movie("negative", tone_movie(3, 100));
    EXPECT_EQ(run_program("reelplay", {path, "-offset", "-4"}, 20).exit_status, 255);
    EXPECT_EQ(run_program("reelplay", {path, "-offset", "0"}, 20).exit_status, 0);
}

} // namespace
