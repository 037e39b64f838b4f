#include "export_webm.h"

#include "formats/common/chunk_io.h"
#include "rip_files.h"
#include "webm_writer.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <deque>
#include <mutex>
#include <opus/opus.h>
#include <soxr.h>
#include <thread>
#include <vpx/vp8cx.h>
#include <vpx/vpx_encoder.h>

namespace {

constexpr int32_t movie_rate = 22050;
constexpr int32_t opus_rate = 48000;
constexpr int32_t opus_frame = 960; // 20 ms, the usual Opus packet
constexpr int64_t ns_per_ms = 1000000;
// The exact file keeps every instant of the timeline: slots one sample
// (45 us) apart keep their own times.
constexpr int64_t exact_tick_ns = 10000;
// WebM pictures are coded at the real-time deadline, speed 6: about three
// times faster than the good-quality one at its fastest (5) for a few percent
// more bytes at the same quality. Lossless pictures are coded at the
// good-quality deadline, speed 5: smooth pictures (under 0.1 bytes a pixel)
// come out 20 to 40% smaller than in real time at speed 8, at a third of its
// speed. Busy pictures gain little from the finer searches (the SCHl demo
// movies 5% at 1.3 bytes a pixel, noise-like ones nothing), so after an inter
// picture of more than noisy_bytes_per_pixel the next ones are coded in real
// time until one is smaller again: three to four times faster. Busy lossless
// pictures come out 5 to 20% smaller at speed 7 than at 8, as fast; lossy
// ones are smaller and faster at 8.
constexpr int webm_speed = 6;
constexpr int exact_speed = 5;
constexpr int webm_noisy_speed = 8;
constexpr int exact_noisy_speed = 7;
constexpr double webm_noisy_bytes_per_pixel = 0.2;
constexpr double exact_noisy_bytes_per_pixel = 0.5;

// Fixed-point BT.601 studio-range coefficients (16 fractional bits).
constexpr int32_t fix(double v) {
    return int32_t(v * 65536.0 + (v < 0 ? -0.5 : 0.5));
}
constexpr double luma_scale = 219.0 / 255.0;
constexpr double chroma_scale = 224.0 / 255.0;
constexpr int32_t y_r = fix(0.299 * luma_scale), y_g = fix(0.587 * luma_scale),
                  y_b = fix(0.114 * luma_scale);
// The middle term of each chroma row is what makes grey exactly 128.
constexpr int32_t u_r = fix(-0.168736 * chroma_scale), u_b = fix(0.5 * chroma_scale),
                  u_g = -u_r - u_b;
constexpr int32_t v_r = fix(0.5 * chroma_scale), v_b = fix(-0.081312 * chroma_scale),
                  v_g = -v_r - v_b;

uint8_t clamp_byte(int32_t v) {
    return uint8_t(std::clamp(v, 0, 255));
}

// A time on the movie's sound clock in whole ticks of the file.
int64_t frame_ticks(int64_t sample_frame, int64_t tick_ns) {
    const int64_t per_tick = int64_t(movie_rate) * tick_ns;
    return (sample_frame * 1000000000 + per_tick / 2) / per_tick;
}

// Pictures are coded in segments of at most segment_pictures, each starting
// with a key picture, by up to one encoder per core (a lane): VP9 codes one
// picture after another, and at these sizes its own threads leave a second
// core mostly idle. A lane keeps a whole segment's images, so that the
// reading thread fills the next lane's segment while this one codes; the
// lanes' packets reach the file in segment order. Shorter movies get shorter
// segments, down to shortest_segment, so that every lane has as many
// pictures to code: a key picture more in a lossless file of the demo movies
// costs about 20 KB.
constexpr int32_t segment_pictures = 75;
constexpr int32_t shortest_segment = 15;
constexpr int32_t most_lanes = 4;
constexpr int32_t lane_images = segment_pictures + 2;
// The images of all lanes together stay within this; larger pictures get
// fewer lanes, at least one.
constexpr double image_budget_bytes = 192.0 * 1024 * 1024;

// A picture for a lane: an image of its ring with its time and segment, or
// (image -1) the end, after which the lane's thread returns.
struct picture_job {
    int32_t image = -1;
    int64_t start = 0;
    int64_t duration = 0;
    int32_t segment = 0;
    bool first = false; // of its segment: coded as a key picture
    bool last = false;  // of its segment
};

struct picture_lane {
    vpx_codec_ctx_t codec;
    vpx_codec_enc_cfg_t cfg;
    bool open = false;
    bool noisy = false; // the last inter picture was noise-like
    int32_t applied_speed = 0;
    // The floor: the quality level in use, lowered and raised picture by
    // picture, never above top.
    int32_t level = webm_default_crf;
    int32_t top = webm_default_crf;
    int32_t applied_level = webm_default_crf;
    int32_t calm = 0; // pictures in a row well above the aim
    vpx_image_t images[lane_images];
    int32_t images_made = 0; // made as the reading thread first needs them
    std::vector<int32_t> free_images;
    std::deque<picture_job> jobs;
    std::thread thread;
    // The lane thread's: one picture's packets, kept until its quality is known.
    std::vector<uint8_t> held;
    int64_t held_pts = 0;
    bool held_key = false;
};

struct picture_coder {
    bool exact = false;
    bool floor = false;
    int32_t lane_count = 1;
    int32_t segment_length = segment_pictures;
    picture_lane lanes[most_lanes];
    std::mutex lock; // guards the lanes' jobs and free images, and what follows
    std::condition_variable changed;
    bool quit = false;     // stop without coding what is queued
    std::string error;     // a lane's failure
    double luma_error = 0; // summed squared error and samples, when measured
    double luma_samples = 0;
    double worst_psnr = 0;
    int32_t pictures_measured = 0;
    int32_t recoded = 0;
    // The reading thread's: the last picture handed out, coded once the next
    // one tells its duration; pictures counts those sent to the lanes.
    bool pending = false;
    int32_t pending_image = -1;
    int64_t pending_start = 0;
    int32_t pictures = 0;
};

struct sound_coder {
    OpusEncoder* opus = nullptr;
    soxr_t soxr = nullptr;
    int32_t channels = 1;
    int32_t pre_skip = 0;
    std::vector<uint8_t> carry;   // bytes of a sample frame not yet complete
    std::vector<float> input;     // one slot's sound at 22050 Hz
    std::vector<float> resampled; // 48 kHz sample frames not yet coded
    std::vector<float> output;    // soxr's output buffer
    int64_t frames_coded = 0;     // 48 kHz sample frames given to Opus
    int64_t packets = 0;
    std::vector<uint8_t> held; // the newest packet: the last one gets the end trimming
    bool holding = false;
    int64_t held_time_ns = 0;
};

// A coded picture of a segment that cannot be written yet.
struct waiting_packet {
    int64_t time_ns = 0;
    std::vector<uint8_t> data;
    bool key = false;
};
struct segment_packets {
    std::vector<waiting_packet> packets;
    bool done = false;
};

struct exporter {
    int32_t movie_pictures = 0; // counted before, when more than one lane may code
    std::mutex mux;             // guards out and the segments: the coders' packets meet there
    webm_output out;
    // Segment writing and, behind it, later segments' packets not yet written.
    int32_t writing = 0;
    std::deque<segment_packets> later;
    bool exact = false;
    int64_t tick_ns = ns_per_ms;
    picture_coder picture;
    sound_coder sound;
    rip_movie_info info;
    int64_t sample_frames = 0;
    std::string error;
};

bool fail(exporter* e, const std::string& why) {
    if (e->error.empty()) e->error = why;
    return false;
}

double psnr_db(double error, double samples) {
    return error > 0 ? 10 * std::log10(255.0 * 255.0 * samples / error) : 99.0;
}

// The quality level that should bring a picture coded at level with the
// given luma PSNR up to aim: about two levels a decibel.
int32_t level_for(int32_t level, double psnr, double aim) {
    return std::max(0, level - int32_t(std::ceil((aim - psnr) * 2)));
}

segment_packets& segment_entry(exporter* e, int32_t segment) {
    const size_t at = size_t(segment - e->writing);
    if (e->later.size() <= at) e->later.resize(at + 1);
    return e->later[at];
}

// Under e->mux: a coded picture of segment, written now when its segment is
// the one being written, else kept until the segments before it are done.
bool deliver_picture(exporter* e, int32_t segment, int64_t time_ns,
                     const std::vector<uint8_t>& data, bool key, std::string* error) {
    if (segment == e->writing) {
        if (webm_add(&e->out, webm_video, time_ns, data.data(), data.size(), key)) return true;
        *error = e->out.error;
        return false;
    }
    segment_entry(e, segment).packets.push_back({time_ns, data, key});
    return true;
}

// Under e->mux: every picture of segment is coded; writes the segments
// after it that were waiting for it.
bool finish_segment(exporter* e, int32_t segment, std::string* error) {
    segment_entry(e, segment).done = true;
    while (!e->later.empty() && e->later.front().done) {
        e->later.pop_front();
        ++e->writing;
        if (e->later.empty()) break;
        for (const waiting_packet& p : e->later.front().packets)
            if (!webm_add(&e->out, webm_video, p.time_ns, p.data.data(), p.data.size(), p.key)) {
                *error = e->out.error;
                return false;
            }
        e->later.front().packets.clear();
    }
    return true;
}

// On a lane's thread: one picture's packets and, when measured, its luma
// error. With the floor, a picture that falls short is not sent; false in
// *short_of_floor says so.
bool take_video_packets(exporter* e, picture_lane* lane, int32_t segment, bool* short_of_floor,
                        std::string* error) {
    picture_coder& c = e->picture;
    *short_of_floor = false;
    lane->held.clear();
    bool have_frame = false, measured = false;
    double sse = 0, samples = 0;
    vpx_codec_iter_t iter = nullptr;
    while (const vpx_codec_cx_pkt_t* p = vpx_codec_get_cx_data(&lane->codec, &iter)) {
        if (p->kind == VPX_CODEC_PSNR_PKT) {
            sse = double(p->data.psnr.sse[1]);
            samples = double(p->data.psnr.samples[1]);
            measured = true;
        }
        if (p->kind != VPX_CODEC_CX_FRAME_PKT) continue;
        // Without look-ahead each call gives at most one picture.
        const auto* data = static_cast<const uint8_t*>(p->data.frame.buf);
        lane->held.assign(data, data + p->data.frame.sz);
        lane->held_pts = p->data.frame.pts;
        lane->held_key = (p->data.frame.flags & VPX_FRAME_IS_KEY) != 0;
        have_frame = true;
    }
    if (!have_frame) return true;
    const double psnr = psnr_db(sse, samples);
    if (c.floor && measured) {
        // Aim a little above the floors: the encoder measures against luma
        // already rounded to whole levels.
        const double aim = webm_movie_floor_db + 0.2;
        if (psnr < webm_picture_floor_db + 0.25 && lane->level > 0) {
            lane->level = level_for(lane->level, psnr, aim);
            lane->calm = 0;
            *short_of_floor = true;
            return true;
        }
        // The level comes back up only after a run of pictures well above
        // the aim: each change resets some of the encoder's rate control,
        // and a level that flips to and fro costs more than it saves.
        if (psnr < aim) {
            lane->level = level_for(lane->level, psnr, aim);
            lane->calm = 0;
        } else if (psnr < aim + 1) {
            lane->calm = 0;
        } else if (++lane->calm >= 8 && lane->level < lane->top) {
            ++lane->level;
            lane->calm = 0;
        }
    }
    if (measured) {
        std::lock_guard<std::mutex> hold(c.lock);
        c.luma_error += sse;
        c.luma_samples += samples;
        if (c.pictures_measured++ == 0 || psnr < c.worst_psnr) c.worst_psnr = psnr;
    }
    const int64_t time_ns = frame_ticks(lane->held_pts, e->tick_ns) * e->tick_ns;
    std::lock_guard<std::mutex> hold(e->mux);
    return deliver_picture(e, segment, time_ns, lane->held, lane->held_key, error);
}

bool code_picture(exporter* e, picture_lane* lane, const picture_job& job, std::string* error) {
    picture_coder& c = e->picture;
    // A picture that falls short of the floor is coded again as a key
    // picture at a lower level: the encoder cannot take a picture back, but a
    // key picture makes its references the decoder's again.
    for (int32_t attempt = 0;; ++attempt) {
        if (c.floor && lane->level != lane->applied_level) {
            vpx_codec_control(&lane->codec, VP8E_SET_CQ_LEVEL, unsigned(lane->level));
            // Below the default the quantizer is held at the level: the
            // encoder's own boosts of some pictures would otherwise spend a
            // sixth more bytes on busy movies for quality above the floor.
            const bool held = lane->level < lane->top;
            if (held != (lane->applied_level < lane->top) || held) {
                lane->cfg.rc_min_quantizer = held ? unsigned(lane->level) : 0;
                lane->cfg.rc_max_quantizer = held ? unsigned(lane->level) : 63;
                vpx_codec_enc_config_set(&lane->codec, &lane->cfg);
            }
            lane->applied_level = lane->level;
        }
        const vpx_enc_frame_flags_t flags = job.first || attempt > 0 ? VPX_EFLAG_FORCE_KF : 0;
        const bool good = c.exact && !lane->noisy;
        const int32_t speed = c.exact ? (lane->noisy ? exact_noisy_speed : exact_speed)
                                      : (lane->noisy ? webm_noisy_speed : webm_speed);
        if (speed != lane->applied_speed) {
            vpx_codec_control(&lane->codec, VP8E_SET_CPUUSED, speed);
            lane->applied_speed = speed;
        }
        if (vpx_codec_encode(&lane->codec, &lane->images[job.image], job.start,
                             static_cast<unsigned long>(std::max<int64_t>(job.duration, 1)), flags,
                             good ? VPX_DL_GOOD_QUALITY : VPX_DL_REALTIME) != VPX_CODEC_OK) {
            const char* detail = vpx_codec_error_detail(&lane->codec);
            *error = std::string("the VP9 encoder failed: ") + vpx_codec_error(&lane->codec) +
                     (detail ? std::string(" (") + detail + ")" : "");
            return false;
        }
        bool short_of_floor = false;
        if (!take_video_packets(e, lane, job.segment, &short_of_floor, error)) return false;
        if (!lane->held.empty() && !lane->held_key)
            lane->noisy = double(lane->held.size()) >
                          (c.exact ? exact_noisy_bytes_per_pixel : webm_noisy_bytes_per_pixel) *
                              double(e->info.width) * double(e->info.height);
        if (!short_of_floor) break;
        std::lock_guard<std::mutex> hold(c.lock);
        ++c.recoded;
    }
    if (!job.last) return true;
    std::lock_guard<std::mutex> hold(e->mux);
    return finish_segment(e, job.segment, error);
}

// A lane's thread. With no look-ahead the encoder gives each picture's
// packets on its own call, so nothing is left to flush at the end.
void lane_thread(exporter* e, picture_lane* lane) {
    picture_coder& c = e->picture;
    for (;;) {
        picture_job job;
        {
            std::unique_lock<std::mutex> hold(c.lock);
            c.changed.wait(hold, [&] { return c.quit || !lane->jobs.empty(); });
            if (c.quit) return;
            job = lane->jobs.front();
            lane->jobs.pop_front();
        }
        if (job.image < 0) return;
        std::string error;
        const bool ok = code_picture(e, lane, job, &error);
        {
            std::lock_guard<std::mutex> hold(c.lock);
            if (!ok && c.error.empty()) c.error = error;
            lane->free_images.push_back(job.image);
        }
        c.changed.notify_all();
        if (!ok) return;
    }
}

// The reading thread's side. False once a lane has failed.
bool picture_failed(exporter* e) {
    std::lock_guard<std::mutex> hold(e->picture.lock);
    if (e->picture.error.empty()) return false;
    return fail(e, e->picture.error);
}

picture_lane& lane_for(picture_coder& c, int32_t picture) {
    return c.lanes[picture / c.segment_length % c.lane_count];
}

// Sends the waiting picture, the next in the movie, to its lane.
bool send_pending(exporter* e, int64_t duration, bool last_of_movie) {
    picture_coder& c = e->picture;
    picture_job job;
    job.image = c.pending_image;
    job.start = c.pending_start;
    job.duration = duration;
    job.segment = c.pictures / c.segment_length;
    job.first = c.pictures % c.segment_length == 0;
    job.last = last_of_movie || c.pictures % c.segment_length == c.segment_length - 1;
    picture_lane& lane = lane_for(c, c.pictures);
    {
        std::lock_guard<std::mutex> hold(c.lock);
        lane.jobs.push_back(job);
    }
    c.changed.notify_all();
    ++c.pictures;
    c.pending = false;
    return !picture_failed(e);
}

// An image of the next picture's lane to convert it into; -1 when a lane
// has failed.
int32_t take_free_image(exporter* e) {
    picture_coder& c = e->picture;
    picture_lane& lane = lane_for(c, c.pictures);
    int32_t image = -1;
    bool make = false;
    {
        std::unique_lock<std::mutex> hold(c.lock);
        make = lane.free_images.empty() && lane.images_made < c.segment_length + 2;
        if (!make) {
            c.changed.wait(hold, [&] { return !lane.free_images.empty() || !c.error.empty(); });
            if (c.error.empty()) {
                image = lane.free_images.back();
                lane.free_images.pop_back();
            }
        }
    }
    if (make) {
        // Only the reading thread makes images, and a lane touches an image
        // only once it has been sent.
        vpx_image_t& made = lane.images[lane.images_made];
        const bool rgb = c.exact;
        if (!vpx_img_alloc(&made, rgb ? VPX_IMG_FMT_I444 : VPX_IMG_FMT_I420,
                           unsigned(e->info.width), unsigned(e->info.height), 16)) {
            fail(e, "out of memory for a picture");
            return -1;
        }
        made.cs = rgb ? VPX_CS_SRGB : VPX_CS_BT_601;
        made.range = rgb ? VPX_CR_FULL_RANGE : VPX_CR_STUDIO_RANGE;
        image = lane.images_made++;
    }
    if (image < 0) picture_failed(e);
    return image;
}

void join_lanes(picture_coder* c) {
    for (int32_t i = 0; i < c->lane_count; ++i)
        if (c->lanes[i].thread.joinable()) c->lanes[i].thread.join();
}

// Sends the waiting picture as the movie's last and waits for the lanes.
bool finish_pictures(exporter* e, int64_t end_frame) {
    picture_coder& c = e->picture;
    bool ok = send_pending(e, end_frame - c.pending_start, true);
    {
        std::lock_guard<std::mutex> hold(c.lock);
        for (int32_t i = 0; i < c.lane_count; ++i) c.lanes[i].jobs.push_back({});
    }
    c.changed.notify_all();
    join_lanes(&c);
    return ok && !picture_failed(e);
}

void stop_picture_threads(picture_coder* c) {
    {
        std::lock_guard<std::mutex> hold(c->lock);
        c->quit = true;
    }
    c->changed.notify_all();
    join_lanes(c);
}

bool open_picture_coder(exporter* e, const webm_options& options) {
    picture_coder& c = e->picture;
    c.exact = options.exact;
    c.floor = !options.exact && options.crf < 0;
    const int32_t crf = options.crf < 0 ? webm_default_crf : std::min(options.crf, 63);
    const double image_bytes =
        double(e->info.width) * double(e->info.height) * (c.exact ? 3.0 : 1.5);
    const int32_t cores = options.lanes > 0
                              ? options.lanes
                              : int32_t(std::max(1u, std::thread::hardware_concurrency()));
    c.lane_count = int32_t(std::clamp<double>(
        std::min<double>({double(cores), double(most_lanes),
                          std::floor(image_budget_bytes / (image_bytes * lane_images))}),
        1, most_lanes));
    if (c.lane_count > 1 && e->movie_pictures > 0) {
        const int32_t per_round = c.lane_count * segment_pictures;
        const int32_t rounds = (e->movie_pictures + per_round - 1) / per_round;
        const int32_t share =
            (e->movie_pictures + c.lane_count * rounds - 1) / (c.lane_count * rounds);
        c.segment_length = std::clamp(share, shortest_segment, segment_pictures);
    }
    vpx_codec_enc_cfg_t cfg;
    if (vpx_codec_enc_config_default(vpx_codec_vp9_cx(), &cfg, 0) != VPX_CODEC_OK)
        return fail(e, "the VP9 encoder cannot be set up");
    cfg.g_w = unsigned(e->info.width);
    cfg.g_h = unsigned(e->info.height);
    // 4:4:4 needs profile 1.
    if (c.exact) cfg.g_profile = 1;
    // Timestamps are the movie's sound sample frames.
    cfg.g_timebase = {1, movie_rate};
    // With one lane the encoder's own threads still help a little.
    cfg.g_threads = c.lane_count == 1 ? 2 : 1;
    // No look-ahead, so each picture leaves at once.
    cfg.g_lag_in_frames = 0;
    cfg.rc_end_usage = VPX_Q;
    cfg.rc_min_quantizer = 0;
    cfg.rc_max_quantizer = 63;
    // Segments start with key pictures; none is needed inside one.
    cfg.kf_max_dist = segment_pictures;
    const bool psnr = c.floor || (options.measure_psnr && !c.exact);
    const vpx_color_space_t space = c.exact ? VPX_CS_SRGB : VPX_CS_BT_601;
    const vpx_color_range_t range = c.exact ? VPX_CR_FULL_RANGE : VPX_CR_STUDIO_RANGE;
    for (int32_t i = 0; i < c.lane_count; ++i) {
        picture_lane& lane = c.lanes[i];
        if (vpx_codec_enc_init(&lane.codec, vpx_codec_vp9_cx(), &cfg,
                               psnr ? VPX_CODEC_USE_PSNR : 0) != VPX_CODEC_OK)
            return fail(e, "the VP9 encoder cannot be set up");
        lane.open = true;
        lane.cfg = cfg;
        lane.level = lane.top = lane.applied_level = crf;
        vpx_codec_control(&lane.codec, VP8E_SET_CQ_LEVEL, unsigned(crf));
        vpx_codec_control(&lane.codec, VP9E_SET_ROW_MT, 1u);
        vpx_codec_control(&lane.codec, VP9E_SET_TILE_COLUMNS, 1);
        vpx_codec_control(&lane.codec, VP9E_SET_COLOR_SPACE, int(space));
        vpx_codec_control(&lane.codec, VP9E_SET_COLOR_RANGE, int(range));
        if (c.exact) vpx_codec_control(&lane.codec, VP9E_SET_LOSSLESS, 1u);
    }
    for (int32_t i = 0; i < c.lane_count; ++i)
        c.lanes[i].thread = std::thread(lane_thread, e, &c.lanes[i]);
    return true;
}

void put_le(std::vector<uint8_t>* out, uint32_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) out->push_back(uint8_t(v >> (8 * i)));
}

