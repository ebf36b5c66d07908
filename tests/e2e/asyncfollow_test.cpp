// What a running asynchronous transition does when the script changes what
// it draws on: a changed layer keeps the effect going over its new picture,
// a replaced or resized display picture ends or clips it. Each case runs in
// a player process twice: with frames drawn after the change and ending at
// once, which must neither crash nor corrupt the heap at shutdown.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "core/errcodes.h"
#include "e2e/asyncscript.h"
#include "e2e/e2e_util.h"
#include "e2e/frames.h"

namespace {

using e2e::Frame;

constexpr uint32_t kRed = 0xFF0000, kBlue = 0x0000FF;
constexpr int kHStripes16 = 4;

std::string Call(const std::string& name, std::initializer_list<double> args) { return e2e::CallCommand(name, args); }

// a = name(args..., {type = type, async = True[, speed = speed]}).
std::string StartAsync(const std::string& name, std::initializer_list<double> args, int type = kHStripes16,
                       int speed = 0) {
    std::vector<std::pair<std::string, double>> options = {{"type", static_cast<double>(type)}, {"async", 1}};
    if (speed) options.push_back({"speed", static_cast<double>(speed)});
    return e2e::StartAsync(name, args, options);
}

using e2e::kFrame;
using e2e::kRunOut;
using e2e::OnDraw;

// SetLayerStyle(1, {key = value}) or SetDisplayAttributes({key = value, ...}).
std::string Table(int reg, const std::vector<std::pair<std::string, double>>& fields) {
    return e2e::NumberTable(reg, fields);
}
std::string StyleLayer(const std::vector<std::pair<std::string, double>>& fields) {
    return "    GETGLOBAL 0 \"setlayerstyle\"\n    LOADK 1 #1\n" + Table(2, fields) + "    CALL 0 3 1\n";
}
std::string DisplayAttributes(const std::vector<std::pair<std::string, double>>& fields) {
    return "    GETGLOBAL 0 \"setdisplayattributes\"\n" + Table(1, fields) + "    CALL 0 2 1\n";
}

std::string Main(const std::string& body) { return e2e::MainFunction(body, 16); }

const std::string kBrushEffect = Call("EnableLayers", {}) + Call("CreateBrush", {1, 200, 200, kRed}) +
                                 StartAsync("displaybrushfx", {1, 10, 10}) + kFrame;

struct Road {
    const char* name;
    std::string change;
};

class AsyncFollowTest : public e2e::E2eFixture {
protected:
    // Plays the script; status 0 or 1 (an error the script reports), never
    // a signal or an abort, and no sanitizer report.
    e2e::RunResult Play(const std::string& body, const std::string& name) {
        e2e::RunResult r = PlayScript(Main(body), "-quiet", "", name);
        EXPECT_TRUE(r.status == 0 || r.status == 1) << name << " status " << r.status << "\n" << r.err;
        EXPECT_EQ(r.err.find("Sanitizer"), std::string::npos) << name << "\n" << r.err;
        EXPECT_EQ(r.err.find("runtime error"), std::string::npos) << name << "\n" << r.err;
        return r;
    }
};

}  // namespace

TEST_F(AsyncFollowTest, LayerChangesKeepTheEffectGoing) {
    const std::vector<Road> roads = {
        {"scale", Call("ScaleLayer", {1, 20, 20})},
        {"rotate", Call("RotateLayer", {1, 30})},
        {"transform", Call("TransformLayer", {1, 2, 0, 0, 1})},
        {"stylerotate", StyleLayer({{"rotate", 45}})},
        {"stylesize", StyleLayer({{"width", 50}, {"height", 70}})},
        {"anchor", Call("SetLayerAnchor", {1, 1, 1}) + Call("RotateLayer", {1, 90})},
    };
    for (const Road& road : roads) {
        const e2e::RunResult on =
            Play(kBrushEffect + road.change + kFrame + kFrame + OnDraw("cancelasyncdraw"), road.name);
        EXPECT_EQ(on.status, 0) << road.name << "\n" << on.err;
        const e2e::RunResult ends = Play(kBrushEffect + road.change, std::string(road.name) + "_end");
        EXPECT_EQ(ends.status, 0) << road.name << "\n" << ends.err;
    }
}

