// The CDXL reader: rates and durations from the chunk size, the packet
// order with and without sound, seeking, the files it refuses, and its
// pictures against ffmpeg's cdxl decoder.
#include <gtest/gtest.h>

#include <cmath>

#include "cdxlbuilder.h"
#include "imaging/imagefixtures.h"
#include "media/cdxl.h"

using cdxlbuilder::Bytes;
using cdxlbuilder::Layout;

namespace {

struct Opened {
    qbCDXLReaderPtr reader;
    qbVideoStreamInfo info;
};

Opened OpenBytes(const imagefixtures::ScratchDir& dir, const Bytes& bytes, const char* name = "clip.cdxl") {
    const std::string path = dir.File(name);
    imagefixtures::WriteBytes(path, bytes);
    Opened o;
    o.info.reserved = 77;
    o.reader.reset(OpenCDXL(path.c_str(), &o.info));
    return o;
}

std::vector<uint32_t> Decode(const qbCDXLReader* reader, const qbCDXLPacket& packet) {
    std::vector<uint32_t> frame(static_cast<size_t>(reader->width) * static_cast<size_t>(reader->height));
    double pts = -1;
    EXPECT_TRUE(CDXLDecodeVideoFrame(reader, packet, frame.data(), &pts));
    EXPECT_EQ(pts, packet.pts);
    for (auto& p : frame) p = __builtin_bswap32(p);  // back from the engine's byte order
    return frame;
}

TEST(CDXLTest, RatesFollowTheChunkSize) {
    imagefixtures::ScratchDir dir;
    for (auto [chunk, fps] : {std::pair{12000u, 12.8}, std::pair{20000u, 15.36}, std::pair{50000u, 12.288}}) {
        Layout s;
        s.palette = cdxlbuilder::Palette(16, 3);
        s.soundSize = 1000;
        s.chunkSize = chunk;
        s.frames = 25;
        Opened o = OpenBytes(dir, cdxlbuilder::Build(s));
        ASSERT_TRUE(o.reader) << chunk;
        EXPECT_DOUBLE_EQ(o.reader->framesPerSecond, fps);
        EXPECT_EQ(o.info.duration, static_cast<uint32_t>(25 / fps * 1000)) << chunk;
        EXPECT_DOUBLE_EQ(o.info.frameDuration, 1.0 / fps) << chunk;
        EXPECT_EQ(o.info.audioRate, std::lround(1000 * fps));
        EXPECT_EQ(o.info.audioChannels, 1);
        EXPECT_EQ(o.info.framesAreRGB, 1);
        EXPECT_EQ(o.info.flags & kVideoInfoSeekable, kVideoInfoSeekable);
        EXPECT_EQ(o.info.reserved, 77);
        EXPECT_EQ(o.info.frameWidth, 32);
        EXPECT_EQ(o.info.frameHeight, 16);
    }
    EXPECT_STREQ(GetCDXLFormatName(), "CDXL");
}

TEST(CDXLTest, SoundFollowsEachPictureAndIsScaled) {
    imagefixtures::ScratchDir dir;
    Layout s;
    s.palette = cdxlbuilder::Palette(16, 5);
    s.soundSize = 100;
    s.chunkSize = cdxlbuilder::NaturalChunk(s) + 17;  // trailing bytes to skip
    Opened o = OpenBytes(dir, cdxlbuilder::Build(s));
    ASSERT_TRUE(o.reader);
    for (uint32_t f = 0; f < s.frames; ++f) {
        qbCDXLPacketPtr p;
        ASSERT_EQ(CDXLNextPacket(o.reader.get(), &p), 0);
        EXPECT_EQ(p->kind, kCDXLPacketVideo);
        EXPECT_DOUBLE_EQ(p->pts, f / o.reader->framesPerSecond);
        ASSERT_EQ(CDXLNextPacket(o.reader.get(), &p), 0);
        ASSERT_EQ(p->kind, kCDXLPacketAudio);
        EXPECT_DOUBLE_EQ(p->pts, f / o.reader->framesPerSecond);
        std::vector<int16_t> samples;
        EXPECT_EQ(CDXLDecodeAudioFrame(*p, &samples), 200u);
        ASSERT_EQ(samples.size(), 100u);
        for (size_t i : {size_t{0}, size_t{40}, size_t{99}})
            EXPECT_EQ(samples[i], static_cast<int8_t>(cdxlbuilder::SoundByte(f, i)) * 256);
    }
    qbCDXLPacketPtr p;
    EXPECT_EQ(CDXLNextPacket(o.reader.get(), &p), -1);
}

TEST(CDXLTest, NoSoundMeansNoAudioPacketsAndSeeksClamp) {
    imagefixtures::ScratchDir dir;
    Layout s;
    s.palette = cdxlbuilder::Palette(16, 7);
    s.frames = 10;
    Opened o = OpenBytes(dir, cdxlbuilder::Build(s));
    ASSERT_TRUE(o.reader);
    EXPECT_EQ(o.info.audioChannels, 0);
    std::vector<std::vector<uint32_t>> frames;
    qbCDXLPacketPtr p;
    while (CDXLNextPacket(o.reader.get(), &p) == 0) {
        EXPECT_EQ(p->kind, kCDXLPacketVideo);
        frames.push_back(Decode(o.reader.get(), *p));
    }
    ASSERT_EQ(frames.size(), 10u);
    CDXLSeek(o.reader.get(), 0xFFFFFFFFu);
    ASSERT_EQ(CDXLNextPacket(o.reader.get(), &p), 0);
    EXPECT_EQ(Decode(o.reader.get(), *p), frames[9]);
    EXPECT_EQ(CDXLNextPacket(o.reader.get(), &p), -1);
    const double fps = o.reader->framesPerSecond;
    CDXLSeek(o.reader.get(), static_cast<uint32_t>(std::ceil(4 / fps * 1000)));
    ASSERT_EQ(CDXLNextPacket(o.reader.get(), &p), 0);
    EXPECT_EQ(Decode(o.reader.get(), *p), frames[4]);
}

// 6144-byte chunks at single speed are 25 pictures a second exactly; a
// rate in floating point put 1160, 2280 and 2320 ms a picture early.
TEST(CDXLTest, EveryMillisecondSeeksToThePictureThatRunsThen) {
    imagefixtures::ScratchDir dir;
    Layout s;
    s.palette = cdxlbuilder::Palette(16, 9);
    s.chunkSize = 6144;
    s.frames = 75;
    Opened o = OpenBytes(dir, cdxlbuilder::Build(s));
    ASSERT_TRUE(o.reader);
    EXPECT_EQ(o.info.duration, 3000u);
    for (uint32_t ms = 0; ms < 3000; ++ms) {
        CDXLSeek(o.reader.get(), ms);
        qbCDXLPacketPtr p;
        ASSERT_EQ(CDXLNextPacket(o.reader.get(), &p), 0);
        ASSERT_EQ(std::lround(p->pts * 25), ms * 25 / 1000) << ms;
    }
}

TEST(CDXLTest, RefusesMalformedFiles) {
    imagefixtures::ScratchDir dir;
    Layout good;
    good.palette = cdxlbuilder::Palette(16, 9);
    ASSERT_TRUE(OpenBytes(dir, cdxlbuilder::Build(good)).reader);
    EXPECT_FALSE(OpenCDXL(dir.File("missing.cdxl").c_str(), nullptr));

    auto refused = [&](Bytes bytes, const char* why) {
        EXPECT_FALSE(OpenBytes(dir, bytes).reader) << why;
    };
    Bytes b = cdxlbuilder::Build(good);
    b[0] = 2;
    refused(b, "type");
    Layout one = good;
    one.frames = 1;
    refused(cdxlbuilder::Build(one), "one chunk");
    b = cdxlbuilder::Build(good);
    b[cdxlbuilder::NaturalChunk(good) + 5] ^= 1;
    refused(b, "unequal chunks");
    // A zero chunk size: every header says 0 and the file is not empty.
    b = cdxlbuilder::Build(good);
    for (size_t at = 0; at < b.size(); at += cdxlbuilder::NaturalChunk(good)) b[at + 2] = b[at + 3] = b[at + 4] = b[at + 5] = 0;
    refused(b, "zero chunk size");
    Layout small = good;
    small.chunkSize = cdxlbuilder::NaturalChunk(good) - 1;
    refused(cdxlbuilder::Build(small), "parts larger than the chunk");
    for (uint8_t planes : {uint8_t{0}, uint8_t{9}}) {
        Layout s = good;
        s.planes = planes;
        refused(cdxlbuilder::Build(s), "planes");
    }
    Layout flat = good;
    flat.height = 0;
    flat.chunkSize = 200;
    refused(cdxlbuilder::Build(flat), "no rows");
    Layout narrow = good;
    narrow.width = 0;
    narrow.chunkSize = 200;
    refused(cdxlbuilder::Build(narrow), "no columns");
}

TEST(CDXLTest, ShortFileEndsPackets) {
    imagefixtures::ScratchDir dir;
    Layout s;
    s.palette = cdxlbuilder::Palette(16, 11);
    s.soundSize = 50;
    Bytes b = cdxlbuilder::Build(s);
    b.resize(b.size() - 30);  // the last chunk's sound is cut short
    Opened o = OpenBytes(dir, b);
    ASSERT_TRUE(o.reader);
    EXPECT_EQ(o.reader->frameCount, 2);  // whole chunks only
    qbCDXLPacketPtr p;
    int packets = 0;
    while (CDXLNextPacket(o.reader.get(), &p) == 0) ++packets;
    EXPECT_EQ(packets, 4);
}

// ffmpeg's cdxl decoder on the same file, each frame as 0x00RRGGBB.
std::vector<std::vector<uint32_t>> FfmpegFrames(const imagefixtures::ScratchDir& dir, const std::string& path, size_t pixels) {
    const std::string raw = dir.File("oracle.raw");
    if (imagefixtures::RunQuietly("ffmpeg -v error -nostdin -y -f cdxl -i " + path +
                                  " -an -fps_mode passthrough -f rawvideo -pix_fmt bgra " + raw) != 0)
        return {};
    const Bytes bytes = imagefixtures::ReadBytes(raw);
    std::vector<std::vector<uint32_t>> frames;
    for (size_t at = 0; at + pixels * 4 <= bytes.size(); at += pixels * 4) {
        std::vector<uint32_t> f(pixels);
        for (size_t i = 0; i < pixels; ++i) {
            const uint8_t* p = &bytes[at + 4 * i];
            f[i] = static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[1]) << 8 | p[0];
        }
        frames.push_back(f);
    }
    return frames;
}

