// End-to-end runs of the player binary on applets that the developer tools
// build: output, error texts with file, line and function, and exit status.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <vector>

#include "core/errcodes.h"
#include "e2e/e2e_util.h"
#include "core/errors.h"

namespace fs = std::filesystem;

namespace {

using e2e::ExitStatus;
using e2e::ReadFile;
using e2e::RunResult;
using e2e::WriteFile;

class PlayerTest : public e2e::E2eFixture {
protected:
    // Assembles `source` and packs it into an applet; returns its path.
    fs::path Applet(const std::string& source, const std::string& extra = "--include hello.qbs:1:1000:0") {
        return Pack(Chunk(source, "hello"), dir_ / "hello.qba", extra);
    }

    RunResult Play(const fs::path& applet, const std::string& options = "-quiet") {
        return Run(std::string(QB_PLAYER_PATH) + " " + applet.string() + " " + options);
    }
};

TEST_F(PlayerTest, HelloPrintsAndSumsWithForLoop) {
    fs::path qba = Applet(R"(
.function main maxstack=8
.line 1
    GETGLOBAL 0 "debugprint"
    LOADK 1 "Hello"
    LOADK 2 #42
    LOADK 3 "100%"
    CALL 0 4 1
.line 2
    LOADK 0 #0
    LOADK 1 #0
    LOADK 2 #1000000
    LOADK 3 #1
    JMP check
body:
    ADD 0 0 1
check:
    FORLOOP 1 body
    GETGLOBAL 4 "debugprint"
    MOVE 5 0
    CALL 4 2 1
    GETGLOBAL 4 "debugprintnr"
    LOADK 5 "no newline"
    LOADNIL 6 6
    CALL 4 3 1
    RETURN 0 1 0
.end
)");
    RunResult r = Play(qba);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "Hello 42 100%\n500000500000\nno newline Nil");
    EXPECT_EQ(r.err, "");
}

TEST_F(PlayerTest, DisplayStartUpLinesComeLastAndQuietSilencesThem) {
    fs::path qba = Applet(R"(
.function main maxstack=4
.line 1
    GETGLOBAL 0 "debugprint"
    LOADK 1 "script"
    CALL 0 2 1
    RETURN 0 1 0
.end
)");
    RunResult loud = Play(qba, "");
    EXPECT_EQ(loud.status, 0) << loud.err;
    const std::string tail = "Preparing display...done\nAnd Action!\nscript\n";
    ASSERT_GE(loud.out.size(), tail.size());
    EXPECT_EQ(loud.out.substr(loud.out.size() - tail.size()), tail) << loud.out;
    RunResult quiet = Play(qba);
    EXPECT_EQ(quiet.out, "script\n");
}

TEST_F(PlayerTest, CommandErrorNamesFileLineAndFunction) {
    fs::path qba = Applet(R"(
.function main maxstack=4
.line 1
    GETGLOBAL 0 "debugprint"
    LOADK 1 "first"
    CALL 0 2 1
.line 3
    GETGLOBAL 0 "debugprint"
    CALL 0 1 1
.line 4
    GETGLOBAL 0 "debugprint"
    LOADK 1 "never"
    CALL 0 2 1
    RETURN 0 1 0
.end
)");
    RunResult r = Play(qba);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "first\n");
    EXPECT_NE(r.err.find("Not enough arguments!\nFile: hello.qbs (current line: 3 - In function: DebugPrint)"),
              std::string::npos)
        << r.err;
}

TEST_F(PlayerTest, IncludeTableMapsLinesIntoIncludedFile) {
    // Bytecode lines 10..20 come from lib.qbs, where they start at line 5.
    fs::path qba = Applet(R"(
.function main maxstack=4
.line 12
    GETGLOBAL 0 "debugprint"
    CALL 0 1 1
    RETURN 0 1 0
.end
)",
                          "--include hello.qbs:1:9:0 --include lib.qbs:10:20:4");
    RunResult r = Play(qba);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("File: lib.qbs (current line: 7 - In function: DebugPrint)"), std::string::npos) << r.err;
}

