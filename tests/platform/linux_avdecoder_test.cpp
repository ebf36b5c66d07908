// The FFmpeg decoders' one rule for failures: a decoder that reported an
// error is opened anew before it is fed or flushed again. libjxl's, given a
// second packet after a damaged picture, crashes.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "imaging/imagefixtures.h"
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
// each given a fresh decoder. Key packets that keep failing give the
// stream up for a while, never for good: a long damaged stretch costs a
// small share of its packets in opens, a second of the stream's time never
// passes without a try, and a picture ends the give-up.
TEST(StreamDecoderTest, AFailedDecoderWaitsForAKeyPacketAndAGivenUpStreamIsStillTried) {
    const AVCodec* jxl = avcodec_find_decoder(AV_CODEC_ID_JPEGXL);
    if (!jxl) GTEST_SKIP() << "FFmpeg has no JPEG XL decoder";
    if (!imagefixtures::HaveTool("ffmpeg")) GTEST_SKIP() << "ffmpeg missing";
    av_common::SilenceLog();
    imagefixtures::ScratchDir dir;
    const std::string file = dir.File("good.jxl");
    ASSERT_EQ(imagefixtures::RunQuietly("ffmpeg -v error -nostdin -y -f lavfi -i color=c=red:s=16x16 -frames:v 1 "
                                        "-c:v libjxl -f image2 '" + file + "'"),
              0);
    const std::vector<uint8_t> good = imagefixtures::ReadBytes(file);
    ASSERT_FALSE(good.empty());
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

    const std::vector<uint8_t> damaged = {0xff, 0x0a, 0x45, 0xb1, 0xb7, 0x77, 0x45, 0x42};
    std::unique_ptr<AVPacket, av_common::PacketFree> packet(av_packet_alloc());
    std::unique_ptr<AVFrame, av_common::FrameFree> frame(av_frame_alloc());
    // Sends one packet: whether a picture came out of it.
    const auto send = [&](bool key, const std::vector<uint8_t>* given = nullptr, int64_t pts = AV_NOPTS_VALUE) {
        const std::vector<uint8_t>& bytes = given ? *given : damaged;
        EXPECT_EQ(av_new_packet(packet.get(), static_cast<int>(bytes.size())), 0);
        std::memcpy(packet->data, bytes.data(), bytes.size());
        packet->flags = key ? AV_PKT_FLAG_KEY : 0;
        packet->pts = packet->dts = pts;
        av_common::SendToDecoder(d, packet.get());
        av_packet_unref(packet.get());
        bool picture = false;
        while (av_common::ReceiveFromDecoder(d, frame.get()) == 0) {
            picture = true;
            av_frame_unref(frame.get());
        }
        return picture;
    };
    EXPECT_FALSE(send(true));
    EXPECT_TRUE(d.failed);
    for (int i = 0; i < 1000; ++i) send(false);
    EXPECT_EQ(d.opens, 1) << "packets before the next key packet open no decoder";

    // A damaged stretch of twice the bound still tries every key packet, so
    // the picture after it is not lost.
    for (int i = 1; i < 2 * av_common::kMaxFailedOpens; ++i) send(true);
    EXPECT_EQ(d.opens, 2 * av_common::kMaxFailedOpens);
    EXPECT_TRUE(d.givenUp());
    // A long one costs a small share of its packets, and is still tried at its end.
    int64_t before = d.opens;
    for (int i = 0; i < 10000; ++i) send(true);
    EXPECT_LE(d.opens - before, 10000 / 16);
    before = d.opens;
    for (int i = 0; i < 1000; ++i) send(true);
    EXPECT_GE(d.opens - before, 1000 / av_common::kMaxRetryInterval);
    // Packets with times: at least one try a second (25 packets here).
    before = d.opens;
    for (int i = 0; i < 500; ++i) send(true, nullptr, i);
    EXPECT_GE(d.opens - before, (500 - av_common::kMaxRetryInterval) / 25);
    EXPECT_LE(d.opens - before, 500 / 25 + 1);

    // A good picture comes out at the next try, and ends the give-up: the
    // key packet after the next damaged one is tried at once.
    int waited = 0;
    while (!send(true, &good) && waited < 10 * av_common::kMaxRetryInterval) ++waited;
    EXPECT_LT(waited, av_common::kMaxRetryInterval);
    EXPECT_FALSE(d.givenUp());
    EXPECT_FALSE(send(true));
    EXPECT_TRUE(send(true, &good));

    // A seek's flush gives a fresh decoder at once.
    for (int i = 0; i < 4 * av_common::kMaxFailedOpens; ++i) send(true);
    EXPECT_TRUE(d.givenUp());
    before = d.opens;
    av_common::FlushDecoder(d);
    EXPECT_FALSE(d.givenUp());
    EXPECT_FALSE(d.failed);
    EXPECT_EQ(d.opens, before + 1);
}

}  // namespace
