// The Linux backend's sound decoder against files made by the ffmpeg tool:
// every frame as ffmpeg's own decoding gives it, in reads of odd sizes,
// exact positioning, the format names, memory files, and refusals of files
// that hold no sound.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "core/errcodes.h"
#include "core/file.h"
#include "core/memfile.h"
#include "imaging/imagefixtures.h"
#include "platform/platform.h"
#include "sound/stream.h"

using namespace imagefixtures;

namespace {

// Different tones per channel, so a swap or a wrong downmix shows.
constexpr const char* kMono = "aevalsrc=0.6*sin(2*PI*440*t):s=44100:d=1.3";
constexpr const char* kStereo = "aevalsrc=0.6*sin(2*PI*440*t)|0.4*sin(2*PI*523*t):s=44100:d=1.3";
// One Ogg page holds all of it: its times start at 0, not before.
constexpr const char* kShort = "aevalsrc=0.6*sin(2*PI*440*t)|0.4*sin(2*PI*523*t):s=44100:d=0.4";
constexpr const char* kFiveOne =
    "aevalsrc=0.3*sin(2*PI*440*t)|0.3*sin(2*PI*523*t)|0.2*sin(2*PI*330*t)|0.1*sin(2*PI*60*t)|"
    "0.2*sin(2*PI*660*t)|0.2*sin(2*PI*880*t):c=5.1:s=48000:d=0.7";

struct Fixture {
    const char* file;
    const char* source;
    const char* options;
    int channels;
    const char* formatName;
};

const Fixture kFixtures[] = {
    {"cbr.mp3", kStereo, "-c:a libmp3lame -b:a 128k", 2, "MPEG Audio"},
    {"vbr.mp3", kMono, "-c:a libmp3lame -q:a 4", 1, "MPEG Audio"},
    {"sound.ogg", kStereo, "-c:a libvorbis", 2, "Ogg"},
    {"sound.flac", kStereo, "-c:a flac", 2, "raw FLAC"},
    {"sound.m4a", kStereo, "-c:a aac -b:a 128k", 2, "MPEG Audio"},
    {"sound.aiff", kMono, "-c:a pcm_s16be", 1, "AIFF"},
    {"wide.wav", kStereo, "-c:a pcm_s24le", 2, "RIFF WAVE"},
    {"surround.flac", kFiveOne, "-c:a flac", 2, "raw FLAC"},
    {"short.ogg", kShort, "-c:a libvorbis", 2, "Ogg"},
};

struct NativeFile {
    qbNativeAudioFile* f = nullptr;
    ~NativeFile() {
        if (f) CloseNativeAudioFile(f);
    }
};

class NativeSoundTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!HaveTool("ffmpeg")) GTEST_SKIP() << "ffmpeg missing";
        SetPlatformBackend(&LinuxPlatformOps());
    }
    void TearDown() override { SetPlatformBackend(nullptr); }

    std::string Make(const Fixture& x) {
        const std::string path = dir_.File(x.file);
        EXPECT_EQ(RunQuietly(std::string("ffmpeg -v error -y -f lavfi -i '") + x.source + "' " + x.options + " " + path), 0);
        return path;
    }
    // ffmpeg's own decoding, 16-bit native order.
    std::vector<int16_t> Reference(const std::string& path, int channels) {
        const std::string raw = path + ".raw";
        EXPECT_EQ(RunQuietly("ffmpeg -v error -y -i " + path + " -ac " + std::to_string(channels) + " -f s16le " + raw), 0);
        const std::vector<uint8_t> bytes = ReadBytes(raw);
        std::vector<int16_t> samples(bytes.size() / 2);
        std::memcpy(samples.data(), bytes.data(), samples.size() * 2);
        return samples;
    }
    // Reads to the end in requests of odd sizes.
    static std::vector<int16_t> ReadAll(qbNativeAudioFile* f, int channels) {
        std::vector<int16_t> all;
        const size_t sizes[] = {777, 1, 4099, 13};
        qbAudioPacketInfo info;
        for (int i = 0;; ++i) {
            const size_t frames = sizes[i % 4];
            std::vector<int16_t> chunk(frames * channels);
            EXPECT_EQ(ReadNativeAudioPackets(f, chunk.data(), chunk.size() * 2, &info), 0);
            all.insert(all.end(), chunk.begin(), chunk.begin() + info.packets * channels);
            if (info.endOfStream) break;
            if (i > 100000) break;
        }
        EXPECT_EQ(ReadNativeAudioPackets(f, all.data(), 8, &info), 0);
        EXPECT_EQ(info.packets, 0);
        EXPECT_EQ(info.endOfStream, 1);
        return all;
    }

    ScratchDir dir_;
};

