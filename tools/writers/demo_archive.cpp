#include "demo_archive.h"

#include "archive_writer.h"
#include "form_writer.h"
#include "riff_writer.h"

#include <string>

std::vector<uint8_t> make_demo_archive(std::vector<int32_t>* movie_offsets) {
    std::string note = "Credits and notes; a member of the archive that is not a movie.\n";
    std::vector<archive_member> members = {
        {"intro", make_form_demo_movie(0)},
        {"notes", std::vector<uint8_t>(note.begin(), note.end())},
        {"chapter", make_form_demo_movie(1)},
        {"discs", make_riff_demo_movie()},
        {"ending", make_form_demo_movie(2)},
    };
    std::vector<int32_t> offsets;
    std::vector<uint8_t> archive = write_xtre_archive(members, &offsets);
    if (movie_offsets) *movie_offsets = {offsets[0], offsets[2], offsets[3], offsets[4]};
    return archive;
}
