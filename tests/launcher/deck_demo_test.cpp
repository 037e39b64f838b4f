#include "bytes.h"
#include "demo_archive.h"
#include "movie.h"
#include "scanner.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

TEST(DeckDemoArchive, ListsItsFourMoviesAndThePlayerTakesEach) {
    std::vector<int32_t> movies;
    std::vector<uint8_t> archive = make_demo_archive(&movies);
    std::string dir = std::string(REEL_BUILD_DIR) + "/test-scratch/deck demo";
    std::filesystem::create_directories(dir);
    std::string path = dir + "/demo.tre";
    ASSERT_TRUE(write_file(path, archive));

    std::vector<std::string> lines;
    scan_sink sink = {[](void* c, const char* text) {
                          static_cast<std::vector<std::string>*>(c)->push_back(text);
                      },
                      nullptr, &lines};
    scan_archive(path.c_str(), sink);
    ASSERT_EQ(movie_count, 4);
    ASSERT_EQ(movies.size(), 4u);
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(movie_offsets[i], movies[size_t(i)]);
        EXPECT_EQ(lines[size_t(i)], "Movie " + std::to_string(i + 1) + " - offset " +
                                        std::to_string(movies[size_t(i)]));
    }

    // The player, started as the launcher would start it, finds the movie
    // of the right kind at each listed offset.
    const int32_t kinds[] = {kind_form, kind_form, kind_riff, kind_form};
    for (int i = 0; i < 4; ++i) {
        int32_t offset = movies[size_t(i)];
        reset_movie_state();
        ASSERT_TRUE(open_movie_file(path.c_str()));
        player_options options = {path.c_str(), true, true, offset};
        EXPECT_EQ(open_movie(options), kinds[i]) << offset;
        EXPECT_GT(movie_width, 0);
        fclose(movie_file);
        movie_file = nullptr;
    }
}

} // namespace
