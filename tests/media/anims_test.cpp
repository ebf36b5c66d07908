// Anims as script objects: loading from anim files and still pictures,
// building from brushes and anims, changing, freeing and taking frames,
// called as a script calls the commands, beside display 1 of the in-memory
// backend.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "animbuilder.h"
#include "avibuilder.h"
#include "core/errors.h"
#include "draw/draw.h"
#include "imaging/giffixtures.h"
#include "imaging/imagefixtures.h"
#include "media/animlib.h"
#include "media/anims.h"
#include "objects/bgpiclib.h"
#include "objects/show_fixture.h"
#include "objects/spritecmds.h"
#include "objects/sprites.h"

using animbuilder::AnimFile;
using animbuilder::DeltaOptions;
using animbuilder::Layout;
using animbuilder::Picture;

namespace {

using Fields = std::initializer_list<std::pair<const char*, double>>;

class AnimsTest : public ShowWorld {
protected:
    void SetUp() override {
        ShowWorld::SetUp();
        VmPushValue(L_, kGlobalsIndex);
        ASSERT_EQ(InitAnimLibrary(L_), 0);
        VmSetTop(L_, 0);
        VmPushValue(L_, kGlobalsIndex);
        ASSERT_EQ(InitDrawLibrary(L_), 0);
        VmSetTop(L_, 0);
        VmPushValue(L_, kGlobalsIndex);
        ASSERT_EQ(InitSpriteLibrary(L_), 0);
        VmSetTop(L_, 0);
        VmPushValue(L_, kGlobalsIndex);
        ASSERT_EQ(InitBGPicLibrary(L_), 0);
        VmSetTop(L_, 0);
        anim_ = WriteAnim("walk.anim", 5);
        // 8 x 6, pixel (x, y) = 0x010000 * x + 0x000100 * y + 0x40.
        std::vector<uint32_t> pixels;
        for (int y = 0; y < 6; ++y)
            for (int x = 0; x < 8; ++x) pixels.push_back(Pixel(x, y));
        png_ = dir_.File("grid.png");
        ASSERT_TRUE(imagefixtures::WriteRgbPng(png_, 8, 6, pixels, false, false));
    }
    void TearDown() override {
        FreeAllSprites(L_);
        FreeAllAnims(L_);
        SetPicturesPending(false);
        ShowWorld::TearDown();
    }

    static uint32_t Pixel(int x, int y) { return 0x010000u * x + 0x000100u * y + 0x40u; }
    // Row 0 pixel x has palette colour (x + frame) % 3.
    static Picture Frame(int f) {
        Picture p(32, 3);
        for (int x = 0; x < 16; ++x) p[static_cast<size_t>(x)] = static_cast<uint8_t>((x + f) % 3);
        p[16] = 1;
        return p;
    }
    std::string WriteAnim(const char* name, int frames) {
        Layout l;
        l.width = 16;
        l.height = 2;
        l.planes = 2;
        l.masking = 2;
        l.transparent = 3;
        l.palette = kPalette;
        AnimFile anim(l, Frame(0));
        for (int f = 1; f < frames; ++f) anim.AddDelta(Frame(f), DeltaOptions{});
        const std::string path = dir_.File(name);
        imagefixtures::WriteBytes(path, anim.Build());
        return path;
    }

    // One frame, without a transparent pen.
    std::string WriteUnkeyedAnim() {
        Layout l;
        l.width = 16;
        l.height = 2;
        l.planes = 2;
        l.palette = kPalette;
        const std::string path = dir_.File("plain.anim");
        imagefixtures::WriteBytes(path, AnimFile(l, Frame(0)).Build());
        return path;
    }

    // The grid of png_ with the alpha of pixel (x, y) 0x10 * x + y.
    std::string WriteAlphaPng() {
        std::vector<uint32_t> pixels;
        for (int y = 0; y < 6; ++y)
            for (int x = 0; x < 8; ++x) pixels.push_back(static_cast<uint32_t>(0x10 * x + y) << 24 | Pixel(x, y));
        const std::string path = dir_.File("alpha.png");
        EXPECT_TRUE(imagefixtures::WriteRgbPng(path, 8, 6, pixels, true, false));
        return path;
    }
    // LoadAnim(id, file, {fields}); id 0 is Nil (automatic).
    int Load(int32_t id, const std::string& file, Fields fields = {}) {
        if (id) VmPushNumber(L_, id);
        else VmPushNil(L_);
        VmPushString(L_, file.c_str());
        VmPushNewTable(L_);
        for (const auto& [k, v] : fields) SetTableFieldInt(L_, k, static_cast<int32_t>(v));
        return Run("LoadAnim", 3, id ? 0 : 1);
    }
    static qbAnim* Anim(ObjectID id, uint32_t flags = 0) {
        qbAnim* a = nullptr;
        FindAnim(nullptr, id, &a, flags);
        return a;
    }
    static qbAnim* Anim(int32_t id) { return Anim(ObjectID{id, nullptr}); }
    static qbBrush* Brush(int32_t id) {
        qbBrush* b = nullptr;
        GetBrushRecord(nullptr, ObjectID{id, nullptr}, &b, 0);
        return b;
    }
    static int CountAnims() {
        int n = 0;
        for (qbAnim* a = FirstAnim(); a; a = static_cast<qbAnim*>(a->next)) ++n;
        return n;
    }
    static int AlphaAt(const BitmapPtr& alpha, int32_t x, int32_t y) {
        return alpha->plane->data[static_cast<size_t>(y) * AlphaRowBytes(alpha->width) + static_cast<size_t>(x)];
    }
    static uint32_t At(const qbAnim* a, int frame, int x, int y) {
        return ReadBitmapPixel(a->frames[static_cast<size_t>(frame)].bitmap.get(), x, y, false);
    }
    int Attribute(int32_t id, int32_t attribute, double parameter = -1) {
        VmSetTop(L_, 0);
        for (double a : {4.0, double(id), double(attribute)}) VmPushNumber(L_, a);
        if (parameter >= 0) VmPushNumber(L_, parameter);
        return Run("GetAttribute", parameter < 0 ? 3 : 4, 1);
    }

