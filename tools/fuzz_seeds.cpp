#include "fuzz_seeds.h"

#include "archive_writer.h"
#include "bytes.h"
#include "form_writer.h"
#include "formats/riff/riff.h"
#include "riff_writer.h"
#include "schl_writer.h"
#include "sead_writer.h"
#include "xan_encoder.h"

#include <array>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

namespace {

struct seed_dir {
    std::string dir;
    bool ok = true;
    void put(const std::string& name, const std::vector<uint8_t>& bytes) {
        ok = ok && write_file(dir + "/" + name, bytes);
    }
};

// A square moving over a two-colour ground: w x h indices from 0 to 3.
std::vector<uint8_t> indexed_picture(int w, int h, int t) {
    std::vector<uint8_t> p(size_t(w) * h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            bool square = x >= 2 * t && x < 2 * t + 8 && y >= 4 && y < 12;
            p[size_t(y) * w + x] = uint8_t(square ? 2 + t % 2 : (x / 8 + y / 8) % 2);
        }
    return p;
}

std::vector<uint8_t> rgb_picture(int w, int h, int t) {
    std::vector<uint8_t> index = indexed_picture(w, h, t);
    static const uint8_t colours[4][3] = {
        {20, 40, 90}, {200, 180, 60}, {230, 30, 30}, {30, 220, 90}};
    std::vector<uint8_t> rgb;
    for (uint8_t i : index) rgb.insert(rgb.end(), colours[i], colours[i] + 3);
    return rgb;
}

std::vector<int16_t> tone(int frames, int channels, int t) {
    std::vector<int16_t> pcm(size_t(frames) * channels);
    for (size_t i = 0; i < pcm.size(); ++i)
        pcm[i] = int16_t(8000 * std::sin(0.07 * double(i + size_t(t) * pcm.size()) * (1 + i % 2)));
    return pcm;
}

// A movie target's input: the "-i" flag byte, then the movie.
std::vector<uint8_t> movie_input(bool interlaced, const std::vector<uint8_t>& movie) {
    std::vector<uint8_t> in{uint8_t(interlaced ? 1 : 0)};
    in.insert(in.end(), movie.begin(), movie.end());
    return in;
}

std::vector<uint8_t> form_seed(bool size_chunk) {
    form_movie m;
    m.width = 32;
    m.height = 24;
    m.write_size = size_chunk;
    for (int p = 0; p < 2; ++p) {
        std::array<uint8_t, 768> palette{};
        for (int i = 0; i < 768; ++i) palette[size_t(i)] = uint8_t((i * (p + 3)) % 64);
        m.palettes.push_back(palette);
    }
    for (int t = 0; t < 4; ++t) {
        form_frame f;
        f.shot = t == 2 ? 1 : -1;
        f.pixels = indexed_picture(m.width, m.height, t);
        f.sound = tone(300, 1, t);
        m.frames.push_back(f);
    }
    return write_form_movie(m);
}

std::vector<uint8_t> riff_seed() {
    xan_encoder encoder;
    start_xan_encoder(encoder, riff_width, riff_height, 2);
    std::vector<riff_frame> frames;
    for (int t = 0; t < 3; ++t) {
        riff_frame f;
        std::vector<uint8_t> rgb = rgb_picture(riff_width, riff_height, t);
        f.picture =
            encode_xan_picture(encoder, xan_picture_from_rgb(rgb.data(), riff_width, riff_height,
                                                             codec_table.colours));
        f.key = encoder.since_key == 0;
        std::vector<int16_t> pcm = tone(200, 2, t);
        f.sound = encode_riff_sound(pcm.data(), 200);
        f.filler_before = t == 1;
        frames.push_back(f);
    }
    return write_riff_movie(frames, riff_width, riff_height, 15);
}

std::vector<uint8_t> schl_seed(bool stereo, int size, bool with_sound) {
    schl_movie_content m;
    m.width = m.height = size;
    m.stereo = stereo;
    m.frames_per_slot = 28 * 10;
    m.padding_chunks = stereo;
    for (int t = 0; t < 3; ++t) {
        std::vector<uint8_t> rgb = rgb_picture(size, size, t);
        m.pictures.push_back(
            encode_schl_picture(schl_planes_from_rgb(rgb.data(), size, size), {2}));
    }
    if (with_sound) m.sound = tone(3 * m.frames_per_slot, stereo ? 2 : 1, 0);
    return write_schl_movie(m);
}

// A bare run of picture chunks: the SCHl movie from its first picture on.
std::vector<uint8_t> piqt_seed() {
    std::vector<uint8_t> movie = schl_seed(false, 96, false);
    for (size_t at = 0; at + 4 <= movie.size(); ++at)
        if (memcmp(&movie[at], "pIQT", 4) == 0) return {movie.begin() + long(at), movie.end()};
    return movie;
}

std::vector<uint8_t> sead_seed() {
    const int w = 32, h = 16;
    std::vector<sead_movie_frame> frames;
    for (int t = 0; t < 4; ++t) {
        sead_movie_frame f;
        f.image = indexed_picture(w, h, t);
        for (size_t i = 0; i < f.palette.size(); ++i)
            f.palette[i] = uint8_t((i * 5 + (t > 2)) % 64);
        f.sound = tone(200, 2, t);
        frames.push_back(f);
    }
    return write_sead_movie(w, h, frames);
}

std::vector<uint8_t> words(const std::vector<std::string>& list) {
    std::vector<uint8_t> out;
    for (size_t i = 0; i < list.size(); ++i) {
        if (i) out.push_back(0);
        out.insert(out.end(), list[i].begin(), list[i].end());
    }
    return out;
}

} // namespace

