// Where the Linux sound decoder's bytes come from: a file adapter's stream
// (seekable or not), a chunk of a container such as an applet, all without
// a temporary copy; and a seek back that moves the demuxer instead of
// reading the file again from its start, which it does only where the
// stream refuses the demuxer's seek.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <memory>
#include <vector>

#include "core/chunkname.h"
#include "core/errcodes.h"
#include "core/file.h"
#include "core/fileinfo.h"
#include "core/fileops.h"
#include "core/pluginadapters.h"
#include "imaging/imagefixtures.h"
#include "platform/platform.h"

using namespace imagefixtures;

namespace {

// Which seeks a served file takes: all; none but one back to its start,
// which mends it (a connection lost and asked for again from the start);
// or none at all (a connection lost for good).
enum class Seeks { kAll, kUntilRewound, kNone };

// An adapter serving "snd:" names from one byte vector; it logs where every
// read starts and can act as a stream that cannot seek.
struct Served {
    std::vector<uint8_t> bytes;
    bool streamOnly = false;
    Seeks seeks = Seeks::kAll;
    std::vector<int64_t> reads;  // where each read started
};
Served* served = nullptr;

struct Handle {
    int64_t position = 0;
};

void* SndOpen(const char* name, int, const qbFileTag* tags) {
    if (std::strncmp(name, "snd:", 4) != 0) return nullptr;
    for (const qbFileTag* t = tags; t->tag != kFileTagEnd; ++t)
        if (t->tag == kFileTagStreamFlags && served->streamOnly)
            *reinterpret_cast<uint32_t*>(t->value) = kStreamFlagStreaming | kStreamFlagNoSeek;
    return new Handle;
}
int SndClose(void* h) {
    std::unique_ptr<Handle> owner(static_cast<Handle*>(h));
    return 1;
}
size_t SndRead(void* p, void* buffer, size_t count) {
    auto* h = static_cast<Handle*>(p);
    const auto size = static_cast<int64_t>(served->bytes.size());
    served->reads.push_back(h->position);
    const size_t n = static_cast<size_t>(std::clamp<int64_t>(size - h->position, 0, static_cast<int64_t>(count)));
    std::memcpy(buffer, served->bytes.data() + h->position, n);
    h->position += static_cast<int64_t>(n);
    return n;
}
int SndGetC(void* p) {
    unsigned char c = 0;
    return SndRead(p, &c, 1) ? c : -1;
}
int64_t SndSeek(void* p, int64_t offset, int mode) {
    auto* h = static_cast<Handle*>(p);
    const auto size = static_cast<int64_t>(served->bytes.size());
    if (served->streamOnly && !(offset == 0 && mode != kSeekEnd)) return -1;
    const bool tell = offset == 0 && mode == kSeekCurrent, start = offset == 0 && mode == kSeekBeginning;
    if (served->seeks == Seeks::kUntilRewound && start) served->seeks = Seeks::kAll;
    if (!tell && served->seeks != Seeks::kAll) return -1;
    const int64_t previous = h->position;
    const int64_t from = mode == kSeekBeginning ? 0 : mode == kSeekCurrent ? h->position : size;
    h->position = std::clamp<int64_t>(from + offset, 0, size);
    return previous;
}
int SndEof(void* p) { return static_cast<Handle*>(p)->position >= static_cast<int64_t>(served->bytes.size()); }
int SndStat(void*, qbAdapterStat* st) {
    st->size = static_cast<int64_t>(served->bytes.size());
    st->protection = kFileAttrReadUsr;
    return 1;
}

struct NativeFile {
    qbNativeAudioFile* f = nullptr;
    ~NativeFile() {
        if (f) CloseNativeAudioFile(f);
    }
};

class NativeSoundSourcesTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!HaveTool("ffmpeg")) GTEST_SKIP() << "ffmpeg missing";
        SetPlatformBackend(&LinuxPlatformOps());
        served = &served_;
        plugin_.name = "sndfs";
        plugin_.slots.FOpen = SndOpen;
        plugin_.slots.FClose = SndClose;
        plugin_.slots.FRead = SndRead;
        plugin_.slots.FGetC = SndGetC;
        plugin_.slots.FSeek = SndSeek;
        plugin_.slots.FEof = SndEof;
        plugin_.slots.FStat = SndStat;
        ASSERT_EQ(AddAdapterPlugin(kPluginCapsFileAdapter, &plugin_), 0);
        std::filesystem::create_directories(dir_.File("tmp"));
        oldTemp_ = GetTempDir();
        SetTempDir(dir_.File("tmp").c_str());
    }
    void TearDown() override {
        if (!served) return;
        SetTempDir(oldTemp_.c_str());
        RemoveAdapterPlugin(kPluginCapsFileAdapter, &plugin_);
        served = nullptr;
        SetPlatformBackend(nullptr);
    }

    // A stereo tone of the given seconds in the given codec, and ffmpeg's
    // own decoding of it.
    std::string Make(const char* file, const char* codec, double seconds) {
        const std::string path = dir_.File(file);
        EXPECT_EQ(RunQuietly("ffmpeg -v error -y -f lavfi -i 'aevalsrc=0.6*sin(2*PI*440*t)|0.4*sin(2*PI*523*t):s=44100:d=" +
                             std::to_string(seconds) + "' " + codec + " " + path),
                  0);
        EXPECT_EQ(RunQuietly("ffmpeg -v error -y -i " + path + " -ac 2 -f s16le " + path + ".raw"), 0);
        const std::vector<uint8_t> raw = ReadBytes(path + ".raw");
        want_.assign(raw.size() / 2, 0);
        std::memcpy(want_.data(), raw.data(), want_.size() * 2);
        return path;
    }
    // n frames read at the position, compared with the reference.
    void ExpectFrames(qbNativeAudioFile* f, int64_t at, int64_t n) {
        std::vector<int16_t> chunk(static_cast<size_t>(n) * 2);
        qbAudioPacketInfo info;
        ASSERT_EQ(ReadNativeAudioPackets(f, chunk.data(), chunk.size() * 2, &info), 0);
        ASSERT_EQ(info.packets, n);
        for (size_t i = 0; i < chunk.size(); ++i)
            ASSERT_EQ(chunk[i], want_[static_cast<size_t>(at) * 2 + i]) << "frame " << at << " sample " << i;
    }
    bool TempFolderEmpty() const { return std::filesystem::is_empty(dir_.File("tmp")); }

    ScratchDir dir_;
    Served served_;
    qbAdapterPlugin plugin_;
    std::string oldTemp_;
    std::vector<int16_t> want_;
};

