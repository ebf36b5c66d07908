// Loading ".font" disk fonts: the contents file's choice of size, font files
// of both kinds with their tables, every broken variant failing the load,
// and fonts linked into an applet.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <utility>

#include "core/chars.h"
#include "core/chunkname.h"
#include "core/errcodes.h"
#include "core/errors.h"
#include "core/settings.h"
#include "peak_memory.h"
#include "text/bitmapfont.h"
#include "text/font.h"
#include "text/fontwriter.h"

using namespace fontfixture;

namespace {

class BitmapFontLoad : public ::testing::Test {
protected:
    void TearDown() override {
        ShutdownFontEngines();
        SetRuntimeTag(kTagDeclaring, 0);
    }
    // 1 loaded, 0 not; the font stays loaded in font_ until the test ends.
    int Load(const std::string& contents, int size) {
        font_ = FontPtr(new qbFont);
        return LoadBitmapFont(contents.c_str(), size, font_.get(), nullptr);
    }
    qbBitmapFontData& Data() { return *BitmapDataOf(font_.get()); }

    ScratchFolder dir_;
    FontPtr font_;
};

}  // namespace

TEST_F(BitmapFontLoad, TheContentsFileChoosesTheFirstCompleteEntryOfTheSize) {
    FontLayout eight = Monospaced(), eleven = Monospaced();
    eleven.ySize = 11;
    eleven.strip.resize(static_cast<size_t>(eleven.modulo * eleven.ySize), 0x5A);
    const std::string name = dir_.WriteFont("multi", {{8, WriteFontFile(eight)}, {11, WriteFontFile(eleven)}});
    ASSERT_EQ(Load(dir_.Path("multi"), 11), 1) << "the extension is added";
    EXPECT_EQ(Data().ySize, 11);
    EXPECT_EQ(font_->height, 11);
    EXPECT_STREQ(font_->name, "multi");
    EXPECT_EQ(Load(name, 9), 0);

    // An incomplete entry of the size is passed over for the next one.
    dir_.Write("inc/8", WriteFontFile(eight));
    const std::string inc = dir_.Write(
        "inc.font", WriteContents({{"::incomplete", 8}, {"missing/8", 9}, {"inc/8", 8}}, 0x0F02));
    ASSERT_EQ(Load(inc, 8), 1);
    EXPECT_EQ(font_->engine, kFontKindBitmap);
    EXPECT_EQ(Load(dir_.Write("only.font", WriteContents({{"::incomplete", 8}})), 8), 0);
}

// A contents file grown by a hole to 1.5 GiB: its header and entries are
// read, the rest never is.
TEST_F(BitmapFontLoad, AContentsFileCostsItsEntriesNotItsLength) {
    dir_.Write("holes/8", WriteFontFile(Monospaced()));
    const std::string contents = dir_.Write("holes.font", WriteContents({{"holes/8", 8}}));
    std::filesystem::resize_file(contents, uint64_t{3} << 29);
    int loaded = 0;
    EXPECT_LT(PeakGrowth([&] { loaded = Load(contents, 8); }), 32u << 20);
    EXPECT_EQ(loaded, 1);
}

// A font file grown by a hole to 3 GB: its header, tables and strip are
// read where their offsets point, the rest never is.
TEST_F(BitmapFontLoad, AFontFileCostsItsTablesNotItsLength) {
    const std::string glyphs = dir_.Write("sparse/8", WriteFontFile(Monospaced()));
    std::filesystem::resize_file(glyphs, uint64_t{3} << 30);
    const std::string contents = dir_.Write("sparse.font", WriteContents({{"sparse/8", 8}}));
    int loaded = 0;
    EXPECT_LT(PeakGrowth([&] { loaded = Load(contents, 8); }), 64u << 20);
    EXPECT_EQ(loaded, 1);
    EXPECT_EQ(Data().ySize, 8);
}