    inline static const std::vector<uint32_t> kPalette = {0x000000, 0x112233, 0x445566, 0x778899};
    imagefixtures::ScratchDir dir_;
    std::string anim_, png_;
};

}  // namespace

TEST_F(AnimsTest, LoadsAnimFilesAndStillPictures) {
    ASSERT_EQ(Load(1, anim_), 0);
    const qbAnim* a = Anim(1);
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a->frameCount, 5);
    EXPECT_EQ(a->width, 16);
    EXPECT_EQ(a->height, 2);
    for (int f = 0; f < 5; ++f)
        for (int x = 0; x < 16; ++x) ASSERT_EQ(At(a, f, x, 0), kPalette[static_cast<size_t>((x + f) % 3)]) << f;

    // An automatic id comes back as light userdata.
    ASSERT_EQ(Load(0, anim_), 0);
    ASSERT_EQ(VmType(L_, -1), kTypeLightUserdata);
    const ObjectID automatic{0, VmToUserdata(L_, -1)};
    EXPECT_NE(Anim(automatic), nullptr);
    VmSetTop(L_, 0);

    // A PNG is one frame; with a grid, frames 5 and fpr 2 cut 2 + 2 + 1.
    ASSERT_EQ(Load(2, png_), 0);
    EXPECT_EQ(Anim(2)->frameCount, 1);
    EXPECT_EQ(At(Anim(2), 0, 7, 5), Pixel(7, 5));
    ASSERT_EQ(Load(3, png_, {{"width", 4}, {"height", 2}, {"frames", 5}, {"fpr", 2}}), 0);
    const qbAnim* grid = Anim(3);
    ASSERT_EQ(grid->frameCount, 5);
    EXPECT_EQ(grid->width, 4);
    EXPECT_EQ(At(grid, 1, 0, 0), Pixel(4, 0));
    EXPECT_EQ(At(grid, 4, 3, 1), Pixel(3, 5));
    // The bounds take two columns and three rows: 6 rows of height 2 fit,
    // height 3 does not; nor do bounds past 32 bits.
    EXPECT_EQ(Load(4, png_, {{"width", 4}, {"height", 3}, {"frames", 5}, {"fpr", 2}}), ERR_BRUSHSIZE);
    EXPECT_EQ(Load(4, png_, {{"width", 0x40000000}, {"height", 1}, {"frames", 4}, {"fpr", 4}}), ERR_BRUSHSIZE);
    EXPECT_EQ(Load(4, png_, {{"width", 1}, {"height", 0x40000000}, {"frames", 4}, {"fpr", 1}}), ERR_BRUSHSIZE);
    EXPECT_EQ(Anim(4), nullptr);
}

TEST_F(AnimsTest, LoadOptionsAndFailures) {
    EXPECT_EQ(Load(1, png_, {{"loadalpha", 1}, {"transparency", 0xFF0000}}), ERR_MASKNALPHA);
    EXPECT_EQ(Load(1, png_, {{"loadtransparency", 1}, {"transparency", 0xFF0000}}), ERR_WRONGUSAGE);
    EXPECT_EQ(Load(1, anim_, {{"frames", 2}, {"fromdisk", 1}}), ERR_WRONGUSAGE);
    EXPECT_EQ(Load(1, anim_, {{"loadalpha", 1}}), ERR_NOALPHA);
    EXPECT_EQ(Load(1, png_, {{"loadalpha", 1}}), ERR_NOALPHA);
    EXPECT_EQ(Load(1, anim_, {{"width", 4}, {"height", 2}}), ERR_TOOMANYARGS);
    const std::string junk = dir_.File("junk.bin");
    imagefixtures::WriteBytes(junk, std::vector<uint8_t>(64, 0x5A));
    EXPECT_EQ(Load(1, junk), ERR_OPENANIM2);

    // A failed load leaves the anim of the number as it was.
    ASSERT_EQ(Load(1, anim_), 0);
    const qbAnim* before = Anim(1);
    EXPECT_EQ(Load(1, dir_.File("missing")), ERR_READFILE);
    EXPECT_STREQ(GetErrorDetail(), dir_.File("missing").c_str());
    EXPECT_EQ(Anim(1), before);
    EXPECT_EQ(CountAnims(), 1);

    // "skiploopframes" drops an ANIM's last two frames, refuses two frames,
    // and leaves a GIF alone.
    ASSERT_EQ(Load(2, anim_, {{"skiploopframes", 1}}), 0);
    EXPECT_EQ(Anim(2)->frameCount, 3);
    EXPECT_EQ(Load(3, WriteAnim("two.anim", 2), {{"skiploopframes", 1}}), ERR_WRONGUSAGE);
    giffixtures::GifFile gif(2, 2);
    for (uint8_t f = 0; f < 3; ++f) gif.Image(0, 0, 2, 2, {f, f, f, f}, 2);
    const std::string gifPath = dir_.File("three.gif");
    imagefixtures::WriteBytes(gifPath, gif.Bytes());
    ASSERT_EQ(Load(3, gifPath, {{"skiploopframes", 1}}), 0);
    EXPECT_EQ(Anim(3)->frameCount, 3);

    // The file's transparent pen becomes each frame's mask.
    ASSERT_EQ(Load(4, anim_, {{"loadtransparency", 1}}), 0);
    const qbAnim* keyed = Anim(4);
    ASSERT_NE(keyed->frames[0].mask, nullptr);
    EXPECT_EQ(ReadBitmapPixel(keyed->frames[0].mask.get(), 0, 1, true), 1u);
    EXPECT_EQ(ReadBitmapPixel(keyed->frames[0].mask.get(), 1, 1, true), 0u);
}

