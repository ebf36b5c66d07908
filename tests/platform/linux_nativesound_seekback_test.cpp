// Positioning back in a file whose times are wrong: a seek that decodes to
// the end without reaching the frame asked for starts again from the start,
// so the frames are still those of the full decode.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "core/errcodes.h"
#include "imaging/imagefixtures.h"
#include "platform/platform.h"

using namespace imagefixtures;

namespace {

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

class NativeSoundSeekBack : public ::testing::Test {
protected:
    void SetUp() override {
        if (!HaveTool("ffmpeg")) GTEST_SKIP() << "ffmpeg missing";
        SetPlatformBackend(&LinuxPlatformOps());
    }
    void TearDown() override { SetPlatformBackend(nullptr); }
};

TEST_F(NativeSoundSeekBack, ASeekThatEndsShortOfTheFrameStartsAgainFromTheStart) {
    ScratchDir dir;
    const std::string path = dir.File("late.ogg");
    ASSERT_EQ(RunQuietly("ffmpeg -v error -y -f lavfi -i 'aevalsrc=0.6*sin(2*PI*440*t)|0.4*sin(2*PI*523*t):s=44100:d=4' "
                         "-c:a libvorbis " + path),
              0);
    std::vector<uint8_t> bytes = ReadBytes(path);
    LowerLaterGranules(bytes, 44100, 60000);
    WriteBytes(path, bytes);
    ASSERT_EQ(RunQuietly("ffmpeg -v error -y -i " + path + " -f s16le " + path + ".raw"), 0);
    const std::vector<uint8_t> raw = ReadBytes(path + ".raw");
    std::vector<int16_t> want(raw.size() / 2);
    std::memcpy(want.data(), raw.data(), want.size() * 2);
    const int64_t total = static_cast<int64_t>(want.size()) / 2;

    qbNativeAudioFile* f = nullptr;
    ASSERT_EQ(OpenNativeAudioFile(path.c_str(), 0, &f), 0);
    const std::unique_ptr<qbNativeAudioFile, void (*)(qbNativeAudioFile*)> closer(f, CloseNativeAudioFile);
    qbAudioPacketInfo length;
    ASSERT_EQ(ReadNativeAudioPackets(f, nullptr, 0, &length), 0);
    ASSERT_EQ(length.packets, total);
    // Frames the lowered times reach a decode from the seek never gets to.
    for (int64_t at : {total - 2000, total - 30000}) {
        ASSERT_EQ(LimitPacketPosition(f, total - 1), total - 1);
        ASSERT_EQ(LimitPacketPosition(f, at), at);
        std::vector<int16_t> chunk(1000 * 2);
        qbAudioPacketInfo info;
        ASSERT_EQ(ReadNativeAudioPackets(f, chunk.data(), chunk.size() * 2, &info), 0);
        ASSERT_EQ(info.packets, 1000);
        for (size_t i = 0; i < chunk.size(); ++i) ASSERT_EQ(chunk[i], want[at * 2 + i]) << "frame " << at << " sample " << i;
    }
}

}  // namespace
