#include "deck.h"

#include "export_webm.h"
#include "scanner.h"

#include <cctype>
#include <cstdio>
#include <cstring>
#include <filesystem>

const deck_control deck_controls[deck_control_count] = {
    {id_exit, control_default_button, "Exit", 89, 126, 50, 14},
    {id_open, control_push_button, "Open file/TRE", 23, 126, 50, 14},
    {id_movie_list, control_list_box, "", 89, 20, 121, 84},
    {id_none, control_static_text, "Zoom factor:", 13, 23, 43, 10},
    {id_zoom_list, control_list_box, "", 15, 35, 64, 22},
    {id_none, control_group_box, "", 7, 116, 211, 30},
    {id_play, control_push_button, "Play", 23, 65, 50, 10},
    {id_rip, control_push_button, "Rip to ???", 23, 79, 50, 10},
    {id_none, control_group_box, "", 7, 7, 211, 103},
    {id_about, control_push_button, "About", 155, 126, 50, 14},
};

const char deck_caption[] = "KV Movie Player - By the reeldeck developers - v1.0";

const deck_about deck_about_box = {
    "reeldeck",
    "1.0",
    "Lists the movies inside a game archive and plays the one you pick.",
    "Licensed under the MIT License.",
};

std::string player_path;
std::string chosen_path;
// The movie list's lines, to name a movie whose player failed.
static std::vector<std::string> movie_lines;

std::string find_player_path(const std::string& current_dir, const std::string& own_dir,
                             bool (*is_program)(const std::string& path)) {
    std::string here = current_dir + "/" + player_name;
    if (is_program(here) || own_dir.empty()) return here;
    std::string beside = own_dir + "/" + player_name;
    return is_program(beside) ? beside : here;
}

std::string any_case_pattern(const char* pattern) {
    std::string out;
    for (const char* p = pattern; *p; ++p) {
        unsigned char c = static_cast<unsigned char>(*p);
        if (isalpha(c)) {
            out += '[';
            out += char(tolower(c));
            out += char(toupper(c));
            out += ']';
        } else {
            out += *p;
        }
    }
    return out;
}

const deck_open_request& open_request() {
    static const std::string tre = any_case_pattern("*.tre");
    static const std::string tgv = any_case_pattern("*.tgv");
    static const deck_open_request request = {
        "Open",
        "*.tre",
        {{"KV3, KV4 or KVX TRE file (*.tre)", tre.c_str()},
         {"Drennic 2 movie file (*.tgv)", tgv.c_str()}},
    };
    return request;
}

std::string player_command_line(const std::string& path, int zoom_line, int32_t offset) {
    char number[16];
    snprintf(number, sizeof number, "%d", offset);
    std::string line = std::string(player_name) + " " + path + " ";
    if (zoom_line == zoom_line_interlaced) line += "-i ";
    return line + "-offset " + number;
}

std::vector<std::string> player_arguments(const std::string& path, int zoom_line, int32_t offset) {
    std::vector<std::string> args = {player_name, path};
    if (zoom_line == zoom_line_interlaced) args.push_back("-i");
    args.push_back("-offset");
    args.push_back(std::to_string(offset));
    return args;
}

void deck_start(const deck_ui& ui, const std::string& player) {
    player_path = player;
    ui.add_line(ui.context, id_zoom_list, "1x");
    ui.add_line(ui.context, id_zoom_list, "2x interlaced");
    ui.select_line(ui.context, id_zoom_list, zoom_line_interlaced);
}

static void sink_line(void* context, const char* text) {
    const deck_ui& ui = *static_cast<const deck_ui*>(context);
    ui.add_line(ui.context, id_movie_list, text);
    movie_lines.push_back(text);
}

// Every message of the launcher carries the error icon, warnings included.
static void sink_message(void* context, const char* text, const char* caption, scan_message_kind) {
    const deck_ui& ui = *static_cast<const deck_ui*>(context);
    ui.message(ui.context, text, caption, icon_error);
}

void deck_open_path(const deck_ui& ui, const std::string& path) {
    movie_count = 0;
    while (ui.delete_line(ui.context, id_movie_list, 0)) {
    }
    movie_lines.clear();
    std::error_code error;
    std::filesystem::path whole = std::filesystem::absolute(path, error);
    chosen_path = error ? path : whole.string();
    // archive_path keeps what fits of it; the scan and the player get it whole.
    scan_sink sink = {sink_line, sink_message, const_cast<deck_ui*>(&ui)};
    // The scan reports "Cannot open file" and "No playable movies found on
    // this archive" itself, in that order.
    scan_archive(chosen_path.c_str(), sink);
}

void deck_open(const deck_ui& ui) {
    std::string path;
    if (!ui.choose_file(ui.context, open_request(), &path)) return;
    deck_open_path(ui, path);
}

