// reelrip's WebM and Matroska runs: the export with a progress line, Ctrl-C
// handling and the file's title.
#include "export_webm.h"
#include "reelrip_cli.h"

#include <chrono>
#include <csignal>
#include <filesystem>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

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

// What one export tells: its outcome or why it failed, and the warning for a
// movie cut short.
struct export_outcome {
    std::string report;
    std::string warning;
    double seconds = 0;
};

int export_one(const rip_options& options, int64_t offset, const std::string& path,
               const std::string& title, int64_t end, FILE* err, export_outcome* outcome) {
    rip_request request;
    request.path = options.file;
    request.offset = offset;
    request.interlaced = options.interlaced;
    request.from_frame = options.from_frame;
    request.to_frame = options.to_frame;
    webm_options webm;
    webm.exact = options.mkv;
    webm.crf = options.crf;
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
        outcome->report = "interrupted; " + path + " not written";
        return 130;
    }
    if (status != rip_done) {
        outcome->report = rip_failure(status, options.file, offset, summary.error);
        return 1;
    }
    char text[160];
    double seconds = summary.seconds();
    snprintf(text, sizeof text, "%s, %.2f s, %lld bytes (%.0f per second)",
             count_of(summary.pictures, "picture").c_str(), seconds,
             static_cast<long long>(summary.bytes),
             seconds > 0 ? double(summary.bytes) / seconds : 0.0);
    outcome->report = text;
    outcome->warning = cut_warning(options.file, offset, summary.cut_short, seconds);
    outcome->seconds = seconds;
    return 0;
}

} // namespace

int rip_one_webm(const rip_options& options, FILE* err) {
    interrupt_guard guard;
    std::string title = base_name(options.file);
    int64_t end = 0;
    // A movie inside an archive is named by its place in the list.
    if (options.offset != 0) {
        std::vector<int32_t> offsets = list_file_movies(options.file).offsets;
        for (size_t i = 0; i < offsets.size(); ++i)
            if (offsets[i] == options.offset) title = member_title(options.file, int32_t(i + 1));
        end = movie_end(offsets, options.offset);
    }
    export_outcome outcome;
    int status = export_one(options, options.offset, options.out_dir, title, end, err, &outcome);
    if (status != 0)
        fprintf(err, "reelrip: %s\n", outcome.report.c_str());
    else if (!options.quiet)
        fprintf(err, "reelrip: %s, into %s\n", outcome.report.c_str(), options.out_dir.c_str());
    if (!outcome.warning.empty()) fprintf(err, "reelrip: %s\n", outcome.warning.c_str());
    return status;
}

int rip_every_webm(const rip_options& options, FILE* err) {
    interrupt_guard guard;
    movie_list list;
    if (!list_or_say_why(options.file, err, &list)) return 1;
    const std::vector<int32_t>& offsets = list.offsets;
    std::vector<std::string> names = output_names(list);
    const int32_t count = int32_t(offsets.size());
    every_report progress{err, options.quiet, count};
    double total_seconds = 0;
    for (int32_t i = 0; i < count; ++i) {
        const std::string name = names[size_t(i)] + (options.mkv ? ".mkv" : ".webm");
        progress.start(i + 1, offsets[size_t(i)], name);
        export_outcome outcome;
        int status = export_one(options, offsets[size_t(i)], options.out_dir + "/" + name,
                                member_title(options.file, i + 1),
                                movie_end(offsets, offsets[size_t(i)]), err, &outcome);
        if (status == 130) {
            fprintf(err, "%sreelrip: %s\n", options.quiet ? "" : "\n", outcome.report.c_str());
            return status;
        }
        if (status != 0) {
            progress.fail(outcome.report);
            continue;
        }
        progress.succeeded(outcome.report, outcome.warning);
        total_seconds += outcome.seconds;
    }
    return progress.finish(options.out_dir, total_seconds);
}
