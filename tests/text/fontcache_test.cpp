// Choosing fonts by name through the commands: the cache that shares them,
// the name rules, font objects with their lookups and errors, font folders
// and kerning pairs; and the memory the cache's fonts keep.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "core/objectlist.h"
#include "command_call.h"
#include "core/errcodes.h"
#include "core/errors.h"
#include "core/objects.h"
#include "core/settings.h"
#include "core/vmhost.h"
#include "draw/attributes.h"
#include "imaging/bitmap.h"
#include "platform/platform.h"
#include "text/font.h"
#include "text/fontcache.h"
#include "text/fontwriter.h"
#include "text/hermeticfonts.h"
#include "text/text.h"
#include "text/textlib.h"

using namespace fontfixture;

namespace {

class FontCache : public ::testing::Test {
protected:
    void SetUp() override {
        InstallVmHost();
        L_ = VmOpen();
        ASSERT_NE(L_, nullptr);
        VmPushValue(L_, kGlobalsIndex);
        ASSERT_EQ(InitTextLibrary(L_), 0);
        VmSetTop(L_, 0);
        ASSERT_EQ(InitDefaultFont(), 0);
        SetRuntimeTag(kTagQuiet, 1);
        dir_.WriteFont("kerned", {{7, WriteFontFile(Proportional(true))}, {9, WriteFontFile(Monospaced())}});
        ASSERT_EQ(Call("AddFontPath", {dir_.Path("")}), 0);
    }
    void TearDown() override {
        FreeTextLibrary(L_);
        FreeObjectTypeRegistry();
        VmClose(L_);
        ResetRuntimeSettings();
    }

    // Pushes the strings, then the numbers; the error code.
    int Call(const char* command, std::initializer_list<std::string> strings,
             std::initializer_list<double> numbers = {}, int nresults = 0) {
        VmSetTop(L_, 0);
        for (const std::string& s : strings) VmPushLString(L_, s.data(), s.size());
        for (double n : numbers) VmPushNumber(L_, n);
        return CallCommand(L_, command, static_cast<int>(strings.size() + numbers.size()), nresults);
    }
    int SetFont(const std::string& name, double size, int cache = 1, int engine = kFontEngineNative) {
        VmSetTop(L_, 0);
        VmPushString(L_, name.c_str());
        VmPushNumber(L_, size);
        VmPushNewTable(L_);
        SetTableFieldInt(L_, "cache", cache);
        SetTableFieldInt(L_, "engine", engine);
        return CallCommand(L_, "SetFont", 3, 0);
    }
    // OpenFont(id or Nil, name, size); the result stays on the stack.
    int OpenFont(double id, const std::string& name, double size) {
        VmSetTop(L_, 0);
        if (id < 0)
            VmPushNil(L_);
        else
            VmPushNumber(L_, id);
        VmPushString(L_, name.c_str());
        VmPushNumber(L_, size);
        return CallCommand(L_, "OpenFont", 3, -1);
    }
    int CallId(const char* command, ObjectID id) {
        VmSetTop(L_, 0);
        PushObjectID(L_, id);
        return CallCommand(L_, command, 1, 0);
    }
    static qbFont* Current() { return GetTextStyle()->font; }
    static std::string Message(int code) {
        char text[kErrorTextSize];
        GetErrorText(code, text);
        return text;
    }

    ScratchFolder dir_;
    ScriptState* L_ = nullptr;
};

}  // namespace

