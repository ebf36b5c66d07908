// The tracker effects on the player state: periods, volumes, positions and
// rows after a number of ticks, on modules built here.
#include <gtest/gtest.h>

#include <memory>

#include "modbuilder.h"
#include "sound/modplayer.h"

namespace {

using namespace modbuild;

struct Fixture {
    Module m;
    std::unique_ptr<ModPlayer> p = std::make_unique<ModPlayer>();

    Fixture() {
        m.instruments[0].data = Square(4096);
        m.instruments[0].volume = 40;
        m.instruments[0].loopStartWords = 0;
        m.instruments[0].loopLengthWords = 2048;
    }
    ModPlayer& Load() {
        const auto bytes = Build(m);
        EXPECT_EQ(ParseModule(bytes.data(), bytes.size(), *p), 0);
        return *p;
    }
    void Ticks(int n) {
        for (int i = 0; i < n; ++i) ModuleTick(*p);
    }
    ModChannelState& Ch(int i = 0) { return p->channels[static_cast<size_t>(i)]; }
};

TEST(ModEffects, Arpeggio) {
    Fixture f;
    f.m.At(0, 0, 0) = {428, 1, 0x0, 0x37};
    f.Load();
    f.Ticks(1);
    EXPECT_EQ(f.Ch().outPeriod, 428);
    f.Ticks(1);
    EXPECT_EQ(f.Ch().outPeriod, 360);
    f.Ticks(1);
    EXPECT_EQ(f.Ch().outPeriod, 285);
    f.Ticks(1);
    EXPECT_EQ(f.Ch().outPeriod, 428);
}

TEST(ModEffects, PortamentoClampedTo113And856) {
    Fixture f;
    f.m.At(0, 0, 0) = {428, 1, 0x1, 0x10};
    f.m.At(0, 0, 1) = {428, 1, 0x2, 0x10};
    f.m.At(0, 1, 0) = {0, 0, 0x1, 0xFF};
    f.m.At(0, 1, 1) = {0, 0, 0x2, 0xFF};
    f.Load();
    f.Ticks(6);
    EXPECT_EQ(f.Ch(0).period, 428 - 5 * 16);
    EXPECT_EQ(f.Ch(1).period, 428 + 5 * 16);
    f.Ticks(6);
    EXPECT_EQ(f.Ch(0).period, 113);
    EXPECT_EQ(f.Ch(1).period, 856);
}

// Every effect that moves the pitch itself (slides up and down to their
// clamps, tone portamento plain and with a volume slide, the fine slides and
// finetune) sounds the period it reached on the same tick, at its step.
TEST(ModEffects, PitchMovesSoundOnTheTickTheyAreMade) {
    Fixture f;
    f.m.At(0, 0, 0) = {428, 1, 0x1, 0x30};
    f.m.At(0, 1, 0) = {0, 0, 0x1, 0x30};
    f.m.At(0, 2, 0) = {0, 0, 0x2, 0x08};
    f.m.At(0, 0, 1) = {428, 1, 0x2, 0x50};
    f.m.At(0, 1, 1) = {0, 0, 0x2, 0x50};
    f.m.At(0, 2, 1) = {0, 0, 0x1, 0x07};
    f.m.At(0, 0, 2) = {428, 1, 0, 0};
    f.m.At(0, 1, 2) = {214, 0, 0x3, 0x18};
    f.m.At(0, 2, 2) = {0, 0, 0x5, 0x01};
    f.m.At(0, 3, 2) = {640, 0, 0x3, 0x09};
    f.m.At(0, 0, 3) = {428, 1, 0xE, 0x14};
    f.m.At(0, 1, 3) = {0, 0, 0xE, 0x26};
    f.m.At(0, 2, 3) = {0, 0, 0xE, 0x53};
    f.m.At(0, 3, 3) = {0, 0, 0x2, 0x03};
    f.Load();
    int moved[4] = {};
    int last[4] = {};
    for (int tick = 0; tick < 4 * 6; ++tick) {
        f.Ticks(1);
        for (int c = 0; c < 4; ++c) {
            const ModChannelState& ch = f.Ch(c);
            EXPECT_EQ(ch.outPeriod, ch.period) << "channel " << c << " tick " << tick;
            EXPECT_EQ(ch.step, ModuleStep(ch.period)) << "channel " << c << " tick " << tick;
            if (tick > 0 && ch.period != last[c]) ++moved[c];
            last[c] = ch.period;
        }
    }
    for (int c = 0; c < 4; ++c) EXPECT_GE(moved[c], 3) << "channel " << c;
    EXPECT_EQ(f.Ch(0).period, 113 + 5 * 8);
    EXPECT_EQ(f.Ch(1).period, 856 - 5 * 7);
}

TEST(ModEffects, TonePortamentoReachesAndHolds) {
    Fixture f;
    f.m.At(0, 0, 0) = {428, 1, 0, 0};
    f.m.At(0, 1, 0) = {214, 0, 0x3, 0x20};
    f.m.At(0, 2, 0) = {0, 0, 0x3, 0x00};
    f.Load();
    f.Ticks(6 + 1);
    const uint32_t pos = f.Ch().position;
    EXPECT_EQ(f.Ch().period, 428);  // the note does not restart
    f.Ticks(5);
    EXPECT_EQ(f.Ch().period, 428 - 5 * 32);
    EXPECT_EQ(f.Ch().position, pos);
    f.Ticks(6);
    EXPECT_EQ(f.Ch().period, 214);
    EXPECT_EQ(f.Ch().outPeriod, 214);
}

TEST(ModEffects, VibratoWaveforms) {
    for (int wave : {0, 1, 2}) {
        Fixture f;
        f.m.At(0, 0, 0) = {0, 0, 0xE, 0x40 | wave};
        f.m.At(0, 1, 0) = {428, 1, 0x4, 0x48};
        f.Load();
        f.Ticks(6 + 3);
        const int expected[3] = {428 + (97 * 8 >> 7), 428 + (32 * 8 >> 7), 428 + (255 * 8 >> 7)};
        EXPECT_EQ(f.Ch().outPeriod, expected[wave]) << wave;
        EXPECT_EQ(f.Ch().period, 428);
    }
}

TEST(ModEffects, TremoloWaveforms) {
    for (int wave : {0, 1, 2}) {
        Fixture f;
        f.m.At(0, 0, 0) = {0, 0, 0xE, 0x70 | wave};
        f.m.At(0, 1, 0) = {428, 1, 0x7, 0x48};
        f.Load();
        f.Ticks(6 + 3);
        const int expected[3] = {40 + (97 * 16 >> 8), 40 + (32 * 16 >> 8), 40 + (255 * 16 >> 8)};
        EXPECT_EQ(f.Ch().outVolume, expected[wave]) << wave;
        EXPECT_EQ(f.Ch().volume, 40);
    }
}

TEST(ModEffects, SampleOffsetReusesTheLastAndStopsPastTheEnd) {
    Fixture f;
    f.m.At(0, 0, 0) = {428, 1, 0x9, 0x02};
    f.m.At(0, 1, 0) = {428, 1, 0x9, 0x00};
    f.m.At(0, 2, 0) = {428, 1, 0x9, 0x20};
    f.Load();
    f.Ticks(1);
    EXPECT_EQ(f.Ch().position, 512u << 14);
    f.Ticks(6);
    EXPECT_EQ(f.Ch().position, 512u << 14);
    EXPECT_TRUE(f.Ch().active);
    f.Ticks(6);
    EXPECT_FALSE(f.Ch().active);
}

TEST(ModEffects, VolumeSlideAndSetVolume) {
    Fixture f;
    f.m.At(0, 0, 0) = {428, 1, 0xA, 0x20};
    f.m.At(0, 1, 0) = {0, 0, 0xA, 0xF0};
    f.m.At(0, 2, 0) = {0, 0, 0xA, 0x05};
    f.m.At(0, 3, 0) = {0, 0, 0xC, 0x40};
    f.m.At(0, 4, 0) = {0, 0, 0xC, 0x20};
    f.m.At(0, 5, 0) = {0, 0, 0xA, 0x0F};
    f.m.At(0, 6, 0) = {0, 0, 0xA, 0x0F};
    f.m.At(0, 7, 0) = {0, 0, 0xE, 0xA5};
    f.m.At(0, 8, 0) = {0, 0, 0xE, 0xB3};
    f.Load();
    f.Ticks(6);
    EXPECT_EQ(f.Ch().volume, 50);
    f.Ticks(6);
    EXPECT_EQ(f.Ch().volume, 63);
    f.Ticks(6);
    EXPECT_EQ(f.Ch().volume, 63 - 25);
    f.Ticks(1);
    EXPECT_EQ(f.Ch().volume, 63);  // C40
    f.Ticks(6);
    EXPECT_EQ(f.Ch().volume, 32);
    f.Ticks(12);
    EXPECT_EQ(f.Ch().volume, 0);
    f.Ticks(6);
    EXPECT_EQ(f.Ch().volume, 5);
    f.Ticks(6);
    EXPECT_EQ(f.Ch().volume, 2);
}

TEST(ModEffects, JumpsAndBreaks) {
    Fixture f;
    f.m.songLength = 4;
    f.m.order = {0, 1, 2, 3};
    f.m.At(0, 0, 0) = {0, 0, 0xD, 0x12};  // row 12 of the next position
    f.m.At(1, 12, 0) = {0, 0, 0xB, 0x03};
    f.m.At(3, 0, 2) = {0, 0, 0xD, 0x70};  // 70: row 0
    f.Load();
    f.Ticks(6);
    EXPECT_EQ(f.p->position, 1);
    EXPECT_EQ(f.p->patternRow, 12);
    f.Ticks(6);
    EXPECT_EQ(f.p->position, 3);
    EXPECT_EQ(f.p->patternRow, 0);
    EXPECT_EQ(f.p->flags & kModSongEnded, 0u);
    f.Ticks(6);
    EXPECT_EQ(f.p->position, 0);  // past the song length: from the top
    EXPECT_NE(f.p->flags & kModSongEnded, 0u);
}

TEST(ModEffects, JumpBackAndOutOfTheSongMarkTheEnd) {
    for (int target : {0, 9, 255}) {
        Fixture f;
        f.m.songLength = 2;
        f.m.order = {0, 1};
        f.m.At(1, 0, 0) = {0, 0, 0xB, target};
        f.Load();
        f.Ticks(64 * 6 + 6);
        EXPECT_EQ(f.p->position, 0) << target;
        EXPECT_EQ(f.p->patternRow, 0);
        EXPECT_NE(f.p->flags & kModSongEnded, 0u);
        EXPECT_EQ(f.p->songEnds, 0);  // counted only when stopping at the end
    }
}

TEST(ModEffects, FineSlidesFinetuneAndFilter) {
    Fixture f;
    f.m.At(0, 0, 0) = {428, 1, 0xE, 0x14};
    f.m.At(0, 1, 0) = {0, 0, 0xE, 0x26};
    f.m.At(0, 2, 0) = {0, 0, 0xE, 0x53};
    f.m.At(0, 3, 0) = {0, 0, 0xE, 0x00};
    f.m.At(0, 4, 0) = {0, 0, 0xE, 0x01};
    f.Load();
    f.Ticks(6);
    EXPECT_EQ(f.Ch().period, 424);
    f.Ticks(6);
    EXPECT_EQ(f.Ch().period, 430);
    f.Ticks(6);
    EXPECT_EQ(f.Ch().period, ModulePeriod(3, 12));
    f.Ticks(1);
    EXPECT_TRUE(f.p->filterOn);
    f.Ticks(6);
    EXPECT_FALSE(f.p->filterOn);
}

TEST(ModEffects, PatternLoopRepeatsRows) {
    Fixture f;
    f.m.At(0, 2, 1) = {0, 0, 0xE, 0x60};
    f.m.At(0, 4, 1) = {0, 0, 0xE, 0x62};
    f.Load();
    std::vector<int> rows;
    for (int i = 0; i < 10; ++i) {
        rows.push_back(f.p->patternRow);
        f.Ticks(6);
    }
    EXPECT_EQ(rows, (std::vector<int>{0, 1, 2, 3, 4, 2, 3, 4, 2, 3}));
}

TEST(ModEffects, RetriggerCutAndDelay) {
    Fixture f;
    f.m.At(0, 0, 0) = {428, 1, 0xE, 0x92};
    f.m.At(0, 0, 1) = {428, 1, 0xE, 0xC3};
    f.m.At(0, 0, 2) = {428, 1, 0xE, 0xD4};
    f.Load();
    f.Ticks(1);
    EXPECT_FALSE(f.Ch(2).active);
    f.Ch(0).position = 99u << 14;
    f.Ticks(1);
    EXPECT_EQ(f.Ch(0).position, 99u << 14);
    f.Ticks(1);  // tick 2
    EXPECT_EQ(f.Ch(0).position, 0u);
    EXPECT_EQ(f.Ch(1).volume, 40);
    f.Ticks(1);  // tick 3
    EXPECT_EQ(f.Ch(1).volume, 0);
    EXPECT_FALSE(f.Ch(2).active);
    f.Ticks(1);  // tick 4
    EXPECT_TRUE(f.Ch(2).active);
    EXPECT_EQ(f.Ch(2).period, 428);
}

TEST(ModEffects, PatternDelayRepeatsTheRow) {
    Fixture f;
    f.m.At(0, 0, 0) = {0, 0, 0xE, 0xE2};
    f.Load();
    f.Ticks(6 * 3 - 1);
    EXPECT_EQ(f.p->patternRow, 0);
    f.Ticks(1);
    EXPECT_EQ(f.p->patternRow, 1);
}

TEST(ModEffects, InvertLoopFlipsLoopBytes) {
    Fixture f;
    f.m.At(0, 0, 0) = {428, 1, 0xE, 0xFF};
    f.Load();
    const std::vector<int8_t> before = f.p->samples;
    f.Ticks(6);
    int flipped = 0;
    for (size_t i = 0; i < before.size(); ++i) {
        if (f.p->samples[i] != before[i]) {
            EXPECT_EQ(f.p->samples[i], static_cast<int8_t>(~before[i]));
            ++flipped;
        }
    }
    EXPECT_EQ(flipped, 6);  // speed 128: one byte a tick
}

TEST(ModEffects, SpeedTempoAndSongEnd) {
    Fixture f;
    f.m.At(0, 0, 0) = {0, 0, 0xF, 0x03};
    f.m.At(0, 1, 0) = {0, 0, 0xF, 0x40};
    f.m.At(0, 2, 0) = {0, 0, 0xF, 0x00};
    f.Load();
    EXPECT_EQ(f.p->samplesPerTick, 1920);
    f.Ticks(3);
    EXPECT_EQ(f.p->patternRow, 1);
    f.Ticks(3);
    EXPECT_EQ(f.p->tempo, 64);
    EXPECT_EQ(f.p->samplesPerTick, 96000 * 60 / (64 * 24));
    f.Ticks(3);
    EXPECT_NE(f.p->flags & kModSongEnded, 0u);
    EXPECT_EQ(f.p->speed, 3);
    EXPECT_EQ(f.p->patternRow, 3);  // plays on
}

TEST(ModEffects, InstrumentNumbersOutOfRangeAreIgnored) {
    Fixture f;
    f.m.At(0, 0, 0) = {428, 1, 0, 0};
    f.m.At(0, 1, 0) = {428, 0, 0, 0};
    f.m.At(0, 2, 0) = {428, 200, 0, 0};
    f.Load();
    f.Ticks(6 * 3);
    EXPECT_EQ(f.Ch().instrument, 1);
    EXPECT_TRUE(f.Ch().active);
}

TEST(ModEffects, PendingJumpTakenAtTheNextRender) {
    Fixture f;
    f.m.songLength = 3;
    f.m.order = {0, 1, 2};
    f.Load();
    int16_t out[4];
    RenderModule(*f.p, out, out + 1, 2, 2);
    EXPECT_EQ(ModulePositionOf(f.p.get(), kModuleSetPosition, 2), 0);
    EXPECT_EQ(f.p->position, 0);
    RenderModule(*f.p, out, out + 1, 2, 1);
    EXPECT_EQ(f.p->position, 2);
    qbModulePosition& shared = *f.p;
    EXPECT_EQ(shared.songPosition.load(), 2);
}

}  // namespace

