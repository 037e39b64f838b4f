#include "playback.h"

#include "seek.h"

#include <algorithm>
#include <cstring>

playback_hooks hooks;
bool paused;

void read_ring_slot() {
    if (hooks.read_slot)
        hooks.read_slot();
    else
        read_next_slot();
}

void prefill_ring() {
    reset_ring_counters();
    running = false;
    paused = false;
    for (int i = 0; i < prefill_slots && !at_end; ++i) read_ring_slot();
}

int fill_audio(uint8_t* out, int len) {
    int32_t playing = audio_slot;
    if (playing > slots_read || (at_end && playing > last_slot)) {
        if (hooks.pause_audio) hooks.pause_audio();
        running = false;
        return -1;
    }
    len = std::min(len, audio_buffer_capacity);
    int filled = 0;
    int wanted = len;
    while (wanted > 0) {
        FrameSlot& s = slot_ring[audio_slot % ring_size];
        // A damaged slot can never claim more sound than its buffer holds.
        int start = std::clamp(s.sound_total - s.sound_left, 0, sound_capacity);
        s.sound_left = std::clamp(s.sound_left, 0, sound_capacity - start);
        int n = std::min(wanted, s.sound_left);
        memcpy(out + filled, s.sound + start, size_t(n));
        s.sound_left -= n;
        wanted -= n;
        filled += n;
        if (s.sound_left == 0) {
            bool advanced = false;
            if (audio_slot < slots_read) {
                audio_slot.fetch_add(1);
                advanced = true;
            }
            slots_heard.fetch_add(1);
            if (advanced && hooks.post_frame) hooks.post_frame();
        }
        if (at_end) {
            if (audio_slot > last_slot) break;
        } else if (audio_slot == slots_read) {
            read_ring_slot();
        }
    }
    return filled;
}

// The reader may fill slot slots_read only once the slot a ring's length
// before it, whose entry it takes, is no longer the one being heard.
static bool ring_has_room() {
    return slots_read < audio_slot + ring_size;
}

static int32_t heard_so_far() {
    return hooks.heard ? hooks.heard() : slots_heard.load();
}

bool display_pass() {
    player_command command = hooks.take_event ? hooks.take_event() : command_none;
    if (command == command_quit) return false;
    if (command == command_pause) {
        paused = !paused;
        if (hooks.hold_sound) hooks.hold_sound(paused);
    }
    // The slot index grows a little on every pass, while there is time.
    index_some_slots();
    if (paused) {
        // The callback is held: no slot is heard, read or shown until resumed.
        // A movie whose sound was over before the pause still ends.
        return running;
    }
    int32_t heard = heard_so_far();
    int32_t shown = shown_slot;
    while (heard > shown) {
        if (!running) return false;
        bool stepped = false;
        if (slots_read > audio_slot) {
            stepped = true;
            int32_t step = heard - shown > ring_size ? heard : shown + 1;
            // The callback may read a slot into this entry meanwhile when the
            // display has fallen a ring's length behind: the entry is read
            // under the reader lock.
            if (hooks.lock_reader) hooks.lock_reader();
            const FrameSlot* slot = &slot_ring[step % ring_size];
            if (movie_width < 1 || movie_height < 1 || slot->video_length < 1) {
                shown_slot = shown + 1;
            } else {
                shown_slot = step;
                if (hooks.show_slot) hooks.show_slot(slot);
            }
            if (hooks.unlock_reader) hooks.unlock_reader();
        }
        if (!at_end) {
            if (hooks.lock_reader) hooks.lock_reader();
            // The callback may have met the end while this thread waited for the lock.
            if (!at_end && ring_has_room()) read_ring_slot();
            if (hooks.unlock_reader) hooks.unlock_reader();
        } else if (!stepped) {
            // The last slots play on: the caller waits and comes back.
            break;
        }
        heard = heard_so_far();
        shown = shown_slot;
    }
    return running;
}

void display_loop() {
    while (display_pass()) {
        if (hooks.wait_frame) hooks.wait_frame();
    }
}