TEST_F(FontCache, OneNameAndSizeOpensOnceUnlessTheCacheIsRefused) {
    ASSERT_EQ(SetFont("kerned", 7), 0);
    qbFont* first = Current();
    EXPECT_EQ(first->height, 7);
    ASSERT_EQ(SetFont("KERNED.FONT", 7), 0);
    EXPECT_EQ(Current(), first);
    ASSERT_EQ(SetFont("kerned", 9), 0);
    EXPECT_NE(Current(), first);
    ASSERT_EQ(SetFont("kerned", 7, 0), 0);
    qbFont* uncached = Current();
    EXPECT_NE(uncached, first);
    ASSERT_EQ(SetFont("kerned", 7, 0), 0);
    EXPECT_EQ(Current(), uncached);

    ASSERT_EQ(SetFont("topaz.font", 8), 0);
    qbFont* topaz = Current();
    ASSERT_EQ(SetFont("topaz", 8), 0);
    EXPECT_EQ(Current(), topaz);
    ASSERT_EQ(SetFont(":::default_bitmap", 8), 0);
    EXPECT_EQ(Current(), topaz);
}

TEST_F(FontCache, NamesWithAFolderNeedTheInbuiltEngine) {
    const std::string path = dir_.Path("kerned");
    EXPECT_EQ(SetFont(path, 7), ERR_FONTPATH);
    EXPECT_EQ(Message(ERR_FONTPATH), "Font name must not be a file!");
    EXPECT_EQ(SetFont("sub/kerned", 7), ERR_FONTPATH);
    // Without an inbuilt engine the open falls back to the native one,
    // which finds the ".font" file by its path.
    ASSERT_EQ(SetFont(path, 7, 1, kFontEngineInbuilt), 0);
    EXPECT_EQ(Current()->height, 7);
    EXPECT_EQ(SetFont(std::string(512, 'x'), 7), ERR_WRONGUSAGE);
    EXPECT_EQ(SetFont(std::string(511, 'x'), 7), ERR_OPENFONT);
}

TEST_F(FontCache, AFailedSetFontKeepsTheFontAndStyle) {
    ASSERT_EQ(SetFont("kerned", 7), 0);
    qbFont* kept = Current();
    GetTextStyle()->flags = kTextNormal | kTextBold;
    EXPECT_EQ(SetFont("kerned", 11), ERR_OPENFONT);
    EXPECT_EQ(Message(ERR_OPENFONT), "Cannot open font kerned with size 11!");
    EXPECT_EQ(Current(), kept);
    EXPECT_EQ(GetTextStyle()->flags, kTextNormal | kTextBold);
    VmSetTop(L_, 0);
    VmPushString(L_, "kerned");
    VmPushNumber(L_, 7);
    VmPushNumber(L_, 1);
    EXPECT_EQ(CallCommand(L_, "SetFont", 3, 0), ERR_TABLEORNIL);
}

TEST_F(FontCache, FontObjectsByNumberAndByHandle) {
    ASSERT_EQ(OpenFont(1, "kerned", 7), 0);
    ASSERT_EQ(VmGetTop(L_), 0);
    ASSERT_EQ(OpenFont(1, "kerned", 9), 0);
    int ones = 0;
    for (qbObject* o = FontObjectListHead()->head; o; o = o->next) ones += o->id == 1;
    EXPECT_EQ(ones, 1);
    qbFontObject* one = nullptr;
    ASSERT_EQ(FindFontObject(ObjectID{1, nullptr}, &one), 0);
    EXPECT_EQ(one->type, kObjectTypeFont);
    EXPECT_EQ(one->font->height, 8);
    // A failing open leaves the object it would have replaced.
    EXPECT_EQ(OpenFont(1, "kerned", 11), ERR_OPENFONT);
    EXPECT_EQ(FindFontObject(ObjectID{1, nullptr}, &one), 0);

    ASSERT_EQ(OpenFont(-1, "kerned", 7), 0);
    ASSERT_EQ(VmGetTop(L_), 1);
    ASSERT_EQ(VmType(L_, 1), kTypeLightUserdata);
    const ObjectID handle{0, VmToUserdata(L_, 1)};
    EXPECT_EQ(GetObjectTypeOfHandle(handle.handle), kObjectTypeFont);
    ASSERT_EQ(CallId("UseFont", handle), 0);
    EXPECT_EQ(Current()->height, 7);
    EXPECT_EQ(GetTextStyle()->flags, kTextNormal);
    ASSERT_EQ(CallId("CloseFont", handle), 0);
    EXPECT_EQ(CallId("UseFont", handle), ERR_FINDARRAY);
    // The font stays in the cache for the style that uses it.
    EXPECT_EQ(Current()->height, 7);

    EXPECT_EQ(CallId("CloseFont", ObjectID{5, nullptr}), ERR_FINDFONT2);
    EXPECT_EQ(Message(ERR_FINDFONT2), "Could not find font 5!");
    EXPECT_EQ(Call("FreeGlyphCache", {}, {1, 5}), ERR_FINDFONT2);
    EXPECT_EQ(Call("FreeGlyphCache", {}, {1, 1}), 0);
    EXPECT_EQ(Call("FreeGlyphCache", {}, {0}), 0);
}

