// DisplayTextObjectFX in the player, headless: a text object faded in with
// layers off and pushed in as a layer with layers on ends where
// DisplayTextObject puts it, the frames between showing it part way.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "e2e/e2e_util.h"
#include "e2e/frames.h"

namespace {

using e2e::Frame;

// The object "Quenbrook" in yellow, shown by body; lines 1 and 2.
std::string Applet(const std::string& body) {
    return e2e::MainFunction(e2e::CallCommand("SetFontColor", {0xFFFF00}) + R"(    GETGLOBAL 0 "createtextobject"
    LOADK 1 #1
    LOADK 2 "Quenbrook"
    CALL 0 3 1
)" + body,
                             8);
}

int Yellow(const Frame& f) {
    int n = 0;
    for (uint32_t p : f.pixels) n += p == 0xFFFF00u;
    return n;
}

bool Blank(const Frame& f) {
    for (uint32_t p : f.pixels)
        if (p) return false;
    return true;
}

class TextObjectFXTest : public e2e::E2eFixture {};

}  // namespace

TEST_F(TextObjectFXTest, AnEffectEndsWhereDisplayTextObjectPutsTheObject) {
    const std::vector<Frame> plain = PlayFrames(Applet(e2e::CallCommand("DisplayTextObject", {1, 100, 50})), "plain");
    ASSERT_EQ(played_.status, 0) << played_.err;
    ASSERT_FALSE(plain.empty());
    const int ink = Yellow(plain.back());
    ASSERT_GT(ink, 50);
    for (const auto& file : e2e::SavedFrameFiles(dir_)) std::filesystem::remove(file);
    for (const std::string& body : {e2e::CallCommand("DisplayTextObjectFX", {1, 100, 50, 116, 10}),
                                    e2e::CallCommand("EnableLayers", {}) +
                                        e2e::CallCommand("DisplayTextObjectFX", {1, 100, 50, 78, 10})}) {
        const std::vector<Frame> frames = PlayFrames(Applet(body), "fx");
        ASSERT_EQ(played_.status, 0) << played_.err;
        ASSERT_FALSE(frames.empty());
        EXPECT_EQ(frames.back().pixels, plain.back().pixels) << body;
        bool between = false;
        for (const Frame& f : frames) between = between || (!Blank(f) && f.pixels != plain.back().pixels);
        EXPECT_TRUE(between) << "no frame on the way: " << body;
        for (const auto& file : e2e::SavedFrameFiles(dir_)) std::filesystem::remove(file);
    }
}
