// Loading one plugin file: every way a file can fail, each with its code and
// text, and that a failed plugin is neither left loaded, left listed, nor
// closed when it never opened.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <fstream>

#include "bounded_child.h"
#include "core/errcodes.h"
#include "core/file.h"
#include "core/plugincaps.h"
#include "core/replacefile.h"
#include "plugins/plugin.h"
#include "plugin_cuts.h"
#include "plugin_fixture.h"

namespace {

using plugintest::PluginFixture;
namespace fs = std::filesystem;

class LoaderTest : public PluginFixture {
protected:
    int Open(const std::string& variant, const std::string& fileName) {
        handle_.reset();
        capabilities_ = 0;
        return OpenPluginFile(Place(variant, fileName).c_str(), &capabilities_, &handle_);
    }

    // The code, its text, and that nothing of the plugin stayed behind.
    void ExpectFailure(int err, int code, const std::string& text) {
        EXPECT_EQ(err, code);
        EXPECT_EQ(ErrorText(code), text);
        EXPECT_FALSE(handle_);
        for (uint32_t capability : {PLUGINCAPS_IMAGE, PLUGINCAPS_ANIM, PLUGINCAPS_SOUND, PLUGINCAPS_VIDEO,
                                    PLUGINCAPS_FILEADAPTER, PLUGINCAPS_DIRADAPTER})
            EXPECT_EQ(GetPluginList(capability), nullptr) << capability;
    }