TEST_F(AsyncFollowTest, ATextLayerTakesItsNewTextUnderAnEffect) {
    // A text layer keeps its picture in its own state: the new text replaces
    // it, never the effect's images standing there.
    const std::string start = Call("EnableLayers", {}) +
                              "    GETGLOBAL 0 \"textout\"\n    LOADK 1 #10\n    LOADK 2 #10\n"
                              "    LOADK 3 \"Hello layers\"\n    CALL 0 4 1\n" +
                              StartAsync("hidelayerfx", {1}) + kFrame;
    const std::string restyle = "    GETGLOBAL 0 \"setlayerstyle\"\n    LOADK 1 #1\n    NEWTABLE 2 0 1\n"
                                "    LOADK 3 \"A much longer text than before\"\n    SETTABLE 2 \"text\" 3\n    CALL 0 3 1\n";
    EXPECT_EQ(Play(start + restyle + kFrame + kRunOut, "text").status, 0);
    EXPECT_EQ(Play(start + restyle, "text_end").status, 0);
}

TEST_F(AsyncFollowTest, OtherEffectStartsFollowAScaledLayer) {
    const std::string scale = Call("ScaleLayer", {1, 20, 20}) + kFrame + kRunOut;
    const std::vector<Road> starts = {
        {"showlayer", Call("EnableLayers", {}) + Call("CreateBrush", {1, 200, 200, kRed}) +
                          Call("DisplayBrush", {1, 10, 10}) + Call("HideLayer", {1}) +
                          StartAsync("showlayerfx", {1}) + kFrame},
        {"hidelayer", Call("EnableLayers", {}) + Call("CreateBrush", {1, 200, 200, kRed}) +
                          Call("DisplayBrush", {1, 10, 10}) + StartAsync("hidelayerfx", {1}) + kFrame},
        {"textobjectfx", Call("EnableLayers", {}) +
                             "    GETGLOBAL 0 \"createtextobject\"\n    LOADK 1 #1\n    LOADK 2 \"Text object\"\n"
                             "    CALL 0 3 1\n" +
                             StartAsync("displaytextobjectfx", {1, 10, 10}) + kFrame},
        {"undofx", Call("EnableLayers", {}) + Call("CreateBrush", {1, 200, 200, kRed}) +
                       Call("DisplayBrush", {1, 10, 10}) + StartAsync("undofx", {3, 1}) + kFrame},
    };
    for (const Road& start : starts) {
        const e2e::RunResult r = Play(start.change + scale, start.name);
        EXPECT_EQ(r.status, 0) << start.name << "\n" << r.err;
    }
}

TEST_F(AsyncFollowTest, ALayerScaledResizeKeepsTheEffectGoing) {
    const std::string setup = Call("EnableLayers", {}) +
                              DisplayAttributes({{"scalemode", 2}, {"scalewidth", 640}, {"scaleheight", 480}}) +
                              Call("CreateBrush", {1, 200, 200, kRed}) + StartAsync("displaybrushfx", {1, 10, 10}) +
                              kFrame + Call("ChangeDisplaySize", {320, 240});
    EXPECT_EQ(Play(setup + kFrame + kRunOut, "layerscaled").status, 0);
    EXPECT_EQ(Play(setup, "layerscaled_end").status, 0);
}

TEST_F(AsyncFollowTest, ANewDisplayPictureEndsTheDisplaysDraws) {
    const std::vector<Road> roads = {
        {"displaybgpic", Call("CreateBGPic", {2, 640, 480}) + Call("DisplayBGPic", {2})},
        {"attributes", "    GETGLOBAL 0 \"createbgpic\"\n    LOADK 1 #2\n    LOADK 2 #640\n    LOADK 3 #480\n"
                       "    CALL 0 4 1\n" +
                           DisplayAttributes({{"bgpic", 2}})},
    };
    for (const Road& road : roads) {
        // The object is gone: the next frame finds no such object.
        const e2e::RunResult on = Play(kBrushEffect + road.change + kFrame, road.name);
        EXPECT_EQ(on.status, 1) << road.name;
        EXPECT_NE(on.err.find(Text(ERR_FINDARRAY)), std::string::npos) << road.name << "\n" << on.err;
        EXPECT_EQ(Play(kBrushEffect + road.change, std::string(road.name) + "_end").status, 0) << road.name;
    }
}

TEST_F(AsyncFollowTest, ANewTitleLeavesTheDrawsRunning) {
    const std::string title = "    GETGLOBAL 0 \"setdisplayattributes\"\n    NEWTABLE 1 0 1\n    LOADK 2 \"New title\"\n"
                              "    SETTABLE 1 \"title\" 2\n    CALL 0 2 1\n";
    EXPECT_EQ(Play(kBrushEffect + title + kFrame + OnDraw("cancelasyncdraw"), "title").status, 0);
}

