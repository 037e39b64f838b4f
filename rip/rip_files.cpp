#include "rip_files.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <png.h>
#include <sndfile.h>
#include <unistd.h>

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

// Why libsndfile failed: the system's reason when it gave one.
static void wav_failed(wav_output* wav, SNDFILE* file, int error_number) {
    wav->failed = true;
    if (wav->error.empty())
        wav->error = "cannot write " + wav->final_path + ": " +
                     (error_number ? strerror(error_number) : sf_strerror(file));
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
    errno = 0;
    SNDFILE* file = sf_open(wav->temp_path.c_str(), SFM_WRITE, &info);
    if (!file) {
        wav_failed(wav, nullptr, errno);
        return false;
    }
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
    errno = 0;
    sf_count_t written =
        sf_writef_short(static_cast<SNDFILE*>(wav->file), samples.data(), sf_count_t(whole));
    pending.erase(pending.begin(), pending.begin() + long(whole * size_t(frame_bytes)));
    if (written != sf_count_t(whole)) {
        wav_failed(wav, static_cast<SNDFILE*>(wav->file), errno);
        return false;
    }
    wav->frames += int64_t(whole);
    return true;
}

bool wav_finish(wav_output* wav) {
    if (!wav->file) return false;
    SNDFILE* file = static_cast<SNDFILE*>(wav->file);
    errno = 0;
    if (sf_close(file) != 0) wav_failed(wav, nullptr, errno ? errno : EIO);
    wav->file = nullptr;
    if (wav->failed) {
        remove(wav->temp_path.c_str());
        return false;
    }
    if (rename(wav->temp_path.c_str(), wav->final_path.c_str()) != 0) {
        wav_failed(wav, nullptr, errno);
        remove(wav->temp_path.c_str());
        return false;
    }
    return true;
}

void wav_abandon(wav_output* wav) {
    if (wav->file) sf_close(static_cast<SNDFILE*>(wav->file));
    wav->file = nullptr;
    remove(wav->temp_path.c_str());
}

bool write_text_file(const std::string& path, const std::string& text, std::string* error) {
    return write_whole_file(path, reinterpret_cast<const uint8_t*>(text.data()), text.size(),
                            error);
}

bool make_parent_folders(const std::string& path, std::string* error) {
    std::filesystem::path folder = std::filesystem::path(path).parent_path();
    if (folder.empty()) return true;
    std::error_code code;
    std::filesystem::create_directories(folder, code);
    if (!code) return true;
    *error = "cannot write " + path + ": " + code.message();
    return false;
}

bool readable_file(const std::string& path, std::string* error) {
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    int failure = fd < 0 ? errno : 0;
    char byte;
    // A folder opens; reading it gives the reason.
    if (fd >= 0 && read(fd, &byte, 1) < 0) failure = errno;
    if (fd >= 0) close(fd);
    if (failure == 0) return true;
    *error = "cannot open " + path + ": " + strerror(failure);
    return false;
}
