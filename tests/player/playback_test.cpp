// The slot ring driven by hand: a scripted reader, the audio callback's copy
// loop and display passes run on one thread, in the order a test chooses.
#include "formats/common/chunk_io.h"
#include "playback.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

struct scripted_slot {
    int sound_bytes;
    bool picture;
};

std::vector<scripted_slot> script;
int reader_calls;
int posts;
int pauses;
std::vector<int32_t> shown;         // slot numbers handed to show_slot, in order
std::vector<player_command> events; // what take_event hands the display loop, in order
std::vector<bool> holds;            // hold_sound's arguments, in order
int frame_waits;
int overruns; // slots read into an entry whose slot was not yet heard

// Sound byte i of slot n is (n * 7 + i) & 0xFF, so a mixed-up order is seen.
uint8_t sound_byte(int n, int i) {
    return uint8_t(n * 7 + i);
}

void scripted_reader() {
    ++reader_calls;
    ASSERT_FALSE(at_end) << "the reader must not be called after the end";
    int n = slots_read;
    if (n >= ring_size && n - ring_size >= audio_slot) ++overruns;
    if (n >= int(script.size())) {
        end_movie();
        return;
    }
    FrameSlot& s = next_slot();
    s.video_length = script[n].picture ? 1 : 0;
    s.video[0] = uint8_t(n);
    s.palette_index = n; // lets show_slot recover the slot number
    for (int i = 0; i < script[n].sound_bytes; ++i) s.sound[i] = sound_byte(n, i);
    s.sound_left = s.sound_total = script[n].sound_bytes;
    count_slot();
}

std::vector<uint8_t> played;

int run_callback(int len = 2016) {
    std::vector<uint8_t> buf(audio_buffer_capacity, 0);
    int filled = fill_audio(buf.data(), len);
    if (filled > 0) played.insert(played.end(), buf.begin(), buf.begin() + filled);
    return filled;
}

class Playback : public ::testing::Test {
  protected:
    void SetUp() override {
        reset_movie_state();
        movie_width = 320;
        movie_height = 165;
        script.clear();
        shown.clear();
        played.clear();
        reader_calls = posts = pauses = frame_waits = overruns = 0;
        events.clear();
        holds.clear();
        hooks = {};
        hooks.take_event = [] {
            if (events.empty()) return command_none;
            player_command c = events.front();
            events.erase(events.begin());
            return c;
        };
        hooks.hold_sound = [](bool held) { holds.push_back(held); };
        hooks.wait_frame = [] { ++frame_waits; };
        hooks.read_slot = scripted_reader;
        hooks.post_frame = [] { ++posts; };
        hooks.pause_audio = [] { ++pauses; };
        hooks.show_slot = [](const FrameSlot* s) { shown.push_back(s->palette_index); };
    }
    void TearDown() override { hooks = {}; }

    void start() {
        prefill_ring();
        running = true;
    }

    // Plays to the end the way the two threads would in steady play: one
    // callback, then the display catches up; bounded so a fault cannot hang.
    void play_to_end() {
        for (int i = 0; i < 100000 && running; ++i) {
            run_callback();
            if (running) display_pass();
        }
        ASSERT_FALSE(running);
    }

    std::vector<uint8_t> expected_sound() const {
        std::vector<uint8_t> out;
        for (size_t n = 0; n < script.size(); ++n)
            for (int i = 0; i < script[n].sound_bytes; ++i) out.push_back(sound_byte(int(n), i));
        return out;
    }
};

TEST_F(Playback, ShortMovieMeetsItsEndDuringPrefillAndStillPlaysEverySlot) {
    script.assign(5, {2968, true});
    start();
    EXPECT_EQ(slots_read, 5);
    EXPECT_TRUE(at_end);
    EXPECT_EQ(last_slot, 4);
    EXPECT_EQ(reader_calls, 6);

    display_pass(); // the semaphore's start value lets the first picture show at once
    play_to_end();
    EXPECT_EQ(reader_calls, 6) << "nothing may be read after the end";
    EXPECT_EQ(played, expected_sound());
    EXPECT_EQ(shown, (std::vector<int32_t>{0, 1, 2, 3, 4}));
    EXPECT_EQ(pauses, 1);
}

