#include "rip.h"

#include "formats/common/chunk_io.h"
#include "platform/library.h"
#include "playback.h"
#include "png_pool.h"
#include "rip_files.h"
#include "seek.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <filesystem>

// The palette last handed to the frame surface; the surface starts black.
static Color colors_in_force[256];

static void keep_colors(const Color* colors) {
    memcpy(colors_in_force, colors, sizeof colors_in_force);
}

static void* codec_library;
static bool codec_library_tried;

static void bind_codec_library() {
    if (!codec_library_tried) {
        codec_library = load_codec_library(codec_library_name);
        codec_library_tried = true;
    }
    DecompressXD =
        reinterpret_cast<decompress_fn>(find_library_entry(codec_library, "DecompressXD"));
    DrawFrameXD = reinterpret_cast<draw_frame_fn>(find_library_entry(codec_library, "DrawFrameXD"));
}

// The pixel stores below write a word whose first three bytes in memory are R, G, B.
static_assert(std::endian::native == std::endian::little);

void frame_to_rgb(uint8_t* out) {
    const int64_t pixels = int64_t(movie_width) * movie_height;
    if (movie_depth == 8) {
        uint32_t words[256];
        for (int i = 0; i < 256; ++i)
            words[i] = uint32_t(colors_in_force[i].r) | uint32_t(colors_in_force[i].g) << 8 |
                       uint32_t(colors_in_force[i].b) << 16;
        // Four bytes stored per pixel; the fourth is the next pixel's, written over next.
        int64_t i = 0;
        for (; i + 1 < pixels; ++i) memcpy(out + 3 * i, &words[frame_pixels[i]], 4);
        for (; i < pixels; ++i) memcpy(out + 3 * i, &words[frame_pixels[i]], 3);
        return;
    }
    rgb_from_555(frame_pixels, pixels, out);
}

static bool open_movie_bytes(const std::vector<uint8_t>& bytes) {
    if (bytes.empty()) return false;
    movie_file = fmemopen(const_cast<uint8_t*>(bytes.data()), bytes.size(), "rb");
    if (!movie_file) return false;
    file_size = bytes.size() > 0x7FFFFFFF ? 0x7FFFFFFF : int32_t(bytes.size());
    return true;
}

static void close_movie() {
    if (movie_file) fclose(movie_file);
    movie_file = nullptr;
    end_seeking();
}

// Where the reader stood in the file after reading each slot of the ring:
// how far a rip has come when it hands that slot out, the reader being a
// ring's length ahead by then.
static int64_t slot_end_position[ring_size];

static void read_and_mark() {
    const int32_t before = slots_read;
    read_next_slot();
    if (slots_read > before && movie_file)
        slot_end_position[(slots_read - 1) % ring_size] = int64_t(ftello(movie_file));
}

// A reader call that neither fills a slot nor ends the movie would leave the
// rip waiting for a slot that never comes; it is taken as the end.
static void read_one_more() {
    int32_t before = slots_read;
    read_and_mark();
    if (!at_end && slots_read == before) {
        last_slot = before - 1;
        at_end = true;
    }
}

rip_status rip_open(const rip_request& request, rip_movie_info* info) {
    close_movie();
    reset_movie_state();
    memset(colors_in_force, 0, sizeof colors_in_force);
    set_surface_colors = keep_colors;
    if (request.bind_codec_library) bind_codec_library();

    bool opened =
        request.bytes ? open_movie_bytes(*request.bytes) : open_movie_file(request.path.c_str());
    if (!opened) return request.bytes ? rip_not_playable : rip_cannot_open;

    player_options options = {};
    options.path = request.path.c_str();
    options.interlaced = request.interlaced;
    options.offset_given = true;
    options.offset = request.offset;
    if (open_movie(options) == kind_none) {
        close_movie();
        return rip_not_playable;
    }
    // Only the movie's body counts as cut short, not the header parser's look ahead.
    movie_cut_short = false;
    // The slot index reads the movie on a handle of its own.
    begin_seeking(request.bytes ? fmemopen(const_cast<uint8_t*>(request.bytes->data()),
                                           request.bytes->size(), "rb")
                                : fopen(request.path.c_str(), "rb"));

    *info = {};
    info->kind = movie_kind;
    info->depth = movie_depth;
    info->stereo = movie_stereo != 0;
    if (movie_width >= 1 && movie_height >= 1) {
        info->width = movie_width;
        info->height = movie_height;
    }
    return rip_done;
}

void rip_close() {
    close_movie();
}

