// Preferences files: the golden layout, filling in place, the identifier
// and a failed save that keeps the old file.

#include <sys/resource.h>

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "core/applet.h"
#include "core/errcodes.h"
#include "dos_fixture.h"
#include "libs/prefs.h"
#include "platform/platform_ops.h"

namespace {

using dostest::Bytes;

const ScriptCommand kPrefsCommands[] = {
    {"SavePrefs", cmdSavePrefs},
    {"LoadPrefs", cmdLoadPrefs},
    {"DeletePrefs", cmdDeletePrefs},
    {nullptr, nullptr},
};

class PrefsTest : public dostest::DosFixture {
protected:
    void SetUp() override {
        DosFixture::SetUp();
        const char* old = std::getenv("XDG_CONFIG_HOME");
        oldConfig_ = old ? old : "";
        hadConfig_ = old != nullptr;
        setenv("XDG_CONFIG_HOME", dir_.str().c_str(), 1);
        std::strcpy(applet_.identifier, "com.example/prefs");
        VmRegistrySetLightUserdata(L, "applet", &applet_);
        oldOps_ = &ActivePlatformOps();
        SetPlatformBackend(&LinuxPlatformOps());
        VmPushValue(L, kGlobalsIndex);
        VmRegisterCommands(L, nullptr, kPrefsCommands, 0);
        VmSetTop(L, 0);
    }
    void TearDown() override {
        if (hadConfig_) setenv("XDG_CONFIG_HOME", oldConfig_.c_str(), 1);
        else unsetenv("XDG_CONFIG_HOME");
        SetPlatformBackend(oldOps_);
        DosFixture::TearDown();
    }
    std::filesystem::path Folder() { return std::filesystem::path(dir_.str()) / "MorvaleLumegrid" / "Quenbrook" / "Preferences"; }
    std::filesystem::path File() { return Folder() / "com.example_prefs"; }
    // Calls command on a table holding one number.
    int WithTable(const char* command, const char* key, double value) {
        VmSetTop(L, 0);
        VmPushNewTable(L);
        VmPushString(L, key);
        VmPushNumber(L, value);
        VmSetTableAt(L, -3);
        VmPushValue(L, 1);
        return CallCommand(L, command, 1, 0);
    }
    double Field(const char* key) {
        VmPushString(L, key);
        VmGetTableAt(L, 1);
        const double v = VmType(L, -1) == kTypeNumber ? VmToNumber(L, -1) : -1;
        VmSetTop(L, 1);
        return v;
    }

    qbApplet applet_;
    std::string oldConfig_;
    bool hadConfig_ = false;
    const qbPlatformOps* oldOps_ = nullptr;
};

TEST_F(PrefsTest, SaveThenLoadFillsInPlace) {
    EXPECT_EQ(WithTable("LoadPrefs", "y", 1), 0);
    EXPECT_EQ(Field("y"), 1);
    EXPECT_EQ(Field("x"), -1);
    ASSERT_EQ(WithTable("SavePrefs", "x", 5), 0);
    EXPECT_EQ(ScratchDir::Read(File().string()),
              "PRFS" + Bytes({3, 0, 0, 0, 1, 'x', 2, 0x40, 0x14, 0, 0, 0, 0, 0, 0, 0}));
    ASSERT_EQ(WithTable("LoadPrefs", "y", 1), 0);
    EXPECT_EQ(Field("y"), 1);
    EXPECT_EQ(Field("x"), 5);
    EXPECT_EQ(Call("DeletePrefs", {}), 0);
    EXPECT_FALSE(std::filesystem::exists(File()));
    EXPECT_EQ(Call("DeletePrefs", {}), 0);
}

// An identifier that is no ASCII ("caf\xe9", the player's Latin-1 text)
// names its file in the system's text (UTF-8): DeletePrefs removes the
// very file SavePrefs wrote and LoadPrefs reads.
TEST_F(PrefsTest, DeletePrefsRemovesTheFileOfAnIdentifierThatIsNoAscii) {
    std::strcpy(applet_.identifier, "caf\xe9");
    const std::filesystem::path saved = Folder() / "caf\xc3\xa9";
    ASSERT_EQ(WithTable("SavePrefs", "x", 5), 0);
    ASSERT_TRUE(std::filesystem::exists(saved));
    EXPECT_EQ(Call("DeletePrefs", {}), 0);
    EXPECT_FALSE(std::filesystem::exists(saved));
    EXPECT_EQ(WithTable("LoadPrefs", "y", 1), 0);
    EXPECT_EQ(Field("x"), -1);
}

TEST_F(PrefsTest, RefusalsAndAFailedSaveKeepsTheOldFile) {
    ASSERT_EQ(WithTable("SavePrefs", "x", 5), 0);
    const std::string saved = ScratchDir::Read(File().string());
    // A write cut short by the file size limit fails, root or not.
    {
        const sighandler_t was = std::signal(SIGXFSZ, SIG_IGN);
        rlimit old{};
        getrlimit(RLIMIT_FSIZE, &old);
        rlimit small = old;
        small.rlim_cur = 4;
        setrlimit(RLIMIT_FSIZE, &small);
        EXPECT_EQ(WithTable("SavePrefs", "x", 6), ERR_WRITEFILE);
        setrlimit(RLIMIT_FSIZE, &old);
        std::signal(SIGXFSZ, was);
    }
    EXPECT_EQ(ScratchDir::Read(File().string()), saved);

    std::filesystem::resize_file(File(), 0);
    EXPECT_EQ(WithTable("LoadPrefs", "y", 1), ERR_READ);
    dir_.Write("MorvaleLumegrid/Quenbrook/Preferences/com.example_prefs", "QBT0" + Bytes({0}));
    EXPECT_EQ(WithTable("LoadPrefs", "y", 1), ERR_FILEFORMAT);

    applet_.identifier[0] = 0;
    EXPECT_EQ(WithTable("SavePrefs", "x", 5), ERR_WRONGUSAGE);
    EXPECT_EQ(WithTable("LoadPrefs", "x", 5), ERR_WRONGUSAGE);
    EXPECT_EQ(Call("DeletePrefs", {}), ERR_WRONGUSAGE);
}

}  // namespace
