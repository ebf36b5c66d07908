// The image cache: exact names, the oldest of two entries, alpha copies and
// the references it holds and hands out.
#include <gtest/gtest.h>

#include "core/errcodes.h"
#include "display/imagecache.h"
#include "imaging/bitmap.h"
#include "imaging/imagehandle.h"

namespace {

class ImageCacheTest : public ::testing::Test {
protected:
    void TearDown() override { FreeImageCache(); }
};

}  // namespace

TEST_F(ImageCacheTest, EntriesAreFoundByTheirExactNameOldestFirst) {
    ImageHandlePtr first(NewImageHandleBuffer(2, 2));
    ImageHandlePtr second(NewImageHandleBuffer(2, 2));
    ASSERT_EQ(AddImageCacheEntry("pics/Tree.png", 4, 3, 7, first.get(), nullptr, 9), 0);
    ASSERT_EQ(AddImageCacheEntry("pics/Tree.png", 8, 6, 0, second.get(), nullptr, 0), 0);
    EXPECT_EQ(first->references, 2);

    int32_t w = 0, h = 0, a = 0, b = 0;
    qbImageHandle* handle = nullptr;
    qbBitmap* alpha = nullptr;
    ASSERT_EQ(GetImageCacheEntry("pics/Tree.png", false, &w, &h, &a, &handle, &alpha, &b), 0);
    EXPECT_EQ(handle, first.get());
    EXPECT_EQ(first->references, 3);
    EXPECT_EQ(alpha, nullptr);
    EXPECT_EQ(w, 4);
    EXPECT_EQ(h, 3);
    EXPECT_EQ(a, 7);
    EXPECT_EQ(b, 9);
    ReleaseImageHandle(handle);

    // Linux file names differ by letter case.
    EXPECT_EQ(GetImageCacheEntry("pics/tree.png", false, &w, &h, &a, &handle, &alpha, &b), ERR_CACHEERROR);
    EXPECT_EQ(handle, nullptr);
    FreeImageCache();
    EXPECT_EQ(first->references, 1);
    EXPECT_EQ(GetImageCacheEntry("pics/Tree.png", false, &w, &h, &a, &handle, &alpha, &b), ERR_CACHEERROR);
}

TEST_F(ImageCacheTest, AlphaIsCopiedInAndOut) {
    ImageHandlePtr image(NewImageHandleBuffer(3, 2));
    BitmapPtr plane(AllocAlphaChannel(3, 2, true, nullptr, 0));
    plane->plane->data[2] = 200;
    ASSERT_EQ(AddImageCacheEntry("a.png", 3, 2, 0, image.get(), plane.get(), 0), 0);
    ASSERT_EQ(AddImageCacheEntry("plain.png", 3, 2, 0, image.get(), nullptr, 0), 0);
    plane->plane->data[2] = 1;

    qbImageHandle* handle = nullptr;
    qbBitmap* alpha = nullptr;
    ASSERT_EQ(GetImageCacheEntry("a.png", true, nullptr, nullptr, nullptr, &handle, &alpha, nullptr), 0);
    BitmapPtr got(alpha);
    ImageHandlePtr held(handle);
    ASSERT_NE(alpha, nullptr);
    EXPECT_EQ(alpha->plane->data[2], 200);

    // Asking alpha of an entry without it hands out nothing.
    const int32_t before = image->references;
    EXPECT_EQ(GetImageCacheEntry("plain.png", true, nullptr, nullptr, nullptr, &handle, &alpha, nullptr),
              ERR_CACHEERROR);
    EXPECT_EQ(handle, nullptr);
    EXPECT_EQ(alpha, nullptr);
    EXPECT_EQ(image->references, before);
}