// An instrument number without a note while a looped sample plays waits
// for that loop's end, then plays its own loop from where the step falls;
// an instrument without a loop stops the channel there.
TEST(ModEffects, AnInstrumentWithoutANoteTakesOverAtTheLoopEnd) {
    for (bool looped : {true, false}) {
        SCOPED_TRACE(looped ? "looped" : "one-shot");
        Fixture f;
        f.m.instruments[1].data = std::vector<int8_t>(256, 50);
        f.m.instruments[1].loopLengthWords = looped ? 128 : 1;
        f.m.At(0, 0, 0) = {428, 1, 0, 0};
        f.m.At(0, 1, 0) = {0, 2, 0, 0};
        f.Load();
        std::vector<int16_t> out(2 * 512);
        RenderModule(*f.p, out.data(), out.data() + 1, 2, 512);
        ASSERT_EQ(f.Ch().instrument, 1);
        for (int blocks = 0; blocks < 400 && f.Ch().instrument == 1 && f.Ch().active; ++blocks) {
            RenderModule(*f.p, out.data(), out.data() + 1, 2, 512);
        }
        EXPECT_EQ(f.Ch().pendingInstrument, 0);
        EXPECT_EQ(f.Ch().instrument, 2);
        EXPECT_EQ(f.Ch().active, looped);
        if (!looped) continue;
        EXPECT_LT(f.Ch().position, 256u << 14) << "inside the new loop";
        // The new loop is one level: one side holds it throughout.
        RenderModule(*f.p, out.data(), out.data() + 1, 2, 512);
        for (int side : {0, 1}) {
            bool level = true;
            for (size_t k = 2 + side; k < out.size(); k += 2) level = level && out[k] == out[side];
            if (out[side] != 0) {
                EXPECT_TRUE(level) << "side " << side;
            }
        }
        EXPECT_TRUE(out[0] != 0 || out[1] != 0);
    }
}