bool open_sound_coder(exporter* e, webm_setup* setup) {
    sound_coder& s = e->sound;
    s.channels = e->info.channels();
    setup->channels = s.channels;
    if (e->exact) {
        setup->sound_codec = "A_PCM/INT/LIT";
        setup->sound_rate = movie_rate;
        setup->sound_bits = 16;
        return true;
    }
    int error = 0;
    s.opus = opus_encoder_create(opus_rate, s.channels, OPUS_APPLICATION_AUDIO, &error);
    if (!s.opus) return fail(e, std::string("the Opus encoder failed: ") + opus_strerror(error));
    opus_encoder_ctl(s.opus, OPUS_SET_BITRATE(32000 + 32000 * s.channels));
    opus_int32 lookahead = 0;
    opus_encoder_ctl(s.opus, OPUS_GET_LOOKAHEAD(&lookahead));
    s.pre_skip = lookahead;

    soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT32_I, SOXR_FLOAT32_I);
    soxr_quality_spec_t quality = soxr_quality_spec(SOXR_HQ, 0);
    soxr_error_t soxr_error = nullptr;
    s.soxr = soxr_create(movie_rate, opus_rate, unsigned(s.channels), &soxr_error, &io, &quality,
                         nullptr);
    if (!s.soxr) return fail(e, std::string("the resampler failed: ") + soxr_error);

    // The Ogg Opus identification header, which Matroska keeps as the
    // track's private data.
    std::vector<uint8_t> head = {'O', 'p', 'u', 's', 'H', 'e', 'a', 'd', 1, uint8_t(s.channels)};
    put_le(&head, uint32_t(s.pre_skip), 2);
    put_le(&head, uint32_t(movie_rate), 4);
    put_le(&head, 0, 2); // output gain
    head.push_back(0);   // mono or stereo, no channel table
    setup->sound_private = head;
    setup->codec_delay_ns = int64_t(s.pre_skip) * 1000000000 / opus_rate;
    // Opus needs 80 ms before a seek target to converge.
    setup->seek_pre_roll_ns = 80 * ns_per_ms;
    return true;
}

