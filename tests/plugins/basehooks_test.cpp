// Command hooks as plugins install them through the system-services table:
// which hook runs, where an error raised inside a run goes, and removal from
// inside a run.
#include <gtest/gtest.h>

#include <string>

#include "core/errors.h"
#include "core/vmhost.h"
#include "plugins/basetables.h"
#include "plugins/pluginentries.h"
#include "vm/commandhooks.h"
#include "vm/vm.h"

namespace {

const qbSystemTable& Sys() { return kPluginSystemTable; }

int g_probeCalls = 0;
int Probe(ScriptState* L) {
    ++g_probeCalls;
    VmPushNumber(L, 1);
    return 1;
}
int Inner(ScriptState* L) {
    VmPushNumber(L, 2);
    return 1;
}

struct Seen {
    std::string runs;
    std::string errors;
    qbCommandHook* hook = nullptr;  // the hook a run removes, when set
};
Seen g_seen;

int RunA(qbCommandHook*, ScriptState* L, int (*)(ScriptState*), void*) {
    g_seen.runs += "A";
    VmPushNumber(L, 10);
    return 1;
}
int RunB(qbCommandHook*, ScriptState* L, int (*)(ScriptState*), void*) {
    g_seen.runs += "B";
    VmPushNumber(L, 20);
    return 1;
}
int RunRaises(qbCommandHook*, ScriptState* L, int (*)(ScriptState*), void*) {
    g_seen.runs += "R";
    VmRaiseError(L, ERR_WRONGUSAGE);
}
// Calls the script's Inner (hooked by another hook) and then fails.
int RunNested(qbCommandHook*, ScriptState* L, int (*)(ScriptState*), void*) {
    g_seen.runs += "N";
    VmPushString(L, "Inner");
    VmGetTableAt(L, kGlobalsIndex);
    VmCall(L, 0, 1);
    VmRaiseError(L, ERR_MEM);
}
int RunRemovesItself(qbCommandHook* hook, ScriptState* L, int (*command)(ScriptState*), void*) {
    g_seen.runs += "X";
    Sys().RemoveCommandHook(hook);
    return command(L);
}
void ErrorOuter(qbCommandHook*, ScriptState*, int code, void*) { g_seen.errors += "outer" + std::to_string(code); }
void ErrorInner(qbCommandHook*, ScriptState*, int code, void*) { g_seen.errors += "inner" + std::to_string(code); }

class BaseHooksTest : public ::testing::Test {
protected:
    void SetUp() override {
        InstallVmHost();
        L_ = VmOpen();
        ASSERT_NE(L_, nullptr);
        SetGlobal("Probe", Probe);
        SetGlobal("Inner", Inner);
        g_seen = Seen{};
        g_probeCalls = 0;
    }
    void TearDown() override {
        RemoveAllCommandHooks();
        VmClose(L_);
    }
    void SetGlobal(const char* name, CommandHandler command) {
        VmPushString(L_, name);
        VmPushCClosure(L_, command, 0);
        VmSetTableAt(L_, kGlobalsIndex);
    }
    // Probe(); the error code, the result in *out.
    int CallProbe(double* out = nullptr) {
        VmPushString(L_, "Probe");
        VmGetTableAt(L_, kGlobalsIndex);
        const int err = VmPCall(L_, 0, 1, 0);
        if (!err && out) *out = VmToNumber(L_, -1);
        VmSetTop(L_, 0);
        return err;
    }
    ScriptState* L_ = nullptr;
};

TEST_F(BaseHooksTest, FirstEnabledHookRunsAndDisabledOnesNever) {
    qbCommandHook* a = Sys().AddCommandHook(RunA, nullptr, nullptr);
    qbCommandHook* b = Sys().AddCommandHook(RunB, nullptr, nullptr);
    ASSERT_TRUE(a && b);
    EXPECT_EQ(Sys().AddCommandToHook(a, Probe), 1);
    EXPECT_EQ(Sys().AddCommandToHook(a, Probe), 1);
    EXPECT_EQ(a->handlers.size(), 1u) << "a command added twice is listed once";
    EXPECT_EQ(Sys().AddCommandToHook(b, Probe), 1);
    double result = 0;
    ASSERT_EQ(CallProbe(&result), 0);
    EXPECT_EQ(result, 10);
    EXPECT_EQ(g_seen.runs, "A");
    EXPECT_EQ(Sys().SetCommandHookDisabled(a, 1), a);
    ASSERT_EQ(CallProbe(&result), 0);
    EXPECT_EQ(result, 20);
    Sys().SetCommandHookDisabled(b, 1);
    ASSERT_EQ(CallProbe(&result), 0);
    EXPECT_EQ(result, 1) << "the command itself runs";
    EXPECT_EQ(g_seen.runs, "AB");
    EXPECT_EQ(g_probeCalls, 1);
    Sys().RemoveCommandHook(nullptr);  // a hook not on the list is left alone
    Sys().RemoveCommandHook(b);
    EXPECT_EQ(Sys().AddCommandToHook(b, Inner), 0) << "a removed hook takes no command";
    EXPECT_EQ(Sys().AddCommandToHook(a, nullptr), 0);
}

TEST_F(BaseHooksTest, ErrorInARunGoesToThatHooksCallback) {
    qbCommandHook* h = Sys().AddCommandHook(RunRaises, nullptr, nullptr);
    Sys().AddCommandToHook(h, Probe);
    EXPECT_EQ(CallProbe(), ERR_WRONGUSAGE) << "no callback: the error unwinds to the script";
    EXPECT_EQ(Sys().SetCommandHookError(h, ErrorOuter), h);
    EXPECT_EQ(Sys().GetCommandHookError(h), ErrorOuter);
    EXPECT_EQ(CallProbe(), ERR_WRONGUSAGE) << "the command ends with the code";
    EXPECT_EQ(g_seen.errors, "outer" + std::to_string(ERR_WRONGUSAGE));
    EXPECT_EQ(g_probeCalls, 0);
}

TEST_F(BaseHooksTest, NestedHookedCallKeepsTheOuterErrorCallback) {
    qbCommandHook* outer = Sys().AddCommandHook(RunNested, ErrorOuter, nullptr);
    qbCommandHook* inner = Sys().AddCommandHook(RunB, ErrorInner, nullptr);
    Sys().AddCommandToHook(outer, Probe);
    Sys().AddCommandToHook(inner, Inner);
    EXPECT_EQ(CallProbe(), ERR_MEM);
    EXPECT_EQ(g_seen.runs, "NB");
    EXPECT_EQ(g_seen.errors, "outer" + std::to_string(ERR_MEM));
}

TEST_F(BaseHooksTest, RemovingAHookInsideItsOwnRunIsSafe) {
    qbCommandHook* h = Sys().AddCommandHook(RunRemovesItself, nullptr, nullptr);
    Sys().AddCommandToHook(h, Probe);
    double result = 0;
    ASSERT_EQ(CallProbe(&result), 0);
    EXPECT_EQ(result, 1);
    ASSERT_EQ(CallProbe(&result), 0);
    EXPECT_EQ(g_seen.runs, "X") << "gone after its run";
    EXPECT_EQ(g_probeCalls, 2);
}

TEST(BaseSystemTable, MemoryErrorsAndTime) {
    auto* block = static_cast<unsigned char*>(Sys().AllocMemory(64, 1));
    ASSERT_NE(block, nullptr);
    int sum = 0;
    for (int i = 0; i < 64; ++i) sum += block[i];
    EXPECT_EQ(sum, 0) << "flag 1 zero-fills";
    Sys().FreeMemory(block);
    const int code = Sys().AddUserErrorCode("plugin trouble");
    EXPECT_GE(code, 1581);
    char text[kErrorTextSize];
    Sys().GetErrorText(code, text);
    EXPECT_STREQ(text, "plugin trouble");
    qbTimeValue a{5, 900000}, b{1, 200000};
    Sys().AddTime(&a, &b);
    EXPECT_EQ(a.seconds, 7u);
    EXPECT_EQ(a.microseconds, 100000u);
    EXPECT_EQ(Sys().CmpTime(&a, &b), 1);
    EXPECT_EQ(sizeof(qbSystemTable) / sizeof(void*), 49u);
}

}  // namespace

