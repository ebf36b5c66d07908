// The Linux backend's movies against clips made by the ffmpeg tool: sizes,
// lengths and frame counts as ffprobe tells them, every picture as
// ffmpeg's own decode gives it, the frame walk (again, back, past the end),
// pictures found by time, the BT.709 colours of an HD clip, and files that
// hold no movie or pictures over the pixel cap.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>

#include "core/errcodes.h"
#include "core/errors.h"
#include "core/pixelbuffer.h"
#include "fixtures/ffmpeg_fixtures.h"
#include "media/ffclips.h"
#include "platform/linux/avdecoder.h"
#include "platform/platform.h"

using namespace ffmpegfixtures;

namespace {

struct Movie {
    qbMovieInfo info;
    int err = 0;
    explicit Movie(const std::string& path) { err = OpenQuickTimeMovie(path.c_str(), &info); }
    ~Movie() {
        if (info.movie) CloseQuickTimeMovie(info.movie);
    }
    qbNativeMovie* get() const { return info.movie; }
};

class LinuxMovieTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { dir_ = new imagefixtures::ScratchDir; }
    static void TearDownTestSuite() {
        delete dir_;
        dir_ = nullptr;
    }
    void SetUp() override {
        if (!HaveTool("ffmpeg")) GTEST_SKIP() << "ffmpeg missing";
        SetPlatformBackend(&LinuxPlatformOps());
    }
    void TearDown() override { SetPlatformBackend(nullptr); }

    static std::string Path(Clip c) {
        const std::string path = Make(dir_->File(""), c);
        EXPECT_FALSE(path.empty()) << Facts(c).file;
        return path;
    }
    static std::vector<std::vector<uint32_t>> Reference(Clip c) {
        const ClipFacts facts = Facts(c);
        return DecodeFrames(Path(c), facts.width, facts.height);
    }
    static std::string Dir() { return dir_->File(""); }

    static imagefixtures::ScratchDir* dir_;
};

imagefixtures::ScratchDir* LinuxMovieTest::dir_ = nullptr;

const Clip kPlayable[] = {Clip::MP4,    Clip::MKV,     Clip::AVI,     Clip::HD709,
                            Clip::TenBit, Clip::OddSize, Clip::Surround};

TEST_F(LinuxMovieTest, OpensWithTheFactsFFprobeGives) {
    for (Clip c : kPlayable) {
        const ClipFacts facts = Facts(c);
        const std::string path = Path(c);
        Movie m(path);
        ASSERT_EQ(m.err, 0) << facts.file;
        EXPECT_EQ(m.info.width, facts.width) << facts.file;
        EXPECT_EQ(m.info.height, facts.height) << facts.file;
        EXPECT_EQ(m.info.seekable, 1) << facts.file;
        EXPECT_EQ(MovieFrameCount(m.get()), facts.frames) << facts.file;
        const double probed = std::atof(Probe(path, "format=duration").c_str()) * 1000.0;
        EXPECT_LE(std::abs(static_cast<double>(m.info.duration) - probed), 1000.0 / facts.rate) << facts.file;
        EXPECT_EQ(std::string(MovieFormatName(m.get())), Probe(path, "format=format_long_name")) << facts.file;
    }
}

TEST_F(LinuxMovieTest, EveryPictureIsFFmpegsOwnDecode) {
    for (Clip c : {Clip::MP4, Clip::MKV, Clip::AVI, Clip::TenBit, Clip::OddSize, Clip::Surround}) {
        const ClipFacts facts = Facts(c);
        const auto reference = Reference(c);
        ASSERT_EQ(static_cast<int>(reference.size()), facts.frames) << facts.file;
        Movie m(Path(c));
        ASSERT_EQ(m.err, 0) << facts.file;
        for (int f = 0; f < facts.frames; ++f) {
            qbMovieFrame frame;
            ASSERT_EQ(DecodeQuickTimeFrame(m.get(), f, 0, &frame), 0) << facts.file << " frame " << f;
            ASSERT_EQ(frame.width, facts.width);
            ASSERT_EQ(frame.height, facts.height);
            ASSERT_EQ(frame.modulo, facts.width);
            ASSERT_LE(LargestDifference(frame.pixels, reference[f]), 2) << facts.file << " frame " << f;
        }
        qbMovieFrame past;
        EXPECT_EQ(DecodeQuickTimeFrame(m.get(), facts.frames, 0, &past), ERR_VIDEOFRAME) << facts.file;
    }
}

