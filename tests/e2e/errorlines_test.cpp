// Where an error happened, as the player reports it: the script's own error
// handler hears the failing line from its first call on, a failing handler
// names its own line and command, and an error inside a callback that a
// native command ran (interval, event handler, button, label jump) names the
// callback's line, not that of the main loop waiting for events. The runs
// with input go through the whole player in this process, over the
// in-memory backend.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

#include "core/eventqueue.h"
#include "display/displays.h"
#include "e2e/e2e_util.h"
#include "platform/null/null_backend.h"
#include "platform/platform.h"
#include "player/startup.h"

namespace fs = std::filesystem;

namespace {

using e2e::RunResult;

// Prints the handler's four arguments: code, text, command and line.
const char kPrintingHandler[] = R"(
.function handler params=4 maxstack=10
.line 20
    GETGLOBAL 4 "debugprint"
    MOVE 5 0
    MOVE 6 1
    MOVE 7 2
    MOVE 8 3
    CALL 4 5 1
    RETURN 0 1 0
.end
)";

// A handler whose own first command fails.
const char kFailingHandler[] = R"(
.function handler params=4 maxstack=10
.line 20
    GETGLOBAL 4 "freebrush"
    LOADK 5 #77
    CALL 4 2 1
.line 21
    GETGLOBAL 4 "debugprint"
    LOADK 5 "handled"
    CALL 4 2 1
    RETURN 0 1 0
.end
)";

// Installs the handler, then fails on line 7 and prints on line 8.
std::string HandlerScript(const char* handler) {
    return std::string(R"(
.function main maxstack=8
.line 2
    CLOSURE 0 handler
    SETGLOBAL 0 "handler"
.line 3
    GETGLOBAL 0 "raiseonerror"
    GETGLOBAL 1 "handler"
    CALL 0 2 1
.line 7
    GETGLOBAL 0 "displaybrush"
    LOADK 1 #99
    LOADK 2 #0
    LOADK 3 #0
    CALL 0 4 1
.line 8
    GETGLOBAL 0 "debugprint"
    LOADK 1 "went on"
    CALL 0 2 1
    RETURN 0 1 0
)") + handler + ".end\n";
}

// Lines 28 and 29 loop long enough for the line hook, which sees only every
// 64th line, to stop on them; line 30 fails. Ends like the running function.
constexpr const char* kFailingLines = R"(
.line 28
    LOADK 2 #0
    LOADK 3 #300
    LOADK 4 #1
    JMP check
body:
.line 29
    ADD 5 2 2
check:
.line 28
    FORLOOP 2 body
.line 30
    GETGLOBAL 1 "displaybrush"
    LOADK 2 #99
    LOADK 3 #0
    LOADK 4 #0
    CALL 1 4 1
)";

// The main loop on line 5 waits for events; what comes before it sets the
// callback up, what comes after it is reached only by a label jump. Should
// the callback never run, a timeout ends the wait with an error of its own.
std::string CallbackScript(const std::string& setup, const std::string& afterLoop) {
    return R"(
.function main maxstack=12
.line 1
    CLOSURE 0 callback
    SETGLOBAL 0 "callback"
    GETGLOBAL 0 "settimeout"
    LOADK 1 #99
    CLOSURE 2 giveup
    LOADK 3 #10000
    CALL 0 4 1
.line 2
)" + setup + R"(
.line 5
loop:
    GETGLOBAL 0 "waitevent"
    CALL 0 1 1
    JMP loop
    RETURN 0 1 0
)" + afterLoop + R"(
.function giveup params=1 maxstack=4
.line 40
    GETGLOBAL 1 "error"
    LOADK 2 "the callback never ran"
    CALL 1 2 1
    RETURN 0 1 0
.end
.function callback params=1 maxstack=8
)" + kFailingLines + "    RETURN 0 1 0\n.end\n.end\n";
}

// The index of the instruction that follows the label in the main function
// (instructions are the indented lines that are no directives).
int InstructionIndex(const std::string& source, const std::string& label) {
    int index = 0;
    size_t at = 0;
    while (at < source.size()) {
        size_t end = source.find('\n', at);
        if (end == std::string::npos) end = source.size();
        const std::string line = source.substr(at, end - at);
        if (line == label + ":") return index;
        if (line.rfind("    ", 0) == 0) ++index;
        at = end + 1;
    }
    return -1;
}

class ErrorLinesTest : public e2e::E2eFixture {
protected:
    struct PlayerRun {
        int status = -1;
        std::string out;
        std::string err;
    };

