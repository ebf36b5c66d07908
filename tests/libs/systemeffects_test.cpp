// The system library's commands whose whole work is a change of state,
// read back through another road: the table walks and raw stores, the
// collector's count, the script catalog and the line hook's pumping.
#include <cstdlib>
#include <map>
#include <optional>
#include <string>

#include "core/errcodes.h"
#include "core/fileops.h"
#include "core/ostime.h"
#include "core/scratch.h"
#include "display/adapter_install.h"
#include "display/eventlib.h"
#include "system_calls.h"
#include "vm/vm_fixture.h"

namespace {

using libstest::SystemCallTest;

using SystemEffectsTest = SystemCallTest;

// Records each key it is called with and the value and user value beside it
// (in the map its upvalue points at); answers "stop" at the key "halt".
int RecordPair(ScriptState* L) {
    auto* seen = static_cast<std::multimap<std::string, std::string>*>(VmToUserdata(L, VmUpvalueIndex(1)));
    const std::string key = ValueToString(L, 1);
    std::string rest = ValueToString(L, 2);
    if (VmGetTop(L) >= 3) rest += "+" + ValueToString(L, 3);
    seen->emplace(key, rest);
    if (key == "halt") {
        VmPushString(L, "stop");
        return 1;
    }
    return 0;
}

TEST_F(SystemEffectsTest, ForEachVisitsEveryPairOnceAndStopsAtAnAnswer) {
    std::multimap<std::string, std::string> seen;
    VmPushNewTable(L);
    for (int i = 0; i < 40; ++i) {
        VmPushNumber(L, i);
        VmPushNumber(L, i * 10);
        VmRawSet(L, 1);
    }
    VmPushString(L, "name");
    VmPushString(L, "value");
    VmRawSet(L, 1);
    VmPushValue(L, 1);
    VmPushLightUserdata(L, &seen);
    VmPushCClosure(L, RecordPair, 1);
    VmPushString(L, "u");
    ASSERT_EQ(Call(cmdForEach, 3), 0);
    EXPECT_EQ(VmGetTop(L), 1) << "no answer, no result";
    ASSERT_EQ(seen.size(), 41u);
    for (int i = 0; i < 40; ++i) {
        ASSERT_EQ(seen.count(std::to_string(i)), 1u) << i;
        EXPECT_EQ(seen.find(std::to_string(i))->second, std::to_string(i * 10) + "+u");
    }
    EXPECT_EQ(seen.find("name")->second, "value+u");

    // The first non-nil answer ends the walk and is the result.
    seen.clear();
    VmSetTop(L, 0);
    VmPushNewTable(L);
    VmPushString(L, "halt");
    VmPushNumber(L, 1);
    VmRawSet(L, 1);
    VmPushLightUserdata(L, &seen);
    VmPushCClosure(L, RecordPair, 1);
    ASSERT_EQ(Call(cmdForEach, 2), 0);
    EXPECT_EQ(Text(-1), "stop");
    EXPECT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen.find("halt")->second, "1") << "no user value given, none passed";
}

// A __newindex that counts its calls (the counter its upvalue points at)
// and stores nothing.
int CountNewIndex(ScriptState* L) {
    ++*static_cast<int*>(VmToUserdata(L, VmUpvalueIndex(1)));
    return 0;
}

TEST_F(SystemEffectsTest, RawSetStoresPastTheNewIndexMetamethod) {
    int calls = 0;
    VmPushNewTable(L);
    VmPushNewTable(L);
    VmPushString(L, "__newindex");
    VmPushLightUserdata(L, &calls);
    VmPushCClosure(L, CountNewIndex, 1);
    VmRawSet(L, 2);
    VmSetMetatable(L, 1);
    // The metamethod is in force: a plain store goes to it.
    VmPushString(L, "plain");
    VmPushNumber(L, 1);
    VmSetTableAt(L, 1);
    ASSERT_EQ(calls, 1);

    VmPushValue(L, 1);
    VmPushString(L, "k");
    VmPushNumber(L, 42);
    ASSERT_EQ(Call(cmdRawSet, 3), 0);
    EXPECT_TRUE(VmRawEqual(L, -1, 1)) << "the table is the result";
    VmSetTop(L, 1);
    EXPECT_EQ(calls, 1);
    VmPushString(L, "k");
    VmRawGet(L, 1);
    EXPECT_EQ(Number(-1), 42);
    VmSetTop(L, 1);
    VmPushValue(L, 1);
    VmPushNil(L);
    VmPushNumber(L, 1);
    EXPECT_EQ(Call(cmdRawSet, 3), ERR_TABLEINDEX);
}

TEST_F(SystemEffectsTest, CollectGarbageReturnsAnUnreachableTablesMemory) {
    if (std::getenv("QB_GC_STRESS")) GTEST_SKIP() << "the stress mode's collections move the counts it reads";
    auto info = [&](double* threshold, double* count) {
        VmSetTop(L, 0);
        ASSERT_EQ(Call(cmdGCInfo, 0), 0);
        *threshold = Number(1);
        *count = Number(2);
        VmSetTop(L, 0);
    };
    // The threshold comes first: no collection runs while the count stays
    // below it, so the garbage below waits for the command.
    double threshold = 0, count = 0;
    info(&threshold, &count);
    const double raised = count + 100000;
    VmPushNumber(L, raised);
    ASSERT_EQ(Call(cmdCollectGarbage, 1), 0);
    info(&threshold, &count);
    EXPECT_EQ(threshold, raised);

    VmSetTop(L, 0);
    VmPushNewTable(L);
    for (int i = 0; i < 20000; ++i) {
        VmPushNumber(L, i);
        VmRawSetIndex(L, 1, i);
    }
    VmSetTop(L, 0);
    double before = 0;
    info(&threshold, &before);
    ASSERT_EQ(threshold, raised);
    ASSERT_EQ(Call(cmdCollectGarbage, 0), 0);
    double after = 0;
    info(&threshold, &after);
    // 20,000 slots of a table's array take some 300 KB.
    EXPECT_LT(after, before - 200) << "KB before " << before;
}

