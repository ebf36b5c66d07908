// What the mixer puts out for every sound road a script reaches: samples of
// each stored format and rate played with each option that changes what is
// heard, sample edits, tracker modules exercising each effect, streamed
// music, and stops and pauses at chosen frames. Each road's output over a
// fixed number of frames, pulled from the in-memory device, is hashed and
// compared with the record in sound_answers.txt; QB_SOUND_ANSWERS=1 writes
// the record instead. The samples are rounded to 16 bits before hashing so
// the record holds across compilers and optimisation levels.
#include <cmath>
#include <cstdio>
#include <fstream>
#include <map>
#include <set>
#include <tuple>
#include <sstream>

#include "modbuilder.h"
#include "music_fixture.h"
#include "sound/samples.h"

namespace music_test {
namespace {

using soundfiles::Bytes;

// The music clock follows the frames pulled, so a pause keeps the place
// heard whatever the machine's speed.
int64_t pulledFrames = 0;
int64_t PulledMs() { return pulledFrames * 1000 / 48000; }

class SoundAnswers : public MusicTest {
protected:
    // Stereo frames pulled in one-tick chunks (modules and samples render
    // without feeders); streams settle their feeders before each chunk.
    static uint64_t Hash(size_t frames, bool settle = false) {
        uint64_t h = 1469598103934665603ull;
        for (size_t done = 0; done < frames;) {
            if (settle) Settle();
            const size_t n = std::min<size_t>(960, frames - done);
            for (float v : null_backend::PullAudio(n)) {
                const long q = std::lround(static_cast<double>(v) * 32767.0);
                for (int b = 0; b < 4; ++b) h = (h ^ ((static_cast<uint64_t>(q) >> (8 * b)) & 0xFF)) * 1099511628211ull;
            }
            done += n;
            pulledFrames += static_cast<int64_t>(n);
        }
        return h;
    }
    void Row(const std::string& road, uint64_t hash) {
        char text[24];
        std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(hash));
        rows_.emplace_back(road, text);
    }
    std::string WriteFile(const std::string& name, const Bytes& bytes) {
        const std::string path = ::testing::TempDir() + "sound_answers_" + name;
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        return path;
    }
    void Field(const char* key, double v) { SetTableFieldFloat(L_, key, v); }
    // A 16-bit mono tone at 22050 Hz as sample 1: a sine with a second
    // harmonic, so pitch, side and volume all change the hash.
    void LoadTone(int id = 1, int frames = 6000) {
        Bytes pcm;
        for (int i = 0; i < frames; ++i) {
            const double t = 2 * M_PI * 441 * i / 22050.0;
            soundfiles::LE16(pcm, static_cast<uint16_t>(static_cast<int16_t>(std::lround(12000 * std::sin(t) + 5000 * std::sin(2 * t)))));
        }
        soundfiles::Wave w;
        w.rate = 22050;
        const std::string path = WriteFile("tone.wav", soundfiles::MakeWave(w, pcm));
        ASSERT_EQ(Call("LoadSample", [&] { N(id); S(path.c_str()); }), 0);
    }
    void StopAll() {
        for (int i = 1; i <= audio_mixer::ChannelCount(); ++i) Call("StopChannel", [&] { N(i); });
        null_backend::PullAudio(16);
    }
    std::vector<std::pair<std::string, std::string>> rows_;
};

// Every stored sample layout: WAVE in each width, side count and a spread
// of rates, and the Amiga 8SVX and 16SV forms, mono and stereo.
void SampleFormats(std::vector<std::pair<std::string, Bytes>>& files) {
    const struct { const char* name; uint32_t channels, bits, rate; } waves[] = {
        {"wave-mono8-22050", 1, 8, 22050},   {"wave-mono16-8000", 1, 16, 8000},
        {"wave-stereo8-11025", 2, 8, 11025}, {"wave-stereo16-44100", 2, 16, 44100},
        {"wave-mono16-48000", 1, 16, 48000}, {"wave-stereo16-32000", 2, 16, 32000},
    };
    for (const auto& w : waves) {
        soundfiles::Wave format;
        format.channels = w.channels;
        format.bits = w.bits;
        format.rate = w.rate;
        files.emplace_back(w.name, soundfiles::MakeWave(format, soundfiles::Ramp(4000 * w.channels * w.bits / 8, w.rate)));
    }
    const struct { const char* name; bool sixteen, stereo; uint32_t rate; } iffs[] = {
        {"8svx-mono-8000", false, false, 8000}, {"8svx-stereo-16000", false, true, 16000},
        {"16sv-mono-11025", true, false, 11025}, {"16sv-stereo-22050", true, true, 22050},
    };
    for (const auto& f : iffs) {
        soundfiles::Iff format;
        format.sixteen = f.sixteen;
        format.stereo = f.stereo;
        format.rate = f.rate;
        files.emplace_back(f.name, soundfiles::MakeIff(format, soundfiles::Ramp(3000 * (f.stereo ? 2 : 1) * (f.sixteen ? 2 : 1), f.rate)));
    }
}

// One tracker row sequence on channel 0 (and a note on channel 1 so the
// second side is heard), four rows rendered.
struct ModRoad {
    const char* name;
    std::vector<modbuild::Cell> rows;
};

std::vector<ModRoad> ModRoads() {
    return {
        {"mod 0xy arpeggio", {{428, 1, 0x0, 0x37}, {0, 0, 0x0, 0x47}}},
        {"mod 1xx slide up", {{428, 1, 0x1, 0x08}, {0, 0, 0x1, 0x30}}},
        {"mod 2xx slide down", {{428, 1, 0x2, 0x08}, {0, 0, 0x2, 0x30}}},
        {"mod 3xx tone portamento", {{428, 1, 0, 0}, {214, 1, 0x3, 0x20}, {0, 0, 0x3, 0}}},
        {"mod 3xx tone portamento down", {{214, 1, 0, 0}, {428, 1, 0x3, 0x30}, {0, 0, 0x3, 0}}},
        {"mod instrument without a note", {{428, 2, 0, 0}, {0, 1, 0, 0}, {428, 1, 0, 0}, {0, 2, 0, 0}}},
        {"mod 4xy vibrato", {{428, 1, 0x4, 0x48}, {0, 0, 0x4, 0}}},
        {"mod 5xy portamento and volume slide", {{428, 1, 0, 0}, {214, 1, 0x3, 0x10}, {0, 0, 0x5, 0x02}}},
        {"mod 6xy vibrato and volume slide", {{428, 1, 0x4, 0x46}, {0, 0, 0x6, 0x20}}},
        {"mod 7xy tremolo", {{428, 1, 0x7, 0x4F}, {0, 0, 0x7, 0}}},
        {"mod 8xx panning", {{428, 1, 0x8, 0x20}}},
        {"mod 9xx sample offset", {{428, 1, 0x9, 0x02}, {428, 1, 0x9, 0}}},
        {"mod Axy volume slide", {{428, 1, 0xA, 0x04}, {0, 0, 0xA, 0x30}}},
        {"mod Bxx position jump", {{428, 1, 0, 0}, {0, 0, 0xB, 0x01}}},
        {"mod Cxx set volume", {{428, 1, 0xC, 0x10}, {0, 0, 0xC, 0x40}}},
        {"mod Dxx pattern break", {{428, 1, 0, 0}, {0, 0, 0xD, 0x00}}},
        {"mod E0x filter", {{428, 1, 0xE, 0x01}}},
        {"mod E1x fine slide up", {{428, 1, 0xE, 0x1F}, {0, 0, 0xE, 0x1F}}},
        {"mod E2x fine slide down", {{428, 1, 0xE, 0x2F}, {0, 0, 0xE, 0x2F}}},
        {"mod E3x glissando", {{428, 1, 0xE, 0x31}, {214, 1, 0x3, 0x08}, {0, 0, 0x3, 0}}},
        {"mod E4x vibrato waveform", {{428, 1, 0xE, 0x42}, {0, 0, 0x4, 0x4C}, {0, 0, 0x4, 0}}},
        {"mod E5x finetune", {{428, 1, 0xE, 0x57}, {428, 1, 0xE, 0x5A}}},
        {"mod E6x pattern loop", {{428, 1, 0xE, 0x60}, {320, 1, 0xE, 0x62}}},
        {"mod E7x tremolo waveform", {{428, 1, 0xE, 0x71}, {0, 0, 0x7, 0x6C}, {0, 0, 0x7, 0}}},
        {"mod E8x unused", {{428, 1, 0xE, 0x85}}},
        {"mod E9x retrigger", {{428, 1, 0xE, 0x92}, {0, 0, 0xE, 0x93}}},
        {"mod EAx fine volume up", {{428, 1, 0xC, 0x10}, {0, 0, 0xE, 0xA8}}},
        {"mod EBx fine volume down", {{428, 1, 0xE, 0xB8}, {0, 0, 0xE, 0xB8}}},
        {"mod ECx note cut", {{428, 1, 0xE, 0xC2}, {320, 1, 0xE, 0xC4}}},
        {"mod EDx note delay", {{428, 1, 0xE, 0xD2}, {320, 1, 0xE, 0xD5}}},
        {"mod EEx pattern delay", {{428, 1, 0xE, 0xE2}, {320, 1, 0, 0}}},
        {"mod EFx invert loop", {{428, 1, 0xE, 0xF8}, {0, 0, 0xE, 0xFF}}},
        {"mod Fxx speed", {{428, 1, 0xF, 0x03}, {320, 1, 0, 0}}},
        {"mod Fxx tempo", {{428, 1, 0xF, 0x50}, {320, 1, 0, 0}}},
        {"mod Fxx tempo and speed", {{428, 1, 0xF, 0xA0}, {320, 1, 0xF, 0x02}, {214, 1, 0, 0}}},
        {"mod notes across the period table", {{856, 1, 0, 0}, {113, 1, 0, 0}, {1712, 2, 0, 0}, {57, 2, 0, 0}}},
    };
}

Bytes BuildMod(const ModRoad& road) {
    modbuild::Module m;
    m.songLength = 2;
    m.order[1] = 1;
    m.instruments[0].data = modbuild::Square(4096, 40);
    m.instruments[0].volume = 40;
    m.instruments[0].loopLengthWords = 2048;
    m.instruments[1].data = modbuild::Square(1000, 14);
    m.instruments[1].finetune = 3;
    for (size_t r = 0; r < road.rows.size(); ++r) m.At(0, static_cast<int>(r), 0) = road.rows[r];
    m.At(0, 0, 1) = {339, 1, 0xC, 0x18};
    m.At(1, 0, 2) = {254, 2, 0, 0};
    return modbuild::Build(m);
}

TEST_F(SoundAnswers, EveryRoadSoundsAsRecorded) {
    // Sample layouts, each played plain.
    std::vector<std::pair<std::string, Bytes>> files;
    SampleFormats(files);
    for (const auto& [name, bytes] : files) {
        const std::string path = WriteFile(name, bytes);
        ASSERT_EQ(Call("LoadSample", [&] { N(2); S(path.c_str()); }), 0) << name;
        ASSERT_EQ(Call("PlaySample", [&] { N(2); }), 0) << name;
        Row("sample " + name, Hash(4800));
        StopAll();
    }

    // PlaySample's options and the sample setters, on a tone.
    LoadTone();
    const auto play = [&](const std::string& road, const std::function<void()>& options, size_t frames = 4800) {
        ASSERT_EQ(Call("PlaySample", [&] { N(1); VmPushNewTable(L_); options(); }), 0) << road;
        Row("play " + road, Hash(frames));
        StopAll();
    };
    play("plain", [] {});
    play("volume 20", [&] { Field("volume", 20); });
    play("volume 0", [&] { Field("volume", 0); });
    play("panning left", [&] { Field("panning", 0); });
    play("panning right", [&] { Field("panning", 255); });
    play("panning 60", [&] { Field("panning", 60); });
    play("panning surround", [&] { Field("panning", -100000); });
    play("pitch 11025", [&] { Field("pitch", 11025); });
    play("pitch 44100", [&] { Field("pitch", 44100); });
    play("pitch 48000", [&] { Field("pitch", 48000); });
    play("pitch 300", [&] { Field("pitch", 300); });
    play("times 3", [&] { Field("times", 3); }, 20000);
    play("time 300 ms", [&] { Field("time", 300); }, 20000);
    play("channel 7", [&] { Field("channel", 7); });
    play("volume panning pitch", [&] { Field("volume", 40); Field("panning", 200); Field("pitch", 30000); });
    for (const auto& [what, command, value] : {std::tuple{"SetPitch 16000", "SetPitch", 16000},
                                              {"SetVolume 10", "SetVolume", 10},
                                              {"SetPanning 30", "SetPanning", 30}}) {
        LoadTone();
        const int v = value;
        ASSERT_EQ(Call(command, [&] { N(1); N(v); }), 0);
        play(what, [] {});
    }
    LoadTone();
    // Settings changed while the sample plays, at frame 1920.
    const auto midway = [&](const std::string& road, const std::function<void()>& change) {
        ASSERT_EQ(Call("PlaySample", [&] { N(1); VmPushNewTable(L_); Field("channel", 3); }), 0);
        const uint64_t before = Hash(1920);
        change();
        Row("midway " + road, before ^ Hash(3840));
        StopAll();
        LoadTone();
    };
    midway("SetVolume 8", [&] { ASSERT_EQ(Call("SetVolume", [&] { N(1); N(8); }), 0); });
    midway("SetPanning 250", [&] { ASSERT_EQ(Call("SetPanning", [&] { N(1); N(250); }), 0); });
    midway("SetPitch 30000", [&] { ASSERT_EQ(Call("SetPitch", [&] { N(1); N(30000); }), 0); });
    midway("SetChannelVolume 30", [&] { ASSERT_EQ(Call("SetChannelVolume", [&] { N(3); N(30); }), 0); });
    midway("SetMasterVolume 20", [&] { ASSERT_EQ(Call("SetMasterVolume", [&] { N(20); }), 0); });
    midway("StopChannel", [&] { ASSERT_EQ(Call("StopChannel", [&] { N(3); }), 0); });
    midway("StopSample", [&] { ASSERT_EQ(Call("StopSample", [&] { N(1); }), 0); });
    ASSERT_EQ(Call("SetMasterVolume", [&] { N(64); }), 0);

    // Two samples at once, on both sides.
    LoadTone(2, 3000);
    ASSERT_EQ(Call("SetPitch", [&] { N(2); N(33075); }), 0);
    ASSERT_EQ(Call("PlaySample", [&] { N(1); VmPushNewTable(L_); Field("panning", 20);
                                       N(2); VmPushNewTable(L_); Field("panning", 230); Field("volume", 50); }), 0);
    Row("play two at once", Hash(9600));
    StopAll();

    // Sample edits, heard through a plain play of the result.
    const auto edited = [&](const std::string& road, int id) {
        ASSERT_EQ(Call("PlaySample", [&] { N(id); }), 0) << road;
        Row("edit " + road, Hash(4800));
        StopAll();
    };
    for (int format : {kFormatMono8, kFormatMono16, kFormatStereo8, kFormatStereo16}) {
        ASSERT_EQ(Call("MixSample", [&] {
                      N(3); N(5000); N(24000); N(format);
                      N(1); VmPushNewTable(L_); Field("scale", 0.7);
                      N(2); VmPushNewTable(L_); Field("scale", 0.5); Field("offset", 100); Field("pitch", 11025);
                  }), 0) << format;
        edited("MixSample format " + std::to_string(format), 3);
    }
    ASSERT_EQ(Call("MixSample", [&] { N(3); N(9000); N(22050); N(kFormatMono16); N(2); VmPushNewTable(L_);
                                      Field("loop", 1); Field("length", 700); Field("threshold", 0.3); }), 0);
    edited("MixSample loop length threshold", 3);
    ASSERT_EQ(Call("CopySample", [&] { N(1); N(4); }), 0);
    ASSERT_EQ(Call("InsertSample", [&] { N(2); N(4); N(1525); }), 0);
    edited("InsertSample", 4);
    ASSERT_EQ(Call("CreateSample", [&] {
                  N(5);
                  VmPushNewTable(L_);
                  for (int i = 0; i < 4000; ++i) {
                      VmPushNumber(L_, ((i * 37) % 200) - 100);
                      VmRawSetIndex(L_, -2, i);
                  }
                  N(16000);
                  N(kFormatStereo8);
              }), 0);
    edited("CreateSample stereo 8", 5);
    ASSERT_EQ(Call("FreeSample", [&] { N(3); }), 0);

    // Tracker modules.
    for (const ModRoad& road : ModRoads()) {
        const std::string path = WriteFile("road.mod", BuildMod(road));
        ASSERT_EQ(Call("LoadModule", [&] { N(1); S(path.c_str()); }), 0) << road.name;
        ASSERT_EQ(Call("PlayModule", [&] { N(1); }), 0) << road.name;
        Row(road.name, Hash(6 * 960 * 5));
        ASSERT_EQ(Call("StopModule", [&] { N(1); }), 0);
        ASSERT_EQ(Call("FreeModule", [&] { N(1); }), 0);
    }
    {
        const std::string path = WriteFile("road.mod", BuildMod(ModRoads()[3]));
        ASSERT_EQ(Call("LoadModule", [&] { N(1); S(path.c_str()); }), 0);
        ASSERT_EQ(Call("PlayModule", [&] { N(1); }), 0);
        uint64_t h = Hash(3000);
        ASSERT_EQ(Call("PauseModule", [&] {}), 0);
        h ^= Hash(2000) * 3;
        ASSERT_EQ(Call("ResumeModule", [&] {}), 0);
        h ^= Hash(6000) * 5;
        ASSERT_EQ(Call("PlaySubsong", [&] { N(1); }), 0);
        h ^= Hash(6000) * 7;
        Row("mod pause resume subsong", h);
        ASSERT_EQ(Call("StopModule", [&] { N(1); }), 0);
        ASSERT_EQ(Call("FreeModule", [&] { N(1); }), 0);
    }

    // Streamed music.
    {
        const std::string path = WriteWave("sound_answers_music.wav", 30000, 44100);
        SetMusicClock(&PulledMs);
        ASSERT_EQ(Open(1, path), 0);
        ASSERT_EQ(Call("PlayMusic", [&] { N(1); }), 0);
        Row("music wave 44100", Hash(9600, true));
        ASSERT_EQ(Call("SetMusicVolume", [&] { N(1); N(30); }), 0);
        Row("music SetMusicVolume 30", Hash(4800, true));
        ASSERT_EQ(Call("PauseMusic", [&] { N(1); }), 0);
        Row("music paused", Hash(4800, true));
        ASSERT_EQ(Call("ResumeMusic", [&] { N(1); }), 0);
        Row("music resumed", Hash(4800, true));
        ASSERT_EQ(Call("StopMusic", [&] { N(1); }), 0);
    }

    const std::string recordPath = std::string(QB_SOURCE_DIR) + "/tests/sound/sound_answers.txt";
    if (std::getenv("QB_SOUND_ANSWERS")) {
        std::ofstream out(recordPath);
        for (const auto& [road, hash] : rows_) out << road << ": " << hash << "\n";
        return;
    }
    std::map<std::string, std::string> recorded;
    std::ifstream in(recordPath);
    for (std::string line; std::getline(in, line);) {
        const size_t colon = line.rfind(": ");
        if (colon != std::string::npos) recorded[line.substr(0, colon)] = line.substr(colon + 2);
    }
    ASSERT_FALSE(recorded.empty()) << recordPath << " is missing; QB_SOUND_ANSWERS=1 writes it";
    std::set<std::string> seen;
    for (const auto& [road, hash] : rows_) {
        EXPECT_TRUE(seen.insert(road).second) << "two roads named " << road;
        const auto it = recorded.find(road);
        if (it == recorded.end()) {
            ADD_FAILURE() << "no recorded answer for " << road;
            continue;
        }
        EXPECT_EQ(hash, it->second) << road;
    }
    EXPECT_EQ(recorded.size(), rows_.size()) << "the record holds roads the test no longer walks";
}

}  // namespace
}  // namespace music_test
