// End-to-end runs of the player binary on applets that the developer tools
// build: output, error texts with file, line and function, and exit status.
#include <gtest/gtest.h>

#include <string>

#include "core/errcodes.h"
#include "e2e/e2e_util.h"

namespace fs = std::filesystem;

namespace {

using e2e::RunResult;
using PlayerTest = e2e::E2eFixture;

TEST_F(PlayerTest, HelloPrintsAndSumsWithForLoop) {
    const char* source = R"(
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
)";
    RunResult r = PlayScript(source);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "Hello 42 100%\n500000500000\nno newline Nil");
    EXPECT_EQ(r.err, "");
    // Without -quiet the start-up lines come first, the display's last.
    RunResult loud = PlayScript(source, "");
    EXPECT_EQ(loud.status, 0) << loud.err;
    const std::string tail = "Preparing display...done\nAnd Action!\nHello 42 100%\n";
    EXPECT_NE(loud.out.find(tail), std::string::npos) << loud.out;
}

// A run without a display server and without a runtime folder: the video
// drivers SDL tries on the way to one that works stay silent, so standard
// error has nothing the player did not say.
TEST_F(PlayerTest, AHeadlessRunWithoutARuntimeFolderLeavesStandardErrorEmpty) {
    const fs::path qba = Pack(Chunk(R"(
.function main maxstack=4
.line 1
    GETGLOBAL 0 "debugprint"
    LOADK 1 "Hello"
    CALL 0 2 1
    RETURN 0 1 0
.end
)",
                                    "quiet"),
                              dir_ / "quiet.qba", "");
    const std::string headless = "env -u SDL_VIDEODRIVER -u SDL_AUDIODRIVER -u DISPLAY -u WAYLAND_DISPLAY "
                                 "-u XDG_RUNTIME_DIR ";
    for (const std::string driver : {"", "SDL_VIDEODRIVER=dummy "}) {
        SCOPED_TRACE(driver);
        const RunResult r = Run(headless + driver + QB_PLAYER_PATH + " " + qba.string() + " -quiet");
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.out, "Hello\n");
        EXPECT_EQ(r.err, "");
    }
}

// An X server named but not answering ends the run with the window error:
// a driver that draws nowhere never takes its place, which would leave the
// applet running with no window and nothing said.
TEST_F(PlayerTest, AnXServerThatDoesNotAnswerEndsTheRunWithTheWindowError) {
    const fs::path qba = Pack(Chunk(".function main maxstack=2\n.line 1\n    RETURN 0 1 0\n.end\n", "nox"),
                              dir_ / "nox.qba", "");
    const RunResult r = Run("env -u SDL_VIDEODRIVER -u WAYLAND_DISPLAY -u WAYLAND_SOCKET -u XDG_RUNTIME_DIR "
                            "DISPLAY=:9999 QB_NO_ERROR_BOX=1 " +
                            std::string(QB_PLAYER_PATH) + " " + qba.string() + " -quiet");
    EXPECT_EQ(r.status, 1) << "the applet ran without a window";
    EXPECT_NE(r.err.find("Unable to open window!"), std::string::npos) << r.err;
}

// Each script ends with its status; a failing one names on standard error
// the code's message, the file and line through the include table, and the
// command as its table spells it.
TEST_F(PlayerTest, ScriptsEndWithTheirStatusAndErrorText) {
    const struct {
        const char* what;
        const char* body;
        const char* includes;
        int status;
        const char* out;
        const char* err;
    } cases[] = {
        {"command error", ".line 1\nGETGLOBAL 0 \"debugprint\"\nLOADK 1 \"first\"\nCALL 0 2 1\n"
                          ".line 3\nGETGLOBAL 0 \"debugprint\"\nCALL 0 1 1\n"
                          ".line 4\nGETGLOBAL 0 \"debugprint\"\nLOADK 1 \"never\"\nCALL 0 2 1\n",
         "", 1, "first\n", "Not enough arguments!\nFile: hello.qbs (current line: 3 - In function: DebugPrint)"},
        // Bytecode lines 10..20 come from lib.qbs, where they start at line 5.
        {"included file", ".line 12\nGETGLOBAL 0 \"debugprint\"\nCALL 0 1 1\n",
         "--include hello.qbs:1:9:0 --include lib.qbs:10:20:4", 1, "", "File: lib.qbs (current line: 7 - In function: DebugPrint)"},
        {"division by zero", ".line 2\nLOADK 0 #1\nLOADK 1 #0\nDIV 2 0 1\n", "", 1, "",
         "Division by zero!\nFile: hello.qbs (current line: 2)"},
        {"runaway recursion", ".line 1\nCLOSURE 0 rec\nSETGLOBAL 0 \"rec\"\nCALL 0 1 1\n.function rec maxstack=4\n"
                              ".line 5\nGETGLOBAL 0 \"rec\"\nCALL 0 1 1\nRETURN 0 1 0\n.end\n",
         "", 1, "", "Stack overflow!"},
        {"End", ".line 1\nGETGLOBAL 0 \"debugprint\"\nLOADK 1 \"before\"\nCALL 0 2 1\nGETGLOBAL 0 \"end\"\n"
                "CALL 0 1 1\nGETGLOBAL 0 \"debugprint\"\nLOADK 1 \"after\"\nCALL 0 2 1\n",
         "", 0, "before\n", ""},
        // Bytecode names a command by its lower-case global; a function
        // that is no command gets no such word.
        {"mixed case", ".line 1\nGETGLOBAL 0 \"DebugPrint\"\nCALL 0 1 1\n", "", 1, "",
         "Function DebugPrint() not found! Command names are in lower case: debugprint()\n"},
        {"no command", ".line 1\nGETGLOBAL 0 \"NoSuchThing\"\nCALL 0 1 1\n", "", 1, "",
         "Function NoSuchThing() not found!\n"},
        // The checker's refusals, named by function, instruction and reason.
        {"checker", ".unchecked\nMOVE 9 0\n", "", 1, "",
         "Bad bytecode! The main function, instruction 1 of 2 (MOVE, line 3): register A is outside the frame "
         "(maxstack)"},
        {"checker, nested", ".unchecked\nCLOSURE 0 f\nRETURN 0 1\n.function f maxstack=2\nLOADK 0 #1\n"
                            "EQ 1 0 #3\nRETURN 0 1\n.end\n",
         "", 1, "",
         "Bad bytecode! Nested function 0 of the main function, instruction 2 of 3 (EQ, line 7): a test must be "
         "followed by a JMP"},
    };
    for (const auto& c : cases) {
        RunResult r = PlayScript(std::string(".function main maxstack=4\n") + c.body + "RETURN 0 1 0\n.end\n",
                                 "-quiet", c.includes);
        EXPECT_EQ(r.status, c.status) << c.what;
        EXPECT_EQ(r.out, c.out) << c.what;
        if (*c.err) {
            EXPECT_NE(r.err.find(c.err), std::string::npos) << c.what << ": " << r.err;
        } else {
            EXPECT_EQ(r.err, "") << c.what;
        }
    }
}