TEST_F(FontCache, FontFoldersMustBeFoldersAndComeOnce) {
    ASSERT_EQ(FontSearchPaths().size(), 1u);
    std::string upper = dir_.Path("");
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    EXPECT_EQ(Call("AddFontPath", {upper}), 0);
    EXPECT_EQ(FontSearchPaths().size(), 1u);
    const std::string file = dir_.Path("kerned.font");
    EXPECT_EQ(Call("AddFontPath", {file}), ERR_LOCK2);
    EXPECT_EQ(Message(ERR_LOCK2), "Error locking " + file + "!");
    EXPECT_EQ(Call("AddFontPath", {dir_.Path("missing")}), ERR_LOCK2);
    EXPECT_EQ(FontSearchPaths().size(), 1u);
}

TEST_F(FontCache, KerningPairs) {
    EXPECT_EQ(Call("GetKerningPair", {"", "A"}, {}, 1), 0);
    EXPECT_EQ(VmToNumber(L_, -1), 0);
    EXPECT_EQ(Call("GetKerningPair", {"A", "V"}, {}, 1), 0);
    EXPECT_EQ(VmToNumber(L_, -1), 0);
    EXPECT_EQ(Call("GetKerningPair", {"A", "V"}, {2}, 1), ERR_WRONGUSAGE);
    EXPECT_EQ(Call("GetKerningPair", {std::string(200, 'a'), std::string(55, 'b')}, {}, 1), 0);
    EXPECT_EQ(Call("GetKerningPair", {std::string(200, 'a'), std::string(56, 'b')}, {}, 1), ERR_WRONGUSAGE);
}

namespace {

// GetAttribute(#FONT, id, attribute): the result on the stack, or the error.
int FontAttribute(ScriptState* L, double id, int32_t attribute) {
    VmSetTop(L, 0);
    VmPushNumber(L, kObjectTypeFont);
    VmPushNumber(L, id);
    VmPushNumber(L, attribute);
    const int n = cmdGetAttribute(L);
    return n >= 1000 ? n : 0;
}

TEST_F(FontCache, FontObjectsAnswerTheirMeasuresToGetAttribute) {
    ASSERT_EQ(OpenFont(1, "kerned", 9), 0);
    qbFontObject* one = nullptr;
    ASSERT_EQ(FindFontObject(ObjectID{1, nullptr}, &one), 0);
    const qbFont& f = *one->font;
    ASSERT_EQ(FontAttribute(L_, 1, 30), 0);
    EXPECT_EQ(VmToNumber(L_, -1), f.baseline);
    ASSERT_EQ(FontAttribute(L_, 1, 31), 0);
    EXPECT_EQ(VmToNumber(L_, -1), f.height - f.baseline);
    ASSERT_EQ(FontAttribute(L_, 1, 32), 0);
    EXPECT_EQ(VmGetTop(L_), 4);
    EXPECT_STREQ(VmToCString(L_, -1), f.name);
    ASSERT_EQ(FontAttribute(L_, 1, 33), 0);
    EXPECT_EQ(VmToNumber(L_, -1), 9);
    ASSERT_EQ(FontAttribute(L_, 1, 34), 0);
    EXPECT_EQ(VmToNumber(L_, -1), 0);  // a bitmap font
    ASSERT_EQ(FontAttribute(L_, 1, 35), 0);
    EXPECT_EQ(VmToNumber(L_, -1), f.antialiasCapable ? 1 : 0);
    EXPECT_EQ(FontAttribute(L_, 1, 0), ERR_UNKNOWNATTR);
    EXPECT_EQ(FontAttribute(L_, 2, 33), ERR_FINDFONT2);
}

}  // namespace

