// Writes the seed corpus of fuzz_bitmapfont from the fixture writer when
// QB_WRITE_FONT_SEEDS names a folder (fuzz/corpus/bitmapfont); otherwise it
// only checks that the good seeds load and the broken ones do not.
#include <gtest/gtest.h>

#include <cstdlib>

#include "text/bitmapfont.h"
#include "text/fontwriter.h"

using namespace fontfixture;

namespace {

void Save(const std::string& folder, const std::string& name, const Bytes& file) {
    std::ofstream out(folder + "/" + name, std::ios::binary);
    out.write(reinterpret_cast<const char*>(file.data()), static_cast<std::streamsize>(file.size()));
}

}  // namespace

TEST(FontSeeds, GoodSeedsLoadAndBrokenOnesDoNot) {
    const std::pair<const char*, FontLayout> seeds[] = {
        {"monospaced", Monospaced()}, {"proportional", Proportional(false)}, {"kerned", Proportional(true)},
        {"colour1", Colour(1)},       {"colour2", Colour(2)},                {"colour3", Colour(3)},
    };
    const char* folder = std::getenv("QB_WRITE_FONT_SEEDS");
    ScratchFolder dir;
    for (const auto& [name, layout] : seeds) {
        const Bytes file = WriteFontFile(layout);
        FontPtr font(std::make_unique<qbFont>().release());
        EXPECT_EQ(LoadBitmapFont(dir.WriteFont(name, {{layout.ySize, file}}).c_str(), layout.ySize, font.get(), nullptr),
                  1)
            << name;
        if (folder) Save(folder, name, file);
    }
    int n = 0;
    for (const BrokenFont& f : BrokenFonts()) {
        FontPtr font(std::make_unique<qbFont>().release());
        EXPECT_EQ(LoadBitmapFont(dir.WriteFont("broken", {{f.size, f.bytes}}).c_str(), f.size, font.get(), nullptr), 0)
            << f.what;
        if (folder) Save(folder, "broken" + std::to_string(n++), f.bytes);
    }
}
