// A script's road through the dos library's trees and programs: a copy with
// a counting callback, a pattern delete and the listings; Run's finish
// callback through the event loop, also for a program killed by a signal;
// Execute handing its arguments to the shell; a linked script run from its
// temporary copy.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <string>

#include "e2e/e2e_util.h"

namespace {

namespace fs = std::filesystem;

const char kRunScript[] = R"(
.function main maxstack=8
.line 1
    LOADK 0 #0
    SETGLOBAL 0 "ended"
    GETGLOBAL 0 "run"
    LOADK 1 "/bin/sh -c 'kill -9 $$'"
    LOADK 2 #1
    CLOSURE 3 finished
    CALL 0 4 1
    GETGLOBAL 0 "run"
    LOADK 1 "/bin/sleep 0.5"
    LOADK 2 #1
    CLOSURE 3 finished
    CALL 0 4 1
loop:
    GETGLOBAL 0 "waitevent"
    CALL 0 1 1
    JMP loop
    RETURN 0 1
.function finished params=1 maxstack=8
    GETGLOBAL 1 "ended"
    ADD 1 1 #1
    SETGLOBAL 1 "ended"
    GETGLOBAL 2 "debugprint"
    GETTABLE 3 0 "action"
    GETTABLE 4 0 "program"
    CALL 2 3 1
    LT 1 1 #2
    JMP more
    GETGLOBAL 2 "end"
    CALL 2 1 1
more:
    RETURN 0 1
.end
.end
)";

using DosRoadTest = e2e::E2eFixture;

TEST_F(DosRoadTest, FinishCallbacksEndTheScript) {
    const e2e::RunResult r = PlayScript(kRunScript);
    EXPECT_EQ(r.status, 0) << r.err;
    // The killed shell ends first, or at least not after the sleep.
    EXPECT_EQ(r.out, "RunFinished /bin/sh\nRunFinished /bin/sleep\n") << r.err;
}

TEST_F(DosRoadTest, RunOfAProgramThatCannotStartFailsAsExecuteDoes) {
    const e2e::RunResult r = PlayScript(R"(
.function main maxstack=8
.line 1
    GETGLOBAL 0 "run"
    LOADK 1 "/nonexistent/quenbrook-prog"
    LOADK 2 #1
    CLOSURE 3 finished
    CALL 0 4 1
    GETGLOBAL 0 "debugprint"
    LOADK 1 "Run reported success"
    CALL 0 2 1
    RETURN 0 1
.function finished params=1 maxstack=4
    RETURN 0 1
.end
.end
)");
    EXPECT_NE(r.status, 0);
    EXPECT_EQ(r.out, "") << r.err;
    EXPECT_NE(r.err.find(Text(ERR_EXECUTE)), std::string::npos) << r.err;
}

TEST_F(DosRoadTest, ExecuteQuotesTheProgramAndLetsTheShellReadItsArguments) {
    const std::string program = (dir_ / "my prog.sh").string();
    e2e::WriteFile(program, "#!/bin/sh\nprintf '%s|' \"$#\" \"$1\" > \"$(dirname \"$0\")/out.txt\"\n");
    chmod(program.c_str(), 0755);
    const std::string script = R"(
.function main maxstack=4
.line 1
    GETGLOBAL 0 "execute"
    LOADK 1 "\")" + program + R"(\" 'x y'"
    CALL 0 2 1
    GETGLOBAL 0 "execute"
    LOADK 1 "\"unclosed"
    CALL 0 2 1
    RETURN 0 1
.end
)";
    const e2e::RunResult r = PlayScript(script);
    EXPECT_EQ(e2e::ReadFile(dir_ / "out.txt"), "1|x y|");
    EXPECT_NE(r.err.find(Text(ERR_WRONGUSAGE)), std::string::npos) << r.err;
}

