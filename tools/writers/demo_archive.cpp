#include "demo_archive.h"

#include "archive_writer.h"
#include "form_writer.h"

#include <cstring>
#include <string>

// Archives list a FORM member only when its form type (bytes 8-11, which the
// player never reads) is "MOVE", as the games' own archives have it.
static std::vector<uint8_t> archived_movie(int variant) {
    std::vector<uint8_t> movie = make_form_demo_movie(variant);
    if (movie.size() >= 12) memcpy(&movie[8], "MOVE", 4);
    return movie;
}

std::vector<uint8_t> make_demo_archive(std::vector<int32_t>* movie_offsets) {
    std::string note = "Credits and notes; a member of the archive that is not a movie.\n";
    std::vector<archive_member> members = {
        {"intro", archived_movie(0)},
        {"notes", std::vector<uint8_t>(note.begin(), note.end())},
        {"chapter", archived_movie(1)},
        {"ending", archived_movie(2)},
    };
    std::vector<int32_t> offsets;
    std::vector<uint8_t> archive = write_xtre_archive(members, &offsets);
    if (movie_offsets) *movie_offsets = {offsets[0], offsets[2], offsets[3]};
    return archive;
}
