// A FLAC stream that says 655,340 Hz and then carries frames of 1 Hz: each
// of its few bytes a second of sound at the stream's rate, gigabytes once
// converted. A rate so far from the stream's is damage: the sound is
// refused by LoadSample and OpenMusic, a movie's sound ends there, and
// what either costs stays small, mono and stereo.
#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>

#include "core/errcodes.h"
#include "peak_memory.h"
#include "platform/linux_streams_fixture.h"
#include "sound/samples.h"
#include "sound/stream.h"

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define QB_RATERANGE_ASAN 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__)
#define QB_RATERANGE_ASAN 1
#endif

using namespace streamfixtures;

namespace {

uint8_t Crc8(const std::vector<uint8_t>& b) {
    unsigned c = 0;
    for (uint8_t x : b) {
        c ^= x;
        for (int i = 0; i < 8; ++i) c = (c & 0x80 ? (c << 1) ^ 0x07 : c << 1) & 0xFF;
    }
    return static_cast<uint8_t>(c);
}

uint16_t Crc16(const std::vector<uint8_t>& b) {
    unsigned c = 0;
    for (uint8_t x : b) {
        c ^= unsigned{x} << 8;
        for (int i = 0; i < 8; ++i) c = (c & 0x8000 ? (c << 1) ^ 0x8005 : c << 1) & 0xFFFF;
    }
    return static_cast<uint16_t>(c);
}

// FLAC at 655,340 Hz: two frames of 4096 samples at the stream's rate, then
// six of 64 samples whose headers say 1 Hz (each 42 million samples at the
// stream's rate). Every sample is constant.
std::vector<uint8_t> SlowingFlac(int channels) {
    std::vector<uint8_t> out = {'f', 'L', 'a', 'C', 0x80, 0, 0, 34, 0, 64, 0x10, 0, 0, 0, 0, 0, 0, 0};
    const uint64_t info = uint64_t{655340} << 44 | uint64_t(channels - 1) << 41 | uint64_t{15} << 36;
    for (int i = 7; i >= 0; --i) out.push_back(static_cast<uint8_t>(info >> (8 * i)));
    out.insert(out.end(), 16, 0);  // no MD5
    for (uint8_t n = 0; n < 8; ++n) {
        const bool slow = n >= 2;
        // Block size code 12 (4096) or 6 (a byte: 64 - 1); rate code 0 (the
        // stream's) or 13 (16-bit Hz, after the block size).
        std::vector<uint8_t> frame = {0xFF, 0xF8, static_cast<uint8_t>(slow ? 6 << 4 | 13 : 12 << 4),
                                      static_cast<uint8_t>((channels - 1) << 4 | 4 << 1), n};
        if (slow) frame.insert(frame.end(), {63, 0, 1});
        frame.push_back(Crc8(frame));
        for (int c = 0; c < channels; ++c) frame.insert(frame.end(), {0, 0x10, 0});  // constant 0x1000
        const uint16_t crc = Crc16(frame);
        frame.push_back(static_cast<uint8_t>(crc >> 8));
        frame.push_back(static_cast<uint8_t>(crc));
        out.insert(out.end(), frame.begin(), frame.end());
    }
    return out;
}

// The movie source read to the end, as DumpVideo and PlayVideo read it:
// true when the sound ended at the damage (no more than the two frames
// before it and what the converter held).
bool MovieSoundEnds(const std::string& path) {
    const SourceRun run = ReadSource(path);
    return run.opened == 0 && run.soundFrames <= 2 * 4096 + 4096;
}

// LoadSample's road (opened and read whole) and OpenMusic's (opened): true
// when both refuse the file with ERR_OPENSOUND2.
bool SoundRefused(const std::string& path) {
    qbSamplePtr s;
    int whole = OpenWholeSound(path.c_str(), nullptr, nullptr, &s);
    if (whole == 0) {
        std::vector<uint8_t> pcm(size_t{s->frames} * static_cast<size_t>(s->bytesPerFrame));
        whole = ReadWholeSound(*s, pcm.data()) == 0 ? -1 : -2;
    }
    qbSamplePtr m;
    return whole == ERR_OPENSOUND2 && OpenSoundStream(path.c_str(), nullptr, nullptr, &m) == ERR_OPENSOUND2;
}

// The check, in a child whose peak memory is measured (and capped, so that
// a broken bound costs the child its memory, not the machine): 0 when it
// held within 100 MB, 1 when it did not hold, 2 when the peak went past or
// the memory ran out, 3 when the child died. Under AddressSanitizer, which
// keeps freed memory and maps its own, the check alone, in this process.
template <typename Check>
int HoldsCheaply(Check check) {
#ifdef QB_RATERANGE_ASAN
    return check() ? 0 : 1;
#else
    const pid_t child = fork();
    if (child == 0) {
        const rlimit cap{rlim_t{2} << 30, rlim_t{2} << 30};
        setrlimit(RLIMIT_AS, &cap);
        bool held = false;
        uint64_t grown = 0;
        try {
            grown = PeakGrowth([&] { held = check(); });
        } catch (...) {
            _exit(2);
        }
        if (!held) _exit(1);
        _exit(grown < (uint64_t{100} << 20) ? 0 : 2);
    }
    int status = 0;
    if (child < 0 || waitpid(child, &status, 0) != child || !WIFEXITED(status)) return 3;
    return WEXITSTATUS(status);
#endif
}

TEST(RateRangeTest, AFrameAtARateNoSoundHasEndsTheSoundCheaply) {
    SetPlatformBackend(&LinuxPlatformOps());
    imagefixtures::ScratchDir dir;
    for (const int channels : {1, 2}) {
        SCOPED_TRACE(channels);
        const std::string path = dir.File("slowing" + std::to_string(channels) + ".flac");
        WriteBytes(path, SlowingFlac(channels));
        EXPECT_EQ(HoldsCheaply([&] { return SoundRefused(path); }), 0);
        // The same frames as a movie's sound track.
        if (!HaveTool("ffmpeg")) continue;
        const std::string movie = MakeWith(dir.File(""), "slowing" + std::to_string(channels) + ".mkv",
                                           "-f lavfi -i testsrc=size=32x24:rate=5:duration=2 -i '" + path +
                                               "' -map 0:v -map 1:a -c:v mjpeg -c:a copy");
        ASSERT_FALSE(movie.empty());
        EXPECT_EQ(HoldsCheaply([&] { return MovieSoundEnds(movie); }), 0);
    }
    SetPlatformBackend(nullptr);
}

}  // namespace
