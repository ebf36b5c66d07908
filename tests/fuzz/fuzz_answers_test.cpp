// Every fuzz target replays its corpus and must make of each file what
// fuzz/answers/NAME.txt records (fuzz/fuzznote.h): a reader that now gives
// another error, size, pixel or sample for one of those inputs fails here,
// by name. Each target runs in a process of its own, as under libFuzzer, so
// that what one target leaves set in the player's records cannot change
// another's answers.
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

extern char** environ;

namespace {

std::vector<std::string> Targets() {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(std::string(QB_SOURCE_DIR) + "/fuzz")) {
        const std::string file = e.path().filename().string();
        if (file.rfind("fuzz_", 0) == 0 && e.path().extension() == ".cpp")
            names.push_back(file.substr(5, file.size() - 9));
    }
    std::sort(names.begin(), names.end());
    return names;
}

class FuzzAnswersTest : public ::testing::TestWithParam<std::string> {};

TEST_P(FuzzAnswersTest, CorpusGivesTheRecordedAnswers) {
#ifdef QB_FUZZ_LIBFUZZER
    GTEST_SKIP() << "a libFuzzer build replays its corpora through libFuzzer's own driver";
#else
    const std::string name = GetParam();
    const std::string source = QB_SOURCE_DIR;
    const std::string binary = std::string(QB_FUZZ_BIN_DIR) + "/fuzz_" + name;
    const std::string answers = source + "/fuzz/answers/" + name + ".txt";
    const std::string corpus = source + "/fuzz/corpus/" + name;
    ASSERT_TRUE(std::filesystem::exists(answers)) << "record it: QB_FUZZ_RECORD=1 " << binary << " --answers "
                                                  << answers << " " << corpus;
    std::vector<std::string> args = {binary, "--answers", answers, corpus};
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = 0;
    ASSERT_EQ(posix_spawn(&pid, binary.c_str(), nullptr, nullptr, argv.data(), environ), 0) << binary;
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
        << "fuzz_" << name << " answers otherwise than " << answers << " records (its output above names the files)";
#endif
}

INSTANTIATE_TEST_SUITE_P(Corpus, FuzzAnswersTest, ::testing::ValuesIn(Targets()),
                         [](const ::testing::TestParamInfo<std::string>& info) { return info.param; });

}  // namespace
