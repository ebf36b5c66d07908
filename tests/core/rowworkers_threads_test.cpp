// The row workers: every row of a job done exactly once, no share index in
// use twice at a time, jobs one after another on the same threads, and the
// caller alone where there are no other threads.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <thread>
#include <vector>

#include "core/rowworkers.h"

namespace {

// Runs jobs of the given sizes and checks each row's count and each
// share's exclusiveness.
void ExpectEveryRowOnce(qbRowWorkers& workers, int32_t rows, int32_t chunk) {
    std::vector<std::atomic<int>> seen(static_cast<size_t>(rows));
    std::vector<std::atomic<int>> busy(static_cast<size_t>(workers.Shares()));
    std::atomic<bool> shared{false};
    workers.Run(rows, chunk, [&](int32_t share, int32_t from, int32_t to) {
        ASSERT_GE(share, 0);
        ASSERT_LT(share, workers.Shares());
        if (busy[static_cast<size_t>(share)].fetch_add(1) != 0) shared = true;
        ASSERT_LE(to - from, std::max(chunk, 1));  // a chunk below 1 counts as 1
        for (int32_t y = from; y < to; ++y) seen[static_cast<size_t>(y)].fetch_add(1);
        busy[static_cast<size_t>(share)].fetch_sub(1);
    });
    EXPECT_FALSE(shared) << "a share index ran twice at once";
    for (int32_t y = 0; y < rows; ++y) ASSERT_EQ(seen[static_cast<size_t>(y)].load(), 1) << rows << " row " << y;
}

TEST(RowWorkersTest, EveryRowOnceWhateverTheSizes) {
    qbRowWorkers workers(4);
    ASSERT_GE(workers.Shares(), 1);
    for (int round = 0; round < 50; ++round)
        for (auto [rows, chunk] : {std::pair{1, 8}, {7, 8}, {8, 8}, {9, 8}, {1081, 8}, {300, 1}, {17, 0}})
            ExpectEveryRowOnce(workers, rows, chunk);
    workers.Run(0, 8, [](int32_t, int32_t, int32_t) { FAIL() << "no rows, no call"; });
}

TEST(RowWorkersTest, OneShareRunsOnTheCaller) {
    qbRowWorkers workers(1);
    EXPECT_EQ(workers.Shares(), 1);
    const std::thread::id caller = std::this_thread::get_id();
    int32_t rows = 0;
    workers.Run(100, 8, [&](int32_t share, int32_t from, int32_t to) {
        EXPECT_EQ(share, 0);
        EXPECT_EQ(std::this_thread::get_id(), caller);
        rows += to - from;
    });
    EXPECT_EQ(rows, 100);
}

// Threads are made and stopped with the set, idle or not; the record form
// takes a null.
TEST(RowWorkersTest, MadeAndFreedAsARecordsPart) {
    for (int i = 0; i < 20; ++i) {
        qbRowWorkers* workers = AllocRowWorkers(3);
        ASSERT_NE(workers, nullptr);
        if (i % 2) ExpectEveryRowOnce(*workers, 64, 4);
        FreeRowWorkers(workers);
    }
    FreeRowWorkers(nullptr);
    qbRowWorkers all;  // one per usable processor
    EXPECT_GE(all.Shares(), 1);
    EXPECT_LE(all.Shares(), qbRowWorkers::kMaxShares);
}

}  // namespace
