// The sound reader fuzz target's seeds, from the builders: written to the
// folder in QB_WRITE_SOUND_CORPUS when it is set; each is checked to open.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>

#include "core/file.h"
#include "core/memfile.h"
#include "platform/platform.h"
#include "sound/stream.h"
#include "soundfile_builders.h"

namespace {

using namespace soundfiles;

TEST(SoundFuzzSeeds, EverySeedOpensFromMemory) {
    SetPlatformBackend(nullptr);
    std::vector<std::pair<std::string, Bytes>> seeds;
    Wave w;
    seeds.emplace_back("wave16_mono.wav", MakeWave(w, Ramp(200)));
    w.bits = 8;
    w.channels = 2;
    w.fmtSize = 18;
    seeds.emplace_back("wave8_stereo.wav", MakeWave(w, Ramp(200)));
    // A recording whose header was never finished: its data size still 0.
    w.dataSize = 0;
    seeds.emplace_back("wave_unfinished.wav", MakeWave(w, Ramp(200)));
    Iff f;
    seeds.emplace_back("mono.8svx", MakeIff(f, Ramp(100)));
    f.stereo = true;
    f.annoChunk = true;
    seeds.emplace_back("stereo.8svx", MakeIff(f, Ramp(100)));
    f.sixteen = true;
    seeds.emplace_back("stereo.16sv", MakeIff(f, Ramp(200)));
    const char* folder = std::getenv("QB_WRITE_SOUND_CORPUS");
    for (auto& [name, bytes] : seeds) {
        ASSERT_EQ(RegisterMemoryBuffer(bytes.data(), bytes.size()), 0);
        qbSamplePtr s;
        EXPECT_EQ(OpenSoundStream(MakeMemoryName(bytes.data(), bytes.size()).c_str(), "inbuilt", nullptr, &s), 0)
            << name;
        s.reset();
        UnregisterMemoryBuffer(bytes.data());
        if (folder) std::ofstream(std::string(folder) + "/" + name, std::ios::binary)
                        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    }
}

}  // namespace