TEST_F(AsyncFollowTest, ASmallerDisplayClipsTheEffect) {
    // Layers off: the effect draws straight into the display's buffers.
    for (const int type : {kHStripes16, 115}) {
        const std::string start = Call("CreateBrush", {1, 600, 400, kRed}) + StartAsync("displaybrushfx", {1, 0, 0}, type) + kFrame;
        const std::vector<Road> roads = {
            {"size", Call("ChangeDisplaySize", {100, 100})},
            {"attributes", DisplayAttributes({{"width", 100}, {"height", 100}})},
        };
        for (const Road& road : roads) {
            const std::string name = std::string(road.name) + std::to_string(type);
            const e2e::RunResult r = Play(start + road.change + kFrame + kFrame, name);
            EXPECT_TRUE(r.status == 0 || r.err.find(Text(ERR_FINDARRAY)) != std::string::npos) << name << r.err;
            EXPECT_EQ(Play(start + road.change, name + "_end").status, 0) << name;
        }
    }
}

TEST_F(AsyncFollowTest, TheEffectGoesOnOverTheScaledLayer) {
    const std::vector<Frame> frames =
        PlayFrames(Main(Call("CreateBGPic", {1, 320, 240, kBlue}) + Call("DisplayBGPic", {1}) +
                        Call("EnableLayers", {}) + Call("CreateBrush", {2, 200, 200, kRed}) +
                        StartAsync("displaybrushfx", {2, 10, 10}) + kFrame + kFrame + kFrame +
                        Call("ScaleLayer", {1, 100, 50}) + kFrame + kRunOut));
    ASSERT_EQ(played_.status, 0) << played_.err;
    ASSERT_FALSE(frames.empty());
    auto inside = [](int x, int y) { return x >= 10 && x < 110 && y >= 10 && y < 60; };
    // The last frame with red where the layer no longer reaches is the last
    // one before the scale.
    size_t after = 0;
    for (size_t i = 0; i < frames.size(); ++i)
        for (int y = 0; y < 240 && after <= i; y += 2)
            for (int x = 0; x < 320; x += 2)
                if (!inside(x, y) && frames[i].At(x, y) == kRed) {
                    after = i + 1;
                    break;
                }
    ASSERT_GT(after, 0u) << "the effect drew nothing before the scale";
    ASSERT_LT(after, frames.size());
    bool partial = false;
    for (size_t i = after; i < frames.size(); ++i) {
        int red = 0, cells = 0;
        for (int y = 0; y < 240; y += 2)
            for (int x = 0; x < 320; x += 2) {
                const uint32_t c = frames[i].At(x, y);
                ASSERT_TRUE(c == kRed || c == kBlue) << "frame " << i << " at " << x << "," << y << " " << std::hex << c;
                if (!inside(x, y)) {
                    ASSERT_EQ(c, kBlue) << "frame " << i << " at " << x << "," << y;
                    continue;
                }
                ++cells;
                red += c == kRed;
            }
        partial = partial || (red > 0 && red < cells);
    }
    EXPECT_TRUE(partial) << "no frame of the effect over the scaled layer";
    for (int y = 10; y < 60; ++y)
        for (int x = 10; x < 110; ++x) ASSERT_EQ(frames.back().At(x, y), kRed) << x << "," << y;
}

namespace {

constexpr uint32_t kFrameColours[4] = {0xFF0000, 0x00FF00, 0xFFFF00, 0xFF00FF};

// Layer 1 shows frame 3 of a 4-frame anim, or a brush of that frame's
// picture, at (50, 50) over a blue BGPic.
std::string FrameLayer(bool anim) {
    std::string s = Call("CreateBGPic", {1, 320, 240, kBlue}) + Call("DisplayBGPic", {1}) + Call("EnableLayers", {});
    if (!anim) return s + Call("CreateBrush", {3, 100, 100, static_cast<double>(kFrameColours[2])}) + Call("DisplayBrush", {3, 50, 50});
    s += Call("CreateBrush", {1, 400, 100, static_cast<double>(kFrameColours[0])}) + Call("SelectBrush", {1}) + Call("SetFillStyle", {1});
    for (int i = 1; i < 4; ++i) s += Call("Box", {100.0 * i, 0, 100, 100, static_cast<double>(kFrameColours[i])});
    return s + Call("EndSelect", {}) + Call("CreateAnim", {2, 1, 100, 100, 4, 4}) +
           Call("DisplayAnimFrame", {2, 50, 50, 3});
}

}  // namespace