// LoadAnim's third argument: a number is the transparent colour, Nil is no
// options; a grid needs both sizes, so a width alone on an anim file is
// no grid and no conflict.
TEST_F(AnimsTest, LoadAnimTakesANumberAsTheKeyColourAndNilAsNothing) {
    const uint32_t before = Real(10, 10);
    VmPushNumber(L_, 1);
    VmPushString(L_, png_.c_str());
    VmPushNumber(L_, Pixel(0, 0));
    ASSERT_EQ(Run("LoadAnim", 3), 0);
    ASSERT_EQ(RunNumbers("DisplayAnimFrame", {1, 10, 10, 1}), 0);
    EXPECT_EQ(Real(10, 10), before);
    EXPECT_EQ(Real(11, 10), Pixel(1, 0));
    VmPushNumber(L_, 2);
    VmPushString(L_, png_.c_str());
    VmPushNil(L_);
    ASSERT_EQ(Run("LoadAnim", 3), 0);
    EXPECT_EQ(Anim(2)->frames[0].mask, nullptr);
    ASSERT_EQ(Load(3, anim_, {{"width", 4}}), 0);
    EXPECT_EQ(Anim(3)->width, 16);
}

// ScaleAnim with Nil for the smooth switch scales plainly; one pixel wide
// is a size like any other.
TEST_F(AnimsTest, ScaleAnimTakesNilAsPlainAndOnePixelAsASize) {
    ASSERT_EQ(Load(1, anim_), 0);
    qbAnim* a = Anim(1);
    for (double v : {1.0, 32.0, 4.0}) VmPushNumber(L_, v);
    VmPushNil(L_);
    ASSERT_EQ(Run("ScaleAnim", 4), 0);
    EXPECT_EQ(a->smooth, 0);
    int blended = 0;
    for (int x = 0; x < 32; ++x)
        blended += std::find(kPalette.begin(), kPalette.end(), At(a, 0, x, 0)) == kPalette.end();
    EXPECT_EQ(blended, 0);
    ASSERT_EQ(RunNumbers("ScaleAnim", {1, 1, 4}), 0);
    EXPECT_EQ(a->width, 1);
    EXPECT_EQ(GetBitmapAttr(a->frames[0].bitmap.get(), kBitmapAttrWidth), 1);
}

// An AVI of one frame whose header claims 2^31 - 1, grown to 17 GiB of
// holes: the file could hold that many 8-byte chunks, but they were never
// written.
std::string SparseAVI(const imagefixtures::ScratchDir& dir) {
    avibuilder::Layout layout;
    layout.avihFrames = 0x7FFFFFFF;
    const std::vector<uint32_t> pixels(12, 0x123456);
    const std::string path = dir.File("sparse.avi");
    imagefixtures::WriteBytes(path, avibuilder::Build(layout, {avibuilder::Dib(pixels, 4, 3, false)}));
    return truncate(path.c_str(), int64_t{17} << 30) == 0 ? path : "";
}

// The frames a header claims are not memory to take: an anim holds the
// frames the file was read to hold.
TEST_F(AnimsTest, ASparseFileLoadsTheFramesItHolds) {
    const std::string sparse = SparseAVI(dir_);
    ASSERT_FALSE(sparse.empty());
    ASSERT_EQ(Load(1, sparse), 0);
    ASSERT_EQ(Load(2, sparse, {{"fromdisk", 1}}), 0);
    for (int32_t id : {1, 2}) {
        EXPECT_EQ(Anim(id)->frameCount, 1) << id;
        EXPECT_EQ(Anim(id)->delays.size(), 1u) << id;
    }
}

// Peak resident kilobytes since the last reset (VmHWM), or -1.
long PeakKiB() {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmHWM:", 0) == 0) return std::stol(line.substr(6));
    return -1;
}

TEST_F(AnimsTest, ASparseFileLoadsWithinTheMemoryOfWhatWasRead) {
#if defined(__SANITIZE_ADDRESS__)
#define QB_ANIMS_UNDER_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define QB_ANIMS_UNDER_ASAN 1
#endif
#endif
#ifdef QB_ANIMS_UNDER_ASAN
    GTEST_SKIP() << "the address sanitizer's own memory hides the load's";
#endif
    const std::string sparse = SparseAVI(dir_);
    ASSERT_FALSE(sparse.empty());
    // Writing 5 resets the peak to what is resident now.
    std::ofstream("/proc/self/clear_refs") << "5";
    const long before = PeakKiB();
    ASSERT_GT(before, 0);
    ASSERT_EQ(Load(1, sparse, {{"fromdisk", 1}}), 0);
    ASSERT_EQ(Load(2, sparse), 0);
    EXPECT_LT(PeakKiB() - before, 64 * 1024);
}