bool write_fuzz_seeds(const std::string& dir) {
    const char* targets[] = {"form",       "riff",          "schl",        "sead",
                             "riff_sound", "schl_sound",    "sead_sound",  "archive",
                             "codec",      "reelplay_args", "reelrip_args"};
    std::error_code error;
    for (const char* t : targets) std::filesystem::create_directories(dir + "/" + t, error);
    if (error) return false;
    seed_dir form{dir + "/form"}, riff{dir + "/riff"}, schl{dir + "/schl"}, sead{dir + "/sead"};
    for (bool i : {false, true}) {
        std::string suffix = i ? "_i" : "";
        form.put("sized" + suffix, movie_input(i, form_seed(true)));
        riff.put("movie" + suffix, movie_input(i, riff_seed()));
        schl.put("stereo" + suffix, movie_input(i, schl_seed(true, 32, true)));
        schl.put("bare" + suffix, movie_input(i, piqt_seed()));
        sead.put("movie" + suffix, movie_input(i, sead_seed()));
    }
    form.put("full_size", movie_input(false, form_seed(false)));
    schl.put("mono", movie_input(false, schl_seed(false, 48, true)));

    seed_dir archive{dir + "/archive"};
    const std::vector<uint8_t> note = {'n', 'o', 't', 'e', '\n'};
    archive.put("xtre",
                write_xtre_archive({{"", form_seed(true)}, {"", note}, {"", form_seed(false)}}));
    archive.put("named", write_named_archive({{"one.mov", schl_seed(false, 16, false)},
                                              {"readme.txt", note},
                                              {"bare.pic", piqt_seed()}}));

    // Payload runs: a key picture, predicted ones, and a picture it holds already.
    seed_dir codec{dir + "/codec"};
    for (int size : {16, 40}) {
        byte_builder b;
        b.le16(uint32_t(size)).le16(uint32_t(size / 2));
        xan_encoder encoder;
        start_xan_encoder(encoder, size, size / 2, 3);
        for (int t = 0; t < 4; ++t) {
            std::vector<uint8_t> rgb = rgb_picture(size, size / 2, t % 3);
            std::vector<uint8_t> payload = encode_xan_picture(
                encoder, xan_picture_from_rgb(rgb.data(), size, size / 2, codec_table.colours));
            b.le32(uint32_t(payload.size())).raw(payload);
        }
        codec.put("run_" + std::to_string(size), b.bytes);
    }

    seed_dir riff_sound{dir + "/riff_sound"}, schl_sound{dir + "/schl_sound"},
        sead_sound{dir + "/sead_sound"};
    std::vector<int16_t> stereo = tone(280, 2, 1), mono = tone(280, 1, 1);
    riff_sound.put("block", encode_riff_sound(stereo.data(), 280));
    for (bool s : {false, true}) {
        schl_sound_history history;
        byte_builder b;
        b.u8(s ? 1 : 0).le32(history.seed(0)).le32(history.seed(1));
        b.raw(encode_schl_sound(s ? stereo.data() : mono.data(), 280, s, history));
        schl_sound.put(s ? "stereo" : "mono", b.bytes);
    }
    sead_sound_state state{};
    byte_builder b;
    b.zeros(8).raw(encode_sead_sound(state, stereo.data(), 280));
    sead_sound.put("chunk", b.bytes);

    seed_dir play{dir + "/reelplay_args"}, rip{dir + "/reelrip_args"};
    play.put("zoom", words({"movie.tgv", "-i", "-offset", "1234"}));
    play.put("offset", words({"GAME.TRE", "-offset", " -56", "extra"}));
    rip.put("one", words({"GAME.TRE", "-offset", "+77", "-i", "-o", "out"}));
    rip.put("list", words({"--list", "GAME.TRE"}));
    rip.put("all", words({"--all", "--", "-GAME.TRE", "-o", "dir"}));
    return form.ok && riff.ok && schl.ok && sead.ok && archive.ok && codec.ok && riff_sound.ok &&
           schl_sound.ok && sead_sound.ok && play.ok && rip.ok;
}
