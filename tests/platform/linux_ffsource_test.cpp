// The FFmpeg movie source for the video engine: what it opens and refuses,
// the form its pictures take (YUV for studio-range BT.601 4:2:0, RGB with
// the stream's own matrix otherwise) against ffmpeg's own decode, sound
// downmixed to stereo, the drain at the end, a seek that starts at its
// target, and which containers' times may jump.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "core/errcodes.h"
#include "core/errors.h"
#include "core/pixelbuffer.h"
#include "imaging/yuvframes.h"
#include "media/avitest.h"
#include "media/ffclips.h"
#include "platform/platform.h"

namespace {

class MovieSourceTest : public ::testing::Test {
protected:
    void SetUp() override { SetPlatformBackend(&LinuxPlatformOps()); }
    void TearDown() override {
        if (source_) CloseMovieSource(source_);
        SetPlatformBackend(nullptr);
    }
    int Open(const std::string& path, int32_t threads = 0) {
        if (source_) CloseMovieSource(source_);
        source_ = nullptr;
        qbMovieSourceRequest request;
        request.threads = threads;
        return OpenMovieSource(path.c_str(), &request, &info_, &source_);
    }

    struct Picture {
        std::vector<uint32_t> rgb;  // 0x00RRGGBB
        double pts = -1.0;
    };
    // Every picture to the end, with the bytes of sound decoded.
    std::vector<Picture> DecodeAll(int64_t* soundBytes = nullptr) {
        std::vector<Picture> pictures;
        std::vector<uint8_t> sound(262144);
        std::vector<uint32_t> words(ConvertedPictureWords(info_.width, info_.height));
        for (int guard = 0; guard < 100000; ++guard) {
            qbMoviePacket packet;
            const int32_t got = NextMoviePacket(source_, &packet);
            if (got == -1) break;
            if (got != 0) continue;
            if (packet.isAudio) {
                int32_t finished = 0;
                while (!finished) {
                    const int32_t n = DecodeMovieAudio(source_, packet.packet, sound.data(), 262144, &finished);
                    if (n < 0) break;
                    if (soundBytes) *soundBytes += n;
                }
            } else {
                qbMoviePicture p;
                p.rgb = words.data();
                p.rgbWords = words.size();
                if (DecodeMovieVideo(source_, packet.packet, &p) == 1) pictures.push_back({ToRGB(p, words), p.pts});
            }
            FreeMoviePacket(source_, packet.packet);
        }
        return pictures;
    }
    std::vector<uint32_t> ToRGB(const qbMoviePicture& p, const std::vector<uint32_t>& words) const {
        std::vector<uint32_t> out(static_cast<size_t>(info_.width) * static_cast<size_t>(info_.height));
        if (info_.framesAreRGB) {
            for (size_t i = 0; i < out.size(); ++i) out[i] = __builtin_bswap32(words[i]) & 0xFFFFFFu;
            return out;
        }
        qbYUVFrameRequest q;
        q.planes = p.planes;
        q.pitches = p.pitches;
        q.destination = out.data();
        q.sourceWidth = q.destWidth = info_.width;
        q.sourceHeight = q.destHeight = info_.height;
        q.destPitch = info_.width;
        q.destFormat = 10;
        q.destBytesPerPixel = 4;
        ConvertYUVToRGB(q);
        for (uint32_t& w : out) w &= 0xFFFFFFu;
        return out;
    }
    static int MaxDifference(const std::vector<uint32_t>& a, const std::vector<uint32_t>& b) {
        int worst = a.size() == b.size() ? 0 : 256;
        for (size_t i = 0; i < a.size() && i < b.size(); ++i)
            for (int shift : {0, 8, 16})
                worst = std::max(worst, std::abs(static_cast<int>((a[i] >> shift) & 255) -
                                                 static_cast<int>((b[i] >> shift) & 255)));
        return worst;
    }