// What the font engines keep while a script draws at ever-new sizes, as a
// caption that zooms does: the process's resident memory stays within a
// bound, FreeGlyphCache gives the glyphs back, and a font put to sleep to
// keep the bound wakes as it was, while the fonts the script holds stay
// open. Memory is read from /proc, in the optimised build only (the
// sanitizers keep freed memory on purpose).
#if defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer) || __has_feature(memory_sanitizer)
#define QB_TEST_SANITIZED 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__) || !defined(NDEBUG)
#define QB_TEST_SANITIZED 1
#endif

namespace {

constexpr int64_t kMiB = int64_t{1} << 20;

int64_t ResidentBytes() {
    long pages = 0, resident = 0;
    FILE* f = std::fopen("/proc/self/statm", "r");
    if (!f) return -1;
    const int read = std::fscanf(f, "%ld %ld", &pages, &resident);
    std::fclose(f);
    return read == 2 ? int64_t{resident} * ::sysconf(_SC_PAGESIZE) : -1;
}

class FontMemory : public FontCache {
protected:
    void SetUp() override {
        hermeticfonts::Use();
        SetPlatformBackend(&LinuxPlatformOps());
        FontCache::SetUp();
        plane_.reset(AllocAlphaChannel(64, 64, true, nullptr, 0));
    }
    void TearDown() override {
        FontCache::TearDown();
        SetPlatformBackend(nullptr);
    }
    int SetFont(int32_t size) { return FontCache::SetFont("DejaVu Sans", size); }
    // "Ag" in the current font, anti-aliased, into a small plane (the
    // glyphs are rendered whole however little of them the plane shows).
    int Draw() {
        return RenderFontText(CurrentFont(*GetTextStyle()), plane_.get(), nullptr, 0, 0, "Ag", 2, kTextAntialias, 0,
                              {0, 0, 64, 64}, kFontPenMask);
    }
    BitmapPtr plane_;
};

}  // namespace

TEST_F(FontMemory, TwoThousandSizesDrawnStayWithinABound) {
#ifdef QB_TEST_SANITIZED
    GTEST_SKIP() << "resident memory is measured in the optimised build";
#endif
    // What the engines may keep for idle fonts (8 MB), the current font's
    // two glyphs at 2,000 pixels and FreeType's slot, with room for the
    // allocator's own.
    constexpr int64_t kBound = 48 * kMiB;
    ASSERT_EQ(SetFont(6), 0);
    ASSERT_EQ(Draw(), 0);
    const int64_t start = ResidentBytes();
    ASSERT_GT(start, 0);
    int64_t peak = start;
    for (int32_t size = 6; size < 2006; ++size) {
        ASSERT_EQ(SetFont(size), 0) << size;
        ASSERT_EQ(Draw(), 0) << size;
        peak = std::max(peak, ResidentBytes());
        ASSERT_LT(peak - start, kBound) << "at size " << size;
    }
    RecordProperty("peak_mib_above_start", static_cast<int>((peak - start) / kMiB));
}

