// The system library's plugin commands over the plugin list: asking for a
// plugin by name and version, passing a loader over, listing the loaded
// plugins with their formats, and loading one by its path with named
// arguments for its require.
#include <gtest/gtest.h>

#include <string>

#include "core/errcodes.h"
#include "core/errors.h"
#include "core/settings.h"
#include "core/vmhost.h"
#include "imaging/loaderchain.h"
#include "libs/system.h"
#include "libs/systemcommands.h"
#include "plugin_fixture.h"
#include "plugins/plugincmds.h"
#include "plugins/pluginlist.h"
#include "vm/vm.h"

namespace {

class PluginCommandsTest : public plugintest::PluginFixture {
protected:
    void SetUp() override {
        PluginFixture::SetUp();
        SetRuntimeTag(kTagQuiet, 1);
        InstallVmHost();
        InstallPluginCommands();
        L = VmOpen();
        ASSERT_NE(L, nullptr);
    }
    void TearDown() override {
        FreeLibraryPlugins(L);
        VmClose(L);
        SetSystemPluginCommands(qbSystemPluginCommands{});
        PluginFixture::TearDown();
    }

    int Call(CommandHandler fn, int nargs) {
        VmPushCClosure(L, fn, 0);
        VmInsert(L, -(nargs + 1));
        return VmPCall(L, nargs, kMultRet, 0);
    }
    // HavePlugin's two results as "known,loaded".
    std::string Have(const char* name, int version = 0, int revision = 0) {
        VmSetTop(L, 0);
        VmPushString(L, name);
        VmPushNumber(L, version);
        VmPushNumber(L, revision);
        if (Call(cmdHavePlugin, 3) != 0) return "error";
        return std::to_string(static_cast<int>(VmToNumber(L, 1))) + "," +
               std::to_string(static_cast<int>(VmToNumber(L, 2)));
    }
    int Named(CommandHandler fn, const char* name) {
        VmSetTop(L, 0);
        VmPushString(L, name);
        return Call(fn, 1);
    }
    // The field of the table at the absolute index idx, pushed.
    void Field(int idx, const char* key) {
        VmPushString(L, key);
        VmGetTableAt(L, idx);
    }
    std::string FieldText(int idx, const char* key) {
        Field(idx, key);
        std::string s = VmType(L, -1) == kTypeString ? VmToCString(L, -1) : "<not a string>";
        VmSetTop(L, -2);
        return s;
    }
    double FieldNumber(int idx, const char* key) {
        Field(idx, key);
        const double d = VmToNumber(L, -1);
        VmSetTop(L, -2);
        return d;
    }
    int LoadTst(const std::string& picture) {
        qbLoadedImage img;
        qbImageLoadParams p;
        p.fileName = picture.c_str();
        return LoadImageThroughLoaders(p, &img);
    }

