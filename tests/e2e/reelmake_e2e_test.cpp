// What reelmake says, case by case: each wording and its exit status.
#include "bytes.h"
#include "run_program.h"

#include <filesystem>
#include <fnmatch.h>
#include <gtest/gtest.h>

namespace {

struct make_case {
    std::vector<std::string> words;
    int status;
    std::string err; // an fnmatch pattern
    std::string made = "";
};

TEST(ReelmakeEndToEnd, EachCaseSaysWhatIsWrong) {
    const std::string dir = scratch_dir("reelmake messages");
    ASSERT_TRUE(std::filesystem::create_directories(dir + "/taken.form"));
    ASSERT_TRUE(write_file(dir + "/plain", {1}));
    const std::string usage = "\nusage: reelmake COMMAND OUT *";
    const std::vector<make_case> cases = {
        {{}, 2, "reelmake: no COMMAND given" + usage},
        {{"bake", "x"}, 2, "reelmake: unknown command bake" + usage},
        {{"form"}, 2, "reelmake: form needs OUT" + usage},
        {{"demo"}, 2, "reelmake: demo needs DIR" + usage},
        {{"form", dir + "/f.form", "7"}, 2, "reelmake: form has variants 0 to 2, not 7" + usage},
        {{"schl", dir + "/s.mov", "x"}, 2, "reelmake: schl has variants 0 to 2, not x" + usage},
        {{"riff", dir + "/r.riff", "1"}, 2, "reelmake: riff takes only OUT, not 1" + usage},
        {{"schl", dir + "/s.mov", "2", "3"}, 2, "reelmake: too many words: 3" + usage},
        {{"form", dir + "/no/f.form"},
         1,
         "reelmake: cannot write " + dir + "/no/f.form: No such file or directory\n"},
        {{"form", dir + "/taken.form"},
         1,
         "reelmake: cannot write " + dir + "/taken.form: Is a directory\n"},
        {{"demo", dir + "/plain/demo"},
         1,
         "reelmake: cannot create " + dir + "/plain/demo: Not a directory\n"},
        {{"form", dir + "/f.form", "2"}, 0, "", dir + "/f.form"},
    };
    for (const make_case& c : cases) {
        program_result r = run_program("reelmake", c.words, 60);
        std::string call = testing::PrintToString(c.words);
        EXPECT_EQ(r.exit_status, c.status) << call << "\n" << r.error_output;
        EXPECT_EQ(fnmatch(c.err.c_str(), r.error_output.c_str(), 0), 0) << call << " said\n"
                                                                        << r.error_output;
        EXPECT_TRUE(c.made.empty() || std::filesystem::exists(c.made)) << c.made;
    }
}

} // namespace