std::string movie_too_short_message() {
    const int64_t seconds = std::max<int64_t>(movie_length_frames(), 0) / movie_rate;
    char text[64];
    snprintf(text, sizeof text, "the movie is only %lld:%02d long",
             static_cast<long long>(seconds / 60), int(seconds % 60));
    return text;
}

rip_status rip_movie(const rip_request& request,
                     const std::function<bool(const rip_movie_info&)>& begin,
                     const std::function<bool(const rip_slot&)>& slot) {
    rip_movie_info info;
    rip_status opened = rip_open(request, &info);
    if (opened != rip_done) return opened;

    const bool pictures = info.width >= 1 && info.height >= 1;
    const bool indexed = request.indexed_pictures && info.depth == 8;
    const bool packed = request.packed_pictures && info.depth == 16;
    std::vector<uint8_t> rgb(
        pictures && !indexed && !packed ? size_t(info.width) * size_t(info.height) * 3 : 0);
    uint8_t colors[256 * 3];
    hooks.read_slot = read_and_mark;
    prefill_ring();
    // A clip starts where a seek lands: its first slot shows the picture on
    // screen there, its own or the last one before it.
    int32_t first = 0;
    bool first_shows_screen = false;
    if (request.from_frame > 0) {
        first = std::max(seek_to_frame(request.from_frame), 0);
        const int64_t length = movie_length_frames();
        if (length >= 0 && request.from_frame >= length) {
            close_movie();
            return rip_beyond_end;
        }
        first_shows_screen = picture_slot_on_screen() >= 0;
    }
    if (begin && !begin(info)) {
        close_movie();
        return rip_stopped;
    }
    const int64_t first_byte = std::max<int64_t>(slot_start_byte(first), 0);
    int64_t bytes_before = 0;
    for (int32_t n = first; n < slots_read; ++n) {
        const FrameSlot& s = slot_ring[n % ring_size];
        if (n > first && request.to_frame >= 0 &&
            (first_byte + bytes_before) / info.frame_bytes() >= request.to_frame)
            break;
        // The decoders see the counters as they stand when the player shows slot n.
        audio_slot = n;
        slots_heard = n;
        rip_slot out;
        out.number = n - first;
        out.file_position = slot_end_position[n % ring_size];
        const bool landed = n == first && request.from_frame > 0;
        const bool decode = pictures && s.video_length >= 1 && !landed;
        out.has_picture = decode || (landed && first_shows_screen);
        if (decode) decode_slot_picture(&s);
        if (out.has_picture) {
            if (indexed) {
                for (int i = 0; i < 256; ++i) {
                    colors[3 * i] = colors_in_force[i].r;
                    colors[3 * i + 1] = colors_in_force[i].g;
                    colors[3 * i + 2] = colors_in_force[i].b;
                }
                out.indices = frame_pixels;
                out.colors = colors;
            } else if (packed) {
                out.pixels555 = frame_pixels;
            } else {
                frame_to_rgb(rgb.data());
                out.rgb = rgb.data();
            }
        }
        shown_slot = n;
        out.pcm = s.sound;
        out.pcm_bytes = std::clamp(s.sound_total, 0, sound_capacity);
        out.start_frame = bytes_before / info.frame_bytes();
        out.frames = out.pcm_bytes / info.frame_bytes();
        bytes_before += out.pcm_bytes;
        if (slot && !slot(out)) {
            close_movie();
            return rip_stopped;
        }
        if (!at_end) read_one_more();
    }
    close_movie();
    return rip_done;
}

int32_t ripped_movie::pictures() const {
    return int32_t(std::count_if(slots.begin(), slots.end(),
                                 [](const ripped_slot& s) { return s.has_picture; }));
}

ripped_movie rip_to_memory(const rip_request& request) {
    ripped_movie movie;
    auto begin = [&](const rip_movie_info& info) {
        movie.info = info;
        return true;
    };
    auto slot = [&](const rip_slot& s) {
        ripped_slot r;
        r.number = s.number;
        r.has_picture = s.has_picture;
        if (s.has_picture)
            r.rgb.assign(s.rgb, s.rgb + size_t(movie.info.width) * size_t(movie.info.height) * 3);
        r.pcm.assign(s.pcm, s.pcm + s.pcm_bytes);
        r.start_frame = s.start_frame;
        r.frames = s.frames;
        movie.sound.insert(movie.sound.end(), r.pcm.begin(), r.pcm.end());
        movie.slots.push_back(std::move(r));
        return true;
    };
    movie.status = rip_movie(request, begin, slot);
    return movie;
}