bool send_held_packet(exporter* e, int64_t discard_padding_ns) {
    sound_coder& s = e->sound;
    if (!s.holding) return true;
    s.holding = false;
    std::lock_guard<std::mutex> hold(e->mux);
    if (!webm_add(&e->out, webm_sound, s.held_time_ns, s.held.data(), s.held.size(), true,
                  discard_padding_ns))
        return fail(e, e->out.error);
    return true;
}

// The exact file's sound: each slot's whole sample frames as one block.
bool add_pcm_block(exporter* e, const uint8_t* pcm, int32_t bytes) {
    sound_coder& s = e->sound;
    const size_t frame_bytes = size_t(2 * s.channels);
    s.carry.insert(s.carry.end(), pcm, pcm + bytes);
    const size_t frames = s.carry.size() / frame_bytes;
    if (frames == 0) return true;
    const int64_t time_ns = frame_ticks(e->sample_frames, e->tick_ns) * e->tick_ns;
    {
        std::lock_guard<std::mutex> hold(e->mux);
        if (!webm_add(&e->out, webm_sound, time_ns, s.carry.data(), frames * frame_bytes, true))
            return fail(e, e->out.error);
    }
    s.carry.erase(s.carry.begin(), s.carry.begin() + long(frames * frame_bytes));
    e->sample_frames += int64_t(frames);
    return true;
}