TEST_F(LinuxMovieTest, TheWalkStaysGoesBackAndEnds) {
    const auto reference = Reference(Clip::MP4);
    ASSERT_EQ(reference.size(), 50u);
    Movie m(Path(Clip::MP4));
    ASSERT_EQ(m.err, 0);
    qbMovieFrame frame;
    EXPECT_EQ(DecodeQuickTimeFrame(m.get(), 60, 0, &frame), ERR_VIDEOFRAME);
    EXPECT_EQ(DecodeQuickTimeFrame(m.get(), -1, 0, &frame), ERR_VIDEOFRAME);
    ASSERT_EQ(DecodeQuickTimeFrame(m.get(), 5, 0, &frame), 0);
    EXPECT_LE(LargestDifference(frame.pixels, reference[5]), 2);
    // Asked again, the picture is handed back as it is: a mark put into it
    // stays, so nothing was decoded or converted.
    auto* marked = const_cast<uint32_t*>(frame.pixels);
    marked[0] = 0x12345678;
    qbMovieFrame again;
    ASSERT_EQ(DecodeQuickTimeFrame(m.get(), 5, 0, &again), 0);
    EXPECT_EQ(again.pixels, frame.pixels);
    EXPECT_EQ(again.pixels[0], 0x12345678u);
    // An earlier frame walks again from the start.
    ASSERT_EQ(DecodeQuickTimeFrame(m.get(), 3, 0, &frame), 0);
    EXPECT_LE(LargestDifference(frame.pixels, reference[3]), 2);
    ASSERT_EQ(DecodeQuickTimeFrame(m.get(), 49, 0, &frame), 0);
    EXPECT_LE(LargestDifference(frame.pixels, reference[49]), 2);
    EXPECT_EQ(GetQuickTimeMovieTime(m.get()), 1960u);
    // A seek leaves no picture ready: the same frame is decoded anew.
    const_cast<uint32_t*>(frame.pixels)[0] = 0x12345678;
    ASSERT_EQ(SeekQuickTimeMovie(m.get(), 500), 0);
    EXPECT_EQ(GetQuickTimeMovieTime(m.get()), 500u);
    ASSERT_EQ(DecodeQuickTimeFrame(m.get(), 49, 0, &frame), 0);
    EXPECT_LE(LargestDifference(frame.pixels, reference[49]), 2);
    EXPECT_EQ(SetQuickTimeMovieVolume(m.get(), 90), 0);
    EXPECT_EQ(RewindQuickTimeMovie(m.get()), 0);
    EXPECT_EQ(GetQuickTimeMovieTime(m.get()), 0u);
    ASSERT_EQ(DecodeQuickTimeFrame(m.get(), 0, 0, &frame), 0);
    EXPECT_LE(LargestDifference(frame.pixels, reference[0]), 2);
}

TEST_F(LinuxMovieTest, ATimeFindsThePictureShownThen) {
    for (Clip c : {Clip::MP4, Clip::MKV, Clip::AVI}) {
        const auto reference = Reference(c);
        ASSERT_EQ(reference.size(), 50u);
        Movie m(Path(c));
        ASSERT_EQ(m.err, 0);
        qbMovieFrame frame;
        // 1500 ms into 40 ms pictures is within picture 37.
        ASSERT_EQ(DecodeQuickTimeFrame(m.get(), 1500, 1, &frame), 0) << Facts(c).file;
        EXPECT_LE(LargestDifference(frame.pixels, reference[37]), 2) << Facts(c).file;
        EXPECT_EQ(GetQuickTimeMovieTime(m.get()), 1480u) << Facts(c).file;
        // Backwards, to the start and to the last picture.
        for (auto [ms, picture] : {std::pair{0, 0}, std::pair{1999, 49}, std::pair{81, 2}, std::pair{80, 2}}) {
            ASSERT_EQ(DecodeQuickTimeFrame(m.get(), ms, 1, &frame), 0) << Facts(c).file << " at " << ms;
            EXPECT_LE(LargestDifference(frame.pixels, reference[picture]), 2) << Facts(c).file << " at " << ms;
        }
        // The walk by frames starts again after a search by time.
        ASSERT_EQ(DecodeQuickTimeFrame(m.get(), 10, 0, &frame), 0);
        EXPECT_LE(LargestDifference(frame.pixels, reference[10]), 2) << Facts(c).file;
    }
}

TEST_F(LinuxMovieTest, HDPicturesDecodeInTheirBT709Colours) {
    Movie m(Path(Clip::HD709));
    ASSERT_EQ(m.err, 0);
    for (int part = 0; part < 3; ++part) {
        qbMovieFrame frame;
        ASSERT_EQ(DecodeQuickTimeFrame(m.get(), part * 3 + 1, 0, &frame), 0);
        const std::vector<uint32_t> flat(static_cast<size_t>(frame.width) * frame.height,
                                         0xFF000000u | kHDColours[part]);
        EXPECT_LE(LargestDifference(frame.pixels, flat), 3) << std::hex << kHDColours[part];
    }
}

