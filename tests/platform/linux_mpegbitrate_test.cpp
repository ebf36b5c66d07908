// The MPEG bitrate analysis on files built byte by byte: tags skipped (with
// footer, and longer than the first read), the header tables, the reserved
// values that stop it, and the average of variable files.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "platform/linux/mpegbitrate.h"

using namespace linux_sound;

namespace {

size_t ReadVector(void* source, int64_t offset, void* buffer, size_t count) {
    const auto& bytes = *static_cast<const std::vector<uint8_t>*>(source);
    if (offset < 0 || static_cast<size_t>(offset) >= bytes.size()) return 0;
    const size_t n = std::min(count, bytes.size() - static_cast<size_t>(offset));
    std::memcpy(buffer, bytes.data() + offset, n);
    return n;
}

// A file of size bytes: an ID3v2 tag of tagBody bytes (flags given), then a
// frame header.
std::vector<uint8_t> File(size_t size, int64_t tagBody, uint8_t flags, uint8_t b1, uint8_t b2) {
    std::vector<uint8_t> f(size, 0x55);
    size_t at = 0;
    if (tagBody >= 0) {
        const uint8_t tag[10] = {'I', 'D', '3', 4, 0, flags, static_cast<uint8_t>(tagBody >> 21 & 127),
                                 static_cast<uint8_t>(tagBody >> 14 & 127), static_cast<uint8_t>(tagBody >> 7 & 127),
                                 static_cast<uint8_t>(tagBody & 127)};
        std::memcpy(f.data(), tag, 10);
        at = static_cast<size_t>(tagBody) + 10 + ((flags & 0x10) ? 10 : 0);
    }
    f[at] = 0xFF;
    f[at + 1] = b1;
    f[at + 2] = b2;
    f[at + 3] = 0;
    return f;
}

MPEGBitrate Analyse(std::vector<uint8_t> f) { return AnalyseMPEGBitrate(&ReadVector, &f); }

TEST(MPEGBitrateTest, TagsAreSkippedToTheFirstFrame) {
    const MPEGBitrate plain = Analyse(File(5000, -1, 0, 0xFB, 0x90));
    EXPECT_EQ(plain.kbps, 128u);
    EXPECT_EQ(plain.tagSize, 0);
    EXPECT_FALSE(plain.variable);
    const MPEGBitrate tagged = Analyse(File(5000, 2038, 0, 0xFB, 0x90));
    EXPECT_EQ(tagged.kbps, 128u);
    EXPECT_EQ(tagged.tagSize, 2048);
    const MPEGBitrate footer = Analyse(File(5000, 2038, 0x10, 0xFB, 0xE0));
    EXPECT_EQ(footer.tagSize, 2058);
    EXPECT_EQ(footer.kbps, 320u);
    // A tag longer than the first read: read again behind it.
    const MPEGBitrate longTag = Analyse(File(30000, 19990, 0, 0xFB, 0x50));
    EXPECT_EQ(longTag.tagSize, 20000);
    EXPECT_EQ(longTag.kbps, 64u);
}

TEST(MPEGBitrateTest, HeaderTablesAndWhatStopsTheAnalysis) {
    EXPECT_EQ(Analyse(File(2000, -1, 0, 0xFF, 0x90)).kbps, 288u);  // MPEG-1 Layer I
    EXPECT_EQ(Analyse(File(2000, -1, 0, 0xFD, 0x90)).kbps, 160u);  // MPEG-1 Layer II
    EXPECT_EQ(Analyse(File(2000, -1, 0, 0xF3, 0x80)).kbps, 64u);   // MPEG-2 Layer III
    EXPECT_EQ(Analyse(File(2000, -1, 0, 0xF5, 0x80)).kbps, 64u);   // MPEG-2 Layer II
    EXPECT_EQ(Analyse(File(2000, -1, 0, 0xE3, 0x80)).kbps, 64u);   // MPEG-2.5 Layer III
    EXPECT_EQ(Analyse(File(2000, -1, 0, 0xF7, 0x80)).kbps, 128u);  // MPEG-2 Layer I
    EXPECT_EQ(Analyse(File(2000, -1, 0, 0xEB, 0x90)).kbps, 0u);    // reserved version
    EXPECT_EQ(Analyse(File(2000, -1, 0, 0xF9, 0x90)).kbps, 0u);    // reserved layer
    EXPECT_EQ(Analyse(File(1024, -1, 0, 0xFB, 0x90)).kbps, 0u);    // too short
    EXPECT_EQ(Analyse(File(1025, -1, 0, 0xFB, 0x90)).kbps, 128u);
    EXPECT_EQ(Analyse(File(2000, -1, 0, 0x7B, 0x90)).kbps, 0u);  // no sync
}

TEST(MPEGBitrateTest, XingOrVBRIGivesTheAverage) {
    for (const char* marker : {"Xing", "VBRI"}) {
        std::vector<uint8_t> f = File(5000, 2038, 0, 0xFB, 0x90);
        std::memcpy(f.data() + 2048 + 36, marker, 4);
        const MPEGBitrate b = Analyse(f);
        EXPECT_TRUE(b.variable) << marker;
        // 160000 bytes behind the tag over 10 seconds.
        EXPECT_EQ(AverageBitrate(b, 162048, 441000, 44100), 125u);
        // No frames or no rate: the first frame's bitrate stays.
        EXPECT_EQ(AverageBitrate(b, 162048, 0, 44100), 128u);
        EXPECT_EQ(AverageBitrate(b, 162048, 441000, 0), 128u);
    }
    // A marker in the last 32 bytes read does not count.
    std::vector<uint8_t> late = File(2000, -1, 0, 0xFB, 0x90);
    std::memcpy(late.data() + 1990, "Xing", 4);
    EXPECT_FALSE(Analyse(late).variable);
    EXPECT_EQ(AverageBitrate(Analyse(late), 162048, 441000, 44100), 128u);
}

}  // namespace