// Codes every whole 20 ms frame of the resampled sound.
bool code_sound_frames(exporter* e) {
    sound_coder& s = e->sound;
    const size_t frame_values = size_t(opus_frame) * size_t(s.channels);
    size_t used = 0;
    uint8_t packet[4000];
    while (s.resampled.size() - used >= frame_values) {
        opus_int32 n =
            opus_encode_float(s.opus, s.resampled.data() + used, opus_frame, packet, sizeof packet);
        if (n < 0) return fail(e, std::string("the Opus encoder failed: ") + opus_strerror(n));
        used += frame_values;
        if (!send_held_packet(e, 0)) return false;
        s.held.assign(packet, packet + n);
        s.holding = true;
        s.held_time_ns = s.packets * 20 * ns_per_ms;
        ++s.packets;
        s.frames_coded += opus_frame;
    }
    s.resampled.erase(s.resampled.begin(), s.resampled.begin() + long(used));
    return true;
}

bool resample(exporter* e, const float* in, size_t frames) {
    sound_coder& s = e->sound;
    const size_t room = frames * 3 + 1024;
    s.output.resize(room * size_t(s.channels));
    // A null input flushes what the filter still holds.
    for (;;) {
        size_t taken = 0, made = 0;
        soxr_error_t error =
            soxr_process(s.soxr, in, in ? frames : 0, &taken, s.output.data(), room, &made);
        if (error) return fail(e, std::string("the resampler failed: ") + error);
        s.resampled.insert(s.resampled.end(), s.output.begin(),
                           s.output.begin() + long(made * size_t(s.channels)));
        if (in) {
            in += taken * size_t(s.channels);
            frames -= taken;
            if (frames == 0) break;
        } else if (made == 0) {
            break;
        }
    }
    return code_sound_frames(e);
}