TEST_F(NativeSoundTest, EveryFixtureDecodesAsFFmpegDecodesIt) {
    for (const Fixture& x : kFixtures) {
        SCOPED_TRACE(x.file);
        const std::string path = Make(x);
        std::vector<int16_t> want = Reference(path, x.channels);
        ASSERT_FALSE(want.empty());
        if (std::strcmp(x.file, "sound.m4a") == 0) {
            // ffmpeg's tool keeps the encoder's padding at the end, which
            // the container's edit list cuts: the sound is its 1.3 s.
            ASSERT_GE(want.size(), 57330u * 2);
            want.resize(57330 * 2);
        }
        NativeFile n;
        ASSERT_EQ(OpenNativeAudioFile(path.c_str(), 0, &n.f), 0);
        qbPCMFormat format;
        ASSERT_EQ(GetNativeStreamFormat(n.f, &format), 0);
        EXPECT_EQ(format.channels, x.channels);
        EXPECT_EQ(format.bits, 16);
        EXPECT_EQ(format.bytesPerFrame, 2 * x.channels);
        EXPECT_EQ(format.flags, uint32_t{kPCMSigned});
        EXPECT_STREQ(GetNativeAudioFormatName(n.f), x.formatName);
        qbAudioPacketInfo length;
        ASSERT_EQ(ReadNativeAudioPackets(n.f, nullptr, 0, &length), 0);
        EXPECT_EQ(length.packets * x.channels, static_cast<int64_t>(want.size()));
        const std::vector<int16_t> got = ReadAll(n.f, x.channels);
        ASSERT_EQ(got.size(), want.size());
        const int slack = std::strcmp(x.file, "surround.flac") == 0 ? 1 : 0;
        for (size_t i = 0; i < want.size(); ++i)
            ASSERT_LE(std::abs(got[i] - want[i]), slack) << "sample " << i;
    }
}

TEST_F(NativeSoundTest, PositioningGivesTheFramesOfTheFullDecode) {
    for (const Fixture& x : {kFixtures[0], kFixtures[2], kFixtures[3]}) {
        SCOPED_TRACE(x.file);
        const std::string path = Make(x);
        const std::vector<int16_t> want = Reference(path, x.channels);
        NativeFile n;
        ASSERT_EQ(OpenNativeAudioFile(path.c_str(), 0, &n.f), 0);
        const int64_t total = static_cast<int64_t>(want.size()) / x.channels;
        // Forward, backward, and to the last frame.
        for (int64_t at : {int64_t{30001}, int64_t{1153}, int64_t{0}, total - 1}) {
            ASSERT_EQ(LimitPacketPosition(n.f, at), at);
            std::vector<int16_t> chunk(500 * x.channels);
            qbAudioPacketInfo info;
            ASSERT_EQ(ReadNativeAudioPackets(n.f, chunk.data(), chunk.size() * 2, &info), 0);
            ASSERT_EQ(info.packets, std::min<int64_t>(500, total - at));
            for (int64_t i = 0; i < info.packets * x.channels; ++i)
                ASSERT_EQ(chunk[i], want[at * x.channels + i]) << "frame " << at << " sample " << i;
        }
        EXPECT_EQ(LimitPacketPosition(n.f, total), -1);
        EXPECT_EQ(LimitPacketPosition(n.f, -1), -1);
    }
}

TEST_F(NativeSoundTest, MemoryFilesDecodeLikeTheirFiles) {
    const std::string path = Make(kFixtures[2]);
    const std::vector<uint8_t> bytes = ReadBytes(path);
    ASSERT_EQ(RegisterMemoryBuffer(bytes.data(), bytes.size()), 0);
    const std::string name = MakeMemoryName(bytes.data(), bytes.size());
    {
        NativeFile n;
        ASSERT_EQ(OpenNativeAudioFile(name.c_str(), 0, &n.f), 0);
        EXPECT_EQ(ReadAll(n.f, 2), Reference(path, 2));
    }
    UnregisterMemoryBuffer(bytes.data());
}

