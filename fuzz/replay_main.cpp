// Replays fuzz inputs without libFuzzer: every file named on the command line,
// or every file inside a named folder, is handed to the target once.
//
// With --answers FILE first, the files are replayed in the order of their
// names and what the target made of each (fuzznote.h) is compared with the
// answer FILE records for it; a file whose answer differs, or that FILE does
// not list, fails the replay. With QB_FUZZ_RECORD=1 in the environment FILE
// is written anew instead.
#include <algorithm>
#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "fuzznote.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

uint64_t RunFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    fuzzAnswer = kFuzzAnswerStart;
    LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
    return fuzzAnswer;
}

// Every input the arguments name, each with the name its answer is kept
// under (its path below the folder named), in the order of those names.
std::vector<std::pair<std::string, std::filesystem::path>> Inputs(int first, int argc, char** argv) {
    std::vector<std::pair<std::string, std::filesystem::path>> inputs;
    for (int i = first; i < argc; ++i) {
        const std::filesystem::path p(argv[i]);
        if (std::filesystem::is_directory(p)) {
            for (const auto& e : std::filesystem::recursive_directory_iterator(p))
                if (e.is_regular_file()) inputs.emplace_back(e.path().lexically_relative(p).string(), e.path());
        } else {
            inputs.emplace_back(p.filename().string(), p);
        }
    }
    std::sort(inputs.begin(), inputs.end());
    return inputs;
}

std::map<std::string, std::string> Recorded(const char* file) {
    std::map<std::string, std::string> recorded;
    std::ifstream in(file);
    for (std::string line; std::getline(in, line);) {
        if (line.empty() || line[0] == '#') continue;
        const size_t space = line.rfind(' ');
        if (space != std::string::npos) recorded[line.substr(0, space)] = line.substr(space + 1);
    }
    return recorded;
}

}  // namespace

int main(int argc, char** argv) {
    const bool answers = argc > 2 && std::string(argv[1]) == "--answers";
    const auto inputs = Inputs(answers ? 3 : 1, argc, argv);
    std::map<std::string, std::string> got;
    for (const auto& [name, path] : inputs) {
        char hex[20];
        std::snprintf(hex, sizeof hex, "%016" PRIx64, RunFile(path));
        got[name] = hex;
    }
    std::printf("replayed %zu inputs\n", inputs.size());
    if (inputs.empty()) return 1;
    if (!answers) return 0;
    const char* file = argv[2];
    if (const char* record = std::getenv("QB_FUZZ_RECORD"); record && std::string(record) == "1") {
        std::ofstream out(file);
        out << "# What the target makes of each corpus file (fuzz/fuzznote.h): a hash of its\n"
               "# answers. Written by the replay with QB_FUZZ_RECORD=1 (fuzz/README.md).\n";
        for (const auto& [name, hex] : got) out << name << ' ' << hex << '\n';
        return out ? 0 : 1;
    }
    const auto recorded = Recorded(file);
    int differ = 0;
    for (const auto& [name, hex] : got) {
        const auto it = recorded.find(name);
        if (it == recorded.end() || it->second != hex) {
            if (++differ <= 20)
                std::printf("%s: recorded %s, now %s\n", name.c_str(),
                            it == recorded.end() ? "nothing" : it->second.c_str(), hex.c_str());
        }
    }
    for (const auto& [name, hex] : recorded)
        if (!got.count(name) && ++differ <= 20) std::printf("%s: recorded %s, no longer in the corpus\n", name.c_str(), hex.c_str());
    if (differ) std::printf("%d inputs answer otherwise than %s records\n", differ, file);
    return differ ? 1 : 0;
}
