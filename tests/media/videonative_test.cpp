// Videos of the native driver: the platform's movie decoder takes what no
// source reads when the loader tag allows "native"; parts of the applet and
// buffers in memory reach it as temporary copies that go with the video;
// its pictures are grabbed by frame (from 1) and by time.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <tuple>

#include "core/chunkname.h"
#include "core/errcodes.h"
#include "core/errors.h"
#include "core/fileops.h"
#include "core/memfile.h"
#include "fixtures/ffmpeg_fixtures.h"
#include "media/videoplayback.h"
#include "media/videostream.h"
#include "platform/platform.h"

using namespace ffmpegfixtures;
namespace fs = std::filesystem;

namespace {

class VideoNativeTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!HaveTool("ffmpeg")) GTEST_SKIP() << "ffmpeg missing";
        SetPlatformBackend(&LinuxPlatformOps());
        savedTemp_ = GetTempDir();
        fs::create_directories(dir_.File("tmp"));
        SetTempDir(dir_.File("tmp").c_str());
    }
    void TearDown() override {
        SetTempDir(savedTemp_.c_str());
        SetPlatformBackend(nullptr);
    }
    std::string Path(Clip c) {
        const std::string path = Make(dir_.File(""), c);
        EXPECT_FALSE(path.empty());
        return path;
    }
    size_t TempFiles() const {
        size_t n = 0;
        for ([[maybe_unused]] const auto& e : fs::directory_iterator(dir_.File("tmp"))) ++n;
        return n;
    }

    imagefixtures::ScratchDir dir_;
    std::string savedTemp_;
};

TEST_F(VideoNativeTest, WhatNoSourceReadsOpensAsAMovie) {
    const std::string clip = Path(Clip::MP4);
    for (const char* tag : {"", "default", "native", "inbuilt|native"}) {
        qbVideoStreamOpened opened;
        ASSERT_EQ(OpenVideoStream(clip.c_str(), tag, nullptr, &opened), 0) << tag;
        EXPECT_EQ(opened.driverKind, kVideoDriverNative);
        EXPECT_EQ(opened.width, 64);
        EXPECT_EQ(opened.height, 48);
        EXPECT_NEAR(opened.duration, 2000, 40);
        EXPECT_EQ(opened.seekable, 1);
        EXPECT_TRUE(opened.tempName.empty());
        ASSERT_TRUE(opened.handle);
        EXPECT_EQ(opened.handle->kind, kVideoDriverNative);
        EXPECT_EQ(opened.handle->nativePath, clip);
        EXPECT_TRUE(opened.handle->movie);
        EXPECT_FALSE(opened.handle->own);
        CloseVideoStream(std::move(opened.handle));
    }
    EXPECT_EQ(IsVideoFile(clip.c_str(), "", nullptr), 1);
    EXPECT_EQ(IsVideoFile(clip.c_str(), "inbuilt", nullptr), 0);
    const std::string sound = Path(Clip::AudioOnly);
    for (auto [path, tag] : {std::pair{clip, "inbuilt"}, std::pair{sound, ""}, std::pair{clip, "someplugin"}}) {
        qbVideoStreamOpened opened;
        SetErrorDetail("");
        EXPECT_EQ(OpenVideoStream(path.c_str(), tag, nullptr, &opened), ERR_LOADVIDEO) << path << " " << tag;
        EXPECT_EQ(std::string(GetErrorDetail()), path);
        EXPECT_FALSE(opened.handle);
    }
    EXPECT_EQ(IsVideoFile(sound.c_str(), "", nullptr), 0);
}

