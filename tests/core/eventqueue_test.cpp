// The input event queue: superseded resizes, flushing, purging by age with an
// injected clock, owner detach, the copy the dispatcher reads, and a disabled
// queue that allocates nothing.
#include <gtest/gtest.h>

#include <cstdlib>
#include <new>
#include <vector>

#include "core/eventqueue.h"
#include "core/memory.h"
#include "queued_events.h"

// ThreadSanitizer's runtime brings its own operator new and delete, which
// cannot be replaced beside it; there the allocations go uncounted.
#if defined(__SANITIZE_THREAD__)
#define QB_COUNT_NEW 0
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define QB_COUNT_NEW 0
#endif
#endif
#ifndef QB_COUNT_NEW
#define QB_COUNT_NEW 1
#endif

// Counts this thread's allocations through operator new, so that a test can
// see that a call made none.
namespace {
thread_local size_t newCalls = 0;
}  // namespace

#if QB_COUNT_NEW
// All kept out of line: g++ inlines one but not the other, then pairs malloc()
// with operator delete (or operator new with free()) and reports a mismatch.
[[gnu::noinline]] void* operator new(std::size_t size) {
    ++newCalls;
    if (void* p = std::malloc(size ? size : 1)) return p;
    throw std::bad_alloc();
}
[[gnu::noinline]] void operator delete(void* p) noexcept { std::free(p); }
[[gnu::noinline]] void operator delete(void* p, std::size_t) noexcept { std::free(p); }
#endif

namespace {

TimeValue fakeNow;

void FakeClock(TimeValue* out) { *out = fakeNow; }

void SetNow(uint32_t seconds, uint32_t micros = 0) { fakeNow = TimeValue{seconds, micros}; }

// Displays are only compared by address here.
int displayA, displayB;
qbDisplay* const kDisplayA = reinterpret_cast<qbDisplay*>(&displayA);
qbDisplay* const kDisplayB = reinterpret_cast<qbDisplay*>(&displayB);

class EventQueueTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(InitEventQueue(), 0);
        ClearEventQueue(nullptr);
        ASSERT_EQ(InitEventQueue(), 0);
        SetNow(1000);
        SetEventClock(FakeClock);
    }
    void TearDown() override {
        ClearEventQueue(nullptr);
        SetEventClock(nullptr);
    }

    static std::vector<qbInputEvent> Queued() { return QueuedEvents(); }
    static std::vector<uint32_t> Types() {
        std::vector<uint32_t> types;
        for (const qbInputEvent& e : Queued()) types.push_back(e.type);
        return types;
    }
    // The key events carry their order in data3.
    static std::vector<int> KeyOrder() {
        std::vector<int> order;
        for (const qbInputEvent& e : Queued()) order.push_back(e.key[1]);
        return order;
    }
    static void PostKey(int n) { ASSERT_EQ(PostEvent(kDisplayA, kEventKey, 1, 0, n, nullptr), 1); }
    static void PostResize() { ASSERT_EQ(PostEvent(kDisplayA, kEventResized, 0, 0, 0, nullptr), 1); }
};

using TypeList = std::vector<uint32_t>;

TEST_F(EventQueueTest, OnlyTheNewestResizeStaysLiveThroughFlushes) {
    PostResize();
    PostResize();
    PostResize();
    EXPECT_EQ(Types(), (TypeList{kEventSuperseded, kEventSuperseded, kEventResized}));

    PostKey(1);
    PostResize();
    EXPECT_EQ(Types(), (TypeList{0, 0, 0, kEventKey, kEventResized}));

    // Freeing the live resize must not leave the queue pointing at it.
    FlushEvents(nullptr, -1, 1);
    PostResize();
    PostResize();
    EXPECT_EQ(Types(), (TypeList{kEventSuperseded, kEventResized}));

    // Flushing an older, superseded one keeps the live one live.
    FlushEvents(nullptr, 0, 1);
    PostKey(2);
    EXPECT_EQ(Types(), (TypeList{kEventResized, kEventKey}));
    PostResize();
    EXPECT_EQ(Types(), (TypeList{kEventSuperseded, kEventKey, kEventResized}));
}

