// Every brush filter read channel by channel, on a picture whose red, green,
// blue and alpha each follow a pattern of their own, so that a channel
// swapped or dropped shows. A filter that treats the three colours alike
// must commute with turning them round (red to green, green to blue, blue to
// red; a colour argument turned with them); a filter that makes gray makes
// it from the documented weights; every filter that only recolours keeps the
// alpha channel as it was, and every one that moves pixels moves the alpha
// with them.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <set>
#include <string>
#include <vector>

#include "core/errcodes.h"
#include "show_fixture.h"

namespace {

constexpr int32_t kW = 24, kH = 20;
constexpr long kCloseEnough = 40;
// How far an oil paint's window reaches from its pixel.
constexpr int kReach = 8;

using Arg = NumberOrText;

uint32_t Channel(uint32_t argb, int shift) { return (argb >> shift) & 0xFFu; }

// Red to green, green to blue, blue to red, alpha kept.
uint32_t Turned(uint32_t argb) {
    return (argb & 0xFF000000u) | (Channel(argb, 0) << 16) | (Channel(argb, 16) << 8) | Channel(argb, 8);
}

enum class Reads {
    kAlike,       // the three colours alike: commutes with turning them
    kGray,        // gray from 0.299 R + 0.587 G + 0.114 B
    kBlackWhite,  // that gray at 128
    kGrayish,     // some gray (R = G = B)
    kSepia,       // red over green over blue
    kClose,       // each colour near its own: a quantiser's palette
    kPicks,       // a pixel of its neighbourhood, its colours together
};

struct Member {
    const char* command;
    std::vector<Arg> args;
    // The same call for the turned picture (the colour arguments turned).
    std::vector<Arg> turnedArgs;
    Reads reads;
    bool keepsAlpha = false;  // recolours only: the alpha stays as it was
    int slack = 0;            // per channel, for the filters that round through HSV or HSL
};

class FilterChannelsTest : public ShowWorld {
protected:
    // Red, green and blue on patterns of their own and an alpha plane of
    // its own; turned, the colours go round.
    void Picture(int32_t id, int turns) {
        MakeBrush(id, kW, kH, 0);
        ASSERT_EQ(RunNumbers("ChangeBrushTransparency", {double(id), 30}), 0);
        qbBrush* b = Brush(id);
        for (int32_t y = 0; y < kH; ++y)
            for (int32_t x = 0; x < kW; ++x) {
                const uint32_t r = static_cast<uint32_t>(x * 10 + 5), g = static_cast<uint32_t>(y * 12 + 7),
                               bl = static_cast<uint32_t>((x * y * 7 + 40) & 0xFF);
                uint32_t rgb = r << 16 | g << 8 | bl;
                for (int turn = 0; turn < turns; ++turn) rgb = Turned(rgb);
                WriteBitmapPixel(b->bitmap, x, y, rgb, false);
                b->alpha->plane->data[y * b->alpha->plane->rowBytes + x] = static_cast<uint8_t>(255 - x * 3 - y * 5);
            }
    }
    std::vector<uint32_t> Pixels(int32_t id) {
        qbBrush* b = Brush(id);
        return GetBitmapARGB(b->bitmap, 0, 0, b->width, b->height, b->mask, b->alpha, -1, true, kLockReadOnly);
    }
};

// The brush filter commands, each with arguments that change every channel.
std::vector<Member> Members() {
    return {
        {"BlurBrush", {{2}, {1.5}}, {}, Reads::kAlike},
        {"SharpenBrush", {{1}}, {}, Reads::kAlike},
        {"EmbossBrush", {{1}}, {}, Reads::kAlike},
        {"EdgeBrush", {}, {}, Reads::kAlike},
        {"CharcoalBrush", {{1}}, {}, Reads::kGrayish},
        {"OilPaintBrush", {{2}}, {}, Reads::kPicks, true},
        {"SwirlBrush", {{90}}, {}, Reads::kAlike},
        {"WaterRippleBrush", {{8}, {2}, {3}, {0.25}}, {}, Reads::kAlike},
        {"PixelateBrush", {{3}}, {}, Reads::kAlike},
        {"TintBrush", {{0xC06020}, {100}}, {{0x20C060}, {100}}, Reads::kAlike, true},
        {"BrushToGray", {}, {}, Reads::kGray, true},
        {"BrushToMonochrome", {{0}}, {}, Reads::kBlackWhite, true},
        {"SepiaToneBrush", {{0, "80%"}}, {}, Reads::kSepia, true},
        {"SolarizeBrush", {{100}}, {}, Reads::kAlike, true},
        {"GammaBrush", {{0.5}, {1.5}, {2.5}}, {{2.5}, {0.5}, {1.5}}, Reads::kAlike, true},
        {"ContrastBrush", {{1}, {2}}, {}, Reads::kAlike, true, 1},
        {"ModulateBrush", {{120}, {70}, {100}}, {}, Reads::kAlike, true, 1},
        {"InvertBrush", {}, {}, Reads::kAlike, true},
        {"FlipBrush", {{0}}, {}, Reads::kAlike},
        {"FlipBrush", {{1}}, {}, Reads::kAlike},
        {"QuantizeBrush", {{64}, {0}}, {}, Reads::kClose, true},
        {"MixBrush", {{2}, {100}}, {}, Reads::kAlike, true},
    };
}

TEST_F(FilterChannelsTest, EveryFilterReadsEachChannelAsItsOwn) {
    std::set<std::string> commands;
    for (const Member& m : Members()) {
        std::string what = m.command;
        for (const Arg& a : m.args) what += " " + (a.text ? std::string(a.text) : std::to_string(a.number));
        SCOPED_TRACE(what);
        commands.insert(m.command);
        Picture(1, 0);
        Picture(3, 1);
        const std::vector<uint32_t> before = Pixels(1);
        if (std::string(m.command) == "MixBrush") {
            // Mixed with another picture, turned along with it.
            Picture(2, 1);
            Picture(4, 2);
            ASSERT_EQ(Call(m.command, 1, m.args), 0);
            ASSERT_EQ(Call(m.command, 3, {{4}, {100}}), 0);
        } else {
            ASSERT_EQ(Call(m.command, 1, m.args), 0);
            ASSERT_EQ(Call(m.command, 3, m.turnedArgs.empty() ? m.args : m.turnedArgs), 0);
        }
        const std::vector<uint32_t> plain = Pixels(1), turned = Pixels(3);
        ASSERT_EQ(plain.size(), before.size());
        ASSERT_NE(plain, before) << "the filter changed nothing";
        int wrong = 0;
        long off[3] = {0, 0, 0};  // each channel's distance from its own, summed
        for (size_t i = 0; i < plain.size() && wrong < 5; ++i) {
            const int x = static_cast<int>(i % kW), y = static_cast<int>(i / kW);
            const uint32_t p = plain[i];
            const int r = static_cast<int>(Channel(p, 16)), g = static_cast<int>(Channel(p, 8)),
                      b = static_cast<int>(Channel(p, 0));
            // The alpha is a channel of its own: turning the colours leaves
            // it as it goes without them, and a filter that only recolours
            // keeps it.
            const bool alphaRight =
                Channel(turned[i], 24) == Channel(p, 24) && (!m.keepsAlpha || Channel(p, 24) == Channel(before[i], 24));
            bool right = alphaRight;
            switch (m.reads) {
                case Reads::kAlike: {
                    const uint32_t t = Turned(p);
                    for (int shift : {0, 8, 16})
                        right = right && std::abs(static_cast<int>(Channel(turned[i], shift)) -
                                                  static_cast<int>(Channel(t, shift))) <= m.slack;
                    break;
                }
                case Reads::kGray:
                case Reads::kBlackWhite: {
                    const uint32_t in = before[i];
                    const long double gray =
                        0.299L * Channel(in, 16) + 0.587L * Channel(in, 8) + 0.114L * Channel(in, 0);
                    right = right && r == g && g == b;
                    if (m.reads == Reads::kGray)
                        right = right && std::fabs(r - gray) < 1;
                    else if (std::fabs(gray - 128) >= 1)
                        right = right && r == (gray >= 128 ? 255 : 0);
                    break;
                }
                case Reads::kGrayish: right = right && r == g && g == b; break;
                case Reads::kSepia: right = right && r >= g && g >= b; break;
                case Reads::kPicks: {
                    bool found = false;
                    for (int v = std::max(0, y - kReach); v <= std::min(kH - 1, y + kReach) && !found; ++v)
                        for (int u = std::max(0, x - kReach); u <= std::min(kW - 1, x + kReach) && !found; ++u)
                            found = (before[static_cast<size_t>(v * kW + u)] & 0xFFFFFFu) == (p & 0xFFFFFFu);
                    right = right && found;
                    break;
                }
                case Reads::kClose:
                    for (int shift : {0, 8, 16}) {
                        off[shift / 8] +=
                            std::abs(static_cast<int>(Channel(p, shift)) - static_cast<int>(Channel(before[i], shift)));
                    }
                    break;
            }
            if (!right) {
                ++wrong;
                ADD_FAILURE() << what << " at " << x << ", " << y << ": " << std::hex << before[i] << " became " << p
                              << "; turned, " << Turned(before[i]) << " became " << turned[i];
            }
        }
        // A filter that picks among colours keeps each channel near its
        // own on the whole: the channels of this picture lie some 80 apart
        // on average, a quantiser's error of 64 colours 8 to 30.
        for (int c = 0; c < 3 && m.reads == Reads::kClose; ++c) {
            EXPECT_LT(off[c], kCloseEnough * static_cast<long>(plain.size())) << what << " channel " << c;
        }
        for (int32_t id = 1; id <= 4; ++id) {
            VmPushNumber(L_, id);
            Run("FreeBrush", 1);
            VmSetTop(L_, 0);
        }
    }
    // The brush commands that filter a brush's pixels in place, every one.
    EXPECT_EQ(commands.size(), 21u);
}

}  // namespace