TEST_F(NativeSoundTest, FilesWithoutSoundAreRefusedQuietly) {
    const std::string path = Make(kFixtures[4]);
    std::vector<uint8_t> m4a = ReadBytes(path);
    m4a.resize(1000);
    WriteBytes(dir_.File("truncated.m4a"), m4a);
    WriteBytes(dir_.File("empty.mp3"), {});
    std::vector<uint8_t> garbage(5000);
    for (size_t i = 0; i < garbage.size(); ++i) garbage[i] = static_cast<uint8_t>(i * 7919 >> 3);
    WriteBytes(dir_.File("garbage.ogg"), garbage);
    WriteBytes(dir_.File("text.txt"), std::vector<uint8_t>{'h', 'e', 'l', 'l', 'o', '\n'});
    ASSERT_EQ(RunQuietly("ffmpeg -v error -y -f lavfi -i testsrc=d=0.2:s=32x32 -c:v ffv1 " + dir_.File("video.mkv")), 0);
    testing::internal::CaptureStderr();
    for (const char* name : {"truncated.m4a", "empty.mp3", "garbage.ogg", "text.txt", "video.mkv"}) {
        NativeFile n;
        EXPECT_EQ(OpenNativeAudioFile(dir_.File(name).c_str(), 0, &n.f), ERR_OPENSOUND2) << name;
        EXPECT_EQ(n.f, nullptr);
    }
    NativeFile missing;
    EXPECT_EQ(OpenNativeAudioFile(dir_.File("missing.mp3").c_str(), 0, &missing.f), ERR_READFILE);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}

TEST_F(NativeSoundTest, TheSoundCoreOpensReadsAndSeeksThroughTheDecoder) {
    const std::string path = Make(kFixtures[0]);
    const std::vector<int16_t> want = Reference(path, 2);
    qbSamplePtr s;
    ASSERT_EQ(OpenSoundStream(path.c_str(), nullptr, nullptr, &s), 0);
    EXPECT_STREQ(SoundLoaderName(*s), "native");
    EXPECT_STREQ(SoundFormatName(*s), "MPEG Audio");
    ASSERT_EQ(uint64_t{s->frames} * 2, want.size());
    EXPECT_EQ(s->dataSize, want.size() * 2);
    std::vector<int16_t> got(want.size() + 64);
    bool ended = false;
    EXPECT_EQ(ReadSoundFrames(*s, got.data(), s->frames + 32, &ended), s->frames);
    EXPECT_TRUE(ended);
    got.resize(want.size());
    EXPECT_EQ(got, want);
    SeekSoundStream(*s, 4000);
    EXPECT_EQ(s->position, 4000u);
    int16_t frame[2];
    EXPECT_EQ(ReadSoundFrames(*s, frame, 1, &ended), 1u);
    EXPECT_EQ(frame[0], want[8000]);
    EXPECT_EQ(frame[1], want[8001]);
    EXPECT_EQ(IsSoundSample(dir_.File("none.txt").c_str(), nullptr, nullptr), 0);
}

}  // namespace

