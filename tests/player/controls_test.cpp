// The volume's scaling of the sound and what the display says.
#include "controls.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

TEST(Volume, ScalesEachSampleToItsTenthsTowardZeroAndLeavesFullUntouched) {
    struct row {
        int16_t sample;
        int32_t tenths;
        int16_t expected;
    };
    const row rows[] = {
        {32767, 10, 32767},  {-32768, 10, -32768}, {-1, 10, -1},     {32767, 9, 29490},
        {-32768, 9, -29491}, {1234, 5, 617},       {-1235, 5, -617}, {9, 1, 0},
        {-9, 1, 0},          {-32768, 1, -3276},   {32767, 0, 0},    {-32768, 0, 0},
    };
    for (const row& r : rows) {
        // The sample sits between two others at an odd address, as in a mixed
        // buffer; its neighbours are scaled alike.
        uint8_t pcm[7] = {0xAA};
        int16_t three[3] = {r.sample, r.sample, r.sample};
        memcpy(pcm + 1, three, 6);
        scale_samples(pcm + 1, 6, r.tenths);
        memcpy(three, pcm + 1, 6);
        for (int16_t s : three) EXPECT_EQ(s, r.expected) << r.sample << " at " << r.tenths;
        EXPECT_EQ(pcm[0], 0xAA);
    }
}

TEST(Clock, ShowsMinutesAndWholeSecondsOfTheSoundClock) {
    struct row {
        int64_t frames;
        const char* expected;
    };
    const row rows[] = {
        {0, "0:00"},
        {22049, "0:00"},
        {22050, "0:01"},
        {59 * 22050 + 22049, "0:59"},
        {60 * 22050, "1:00"},
        {605 * 22050, "10:05"},
        {int64_t(100) * 60 * 22050, "100:00"},
        {-1, "-:--"},
    };
    for (const row& r : rows) {
        char text[32];
        format_clock(r.frames, text, sizeof text);
        EXPECT_STREQ(text, r.expected) << r.frames;
    }
}

TEST(DisplayLabel, SaysAMessageAloneElseThePauseAndTheVolumeWhenItIsNotFullOrJustChanged) {
    struct row {
        const char* message;
        bool paused, muted;
        int32_t tenths;
        bool changed;
        const char* expected;
    };
    const row rows[] = {
        {"", false, false, 10, false, ""},
        {"", false, false, 10, true, "volume 100%"},
        {"", true, false, 7, false, "paused   volume 70%"},
        {"", true, true, 7, true, "paused   muted"},
        {"a.form-0m01.000s.png", true, true, 3, true, "a.form-0m01.000s.png"},
    };
    for (const row& r : rows) {
        char text[64];
        format_osd_label(r.message, r.paused, r.muted, r.tenths, r.changed, text, sizeof text);
        EXPECT_STREQ(text, r.expected) << r.message << r.paused << r.muted << r.tenths;
    }
}

} // namespace
