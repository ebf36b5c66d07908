// Font files changed under the fonts that read them: a file cut or written
// over while a font of either engine draws from it costs glyphs or gives an
// error, never a signal; a sleeping font whose file was replaced or
// rewritten does not wake on the new file.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "core/errcodes.h"
#include "text/fontfile_fixture.h"

using namespace fontfiles;

namespace {

// Writes 60,000 bytes over the start of the file, as a script's
// #MODE_READWRITE file would.
void WriteOver(const fs::path& path) {
    const int fd = ::open(path.c_str(), O_RDWR);
    ASSERT_GE(fd, 0);
    std::vector<char> junk(60000);
    for (size_t i = 0; i < junk.size(); ++i) junk[i] = static_cast<char>(i * 7919 >> 3);
    EXPECT_EQ(::pwrite(fd, junk.data(), junk.size(), 0), static_cast<ssize_t>(junk.size()));
    ::close(fd);
}

}  // namespace

TEST_F(FontFiles, AFileCutOrWrittenOverCostsGlyphsNeverASignal) {
    struct Case {
        int engine;
        bool cut;
    };
    const std::string text = "The quick brown fox jumps over the lazy dog 0123456789 @#%&";
    for (const Case c : {Case{kFontEngineNative, true}, Case{kFontEngineNative, false}, Case{kFontEngineInbuilt, true},
                         Case{kFontEngineInbuilt, false}}) {
        SCOPED_TRACE(std::string(c.engine == kFontEngineNative ? "native" : "inbuilt") + (c.cut ? ", cut" : ", over"));
        const fs::path path = Install("DejaVuSerif.ttf", "Serif.ttf");
        const std::string name = c.engine == kFontEngineNative ? "DejaVu Serif" : path.string();
        ASSERT_EQ(SetFont(name, 24, c.engine), 0);
        qbFont* font = Current();
        ASSERT_EQ(Draw(font, "A"), 0);
        if (c.cut)
            std::filesystem::resize_file(path, 0);
        else
            WriteOver(path);
        for (size_t from = 0; from < 4; ++from) {
            const int drawn = Draw(font, text.substr(from));
            EXPECT_TRUE(drawn == 0 || drawn >= 1000) << drawn;
            const int measured = Measure(font, text.substr(from));
            EXPECT_TRUE(measured == 0 || measured >= 1000) << measured;
        }
        // Other sizes of the file it was read from: opened, or refused.
        for (int size : {11, 37, 90}) {
            const int opened = SetFont(name, size, c.engine);
            EXPECT_TRUE(opened == 0 || opened == ERR_OPENFONT) << opened;
            if (opened != 0) continue;
            const int drawn = Draw(Current(), text);
            EXPECT_TRUE(drawn == 0 || drawn >= 1000) << drawn;
        }
        // Let the fonts go, so that the next case reads its file anew.
        ASSERT_EQ(SetFont("topaz", 8), 0);
        ASSERT_EQ(FreeGlyphCache(), 0);
        fs::remove(path);
    }
}

TEST_F(FontFiles, ASleepingFontWakesOnlyOnTheFileItWasReadFrom) {
    const size_t bound = SetIdleFontBound(0);
    struct Case {
        int engine;
        bool inPlace;  // rewritten with the same bytes, else replaced by another file
    };
    for (const Case c : {Case{kFontEngineNative, false}, Case{kFontEngineNative, true},
                         Case{kFontEngineInbuilt, false}, Case{kFontEngineInbuilt, true}}) {
        SCOPED_TRACE(std::string(c.engine == kFontEngineNative ? "native" : "inbuilt") +
                     (c.inPlace ? ", rewritten" : ", replaced"));
        const fs::path path = Install("DejaVuSerif.ttf", "Serif.ttf");
        const std::string name = c.engine == kFontEngineNative ? "DejaVu Serif" : path.string();
        ASSERT_EQ(SetFont(name, 30, c.engine), 0);
        // Held as a text object's style holds it, while another font is used.
        const qbFontRef kept(Current());
        ASSERT_EQ(Draw(kept, "Ag"), 0);
        // The font that was current is let go at the next ask after.
        ASSERT_EQ(SetFont("topaz", 8), 0);
        ASSERT_EQ(SetFont("topaz", 8), 0);
        ASSERT_TRUE(kept->asleep);
        // Unchanged, it wakes and sleeps again.
        EXPECT_EQ(Measure(kept, "Ag"), 0);
        EXPECT_FALSE(kept->asleep);
        ASSERT_EQ(SetFont("topaz", 8), 0);
        ASSERT_TRUE(kept->asleep);
        if (c.inPlace) {
            std::filesystem::copy_file(kDejaVuDir + "DejaVuSerif.ttf", path,
                                       std::filesystem::copy_options::overwrite_existing);
            const struct timespec times[2] = {{0, UTIME_OMIT}, {1000000000, 0}};
            ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
        } else {
            Replace(path, "DejaVuSerif.ttf");
        }
        EXPECT_EQ(Measure(kept, "Ag"), ERR_OPENFONT);
        EXPECT_EQ(Draw(kept, "Ag"), ERR_OPENFONT);
        EXPECT_TRUE(kept->asleep);
        // Asked for by name, the font is the file as it is now.
        ASSERT_EQ(SetFont(name, 30, c.engine), 0);
        EXPECT_EQ(Draw(Current(), "Ag"), 0);
        ASSERT_EQ(SetFont("topaz", 8), 0);
        ASSERT_EQ(FreeGlyphCache(), 0);
    }
    SetIdleFontBound(bound);
}

// One nothing holds any more gives way to the file as it is now, as if it
// had never been opened.
TEST_F(FontFiles, ASleepingFontNothingHoldsGivesWayToItsNewFile) {
    const size_t bound = SetIdleFontBound(0);
    for (const int engine : {kFontEngineNative, kFontEngineInbuilt}) {
        SCOPED_TRACE(engine);
        const fs::path path = Install("DejaVuSerif.ttf", "Serif.ttf");
        const std::string name = engine == kFontEngineNative ? "DejaVu Serif" : path.string();
        ASSERT_EQ(SetFont(name, 30, engine), 0);
        {
            const qbFontRef kept(Current());
            ASSERT_EQ(SetFont("topaz", 8), 0);
            ASSERT_EQ(SetFont("topaz", 8), 0);
            ASSERT_TRUE(kept->asleep);
        }
        Replace(path, "DejaVuSerif.ttf");
        const size_t cached = CachedFontCount();
        ASSERT_EQ(SetFont(name, 30, engine), 0);
        EXPECT_EQ(CachedFontCount(), cached);
        EXPECT_EQ(Draw(Current(), "Ag"), 0);
        ASSERT_EQ(SetFont("topaz", 8), 0);
        ASSERT_EQ(FreeGlyphCache(), 0);
    }
    SetIdleFontBound(bound);
}