// A plain strip lies in the file, but a sparse file holds gigabytes for
// nothing: a header naming a 2 GB strip (65535 bytes x 30000 rows) behind
// a hole is a damaged font, refused before the strip is read. The largest
// strip the colour fonts may have, 2^24 pixels, still loads.
TEST_F(BitmapFontLoad, APlainStripPastTheBoundIsADamagedFont) {
    auto sized = [&](const std::string& name, uint32_t modulo, uint32_t ySize) {
        Bytes f = WriteFontFile(Monospaced());
        Put16(f, kAtModulo, modulo);
        Put16(f, kAtYSize, ySize);
        const std::string path = dir_.Write(name + "/" + std::to_string(ySize), f);
        std::filesystem::resize_file(path, kStored + Get32(f, kAtCharData) + uint64_t{modulo} * ySize);
        return dir_.Write(name + ".font", WriteContents({{name + "/" + std::to_string(ySize), static_cast<int>(ySize)}}));
    };
    const std::string huge = sized("huge", 65535, 30000);
    int loaded = -1, opened = -1;
    qbFont* font = nullptr;
    EXPECT_LT(PeakGrowth([&] {
                  loaded = Load(huge, 30000);
                  opened = OpenFontRecord(huge.c_str(), 30000, kFontEngineNative, 1, 0, &font);
              }),
              64u << 20);
    EXPECT_EQ(loaded, 0);
    FontPtr owner(font);
    EXPECT_EQ(opened, ERR_OPENFONT);
    EXPECT_EQ(font, nullptr);
    EXPECT_EQ(Load(sized("over", 2048, 1025), 1025), 0);
    ASSERT_EQ(Load(sized("bound", 2048, 1024), 1024), 1);
    EXPECT_EQ(Data().modulo, 2048);
    EXPECT_EQ(Data().charData.size(), size_t{2048} * 1024);
}

TEST_F(BitmapFontLoad, FontFilesKeepTheirTablesAndColourFontsTheirPalette) {
    const FontLayout p = Proportional(true);
    ASSERT_EQ(Load(dir_.WriteFont("prop", {{7, WriteFontFile(p)}}), 7), 1);
    EXPECT_EQ(Data().count, 6);
    EXPECT_EQ(Data().charLoc, p.charLoc);
    EXPECT_EQ(Data().charSpace, p.space);
    EXPECT_EQ(Data().charKern, p.kern);
    EXPECT_EQ(font_->baseline, 5);

    const FontLayout c = Colour(2);
    ASSERT_EQ(Load(dir_.WriteFont("col", {{6, WriteFontFile(c)}}), 6), 1);
    EXPECT_EQ(font_->engine, kFontKindColourBitmap);
    ASSERT_TRUE(font_->glyphBitmap && font_->glyphMask);
    for (int y = 0; y < c.ySize; ++y)
        for (int x = 0; x < c.modulo * 8; ++x) {
            const uint32_t index = StripPixel(c, x, y);
            const bool shown = index != 0 && index < c.colours.size();
            ASSERT_EQ(ReadBitmapPixel(font_->glyphMask.get(), x, y, true), shown ? 1u : 0u) << x << "," << y;
            if (shown) {
                ASSERT_EQ(ReadBitmapPixel(font_->glyphBitmap.get(), x, y, false), PaletteColour(c, index));
            }
        }
}

TEST_F(BitmapFontLoad, ColourFontsLoadedWhileDeclaringKeepRawPixelsAndMissingPlanesReadAsZero) {
    FontLayout c = Colour(3);
    c.planes[1].clear();  // written as offset 0
    SetRuntimeTag(kTagDeclaring, 1);
    ASSERT_EQ(Load(dir_.WriteFont("raw", {{6, WriteFontFile(c)}}), 6), 1);
    EXPECT_FALSE(font_->glyphBitmap);
    ASSERT_EQ(font_->rawWidth, 24);
    ASSERT_EQ(font_->rawHeight, 6);
    for (int y = 0; y < 6; ++y)
        for (int x = 0; x < 24; ++x) {
            const uint32_t index = StripPixel(c, x, y);
            EXPECT_EQ(index & 2, 0u);
            const uint32_t want = index != 0 && index < c.colours.size() ? PaletteColour(c, index) : kFontKeyColour;
            ASSERT_EQ(font_->rawPixels[static_cast<size_t>(y * 24 + x)], want) << x << "," << y;
        }
}