TEST_F(AnimsTest, FreeWhileALayerShowsTheAnim) {
    ASSERT_EQ(Load(1, anim_), 0);
    qbAnim* shown = Anim(1);
    ASSERT_EQ(AddLayerSource(kObjectTypeAnim, ObjectID{1, nullptr}), 0);
    ASSERT_EQ(RunNumbers("FreeAnim", {1}), 0);
    EXPECT_EQ(Anim(1), nullptr);
    EXPECT_TRUE(shown->freePending);
    EXPECT_EQ(shown->frameCount, 5);
    ASSERT_EQ(Load(1, png_), 0);
    EXPECT_EQ(Anim(1)->frameCount, 1);
    // The sweep frees it once the layer goes.
    FreeUnusedPendingAnims(L_);
    EXPECT_EQ(CountAnims(), 2);
    ASSERT_TRUE(RemoveLayerSource(kObjectTypeAnim, IDOf(*shown)));
    FreeUnusedPendingAnims(L_);
    EXPECT_EQ(CountAnims(), 1);

    // A change hands the layer a copy of the frames it shows.
    ASSERT_EQ(AddLayerSource(kObjectTypeAnim, ObjectID{1, nullptr}), 0);
    ASSERT_EQ(RunNumbers("ModifyAnimFrames", {1, 2}), 0);
    EXPECT_EQ(Anim(1)->frameCount, 3);
    EXPECT_FALSE(LayersShowObject(kObjectTypeAnim, ObjectID{1, nullptr}));
    const qbAnim* copy = static_cast<qbAnim*>(FirstAnim()->next);
    ASSERT_NE(copy, nullptr);
    EXPECT_TRUE(copy->freePending);
    EXPECT_EQ(copy->frameCount, 1);
}

TEST_F(AnimsTest, ModifyAnimFrames) {
    ASSERT_EQ(Load(1, anim_), 0);
    qbAnim* a = Anim(1);
    ASSERT_EQ(RunNumbers("SetAnimFrameDelay", {1, 2, 77}), 0);
    EXPECT_EQ(RunNumbers("ModifyAnimFrames", {1, -5}), ERR_WRONGUSAGE);
    EXPECT_EQ(RunNumbers("ModifyAnimFrames", {1, 0}), ERR_WRONGUSAGE);
    EXPECT_EQ(RunNumbers("ModifyAnimFrames", {1, 1, -1}), ERR_WRONGUSAGE);
    // An insertion past count + 1 is refused and changes nothing.
    EXPECT_EQ(RunNumbers("ModifyAnimFrames", {1, 1, 7}), ERR_WRONGUSAGE);
    EXPECT_EQ(RunNumbers("ModifyAnimFrames", {1, -2, 5}), ERR_WRONGUSAGE);
    EXPECT_EQ(a->frameCount, 5);
    // Two blank frames at 2: the old second frame moves to 4 with its delay.
    ASSERT_EQ(RunNumbers("ModifyAnimFrames", {1, 2, 2}), 0);
    ASSERT_EQ(a->frameCount, 7);
    ASSERT_EQ(a->frames.size(), 7u);
    EXPECT_EQ(At(a, 1, 3, 0), 0u);
    EXPECT_EQ(At(a, 3, 0, 0), kPalette[1]);
    EXPECT_EQ(a->delays[3], 77u);
    EXPECT_EQ(a->delays[1], 0u);
    // Appending at count + 1 is allowed; removing count - 1 leaves one.
    ASSERT_EQ(RunNumbers("ModifyAnimFrames", {1, 1, 8}), 0);
    ASSERT_EQ(RunNumbers("ModifyAnimFrames", {1, -7}), 0);
    EXPECT_EQ(a->frameCount, 1);
    EXPECT_EQ(At(a, 0, 0, 0), kPalette[0]);

    ASSERT_EQ(Load(2, anim_, {{"fromdisk", 1}}), 0);
    EXPECT_EQ(RunNumbers("ModifyAnimFrames", {2, -1}), ERR_ANIMDISK);

    // A playing anim refuses changes and being freed.
    a->lockCount = 1;
    EXPECT_EQ(RunNumbers("ModifyAnimFrames", {1, 1}), ERR_LOCKEDOBJ);
    EXPECT_EQ(RunNumbers("ScaleAnim", {1, 8, 8}), ERR_LOCKEDOBJ);
    EXPECT_EQ(RunNumbers("FreeAnim", {1}), ERR_LOCKEDOBJ);
    a->lockCount = 0;
}

TEST_F(AnimsTest, ScaleAnimInMemoryAndFromDisk) {
    ASSERT_EQ(Load(1, anim_), 0);
    qbAnim* a = Anim(1);
    ASSERT_EQ(RunNumbers("ScaleAnim", {1, 16, 2, 1}), 0);
    EXPECT_EQ(a->smooth, 0);
    ASSERT_EQ(RunNumbers("ScaleAnim", {1, 32, 4}), 0);
    EXPECT_EQ(a->width, 32);
    EXPECT_EQ(a->sourceHeight, 4);
    EXPECT_EQ(At(a, 2, 3, 1), kPalette[(1 + 2) % 3]);
    VmPushNumber(L_, 1);
    VmPushString(L_, "50%");
    VmPushString(L_, "50%");
    ASSERT_EQ(Run("ScaleAnim", 3), 0);
    EXPECT_EQ(a->width, 16);
    EXPECT_EQ(GetBitmapAttr(a->frames[4].bitmap.get(), kBitmapAttrWidth), 16);

    // From disk: frames come scaled on the way out.
    ASSERT_EQ(Load(2, anim_, {{"fromdisk", 1}}), 0);
    qbAnim* disk = Anim(2);
    EXPECT_TRUE(disk->frames.empty());
    ASSERT_EQ(RunNumbers("ScaleAnim", {2, 32, 4, 1}), 0);
    EXPECT_EQ(disk->smooth, 1);
    EXPECT_EQ(disk->sourceWidth, 16);
    ASSERT_EQ(RunNumbers("GetAnimFrame", {5, 3, 2}), 0);
    const qbBrush* b = Brush(5);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(b->width, 32);
    EXPECT_EQ(GetBitmapAttr(b->bitmap, kBitmapAttrHeight), 4);
    EXPECT_EQ(ReadBitmapPixel(b->bitmap, 0, 0, false), kPalette[2]);
    // Smooth scaling blends neighbours; the plain scaler only repeats them.
    const auto blends = [&](int32_t anim) {
        EXPECT_EQ(RunNumbers("GetAnimFrame", {6, 1, double(anim)}), 0);
        int n = 0;
        for (int x = 0; x < 32; ++x) {
            const uint32_t c = ReadBitmapPixel(Brush(6)->bitmap, x, 0, false);
            n += std::find(kPalette.begin(), kPalette.end(), c) == kPalette.end();
        }
        return n;
    };
    EXPECT_GT(blends(2), 0);
    ASSERT_EQ(Load(3, anim_, {{"fromdisk", 1}}), 0);
    ASSERT_EQ(RunNumbers("ScaleAnim", {3, 32, 4}), 0);
    EXPECT_EQ(blends(3), 0);
}

