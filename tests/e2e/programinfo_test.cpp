// What a script learns of how it was started: the options of the command
// line, the applet's path or the program's, the document handed to a linked
// program, and whether NODEBUG switched its assertions off.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "e2e/e2e_util.h"

namespace {

namespace fs = std::filesystem;

const char kScript[] = R"(
.function main maxstack=12
.line 1
    GETGLOBAL 0 "getcommandline"
    CALL 0 1 4
    GETGLOBAL 3 "debugprint"
    MOVE 4 1
    MOVE 5 2
    CALL 3 3 1
    GETGLOBAL 3 "foreachi"
    MOVE 4 0
    CLOSURE 5 show
    CALL 3 3 1
    GETGLOBAL 3 "getprograminfo"
    CALL 3 1 3
    GETGLOBAL 5 "debugprint"
    MOVE 6 3
    MOVE 7 4
    CALL 5 3 1
    GETGLOBAL 3 "getfileargument"
    CALL 3 1 2
    GETGLOBAL 4 "debugprint"
    LOADK 5 "file:"
    MOVE 6 3
    CALL 4 3 1
    GETGLOBAL 3 "assert"
    LOADK 4 #0
    CALL 3 2 1
    GETGLOBAL 3 "debugprint"
    LOADK 4 "unchecked"
    CALL 3 2 1
    RETURN 0 1
.function show params=2 maxstack=8
    GETGLOBAL 2 "debugprint"
    GETTABLE 3 1 "arg"
    GETTABLE 4 1 "param"
    CALL 2 3 1
    RETURN 0 1
.end
.end
)";

using ProgramInfoTest = e2e::E2eFixture;

TEST_F(ProgramInfoTest, AScriptReadsItsOptionsAndPathAndNoDebugSkipsAssertions) {
    const e2e::RunResult r = PlayScript(kScript, "-quiet -NoDebug -myopt \"two words\" -Width=640 -flag");
    EXPECT_EQ(r.status, 0) << r.err;
    const std::string qba = (dir_ / "hello.qba").string();
    EXPECT_EQ(r.out, "5 0\nquiet \nNoDebug \nmyopt two words\nWidth 640\nflag \n1 " + qba +
                         "\nfile: \nunchecked\n")
        << r.err;

    // Without NODEBUG the assertion stops the script.
    const e2e::RunResult checked = Run(std::string(QB_PLAYER_PATH) + " " + qba + " -quiet");
    EXPECT_EQ(checked.out, "1 0\nquiet \n1 " + qba + "\nfile: \n");
    EXPECT_NE(checked.err.find(Text(ERR_ASSERTFAILED)), std::string::npos) << checked.err;
}

TEST_F(ProgramInfoTest, ALinkedProgramTakesItsFirstNameAsTheFileArgument) {
    const fs::path app = dir_ / "app";
    const e2e::RunResult made = Run(std::string(QB_TOOLS_DIR) + "/qbapplet --link-exe " + QB_PLAYER_PATH +
                                    " --body " + Chunk(kScript, "info").string() + " -o " + app.string());
    ASSERT_EQ(made.status, 0) << made.err;
    const e2e::RunResult r = Run(app.string() + " notes.txt -nodebug -tempdir " + (dir_ / "tmp").string());
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "2 0\nnodebug \ntempdir " + (dir_ / "tmp").string() + "\n2 " +
                         fs::canonical(app).string() + "\nfile: notes.txt\nunchecked\n")
        << r.err;
}

}  // namespace
