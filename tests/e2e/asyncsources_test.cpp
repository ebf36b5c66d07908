// What a running asynchronous transition reads while the script changes or
// frees the object it shows. A transition that showed the object itself
// (DisplayBrushFX, DisplayTextObjectFX, either with layers or without, and
// the BGPic a layer emulates) holds it: the change is refused. A transition
// on a layer that showed the object before goes on with the copy the layer
// keeps: the frames are those of the same script without the change. Each
// case runs in a player process: with frames after the change, with
// FinishAsyncDraw next, and ending at once, which must neither crash nor
// touch freed memory (the sanitizer tree reports that).
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "core/errcodes.h"
#include "e2e/asyncscript.h"
#include "e2e/e2e_util.h"
#include "e2e/frames.h"

namespace {

using e2e::Frame;

constexpr double kRed = 0xFF0000, kGreen = 0x00FF00, kBlue = 0x0000FF;

std::string Call(const std::string& name, std::initializer_list<double> args) { return e2e::CallCommand(name, args); }

// a = name(args..., {type = HSTRIPES16, speed = 20, async = True[,
// bgpicemu = True, bgpic = emulated]}).
std::string StartAsync(const std::string& name, std::initializer_list<double> args, int emulated = 0) {
    std::vector<std::pair<std::string, double>> options = {{"type", 4}, {"speed", 20}, {"async", 1}};
    if (emulated) options.insert(options.end(), {{"bgpicemu", 1}, {"bgpic", static_cast<double>(emulated)}});
    return e2e::StartAsync(name, args, options);
}

using e2e::kFrame;
using e2e::kRunOut;
using e2e::OnDraw;

std::string Main(const std::string& body) { return e2e::MainFunction(body, 16); }

// Layers on over a blue BGPic; brush 1 red with its left half masked off.
std::string MaskedBrush() {
    return Call("CreateBGPic", {1, 320, 240, kBlue}) + Call("DisplayBGPic", {1}) + Call("EnableLayers", {}) +
           Call("CreateBrush", {1, 100, 80, kRed}) + Call("SelectBrush", {1}) + Call("SetFillStyle", {1}) +
           Call("Box", {0, 0, 50, 80, kGreen}) + Call("EndSelect", {}) + Call("SetBrushTransparency", {1, kGreen});
}

std::string TextObject() {
    return "    GETGLOBAL 0 \"createtextobject\"\n    LOADK 1 #1\n    LOADK 2 \"Text object\"\n    CALL 0 3 1\n";
}

// Anim 1: four frames of 100 x 100 in four colours, from brush 2.
std::string FourFrames() {
    std::string s = Call("CreateBrush", {2, 400, 100, kRed}) + Call("SelectBrush", {2}) + Call("SetFillStyle", {1});
    const double colours[] = {kGreen, 0xFFFF00, 0xFF00FF};
    for (int i = 0; i < 3; ++i) s += Call("Box", {100.0 * (i + 1), 0, 100, 100, colours[i]});
    return s + Call("EndSelect", {}) + Call("CreateAnim", {1, 2, 100, 100, 4, 4});
}

struct Road {
    const char* name;
    std::string start;                 // up to the transition's first frame
    std::vector<std::string> changes;  // each run alone after the start
};

class AsyncSourcesTest : public e2e::E2eFixture {
protected:
    // Plays the script; status 0 or 1, never a signal or an abort, and no
    // sanitizer report.
    e2e::RunResult Play(const std::string& body, const std::string& name) {
        e2e::RunResult r = PlayScript(Main(body), "-quiet", "", name);
        Clean(name, r);
        return r;
    }

    // The frames the window showed, each different from the one before.
    std::vector<Frame> Shown(const std::string& body, const std::string& name) {
        for (const auto& f : e2e::fs::directory_iterator(dir_))
            if (f.path().extension() == ".bmp") e2e::fs::remove(f.path());
        std::vector<Frame> frames = PlayFrames(Main(body), name);
        Clean(name, played_);
        EXPECT_EQ(played_.status, 0) << name << "\n" << played_.err;
        std::vector<Frame> distinct;
        for (Frame& f : frames)
            if (distinct.empty() || distinct.back().pixels != f.pixels) distinct.push_back(std::move(f));
        return distinct;
    }

    static void Clean(const std::string& name, const e2e::RunResult& r) {
        EXPECT_TRUE(r.status == 0 || r.status == 1) << name << " status " << r.status << "\n" << r.err;
        EXPECT_EQ(r.err.find("Sanitizer"), std::string::npos) << name << "\n" << r.err;
        EXPECT_EQ(r.err.find("runtime error"), std::string::npos) << name << "\n" << r.err;
    }
};

}  // namespace