    ScriptState* L = nullptr;
};

TEST_F(PluginCommandsTest, HavePluginByNameAndVersion) {
    Place("testlib", "testlib.qbp", "scan");
    Place("good", "_lazy.qbp", "scan");
    ASSERT_EQ(ScanPluginFolder((dir_ / "scan").string(), nullptr, nullptr), 0);
    // Loaded as 2.4: a higher version passes whatever its revision.
    EXPECT_EQ(Have("TESTLIB.QBP", 1, 9), "1,1");
    EXPECT_EQ(Have("testlib", 2, 4), "1,1");
    EXPECT_EQ(Have("testlib", 2, 5), "0,0");
    EXPECT_EQ(Have("testlib", 3), "0,0");
    // Known, not loaded until something requires it.
    EXPECT_EQ(Have("Lazy"), "1,0");
    EXPECT_EQ(Have("nope"), "0,0");
}

TEST_F(PluginCommandsTest, ADisabledLoaderIsPassedOverUntilEnabled) {
    Place("testimg", "testimg.qbp", "scan");
    ASSERT_EQ(ScanPluginFolder((dir_ / "scan").string(), nullptr, nullptr), 0);
    const std::string picture = (dir_ / "pic.tst").string();
    std::ofstream(picture) << "TST 4 2 0 0 0 4 ff102030 0\n";
    ASSERT_EQ(LoadTst(picture), 0);
    ASSERT_EQ(Named(cmdDisablePlugin, "testimg"), 0);
    EXPECT_EQ(LoadTst(picture), ERR_LOADPICTURE2);
    ASSERT_EQ(Named(cmdEnablePlugin, "TestImg.qbp"), 0);
    EXPECT_EQ(LoadTst(picture), 0);

    EXPECT_EQ(Named(cmdEnablePlugin, "nope"), ERR_FINDPLUGIN);
    EXPECT_EQ(ErrorText(ERR_FINDPLUGIN), "Cannot find plugin nope!");
    EXPECT_EQ(Named(cmdDisablePlugin, "nope"), ERR_FINDPLUGIN);
}

TEST_F(PluginCommandsTest, GetPluginsListsTheLoadedOnesWithTheirFormats) {
    Place("testimg", "testimg.qbp", "scan");
    Place("good", "_lazy.qbp", "scan");
    ASSERT_EQ(ScanPluginFolder((dir_ / "scan").string(), nullptr, nullptr), 0);
    ASSERT_EQ(Named(cmdDisablePlugin, "testimg"), 0);
    VmSetTop(L, 0);
    ASSERT_EQ(Call(cmdGetPlugins, 0), 0);
    VmRawGetIndex(L, 1, 1);
    EXPECT_EQ(VmType(L, -1), kTypeNil) << "only the loaded plugin is listed";
    VmSetTop(L, 1);
    VmRawGetIndex(L, 1, 0);
    const int plugin = VmGetTop(L);
    EXPECT_EQ(FieldText(plugin, "name"), "testimg");
    EXPECT_EQ(FieldText(plugin, "modulename"), "testimg.qbp");
    EXPECT_EQ(FieldText(plugin, "description"), "test plugin");
    EXPECT_EQ(FieldText(plugin, "helpfile"), "");
    EXPECT_EQ(FieldText(plugin, "path"), (dir_ / "scan" / "testimg.qbp").string());
    EXPECT_EQ(FieldNumber(plugin, "version"), 2);
    EXPECT_EQ(FieldNumber(plugin, "revision"), 4);
    EXPECT_EQ(FieldNumber(plugin, "capabilities"), PLUGINCAPS_IMAGE);
    EXPECT_EQ(FieldNumber(plugin, "disabled"), 1);
    Field(plugin, "filetypes");
    VmRawGetIndex(L, -1, 0);
    const int type = VmGetTop(L);
    EXPECT_EQ(FieldNumber(type, "type"), 1);
    EXPECT_EQ(FieldText(type, "name"), "TST picture");
    EXPECT_EQ(FieldText(type, "extensions"), "tst");
    EXPECT_EQ(FieldText(type, "mimetype"), "image/x-tst");
    EXPECT_EQ(FieldNumber(type, "formatid"), 77);
    EXPECT_EQ(FieldNumber(type, "flags"), 1);

    // GetVersion carries the same list.
    VmSetTop(L, 0);
    ASSERT_EQ(Call(cmdGetVersion, 0), 0);
    Field(1, "plugins");
    VmRawGetIndex(L, -1, 0);
    EXPECT_EQ(FieldText(VmGetTop(L), "name"), "testimg");
}

TEST_F(PluginCommandsTest, LoadPluginPassesNamedArgumentsAndRefusesADoublet) {
    const std::string path = Place("good", "lp.qbp").string();
    VmPushString(L, path.c_str());
    VmPushNewTable(L);
    VmPushString(L, "version");
    VmPushNumber(L, 2);
    VmSetTableAt(L, -3);
    VmPushString(L, "mode");
    VmPushString(L, "fast");
    VmSetTableAt(L, -3);
    VmPushString(L, "level");
    VmPushNumber(L, 3);
    VmSetTableAt(L, -3);
    ASSERT_EQ(Call(cmdLoadPlugin, 2), 0) << GetErrorDetail();
    const std::string log = Log();
    EXPECT_EQ(Count(log, "lp: RequirePlugin(2, 0)"), 1) << log;
    EXPECT_EQ(Count(log, "tag mode = \"fast\""), 1) << log;
    EXPECT_EQ(Count(log, "tag level = 3"), 1) << log;
    EXPECT_EQ(Have("lp", 2), "1,1");

    VmSetTop(L, 0);
    VmPushString(L, path.c_str());
    VmPushNewTable(L);
    VmPushString(L, "version");
    VmPushNumber(L, 1);
    VmSetTableAt(L, -3);
    EXPECT_EQ(Call(cmdLoadPlugin, 2), ERR_PLUGINDOUBLET);
    EXPECT_STREQ(GetErrorDetail(), "lp.qbp");
    EXPECT_EQ(Count(Log(), "RequirePlugin("), 1);
}

TEST_F(PluginCommandsTest, LoadPluginChecksItsOptionsAndRegistersALibrary) {
    const std::string path = Place("testlib", "testlib.qbp").string();
    for (int bad = 0; bad < 2; ++bad) {
        VmSetTop(L, 0);
        VmPushString(L, path.c_str());
        VmPushNewTable(L);
        if (bad == 0) {
            VmPushNumber(L, 1);
            VmPushString(L, "numeric key");
        } else {
            VmPushString(L, "table");
            VmPushNewTable(L);
        }
        VmSetTableAt(L, -3);
        EXPECT_EQ(Call(cmdLoadPlugin, 2), ERR_WRONGUSAGE) << bad;
    }
    EXPECT_EQ(Have("testlib"), "0,0") << "nothing was loaded";

    VmSetTop(L, 0);
    VmPushString(L, path.c_str());
    ASSERT_EQ(Call(cmdLoadPlugin, 1), 0) << GetErrorDetail();
    EXPECT_EQ(Count(Log(), "testlib: InitLibrary"), 1) << Log();
    // Without a version and not required before, a second load is no doublet.
    VmSetTop(L, 0);
    VmPushString(L, path.c_str());
    EXPECT_EQ(Call(cmdLoadPlugin, 1), 0);
    EXPECT_EQ(Count(Log(), "testlib: InitLibrary"), 1);
}

}  // namespace
