// The font engine layer: which engine opens what, the default font's life,
// the search for ".font" files, scaling, and decoding UTF-8.
#include <gtest/gtest.h>

#include <filesystem>

#include "core/errcodes.h"
#include "core/errors.h"
#include "text/bitmapfont.h"
#include "text/font.h"
#include "text/fontwriter.h"

using namespace fontfixture;

namespace {

class FontEngine : public ::testing::Test {
protected:
    void TearDown() override {
        ClearFontSearchPaths();
        ShutdownFontEngines();
        std::error_code ec;
        std::filesystem::current_path(cwd_, ec);
    }
    std::filesystem::path cwd_ = std::filesystem::current_path();
    ScratchFolder dir_;
};

std::vector<uint32_t> Decode(const std::string& text, int ok) {
    std::vector<uint32_t> out{99};
    EXPECT_EQ(DecodeUtf8Text(text.data(), text.size(), 1, &out), ok) << text;
    return out;
}

}  // namespace

TEST_F(FontEngine, TopazAtEightIsTheDefaultFontWhichClosingNeverFrees) {
    qbFont* a = nullptr;
    qbFont* b = nullptr;
    ASSERT_EQ(OpenFontRecord("TOPAZ", 8, kFontEngineNative, 1, 0, &a), 0);
    ASSERT_EQ(GetDefaultFont(&b), 0);
    EXPECT_EQ(a, b);
    EXPECT_STREQ(a->name, "topaz");
    EXPECT_EQ(a->antialiasCapable, 0);
    CloseFontRecord(a);
    ASSERT_EQ(GetDefaultFont(&b), 0);
    EXPECT_EQ(a, b);
    EXPECT_EQ(b->height, 8);

    // Scaling a bitmap font changes nothing.
    SetFontScale(b, 2.0, 3.0);
    EXPECT_EQ(b->height, 8);
    EXPECT_EQ(b->xScale, 1.0);
    EXPECT_EQ(IsNativeFont(b), 0);
}

TEST_F(FontEngine, OtherSizesAndEnginesFailWithTheFontsNameAndSize) {
    qbFont* font = nullptr;
    EXPECT_EQ(OpenFontRecord("topaz", 9, kFontEngineNative, 1, 0, &font), ERR_OPENFONT);
    EXPECT_STREQ(GetErrorDetail(), "Cannot open font topaz with size 9!");
    EXPECT_EQ(OpenFontRecord("topaz", 8, 3, 1, 0, &font), ERR_OPENFONT) << "engine 3 is not a choice";
    EXPECT_STREQ(GetErrorDetail(), "Cannot open font topaz with size 8!");
    EXPECT_EQ(OpenFontRecord("topaz", 8, kFontEngineInbuilt, 1, 0, &font), ERR_OPENFONT);
    EXPECT_EQ(font, nullptr);
}

TEST_F(FontEngine, TopazAtNineIsLookedForInTheFontPathsThenAsTheNameThenInFonts) {
    const Bytes nine = [] {
        FontLayout s = Monospaced();
        s.ySize = 9;
        s.strip.resize(static_cast<size_t>(s.modulo * 9));
        return WriteFontFile(s);
    }();
    std::filesystem::current_path(dir_.Path(""));
    dir_.Write("Fonts/topaz/9", nine);
    dir_.Write("Fonts/topaz.font", WriteContents({{"topaz/9", 9}}));
    std::string found;
    ASSERT_EQ(FindBitmapFontFile("topaz", &found), 1);
    EXPECT_EQ(found, "Fonts/topaz.font");

    dir_.Write("topaz/9", nine);
    dir_.Write("topaz.font", WriteContents({{"topaz/9", 9}}));
    ASSERT_EQ(FindBitmapFontFile("topaz.font", &found), 1);
    EXPECT_EQ(found, "topaz.font") << "the name keeps its own extension";

    dir_.Write("paths/b/topaz/9", nine);
    dir_.Write("paths/b/topaz.font", WriteContents({{"topaz/9", 9}}));
    AddFontSearchPath(dir_.Path("paths/a"));
    AddFontSearchPath(dir_.Path("paths/b"));
    ASSERT_EQ(FindBitmapFontFile("topaz", &found), 1);
    EXPECT_EQ(found, dir_.Path("paths/b/topaz.font"));
    EXPECT_EQ(FindBitmapFontFile("nowhere", &found), 0);

    qbFont* font = nullptr;
    ASSERT_EQ(OpenFontRecord("topaz", 9, kFontEngineNative, 1, 0, &font), 0);
    FontPtr owner(font);
    EXPECT_EQ(font->height, 9);
    EXPECT_EQ(font->size, 9);
    EXPECT_EQ(font->xScale, 1.0);
    qbFont* topaz = nullptr;
    ASSERT_EQ(GetDefaultFont(&topaz), 0);
    EXPECT_NE(font, topaz);
}

TEST_F(FontEngine, Utf8DecodesWholeSequencesAndRefusesBrokenOnes) {
    EXPECT_EQ(Decode("A\xC3\xA9", 1), (std::vector<uint32_t>{65, 233}));
    EXPECT_EQ(Decode("\xE2\x82\xAC\xF0\x9F\x98\x80", 1), (std::vector<uint32_t>{0x20AC, 0x1F600}));
    EXPECT_EQ(Decode("\xF8\x88\x80\x80\x80", 1), (std::vector<uint32_t>{0x200000}));
    EXPECT_EQ(Decode("", 1), (std::vector<uint32_t>{}));
    for (const char* bad : {"\x80\x41", "\xFC\x80", "\xFE", "A\xC3", "\xE2\x82", "\xC3\x41"})
        EXPECT_EQ(Decode(bad, 0), (std::vector<uint32_t>{})) << bad;
    std::vector<uint32_t> out;
    EXPECT_EQ(DecodeUtf8Text("abc", 3, 0, &out), 0) << "a text not flagged UTF-8";
}
