// PNG files written on worker threads while the caller goes on reading the
// movie in the player's order on its own thread. Each picture is copied into
// one of a fixed number of buffers owned by the pool, so a slow disk or slow
// compression holds the reader back instead of filling memory.
#pragma once

#include "rip_files.h"

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class png_pool {
  public:
    // threads 0: one per core.
    explicit png_pool(int32_t threads);
    ~png_pool();
    png_pool(const png_pool&) = delete;
    png_pool& operator=(const png_pool&) = delete;

    // Queues a copy of the picture for path (written through a temporary
    // name, as write_whole_file does). Waits while every buffer is in use.
    // False once any picture has failed; error() then says why.
    bool write(const std::string& path, const png_picture& picture);
    // Waits until every queued picture is written, or dropped after a
    // failure. False when one failed.
    bool finish();
    // The first failure, "cannot write PATH: reason"; empty when none.
    std::string error();

  private:
    struct job {
        std::string path;
        int32_t width = 0, height = 0;
        int32_t bytes_per_pixel = 3; // 3: RGB, 2: 5-5-5, 1: palette indices
        int32_t level = 2;
        std::vector<uint8_t> pixels;
        uint8_t colors[256 * 3];
    };
    void work();

    std::mutex lock_;
    std::condition_variable queued_; // a job was queued, or the pool closes
    std::condition_variable freed_;  // a job's buffer came back
    std::deque<std::unique_ptr<job>> queue_;
    std::vector<std::unique_ptr<job>> spare_;
    std::vector<std::thread> threads_;
    std::string error_;
    bool closing_ = false;
};