bool add_sound(exporter* e, const uint8_t* pcm, int32_t bytes) {
    if (e->exact) return add_pcm_block(e, pcm, bytes);
    sound_coder& s = e->sound;
    const size_t frame_bytes = size_t(2 * s.channels);
    // A slot with a part of a sample frame leaves it for the next one, as the
    // WAV export does.
    s.carry.insert(s.carry.end(), pcm, pcm + bytes);
    const size_t frames = s.carry.size() / frame_bytes;
    if (frames == 0) return true;
    s.input.resize(frames * size_t(s.channels));
    for (size_t i = 0; i < s.input.size(); ++i)
        s.input[i] = float(int16_t(uint16_t(s.carry[2 * i] | s.carry[2 * i + 1] << 8))) / 32768.0f;
    s.carry.erase(s.carry.begin(), s.carry.begin() + long(frames * frame_bytes));
    e->sample_frames += int64_t(frames);
    return resample(e, s.input.data(), frames);
}

// Flushes the resampler, makes the 48 kHz sound exactly as long as the
// movie's, and trims the decoder's output to it through the last packet's
// discard padding.
bool finish_sound(exporter* e) {
    if (e->exact) return true;
    sound_coder& s = e->sound;
    if (!resample(e, nullptr, 0)) return false;
    const int64_t wanted = (e->sample_frames * opus_rate + movie_rate / 2) / movie_rate;
    if (wanted == 0) return true;
    const int64_t have = s.frames_coded + int64_t(s.resampled.size()) / s.channels;
    if (have > wanted)
        s.resampled.resize(size_t(std::max<int64_t>(wanted - s.frames_coded, 0) * s.channels));
    // Decoders drop pre_skip samples first, so that much more is coded; the
    // rest of the last packet is silence.
    const int64_t needed = std::max(wanted + s.pre_skip, s.frames_coded);
    const int64_t coded = (needed + opus_frame - 1) / opus_frame * opus_frame;
    s.resampled.resize(size_t(coded - s.frames_coded) * size_t(s.channels), 0.0f);
    if (!code_sound_frames(e)) return false;
    const int64_t padding = s.frames_coded - s.pre_skip - wanted;
    return send_held_packet(e, (padding * 1000000000 + opus_rate / 2) / opus_rate);
}

