// Library plugins: their commands in a table of their own or as globals,
// several tables from one plugin, the require that a deferred library waits
// for, their constants, a failed argument check inside a plugin command,
// and FreeLibrary at shutdown.
#include <gtest/gtest.h>

#include "core/argapi.h"
#include "core/errcodes.h"
#include "core/settings.h"
#include "core/vmhost.h"
#include "plugin_fixture.h"
#include "plugins/pluginlibrary.h"
#include "plugins/pluginlist.h"
#include "vm/vm.h"

namespace {

using plugintest::PluginFixture;

class LibraryPluginTest : public PluginFixture {
protected:
    void SetUp() override {
        PluginFixture::SetUp();
        InstallVmHost();
        L_ = VmOpen();
        ASSERT_NE(L_, nullptr);
    }
    void TearDown() override {
        FreeLibraryPlugins(L_);
        VmClose(L_);
        // The command tables recorded point into the plugins about to go.
        ResetRuntimeSettings();
        PluginFixture::TearDown();
    }

    // Loads the variant as fileName and registers what it brings.
    int Load(const std::string& variant, const std::string& fileName) {
        qbPluginNode* node = nullptr;
        if (int err = LoadPluginByPath(Place(variant, fileName).c_str(), 0, &node)) return err;
        return RegisterPluginFormats(L_, node);
    }

    // table.command(a, b) (table null: a global); the error code, the result
    // in *out.
    int Call(const char* table, const char* command, double a, double b, double* out) {
        const int top = VmGetTop(L_);
        VmPushString(L_, table ? table : command);
        VmGetTableAt(L_, kGlobalsIndex);
        if (table) {
            if (VmType(L_, -1) != kTypeTable) {
                VmSetTop(L_, top);
                return -1;
            }
            VmPushString(L_, command);
            VmGetTableAt(L_, -2);
            VmRemove(L_, -2);
        }
        if (VmType(L_, -1) != kTypeFunction) {
            VmSetTop(L_, top);
            return -1;
        }
        VmPushNumber(L_, a);
        VmPushNumber(L_, b);
        const int err = VmPCall(L_, 2, 1, 0);
        if (!err && out) *out = VmToNumber(L_, -1);
        VmSetTop(L_, top);
        return err;
    }

