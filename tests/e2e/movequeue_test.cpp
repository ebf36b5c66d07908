// A move queue in a script run by the player, headless: three layers are
// moved, hidden and removed by one DoMove, and the saved frame shows every
// change.
#include <gtest/gtest.h>

#include <string>

#include "e2e/e2e_util.h"
#include "e2e/frames.h"

namespace fs = std::filesystem;

namespace {

std::string Body() {
    std::string s = e2e::CallCommand("EnableLayers", {});
    const double colours[3] = {0xFF0000, 0x00FF00, 0x0000FF};
    for (int i = 0; i < 3; ++i) s += e2e::CallCommand("CreateBrush", {double(i + 1), 20, 20, colours[i]});
    for (int i = 0; i < 3; ++i) s += e2e::CallCommand("DisplayBrush", {double(i + 1), 10.0, 10.0 + 30 * i});
    s += e2e::CallCommand("AddMove", {1, 22, 1, 60, 10});
    s += e2e::CallCommand("AddMove", {1, 25, 2});
    s += e2e::CallCommand("AddMove", {1, 26, 3});
    s += e2e::CallCommand("DoMove", {1});
    return s;
}

using MoveQueueE2eTest = e2e::E2eFixture;

}  // namespace

TEST_F(MoveQueueE2eTest, OneDoMoveShowsEveryQueuedChange) {
    const fs::path qba = Pack(Chunk(e2e::MainFunction(Body(), 8), "queue"), dir_ / "queue.qba",
                              "--include queue.qbs:1:1000:0");
    const e2e::RunResult r = PlaySavingFrames(qba);
    ASSERT_EQ(r.status, 0) << r.err;
    const e2e::Frame f = e2e::LastSavedFrame(dir_);
    ASSERT_GT(f.width, 100);
    ASSERT_GT(f.height, 100);
    EXPECT_EQ(f.At(65, 15), 0xFF0000u);  // red moved
    EXPECT_EQ(f.At(15, 15), 0x000000u);
    EXPECT_EQ(f.At(15, 45), 0x000000u);  // green hidden
    EXPECT_EQ(f.At(15, 75), 0x000000u);  // blue removed
}
