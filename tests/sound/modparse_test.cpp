// Module files: what is accepted, the bounds on lengths and loops, and the
// first frames the renderer makes of them.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <memory>

#include "core/errcodes.h"
#include "modbuilder.h"
#include "sound/modplayer.h"

namespace {

using namespace modbuild;

int Parse(const std::vector<uint8_t>& bytes, ModPlayer& p) { return ParseModule(bytes.data(), bytes.size(), p); }

TEST(ModParse, PatternsCountEveryOrderEntry) {
    Module m;
    m.order[40] = 40;  // past the song length, still counted
    auto bytes = Build(m);
    ASSERT_EQ(bytes.size(), 1084u + 1024u * 41u);
    auto p = std::make_unique<ModPlayer>();
    EXPECT_EQ(Parse(bytes, *p), 0);
    EXPECT_EQ(p->patterns, 41);
    EXPECT_EQ(p->name, "test module");
    bytes.pop_back();
    auto q = std::make_unique<ModPlayer>();
    EXPECT_EQ(Parse(bytes, *q), ERR_OPENSOUND2);
}

TEST(ModParse, RefusesOtherFilesAndSongLengths) {
    auto p = std::make_unique<ModPlayer>();
    Module m;
    auto bytes = Build(m);
    bytes[1083] = '!';
    EXPECT_EQ(Parse(bytes, *p), ERR_OPENSOUND2);
    for (int length : {0, 129, 255}) {
        m.songLength = length;
        EXPECT_EQ(Parse(Build(m), *p), ERR_OPENSOUND2) << length;
    }
    EXPECT_EQ(ParseModule(bytes.data(), 1000, *p), ERR_OPENSOUND2);
    EXPECT_EQ(ParseModule(nullptr, 0, *p), ERR_OPENSOUND2);
}

TEST(ModParse, SamplesAndLoopsStayInsideTheBytesPresent) {
    Module m;
    m.instruments[0].data = Square(100);
    m.instruments[0].lengthWords = 1000;  // the file ends after 100 bytes
    m.instruments[0].loopStartWords = 40;
    m.instruments[0].loopLengthWords = 100;  // clamped to the end
    m.instruments[1].data = Square(64);
    m.instruments[1].loopStartWords = 32;  // at the end: no loop
    m.instruments[1].loopLengthWords = 10;
    m.instruments[2].data = Square(64);
    m.instruments[2].loopStartWords = 0;
    m.instruments[2].loopLengthWords = 1;  // two bytes: no loop
    m.instruments[3].data = Square(64);
    m.instruments[3].loopStartWords = 4;
    m.instruments[3].loopLengthWords = 8;
    auto bytes = Build(m);
    // Instrument 1 claims 2000 bytes; the others' bytes come inside them.
    auto p = std::make_unique<ModPlayer>();
    ASSERT_EQ(Parse(bytes, *p), 0);
    const uint32_t present = static_cast<uint32_t>(100 + 64 * 3);
    EXPECT_EQ(p->instruments[0].length, present << 14);
    EXPECT_EQ(p->instruments[0].loopStart, 80u << 14);
    EXPECT_EQ(p->instruments[0].loopEnd, 280u << 14);
    EXPECT_EQ(p->instruments[1].length, 0u);
    EXPECT_EQ(p->instruments[1].loopEnd, 0u);
    m.instruments[0].lengthWords = 50;
    auto q = std::make_unique<ModPlayer>();
    ASSERT_EQ(Parse(Build(m), *q), 0);
    EXPECT_EQ(q->instruments[1].loopEnd, 0u);
    EXPECT_EQ(q->instruments[2].loopEnd, 0u);
    EXPECT_EQ(q->instruments[3].loopStart, 8u << 14);
    EXPECT_EQ(q->instruments[3].loopLength, 16u << 14);
}

// What follows the last instrument's sample belongs to none: a module uses
// its header, its patterns and its instruments' own lengths.
TEST(ModParse, BytesPastTheSamplesAreNotKept) {
    Module m;
    m.instruments[0].data = Square(64);
    m.instruments[4].data = Square(30);
    auto bytes = Build(m);
    const size_t used = 1084 + 1024 + 64 + 30;
    ASSERT_EQ(bytes.size(), used);
    EXPECT_EQ(ModuleBytesUsed(bytes.data(), bytes.size()), used);
    bytes.resize(used + 100000, 0x55);
    EXPECT_EQ(ModuleBytesUsed(bytes.data(), bytes.size()), used);
    auto p = std::make_unique<ModPlayer>();
    ASSERT_EQ(Parse(bytes, *p), 0);
    EXPECT_EQ(p->samples.size(), 94u);
    EXPECT_EQ(p->instruments[4].offset, 64u);
    EXPECT_EQ(p->instruments[4].length, 30u << 14);
}

TEST(ModParse, NoteLookupAndStep) {
    EXPECT_EQ(ModuleNoteIndex(856), 0);
    EXPECT_EQ(ModuleNoteIndex(428), 12);
    EXPECT_EQ(ModuleNoteIndex(113), 35);
    EXPECT_EQ(ModuleNoteIndex(907), 35);  // only in a finetuned row
    EXPECT_EQ(ModuleNoteIndex(430), 12);  // in no row: the nearest
    EXPECT_EQ(ModuleNoteIndex(4000), 0);
    EXPECT_EQ(ModulePeriod(8, 1), 856);
    EXPECT_EQ(ModuleStep(428), 1172874197u / (428u * 96000u / 50u));
    EXPECT_EQ(ModuleStep(0), 0u);
}

// Every period from below the table's lowest to past its highest: one met
// in a row is its note (its row-0 index, or the top note when only a
// finetuned row holds it); one in no row is row 0's nearest, the lower
// note on a tie.
TEST(ModParse, NoteLookupOfEveryPeriod) {
    for (int period = 1; period <= 1000; ++period) {
        int want = -1;
        for (int row = 0; row < 16 && want < 0; ++row)
            for (int note = 0; note < 36 && want < 0; ++note)
                if (ModulePeriod(row, note) == period) want = row == 0 ? note : 35;
        if (want < 0) {
            want = 0;
            for (int note = 1; note < 36; ++note)
                if (std::abs(ModulePeriod(0, note) - period) < std::abs(ModulePeriod(0, want) - period)) want = note;
        }
        EXPECT_EQ(ModuleNoteIndex(period), want) << period;
    }
}

std::unique_ptr<ModPlayer> OneNote(int pan0Channel) {
    Module m;
    m.instruments[0].data = Square(256);
    m.instruments[0].loopStartWords = 0;
    m.instruments[0].loopLengthWords = 128;
    m.At(0, 0, pan0Channel) = {428, 1, 0, 0};
    auto p = std::make_unique<ModPlayer>();
    EXPECT_EQ(Parse(Build(m), *p), 0);
    return p;
}

TEST(ModRender, ChannelsZeroAndThreeLeftOneAndTwoRight) {
    for (int c = 0; c < 4; ++c) {
        auto p = OneNote(c);
        std::vector<int16_t> out(2 * 4800);
        RenderModuleAudio(static_cast<qbModulePosition*>(p.get()), out.data(), 4800);
        int64_t left = 0, right = 0;
        for (size_t i = 0; i < 4800; ++i) {
            left += std::abs(out[2 * i]);
            right += std::abs(out[2 * i + 1]);
        }
        const bool onLeft = c == 0 || c == 3;
        EXPECT_EQ(left > 0, onLeft) << c;
        EXPECT_EQ(right > 0, !onLeft) << c;
    }
}

TEST(ModRender, SquareKeepsItsPitchAndLevel) {
    auto p = OneNote(0);
    std::vector<int16_t> out(2 * 48000);
    RenderModuleAudio(static_cast<qbModulePosition*>(p.get()), out.data(), 48000);
    // 32-byte square at period 428: 8363 / 32 Hz, two sign changes a cycle.
    int changes = 0;
    for (size_t i = 1; i < 48000; ++i) changes += (out[2 * i] > 0) != (out[2 * i - 2] > 0);
    const double hz = 1172874197.0 / (428 * 1920) / 16384 * 96000 / 32;
    EXPECT_NEAR(changes / 2.0, hz, 3.0);
    // Volume 63, pan 255 on the far side: 100 * 63 * 255 >> 7, averaged.
    EXPECT_NEAR(*std::max_element(out.begin(), out.end()), (100 * 63 * 255 >> 7) * 256 * 2 >> 9, 2);
}

TEST(ModRender, FilterSoftensTheEdges) {
    auto a = OneNote(0);
    auto b = OneNote(0);
    b->filterOn = true;
    std::vector<int16_t> x(2 * 4800), y(2 * 4800);
    RenderModuleAudio(static_cast<qbModulePosition*>(a.get()), x.data(), 4800);
    RenderModuleAudio(static_cast<qbModulePosition*>(b.get()), y.data(), 4800);
    auto jumps = [](const std::vector<int16_t>& v) {
        int worst = 0;
        for (size_t i = 2; i < v.size(); i += 2) worst = std::max(worst, std::abs(v[i] - v[i - 2]));
        return worst;
    };
    EXPECT_LT(jumps(y), jumps(x) / 2);
}

// The filtered output of a busy module, pinned: the filter's arithmetic may
// be rearranged for speed only where every sample stays the same.
TEST(ModRender, FilteredOutputStaysTheSame) {
    Module m;
    m.songLength = 2;
    m.order[1] = 1;
    for (size_t i = 0; i < 4; ++i) {
        m.instruments[i].data = Square(1024 + 256 * i, 8u << i);
        m.instruments[i].loopStartWords = 64;
        m.instruments[i].loopLengthWords = 256;
        m.instruments[i].volume = 40 + 8 * static_cast<int>(i);
    }
    const int periods[] = {856, 570, 428, 339, 254, 170, 135, 113};
    for (int pat = 0; pat < 2; ++pat)
        for (int row = 0; row < 64; row += 2)
            for (int c = 0; c < 4; ++c) m.At(pat, row, c) = {periods[(row / 2 + c + pat) % 8], 1 + (row + c) % 4, 0, 0};
    m.At(0, 0, 0).effect = 0xF;
    m.At(0, 0, 0).param = 2;
    auto p = std::make_unique<ModPlayer>();
    ASSERT_EQ(Parse(Build(m), *p), 0);
    p->filterOn = true;
    std::vector<int16_t> out(2 * 1000);
    uint64_t hash = 14695981039346656037ull;
    for (int pull = 0; pull < 96; ++pull) {
        RenderModuleAudio(static_cast<qbModulePosition*>(p.get()), out.data(), 1000);
        for (int16_t v : out) hash = (hash ^ static_cast<uint16_t>(v)) * 1099511628211ull;
    }
    EXPECT_EQ(hash, 3241497738211545346u);
}

// With the usual pans the filtered mix takes a path of its own; with every
// pan mirrored the general one makes the same sides, swapped. Notes end
// and loop inside runs, instruments change at loop ends, the filter turns
// on and off between rows and ticks fall between output frames.
TEST(ModRender, FilteredPathsAgree) {
    Module m;
    m.songLength = 1;
    m.instruments[0].data = Square(300, 6);  // no loop: ends inside a run
    m.instruments[1].data = Square(512, 16);
    m.instruments[1].loopStartWords = 100;
    m.instruments[1].loopLengthWords = 20;
    m.instruments[2].data = Square(2000, 50);
    m.instruments[2].loopStartWords = 10;
    m.instruments[2].loopLengthWords = 900;
    m.At(0, 0, 0) = {0, 0, 0xF, 0x02};
    m.At(0, 0, 1) = {0, 0, 0xF, 0x53};  // ticks of odd length
    for (int row = 0; row < 64; ++row) {
        const int c = row % 4;
        if (row % 3 == 0) m.At(0, row, c) = {113 + 37 * row % 700, 1 + row % 3, 0xA, 0x01};
        if (row % 5 == 1) m.At(0, row, (c + 1) % 4) = {0, 2 + row % 2, 0x9, 0x02};  // instrument, then offset
        if (row % 7 == 2) m.At(0, row, (c + 2) % 4) = {0, 0, 0xE, row % 2};     // filter on, off
    }
    auto a = std::make_unique<ModPlayer>(), b = std::make_unique<ModPlayer>();
    ASSERT_EQ(Parse(Build(m), *a), 0);
    ASSERT_EQ(Parse(Build(m), *b), 0);
    a->filterOn = b->filterOn = true;
    for (ModChannelState& ch : b->channels) ch.pan = 255 - ch.pan;
    std::vector<int16_t> x(2 * 777), y(2 * 777);
    for (int pull = 0; pull < 250; ++pull) {
        RenderModule(*a, x.data(), x.data() + 1, 2, 777);
        RenderModule(*b, y.data() + 1, y.data(), 2, 777);
        ASSERT_EQ(x, y) << pull;
    }
}

TEST(ModRender, SampleCutByTheFileEnds) {
    Module m;
    m.instruments[0].data = Square(64);
    m.instruments[0].lengthWords = 30000;
    m.At(0, 0, 1) = {113, 1, 0, 0};
    auto p = std::make_unique<ModPlayer>();
    ASSERT_EQ(Parse(Build(m), *p), 0);
    std::vector<int16_t> out(2 * 4800);
    RenderModule(*p, out.data(), out.data() + 1, 2, 4800);
    EXPECT_FALSE(p->channels[1].active);
    EXPECT_EQ(out[2 * 4799], 0);
}

}  // namespace