TEST_F(AsyncSourcesTest, ALayersTransitionGoesOnWithTheCopyTheLayerKeeps) {
    const std::string brush = MaskedBrush();
    const std::vector<std::string> brushChanges = {
        Call("ScaleBrush", {1, 50, 50}), Call("RotateBrush", {1, 30}),
        Call("PerspectiveDistortBrush", {1, 2, 1, 90, 3, 95, 75, 1, 70}), Call("SetBrushTransparency", {1, kRed}),
        Call("FreeBrush", {1})};
    // A showing transition draws from the layer's picture at every frame.
    auto show = [](const std::string& display) {
        return display + Call("HideLayer", {1}) + StartAsync("showlayerfx", {1}) + kFrame;
    };
    const std::string blue =
        Call("CreateBGPic", {1, 320, 240, kBlue}) + Call("DisplayBGPic", {1}) + Call("EnableLayers", {});
    const std::vector<Road> roads = {
        {"brush", show(brush + Call("DisplayBrush", {1, 10, 10})), brushChanges},
        {"hidden", brush + Call("DisplayBrush", {1, 10, 10}) + StartAsync("hidelayerfx", {1}) + kFrame,
         {Call("ScaleBrush", {1, 50, 50})}},
        {"part", show(brush + Call("DisplayBrushPart", {1, 0, 0, 10, 10, 100, 80})), {Call("ScaleBrush", {1, 50, 50})}},
        {"text", show(blue + TextObject() + Call("DisplayTextObject", {1, 10, 10})),
         {Call("ScaleTextObject", {1, 200, 60})}},
        {"anim", show(blue + FourFrames() + Call("DisplayAnimFrame", {1, 50, 50, 3})),
         {Call("ScaleAnim", {1, 50, 50}), Call("ModifyAnimFrames", {1, -2, 0})}},
    };
    const std::vector<std::pair<const char*, std::string>> tails = {{"frames", kFrame + kFrame + kRunOut},
                                                                    {"finish", OnDraw("finishasyncdraw")}};
    for (const Road& road : roads) {
        for (const auto& [tail, script] : tails) {
            const std::string base = std::string(road.name) + "_" + tail;
            const std::vector<Frame> unchanged = Shown(road.start + script, base);
            ASSERT_GT(unchanged.size(), 2u) << base << ": the transition drew nothing";
            for (size_t i = 0; i < road.changes.size(); ++i) {
                const std::string name = base + std::to_string(i);
                const std::vector<Frame> changed = Shown(road.start + road.changes[i] + script, name);
                ASSERT_EQ(changed.size(), unchanged.size()) << name;
                for (size_t f = 0; f < changed.size(); ++f)
                    ASSERT_EQ(changed[f].pixels, unchanged[f].pixels) << name << " frame " << f;
            }
        }
        for (size_t i = 0; i < road.changes.size(); ++i) {
            const std::string name = std::string(road.name) + "_end" + std::to_string(i);
            EXPECT_EQ(Play(road.start + road.changes[i], name).status, 0) << name;
        }
    }
}

TEST_F(AsyncSourcesTest, WhatATransitionShowsItselfIsHeldUntilItEnds) {
    const std::string layersOn = Call("EnableLayers", {});
    const std::string brush = Call("CreateBrush", {1, 100, 80, kRed});
    const std::vector<std::string> brushChanges = {
        Call("ScaleBrush", {1, 50, 50}), Call("RotateBrush", {1, 30}),
        Call("PerspectiveDistortBrush", {1, 2, 1, 90, 3, 95, 75, 1, 70}), Call("SetBrushTransparency", {1, kRed}),
        Call("FreeBrush", {1})};
    const std::vector<std::string> textChanges = {Call("ScaleTextObject", {1, 200, 60}), Call("FreeTextObject", {1})};
    const std::vector<Road> roads = {
        {"brushfx", layersOn + brush + StartAsync("displaybrushfx", {1, 10, 10}) + kFrame, brushChanges},
        {"brushfxoff", brush + StartAsync("displaybrushfx", {1, 10, 10}) + kFrame, {Call("ScaleBrush", {1, 50, 50})}},
        {"textfx", layersOn + TextObject() + StartAsync("displaytextobjectfx", {1, 10, 10}) + kFrame, textChanges},
        {"emulated",
         layersOn + Call("CreateBGPic", {2, 64, 48, kBlue}) + Call("CreateBGPic", {3, 64, 48, kGreen}) + brush +
             Call("DisplayBrush", {1, 0, 0}) + Call("HideLayer", {1}) + StartAsync("showlayerfx", {1}, 2) + kFrame,
         {Call("FreeBGPic", {2}), Call("CreateBGPic", {2, 32, 32, kRed}), Call("CopyBGPic", {3, 2}),
          Call("BrushToBGPic", {1, 2})}},
    };
    for (const Road& road : roads) {
        // Each is refused; let through, the frames after it would read the
        // pictures it freed.
        for (size_t i = 0; i < road.changes.size(); ++i) {
            const std::string name = std::string(road.name) + std::to_string(i);
            const e2e::RunResult r = Play(road.start + road.changes[i] + kFrame + OnDraw("finishasyncdraw"), name);
            EXPECT_EQ(r.status, 1) << name;
            EXPECT_NE(r.err.find(Text(ERR_LOCKEDOBJ)), std::string::npos) << name << "\n" << r.err;
        }
        // Once it ended, the object is free to change.
        const std::string after = std::string(road.name) + "_after";
        const e2e::RunResult r =
            Play(road.start + OnDraw("finishasyncdraw") + road.changes.front() + road.changes.back(), after);
        EXPECT_EQ(r.status, 0) << after << "\n" << r.err;
    }
}
