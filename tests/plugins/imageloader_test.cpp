// An image-loader plugin for ".tst" pictures in the picture loader chain:
// which loader tags let it serve, the wanted size it sees and the host's
// scaling, alpha and transparency, the probe, vector pictures re-rendered
// through TransformImage, and sizes the host must refuse.
#include <gtest/gtest.h>

#include "core/chunkname.h"
#include "core/plugincaps.h"
#include "core/vectorname.h"
#include "imaging/loaderchain.h"
#include "plugin_fixture.h"
#include "plugins/pluginlist.h"

namespace {

using plugintest::PluginFixture;

class ImageLoaderPluginTest : public PluginFixture {
protected:
    void SetUp() override {
        PluginFixture::SetUp();
        Place("testimg", "testimg.qbp", "scan");
        Place("namedimg", "namedimg.qbp", "scan");
        ASSERT_EQ(ScanPluginFolder((dir_ / "scan").string(), nullptr, nullptr), 0);
    }

    // "TST w h alpha transparency vector rowlength colour alphaneeded".
    std::string Picture(const std::string& name, const std::string& header) {
        const std::string path = (dir_ / name).string();
        std::ofstream(path) << "TST " << header << "\n";
        return path;
    }

    int Load(const std::string& file, const char* tag, qbLoadedImage* img, int alphaMode = kAlphaNone) {
        qbImageLoadParams p;
        p.fileName = file.c_str();
        p.loaderTag = tag;
        p.alphaMode = alphaMode;
        return LoadImageThroughLoaders(p, img);
    }
};

TEST_F(ImageLoaderPluginTest, TheTagChoosesWhoMayLoad) {
    const std::string pic = Picture("pic.tst", "4 2 0 0 0 4 ff102030 0");
    qbLoadedImage img;
    EXPECT_EQ(Load(pic, "inbuilt", &img), ERR_LOADPICTURE2);
    EXPECT_EQ(Count(Log(), "LoadImage("), 0) << Log();
    EXPECT_EQ(Load(pic, "native", &img), ERR_LOADPICTURE2);
    EXPECT_EQ(Count(Log(), "LoadImage("), 0) << Log();

    ASSERT_EQ(Load(pic, nullptr, &img), 0);
    EXPECT_EQ(img.width, 4);
    EXPECT_EQ(img.height, 2);
    EXPECT_EQ(GetImageHandlePixels(img.handle.get())[7], 0xff102030u);
    EXPECT_EQ(Count(Log(), "testimg: LoadImage("), 1);
    EXPECT_EQ(Count(Log(), "namedimg: LoadImage("), 0) << "it serves only when named";
    img.handle.reset();
    EXPECT_EQ(Count(Log(), "testimg: FreeImage"), 1);

    // A plugin named first is tried first, even one that serves only when named.
    ASSERT_EQ(Load(pic, "namedimg|inbuilt", &img), 0);
    EXPECT_EQ(img.loader, reinterpret_cast<uintptr_t>(GetPluginList(PLUGINCAPS_IMAGE)->next->plugin));
    EXPECT_EQ(Count(Log(), "namedimg: LoadImage("), 1);
    EXPECT_EQ(Count(Log(), "testimg: LoadImage("), 1);
    // The start of a name is enough.
    ASSERT_EQ(Load(pic, "test", &img), 0);
    EXPECT_EQ(Count(Log(), "testimg: LoadImage("), 2);
}

TEST_F(ImageLoaderPluginTest, ADisabledPluginIsPassedOver) {
    const std::string pic = Picture("pic.tst", "4 2 0 0 0 4 ff102030 0");
    for (const auto& node : GetPluginNodes()) {
        node->handle->record.disabled = 1;
        RefreshPluginView(node->handle.get());
    }
    qbLoadedImage img;
    EXPECT_EQ(Load(pic, "namedimg|testimg", &img), ERR_LOADPICTURE2);
    EXPECT_EQ(Count(Log(), "LoadImage("), 0) << Log();
    EXPECT_EQ(GetPluginList(PLUGINCAPS_IMAGE)->next, nullptr) << "the tag put no disabled plugin on the list";
}

TEST_F(ImageLoaderPluginTest, WantedSizeGoesToThePluginAndTheHostScales) {
    const std::string pic = Picture("big.tst", "200 100 0 0 0 200 ff445566 0");
    qbImageLoadParams p;
    p.fileName = pic.c_str();
    p.wantedWidth = -50;
    p.wantedHeight = 0;
    qbLoadedImage img;
    ASSERT_EQ(LoadImageThroughLoaders(p, &img), 0);
    EXPECT_NE(Log().find("LoadImage(" + pic + ") wanted=-50,0"), std::string::npos) << Log();
    EXPECT_EQ(img.width, 100);
    EXPECT_EQ(img.height, 100);
    EXPECT_EQ(img.rowLength, 100);
    EXPECT_EQ(GetImageHandlePixels(img.handle.get())[100 * 100 - 1], 0xff445566u);
}

TEST_F(ImageLoaderPluginTest, AlphaModes) {
    const std::string plain = Picture("plain.tst", "3 3 0 0 0 3 80102030 0");
    qbLoadedImage img;
    EXPECT_EQ(Load(plain, nullptr, &img, kAlphaRequired), ERR_NOALPHA);
    EXPECT_EQ(ERR_NOALPHA, 1170);
    EXPECT_EQ(std::string(GetErrorDetail()), plain);
    ASSERT_EQ(Load(plain, nullptr, &img, kAlphaIfPresent), 0);
    EXPECT_FALSE(img.alpha);

    // Word 4 asks for alpha mode 1 whatever the caller gave.
    const std::string needs = Picture("needs.tst", "3 3 0 0 0 3 80102030 1");
    EXPECT_EQ(Load(needs, nullptr, &img, kAlphaNone), ERR_NOALPHA);
    const std::string has = Picture("has.tst", "3 3 1 0 0 3 80102030 1");
    ASSERT_EQ(Load(has, nullptr, &img, kAlphaNone), 0);
    ASSERT_TRUE(img.alpha);
}

TEST_F(ImageLoaderPluginTest, ProbeReportsVectorAndTransparency) {
    const std::string pic = Picture("vec.tst", "8 4 0 1 1 8 ff000000 0");
    qbImageProbe probe;
    ASSERT_EQ(ProbeImageFile(pic.c_str(), nullptr, nullptr, kImageOpenMode, &probe), 1);
    EXPECT_EQ(probe.width, 8);
    EXPECT_EQ(probe.height, 4);
    EXPECT_TRUE(probe.isVector);
    EXPECT_TRUE(probe.transparency);
    EXPECT_NE(Log().find("testimg: IsImage(" + pic + ")"), std::string::npos);
}

TEST_F(ImageLoaderPluginTest, VectorPicturesAreReRendered) {
    const std::string pic = Picture("vec.tst", "8 4 0 0 1 8 ff778899 0");
    qbImageLoadParams p;
    p.fileName = pic.c_str();
    p.wantedWidth = 16;
    p.wantedHeight = 12;
    qbLoadedImage img;
    ASSERT_EQ(LoadImageThroughLoaders(p, &img), 0);
    EXPECT_EQ(img.width, 16);
    EXPECT_EQ(img.height, 12);
    EXPECT_EQ(img.isVector, 1);
    EXPECT_NE(Log().find("TransformImage 2 0 0 3 16 12"), std::string::npos) << Log();
    EXPECT_EQ(GetImageHandlePixels(img.handle.get())[16 * 12 - 1], 0xff778899u);

    const std::string broken = Picture("broken.tst", "8 4 0 0 2 8 ff778899 0");
    p.fileName = broken.c_str();
    EXPECT_EQ(LoadImageThroughLoaders(p, &img), ERR_TFIMAGE);
}

TEST_F(ImageLoaderPluginTest, BadSizesAreRefused) {
    qbLoadedImage img;
    for (const char* header : {"0 4 0 0 0 4 ff000000 0", "4 -1 0 0 0 4 ff000000 0", "4 4 0 0 0 2 ff000000 0"}) {
        const std::string pic = Picture("bad.tst", header);
        qbImageLoadParams p;
        p.fileName = pic.c_str();
        p.wantedWidth = 9;
        EXPECT_EQ(LoadImageThroughLoaders(p, &img), ERR_LOADPICTURE2) << header;
        EXPECT_EQ(std::string(GetErrorDetail()), pic);
    }
    EXPECT_EQ(Count(Log(), "FreeImage"), 3) << "each refused picture is freed";
}

TEST_F(ImageLoaderPluginTest, TheOldVectorLoaderGetsAppletPartsByAVirtualName) {
    Place("vectorgraphics", "vectorgraphics.qbp", "scan");
    ASSERT_EQ(ScanPluginFolder((dir_ / "scan").string(), nullptr, nullptr), 0);
    const std::string container = (dir_ / "game.qba").string();
    std::ofstream(container) << std::string(64, 'x');
    const std::string chunk = MakeChunkName("art/pic.tst", 10, 30, 0, container.c_str());
    qbLoadedImage img;
    EXPECT_NE(Load(chunk, "vectorgraphics", &img), 0);
    EXPECT_NE(Log().find("vectorgraphics: LoadImage(:::chunk10:30*game.qba/art/pic.tst)"), std::string::npos)
        << Log();
    EXPECT_EQ(GetLoaderCallFileName(), nullptr);
}

}  // namespace
