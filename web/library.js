// The module's own ways out to the browser, called from main.cpp: the sound
// through Web Audio, with the clock the pictures follow, and the pictures
// onto the canvas. emscripten's SDL keeps only the canvas's size and the keys.
//
// The sound is handed out in blocks scheduled back to back a little ahead of
// what plays, so that a late timer is not heard. What is heard is known from
// the audio context's own clock: `reel.heard()` tells how many of the bytes
// handed out since the last landing have been heard, and the pictures wait
// for that rather than for the handing out.
mergeInto(LibraryManager.library, {
  $reel: {
    audio: null,
    // The volume, between the blocks and the output.
    gain: null,
    tenths: 10,
    channels: 1,
    frames: 0,
    planes: [],
    bytesPerSecond: 0,
    // Whether blocks are to be handed out: a movie plays, not paused.
    flowing: false,
    // The sound of the movie is handed out in full.
    over: false,
    pumpTimer: 0,
    wakeTimer: 0,
    // Scheduled blocks not yet over, to be stopped at a landing: [source, end].
    queued: [],
    // Where the next block starts on the context's clock, 0 while nothing is
    // queued; bytes handed out since the last landing; and one moment at
    // which the bytes handed out until then start playing, after the last
    // gap in the queue.
    next: 0,
    handed: 0,
    anchorTime: 0,
    anchorBytes: 0,
    picture: null,
    context2d: null,

    // How far ahead of the context's clock blocks are handed out, and the
    // room a queue that starts (or starts again) leaves before the first.
    lead: 0.2,
    startRoom: 0.03,

    // A picture put on the canvas now is seen about a frame later: the
    // pictures go by the sound heard this much ahead.
    seenAhead: 0.016,

    // The moment of the sound heard now, on the context's clock. Its own
    // time runs ahead of that by the output's latency and moves in steps of
    // what it renders at once; the output's timestamp tells it better.
    heardTime: function() {
      var audio = reel.audio;
      var stamp = audio.state === 'running' && audio.getOutputTimestamp ?
        audio.getOutputTimestamp() : null;
      var time = audio.currentTime - (audio.outputLatency || 0);
      if (stamp && stamp.performanceTime > 0)
        time = stamp.contextTime + Math.max(0, performance.now() - stamp.performanceTime) / 1000;
      return time;
    },

    // Bytes heard `ahead` seconds from now, of those handed out.
    heard: function(ahead) {
      if (!reel.audio || reel.next === 0) return reel.handed;
      var played = (reel.heardTime() + ahead - reel.anchorTime) * reel.bytesPerSecond;
      return Math.min(reel.handed, reel.anchorBytes + Math.max(0, played));
    },

    // A display pass once bytes are heard `ahead` seconds from now: a timer
    // to then, then the next animation frame. Nothing while paused, where
    // the clock stands.
    wakeAt: function(bytes, ahead) {
      clearTimeout(reel.wakeTimer);
      reel.wakeTimer = 0;
      if (!reel.flowing || !reel.audio) return;
      var seconds = reel.next === 0 ? 0.02 : reel.anchorTime - reel.heardTime() - ahead +
        (bytes - reel.anchorBytes) / reel.bytesPerSecond;
      reel.wakeTimer = setTimeout(_web_wake, Math.max(0, seconds * 1000));
    },

    pump: function() {
      reel.pumpTimer = 0;
      if (!reel.flowing || reel.over) return;
      var audio = reel.audio;
      var now = audio.currentTime;
      var seconds = reel.frames / 22050;
      while (reel.queued.length && reel.queued[0][1] <= now) reel.queued.shift();
      if (reel.next < now + 0.005) {
        // Nothing queued: a start, a landing, or a queue that ran dry, whose
        // sound has all been heard.
        reel.next = now + reel.startRoom;
        reel.anchorTime = reel.next;
        reel.anchorBytes = reel.handed;
      }
      while (reel.next < now + reel.lead) {
        var filled = _web_fill_sound();
        if (filled < 0) {
          reel.over = true;
          break;
        }
        var buffer = audio.createBuffer(reel.channels, reel.frames, 22050);
        for (var c = 0; c < reel.channels; ++c) buffer.copyToChannel(reel.planes[c], c);
        var source = audio.createBufferSource();
        source.buffer = buffer;
        source.connect(reel.gain);
        source.start(reel.next);
        reel.next += seconds;
        reel.queued.push([source, reel.next]);
        reel.handed += filled;
      }
      if (!reel.over)
        reel.pumpTimer = setTimeout(reel.pump,
          Math.max(10, (reel.next - now - reel.lead) * 1000 + seconds * 500));
    },

    stopQueued: function() {
      reel.queued.forEach(function(q) { q[0].stop(); });
      reel.queued = [];
      reel.next = 0;
    },
  },

  // Made once, when the page has loaded: made outside a gesture the context
  // starts suspended, and the gesture that plays has only to resume it. Made
  // within that gesture instead, it holds the page up while the browser
  // opens its sound device.
  web_sound_prepare__deps: ['$reel'],
  web_sound_prepare: function() {
    if (reel.audio) return;
    var Context = window.AudioContext || window.webkitAudioContext;
    if (!Context) return;
    // At the movies' own rate the context mixes a quarter as many samples
    // and resamples once, at the output, rather than each block. Large
    // buffers wake its thread less often; the pictures follow the sound
    // heard, whatever the latency.
    try {
      reel.audio = new Context({sampleRate: 22050, latencyHint: 'playback'});
    } catch (e) {
      reel.audio = new Context();
    }
    reel.gain = reel.audio.createGain();
    reel.gain.gain.value = reel.tenths / 10;
    reel.gain.connect(reel.audio.destination);
  },

  // The volume in tenths (0 silent, 10 the movie's own samples), heard at
  // once, on what is already queued too.
  web_sound_gain__deps: ['$reel'],
  web_sound_gain: function(tenths) {
    reel.tenths = tenths;
    if (reel.gain) reel.gain.gain.value = tenths / 10;
  },

  // A movie's sound starts: channels, blocks of `frames` sample frames whose
  // planes the module fills at `planes` (one after the other, 32-bit floats).
  // Within the user's gesture, which is what lets the context run.
  web_sound_open__deps: ['$reel', 'web_sound_prepare'],
  web_sound_open: function(channels, planes, frames) {
    _web_sound_prepare();
    if (!reel.audio) return 0;
    reel.audio.resume();
    reel.channels = channels;
    reel.frames = frames;
    reel.planes = [];
    for (var c = 0; c < channels; ++c)
      reel.planes.push(HEAPF32.subarray((planes >> 2) + c * frames, (planes >> 2) + (c + 1) * frames));
    reel.bytesPerSecond = 22050 * 2 * channels;
    reel.over = false;
    reel.handed = 0;
    reel.stopQueued();
    return 1;
  },

  // Blocks flow (or stop, paused: the context stops where it is, with what
  // it holds, and goes on from there).
  web_sound_flow__deps: ['$reel'],
  web_sound_flow: function(flowing) {
    reel.flowing = !!flowing;
    clearTimeout(reel.pumpTimer);
    clearTimeout(reel.wakeTimer);
    reel.pumpTimer = reel.wakeTimer = 0;
    if (!reel.audio) return;
    if (flowing) {
      reel.audio.resume();
      // Not from within the module's call: the pump calls the module back.
      reel.pumpTimer = setTimeout(reel.pump, 0);
    } else {
      reel.audio.suspend();
    }
  },

  // A landing: what was handed out is not to be heard any more; the sound
  // starts again from the slot landed on.
  web_sound_land__deps: ['$reel'],
  web_sound_land: function() {
    reel.stopQueued();
    reel.handed = 0;
    reel.over = false;
    clearTimeout(reel.pumpTimer);
    reel.pumpTimer = 0;
    if (reel.flowing) reel.pumpTimer = setTimeout(reel.pump, 0);
  },

  web_sound_close__deps: ['$reel', 'web_sound_flow'],
  web_sound_close: function() {
    _web_sound_flow(0);
    reel.stopQueued();
  },

  // Bytes of the movie's sound heard, for the pictures, since the last
  // landing (or the start), of those handed out.
  web_sound_heard__deps: ['$reel'],
  web_sound_heard: function() {
    return reel.heard(reel.seenAhead);
  },

  // Everything handed out has been heard.
  web_sound_played_out__deps: ['$reel'],
  web_sound_played_out: function() {
    return reel.heard(0) >= reel.handed ? 1 : 0;
  },

  // A display pass when the pictures' clock reaches bytes.
  web_wake_at__deps: ['$reel'],
  web_wake_at: function(bytes) {
    reel.wakeAt(bytes, reel.seenAhead);
  },

  // A display pass when everything handed out has been heard.
  web_wake_at_end__deps: ['$reel'],
  web_wake_at_end: function() {
    reel.wakeAt(reel.handed, 0);
  },

  // The picture: width x height RGBA pixels at `pixels`, straight from the
  // module's memory (which never grows, so the view stays valid).
  web_show_picture__deps: ['$reel'],
  web_show_picture: function(pixels, width, height) {
    var image = reel.picture;
    if (!image || image.width !== width || image.height !== height ||
        image.data.byteOffset !== pixels) {
      image = reel.picture = new ImageData(
        new Uint8ClampedArray(HEAPU8.buffer, pixels, width * height * 4), width, height);
      reel.context2d = Module['canvas'].getContext('2d');
    }
    reel.context2d.putImageData(image, 0, 0);
  },
});