// Packed without --include, an applet maps every line to the file that its
// chunk names (the source name, else the text beside the chunk it was
// assembled from, else the body file), so errors say where.
TEST_F(PlayerTest, AnAppletPackedWithoutIncludesNamesTheFileAndLineOfAnError) {
    const std::string code = ".line 7\nGETGLOBAL 0 \"debugprint\"\nCALL 0 1 1\nRETURN 0 1\n.end\n";
    for (const char* file : {"other.qbs", "app.qbs", "app.qbb"}) {
        const std::string source = file == std::string("other.qbs") ? ".source \"other.qbs\"\n" : "";
        const fs::path qbb = Chunk(".function main\n" + source + code, "app");
        if (file == std::string("app.qbb")) fs::remove(dir_ / "app.qbs");
        fs::path qba = Pack(qbb, dir_ / "app.qba", "");
        RunResult r = Run(std::string(QB_PLAYER_PATH) + " " + qba.string() + " -quiet");
        EXPECT_EQ(r.status, 1) << file;
        EXPECT_NE(r.err.find(std::string("File: ") + file + " (current line: 7 - In function: DebugPrint)"),
                  std::string::npos)
            << r.err;
    }
}

TEST_F(PlayerTest, BadAppletsEachGiveTheirMessage) {
    // A minimal plain applet: magic, version, then `rest`.
    auto applet = [](const std::string& magic, int major, int minor, const std::string& rest) {
        return magic + '\0' + '\x0a' + static_cast<char>(major) + static_cast<char>(minor) + rest;
    };
    const std::string shortBody = std::string("\x01\x00\x00\x01\x00", 5) + "\x1bQBB";  // 256 declared
    const std::string textBody = std::string("\x01\x00\x00\x00\x0c", 5) + "DebugPrint 1";
    const struct {
        std::string name;
        std::string bytes;
        int code;
    } cases[] = {
        {"tiny", "QBA", ERR_READ},
        {"magic", applet("QBX", 6, 1, ""), ERR_NOAPPLET},
        {"version", applet("QBA", 6, 2, ""), ERR_APPLETVERSION},
        {"eof", applet("QBA", 6, 1, ""), ERR_UNEXPECTEDEOF},
        {"shortbody", applet("QBA", 6, 1, shortBody), ERR_READ},
        {"tag35", applet("QBA", 6, 1, "\x23"), ERR_UNKNOWNSEC},
        {"textbody", applet("QBA", 6, 1, textBody), ERR_BADSIGNATURE},
        {"missing", "", ERR_FILEEXIST},
    };
    for (const auto& c : cases) {
        fs::path p = dir_ / (c.name + ".qba");
        if (c.code != ERR_FILEEXIST) e2e::WriteFile(p, c.bytes);
        RunResult r = Run(std::string(QB_PLAYER_PATH) + " " + p.string() + " -quiet");
        EXPECT_EQ(r.status, 1) << c.name;
        EXPECT_NE(r.err.find(Text(c.code)), std::string::npos) << c.name << ": " << r.err;
        if (c.code == ERR_FILEEXIST) {
            EXPECT_NE(r.err.find("missing.qba"), std::string::npos) << r.err;
        }
    }
}

}  // namespace

// The spellings a user tries first give the help of -HELP, and so does one
// among other options; a first try must not read as a failure.
TEST_F(PlayerTest, DashDashHelpAndDashHPrintTheHelpAndSucceed) {
    const RunResult help = Run(std::string(QB_PLAYER_PATH) + " -help");
    ASSERT_EQ(help.status, 0);
    ASSERT_NE(help.out.find("Usage: quenbrookplayer APPLET"), std::string::npos) << help.out;
    for (const char* args : {"--help", "-h", "-H", "--HELP", "-quiet -h", "app.qba --help"}) {
        const RunResult r = Run(std::string(QB_PLAYER_PATH) + " " + args);
        EXPECT_EQ(r.status, 0) << args;
        EXPECT_EQ(r.out, help.out) << args;
        EXPECT_EQ(r.err, "") << args;
    }
}