namespace {

// The bitrate the sound core keeps for MPEG audio: a constant file's first
// frame (past a 2 KB tag as well), a variable one's average over its
// length, nothing for other formats.
TEST_F(NativeSoundTest, MPEGAudioCarriesItsBitrateIntoTheSoundRecord) {
    const std::string cbr = Make(kFixtures[0]);
    const std::string tagged = dir_.File("tagged.mp3");
    ASSERT_EQ(RunQuietly("ffmpeg -v error -y -i " + cbr + " -c copy -metadata comment=" + std::string(2000, 'c') +
                         " " + tagged),
              0);
    const std::vector<uint8_t> head = ReadBytes(tagged);
    ASSERT_GE(head.size(), 10u);
    ASSERT_EQ(std::memcmp(head.data(), "ID3", 3), 0);
    ASSERT_GE((head[8] << 7 | head[9]) + 10, 2000);
    const std::string vbr = dir_.File("xing.mp3");
    ASSERT_EQ(RunQuietly(std::string("ffmpeg -v error -y -f lavfi -i '") + kStereo +
                         "' -c:a libmp3lame -q:a 0 -id3v2_version 0 " + vbr),
              0);
    qbSamplePtr s;
    for (const std::string& path : {cbr, tagged}) {
        ASSERT_EQ(OpenSoundStream(path.c_str(), nullptr, nullptr, &s), 0) << path;
        EXPECT_EQ(s->kbps, 128u) << path;
    }
    ASSERT_EQ(OpenSoundStream(vbr.c_str(), nullptr, nullptr, &s), 0);
    const std::vector<uint8_t> bytes = ReadBytes(vbr);
    const std::string xing = "Xing";
    ASSERT_NE(std::search(bytes.begin(), bytes.begin() + 1000, xing.begin(), xing.end()), bytes.begin() + 1000);
    const double seconds = s->frames / 44100.0;
    EXPECT_EQ(s->kbps, static_cast<uint32_t>(bytes.size() / seconds / 128));
    EXPECT_NE(s->kbps, 128u);
    ASSERT_EQ(OpenSoundStream(Make(kFixtures[2]).c_str(), nullptr, nullptr, &s), 0);
    EXPECT_EQ(s->kbps, 0u);
}

uint32_t OggCrc(const uint8_t* data, size_t n) {
    uint32_t crc = 0;
    for (size_t i = 0; i < n; ++i) {
        crc ^= static_cast<uint32_t>(data[i]) << 24;
        for (int b = 0; b < 8; ++b) crc = (crc & 0x80000000u) ? (crc << 1) ^ 0x04C11DB7u : crc << 1;
    }
    return crc;
}

// Lowers the granule position of every page after the first past `from`
// but the last by `by`, with the pages' checksums made anew: the file says
// its later sound comes earlier than it does.
void LowerLaterGranules(std::vector<uint8_t>& ogg, int64_t from, int64_t by) {
    bool past = false;
    for (size_t at = 0; at + 27 <= ogg.size();) {
        ASSERT_EQ(std::memcmp(&ogg[at], "OggS", 4), 0) << at;
        uint8_t* page = &ogg[at];
        size_t length = 27 + page[26];
        for (int i = 0; i < page[26]; ++i) length += page[27 + i];
        int64_t granule = 0;
        std::memcpy(&granule, page + 6, 8);
        if (past && granule > 0 && !(page[5] & 4)) {
            granule -= by;
            std::memcpy(page + 6, &granule, 8);
            std::memset(page + 22, 0, 4);
            const uint32_t crc = OggCrc(page, length);
            std::memcpy(page + 22, &crc, 4);
        }
        if (granule > from) past = true;
        at += length;
    }
}

// A seek back whose decode ends short of the frame asked for (the file's
// times say it is later than it is) starts again from the start, so the
// frames are still those of the full decode.
TEST_F(NativeSoundTest, ASeekBackThatEndsShortOfTheFrameStartsFromTheStart) {
    const Fixture late = {"late.ogg", "aevalsrc=0.6*sin(2*PI*440*t)|0.4*sin(2*PI*523*t):s=44100:d=4", "-c:a libvorbis",
                          2, "Ogg"};
    const std::string path = Make(late);
    std::vector<uint8_t> bytes = ReadBytes(path);
    LowerLaterGranules(bytes, 44100, 60000);
    WriteBytes(path, bytes);
    const std::vector<int16_t> want = Reference(path, 2);
    const int64_t total = static_cast<int64_t>(want.size()) / 2;
    NativeFile n;
    ASSERT_EQ(OpenNativeAudioFile(path.c_str(), 0, &n.f), 0);
    qbAudioPacketInfo length;
    ASSERT_EQ(ReadNativeAudioPackets(n.f, nullptr, 0, &length), 0);
    ASSERT_EQ(length.packets, total);
    // Frames the lowered times reach a decode from the seek never gets to.
    for (int64_t at : {total - 2000, total - 30000}) {
        ASSERT_EQ(LimitPacketPosition(n.f, total - 1), total - 1);
        ASSERT_EQ(LimitPacketPosition(n.f, at), at);
        std::vector<int16_t> chunk(1000 * 2);
        qbAudioPacketInfo info;
        ASSERT_EQ(ReadNativeAudioPackets(n.f, chunk.data(), chunk.size() * 2, &info), 0);
        ASSERT_EQ(info.packets, 1000);
        for (size_t i = 0; i < chunk.size(); ++i) ASSERT_EQ(chunk[i], want[at * 2 + i]) << "frame " << at << " sample " << i;
    }
}

}  // namespace
