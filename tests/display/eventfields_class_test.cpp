// Every field of every event a display sends its script, checked for its
// value: one handler, installed for every display event that
// docs/commands.md lists, records each message whole, and each event comes
// from the window with values of its own (a position, a size, a key, a
// file, a menu item), so that a field dropped, swapped with another or
// filled from the wrong place shows. The script's own events (samples,
// music, peers, programs) come from their objects and have their tests
// there; a display event the list names must be sent here or fail.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "core/memory.h"
#include "eventlib_fixture.h"

namespace {

using Fields = std::map<std::string, std::string>;

// The value as the script sees it: numbers whole or not, texts, a table's
// fields in order.
std::string Text(ScriptState* L, int at) {
    switch (VmType(L, at)) {
        case kTypeNumber: {
            std::ostringstream s;
            s << VmToNumber(L, at);
            return s.str();
        }
        case kTypeString: return "\"" + std::string(VmToCString(L, at), VmStrLen(L, at)) + "\"";
        case kTypeTable: {
            std::map<std::string, std::string> fields;
            const int table = at < 0 ? VmGetTop(L) + at + 1 : at;
            VmPushNil(L);
            while (VmNext(L, table)) {
                fields[Text(L, -2)] = Text(L, -1);
                VmSetTop(L, -2);
            }
            std::string s = "{";
            for (const auto& [k, v] : fields) s += k + "=" + v + ",";
            return s + "}";
        }
        default: return VmTypeName(L, VmType(L, at));
    }
}

// Keeps every message it is given, whole.
int Record(ScriptState* L) {
    auto* messages = static_cast<std::vector<Fields>*>(VmToUserdata(L, VmUpvalueIndex(1)));
    Fields f;
    VmPushNil(L);
    while (VmNext(L, 1)) {
        f[VmToCString(L, -2)] = Text(L, -1);
        VmSetTop(L, -2);
    }
    messages->push_back(f);
    return 0;
}

// The display events docs/commands.md lists for the current display.
std::vector<std::string> DocumentedDisplayEvents() {
    std::ifstream in(std::string(QB_SOURCE_DIR) + "/docs/commands.md");
    std::string line;
    bool inSection = false, next = false;
    while (std::getline(in, line)) {
        if (line.rfind("## Event handlers", 0) == 0) inSection = true;
        if (!inSection) continue;
        if (line.find("These are the current display's") != std::string::npos) {
            next = true;
            continue;
        }
        if (next && line.find('`') != std::string::npos) {
            std::vector<std::string> names;
            for (size_t at = line.find('`'); at != std::string::npos; at = line.find('`', at)) {
                const size_t end = line.find('`', at + 1);
                names.push_back(line.substr(at + 1, end - at - 1));
                at = end + 1;
            }
            return names;
        }
    }
    return {};
}

class EventFieldsTest : public EventWorld {
protected:
    // The recorder at every handler the list names.
    void InstallRecorder(const std::vector<std::string>& names) {
        VmPushLightUserdata(L, &messages);
        VmPushCClosure(L, Record, 1);
        SetGlobal("record");
        std::vector<std::pair<std::string, std::string>> fields;
        for (const std::string& n : names) fields.emplace_back(n, "record");
        ASSERT_EQ(Install(fields), 0);
        // The window tells the player that the script handles its close.
        null_backend::SetCloseHandler(d, d->view.hasCloseHandler);
    }
    // What the handlers got for one event from the window.
    std::vector<Fields> From(uint32_t type, int32_t a, int32_t b, int32_t c, void* block = nullptr) {
        messages.clear();
        if (block) {
            EXPECT_EQ(PostEvent(d, type, a, b, c, block), 1);
        } else {
            Inject(type, a, b, c);
        }
        EXPECT_EQ(Call("checkevents"), 0);
        return messages;
    }

    // The one message the event sent, whole.
    static void ExpectOnly(const std::vector<Fields>& got, const Fields& want) {
        ASSERT_EQ(got.size(), 1u);
        EXPECT_EQ(got[0], want);
    }

