// The older label events as scripts meet them: a click or key that jumps to
// the script's label and comes back, the "ALL" labels with GetEventCode,
// switching entries off and on, WhileMouseOn and jumps the code cannot take.
#include "core/errcodes.h"
#include "eventlib_fixture.h"
#include "queued_events.h"

namespace {

// WaitEvent, then emit("back"); the label's code at 6 emits "label" and
// GetEventCode and returns like a gosub.
const char* const kJumpingScript = R"(.function main maxstack=14
    GETGLOBAL 0 "waitevent"
    CALL 0 1 1
    GETGLOBAL 10 "emit"
    LOADK 11 "back"
    CALL 10 2 1
    RETURN 0 1
    GETGLOBAL 10 "emit"
    LOADK 11 "label"
    GETGLOBAL 12 "geteventcode"
    CALL 12 1 2
    CALL 10 3 1
    RETURN 0 1 1
.end
)";
constexpr int kLabelAt = 6;

class LabelEventsTest : public EventWorld {
protected:
    // The applet's label table: lower-cased names and instruction indexes.
    void Labels(const std::vector<std::pair<const char*, int>>& labels) {
        VmPushString(L, "labels");
        VmPushNewTable(L);
        for (const auto& [name, index] : labels) SetTableFieldInt(L, name, index);
        VmSetTableAt(L, kRegistryIndex);
    }
    // The jumping script with CheckEvent: no match, no wait.
    int RunChecking() {
        std::string text = kJumpingScript;
        text.replace(text.find("waitevent"), 9, "checkevent");
        return Run(text);
    }
    static int Leave(ScriptState* L) {
        static_cast<qbDisplay*>(VmToUserdata(L, VmUpvalueIndex(1)))->view.mouseX = 200;
        return 0;
    }
};

TEST_F(LabelEventsTest, AClickInsideJumpsToItsLabelAndComesBack) {
    ASSERT_EQ(Call("createbutton", {"#5", "#10", "#10", "#20", "#20"}), 0);
    Labels({{"onbuttonclick5", kLabelAt}});
    Key('q', true);         // nobody's: goes with the click
    Click(30, 30, true);    // outside: no jump
    Click(20, 10, true);    // the corner is inside
    Key('z', true);         // after the match: stays queued
    ASSERT_EQ(Run(kJumpingScript), 0);
    EXPECT_EQ(out, (std::vector<std::string>{"label 0", "back"}));
    const auto left = QueuedEvents();
    ASSERT_EQ(left.size(), 1u);
    EXPECT_EQ(left[0].type, kEventKey);

    // With the ALL switch the one label serves every button, and
    // GetEventCode tells which.
    out.clear();
    ASSERT_EQ(Call("freeeventcache"), 0);
    ASSERT_EQ(Call("enableevent", {"#11"}), 0);
    Labels({{"onbuttonclickall", kLabelAt}});
    Click(15, 15, true);
    ASSERT_EQ(Run(kJumpingScript), 0);
    EXPECT_EQ(out, (std::vector<std::string>{"label 5", "back"}));
}

TEST_F(LabelEventsTest, EntriesSwitchOffAndOnAndNamedKeysMatchInAnyCase) {
    DefineEmitter("key", "key", "key");
    ASSERT_EQ(Install({{"onkeydown", "key"}}), 0);
    ASSERT_EQ(Call("createkeydown", {"#2", "\"tab\""}), 0);
    Labels({{"onkeydown2", kLabelAt}});
    ASSERT_EQ(Call("disableevent", {"#3", "#2"}), 0);
    Key(272, true);
    // Switched off, the key reaches its handler instead.
    ASSERT_EQ(Run(kJumpingScript), 0);
    EXPECT_EQ(out, (std::vector<std::string>{"key OnKeyDown         ", "back"}));
    out.clear();
    ASSERT_EQ(Call("enableevent", {"#3", "#2"}), 0);
    Key(272, true);
    ASSERT_EQ(Run(kJumpingScript), 0);
    EXPECT_EQ(out, (std::vector<std::string>{"label 0", "back"}));
    // ModifyKeyDown takes another key; ids nobody made are refused.
    ASSERT_EQ(Call("modifykeydown", {"#2", "\"A\""}), 0);
    EXPECT_EQ(Call("modifykeydown", {"#9", "\"A\""}), ERR_FINDBUTTON);
    EXPECT_EQ(Call("disableevent", {"#2", "#9"}), ERR_FINDBUTTON);
    EXPECT_EQ(Call("enableevent", {"#4", "#2"}), ERR_WRONGUSAGE);
    EXPECT_EQ(Call("removebutton", {"#2"}), ERR_FINDBUTTON);
    out.clear();
    Key('a', true);
    ASSERT_EQ(Run(kJumpingScript), 0);
    EXPECT_EQ(out, (std::vector<std::string>{"label 0", "back"}));
    // ClearEvents forgets the entries, not the queued input.
    Key('a', true);
    ASSERT_EQ(Call("clearevents"), 0);
    out.clear();
    ASSERT_EQ(Run(kJumpingScript), 0);
    EXPECT_EQ(out, (std::vector<std::string>{"key OnKeyDown a", "back"}));
}

