// An open font's file is never written under it, by either engine: both
// read it as glyphs load, and a write that cut it would change or lose the
// glyphs of a font still in use.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "command_call.h"
#include "core/errcodes.h"
#include "core/file.h"
#include "core/objects.h"
#include "core/replacefile.h"
#include "core/scratch.h"
#include "core/settings.h"
#include "core/vmhost.h"
#include "platform/platform.h"
#include "text/font.h"
#include "text/hermeticfonts.h"
#include "text/inbuiltfont.h"
#include "text/text.h"
#include "text/textlib.h"
#include "text/textvm.h"

namespace {

namespace fs = std::filesystem;

std::string Bytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// No writer, in place or by a replace, gets at path.
void ExpectRefused(const std::string& path) {
    EXPECT_EQ(FileOpen(path.c_str(), kFileModeWrite, nullptr), nullptr);
    EXPECT_EQ(FileOpen(path.c_str(), kFileModeReadWrite, nullptr), nullptr);
    qbReplaceFile out;
    EXPECT_EQ(BeginReplaceFile(path.c_str(), qbReplaceOptions{}, &out), ERR_WRONGUSAGE);
}

class FontGate : public ::testing::Test {
protected:
    void SetUp() override {
        hermeticfonts::Use();
        OpenTextVm(&L_);
    }
    void TearDown() override {
        CloseTextVm(L_);
    }
    ScriptState* L_ = nullptr;
    ScratchDir dir_;
};

}  // namespace

TEST_F(FontGate, ANativeFontsFileIsNeverWritten) {
    const std::string path = (hermeticfonts::Use().dir / "fonts" / "DejaVuSans.ttf").string();
    const std::string bytes = Bytes(path);
    VmSetTop(L_, 0);
    VmPushString(L_, "DejaVu Sans");
    VmPushNumber(L_, 24);
    VmPushNewTable(L_);
    SetTableFieldInt(L_, "engine", kFontEngineNative);
    ASSERT_EQ(CallCommand(L_, "SetFont", 3, 0), 0);
    ExpectRefused(path);
    EXPECT_EQ(Bytes(path), bytes);
}

TEST_F(FontGate, AnInbuiltFontsFileIsNeverWrittenWhileOpen) {
    const std::string path = dir_ / "sans.ttf";
    fs::copy_file(hermeticfonts::kDejaVuDir + "DejaVuSans.ttf", path);
    const std::string bytes = Bytes(path);
    ASSERT_EQ(StartInbuiltEngine(), 0);
    qbFont font{};
    ASSERT_EQ(OpenInbuiltFont(path.c_str(), 20, 1, &font), 1);
    ExpectRefused(path);
    EXPECT_EQ(Bytes(path), bytes);
    CloseInbuiltFont(&font);
    qbFilePtr again(FileOpen(path.c_str(), kFileModeWrite, nullptr));
    EXPECT_TRUE(again);
    StopInbuiltEngine();
}