TEST_F(AsyncFollowTest, AnAnimLayersEffectShowsItsCurrentFrame) {
    struct Effect {
        const char* command;
        bool hideFirst;
    };
    for (const Effect& e : {Effect{"showlayerfx", true}, Effect{"hidelayerfx", false}, Effect{"removelayerfx", false}}) {
        for (const bool async : {false, true}) {
            std::vector<Frame> runs[2];
            for (const bool anim : {false, true}) {
                std::string body = FrameLayer(anim) + (e.hideFirst ? Call("HideLayer", {1}) : "");
                if (async) {
                    body += StartAsync(e.command, {1}, kHStripes16, 20) + kRunOut;
                } else {
                    body += "    GETGLOBAL 0 \"" + std::string(e.command) + "\"\n    LOADK 1 #1\n    LOADK 2 #" +
                            std::to_string(kHStripes16) + "\n    LOADK 3 #20\n    CALL 0 4 1\n";
                }
                // Each run saves its own frames from the first.
                for (const auto& f : e2e::fs::directory_iterator(dir_))
                    if (f.path().extension() == ".bmp") e2e::fs::remove(f.path());
                runs[anim] = PlayFrames(Main(body), std::string(e.command) + (async ? "a" : "s") + (anim ? "anim" : "brush"));
                ASSERT_EQ(played_.status, 0) << e.command << " async " << async << " anim " << anim << "\n" << played_.err;
            }
            const std::string what = std::string(e.command) + (async ? " async" : " sync");
            ASSERT_EQ(runs[0].size(), runs[1].size()) << what;
            // The frames of the effect itself: from the first that differs
            // from the picture before it, to the end.
            bool between = false;
            for (size_t i = 0; i < runs[0].size(); ++i) {
                ASSERT_EQ(runs[0][i].pixels, runs[1][i].pixels) << what << " frame " << i;
                const uint32_t c = runs[1][i].At(60, 60), d = runs[1][i].At(140, 140);
                between = between || (c != d && (c == kFrameColours[2] || d == kFrameColours[2]));
            }
            EXPECT_TRUE(between) << what << ": no frame halfway";
        }
    }
}

TEST_F(AsyncFollowTest, TheEffectGoesOnClippedToTheSmallerDisplay) {
    const std::vector<Frame> frames =
        PlayFrames(Main(Call("CreateBrush", {1, 600, 400, kRed}) + StartAsync("displaybrushfx", {1, 0, 0}) + kFrame +
                        Call("ChangeDisplaySize", {100, 100}) + kFrame + kFrame + kFrame));
    ASSERT_EQ(played_.status, 0) << played_.err;
    size_t first = 0;
    while (first < frames.size() && frames[first].width != 100) ++first;
    ASSERT_LT(first, frames.size()) << "no frame at the new size";
    int lastRed = 0;
    for (size_t i = first; i < frames.size(); ++i) {
        ASSERT_EQ(frames[i].width, 100);
        ASSERT_EQ(frames[i].height, 100);
        const int red = static_cast<int>(std::count(frames[i].pixels.begin(), frames[i].pixels.end(), kRed));
        const int black = static_cast<int>(std::count(frames[i].pixels.begin(), frames[i].pixels.end(), 0u));
        ASSERT_EQ(red + black, 100 * 100) << "frame " << i << " holds other colours";
        lastRed = red;
    }
    EXPECT_GT(lastRed, 0) << "the effect drew nothing at the new size";
}

TEST_F(AsyncFollowTest, AnEmulatedBGPicTransitionRefusesADisplayResize) {
    const std::string emu = R"(    GETGLOBAL 0 "showlayerfx"
    LOADK 1 #1
    NEWTABLE 2 0 4
    LOADK 3 #115
    SETTABLE 2 "type" 3
    LOADK 3 #1
    SETTABLE 2 "async" 3
    SETTABLE 2 "bgpicemu" 3
    LOADK 3 #3
    SETTABLE 2 "bgpic" 3
    CALL 0 3 2
    SETGLOBAL 0 "a"
)";
    const std::string start = Call("EnableLayers", {}) + Call("CreateBGPic", {3, 640, 480, kBlue}) +
                              Call("CreateBrush", {1, 640, 480, kRed}) + Call("DisplayBrush", {1, 0, 0}) +
                              Call("HideLayer", {1}) + emu + kFrame;
    const e2e::RunResult r = Play(start + Call("ChangeDisplaySize", {100, 100}) + kFrame, "emu");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find(Text(ERR_MODIFYABGPIC)), std::string::npos) << r.err;
    // Any other drawing lets the display change size.
    EXPECT_EQ(Play(kBrushEffect + Call("ChangeDisplaySize", {100, 100}) + kFrame, "plain").status, 0);
}
