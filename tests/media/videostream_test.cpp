// Opening video streams: the CDXL reader as the inbuilt source, the loader
// tag's choice, the error with the name when nothing takes a file, and the
// frame buffer's size limit.
#include <gtest/gtest.h>

#include "cdxlbuilder.h"
#include "core/errcodes.h"
#include "core/errors.h"
#include "imaging/imagefixtures.h"
#include "media/videostream.h"

namespace {

std::string WriteClip(const imagefixtures::ScratchDir& dir, uint16_t sound) {
    cdxlbuilder::Layout s;
    s.width = 40;
    s.height = 30;
    s.palette = cdxlbuilder::Palette(16, 2);
    s.soundSize = sound;
    s.frames = 30;
    const std::string path = dir.File("clip.cdxl");
    imagefixtures::WriteBytes(path, cdxlbuilder::Build(s));
    return path;
}

TEST(VideoStreamTest, OpensCDXLInbuilt) {
    imagefixtures::ScratchDir dir;
    const std::string path = WriteClip(dir, 200);
    for (const char* tag : {"", "default", "inbuilt", "native|inbuilt"}) {
        qbVideoStreamOpened opened;
        ASSERT_EQ(OpenVideoStream(path.c_str(), tag, nullptr, &opened), 0) << tag;
        ASSERT_TRUE(opened.handle);
        EXPECT_EQ(opened.width, 40);
        EXPECT_EQ(opened.height, 30);
        EXPECT_EQ(opened.seekable, 1);
        EXPECT_EQ(opened.driverKind, kVideoDriverOwn);
        const qbOwnVideoStream& s = *opened.handle->own;
        EXPECT_EQ(s.source->kind, kVideoSourceCDXL);
        EXPECT_EQ(s.audioChannels, 1);
        EXPECT_GT(s.audioRate, 0);
        EXPECT_EQ(s.info.fileSize, kVideoFileSizeUnknown);  // CDXL seeks by time
        EXPECT_EQ(s.rgbFrame.size(), VideoFrameBufferBytes(40, 30));
        CloseVideoStream(std::move(opened.handle));
    }
    EXPECT_EQ(IsVideoFile(path.c_str(), "inbuilt", nullptr), 1);
    EXPECT_EQ(IsVideoFile(path.c_str(), "native", nullptr), 0);
}

TEST(VideoStreamTest, NothingTakesTheFile) {
    imagefixtures::ScratchDir dir;
    const std::string junk = dir.File("junk.cdxl");
    imagefixtures::WriteBytes(junk, std::vector<uint8_t>(500, 7));
    const std::string clip = WriteClip(dir, 0);
    for (auto [path, tag] : {std::pair{junk, "inbuilt"}, std::pair{clip, "native"}, std::pair{clip, "someplugin"}}) {
        qbVideoStreamOpened opened;
        SetErrorDetail("");
        EXPECT_EQ(OpenVideoStream(path.c_str(), tag, nullptr, &opened), ERR_LOADVIDEO) << tag;
        EXPECT_EQ(std::string(GetErrorDetail()), path);
        EXPECT_FALSE(opened.handle);
    }
    EXPECT_EQ(IsVideoFile(junk.c_str(), "", nullptr), 0);
}

TEST(VideoStreamTest, FrameBufferSizeIsCapped) {
    EXPECT_EQ(VideoFrameBufferBytes(100, 10), uint64_t{(100 * 4 + 256) * 10});
    EXPECT_EQ(VideoFrameBufferBytes(0, 10), 0u);
    EXPECT_EQ(VideoFrameBufferBytes(65535, 65535), 0u);  // would wrap 32 bits and is over the cap
    EXPECT_EQ(VideoFrameBufferBytes(INT32_MAX, 2), 0u);
}

}  // namespace