// The frame a disk anim keeps on show follows each change of either side,
// also to a side the other one had, and of the frame number.
TEST_F(AnimsTest, TheShownDiskFrameFollowsEverySize) {
    ASSERT_EQ(Load(1, anim_, {{"fromdisk", 1}}), 0);
    qbAnim* a = Anim(1);
    const std::pair<int, int> sizes[] = {{16, 2}, {16, 16}, {16, 4}, {4, 4}, {3, 4}, {3, 7}};
    const auto shown = [&](int index) {
        qbBitmap *b = nullptr, *m = nullptr, *alpha = nullptr;
        EXPECT_EQ(ShowAnimFrame(a, index, &b, &m, &alpha), 0);
        return b;
    };
    for (const auto& [w, h] : sizes) {
        ASSERT_EQ(RunNumbers("ScaleAnim", {1, double(w), double(h)}), 0);
        for (int again = 0; again < 2; ++again) {
            qbBitmap* b = shown(1);
            ASSERT_NE(b, nullptr);
            EXPECT_EQ(GetBitmapAttr(b, kBitmapAttrWidth), w) << w << "x" << h;
            EXPECT_EQ(GetBitmapAttr(b, kBitmapAttrHeight), h) << w << "x" << h;
        }
    }
    ASSERT_EQ(RunNumbers("ScaleAnim", {1, 16, 2}), 0);
    EXPECT_EQ(ReadBitmapPixel(shown(1), 0, 0, false), kPalette[1]);
    EXPECT_EQ(ReadBitmapPixel(shown(2), 0, 0, false), kPalette[2]);
    EXPECT_EQ(ReadBitmapPixel(shown(0), 0, 0, false), kPalette[0]);
}

TEST_F(AnimsTest, FramesBecomeBrushesAndCopies) {
    ASSERT_EQ(Load(1, anim_), 0);
    ASSERT_EQ(RunNumbers("GetAnimFrame", {1, 3, 1}), 0);
    EXPECT_EQ(ReadBitmapPixel(Brush(1)->bitmap, 0, 0, false), kPalette[2]);
    EXPECT_EQ(RunNumbers("GetAnimFrame", {1, 0, 1}), ERR_ANIMFRAME);
    EXPECT_EQ(RunNumbers("GetAnimFrame", {1, 6, 1}), ERR_ANIMFRAME);
    EXPECT_NE(Brush(1), nullptr);
    EXPECT_EQ(RunNumbers("GetAnimFrame", {1, 1, 9}), ERR_FINDANIM);

    ASSERT_EQ(RunNumbers("ConvertToBrush", {4, 1, 2, 5}), 0);
    EXPECT_EQ(ReadBitmapPixel(Brush(2)->bitmap, 0, 0, false), kPalette[(0 + 4) % 3]);
    EXPECT_EQ(RunNumbers("ConvertToBrush", {4, 1, 2, 0}), ERR_ANIMFRAME);
    ASSERT_EQ(RunNumbers("GetBrushLink", {3, 4, 1, 2}), 0);
    EXPECT_EQ(ReadBitmapPixel(Brush(3)->bitmap, 0, 0, false), kPalette[1]);

    EXPECT_EQ(RunNumbers("CopyAnim", {1, 1}), ERR_WRONGUSAGE);
    ASSERT_EQ(RunNumbers("CopyAnim", {1, 2}), 0);
    ASSERT_EQ(RunNumbers("ModifyAnimFrames", {1, -4}), 0);
    EXPECT_EQ(Anim(2)->frameCount, 5);
    EXPECT_EQ(At(Anim(2), 4, 0, 0), kPalette[1]);

    // A disk anim's copy opens the file again.
    ASSERT_EQ(Load(3, anim_, {{"fromdisk", 1}}), 0);
    ASSERT_EQ(RunNumbers("CopyAnim", {3, 4}), 0);
    EXPECT_NE(Anim(4)->file, nullptr);
    ASSERT_EQ(RunNumbers("GetAnimFrame", {4, 2, 4}), 0);
    EXPECT_EQ(ReadBitmapPixel(Brush(4)->bitmap, 0, 0, false), kPalette[1]);

    // CreateAnim cuts a brush.
    ASSERT_EQ(RunNumbers("CreateBrush", {7, 8, 6, 0x123456}), 0);
    ASSERT_EQ(RunNumbers("CreateAnim", {5, 7, 4, 3, 4, 2}), 0);
    EXPECT_EQ(Anim(5)->frameCount, 4);
    EXPECT_EQ(At(Anim(5), 3, 3, 2), 0x123456u);
    EXPECT_EQ(RunNumbers("CreateAnim", {5, 7, 4, 3, 5, 2}), ERR_BRUSHSIZE);
    EXPECT_EQ(RunNumbers("CreateAnim", {5, 7, 4, 3, 4, 2, -1, 0}), ERR_NEGCOORDS);
    EXPECT_EQ(Anim(5)->frameCount, 4);
}

