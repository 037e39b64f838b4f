#include "archive_writer.h"
#include "bytes.h"
#include "scanner.h"

#include "mutation.h"
#include <filesystem>

#include <gtest/gtest.h>
#include <random>
#include <string>
#include <vector>

namespace {

struct scan_message {
    std::string text, caption;
    scan_message_kind kind;
};

struct scan_result {
    std::vector<std::string> lines;
    std::vector<scan_message> messages;
    std::vector<int32_t> offsets;
};

scan_result scan(const std::string& path) {
    scan_result r;
    scan_sink sink;
    sink.context = &r;
    sink.add_line = [](void* c, const char* text) {
        static_cast<scan_result*>(c)->lines.push_back(text);
    };
    sink.message = [](void* c, const char* text, const char* caption, scan_message_kind kind) {
        static_cast<scan_result*>(c)->messages.push_back({text, caption, kind});
    };
    movie_count = 0;
    scan_archive(path.c_str(), sink);
    r.offsets.assign(movie_offsets, movie_offsets + movie_count);
    return r;
}

// One directory per test: ctest runs the tests in parallel processes.
std::string scanner_dir() {
    std::string dir = std::string(REEL_BUILD_DIR) + "/test-scratch/scanner/" +
                      testing::UnitTest::GetInstance()->current_test_info()->name();
    std::filesystem::create_directories(dir);
    return dir;
}

scan_result scan_bytes(const std::vector<uint8_t>& bytes, const std::string& name = "a.tre") {
    std::string path = scanner_dir() + "/" + name;
    if (bytes.empty()) {
        // write_file hands fwrite a null pointer for an empty vector.
        FILE* f = fopen(path.c_str(), "wb");
        EXPECT_TRUE(f && fclose(f) == 0);
    } else {
        EXPECT_TRUE(write_file(path, bytes));
    }
    return scan(path);
}

// First 16 bytes of a member as the launcher's recognition sees them.
std::vector<uint8_t> member(const char* first, const char* kind, const char* platform,
                            size_t extra = 40) {
    byte_builder b;
    b.tag(first).be32(1234).tag(kind).tag(platform).zeros(extra);
    return b.bytes;
}

std::vector<uint8_t> schl_member(const char* tag) {
    byte_builder b;
    b.tag(tag).le32(64).zeros(56);
    return b.bytes;
}

void expect_only_no_movies_warning(const scan_result& r) {
    EXPECT_TRUE(r.lines.empty());
    EXPECT_TRUE(r.offsets.empty());
    ASSERT_EQ(r.messages.size(), 1u);
    EXPECT_EQ(r.messages[0].text, "No playable movies found on this archive");
    EXPECT_EQ(r.messages[0].caption, "Warning");
    EXPECT_EQ(r.messages[0].kind, scan_warning);
}

TEST(ArchiveScanner, XtreListsFormAndRiffMembersNumberedByListPosition) {
    std::vector<archive_member> members = {
        {"", member("FORM", "MOVE", "_PC_")}, {"", member("FORM", "MOVE", "XXXX")},
        {"", member("RIFF", "AVI ", "LIST")}, {"", member("JUNK", "move", "_PC_")},
        {"", member("FORM", "MOVE", "LIST")},
    };
    std::vector<int32_t> at;
    scan_result r = scan_bytes(write_xtre_archive(members, &at));
    ASSERT_EQ(r.lines.size(), 3u);
    EXPECT_EQ(r.lines[0], "Movie 1 - offset " + std::to_string(at[0]));
    EXPECT_EQ(r.lines[1], "Movie 2 - offset " + std::to_string(at[2]));
    EXPECT_EQ(r.lines[2], "Movie 3 - offset " + std::to_string(at[4]));
    EXPECT_EQ(r.offsets, (std::vector<int32_t>{at[0], at[2], at[4]}));
    EXPECT_TRUE(r.messages.empty());
    EXPECT_EQ(movie_count, 3);
}

TEST(ArchiveScanner, XtreEntryCountIsTheIndexLengthDividedByEight) {
    // Six members; the index end decides how many of their entries are read.
    auto build = [](uint32_t index_bytes) {
        byte_builder b;
        b.tag("XTRE").zeros(12).le32(1000).le32(1000 + index_bytes);
        b.zeros(1000 - b.size());
        uint32_t first_member = 1100;
        for (int i = 0; i < 6; ++i) b.le32(first_member + 16 * i).le32(16);
        b.zeros(first_member - b.size());
        for (int i = 0; i < 6; ++i) b.raw(member("FORM", "MOVE", "_PC_", 0));
        return b.bytes;
    };
    EXPECT_EQ(scan_bytes(build(40)).lines.size(), 5u);
    EXPECT_EQ(scan_bytes(build(44)).lines.size(), 5u);
    EXPECT_EQ(scan_bytes(build(47)).lines.size(), 5u);
    EXPECT_EQ(scan_bytes(build(48)).lines.size(), 6u);
    expect_only_no_movies_warning(scan_bytes(build(7)));
}

TEST(ArchiveScanner, XtreIndexPastTheEndOrReversedIsRefused) {
    auto build = [](uint32_t x, uint32_t y) {
        byte_builder b;
        b.tag("XTRE").zeros(12).le32(x).le32(y);
        for (int i = 0; i < 4; ++i) b.le32(56 + 16 * i).le32(16);
        for (int i = 0; i < 4; ++i) b.raw(member("FORM", "MOVE", "_PC_", 0));
        return b.bytes;
    };
    std::vector<uint8_t> good = build(24, 56);
    ASSERT_EQ(good.size(), 120u);
    EXPECT_EQ(scan_bytes(good).lines.size(), 4u);
    EXPECT_EQ(scan_bytes(build(24, 120)).lines.size(), 4u); // index may end at the file's end
    expect_only_no_movies_warning(scan_bytes(build(24, 121)));
    expect_only_no_movies_warning(scan_bytes(build(24, 0xFFFFFFFF)));
    expect_only_no_movies_warning(scan_bytes(build(56, 24)));
    expect_only_no_movies_warning(scan_bytes(build(0xFFFFFFF0, 0xFFFFFFFF)));
}

TEST(ArchiveScanner, MembersAtOrNearTheEndOfTheFileAreNotAccepted) {
    // The last entry points 12 bytes before the end: "MOVE" fits, the
    // platform tag does not, and nothing left over from the previous member
    // may stand in for it.
    byte_builder b;
    b.tag("XTRE").zeros(12).le32(24).le32(48);
    b.le32(48).le32(16).le32(64).le32(16).le32(0xFFFFFF00).le32(0);
    b.raw(member("FORM", "MOVE", "_PC_", 0));
    b.tag("FORM").be32(0).tag("MOVE");
    std::vector<uint8_t> bytes = b.bytes;
    scan_result r = scan_bytes(bytes);
    ASSERT_EQ(r.lines.size(), 1u);
    EXPECT_EQ(r.offsets[0], 48);
}

TEST(ArchiveScanner, NamedArchiveListsSchlAndPiqtMembersByName) {
    std::vector<archive_member> members = {
        {"intro.vid", schl_member("SCHl")},
        {"second.vid", schl_member("SCDl")},
        {"bare.pic", schl_member("pIQT")},
        {"lower.vid", schl_member("schl")},
    };
    std::vector<int32_t> at;
    scan_result r = scan_bytes(write_named_archive(members, &at));
    EXPECT_EQ(r.lines, (std::vector<std::string>{"intro.vid", "bare.pic"}));
    EXPECT_EQ(r.offsets, (std::vector<int32_t>{at[0], at[2]}));
    EXPECT_TRUE(r.messages.empty());

    scan_result one = scan_bytes(write_named_archive({members[0], members[1]}));
    EXPECT_EQ(one.lines, (std::vector<std::string>{"intro.vid"}));
    EXPECT_EQ(movie_count, 1);
}

TEST(ArchiveScanner, NamedArchiveNameWithoutNulIsCutAt256Characters) {
    std::vector<int32_t> at;
    std::vector<uint8_t> bytes = write_named_archive({{"x", schl_member("SCHl")}}, &at);
    // Fill the whole 256-byte name field, then the member's own bytes follow.
    std::string full(256, 'n');
    full[0] = 'A';
    full[255] = 'Z';
    std::copy(full.begin(), full.end(), bytes.begin() + 16 + 16);
    scan_result r = scan_bytes(bytes);
    ASSERT_EQ(r.lines.size(), 1u);
    EXPECT_EQ(r.lines[0], full);
}

TEST(ArchiveScanner, NamedCountWhoseIndexDoesNotFitIsRefused) {
    std::vector<uint8_t> bytes =
        write_named_archive({{"a", schl_member("SCHl")}, {"b", schl_member("SCHl")}});
    EXPECT_EQ(scan_bytes(bytes).lines.size(), 2u);
    // Three entries would reach 272 bytes into the members: they are only 128.
    bytes[0] = 3;
    expect_only_no_movies_warning(scan_bytes(bytes));
    for (uint32_t n : {0xFFFFFFFFu, 0x80000000u, 0x00F0F0F1u}) {
        byte_builder b;
        b.le32(n).zeros(12 + 272).raw(schl_member("SCHl"));
        expect_only_no_movies_warning(scan_bytes(b.bytes));
    }
    // A count of zero is a valid, empty archive.
    byte_builder empty;
    empty.le32(0).zeros(12);
    expect_only_no_movies_warning(scan_bytes(empty.bytes));
}

TEST(ArchiveScanner, TinyArchivesListNothing) {
    expect_only_no_movies_warning(scan_bytes({}));
    expect_only_no_movies_warning(scan_bytes({'X', 'T', 'R'}));
    expect_only_no_movies_warning(scan_bytes({'X', 'T', 'R', 'E', 0, 0}));
}

TEST(ArchiveScanner, ListingStopsAtTenThousandMovies) {
    // Every index entry names the same member.
    const int entries = 10005;
    byte_builder a;
    uint32_t member_at = 24 + 8 * entries;
    a.tag("XTRE").zeros(12).le32(24).le32(member_at);
    for (int i = 0; i < entries; ++i) a.le32(member_at).le32(16);
    a.raw(member("FORM", "MOVE", "_PC_"));
    scan_result r = scan_bytes(a.bytes);
    ASSERT_EQ(r.lines.size(), 10000u);
    EXPECT_EQ(movie_count, 10000);
    EXPECT_EQ(r.lines.back(), "Movie 10000 - offset " + std::to_string(member_at));

    byte_builder b;
    uint32_t schl_at = 16 + 272 * entries;
    b.le32(entries).zeros(12);
    for (int i = 0; i < entries; ++i) {
        b.zeros(8).le32(schl_at).le32(64);
        char name[256] = {};
        snprintf(name, sizeof name, "m%d", i);
        b.raw(name, sizeof name);
    }
    b.raw(schl_member("SCHl"));
    scan_result n = scan_bytes(b.bytes);
    ASSERT_EQ(n.lines.size(), 10000u);
    EXPECT_EQ(n.lines.back(), "m9999");
    EXPECT_TRUE(n.messages.empty());
}

TEST(ArchiveScanner, SingleMovieFilesAreListedWholeWithoutOpening) {
    for (std::string path : {"/nonexistent/dir/movie.tgv", "ab", "", "x.tr", "movie.TRX"}) {
        scan_result r = scan(path);
        std::string line = "Single movie file: ";
        line.append(path);
        EXPECT_EQ(r.lines, (std::vector<std::string>{line})) << path;
        EXPECT_EQ(r.offsets, (std::vector<int32_t>{0}));
        EXPECT_TRUE(r.messages.empty());
    }
    // A path longer than archive_path still appears whole in the line.
    std::string long_path(700, 'd');
    long_path.append("/clip.tgv");
    scan_result r = scan(long_path);
    ASSERT_EQ(r.lines.size(), 1u);
    EXPECT_EQ(r.lines[0], "Single movie file: " + long_path);
}

TEST(ArchiveScanner, TreEndingsInAnyCaseAreArchives) {
    for (std::string name :
         {"/nonexistent/GAME.TRE", "/nonexistent/game.Tre", "/nonexistent/theatre", "tre"}) {
        scan_result r = scan(name);
        EXPECT_TRUE(r.lines.empty()) << name;
        ASSERT_EQ(r.messages.size(), 2u) << name;
        EXPECT_EQ(r.messages[0].text, "Cannot open file");
        EXPECT_EQ(r.messages[0].caption, "Error");
        EXPECT_EQ(r.messages[0].kind, scan_error);
        EXPECT_EQ(r.messages[1].text, "No playable movies found on this archive");
        EXPECT_EQ(movie_count, 0);
    }
    std::vector<uint8_t> bytes = write_xtre_archive({{"", member("FORM", "MOVE", "_PC_")}});
    EXPECT_EQ(scan_bytes(bytes, "theatre").lines.size(), 1u);
    EXPECT_EQ(scan_bytes(bytes, "UPPER.TRE").lines.size(), 1u);
}

TEST(ArchiveScanner, ScanReplacesThePreviousListAndRecordsThePath) {
    std::string dir = scanner_dir();
    std::vector<uint8_t> three = write_xtre_archive({{"", member("FORM", "MOVE", "_PC_")},
                                                     {"", member("FORM", "MOVE", "_PC_")},
                                                     {"", member("FORM", "MOVE", "_PC_")}});
    EXPECT_EQ(scan_bytes(three).lines.size(), 3u);
    EXPECT_STREQ(archive_path, (dir + "/a.tre").c_str());
    // The caller forgot to clear the count: the scan starts from zero anyway.
    movie_count = 7;
    scan_sink quiet = {nullptr, nullptr, nullptr};
    scan_archive((dir + "/a.tre").c_str(), quiet);
    EXPECT_EQ(movie_count, 3);
    // Scanning archive_path itself works in place.
    scan_archive(archive_path, quiet);
    EXPECT_EQ(movie_count, 3);
}

TEST(ArchiveScanner, MemberTestsLeaveTheFileWhereTheLauncherExpects) {
    std::string path = scanner_dir() + "/members.bin";
    byte_builder b;
    b.zeros(10).raw(member("FORM", "AVI ", "_PC_")).raw(schl_member("pIQT"));
    ASSERT_TRUE(write_file(path, b.bytes));
    FILE* f = fopen(path.c_str(), "rb");
    ASSERT_TRUE(f);
    fseek(f, 10, SEEK_SET);
    EXPECT_EQ(is_form_or_riff_member(f), 1);
    EXPECT_EQ(ftell(f), 10);
    fseek(f, 10 + 56, SEEK_SET);
    EXPECT_EQ(is_schl_member(f), 1);
    EXPECT_EQ(ftell(f), 10 + 56 + 4);
    fseek(f, 10 + 56, SEEK_SET);
    EXPECT_EQ(is_form_or_riff_member(f), 0);
    fseek(f, long(b.size() - 3), SEEK_SET);
    EXPECT_EQ(is_schl_member(f), 0);
    fclose(f);
}

// Checks what any scan must leave, whatever the bytes.
void expect_consistent(const scan_result& r, const std::vector<uint8_t>& bytes) {
    ASSERT_EQ(r.lines.size(), r.offsets.size());
    ASSERT_LE(r.lines.size(), size_t(movie_list_capacity));
    bool xtre = bytes.size() >= 4 && memcmp(bytes.data(), "XTRE", 4) == 0;
    for (size_t i = 0; i < r.offsets.size(); ++i) {
        size_t at = size_t(r.offsets[i]);
        ASSERT_GE(r.offsets[i], 0);
        if (xtre) {
            ASSERT_LE(at + 16, bytes.size());
            EXPECT_TRUE(memcmp(&bytes[at + 8], "MOVE", 4) == 0 ||
                        memcmp(&bytes[at + 8], "AVI ", 4) == 0);
            EXPECT_TRUE(memcmp(&bytes[at + 12], "_PC_", 4) == 0 ||
                        memcmp(&bytes[at + 12], "LIST", 4) == 0);
            EXPECT_EQ(r.lines[i],
                      "Movie " + std::to_string(i + 1) + " - offset " + std::to_string(at));
        } else {
            ASSERT_LE(at + 4, bytes.size());
            EXPECT_TRUE(memcmp(&bytes[at], "SCHl", 4) == 0 || memcmp(&bytes[at], "pIQT", 4) == 0);
            EXPECT_LE(r.lines[i].size(), 256u);
        }
    }
    if (r.lines.empty()) {
        ASSERT_FALSE(r.messages.empty());
        EXPECT_EQ(r.messages.back().text, "No playable movies found on this archive");
    } else {
        EXPECT_TRUE(r.messages.empty());
    }
}

TEST(ArchiveScanner, RandomAndMutatedArchivesAreScannedSafely) {
    std::mt19937 rng(20261207);
    std::vector<std::vector<uint8_t>> seeds = {
        write_xtre_archive({{"", member("FORM", "MOVE", "_PC_")},
                            {"", member("RIFF", "AVI ", "LIST")},
                            {"", member("FORM", "MOVE", "LIST")}}),
        write_named_archive({{"one", schl_member("SCHl")},
                             {"two", schl_member("pIQT")},
                             {"three", schl_member("SCDl")}}),
    };
    for (int round = 0; round < 1500; ++round) {
        std::vector<uint8_t> bytes;
        if (round % 4 == 0) {
            bytes.resize(rng() % 2000);
            for (auto& byte : bytes) byte = uint8_t(rng());
            if (round % 8 == 0 && bytes.size() >= 4) memcpy(bytes.data(), "XTRE", 4);
        } else {
            mutation_plan plan;
            plan.tags = {"XTRE", "FORM", "RIFF", "MOVE", "AVI ", "_PC_", "LIST", "SCHl", "pIQT"};
            plan.values32 = {16, 24, 272, 10000, 10001};
            plan.most_edits = 8;
            bytes = mutate_bytes(seeds[round % 2], rng, plan);
        }
        scan_result r = scan_bytes(bytes, "fuzz.tre");
        expect_consistent(r, bytes);
        if (HasFatalFailure()) {
            ADD_FAILURE() << "round " << round;
            return;
        }
    }
}

} // namespace
