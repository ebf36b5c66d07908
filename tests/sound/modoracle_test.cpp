// Timing against libxmp and libopenmpt (where the distribution has them):
// the same generated modules, the output frame at which each row begins and
// each note's sample starts, within one tick. Mixing is not compared.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <random>
#include <vector>

#include "modbuilder.h"
#include "sound/modplayer.h"

#if QB_TEST_HAVE_XMP
#include <xmp.h>
#endif
#if QB_TEST_HAVE_OPENMPT
#include <libopenmpt/libopenmpt.h>
#endif

namespace {

using namespace modbuild;

struct RowStart {
    int position;
    int row;
    int64_t frame;
};

// What a renderer made of a module: where each row began and, per output
// frame, the louder side's level (for finding where notes start).
struct Trace {
    std::vector<RowStart> rows;
    std::vector<int> level;
    std::vector<int> tick;  // ours only: the tick's frames at each row start
};

constexpr size_t kMaxRows = 300;

int Level(int left, int right) { return std::max(std::abs(left), std::abs(right)); }

Trace Ours(const std::vector<uint8_t>& bytes, size_t rows) {
    auto p = std::make_unique<ModPlayer>();
    EXPECT_EQ(ParseModule(bytes.data(), bytes.size(), *p), 0);
    Trace t;
    int16_t frame[2];
    int lastPos = -1, lastRow = -1;
    for (int64_t f = 0; t.rows.size() < rows && f < 48000 * 600; ++f) {
        RenderModule(*p, frame, frame + 1, 2, 1);
        t.level.push_back(Level(frame[0], frame[1]));
        qbModulePosition& shared = *p;
        const int pos = shared.songPosition.load(), row = shared.row.load();
        if (pos != lastPos || row != lastRow) {
            t.rows.push_back({pos, row, f});
            t.tick.push_back(p->samplesPerTick / 2);
            lastPos = pos;
            lastRow = row;
        }
    }
    return t;
}

#if QB_TEST_HAVE_XMP
Trace Xmp(const std::vector<uint8_t>& bytes) {
    Trace t;
    xmp_context c = xmp_create_context();
    if (xmp_load_module_from_memory(c, bytes.data(), static_cast<long>(bytes.size())) != 0) {
        xmp_free_context(c);
        ADD_FAILURE() << "libxmp refused the module";
        return t;
    }
    xmp_start_player(c, 48000, 0);
    int64_t frames = 0;
    int lastPos = -1, lastRow = -1;
    while (t.rows.size() < kMaxRows && xmp_play_frame(c) == 0) {
        xmp_frame_info fi;
        xmp_get_frame_info(c, &fi);
        if (fi.loop_count > 0) break;
        if (fi.pos != lastPos || fi.row != lastRow) {
            t.rows.push_back({fi.pos, fi.row, frames});
            lastPos = fi.pos;
            lastRow = fi.row;
        }
        const auto* pcm = static_cast<const int16_t*>(fi.buffer);
        for (int i = 0; i + 1 < fi.buffer_size / 2; i += 2) t.level.push_back(Level(pcm[i], pcm[i + 1]));
        frames += fi.buffer_size / 4;
    }
    xmp_end_player(c);
    xmp_release_module(c);
    xmp_free_context(c);
    return t;
}
#endif

#if QB_TEST_HAVE_OPENMPT
Trace OpenMpt(const std::vector<uint8_t>& bytes) {
    Trace t;
    openmpt_module* mod = openmpt_module_create_from_memory2(bytes.data(), bytes.size(), nullptr, nullptr, nullptr,
                                                             nullptr, nullptr, nullptr, nullptr);
    if (!mod) {
        ADD_FAILURE() << "libopenmpt refused the module";
        return t;
    }
    openmpt_module_set_repeat_count(mod, 0);
    constexpr size_t kChunk = 8;
    int16_t buf[2 * kChunk];
    int64_t frames = 0;
    int lastPos = -1, lastRow = -1;
    while (t.rows.size() < kMaxRows) {
        const size_t got = openmpt_module_read_interleaved_stereo(mod, 48000, kChunk, buf);
        if (got == 0) break;
        const int pos = openmpt_module_get_current_order(mod), row = openmpt_module_get_current_row(mod);
        if (pos != lastPos || row != lastRow) {
            t.rows.push_back({pos, row, frames});
            lastPos = pos;
            lastRow = row;
        }
        for (size_t i = 0; i < got; ++i) t.level.push_back(Level(buf[2 * i], buf[2 * i + 1]));
        frames += static_cast<int64_t>(got);
    }
    openmpt_module_destroy(mod);
    return t;
}
#endif

// Where notes start: the frames the level rises above a fifth of its peak
// after at least 100 quiet frames (the modules' notes are short clicks, a
// tick apart at the least). Each is given as its row (an index into rows)
// and its distance from that row's start; onsets in the last row, which
// may be cut short, are left out.
struct Onset {
    size_t row;
    int64_t offset;
};

std::vector<Onset> Onsets(const Trace& t) {
    std::vector<Onset> out;
    if (t.rows.empty()) return out;
    const int peak = t.level.empty() ? 0 : *std::max_element(t.level.begin(), t.level.end());
    const int threshold = std::max(peak / 5, 1);
    int quiet = 100;
    size_t row = 0;
    for (size_t f = 0; f < t.level.size(); ++f) {
        if (t.level[f] <= threshold) {
            ++quiet;
            continue;
        }
        if (quiet >= 100) {
            // A renderer may report a row a few frames after its sound starts.
            while (row + 1 < t.rows.size() && t.rows[row + 1].frame <= static_cast<int64_t>(f) + 16) ++row;
            if (row + 1 >= t.rows.size()) break;
            out.push_back({row, static_cast<int64_t>(f) - t.rows[row].frame});
        }
        quiet = 0;
    }
    return out;
}

// libxmp is held to the frame each row starts at; libopenmpt, which takes a
// tempo change one tick later, to each row's length. Each note starts
// within a tick of where the other renderer starts it, counted from the
// start of its row.
void Compare(const char* who, const std::vector<uint8_t>& bytes, const Trace& theirs, bool lengths) {
    ASSERT_GE(theirs.rows.size(), 8u) << who;
    const Trace mine = Ours(bytes, theirs.rows.size());
    const std::vector<RowStart>& ours = mine.rows;
    const std::vector<int>& tick = mine.tick;
    ASSERT_EQ(ours.size(), theirs.rows.size()) << who;
    int bad = 0;
    for (size_t i = 0; i < ours.size() && bad < 5; ++i) {
        const RowStart& other = theirs.rows[i];
        bool same = ours[i].position == other.position && ours[i].row == other.row;
        if (!lengths) {
            same = same && std::llabs(ours[i].frame - other.frame) <= tick[i];
        } else if (i > 0) {
            const int64_t a = ours[i].frame - ours[i - 1].frame, b = other.frame - theirs.rows[i - 1].frame;
            // The tick the change comes late by was one at the tempo before.
            const int before = i > 1 ? tick[i - 2] : tick[i - 1];
            same = same && std::llabs(a - b) <= std::max({tick[i], tick[i - 1], before}) + 8;
        }
        if (!same) {
            ++bad;
            ADD_FAILURE() << who << " row " << i << ": ours " << ours[i].position << "/" << ours[i].row << " at "
                          << ours[i].frame << ", theirs " << other.position << "/" << other.row << " at "
                          << other.frame;
        }
    }
    if (bad) return;
    const std::vector<Onset> a = Onsets(mine), b = Onsets(theirs);
    EXPECT_GE(a.size(), 2u) << who;
    ASSERT_EQ(a.size(), b.size()) << who;
    for (size_t i = 0; i < a.size() && bad < 5; ++i) {
        const size_t r = a[i].row;
        const int slack = lengths ? std::max(tick[r], r > 0 ? tick[r - 1] : 0) + 8 : tick[r];
        if (a[i].row != b[i].row || std::llabs(a[i].offset - b[i].offset) > slack) {
            ++bad;
            ADD_FAILURE() << who << " note " << i << ": ours in row " << a[i].row << " +" << a[i].offset
                          << ", theirs in row " << b[i].row << " +" << b[i].offset;
        }
    }
}

void CheckAgainstOracles(const std::vector<uint8_t>& bytes) {
#if QB_TEST_HAVE_XMP
    Compare("libxmp", bytes, Xmp(bytes), false);
#endif
#if QB_TEST_HAVE_OPENMPT
    Compare("libopenmpt", bytes, OpenMpt(bytes), true);
#endif
#if !QB_TEST_HAVE_XMP && !QB_TEST_HAVE_OPENMPT
    (void)bytes;
    GTEST_SKIP() << "neither libxmp nor libopenmpt is installed";
#endif
}

// A click: a short burst without a loop, so that each note's start stands
// out in the output. Notes on channel 0 every fourth row.
Module Base(int positions) {
    Module m;
    m.songLength = positions;
    for (int i = 0; i < positions; ++i) m.order[static_cast<size_t>(i)] = static_cast<uint8_t>(i);
    // It ends on silence: a renderer that fades out where a sample stops
    // short then has nothing to fade.
    m.instruments[0].data = Square(40, 8);
    m.instruments[0].data.resize(48, 0);
    for (int i = 0; i < positions; ++i)
        for (int row = 0; row < 64; row += 4) m.At(i, row, 0) = {428, 1, 0, 0};
    return m;
}

TEST(ModOracle, SpeedAndTempoChanges) {
    Module m = Base(2);
    m.At(0, 1, 1) = {0, 0, 0xF, 0x03};
    m.At(0, 5, 1) = {0, 0, 0xF, 0x90};
    m.At(0, 9, 2) = {0, 0, 0xF, 0x01};
    m.At(0, 20, 3) = {0, 0, 0xF, 0x20};
    m.At(0, 22, 3) = {0, 0, 0xF, 0xFF};
    m.At(0, 30, 1) = {0, 0, 0xF, 0x1F};
    m.At(0, 31, 1) = {0, 0, 0xF, 0x04};
    CheckAgainstOracles(Build(m));
}

TEST(ModOracle, BreaksJumpsLoopsAndDelays) {
    Module m = Base(4);
    m.At(0, 3, 1) = {0, 0, 0xD, 0x15};    // to row 15 of position 1
    m.At(1, 20, 2) = {0, 0, 0xB, 0x03};   // on to position 3
    m.At(3, 2, 1) = {0, 0, 0xE, 0x60};
    m.At(3, 6, 1) = {0, 0, 0xE, 0x62};    // rows 2..6 three times
    m.At(3, 8, 2) = {0, 0, 0xE, 0xE3};    // row 8 four times as long
    m.At(3, 10, 0) = {428, 1, 0xE, 0xD2};  // a delayed note
    m.At(3, 11, 0) = {428, 1, 0xE, 0x92};  // retriggers
    m.At(3, 12, 2) = {0, 0, 0xD, 0x63};   // 63: row 0 of the next
    CheckAgainstOracles(Build(m));
}

TEST(ModOracle, GeneratedTimingModules) {
    std::mt19937 rng(1234);
    for (int n = 0; n < 6; ++n) {
        Module m = Base(4);
        for (int pat = 0; pat < 4; ++pat) {
            for (int row = 1; row < 64; ++row) {
                const int r = static_cast<int>(rng() % 100);
                Cell& c = m.At(pat, row, 1 + static_cast<int>(rng() % 3));
                if (r < 8)
                    c = {0, 0, 0xF, 1 + static_cast<int>(rng() % 8)};
                else if (r < 12)
                    c = {0, 0, 0xF, 32 + static_cast<int>(rng() % 224)};
                else if (r < 13 && row > 40)
                    c = {0, 0, 0xD, static_cast<int>((rng() % 6) * 16 + rng() % 10)};
                else if (r < 15)
                    c = {0, 0, 0xE, 0xE0 | static_cast<int>(rng() % 3)};
                else if (r < 18)
                    c = {428, 1, 0xE, 0xD0 | static_cast<int>(rng() % 4)};
            }
        }
        SCOPED_TRACE(n);
        CheckAgainstOracles(Build(m));
    }
}

}  // namespace