TEST_F(AnimsTest, DelaysAndAttributes) {
    ASSERT_EQ(Load(1, anim_), 0);
    EXPECT_EQ(RunNumbers("SetAnimFrameDelay", {1, 1, -1}), ERR_WRONGUSAGE);
    EXPECT_EQ(RunNumbers("SetAnimFrameDelay", {1, 6, 10}), ERR_ANIMFRAME);
    ASSERT_EQ(RunNumbers("SetAnimFrameDelay", {1, 1, 0}), 0);
    ASSERT_EQ(RunNumbers("SetAnimFrameDelay", {1, 2, 120}), 0);
    ASSERT_EQ(Attribute(1, 37, 2), 0);
    EXPECT_EQ(VmToNumber(L_, -1), 120);
    ASSERT_EQ(Attribute(1, 37, 1), 0);
    EXPECT_EQ(VmToNumber(L_, -1), 0);
    EXPECT_EQ(Attribute(1, 37, 0), ERR_ANIMFRAME);
    ASSERT_EQ(Attribute(1, 11), 0);
    EXPECT_EQ(VmToNumber(L_, -1), 5);
    ASSERT_EQ(Attribute(1, 0), 0);
    EXPECT_EQ(VmToNumber(L_, -1), 16);
    ASSERT_EQ(Attribute(1, 16), 0);
    EXPECT_EQ(VmToNumber(L_, -1), 0);
    ASSERT_EQ(Attribute(1, 91), 0);
    EXPECT_STREQ(VmToCString(L_, -1), "inbuilt");
    EXPECT_EQ(Attribute(2, 0), ERR_FINDANIM);
    VmSetTop(L_, 0);
}

TEST_F(AnimsTest, SelectedFramesTakeDrawingAndRefuseChanges) {
    ASSERT_EQ(Load(1, anim_), 0);
    ASSERT_EQ(RunNumbers("SelectAnim", {1, 2}), 0);
    EXPECT_EQ(RunNumbers("ModifyAnimFrames", {1, 1}), ERR_MODIFYAANIM);
    EXPECT_EQ(RunNumbers("ScaleAnim", {1, 8, 8}), ERR_MODIFYAANIM);
    EXPECT_EQ(RunNumbers("FreeAnim", {1}), ERR_MODIFYAANIM);
    ASSERT_EQ(RunNumbers("Cls", {0xFF00FF}), 0);
    ASSERT_EQ(Run("EndSelect", 0), 0);
    EXPECT_EQ(At(Anim(1), 1, 5, 1), 0xFF00FFu);
    EXPECT_EQ(At(Anim(1), 2, 5, 1), kPalette[3]);
    // The mask of a frame is made when drawing goes into it.
    ASSERT_EQ(RunNumbers("SelectMask", {1, 4, 3}), 0);
    ASSERT_EQ(RunNumbers("Cls", {0}), 0);
    ASSERT_EQ(Run("EndSelect", 0), 0);
    EXPECT_NE(Anim(1)->frames[2].mask, nullptr);
    EXPECT_EQ(RunNumbers("SelectAnim", {1, 6}), ERR_ANIMFRAME);
    ASSERT_EQ(Load(2, anim_, {{"fromdisk", 1}}), 0);
    EXPECT_EQ(RunNumbers("SelectAnim", {2, 1}), ERR_ANIMDISK);
}

TEST_F(AnimsTest, FramesWaitForTheFirstDisplay) {
    SetPicturesPending(true);
    ASSERT_EQ(Load(1, anim_), 0);
    ASSERT_EQ(Load(2, png_, {{"width", 4}, {"height", 3}, {"frames", 4}, {"fpr", 2}}), 0);
    VmPushNumber(L_, 3);
    VmPushString(L_, png_.c_str());
    VmPushNewTable(L_);
    SetTableFieldString(L_, "cache", "grid");
    ASSERT_EQ(Run("LoadAnim", 3), 0);
    VmPushNumber(L_, 4);
    VmPushString(L_, dir_.File("not-read").c_str());
    VmPushNewTable(L_);
    SetTableFieldString(L_, "cachedload", "grid");
    ASSERT_EQ(Run("LoadAnim", 3), 0);
    for (int id : {1, 2, 4}) {
        ASSERT_FALSE(Anim(id)->frames.empty());
        EXPECT_EQ(Anim(id)->frames[0].bitmap, nullptr) << id;
        EXPECT_FALSE(Anim(id)->frames[0].raw.empty()) << id;
    }
    ASSERT_EQ(LoadPendingAnims(L_), 0);
    SetPicturesPending(false);
    EXPECT_EQ(At(Anim(1), 4, 0, 0), kPalette[1]);
    EXPECT_EQ(At(Anim(2), 3, 1, 2), Pixel(5, 5));
    EXPECT_EQ(At(Anim(4), 0, 7, 5), Pixel(7, 5));
    EXPECT_TRUE(Anim(2)->frames[3].raw.empty());
}

