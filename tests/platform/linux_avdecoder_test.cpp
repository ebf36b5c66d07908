// The FFmpeg decoders' one rule for failures: a decoder that reported an
// error is opened anew before it is fed or flushed again. libjxl's, given a
// second packet after a damaged picture, crashes.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "platform/linux/avdecoder.h"

namespace {

struct FormatFree {
    void operator()(AVFormatContext* f) const { avformat_free_context(f); }
};

TEST(StreamDecoderTest, AFailedDecoderIsOpenedAnewBeforeItIsFedOrFlushed) {
    const AVCodec* jxl = avcodec_find_decoder(AV_CODEC_ID_JPEGXL);
    if (!jxl) GTEST_SKIP() << "FFmpeg has no JPEG XL decoder";
    std::unique_ptr<AVFormatContext, FormatFree> format(avformat_alloc_context());
    ASSERT_TRUE(format);
    AVStream* stream = avformat_new_stream(format.get(), nullptr);
    ASSERT_TRUE(stream);
    stream->codecpar->codec_type = AVMEDIA_TYPE_VIDEO;
    stream->codecpar->codec_id = AV_CODEC_ID_JPEGXL;
    stream->time_base = AVRational{1, 25};
    av_common::StreamDecoder d;
    ASSERT_EQ(av_common::OpenStreamDecoder(d, stream, jxl, -1), 0);
    EXPECT_FALSE(d.failed);

    const uint8_t damaged[] = {0xff, 0x0a, 0x45, 0xb1, 0xb7, 0x77, 0x45, 0x42};
    std::unique_ptr<AVPacket, av_common::PacketFree> packet(av_packet_alloc());
    std::unique_ptr<AVFrame, av_common::FrameFree> frame(av_frame_alloc());
    for (int round = 0; round < 3; ++round) {
        ASSERT_EQ(av_new_packet(packet.get(), sizeof damaged), 0);
        std::memcpy(packet->data, damaged, sizeof damaged);
        EXPECT_LT(av_common::SendToDecoder(d, packet.get()), 0) << round;
        av_packet_unref(packet.get());
        EXPECT_TRUE(d.failed) << round;
        EXPECT_LT(av_common::ReceiveFromDecoder(d, frame.get()), 0);
        if (round == 1) {
            // A seek's flush gives a fresh decoder.
            av_common::FlushDecoder(d);
            EXPECT_FALSE(d.failed);
            ASSERT_TRUE(d.get());
        }
    }
    // The end of the input, as the drain sends it.
    EXPECT_EQ(av_common::SendToDecoder(d, nullptr), 0);
    EXPECT_EQ(av_common::ReceiveFromDecoder(d, frame.get()), AVERROR_EOF);
}

// After a failure the packets up to the next key packet are dropped, not
// each given a fresh decoder; key packets that keep failing give the
// stream up after a bound, until a seek's flush.
TEST(StreamDecoderTest, AFailedDecoderWaitsForAKeyPacketAndGivesUpAfterABound) {
    const AVCodec* jxl = avcodec_find_decoder(AV_CODEC_ID_JPEGXL);
    if (!jxl) GTEST_SKIP() << "FFmpeg has no JPEG XL decoder";
    std::unique_ptr<AVFormatContext, FormatFree> format(avformat_alloc_context());
    ASSERT_TRUE(format);
    AVStream* stream = avformat_new_stream(format.get(), nullptr);
    ASSERT_TRUE(stream);
    stream->codecpar->codec_type = AVMEDIA_TYPE_VIDEO;
    stream->codecpar->codec_id = AV_CODEC_ID_JPEGXL;
    stream->time_base = AVRational{1, 25};
    av_common::StreamDecoder d;
    ASSERT_EQ(av_common::OpenStreamDecoder(d, stream, jxl, -1), 0);
    EXPECT_EQ(d.opens, 1);

    const uint8_t damaged[] = {0xff, 0x0a, 0x45, 0xb1, 0xb7, 0x77, 0x45, 0x42};
    std::unique_ptr<AVPacket, av_common::PacketFree> packet(av_packet_alloc());
    std::unique_ptr<AVFrame, av_common::FrameFree> frame(av_frame_alloc());
    const auto send = [&](bool key) {
        EXPECT_EQ(av_new_packet(packet.get(), sizeof damaged), 0);
        std::memcpy(packet->data, damaged, sizeof damaged);
        packet->flags = key ? AV_PKT_FLAG_KEY : 0;
        const int err = av_common::SendToDecoder(d, packet.get());
        av_packet_unref(packet.get());
        av_common::ReceiveFromDecoder(d, frame.get());
        return err;
    };
    EXPECT_LT(send(true), 0);
    EXPECT_TRUE(d.failed);
    for (int i = 0; i < 1000; ++i) EXPECT_EQ(send(false), 0) << i;
    EXPECT_EQ(d.opens, 1) << "packets before the next key packet open no decoder";
    for (int i = 1; i < av_common::kMaxFailedOpens; ++i) EXPECT_LT(send(true), 0) << i;
    EXPECT_EQ(d.opens, av_common::kMaxFailedOpens);
    EXPECT_TRUE(d.givenUp());
    for (int i = 0; i < 100; ++i) EXPECT_LT(send(true), 0) << i;
    EXPECT_EQ(d.opens, av_common::kMaxFailedOpens) << "a given-up stream opens nothing more";
    av_common::FlushDecoder(d);
    EXPECT_FALSE(d.givenUp());
    EXPECT_FALSE(d.failed);
    EXPECT_EQ(d.opens, av_common::kMaxFailedOpens + 1);
}

}  // namespace