void deck_play(const deck_ui& ui) {
    if (movie_count <= 0) return;
    int line = ui.selected_line(ui.context, id_movie_list);
    // Right after an open nothing is selected; the first movie is meant.
    if (line < 0) line = 0;
    if (line >= movie_count || line >= movie_list_capacity) return;
    int zoom = ui.selected_line(ui.context, id_zoom_list);
    std::vector<std::string> args = player_arguments(chosen_path, zoom, movie_offsets[line]);
    std::string movie = size_t(line) < movie_lines.size() ? movie_lines[size_t(line)] : "";
    if (!ui.start_program(ui.context, player_path, args, movie))
        ui.message(ui.context, "Cannot start the player", "Error", icon_error);
}

void deck_player_ended(const deck_ui& ui, const player_end& end) {
    if (end.exit_status == 0 && end.signal == 0) return;
    std::string text = "The player could not play " + end.label + ": ";
    std::string ending = end.signal ? "ended by signal " + std::to_string(end.signal) + ", " +
                                          signal_name(end.signal)
                                    : "exit status " + std::to_string(end.exit_status);
    if (end.last_line.empty())
        text += "it wrote nothing (" + ending + ")";
    else if (end.signal)
        text += end.last_line + " (" + ending + ")";
    else
        text += end.last_line;
    ui.message(ui.context, text.c_str(), "Error", icon_error);
}

std::string rip_file_name(const std::string& archive, int line) {
    return std::filesystem::path(archive).stem().string() + "-" + std::to_string(line + 1) +
           ".webm";
}

void deck_run_export(deck_export* job) {
    rip_request request;
    request.path = job->archive;
    request.offset = job->offset;
    request.interlaced = job->interlaced;
    webm_options options;
    options.exact = job->exact;
    options.title = job->title;
    options.movie_end = job->movie_end;
    options.progress = [job](const webm_progress& p) {
        job->fraction = p.fraction;
        return !job->cancel;
    };
    webm_summary summary;
    rip_status status = rip_to_webm(request, job->out_path, options, &summary);
    job->ok = status == rip_done;
    if (status == rip_cannot_open) job->error = "Cannot open " + job->archive;
    if (status == rip_not_playable) job->error = "No playable movie at this place of the file";
    if (status == rip_stopped) job->error = summary.error;
    job->finished = true;
}

void deck_rip(const deck_ui& ui) {
    if (movie_count <= 0 || !ui.choose_save_file || !ui.run_export) return;
    int line = ui.selected_line(ui.context, id_movie_list);
    if (line < 0) line = 0;
    if (line >= movie_count || line >= movie_list_capacity) return;
    static const std::string webm_pattern = any_case_pattern("*.webm");
    static const std::string mkv_pattern = any_case_pattern("*.mkv");
    const std::filesystem::path archive(chosen_path);
    deck_save_request request = {"Rip to",
                                 archive.parent_path().string(),
                                 rip_file_name(chosen_path, line),
                                 {{"WebM video (*.webm)", webm_pattern.c_str()},
                                  {"Matroska, exact (*.mkv)", mkv_pattern.c_str()}}};
    std::string path;
    int filter = 0;
    if (!ui.choose_save_file(ui.context, request, &path, &filter)) return;
    // The file type chosen names the file, unless the name typed asks for
    // the exact kind itself.
    const bool exact = filter == 1 || is_mkv_path(path);
    if (exact && is_webm_path(path)) path.resize(path.size() - 5);
    if (exact && !is_mkv_path(path)) path += ".mkv";
    if (!exact && !is_webm_path(path)) path += ".webm";

    deck_export job;
    job.archive = chosen_path;
    job.offset = movie_offsets[line];
    for (int i = 0; i < movie_count && i < movie_list_capacity; ++i)
        if (movie_offsets[i] > job.offset &&
            (job.movie_end == 0 || movie_offsets[i] < job.movie_end))
            job.movie_end = movie_offsets[i];
    job.interlaced = ui.selected_line(ui.context, id_zoom_list) == zoom_line_interlaced;
    job.exact = exact;
    job.out_path = path;
    job.title = archive.filename().string() + ", movie " + std::to_string(line + 1);
    ui.run_export(ui.context, &job);
    if (job.ok)
        ui.message(ui.context, ("The movie is saved as " + path).c_str(), "Saved",
                   icon_information);
    else if (!job.cancel)
        ui.message(ui.context, job.error.c_str(), "Error", icon_error);
}

void deck_command(const deck_ui& ui, int id) {
    if (id == id_open) deck_open(ui);
    if (id == id_play) deck_play(ui);
    if (id == id_rip) deck_rip(ui);
    if (id == id_about) ui.show_about(ui.context, deck_about_box);
}
