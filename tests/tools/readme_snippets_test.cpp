// The assembler in README.md works as the text says: every complete applet
// in it assembles, packs and runs headless with the output the README
// promises, and every fragment assembles inside a function of its own.
#include <gtest/gtest.h>

#include <cctype>
#include <cmath>
#include <iterator>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "e2e/e2e_util.h"
#include "lib/assembler.h"
#include "sound/soundfile_builders.h"

namespace {

namespace fs = std::filesystem;

// The README's indented code blocks, each with its indent removed.
std::vector<std::string> IndentedBlocks(const std::string& markdown) {
    std::vector<std::string> blocks;
    std::istringstream in(markdown);
    std::string line, block, pendingBlank;
    bool afterBlank = true;
    bool inBlock = false;
    while (std::getline(in, line)) {
        const bool indented = line.rfind("    ", 0) == 0;
        if (inBlock && (indented || line.empty())) {
            if (line.empty()) {
                pendingBlank += "\n";
            } else {
                block += pendingBlank + line.substr(4) + "\n";
                pendingBlank.clear();
            }
            continue;
        }
        if (inBlock) blocks.push_back(block);
        inBlock = indented && afterBlank;
        block = inBlock ? line.substr(4) + "\n" : "";
        pendingBlank.clear();
        afterBlank = line.empty();
    }
    if (inBlock) blocks.push_back(block);
    return blocks;
}

bool IsInstructionLine(const std::string& line, const std::vector<std::string>& mnemonics) {
    std::istringstream words(line);
    std::string first;
    words >> first;
    for (const std::string& m : mnemonics)
        if (first == m) return true;
    return false;
}

// The source name a complete snippet gives itself, e.g. "template.qbs".
std::string SourceName(const std::string& snippet) {
    const size_t at = snippet.find(".source \"");
    if (at == std::string::npos) return {};
    const size_t start = at + 9;
    return snippet.substr(start, snippet.find('"', start) - start);
}

// A 0.25 s tone at 44100 Hz, the "ding.wav" of the sample snippet.
std::string Ding() {
    soundfiles::Bytes pcm;
    for (int i = 0; i < 44100 / 4; ++i)
        soundfiles::LE16(pcm, static_cast<uint16_t>(static_cast<int16_t>(8000 * std::sin(i * 0.14))));
    soundfiles::Wave w;
    w.rate = 44100;
    const soundfiles::Bytes file = soundfiles::MakeWave(w, pcm);
    return std::string(file.begin(), file.end());
}

class ReadmeSnippetsTest : public e2e::E2eFixture {};

TEST_F(ReadmeSnippetsTest, EveryAssemblerSnippetAssemblesAndRuns) {
    // What each complete applet of the README prints, by its source name.
    const std::map<std::string, std::string> expected = {
        {"template.qbs", "width 640\n0 red\n1 green\n2 blue\n"},
        {"sample.qbs", "loop 250 2\nend 500 2\n"},
        {"app.qbs", "Hello\n"},
    };
    const std::string readme = e2e::ReadFile(fs::path(QB_SOURCE_DIR) / "README.md");
    ASSERT_FALSE(readme.empty());
    e2e::WriteFile(dir_ / "ding.wav", Ding());
    const std::vector<std::string> mnemonics = AssemblerMnemonics();
    size_t applets = 0, fragments = 0;
    for (const std::string& block : IndentedBlocks(readme)) {
        std::istringstream lines(block);
        std::string line;
        bool code = false;
        while (std::getline(lines, line)) code |= IsInstructionLine(line, mnemonics);
        if (!code) continue;
        if (block.rfind(".function", 0) == 0) {
            const std::string name = SourceName(block);
            SCOPED_TRACE(name);
            ASSERT_TRUE(expected.count(name)) << "a README applet without its output here:\n" << block;
            const std::string stem = name.substr(0, name.find('.'));
            const fs::path qba = Pack(Chunk(block, stem), dir_ / (stem + ".qba"), "");
            const e2e::RunResult r = Run(std::string(QB_PLAYER_PATH) + " " + qba.string() + " -quiet");
            EXPECT_EQ(r.status, 0) << r.err;
            EXPECT_EQ(r.out, expected.at(name));
            EXPECT_EQ(r.err, "");
            ++applets;
        } else if (block.find("...") == std::string::npos) {
            // A fragment: it must assemble as the body of a function.
            std::vector<uint8_t> bytes;
            std::string error;
            EXPECT_TRUE(AssembleChecked(".function main\n" + block + "RETURN 0 1\n.end\n", bytes, error))
                << error << "\n" << block;
            ++fragments;
        }
    }
    EXPECT_EQ(applets, expected.size());
    EXPECT_GE(fragments, 1u);
}

// The README's section on the command reference says how the reference is
// made and read: the entry it quotes is commands.md's, it names the
// signature file, every tool it runs is built by ./run or by the ninja
// command it gives, and the command it gives writes the committed file.
TEST_F(ReadmeSnippetsTest, TheReferenceSectionSaysHowTheReferenceIsMade) {
    const fs::path source = QB_SOURCE_DIR;
    const std::string readme = e2e::ReadFile(source / "README.md");
    const size_t start = readme.find("## What a script can call\n");
    ASSERT_NE(start, std::string::npos);
    const std::string section = readme.substr(start, readme.find("\n## ", start + 1) - start);
    const std::string reference = e2e::ReadFile(source / "docs/commands.md");
    EXPECT_NE(section.find("docs/signatures.txt"), std::string::npos);

    // The tools ./run builds, from its target list.
    const std::string setup = e2e::ReadFile(source / "scripts/setup.sh");
    const size_t list = setup.find("QB_RUN_TARGETS=(");
    ASSERT_NE(list, std::string::npos);
    std::istringstream runTargets(setup.substr(list + 16, setup.find(')', list) - list - 16));
    std::set<std::string> built{std::istream_iterator<std::string>(runTargets), {}};
    for (size_t at = section.find("build/tools/"); at != std::string::npos; at = section.find("build/tools/", at + 1)) {
        size_t end = at + 12;
        while (end < section.size() && std::isalnum(static_cast<unsigned char>(section[end]))) ++end;
        const std::string tool = section.substr(at + 12, end - at - 12);
        if (!built.count(tool)) {
            EXPECT_NE(section.find("`ninja -C build " + tool + "`"), std::string::npos)
                << tool << " is run but neither ./run nor a command of the section builds it";
        }
    }

    const std::vector<std::string> mnemonics = AssemblerMnemonics();
    size_t quoted = 0, commands = 0;
    for (const std::string& block : IndentedBlocks(section)) {
        const std::string line = block.substr(0, block.find('\n'));
        if (IsInstructionLine(line, mnemonics)) continue;
        if (line.rfind("build/tools/", 0) == 0) {
            // Run where the checkout's docs folder is a copy.
            fs::create_directories(dir_ / "docs");
            fs::copy_file(source / "docs/signatures.txt", dir_ / "docs/signatures.txt");
            const e2e::RunResult r = Run("cd " + dir_.string() + " && " + QB_TOOLS_DIR + "/" + line.substr(12));
            EXPECT_EQ(r.status, 0) << line << "\n" << r.err;
            EXPECT_TRUE(e2e::ReadFile(dir_ / "docs/commands.md") == reference) << line;
            ++commands;
        } else {
            EXPECT_NE(reference.find("- `" + line), std::string::npos) << line << " is no entry of docs/commands.md";
            ++quoted;
        }
    }
    EXPECT_EQ(quoted, 1u);
    EXPECT_EQ(commands, 1u);
}

}  // namespace