// A raw-picture AVI whose picture header says 0 x 0: nothing in the
// pictures themselves can tell the size.
std::string ZeroSizedClip(const std::string& dir, bool patch) {
    const std::string path = MakeWith(dir, patch ? "zero.avi" : "sized.avi",
                                      "-f lavfi -i testsrc2=size=16x16:rate=25:duration=0.2 -c:v rawvideo "
                                      "-pix_fmt bgr24");
    if (path.empty() || !patch) return path;
    std::vector<uint8_t> bytes = ReadBytes(path);
    const uint8_t tag[4] = {'s', 't', 'r', 'f'};
    const auto at = std::search(bytes.begin(), bytes.end(), tag, tag + 4);
    if (at == bytes.end() || bytes.end() - at < 20) return "";
    std::fill(at + 12, at + 20, 0);  // biWidth, biHeight
    WriteBytes(path, bytes);
    return path;
}

TEST_F(LinuxMovieTest, WhatHoldsNoMovieIsRefusedWithItsName) {
    const std::string sized = ZeroSizedClip(Dir(), false);
    ASSERT_FALSE(sized.empty());
    EXPECT_EQ(Movie(sized).err, 0);
    const std::string junk = Dir() + "junk.mov";
    WriteBytes(junk, std::vector<uint8_t>(4000, 0x5A));
    for (const std::string& path :
         {Path(Clip::AudioOnly), ZeroSizedClip(Dir(), true), junk, Dir() + "missing.mp4"}) {
        SetErrorDetail("");
        Movie m(path);
        EXPECT_EQ(m.err, ERR_LOADVIDEO) << path;
        EXPECT_EQ(m.get(), nullptr);
        EXPECT_EQ(std::string(GetErrorDetail()), path);
    }
}

// A few bytes of a movie can claim pictures of hundreds of megapixels; the
// picture decoders' pixel cap holds for movies too.
TEST_F(LinuxMovieTest, PicturesOverThePixelCapAreRefused) {
    const std::string path = ZeroSizedClip(Dir(), false);
    ASSERT_FALSE(path.empty());
    SetMaxImagePixels(16 * 16 - 1);
    SetErrorDetail("");
    const int over = Movie(path).err;
    const std::string detail = GetErrorDetail();
    SetMaxImagePixels(16 * 16);
    Movie m(path);
    SetMaxImagePixels(0);
    EXPECT_EQ(over, ERR_LOADVIDEO);
    EXPECT_EQ(detail, path);
    ASSERT_EQ(m.err, 0);
    qbMovieFrame frame;
    EXPECT_EQ(DecodeQuickTimeFrame(m.get(), 0, 0, &frame), 0);
}

TEST_F(LinuxMovieTest, ATruncatedFileEndsEarly) {
    const auto reference = Reference(Clip::MP4);
    Movie m(Path(Clip::Truncated));
    ASSERT_EQ(m.err, 0);
    qbMovieFrame frame;
    ASSERT_EQ(DecodeQuickTimeFrame(m.get(), 0, 0, &frame), 0);
    EXPECT_LE(LargestDifference(frame.pixels, reference[0]), 2);
    EXPECT_EQ(DecodeQuickTimeFrame(m.get(), 49, 0, &frame), ERR_VIDEOFRAME);
}

// AV1 naming matrices FFmpeg has no enumerator for: the frame walk and the
// search by time go through it without undefined behaviour (which the
// sanitizer build stops on).
TEST_F(LinuxMovieTest, AV1WithUnknownMatricesWalksWithoutUndefinedBehaviour) {
    for (const std::string& clip : {ffclips::AV1UnknownMatrix(), ffclips::AV1UnknownMatrixInPictures()}) {
        ASSERT_FALSE(clip.empty());
        Movie m(clip);
        if (m.err) {
            EXPECT_EQ(m.err, ERR_LOADVIDEO);
            continue;
        }
        qbMovieFrame picture;
        for (int64_t frame : {0, 1, 0, 3}) DecodeQuickTimeFrame(m.get(), frame, 0, &picture);
        DecodeQuickTimeFrame(m.get(), 0, 1, &picture);
    }
}

// A damaged run after a key frame: the walk goes through every packet at
// the cost of one fresh decoder, and ends.
TEST_F(LinuxMovieTest, ADamagedRunCostsTheWalkOneFreshDecoder) {
    const std::string clip = ffclips::AV1DamagedRun(2000);
    if (clip.empty()) GTEST_SKIP() << "ffmpeg made no AV1 key frame";
    const int64_t before = av_common::DecoderOpens();
    Movie m(clip);
    ASSERT_EQ(m.err, 0);
    qbMovieFrame picture;
    EXPECT_EQ(DecodeQuickTimeFrame(m.get(), 0, 0, &picture), 0);
    EXPECT_EQ(DecodeQuickTimeFrame(m.get(), 1, 0, &picture), ERR_VIDEOFRAME);
    EXPECT_LE(av_common::DecoderOpens() - before, 4);
}

}  // namespace
