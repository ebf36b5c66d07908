// The loader chain: the header probe, the choice of reader, the platform
// decoder behind them, image-loader plugins in front, the wanted size, alpha
// modes and transparency, and the image handles.
#include <gtest/gtest.h>

#include "core/chunkname.h"
#include "core/errcodes.h"
#include "core/plugincaps.h"
#include "core/vectorname.h"
#include "imagefixtures.h"
#include "imaging/imageformats.h"
#include "imaging/loaderchain.h"
#include "platform/platform.h"

using namespace imagefixtures;

// The fake platform decoder's picture.
struct qbNativeImage {
    std::vector<uint32_t> pixels;
};

namespace {

int nativeCalls = 0;
int nativeFrees = 0;

int FakeDecode(qbNativeImageRequest* r) {
    ++nativeCalls;
    r->width = 3;
    r->height = 2;
    r->hasAlpha = 1;
    if (!r->probeOnly) r->image = new qbNativeImage{std::vector<uint32_t>(6, 0x80ABCDEFu)};
    return 0;
}
const uint32_t* FakeData(qbNativeImage* image) { return image ? image->pixels.data() : nullptr; }
void FakeFree(qbNativeImage* image) {
    ++nativeFrees;
    delete image;
}

// Installs a backend whose image decoder reads everything.
class NativeDecoder {
public:
    NativeDecoder() {
        ops_ = NullPlatformOps();
        ops_.DecodeNativeImage = &FakeDecode;
        ops_.GetNativeImageData = &FakeData;
        ops_.FreeNativeImage = &FakeFree;
        SetPlatformBackend(&ops_);
        nativeCalls = nativeFrees = 0;
    }
    ~NativeDecoder() { SetPlatformBackend(nullptr); }

private:
    qbPlatformOps ops_;
};

std::vector<uint8_t> Bytes(std::initializer_list<int> list) {
    std::vector<uint8_t> b;
    for (int v : list) b.push_back(static_cast<uint8_t>(v));
    return b;
}

qbImageProbe Probe(const std::string& path, const char* tag = nullptr, int* result = nullptr) {
    qbImageProbe p;
    const int r = ProbeImageFile(path.c_str(), tag, nullptr, kImageOpenMode, &p);
    if (result) *result = r;
    return p;
}

TEST(ImageProbe, HeadersOfEveryFormat) {
    ScratchDir dir;
    // BMP stored top-down: the positive height.
    std::vector<uint8_t> bmp(54, 0);
    bmp[0] = 'B', bmp[1] = 'M', bmp[18] = 7, bmp[22] = 0xFD, bmp[23] = 0xFF, bmp[24] = 0xFF, bmp[25] = 0xFF;
    WriteBytes(dir.File("td.bmp"), bmp);
    int r;
    qbImageProbe p = Probe(dir.File("td.bmp"), nullptr, &r);
    EXPECT_EQ(r, 1);
    EXPECT_EQ(p.width, 7);
    EXPECT_EQ(p.height, 3);
    EXPECT_EQ(p.hasAlpha, 0);

    // JPEG: APP0, a DQT, fill bytes, then SOF2 with 0x0123 x 0x0045.
    WriteBytes(dir.File("a.jpg"), Bytes({0xFF, 0xD8, 0xFF, 0xE0, 0, 4, 1, 2, 0xFF, 0xDB, 0, 3, 9, 0xFF, 0xFF, 0xC2, 0,
                                         11, 8, 0x00, 0x45, 0x01, 0x23, 3}));
    p = Probe(dir.File("a.jpg"), nullptr, &r);
    EXPECT_EQ(r, 1);
    EXPECT_EQ(p.width, 0x123);
    EXPECT_EQ(p.height, 0x45);

    // GIF89a with a global table of 4 entries and a transparent graphic
    // control extension after a comment extension.
    std::vector<uint8_t> gif = {'G', 'I', 'F', '8', '9', 'a', 10, 0, 20, 0, 0x81, 0, 0};
    gif.resize(gif.size() + 12, 0);
    for (int v : {0x21, 0xFE, 2, int{'h'}, int{'i'}, 0, 0x21, 0xF9, 4, 1, 0, 0, 0, 0}) gif.push_back(static_cast<uint8_t>(v));
    WriteBytes(dir.File("t.gif"), gif);
    p = Probe(dir.File("t.gif"));
    EXPECT_EQ(p.width, 10);
    EXPECT_EQ(p.height, 20);
    EXPECT_EQ(p.transparency, 1);

    // IFF ILBM: BMHD 32 x 16 with masking 2 (a transparent colour).
    std::vector<uint8_t> ilbm = {'F', 'O', 'R', 'M', 0, 0, 0, 40, 'I', 'L', 'B', 'M', 'B', 'M', 'H', 'D', 0, 0, 0, 20,
                                 0,   32,  0,   16,  0, 0, 0, 0,  5,   2,   0,   0};
    ilbm.resize(48, 0);
    WriteBytes(dir.File("a.iff"), ilbm);
    p = Probe(dir.File("a.iff"));
    EXPECT_EQ(p.width, 32);
    EXPECT_EQ(p.height, 16);
    EXPECT_EQ(p.transparency, 1);

    // TIFF (big-endian): width, height, RGB with 4 samples.
    std::vector<uint8_t> tiff = {'M', 'M', 0, 42, 0, 0, 0, 8, 0, 4};
    auto entry = [&](int tag, int type, uint32_t value) {
        for (int v : {tag >> 8, tag & 255, 0, type, 0, 0, 0, 1}) tiff.push_back(static_cast<uint8_t>(v));
        if (type == 3) {
            for (int v : {static_cast<int>(value >> 8), static_cast<int>(value & 255), 0, 0})
                tiff.push_back(static_cast<uint8_t>(v));
        } else {
            for (int s = 24; s >= 0; s -= 8) tiff.push_back(static_cast<uint8_t>(value >> s));
        }
    };
    entry(256, 4, 640);
    entry(257, 3, 480);
    entry(262, 3, 2);
    entry(277, 3, 4);
    WriteBytes(dir.File("a.tif"), tiff);
    p = Probe(dir.File("a.tif"), nullptr, &r);
    EXPECT_EQ(r, 1);
    EXPECT_EQ(p.width, 640);
    EXPECT_EQ(p.height, 480);
    EXPECT_EQ(p.hasAlpha, 1);
    // A TIFF is only probed: loading it with the inbuilt readers alone fails.
    qbImageLoadParams lp;
    const std::string tif = dir.File("a.tif");
    lp.fileName = tif.c_str();
    lp.loaderTag = "inbuilt";
    qbLoadedImage img;
    EXPECT_EQ(LoadImageThroughLoaders(lp, &img), ERR_LOADPICTURE2);
    EXPECT_STREQ(GetErrorDetail(), tif.c_str());
}

TEST(ImageProbe, UnknownMissingAndShortFiles) {
    ScratchDir dir;
    WriteBytes(dir.File("junk.bin"), std::vector<uint8_t>(10, 'z'));
    int r = -1;
    Probe(dir.File("junk.bin"), nullptr, &r);
    EXPECT_EQ(r, 0);
    Probe(dir.File("missing.png"), nullptr, &r);
    EXPECT_EQ(r, 0);
    // A PNG shorter than 1024 bytes probes from the zero-filled buffer.
    const auto px = TestPicture(3, 3, 1);
    ASSERT_TRUE(WriteRgbPng(dir.File("s.png"), 3, 3, px, false, false));
    const qbImageProbe p = Probe(dir.File("s.png"), nullptr, &r);
    EXPECT_EQ(r, 1);
    EXPECT_EQ(p.width, 3);

    qbImageLoadParams lp;
    const std::string missing = dir.File("missing.png");
    lp.fileName = missing.c_str();
    qbLoadedImage img;
    EXPECT_EQ(LoadImageThroughLoaders(lp, &img), ERR_READFILE);
    EXPECT_STREQ(GetErrorDetail(), missing.c_str());
    const std::string junk = dir.File("junk.bin");
    lp.fileName = junk.c_str();
    EXPECT_EQ(LoadImageThroughLoaders(lp, &img), ERR_LOADPICTURE2);
    EXPECT_STREQ(GetErrorDetail(), junk.c_str());
}

TEST(LoaderChain, LoadsEachFormatAndReportsTheInbuiltLoader) {
    ScratchDir dir;
    const auto px = TestPicture(6, 4, 2, true);
    ASSERT_TRUE(WriteRgbPng(dir.File("a.png"), 6, 4, px, true, false));
    qbImageLoadParams lp;
    const std::string png = dir.File("a.png");
    lp.fileName = png.c_str();
    lp.alphaMode = kAlphaIfPresent;
    qbLoadedImage img;
    ASSERT_EQ(LoadImageThroughLoaders(lp, &img), 0);
    EXPECT_EQ(img.width, 6);
    EXPECT_EQ(img.height, 4);
    EXPECT_EQ(img.rowLength, 6);
    EXPECT_EQ(img.hasAlpha, 1);
    EXPECT_EQ(img.loader, kLoaderInbuilt);
    EXPECT_EQ(img.transparency, -1);
    ASSERT_TRUE(img.alpha);
    EXPECT_EQ(std::vector<uint32_t>(GetImageHandlePixels(img.handle.get()), GetImageHandlePixels(img.handle.get()) + 24),
              px);
    EXPECT_FALSE(ImageHandleOwnsPixels(img.handle.get()));
    // A retained handle outlives the first release.
    qbImageHandle* h = img.handle.release();
    RetainImageHandle(h);
    ReleaseImageHandle(h);
    EXPECT_EQ(GetImageHandlePixels(h)[0], px[0]);
    ReleaseImageHandle(h);
}

TEST(LoaderChain, WantedSizeInPercentAndPixels) {
    ScratchDir dir;
    const auto px = TestPicture(200, 100, 3);
    ASSERT_TRUE(WriteRgbPng(dir.File("b.png"), 200, 100, px, false, false));
    const std::string png = dir.File("b.png");
    qbImageLoadParams lp;
    lp.fileName = png.c_str();
    lp.wantedWidth = -50;
    qbLoadedImage img;
    ASSERT_EQ(LoadImageThroughLoaders(lp, &img), 0);
    EXPECT_EQ(img.width, 100);
    EXPECT_EQ(img.height, 100);
    EXPECT_EQ(img.rowLength, 100);
    // Nearest scaling: each target pixel is some source pixel of its area.
    EXPECT_EQ(GetImageHandlePixels(img.handle.get())[0], px[0]);
    lp.wantedWidth = 33;
    lp.wantedHeight = 7;
    lp.smooth = 1;
    ASSERT_EQ(LoadImageThroughLoaders(lp, &img), 0);
    EXPECT_EQ(img.width, 33);
    EXPECT_EQ(img.height, 7);
}

TEST(LoaderChain, AlphaModesAndTransparency) {
    ScratchDir dir;
    const auto px = TestPicture(4, 4, 3);
    ASSERT_TRUE(WriteRgbPng(dir.File("o.png"), 4, 4, px, false, false));
    const std::string png = dir.File("o.png");
    qbImageLoadParams lp;
    lp.fileName = png.c_str();
    qbLoadedImage img;
    lp.alphaMode = kAlphaRequired;
    EXPECT_EQ(LoadImageThroughLoaders(lp, &img), ERR_NOALPHA);
    EXPECT_STREQ(GetErrorDetail(), png.c_str());
    EXPECT_FALSE(img.handle);
    lp.alphaMode = kAlphaIfPresent;
    lp.wantTransparency = 1;  // no test with alpha mode 2
    ASSERT_EQ(LoadImageThroughLoaders(lp, &img), 0);
    EXPECT_FALSE(img.alpha);
    lp.alphaMode = kAlphaNone;
    EXPECT_EQ(LoadImageThroughLoaders(lp, &img), ERR_NOTRANSPARENCY);
    EXPECT_STREQ(GetErrorDetail(), png.c_str());
}

TEST(LoaderChain, PlatformDecoderTakesWhatTheInbuiltReadersRefuse) {
    NativeDecoder native;
    ScratchDir dir;
    // A top-down BMP: the inbuilt reader refuses it.
    std::vector<uint8_t> bmp(58, 0);
    bmp[0] = 'B', bmp[1] = 'M', bmp[10] = 54, bmp[14] = 40, bmp[18] = 1, bmp[22] = 0xFF, bmp[23] = 0xFF,
    bmp[24] = 0xFF, bmp[25] = 0xFF, bmp[26] = 1, bmp[28] = 24;
    const std::string name = dir.File("td.bmp");
    WriteBytes(name, bmp);
    {
        qbImageLoadParams lp;
        lp.fileName = name.c_str();
        lp.alphaMode = kAlphaIfPresent;
        qbLoadedImage img;
        ASSERT_EQ(LoadImageThroughLoaders(lp, &img), 0);
        EXPECT_EQ(img.loader, kLoaderNative);
        EXPECT_EQ(img.width, 3);
        EXPECT_EQ(img.hasAlpha, 1);
        EXPECT_TRUE(img.alpha);
        EXPECT_EQ(GetImageHandlePixels(img.handle.get())[5], 0x80ABCDEFu);
        // "inbuilt" alone: no platform decoder.
        lp.loaderTag = "inbuilt";
        qbLoadedImage refused;
        EXPECT_EQ(LoadImageThroughLoaders(lp, &refused), ERR_LOADPICTURE2);
    }
    EXPECT_EQ(nativeCalls, 1);
    EXPECT_EQ(nativeFrees, 1);

    // "native" alone: no inbuilt reader is tried, even for a good PNG.
    const auto px = TestPicture(5, 5, 1);
    ASSERT_TRUE(WriteRgbPng(dir.File("n.png"), 5, 5, px, false, false));
    const std::string png = dir.File("n.png");
    qbInbuiltLoadResult r;
    ASSERT_EQ(LoadImageInbuilt(png.c_str(), "native", nullptr, kImageOpenMode, nullptr, 0xFFFFFFFFu, 0, false, false, &r),
              0);
    EXPECT_EQ(r.native, 1);
    EXPECT_EQ(r.width, 3);
    ASSERT_EQ(LoadImageInbuilt(png.c_str(), "inbuilt|native", nullptr, kImageOpenMode, nullptr, 0xFFFFFFFFu, 0, false,
                               false, &r),
              0);
    EXPECT_EQ(r.native, 0);
    EXPECT_EQ(r.width, 5);
}

// A plugin image loader that serves every name with ".vec" in it.
struct FakeLoader {
    static inline qbImageLoadRequest seen;
    static inline int frees = 0;
    static inline int transforms = 0;
    static inline int alphaNeeded = 0;
    static inline int vector = 0;
    static inline std::vector<uint32_t> pixels;
    static inline std::string seenName, callName;

