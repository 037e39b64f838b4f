#include "bytes.h"
#include "run_program.h"
#include "sead_writer.h"

#include <gtest/gtest.h>

namespace {

// About a second of a small SEAD movie: a bar sweeping across, a tone.
std::vector<uint8_t> short_sead_movie() {
    const int w = 48, h = 32, count = 15;
    std::vector<sead_movie_frame> frames(static_cast<size_t>(count));
    for (int t = 0; t < count; ++t) {
        auto& f = frames[size_t(t)];
        f.image.assign(size_t(w * h), 3);
        for (int y = 0; y < h; ++y)
            for (int x = 2 * t; x < 2 * t + 8; ++x) f.image[size_t(y * w + x)] = 9;
        for (int i = 0; i < 768; ++i) f.palette[size_t(i)] = uint8_t(i * 5);
        f.sound.resize(2 * 1470);
        for (size_t i = 0; i < f.sound.size(); ++i)
            f.sound[i] = int16_t((i / 40) % 2 ? 3000 : -3000);
    }
    return write_sead_movie(w, h, frames);
}

TEST(SeadEndToEnd, PlaysToTheEndPlainAndDoubled) {
    std::string dir = scratch_dir("sead");
    ASSERT_TRUE(write_file(dir + "/short.tgv", short_sead_movie()));
    for (bool doubled : {false, true}) {
        std::vector<std::string> args = {dir + "/short.tgv"};
        if (doubled) args.push_back("-i");
        program_result r = run_program("reelplay", args, 30);
        EXPECT_FALSE(r.timed_out);
        EXPECT_EQ(r.exit_status, 0);
        EXPECT_EQ(r.error_output.find("Couldn't open audio"), std::string::npos);
    }
}

TEST(SeadEndToEnd, ReelmakeWritesThePlayableDemo) {
    std::string dir = scratch_dir("sead_make");
    program_result made = run_program("reelmake", {"sead", dir + "/demo.tgv"}, 60);
    ASSERT_EQ(made.exit_status, 0);
    EXPECT_GT(read_file(dir + "/demo.tgv").size(), 100000u);
    // Closed early: the player ends cleanly on the interrupt.
    program_result r = run_program("reelplay", {dir + "/demo.tgv"}, 30, 2);
    EXPECT_FALSE(r.timed_out);
    EXPECT_EQ(r.exit_status, 0);
}

} // namespace
