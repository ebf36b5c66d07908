// Row timing against libxmp and libopenmpt (where the distribution has
// them): the same generated modules, the output frame at which each row
// begins, within one tick. Mixing is not compared.
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

constexpr size_t kMaxRows = 300;

std::vector<RowStart> Ours(const std::vector<uint8_t>& bytes, size_t rows, std::vector<int>* tickFrames) {
    auto p = std::make_unique<ModPlayer>();
    EXPECT_EQ(ParseModule(bytes.data(), bytes.size(), *p), 0);
    std::vector<RowStart> out;
    int16_t frame[2];
    int lastPos = -1, lastRow = -1;
    for (int64_t f = 0; out.size() < rows && f < 48000 * 600; ++f) {
        RenderModule(*p, frame, frame + 1, 2, 1);
        qbModulePosition& shared = *p;
        const int pos = shared.songPosition.load(), row = shared.row.load();
        if (pos != lastPos || row != lastRow) {
            out.push_back({pos, row, f});
            tickFrames->push_back(p->samplesPerTick / 2);
            lastPos = pos;
            lastRow = row;
        }
    }
    return out;
}

#if QB_TEST_HAVE_XMP
std::vector<RowStart> Xmp(const std::vector<uint8_t>& bytes) {
    std::vector<RowStart> out;
    xmp_context c = xmp_create_context();
    if (xmp_load_module_from_memory(c, bytes.data(), static_cast<long>(bytes.size())) != 0) {
        xmp_free_context(c);
        ADD_FAILURE() << "libxmp refused the module";
        return out;
    }
    xmp_start_player(c, 48000, 0);
    int64_t frames = 0;
    int lastPos = -1, lastRow = -1;
    while (out.size() < kMaxRows && xmp_play_frame(c) == 0) {
        xmp_frame_info fi;
        xmp_get_frame_info(c, &fi);
        if (fi.loop_count > 0) break;
        if (fi.pos != lastPos || fi.row != lastRow) {
            out.push_back({fi.pos, fi.row, frames});
            lastPos = fi.pos;
            lastRow = fi.row;
        }
        frames += fi.buffer_size / 4;
    }
    xmp_end_player(c);
    xmp_release_module(c);
    xmp_free_context(c);
    return out;
}
#endif

#if QB_TEST_HAVE_OPENMPT
std::vector<RowStart> OpenMpt(const std::vector<uint8_t>& bytes) {
    std::vector<RowStart> out;
    openmpt_module* mod = openmpt_module_create_from_memory2(bytes.data(), bytes.size(), nullptr, nullptr, nullptr,
                                                             nullptr, nullptr, nullptr, nullptr);
    if (!mod) {
        ADD_FAILURE() << "libopenmpt refused the module";
        return out;
    }
    openmpt_module_set_repeat_count(mod, 0);
    constexpr size_t kChunk = 8;
    int16_t buf[2 * kChunk];
    int64_t frames = 0;
    int lastPos = -1, lastRow = -1;
    while (out.size() < kMaxRows) {
        const size_t got = openmpt_module_read_interleaved_stereo(mod, 48000, kChunk, buf);
        if (got == 0) break;
        const int pos = openmpt_module_get_current_order(mod), row = openmpt_module_get_current_row(mod);
        if (pos != lastPos || row != lastRow) {
            out.push_back({pos, row, frames});
            lastPos = pos;
            lastRow = row;
        }
        frames += static_cast<int64_t>(got);
    }
    openmpt_module_destroy(mod);
    return out;
}
#endif

// libxmp is held to the frame each row starts at; libopenmpt, which takes a
// tempo change one tick later, to each row's length.
void Compare(const char* who, const std::vector<uint8_t>& bytes, const std::vector<RowStart>& theirs,
             bool lengths) {
    ASSERT_GE(theirs.size(), 8u) << who;
    std::vector<int> tick;
    const std::vector<RowStart> ours = Ours(bytes, theirs.size(), &tick);
    ASSERT_EQ(ours.size(), theirs.size()) << who;
    int bad = 0;
    for (size_t i = 0; i < ours.size() && bad < 5; ++i) {
        bool same = ours[i].position == theirs[i].position && ours[i].row == theirs[i].row;
        if (!lengths) {
            same = same && std::llabs(ours[i].frame - theirs[i].frame) <= tick[i];
        } else if (i > 0) {
            const int64_t mine = ours[i].frame - ours[i - 1].frame, other = theirs[i].frame - theirs[i - 1].frame;
            // The tick the change comes late by was one at the tempo before.
            const int before = i > 1 ? tick[i - 2] : tick[i - 1];
            same = same && std::llabs(mine - other) <= std::max({tick[i], tick[i - 1], before}) + 8;
        }
        if (!same) {
            ++bad;
            ADD_FAILURE() << who << " row " << i << ": ours " << ours[i].position << "/" << ours[i].row << " at "
                          << ours[i].frame << ", theirs " << theirs[i].position << "/" << theirs[i].row << " at "
                          << theirs[i].frame;
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

Module Base(int positions) {
    Module m;
    m.songLength = positions;
    for (int i = 0; i < positions; ++i) m.order[static_cast<size_t>(i)] = static_cast<uint8_t>(i);
    m.instruments[0].data = Square(512);
    m.instruments[0].loopStartWords = 0;
    m.instruments[0].loopLengthWords = 256;
    for (int i = 0; i < positions; ++i) m.At(i, 0, 0) = {428, 1, 0, 0};
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