void close_coders(exporter* e) {
    picture_coder& c = e->picture;
    stop_picture_threads(&c);
    for (picture_lane& lane : c.lanes) {
        if (lane.open) vpx_codec_destroy(&lane.codec);
        for (int32_t i = 0; i < lane.images_made; ++i) vpx_img_free(&lane.images[i]);
        lane.open = false;
        lane.images_made = 0;
    }
    if (e->sound.opus) opus_encoder_destroy(e->sound.opus);
    if (e->sound.soxr) soxr_delete(e->sound.soxr);
    e->sound.opus = nullptr;
    e->sound.soxr = nullptr;
}

double progress_fraction(const rip_request& request, int64_t movie_end, int64_t position) {
    const int64_t end = movie_end > request.offset ? movie_end : int64_t(file_size);
    const int64_t at = position - request.offset;
    if (end <= request.offset) return 0;
    return std::clamp(double(at) / double(end - request.offset), 0.0, 1.0);
}

// VP9's RGB: the planes G, B, R.
void rgb_to_gbr(const uint8_t* rgb, int32_t width, int32_t height, vpx_image_t* image) {
    for (int32_t row = 0; row < height; ++row) {
        const uint8_t* p = rgb + size_t(row) * size_t(width) * 3;
        uint8_t* g = image->planes[0] + size_t(row) * size_t(image->stride[0]);
        uint8_t* b = image->planes[1] + size_t(row) * size_t(image->stride[1]);
        uint8_t* r = image->planes[2] + size_t(row) * size_t(image->stride[2]);
        for (int32_t x = 0; x < width; ++x, p += 3) {
            r[x] = p[0];
            g[x] = p[1];
            b[x] = p[2];
        }
    }
}

} // namespace