TEST_F(PlayerTest, RuntimeErrorsEndTheScriptWithStatusOne) {
    fs::path qba = Applet(R"(
.function main maxstack=4
.line 2
    LOADK 0 #1
    LOADK 1 #0
    DIV 2 0 1
    RETURN 0 1 0
.end
)");
    RunResult r = Play(qba);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("Division by zero!\nFile: hello.qbs (current line: 2)"), std::string::npos) << r.err;

    qba = Applet(R"(
.function main maxstack=4
.line 1
    CLOSURE 0 rec
    SETGLOBAL 0 "rec"
    GETGLOBAL 0 "rec"
    CALL 0 1 1
    RETURN 0 1 0
  .function rec maxstack=4
  .line 5
    GETGLOBAL 0 "rec"
    CALL 0 1 1
    RETURN 0 1 0
  .end
.end
)");
    r = Play(qba);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("Stack overflow!"), std::string::npos) << r.err;
}

TEST_F(PlayerTest, EndStopsQuietlyWithStatusZero) {
    fs::path qba = Applet(R"(
.function main maxstack=4
.line 1
    GETGLOBAL 0 "debugprint"
    LOADK 1 "before"
    CALL 0 2 1
    GETGLOBAL 0 "end"
    CALL 0 1 1
    GETGLOBAL 0 "debugprint"
    LOADK 1 "after"
    CALL 0 2 1
    RETURN 0 1 0
.end
)");
    RunResult r = Play(qba);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "before\n");
    EXPECT_EQ(r.err, "");
}

TEST_F(PlayerTest, BadAppletsEachGiveTheirMessage) {
    struct Case {
        std::string name;
        std::string bytes;
        int code;
    };
    // Builds a minimal plain applet: magic, version, then `rest`.
    auto applet = [](const std::string& magic, int major, int minor, const std::string& rest) {
        std::string s = magic;
        s.push_back('\0');
        s += '\x0a';
        s.push_back(static_cast<char>(major));
        s.push_back(static_cast<char>(minor));
        return s + rest;
    };
    std::string body = "\x1bQBB";
    std::string shortBody = std::string("\x01") + std::string("\x00\x00\x01\x00", 4) + body;  // 256 declared
    std::string textBody = std::string("\x01") + std::string("\x00\x00\x00\x0c", 4) + "DebugPrint 1";
    std::vector<Case> cases = {
        {"tiny", "QBA", ERR_READ},
        {"magic", applet("QBX", 6, 1, ""), ERR_NOAPPLET},
        {"version", applet("QBA", 6, 2, ""), ERR_APPLETVERSION},
        {"eof", applet("QBA", 6, 1, ""), ERR_UNEXPECTEDEOF},
        {"shortbody", applet("QBA", 6, 1, shortBody), ERR_READ},
        {"tag35", applet("QBA", 6, 1, "\x23"), ERR_UNKNOWNSEC},
        {"textbody", applet("QBA", 6, 1, textBody), ERR_BADSIGNATURE},
    };
    for (const Case& c : cases) {
        fs::path p = dir_ / (c.name + ".qba");
        WriteFile(p, c.bytes);
        RunResult r = Play(p);
        EXPECT_EQ(r.status, 1) << c.name;
        EXPECT_NE(r.err.find(Text(c.code)), std::string::npos) << c.name << ": " << r.err;
    }
    RunResult r = Play(dir_ / "missing.qba");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find(Text(ERR_FILEEXIST)), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("missing.qba"), std::string::npos) << r.err;
}

TEST_F(PlayerTest, ChunkThatFailsTheCheckerIsRefused) {
    // The last instruction is not RETURN.
    fs::path qba = Applet(R"(
.function main maxstack=2
    LOADK 0 #1
.end
)");
    RunResult r = Play(qba);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("Bad bytecode!"), std::string::npos) << r.err;
}

}  // namespace