TEST_F(LabelEventsTest, TheCloseLabelTakesTheWindowsCloseUntilCleared) {
    ASSERT_EQ(Call("enableevent", {"#10"}), 0);
    EXPECT_EQ(d->view.hasCloseHandler, 1);
    Labels({{"closewindow", kLabelAt}});
    null_backend::SetCloseHandler(d, true);
    Inject(kEventCloseRequest, 0, 0, 0);
    ASSERT_EQ(Run(kJumpingScript), 0);
    EXPECT_EQ(out, (std::vector<std::string>{"label 0", "back"}));
    ASSERT_EQ(Call("clearevents"), 0);
    EXPECT_EQ(d->view.hasCloseHandler, 0);
}

// Each window event has its switch and its label; another window event
// does not take it. A right click goes to its own label.
TEST_F(LabelEventsTest, WindowEventsAndRightClicksJumpToTheirOwnLabels) {
    const struct {
        const char* number;
        const char* label;
        uint32_t type;
        uint32_t other;
    } windows[] = {{"#6", "movewindow", kEventMoved, kEventResized},
                   {"#7", "sizewindow", kEventResized, kEventActivated},
                   {"#8", "inactivewindow", kEventDeactivated, kEventMoved},
                   {"#9", "activewindow", kEventActivated, kEventDeactivated}};
    for (const auto& w : windows) {
        ASSERT_EQ(Call("freeeventcache"), 0);
        ASSERT_EQ(Call("enableevent", {w.number}), 0);
        Labels({{w.label, kLabelAt}});
        out.clear();
        Inject(w.other, 0, 0, 0);
        ASSERT_EQ(RunChecking(), 0);
        EXPECT_EQ(out, std::vector<std::string>{"back"}) << w.label;
        out.clear();
        Inject(w.type, 0, 0, 0);
        ASSERT_EQ(RunChecking(), 0);
        EXPECT_EQ(out, (std::vector<std::string>{"label 0", "back"})) << w.label;
    }
    ASSERT_EQ(Call("freeeventcache"), 0);
    ASSERT_EQ(Call("createbutton", {"#5", "#10", "#10", "#20", "#20"}), 0);
    Labels({{"onbuttonrightclick5", kLabelAt}});
    out.clear();
    Click(15, 15, true);  // the left button: not this label
    Inject(kEventRightButton, 30, 30, 1);  // outside
    ASSERT_EQ(RunChecking(), 0);
    EXPECT_EQ(out, std::vector<std::string>{"back"});
    out.clear();
    Inject(kEventRightButton, 15, 15, 1);
    ASSERT_EQ(RunChecking(), 0);
    EXPECT_EQ(out, (std::vector<std::string>{"label 0", "back"}));
}

TEST_F(LabelEventsTest, ALabelOutsideTheRunningCodeIsAnInternalError) {
    ASSERT_EQ(Call("createbutton", {"#1", "#0", "#0", "#9", "#9"}), 0);
    Labels({{"onbuttonclick1", 500}});
    Click(1, 1, true);
    EXPECT_EQ(Run(kJumpingScript), ERR_INTERNAL);
}

TEST_F(LabelEventsTest, WhileMouseOnEndsWhenThePointerLeaves) {
    VmPushLightUserdata(L, d);
    VmPushCClosure(L, Leave, 1);
    SetGlobal("leave");
    ASSERT_EQ(Call("createbutton", {"#1", "#0", "#0", "#9", "#9"}), 0);
    Labels({{"onbuttonover1", 3}});
    d->view.mouseX = 4;
    d->view.mouseY = 4;
    // The over label starts a time-out that moves the pointer away, then
    // stays in WhileMouseOn until it has.
    ASSERT_EQ(Run(R"(.function main maxstack=14
    GETGLOBAL 0 "waitevent"
    CALL 0 1 1
    RETURN 0 1
    GETGLOBAL 10 "emit"
    LOADK 11 "over"
    CALL 10 2 1
    GETGLOBAL 10 "settimeout"
    LOADK 11 #1
    GETGLOBAL 12 "leave"
    LOADK 13 #1
    CALL 10 4 1
    GETGLOBAL 10 "whilemouseon"
    CALL 10 1 1
    GETGLOBAL 10 "emit"
    LOADK 11 "left"
    CALL 10 2 1
    RETURN 0 1 1
.end
)"),
              0);
    EXPECT_EQ(out, (std::vector<std::string>{"over", "left"}));
    EXPECT_EQ(d->view.mouseX, 200) << "WhileMouseOn ended before the pointer left";
    // Off the rectangle, no over label comes.
    out.clear();
    ASSERT_EQ(Check(), 0);
    EXPECT_TRUE(out.empty());
}