void rgb_to_i420(const uint8_t* rgb, int32_t width, int32_t height, uint8_t* y, int32_t y_stride,
                 uint8_t* u, uint8_t* v, int32_t uv_stride) {
    for (int32_t row = 0; row < height; ++row) {
        const uint8_t* p = rgb + size_t(row) * size_t(width) * 3;
        uint8_t* out = y + size_t(row) * size_t(y_stride);
        for (int32_t x = 0; x < width; ++x, p += 3)
            out[x] = uint8_t((y_r * p[0] + y_g * p[1] + y_b * p[2] + (16 << 16) + 32768) >> 16);
    }
    for (int32_t cy = 0; cy < (height + 1) / 2; ++cy) {
        const int32_t r0 = 2 * cy, r1 = std::min(2 * cy + 1, height - 1);
        for (int32_t cx = 0; cx < (width + 1) / 2; ++cx) {
            const int32_t c0 = 2 * cx, c1 = std::min(2 * cx + 1, width - 1);
            int32_t r = 0, g = 0, b = 0;
            for (int32_t row : {r0, r1})
                for (int32_t col : {c0, c1}) {
                    const uint8_t* p = rgb + (size_t(row) * size_t(width) + size_t(col)) * 3;
                    r += p[0];
                    g += p[1];
                    b += p[2];
                }
            // The sums are of four pixels: two more bits to shift away.
            const int32_t half = 1 << 17;
            u[size_t(cy) * size_t(uv_stride) + size_t(cx)] =
                clamp_byte(((u_r * r + u_g * g + u_b * b + half) >> 18) + 128);
            v[size_t(cy) * size_t(uv_stride) + size_t(cx)] =
                clamp_byte(((v_r * r + v_g * g + v_b * b + half) >> 18) + 128);
        }
    }
}

static bool ends_with_any_case(const std::string& path, const std::string& ending) {
    if (path.size() < ending.size()) return false;
    std::string end = path.substr(path.size() - ending.size());
    for (char& c : end) c = char(tolower(static_cast<unsigned char>(c)));
    return end == ending;
}

bool is_webm_path(const std::string& path) {
    return ends_with_any_case(path, ".webm");
}

bool is_mkv_path(const std::string& path) {
    return ends_with_any_case(path, ".mkv");
}

