// Sizes an X window cannot have, asked for by a script that goes on after
// errors, and the end of the X connection while a sound plays: the script
// hears of the first as its command's error, and the second ends the player
// with its own message and the sound stopped before anything it reads goes.
#include <gtest/gtest.h>

#include <string>

#include "e2e/e2e_util.h"
#include "xvfb/xvfb_run.h"

namespace fs = std::filesystem;

namespace {

// Prints each command's error code ("0" when it worked), then "survived".
constexpr const char* kSizesChunk = R"(
.function main maxstack=8
.line 1
    GETGLOBAL 0 "exitonerror"
    LOADK 1 #0
    CALL 0 2 1
.line 2
    GETGLOBAL 0 "changedisplaysize"
    LOADK 1 #136
    LOADK 2 #65536
    CALL 0 3 1
    CLOSURE 0 report
    LOADK 1 "size 136x65536"
    CALL 0 2 1
.line 3
    GETGLOBAL 0 "changedisplaysize"
    LOADK 1 #70000
    LOADK 2 #100
    CALL 0 3 1
    CLOSURE 0 report
    LOADK 1 "size 70000x100"
    CALL 0 2 1
.line 4
    GETGLOBAL 0 "setdisplayattributes"
    NEWTABLE 1 0 2
    LOADK 2 #100
    SETTABLE 1 "width" 2
    LOADK 2 #65536
    SETTABLE 1 "height" 2
    CALL 0 2 1
    CLOSURE 0 report
    LOADK 1 "attributes 100x65536"
    CALL 0 2 1
.line 5
    GETGLOBAL 0 "createdisplay"
    LOADK 1 #2
    NEWTABLE 2 0 2
    LOADK 3 #70000
    SETTABLE 2 "width" 3
    LOADK 3 #100
    SETTABLE 2 "height" 3
    CALL 0 3 1
    CLOSURE 0 report
    LOADK 1 "create 70000x100"
    CALL 0 2 1
    GETGLOBAL 0 "opendisplay"
    LOADK 1 #2
    CALL 0 2 1
    CLOSURE 0 report
    LOADK 1 "open 70000x100"
    CALL 0 2 1
.line 6
    GETGLOBAL 0 "changedisplaysize"
    LOADK 1 #4000
    LOADK 2 #100
    CALL 0 3 1
    CLOSURE 0 report
    LOADK 1 "size 4000x100"
    CALL 0 2 1
    GETGLOBAL 0 "changedisplaysize"
    LOADK 1 #300
    LOADK 2 #200
    CALL 0 3 1
    CLOSURE 0 report
    LOADK 1 "size 300x200"
    CALL 0 2 1
.line 7
    GETGLOBAL 0 "createdisplay"
    LOADK 1 #3
    NEWTABLE 2 0 2
    LOADK 3 #4000
    SETTABLE 2 "width" 3
    LOADK 3 #100
    SETTABLE 2 "height" 3
    CALL 0 3 1
    GETGLOBAL 0 "opendisplay"
    LOADK 1 #3
    CALL 0 2 1
    CLOSURE 0 report
    LOADK 1 "open 4000x100"
    CALL 0 2 1
.line 8
    GETGLOBAL 0 "debugprint"
    LOADK 1 "survived"
    CALL 0 2 1
    RETURN 0 1 0
.function report params=1 maxstack=4
    GETGLOBAL 1 "debugprint"
    MOVE 2 0
    GETGLOBAL 3 "getlasterror"
    CALL 3 1 0
    CALL 1 0 1
    RETURN 0 1 0
.end
.end
)";

// Plays a long tone and waits; the test takes the X server away meanwhile.
constexpr const char* kToneChunk = R"(
.function main maxstack=6
.line 1
    GETGLOBAL 0 "loadsample"
    LOADK 1 #1
    LOADK 2 "tone.wav"
    CALL 0 3 1
    GETGLOBAL 0 "playsample"
    LOADK 1 #1
    CALL 0 2 1
    GETGLOBAL 0 "debugprint"
    LOADK 1 "playing"
    CALL 0 2 1
loop:
    GETGLOBAL 0 "waitevent"
    CALL 0 1 1
    JMP loop
    RETURN 0 1 0
.end
)";

class WindowSizeTest : public XvfbFixture {
protected:
    void SetUp() override {
        E2eFixture::SetUp();
        for (const char* tool : {"xvfb-run", "xwininfo"})
            if (!HaveTool(tool)) GTEST_SKIP() << tool << " is not installed";
    }
};

TEST_F(WindowSizeTest, SidesTheXProtocolCannotCarryAreTheCommandsErrorAndTheScriptGoesOn) {
    const fs::path applet = Pack(Chunk(kSizesChunk, "sizes"), dir_ / "sizes.qba", "");
    const e2e::RunResult r =
        UnderXvfb(std::string(QB_PLAYER_PATH) + " " + applet.string() + " -quiet >out.txt 2>err.txt\n");
    const std::string out = e2e::ReadFile(dir_ / "out.txt"), err = e2e::ReadFile(dir_ / "err.txt");
    EXPECT_EQ(r.status, 0) << out << err << r.err;
    for (const char* refused : {"size 136x65536 1085", "size 70000x100 1085", "attributes 100x65536 1085",
                                "open 70000x100 1085"})
        EXPECT_NE(out.find(refused), std::string::npos) << refused << "\n" << out << err;
    for (const char* made : {"create 70000x100 0", "size 4000x100 0", "size 300x200 0", "open 4000x100 0"})
        EXPECT_NE(out.find(made), std::string::npos) << made << "\n" << out << err;
    EXPECT_NE(out.find("survived"), std::string::npos) << out << err;
    EXPECT_EQ(err.find("runtime error"), std::string::npos) << err;
    EXPECT_EQ(err.find("Sanitizer"), std::string::npos) << err;
}

TEST_F(WindowSizeTest, ALostServerEndsThePlayerWithItsMessageWhileASoundPlays) {
    if (!HaveTool("sox") || !HaveTool("pgrep")) GTEST_SKIP() << "sox or pgrep is not installed";
    const fs::path applet = Pack(Chunk(kToneChunk, "tone"), dir_ / "tone.qba", "");
    const e2e::RunResult r = UnderXvfb("sox -n -r 22050 -c 1 tone.wav synth 30 sine 440\n"
                                       "SDL_AUDIODRIVER=dummy " +
                                       std::string(QB_PLAYER_PATH) + " " + applet.string() +
                                       " -quiet >out.txt 2>err.txt &\npid=$!\n"
                                       "i=0\nuntil grep -q playing out.txt || [ $i -ge 400 ]; do "
                                       "i=$((i+1)); sleep 0.1; done\n"
                                       "pkill -KILL -f \"Xvfb $DISPLAY \"\n"
                                       "wait $pid\necho $? >player.txt\nexit 0\n");
    const std::string out = e2e::ReadFile(dir_ / "out.txt"), err = e2e::ReadFile(dir_ / "err.txt");
    ASSERT_NE(out.find("playing"), std::string::npos) << out << err << r.err;
    EXPECT_EQ(e2e::ReadFile(dir_ / "player.txt"), "1\n") << err;
    EXPECT_NE(err.find("The connection to the X server was lost."), std::string::npos) << err;
    EXPECT_EQ(err.find("runtime error"), std::string::npos) << err;
    EXPECT_EQ(err.find("Sanitizer"), std::string::npos) << err;
}

}  // namespace