TEST_F(DosRoadTest, ALinkedScriptRunsFromAnExecutableTemporaryCopy) {
    const std::string tool = (dir_ / "tool.sh").string();
    e2e::WriteFile(tool, "#!/bin/sh\nprintf '%s|%s' \"${0##*.}\" \"$1\" > \"$2\"\nls -l \"$0\" | cut -c1-10 >> \"$2\"\n"
                         "echo \"$0\" >> \"$2.paths\"\n");
    const std::string out = (dir_ / "linked.txt").string();
    const std::string script = R"(
.function main maxstack=4
.line 1
    GETGLOBAL 0 "execute"
    LOADK 1 "tool.sh first )" + out + R"("
    CALL 0 2 1
    GETGLOBAL 0 "execute"
    LOADK 1 "tool.sh second )" + out + R"(2"
    CALL 0 2 1
    RETURN 0 1
.end
)";
    const e2e::RunResult r = PlayScript(script, "-quiet -tempdir " + (dir_ / "tmp").string(), "--link tool.sh=" + tool);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(e2e::ReadFile(out), "sh|first-rwx------\n") << r.err;
    EXPECT_EQ(e2e::ReadFile(out + "2"), "sh|second-rwx------\n");
    const std::string first = e2e::ReadFile(out + ".paths");
    EXPECT_FALSE(first.empty());
    EXPECT_EQ(first, e2e::ReadFile(out + "2.paths")) << "the copy is made once and used again";
    EXPECT_TRUE(fs::is_empty(dir_ / "tmp")) << "the copy goes at exit";
}

TEST_F(DosRoadTest, ATreeIsCopiedCountedCleanedAndListed) {
    e2e::WriteFile(dir_ / "a.txt", std::string(20000, 'a'));
    fs::create_directories(dir_ / "src/sub");
    fs::rename(dir_ / "a.txt", dir_ / "src/a.txt");
    e2e::WriteFile(dir_ / "src/b.tmp", "b");
    e2e::WriteFile(dir_ / "src/sub/c.tmp", "c");
    e2e::WriteFile(dir_ / "src/sub/d.txt", "d");
    const std::string src = (dir_ / "src").string(), dst = (dir_ / "dst").string();
    const std::string script = R"(
.function main maxstack=10
.line 1
    LOADK 0 #0
    SETGLOBAL 0 "statuscalls"
    GETGLOBAL 0 "copyfile"
    LOADK 1 ")" + src + R"("
    LOADK 2 ")" + dst + R"("
    LOADNIL 3 3
    CLOSURE 4 progress
    CALL 0 5 1
    GETGLOBAL 0 "deletefile"
    LOADK 1 ")" + dst + R"("
    LOADNIL 2 3
    LOADK 4 "*.tmp"
    LOADK 5 #0
    CALL 0 6 1
    NEWTABLE 0 0 0
    NEWTABLE 1 0 0
    GETGLOBAL 2 "readdirectory"
    LOADK 3 ")" + dst + R"("
    MOVE 4 0
    MOVE 5 1
    CALL 2 4 3
    GETGLOBAL 4 "debugprint"
    GETGLOBAL 5 "statuscalls"
    MOVE 6 2
    MOVE 7 3
    CALL 4 4 1
    GETGLOBAL 2 "concat"
    MOVE 3 0
    LOADK 4 ","
    CALL 2 3 2
    GETGLOBAL 3 "concat"
    MOVE 4 1
    LOADK 5 ","
    CALL 3 3 2
    GETGLOBAL 4 "debugprint"
    MOVE 5 2
    MOVE 6 3
    CALL 4 3 1
    RETURN 0 1
.function progress params=1 maxstack=4
    GETTABLE 1 0 "action"
    EQ 0 1 #0
    JMP done
    GETGLOBAL 2 "statuscalls"
    ADD 2 2 #1
    SETGLOBAL 2 "statuscalls"
done:
    LOADK 1 #0
    RETURN 1 2
.end
.end
)";
    const e2e::RunResult r = PlayScript(script);
    EXPECT_EQ(r.status, 0) << r.err;
    // Concat joins the lists with the empty strings that end them.
    // 20000 bytes take two blocks, the three small files one each.
    EXPECT_EQ(r.out, "5 1 1\na.txt, sub,\n") << r.err;
    EXPECT_TRUE(fs::exists(dir_ / "dst/sub/d.txt"));
    EXPECT_FALSE(fs::exists(dir_ / "dst/sub/c.tmp"));
}

}  // namespace