TEST_F(Playback, LongMovieKeepsTheReaderNineteenSlotsAheadAndShowsEverySlotInOrder) {
    script.assign(60, {2968, true});
    start();
    EXPECT_EQ(slots_read, prefill_slots);
    EXPECT_FALSE(at_end);
    display_pass();
    EXPECT_EQ(slots_read, 20);
    play_to_end();
    EXPECT_EQ(played, expected_sound());
    ASSERT_EQ(shown.size(), 60u);
    for (int n = 0; n < 60; ++n) EXPECT_EQ(shown[n], n);
    EXPECT_EQ(posts, 60);
}

TEST_F(Playback, EmptySoundSlotIsPassedOverInTheSameBuffer) {
    script = {{2968, true}, {0, true}, {0, false}, {2968, true}};
    start();
    int filled = run_callback(4000); // 2968 of slot 0, then slot 3 starts in the same buffer
    EXPECT_EQ(filled, 4000);
    EXPECT_EQ(audio_slot, 3);
    EXPECT_EQ(slots_heard, 3);
    display_pass();
    // The empty slot's picture shows in the same pass as the next ones; the
    // slot without a picture is only counted.
    EXPECT_EQ(shown, (std::vector<int32_t>{0, 1, 3}));
    EXPECT_EQ(shown_slot, 3);
    play_to_end();
    EXPECT_EQ(played, expected_sound());
}

TEST_F(Playback, DisplayHeldUpForTenSlotsDecodesEveryMissedSlot) {
    script.assign(80, {2016, true}); // one slot per callback
    start();
    display_pass();
    ASSERT_EQ(shown, std::vector<int32_t>{0});
    for (int i = 0; i < 10; ++i) run_callback();
    display_pass();
    std::vector<int32_t> expect;
    for (int n = 0; n <= 10; ++n) expect.push_back(n);
    EXPECT_EQ(shown, expect);
}

TEST_F(Playback, DisplayHeldUpForThirtySlotsJumpsToTheNewestSlotHeard) {
    script.assign(80, {2016, true});
    start();
    display_pass();
    // The reader keeps up from the callback while the display is held up.
    for (int i = 0; i < 30; ++i) run_callback();
    EXPECT_EQ(slots_heard, 30);
    display_pass();
    ASSERT_GE(shown.size(), 2u);
    EXPECT_EQ(shown[1], 30) << "more than 20 slots behind: skip to the newest heard";
    play_to_end();
    EXPECT_EQ(played, expected_sound());
}

// However long the display stalls, the reader never takes the entry of a
// slot not yet heard, and the sound stays whole and in order; with pictures
// and without.
TEST_F(Playback, StallOfAnyLengthNeverOverrunsTheRing) {
    for (int pictures = 0; pictures < 2; ++pictures) {
        for (int stall = 0; stall <= 45; ++stall) {
            SetUp();
            if (!pictures) movie_width = 0;
            script.assign(90, {2016, true}); // one slot per callback
            start();
            display_pass();
            for (int i = 0; i < stall && running; ++i) run_callback();
            play_to_end();
            EXPECT_EQ(overruns, 0) << "stall " << stall;
            EXPECT_EQ(played, expected_sound()) << "stall " << stall;
            EXPECT_LE(slots_read - audio_slot, ring_size);
        }
    }
}

TEST_F(Playback, MovieWithoutPicturesStepsThroughItsSlotsWithoutDrawing) {
    movie_width = 0;
    script.assign(30, {2968, true});
    start();
    display_pass();
    play_to_end();
    EXPECT_TRUE(shown.empty());
    EXPECT_EQ(played, expected_sound());
    EXPECT_EQ(reader_calls, 31);
}

TEST_F(Playback, NoSlotsAtAllEndsAtTheFirstCallback) {
    start();
    EXPECT_TRUE(at_end);
    EXPECT_EQ(last_slot, -1);
    EXPECT_EQ(run_callback(), -1);
    EXPECT_FALSE(running);
    EXPECT_EQ(pauses, 1);
    EXPECT_FALSE(display_pass());
    EXPECT_TRUE(shown.empty());
}

