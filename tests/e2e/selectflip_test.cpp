// Output selection and double buffering in the player, headless: the
// dummy video driver saves every update of the window as a BMP file, so
// every frame the window ever showed can be read back.
#include <gtest/gtest.h>

#include <SDL2/SDL.h>

#include <algorithm>
#include <cctype>
#include <string>
#include <vector>

#include "e2e/e2e_util.h"

namespace fs = std::filesystem;

namespace {

constexpr uint32_t kRed = 0xFF0000, kGreen = 0x00FF00, kBlue = 0x0000FF;

struct Frame {
    int width = 0;
    int height = 0;
    std::vector<uint32_t> pixels;
    uint32_t At(int x, int y) const { return pixels[static_cast<size_t>(y) * width + x]; }
};

// A command call: GETGLOBAL (names are global in lower case), the number
// arguments, CALL without results.
std::string Call(std::string name, std::initializer_list<double> args) {
    std::transform(name.begin(), name.end(), name.begin(), [](unsigned char c) { return std::tolower(c); });
    std::string s = "    GETGLOBAL 0 \"" + name + "\"\n";
    int reg = 1;
    for (double a : args) s += "    LOADK " + std::to_string(reg++) + " #" + std::to_string(static_cast<long long>(a)) + "\n";
    return s + "    CALL 0 " + std::to_string(reg) + " 1\n";
}

std::string Main(const std::string& body) {
    return ".function main maxstack=8\n.line 1\n" + body + "    RETURN 0 1 0\n.end\n";
}

class SelectFlipTest : public e2e::E2eFixture {
protected:
    std::vector<Frame> Frames() {
        std::vector<fs::path> files;
        for (const auto& entry : fs::directory_iterator(dir_))
            if (entry.path().extension() == ".bmp") files.push_back(entry.path());
        std::sort(files.begin(), files.end());
        std::vector<Frame> frames;
        for (const fs::path& f : files) {
            SDL_Surface* loaded = SDL_LoadBMP(f.c_str());
            if (!loaded) continue;
            SDL_Surface* s = SDL_ConvertSurfaceFormat(loaded, SDL_PIXELFORMAT_ARGB8888, 0);
            SDL_FreeSurface(loaded);
            if (!s) continue;
            Frame fr;
            fr.width = s->w;
            fr.height = s->h;
            for (int y = 0; y < s->h; ++y) {
                const auto* row =
                    reinterpret_cast<const uint32_t*>(static_cast<const uint8_t*>(s->pixels) + y * s->pitch);
                for (int x = 0; x < s->w; ++x) fr.pixels.push_back(row[x] & 0xFFFFFF);
            }
            SDL_FreeSurface(s);
            frames.push_back(std::move(fr));
        }
        return frames;
    }
    std::vector<Frame> Play(const std::string& body) {
        const fs::path qba = Pack(Chunk(Main(body), "app"), dir_ / "app.qba", "--include app.qbs:1:1000:0");
        const e2e::RunResult r = Run("cd " + dir_.string() + " && SDL_VIDEO_DUMMY_SAVE_FRAMES=1 " +
                                     std::string(QB_PLAYER_PATH) + " " + qba.string() + " -quiet");
        EXPECT_EQ(r.status, 0) << r.err;
        return Frames();
    }
};

}  // namespace

TEST_F(SelectFlipTest, ABrushDrawnIntoAnotherShowsWithItAfterEndSelect) {
    const std::vector<Frame> frames = Play(Call("CreateBrush", {1, 10, 10, kRed}) +
                                           Call("CreateBrush", {2, 40, 40, kBlue}) + Call("SelectBrush", {2}) +
                                           Call("DisplayBrush", {1, 10, 10}) + Call("EndSelect", {}) +
                                           Call("DisplayBrush", {2, 100, 100}));
    ASSERT_FALSE(frames.empty());
    for (const Frame& f : frames) EXPECT_EQ(f.At(15, 15), 0u) << "drawn into the display, not the brush";
    const Frame& last = frames.back();
    EXPECT_EQ(last.At(115, 115), kRed);
    EXPECT_EQ(last.At(105, 105), kBlue);
    EXPECT_EQ(last.At(135, 135), kBlue);
    EXPECT_EQ(last.At(95, 95), 0u);
}

TEST_F(SelectFlipTest, ADoubleBufferedWindowShowsOnlyFlippedFrames) {
    const std::vector<Frame> frames =
        Play(Call("CreateBrush", {1, 40, 40, kRed}) + Call("CreateBrush", {2, 40, 40, kGreen}) +
             Call("DisplayBrush", {2, 200, 0}) + Call("BeginDoubleBuffer", {}) + Call("DisplayBrush", {1, 0, 0}) +
             Call("Flip", {0}) + Call("DisplayBrush", {1, 100, 0}) + Call("DisplayBrush", {2, 0, 0}) +
             Call("Flip", {0}) + Call("EndDoubleBuffer", {}));
    ASSERT_FALSE(frames.empty());
    // Each frame is the picture before double buffering, or one of the two
    // flipped ones, never a half-drawn one.
    bool first = false, second = false;
    for (const Frame& f : frames) {
        const uint32_t a = f.At(5, 5), b = f.At(105, 5), c = f.At(205, 5);
        const bool before = a == 0 && b == 0;
        const bool one = a == kRed && b == 0 && c == 0;
        const bool two = a == kGreen && b == kRed && c == 0;
        EXPECT_TRUE(before || one || two) << std::hex << a << " " << b << " " << c;
        first = first || one;
        second = second || two;
    }
    EXPECT_TRUE(first);
    EXPECT_TRUE(second);
    EXPECT_EQ(frames.back().At(5, 5), kGreen);
}
