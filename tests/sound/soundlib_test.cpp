// The sound library through its commands on the pull device: samples made,
// loaded, saved, mixed and edited; PlaySample's pairs and options; the
// channel queries; and the no-audio mode.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <vector>

#include "command_call.h"
#include "core/argapi.h"
#include "core/errcodes.h"
#include "core/scratch.h"
#include "core/settings.h"
#include "core/vmhost.h"
#include "draw/attributes.h"
#include "mixer_fixture.h"
#include "sound/channels.h"
#include "libs/dos.h"
#include "libs/memblock.h"
#include "platform/platform_ops.h"
#include "sound/samples.h"
#include "sound/samplesources.h"
#include "sound/sound.h"
#include "sound/soundlib.h"
#include "vm/vm.h"

namespace {

class SoundLibTest : public ::testing::Test {
protected:
    void SetUp() override {
        SetPlatformBackend(nullptr);
        ShutdownAudioCore();
        DisposeAudioOutput();
        null_backend::SetAudioPullRate(48000);
        ResetRuntimeSettings();
        InstallVmHost();
        L_ = VmOpen();
        ASSERT_NE(L_, nullptr);
        VmPushValue(L_, kGlobalsIndex);
        ASSERT_EQ(InitSoundLibrary(L_), 0);
        VmSetTop(L_, 0);
        SetRuntimeTag(kTagRaiseErrors, 1);
        SetRuntimeTag(kTagNoSound, 0);
        SetRuntimeTag(kTagAudioChannels, 30);
    }
    void TearDown() override {
        FreeSoundObjects(L_);
        ShutdownAudioCore();
        SetRuntimeTag(kTagNoSound, 0);
        VmClose(L_);
        ResetRuntimeSettings();
    }

