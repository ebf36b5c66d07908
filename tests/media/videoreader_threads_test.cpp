// The video reader against a scripted source: queue limits, seeks with
// their flush markers, pausing, a source that never stops failing, and a
// whole file crossing to a consumer on another thread.
#include <gtest/gtest.h>

#include <atomic>

#include "media/videoreader.h"

namespace {

// Packets alternate picture, sound, ... (or pictures only); after `count`
// packets the source reports `after` for ever.
struct FakeSource {
    int32_t count = 1000000;
    int32_t after = -1;
    bool withSound = true;
    int32_t pictureBytes = 100000, soundBytes = 30000;
    int32_t read = 0;
    int64_t seekedTo = -1;
    std::atomic<int32_t> freed{0};
    char token = 0;
};

FakeSource* Fake(void* handle) { return static_cast<FakeSource*>(handle); }

int32_t FakeNext(void* handle, qbVideoPacket* packet) {
    FakeSource* f = Fake(handle);
    if (f->read >= f->count) return f->after;
    packet->packet = &f->token;
    packet->isAudio = f->withSound && (f->read & 1);
    packet->size = packet->isAudio ? f->soundBytes : f->pictureBytes;
    packet->pts = f->read * 0.04;
    ++f->read;
    return 0;
}
void FakeFree(void* handle, void*) { ++Fake(handle)->freed; }
int32_t FakeSeek(void* handle, int64_t target) {
    Fake(handle)->seekedTo = target;
    return 0;
}

qbVideoSourceOps FakeOps() {
    qbVideoSourceOps ops;
    ops.nextPacket = FakeNext;
    ops.freePacket = FakeFree;
    ops.seek = FakeSeek;
    return ops;
}

struct Rig {
    FakeSource fake;
    qbVideoSourceOps ops = FakeOps();
    qbVideoSource source;
    qbVideoPacketQueue audio, video;
    qbVideoReader reader;
    explicit Rig(bool withSound = true) {
        fake.withSound = withSound;
        source.ops = &ops;
        source.handle = &fake;
        EXPECT_TRUE(InitVideoQueue(&audio));
        EXPECT_TRUE(InitVideoQueue(&video));
        reader.source = &source;
        reader.audio = withSound ? &audio : nullptr;
        reader.video = &video;
    }
    ~Rig() {
        FlushVideoQueue(&audio, &source);
        FlushVideoQueue(&video, &source);
        source.handle = nullptr;
    }
    int StepUntilIdle() {
        int reads = 0;
        while (VideoReaderStep(&reader) == kVideoReaderRead && reads < 100000) ++reads;
        return reads;
    }
};

TEST(VideoReaderTest, QueueLimitsHold) {
    Rig rig;
    rig.StepUntilIdle();
    EXPECT_LE(VideoQueueBytes(&rig.video), kVideoPictureQueueLimit + rig.fake.pictureBytes);
    EXPECT_LT(VideoQueueBytes(&rig.audio), kVideoAudioQueueLimit + rig.fake.soundBytes);
    EXPECT_TRUE(VideoQueueBytes(&rig.audio) >= kVideoAudioQueueLimit ||
                VideoQueueBytes(&rig.video) > kVideoPictureQueueLimit);
    EXPECT_FALSE(rig.reader.ended);
    const int32_t before = rig.fake.read;
    EXPECT_EQ(VideoReaderStep(&rig.reader), kVideoReaderIdle);
    EXPECT_EQ(rig.fake.read, before);
}

TEST(VideoReaderTest, SeekFlushesBothQueuesAndMarksThem) {
    Rig rig;
    rig.fake.count = 6;
    rig.fake.soundBytes = 1000;
    rig.StepUntilIdle();
    EXPECT_TRUE(rig.reader.ended);
    EXPECT_TRUE(rig.video.end);
    rig.reader.seekTarget = 1234;
    rig.reader.seekRequested = true;
    EXPECT_EQ(VideoReaderStep(&rig.reader), kVideoReaderRead);
    EXPECT_EQ(rig.fake.seekedTo, 1234);
    EXPECT_EQ(rig.fake.freed, 6);
    EXPECT_FALSE(rig.reader.ended);
    EXPECT_FALSE(rig.reader.seekRequested);
    for (qbVideoPacketQueue* q : {&rig.audio, &rig.video}) {
        qbVideoQueueNode node;
        ASSERT_EQ(GetVideoQueue(nullptr, q, &node, false, false), kVideoQueueGot);
        EXPECT_EQ(node.data, nullptr);
        EXPECT_FALSE(q->end);
    }
}

TEST(VideoReaderTest, PausedReaderReadsNothingAndAnswers) {
    Rig rig;
    rig.reader.paused = true;
    rig.reader.seekRequested = true;  // waits for the resume
    EXPECT_EQ(VideoReaderStep(&rig.reader), kVideoReaderIdle);
    EXPECT_TRUE(rig.reader.pauseAcknowledged);
    EXPECT_EQ(rig.fake.read, 0);
    EXPECT_EQ(rig.fake.seekedTo, -1);
}

TEST(VideoReaderTest, EndlessErrorsEndTheStream) {
    Rig rig(false);
    rig.fake.count = 3;
    rig.fake.after = -2;
    int idle = 0;
    while (!rig.reader.ended && idle < 1000)
        if (VideoReaderStep(&rig.reader) == kVideoReaderIdle) ++idle;
    EXPECT_EQ(idle, kVideoReaderMaxErrors);  // one idle round per failed try
    EXPECT_TRUE(rig.video.end);
}

TEST(VideoReaderTest, AFileCrossesToAnotherThread) {
    Rig rig;
    rig.fake.count = 400;  // more than the queues hold at once
    rig.fake.pictureBytes = 20000;
    qbThreadPtr thread = StartThread("Quenbrook video decoder", VideoReaderThread, &rig.reader, 0, 200000, 0);
    ASSERT_TRUE(thread);
    int pictures = 0, sounds = 0;
    qbVideoQueueNode node;
    bool videoDone = false, audioDone = false;
    while (!videoDone || !audioDone) {
        if (!videoDone) {
            const int32_t got = GetVideoQueue(nullptr, &rig.video, &node, true, true);
            if (got == kVideoQueueGot) {
                EXPECT_DOUBLE_EQ(node.pts, pictures * 2 * 0.04);
                ++pictures;
            }
            videoDone = got == kVideoQueueEnd;
        }
        if (!audioDone) {
            const int32_t got = GetVideoQueue(nullptr, &rig.audio, &node, true, true);
            if (got == kVideoQueueGot) ++sounds;
            audioDone = got == kVideoQueueEnd;
        }
    }
    RequestThreadStop(thread.get());
    JoinThread(thread);
    EXPECT_EQ(pictures, 200);
    EXPECT_EQ(sounds, 200);
}

}  // namespace