TEST_F(NativeSoundSourcesTest, AnAdapterStreamDecodesAndOneThatCannotSeekIsRefused) {
    served_.bytes = ReadBytes(Make("tone.mp3", "-c:a libmp3lame -b:a 128k", 1.0));
    NativeFile n;
    ASSERT_EQ(OpenNativeAudioFile("snd:tone.mp3", 0, &n.f), 0);
    const auto total = static_cast<int64_t>(want_.size() / 2);
    ExpectFrames(n.f, 0, total);
    EXPECT_TRUE(TempFolderEmpty());

    served_.streamOnly = true;
    NativeFile stream;
    EXPECT_EQ(OpenNativeAudioFile("snd:tone.mp3", 0, &stream.f), ERR_SEEKFILE);
    EXPECT_EQ(stream.f, nullptr);
}

TEST_F(NativeSoundSourcesTest, AChunkOfAContainerDecodesInPlace) {
    const std::vector<uint8_t> ogg = ReadBytes(Make("tone.ogg", "-c:a libvorbis", 0.8));
    // The sound between other bytes, as an applet holds its linked files.
    std::vector<uint8_t> container(4321 + ogg.size() + 999, 0xA5);
    std::copy(ogg.begin(), ogg.end(), container.begin() + 4321);
    WriteBytes(dir_.File("applet.qba"), container);
    const std::string name = MakeChunkName("tone.ogg", 4321, ogg.size(), 0, dir_.File("applet.qba").c_str());
    NativeFile n;
    ASSERT_EQ(OpenNativeAudioFile(name.c_str(), 0, &n.f), 0);
    EXPECT_STREQ(GetNativeAudioFormatName(n.f), "Ogg");
    ExpectFrames(n.f, 0, static_cast<int64_t>(want_.size() / 2));
    EXPECT_TRUE(TempFolderEmpty());
}