    qbMovieSource* source_ = nullptr;
    qbMovieSourceInfo info_;
};

TEST_F(MovieSourceTest, RefusesWhatHoldsNoPictures) {
    const std::string sound = ffclips::AudioOnly();
    ASSERT_FALSE(sound.empty());
    EXPECT_EQ(Open(sound), ERR_LOADVIDEO);
    EXPECT_EQ(GetErrorDetail(), sound);
    EXPECT_EQ(source_, nullptr);
    EXPECT_EQ(Open(testing::TempDir() + "no_such_movie.mp4"), ERR_LOADVIDEO);
    const std::string junk = testing::TempDir() + "junk_movie.mp4";
    std::FILE* f = std::fopen(junk.c_str(), "wb");
    for (int i = 0; i < 5000; ++i) std::fputc(i * 7 & 255, f);
    std::fclose(f);
    EXPECT_EQ(Open(junk), ERR_LOADVIDEO);
    std::remove(junk.c_str());
    // Without the Linux backend nothing opens.
    SetPlatformBackend(nullptr);
    EXPECT_EQ(Open(ffclips::SmallMP4()), ERR_LOADVIDEO);
    EXPECT_EQ(source_, nullptr);
}

TEST_F(MovieSourceTest, SmallClipDecodesWholeAsFFmpegDoes) {
    const std::string path = ffclips::SmallMP4();
    ASSERT_EQ(Open(path), 0);
    EXPECT_EQ(info_.width, 64);
    EXPECT_EQ(info_.height, 48);
    EXPECT_NEAR(info_.duration, 2000, 40);
    EXPECT_NEAR(info_.frameDuration, 0.04, 1e-9);
    EXPECT_EQ(info_.audioChannels, 1);
    EXPECT_EQ(info_.audioRate, 22050);
    EXPECT_EQ(info_.seekable, 1);
    EXPECT_EQ(info_.framesAreRGB, 0);  // BT.601 studio-range 4:2:0 goes to the engine's converter
    int64_t sound = 0;
    const std::vector<Picture> pictures = DecodeAll(&sound);
    // The end drains the decoder: every picture comes out, in order.
    const auto reference = avitest::Decode(path, 64, 48);
    ASSERT_EQ(pictures.size(), 50u);
    ASSERT_EQ(reference.size(), 50u);
    for (size_t i = 0; i < pictures.size(); ++i) {
        EXPECT_NEAR(pictures[i].pts, i * 0.04, 0.001);
        // The engine's integer converter against swscale's.
        EXPECT_LE(MaxDifference(pictures[i].rgb, reference[i]), 3) << "picture " << i;
    }
    EXPECT_NEAR(static_cast<double>(sound) / 2.0, 2 * 22050.0, 22050 * 0.05);
}

// Every packet, in the order read, against ffprobe's list: its kind, its
// size and its time (the presentation time, the decoding time when a packet
// has none, from the file's start). H.264 with B-pictures has the two times
// differ; MPEG-4 in AVI leaves some presentation times out.
TEST_F(MovieSourceTest, PacketsCarryTheirKindSizeAndTimeAsFFprobeReadsThem) {
    const std::string avi = ffclips::Clips().Get("bframes.avi", ffclips::Pictures("64x48", 25, 1) + " -c:v mpeg4 -bf 2");
    for (const std::string& path : {ffclips::SmallMP4(), avi}) {
        SCOPED_TRACE(path);
        ASSERT_FALSE(path.empty());
        const std::string list = path + ".packets";
        ASSERT_EQ(std::system(("ffprobe -v error -show_entries format=start_time:packet=codec_type,pts_time,dts_time,size "
                               "-of csv=p=0 '" + path + "' > '" + list + "'").c_str()), 0);
        std::vector<std::string> lines;
        double start = 0;
        {
            std::ifstream in(list);
            for (std::string line; std::getline(in, line);)
                if (line.rfind("video,", 0) == 0 || line.rfind("audio,", 0) == 0) lines.push_back(line);
                else if (!line.empty()) start = std::atof(line.c_str());
        }
        std::remove(list.c_str());
        ASSERT_EQ(Open(path), 0);
        size_t at = 0;
        int differing = 0;
        for (int guard = 0; guard < 100000; ++guard) {
            qbMoviePacket packet;
            const int32_t got = NextMoviePacket(source_, &packet);
            if (got == -1) break;
            if (got != 0) continue;
            if (at == lines.size()) {  // the drain's markers, after the last packet
                EXPECT_EQ(packet.size, 0);
                EXPECT_EQ(packet.pts, -1.0);
                FreeMoviePacket(source_, packet.packet);
                continue;
            }
            std::istringstream fields(lines[at++]);
            std::string kind, pts, dts, size;
            std::getline(fields, kind, ',');
            std::getline(fields, pts, ',');
            std::getline(fields, dts, ',');
            std::getline(fields, size, ',');
            const std::string& time = pts != "N/A" ? pts : dts;
            const double want = time == "N/A" ? -1.0 : std::max(std::atof(time.c_str()) - start, 0.0);
            differing += pts != dts;
            EXPECT_EQ(packet.isAudio, kind == "audio" ? 1 : 0) << at;
            EXPECT_EQ(packet.size, std::atoi(size.c_str())) << at;
            EXPECT_NEAR(packet.pts, want, 1e-4) << at;
            FreeMoviePacket(source_, packet.packet);
        }
        EXPECT_EQ(at, lines.size());
        EXPECT_GT(differing, 5);
    }
}

TEST_F(MovieSourceTest, OnlyBroadcastContainersSayTheirTimesMayJump) {
    ASSERT_EQ(Open(ffclips::SmallMP4()), 0);
    EXPECT_EQ(info_.timesMayJump, 0);
    ASSERT_EQ(Open(ffclips::RatelessMKV()), 0);
    EXPECT_EQ(info_.timesMayJump, 0);
    const std::string ts = ffclips::Clips().Get("small.ts", "-i '" + ffclips::SmallMP4() + "' -c copy");
    ASSERT_FALSE(ts.empty());
    ASSERT_EQ(Open(ts), 0);
    EXPECT_EQ(info_.timesMayJump, 1);
}

TEST_F(MovieSourceTest, OtherFormatsArriveAsRGBWithTheirOwnMatrix) {
    // Flat BT.709 pictures keep their colours.
    for (const uint32_t colour : {0x3366CCu, 0xE0C020u}) {
        ASSERT_EQ(Open(ffclips::Flat709(colour)), 0);
        EXPECT_EQ(info_.framesAreRGB, 1);
        const std::vector<Picture> pictures = DecodeAll();
        ASSERT_EQ(pictures.size(), 3u);
        EXPECT_LE(MaxDifference(std::vector<uint32_t>(pictures[1].rgb.size(), colour), pictures[1].rgb), 3)
            << std::hex << colour << " " << pictures[1].rgb[0];
    }
    // 10-bit and full-range MJPEG at an odd size match ffmpeg's own decode.
    for (const std::string& path : {ffclips::TenBit(), ffclips::OddAVI()}) {
        ASSERT_FALSE(path.empty());
        ASSERT_EQ(Open(path), 0);
        EXPECT_EQ(info_.framesAreRGB, 1);
        const std::vector<Picture> pictures = DecodeAll();
        const auto reference = avitest::Decode(path, info_.width, info_.height);
        ASSERT_EQ(pictures.size(), reference.size());
        ASSERT_FALSE(pictures.empty());
        for (size_t i = 0; i < pictures.size(); ++i)
            EXPECT_LE(MaxDifference(pictures[i].rgb, reference[i]), 2) << path << " picture " << i;
    }
    EXPECT_EQ(info_.width, 33);
    EXPECT_EQ(info_.height, 17);
}

// A few bytes of a movie can claim pictures of hundreds of megapixels, at
// the open or midway: the picture decoders' pixel cap holds for both.
TEST_F(MovieSourceTest, PicturesOverThePixelCapAreRefused) {
    const std::string path = ffclips::GrowingMKV();
    ASSERT_FALSE(path.empty());
    SetMaxImagePixels(16 * 16 - 1);
    SetErrorDetail("");
    const int over = Open(path);
    const std::string detail = GetErrorDetail();
    // FFmpeg counts a picture's rows at their aligned width.
    SetMaxImagePixels(2048);
    const int opened = Open(path);
    const std::vector<Picture> pictures = opened == 0 ? DecodeAll() : std::vector<Picture>{};
    SetMaxImagePixels(0);
    EXPECT_EQ(over, ERR_LOADVIDEO);
    EXPECT_EQ(detail, path);
    ASSERT_EQ(opened, 0);
    EXPECT_EQ(info_.width, 16);
    // The 64 x 64 pictures are refused by the decoder, not made and scaled.
    EXPECT_EQ(pictures.size(), 5u);
    // Under no cap but the movie's own, all ten come, scaled to 16 x 16.
    ASSERT_EQ(Open(path), 0);
    EXPECT_EQ(DecodeAll().size(), 10u);
}

TEST_F(MovieSourceTest, SurroundSoundIsDownmixedToStereo) {
    ASSERT_EQ(Open(ffclips::SurroundMP4()), 0);
    EXPECT_EQ(info_.audioChannels, 2);
    EXPECT_EQ(info_.audioRate, 48000);
    int64_t sound = 0;
    DecodeAll(&sound);
    EXPECT_NEAR(static_cast<double>(sound) / 4.0, 48000.0, 48000 * 0.05);
}

TEST_F(MovieSourceTest, SeekStartsAtTheTargetPicture) {
    ASSERT_EQ(Open(ffclips::SmallMP4(), 2), 0);
    const std::vector<Picture> all = DecodeAll();
    ASSERT_EQ(all.size(), 50u);
    const auto from = [&](int64_t milliseconds) {
        EXPECT_EQ(SeekMovieSource(source_, milliseconds), 0);
        FlushMovieVideo(source_);
        FlushMovieAudio(source_);
        return DecodeAll();
    };
    // 1500 ms at 25 pictures a second is picture 37, between two key frames.
    const std::vector<Picture> rest = from(1500);
    ASSERT_EQ(rest.size(), 13u);
    EXPECT_NEAR(rest[0].pts, 37 * 0.04, 0.001);
    EXPECT_EQ(rest[0].rgb, all[37].rgb);
    // Inside the first key frame's run the decode starts at the picture at
    // time 0, which is skipped like the others before the target.
    const std::vector<Picture> early = from(200);
    ASSERT_EQ(early.size(), 45u);
    EXPECT_NEAR(early[0].pts, 5 * 0.04, 0.001);
    EXPECT_EQ(early[0].rgb, all[5].rgb);
    // Back to the start after the end.
    EXPECT_EQ(from(0).size(), 50u);
}

TEST_F(MovieSourceTest, TruncatedFileEndsEarly) {
    ASSERT_EQ(Open(ffclips::TruncatedMKV()), 0);
    const std::vector<Picture> pictures = DecodeAll();
    ASSERT_FALSE(pictures.empty());
    EXPECT_LT(pictures.size(), 50u);
    // Past the end it stays at the end.
    qbMoviePacket packet;
    EXPECT_EQ(NextMoviePacket(source_, &packet), -1);
}


// A YUV stream whose pictures change size midway: VP8 in Matroska whose
// container says 64 x 48 (testsrc2), then five pictures of 32 x 24, one
// colour on the left half and another on the right, which the engine's
// planes get scaled to the stream's size.
TEST_F(MovieSourceTest, PicturesOfAnotherSizeAreScaledToTheStreamsWidthAndHeight) {
    constexpr uint32_t kLeft = 0xE0C020u, kRight = 0x3366CCu;
    ffclips::Made& clips = ffclips::Clips();
    const std::string first = clips.Get("resize_first.ivf", ffclips::Pictures("64x48", 25, 0.2) + " -c:v libvpx");
    const std::string second = clips.Get("resize_second.ivf",
                                         "-f lavfi -i color=c=0xE0C020:size=32x24:rate=25:duration=0.2,"
                                         "drawbox=x=16:y=0:w=16:h=24:color=0x3366CC:t=fill -c:v libvpx");
    ASSERT_FALSE(first.empty());
    ASSERT_FALSE(second.empty());
    const std::string list =
        clips.Keep("resize.txt", testing::TempDir() + "ffclip_" + std::to_string(getpid()) + "_resize.txt");
    std::FILE* f = std::fopen(list.c_str(), "w");
    ASSERT_NE(f, nullptr);
    std::fprintf(f, "file '%s'\nfile '%s'\n", first.c_str(), second.c_str());
    std::fclose(f);
    const std::string path = clips.Get("resize.mkv", "-f concat -safe 0 -i '" + list + "' -c copy");
    ASSERT_FALSE(path.empty());
    ASSERT_EQ(Open(path), 0);
    EXPECT_EQ(info_.width, 64);
    EXPECT_EQ(info_.height, 48);
    ASSERT_EQ(info_.framesAreRGB, 0);
    const std::vector<Picture> pictures = DecodeAll();
    ASSERT_EQ(pictures.size(), 10u);
    // Each half away from the seam, where the scaler blends the two.
    for (size_t i = 5; i < pictures.size(); ++i) {
        std::vector<uint32_t> left, right;
        for (int y = 4; y < 44; ++y)
            for (int x = 4; x < 26; ++x) {
                left.push_back(pictures[i].rgb[static_cast<size_t>(y * 64 + x)]);
                right.push_back(pictures[i].rgb[static_cast<size_t>(y * 64 + 63 - x)]);
            }
        EXPECT_LE(MaxDifference(std::vector<uint32_t>(left.size(), kLeft), left), 12) << "picture " << i;
        EXPECT_LE(MaxDifference(std::vector<uint32_t>(right.size(), kRight), right), 12) << "picture " << i;
    }
}

// The converter's vector stores run past the last pixel of pictures of
// many widths: each is converted into a buffer of the size the rule gives,
// with guard words behind it that stay as they were. A buffer of the
// picture alone is refused, not written past.
TEST_F(MovieSourceTest, PicturesOfEverySizeStayInsideTheirBuffer) {
    constexpr int kSizes[][2] = {{1, 4},  {2, 4},  {3, 4},  {4, 4},  {5, 4},    {6, 4},    {7, 4},   {8, 4},
                                 {11, 4}, {13, 4}, {24, 4}, {26, 4}, {27, 4},   {28, 4},   {29, 4},  {40, 4},
                                 {632, 476}, {634, 476}, {636, 476}};
    constexpr uint32_t kGuard = 0x5A17C0DEu;
    constexpr size_t kGuardWords = 256;
    for (const auto& size : kSizes) {
        const int w = size[0], h = size[1];
        const std::string clip = ffclips::OddMJPEG(w, h);
        ASSERT_FALSE(clip.empty()) << w << "x" << h;
        ASSERT_EQ(Open(clip), 0) << w << "x" << h;
        ASSERT_EQ(info_.framesAreRGB, 1);
        const size_t words = ConvertedPictureWords(w, h);
        std::vector<uint32_t> buffer(words + kGuardWords, kGuard);
        int pictures = 0, refused = 0;
        for (int guard = 0; guard < 1000; ++guard) {
            qbMoviePacket packet;
            const int32_t got = NextMoviePacket(source_, &packet);
            if (got == -1) break;
            if (got != 0) continue;
            if (!packet.isAudio) {
                // The first picture is offered a buffer without the slack.
                const bool alone = refused == 0;
                qbMoviePicture p;
                p.rgb = buffer.data();
                p.rgbWords = alone ? static_cast<size_t>(w) * static_cast<size_t>(h) : words;
                const int32_t result = DecodeMovieVideo(source_, packet.packet, &p);
                if (alone && result != 0) {
                    EXPECT_EQ(result, -1) << w << "x" << h;
                    ++refused;
                } else if (!alone && result == 1) {
                    ++pictures;
                }
            }
            FreeMoviePacket(source_, packet.packet);
        }
        EXPECT_EQ(refused, 1) << w << "x" << h;
        EXPECT_GE(pictures, 1) << w << "x" << h;
        EXPECT_TRUE(std::all_of(buffer.begin() + static_cast<ptrdiff_t>(words), buffer.end(),
                                [](uint32_t v) { return v == kGuard; }))
            << w << "x" << h << ": the converter wrote past its buffer";
    }
}

// AV1 whose sequence header or pictures name a matrix FFmpeg has no
// enumerator for: it opens as unspecified (or is refused) and decodes to
// its end without undefined behaviour, which the sanitizer build stops on.
TEST_F(MovieSourceTest, AV1WithUnknownMatricesDecodesWithoutUndefinedBehaviour) {
    for (const std::string& clip : {ffclips::AV1UnknownMatrix(), ffclips::AV1UnknownMatrixInPictures()}) {
        ASSERT_FALSE(clip.empty());
        const int err = Open(clip);
        EXPECT_TRUE(err == 0 || err == ERR_LOADVIDEO) << err;
        if (err == 0) DecodeAll();
    }
}

}  // namespace
