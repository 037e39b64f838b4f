#include "reelrip_cli.h"

#include "export_webm.h"
#include "rip.h"
#include "scanner.h"
#include "seek.h"

#include <cstring>
#include <string>
#include <vector>

const char rip_usage_text[] =
    "usage: reelrip FILE [-offset N] [-i] [--from T [--to T2]] -o DIR\n"
    "       reelrip --list FILE\n"
    "       reelrip --all FILE [-i] -o DIR\n"
    "       reelrip FILE [-offset N] [-i] [--from T [--to T2]] -o OUT.webm [--crf N] [--quiet]\n"
    "       reelrip --all FILE [-i] -o DIR --webm [--crf N] [--quiet]\n";

// Decimal with an optional sign, nothing else; values are kept wide so that
// an offset beyond 32 bits is refused later as nothing playable.
static bool parse_number(const char* text, int64_t* value) {
    const char* p = text;
    bool negative = false;
    if (*p == '+' || *p == '-') negative = *p++ == '-';
    if (*p == 0) return false;
    int64_t v = 0;
    for (; *p; ++p) {
        if (*p < '0' || *p > '9') return false;
        if (v < (int64_t(1) << 40)) v = v * 10 + (*p - '0');
    }
    *value = negative ? -v : v;
    return true;
}

bool parse_rip_options(int argc, const char* const* argv, rip_options* options,
                       std::string* error) {
    *options = {};
    bool mode_given = false, file_given = false, out_given = false, offset_given = false;
    bool clip_given = false;
    bool only_files = false;
    for (int i = 1; i < argc; ++i) {
        std::string word = argv[i];
        bool option = !only_files && word.size() > 1 && word[0] == '-';
        if (!option) {
            if (file_given) {
                *error = "more than one FILE: " + word;
                return false;
            }
            options->file = word;
            file_given = true;
        } else if (word == "--") {
            only_files = true;
        } else if (word == "--list" || word == "--all") {
            rip_mode mode = word == "--list" ? rip_list : rip_every;
            if (mode_given && options->mode != mode) {
                *error = "--list and --all cannot be combined";
                return false;
            }
            options->mode = mode;
            mode_given = true;
        } else if (word == "--webm" || word == "--quiet") {
            (word == "--webm" ? options->webm : options->quiet) = true;
        } else if (word == "--crf") {
            int64_t crf = -1;
            if (i + 1 >= argc || !parse_number(argv[i + 1], &crf) || crf < 0 || crf > 63) {
                *error = "--crf needs a number from 0 to 63";
                return false;
            }
            options->crf = int32_t(crf);
            ++i;
        } else if (word == "--from" || word == "--to") {
            int64_t frames = 0;
            if (i + 1 >= argc || !parse_movie_time(argv[i + 1], &frames)) {
                *error = word + " needs a time: seconds (90, 90.5) or minutes and seconds (1:30)";
                return false;
            }
            (word == "--from" ? options->from_frame : options->to_frame) = frames;
            clip_given = true;
            ++i;
        } else if (word == "-i") {
            options->interlaced = true;
        } else if (word == "-offset" || word == "-o") {
            if (i + 1 >= argc) {
                *error = word + (word == "-o" ? " needs a directory" : " needs a number");
                return false;
            }
            const char* value = argv[++i];
            if (word == "-o") {
                options->out_dir = value;
                out_given = true;
            } else if (!parse_number(value, &options->offset)) {
                *error = std::string("-offset needs a number, not ") + value;
                return false;
            } else {
                offset_given = true;
            }
        } else {
            *error = "unknown option " + word;
            return false;
        }
    }
    if (!file_given) {
        *error = "no FILE given";
        return false;
    }
    if (options->mode != rip_one && clip_given) {
        *error = "--from and --to apply to one movie";
        return false;
    }
    if (options->to_frame >= 0 && options->to_frame <= options->from_frame) {
        *error = "--to must come after --from";
        return false;
    }
    if (options->mode == rip_list) {
        if (out_given || offset_given || options->interlaced || options->webm ||
            options->crf >= 0 || options->quiet) {
            *error = "--list takes only FILE";
            return false;
        }
        return true;
    }
    if (options->mode == rip_every && offset_given) {
        *error = "--all rips every listed movie at its own offset; -offset does not apply";
        return false;
    }
    if (!out_given || options->out_dir.empty()) {
        *error = "missing -o DIR";
        return false;
    }
    if (options->mode == rip_one && options->webm) {
        *error = "--webm is for --all; one movie is written as WebM when OUT ends in .webm";
        return false;
    }
    if (options->mode == rip_one) options->webm = is_webm_path(options->out_dir);
    if (!options->webm && (options->crf >= 0 || options->quiet)) {
        *error = "--crf and --quiet apply to WebM output only";
        return false;
    }
    return true;
}

struct listing {
    std::vector<std::string> lines;
    FILE* err;
};

static void scan_into(const std::string& file, listing* list) {
    scan_sink sink;
    sink.context = list;
    sink.add_line = [](void* c, const char* text) {
        static_cast<listing*>(c)->lines.push_back(text);
    };
    sink.message = [](void* c, const char* text, const char*, scan_message_kind) {
        fprintf(static_cast<listing*>(c)->err, "%s\n", text);
    };
    movie_count = 0;
    scan_archive(file.c_str(), sink);
}

