// The event queue shared by posting threads and the one consumer, the way the
// platform's threads and the dispatcher share it.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <thread>
#include <vector>

#include "core/eventqueue.h"

namespace {

constexpr int kProducers = 4;
constexpr int kPostsEach = 20000;
constexpr int kResizeEvery = 97;

int displays[kProducers];

qbDisplay* DisplayOf(int producer) { return reinterpret_cast<qbDisplay*>(&displays[producer]); }

// Counts the resize events that are still live; the caller holds the queue.
int LiveResizes() {
    int live = 0;
    qbInputEvent e;
    for (int n = 0; PeekQueuedEvent(nullptr, n, &e, 0) == n + 1; ++n) live += e.type == kEventResized;
    return live;
}

TEST(EventQueueThreadsTest, FourPostersAndOneConsumerSeeEveryEventInOrder) {
    ASSERT_EQ(InitEventQueue(), 0);
    ClearEventQueue(nullptr);
    ASSERT_EQ(InitEventQueue(), 0);

    std::atomic<int> running{kProducers};
    std::vector<std::thread> producers;
    for (int p = 0; p < kProducers; ++p) {
        producers.emplace_back([p, &running] {
            for (int i = 0; i < kPostsEach; ++i) {
                if (i % kResizeEvery == 0) PostEvent(DisplayOf(p), kEventResized, 0, 0, 0, nullptr);
                EXPECT_EQ(PostEvent(DisplayOf(p), kEventKey, 1, p, i, nullptr), 1);
            }
            running.fetch_sub(1);
        });
    }

    std::vector<int> next(kProducers, 0);
    int keys = 0, resizesSeen = 0, rounds = 0, liveMax = 0;
    for (;;) {
        const bool finished = running.load() == 0;
        LockEventQueue();
        if (++rounds % 512 == 0) liveMax = std::max(liveMax, LiveResizes());
        qbInputEvent e;
        const bool got = PeekQueuedEvent(nullptr, 0, &e, 1) == 1;
        if (got) FlushEvents(nullptr, 0, 0);
        UnlockEventQueue();
        if (!got) {
            if (finished) break;
            std::this_thread::yield();
            continue;
        }
        if (e.type == kEventResized) ++resizesSeen;
        if (e.type != kEventKey) continue;
        const int p = e.key[0];
        ASSERT_GE(p, 0);
        ASSERT_LT(p, kProducers);
        EXPECT_EQ(e.display, DisplayOf(p));
        EXPECT_EQ(e.key[1], next[p]) << "each poster's events arrive in its order";
        next[p] = e.key[1] + 1;
        ++keys;
    }
    for (std::thread& t : producers) t.join();

    EXPECT_EQ(keys, kProducers * kPostsEach);
    EXPECT_LE(liveMax, 1);
    EXPECT_GE(resizesSeen, 1) << "the newest resize is never superseded away";
    ClearEventQueue(nullptr);
}

TEST(EventQueueThreadsTest, PostersRunningWhileTheQueueIsClearedAreRefusedCleanly) {
    ASSERT_EQ(InitEventQueue(), 0);
    std::atomic<bool> stop{false};
    std::atomic<int> refused{0};
    std::vector<std::thread> producers;
    for (int p = 0; p < kProducers; ++p) {
        producers.emplace_back([p, &stop, &refused] {
            // Shutdown clears and disables the queue while the platform's
            // threads may still post; only afterwards does the mutex go.
            while (!stop.load()) {
                if (PostEvent(DisplayOf(p), kEventMoved, 0, 0, 0, nullptr) == 0) refused.fetch_add(1);
            }
        });
    }
    while (refused.load() == 0) {
        ClearEventQueue(nullptr);
        std::this_thread::yield();
    }
    stop.store(true);
    for (std::thread& t : producers) t.join();
    FreeEventQueueMutex();
    EXPECT_EQ(PostEvent(DisplayOf(0), kEventMoved, 0, 0, 0, nullptr), 0);
    ASSERT_EQ(InitEventQueue(), 0);
    ClearEventQueue(nullptr);
}

}  // namespace