TEST_F(EventQueueTest, FlushFreesTheLeadingEventsAndAppendingGoesOn) {
    for (int i = 0; i < 4; ++i) PostKey(i);
    FlushEvents(nullptr, 0, 1);
    EXPECT_EQ(KeyOrder(), (std::vector<int>{1, 2, 3}));
    FlushEvents(nullptr, 1, 1);
    EXPECT_EQ(KeyOrder(), (std::vector<int>{3}));

    // More than is queued frees all; the tail must not dangle afterwards.
    FlushEvents(nullptr, 10, 1);
    EXPECT_TRUE(Queued().empty());
    PostKey(7);
    PostKey(8);
    EXPECT_EQ(KeyOrder(), (std::vector<int>{7, 8}));

    // The caller that holds the queue flushes without locking again.
    LockEventQueue();
    FlushEvents(nullptr, -1, 0);
    UnlockEventQueue();
    EXPECT_TRUE(Queued().empty());
}

TEST_F(EventQueueTest, BlocksGoWithTheirEventUnlessAReaderTookThem) {
    void* kept = AllocMemory(32, 1);
    void* taken = AllocMemory(32, 1);
    ASSERT_TRUE(kept && taken);
    ASSERT_EQ(PostEvent(kDisplayA, kEventFilesDropped, 5, 6, 0, kept), 1);
    ASSERT_EQ(PostEvent(kDisplayA, kEventFilesDropped, 7, 8, 0, taken), 1);

    qbInputEvent e;
    LockEventQueue();
    ASSERT_EQ(PeekQueuedEvent(nullptr, 1, &e, 1), 2);
    EXPECT_EQ(e.block, taken);
    ASSERT_EQ(PeekQueuedEvent(nullptr, 1, &e, 0), 2);
    EXPECT_EQ(e.block, nullptr) << "the reader owns the block now";
    UnlockEventQueue();

    // The leak checker of the sanitizer build sees whether kept was freed.
    FlushEvents(nullptr, -1, 1);
    FreeMemory(taken);
}

TEST_F(EventQueueTest, PeekCopiesTheDataWordsEachTypeCarries) {
    PostEvent(kDisplayA, kEventLeftButton, 10, 20, 1, nullptr);
    PostEvent(kDisplayA, kEventKey, 1, 0, 65, nullptr);
    PostEvent(kDisplayB, kEventFilesDropped, 30, 40, 9, nullptr);
    PostEvent(kDisplayB, kEventMoved, 5, 6, 7, nullptr);
    std::vector<qbInputEvent> q = Queued();
    ASSERT_EQ(q.size(), 4u);
    EXPECT_EQ(q[0].display, kDisplayA);
    EXPECT_EQ(q[0].x, 10);
    EXPECT_EQ(q[0].y, 20);
    EXPECT_EQ(q[0].state, 1);
    EXPECT_EQ(q[1].key[1], 65);
    EXPECT_EQ(q[1].x, 0);
    EXPECT_EQ(q[2].display, kDisplayB);
    EXPECT_EQ(q[2].y, 40);
    EXPECT_EQ(q[2].state, 0);
    EXPECT_EQ(q[3].x, 0);
    EXPECT_EQ(q[3].state, 0);
    qbInputEvent none;
    EXPECT_EQ(PeekQueuedEvent(nullptr, 4, &none, 0), 0);
    EXPECT_EQ(PeekQueuedEvent(nullptr, -1, &none, 0), 0);
}

TEST_F(EventQueueTest, PeeksInAnyOrderSeeThePositionsOfTheMoment) {
    for (int i = 0; i < 5; ++i) PostKey(i);
    qbInputEvent e;
    LockEventQueue();
    ASSERT_EQ(PeekQueuedEvent(nullptr, 3, &e, 0), 4);
    EXPECT_EQ(e.key[1], 3);
    ASSERT_EQ(PeekQueuedEvent(nullptr, 1, &e, 0), 2);
    EXPECT_EQ(e.key[1], 1);
    ASSERT_EQ(PeekQueuedEvent(nullptr, 4, &e, 0), 5);
    EXPECT_EQ(e.key[1], 4);
    // Freeing the head shifts every position by one.
    FlushEvents(nullptr, 1, 0);
    ASSERT_EQ(PeekQueuedEvent(nullptr, 2, &e, 0), 3);
    EXPECT_EQ(e.key[1], 4);
    EXPECT_EQ(PeekQueuedEvent(nullptr, 3, &e, 0), 0);
    UnlockEventQueue();
    PostKey(5);
    LockEventQueue();
    ASSERT_EQ(PeekQueuedEvent(nullptr, 3, &e, 0), 4) << "appending extends what was peeked";
    EXPECT_EQ(e.key[1], 5);
    UnlockEventQueue();
}

