// A SOUND plugin in the sound loader chain and a SAVESAMPLE plugin behind
// SaveSample: which tags let the loader serve, what its info record makes
// of the stream, reads, seeks and close through its slots, descriptions
// the host must refuse, and the saver's record and failure.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "core/errcodes.h"
#include "platform/platform_types.h"
#include "plugin_fixture.h"
#include "plugins/pluginlibrary.h"
#include "plugins/pluginlist.h"
#include "sound/stream.h"
#include "sound/wavewriter.h"

namespace {

using plugintest::PluginFixture;

class SoundPluginTest : public PluginFixture {
protected:
    void SetUp() override {
        PluginFixture::SetUp();
        Place("testsnd", "testsnd.qbp", "scan");
        Place("namedsnd", "namedsnd.qbp", "scan");
        ASSERT_EQ(ScanPluginFolder((dir_ / "scan").string(), nullptr, nullptr), 0);
        for (const auto& node : GetPluginNodes()) ASSERT_EQ(RegisterPluginFormats(nullptr, node.get()), 0);
    }

    // "TSND rate channels bits frames flags subsongs".
    std::string Sound(const std::string& name, const std::string& header) {
        const std::string path = (dir_ / name).string();
        std::ofstream(path) << "TSND " << header << "\n";
        return path;
    }
};

TEST_F(SoundPluginTest, TheTagChoosesWhoMayOpen) {
    const std::string file = Sound("a.tsnd", "22050 1 8 10 6 1");
    qbSamplePtr s;
    EXPECT_EQ(OpenSoundStream(file.c_str(), "inbuilt", nullptr, &s), ERR_OPENSOUND2);
    EXPECT_EQ(Count(Log(), "OpenStream("), 0) << Log();

    ASSERT_EQ(OpenSoundStream(file.c_str(), nullptr, nullptr, &s), 0);
    EXPECT_EQ(Count(Log(), "testsnd: OpenStream("), 1);
    EXPECT_EQ(Count(Log(), "namedsnd: OpenStream("), 0) << "it serves only when named";
    EXPECT_EQ(s->format, kStreamPlugin);
    EXPECT_STREQ(SoundFormatName(*s), "Test sound");
    s.reset();
    EXPECT_EQ(Count(Log(), "testsnd: CloseStream"), 1);

    ASSERT_EQ(OpenSoundStream(file.c_str(), "namedsnd", nullptr, &s, 3), 0);
    EXPECT_EQ(Count(Log(), "namedsnd: OpenStream(" + file + ") subsong=3 subsongs=1"), 1) << Log();
    EXPECT_EQ(IsSoundSample(file.c_str(), nullptr, nullptr), 1);
}

TEST_F(SoundPluginTest, InfoReadsAndSeeksGoThroughTheSlots) {
    // Flags: big-endian, signed, can seek; three subsongs.
    const std::string file = Sound("b.tsnd", "44100 2 16 5 7 3");
    qbSamplePtr s;
    ASSERT_EQ(OpenSoundStream(file.c_str(), nullptr, nullptr, &s), 0);
    EXPECT_EQ(s->rate, 44100);
    EXPECT_EQ(s->channels, 2);
    EXPECT_EQ(s->bits, 16);
    EXPECT_EQ(s->bytesPerFrame, 4);
    EXPECT_EQ(s->frames, 5u);
    EXPECT_EQ(s->flags, uint32_t{kPCMBigEndian | kPCMSigned});
    EXPECT_TRUE(s->canSeek);
    EXPECT_EQ(s->subsongs, 3);

    std::vector<int16_t> pcm(20, -1);
    bool ended = true;
    EXPECT_EQ(ReadSoundFrames(*s, pcm.data(), 3, &ended), 3u);
    EXPECT_FALSE(ended);
    EXPECT_EQ(pcm[5], 5);
    EXPECT_EQ(s->lastBytes, 12u);
    EXPECT_EQ(ReadSoundFrames(*s, pcm.data(), 4, &ended), 2u);
    EXPECT_TRUE(ended);
    EXPECT_EQ(pcm[0], 6);

    SeekSoundStream(*s, 1);
    EXPECT_EQ(s->position, 1u);
    EXPECT_EQ(ReadSoundFrames(*s, pcm.data(), 1, &ended), 1u);
    EXPECT_EQ(pcm[0], 2);
    SeekSoundStream(*s, 9);  // the plugin refuses: the position stays
    EXPECT_EQ(s->position, 2u);
    EXPECT_EQ(Count(Log(), "SeekStream(9)"), 1);
}

TEST_F(SoundPluginTest, AStreamThatCannotSeekIsAskedOnlyForTheStart) {
    const std::string file = Sound("c.tsnd", "8000 1 8 10 2 1");
    qbSamplePtr s;
    ASSERT_EQ(OpenSoundStream(file.c_str(), nullptr, nullptr, &s), 0);
    EXPECT_FALSE(s->canSeek);
    SeekSoundStream(*s, 4);
    SeekSoundStream(*s, 0);
    EXPECT_EQ(Count(Log(), "SeekStream(4)"), 0);
    EXPECT_EQ(Count(Log(), "SeekStream(0)"), 1);
}

TEST_F(SoundPluginTest, ADescriptionTheMixerCannotPlayIsClosedAndPassedOn) {
    for (const char* header : {"0 1 8 10 0 1", "8000 3 8 10 0 1", "8000 1 12 10 0 1", "900000 1 8 10 0 1"}) {
        const std::string file = Sound("bad.tsnd", header);
        qbSamplePtr s;
        EXPECT_EQ(OpenSoundStream(file.c_str(), "testsnd|inbuilt", nullptr, &s), ERR_OPENSOUND2) << header;
    }
    EXPECT_EQ(Count(Log(), "OpenStream("), 4);
    EXPECT_EQ(Count(Log(), "CloseStream"), 4);
    // A frame count beyond 32 bits is held at the most a stream can count.
    const std::string big = Sound("big.tsnd", "8000 1 8 99999999999 0 1");
    qbSamplePtr s;
    ASSERT_EQ(OpenSoundStream(big.c_str(), nullptr, nullptr, &s), 0);
    EXPECT_EQ(s->frames, UINT32_MAX);
}

TEST_F(SoundPluginTest, ARegisteredSampleFormatSavesThroughThePlugin) {
    const uint8_t pcm[6] = {0xfe, 1, 2, 3, 4, 5};
    qbSampleData data;
    data.pcm = pcm;
    data.bits = 8;
    data.channels = 2;
    data.bytesPerFrame = 2;
    data.frames = 3;
    data.rate = 11025;
    data.flags = kPCMSigned;
    const std::string out = (dir_ / "out.txt").string();
    ASSERT_EQ(SaveSampleFile(out.c_str(), data, 201), 0);
    EXPECT_EQ(plugintest::ReadText(out), "6 3 2 8 11025 2 201 254");
    EXPECT_EQ(SaveSampleFile((dir_ / "fail.txt").string().c_str(), data, 201), ERR_SAVESAMPLE);
    EXPECT_EQ(SaveSampleFile(out.c_str(), data, 202), ERR_UNKNOWNSMPOUT);
    EXPECT_EQ(SaveSampleFile(out.c_str(), data, -1), ERR_UNKNOWNSMPOUT);
}

}  // namespace
