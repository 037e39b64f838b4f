// The playback cycle over the slot ring: the audio callback's copy loop and
// the display loop. The SDL calls they need come in through playback_hooks,
// so the ring logic runs the same in the player and under test.
#pragma once

#include "movie.h"

// What one event taken by the display loop asks of playback. Events that
// only concern the window (fullscreen) are handled by the player itself.
enum player_command : int32_t {
    command_none,
    command_quit,  // close button, Q, or Esc outside fullscreen
    command_pause, // Space or P: pause, or resume when paused
};

struct playback_hooks {
    void (*pause_audio)();          // the sound is over: stop asking for buffers
    void (*post_frame)();           // wake the display loop (frame_sem)
    player_command (*take_event)(); // takes at most one pending event
    // Between display passes: wait for frame_sem, an event or a short timeout,
    // whichever comes first. display_pass itself never waits.
    void (*wait_frame)();
    void (*lock_reader)(); // serialise the reader with the audio callback
    void (*unlock_reader)();
    void (*show_slot)(const FrameSlot* slot); // decode_slot_picture, then present_frame
    void (*present)();                        // present_frame alone: frame_pixels as they are
    void (*read_slot)();                      // null: read_next_slot
    // Pause (true) or resume (false) the sound device; while held, the audio
    // callback is not called at all.
    void (*hold_sound)(bool held);
    // A seek or a picture step has landed: the ring and its counters start
    // again from the slot landed on. Null: nothing to do.
    void (*landed)();
    // The slots heard so far, for a device that takes its sound well ahead of
    // playing it (the web page's): pictures show, and seeks count from, what
    // is heard rather than what was handed out. Null: slots_heard.
    int32_t (*heard)();
};
extern playback_hooks hooks;

// Largest buffer the audio callback is asked for (SDL asks for 1008 frames).
constexpr int audio_buffer_capacity = 20000;

// Set by the display loop while the user has paused the movie; cleared
// again at start. The ring and the slot positions stand still meanwhile.
extern bool paused;

// Sets the counters (and paused) to their start values and reads up to 19 slots ahead.
void prefill_ring();

// The audio callback's work: copies the slots' PCM into out (len bytes, the
// rest left as it was) and advances the ring. Returns the bytes filled; -1
// when the sound was already over (the audio was paused, running cleared).
int fill_audio(uint8_t* out, int len);

// Reads one slot through hooks.read_slot (or read_next_slot).
void read_ring_slot();

// One pass of the display loop: takes an event, shows the slots heard since
// the last pass and refills the ring. Never waits, so that a caller that
// runs once per animation frame can call it. False when the loop must end.
bool display_pass();
// The desktop's loop: passes, with hooks.wait_frame between them.
void display_loop();