TEST_F(EventQueueTest, StaleLeadingEventsArePurgedUpToTheFirstFreshOne) {
    SetNow(0);
    PostKey(1);
    PostKey(2);
    SetNow(50);
    PostKey(3);
    SetNow(61);
    PurgeStaleEvents(nullptr);
    EXPECT_EQ(KeyOrder(), (std::vector<int>{3}));
    PostKey(4);
    EXPECT_EQ(KeyOrder(), (std::vector<int>{3, 4})) << "the tail follows a purge";

    // A fresh event at the head protects older ones behind it.
    FlushEvents(nullptr, -1, 1);
    SetNow(100);
    PostKey(5);
    SetNow(0);
    PostKey(6);
    SetNow(110);
    PurgeStaleEvents(nullptr);
    EXPECT_EQ(KeyOrder(), (std::vector<int>{5, 6}));

    // Exactly the time-out is not older than it; a millisecond more is.
    FlushEvents(nullptr, -1, 1);
    SetNow(200);
    PostKey(7);
    SetNow(260);
    PurgeStaleEvents(nullptr);
    EXPECT_EQ(KeyOrder(), (std::vector<int>{7}));
    SetNow(260, 1000);
    PurgeStaleEvents(nullptr);
    EXPECT_TRUE(Queued().empty());

    // Purging everything takes the live resize with it.
    PostResize();
    SetNow(400);
    PurgeStaleEvents(nullptr);
    PostResize();
    EXPECT_EQ(Types(), (TypeList{kEventResized}));
}

TEST_F(EventQueueTest, DetachedEventsStayQueuedWithoutOwner) {
    PostEvent(kDisplayA, kEventCloseRequest, 0, 0, 0, nullptr);
    PostEvent(kDisplayB, kEventActivated, 0, 0, 0, nullptr);
    PostEvent(kDisplayA, kEventMoved, 0, 0, 0, nullptr);
    DetachEventOwner(kDisplayA);
    std::vector<qbInputEvent> q = Queued();
    ASSERT_EQ(q.size(), 3u);
    EXPECT_EQ(q[0].display, nullptr);
    EXPECT_EQ(q[1].display, kDisplayB);
    EXPECT_EQ(q[2].display, nullptr);
    EXPECT_EQ(q[2].type, kEventMoved);
}

TEST_F(EventQueueTest, ADisabledQueueRefusesPostsWithoutAllocating) {
    size_t before = newCalls;
    PostKey(1);
    if (QB_COUNT_NEW) {
        EXPECT_EQ(newCalls, before + 1) << "the counter must see a queued event's node";
    }

    ClearEventQueue(nullptr);
    EXPECT_TRUE(Queued().empty());
    void* block = AllocMemory(8, 1);
    before = newCalls;
    EXPECT_EQ(PostEvent(kDisplayA, kEventFilesDropped, 0, 0, 0, block), 0);
    EXPECT_EQ(PostEvent(kDisplayA, kEventResized, 0, 0, 0, nullptr), 0);
    EXPECT_EQ(newCalls, before);
    EXPECT_TRUE(Queued().empty());
    FreeMemory(block);  // a refused block stays the poster's

    ASSERT_EQ(InitEventQueue(), 0);
    PostKey(2);
    EXPECT_EQ(KeyOrder(), (std::vector<int>{2}));
}

TEST_F(EventQueueTest, WithoutItsMutexTheQueueRefusesEverythingUntilStartedAgain) {
    PostKey(1);
    FreeEventQueueMutex();
    EXPECT_EQ(PostEvent(kDisplayA, kEventKey, 1, 0, 2, nullptr), 0);
    LockEventQueue();  // harmless without a mutex
    UnlockEventQueue();
    PurgeStaleEvents(nullptr);
    DetachEventOwner(kDisplayA);

    ASSERT_EQ(InitEventQueue(), 0);
    EXPECT_TRUE(Queued().empty()) << "events queued before the mutex went are freed with it";
    PostKey(3);
    EXPECT_EQ(KeyOrder(), (std::vector<int>{3}));
}

}  // namespace
