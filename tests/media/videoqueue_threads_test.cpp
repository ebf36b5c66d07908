// The video packet queues across threads: order and byte counts, flush
// markers, the end flag, a stop request reaching a blocked consumer, and a
// flush releasing every packet through its source.
#include <gtest/gtest.h>

#include <atomic>

#include "media/videoqueue.h"

namespace {

struct Producer {
    qbVideoPacketQueue* queue = nullptr;
    int count = 0;
};

void ProduceBody(void* arg) {
    qbThread* t = GetThreadFromArg(arg);
    auto* p = static_cast<Producer*>(GetThreadUserData(t));
    SignalThreadStarted(t);
    for (int i = 1; i <= p->count; ++i) {
        PutVideoQueue(p->queue, reinterpret_cast<void*>(static_cast<intptr_t>(i)), i, i * 0.5);
        if (i == p->count / 2) PutVideoFlushMarker(p->queue);
    }
    SetVideoQueueEnd(p->queue, true);
    WaitThreadRelease(t);
}

TEST(VideoQueueTest, PacketsCrossInOrderAndEndAfterDraining) {
    qbVideoPacketQueue queue;
    ASSERT_TRUE(InitVideoQueue(&queue));
    Producer producer{&queue, 2000};
    qbThreadPtr thread = StartThread("producer", ProduceBody, &producer, 0, 16384, 0);
    ASSERT_TRUE(thread);
    int next = 1, markers = 0;
    qbVideoQueueNode node;
    int32_t got;
    while ((got = GetVideoQueue(nullptr, &queue, &node, true, true)) == kVideoQueueGot) {
        if (!node.data) {
            ++markers;
            EXPECT_EQ(next, producer.count / 2 + 1);
            continue;
        }
        ASSERT_EQ(reinterpret_cast<intptr_t>(node.data), next);
        EXPECT_EQ(node.size, next);
        EXPECT_EQ(node.pts, next * 0.5);
        ++next;
    }
    EXPECT_EQ(got, kVideoQueueEnd);
    EXPECT_EQ(next, producer.count + 1);
    EXPECT_EQ(markers, 1);
    EXPECT_EQ(VideoQueueBytes(&queue), 0);
    EXPECT_EQ(GetVideoQueue(nullptr, &queue, &node, false, false), kVideoQueueEmpty);
    JoinThread(thread);
}

struct Consumer {
    qbVideoPacketQueue* queue = nullptr;
    std::atomic<int32_t> result{99};
};

void ConsumeBody(void* arg) {
    qbThread* t = GetThreadFromArg(arg);
    auto* c = static_cast<Consumer*>(GetThreadUserData(t));
    SignalThreadStarted(t);
    qbVideoQueueNode node;
    c->result = GetVideoQueue(t, c->queue, &node, true, false);
    WaitThreadRelease(t);
}

TEST(VideoQueueTest, StopReachesABlockedConsumer) {
    qbVideoPacketQueue queue;
    ASSERT_TRUE(InitVideoQueue(&queue));
    SetVideoQueueEnd(&queue, true);  // not honoured: the consumer keeps waiting
    Consumer consumer;
    consumer.queue = &queue;
    qbThreadPtr thread = StartThread("consumer", ConsumeBody, &consumer, 0, 16384, 0);
    ASSERT_TRUE(thread);
    RequestThreadStop(thread.get());
    WakeVideoQueue(&queue);
    JoinThread(thread);
    EXPECT_EQ(consumer.result, kVideoQueueStop);
}

std::atomic<int> freed{0};
void CountFree(void*, void*) { ++freed; }

TEST(VideoQueueTest, FlushReleasesPacketsButNotMarkers) {
    qbVideoSourceOps ops;
    ops.freePacket = CountFree;
    qbVideoSource source;
    source.ops = &ops;
    qbVideoPacketQueue queue;
    ASSERT_TRUE(InitVideoQueue(&queue));
    int dummy[3];
    for (int& d : dummy) ASSERT_EQ(PutVideoQueue(&queue, &d, 100, 0.0), 0);
    PutVideoFlushMarker(&queue);
    SetVideoQueueEnd(&queue, true);
    EXPECT_EQ(VideoQueueBytes(&queue), 300);
    freed = 0;
    FlushVideoQueue(&queue, &source);
    EXPECT_EQ(freed, 3);
    EXPECT_EQ(VideoQueueBytes(&queue), 0);
    EXPECT_FALSE(queue.end);
    qbVideoQueueNode node;
    EXPECT_EQ(GetVideoQueue(nullptr, &queue, &node, false, true), kVideoQueueEmpty);
}

}  // namespace
