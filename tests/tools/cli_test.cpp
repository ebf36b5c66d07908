// The three command-line tools, run as the build runs them.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "lib/assembler.h"
#include "lib/file_util.h"

namespace {

#ifdef QB_TOOLS_DIR
namespace fs = std::filesystem;

int Shell(const std::string& command) {
    return std::system((command + " 2>/dev/null >/dev/null").c_str());
}

std::string Tool(const char* name) { return std::string(QB_TOOLS_DIR) + "/" + name; }

TEST(Tools, AssembleDisassemblePack) {
    fs::path dir = fs::path(::testing::TempDir()) / "qb_cli_test";
    fs::create_directories(dir);
    const std::string source = ".function\n  GETGLOBAL 0 \"debugprint\"\n  RETURN 0 1\n.end\n";
    std::string error;
    ASSERT_TRUE(WriteTextFile((dir / "a.qbs").string(), source, error)) << error;

    // The default output name replaces the extension.
    ASSERT_EQ(Shell(Tool("qbasm") + " " + (dir / "a.qbs").string()), 0);
    std::vector<uint8_t> chunk, expected;
    ASSERT_TRUE(ReadFileBytes((dir / "a.qbb").string(), chunk, error)) << error;
    ASSERT_TRUE(AssembleText(source, expected, error));
    EXPECT_EQ(chunk, expected);

    ASSERT_EQ(Shell(Tool("qbdis") + " " + (dir / "a.qbb").string() + " -o " + (dir / "b.qbs").string()), 0);
    ASSERT_EQ(Shell(Tool("qbasm") + " " + (dir / "b.qbs").string() + " -o " + (dir / "b.qbb").string()), 0);
    std::vector<uint8_t> again;
    ASSERT_TRUE(ReadFileBytes((dir / "b.qbb").string(), again, error));
    EXPECT_EQ(again, chunk);

    ASSERT_EQ(Shell(Tool("qbapplet") + " -o " + (dir / "a.qba").string() + " --body " +
                  (dir / "a.qbb").string() + " --title T"),
              0);
    std::vector<uint8_t> applet;
    ASSERT_TRUE(ReadFileBytes((dir / "a.qba").string(), applet, error));
    ASSERT_EQ(applet.size(), 4u + 3 + 3 + 5 + chunk.size());
    EXPECT_TRUE(std::equal(chunk.begin(), chunk.end(), applet.end() - static_cast<std::ptrdiff_t>(chunk.size())));
}

TEST(Tools, FailuresGiveNonZeroStatus) {
    fs::path dir = fs::path(::testing::TempDir()) / "qb_cli_test";
    fs::create_directories(dir);
    std::string error;
    ASSERT_TRUE(WriteTextFile((dir / "bad.qbs").string(), ".function\nNOPE\n.end\n", error));
    fs::remove(dir / "bad.qbb");
    EXPECT_NE(Shell(Tool("qbasm") + " " + (dir / "bad.qbs").string()), 0);
    EXPECT_FALSE(fs::exists(dir / "bad.qbb"));
    EXPECT_NE(Shell(Tool("qbdis") + " " + (dir / "bad.qbs").string()), 0);
    EXPECT_NE(Shell(Tool("qbapplet") + " -o " + (dir / "x.qba").string()), 0);
    EXPECT_NE(Shell(Tool("qbapplet") + " -o " + (dir / "x.qba").string() + " --body " +
                  (dir / "missing.qbb").string()),
              0);
}
#endif

}  // namespace
