#include "bytes.h"
#include "formats/common/chunk_io.h"
#include "run_program.h"
#include "schl_writer.h"

#include <gtest/gtest.h>

namespace {

TEST(SchlEndToEnd, DemoMoviesPlayToTheirEnd) {
    std::string dir = scratch_dir("schl");
    ASSERT_TRUE(write_file(dir + "/stereo.mov", make_schl_demo_movie(1)));
    for (bool doubled : {false, true}) {
        std::vector<std::string> args = {dir + "/stereo.mov"};
        if (doubled) args.push_back("-i");
        program_result r = run_program("reelplay", args, 60);
        EXPECT_FALSE(r.timed_out);
        EXPECT_EQ(r.exit_status, 0) << r.error_output;
    }
}

TEST(SchlEndToEnd, ArchiveMembersPlayAtTheirOffsets) {
    std::string dir = scratch_dir("schl_archive");
    auto archive = make_schl_demo_archive();
    ASSERT_TRUE(write_file(dir + "/demo.tre", archive));
    const uint32_t count = load_le32(archive.data());
    for (uint32_t i = 0; i < count; ++i) {
        const uint8_t* entry = archive.data() + 16 + 272 * i;
        std::string name = reinterpret_cast<const char*>(entry + 16);
        std::string offset = std::to_string(load_le32(entry + 8));
        program_result r = run_program("reelplay", {dir + "/demo.tre", "-offset", offset}, 60);
        EXPECT_FALSE(r.timed_out) << name;
        // The text member is not a movie: the player gives up with -1.
        EXPECT_EQ(r.exit_status, name == "readme.txt" ? 255 : 0) << name;
    }
}

} // namespace