// Long enough that a seek back lands far from the start: the demuxer is
// moved there and the decoder flushed (for M4A the decode starts again), and
// what follows is exactly the full decode.
TEST_F(NativeSoundSourcesTest, SeekingBackMovesTheDemuxerAndGivesTheFramesOfTheFullDecode) {
    const struct {
        const char* file;
        const char* codec;
    } kCodecs[] = {
        {"cbr.mp3", "-c:a libmp3lame -b:a 128k"}, {"vbr.mp3", "-c:a libmp3lame -q:a 2"},
        {"tone.ogg", "-c:a libvorbis"},           {"tone.flac", "-c:a flac"},
        {"tone.m4a", "-c:a aac -b:a 128k"},
    };
    for (const auto& c : kCodecs) {
        SCOPED_TRACE(c.file);
        served_.bytes = ReadBytes(Make(c.file, c.codec, 6.0));
        NativeFile n;
        ASSERT_EQ(OpenNativeAudioFile((std::string("snd:") + c.file).c_str(), 0, &n.f), 0);
        qbAudioPacketInfo length;
        ASSERT_EQ(ReadNativeAudioPackets(n.f, nullptr, 0, &length), 0);
        // m4a's edit list ends the sound before ffmpeg's tool does.
        ASSERT_LE(length.packets * 2, static_cast<int64_t>(want_.size()));
        ASSERT_EQ(LimitPacketPosition(n.f, 250000), 250000);
        ExpectFrames(n.f, 250000, 1000);
        for (int64_t at : {int64_t{200001}, int64_t{123457}, int64_t{60000}, int64_t{16385}}) {
            served_.reads.clear();
            ASSERT_EQ(LimitPacketPosition(n.f, at), at);
            ExpectFrames(n.f, at, 3001);
            const int64_t first = *std::min_element(served_.reads.begin(), served_.reads.end());
            // FLAC's frames say where they are: its demuxer never has to
            // go back to the first byte for a frame this far in.
            if (std::strcmp(c.file, "tone.flac") == 0 && at >= 60000) {
                EXPECT_GT(first, 0) << at;
            }
        }
        // Near the start, and the very start, as a decode from the start.
        for (int64_t at : {int64_t{1500}, int64_t{0}}) {
            ASSERT_EQ(LimitPacketPosition(n.f, at), at);
            ExpectFrames(n.f, at, 3001);
        }
    }
}

// A seek back whose demuxer seek fails (the stream takes no seek until it
// is asked for from its start again) decodes again from the start and
// gives the frames of the full decode; with no seek at all the place is
// refused, and what is read from there on is silence up to the length.
TEST_F(NativeSoundSourcesTest, ASeekBackTheStreamRefusesStartsAgainOrIsRefused) {
    // Long enough that seeks back from near the end go far past what the
    // demuxer's own buffer still holds (Vorbis codes these tones in a few
    // kilobytes a second).
    const struct {
        const char* file;
        const char* codec;
        int seconds;
    } kCodecs[] = {
        {"cbr.mp3", "-c:a libmp3lame -b:a 128k", 10},
        {"tone.ogg", "-c:a libvorbis", 40},
        {"tone.flac", "-c:a flac", 10},
    };
    for (const auto& c : kCodecs) {
        SCOPED_TRACE(c.file);
        served_.bytes = ReadBytes(Make(c.file, c.codec, c.seconds));
        served_.seeks = Seeks::kAll;
        NativeFile n;
        ASSERT_EQ(OpenNativeAudioFile((std::string("snd:") + c.file).c_str(), 0, &n.f), 0);
        const int64_t far = int64_t{c.seconds - 1} * 44100;
        for (int64_t at : {int64_t{100000}, int64_t{30000}}) {
            ASSERT_EQ(LimitPacketPosition(n.f, far), far);
            ExpectFrames(n.f, far, 1000);
            served_.seeks = Seeks::kUntilRewound;
            served_.reads.clear();
            ASSERT_EQ(LimitPacketPosition(n.f, at), at);
            ExpectFrames(n.f, at, 3001);
            EXPECT_EQ(*std::min_element(served_.reads.begin(), served_.reads.end()), 0) << at;
        }
        ASSERT_EQ(LimitPacketPosition(n.f, far), far);
        served_.seeks = Seeks::kNone;
        EXPECT_EQ(LimitPacketPosition(n.f, 1000), -1);
        EXPECT_EQ(LimitPacketPosition(n.f, far + 10000), -1);
        std::vector<int16_t> rest(4000 * 2, 1);
        qbAudioPacketInfo info;
        ASSERT_EQ(ReadNativeAudioPackets(n.f, rest.data(), rest.size() * 2, &info), 0);
        EXPECT_EQ(info.packets, 4000);
        EXPECT_TRUE(std::all_of(rest.begin(), rest.end(), [](int16_t v) { return v == 0; }));
    }
}

}  // namespace
