// Vector-font handles: made once per font and engine, found again by
// handle, refused for fonts without an outline face, and released at the
// end.
#include <gtest/gtest.h>

#include "core/errcodes.h"
#include "core/objects.h"
#include "core/settings.h"
#include "core/vmhost.h"
#include "text/font.h"
#include "text/fontcache.h"
#include "text/text.h"
#include "text/textlib.h"
#include "vector/engine.h"
#include "vm/vm.h"

namespace {

class FontHandles : public ::testing::Test {
protected:
    void SetUp() override {
        InstallVmHost();
        L_ = VmOpen();
        ASSERT_NE(L_, nullptr);
        VmPushValue(L_, kGlobalsIndex);
        ASSERT_EQ(InitTextLibrary(L_), 0);
        VmSetTop(L_, 0);
        SetRuntimeTag(kTagQuiet, 1);
        InstallInbuiltVectorEngine();
    }
    void TearDown() override {
        FreeFontEngineHandles();
        FreeTextLibrary(L_);
        FreeObjectTypeRegistry();
        VmClose(L_);
        ResetRuntimeSettings();
    }
    ScriptState* L_ = nullptr;
};

TEST_F(FontHandles, OnePerFontAndEngine) {
    qbFont* font = nullptr;
    ASSERT_EQ(OpenFontCached(":::default_sans", 20, kFontEngineInbuilt, 1, 0, &font), 0);
    void* handle = nullptr;
    ASSERT_EQ(GetEngineFontHandle(font, InbuiltVectorEngine(), &handle), 0);
    ASSERT_NE(handle, nullptr);
    void* again = nullptr;
    ASSERT_EQ(GetEngineFontHandle(font, InbuiltVectorEngine(), &again), 0);
    EXPECT_EQ(again, handle);
    EXPECT_EQ(font->vectorFonts->next, nullptr);
    EXPECT_EQ(FindFontByEngineHandle(handle), font);
    EXPECT_EQ(FindFontByEngineHandle(&again), nullptr);
    FreeFontEngineHandles();
    EXPECT_EQ(font->vectorFonts, nullptr);
    EXPECT_EQ(FindFontByEngineHandle(handle), nullptr);
}

TEST_F(FontHandles, BitmapFontsHaveNone) {
    qbFont* font = nullptr;
    ASSERT_EQ(OpenFontCached(":::default_bitmap", 8, 0, 1, 0, &font), 0);
    void* handle = nullptr;
    EXPECT_EQ(GetEngineFontHandle(font, InbuiltVectorEngine(), &handle), ERR_VFONT);
    EXPECT_EQ(font->vectorFonts, nullptr);
}

}  // namespace