TEST_F(AnimsTest, SpritesFromAnimFilesAndAnims) {
    VmPushNumber(L_, 1);
    VmPushString(L_, anim_.c_str());
    ASSERT_EQ(Run("LoadSprite", 2), 0);
    qbSprite* s = nullptr;
    ASSERT_EQ(GetSprite(L_, ObjectID{1, nullptr}, &s, 0), 0);
    EXPECT_EQ(s->frameCount, 5);
    EXPECT_EQ(ReadBitmapPixel(s->bitmaps[4].get(), 0, 0, false), kPalette[1]);
    // A picture still loads as one.
    VmPushNumber(L_, 2);
    VmPushString(L_, png_.c_str());
    ASSERT_EQ(Run("LoadSprite", 2), 0);

    ASSERT_EQ(Load(1, anim_), 0);
    ASSERT_EQ(RunNumbers("ModifyAnimFrames", {1, -3}), 0);
    ASSERT_EQ(RunNumbers("CreateSprite", {3, 4, 1}), 0);
    ASSERT_EQ(GetSprite(L_, ObjectID{3, nullptr}, &s, 0), 0);
    EXPECT_EQ(s->frameCount, 2);
    EXPECT_EQ(s->width, 16);
    EXPECT_EQ(ReadBitmapPixel(s->bitmaps[1].get(), 0, 0, false), kPalette[1]);
    EXPECT_EQ(RunNumbers("CreateSprite", {4, 4, 9}), ERR_FINDANIM);
}

// Frames read from disk on the way out: a layer shows the frame it is
// given, and a new frame or size replaces the one kept. A copy opens the
// file again, so a file gone since the load fails the copy.
TEST_F(AnimsTest, DiskFramesShowInLayersAndCopiesOpenTheFileAgain) {
    ASSERT_EQ(Load(1, anim_, {{"fromdisk", 1}}), 0);
    ASSERT_EQ(Run("EnableLayers", 0), 0);
    ASSERT_EQ(RunNumbers("DisplayAnimFrame", {1, 20, 10, 3}), 0);
    for (int x = 0; x < 16; ++x) ASSERT_EQ(Real(20 + x, 10), kPalette[static_cast<size_t>((x + 2) % 3)]) << x;
    VmPushNumber(L_, 1);
    VmPushNewTable(L_);
    SetTableFieldInt(L_, "frame", 5);
    ASSERT_EQ(Run("SetLayerStyle", 2), 0);
    for (int x = 0; x < 16; ++x) ASSERT_EQ(Real(20 + x, 10), kPalette[static_cast<size_t>((x + 4) % 3)]) << x;
    // The same frame at a new size is read again, scaled.
    ASSERT_EQ(RunNumbers("ScaleAnim", {1, 32, 4}), 0);
    ASSERT_EQ(RunNumbers("DisplayAnimFrame", {1, 20, 20, 5}), 0);
    EXPECT_EQ(Real(20 + 2, 20 + 1), kPalette[(1 + 4) % 3]);
    EXPECT_EQ(Real(20 + 31, 20), kPalette[(15 + 4) % 3]);

    ASSERT_EQ(unlink(anim_.c_str()), 0);
    EXPECT_EQ(RunNumbers("CopyAnim", {1, 4}), ERR_READFILE);
    EXPECT_EQ(Anim(4), nullptr);
}

// Frames kept as pixels until the first display: the transparent pen of
// the file keys them, a picture's alpha channel goes with each cell, and a
// copy made meanwhile takes the pixels, key and alpha, and becomes
// pictures with the others.
TEST_F(AnimsTest, PendingFramesKeepTheirKeyAndAlphaThroughACopy) {
    SetPicturesPending(true);
    ASSERT_EQ(Load(1, anim_, {{"loadtransparency", 1}}), 0);

    const std::string alpha = WriteAlphaPng();
    ASSERT_EQ(Load(3, alpha, {{"loadalpha", 1}, {"width", 4}, {"height", 3}, {"frames", 4}, {"fpr", 2}}), 0);

    ASSERT_EQ(RunNumbers("CopyAnim", {1, 4}), 0);
    ASSERT_EQ(RunNumbers("CopyAnim", {3, 5}), 0);
    for (int id : {4, 5}) {
        ASSERT_FALSE(Anim(id)->frames.empty()) << id;
        EXPECT_EQ(Anim(id)->frames[0].bitmap, nullptr) << id;
    }
    ASSERT_EQ(LoadPendingAnims(L_), 0);
    SetPicturesPending(false);
    for (int id : {1, 4}) {
        const qbAnim* keyed = Anim(id);
        EXPECT_EQ(At(keyed, 4, 0, 0), kPalette[1]) << id;
        ASSERT_NE(keyed->frames[0].mask, nullptr) << id;
        EXPECT_EQ(ReadBitmapPixel(keyed->frames[0].mask.get(), 0, 1, true), 1u) << id;
        EXPECT_EQ(ReadBitmapPixel(keyed->frames[0].mask.get(), 1, 1, true), 0u) << id;
    }
    for (int id : {3, 5}) {
        const qbAnim* cut = Anim(id);
        EXPECT_EQ(At(cut, 3, 1, 2), Pixel(5, 5)) << id;
        ASSERT_NE(cut->frames[3].alpha, nullptr) << id;
        EXPECT_EQ(AlphaAt(cut->frames[3].alpha, 1, 2), 0x10 * 5 + 5) << id;
        ASSERT_NE(cut->frames[1].alpha, nullptr) << id;
        EXPECT_EQ(AlphaAt(cut->frames[1].alpha, 3, 0), 0x10 * 7) << id;
    }
}

