// Seeks, picture steps and clips of every kind against an uninterrupted rip:
// from wherever they land, the picture on screen, every picture shown and
// every sound byte played are the rip's, byte for byte.
#include "form_writer.h"
#include "playback.h"
#include "riff_writer.h"
#include "rip.h"
#include "schl_writer.h"
#include "sead_writer.h"
#include "seek.h"

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace {

enum action_kind { seek_into_slot, step_forward, step_back };
struct action {
    action_kind kind;
    int32_t slot = 0; // seek_into_slot: the slot whose middle is the target
};

struct seek_case {
    const char* name;
    std::function<std::vector<uint8_t>()> make;
    std::vector<action> actions;
};

std::vector<uint8_t> screen;
std::vector<std::pair<int32_t, std::vector<uint8_t>>> shown;

void capture() {
    frame_to_rgb(screen.data());
}

int32_t last_picture_at_or_before(const ripped_movie& m, int32_t n) {
    for (; n >= 0; --n)
        if (m.slots[size_t(n)].has_picture) return n;
    return -1;
}

int64_t bytes_before(const ripped_movie& m, int32_t n) {
    int64_t bytes = 0;
    for (int32_t i = 0; i < n; ++i) bytes += int64_t(m.slots[size_t(i)].pcm.size());
    return bytes;
}

// The picture the rip shows at slot n: its own or the last one before it;
// black before the first.
std::vector<uint8_t> picture_at(const ripped_movie& m, int32_t n) {
    int32_t p = last_picture_at_or_before(m, n);
    if (p < 0) return std::vector<uint8_t>(screen.size(), 0);
    return m.slots[size_t(p)].rgb;
}

// Plays from where the movie stands, as the two threads do, for at most
// callbacks buffers; checks the sound against the rip from slot `from` on
// and each picture shown against the rip's.
void play_and_compare(const ripped_movie& m, int32_t from, int callbacks) {
    shown.clear();
    std::vector<uint8_t> played;
    std::vector<uint8_t> buffer(audio_buffer_capacity);
    const int len = m.info.stereo ? 4032 : 2016;
    for (int i = 0; i < callbacks && running; ++i) {
        int filled = fill_audio(buffer.data(), len);
        if (filled > 0) played.insert(played.end(), buffer.begin(), buffer.begin() + filled);
        if (running) display_pass();
    }
    const int64_t at = bytes_before(m, from);
    ASSERT_LE(at + int64_t(played.size()), int64_t(m.sound.size()));
    EXPECT_TRUE(std::equal(played.begin(), played.end(), m.sound.begin() + at))
        << "sound after landing on slot " << from;
    for (const auto& [n, rgb] : shown) {
        ASSERT_TRUE(m.slots[size_t(n)].has_picture) << n;
        EXPECT_TRUE(rgb == m.slots[size_t(n)].rgb) << "picture of slot " << n;
    }
}

void PrintTo(const seek_case& c, std::ostream* out) {
    *out << c.name;
}

class Seek : public ::testing::TestWithParam<seek_case> {};

TEST_P(Seek, LandsExactlyWhereAnUninterruptedRipIsAndClipsAreItsSlices) {
    const seek_case& c = GetParam();
    const std::vector<uint8_t> bytes = c.make();
    rip_request request;
    request.bytes = &bytes;
    const ripped_movie whole = rip_to_memory(request);
    ASSERT_EQ(whole.status, rip_done);
    const int32_t slots = int32_t(whole.slots.size());

    rip_movie_info info;
    ASSERT_EQ(rip_open(request, &info), rip_done);
    screen.assign(size_t(info.width) * size_t(info.height) * 3, 0);
    hooks = {};
    hooks.present = capture;
    hooks.show_slot = [](const FrameSlot* s) {
        decode_slot_picture(s);
        capture();
        shown.emplace_back(shown_slot.load(), screen);
    };
    prefill_ring();
    running = true;
    for (size_t i = 0; i < c.actions.size(); ++i) {
        const action& a = c.actions[i];
        int32_t expect;
        const int32_t on_screen = last_picture_at_or_before(whole, slot_on_screen());
        if (a.kind == seek_into_slot) {
            const ripped_slot& s = whole.slots[size_t(a.slot)];
            expect = a.slot;
            EXPECT_EQ(seek_to_frame(s.start_frame + s.frames / 2), expect);
        } else if (a.kind == step_forward) {
            expect = slot_on_screen();
            for (int32_t n = expect + 1; n < slots; ++n)
                if (whole.slots[size_t(n)].has_picture) {
                    expect = n;
                    break;
                }
            EXPECT_EQ(step_picture(+1), expect);
        } else {
            expect = slot_on_screen();
            for (int32_t n = on_screen - 1; n >= 0; --n)
                if (whole.slots[size_t(n)].has_picture) {
                    expect = n;
                    break;
                }
            EXPECT_EQ(step_picture(-1), expect);
        }
        ASSERT_EQ(slot_on_screen(), expect) << "action " << i;
        EXPECT_TRUE(screen == picture_at(whole, expect)) << "picture on landing, action " << i;
        const bool last = i + 1 == c.actions.size();
        play_and_compare(whole, expect, last ? 1 << 20 : 12);
    }
    EXPECT_FALSE(running) << "played to the end";
    rip_close();
    hooks = {};

    // A clip of the middle third: the same slots, renumbered, its first slot
    // opening on the picture on screen there.
    const int32_t first = slots / 3, end = 2 * slots / 3;
    request.from_frame = whole.slots[size_t(first)].start_frame + 1;
    request.to_frame = whole.slots[size_t(end)].start_frame;
    const ripped_movie clip = rip_to_memory(request);
    ASSERT_EQ(clip.status, rip_done);
    ASSERT_EQ(int32_t(clip.slots.size()), end - first);
    const int64_t clip_start = bytes_before(whole, first);
    for (int32_t n = first; n < end; ++n) {
        const ripped_slot& got = clip.slots[size_t(n - first)];
        const ripped_slot& want = whole.slots[size_t(n)];
        EXPECT_EQ(got.number, n - first);
        EXPECT_EQ(got.start_frame,
                  (bytes_before(whole, n) - clip_start) / whole.info.frame_bytes());
        EXPECT_TRUE(got.pcm == want.pcm) << n;
        if (n > first) {
            EXPECT_EQ(got.has_picture, want.has_picture) << n;
            EXPECT_TRUE(got.rgb == want.rgb) << n;
        } else {
            EXPECT_EQ(got.has_picture, last_picture_at_or_before(whole, n) >= 0);
            if (got.has_picture) {
                EXPECT_TRUE(got.rgb == picture_at(whole, n));
            }
        }
    }
}

// SCHl pictures cut short run on into the bytes their ring entry kept from
// the slot a ring's length before, which a landing must put back.
std::vector<uint8_t> schl_movie_with_short_pictures() {
    schl_movie_content movie;
    constexpr int slots = 60;
    for (int s = 0; s < slots; ++s) {
        std::vector<uint8_t> rgb = make_schl_scene(movie.width, movie.height, s * 0.07);
        std::vector<uint8_t> coded =
            encode_schl_picture(schl_planes_from_rgb(rgb.data(), movie.width, movie.height));
        if (s % 7 == 5) coded.resize(coded.size() / 3);
        movie.pictures.push_back(coded);
    }
    for (int i = 0; i < slots * movie.frames_per_slot; ++i)
        movie.sound.push_back(int16_t((i * 37) % 4000 - 2000));
    return write_schl_movie(movie);
}

// FORM: palettes switch at slots 40 and 80; SEAD: key frames every 40 slots,
// block frames between; RIFF: the codec library's pictures; SCHl: stereo.
const seek_case cases[] = {
    {"form",
     [] { return make_form_demo_movie(0); },
     {{seek_into_slot, 40},
      {seek_into_slot, 100},
      {seek_into_slot, 41},
      {step_back},
      {step_back},
      {step_forward},
      {seek_into_slot, 0},
      {seek_into_slot, 79}}},
    {"sead",
     [] { return make_sead_demo_movie(); },
     {{seek_into_slot, 80},
      {seek_into_slot, 41},
      {seek_into_slot, 150},
      {step_forward},
      {step_back},
      {seek_into_slot, 3},
      {seek_into_slot, 120}}},
    {"riff",
     [] { return make_riff_demo_movie(); },
     {{seek_into_slot, 31},
      {seek_into_slot, 7},
      {step_forward},
      {step_forward},
      {step_back},
      {seek_into_slot, 45}}},
    {"schl_short_pictures",
     schl_movie_with_short_pictures,
     {{seek_into_slot, 40}, {seek_into_slot, 26}, {step_forward}, {seek_into_slot, 47}}},
    {"schl_stereo",
     [] { return make_schl_demo_movie(1); },
     {{seek_into_slot, 30},
      {seek_into_slot, 2},
      {step_back},
      {step_forward},
      {seek_into_slot, 20}}},
};

// The sound thread plays under the reader lock, as the sound device's does,
// while the display thread shows, indexes and seeks: the sound from the last
// landing on is the rip's.
TEST(SeekWhilePlaying, SoundThreadHearsTheLandingExactly) {
    const std::vector<uint8_t> bytes = make_sead_demo_movie();
    rip_request request;
    request.bytes = &bytes;
    const ripped_movie whole = rip_to_memory(request);
    rip_movie_info info;
    ASSERT_EQ(rip_open(request, &info), rip_done);
    static std::recursive_mutex reader_lock;
    hooks = {};
    hooks.lock_reader = [] { reader_lock.lock(); };
    hooks.unlock_reader = [] { reader_lock.unlock(); };
    hooks.show_slot = decode_slot_picture;
    prefill_ring();
    running = true;
    std::vector<uint8_t> played;
    // The sound may reach the end before the last seek when the display
    // thread gets little time: it waits there for the seeks, as a sound
    // device goes on asking.
    std::atomic<bool> seeking{true};
    std::thread sound([&] {
        uint8_t buffer[4032];
        for (;;) {
            {
                std::lock_guard<std::recursive_mutex> hold(reader_lock);
                const int filled = fill_audio(buffer, sizeof buffer);
                if (filled < 0 && !seeking) return;
                if (filled > 0) {
                    played.insert(played.end(), buffer, buffer + filled);
                    continue;
                }
            }
            std::this_thread::yield();
        }
    });
    size_t mark = 0;
    int32_t landed = 0;
    for (int i = 0; display_pass(); ++i) {
        if (i % 500 == 0 && i <= 2000) {
            std::lock_guard<std::recursive_mutex> hold(reader_lock);
            const ripped_slot& s = whole.slots[size_t((i * 37 + 20) % 150)];
            landed = seek_to_frame(s.start_frame);
            mark = played.size();
            seeking = i < 2000;
        }
        std::this_thread::yield();
    }
    seeking = false;
    sound.join();
    rip_close();
    hooks = {};
    const int64_t at = bytes_before(whole, landed);
    ASSERT_EQ(int64_t(played.size() - mark), int64_t(whole.sound.size()) - at);
    EXPECT_TRUE(std::equal(played.begin() + long(mark), played.end(), whole.sound.begin() + at));
}

INSTANTIATE_TEST_SUITE_P(EveryKind, Seek, ::testing::ValuesIn(cases),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