rip_status rip_to_webm(const rip_request& request, const std::string& path,
                       const webm_options& options, webm_summary* summary) {
    *summary = {};
    exporter e;
    e.exact = options.exact;
    e.tick_ns = options.exact ? exact_tick_ns : ns_per_ms;
    const std::string temp = temporary_name(path);
    bool caller_stopped = false;
    double counting_share = 0;

    auto begin = [&](const rip_movie_info& info) {
        e.info = info;
        summary->info = info;
        webm_setup setup;
        setup.title = options.title;
        setup.doc_type = e.exact ? "matroska" : "webm";
        setup.tick_ns = e.tick_ns;
        setup.rgb = e.exact;
        if (info.width > 0 && info.height > 0) {
            setup.width = info.width;
            setup.height = info.height;
            if (!open_picture_coder(&e, options)) return false;
        }
        if (!open_sound_coder(&e, &setup)) return false;
        std::string folder_error;
        if (!make_parent_folders(path, &folder_error)) return fail(&e, folder_error);
        if (!webm_open(&e.out, temp, setup)) return fail(&e, e.out.error);
        return true;
    };
    auto slot = [&](const rip_slot& s) {
        picture_coder& c = e.picture;
        if (s.has_picture) {
            // A picture due in the same tick as the one waiting replaces
            // it: the file's clock cannot show both.
            if (c.pending &&
                frame_ticks(s.start_frame, e.tick_ns) > frame_ticks(c.pending_start, e.tick_ns)) {
                if (!send_pending(&e, s.start_frame - c.pending_start, false)) return false;
            }
            if (!c.pending) c.pending_image = take_free_image(&e);
            if (c.pending_image < 0) return false;
            vpx_image_t& image = lane_for(c, c.pictures).images[c.pending_image];
            if (e.exact)
                rgb_to_gbr(s.rgb, e.info.width, e.info.height, &image);
            else
                rgb_to_i420(s.rgb, e.info.width, e.info.height, image.planes[0], image.stride[0],
                            image.planes[1], image.planes[2], image.stride[1]);
            c.pending = true;
            c.pending_start = s.start_frame;
        }
        if (!add_sound(&e, s.pcm, s.pcm_bytes)) return false;
        if (options.progress) {
            webm_progress p;
            p.fraction =
                counting_share + (1 - counting_share) *
                                     progress_fraction(request, options.movie_end, s.file_position);
            p.movie_seconds = double(e.sample_frames) / movie_rate;
            if (!options.progress(p)) {
                caller_stopped = true;
                return false;
            }
        }
        return true;
    };

    // Counting the pictures first costs a few percent of the coding: reading
    // and decoding alone run thirty times faster or more. It makes the first
    // counting_share of the progress.
    if (options.lanes > 1 || (options.lanes == 0 && std::thread::hardware_concurrency() > 1)) {
        counting_share = 0.02;
        rip_request counting = request;
        counting.indexed_pictures = counting.packed_pictures = true;
        const rip_status counted = rip_movie(counting, nullptr, [&](const rip_slot& s) {
            e.movie_pictures += s.has_picture;
            webm_progress p;
            p.fraction =
                counting_share * progress_fraction(request, options.movie_end, s.file_position);
            if (options.progress && !options.progress(p)) caller_stopped = true;
            return !caller_stopped;
        });
        if (counted == rip_stopped && caller_stopped) {
            summary->error = "stopped";
            return rip_stopped;
        }
    }
    rip_status status = rip_movie(request, begin, slot);
    bool ok = status == rip_done;
    if (ok && e.picture.pending) ok = finish_pictures(&e, e.sample_frames);
    stop_picture_threads(&e.picture);
    if (ok) ok = finish_sound(&e);
    const double seconds =
        std::max(double(e.sample_frames) / movie_rate,
                 double((frame_ticks(e.picture.pending_start, e.tick_ns) + 1) * e.tick_ns) / 1e9);
    if (ok)
        ok = webm_finish(&e.out,
                         e.picture.pictures > 0 ? seconds : double(e.sample_frames) / movie_rate);
    if (ok && rename(temp.c_str(), path.c_str()) != 0) {
        e.error = "cannot write " + path + ": " + strerror(errno);
        ok = false;
    }
    if (!e.out.error.empty() && e.error.empty()) e.error = e.out.error;
    // The writer knows the file by its temporary name, the user by its own.
    if (size_t at = e.error.find(temp); at != std::string::npos)
        e.error.replace(at, temp.size(), path);
    webm_close(&e.out);
    close_coders(&e);
    summary->pictures = e.picture.pictures;
    summary->sample_frames = e.sample_frames;
    summary->bytes = e.out.bytes;
    if (e.picture.pictures_measured > 0) {
        summary->psnr_y = psnr_db(e.picture.luma_error, e.picture.luma_samples);
        summary->worst_psnr_y = e.picture.worst_psnr;
    }
    summary->recoded = e.picture.recoded;
    summary->cut_short = movie_cut_short;
    if (ok) return rip_done;
    remove(temp.c_str());
    if (status != rip_done && status != rip_stopped) return status;
    summary->error = caller_stopped ? std::string("stopped") : e.error;
    return rip_stopped;
}
