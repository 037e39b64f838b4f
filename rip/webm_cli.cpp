// reelrip's WebM runs: the export with a progress line, Ctrl-C handling and
// the file's title.
#include "export_webm.h"
#include "reelrip_cli.h"
#include "scanner.h"

#include <chrono>
#include <csignal>
#include <filesystem>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

// The listed movies of an archive, without the scan's messages.
std::vector<int32_t> listed_offsets(const std::string& file) {
    scan_sink sink;
    sink.context = nullptr;
    sink.add_line = [](void*, const char*) {};
    sink.message = [](void*, const char*, const char*, scan_message_kind) {};
    movie_count = 0;
    scan_archive(file.c_str(), sink);
    return std::vector<int32_t>(movie_offsets, movie_offsets + movie_count);
}

// Where the movie at offset ends: the next listed movie's offset, or 0 for
// the end of the file.
int64_t movie_end(const std::vector<int32_t>& offsets, int64_t offset) {
    int64_t end = 0;
    for (int32_t o : offsets)
        if (o > offset && (end == 0 || o < end)) end = o;
    return end;
}

std::string base_name(const std::string& path) {
    return std::filesystem::path(path).filename().string();
}

std::string member_title(const std::string& file, int32_t number) {
    return base_name(file) + ", movie " + std::to_string(number);
}

struct progress_line {
    FILE* err = nullptr;
    bool shown = false;
    std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();
    std::chrono::steady_clock::time_point drawn;

    bool update(const webm_progress& p) {
        if (!err) return !rip_interrupted;
        auto now = std::chrono::steady_clock::now();
        if (shown && now - drawn < std::chrono::milliseconds(100)) return !rip_interrupted;
        drawn = now;
        double elapsed = std::chrono::duration<double>(now - start).count();
        double speed = elapsed > 0 ? p.movie_seconds / elapsed : 0;
        fprintf(err, "\r%5.1f%%  %7.2f s of movie  %5.1fx ", p.fraction * 100, p.movie_seconds,
                speed);
        fflush(err);
        shown = true;
        return !rip_interrupted;
    }
    void clear() {
        if (shown) fprintf(err, "\r%-40s\r", "");
        shown = false;
    }
};

int export_one(const rip_options& options, int64_t offset, const std::string& path,
               const std::string& title, int64_t end, FILE* err, std::string* report) {
    rip_request request;
    request.path = options.file;
    request.offset = offset;
    request.interlaced = options.interlaced;
    request.from_frame = options.from_frame;
    request.to_frame = options.to_frame;
    webm_options webm;
    if (options.crf >= 0) webm.crf = options.crf;
    webm.title = title;
    webm.movie_end = end;
    progress_line line;
    // The progress line is for a person at a terminal only.
    if (!options.quiet && isatty(fileno(err))) line.err = err;
    webm.progress = [&line](const webm_progress& p) { return line.update(p); };
    webm_summary summary;
    rip_status status = rip_to_webm(request, path, webm, &summary);
    line.clear();
    if (rip_interrupted) {
        *report = "interrupted; " + path + " not written";
        return 130;
    }
    switch (status) {
    case rip_done: {
        char text[160];
        double seconds = summary.seconds();
        snprintf(text, sizeof text, "%d pictures, %.2f s, %lld bytes (%.0f per second)",
                 int(summary.pictures), seconds, static_cast<long long>(summary.bytes),
                 seconds > 0 ? double(summary.bytes) / seconds : 0.0);
        *report = text;
        return 0;
    }
    case rip_cannot_open:
        *report = "cannot open " + options.file;
        return 1;
    case rip_not_playable:
        *report = "no playable movie at offset " + std::to_string(offset) + " of " + options.file;
        return 1;
    case rip_beyond_end:
        *report = movie_too_short_message();
        return 1;
    case rip_stopped:
        break;
    }
    *report = summary.error.empty() ? std::string("export stopped") : summary.error;
    return 1;
}

} // namespace

int rip_one_webm(const rip_options& options, FILE* err) {
    interrupt_guard guard;
    std::string title = base_name(options.file);
    int64_t end = 0;
    // A movie inside an archive is named by its place in the list.
    if (options.offset != 0) {
        std::vector<int32_t> offsets = listed_offsets(options.file);
        for (size_t i = 0; i < offsets.size(); ++i)
            if (offsets[i] == options.offset) title = member_title(options.file, int32_t(i + 1));
        end = movie_end(offsets, options.offset);
    }
    std::string report;
    int status = export_one(options, options.offset, options.out_dir, title, end, err, &report);
    if (status == 0)
        fprintf(err, "reelrip: %s, into %s\n", report.c_str(), options.out_dir.c_str());
    else
        fprintf(err, "reelrip: %s\n", report.c_str());
    return status;
}

int rip_every_webm(const rip_options& options, FILE* err) {
    interrupt_guard guard;
    std::vector<int32_t> offsets = listed_offsets(options.file);
    if (offsets.empty()) {
        fprintf(err, "reelrip: no playable movies in %s\n", options.file.c_str());
        return 1;
    }
    std::error_code error;
    std::filesystem::create_directories(options.out_dir, error);
    if (error) {
        fprintf(err, "reelrip: cannot create %s: %s\n", options.out_dir.c_str(),
                error.message().c_str());
        return 1;
    }
    const int32_t count = int32_t(offsets.size());
    int32_t failed = 0;
    for (int32_t i = 0; i < count; ++i) {
        char name[24];
        snprintf(name, sizeof name, "/%03d.webm", int(i + 1));
        fprintf(err, "movie %d of %d (offset %d): ", int(i + 1), int(count),
                int(offsets[size_t(i)]));
        fflush(err);
        std::string report;
        int status = export_one(options, offsets[size_t(i)], options.out_dir + name,
                                member_title(options.file, i + 1),
                                movie_end(offsets, offsets[size_t(i)]), err, &report);
        fprintf(err, "%s\n", report.c_str());
        if (status == 130) return status;
        if (status != 0) ++failed;
    }
    if (failed > 0) {
        fprintf(err, "reelrip: %d of %d movies failed\n", int(failed), int(count));
        return 1;
    }
    fprintf(err, "reelrip: %d movies into %s\n", int(count), options.out_dir.c_str());
    return 0;
}