    std::vector<Fields> messages;
};

// A block the event owns, as the window's handlers allocate it, ended by a
// zero byte.
void* Block(const std::string& bytes) {
    void* p = AllocMemory(bytes.size() + 1, 1);
    std::memcpy(p, bytes.data(), bytes.size());
    return p;
}

TEST_F(EventFieldsTest, EveryFieldOfEveryDisplayEventHasItsValue) {
    const std::vector<std::string> documented = DocumentedDisplayEvents();
    ASSERT_GE(documented.size(), 30u);
    InstallRecorder(documented);
    struct Sent {
        const char* handler;
        uint32_t type;
        int32_t a, b, c;
        std::string block;  // the event's block, when it has one
        Fields want;
    };
    const std::string id = "1";
    const std::vector<Sent> sent = {
        {"onkeydown", kEventKey, 1, 0, 'q', "", {{"action", "\"OnKeyDown\""}, {"id", id}, {"key", "\"q\""}}},
        {"onkeyup", kEventKey, 0, 0, 'w', "", {{"action", "\"OnKeyUp\""}, {"id", id}, {"key", "\"w\""}}},
        {"onmousedown", kEventLeftButton, 5, 6, 1, "", {{"action", "\"OnMouseDown\""}, {"id", id}}},
        {"onmouseup", kEventLeftButton, 5, 6, 0, "", {{"action", "\"OnMouseUp\""}, {"id", id}}},
        {"onrightmousedown", kEventRightButton, 5, 6, 1, "", {{"action", "\"OnRightMouseDown\""}, {"id", id}}},
        {"onrightmouseup", kEventRightButton, 5, 6, 0, "", {{"action", "\"OnRightMouseUp\""}, {"id", id}}},
        {"onmidmousedown", kEventMiddleButton, 5, 6, 1, "", {{"action", "\"OnMidMouseDown\""}, {"id", id}}},
        {"onmidmouseup", kEventMiddleButton, 5, 6, 0, "", {{"action", "\"OnMidMouseUp\""}, {"id", id}}},
        {"onwheelup", kEventWheelUp, 0, 0, 0, "", {{"action", "\"OnWheelUp\""}, {"id", id}}},
        {"onwheeldown", kEventWheelDown, 0, 0, 0, "", {{"action", "\"OnWheelDown\""}, {"id", id}}},
        {"inactivewindow", kEventDeactivated, 0, 0, 0, "", {{"action", "\"InactiveWindow\""}, {"id", id}}},
        {"activewindow", kEventActivated, 0, 0, 0, "", {{"action", "\"ActiveWindow\""}, {"id", id}}},
        {"hidewindow", kEventMinimised, 0, 0, 0, "", {{"action", "\"HideWindow\""}, {"id", id}}},
        {"showwindow", kEventRestored, 0, 0, 0, "", {{"action", "\"ShowWindow\""}, {"id", id}}},
        {"clipboardchange", kEventClipboardChanged, 0, 0, 0, "", {{"action", "\"ClipboardChange\""}, {"id", id}}},
        {"showkeyboard", 18, 0, 0, 0, "", {{"action", "\"ShowKeyboard\""}, {"id", id}}},
        {"hidekeyboard", 19, 0, 0, 0, "", {{"action", "\"HideKeyboard\""}, {"id", id}}},
        {"hotkey", 20, 0, 0, 0, "", {{"action", "\"Hotkey\""}, {"id", id}}},
        {"trayicon", 21, 0, 0, 0, "", {{"action", "\"TrayIcon\""}, {"id", id}}},
        {"ondockyclick", 27, 0, 0, 0, "", {{"action", "\"OnDockyClick\""}, {"id", id}}},
        {"closewindow", kEventCloseRequest, 0, 0, 0, "", {{"action", "\"CloseWindow\""}, {"id", id}}},
        {"ondropfile",
         kEventFilesDropped,
         9,
         11,
         0,
         std::string("one.txt\0two.png\0", 16),
         {{"action", "\"OnDropFile\""},
          {"id", id},
          {"x", "9"},
          {"y", "11"},
          {"numdropfiles", "2"},
          {"dropfiles", "{0=\"one.txt\",1=\"two.png\",}"}}},
    };
    std::set<std::string> covered;
    for (const Sent& s : sent) {
        SCOPED_TRACE(s.handler);
        covered.insert(s.handler);
        ExpectOnly(From(s.type, s.a, s.b, s.c, s.block.empty() ? nullptr : Block(s.block)), s.want);
    }
    // The pointer's move: where it is now, in the display's pixels.
    messages.clear();
    d->view.mouseX = 13;
    d->view.mouseY = 17;
    d->view.mouseMoved = 1;
    ASSERT_EQ(Call("checkevents"), 0);
    covered.insert("onmousemove");
    ExpectOnly(messages, {{"action", "\"OnMouseMove\""}, {"id", id}, {"x", "13"}, {"y", "17"}});
    // Every display event the list names is sent here, or named with why.
    const std::map<std::string, std::string> elsewhere = {
        {"movewindow", "its x and y are the window's own place, which the test below moves"},
        {"sizewindow", "its size is the display's, which the test below changes"},
        {"modeswitch", "the display's mode and size: the test below"},
        {"orientationchange", "the display's orientation: the test below"},
        {"ontouch", "the test below"},
        {"onapplicationmessage", "another program's message: the program message tests"},
        {"onmenuselect", "a menu's item and check: the test below"},
    };
    for (const std::string& n : documented)
        EXPECT_TRUE(covered.count(n) || elsewhere.count(n)) << n << " is sent by no test of its fields";
}

// The events whose fields are the display's own state, its place and its
// size, as the display holds them when the handler runs; and a menu's item
// and check.
TEST_F(EventFieldsTest, WindowPlaceSizeAndMenuFieldsAreTheDisplays) {
    InstallRecorder({"movewindow", "sizewindow", "modeswitch", "onmenuselect"});
    ASSERT_NE(d->x, d->y);
    ASSERT_NE(d->width, d->height);
    // The fields are read once the event has been handled: first the event.
    std::vector<Fields> got = From(kEventMoved, 31, 47, 0);
    ExpectOnly(
        got,
        Fields{{"action", "\"MoveWindow\""}, {"id", "1"}, {"x", std::to_string(d->x)}, {"y", std::to_string(d->y)}});
    got = From(kEventResized, 0, 0, 0);
    ExpectOnly(got, Fields{{"action", "\"SizeWindow\""},
                           {"id", "1"},
                           {"width", std::to_string(d->width)},
                           {"height", std::to_string(d->height)}});
    got = From(kEventFullScreenToggle, 0, 0, 0);
    ExpectOnly(got, Fields{{"action", "\"ModeSwitch\""},
                           {"id", "1"},
                           {"mode", d->fullScreen ? "2" : "1"},
                           {"width", std::to_string(d->width)},
                           {"height", std::to_string(d->height)}});
    InstallRecorder({"orientationchange", "ontouch"});
    got = From(17, 0, 0, 0);
    ExpectOnly(
        got, Fields{{"action", "\"OrientationChange\""}, {"id", "1"}, {"orientation", std::to_string(d->orientation)}});
    ExpectOnly(From(22, 3, 4, 1), Fields{{"action", "\"OnTouch\""}, {"id", "1"}});
    ExpectOnly(From(kEventMenuSelect, 0, 0, 1, Block("toggle")),
               Fields{{"action", "\"OnMenuSelect\""}, {"id", "1"}, {"item", "\"toggle\""}, {"selected", "1"}});
    ExpectOnly(From(kEventMenuSelect, 0, 0, 0, Block("other")),
               Fields{{"action", "\"OnMenuSelect\""}, {"id", "1"}, {"item", "\"other\""}, {"selected", "0"}});
}

// Every field of a button's message, for each of its eight handlers: the
// button's place and size on a button whose four numbers differ, each of
// the three pressed states on its own, the display and the userdata.
TEST_F(EventFieldsTest, EveryFieldOfEveryButtonEventHasItsValue) {
    VmPushLightUserdata(L, &messages);
    VmPushCClosure(L, Record, 1);
    SetGlobal("record");
    std::string make = ".function main maxstack=12\n    GETGLOBAL 0 \"makebutton\"\n    LOADK 1 #3\n    LOADK 2 #0\n"
                       "    LOADK 3 #5\n    LOADK 4 #7\n    LOADK 5 #11\n    LOADK 6 #4\n    NEWTABLE 7 0 8\n"
                       "    GETGLOBAL 8 \"record\"\n";
    for (const char* key : {"onmouseover", "onmouseout", "onmousedown", "onmouseup", "onrightmousedown",
                            "onrightmouseup", "onmidmousedown", "onmidmouseup"})
        make += std::string("    SETTABLE 7 \"") + key + "\" 8\n";
    ASSERT_EQ(Run(make + "    LOADK 8 #77\n    CALL 0 9 1\n    RETURN 0 1\n.end\n"), 0);
    auto want = [](const char* action, int left, int right, int middle) {
        return Fields{{"action", std::string("\"") + action + "\""},
                      {"id", "3"},
                      {"x", "5"},
                      {"y", "7"},
                      {"width", "11"},
                      {"height", "4"},
                      {"mousedown", std::to_string(left)},
                      {"rightmousedown", std::to_string(right)},
                      {"midmousedown", std::to_string(middle)},
                      {"display", "1"},
                      {"userdata", "77"}};
    };
    auto pointerTo = [&](int32_t x, int32_t y) {
        messages.clear();
        d->view.mouseX = x;
        d->view.mouseY = y;
        d->view.mouseMoved = 1;
        EXPECT_EQ(Call("checkevents"), 0);
        return messages;
    };
    // The button's far corner, then its press states one by one.
    ExpectOnly(pointerTo(15, 10), want("OnMouseOver", 0, 0, 0));
    ExpectOnly(From(kEventRightButton, 15, 10, 1), want("OnRightMouseDown", 0, 1, 0));
    ExpectOnly(From(kEventRightButton, 15, 10, 0), want("OnRightMouseUp", 0, 0, 0));
    ExpectOnly(From(kEventMiddleButton, 5, 7, 1), want("OnMidMouseDown", 0, 0, 1));
    ExpectOnly(From(kEventLeftButton, 5, 7, 1), want("OnMouseDown", 1, 0, 1));
    ExpectOnly(From(kEventMiddleButton, 5, 7, 0), want("OnMidMouseUp", 1, 0, 0));
    ExpectOnly(From(kEventLeftButton, 5, 7, 0), want("OnMouseUp", 0, 0, 0));
    ExpectOnly(pointerTo(16, 10), want("OnMouseOut", 0, 0, 0));
}

}  // namespace
