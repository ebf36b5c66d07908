// The WAVE writer's bytes, its errors, and its files read back by our
// reader, sox and Python; the range copier against a plain reference.
#include <gtest/gtest.h>

#include <cstdlib>

#include "core/errcodes.h"
#include "core/scratch.h"
#include "platform/platform.h"
#include "sound/rangecopy.h"
#include "sound/stream.h"
#include "sound/wavewriter.h"
#include "soundfile_builders.h"

namespace {

using soundfiles::Bytes;

uint32_t LE32At(const std::string& b, size_t at) {
    uint32_t v = 0;
    for (int i = 3; i >= 0; --i) v = v << 8 | static_cast<uint8_t>(b[at + static_cast<size_t>(i)]);
    return v;
}

TEST(WaveWriter, AThreeByteSampleIsPaddedToFour) {
    ScratchDir dir;
    const int8_t pcm[3] = {-128, 0, 127};
    const qbSampleData s{pcm, 8, 1, 1, kPCMSigned, 3, 8000};
    const std::string path = dir / "three.wav";
    ASSERT_EQ(WriteWAVE(path.c_str(), s), 0);
    const std::string b = ScratchDir::Read(path);
    ASSERT_EQ(b.size(), 48u);
    EXPECT_EQ(b.substr(0, 4), "RIFF");
    EXPECT_EQ(LE32At(b, 4), 40u);
    EXPECT_EQ(b.substr(8, 8), "WAVEfmt ");
    EXPECT_EQ(LE32At(b, 24), 8000u);
    EXPECT_EQ(LE32At(b, 40), 3u);
    // Signed bytes are stored unsigned.
    EXPECT_EQ(static_cast<uint8_t>(b[44]), 0u);
    EXPECT_EQ(static_cast<uint8_t>(b[45]), 128u);
    EXPECT_EQ(static_cast<uint8_t>(b[46]), 255u);
    EXPECT_EQ(b[47], '\0');
}

TEST(WaveWriter, ErrorsAndFormats) {
    const int16_t pcm[2] = {1, 2};
    const qbSampleData s{pcm, 16, 2, 1, kPCMSigned, 2, 8000};
    EXPECT_EQ(WriteWAVE("/nonexistent-dir/x.wav", s), ERR_WRITEFILE);
    ScratchDir dir;
    EXPECT_EQ(SaveSampleFile((dir / "x.aiff").c_str(), s, 3), ERR_UNKNOWNSMPOUT);
    EXPECT_EQ(SaveSampleFile((dir / "x.wav").c_str(), s, kSampleFormatWAVE), 0);
}

TEST(WaveWriter, OurFilesReadBackEverywhere) {
    SetPlatformBackend(nullptr);
    ScratchDir dir;
    // Big-endian 16-bit stereo comes out little-endian.
    const Bytes be = soundfiles::Ramp(4 * 501);
    const qbSampleData s{be.data(), 16, 4, 2, kPCMSigned | kPCMBigEndian, 501, 22050};
    const std::string path = dir / "ours.wav";
    ASSERT_EQ(WriteWAVE(path.c_str(), s), 0);
    Bytes le(be.size());
    for (size_t i = 0; i < be.size(); ++i) le[i] = be[i ^ 1];
    qbSamplePtr stream;
    ASSERT_EQ(OpenSoundStream(path.c_str(), nullptr, nullptr, &stream), 0);
    Bytes got(le.size());
    bool ended = false;
    ASSERT_EQ(ReadSoundFrames(*stream, got.data(), 501, &ended), 501u);
    EXPECT_EQ(got, le);
    if (std::system("sox --version >/dev/null 2>&1") == 0) {
        const std::string raw = dir / "ours.raw";
        ASSERT_EQ(std::system(("sox " + path + " -t s16 -L " + raw).c_str()), 0);
        const std::string r = ScratchDir::Read(raw);
        EXPECT_EQ(Bytes(r.begin(), r.end()), le);
    }
    if (std::system("ffprobe -version >/dev/null 2>&1") == 0) {
        const std::string probe = dir / "probe.txt";
        ASSERT_EQ(std::system(("ffprobe -v error -show_entries stream=codec_name,sample_rate,channels,"
                               "bits_per_sample,duration_ts -of csv=p=0 " +
                               path + " > " + probe)
                                  .c_str()),
                  0);
        EXPECT_EQ(ScratchDir::Read(probe), "pcm_s16le,22050,2,16,501\n");
        const std::string raw = dir / "ff.raw";
        ASSERT_EQ(std::system(("ffmpeg -v error -nostdin -y -i " + path + " -f s16le " + raw).c_str()), 0);
        const std::string r = ScratchDir::Read(raw);
        EXPECT_EQ(Bytes(r.begin(), r.end()), le);
    }
    const std::string check = "python3 -c \"import wave,sys; w = wave.open('" + path +
                              "'); sys.exit(0 if (w.getnchannels(), w.getsampwidth(), w.getframerate(), "
                              "w.getnframes()) == (2, 2, 22050, 501) else 1)\"";
    EXPECT_EQ(std::system(check.c_str()), 0);
}

// The plain reference: one value at a time through a float of the full
// range.
int32_t RefValue(const Bytes& src, int bits, bool isSigned, bool big, int channels, size_t frame, int side) {
    const size_t i = frame * static_cast<size_t>(channels) + static_cast<size_t>(side);
    if (bits == 16) {
        const uint8_t a = src[2 * i], b = src[2 * i + 1];
        return static_cast<int16_t>(big ? (a << 8 | b) : (b << 8 | a));
    }
    return (isSigned ? static_cast<int8_t>(src[i]) : src[i] - 128) * 256;
}

TEST(RangeCopier, EveryFormatPairAgainstTheReference) {
    const Bytes src = soundfiles::Ramp(2 * 2 * 50, 9);
    struct Fmt {
        int bits;
        bool isSigned;
        bool big;
        int channels;
    };
    const Fmt formats[] = {{8, false, false, 1}, {8, false, false, 2}, {8, true, false, 1}, {8, true, false, 2},
                           {16, true, false, 1}, {16, true, false, 2}, {16, true, true, 1}, {16, true, true, 2}};
    for (const Fmt& in : formats) {
        const uint32_t frames = static_cast<uint32_t>(src.size() / static_cast<size_t>(in.bits / 8 * in.channels));
        const qbSampleData s{src.data(), in.bits, in.bits / 8 * in.channels, in.channels,
                             (in.isSigned ? uint32_t{kPCMSigned} : 0u) | (in.big ? uint32_t{kPCMBigEndian} : 0u),
                             frames, 8000};
        for (const Fmt& out : formats) {
            if (out.big) continue;
            for (int loop : {0, 1}) {
                qbRangeOptions o;
                o.loop = loop;
                o.start = 3;
                o.end = 20;
                o.offset = 5;
                const uint32_t n = 40;
                Bytes dst(n * static_cast<size_t>(out.bits / 8 * out.channels));
                ASSERT_EQ(CopySampleRange(s, o, qbPCMTarget{dst.data(), out.bits, out.isSigned, out.channels}, n), 0);
                for (uint32_t i = 0; i < n; ++i) {
                    for (int c = 0; c < out.channels; ++c) {
                        const uint32_t within = 5 + i;
                        int32_t v = 0;
                        if (loop || within < 17) {
                            v = RefValue(src, in.bits, in.isSigned, in.big, in.channels, 3 + within % 17,
                                         in.channels == 2 && out.channels == 2 ? c : 0);
                        }
                        const size_t k = i * static_cast<size_t>(out.channels) + static_cast<size_t>(c);
                        int32_t got;
                        if (out.bits == 16) {
                            got = static_cast<int16_t>(dst[2 * k] | dst[2 * k + 1] << 8);
                        } else {
                            got = (out.isSigned ? static_cast<int8_t>(dst[k]) : dst[k] - 128) * 256;
                            v = v / 256 * 256;
                        }
                        ASSERT_EQ(got, v) << in.bits << in.isSigned << in.big << in.channels << " -> " << out.bits
                                          << out.isSigned << out.channels << " loop " << loop << " frame " << i;
                    }
                }
            }
        }
    }
}

TEST(RangeCopier, BadRangesAreRefused) {
    const int16_t pcm[10] = {};
    const qbSampleData s{pcm, 16, 2, 1, kPCMSigned, 10, 8000};
    int16_t out[4];
    const qbPCMTarget t{out, 16, true, 1};
    auto with = [&](int64_t start, int64_t end, int64_t offset) {
        qbRangeOptions o;
        o.start = start;
        o.end = end;
        o.offset = offset;
        return CopySampleRange(s, o, t, 4);
    };
    EXPECT_EQ(with(0, 0, 0), 0);
    EXPECT_EQ(with(-1, 0, 0), ERR_SMPRANGE);
    EXPECT_EQ(with(0, 0, -1), ERR_SMPRANGE);
    EXPECT_EQ(with(5, 5, 0), ERR_SMPRANGE);
    EXPECT_EQ(with(0, 11, 0), ERR_SMPRANGE);
    EXPECT_EQ(with(10, 0, 0), ERR_SMPRANGE);
}

}  // namespace