TEST_F(Playback, CallbackReadsWhenTheReaderHasFallenBehindTheSound) {
    script.assign(40, {1000, true});
    start();
    // Without display passes the callback alone must keep the sound going.
    for (int i = 0; i < 30 && running; ++i) run_callback();
    EXPECT_FALSE(running);
    EXPECT_EQ(slots_read, 40);
    EXPECT_EQ(played, expected_sound());
}

TEST_F(Playback, EndSequenceLeavesTheLastPictureForItsSoundThenStops) {
    script.assign(3, {2968, true});
    start();
    display_pass();
    int callbacks = 0;
    while (running && callbacks < 100) {
        ++callbacks;
        if (run_callback() < 0) break;
        display_pass();
    }
    EXPECT_FALSE(running);
    EXPECT_EQ(shown, (std::vector<int32_t>{0, 1, 2}));
    // 3 x 2968 bytes need 5 buffers of 2016; the sixth finds the sound over.
    EXPECT_LE(callbacks, 6);
    EXPECT_EQ(pauses, 1);
}

TEST_F(Playback, DamagedSlotCannotMakeTheCallbackReadPastItsSound) {
    script.assign(2, {100, true});
    start();
    slot_ring[0].sound_total = sound_capacity + 5000;
    slot_ring[0].sound_left = sound_capacity + 5000;
    for (int i = 0; i < 200 && running; ++i) run_callback(4032);
    EXPECT_FALSE(running);
}

// The user's pause, driven as the player does it: while held, the device
// asks for no sound, so the test runs no callbacks between the two presses.
TEST_F(Playback, PauseAndResumeMidMovieGivesTheSameSoundAndSlotsAsAnUninterruptedRun) {
    script.assign(60, {2968, true});
    start();
    display_pass();
    for (int i = 0; i < 23; ++i) { // part way into slot 15, with a slot heard but not yet shown
        run_callback();
        if (i < 22) display_pass();
    }
    ASSERT_GT(slots_heard, shown_slot);
    const int32_t heard = slots_heard, read = slots_read;
    const size_t shown_before = shown.size();
    const int waits = frame_waits;
    events = {command_pause};
    for (int i = 0; i < 5; ++i) EXPECT_TRUE(display_pass());
    EXPECT_EQ(holds, std::vector<bool>{true});
    EXPECT_EQ(frame_waits, waits) << "a paused pass must not wait for a frame nobody posts";
    EXPECT_EQ(shown.size(), shown_before);
    EXPECT_EQ(slots_read, read);
    EXPECT_EQ(slots_heard, heard);

    events = {command_pause};
    display_pass();
    EXPECT_EQ(holds, (std::vector<bool>{true, false}));
    play_to_end();
    EXPECT_EQ(played, expected_sound());
    ASSERT_EQ(shown.size(), 60u);
    for (int n = 0; n < 60; ++n) EXPECT_EQ(shown[size_t(n)], n);
    EXPECT_EQ(reader_calls, 61);
}

TEST_F(Playback, PauseWhileTheLastSoundPlaysHoldsTheEndAndAPauseAfterItDoesNot) {
    script.assign(3, {2968, true});
    start();
    display_pass();
    while (audio_slot < last_slot) {
        run_callback();
        display_pass();
    }
    events = {command_pause};
    EXPECT_TRUE(display_pass());
    EXPECT_TRUE(display_pass());
    EXPECT_TRUE(running);
    events = {command_pause};
    display_pass();
    play_to_end();
    EXPECT_EQ(played, expected_sound());
    EXPECT_EQ(shown, (std::vector<int32_t>{0, 1, 2}));

    // Over already (the callback found the end) when the key comes: it ends.
    events = {command_pause};
    EXPECT_FALSE(display_pass());
}

TEST_F(Playback, QuitWhilePausedEndsAtOnce) {
    script.assign(60, {2968, true});
    start();
    display_pass();
    run_callback();
    events = {command_pause, command_none, command_quit};
    EXPECT_TRUE(display_pass());
    EXPECT_TRUE(display_pass());
    const int reads = reader_calls;
    EXPECT_FALSE(display_pass());
    EXPECT_TRUE(paused) << "the player lets go of the held sound at shutdown";
    EXPECT_EQ(reader_calls, reads);
    EXPECT_EQ(shown, std::vector<int32_t>{0});
}

} // namespace