std::string frame_file_name(int32_t slot_number) {
    char name[32];
    snprintf(name, sizeof name, "%06d.png", int(slot_number));
    return name;
}

int32_t frame_file_number(const std::string& name) {
    if (name.size() != 10 || name.compare(6, 4, ".png") != 0) return -1;
    int32_t number = 0;
    for (int i = 0; i < 6; ++i) {
        if (name[size_t(i)] < '0' || name[size_t(i)] > '9') return -1;
        number = number * 10 + (name[size_t(i)] - '0');
    }
    return number;
}

// Pictures of an earlier rip that this one did not write over.
static void remove_stale_pictures(const std::string& frames_dir, const std::vector<bool>& written) {
    std::error_code error;
    std::vector<std::filesystem::path> stale;
    for (const auto& entry : std::filesystem::directory_iterator(frames_dir, error)) {
        int32_t number = frame_file_number(entry.path().filename().string());
        if (number >= 0 && (size_t(number) >= written.size() || !written[size_t(number)]))
            stale.push_back(entry.path());
    }
    for (const auto& path : stale) std::filesystem::remove(path, error);
}

rip_status rip_to_directory(const rip_request& request, const std::string& dir,
                            rip_summary* summary) {
    *summary = {};
    wav_output wav;
    std::string timeline = "slot\tstart_frame\tframes\tpicture\n";
    const std::string frames_dir = dir + "/frames";
    int64_t sound_bytes = 0;
    rip_request raw = request;
    raw.indexed_pictures = true;
    raw.packed_pictures = true;
    // Compression is nearly all of a rip's work: it runs on every core while
    // this thread reads and decodes the movie in the player's order.
    png_pool pictures(request.threads);
    bool begun = false;
    std::vector<bool> written; // by slot number

    auto begin = [&](const rip_movie_info& info) {
        summary->info = info;
        std::error_code error;
        std::filesystem::create_directories(frames_dir, error);
        if (error) {
            summary->error = "cannot create " + frames_dir + ": " + error.message();
            return false;
        }
        begun = true;
        // From the first new picture on, an earlier rip's sound and timeline no
        // longer describe the folder.
        std::filesystem::remove(dir + "/audio.wav", error);
        std::filesystem::remove(dir + "/timeline.tsv", error);
        if (!wav_open(&wav, dir + "/audio.wav", info.channels())) {
            summary->error = wav.error;
            return false;
        }
        return true;
    };
    auto slot = [&](const rip_slot& s) {
        if (request.keep_going && !request.keep_going()) {
            summary->error = "stopped";
            return false;
        }
        if (s.has_picture) {
            png_picture picture;
            picture.width = summary->info.width;
            picture.height = summary->info.height;
            picture.rgb = s.rgb;
            picture.indices = s.indices;
            picture.colors = s.colors;
            picture.pixels555 = s.pixels555;
            // Measured on the demo movies: level 1 takes a third less time
            // than 2 on plain full-colour pictures for 5-9% more bytes; on
            // palette pictures and doubled ones (repeated pixels, blank rows)
            // level 2 is both smaller and no slower.
            picture.level = s.indices || request.interlaced ? 2 : 1;
            if (size_t(s.number) >= written.size()) written.resize(size_t(s.number) + 1);
            written[size_t(s.number)] = true;
            if (!pictures.write(frames_dir + "/" + frame_file_name(s.number), picture))
                return false;
            ++summary->pictures;
        }
        if (!wav_append(&wav, s.pcm, s.pcm_bytes)) {
            summary->error = wav.error;
            return false;
        }
        sound_bytes += s.pcm_bytes;
        timeline += std::to_string(s.number) + '\t' + std::to_string(s.start_frame) + '\t' +
                    std::to_string(s.frames) + '\t' + (s.has_picture ? "1" : "0") + '\n';
        ++summary->slots;
        return true;
    };

    rip_status status = rip_movie(raw, begin, slot);
    // A picture that failed is the first cause; whatever stopped after it
    // only followed from it.
    if (!pictures.finish()) {
        summary->error = pictures.error();
        if (status == rip_done) status = rip_stopped;
    }
    summary->cut_short = movie_cut_short;
    if (begun) remove_stale_pictures(frames_dir, written);
    if (status != rip_done) {
        wav_abandon(&wav);
        return status;
    }
    summary->sample_frames = sound_bytes / summary->info.frame_bytes();
    if (!wav_finish(&wav)) {
        summary->error = wav.error;
        return rip_stopped;
    }
    if (!write_text_file(dir + "/timeline.tsv", timeline, &summary->error)) return rip_stopped;
    return rip_done;
}
