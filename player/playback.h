// The playback cycle over the slot ring: the audio callback's copy loop and
// the display loop. The SDL calls they need come in through playback_hooks,
// so the ring logic runs the same in the player and under test.
#pragma once

#include "movie.h"

struct playback_hooks {
    void (*pause_audio)();    // the sound is over: stop asking for buffers
    void (*post_frame)();     // wake the display loop (frame_sem)
    bool (*quit_requested)(); // one pending event taken: was it the close button?
    void (*wait_frame)();     // block on frame_sem
    void (*lock_reader)();    // serialise the reader with the audio callback
    void (*unlock_reader)();
    void (*show_slot)(const FrameSlot* slot); // decode_slot_picture, then present_frame
    // The display has shown every slot and waits for the last sound to end;
    // the player sleeps briefly here instead of spinning on running.
    void (*drain_wait)();
    void (*read_slot)(); // null: read_next_slot
};
extern playback_hooks hooks;

// Largest buffer the audio callback is asked for (SDL asks for 1008 frames).
constexpr int audio_buffer_capacity = 20000;

// Sets the counters to their start values and reads up to 19 slots ahead.
void prefill_ring();

// The audio callback's work: copies the slots' PCM into out (len bytes, the
// rest left as it was) and advances the ring. Returns the bytes filled; -1
// when the sound was already over (the audio was paused, running cleared).
int fill_audio(uint8_t* out, int len);

// One pass of the display loop (steps 1 to 4). False when the loop must end.
bool display_pass();
void display_loop();
