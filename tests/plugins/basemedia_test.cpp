// The sound, requester, font and built-in data tables as the exerciser
// plugin calls them: whole sounds decoded and handed to samples, the audio
// adapter's refusals, requesters answered by the scripted answers and by a
// requester-adapter plugin, installed fonts, and the built-in faces' bytes.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

#include "basecheck_fixture.h"
#include "core/objectlist.h"
#include "core/applet.h"
#include "core/errcodes.h"
#include "core/runstate.h"
#include "display/adapter.h"
#include "display/requesters.h"
#include "platform/requesterscript.h"
#include "plugins/basetables.h"
#include "plugins/plugins.h"
#include "sound/audioadapter.h"
#include "sound/samples.h"
#include "sound/soundfile_builders.h"

namespace {

using plugintest::BaseCheckFixture;
using plugintest::PluginFixture;

void WriteBytes(const plugintest::fs::path& path, const soundfiles::Bytes& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

std::string Text(const soundfiles::Bytes& bytes) { return std::string(bytes.begin(), bytes.end()); }

TEST(BaseMediaLayout, TheRootServesTheTablesAndNullRecordsFailQuietly) {
    const qbPluginBase* base = GetPluginBase();
    EXPECT_EQ(base->soundTable, &kPluginSoundTable);
    EXPECT_EQ(base->requesterTable, &kPluginRequesterTable);
    EXPECT_EQ(base->fontTable, &kPluginFontTable);
    EXPECT_EQ(base->dataTable, &kPluginDataTable);
    auto slots = [](const void* table) { return static_cast<void* const*>(table); };
    for (int i = 0; i < 3; ++i) EXPECT_NE(slots(&kPluginSoundTable)[i], nullptr) << "table 4 slot " << i;
    for (int i = 0; i < 4; ++i) EXPECT_NE(slots(&kPluginRequesterTable)[i], nullptr) << "table 5 slot " << i;
    for (int i = 0; i < 3; ++i) EXPECT_EQ(slots(&kPluginFontTable)[i] == nullptr, i > 0) << "table 6 slot " << i;
    const qbDataTable& data = kPluginDataTable;
    EXPECT_EQ(data.fontSizes[0], 65932u);
    EXPECT_EQ(data.fontSizes[1], 49224u);
    EXPECT_EQ(data.fontSizes[2], 60280u);
    for (uintptr_t word : data.unused) EXPECT_EQ(word, 0u);

    EXPECT_EQ(kPluginSoundTable.DecodeSound(nullptr, 0), nullptr);
    EXPECT_EQ(kPluginSoundTable.SetSamplePCM(1, nullptr), ERR_WRONGUSAGE);
    EXPECT_EQ(kPluginSoundTable.SetAudioAdapter(nullptr, 0, nullptr), ERR_WRONGUSAGE);
    EXPECT_EQ(kPluginRequesterTable.FileRequest("t", "*", 0, nullptr, 16), 0);
    char one[1] = {'#'};
    EXPECT_EQ(kPluginRequesterTable.PathRequest("t", one, 0), 0);
    EXPECT_EQ(one[0], '#');
    EXPECT_EQ(kPluginRequesterTable.SetRequesterAdapter(nullptr, 2), ERR_WRONGUSAGE);
    char path[64];
    EXPECT_EQ(kPluginFontTable.FindInstalledFont(nullptr, -1, 0, 0, path, sizeof path, nullptr, nullptr), 0);
    EXPECT_EQ(kPluginFontTable.FindInstalledFont("DejaVu Sans", 75, 0, 0, nullptr, 64, nullptr, nullptr), 0);
}

class BaseSoundTest : public BaseCheckFixture {
protected:
    void TearDown() override {
        FreeAllSamples();
        ClearAudioAdapter();
        SetAdapterWindowOpen(false);
        SetMainState(nullptr);
        BaseCheckFixture::TearDown();
    }
};

TEST_F(BaseSoundTest, WholeSoundsDecodeToTheirPCM) {
    const soundfiles::Bytes pcm = soundfiles::Ramp(4 * 300);  // 300 frames of 16-bit stereo
    soundfiles::Wave w;
    w.channels = 2;
    w.rate = 32000;
    const std::string wave = (dir_ / "stereo.wav").string();
    WriteBytes(wave, soundfiles::MakeWave(w, pcm));
    const std::string expected = "1200 300 2 16 32000 2|" + Text(pcm);
    EXPECT_EQ(Call("DecodeSound", {wave}), expected);
    EXPECT_EQ(Call("DecodeSound", {wave, double(QBSOUND_DECODE_OWNBUFFER)}), expected);

    const soundfiles::Bytes body = soundfiles::Ramp(100);
    const std::string svx = (dir_ / "mono.8svx").string();
    WriteBytes(svx, soundfiles::MakeIff(soundfiles::Iff{}, body));
    EXPECT_EQ(Call("DecodeSound", {svx}), "100 100 1 8 8000 2|" + Text(body));

    EXPECT_EQ(Call("DecodeSound", {(dir_ / "none.wav").string()}), "0");
    WriteBytes(dir_ / "junk.wav", soundfiles::Ramp(64));
    EXPECT_EQ(Call("DecodeSound", {(dir_ / "junk.wav").string()}), "0");
}

TEST_F(BaseSoundTest, PCMHandedToASampleReplacesItsData) {
    std::unique_ptr<uint8_t[]> old(new uint8_t[8]());
    qbSampleObject* sample = nullptr;
    ASSERT_EQ(LinkNewSample(std::move(old), 8, 1, 0, 8, 8000, &sample), 0);
    ASSERT_EQ(RenumberObject(sample, ObjectID{1, nullptr}), 0);
    const soundfiles::Bytes pcm = soundfiles::Ramp(4 * 50);
    soundfiles::Wave w;
    w.channels = 2;
    w.rate = 11025;
    const std::string wave = (dir_ / "stereo.wav").string();
    WriteBytes(wave, soundfiles::MakeWave(w, pcm));

    EXPECT_EQ(Call("HandSound", {1.0, wave}), "0");
    EXPECT_EQ(sample->sample.frames, 50u);
    EXPECT_EQ(sample->sample.channels, 2);
    EXPECT_EQ(sample->sample.bits, 16);
    EXPECT_EQ(sample->pitch, 11025);
    EXPECT_EQ(sample->bytes, 200);
    EXPECT_EQ(std::memcmp(sample->sample.pcm, pcm.data(), pcm.size()), 0);
    // The own-buffer form is freed the same way; a missing sample still
    // frees the request (the sanitizer build sees any leak).
    EXPECT_EQ(Call("HandSound", {1.0, wave, double(QBSOUND_DECODE_OWNBUFFER)}), "0");
    EXPECT_EQ(Call("HandSound", {2.0, wave}), std::to_string(ERR_FINDSAMPLE));
    EXPECT_EQ(Call("HandSound", {2.0, wave, double(QBSOUND_DECODE_OWNBUFFER)}), std::to_string(ERR_FINDSAMPLE));
}

TEST_F(BaseSoundTest, TheAudioAdapterNeedsItsCapabilityAndANewApplet) {
    SetAdapterWindowOpen(true);
    EXPECT_EQ(Call("InstallAudio", {0.0}), std::to_string(ERR_WRONGUSAGE));
    qbApplet applet;
    applet.appletFlag = 1;
    applet.versionMajor = 5;
    applet.versionMinor = 9;
    VmRegistrySetLightUserdata(L_, "applet", &applet);
    SetMainState(L_);
    EXPECT_EQ(Call("InstallAudio", {0.0}), std::to_string(ERR_OLDAPPLET));
    EXPECT_FALSE(HasAudioAdapter());
    VmRegistrySetLightUserdata(L_, "applet", nullptr);
}

class BaseRequesterTest : public BaseCheckFixture {
protected:
    void Answers(const std::string& lines) {
        const plugintest::fs::path file = dir_ / "answers.txt";
        std::ofstream(file) << lines;
        ::setenv(kRequesterAnswersVariable, file.c_str(), 1);
        ResetRequesterScript();
    }
    void TearDown() override {
        ::unsetenv(kRequesterAnswersVariable);
        ResetRequesterScript();
        BaseCheckFixture::TearDown();
    }
};

TEST_F(BaseRequesterTest, AnswersFitTheCallersBufferOrLeaveItAlone) {
    Answers("1\n/a/folder/with/a/long/name.txt\n/short/x\n/some/folder\ncancel\n");
    EXPECT_EQ(Call("AskSystem", {std::string("Title"), std::string("Body"), std::string("Yes|No")}), "1");
    EXPECT_EQ(Call("AskPath", {0.0, 16.0}), "0:" + std::string(16, '#')) << "longer than the buffer";
    EXPECT_EQ(Call("AskPath", {0.0, 12.0}), "1:/short/x" + std::string(1, '\0') + "###");
    EXPECT_EQ(Call("AskPath", {1.0, 13.0}), "1:/some/folder" + std::string(1, '\0'));
    EXPECT_EQ(Call("AskPath", {1.0, 8.0}), "0:" + std::string(8, '#')) << "cancelled";
    EXPECT_EQ(Call("AskSystem", {std::string("T"), std::string("B"), std::string("OK")}), "-1") << "no answer left";
}

class RequesterAdapterTest : public PluginFixture {
protected:
    void TearDown() override {
        SetAdapterWindowOpen(false);
        ClearDisplayAdapters();
        PluginFixture::TearDown();
    }
};

TEST_F(RequesterAdapterTest, APluginInstalledThroughTheTableAnswersTheSystemRequester) {
    Place("requester", "asker.qbp", "scan");
    ASSERT_EQ(ScanPluginFolder((dir_ / "scan").string(), nullptr, nullptr), 0);
    int hide = 0;
    SetAdapterWindowOpen(true);
    ASSERT_EQ(RequirePluginWithTags(nullptr, "asker", 0, 0, {}, &hide), 0);
    SetAdapterWindowOpen(false);
    EXPECT_NE(Log().find("asker: SetRequesterAdapter 0"), std::string::npos) << Log();
    int result = -1;
    EXPECT_EQ(ShowSystemRequester(nullptr, nullptr, "Title", "Body", "One|Two|Three", 0, 0, &result), 0);
    EXPECT_EQ(result, 3);
    EXPECT_NE(Log().find("asker: SystemRequest(Title, Body, 48, One|Two|Three) handle=0"), std::string::npos) << Log();
}

using BaseFontTest = BaseCheckFixture;

TEST_F(BaseFontTest, InstalledFontsByFamilyOrFullNameAndTheBuiltInFaces) {
    const std::string dejavu = "/usr/share/fonts/truetype/dejavu/";
    EXPECT_EQ(Call("FindFont", {std::string("DejaVu Sans"), 75.0}), dejavu + "DejaVuSans.ttf 0 0");
    EXPECT_EQ(Call("FindFont", {std::string("dejavu sans"), 200.0}), dejavu + "DejaVuSans-Bold.ttf 0 0");
    EXPECT_EQ(Call("FindFont", {std::string("DejaVu Sans"), 200.0, 110.0}), dejavu + "DejaVuSans-BoldOblique.ttf 0 0");
    const std::string vera = "/usr/share/fonts/truetype/ttf-bitstream-vera/";
    EXPECT_EQ(Call("FindFont", {std::string("Bitstream Vera Sans"), -1.0}), vera + "Vera.ttf 0 0");
    EXPECT_EQ(Call("FindFont", {std::string("No Such Font"), -1.0}), "0");

    const char* files[] = {"Vera.ttf", "VeraMono.ttf", "VeraSe.ttf"};
    for (int i = 0; i < 3; ++i) {
        const std::string bytes = plugintest::ReadText(vera + files[i]);
        EXPECT_EQ(Call("BuiltinFontData", {double(i)}), bytes) << files[i];
        EXPECT_EQ(Call("BuiltinFont", {double(i)}), std::to_string(bytes.size()) + " 00010000") << files[i];
    }
}

}  // namespace
