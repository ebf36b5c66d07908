// What the font cache keeps while a script asks for ever-new fonts: the
// records of fonts nothing holds are let go within the bound, and the
// inbuilt engine's faces and files are under the same bound and go with
// FreeGlyphCache. Memory is what the program allocated, read from the
// allocator (the sanitizer's under the sanitizers).
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "text/fontfile_fixture.h"

using namespace fontfiles;

namespace {

constexpr int64_t kMiB = int64_t{1} << 20;

}  // namespace

// As SetFont with a new "cache" value each time makes a new font: 60,000
// of them keep no more than the bound, and the cache holds no more fonts
// than fit in it, so that finding one stays as quick as at the start.
TEST_F(FontFiles, SixtyThousandNewFontsStayWithinTheBound) {
    const fs::path path = Install("DejaVuSans.ttf", "Sans.ttf");
    constexpr size_t kBound = size_t{1} << 20;
    const size_t bound = SetIdleFontBound(kBound);
    // The allocator's and the engine's own first allocations.
    for (int n = 0; n < 200; ++n) ASSERT_EQ(SetFont("DejaVu Sans", 20, kFontEngineNative, n), 0);
    const int64_t start = AllocatedBytes();
    int64_t peak = start;
    size_t fonts = 0;
    for (int n = 200; n < 60000; ++n) {
        ASSERT_EQ(SetFont("DejaVu Sans", 20, kFontEngineNative, n), 0) << n;
        if (n % 500 == 0) {
            peak = std::max(peak, AllocatedBytes());
            fonts = std::max(fonts, CachedFontCount());
        }
    }
    // The bound, and as much again for the allocator's and the tables' own.
    EXPECT_LT(peak - start, static_cast<int64_t>(2 * kBound)) << (peak - start) / 1024 << " KB";
    // A font kept costs at least its record.
    EXPECT_LE(fonts, kBound / sizeof(qbFont) + 2);
    RecordProperty("peak_kib_above_start", static_cast<int>((peak - start) / 1024));
    SetIdleFontBound(bound);
}

// Sizes of outline fonts from 24 files: what the fonts not in use keep,
// their faces and their descriptors, stays within the bound, and
// FreeGlyphCache lets go of all of them.
TEST_F(FontFiles, InbuiltFacesAndFilesStayWithinTheBoundAndFreeGlyphCacheClosesThem) {
    std::vector<fs::path> files;
    for (int i = 0; i < 24; ++i) files.push_back(Install("DejaVuSans.ttf", "Sans" + std::to_string(i) + ".ttf"));
    constexpr int64_t kBound = int64_t{1} << 20;
    const size_t bound = SetIdleFontBound(kBound);
    // The engine's first open before counting, and what one font costs.
    ASSERT_EQ(SetFont(files[0].string(), 9, kFontEngineInbuilt), 0);
    ASSERT_EQ(Draw(Current(), "Ag"), 0);
    const int64_t perFont = static_cast<int64_t>(FontEngineBytes(Current()) + sizeof(qbFont));
    ASSERT_EQ(SetFont("topaz", 8), 0);
    ASSERT_EQ(FreeGlyphCache(), 0);
    const int descriptors = OpenDescriptors();
    const int64_t start = AllocatedBytes();
    int64_t peak = start;
    int peakDescriptors = descriptors;
    for (int size = 10; size < 15; ++size) {
        for (const fs::path& file : files) {
            ASSERT_EQ(SetFont(file.string(), size, kFontEngineInbuilt), 0);
            ASSERT_EQ(Draw(Current(), "Ag"), 0);
            peak = std::max(peak, AllocatedBytes());
            peakDescriptors = std::max(peakDescriptors, OpenDescriptors());
        }
    }
    RecordProperty("font_kib", static_cast<int>(perFont / 1024));
    RecordProperty("peak_kib_above_start", static_cast<int>((peak - start) / 1024));
    RecordProperty("peak_descriptors_above_start", peakDescriptors - descriptors);
    // The bound, the current font and the one opening, and a quarter of a
    // megabyte for the allocator's own.
    EXPECT_LT(peak - start, kBound + 2 * perFont + kMiB / 4) << (peak - start) / 1024 << " KB";
    // A descriptor for each font that fits, the current one, the one opening
    // and one for the fonts' sizes, which differ a little.
    EXPECT_LE(peakDescriptors - descriptors, kBound / perFont + 3);
    ASSERT_EQ(SetFont("topaz", 8), 0);
    ASSERT_EQ(FreeGlyphCache(), 0);
    EXPECT_EQ(OpenDescriptors(), descriptors);
    EXPECT_LT(AllocatedBytes() - start, kMiB / 8);
    SetIdleFontBound(bound);
}
