// The system library's debug switches and the data scripts attach to
// objects (timers serve as the objects here).
#include <cstdio>

#include "core/errcodes.h"
#include "core/objects.h"
#include "system_calls.h"

namespace {

// "E" and the code, appended: g++ 12 at -O3 warns of overlapping copies in
// a literal joined to a temporary string.
std::string ErrText(int code) {
    std::string s = "E";
    s += std::to_string(code);
    return s;
}

using SystemDebugTest = libstest::SystemCallTest;

TEST_F(SystemDebugTest, LegacyControlKnowsTwoWordsInAnyCase) {
    VmPushString(L, "SingleMusic");
    VmPushNumber(L, 1);
    ASSERT_EQ(Call(cmdLegacyControl, 2), 0);
    EXPECT_EQ(GetLegacySingleMusic(), 1);
    VmPushString(L, "LINEBASEDSHAPES");
    VmPushNumber(L, 1);
    ASSERT_EQ(Call(cmdLegacyControl, 2), 0);
    EXPECT_EQ(GetLegacyLineBasedShapes(), 1);
    VmPushString(L, "doublemusic");
    VmPushNumber(L, 1);
    EXPECT_EQ(Call(cmdLegacyControl, 2), ERR_UNKNOWNTAG);
    for (const char* word : {"singlemusic", "linebasedshapes"}) {
        VmPushString(L, word);
        VmPushNumber(L, 0);
        ASSERT_EQ(Call(cmdLegacyControl, 2), 0);
    }
}

TEST_F(SystemDebugTest, AssertFailsOnlyWhileSwitchedOn) {
    VmPushNumber(L, 0);
    EXPECT_EQ(Call(cmdAssert, 1), ERR_ASSERTFAILED);
    VmPushNil(L);
    EXPECT_EQ(Call(cmdAssert, 1), ERR_ASSERTFAILED);
    VmPushString(L, "");
    ASSERT_EQ(Call(cmdAssert, 1), 0);
    SetAssertionsEnabled(false);
    VmPushNumber(L, 0);
    EXPECT_EQ(Call(cmdAssert, 1), 0);
    SetAssertionsEnabled(true);
}

TEST_F(SystemDebugTest, PromptReadsNothingFromAClosedInput) {
    ASSERT_NE(std::freopen("/dev/null", "r", stdin), nullptr);
    VmPushString(L, "? ");
    ::testing::internal::CaptureStdout();
    ASSERT_EQ(Call(cmdDebugPrompt, 1), 0);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "? ");
    EXPECT_EQ(Text(-1), "");
}

TEST_F(SystemDebugTest, ErrorNamesAreTheErrorTexts) {
    VmPushNumber(L, ERR_STACK);
    ASSERT_EQ(Call(cmdGetErrorName, 1), 0);
    EXPECT_EQ(Text(-1), "Stack overflow!");
}

class ObjectDataTest : public libstest::SystemCallTest {
protected:
    void SetUp() override {
        SystemCallTest::SetUp();
        VmPushValue(L, kGlobalsIndex);
        ASSERT_EQ(InitSystemLibrary(L), 0);
        VmSetTop(L, 0);
        for (int id : {1, 2}) {
            VmPushNumber(L, id);
            ASSERT_EQ(Call(cmdStartTimer, 1), 0);
        }
    }
    void TearDown() override {
        SystemCallTest::TearDown();
        FreeObjectTypeRegistry();
    }
    void Set(int id, const char* key, const char* value) {
        VmPushNumber(L, kTimer);
        VmPushNumber(L, id);
        VmPushString(L, key);
        VmPushString(L, value);
        ASSERT_EQ(Call(cmdSetObjectData, 4), 0);
    }
    std::string Get(int id, const char* key) {
        VmPushNumber(L, kTimer);
        VmPushNumber(L, id);
        VmPushString(L, key);
        const int err = Call(cmdGetObjectData, 3);
        std::string out = err ? ErrText(err) : Text(-1);
        VmSetTop(L, 0);
        return out;
    }
    static constexpr int kTimer = 53;
};

TEST_F(ObjectDataTest, CopyWithoutOverwriteKeepsTheTargetsValues) {
    Set(1, "name", "source");
    Set(1, "Extra", "x");
    Set(2, "NAME", "target");
    for (double v : {double(kTimer), 1.0, double(kTimer), 2.0, 0.0}) VmPushNumber(L, v);
    ASSERT_EQ(Call(cmdCopyObjectData, 5), 0);
    EXPECT_EQ(Get(2, "name"), "target");
    EXPECT_EQ(Get(2, "extra"), "x");
    for (double v : {double(kTimer), 1.0, double(kTimer), 2.0}) VmPushNumber(L, v);
    ASSERT_EQ(Call(cmdCopyObjectData, 4), 0);
    EXPECT_EQ(Get(2, "name"), "source");

    EXPECT_EQ(Get(2, "missing"), ErrText(ERR_FINDOBJECTDATA));
    EXPECT_EQ(Get(3, "name"), ErrText(ERR_FINDARRAY));
    VmPushNumber(L, kTimer);
    VmPushNumber(L, 1);
    VmPushString(L, "");
    VmPushNumber(L, 1);
    EXPECT_EQ(Call(cmdSetObjectData, 4), ERR_WRONGUSAGE);
}

TEST_F(ObjectDataTest, ClearRemovesOneNamedValueOrAll) {
    Set(1, "a", "1");
    Set(1, "b", "2");
    Set(1, "c", "3");
    Set(2, "a", "other");
    auto clear = [&](int id, const char* key) {
        VmSetTop(L, 0);
        VmPushNumber(L, kTimer);
        VmPushNumber(L, id);
        if (key) VmPushString(L, key);
        const int err = Call(cmdClearObjectData, key ? 3 : 2);
        VmSetTop(L, 0);
        return err;
    };
    ASSERT_EQ(clear(1, "B"), 0);
    EXPECT_EQ(Get(1, "b"), ErrText(ERR_FINDOBJECTDATA));
    EXPECT_EQ(Get(1, "a"), "1");
    EXPECT_EQ(Get(1, "c"), "3");
    EXPECT_EQ(clear(1, "b"), ERR_FINDOBJECTDATA);
    ASSERT_EQ(clear(1, nullptr), 0);
    EXPECT_EQ(Get(1, "a"), ErrText(ERR_FINDOBJECTDATA));
    EXPECT_EQ(Get(1, "c"), ErrText(ERR_FINDOBJECTDATA));
    EXPECT_EQ(Get(2, "a"), "other") << "another object's values stay";
}

TEST_F(ObjectDataTest, HandlesThatNameNoObjectAreNeverFollowed) {
    // An address that no record carries; reading it would crash.
    VmPushLightUserdata(L, reinterpret_cast<void*>(uintptr_t{0x10}));
    ASSERT_EQ(Call(cmdGetObjectType, 1), 0);
    EXPECT_EQ(Number(-1), -1);
    VmPushNil(L);
    ASSERT_EQ(Call(cmdStartTimer, 1), 0);
    ASSERT_EQ(Call(cmdGetObjectType, 1), 0);
    EXPECT_EQ(Number(-1), 53);
    VmPushNumber(L, kTimer);
    ASSERT_EQ(Call(cmdGetObjects, 1), 0);
    EXPECT_EQ(Number(-1), 3);
}

}  // namespace
