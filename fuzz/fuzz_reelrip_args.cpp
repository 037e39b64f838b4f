// reelrip's command line: NUL-separated words after the program name.
#include "fuzz_support.h"
#include "reelrip_cli.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<std::string> words = input_words(data, size);
    std::vector<const char*> argv{"reelrip"};
    for (const std::string& w : words) argv.push_back(w.c_str());
    argv.push_back(nullptr);
    rip_options options;
    std::string error;
    if (parse_rip_options(int(argv.size() - 1), argv.data(), &options, &error))
        fuzz_require(error.empty() &&
                         (options.help || options.mode == rip_list || !options.out_dir.empty()),
                     "a valid call to rip names its directory");
    else
        fuzz_require(!error.empty(), "a reason for a refused call");
    return 0;
}
