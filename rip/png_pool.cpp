#include "png_pool.h"

#include <algorithm>
#include <cstring>

png_pool::png_pool(int32_t threads) {
    if (threads < 1) threads = int32_t(std::max(1u, std::thread::hardware_concurrency()));
    threads = std::min(threads, 64);
    // Four buffers a thread: pictures take uneven times to decode (a key
    // picture several times the others), and with two the reader and the
    // compressors took turns waiting for each other. More buffers cost more
    // in first-touch page faults than they save.
    for (int32_t i = 0; i < 4 * threads; ++i) spare_.push_back(std::make_unique<job>());
    for (int32_t i = 0; i < threads; ++i) threads_.emplace_back([this] { work(); });
}

png_pool::~png_pool() {
    finish();
}

bool png_pool::write(const std::string& path, const png_picture& picture) {
    std::unique_ptr<job> j;
    {
        std::unique_lock<std::mutex> hold(lock_);
        freed_.wait(hold, [this] { return !spare_.empty() || !error_.empty(); });
        if (!error_.empty()) return false;
        j = std::move(spare_.back());
        spare_.pop_back();
    }
    j->path = path;
    j->width = picture.width;
    j->height = picture.height;
    j->level = picture.level;
    const uint8_t* from = picture.rgb         ? picture.rgb
                          : picture.pixels555 ? picture.pixels555
                                              : picture.indices;
    j->bytes_per_pixel = picture.rgb ? 3 : picture.pixels555 ? 2 : 1;
    j->pixels.assign(from, from + size_t(picture.width) * size_t(picture.height) *
                                      size_t(j->bytes_per_pixel));
    if (j->bytes_per_pixel == 1) memcpy(j->colors, picture.colors, sizeof j->colors);
    {
        std::lock_guard<std::mutex> hold(lock_);
        queue_.push_back(std::move(j));
    }
    queued_.notify_one();
    return true;
}

void png_pool::work() {
    std::vector<uint8_t> encoded;
    for (;;) {
        std::unique_ptr<job> j;
        bool failed;
        {
            std::unique_lock<std::mutex> hold(lock_);
            queued_.wait(hold, [this] { return !queue_.empty() || closing_; });
            if (queue_.empty()) return;
            j = std::move(queue_.front());
            queue_.pop_front();
            failed = !error_.empty();
        }
        std::string error;
        if (!failed) {
            png_picture picture;
            picture.width = j->width;
            picture.height = j->height;
            picture.level = j->level;
            const uint8_t* pixels = j->pixels.data();
            (j->bytes_per_pixel == 3   ? picture.rgb
             : j->bytes_per_pixel == 2 ? picture.pixels555
                                       : picture.indices) = pixels;
            picture.colors = j->colors;
            if (!encode_png(picture, &encoded))
                error = "cannot write " + j->path + ": PNG compression failed";
            else
                write_whole_file(j->path, encoded.data(), encoded.size(), &error);
        }
        {
            std::lock_guard<std::mutex> hold(lock_);
            if (!error.empty() && error_.empty()) error_ = error;
            spare_.push_back(std::move(j));
        }
        freed_.notify_all();
    }
}

bool png_pool::finish() {
    {
        std::lock_guard<std::mutex> hold(lock_);
        closing_ = true;
    }
    queued_.notify_all();
    for (std::thread& t : threads_)
        if (t.joinable()) t.join();
    threads_.clear();
    return error().empty();
}

std::string png_pool::error() {
    std::lock_guard<std::mutex> hold(lock_);
    return error_;
}