namespace {

TEST(BaseSystemTable, PluginEntriesAreCopiedOntoTheRecordsList) {
    qbPluginRecord record{};
    std::string name = "first";
    ASSERT_EQ(Sys().AddPluginEntry(&record, 7, name.c_str(), nullptr, "text", 99, 0), 1);
    ASSERT_EQ(Sys().AddPluginEntry(&record, 8, "second", "alias", "", 42, 1), 1);
    name = "changed";  // the entry keeps its own copy
    const auto* first = static_cast<const qbPluginEntry*>(record.ownedList);
    ASSERT_NE(first, nullptr);
    EXPECT_STREQ(first->name, "first");
    EXPECT_EQ(first->secondName, nullptr);
    EXPECT_EQ(first->furtherValue, 0) << "kept only with flag bit 0";
    const qbPluginEntry* second = first->next;
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(second->value, 8);
    EXPECT_STREQ(second->secondName, "alias");
    EXPECT_EQ(second->furtherValue, 42);
    EXPECT_EQ(second->next, nullptr);
    FreePluginEntries(&record);
    EXPECT_EQ(record.ownedList, nullptr);
    EXPECT_EQ(Sys().AddPluginEntry(nullptr, 1, "x", nullptr, nullptr, 0, 0), 0);
}

}  // namespace