static int list_movies(const rip_options& options, FILE* out, FILE* err) {
    listing list{{}, err};
    scan_into(options.file, &list);
    for (int32_t i = 0; i < movie_count; ++i)
        fprintf(out, "%d\t%s\n", int(movie_offsets[i]), list.lines[size_t(i)].c_str());
    return movie_count > 0 ? 0 : 1;
}

// One line for a rip that did not complete; empty when it did.
static std::string rip_failure(rip_status status, const rip_request& request,
                               const rip_summary& summary) {
    switch (status) {
    case rip_done:
        return {};
    case rip_cannot_open:
        return "cannot open " + request.path;
    case rip_not_playable:
        return "no playable movie at offset " + std::to_string(request.offset) + " of " +
               request.path;
    case rip_beyond_end:
        return movie_too_short_message();
    case rip_stopped:
        break;
    }
    return summary.error.empty() ? std::string("rip stopped") : summary.error;
}

volatile sig_atomic_t rip_interrupted = 0;

static void on_interrupt(int) {
    rip_interrupted = 1;
}

// The previous handler comes back afterwards.
interrupt_guard::interrupt_guard() {
    rip_interrupted = 0;
    struct sigaction action = {};
    action.sa_handler = on_interrupt;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, &previous);
}

interrupt_guard::~interrupt_guard() {
    sigaction(SIGINT, &previous, nullptr);
}

static bool not_interrupted() {
    return !rip_interrupted;
}

// The pictures written before Ctrl-C are whole and stay; audio.wav and
// timeline.tsv are not written.
static int report_interrupted(const std::string& dir, FILE* err) {
    fprintf(err, "\nreelrip: interrupted; %s is incomplete\n", dir.c_str());
    return 130;
}

static int rip_one_movie(const rip_options& options, FILE* err) {
    interrupt_guard guard;
    rip_request request;
    request.path = options.file;
    request.offset = options.offset;
    request.interlaced = options.interlaced;
    request.from_frame = options.from_frame;
    request.to_frame = options.to_frame;
    request.keep_going = not_interrupted;
    rip_summary summary;
    rip_status status = rip_to_directory(request, options.out_dir, &summary);
    if (rip_interrupted) return report_interrupted(options.out_dir, err);
    std::string failure = rip_failure(status, request, summary);
    if (!failure.empty()) {
        fprintf(err, "reelrip: %s\n", failure.c_str());
        return 1;
    }
    fprintf(err, "reelrip: %d pictures, %.2f s of sound in %d slots, into %s\n",
            int(summary.pictures), summary.seconds(), int(summary.slots), options.out_dir.c_str());
    return 0;
}

static int rip_every_movie(const rip_options& options, FILE* err) {
    listing list{{}, err};
    scan_into(options.file, &list);
    const int32_t count = movie_count;
    if (count == 0) return 1;
    std::vector<int32_t> offsets(movie_offsets, movie_offsets + count);
    std::vector<int32_t> failed;
    double total_seconds = 0;
    interrupt_guard guard;
    for (int32_t i = 0; i < count; ++i) {
        char sub[16];
        snprintf(sub, sizeof sub, "%03d", int(i + 1));
        rip_request request;
        request.path = options.file;
        request.offset = offsets[size_t(i)];
        request.interlaced = options.interlaced;
        request.keep_going = not_interrupted;
        rip_summary summary;
        fprintf(err, "movie %d of %d (offset %d): ", int(i + 1), int(count),
                int(offsets[size_t(i)]));
        fflush(err);
        rip_status status = rip_to_directory(request, options.out_dir + "/" + sub, &summary);
        if (rip_interrupted) return report_interrupted(options.out_dir + "/" + sub, err);
        std::string failure = rip_failure(status, request, summary);
        if (failure.empty()) {
            fprintf(err, "%.2f s, %d pictures\n", summary.seconds(), int(summary.pictures));
            total_seconds += summary.seconds();
        } else {
            fprintf(err, "failed: %s\n", failure.c_str());
            failed.push_back(i + 1);
        }
    }
    if (failed.empty()) {
        fprintf(err, "reelrip: %d movies, %.2f s, into %s\n", int(count), total_seconds,
                options.out_dir.c_str());
        return 0;
    }
    std::string numbers;
    for (int32_t n : failed) numbers += (numbers.empty() ? "" : ", ") + std::to_string(n);
    fprintf(err, "reelrip: %d of %d movies failed: %s\n", int(failed.size()), int(count),
            numbers.c_str());
    return 1;
}

int run_reelrip(int argc, const char* const* argv, FILE* out, FILE* err) {
    rip_options options;
    std::string error;
    if (!parse_rip_options(argc, argv, &options, &error)) {
        fprintf(err, "reelrip: %s\n%s", error.c_str(), rip_usage_text);
        return 2;
    }
    switch (options.mode) {
    case rip_list:
        return list_movies(options, out, err);
    case rip_every:
        return options.webm ? rip_every_webm(options, err) : rip_every_movie(options, err);
    case rip_one:
        break;
    }
    return options.webm ? rip_one_webm(options, err) : rip_one_movie(options, err);
}
