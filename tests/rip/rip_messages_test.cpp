// What reelrip says, case by case: each wording, its exit status, and where
// it leaves files.
#include "archive_writer.h"
#include "bytes.h"
#include "rip_test_support.h"
#include "schl_writer.h"

#include <algorithm>
#include <cmath>
#include <fnmatch.h>
#include <gtest/gtest.h>

namespace {

namespace fs = std::filesystem;

std::vector<uint8_t> small_schl_movie() {
    schl_movie_content movie;
    movie.width = 32;
    movie.height = 32;
    movie.frames_per_slot = 28 * 20;
    for (int i = 0; i < 6; ++i) {
        auto rgb = make_schl_scene(32, 32, i * 0.3);
        movie.pictures.push_back(encode_schl_picture(schl_planes_from_rgb(rgb.data(), 32, 32)));
    }
    for (int i = 0; i < 28 * 20 * 6; ++i) movie.sound.push_back(int16_t(6000 * std::sin(i * 0.03)));
    return write_schl_movie(movie);
}

// Words and texts say @ for the test's folder; err and out are fnmatch
// patterns, so "*" stands for figures that depend on the movie.
struct message_case {
    std::vector<std::string> words;
    int status;
    std::string err;
    std::string out = "";
    std::vector<std::string> made = {}; // paths that must exist afterwards
};

std::string with_dir(std::string text, const std::string& dir) {
    for (size_t at; (at = text.find('@')) != std::string::npos;) text.replace(at, 1, dir);
    return text;
}

// text matched as it stands.
std::string literal(const std::string& text) {
    std::string pattern;
    for (char c : text) {
        if (c == '[' || c == '*' || c == '?' || c == '\\') pattern += '\\';
        pattern += c;
    }
    return pattern;
}

TEST(RipMessages, EachCaseSaysWhatIsWrong) {
    const std::string dir = fresh_dir("messages");
    const std::vector<uint8_t> movie = small_schl_movie();
    ASSERT_TRUE(write_file(dir + "/movie.tgv", movie));
    const size_t cut_size = movie.size() * 3 / 5;
    ASSERT_TRUE(write_file(dir + "/cut.tgv", {movie.begin(), movie.begin() + long(cut_size)}));
    ASSERT_TRUE(write_file(dir + "/game.tre", write_named_archive({{"intro.mov", movie},
                                                                   {"notes.txt", {'h', 'i'}},
                                                                   {"INTRO.MOV", movie}})));
    byte_builder fake; // taken by the scanner, refused by the probe
    fake.tag("JUNK").be32(8).tag("MOVE").tag("_PC_").zeros(32);
    ASSERT_TRUE(write_file(dir + "/fake.tre", write_xtre_archive({{"", fake.bytes}})));
    ASSERT_TRUE(write_file(dir + "/empty.tre", write_xtre_archive({{"", {9, 9, 9, 9}}})));
    fs::create_directories(dir + "/folder.tgv");
    const std::string usage = literal(rip_usage_text);
    const std::string archive = "reelrip: @/game.tre is a game archive of 2 movies: choose one "
                                "with -offset (reelrip --list @/game.tre shows them) or rip them "
                                "all with --all\n";
    const std::string cut = "reelrip: @/cut.tgv ends inside the movie at byte " +
                            std::to_string(cut_size) + ": *.* s ripped\n";

    const std::vector<message_case> cases = {
        {{"@/missing.tgv", "-o", "@/out"},
         1,
         "reelrip: cannot open @/missing.tgv: No such file or directory\n"},
        {{"--list", "@/missing.tgv"},
         1,
         "reelrip: cannot open @/missing.tgv: No such file or directory\n"},
        {{"--list", "@/folder.tgv"}, 1, "reelrip: cannot open @/folder.tgv: Is a directory\n"},
        {{"--all", "@/folder.tgv", "-o", "@/out"},
         1,
         "reelrip: cannot open @/folder.tgv: Is a directory\n"},
        {{"--list", "@/empty.tre"}, 1, "reelrip: no playable movies in @/empty.tre\n"},
        {{"@/empty.tre", "-o", "@/out"},
         1,
         "reelrip: no playable movie at offset 0 of @/empty.tre\n"},
        {{"@/game.tre", "-o", "@/out"}, 1, archive},
        {{"@/game.tre", "-offset", "7", "-o", "@/out.webm"}, 1, archive},
        {{"@/movie.tgv", "-o", "@/movie.tgv/out.webm"},
         1,
         "reelrip: cannot write @/movie.tgv/out.webm: Not a directory\n"},
        {{"@/movie.tgv", "-o", "@/movie.tgv"},
         1,
         "reelrip: cannot create @/movie.tgv/frames: Not a directory\n"},
        {{"@/cut.tgv", "-o", "@/cut"},
         0,
         "reelrip: * pictures, *.* s of sound in * slots, into @/cut\n" + cut},
        {{"@/cut.tgv", "-o", "@/new/cut.webm", "--quiet"}, 0, cut, "", {"@/new/cut.webm"}},
        {{"@/movie.tgv", "-o", "@/quiet", "--quiet"}, 0, "", "", {"@/quiet/timeline.tsv"}},
        {{"--all", "@/game.tre", "-o", "@/all"},
         0,
         "movie 1 of 2 (offset *, intro): *.* s, 6 pictures\n"
         "movie 2 of 2 (offset *, INTRO_2): *.* s, 6 pictures\n"
         "reelrip: 2 movies, *.* s, into @/all\n",
         "",
         {"@/all/intro/audio.wav", "@/all/INTRO_2/audio.wav"}},
        {{"--all", "@/game.tre", "--webm", "-o", "@/webm", "--quiet"},
         0,
         "",
         "",
         {"@/webm/intro.webm", "@/webm/INTRO_2.webm"}},
        {{"--all", "@/movie.tgv", "-o", "@/one"},
         0,
         "movie 1 of 1 (offset 0, 001): *.* s, 6 pictures\nreelrip: 1 movie, *.* s, into @/one\n"},
        {{"--all", "@/fake.tre", "-o", "@/fake", "--quiet"},
         1,
         "reelrip: movie 1 of 1 (offset *, 001): failed: no playable movie at offset * of "
         "@/fake.tre\nreelrip: 1 of 1 movie failed: 1\n"},
        {{"@/movie.tgv", "-o", "@/x", "--crf", "9"},
         2,
         "reelrip: --crf applies to WebM output only\n" + usage},
        {{}, 2, "reelrip: no FILE given\n" + usage},
        {{"--thumbnail", "9"},
         2,
         "reelrip: --thumbnail needs SIZE (1 to 4096), FILE and OUT.png\n" + usage},
        {{"--thumbnail", "64", "@/missing.tgv", "@/t.png"},
         1,
         "reelrip: cannot open @/missing.tgv: No such file or directory\n"},
        {{"--thumbnail", "64", "@/movie.tgv", "@/thumbs/t.png"}, 0, "", "", {"@/thumbs/t.png"}},
        {{"-h"}, 0, "", usage + "*  --quiet *  -h, --help *"},
        {{"@/movie.tgv", "--help", "-o"}, 0, "", usage + "*"},
    };
    for (const message_case& c : cases) {
        std::vector<std::string> words = {"reelrip"};
        for (const std::string& w : c.words) words.push_back(with_dir(w, dir));
        std::vector<const char*> argv;
        for (const std::string& w : words) argv.push_back(w.c_str());
        command_result r = run_command(argv);
        std::string call = testing::PrintToString(c.words);
        EXPECT_EQ(r.status, c.status) << call << "\n" << r.err;
        EXPECT_EQ(fnmatch(with_dir(c.err, dir).c_str(), r.err.c_str(), 0), 0) << call << " said\n"
                                                                              << r.err;
        EXPECT_EQ(fnmatch(c.out.c_str(), r.out.c_str(), 0), 0) << call << " printed\n" << r.out;
        for (const std::string& path : c.made) EXPECT_TRUE(fs::exists(with_dir(path, dir))) << path;
    }
}

TEST(RipMessages, ARipReplacesAnEarlierOneWhole) {
    const std::string dir = fresh_dir("replace");
    const std::vector<uint8_t> movie = small_schl_movie();
    ASSERT_TRUE(write_file(dir + "/movie.tgv", movie));
    ASSERT_TRUE(
        write_file(dir + "/cut.tgv", {movie.begin(), movie.begin() + long(movie.size() / 2)}));
    ASSERT_EQ(
        run_command({"reelrip", (dir + "/movie.tgv").c_str(), "-o", (dir + "/out").c_str()}).status,
        0);
    ASSERT_TRUE(write_file(dir + "/out/frames/notes.txt", {'k', 'e', 'e', 'p'}));
    command_result r =
        run_command({"reelrip", (dir + "/cut.tgv").c_str(), "-o", (dir + "/out").c_str()});
    ASSERT_EQ(r.status, 0) << r.err;
    std::vector<uint8_t> timeline = read_file(dir + "/out/timeline.tsv");
    size_t pictures = 0;
    for (size_t i = 1; i < timeline.size(); ++i)
        pictures += timeline[i] == '\n' && timeline[i - 1] == '1';
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir + "/out/frames"))
        names.push_back(e.path().filename());
    std::sort(names.begin(), names.end());
    ASSERT_GT(pictures, 0u);
    EXPECT_LT(pictures, 6u);
    // Only the new rip's pictures and what is not a picture of the rip's naming.
    ASSERT_EQ(names.size(), pictures + 1);
    EXPECT_EQ(names.back(), "notes.txt");
    for (size_t i = 0; i < pictures; ++i) EXPECT_EQ(names[i], frame_file_name(int32_t(i)));
}

} // namespace
