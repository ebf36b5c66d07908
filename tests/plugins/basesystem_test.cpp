// The system-services table from the host side: host tags, event types and
// the events plugins post, plugin hooks, mutexes, dates and the capability
// lists, with the null and unknown arguments a plugin may hand in.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "core/applet.h"
#include "core/errcodes.h"
#include "core/eventqueue.h"
#include "core/memory.h"
#include "core/pluginhooks.h"
#include "core/plugincaps.h"
#include "core/runstate.h"
#include "core/settings.h"
#include "core/vmhost.h"
#include "display/adapter_install.h"
#include "display/eventlib.h"
#include "display/refresh.h"
#include "plugin_fixture.h"
#include "plugins/basesystemslots.h"
#include "plugins/basetables.h"
#include "plugins/pluginlist.h"
#include "vm/vm.h"

namespace {

const qbSystemTable& Sys() { return kPluginSystemTable; }

TEST(BaseSystemLayout, EverySlotIsServed) {
    auto slots = [](const void* table) { return static_cast<void* const*>(table); };
    for (int i = 0; i < 49; ++i) EXPECT_NE(slots(&kPluginSystemTable)[i], nullptr) << "table 1 slot " << i;
    for (int i = 0; i < 33; ++i) EXPECT_NE(slots(&kPluginFilesTable)[i], nullptr) << "table 2 slot " << i;
    EXPECT_EQ(sizeof(qbFilesTable) / sizeof(void*), 33u);
}

TEST(BaseSystemTable, HostTagsAnswerAndSetOnlyWhatTheyKnow) {
    const int fps = GetFPSLimit();
    SetFPSLimit(25);
    qbPluginTag tags[] = {{QBHOST_TAG_ZERO, 0, 1234},  {QBHOST_TAG_TITLE, 0, 0},       {99, 0, 77},
                          {QBHOST_TAG_FPSLIMIT, 0, 0}, {QBHOST_TAG_IDENTIFIER, 0, 0}, {QBHOST_TAG_CALLBACKNESTING, 0, 3},
                          {QBHOST_TAG_WORDB, 0, 9},    {0, 0, 0}};
    EXPECT_EQ(Sys().HostTags(tags), 6) << "the unknown tag is not counted";
    EXPECT_EQ(tags[0].value, 0u);
    EXPECT_STREQ(reinterpret_cast<const char*>(tags[1].value), "") << "no applet: empty strings";
    EXPECT_EQ(tags[2].value, 77u) << "left alone";
    EXPECT_EQ(tags[3].value, 25u);
    EXPECT_EQ(GetRuntimeTag(kTagCallbackNesting), 1) << "runtime tag 10 counts: non-zero raises it";
    EXPECT_EQ(HostTagWord(QBHOST_TAG_WORDB), 9);
    qbPluginTag reset[] = {{QBHOST_TAG_RESETPOSITION, 0, 0}, {QBHOST_TAG_CALLBACKNESTING, 0, 0}, {0, 0, 0}};
    EXPECT_EQ(Sys().HostTags(reset), 2);
    EXPECT_EQ(GetRuntimeTag(kTagCallbackNesting), 0);
    EXPECT_EQ(HostTagWord(QBHOST_TAG_WORDB), 0);
    EXPECT_EQ(Sys().HostTags(nullptr), 0);
    SetFPSLimit(fps);
}

TEST(BaseSystemTable, DatesCharsetsAndTheScriptPosition) {
    const time_t before = std::time(nullptr);
    int32_t date[6] = {};
    Sys().CurrentDate(date);
    std::tm tm{};
    localtime_r(&before, &tm);
    EXPECT_EQ(date[5], tm.tm_year + 1900);
    EXPECT_TRUE(date[4] >= 0 && date[4] <= 11);
    Sys().CurrentDate(nullptr);
    char text[32] = "";
    Sys().FormatCurrentDate(text, sizeof text);
    EXPECT_EQ(std::strlen(text), 20u) << text;  // "07-Dec-2026 20:15:00"
    Sys().FormatCurrentDate(nullptr, 8);
    char* utf8 = Sys().ConvertCharset("\xe4", 0, 1);
    ASSERT_NE(utf8, nullptr);
    EXPECT_STREQ(utf8, "\xc3\xa4");
    Sys().FreeHostBlock(utf8);
    EXPECT_EQ(Sys().ConvertCharset("x", 0, 7), nullptr);
    const char* name = nullptr;
    const char* placeholder = nullptr;
    int32_t line = 0;
    Sys().GetScriptPosition(&name, &placeholder, &line);
    EXPECT_STREQ(placeholder, "----");
    EXPECT_EQ(line, -1) << "no script runs";
    Sys().GetScriptPosition(nullptr, nullptr, nullptr);
}

// The clock a plugin reads is the wall clock; time values subtract with a
// borrow and add with a carry; null records change nothing.
TEST(BaseSystemTable, TimeValuesReadSubtractAndAdd) {
    qbTimeValue now{};
    Sys().GetSysTime(&now);
    EXPECT_NEAR(static_cast<double>(now.seconds), static_cast<double>(std::time(nullptr)), 5.0);
    EXPECT_LT(now.microseconds, 1000000u);
    Sys().GetSysTime(nullptr);
    qbTimeValue a{5, 200};
    const qbTimeValue b{2, 500};
    Sys().SubTime(&a, &b);
    EXPECT_EQ(a.seconds, 2u);
    EXPECT_EQ(a.microseconds, 999700u);
    Sys().AddTime(&a, &b);
    EXPECT_EQ(a.seconds, 5u);
    EXPECT_EQ(a.microseconds, 200u);
    Sys().SubTime(&a, nullptr);
    Sys().SubTime(nullptr, &b);
    EXPECT_EQ(a.seconds, 5u);
}

TEST(BaseSystemTable, ErrorTextsNeedABuffer) {
    char text[kErrorTextSize] = "";
    EXPECT_EQ(Sys().GetErrorText(ERR_MEM, text), 0);
    EXPECT_NE(text[0], '\0');
    EXPECT_EQ(Sys().GetErrorText(ERR_MEM, nullptr), ERR_WRONGUSAGE);
}

TEST(BaseSystemTable, MutexesNestOnOneThread) {
    qbMutex* m = Sys().CreateMutex();
    ASSERT_NE(m, nullptr);
    Sys().LockMutex(m);
    Sys().LockMutex(m);
    Sys().UnlockMutex(m);
    Sys().UnlockMutex(m);
    Sys().FreeMutex(m);
    Sys().LockMutex(nullptr);
    Sys().FreeMutex(nullptr);
}

int g_hookValue = 0;
int ValueHook(intptr_t value, void*) {
    g_hookValue += static_cast<int>(value);
    return 0;
}

TEST(BaseSystemTable, PluginHooksRunUntilDisabledOrRemoved) {
    qbPluginHook* hook = Sys().AddPluginHook(2, reinterpret_cast<qbPluginFunc>(ValueHook), nullptr, 0);
    ASSERT_NE(hook, nullptr);
    EXPECT_EQ(Sys().AddPluginHook(7, reinterpret_cast<qbPluginFunc>(ValueHook), nullptr, 0), nullptr);
    EXPECT_EQ(Sys().AddPluginHook(2, nullptr, nullptr, 0), nullptr);
    RunPluginHooks(nullptr, 2, 5);
    EXPECT_EQ(Sys().EnablePluginHook(hook, 1), hook);
    RunPluginHooks(nullptr, 2, 100);
    Sys().EnablePluginHook(hook, 0);
    RunPluginHooks(nullptr, 2, 1);
    EXPECT_EQ(g_hookValue, 6);
    Sys().RemovePluginHook(hook);
    RunPluginHooks(nullptr, 2, 1000);
    EXPECT_EQ(g_hookValue, 6);
    EXPECT_EQ(Sys().EnablePluginHook(hook, 0), nullptr) << "gone";
    FreePluginHooks();
}

class BaseEventsTest : public ::testing::Test {
protected:
    void SetUp() override {
        InstallVmHost();
        L_ = VmOpen();
        ASSERT_NE(L_, nullptr);
        ASSERT_EQ(InitEventQueue(), 0);
    }
    void TearDown() override {
        ClearEventQueue(L_);
        FreeUserEventTypes(L_);
        SetShuttingDown(false);
        VmClose(L_);
    }
    // The queued events' types, oldest first.
    std::string Queued() {
        std::string types;
        qbInputEvent ev;
        LockEventQueue();
        for (int n = 0; PeekQueuedEvent(L_, n, &ev, 0); ++n) types += std::to_string(ev.type) + " ";
        UnlockEventQueue();
        return types;
    }
    ScriptState* L_ = nullptr;
};

// With an applet running, each header tag answers its own string; the three
// words keep what they are given.
TEST_F(BaseEventsTest, HostTagsAnswerTheAppletsStringsAndKeepTheWords) {
    qbApplet applet;
    std::snprintf(applet.title, sizeof applet.title, "Title");
    std::snprintf(applet.version, sizeof applet.version, "1.5");
    std::snprintf(applet.copyright, sizeof applet.copyright, "(c) Us");
    std::snprintf(applet.author, sizeof applet.author, "Me");
    std::snprintf(applet.description, sizeof applet.description, "About");
    std::snprintf(applet.identifier, sizeof applet.identifier, "id.x");
    VmRegistrySetLightUserdata(L_, "applet", &applet);
    SetMainState(L_);
    qbPluginTag tags[] = {{QBHOST_TAG_TITLE, 0, 0},       {QBHOST_TAG_VERSION, 0, 0}, {QBHOST_TAG_COPYRIGHT, 0, 0},
                          {QBHOST_TAG_AUTHOR, 0, 0},      {QBHOST_TAG_DESCRIPTION, 0, 0},
                          {QBHOST_TAG_IDENTIFIER, 0, 0}, {QBHOST_TAG_WORDA, 0, 11},  {QBHOST_TAG_WORDC, 0, 33},
                          {0, 0, 0}};
    EXPECT_EQ(Sys().HostTags(tags), 8);
    SetMainState(nullptr);
    std::vector<std::string> strings;
    for (int i = 0; i < 6; ++i) strings.emplace_back(reinterpret_cast<const char*>(tags[i].value));
    EXPECT_EQ(strings, (std::vector<std::string>{"Title", "1.5", "(c) Us", "Me", "About", "id.x"}));
    EXPECT_EQ(HostTagWord(QBHOST_TAG_WORDA), 11);
    EXPECT_EQ(HostTagWord(QBHOST_TAG_WORDC), 33);
    EXPECT_EQ(HostTagWord(99), 0);
}

TEST_F(BaseEventsTest, EventTypesAreNumberedFrom28AndRefuseThePlayersNames) {
    EXPECT_EQ(Sys().RegisterEventTypeEx("OnPing", 0, nullptr, nullptr, nullptr), 28);
    EXPECT_EQ(Sys().RegisterEventType("OnPong", nullptr), 29);
    EXPECT_EQ(Sys().RegisterEventTypeEx("OnConnect", 0, nullptr, nullptr, nullptr), 0);
    EXPECT_EQ(Sys().RegisterEventTypeEx("onping", 0, nullptr, nullptr, nullptr), 0) << "taken";
    EXPECT_EQ(Sys().RegisterEventTypeEx("OnOdd", 2, nullptr, nullptr, nullptr), 0) << "kinds 0 and 1 only";
    EXPECT_EQ(Sys().RegisterEventTypeEx(nullptr, 0, nullptr, nullptr, nullptr), 0);
    int32_t userData = 5;
    const qbPluginTag tags[] = {{1, 0, reinterpret_cast<uintptr_t>(&userData)}, {0, 0, 0}};
    EXPECT_EQ(Sys().FindEventType("OnPing", tags), -1) << "no handler installed";
    EXPECT_EQ(userData, -1);
    EXPECT_EQ(Sys().FindEventType("OnNothing", nullptr), -1);
}

std::string g_callTrace;
int TraceCall(ScriptState*, int type, void*) {
    g_callTrace += "call" + std::to_string(type) + " ";
    return -1;  // nothing to call in the script
}
void TraceAfter(ScriptState*, int type, void*) { g_callTrace += "after" + std::to_string(type) + " "; }
void TraceFree(ScriptState*, int type, void* data) {
    g_callTrace += "free" + std::to_string(type) + " ";
    FreeMemory(data);
}

// A type of the calling kind takes its three functions in their places: the
// call, then the after-call, then its own release of the event's block.
TEST_F(BaseEventsTest, ACallingEventTypeCallsItsThreeFunctionsInTheirPlaces) {
    g_callTrace.clear();
    ASSERT_EQ(Sys().RegisterEventTypeEx("OnCalled", 1, reinterpret_cast<qbPluginFunc>(TraceCall),
                                        reinterpret_cast<qbPluginFunc>(TraceAfter),
                                        reinterpret_cast<qbPluginFunc>(TraceFree)),
              28);
    EXPECT_EQ(DeliverUserEventNow(L_, 28, AllocMemory(8, 0)), 0);
    EXPECT_EQ(g_callTrace, "call28 after28 free28 ");
}

TEST_F(BaseEventsTest, PostedEventsAreQueuedOrRefusedWithTheirCode) {
    ASSERT_EQ(Sys().RegisterEventTypeEx("OnPing", 0, nullptr, nullptr, nullptr), 28);
    qbEventData data{};
    data.words[0] = 7;
    data.block = AllocMemory(16, 1);  // the queue owns it once queued
    EXPECT_EQ(Sys().PostEventTo(L_, 28, &data), 0);
    EXPECT_EQ(Queued(), "28 ");
    EXPECT_EQ(Sys().PostEventTo(L_, 12, nullptr), ERR_WRONGUSAGE) << "kinds 10-27 are refused";
    EXPECT_EQ(Sys().PostEventTo(L_, -1, nullptr), ERR_WRONGUSAGE);
    EXPECT_EQ(Sys().PostEventTo(L_, 4, nullptr), ERR_FINDDISPLAY) << "a key needs a display";
    EXPECT_EQ(Sys().PostEvent(28, nullptr), ERR_WRONGUSAGE) << "no player state to post to";
    int unknown = 0;
    data = qbEventData{};
    data.display = &unknown;
    EXPECT_EQ(Sys().PostEventTo(L_, 28, &data), ERR_FINDDISPLAY) << "a handle no display has";
    // Slot 46 always takes the block: queued with the event, or freed at once.
    EXPECT_EQ(Sys().PostEventWithData(L_, 28, nullptr, AllocMemory(8, 0)), 0);
    EXPECT_EQ(Sys().PostEventWithData(L_, 4, nullptr, AllocMemory(8, 0)), ERR_FINDDISPLAY);
    EXPECT_EQ(Sys().PostEventWithData(L_, 2, nullptr, AllocMemory(8, 0)), 0);
    EXPECT_EQ(Queued(), "28 28 ");
    SetShuttingDown(true);
    EXPECT_EQ(Sys().PostEventTo(L_, 28, nullptr), 0) << "nothing while the player shuts down";
    EXPECT_EQ(Sys().PostEventWithData(L_, 28, nullptr, AllocMemory(8, 0)), 0);
    EXPECT_EQ(Sys().PostInputEvent(nullptr, 1, nullptr), 0);
    EXPECT_EQ(Sys().ProcessPending(3), 0);
    EXPECT_EQ(Sys().PumpEvents(16), 0);
    EXPECT_EQ(Sys().WaitEvents(), 0);
    SetShuttingDown(false);
    EXPECT_EQ(Queued(), "28 28 ");
    const int32_t words[3] = {1, 2, 1};
    EXPECT_EQ(Sys().PostInputEvent(nullptr, 1, words), ERR_FINDDISPLAY) << "a hook no display owns";
}

int g_pumpAnswer = 0;
int AnswerPump(void*) { return g_pumpAnswer; }

// Both slots that pump answer what the pump met: nothing, the user's quit
// as ERR_USERABORT, or the adapter's own error code.
TEST_F(BaseEventsTest, PumpingSlotsAnswerWhatThePumpMet) {
    qbDisplayAdapterSlots slots;
    slots.HandleEvents = AnswerPump;
    qbPlugin plugin;
    ASSERT_EQ(InstallTestAdapter(&plugin, &slots, 0), 0);
    SetMainState(L_);
    const int answers[] = {0, ERR_MEM, ERR_USERABORT};
    for (const auto slot : {Sys().ProcessPending, Sys().PumpEvents}) {
        for (const int answer : answers) {
            g_pumpAnswer = answer;
            EXPECT_EQ(slot(0), answer) << "adapter answered " << answer;
            SetEventQuitRequested(false);
        }
    }
    SetMainState(nullptr);
    ClearDisplayAdapters();
}

TEST_F(BaseEventsTest, TimerAdapterSlotsRefuseWhatTheyDoNotKnow) {
    SetMainState(L_);
    EXPECT_EQ(Sys().TimerElapsed(12345), 0) << "no interval or time-out has the handle";
    EXPECT_EQ(Sys().TimerElapsed(0), 0);
    SetMainState(nullptr);
    EXPECT_EQ(Sys().SetTimerAdapter(nullptr, 0), ERR_WRONGUSAGE);
    qbPluginRecord stray{};
    EXPECT_EQ(Sys().SetTimerAdapter(&stray, 0), ERR_WRONGUSAGE) << "a record no loaded plugin owns";
}

class BaseListsTest : public plugintest::PluginFixture {
protected:
    void SetUp() override {
        PluginFixture::SetUp();
        qbPluginNode* node = nullptr;
        ASSERT_EQ(LoadPluginByPath(Place("basecheck", "basecheck.qbp").c_str(), 0, &node), 0);
        record_ = &node->handle->record;
    }
    void TearDown() override {
        FreeCapabilityLists();
        PluginFixture::TearDown();
    }
    qbPluginRecord* record_ = nullptr;
};

bool OnList(uint32_t capability, const qbPlugin* plugin) {
    for (qbAdapterNode* n = GetPluginList(capability); n; n = n->next)
        if (n->plugin == plugin) return true;
    return false;
}

TEST_F(BaseListsTest, CapabilityListsAndAttributesGoThroughThePluginsOwnRecord) {
    qbPlugin* view = PluginViewOf(record_);
    ASSERT_NE(view, nullptr);
    EXPECT_EQ(Sys().AddToCapabilityList(record_, PLUGINCAPS_IMAGE), 0);
    EXPECT_TRUE(OnList(PLUGINCAPS_IMAGE, view));
    Sys().RemoveFromCapabilityList(record_, PLUGINCAPS_IMAGE);
    EXPECT_FALSE(OnList(PLUGINCAPS_IMAGE, view));
    EXPECT_EQ(Sys().AddToCapabilityList(record_, PLUGINCAPS_LIBRARY), ERR_WRONGUSAGE) << "no list";
    qbPluginRecord stray{};
    EXPECT_EQ(Sys().AddToCapabilityList(&stray, PLUGINCAPS_IMAGE), ERR_WRONGUSAGE);
    Sys().RemoveFromCapabilityList(&stray, PLUGINCAPS_IMAGE);
    // Only file adapters take the attribute.
    EXPECT_EQ(Sys().SetPluginAttrTag(record_, PLUGINCAPS_FILEADAPTER, 1), 0);
    EXPECT_EQ(view->fileAdapterFlags, 0u);
    view->capabilities |= PLUGINCAPS_FILEADAPTER;
    Sys().SetPluginAttrTag(record_, PLUGINCAPS_FILEADAPTER, 1);
    EXPECT_EQ(view->fileAdapterFlags, 1u);
    EXPECT_EQ(record_->fileAdapterFlags, 1u);
    Sys().SetPluginAttrTag(nullptr, PLUGINCAPS_FILEADAPTER, 1);
}

TEST(BaseSystemTable, ObjectTypesNeedANameAndAHead) {
    // The registry keeps the heads for the process's life.
    static void* head = nullptr;
    static void* other = nullptr;
    const int type = Sys().RegisterObjectType(&head, "gadget", 0, 0);
    EXPECT_GE(type, 58);
    EXPECT_EQ(Sys().RegisterObjectType(&other, "widget", 0, 0), type + 1);
    EXPECT_EQ(Sys().RegisterObjectType(nullptr, "x", 0, 0), 0);
    EXPECT_EQ(Sys().RegisterObjectType(&other, "", 0, 0), 0);
    Sys().FreeObjectData(nullptr, nullptr);
}

}  // namespace
