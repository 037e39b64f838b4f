#include "movie.h"

#include <gtest/gtest.h>

namespace {

player_options parse(std::initializer_list<const char*> words) {
    std::vector<char*> argv;
    for (const char* w : words) argv.push_back(const_cast<char*>(w));
    player_options o;
    EXPECT_TRUE(parse_player_options(int(argv.size()), argv.data(), &o));
    return o;
}

TEST(PlayerOptions, SwitchesInAnyOrder) {
    auto a = parse({"reelplay", "m.tre", "-offset", "1000", "-i"});
    auto b = parse({"reelplay", "m.tre", "-i", "-offset", "1000"});
    EXPECT_EQ(a.offset, 1000);
    EXPECT_EQ(b.offset, 1000);
    EXPECT_TRUE(a.interlaced);
    EXPECT_TRUE(b.interlaced);
}

TEST(PlayerOptions, OffsetConsumesTheNextWordEvenWhenItIsASwitch) {
    auto o = parse({"reelplay", "m.tre", "-offset", "-i"});
    EXPECT_EQ(o.offset, 0);
    EXPECT_FALSE(o.interlaced);
}

TEST(PlayerOptions, OffsetTextIsReadAsCLibraryWould) {
    EXPECT_EQ(parse({"p", "f", "-offset", "123abc"}).offset, 123);
    EXPECT_EQ(parse({"p", "f", "-offset", "abc"}).offset, 0);
    EXPECT_EQ(parse({"p", "f", "-offset", "  -42"}).offset, -42);
    EXPECT_EQ(parse({"p", "f", "-offset", "+7"}).offset, 7);
    EXPECT_EQ(parse({"p", "f", "-offset", "5", "-offset", "9"}).offset, 9);
}

TEST(PlayerOptions, UnknownAndMiscasedSwitchesAreIgnored) {
    auto o = parse({"p", "f", "-I", "--i", "-x", "-Offset", "12"});
    EXPECT_FALSE(o.interlaced);
    EXPECT_EQ(o.offset, 0);
    EXPECT_FALSE(o.offset_given);
}

TEST(PlayerOptions, PathMayStartWithADash) {
    auto o = parse({"p", "-i"});
    EXPECT_STREQ(o.path, "-i");
    EXPECT_FALSE(o.interlaced);
}

TEST(PlayerOptions, TrailingOffsetWithoutValueIsIgnored) {
    auto o = parse({"p", "f", "-offset", "7", "-offset"});
    EXPECT_EQ(o.offset, 7);
}

TEST(PlayerOptions, NoPathIsRefused) {
    char name[] = "p";
    char* argv[] = {name};
    player_options o;
    EXPECT_FALSE(parse_player_options(1, argv, &o));
}

TEST(PlayerOptions, ScaleTakesOneWholeFactorFromOneToFourAnywhere) {
    auto a = parse({"p", "f", "-scale", "3", "-i", "-offset", "8"});
    EXPECT_EQ(a.scale, 3);
    EXPECT_TRUE(a.interlaced);
    EXPECT_EQ(a.offset, 8);
    EXPECT_FALSE(a.scale_refused);
    EXPECT_EQ(parse({"p", "f"}).scale, 1);
    EXPECT_EQ(parse({"p", "f", "-offset", "8", "-scale", "4"}).scale, 4);
    // Refused values leave 1 and keep the text for the message; a switch
    // after "-scale" is taken as its value, as after "-offset".
    for (const char* bad : {"0", "5", "x", "", "2x", "-i", "02"}) {
        auto o = parse({"p", "f", "-scale", bad});
        EXPECT_EQ(o.scale, 1) << bad;
        EXPECT_TRUE(o.scale_refused) << bad;
        EXPECT_STREQ(o.scale_text, bad);
        EXPECT_FALSE(o.interlaced);
    }
    auto missing = parse({"p", "f", "-i", "-scale"});
    EXPECT_TRUE(missing.scale_refused);
    EXPECT_EQ(missing.scale_text, nullptr);
    EXPECT_TRUE(missing.interlaced);
}

// The times "-start" takes (and reelrip's --from and --to), in sample frames.
TEST(PlayerOptions, StartTakesSecondsOrMinutesAndSeconds) {
    const struct {
        const char* text;
        int64_t frames; // -1: refused
    } times[] = {
        {"90", 90 * 22050},
        {"90.5", 90 * 22050 + 11025},
        {"1:30", 90 * 22050},
        {"0:05.25", 115763},
        {"0", 0},
        {"0.00001", 0},
        {"1:60", -1},
        {"1:5", -1},
        {"-1", -1},
        {"1.", -1},
        {".5", -1},
        {"1:30x", -1},
        {"", -1},
        {"1e3", -1},
        {"1:30:00", -1},
    };
    for (const auto& t : times) {
        auto o = parse({"p", "f", "-start", t.text, "-i"});
        EXPECT_EQ(o.start_refused, t.frames < 0) << t.text;
        EXPECT_EQ(o.start, t.frames < 0 ? 0 : t.frames) << t.text;
        EXPECT_STREQ(o.start_text, t.text);
        EXPECT_TRUE(o.interlaced);
    }
    EXPECT_TRUE(parse({"p", "f", "-start"}).start_refused);
    EXPECT_EQ(parse({"p", "f"}).start, 0);
}

} // namespace