TEST_F(FontMemory, FreeGlyphCacheGivesTheGlyphsBack) {
#ifdef QB_TEST_SANITIZED
    GTEST_SKIP() << "resident memory is measured in the optimised build";
#endif
    // Large sizes, whose glyphs are megabytes each, within the idle bound.
    for (int32_t size = 1000; size < 1004; ++size) {
        ASSERT_EQ(SetFont(size), 0);
        ASSERT_EQ(Draw(), 0);
    }
    const int64_t drawn = ResidentBytes();
    ASSERT_EQ(Call("FreeGlyphCache", {}, {0}), 0);
    const int64_t freed = ResidentBytes();
    // Four sizes of "A" and "g" at about 1,000 pixels: 2 MB a size; at
    // least half of it goes back.
    EXPECT_GT(drawn - freed, 4 * kMiB) << drawn / kMiB << " MB drawn, " << freed / kMiB << " MB freed";
    RecordProperty("freed_mib", static_cast<int>((drawn - freed) / kMiB));
    EXPECT_EQ(Draw(), 0);
}

// With no room for idle fonts, every font the script does not hold sleeps;
// the current one and that of a font object stay open, and a sleeping font
// measures as it did, whether asked for by name again or used by what kept
// it (a text object's style).
TEST_F(FontMemory, HeldFontsStayOpenAndSleepingFontsWakeAsTheyWere) {
    const size_t bound = SetIdleFontBound(0);
    ASSERT_EQ(OpenFont(1, "DejaVu Sans", 24), 0);
    const auto font = [](int32_t size) {
        for (qbFont* f : CachedFonts())
            if (f->size == size) return f;
        return static_cast<qbFont*>(nullptr);
    };
    const auto width = [](qbFont* f) {
        qbTextExtents e;
        EXPECT_EQ(MeasureFontText(f, "Hello", 5, 0, 0, &e), 0);
        return e.width;
    };
    ASSERT_EQ(SetFont(30), 0);
    ASSERT_EQ(Draw(), 0);
    qbFont* thirty = font(30);
    ASSERT_NE(thirty, nullptr);
    // Held as a text object's style holds it; nothing holds the others.
    const qbFontRef kept(thirty);
    const int32_t before = width(thirty);
    SetFontScale(thirty, 2.0, 1.0);
    const int32_t scaled = width(thirty);
    ASSERT_EQ(SetFont(40), 0);
    ASSERT_EQ(SetFont(50), 0);
    EXPECT_TRUE(thirty->asleep);
    EXPECT_FALSE(font(24)->asleep);
    EXPECT_FALSE(font(50)->asleep);
    // Kept by a style that is not the current one, it wakes on its use
    // with its scale.
    EXPECT_EQ(width(thirty), scaled);
    EXPECT_FALSE(thirty->asleep);
    ASSERT_EQ(SetFont(60), 0);
    EXPECT_TRUE(thirty->asleep);
    ASSERT_EQ(SetFont(30), 0);
    EXPECT_EQ(CurrentFont(*GetTextStyle()), thirty);
    EXPECT_FALSE(thirty->asleep);
    EXPECT_EQ(width(thirty), before);
    SetIdleFontBound(bound);
}

// A font let go while asleep stays until as many have been put to sleep
// again as were asleep at the last look (at first 64 and more): then all
// those nothing holds go at once.
TEST_F(FontMemory, FontsLetGoAsleepGoOnceSixtyFiveSleep) {
    const size_t bound = SetIdleFontBound(0);
    ASSERT_EQ(SetFont(9), 0);
    // n sizes held while others are used, let go, then one more ask.
    const auto left = [&](int32_t first, int32_t n) {
        {
            std::vector<qbFontRef> held;
            for (int32_t size = first; size < first + n; ++size) {
                EXPECT_EQ(SetFont(size), 0);
                held.emplace_back(CurrentFont(*GetTextStyle()));
            }
            EXPECT_EQ(SetFont(9), 0);
            EXPECT_EQ(SetFont(9), 0);
        }
        const auto asleep = static_cast<int32_t>(CachedFontCount());
        EXPECT_EQ(SetFont(10), 0);
        return asleep - static_cast<int32_t>(CachedFontCount());
    };
    const int32_t under = left(100, 64);
    EXPECT_LE(under, 0) << "64 asleep are not looked at";
    EXPECT_GE(left(200, 1), 64) << "the 65th sleeper takes them all";
    SetIdleFontBound(bound);
}
