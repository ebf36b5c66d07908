// A transition between two BGPics in the player, headless: the dummy
// video driver saves every update of the window as a BMP file, so every
// frame of the effect can be read back.
#include <gtest/gtest.h>

#include <SDL2/SDL.h>

#include <algorithm>
#include <cctype>
#include <string>
#include <vector>

#include "e2e/e2e_util.h"

namespace fs = std::filesystem;

namespace {

constexpr uint32_t kRed = 0xFF0000, kBlue = 0x0000FF;

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
    return ".function main maxstack=16\n.line 1\n" + body + "    RETURN 0 1 0\n.end\n";
}

class TransitionPlayTest : public e2e::E2eFixture {
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
        out_ = r.out;
        return Frames();
    }
    std::string out_;
};

}  // namespace

TEST_F(TransitionPlayTest, BlindsTurnTheWindowToTheNewBGPic) {
    // VBLINDS128 at 32 pixels a frame: six blinds across 640 pixels.
    const std::vector<Frame> frames = Play(Call("CreateBGPic", {1, 640, 480, kBlue}) + Call("DisplayBGPic", {1}) +
                                           Call("CreateBGPic", {2, 640, 480, kRed}) +
                                           Call("DisplayTransitionFX", {2, 23, 32}));
    ASSERT_FALSE(frames.empty());
    bool mixed = false;
    for (const Frame& f : frames) {
        ASSERT_EQ(f.width, 640);
        const uint32_t left = f.At(5, 100), right = f.At(120, 100);
        EXPECT_TRUE(left == kBlue || left == kRed || left == 0) << std::hex << left;
        EXPECT_TRUE(right == kBlue || right == kRed || right == 0) << std::hex << right;
        // A blind fills from its left edge: its right part never leads.
        if (left == kBlue) {
            EXPECT_NE(right, kRed);
        }
        mixed = mixed || (left == kRed && right == kBlue);
    }
    EXPECT_TRUE(mixed) << "no frame between the two pictures";
    const Frame& last = frames.back();
    for (int x = 0; x < 640; x += 7) EXPECT_EQ(last.At(x, 479), kRed) << x;
}

TEST_F(TransitionPlayTest, AScriptStepsABrushEffectAndRemovesItsLayer) {
    // HSTRIPES2 over 200 pixels at 50 a frame: four frames, and the call
    // after the last one says so.
    const std::string stepping = R"(    GETGLOBAL 0 "displaybrushfx"
    LOADK 1 #2
    LOADK 2 #100
    LOADK 3 #100
    NEWTABLE 4 0 3
    LOADK 5 #1
    SETTABLE 4 "type" 5
    SETTABLE 4 "async" 5
    LOADK 5 #50
    SETTABLE 4 "speed" 5
    CALL 0 5 2
    MOVE 6 0
    LOADK 7 #0
loop:
    ADD 7 7 #1
    GETGLOBAL 8 "asyncdrawframe"
    MOVE 9 6
    CALL 8 2 2
    EQ 1 8 #0
    JMP loop
    GETGLOBAL 0 "debugprint"
    LOADK 1 "calls"
    MOVE 2 7
    CALL 0 3 1
)";
    const std::vector<Frame> frames =
        Play(Call("CreateBGPic", {1, 640, 480, kBlue}) + Call("DisplayBGPic", {1}) + Call("EnableLayers", {}) +
             Call("CreateBrush", {2, 200, 100, kRed}) + stepping + Call("RemoveLayerFX", {1, 0, 50}));
    EXPECT_NE(out_.find("calls 5\n"), std::string::npos) << out_;
    ASSERT_FALSE(frames.empty());
    bool shownWhole = false;
    for (const Frame& f : frames)
        shownWhole = shownWhole || (f.At(100, 100) == kRed && f.At(299, 199) == kRed && f.At(200, 150) == kRed);
    EXPECT_TRUE(shownWhole) << "the brush never stood in place";
    EXPECT_EQ(frames.back().At(200, 150), kBlue);
    EXPECT_EQ(frames.back().At(100, 100), kBlue);
}