TEST_F(VideoNativeTest, AppletPartsAndMemoryPlayFromACopyThatGoesWithTheVideo) {
    const std::vector<uint8_t> movie = ReadBytes(Path(Clip::MP4));
    std::vector<uint8_t> container(1000 + movie.size() + 500, 0xAA);
    std::copy(movie.begin(), movie.end(), container.begin() + 1000);
    const std::string applet = dir_.File("app.qba");
    WriteBytes(applet, container);
    const std::string chunk = MakeChunkName("clip.mp4", 1000, movie.size(), 0, applet.c_str());
    ASSERT_EQ(RegisterMemoryBuffer(movie.data(), movie.size()), 0);
    const std::string memory = MakeMemoryName(movie.data(), movie.size());
    for (const std::string& name : {chunk, memory}) {
        qbVideoStreamOpened opened;
        ASSERT_EQ(OpenVideoStream(name.c_str(), "", nullptr, &opened), 0) << name;
        EXPECT_EQ(opened.driverKind, kVideoDriverNative);
        EXPECT_EQ(opened.width, 64);
        ASSERT_FALSE(opened.tempName.empty());
        EXPECT_EQ(opened.handle->nativePath, opened.tempName);
        EXPECT_EQ(fs::path(opened.tempName).parent_path(), fs::path(dir_.File("tmp")));
        if (name == chunk) {
            EXPECT_EQ(fs::path(opened.tempName).extension(), ".mp4");
        }
        EXPECT_EQ(ReadBytes(opened.tempName), movie);
        // The picture comes from the copy.
        ASSERT_EQ(GrabNativeVideoFrame(opened.handle.get(), 1, kVideoGrabFrame), 0);
        CloseVideoStream(std::move(opened.handle));
        EXPECT_FALSE(fs::exists(opened.tempName));
        EXPECT_EQ(TempFiles(), 0u);
        EXPECT_EQ(IsVideoFile(name.c_str(), "native", nullptr), 1);
        EXPECT_EQ(TempFiles(), 0u);
    }
    UnregisterMemoryBuffer(movie.data());
    // A part of an applet that is gone cannot be copied.
    const std::string lost = MakeChunkName("clip.mp4", 1000, movie.size(), 0, dir_.File("gone.qba").c_str());
    qbVideoStreamOpened opened;
    SetErrorDetail("");
    EXPECT_EQ(OpenVideoStream(lost.c_str(), "", nullptr, &opened), ERR_READFILE);
    EXPECT_EQ(std::string(GetErrorDetail()), lost);
    // A copy that holds no movie goes at once.
    const std::string junk = MakeChunkName("junk.mp4", 0, 900, 0, applet.c_str());
    EXPECT_EQ(OpenVideoStream(junk.c_str(), "", nullptr, &opened), ERR_LOADVIDEO);
    EXPECT_EQ(std::string(GetErrorDetail()), junk);
    EXPECT_EQ(TempFiles(), 0u);
}

TEST_F(VideoNativeTest, GrabsWalkTheMoviesPictures) {
    const std::string clip = Path(Clip::MP4);
    const auto reference = DecodeFrames(clip, 64, 48);
    ASSERT_EQ(reference.size(), 50u);
    qbVideoStreamOpened opened;
    ASSERT_EQ(OpenVideoStream(clip.c_str(), "native", nullptr, &opened), 0);
    qbVideoStream* s = opened.handle.get();
    EXPECT_EQ(GrabNativeVideoFrame(s, 0, kVideoGrabFrame), ERR_VIDEOFRAME);
    EXPECT_EQ(GrabNativeVideoFrame(s, 51, kVideoGrabFrame), ERR_VIDEOFRAME);
    for (auto [position, mode, picture] : {std::tuple{6u, kVideoGrabFrame, 5}, std::tuple{4u, kVideoGrabFrame, 3},
                                           std::tuple{1500u, kVideoGrabTime, 37}, std::tuple{50u, kVideoGrabFrame, 49},
                                           std::tuple{0u, kVideoGrabTime, 0}}) {
        ASSERT_EQ(GrabNativeVideoFrame(s, position, mode), 0) << position;
        ASSERT_EQ(s->grab.size(), 64u * 48u);
        EXPECT_LE(LargestDifference(s->grab.data(), reference[picture]), 2) << position << " mode " << mode;
    }
    CloseVideoStream(std::move(opened.handle));
}

}  // namespace