TEST(CDXLOracleTest, PicturesEqualFfmpegs) {
    if (!imagefixtures::HaveTool("ffmpeg")) GTEST_SKIP() << "ffmpeg missing";
    imagefixtures::ScratchDir dir;
    struct Case {
        const char* name;
        uint16_t width, height;
        uint8_t planes, info;
        size_t entries;
        uint16_t sound;
    };
    for (const Case& c : {Case{"palette", 37, 21, 5, 0, 32, 0}, Case{"palette8", 48, 9, 8, 0, 256, 64},
                          Case{"ham6", 45, 17, 6, 1, 16, 0}, Case{"ham8", 70, 13, 8, 1, 64, 120}}) {
        Layout s;
        s.width = c.width;
        s.height = c.height;
        s.planes = c.planes;
        s.info = c.info;
        s.palette = cdxlbuilder::Palette(c.entries, c.planes * 31u);
        s.soundSize = c.sound;
        s.frames = 4;
        const std::string path = dir.File(std::string(c.name) + ".cdxl");
        imagefixtures::WriteBytes(path, cdxlbuilder::Build(s));
        qbCDXLReaderPtr reader(OpenCDXL(path.c_str(), nullptr));
        ASSERT_TRUE(reader) << c.name;
        const auto expected = FfmpegFrames(dir, path, size_t{c.width} * c.height);
        ASSERT_EQ(expected.size(), 4u) << c.name;
        size_t frame = 0;
        qbCDXLPacketPtr p;
        while (CDXLNextPacket(reader.get(), &p) == 0) {
            if (p->kind != kCDXLPacketVideo) continue;
            ASSERT_LT(frame, expected.size());
            EXPECT_EQ(Decode(reader.get(), *p), expected[frame]) << c.name << " frame " << frame;
            ++frame;
        }
        EXPECT_EQ(frame, 4u) << c.name;
    }
}

}  // namespace