    PluginHandlePtr handle_;
    uint32_t capabilities_ = 0;
};

TEST_F(LoaderTest, GoodPluginLoadsListsAndClosesOnce) {
    const fs::path path = Place("good", "good.qbp");
    ASSERT_EQ(OpenPluginFile(path.c_str(), &capabilities_, &handle_), 0);
    EXPECT_EQ(capabilities_, unsigned(PLUGINCAPS_REQUIRE | PLUGINCAPS_IMAGE));
    EXPECT_NE(Log().find("InitPlugin base=6.1 vm=1 preset=6.1 path=" + path.string()), std::string::npos) << Log();

    qbPlugin* view = GetPluginInfo(handle_.get());
    EXPECT_STREQ(view->name, "good");
    EXPECT_EQ(view->version, 2);
    EXPECT_EQ(view->revision, 4);
    EXPECT_EQ(view->record, &handle_->record);
    ASSERT_NE(GetImageLoaderSlots(view), nullptr);
    EXPECT_NE(GetImageLoaderSlots(view)->TransformImage, nullptr);
    EXPECT_NE(handle_->record.RequirePlugin, nullptr);
    ASSERT_NE(GetPluginList(PLUGINCAPS_IMAGE), nullptr);
    EXPECT_EQ(GetPluginList(PLUGINCAPS_IMAGE)->plugin, view);

    handle_.reset();
    EXPECT_EQ(Count(Log(), ": ClosePlugin"), 1);
    EXPECT_EQ(GetPluginList(PLUGINCAPS_IMAGE), nullptr);
}

TEST_F(LoaderTest, RecordNameMustMatchTheFileName) {
    ExpectFailure(Open("other", "x.qbp"), ERR_LOADPLUGIN, "Error loading plugin \"x.qbp\"!");
    EXPECT_EQ(Count(Log(), ": ClosePlugin"), 1);
    // A leading underscore on the file may stand before the record's name.
    ASSERT_EQ(Open("good", "_under.qbp"), 0);
    EXPECT_STREQ(GetPluginInfo(handle_.get())->name, "under");
    // The player's own loader names are never a plugin's, whatever the file.
    ExpectFailure(Open("native", "Native.qbp"), ERR_LOADPLUGIN, "Error loading plugin \"Native.qbp\"!");
    ExpectFailure(Open("nullname", "n.qbp"), ERR_LOADPLUGIN, "Error loading plugin \"n.qbp\"!");
}

TEST_F(LoaderTest, NewerHostFailsAfterInitAndClosesOnce) {
    ExpectFailure(Open("newhost", "newhost.qbp"), ERR_NEWQBPLUGIN, "This plugin requires at least Quenbrook 6.2!");
    EXPECT_EQ(Count(Log(), ": ClosePlugin"), 1);
}

TEST_F(LoaderTest, MissingSymbolLeavesNoListHoldingThePlugin) {
    // Its image symbols resolve before the audio adapter's fail.
    ExpectFailure(Open("noaudio", "noaudio.qbp"), ERR_PLUGINSYMBOL,
                  "Error loading plugin symbol: SetChannelAttributes");
    EXPECT_EQ(Count(Log(), ": ClosePlugin"), 1);
    // A later load must not meet a freed plugin on the image list.
    ASSERT_EQ(Open("good", "good.qbp"), 0);
    ASSERT_NE(GetPluginList(PLUGINCAPS_IMAGE), nullptr);
    EXPECT_EQ(GetPluginList(PLUGINCAPS_IMAGE)->plugin, GetPluginInfo(handle_.get()));
    EXPECT_EQ(GetPluginList(PLUGINCAPS_IMAGE)->next, nullptr);
}

TEST_F(LoaderTest, MaskChecks) {
    ASSERT_EQ(Open("extonly", "extonly.qbp"), 0);
    EXPECT_EQ(capabilities_, unsigned(PLUGINCAPS_EXTENSIONS));
    EXPECT_NE(handle_->record.GetExtensions, nullptr);
    ExpectFailure(Open("badtype", "badtype.qbp"), ERR_PLUGINTYPE, "Plugin type not recognized! (40000000)");
    EXPECT_EQ(Count(Log(), "badtype: ClosePlugin"), 1);
}

TEST_F(LoaderTest, ALoaderThatServesOnlyWhenNamedJoinsItsListThroughTheTag) {
    ASSERT_EQ(Open("named", "named.qbp"), 0);
    EXPECT_EQ(handle_->record.extensions[2], 1u);
    EXPECT_NE(Log().find("named: GetExtensions(4, 0)"), std::string::npos) << Log();
    EXPECT_EQ(GetPluginList(PLUGINCAPS_IMAGE), nullptr);
    EXPECT_NE(GetImageLoaderSlots(GetPluginInfo(handle_.get())), nullptr);
}

TEST_F(LoaderTest, FilesThatAreNoLibraries) {
    const fs::path text = dir_ / "x.qbp";
    std::ofstream(text) << "not a library\n";
    const int textErr = OpenPluginFile(text.c_str(), &capabilities_, &handle_);
    ExpectFailure(textErr, ERR_DLOPEN, "Cannot load plugin: " + std::string(GetErrorDetail()));
    EXPECT_NE(std::string(GetErrorDetail()).find("x.qbp"), std::string::npos);

    // Bound at open: the process lives on to report it.
    const int err = Open("unresolved", "unresolved.qbp");
    EXPECT_NE(std::string(GetErrorDetail()).find("qb_test_plugin_symbol_nobody_defines"), std::string::npos)
        << GetErrorDetail();
    ExpectFailure(err, ERR_DLOPEN, "Cannot load plugin: " + std::string(GetErrorDetail()));
    EXPECT_EQ(Log(), "");
}

// A half-finished copy is a load error with a reason, never a crash when
// the loader touches a page past the end of the file.
TEST_F(LoaderTest, ACutPluginFileIsALoadError) {
    const std::string whole = plugintest::ReadText(fs::path(QB_TEST_PLUGIN_DIR) / "good.qbp");
    ASSERT_GT(ElfLoadedBytes(whole), 4096u);
    for (size_t length : PluginCutLengths(whole)) {
        SCOPED_TRACE(length);
        const fs::path cut = dir_ / "good.qbp";
        std::ofstream(cut, std::ios::binary | std::ios::trunc) << whole.substr(0, length);
        const int err = OpenPluginFile(cut.c_str(), &capabilities_, &handle_);
        ExpectFailure(err, ERR_DLOPEN, "Cannot load plugin: " + std::string(GetErrorDetail()));
        EXPECT_NE(std::string(GetErrorDetail()).find(cut.string()), std::string::npos) << GetErrorDetail();
    }
    EXPECT_EQ(Log(), "");
}

// Descriptor 0 is an ordinary one once standard input is closed (in a
// child, whose standard input is its own): the file's check reads it there
// and gives it back, for a plugin that loads and for one refused.
TEST_F(LoaderTest, TheFileCheckGivesDescriptorZeroBack) {
    const fs::path good = Place("good", "good.qbp");
    const fs::path cut = dir_ / "cut.qbp";
    std::ofstream(cut, std::ios::binary) << plugintest::ReadText(good).substr(0, 100);
    EXPECT_EQ(test_child::InChild([&] {
                  close(0);
                  if (OpenPluginFile(good.c_str(), &capabilities_, &handle_) != 0) return 1;
                  if (fcntl(0, F_GETFD) != -1) return 2;
                  handle_.reset();
                  if (OpenPluginFile(cut.c_str(), &capabilities_, &handle_) != ERR_DLOPEN) return 3;
                  if (std::string(GetErrorDetail()).find("cut short") == std::string::npos) return 4;
                  return fcntl(0, F_GETFD) == -1 ? 0 : 5;
              }),
              0);
}

TEST_F(LoaderTest, InitPluginRefusingIsNeverClosed) {
    ExpectFailure(Open("initfails", "initfails.qbp"), ERR_LOADPLUGIN, "Error loading plugin \"initfails.qbp\"!");
    EXPECT_EQ(Count(Log(), "initfails: InitPlugin"), 1);
    EXPECT_EQ(Count(Log(), ": ClosePlugin"), 0);
}

}  // namespace

// The loader maps the plugin's file: while it is loaded no write cuts it (a
// cut mapping ends the process at its next call), neither in place nor by a
// replace; once it is closed the file may be written again.
TEST_F(LoaderTest, ALoadedPluginsFileIsNeverWritten) {
    const fs::path path = Place("good", "good.qbp");
    const std::string bytes = [&] {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }();
    ASSERT_EQ(OpenPluginFile(path.c_str(), &capabilities_, &handle_), 0);
    EXPECT_EQ(FileOpen(path.c_str(), kFileModeWrite, nullptr), nullptr);
    EXPECT_EQ(FileOpen(path.c_str(), kFileModeReadWrite, nullptr), nullptr);
    qbReplaceFile out;
    EXPECT_EQ(BeginReplaceFile(path.c_str(), qbReplaceOptions{}, &out), ERR_WRONGUSAGE);
    EXPECT_EQ(CheckWriteTarget(path.c_str(), nullptr), ERR_WRONGUSAGE);
    std::ifstream in(path, std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), bytes);
    EXPECT_NE(GetPluginList(PLUGINCAPS_IMAGE), nullptr);

    handle_.reset();
    qbFilePtr again(FileOpen(path.c_str(), kFileModeWrite, nullptr));
    EXPECT_TRUE(again);
}