    static bool Mine(const char* name) {
        return std::string(name).find(".vec") != std::string::npos;
    }
    static int IsImage(const char* name, qbImageLoadRequest* r) {
        if (!Mine(name)) return 0;
        r->width = 8;
        r->height = 4;
        r->isVector = 1;
        r->flags |= kImageRequestTransparency;
        return 1;
    }
    static void* Load(const char* name, qbImageLoadRequest* r) {
        if (!Mine(name)) return nullptr;
        seen = *r;
        seenName = name;
        callName = GetLoaderCallFileName() ? GetLoaderCallFileName() : "";
        r->width = 8;
        r->height = 4;
        r->rowLength = 8;
        r->alphaNeeded = alphaNeeded;
        r->isVector = vector;
        pixels.assign(32, 0x11223344u);
        return &pixels;
    }
    static uint32_t* Get(void* image, qbImageLoadRequest*) { return static_cast<std::vector<uint32_t>*>(image)->data(); }
    static void Free(void*) { ++frees; }
    static int Transform(void* image, const double* t) {
        ++transforms;
        auto* p = static_cast<std::vector<uint32_t>*>(image);
        p->assign(static_cast<size_t>(t[4] * t[5]), 0x55667788u);
        return 1;
    }
};

class PluginLoaderTest : public ::testing::Test {
protected:
    void SetUp() override {
        plugin_.name = "vecloader";
        slots_.IsImage = &FakeLoader::IsImage;
        slots_.LoadImage = &FakeLoader::Load;
        slots_.GetImage = &FakeLoader::Get;
        slots_.FreeImage = &FakeLoader::Free;
        slots_.TransformImage = &FakeLoader::Transform;
        SetImageLoaderSlots(&plugin_, &slots_);
        ASSERT_EQ(AddPluginToCapabilityList(&plugin_, PLUGINCAPS_IMAGE), 0);
        FakeLoader::frees = FakeLoader::transforms = FakeLoader::alphaNeeded = FakeLoader::vector = 0;
        name_ = dir_.File("pic.vec");
        WriteBytes(name_, {1, 2, 3});
    }
    void TearDown() override {
        RemovePluginFromCapabilityList(&plugin_, PLUGINCAPS_IMAGE);
        SetImageLoaderSlots(&plugin_, nullptr);
    }
    qbPlugin plugin_;
    qbImageLoaderSlots slots_;
    ScratchDir dir_;
    std::string name_;
};

TEST_F(PluginLoaderTest, PluginSeesTheWantedSizeAndTheHostScales) {
    qbImageLoadParams lp;
    lp.fileName = name_.c_str();
    lp.wantedWidth = -50;
    lp.wantTransparency = 0;
    qbLoadedImage img;
    ASSERT_EQ(LoadImageThroughLoaders(lp, &img), 0);
    EXPECT_EQ(FakeLoader::seen.wantedWidth, -50);
    EXPECT_EQ(FakeLoader::seen.wantedHeight, 0);
    EXPECT_EQ(FakeLoader::seen.openFlags, kImageOpenMode);
    EXPECT_EQ(img.width, 4);
    EXPECT_EQ(img.height, 4);
    EXPECT_EQ(img.loader, reinterpret_cast<uintptr_t>(&plugin_));
    EXPECT_EQ(GetImageHandlePixels(img.handle.get())[0], 0x11223344u);
    img.handle.reset();
    EXPECT_EQ(FakeLoader::frees, 1);
}

TEST_F(PluginLoaderTest, TagsChooseWhoMayLoad) {
    qbImageLoadParams lp;
    lp.fileName = name_.c_str();
    lp.loaderTag = "inbuilt";
    qbLoadedImage img;
    EXPECT_EQ(LoadImageThroughLoaders(lp, &img), ERR_LOADPICTURE2);
    lp.loaderTag = "vec|inbuilt";  // the start of the name
    ASSERT_EQ(LoadImageThroughLoaders(lp, &img), 0);
    plugin_.onlyWhenNamed = 1;
    lp.loaderTag = "plugin";
    EXPECT_EQ(LoadImageThroughLoaders(lp, &img), ERR_LOADPICTURE2);
    lp.loaderTag = "vecloader";
    EXPECT_EQ(LoadImageThroughLoaders(lp, &img), 0);
    plugin_.skipAsLoader = 1;
    EXPECT_EQ(LoadImageThroughLoaders(lp, &img), ERR_LOADPICTURE2);
}

TEST_F(PluginLoaderTest, AlphaNeededTurnsModeZeroIntoOne) {
    FakeLoader::alphaNeeded = 1;
    qbImageLoadParams lp;
    lp.fileName = name_.c_str();
    qbLoadedImage img;
    EXPECT_EQ(LoadImageThroughLoaders(lp, &img), ERR_NOALPHA);
    EXPECT_STREQ(GetErrorDetail(), name_.c_str());
    EXPECT_EQ(FakeLoader::frees, 1);
}

TEST_F(PluginLoaderTest, VectorPicturesAreRenderedAgainNotScaled) {
    FakeLoader::vector = 1;
    qbImageLoadParams lp;
    lp.fileName = name_.c_str();
    lp.wantedWidth = 16;
    lp.wantedHeight = 2;
    qbLoadedImage img;
    ASSERT_EQ(LoadImageThroughLoaders(lp, &img), 0);
    EXPECT_EQ(FakeLoader::transforms, 1);
    EXPECT_EQ(img.isVector, 1);
    EXPECT_EQ(img.width, 16);
    EXPECT_EQ(img.height, 2);
    int32_t w, h;
    GetImageHandleBaseSize(img.handle.get(), &w, &h);
    EXPECT_EQ(w, 8);
    EXPECT_EQ(h, 4);
    EXPECT_EQ(GetImageHandlePixels(img.handle.get())[31], 0x55667788u);

    int r = 0;
    const qbImageProbe p = Probe(name_, nullptr, &r);
    EXPECT_EQ(r, 1);
    EXPECT_EQ(p.isVector, 1);
    EXPECT_EQ(p.transparency, 1);
    EXPECT_EQ(p.width, 8);
}

TEST(ImageHandles, HostMadeHandlesFreeThroughTheirOwnFunction) {
    static int freed = 0;
    qbImageHandle* h = NewImageHandleBuffer(4, 2);
    ASSERT_TRUE(h);
    EXPECT_TRUE(ImageHandleOwnsPixels(h));
    h->hostFunctions = 1;
    h->hostFree = [](void*) { ++freed; };
    h->loaderImage = h;
    ReleaseImageHandle(h);
    EXPECT_EQ(freed, 1);
    EXPECT_EQ(NewImageHandleBuffer(0, 5), nullptr);
    EXPECT_EQ(NewImageHandleBuffer(0x7FFFFFFF, 0x7FFFFFFF), nullptr);
}

}  // namespace