// An anim frame's alpha channel starts opaque, takes the alpha intensity
// where drawing goes, and replaces the frame's mask.
TEST_F(AnimsTest, SelectedAlphaChannelStartsOpaqueAndTakesTheIntensity) {
    ASSERT_EQ(Load(1, anim_, {{"loadtransparency", 1}}), 0);
    ASSERT_NE(Anim(1)->frames[1].mask, nullptr);
    ASSERT_EQ(RunNumbers("SelectAlphaChannel", {1, 4, 2}), 0);
    ASSERT_EQ(RunNumbers("SetAlphaIntensity", {100}), 0);
    ASSERT_EQ(RunNumbers("Plot", {3, 1, 0xFFFFFF}), 0);
    ASSERT_EQ(Run("EndSelect", 0), 0);
    const qbAnimFrame& f = Anim(1)->frames[1];
    EXPECT_EQ(f.mask, nullptr);
    ASSERT_NE(f.alpha, nullptr);
    EXPECT_EQ(AlphaAt(f.alpha, 3, 1), 100);
    EXPECT_EQ(AlphaAt(f.alpha, 4, 1), 255);
    EXPECT_EQ(AlphaAt(f.alpha, 0, 0), 255);
    EXPECT_EQ(Anim(1)->frames[0].alpha, nullptr);
}

// A sprite read from an anim file: no reader gives an alpha channel, an
// anim file cuts no grid, and a transparent pen asked of a file without
// one is refused.
TEST_F(AnimsTest, SpritesFromAnimFilesRefuseAlphaGridsAndAMissingPen) {
    const auto load = [&](const std::string& file, Fields fields) {
        VmPushNumber(L_, 5);
        VmPushString(L_, file.c_str());
        VmPushNewTable(L_);
        for (const auto& [k, v] : fields) SetTableFieldInt(L_, k, static_cast<int32_t>(v));
        return Run("LoadSprite", 3);
    };
    EXPECT_EQ(load(anim_, {{"loadalpha", 1}}), ERR_NOALPHA);
    EXPECT_STREQ(GetErrorDetail(), anim_.c_str());
    EXPECT_EQ(load(anim_, {{"width", 4}, {"height", 2}}), ERR_TOOMANYARGS);
    const std::string unkeyed = WriteUnkeyedAnim();
    EXPECT_EQ(load(unkeyed, {{"loadtransparency", 1}}), ERR_OPENANIM2);
    qbSprite* s = nullptr;
    EXPECT_NE(GetSprite(L_, ObjectID{5, nullptr}, &s, 0), 0);
    // With the pen the frames come keyed.
    ASSERT_EQ(load(anim_, {{"loadtransparency", 1}}), 0);
    ASSERT_EQ(GetSprite(L_, ObjectID{5, nullptr}, &s, 0), 0);
    ASSERT_EQ(s->frameCount, 5);
    ASSERT_NE(s->masks[0], nullptr);
    EXPECT_EQ(ReadBitmapPixel(s->masks[0].get(), 0, 1, true), 1u);
    EXPECT_EQ(ReadBitmapPixel(s->masks[0].get(), 1, 1, true), 0u);
}

// Inserted frames are black, with a mask all visible or an alpha channel
// all opaque when the first frame has one; before the first display they
// are pixels keyed as the first frame is.
TEST_F(AnimsTest, InsertedFramesTakeTheFirstFramesPlanesAndWaitWithIt) {
    ASSERT_EQ(Load(1, anim_, {{"loadtransparency", 1}}), 0);
    ASSERT_EQ(RunNumbers("ModifyAnimFrames", {1, 1, 2}), 0);
    const qbAnim* keyed = Anim(1);
    ASSERT_EQ(keyed->frameCount, 6);
    EXPECT_EQ(At(keyed, 1, 5, 1), 0u);
    EXPECT_EQ(keyed->frames[1].alpha, nullptr);
    ASSERT_NE(keyed->frames[1].mask, nullptr);
    for (int x : {0, 1, 15}) EXPECT_EQ(ReadBitmapPixel(keyed->frames[1].mask.get(), x, 1, true), 1u) << x;

    ASSERT_EQ(Load(2, WriteAlphaPng(), {{"loadalpha", 1}}), 0);
    ASSERT_EQ(RunNumbers("ModifyAnimFrames", {2, 1}), 0);
    const qbAnim* alpha = Anim(2);
    ASSERT_EQ(alpha->frameCount, 2);
    EXPECT_EQ(alpha->frames[1].mask, nullptr);
    ASSERT_NE(alpha->frames[1].alpha, nullptr);
    EXPECT_EQ(AlphaAt(alpha->frames[1].alpha, 0, 0), 255);
    EXPECT_EQ(AlphaAt(alpha->frames[1].alpha, 7, 5), 255);
    EXPECT_EQ(At(alpha, 1, 7, 5), 0u);

    SetPicturesPending(true);
    ASSERT_EQ(Load(3, anim_, {{"loadtransparency", 1}}), 0);
    ASSERT_EQ(RunNumbers("ModifyAnimFrames", {3, 1, 1}), 0);
    ASSERT_EQ(Anim(3)->frames.size(), 6u);
    EXPECT_EQ(Anim(3)->frames[0].bitmap, nullptr);
    EXPECT_EQ(Anim(3)->frames[0].rawKey, Anim(3)->frames[1].rawKey);
    ASSERT_EQ(LoadPendingAnims(L_), 0);
    SetPicturesPending(false);
    const qbAnim* waited = Anim(3);
    EXPECT_EQ(At(waited, 0, 4, 1), 0u);
    EXPECT_EQ(At(waited, 5, 0, 0), kPalette[1]);
    ASSERT_NE(waited->frames[1].mask, nullptr);
    EXPECT_EQ(ReadBitmapPixel(waited->frames[1].mask.get(), 0, 1, true), 1u);
}
