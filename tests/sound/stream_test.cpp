// Sound streams: recognition, the WAVE, 8SVX and 16SV readers and their
// refusals, seeks, and files from sox, ffmpeg and Python read exactly.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>

#include "core/errcodes.h"
#include "core/errors.h"
#include "core/scratch.h"
#include "platform/platform.h"
#include "sound/samples.h"
#include "sound/stream.h"
#include "soundfile_builders.h"

namespace {

using namespace soundfiles;

class StreamTest : public ::testing::Test {
protected:
    ScratchDir dir_;
    void SetUp() override { SetPlatformBackend(nullptr); }

    std::string Put(const std::string& name, const Bytes& b) {
        return dir_.Write(name, std::string(b.begin(), b.end()));
    }
    int Open(const Bytes& b, qbSamplePtr* s, const char* loader = nullptr) {
        return OpenSoundStream(Put("f.snd", b).c_str(), loader, nullptr, s);
    }
    static Bytes ReadAll(qbSample& s, uint32_t block = 1000) {
        Bytes out;
        Bytes buf(size_t{block} * static_cast<size_t>(s.bytesPerFrame));
        bool ended = false;
        while (!ended) {
            const uint32_t n = ReadSoundFrames(s, buf.data(), block, &ended);
            out.insert(out.end(), buf.begin(), buf.begin() + static_cast<long>(n) * s.bytesPerFrame);
        }
        return out;
    }
    static Bytes Run(const std::string& command) {
        Bytes out;
        FILE* p = popen(command.c_str(), "r");
        if (!p) return out;
        uint8_t buf[4096];
        for (size_t n; (n = fread(buf, 1, sizeof buf, p)) > 0;) out.insert(out.end(), buf, buf + n);
        pclose(p);
        return out;
    }
};

TEST_F(StreamTest, WaveVariantsReadExactly) {
    for (uint32_t fmt : {16u, 18u, 40u}) {
        for (uint32_t bits : {8u, 16u}) {
            for (uint32_t channels : {1u, 2u}) {
                Wave w;
                w.fmtSize = fmt;
                w.bits = bits;
                w.channels = channels;
                w.listChunkFirst = fmt == 18;
                const Bytes pcm = Ramp(bits / 8 * channels * 777);
                qbSamplePtr s;
                ASSERT_EQ(Open(MakeWave(w, pcm), &s), 0) << fmt << " " << bits << " " << channels;
                EXPECT_EQ(s->format, kStreamWAVE);
                EXPECT_EQ(s->frames, 777u);
                EXPECT_EQ(s->channels, static_cast<int32_t>(channels));
                EXPECT_EQ(s->flags, bits == 16 ? uint32_t{kPCMSigned} : 0u);
                EXPECT_STREQ(SoundFormatName(*s), "RIFF WAVE");
                EXPECT_EQ(ReadAll(*s, 100), pcm);
            }
        }
    }
}

TEST_F(StreamTest, WaveHeadersTheReaderRefuses) {
    const Bytes pcm = Ramp(64);
    auto refused = [&](Wave w) {
        qbSamplePtr s;
        return Open(MakeWave(w, pcm), &s) == ERR_OPENSOUND2;
    };
    Wave w;
    w.fmtSize = 20;
    EXPECT_TRUE(refused(w));
    w = Wave{};
    w.formatTag = 3;
    EXPECT_TRUE(refused(w));
    w = Wave{};
    w.channels = 3;  // the decoder downmixes these
    EXPECT_TRUE(refused(w));
    w = Wave{};
    w.rate = 0;
    EXPECT_TRUE(refused(w));
    w.rate = 768001;
    EXPECT_TRUE(refused(w));
    w = Wave{};
    w.bits = 24;
    EXPECT_TRUE(refused(w));
    EXPECT_NE(std::string(GetErrorDetail()).find("f.snd"), std::string::npos);
}

TEST_F(StreamTest, AHugeDataSizeIsClampedToTheFile) {
    Wave w;
    w.dataSize = 0xFFFFFFFF;
    qbSamplePtr s;
    ASSERT_EQ(Open(MakeWave(w, Ramp(100)), &s), 0);
    EXPECT_EQ(s->frames, 50u);
    EXPECT_EQ(ReadAll(*s).size(), 100u);
}

TEST_F(StreamTest, AnUnfinishedWaveReadsToTheEndAsFfmpegDoes) {
    if (std::system("ffmpeg -version >/dev/null 2>&1") != 0) GTEST_SKIP() << "ffmpeg missing";
    // A recording stopped before its header was written back: the data
    // size still says 0, or the 0xFFFFFFFF some writers put first.
    for (const int64_t claimed : {int64_t{0}, int64_t{0xFFFFFFFF}}) {
        Wave w;
        w.channels = 2;
        w.dataSize = claimed;
        const std::string path = Put("open" + std::to_string(claimed) + ".wav", MakeWave(w, Ramp(4 * 777, 3)));
        const Bytes ffmpeg = Run("ffmpeg -v error -nostdin -i " + path + " -f s16le -");
        ASSERT_EQ(ffmpeg.size(), 4u * 777) << claimed;
        qbSamplePtr whole;
        ASSERT_EQ(OpenWholeSound(path.c_str(), nullptr, nullptr, &whole), 0) << claimed;  // LoadSample
        EXPECT_EQ(whole->frames, 777u);
        qbSamplePtr music;
        ASSERT_EQ(OpenSoundStream(path.c_str(), nullptr, nullptr, &music), 0);  // OpenMusic
        EXPECT_EQ(music->frames, 777u);
        EXPECT_EQ(ReadAll(*music), ffmpeg) << claimed;
    }
}

TEST_F(StreamTest, ModulesAreKnownByTheirTagAtFullLength) {
    Bytes mod(1084, 0);
    std::memcpy(mod.data() + 1080, "M.K.", 4);
    qbSamplePtr s;
    ASSERT_EQ(Open(mod, &s), 0);
    EXPECT_EQ(s->format, kStreamModule);
    EXPECT_FALSE(s->canSeek);
    Bytes shorter(mod.begin() + 1, mod.end());
    EXPECT_EQ(Open(shorter, &s), ERR_OPENSOUND2);
}

TEST_F(StreamTest, MissingFilesAndLoaderTags) {
    qbSamplePtr s;
    EXPECT_EQ(OpenSoundStream((dir_ / "none.wav").c_str(), nullptr, nullptr, &s), ERR_READFILE);
    const Bytes wave = MakeWave(Wave{}, Ramp(10));
    EXPECT_EQ(Open(wave, &s, "native"), ERR_OPENSOUND2);
    EXPECT_EQ(Open(wave, &s, "inbuilt"), 0);
    EXPECT_EQ(IsSoundSample((dir_ / "f.snd").c_str(), nullptr, nullptr), 1);
}

TEST_F(StreamTest, IffMonoAndStereoDeinterleave) {
    for (bool sixteen : {false, true}) {
        Iff f;
        f.sixteen = sixteen;
        f.stereo = true;
        f.annoChunk = true;
        const size_t sample = sixteen ? 2 : 1;
        const size_t frames = 301;
        const Bytes body = Ramp(frames * 2 * sample, 5);
        qbSamplePtr s;
        ASSERT_EQ(Open(MakeIff(f, body), &s), 0);
        EXPECT_EQ(s->format, sixteen ? kStreamIFF16SV : kStreamIFF8SVX);
        EXPECT_EQ(s->frames, frames);
        EXPECT_EQ(s->flags, sixteen ? uint32_t{kPCMSigned | kPCMBigEndian} : uint32_t{kPCMSigned});
        Bytes expect;
        for (size_t i = 0; i < frames; ++i) {
            expect.insert(expect.end(), body.begin() + static_cast<long>(i * sample),
                          body.begin() + static_cast<long>((i + 1) * sample));
            expect.insert(expect.end(), body.begin() + static_cast<long>((frames + i) * sample),
                          body.begin() + static_cast<long>((frames + i + 1) * sample));
        }
        EXPECT_EQ(ReadAll(*s, 64), expect);
        // A seek inside the data moves; one past the end keeps the position.
        SeekSoundStream(*s, 10);
        EXPECT_EQ(s->position, 10u);
        SeekSoundStream(*s, static_cast<uint32_t>(frames));
        EXPECT_EQ(s->position, 10u);
        Bytes one(2 * sample);
        bool ended = false;
        ASSERT_EQ(ReadSoundFrames(*s, one.data(), 1, &ended), 1u);
        EXPECT_TRUE(std::equal(one.begin(), one.end(), expect.begin() + static_cast<long>(10 * 2 * sample)));
    }
}

TEST_F(StreamTest, IffHeadersTheReaderRefuses) {
    const Bytes body = Ramp(40);
    qbSamplePtr s;
    Iff f;
    f.compression = 1;  // falls through to the decoder, which refuses here
    EXPECT_EQ(Open(MakeIff(f, body), &s), ERR_OPENSOUND2);
    f = Iff{};
    f.vhdrSize = 24;
    EXPECT_EQ(Open(MakeIff(f, body), &s), ERR_OPENSOUND2);
    f = Iff{};
    f.rate = 0;
    EXPECT_EQ(Open(MakeIff(f, body), &s), ERR_OPENSOUND2);
    // A chunk that claims more than the file holds ends the walk.
    Bytes cut = MakeIff(Iff{}, body);
    const Bytes head(cut.begin(), cut.begin() + 40);
    Bytes broken = head;
    Tag(broken, "ANNO");
    BE32(broken, 0x7FFFFFF0);
    broken.insert(broken.end(), 16, 0);
    EXPECT_EQ(Open(broken, &s), ERR_OPENSOUND2);
    EXPECT_EQ(Open(head, &s), ERR_OPENSOUND2);
}

TEST_F(StreamTest, SoxAndPythonFilesReadAsTheirOwnDecoding) {
    if (std::system("sox --version >/dev/null 2>&1") != 0) GTEST_SKIP() << "sox missing";
    struct Case {
        const char* file;
        const char* make;
        const char* raw;
    };
    const Case cases[] = {
        {"m.8svx", "-r 8000 -c 1", "-t s8"},
        {"s.8svx", "-r 11025 -c 2", "-t s8"},
        {"m8.wav", "-r 8000 -c 1 -b 8", "-t u8"},
        {"s16.wav", "-r 44100 -c 2 -b 16", "-t s16 -e signed -L"},
    };
    for (const Case& c : cases) {
        const std::string path = dir_ / c.file;
        ASSERT_EQ(std::system(("sox -n " + std::string(c.make) + " " + path + " synth 0.05 sine 300 sine 500 gain -1")
                                  .c_str()),
                  0);
        qbSamplePtr s;
        ASSERT_EQ(OpenSoundStream(path.c_str(), nullptr, nullptr, &s), 0) << c.file;
        EXPECT_EQ(ReadAll(*s, 333), Run("sox " + path + " " + c.raw + " -")) << c.file;
    }
    const std::string py = dir_ / "py.wav";
    ASSERT_EQ(std::system(("python3 -c \"import wave; w = wave.open('" + py +
                           "', 'wb'); w.setnchannels(2); w.setsampwidth(2); w.setframerate(16000); "
                           "w.writeframes(bytes(range(256)) * 8); w.close()\"")
                              .c_str()),
              0);
    qbSamplePtr s;
    ASSERT_EQ(OpenSoundStream(py.c_str(), nullptr, nullptr, &s), 0);
    Bytes expect;
    for (int i = 0; i < 8; ++i)
        for (int b = 0; b < 256; ++b) expect.push_back(static_cast<uint8_t>(b));
    EXPECT_EQ(ReadAll(*s), expect);
}

TEST_F(StreamTest, FfmpegFilesAndOurIffFilesReadAsFfmpegDecodesThem) {
    if (std::system("ffmpeg -version >/dev/null 2>&1") != 0) GTEST_SKIP() << "ffmpeg missing";
    const std::string ff = "ffmpeg -v error -nostdin -y ";
    struct Made {
        const char* file;
        const char* make;
        const char* raw;
    };
    const Made made[] = {
        {"m8.wav", "-ac 1 -ar 8000 -c:a pcm_u8", "u8"},
        {"s8.wav", "-ac 2 -ar 11025 -c:a pcm_u8", "u8"},
        {"m16.wav", "-ac 1 -ar 22050 -c:a pcm_s16le", "s16le"},
        {"s16.wav", "-ac 2 -ar 44100 -c:a pcm_s16le", "s16le"},
    };
    for (const Made& c : made) {
        const std::string path = dir_ / c.file;
        ASSERT_EQ(std::system((ff + "-f lavfi -i sine=frequency=440:duration=0.05 " + c.make + " " + path).c_str()),
                  0);
        qbSamplePtr s;
        ASSERT_EQ(OpenSoundStream(path.c_str(), nullptr, nullptr, &s), 0) << c.file;
        EXPECT_EQ(ReadAll(*s, 333), Run(ff + "-i " + path + " -f " + c.raw + " -")) << c.file;
    }
    // FFmpeg's IFF demuxer knows 8SVX and 16SV with their stereo blocks.
    for (bool sixteen : {false, true}) {
        for (bool stereo : {false, true}) {
            Iff f;
            f.sixteen = sixteen;
            f.stereo = stereo;
            f.rate = 16000;
            const std::string path = Put(std::string(sixteen ? "f16" : "f8") + (stereo ? "s" : "m") + ".iff",
                                         MakeIff(f, Ramp(sixteen ? 4 * 300 : 2 * 300, 5)));
            qbSamplePtr s;
            ASSERT_EQ(OpenSoundStream(path.c_str(), nullptr, nullptr, &s), 0) << path;
            const Bytes ours = ReadAll(*s, 77);
            EXPECT_EQ(ours.size(), size_t{300} * (sixteen ? 4 : 2)) << path;
            EXPECT_EQ(ours, Run(ff + "-i " + path + " -f " + (sixteen ? "s16be" : "s8") + " -")) << path;
        }
    }
}

}  // namespace
