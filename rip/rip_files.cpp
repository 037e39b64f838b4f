#include "rip_files.h"

#include <cstdio>
#include <cstring>
#include <png.h>
#include <sndfile.h>
#include <unistd.h>

std::string temporary_name(const std::string& path) {
    // The process id keeps two rips into one directory from sharing a file.
    return path + ".part" + std::to_string(getpid());
}

static bool move_into_place(const std::string& temp, const std::string& path) {
    if (rename(temp.c_str(), path.c_str()) == 0) return true;
    remove(temp.c_str());
    return false;
}

static png_image rgb_image(int32_t width, int32_t height, bool fast) {
    png_image image;
    memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    image.width = png_uint_32(width);
    image.height = png_uint_32(height);
    image.format = PNG_FORMAT_RGB;
    if (fast) image.flags = PNG_IMAGE_FLAG_FAST;
    return image;
}

bool write_png_rgb(const std::string& path, int32_t width, int32_t height, const uint8_t* rgb,
                   bool fast) {
    if (width < 1 || height < 1) return false;
    std::string temp = temporary_name(path);
    png_image image = rgb_image(width, height, fast);
    if (!png_image_write_to_file(&image, temp.c_str(), 0, rgb, 0, nullptr)) {
        remove(temp.c_str());
        return false;
    }
    return move_into_place(temp, path);
}

bool encode_png_rgb(int32_t width, int32_t height, const uint8_t* rgb, std::vector<uint8_t>* out,
                    bool fast) {
    if (width < 1 || height < 1) return false;
    png_image image = rgb_image(width, height, fast);
    // Room for the worst case, so that the picture is compressed only once.
    png_alloc_size_t size = PNG_IMAGE_PNG_SIZE_MAX(image);
    out->resize(size);
    if (!png_image_write_to_memory(&image, out->data(), &size, 0, rgb, 0, nullptr)) return false;
    out->resize(size);
    return true;
}

bool wav_open(wav_output* wav, const std::string& path, int32_t channels) {
    *wav = {};
    wav->final_path = path;
    wav->temp_path = temporary_name(path);
    wav->channels = channels;
    SF_INFO info;
    memset(&info, 0, sizeof info);
    info.samplerate = 22050;
    info.channels = channels;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    SNDFILE* file = sf_open(wav->temp_path.c_str(), SFM_WRITE, &info);
    if (!file) return false;
    wav->file = file;
    return true;
}

bool wav_append(wav_output* wav, const uint8_t* pcm, int32_t bytes) {
    if (!wav->file || wav->failed) return false;
    const int32_t frame_bytes = 2 * wav->channels;
    // Slots normally hold whole sample frames; one that does not leaves its
    // odd bytes for the next slot, so the stream stays byte for byte intact.
    std::vector<uint8_t>& pending = wav->carry;
    pending.insert(pending.end(), pcm, pcm + bytes);
    size_t whole = pending.size() / size_t(frame_bytes);
    if (whole == 0) return true;
    std::vector<short> samples(whole * size_t(wav->channels));
    for (size_t i = 0; i < samples.size(); ++i)
        samples[i] = short(uint16_t(pending[2 * i] | pending[2 * i + 1] << 8));
    sf_count_t written =
        sf_writef_short(static_cast<SNDFILE*>(wav->file), samples.data(), sf_count_t(whole));
    pending.erase(pending.begin(), pending.begin() + long(whole * size_t(frame_bytes)));
    if (written != sf_count_t(whole)) {
        wav->failed = true;
        return false;
    }
    wav->frames += int64_t(whole);
    return true;
}

bool wav_finish(wav_output* wav) {
    if (!wav->file) return false;
    bool ok = !wav->failed;
    if (sf_close(static_cast<SNDFILE*>(wav->file)) != 0) ok = false;
    wav->file = nullptr;
    if (!ok) {
        remove(wav->temp_path.c_str());
        return false;
    }
    return move_into_place(wav->temp_path, wav->final_path);
}

void wav_abandon(wav_output* wav) {
    if (wav->file) sf_close(static_cast<SNDFILE*>(wav->file));
    wav->file = nullptr;
    remove(wav->temp_path.c_str());
}

bool write_text_file(const std::string& path, const std::string& text) {
    std::string temp = temporary_name(path);
    FILE* f = fopen(temp.c_str(), "wb");
    if (!f) return false;
    bool ok = fwrite(text.data(), 1, text.size(), f) == text.size();
    ok = fclose(f) == 0 && ok;
    if (!ok) {
        remove(temp.c_str());
        return false;
    }
    return move_into_place(temp, path);
}