TEST_F(LabelEventsTest, ModifyButtonMovesTheRectangleAndRemoveKeyDownTakesOnlyTheKey) {
    ASSERT_EQ(Call("createbutton", {"#5", "#10", "#10", "#20", "#20"}), 0);
    ASSERT_EQ(Call("createkeydown", {"#5", "\"a\""}), 0);
    Labels({{"onbuttonclick5", kLabelAt}, {"onkeydown5", kLabelAt}});
    ASSERT_EQ(Call("modifybutton", {"#5", "#30", "#5", "#50", "#15"}), 0);
    EXPECT_EQ(Call("modifybutton", {"#6", "#30", "#5", "#50", "#15"}), ERR_FINDBUTTON);
    auto jumps = [&](auto input) {
        out.clear();
        input();
        EXPECT_EQ(RunChecking(), 0);
        EXPECT_EQ(Call("freeeventcache"), 0);
        return out.size() == 2 && out[0] == "label 0";
    };
    EXPECT_FALSE(jumps([&] { Click(15, 15, true); })) << "the old rectangle still jumps";
    EXPECT_TRUE(jumps([&] { Click(45, 8, true); })) << "the new rectangle does not jump";
    EXPECT_TRUE(jumps([&] { Key('a', true); }));
    ASSERT_EQ(Call("removekeydown", {"#5"}), 0);
    EXPECT_EQ(Call("removekeydown", {"#5"}), ERR_FINDBUTTON);
    EXPECT_FALSE(jumps([&] { Key('a', true); })) << "the removed key still jumps";
    EXPECT_TRUE(jumps([&] { Click(45, 8, true); })) << "the button went with the key";
}

TEST_F(LabelEventsTest, BreakWhileMouseOnLetsTheOverLabelComeAgain) {
    ASSERT_EQ(Call("createbutton", {"#1", "#0", "#0", "#9", "#9"}), 0);
    Labels({{"onbuttonover1", kLabelAt}});
    d->view.mouseX = 4;
    d->view.mouseY = 4;
    // The pointer stays on the entry: the label comes once, and again only
    // after the break.
    ASSERT_EQ(RunChecking(), 0);
    ASSERT_EQ(RunChecking(), 0);
    ASSERT_EQ(Call("breakwhilemouseon"), 0);
    ASSERT_EQ(RunChecking(), 0);
    EXPECT_EQ(out, (std::vector<std::string>{"label 0", "back", "back", "label 0", "back"}));
}

}  // namespace

// Only the events an entry can name reach the labels: a key past the
// character range without a name, and a middle click or a wheel turn inside
// a button's rectangle, jump nowhere.
TEST_F(LabelEventsTest, KeysWithoutTextAndOtherButtonsJumpNowhere) {
    ASSERT_EQ(Call("createkeydown", {"#2", "\"a\""}), 0);
    ASSERT_EQ(Call("createbutton", {"#5", "#10", "#10", "#20", "#20"}), 0);
    Labels({{"onkeydown2", kLabelAt}, {"onbuttonclick5", kLabelAt}});
    Key('a' + 256, true);
    ASSERT_EQ(RunChecking(), 0);
    Inject(kEventMiddleButton, 15, 15, 1);
    ASSERT_EQ(RunChecking(), 0);
    Inject(kEventWheelUp, 15, 15, 1);
    ASSERT_EQ(RunChecking(), 0);
    EXPECT_EQ(out, (std::vector<std::string>{"back", "back", "back"}));
    // The entries still answer their own events.
    out.clear();
    Key('A', true);
    ASSERT_EQ(RunChecking(), 0);
    Click(15, 15, true);
    ASSERT_EQ(RunChecking(), 0);
    EXPECT_EQ(out, (std::vector<std::string>{"label 0", "back", "label 0", "back"}));
}