TEST_F(BitmapFontLoad, EveryBrokenVariantFailsTheLoad) {
    for (const BrokenFont& f : BrokenFonts())
        EXPECT_EQ(Load(dir_.WriteFont("broken", {{f.size, f.bytes}}), f.size), 0) << f.what;
    Bytes contents = WriteContents({{"broken/7", 7}});
    contents[4 + 255] = 'x';  // the entry's name runs into its size
    EXPECT_EQ(Load(dir_.Write("unterminated.font", contents), 7), 0);
    EXPECT_EQ(Load(dir_.Write("wrongid.font", WriteContents({{"broken/7", 7}}, 0x0F01)), 7), 0);
    contents = WriteContents({{"broken/7", 7}});
    contents.resize(200);
    EXPECT_EQ(Load(dir_.Write("cut.font", contents), 7), 0);
}

// A linked bitmap font: a flags word, then the contents file, whose entry
// names the font file's place in the same container.
TEST_F(BitmapFontLoad, ALinkedFontOpensThroughItsChunkName) {
    const Bytes fontFile = WriteFontFile(Proportional(false));
    Bytes container(100, 0xEE);
    const size_t fontAt = container.size();
    AppendBytes(container, fontFile);
    const size_t chunkAt = container.size();
    const std::string entry =
        "::linkedfont" + std::to_string(fontAt) + ":" + std::to_string(fontFile.size()) + "*prop/7";
    Bytes chunk(4, 0);
    const Bytes contents = WriteContents({{entry, 7}});
    AppendBytes(chunk, contents);
    AppendBytes(container, chunk);
    container.resize(container.size() + 50, 0xEE);
    const std::string path = dir_.Write("applet.qba", container);
    const std::string name = MakeChunkName("prop.font", chunkAt, chunk.size(), 0, path.c_str());

    qbFont* font = nullptr;
    ASSERT_EQ(OpenFontRecord(name.c_str(), 7, kFontEngineNative, 1, 1, &font), 0) << GetErrorDetail();
    FontPtr owner(font);
    EXPECT_EQ(font->engine, kFontKindBitmap);
    EXPECT_STREQ(font->name, "prop.font");
    EXPECT_EQ(BitmapDataOf(font)->charLoc, Proportional(false).charLoc);

    // An entry may also be a whole chunk name, which says its own file, or
    // one cut short of its file's path, which lies beside the contents; a
    // string file's name is none.
    const std::string elsewhere = dir_.Write("fonts.bin", fontFile);
    const std::string asOwn = MakeChunkName("prop", 0, fontFile.size(), 0, elsewhere.c_str());
    const std::string beside = std::string(kChunkNamePrefix) + std::to_string(fontAt) + ":" +
                               std::to_string(fontFile.size()) + "*prop/7";
    const std::string stream = std::string(kChunkNamePrefix) + "S9:" + std::to_string(fontFile.size()) + "*prop/7";
    for (const auto& [form, opens] : {std::pair{asOwn, true}, std::pair{beside, true}, std::pair{stream, false}}) {
        SCOPED_TRACE(form);
        Bytes other(4, 0);
        AppendBytes(other, WriteContents({{form, 7}}));
        Bytes holder(container.begin(), container.begin() + static_cast<ptrdiff_t>(chunkAt));
        AppendBytes(holder, other);
        const std::string holderPath = dir_.Write("other.qba", holder);
        const int code = OpenFontRecord(MakeChunkName("prop.font", chunkAt, other.size(), 0, holderPath.c_str()).c_str(),
                                        7, kFontEngineNative, 0, 1, &font);
        if (!opens) {
            EXPECT_EQ(code, ERR_OPENFONT);
            continue;
        }
        ASSERT_EQ(code, 0);
        FontPtr opened(font);
        EXPECT_EQ(BitmapDataOf(font)->charLoc, Proportional(false).charLoc);
    }

    // A native font's skip length that runs past its chunk.
    Bytes native = {0, 0, 0, 0x14, 0, 0, 0, 9, 1, 2, 3, 4};
    const std::string nativePath = dir_.Write("native.qba", native);
    EXPECT_EQ(OpenFontRecord(MakeChunkName("n.ttf", 0, native.size(), 0, nativePath.c_str()).c_str(), 7,
                             kFontEngineNative, 1, 1, &font),
              ERR_READ);
    native[7] = 4;  // now it fits: the native engine, which has no fonts here, is asked
    dir_.Write("native.qba", native);
    EXPECT_EQ(OpenFontRecord(MakeChunkName("n.ttf", 0, native.size(), 0, nativePath.c_str()).c_str(), 7,
                             kFontEngineNative, 1, 1, &font),
              ERR_OPENFONT);
}
