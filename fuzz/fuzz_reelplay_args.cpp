// reelplay's command line: NUL-separated words after the program name.
#include "fuzz_support.h"
#include "movie.h"

#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<std::string> words = input_words(data, size);
    std::vector<char*> argv{const_cast<char*>("reelplay")};
    for (std::string& w : words) argv.push_back(w.data());
    argv.push_back(nullptr);
    player_options options;
    if (parse_player_options(int(argv.size() - 1), argv.data(), &options))
        fuzz_require(!words.empty() && strcmp(options.path, words[0].c_str()) == 0, "the path");
    return 0;
}