TEST_F(PluginLoaderTest, ATagPutsTheLoadersItNamesOnTheImageList) {
    qbPlugin other, animOnly;
    other.name = "otherloader";
    other.capabilities = PLUGINCAPS_IMAGE | PLUGINCAPS_ANIM;
    SetImageLoaderSlots(&other, &slots_);
    animOnly.name = "animonly";
    animOnly.capabilities = PLUGINCAPS_ANIM;
    ASSERT_EQ(AddPluginToCapabilityList(&other, PLUGINCAPS_ANIM), 0);
    ASSERT_EQ(AddPluginToCapabilityList(&animOnly, PLUGINCAPS_ANIM), 0);
    // The named one joins (once; one without the capability never) and
    // serves, where the fixture's loader is not allowed.
    qbImageLoadParams lp;
    lp.fileName = name_.c_str();
    lp.loaderTag = "OtherLoader|animonly|inbuilt";
    qbLoadedImage img;
    ASSERT_EQ(LoadImageThroughLoaders(lp, &img), 0);
    ParseLoaderTag("otherloader", PLUGINCAPS_IMAGE);
    EXPECT_EQ(img.loader, reinterpret_cast<uintptr_t>(&other));
    ASSERT_NE(GetPluginList(PLUGINCAPS_IMAGE)->next, nullptr);
    EXPECT_EQ(GetPluginList(PLUGINCAPS_IMAGE)->next->plugin, &other);
    EXPECT_EQ(GetPluginList(PLUGINCAPS_IMAGE)->next->next, nullptr);
    EXPECT_EQ(other.onlyWhenNamed, 1);
    img = qbLoadedImage{};
    for (qbPlugin* p : {&other, &animOnly})
        for (uint32_t cap : {PLUGINCAPS_IMAGE, PLUGINCAPS_ANIM}) RemovePluginFromCapabilityList(p, cap);
    SetImageLoaderSlots(&other, nullptr);
}

TEST_F(PluginLoaderTest, TheFirstVectorLoaderGetsPartsOfTheAppletByAVirtualName) {
    const std::string container = dir_.File("game.qba");
    WriteBytes(container, std::vector<uint8_t>(64, 1));
    const std::string chunk = MakeChunkName("art/pic.vec", 10, 30, 0, container.c_str());
    qbImageLoadParams lp;
    lp.fileName = chunk.c_str();
    qbLoadedImage img;
    plugin_.name = kVectorLoaderName;
    plugin_.version = 1;
    plugin_.revision = 1;
    ASSERT_EQ(LoadImageThroughLoaders(lp, &img), 0);
    EXPECT_EQ(FakeLoader::seenName, ":::chunk10:30*game.qba/art/pic.vec");
    EXPECT_EQ(FakeLoader::callName, chunk);
    EXPECT_EQ(GetLoaderCallFileName(), nullptr);
    plugin_.revision = 2;
    ASSERT_EQ(LoadImageThroughLoaders(lp, &img), 0);
    EXPECT_EQ(FakeLoader::seenName, chunk) << "later versions open parts by their chunk names";
    EXPECT_EQ(FakeLoader::callName, "");
}