    // Runs the player on the applet in this process over the in-memory
    // backend. The backend reads its clock at every pump: the first pump
    // after display 1 has opened hands it the input, aimed at that display.
    PlayerRun PlayInProcess(const fs::path& qba, std::vector<null_backend::ScriptedEvent> input) {
        SetPlatformBackend(nullptr);
        null_backend::Reset();
        bool given = false;
        null_backend::SetClock([&] {
            qbDisplay* d = GetCurrentDisplay();
            if (!given && d && d->state == DISPSTATE_OPEN) {
                given = true;
                for (null_backend::ScriptedEvent e : input) {
                    e.display = d;
                    null_backend::ScriptEvent(e);
                }
            }
            using namespace std::chrono;
            return static_cast<int64_t>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
        });
        std::vector<std::string> args = {"quenbrookplayer", qba.string(), "-quiet"};
        std::vector<char*> argv;
        for (std::string& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        PlayerRun r;
        testing::internal::CaptureStdout();
        testing::internal::CaptureStderr();
        r.status = PlayerMain(static_cast<int>(args.size()), argv.data());
        r.err = testing::internal::GetCapturedStderr();
        r.out = testing::internal::GetCapturedStdout();
        null_backend::Reset();
        return r;
    }

    fs::path Applet(const std::string& source, const std::string& options = "") {
        return Pack(Chunk(source, "lines"), dir_ / "lines.qba", "--include lines.qbs:1:1000:0 " + options);
    }
};

// Start-up names each declared object's line for its own errors; the
// script's first error must not inherit it. The default display is declared
// too, so this held for every applet.
TEST_F(ErrorLinesTest, TheHandlersFirstCallHearsTheLineOfTheFailedCommand) {
    for (const char* declared : {"", "--declare 6:1:4:a"}) {
        SCOPED_TRACE(declared);
        RunResult r = PlayScript(HandlerScript(kPrintingHandler), "-quiet", declared);
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.out, "1174 Could not find brush 99! DisplayBrush 7\nwent on\n");
        EXPECT_EQ(r.err, "");
    }
}

// The handler's own failure ends the script, and the report pairs that
// failure's line with its command, not the line that called the handler.
TEST_F(ErrorLinesTest, AFailingHandlerIsReportedWhereItFailed) {
    RunResult r = PlayScript(HandlerScript(kFailingHandler), "-quiet", "--declare 6:1:4:a");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "Could not find brush 77!\nFile: hello.qbs (current line: 20 - In function: FreeBrush)\n");
}

// The bundled examples leave each instruction the line it stands on in the
// file: packed as the build packs them, an example whose picture is missing
// names the line of its LoadBrush call, not a statement number.
TEST_F(ErrorLinesTest, AnExamplesErrorNamesItsRealSourceLine) {
    const std::string source = e2e::ReadFile(fs::path(QB_SOURCE_DIR) / "examples" / "showbrush.qbs");
    const size_t load = source.find("\"loadbrush\"");
    ASSERT_NE(load, std::string::npos);
    const size_t call = source.find("CALL", load);
    ASSERT_NE(call, std::string::npos);
    const long line = 1 + std::count(source.begin(), source.begin() + static_cast<std::ptrdiff_t>(call), '\n');
    ASSERT_GT(line, 5);  // below the example's opening comment
    const fs::path qba =
        Pack(Chunk(source, "showbrush"), dir_ / "showbrush.qba", "--include showbrush.qbs:1:1000000:0");
    // The player runs in the applet's folder, which holds no brush.png.
    RunResult r = Run(std::string(QB_PLAYER_PATH) + " " + qba.string() + " -quiet");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("File: showbrush.qbs (current line: " + std::to_string(line) + " - In function: LoadBrush)"),
              std::string::npos)
        << r.err;
}

TEST_F(ErrorLinesTest, AnErrorInACallbackNamesTheCallbacksLine) {
    const std::string labelCode = "onclick:\n" + std::string(kFailingLines) + "    RETURN 0 1 1\n";
    const struct {
        const char* kind;
        std::string setup;
        std::string afterLoop;
        std::vector<null_backend::ScriptedEvent> input;
    } cases[] = {
        {"interval",
         "    GETGLOBAL 0 \"setinterval\"\n    LOADK 1 #1\n    GETGLOBAL 2 \"callback\"\n    LOADK 3 #5\n"
         "    CALL 0 4 1\n",
         "", {}},
        {"event handler",
         "    GETGLOBAL 0 \"installeventhandler\"\n    NEWTABLE 1 0 1\n    GETGLOBAL 2 \"callback\"\n"
         "    SETTABLE 1 \"onkeydown\" 2\n    CALL 0 2 1\n",
         "", {{nullptr, kEventKey, 1, 0, 'q'}}},
        {"button",
         "    GETGLOBAL 0 \"makebutton\"\n    LOADK 1 #1\n    LOADK 2 #0\n    LOADK 3 #10\n    LOADK 4 #10\n"
         "    LOADK 5 #20\n    LOADK 6 #20\n    NEWTABLE 7 0 1\n    GETGLOBAL 8 \"callback\"\n"
         "    SETTABLE 7 \"onmousedown\" 8\n    CALL 0 8 1\n",
         "", {{nullptr, kEventLeftButton, 15, 15, 1}}},
        {"label jump",
         "    GETGLOBAL 0 \"createbutton\"\n    LOADK 1 #1\n    LOADK 2 #10\n    LOADK 3 #10\n    LOADK 4 #30\n"
         "    LOADK 5 #30\n    CALL 0 6 1\n",
         labelCode, {{nullptr, kEventLeftButton, 15, 15, 1}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.kind);
        const std::string source = CallbackScript(c.setup, c.afterLoop);
        const int label = InstructionIndex(source, "onclick");
        const std::string options = label < 0 ? "" : "--label ONBUTTONCLICK1=" + std::to_string(label);
        PlayerRun r = PlayInProcess(Applet(source, options), c.input);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err, "Could not find brush 99!\nFile: lines.qbs (current line: 30 - In function: DisplayBrush)\n");
    }
}

}  // namespace
