// Script code that runs at a later read of a command's options (the N-th
// look-up of a table's "__index") and frees what the command found before
// it: a display (after making another one current), or the anim PlayAnim
// plays. The free stands and the command ends with the object's not-found
// error, never with the freed record's memory read or written (the
// sanitizer tree reports that).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/errcodes.h"
#include "e2e/e2e_util.h"
#include "e2e/frames.h"

namespace {

// GETGLOBAL name, then the arguments: numbers, "t" (the freeing table) or
// "nil", and the call.
std::string Call(const std::string& name, const std::vector<std::string>& args) {
    std::string s = "    GETGLOBAL 0 \"" + name + "\"\n";
    int reg = 1;
    for (const std::string& a : args) {
        const std::string r = std::to_string(reg++);
        if (a == "t")
            s += "    GETGLOBAL " + r + " \"t\"\n";
        else if (a == "nil")
            s += "    LOADNIL " + r + " " + r + "\n";
        else
            s += "    LOADK " + r + " #" + a + "\n";
    }
    return s + "    CALL 0 " + std::to_string(reg) + " 1\n";
}

// CreateDisplay(id, {width = 100, height = 100}).
std::string MakeDisplay(int id) {
    return "    GETGLOBAL 0 \"createdisplay\"\n    LOADK 1 #" + std::to_string(id) +
           "\n    NEWTABLE 2 0 2\n    LOADK 3 #100\n    SETTABLE 2 \"width\" 3\n    SETTABLE 2 \"height\" 3\n"
           "    CALL 0 3 1\n";
}

// t = SetMetaTable({}, {__index = freer}); the freer counts the look-ups and
// runs `frees` at the one numbered at, finding no field at any.
std::string Applet(const std::string& setup, const std::string& call, const std::string& frees, int at) {
    return ".function main maxstack=16\n.line 1\n" + setup +
           "    LOADK 0 #0\n    SETGLOBAL 0 \"reads\"\n"
           "    GETGLOBAL 0 \"setmetatable\"\n    NEWTABLE 1 0 0\n    NEWTABLE 2 0 1\n    CLOSURE 3 freer\n"
           "    SETTABLE 2 \"__index\" 3\n    CALL 0 3 2\n    SETGLOBAL 0 \"t\"\n.line 2\n" +
           call +
           "    RETURN 0 1 0\n"
           ".function freer params=2 maxstack=8\n.line 3\n"
           "    GETGLOBAL 2 \"reads\"\n    ADD 2 2 #1\n    SETGLOBAL 2 \"reads\"\n    EQ 0 2 #" +
           std::to_string(at) + "\n    JMP done\n" + frees +
           "done:\n    RETURN 0 1 0\n.end\n.end\n";
}

struct Case {
    std::string name;
    std::string setup;
    std::string call;
    std::string frees;
    std::vector<int> reads;  // the look-ups that free, one run each
    int error;
};

class ScriptFreeTest : public e2e::E2eFixture {
protected:
    void Expect(const Case& c) {
        for (int at : c.reads) {
            const std::string name = c.name + std::to_string(at);
            const e2e::RunResult r = PlayScript(Applet(c.setup, c.call, c.frees, at), "-quiet", "", name);
            EXPECT_TRUE(r.status == 0 || r.status == 1) << name << " " << r.status << "\n" << r.err;
            // The text up to the object's number ("Could not find display ").
            const std::string text = Text(c.error);
            EXPECT_NE(r.err.find(text.substr(0, text.find_first_of("0123456789"))), std::string::npos)
                << name << "\n" << r.err;
            EXPECT_EQ(r.err.find("Sanitizer"), std::string::npos) << name << "\n" << r.err;
            EXPECT_EQ(r.err.find("runtime error"), std::string::npos) << name << "\n" << r.err;
        }
    }
};

}  // namespace

TEST_F(ScriptFreeTest, ADisplayFreedWhileItsCommandReadsOptionsIsNotFound) {
    using e2e::CallCommand;
    // The other display is made current first: the current one cannot be
    // freed.
    const std::string leaveFirst = CallCommand("SelectDisplay", {2}) + CallCommand("FreeDisplay", {1});
    const std::vector<Case> cases = {
        {"opendisplay", MakeDisplay(2), Call("opendisplay", {"2", "t"}), CallCommand("FreeDisplay", {2}), {1, 3, 6},
         ERR_FINDDISPLAY},
        {"setdisplayattributes", MakeDisplay(2), Call("setdisplayattributes", {"t"}), leaveFirst, {1, 9, 30},
         ERR_FINDDISPLAY},
        {"changedisplaysize", MakeDisplay(2), Call("changedisplaysize", {"50", "50", "t"}), leaveFirst, {1, 3},
         ERR_FINDDISPLAY},
        {"changedisplaymode", MakeDisplay(2), Call("changedisplaymode", {"2", "nil", "nil", "t"}), leaveFirst,
         {1, 2, 6}, ERR_FINDDISPLAY},
    };
    for (const Case& c : cases) Expect(c);
}

TEST_F(ScriptFreeTest, AnAnimFreedAtALaterReadOfPlayAnimIsNotFound) {
    using e2e::CallCommand;
    const std::string anim =
        CallCommand("CreateBrush", {1, 16, 8, 0xFF0000}) + CallCommand("CreateAnim", {1, 1, 8, 8, 2, 2});
    // The first look-ups are PlayAnim's own (async, speed, times, async),
    // the later ones those of the display-object keys.
    const std::vector<int> reads = {3, 4, 5, 6, 9};
    Expect({"playanim", anim, Call("playanim", {"1", "0", "0", "t"}), CallCommand("FreeAnim", {1}), reads,
            ERR_FINDANIM});
    Expect({"playanimlayers", CallCommand("EnableLayers", {}) + anim, Call("playanim", {"1", "0", "0", "t"}),
            CallCommand("FreeAnim", {1}), reads, ERR_FINDANIM});
}
