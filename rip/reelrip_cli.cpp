#include "reelrip_cli.h"

#include "export_webm.h"
#include "rip.h"
#include "rip_files.h"
#include "scanner.h"
#include "seek.h"
#include "thumbnail.h"

#include <cctype>
#include <cstring>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

const char rip_usage_text[] =
    "usage: reelrip FILE [-offset N] [-i] [--from T [--to T2]] [--quiet] -o DIR\n"
    "       reelrip FILE [-offset N] [-i] [--from T [--to T2]] [--crf N] [--quiet] -o OUT.webm\n"
    "       reelrip FILE [-offset N] [-i] [--from T [--to T2]] [--quiet] -o OUT.mkv\n"
    "       reelrip --list FILE\n"
    "       reelrip --all FILE [-i] [--quiet] -o DIR\n"
    "       reelrip --all FILE [-i] --webm [--crf N] [--quiet] -o DIR\n"
    "       reelrip --all FILE [-i] --mkv [--quiet] -o DIR\n"
    "       reelrip --thumbnail SIZE FILE OUT.png\n"
    "       reelrip --help | --version\n";

// One option a line, so that new ones slot in.
const char rip_options_text[] =
    "Exports the movie that starts at byte offset N of FILE, a movie file or a game\n"
    "archive, as the player shows it: into DIR as frames/NNNNNN.png, audio.wav and\n"
    "timeline.tsv, as one WebM video (VP9 and Opus) when OUT ends in .webm, or\n"
    "exactly as one Matroska file (lossless VP9 and PCM) when OUT ends in .mkv.\n"
    "  -o DIR|OUT.webm|OUT.mkv\n"
    "                    where to write; missing folders are made\n"
    "  -offset N         the movie's byte offset inside FILE, 0 to 2147483647; 0 when\n"
    "                    not given\n"
    "  -i                pictures at twice their size with every other row dark\n"
    "  --from T          a clip from the slot that contains time T (seconds, 90 or\n"
    "                    90.5, or M:SS or M:SS.s), numbered from 0\n"
    "  --to T2           end the clip before the first slot that starts at or after T2\n"
    "                    (default: the movie's end)\n"
    "  --list FILE       print each listed movie's offset, a tab and its list line\n"
    "  --all FILE        rip every listed movie into DIR, each named after its archive\n"
    "                    member, or 001, 002 ... where members have no names\n"
    "  --webm            with --all, WebM videos instead of folders\n"
    "  --mkv             with --all, exact Matroska files instead of folders\n"
    "  --crf N           WebM picture quality, 0 (best) to 63 (smallest), every\n"
    "                    picture at N; without it, 28 lowered where needed to keep\n"
    "                    38 dB luma PSNR over the movie and 36 dB on each picture\n"
    "  --quiet           print only errors and warnings\n"
    "  --thumbnail SIZE FILE OUT.png\n"
    "                    a PNG of the movie's first picture with content within its\n"
    "                    first 10 s, shrunk to fit SIZE x SIZE (SIZE 1 to 4096)\n"
    "  -h, --help        show this text\n"
    "  --version         show the version\n"
    "Exit status: 0 done, 1 failed (the reason on standard error), 2 a command line\n"
    "that is not valid, 130 stopped by Ctrl-C.\n";

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
        } else if (word == "--help" || word == "-h") {
            options->help = true;
            return true;
        } else if (word == "--webm" || word == "--quiet" || word == "--mkv") {
            (word == "--webm"  ? options->webm
             : word == "--mkv" ? options->mkv
                               : options->quiet) = true;
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
        if (out_given || offset_given || options->interlaced || options->webm || options->mkv ||
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
    if (options->mode == rip_one && (options->webm || options->mkv)) {
        *error = "--webm and --mkv are for --all; one movie is written as WebM or Matroska when "
                 "OUT ends in .webm or .mkv";
        return false;
    }
    if (options->webm && options->mkv) {
        *error = "--webm and --mkv cannot be combined";
        return false;
    }
    if (options->mode == rip_one) {
        options->webm = is_webm_path(options->out_dir);
        options->mkv = is_mkv_path(options->out_dir);
    }
    if (options->mkv && options->crf >= 0) {
        *error = "--crf applies to WebM output only; Matroska output is exact";
        return false;
    }
    options->webm = options->webm || options->mkv;
    if (!options->webm && options->crf >= 0) {
        *error = "--crf applies to WebM output only";
        return false;
    }
    return true;
}

movie_list list_file_movies(const std::string& file) {
    movie_list list;
    scan_sink sink;
    sink.context = &list;
    sink.add_line = [](void* c, const char* text) {
        static_cast<movie_list*>(c)->lines.push_back(text);
    };
    sink.message = [](void*, const char*, const char*, scan_message_kind) {};
    movie_count = 0;
    scan_archive(file.c_str(), sink);
    list.offsets.assign(movie_offsets, movie_offsets + movie_count);
    list.lines.resize(list.offsets.size());
    // The layout without "XTRE" in front names its members.
    if (names_an_archive(file.c_str()) && !list.offsets.empty()) {
        FILE* f = fopen(file.c_str(), "rb");
        char magic[4] = {};
        list.named = f && fread(magic, 1, 4, f) == 4 && memcmp(magic, "XTRE", 4) != 0;
        if (f) fclose(f);
    }
    return list;
}

int64_t movie_end(const std::vector<int32_t>& offsets, int64_t offset) {
    int64_t end = 0;
    for (int32_t o : offsets)
        if (o > offset && (end == 0 || o < end)) end = o;
    return end;
}

// A member's name as a file name: its last path part without the extension,
// only letters, digits, '-', '_' and '.' (others become '_'), no leading dot,
// at most 64 bytes.
static std::string member_file_name(const std::string& member) {
    std::string name = member.substr(member.find_last_of("/\\") + 1);
    if (size_t dot = name.rfind('.'); dot != std::string::npos && dot > 0) name.resize(dot);
    for (char& c : name)
        if (!isalnum(static_cast<unsigned char>(c)) && c != '-' && c != '_' && c != '.') c = '_';
    name.erase(0, name.find_first_not_of('.'));
    if (name.size() > 64) name.resize(64);
    return name;
}

static std::string lower_case(std::string text) {
    for (char& c : text) c = char(tolower(static_cast<unsigned char>(c)));
    return text;
}

std::vector<std::string> output_names(const movie_list& list) {
    std::vector<std::string> names;
    std::set<std::string> taken;
    for (size_t i = 0; i < list.offsets.size(); ++i) {
        std::string name = list.named ? member_file_name(list.lines[i]) : std::string();
        if (name.empty()) {
            char number[16];
            snprintf(number, sizeof number, "%03d", int(i + 1));
            name = number;
        }
        std::string unique = name;
        for (int n = 2; taken.count(lower_case(unique)); ++n)
            unique = name + "_" + std::to_string(n);
        taken.insert(lower_case(unique));
        names.push_back(unique);
    }
    return names;
}

std::string count_of(int64_t count, const char* noun) {
    return std::to_string(count) + " " + noun + (count == 1 ? "" : "s");
}

std::string rip_failure(rip_status status, const std::string& file, int64_t offset,
                        const std::string& error) {
    switch (status) {
    case rip_done:
        return {};
    case rip_cannot_open:
    case rip_not_playable: {
        // A folder opens as a file but reads nothing.
        std::string reason;
        if (!readable_file(file, &reason)) return reason;
        if (status == rip_cannot_open) return "cannot open " + file;
        movie_list list = list_file_movies(file);
        bool listed = false;
        for (int32_t o : list.offsets) listed = listed || o == offset;
        if (names_an_archive(file.c_str()) && !list.offsets.empty() && !listed)
            return file + " is a game archive of " +
                   count_of(int64_t(list.offsets.size()), "movie") +
                   ": choose one with -offset (reelrip --list " + file +
                   " shows them) or rip them all with --all";
        return "no playable movie at offset " + std::to_string(offset) + " of " + file;
    }
    case rip_beyond_end:
        return movie_too_short_message();
    case rip_stopped:
        break;
    }
    return error.empty() ? std::string("rip stopped") : error;
}

std::string cut_warning(const std::string& file, int64_t offset, bool cut_short, double seconds) {
    if (!cut_short || movie_end(list_file_movies(file).offsets, offset) != 0) return {};
    std::error_code error;
    uintmax_t size = std::filesystem::file_size(file, error);
    char text[96];
    snprintf(text, sizeof text, " ends inside the movie at byte %llu: %.2f s ripped",
             static_cast<unsigned long long>(error ? 0 : size), seconds);
    return file + text;
}

void every_report::start(int32_t number, int64_t offset, const std::string& name) {
    current = number;
    heading = "movie " + std::to_string(number) + " of " + std::to_string(count) + " (offset " +
              std::to_string(offset) + ", " + name + "): ";
    if (quiet) return;
    fputs(heading.c_str(), err);
    fflush(err);
}

void every_report::succeeded(const std::string& outcome, const std::string& warning) {
    if (!quiet) fprintf(err, "%s\n", outcome.c_str());
    if (!warning.empty()) fprintf(err, "reelrip: %s\n", warning.c_str());
}

void every_report::fail(const std::string& reason) {
    failed.push_back(current);
    if (quiet)
        fprintf(err, "reelrip: %sfailed: %s\n", heading.c_str(), reason.c_str());
    else
        fprintf(err, "failed: %s\n", reason.c_str());
}

int every_report::finish(const std::string& dir, double seconds) {
    if (failed.empty()) {
        if (!quiet)
            fprintf(err, "reelrip: %s, %.2f s, into %s\n", count_of(count, "movie").c_str(),
                    seconds, dir.c_str());
        return 0;
    }
    std::string numbers;
    for (int32_t n : failed) numbers += (numbers.empty() ? "" : ", ") + std::to_string(n);
    fprintf(err, "reelrip: %d of %s failed: %s\n", int(failed.size()),
            count_of(count, "movie").c_str(), numbers.c_str());
    return 1;
}

bool list_or_say_why(const std::string& file, FILE* err, movie_list* list) {
    std::string reason;
    if (!readable_file(file, &reason)) {
        fprintf(err, "reelrip: %s\n", reason.c_str());
        return false;
    }
    *list = list_file_movies(file);
    if (!list->offsets.empty()) return true;
    fprintf(err, "reelrip: no playable movies in %s\n", file.c_str());
    return false;
}

static int list_movies(const rip_options& options, FILE* out, FILE* err) {
    movie_list list;
    if (!list_or_say_why(options.file, err, &list)) return 1;
    for (size_t i = 0; i < list.offsets.size(); ++i)
        fprintf(out, "%d\t%s\n", int(list.offsets[i]), list.lines[i].c_str());
    return 0;
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
    std::string failure = rip_failure(status, options.file, options.offset, summary.error);
    if (!failure.empty()) {
        fprintf(err, "reelrip: %s\n", failure.c_str());
        return 1;
    }
    if (!options.quiet)
        fprintf(err, "reelrip: %s, %.2f s of sound in %s, into %s\n",
                count_of(summary.pictures, "picture").c_str(), summary.seconds(),
                count_of(summary.slots, "slot").c_str(), options.out_dir.c_str());
    std::string warning =
        cut_warning(options.file, options.offset, summary.cut_short, summary.seconds());
    if (!warning.empty()) fprintf(err, "reelrip: %s\n", warning.c_str());
    return 0;
}

static int rip_every_movie(const rip_options& options, FILE* err) {
    movie_list list;
    if (!list_or_say_why(options.file, err, &list)) return 1;
    const int32_t count = int32_t(list.offsets.size());
    std::vector<std::string> names = output_names(list);
    every_report report{err, options.quiet, count};
    double total_seconds = 0;
    interrupt_guard guard;
    for (int32_t i = 0; i < count; ++i) {
        const int32_t offset = list.offsets[size_t(i)];
        const std::string sub = options.out_dir + "/" + names[size_t(i)];
        rip_request request;
        request.path = options.file;
        request.offset = offset;
        request.interlaced = options.interlaced;
        request.keep_going = not_interrupted;
        rip_summary summary;
        report.start(i + 1, offset, names[size_t(i)]);
        rip_status status = rip_to_directory(request, sub, &summary);
        if (rip_interrupted) return report_interrupted(sub, err);
        std::string failure = rip_failure(status, options.file, offset, summary.error);
        if (!failure.empty()) {
            report.fail(failure);
            continue;
        }
        char outcome[80];
        snprintf(outcome, sizeof outcome, "%.2f s, %s", summary.seconds(),
                 count_of(summary.pictures, "picture").c_str());
        report.succeeded(outcome,
                         cut_warning(options.file, offset, summary.cut_short, summary.seconds()));
        total_seconds += summary.seconds();
    }
    return report.finish(options.out_dir, total_seconds);
}

int run_reelrip(int argc, const char* const* argv, FILE* out, FILE* err) {
    if (argc >= 2 && strcmp(argv[1], "--thumbnail") == 0) {
        int status = run_thumbnail(argc - 2, argv + 2, err);
        if (status == 2) fputs(rip_usage_text, err);
        return status;
    }
    rip_options options;
    std::string error;
    if (!parse_rip_options(argc, argv, &options, &error)) {
        fprintf(err, "reelrip: %s\n%s", error.c_str(), rip_usage_text);
        return 2;
    }
    if (options.help) {
        fputs(rip_usage_text, out);
        fputs(rip_options_text, out);
        return 0;
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
