// An outline font linked into an applet opens from its chunk, through the
// player's file layer, and measures as the same file opened from disk.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "command_call.h"
#include "core/applet_fixture.h"
#include "core/argapi.h"
#include "core/chunkname.h"
#include "core/errcodes.h"
#include "core/linkedfile.h"
#include "text/font.h"
#include "text/inbuiltfont.h"
#include "text/text.h"
#include "text/textlib.h"

namespace {

const std::string kSerif = "/usr/share/fonts/truetype/ttf-bitstream-vera/VeraSe.ttf";

std::vector<uint8_t> ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

class InbuiltChunk : public AppletFixture {
protected:
    void SetUp() override {
        AppletFixture::SetUp();
        InstallInbuiltFontEngine();
    }
    void TearDown() override {
        font_.reset();
        ShutdownFontEngines();
        AppletFixture::TearDown();
    }
    FontPtr font_;
};

int32_t WidthOf(qbFont* font, const std::string& text) {
    qbTextExtents e;
    MeasureFontText(font, text.data(), text.size(), kTextAntialias, kEncodingLatin1, &e);
    return e.width;
}

TEST_F(InbuiltChunk, ALinkedFontOpensFromItsChunkAndACutChunkFails) {
    const std::vector<uint8_t> serif = ReadFile(kSerif);
    ASSERT_GT(serif.size(), 1000u);
    AppletDesc desc = Minimal();
    desc.linkedFiles = {{"data.bin", {1, 2, 3}, LinkPlacement::Inline, {}, {}},
                        {"Fonts\\Serif.ttf", serif, LinkPlacement::Inline, {}, {}}};
    ASSERT_EQ(Load(desc), 0);
    VmPushValue(L_, kGlobalsIndex);
    ASSERT_EQ(InitTextLibrary(L_), 0);
    VmSetTop(L_, 0);

    int isFont = 1;
    const std::string name = ResolveLinkedFile(L_, "Fonts/Serif.ttf", 1, &isFont);
    EXPECT_EQ(isFont, 0);  // an outline file is linked as a file, not as a declared font
    qbChunkName parts;
    ASSERT_EQ(ParseChunkName(name.c_str(), &parts), 1) << name;
    EXPECT_EQ(parts.size, serif.size());

    // As a script opens it: by its own name, which the linked file answers.
    const int64_t opens = InbuiltFileOpenCount();
    VmPushString(L_, "Fonts/Serif.ttf");
    VmPushNumber(L_, 30);
    VmPushNewTable(L_);
    SetTableFieldInt(L_, "engine", kFontEngineInbuilt);
    ASSERT_EQ(CallCommand(L_, "SetFont", 3, 0), 0);
    VmSetTop(L_, 0);
    qbFont* font = GetTextStyle()->font;
    ASSERT_NE(font, nullptr);
    EXPECT_EQ(InbuiltFileOpenCount(), opens + 1);
    EXPECT_EQ(font->engine, kFontKindInbuilt);
    EXPECT_STREQ(font->name, "Bitstream Vera Serif");

    qbFont* fromDisk = nullptr;
    ASSERT_EQ(OpenFontRecord(kSerif.c_str(), 30, kFontEngineInbuilt, 1, 0, &fromDisk), 0);
    font_.reset(fromDisk);
    EXPECT_EQ(WidthOf(font, "Hello, World"), WidthOf(fromDisk, "Hello, World"));
    EXPECT_EQ(font->baseline, fromDisk->baseline);

    // The same chunk cut short: FreeType sees a broken face and the open
    // fails.
    const std::string cut = MakeChunkName("Serif.ttf", parts.offset, serif.size() / 2, 0, path_.c_str());
    qbFont* broken = nullptr;
    EXPECT_EQ(OpenFontRecord(cut.c_str(), 30, kFontEngineInbuilt, 1, 0, &broken), ERR_OPENFONT);
    // The library's fonts go with the library, which stops the engine.
    font_.reset();
    FreeTextLibrary(L_);
}

}  // namespace