    // Runs the command on what push leaves on the stack; the error code.
    // Results stay on the stack (nresults of them).
    int Call(const char* command, const std::function<void()>& push, int nresults = 0) {
        VmSetTop(L_, 0);
        push();
        return CallCommand(L_, command, VmGetTop(L_), nresults);
    }
    double Number(const char* command, const std::function<void()>& push = [] {}) {
        EXPECT_EQ(Call(command, push, 1), 0) << command;
        return VmToNumber(L_, -1);
    }
    void N(double v) { VmPushNumber(L_, v); }
    // A table of numbers from index 0.
    void Values(const std::vector<double>& values) {
        VmPushNewTable(L_);
        for (size_t i = 0; i < values.size(); ++i) {
            VmPushNumber(L_, values[i]);
            VmRawSetIndex(L_, -2, static_cast<int>(i));
        }
    }
    void Field(const char* key, double v) { SetTableFieldFloat(L_, key, v); }
    // CreateSample(id, {values}, rate, format).
    int Create(int id, const std::vector<double>& values, int rate = 8000, int format = kFormatMono8) {
        return Call("CreateSample", [&] {
            N(id);
            Values(values);
            N(rate);
            N(format);
        });
    }
    std::vector<double> Data(int id) {
        EXPECT_EQ(Call("GetSampleData", [&] { N(id); }, 2), 0);
        std::vector<double> out(static_cast<size_t>(VmToNumber(L_, -1)) * 2 + 4);
        out.clear();
        for (int i = 0;; ++i) {
            VmRawGetIndex(L_, 1, i);
            if (VmType(L_, -1) != kTypeNumber) break;
            out.push_back(VmToNumber(L_, -1));
            VmSetTop(L_, -2);
        }
        return out;
    }
    qbSampleObject* Sample(int id) {
        qbSampleObject* s = nullptr;
        EXPECT_EQ(GetSample(ObjectID{id, nullptr}, &s), 0);
        return s;
    }
    ScriptState* L_ = nullptr;
};

TEST_F(SoundLibTest, PitchVolumeAndPanningAreCheckedAndClamped) {
    ASSERT_EQ(Create(1, {1, 2, 3}), 0);
    EXPECT_EQ(Call("SetPitch", [&] { N(1); N(256); }), 0);
    EXPECT_EQ(Call("SetPitch", [&] { N(1); N(255); }), ERR_LOWFREQ);
    EXPECT_EQ(Sample(1)->pitch, 256);
    EXPECT_EQ(Call("SetVolume", [&] { N(1); N(100); }), 0);
    EXPECT_EQ(Sample(1)->volume, 64);
    EXPECT_EQ(Call("SetVolume", [&] { N(1); N(-5); }), 0);
    EXPECT_EQ(Sample(1)->volume, 0);
    for (const auto& p : {std::pair{-90000, 0}, {-80000, 255}, {-100000, 128}, {300, 255}, {-3, 0}}) {
        EXPECT_EQ(Call("SetPanning", [&] { N(1); N(p.first); }), 0);
        EXPECT_EQ(Sample(1)->pan, p.second) << p.first;
    }
    EXPECT_EQ(Call("SetVolume", [&] { N(7); N(1); }), ERR_FINDSAMPLE);
}

TEST_F(SoundLibTest, PlaySamplePairsOptionsAndChannels) {
    ASSERT_EQ(Create(1, std::vector<double>(800, 50)), 0);  // 0.1 s
    // Five pairs fail before anything plays.
    EXPECT_EQ(Call("PlaySample", [&] { for (int i = 0; i < 5; ++i) { N(1); N(1); } }), ERR_WRONGUSAGE);
    EXPECT_EQ(Number("GetChannels"), 0);
    EXPECT_EQ(Number("IsSound"), 1);
    EXPECT_EQ(Number("GetChannels"), 30);
    EXPECT_EQ(Number("IsSamplePlaying", [&] { N(1); }), 0);

    EXPECT_EQ(Call("PlaySample", [&] { N(1); VmPushNewTable(L_); Field("time", 0); }), ERR_WRONGUSAGE);
    EXPECT_EQ(Call("PlaySample", [&] { N(1); VmPushNewTable(L_); Field("channel", 31); }), ERR_CHANNELRANGE);
    EXPECT_EQ(Call("PlaySample", [&] { N(1); VmPushNewTable(L_); Field("pitch", 255); }), ERR_LOWFREQ);
    EXPECT_EQ(Number("HaveFreeChannel"), 1);

    // "times" wins over "time"; panning constants map; four pairs start on
    // one output frame.
    ASSERT_EQ(Call("PlaySample", [&] {
                  for (const auto& p : {std::pair{-90000, 3}, {-80000, 4}, {-100000, 5}, {300, 6}}) {
                      N(1);
                      VmPushNewTable(L_);
                      Field("times", 3);
                      Field("time", 5000);
                      Field("panning", p.first);
                      Field("channel", p.second);
                      Field("volume", 99);
                  }
              }),
              0);
    for (auto [channel, pan] : {std::pair{2, 0}, {3, 255}, {4, 128}, {5, 255}}) {
        const qbAudioChannel* ch = audio_mixer::Channel(channel);
        EXPECT_EQ(ch->kind.load(), kChannelSample) << channel;
        EXPECT_EQ(ch->pan.load(), pan) << channel;
        EXPECT_EQ(ch->volume.load(), 64) << channel;
        EXPECT_EQ(ch->loopsWanted, 3) << channel;
    }
    null_backend::PullAudio(100);
    for (int channel : {3, 4, 5}) EXPECT_EQ(audio_mixer::Channel(channel)->position.load(), audio_mixer::Channel(2)->position.load());
    EXPECT_EQ(Number("IsSamplePlaying", [&] { N(1); }), 1);
    ASSERT_EQ(Call("IsChannelPlaying", [&] { N(3); }, 3), 0);
    EXPECT_EQ(VmToNumber(L_, 1), 1);
    EXPECT_EQ(VmToNumber(L_, 2), kObjectTypeSample);
    EXPECT_EQ(VmToNumber(L_, 3), 1);
    EXPECT_EQ(Call("IsChannelPlaying", [&] { N(31); }, 1), ERR_CHANNELRANGE);
    EXPECT_EQ(Call("SetChannelVolume", [&] { N(3); N(20); }), 0);
    EXPECT_EQ(Sample(1)->volume, 20);
    EXPECT_EQ(audio_mixer::Channel(2)->volume.load(), 20);
    EXPECT_EQ(Call("StopChannel", [&] { N(3); }), 0);
    EXPECT_EQ(audio_mixer::Channel(2)->kind.load(), kChannelFree);
    EXPECT_EQ(Call("StopSample", [&] { N(1); }), 0);
    EXPECT_EQ(Number("IsSamplePlaying", [&] { N(1); }), 0);
}

TEST_F(SoundLibTest, SetVolumeWhilePlayingChangesTheNextBlock) {
    ASSERT_EQ(Create(1, std::vector<double>(8000, 100)), 0);
    ASSERT_EQ(Call("PlaySample", [&] { N(1); }), 0);
    const std::vector<float> loud = null_backend::PullAudio(256);
    ASSERT_EQ(Call("SetVolume", [&] { N(1); N(16); }), 0);
    const std::vector<float> quiet = null_backend::PullAudio(256);
    EXPECT_GT(std::fabs(loud.back()), 0.0f);
    EXPECT_GT(std::fabs(quiet.back()), 0.0f);
    EXPECT_LT(std::fabs(quiet.back()), std::fabs(loud.back()) * 0.7f);
}

TEST_F(SoundLibTest, PlaySampleVolumeOptionScalesWhatIsHeard) {
    ASSERT_EQ(Create(1, std::vector<double>(8000, 100)), 0);
    ASSERT_EQ(Call("PlaySample", [&] { N(1); VmPushNewTable(L_); Field("volume", 16); }), 0);
    const float quiet = std::fabs(null_backend::PullAudio(256).back());
    ASSERT_EQ(Call("StopSample", [&] { N(1); }), 0);
    ASSERT_EQ(Call("PlaySample", [&] { N(1); }), 0);
    const float loud = std::fabs(null_backend::PullAudio(256).back());
    EXPECT_GT(quiet, 0.0f);
    // 16 of 64 (the loudness follows the ear's curve, not the number).
    EXPECT_LT(quiet, loud * 0.75f) << quiet << " against " << loud;
}

TEST_F(SoundLibTest, ChannelCountFromTheTagAndNoFreeChannelWhileAllPlay) {
    SetRuntimeTag(kTagAudioChannels, 5);
    EXPECT_EQ(Number("IsSound"), 1);
    EXPECT_EQ(Number("GetChannels"), 5);
    ASSERT_EQ(Create(1, std::vector<double>(16000, 10)), 0);  // 2 s
    for (int i = 0; i < 5; ++i) ASSERT_EQ(Call("PlaySample", [&] { N(1); }), 0);
    EXPECT_EQ(Number("HaveFreeChannel"), 0);
    EXPECT_EQ(Call("PlaySample", [&] { N(1); }), ERR_NOCHANNEL);
}

TEST_F(SoundLibTest, WithoutAudioEverythingSucceedsQuietlyAndLoadingStillWorks) {
    SetRuntimeTag(kTagNoSound, 1);
    ScratchDir dir;
    ASSERT_EQ(Create(1, {1, -2, 3, -4}), 0);
    const std::string path = dir / "a.wav";
    ASSERT_EQ(Call("SaveSample", [&] { N(1); VmPushString(L_, path.c_str()); }), 0);
    ASSERT_EQ(Call("LoadSample", [&] { N(2); VmPushString(L_, path.c_str()); }), 0);
    EXPECT_EQ(Data(2), (std::vector<double>{1, -2, 3, -4}));
    EXPECT_EQ(Number("IsSound"), 0);
    EXPECT_EQ(Call("PlaySample", [&] { N(2); N(3); }), 0);
    EXPECT_EQ(Number("IsSamplePlaying", [&] { N(2); }), 0);
    EXPECT_EQ(Number("GetChannels"), 0);
    EXPECT_EQ(Number("HaveFreeChannel"), 0);
    EXPECT_EQ(Number("IsChannelPlaying", [&] { N(1); }), 0);
    for (const char* c : {"SetVolume", "SetPanning", "StopSample", "WaitSampleEnd"})
        EXPECT_EQ(Call(c, [&] { N(2); if (c[1] != 't' && c[0] != 'W') N(10); }), 0) << c;
    EXPECT_EQ(Call("StopChannel", [&] { N(1); }), 0);
    EXPECT_FALSE(IsAudioOpen());
}

// The platform decoder the loader chain falls back to, counting its opens.
int nativeOpens = 0;
int CountingDecoder(const char*, uint32_t, qbNativeAudioFile**) {
    ++nativeOpens;
    return ERR_OPENSOUND2;
}

TEST_F(SoundLibTest, WithoutAudioThePlatformDecoderIsNeverAsked) {
    static qbPlatformOps ops;
    ops = ActivePlatformOps();
    ops.OpenNativeAudioFile = &CountingDecoder;
    SetPlatformBackend(&ops);
    ScratchDir dir;
    const std::string path = dir.Write("noise.bin", std::string(64, '\x5a'));
    const auto load = [&] { return Call("LoadSample", [&] { N(1); VmPushString(L_, path.c_str()); }); };
    nativeOpens = 0;
    EXPECT_EQ(load(), ERR_OPENSOUND2);
    EXPECT_EQ(nativeOpens, 1);
    SetRuntimeTag(kTagNoSound, 1);
    EXPECT_EQ(load(), ERR_OPENSOUND2);
    EXPECT_EQ(Number("IsSample", [&] { VmPushString(L_, path.c_str()); }), 0);
    EXPECT_EQ(nativeOpens, 1);
    SetPlatformBackend(nullptr);
}

TEST_F(SoundLibTest, CreateSampleFromValues) {
    EXPECT_EQ(Create(1, {0, 128}), ERR_SMPRANGE);
    EXPECT_EQ(Create(1, {-32769}, 8000, kFormatMono16), ERR_SMPRANGE);
    EXPECT_EQ(Create(1, {1, 2, 3}, 8000, kFormatStereo8), ERR_WRONGUSAGE);  // odd count for stereo
    EXPECT_EQ(Create(1, {1}, 255), ERR_LOWFREQ);
    EXPECT_EQ(Create(1, {1}, 768001), ERR_WRONGUSAGE);  // past what the readers take
    EXPECT_EQ(Create(1, {1}, 8000, 7), ERR_WRONGUSAGE);
    EXPECT_EQ(Call("CreateSample", [&] { N(1); VmPushNewTable(L_); SetTableFieldString(L_, "source", "tape"); N(8000); }),
              ERR_WRONGUSAGE);
    ASSERT_EQ(Create(1, {-32768, 32767, 5, 6}, 11025, kFormatStereo16), 0);
    EXPECT_EQ(Sample(1)->sample.frames, 2u);
    EXPECT_EQ(Sample(1)->pitch, 11025);
    EXPECT_EQ(Data(1), (std::vector<double>{-32768, 32767, 5, 6}));
    // A length beyond the entries leaves silence after them.
    ASSERT_EQ(Call("CreateSample", [&] { N(2); Values({9}); N(8000); N(kFormatMono8); N(3); }), 0);
    EXPECT_EQ(Data(2), (std::vector<double>{9, 0, 0}));
    // A length no one means fails at once rather than filling gigabytes.
    EXPECT_EQ(Call("CreateSample", [&] { N(3); Values({9}); N(8000); N(kFormatStereo16); N(1e300); }), ERR_MEM);
    EXPECT_EQ(Call("MixSample", [&] { N(3); N(1e300); N(8000); N(kFormatMono8); }), ERR_MEM);
}

// A memory block the test stands in for: block 1 holds four bytes.
int ReadTestBlock(ObjectID block, int64_t offset, void* out, size_t bytes) {
    static const uint8_t kBlock[4] = {1, 2, 3, 4};
    if (!(block == ObjectID{1, nullptr})) return ERR_FINDMEMBLK;
    if (offset + static_cast<int64_t>(bytes) > 4) return ERR_MEMRANGE;
    std::memcpy(out, kBlock + offset, bytes);
    return 0;
}

TEST_F(SoundLibTest, CreateSampleFromMemoryBlocksAndFiles) {
    SetSampleMemoryReader(&ReadTestBlock);
    const auto fromMemory = [&](int length, double offset, bool swap, bool withId = true) {
        return Call("CreateSample", [&] {
            N(1);
            VmPushNewTable(L_);
            SetTableFieldString(L_, "source", "memory");
            if (withId) Field("id", 1);
            Field("offset", offset);
            if (swap) Field("swap", 1);
            N(8000);
            N(kFormatMono16);
            N(length);
        });
    };
    ASSERT_EQ(fromMemory(1, 1, false), 0);
    EXPECT_EQ(Data(1), (std::vector<double>{0x0302}));
    ASSERT_EQ(fromMemory(1, 1, true), 0);
    EXPECT_EQ(Data(1), (std::vector<double>{0x0203}));
    EXPECT_EQ(fromMemory(2, 1, false), ERR_MEMRANGE);
    EXPECT_EQ(fromMemory(0, 0, false), ERR_WRONGUSAGE);
    EXPECT_EQ(fromMemory(1, -1, false), ERR_WRONGUSAGE);
    EXPECT_EQ(fromMemory(1, 0, false, false), ERR_WRONGUSAGE);
    SetSampleMemoryReader(nullptr);
    EXPECT_EQ(fromMemory(1, 0, false), ERR_FINDMEMBLK);

    // The memblock library's own reader: block 1 holds 0, 1, 2.
    VmPushValue(L_, kGlobalsIndex);
    ASSERT_EQ(InitMemblockLibrary(L_), 0);
    ASSERT_EQ(Call("AllocMem", [&] { N(1); N(3); }), 0);
    for (int i = 0; i < 3; ++i) ASSERT_EQ(Call("Poke", [&] { N(1); N(i); N(i); N(7); }), 0);
    ASSERT_EQ(fromMemory(1, 1, false), 0);
    EXPECT_EQ(Data(1), (std::vector<double>{0x0201}));
    EXPECT_EQ(fromMemory(1, 2, false), ERR_MEMRANGE);
    EXPECT_EQ(fromMemory(2, 0, false), ERR_MEMRANGE);
    ASSERT_EQ(Call("FreeMem", [&] { N(1); }), 0);
    EXPECT_EQ(fromMemory(1, 0, false), ERR_FINDMEMBLK);
    FreeAllMemblocks(L_);

    VmPushValue(L_, kGlobalsIndex);
    ASSERT_EQ(InitDosLibrary(L_), 0);
    ScratchDir dir;
    const std::string path = dir.Write("pcm.raw", std::string("\x05\xfb\x07", 3));
    const auto open = [&](int id, const std::string& file, int mode) {
        return Call("OpenFile", [&] { N(id); VmPushString(L_, file.c_str()); N(mode); });
    };
    const auto fromFile = [&](int file, int length) {
        return Call("CreateSample", [&] {
            N(2);
            VmPushNewTable(L_);
            SetTableFieldString(L_, "source", "file");
            Field("id", file);
            N(8000);
            N(kFormatMono8);
            N(length);
        });
    };
    ASSERT_EQ(open(1, path, kDosModeRead), 0);
    ASSERT_EQ(fromFile(1, 2), 0);
    EXPECT_EQ(Data(2), (std::vector<double>{5, -5}));
    EXPECT_EQ(fromFile(1, 2), ERR_READ);  // one byte was left
    ASSERT_EQ(open(2, dir / "out.raw", kDosModeWrite), 0);
    EXPECT_EQ(fromFile(2, 1), ERR_WRITEONLY);
    EXPECT_EQ(fromFile(3, 1), ERR_FINDFILE);
    FreeDosObjects(L_);
}

TEST_F(SoundLibTest, SaveAndLoadRoundTripEveryFormatAndUnsignedDataReadsSigned) {
    ScratchDir dir;
    const std::vector<double> values = {-128, 127, 0, 5, -7, 100};
    for (int format : {kFormatMono8, kFormatMono16, kFormatStereo8, kFormatStereo16}) {
        ASSERT_EQ(Create(1, values, 22050, format), 0);
        std::string name = std::to_string(format);
        name += ".wav";
        const std::string path = dir / name;
        ASSERT_EQ(Call("SaveSample", [&] { N(1); VmPushString(L_, path.c_str()); N(0); }), 0);
        ASSERT_EQ(Call("LoadSample", [&] { N(2); VmPushString(L_, path.c_str()); }), 0);
        EXPECT_EQ(Data(2), values) << format;
        EXPECT_EQ(Sample(2)->pitch, 22050);
        EXPECT_EQ(Sample(2)->file, path);
        // A WAVE's 8-bit data is unsigned on disk and reads back as such.
        if (format == kFormatMono8) {
            EXPECT_EQ(Sample(2)->pcmCode, 0);
        }
    }
    EXPECT_EQ(Call("SaveSample", [&] { N(1); VmPushString(L_, "x"); N(9); }), ERR_UNKNOWNSMPOUT);
    EXPECT_EQ(Call("LoadSample", [&] { N(3); VmPushString(L_, (dir / "none.wav").c_str()); }), ERR_READFILE);
}

// The plain reference of MixSample for one output frame.
TEST_F(SoundLibTest, MixSampleAgainstAPlainReference) {
    ASSERT_EQ(Create(1, {100, -100, 127, -128}, 8000, kFormatMono8), 0);
    ASSERT_EQ(Create(2, {30000, -30000, 1000, 32767}, 8000, kFormatStereo16), 0);
    for (int format : {kFormatMono8, kFormatMono16, kFormatStereo8, kFormatStereo16}) {
        ASSERT_EQ(Call("MixSample", [&] {
                      N(3); N(6); N(8000); N(format);
                      N(1); VmPushNewTable(L_);
                      N(2); VmPushNewTable(L_); Field("scale", 0.5); Field("threshold", 1);
                  }),
                  0);
        const std::vector<double> got = Data(3);
        const int16_t s1[4] = {100, -100, 127, -128};
        const int16_t s2[4] = {30000, -30000, 1000, 32767};
        std::vector<double> want;
        for (int f = 0; f < 6; ++f) {
            int64_t l = int64_t{s1[f % 4]} * 65536, r = l;
            if (f >= 1) {
                const int g = (f - 1) % 2;
                l += static_cast<int64_t>(static_cast<double>(int64_t{s2[2 * g]} * 256) * 0.5);
                r += static_cast<int64_t>(static_cast<double>(int64_t{s2[2 * g + 1]} * 256) * 0.5);
            }
            l = std::clamp<int64_t>(l, -8388608, 8388607);
            r = std::clamp<int64_t>(r, -8388608, 8388607);
            switch (format) {
                case kFormatMono8: want.push_back(static_cast<int8_t>((l + r) >> 17)); break;
                case kFormatStereo8: want.push_back(static_cast<int8_t>(l >> 16)); want.push_back(static_cast<int8_t>(r >> 16)); break;
                case kFormatMono16: want.push_back(static_cast<int16_t>((l + r) >> 9)); break;
                default: want.push_back(static_cast<int16_t>(l >> 8)); want.push_back(static_cast<int16_t>(r >> 8)); break;
            }
        }
        EXPECT_EQ(got, want) << format;
    }
}

TEST_F(SoundLibTest, MixSampleLoopsWrapsAndFallsSilent) {
    ASSERT_EQ(Create(1, {10, 20, 30}, 8000, kFormatMono16), 0);
    const auto mix = [&](const std::function<void()>& options) {
        EXPECT_EQ(Call("MixSample", [&] { N(2); N(8); N(8000); N(kFormatMono16); N(1); VmPushNewTable(L_); options(); }), 0);
        return Data(2);
    };
    // Mono output sums both sides and shifts by 9: a 16-bit mono source keeps its values.
    EXPECT_EQ(mix([] {}), (std::vector<double>{10, 20, 30, 10, 20, 30, 10, 20}));
    EXPECT_EQ(mix([&] { Field("loop", 0); }), (std::vector<double>{10, 20, 30, 0, 0, 0, 0, 0}));
    // A step of three source lengths and an offset past the end stay inside.
    EXPECT_EQ(mix([&] { Field("pitch", 72000); Field("offset", 7); }), (std::vector<double>(8, 20)));
    EXPECT_EQ(mix([&] { Field("length", 2); }), (std::vector<double>{10, 20, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(Call("MixSample", [&] { N(2); N(8); N(8000); N(kFormatMono16); N(1); }), ERR_WRONGUSAGE);
    EXPECT_EQ(Call("MixSample", [&] { N(2); N(8); N(100); N(kFormatMono16); }), ERR_LOWFREQ);
    EXPECT_EQ(Call("MixSample", [&] { N(2); N(8); N(2147483647); N(kFormatMono16); }), ERR_WRONGUSAGE);
    EXPECT_EQ(Call("MixSample", [&] { N(2); N(8); N(8000); N(kFormatMono16); N(1); VmPushNewTable(L_); Field("offset", -1); }),
              ERR_SMPRANGE);
}

// Numbers no integer can hold: refused where they name no place, clipped
// where they only overdrive, and never cast as they stand.
TEST_F(SoundLibTest, HostileNumbersInMixInsertAndPanning) {
    const double inf = HUGE_VAL, nan = std::nan("");
    ASSERT_EQ(Create(1, {100, -100, 50}, 8000, kFormatMono8), 0);
    const auto mix = [&](const char* key, double v) {
        return Call("MixSample", [&] { N(2); N(8); N(8000); N(kFormatMono16); N(1); VmPushNewTable(L_); Field(key, v); });
    };
    EXPECT_EQ(mix("offset", inf), ERR_SMPRANGE);
    EXPECT_EQ(mix("pitch", inf), ERR_WRONGUSAGE);
    EXPECT_EQ(mix("scale", nan), ERR_WRONGUSAGE);
    EXPECT_EQ(mix("threshold", nan), 0);
    EXPECT_EQ(mix("length", nan), 0);
    EXPECT_EQ(mix("pitch", 1e300), 0);
    // An overdriven source clips at the output's limits on every frame.
    ASSERT_EQ(Create(3, {1000, 2000, 3000, 4000}, 8000, kFormatMono16), 0);
    for (const auto& p : {std::pair{1e300, 32767.0}, {-1e300, -32768.0}, {inf, 32767.0}}) {
        ASSERT_EQ(Call("MixSample", [&] {
                      N(2); N(4); N(8000); N(kFormatMono16); N(3); VmPushNewTable(L_); Field("scale", p.first);
                  }),
                  0);
        EXPECT_EQ(Data(2), std::vector<double>(4, p.second)) << p.first;
    }

    ASSERT_EQ(Create(4, {1, 2}, 8000, kFormatMono8), 0);
    const auto insert = [&](const char* key, double v) {
        return Call("InsertSample", [&] { N(1); N(4); N(0); N(2); VmPushNewTable(L_); Field(key, v); });
    };
    EXPECT_EQ(insert("offset", inf), 0);  // wraps from the last whole frame a count holds
    EXPECT_EQ(insert("start", nan), 0);
    EXPECT_EQ(insert("end", -inf), ERR_SMPRANGE);
    EXPECT_EQ(insert("loop", 1e300), 0);
    EXPECT_EQ(Data(4).size(), 8u);

    for (const auto& p : {std::pair{nan, 128}, {1e300, 255}, {-1e300, 0}, {inf, 255}}) {
        EXPECT_EQ(Call("SetPanning", [&] { N(1); N(p.first); }), 0);
        EXPECT_EQ(Sample(1)->pan, p.second) << p.first;
    }
}

TEST_F(SoundLibTest, InsertAndCopy) {
    ASSERT_EQ(Create(1, {1, 2}, 8000, kFormatMono8), 0);
    ASSERT_EQ(Create(2, {1000, -1000, 2000, -2000}, 8000, kFormatStereo16), 0);
    EXPECT_EQ(Call("InsertSample", [&] { N(1); N(1); N(0); }), ERR_WRONGUSAGE);
    // Into the middle, converted to 16-bit stereo; a position past the end clamps.
    ASSERT_EQ(Call("InsertSample", [&] { N(1); N(2); N(1); }), 0);
    EXPECT_EQ(Data(2), (std::vector<double>{1000, -1000, 256, 256, 512, 512, 2000, -2000}));
    ASSERT_EQ(Call("InsertSample", [&] { N(1); N(2); N(99); N(1); }), 0);
    EXPECT_EQ(Data(2).size(), 10u);
    EXPECT_EQ(Data(2)[8], 256);

    ASSERT_EQ(Call("PlaySample", [&] { N(2); N(0); }), 0);
    EXPECT_EQ(Call("InsertSample", [&] { N(1); N(2); N(0); }), ERR_MODIFYPSMP);
    ASSERT_EQ(Call("StopSample", [&] { N(2); }), 0);

    EXPECT_EQ(Call("CopySample", [&] { N(2); N(2); }), ERR_WRONGUSAGE);
    ASSERT_EQ(Call("SetVolume", [&] { N(2); N(33); }), 0);
    ASSERT_EQ(Call("CopySample", [&] { N(2); N(5); }), 0);
    EXPECT_EQ(Data(5), Data(2));
    EXPECT_EQ(Sample(5)->volume, 33);
    ASSERT_EQ(Call("CopySample", [&] { N(2); }, 1), 0);
    EXPECT_NE(VmType(L_, -1), kTypeNil);
    EXPECT_EQ(Call("FreeSample", [&] { N(5); }), 0);
    EXPECT_EQ(Call("FreeSample", [&] { N(5); }), ERR_FINDSAMPLE);
}

}  // namespace

namespace {

TEST_F(SoundLibTest, SamplesAnswerGetAttribute) {
    // GetAttribute(#SAMPLE, id, attribute): the number, or -(error).
    auto get = [&](double id, int32_t attribute) {
        VmSetTop(L_, 0);
        VmPushNumber(L_, kObjectTypeSample);
        VmPushNumber(L_, id);
        VmPushNumber(L_, attribute);
        const int n = cmdGetAttribute(L_);
        return n >= 1000 ? -n : VmToNumber(L_, -1);
    };
    enum : int32_t {
        kType = 9, kNumFrames = 11, kDuration = 14, kPitch = 15, kPosition = 18, kPlaying = 83, kLoader = 91,
        kWidth = 0,
    };
    ASSERT_EQ(Create(1, std::vector<double>(800, 50), 8000, kFormatStereo16), 0);
    EXPECT_EQ(get(1, kType), kFormatStereo16);
    EXPECT_EQ(get(1, kNumFrames), 400);
    EXPECT_EQ(get(1, kPitch), 8000);
    EXPECT_EQ(get(1, kDuration), 50);
    // The length follows the pitch a play starts from.
    ASSERT_EQ(Call("SetPitch", [&] { N(1); N(16000); }), 0);
    EXPECT_EQ(get(1, kDuration), 25);
    EXPECT_EQ(get(1, kPlaying), 0);
    ASSERT_EQ(Number("IsSound"), 1);
    ASSERT_EQ(Call("PlaySample", [&] { N(1); VmPushNewTable(L_); Field("times", 0); }), 0);
    ReleasePreparedSamples();
    EXPECT_EQ(get(1, kPlaying), 1);
    EXPECT_EQ(get(1, kWidth), -ERR_UNKNOWNATTR);
    EXPECT_EQ(get(2, kType), -ERR_FINDSAMPLE);

    // The position: ms played and passes completed, 0 and 0 while silent.
    const auto position = [&](double id) {
        VmSetTop(L_, 0);
        for (double v : {double(kObjectTypeSample), id, double(kPosition)}) VmPushNumber(L_, v);
        EXPECT_EQ(cmdGetAttribute(L_), 2);
        return std::pair{VmToNumber(L_, -2), VmToNumber(L_, -1)};
    };
    ASSERT_EQ(Create(2, std::vector<double>(800, 50), 8000, kFormatMono16), 0);  // 0.1 s
    EXPECT_EQ(position(2), (std::pair{0.0, 0.0}));
    ASSERT_EQ(Call("PlaySample", [&] { N(2); VmPushNewTable(L_); Field("times", 3); }), 0);
    ReleasePreparedSamples();
    null_backend::PullAudio(12000);  // 0.25 s at 48 kHz
    const auto [ms, loops] = position(2);
    EXPECT_NEAR(ms, 250, 2);
    EXPECT_EQ(loops, 2);
    ASSERT_EQ(Call("StopSample", [&] { N(2); }), 0);
    EXPECT_EQ(position(2), (std::pair{0.0, 0.0}));

    // The loader: the inbuilt readers', kept by copies; made samples are the player's own.
    ScratchDir dir;
    const std::string path = dir / "l.wav";
    ASSERT_EQ(Call("SaveSample", [&] { N(2); VmPushString(L_, path.c_str()); }), 0);
    ASSERT_EQ(Call("LoadSample", [&] { N(3); VmPushString(L_, path.c_str()); }), 0);
    ASSERT_EQ(Call("CopySample", [&] { N(3); N(4); }), 0);
    for (double id : {2.0, 3.0, 4.0}) {
        VmSetTop(L_, 0);
        for (double v : {double(kObjectTypeSample), id, double(kLoader)}) VmPushNumber(L_, v);
        ASSERT_EQ(cmdGetAttribute(L_), 1);
        EXPECT_STREQ(VmToCString(L_, -1), "inbuilt");
    }
}

}  // namespace
