// Text in paths: what AddTextToPath stores and refuses, the re-pointing of
// text handles at another engine, and text outlines drawn where FreeType
// puts the same glyphs' ink.
#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_BBOX_H
#include FT_OUTLINE_H

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "core/errcodes.h"
#include "core/objects.h"
#include "libs/libcall_fixture.h"
#include "text/font.h"
#include "text/fontcache.h"
#include "text/inbuiltfont.h"
#include "text/text.h"
#include "text/textlib.h"
#include "vector/engine.h"
#include "vector/pathtext.h"
#include "vector/vectorlib.h"
#include "vector_helpers.h"

namespace {

std::string Err(int code) {
    std::string text = "E";
    text += std::to_string(code);
    return text;
}

class PathText : public libstest::LibCallFixture {
protected:
    void SetUp() override {
        LibCallFixture::SetUp();
        for (auto init : {InitTextLibrary, InitVectorLibrary}) {
            VmPushValue(L, kGlobalsIndex);
            ASSERT_EQ(init(L), 0);
            VmSetTop(L, 0);
        }
    }
    void TearDown() override {
        FreeVectorLibrary(L);
        FreeTextLibrary(L);
        SetDefaultEncodingValue(kEncodingUTF8);
        FreeObjectTypeRegistry();
        LibCallFixture::TearDown();
    }
    qbFont* UseVera(int32_t size) {
        qbFont* font = nullptr;
        EXPECT_EQ(OpenFontCached(":::default_sans", size, kFontEngineInbuilt, 1, 0, &font), 0);
        GetTextStyle()->font = font;
        return font;
    }
    qbPath* Find(int id) {
        qbPath* p = nullptr;
        EXPECT_EQ(GetPath(ObjectID{id, nullptr}, &p), 0);
        return p;
    }
    // AddTextToPath with an "encoding" option.
    std::string AddText(const std::string& text, double encoding) {
        VmSetTop(L, 0);
        VmPushNumber(L, 1);
        VmPushLString(L, text.data(), text.size());
        VmPushNewTable(L);
        VmPushString(L, "encoding");
        VmPushNumber(L, encoding);
        VmRawSet(L, -3);
        const int err = CallCommand(L, "AddTextToPath", 3, 0);
        return err ? Err(err) : "";
    }
    const char* TextOf(const uint8_t* command) const {
        return reinterpret_cast<const char*>(command + QB_PATH_CODE_SIZE + QB_PATH_TEXT_ARGS);
    }
};

TEST_F(PathText, StoresTheEnginesHandleTheSizeAndUtf8) {
    EXPECT_EQ(Run("StartPath", {1.0}), "");
    // The default font is a bitmap font.
    EXPECT_EQ(Run("AddTextToPath", {1.0, std::string("a")}), Err(ERR_VFONTTYPE));
    EXPECT_EQ(Find(1)->commands, nullptr);
    qbFont* font = UseVera(30);
    EXPECT_EQ(AddText("a", 2), Err(ERR_WRONGUSAGE));
    EXPECT_EQ(AddText("a", -1), Err(ERR_WRONGUSAGE));
    EXPECT_EQ(Find(1)->commands, nullptr);

    EXPECT_EQ(AddText("\xe9t\xe9", kEncodingLatin1), "");
    const uint8_t* p = Find(1)->commands.get();
    EXPECT_EQ(ReadPathInt(p), QB_PATH_TEXT);
    EXPECT_EQ(ReadPathPointer(p + QB_PATH_CODE_SIZE), InbuiltDataOf(font)->face);
    EXPECT_EQ(ReadPathInt(p + QB_PATH_CODE_SIZE + 8), 30);
    EXPECT_STREQ(TextOf(p), "\xc3\xa9t\xc3\xa9");
    p += PathCommandSize(p);
    EXPECT_EQ(AddText("\xc3\xa9", kEncodingUTF8), "");
    EXPECT_STREQ(TextOf(p), "\xc3\xa9");
    // Without the option the text library's encoding holds.
    p += PathCommandSize(p);
    SetDefaultEncodingValue(kEncodingLatin1);
    EXPECT_EQ(Run("AddTextToPath", {1.0, std::string("\xfc")}), "");
    EXPECT_STREQ(TextOf(p), "\xc3\xbc");
    EXPECT_EQ(PathStreamLength(Find(1)->commands.get()), Find(1)->writeOffset);
}

// A second engine whose handles are its own tokens.
int tokens[4];
int tokenCount = 0;
void* MakeToken(void*) { return tokenCount < 4 ? &tokens[tokenCount++] : nullptr; }

TEST_F(PathText, TextHandlesFollowTheDrawingEngine) {
    qbFont* sans = UseVera(20);
    EXPECT_EQ(Run("StartPath", {1.0}), "");
    EXPECT_EQ(Run("AddTextToPath", {1.0, std::string("ab")}), "");
    EXPECT_EQ(Run("LineTo", {1.0, 5.0, 5.0}), "");
    qbFont* serif = nullptr;
    ASSERT_EQ(OpenFontCached(":::default_serif", 20, kFontEngineInbuilt, 1, 0, &serif), 0);
    GetTextStyle()->font = serif;
    EXPECT_EQ(Run("AddTextToPath", {1.0, std::string("c")}), "");

    qbVectorEngine other;
    other.hooks.createVectorFont = MakeToken;
    tokenCount = 0;
    uint8_t* stream = Find(1)->commands.get();
    uint8_t* third = stream + PathCommandSize(stream);
    third += PathCommandSize(third);
    ASSERT_EQ(ResolvePathTextHandles(stream, &other), 0);
    EXPECT_EQ(ReadPathPointer(stream + QB_PATH_CODE_SIZE), &tokens[0]);
    EXPECT_EQ(ReadPathPointer(third + QB_PATH_CODE_SIZE), &tokens[1]);
    EXPECT_EQ(FindFontByEngineHandle(&tokens[1]), serif);
    // Once made, a font's handle is reused.
    ASSERT_EQ(ResolvePathTextHandles(stream, &other), 0);
    EXPECT_EQ(tokenCount, 2);
    ASSERT_EQ(ResolvePathTextHandles(stream, InbuiltVectorEngine()), 0);
    EXPECT_EQ(ReadPathPointer(stream + QB_PATH_CODE_SIZE), InbuiltDataOf(sans)->face);
    EXPECT_EQ(ReadPathPointer(third + QB_PATH_CODE_SIZE), InbuiltDataOf(serif)->face);

    // An engine that makes no handle, and a handle no font holds.
    qbVectorEngine refusing;
    EXPECT_EQ(ResolvePathTextHandles(stream, &refusing), ERR_VFONT);
    int stray = 0;
    WritePathPointer(stream + QB_PATH_CODE_SIZE, &stray);
    EXPECT_EQ(ResolvePathTextHandles(stream, InbuiltVectorEngine()), ERR_VFONT);
    FreeFontEngineHandles();
}

// FreeType's ink box of a text laid out glyph after glyph without kerning,
// in path pixels (y down, baseline at 0).
struct InkBox {
    double x1 = 1e9, y1 = 1e9, x2 = -1e9, y2 = -1e9;
};
InkBox FreeTypeInk(const char* text, int size) {
    InkBox box;
    FT_Library library = nullptr;
    FT_Face face = nullptr;
    EXPECT_EQ(FT_Init_FreeType(&library), 0);
    EXPECT_EQ(FT_New_Face(library, "/usr/share/fonts/truetype/ttf-bitstream-vera/Vera.ttf", 0, &face), 0);
    if (!face) return box;
    FT_Set_Char_Size(face, size * 64, size * 64, 72, 72);
    double pen = 0;
    for (const char* c = text; *c; ++c) {
        EXPECT_EQ(FT_Load_Glyph(face, FT_Get_Char_Index(face, static_cast<unsigned char>(*c)), FT_LOAD_NO_BITMAP), 0);
        FT_BBox b;
        FT_Outline_Get_BBox(&face->glyph->outline, &b);
        if (b.xMax > b.xMin) {
            box.x1 = std::min(box.x1, pen + b.xMin / 64.0);
            box.x2 = std::max(box.x2, pen + b.xMax / 64.0);
            box.y1 = std::min(box.y1, -b.yMax / 64.0);
            box.y2 = std::max(box.y2, -b.yMin / 64.0);
        }
        pen += face->glyph->advance.x / 64.0;
    }
    FT_Done_Face(face);
    FT_Done_FreeType(library);
    return box;
}

TEST_F(PathText, VeraOutlinesFillFreeTypesInkBox) {
    const char* kText = "Quenbrook gy";
    const int kSize = 48;
    qbFont* font = UseVera(kSize);
    vectortest::Path p;
    p.Text(InbuiltDataOf(font)->face, kSize, kText);
    vectortest::Extents at;
    const vectortest::Mask m = vectortest::Draw(p, vectortest::Style(), 1, 1, &at);
    ASSERT_GT(m.width, 0);
    InkBox ink;
    for (int y = 0; y < m.height; ++y)
        for (int x = 0; x < m.width; ++x) {
            if (!m.at(x, y)) continue;
            ink.x1 = std::min(ink.x1, at.x1 + x);
            ink.x2 = std::max(ink.x2, at.x1 + x + 1);
            ink.y1 = std::min(ink.y1, at.y1 + y);
            ink.y2 = std::max(ink.y2, at.y1 + y + 1);
        }
    const InkBox want = FreeTypeInk(kText, kSize);
    EXPECT_NEAR(ink.x1, want.x1, 1);
    EXPECT_NEAR(ink.x2, want.x2, 1);
    EXPECT_NEAR(ink.y1, want.y1, 1);
    EXPECT_NEAR(ink.y2, want.y2, 1);
    // Solid inside: the stem of the "b" is fully covered somewhere.
    EXPECT_EQ(*std::max_element(m.bytes.begin(), m.bytes.end()), 255);
}

}  // namespace