// Catalogs/<language>/ folders in a scratch folder made the current one,
// with LANG set to German for the test.
class ScriptCatalogTest : public SystemCallTest {
protected:
    void SetUp() override {
        SystemCallTest::SetUp();
        if (const char* lang = std::getenv("LANG")) savedLang_ = lang;
        setenv("LANG", "de_DE.UTF-8", 1);
        oldDir_ = ChangeCurrentDir(dir_.str().c_str());
        ASSERT_TRUE(oldDir_);
    }
    void TearDown() override {
        if (savedLang_) setenv("LANG", savedLang_->c_str(), 1);
        else unsetenv("LANG");
        if (oldDir_) ChangeCurrentDir(oldDir_->c_str());
        SystemCallTest::TearDown();
    }
    std::string Lookup(int id) {
        VmSetTop(L, 0);
        VmPushNumber(L, id);
        VmPushString(L, "default");
        EXPECT_EQ(Call(cmdGetCatalogString, 2), 0);
        return Text(-1);
    }
    int Open(const char* name) {
        VmSetTop(L, 0);
        VmPushString(L, name);
        return Call(cmdOpenCatalog, 1);
    }

    ScratchDir dir_;
    std::optional<std::string> savedLang_;
    std::optional<std::string> oldDir_;
};

TEST_F(ScriptCatalogTest, LookupsAnswerFromTheOpenCatalogUntilItCloses) {
    dir_.Write("Catalogs/deutsch/first.catalog", "null\neins\n");
    dir_.Write("Catalogs/deutsch/second.catalog", "zero\none\n");
    EXPECT_EQ(Lookup(1), "default");
    ASSERT_EQ(Open("first.catalog"), 0);
    EXPECT_EQ(Lookup(1), "eins");
    EXPECT_EQ(Lookup(7), "default");
    // Opening another replaces it; one that cannot be found leaves none open.
    ASSERT_EQ(Open("second.catalog"), 0);
    EXPECT_EQ(Lookup(1), "one");
    ASSERT_EQ(Open("missing.catalog"), 0);
    EXPECT_EQ(Lookup(1), "default");
    ASSERT_EQ(Open("first.catalog"), 0);
    ASSERT_EQ(Lookup(0), "null");
    VmSetTop(L, 0);
    ASSERT_EQ(Call(cmdCloseCatalog, 0), 0);
    EXPECT_EQ(Lookup(0), "default");
}

// The line hook: a display adapter whose event slot counts its calls and
// answers "user abort", so that an applet's loop ends at the first pump.
int pumps = 0;
int CountPump(void*) {
    ++pumps;
    return ERR_USERABORT;
}

// waited(): true once 20 ms of the monotonic clock have passed since the
// first call of the run and 1,000 more calls came after that, so that the
// hook's own clock (it pumps at most every 10 ms) has come due and the loop
// has passed the hook many times since.
int64_t waitStart = 0;
int callsSinceDue = 0;
int Waited(ScriptState* L) {
    const int64_t now = GetMonotonicMicros();
    if (waitStart == 0) waitStart = now;
    if (now - waitStart >= 20000) ++callsSinceDue;
    VmPushBoolean(L, callsSinceDue >= 1000 ? 1 : 0);
    return 1;
}

// while not waited() do end, over two lines, so that every turn is a new
// line for the hook.
const char* const kWaitLoop = R"(.function main maxstack=4
.line 1
loop:
    GETGLOBAL 0 "waited"
    CALL 0 1 2
.line 2
    TEST 0 0 0
    JMP loop
    RETURN 0 1
.end)";

class LineHookTest : public vmtest::VmFixture {
protected:
    void SetUp() override {
        VmFixture::SetUp();
        RegisterClosure("waited", Waited);
        slots_.HandleEvents = CountPump;
        ASSERT_EQ(InstallTestAdapter(&plugin_, &slots_, 0), 0);
        InstallLineHookPump(L);
    }
    void TearDown() override {
        VmSetHook(L, nullptr, 0, 0);
        ClearDisplayAdapters();
        // The adapter's "user abort" raised the process-wide quit flag,
        // which every later pump of this process would answer.
        SetEventQuitRequested(false);
        SetLineHookDisabled(false);
        VmFixture::TearDown();
    }
    int Command(CommandHandler fn) {
        VmPushCClosure(L, fn, 0);
        return VmPCall(L, 0, 0, 0);
    }
    int RunLoop() {
        waitStart = 0;
        callsSinceDue = 0;
        return Run(kWaitLoop);
    }

    qbDisplayAdapterSlots slots_;
    qbPlugin plugin_;
};

TEST_F(LineHookTest, TheHookPumpsOnlyWhileEnabled) {
    ASSERT_EQ(Command(cmdDisableLineHook), 0);
    pumps = 0;
    EXPECT_EQ(RunLoop(), 0);
    EXPECT_EQ(pumps, 0);
    ASSERT_EQ(Command(cmdEnableLineHook), 0);
    EXPECT_EQ(RunLoop(), ERR_USERABORT);
    EXPECT_EQ(pumps, 1);
    EXPECT_TRUE(EventQuitRequested());
}

}  // namespace
