// A movie whose pictures after the first are all damaged key pictures: the
// decoder is given up on after its failed opens, and the walk to a later
// picture still ends at the end of the input.
#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "core/errcodes.h"
#include "media/ffclips.h"
#include "platform/linux/avdecoder.h"
#include "platform/platform.h"

namespace {

// MJPEG in AVI (every picture a key picture) with the payload of every
// picture but the first zeroed: the decoder finds no image in them.
std::string ZeroedMJPEG(int pictures) {
    const std::string name = "mjpeg_zeroed_" + std::to_string(pictures) + ".avi";
    const std::string clip = ffclips::Clips().Get(
        name, "-f lavfi -i testsrc=size=16x16:rate=25:duration=" + std::to_string(pictures / 25.0) + " -c:v mjpeg");
    if (clip.empty()) return "";
    std::vector<char> bytes;
    {
        std::ifstream in(clip, std::ios::binary);
        bytes.assign(std::istreambuf_iterator<char>(in), {});
    }
    const std::string file(bytes.begin(), bytes.end());
    size_t at = file.find("movi");
    if (at == std::string::npos) return "";
    at += 4;
    int seen = 0;
    while (at + 8 <= bytes.size() && file.compare(at, 4, "idx1") != 0) {
        const auto byte = [&](size_t i) { return static_cast<uint32_t>(static_cast<uint8_t>(bytes[at + 4 + i])); };
        const size_t size = byte(0) | byte(1) << 8 | byte(2) << 16 | byte(3) << 24;
        if (at + 8 + size > bytes.size()) return "";
        if (file.compare(at, 4, "00dc") == 0 && seen++ > 0)
            std::fill(bytes.begin() + static_cast<long>(at + 8), bytes.begin() + static_cast<long>(at + 8 + size), 0);
        at += 8 + size + (size & 1);
    }
    if (seen != pictures) return "";
    std::ofstream(clip, std::ios::binary | std::ios::trunc).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return clip;
}

TEST(LinuxMovieGiveUpTest, AWalkPastAGivenUpDecoderEndsAtTheEnd) {
    SetPlatformBackend(&LinuxPlatformOps());
    // More damaged pictures than a decoder may fail to open on.
    const std::string clip = ZeroedMJPEG(av_common::kMaxFailedOpens + 16);
    ASSERT_FALSE(clip.empty());
    qbMovieInfo info;
    ASSERT_EQ(OpenQuickTimeMovie(clip.c_str(), &info), 0);
    qbMovieFrame picture;
    EXPECT_EQ(DecodeQuickTimeFrame(info.movie, 0, 0, &picture), 0);
    EXPECT_EQ(DecodeQuickTimeFrame(info.movie, 3, 0, &picture), ERR_VIDEOFRAME);
    EXPECT_EQ(DecodeQuickTimeFrame(info.movie, 0, 0, &picture), 0);
    CloseQuickTimeMovie(info.movie);
    SetPlatformBackend(nullptr);
}

}  // namespace