    ScriptState* L_ = nullptr;
};

TEST_F(LibraryPluginTest, AddInItsOwnTableAndConstantsInOptionStrings) {
    ASSERT_EQ(Load("testlib", "testlib.qbp"), 0);
    const int top = VmGetTop(L_);
    double sum = 0;
    ASSERT_EQ(Call("testlib", "add", 2, 3, &sum), 0);
    EXPECT_EQ(sum, 5);
    EXPECT_EQ(Call(nullptr, "add", 2, 3, &sum), -1) << "not a global";
    EXPECT_EQ(VmGetTop(L_), top) << "InitLibrary's leftovers are gone";
    EXPECT_EQ(Count(Log(), "testlib: InitLibrary"), 1);
    EXPECT_STREQ(FindCommandSpelling("add"), "Add");

    double number = 0;
    const char* text = nullptr;
    ASSERT_EQ(ParseConstantString(L_, "#TESTLIB_FIVE", nullptr, &text, &number), 0);
    EXPECT_EQ(number, 5);
    ASSERT_EQ(ParseConstantString(L_, "#TESTLIB_NAME", nullptr, &text, &number), 0);
    EXPECT_STREQ(text, "testlib");

    // Registration is once per plugin.
    ASSERT_EQ(RegisterAllPluginFormats(L_), 0);
    EXPECT_EQ(Count(Log(), "testlib: InitLibrary"), 1);

    FreeLibraryPlugins(L_);
    FreeLibraryPlugins(L_);
    EXPECT_EQ(Count(Log(), "testlib: FreeLibrary state=1"), 1);
}

TEST_F(LibraryPluginTest, AFailedCheckInsideThePluginRaisesAndTheVmGoesOn) {
    ASSERT_EQ(Load("testlib", "testlib.qbp"), 0);
    const int top = VmGetTop(L_);
    VmPushString(L_, "testlib");
    VmGetTableAt(L_, kGlobalsIndex);
    VmPushString(L_, "add");
    VmGetTableAt(L_, -2);
    VmPushString(L_, "two");
    VmPushNumber(L_, 3);
    SetErrorArgIndex(0);
    EXPECT_EQ(VmPCall(L_, 2, 1, 0), ERR_NUMEXPECTED);
    EXPECT_EQ(GetErrorArgIndex(), 1);
    VmSetTop(L_, top);
    double sum = 0;
    ASSERT_EQ(Call("testlib", "add", 20, 22, &sum), 0);
    EXPECT_EQ(sum, 42);
}

TEST_F(LibraryPluginTest, WithoutABaseTableTheCommandsAreGlobals) {
    ASSERT_EQ(Load("globallib", "globallib.qbp"), 0);
    double sum = 0;
    ASSERT_EQ(Call(nullptr, "add", 4, 5, &sum), 0);
    EXPECT_EQ(sum, 9);
    bool listed = false;
    for (const CommandTableNode& t : RegisteredCommandTables()) listed = listed || std::string(t.name) == "plugin";
    EXPECT_TRUE(listed);
}

TEST_F(LibraryPluginTest, TwoLibrariesGiveTwoTables) {
    ASSERT_EQ(Load("twolib", "twolib.qbp"), 0);
    double result = 0;
    ASSERT_EQ(Call("twolib", "add", 2, 3, &result), 0);
    EXPECT_EQ(result, 5);
    ASSERT_EQ(Call("twolibb", "mul", 2, 3, &result), 0);
    EXPECT_EQ(result, 6);
    EXPECT_EQ(Call("twolib", "mul", 2, 3, &result), -1);
    double number = 0;
    EXPECT_EQ(ParseConstantString(L_, "#TESTLIB_SIX", nullptr, nullptr, &number), 0);
    EXPECT_EQ(number, 6);
    EXPECT_EQ(Count(Log(), "twolib: InitLibrary"), 1);
}

// A plugin has several libraries only when it sets the extension bit and
// exports both functions, and only then is it told which library is asked
// for: the functions alone give the one library its tables name; the bit
// without them is a plugin missing a symbol.
TEST_F(LibraryPluginTest, OnlyTheExtensionAndItsFunctionsGiveMoreLibraries) {
    EXPECT_EQ(Load("countbit", "countbit.qbp"), ERR_PLUGINSYMBOL);
    ASSERT_EQ(Load("countless", "countless.qbp"), 0);
    double result = 0;
    ASSERT_EQ(Call("countless", "add", 2, 3, &result), 0);
    EXPECT_EQ(result, 5);
    EXPECT_EQ(Call("countless", "mul", 2, 3, &result), -1);
    EXPECT_EQ(Call("countlessb", "mul", 2, 3, &result), -1);
    EXPECT_EQ(Count(Log(), "countless: SetCurrentLibrary"), 0);
    ASSERT_EQ(Load("twolib", "twolib.qbp"), 0);
    EXPECT_EQ(Count(Log(), "twolib: SetCurrentLibrary(0)"), 1);
    EXPECT_EQ(Count(Log(), "twolib: SetCurrentLibrary(1)"), 1);
}

TEST_F(LibraryPluginTest, ADeferredLibraryWaitsForItsRequire) {
    ASSERT_EQ(Load("deferlib", "deferlib.qbp"), 0);
    double sum = 0;
    EXPECT_EQ(Call("deferlib", "add", 2, 3, &sum), -1);
    EXPECT_EQ(Count(Log(), "InitLibrary"), 0);

    // A require that skips the initialisation brings the constants only.
    ASSERT_EQ(RequirePluginByName(L_, "deferlib", 0, 0, 1, 0, 0, nullptr), 0);
    EXPECT_EQ(Call("deferlib", "add", 2, 3, &sum), -1);
    double number = 0;
    EXPECT_EQ(ParseConstantString(L_, "#TESTLIB_FIVE", nullptr, nullptr, &number), 0);
    EXPECT_EQ(Count(Log(), "InitLibrary"), 0);

    ASSERT_EQ(RequirePluginByName(L_, "deferlib", 0, 0, 0, 0, 0, nullptr), 0);
    ASSERT_EQ(Call("deferlib", "add", 2, 3, &sum), 0);
    EXPECT_EQ(sum, 5);
    ASSERT_EQ(RequirePluginByName(L_, "deferlib", 0, 0, 0, 0, 0, nullptr), 0);
    EXPECT_EQ(Count(Log(), "deferlib: InitLibrary"), 1);
}

}  // namespace
