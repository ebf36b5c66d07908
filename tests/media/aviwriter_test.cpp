// The Motion-JPEG AVI writer: the file's layout walked chunk by chunk, the
// indexes, continuation RIFFs, the refused rates and index overflow, write
// errors of a full disk, and ffmpeg's and the anim reader's view of the
// files.
#include "media/aviwriter.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "avitest.h"
#include "core/errcodes.h"
#include "core/errors.h"
#include "imaging/codechooks.h"
#include "media/avireader.h"

using avitest::Bytes;
using avitest::Children;
using avitest::Chunk;
using avitest::Find;
using avitest::Tag;
using avitest::U16;
using avitest::U32;
using avitest::U64;

namespace {

// The parts of one written file.
struct Parsed {
    Bytes b;
    std::vector<Chunk> riffs;  // top level
    Chunk hdrl, movi;
    std::vector<Chunk> header;  // hdrl's children
    const Chunk* idx1 = nullptr;
    std::vector<Chunk> top;  // the first RIFF's children
};

Parsed Parse(const std::string& path) {
    Parsed p;
    p.b = imagefixtures::ReadBytes(path);
    p.riffs = Children(p.b, 0, p.b.size());
    if (p.riffs.empty()) {
        ADD_FAILURE() << "no RIFF";
        return p;
    }
    p.top = Children(p.b, p.riffs[0]);
    if (const Chunk* c = Find(p.top, "LIST", "hdrl")) p.hdrl = *c;
    if (const Chunk* c = Find(p.top, "LIST", "movi")) p.movi = *c;
    p.idx1 = Find(p.top, "idx1");
    p.header = Children(p.b, p.hdrl);
    return p;
}

class AVIWriterTest : public ::testing::Test {
protected:
    // Frames of the scene at the writer's size.
    int WriteFrames(qbAVIWriter* w, int count, int first = 0) {
        for (int i = 0; i < count; ++i) {
            BitmapPtr bitmap = avitest::MakeBitmap(avitest::Scene(w->width, w->height, first + i), w->width, w->height);
            if (int err = WriteAVIFrame(w, bitmap.get())) return err;
        }
        return 0;
    }
    qbAVIWriter* Begin(const std::string& path, int fps, int width, int height) {
        qbAVIWriter* w = nullptr;
        EXPECT_EQ(BeginAVIWriter(path.c_str(), fps, width, height, 90, "clip.avi", &w), 0);
        return w;
    }
    imagefixtures::ScratchDir dir_;
};

TEST_F(AVIWriterTest, HeadersIndexesAndChunksOfASmallFile) {
    const std::string path = dir_.File("small.avi");
    qbAVIWriter* w = Begin(path, 25, 64, 48);
    ASSERT_NE(w, nullptr);
    ASSERT_EQ(WriteFrames(w, 3), 0);
    ASSERT_EQ(FinishAVIWriter(w), 0);
    Parsed p = Parse(path);
    const Bytes& b = p.b;
    ASSERT_EQ(p.riffs.size(), 1u);
    EXPECT_EQ(p.riffs[0].type, "AVI ");
    EXPECT_EQ(p.riffs[0].end(), b.size());
    ASSERT_EQ(p.top.size(), 3u);
    EXPECT_EQ(p.hdrl.at, 12u);
    // 9 bytes of title and 30 of software name, each padded to even.
    EXPECT_EQ(p.hdrl.size, 33266u + 10 + 30);

    ASSERT_EQ(p.header.size(), 5u);
    const size_t avih = p.header[0].data();
    EXPECT_EQ(p.header[0].size, 56u);
    EXPECT_EQ(U32(b, avih), 40000u);
    EXPECT_EQ(U32(b, avih + 12), 0x10u);
    EXPECT_EQ(U32(b, avih + 16), 3u);
    EXPECT_EQ(U32(b, avih + 24), 2u);
    EXPECT_EQ(U32(b, avih + 32), 64u);
    EXPECT_EQ(U32(b, avih + 36), 48u);

    // Audio: 44,100 Hz, 1,764 samples a frame.
    const Chunk& audio = p.header[1];
    EXPECT_EQ(audio.size, 16476u);
    const std::vector<Chunk> a = Children(b, audio);
    ASSERT_EQ(a.size(), 3u);
    EXPECT_EQ(Tag(b, a[0].data()), "auds");
    EXPECT_EQ(U32(b, a[0].data() + 20), 4u);
    EXPECT_EQ(U32(b, a[0].data() + 24), 4u * 44100);
    EXPECT_EQ(U32(b, a[0].data() + 32), 3u * 1764);
    EXPECT_EQ(U32(b, a[0].data() + 36), 7056u);
    EXPECT_EQ(U32(b, a[0].data() + 40), 0xFFFFFFFFu);
    EXPECT_EQ(U16(b, a[1].data()), 1);
    EXPECT_EQ(U16(b, a[1].data() + 2), 2);
    EXPECT_EQ(U32(b, a[1].data() + 4), 44100u);
    EXPECT_EQ(U16(b, a[1].data() + 14), 16);
    EXPECT_EQ(a[2].id, "indx");
    EXPECT_EQ(a[2].size, 16376u);
    EXPECT_EQ(U32(b, a[2].data() + 4), 1u);
    EXPECT_EQ(Tag(b, a[2].data() + 8), "00wb");
    const size_t ix00 = static_cast<size_t>(U64(b, a[2].data() + 24));
    EXPECT_EQ(U32(b, a[2].data() + 32), 16384u);
    EXPECT_EQ(U32(b, a[2].data() + 36), 3u * 1764);

    const std::vector<Chunk> v = Children(b, p.header[2]);
    EXPECT_EQ(p.header[2].size, 16500u);
    ASSERT_EQ(v.size(), 3u);
    EXPECT_EQ(Tag(b, v[0].data()), "vids");
    EXPECT_EQ(Tag(b, v[0].data() + 4), "MJPG");
    EXPECT_EQ(U32(b, v[0].data() + 20), 40000u);
    EXPECT_EQ(U32(b, v[0].data() + 24), 1000000u);
    EXPECT_EQ(U32(b, v[0].data() + 32), 3u);
    EXPECT_EQ(U16(b, v[0].data() + 52), 64);
    EXPECT_EQ(U16(b, v[0].data() + 54), 48);
    EXPECT_EQ(Tag(b, v[1].data() + 16), "MJPG");
    EXPECT_EQ(U32(b, v[1].data() + 20), 64u * 48 * 3);
    const size_t ix01 = static_cast<size_t>(U64(b, v[2].data() + 24));
    EXPECT_EQ(U32(b, v[2].data() + 36), 3u);
    EXPECT_EQ(U32(b, Children(b, p.header[3])[0].data()), 3u);

    const std::vector<Chunk> info = Children(b, p.header[4]);
    EXPECT_EQ(p.header[4].size, 174u + 10 + 30);
    ASSERT_EQ(info.size(), 3u);
    EXPECT_STREQ(reinterpret_cast<const char*>(&b[info[0].data()]), "clip.avi");
    EXPECT_STREQ(reinterpret_cast<const char*>(&b[info[1].data()]), "Quenbrook by Morvale Lumegrid");
    EXPECT_EQ(info[2].size, 145u);
    const std::string comment(reinterpret_cast<const char*>(&b[info[2].data()]));
    EXPECT_EQ(comment.rfind("Video generated by QuenbrookPlayer 6.1 (", 0), 0u) << comment;
    EXPECT_NE(comment.find("Linux)"), std::string::npos) << comment;

    // movi: the index pair, then silence and a picture per frame.
    const std::vector<Chunk> m = Children(b, p.movi);
    ASSERT_EQ(m.size(), 8u);
    EXPECT_EQ(m[0].at, ix00);
    EXPECT_EQ(m[1].at, ix01);
    EXPECT_EQ(m[0].id, "ix00");
    EXPECT_EQ(U32(b, m[0].data() + 4), 3u);
    EXPECT_EQ(U64(b, m[0].data() + 12), 0u);
    for (int f = 0; f < 3; ++f) {
        const Chunk& sound = m[2 + 2 * f];
        const Chunk& picture = m[3 + 2 * f];
        ASSERT_EQ(sound.id, "00wb");
        ASSERT_EQ(picture.id, "01dc");
        EXPECT_EQ(sound.size, 7056u);
        EXPECT_TRUE(std::all_of(b.begin() + static_cast<long>(sound.data()),
                                b.begin() + static_cast<long>(sound.data() + sound.size),
                                [](uint8_t x) { return !x; }));
        EXPECT_EQ(U16(b, picture.data()), 0xD8FF);
        // The standard indexes count from the RIFF's start to the data.
        EXPECT_EQ(U32(b, m[0].data() + 24 + 8 * f), sound.data());
        EXPECT_EQ(U32(b, m[1].data() + 24 + 8 * f), picture.data());
        EXPECT_EQ(U32(b, m[1].data() + 28 + 8 * f), picture.size);
        // The legacy index: absolute positions of the chunks.
        ASSERT_NE(p.idx1, nullptr);
        EXPECT_EQ(Tag(b, p.idx1->data() + 32 * f), "00wb");
        EXPECT_EQ(U32(b, p.idx1->data() + 32 * f + 4), 0x10u);
        EXPECT_EQ(U32(b, p.idx1->data() + 32 * f + 8), sound.at);
        EXPECT_EQ(U32(b, p.idx1->data() + 32 * f + 24), picture.at);
        EXPECT_EQ(U32(b, p.idx1->data() + 32 * f + 28), picture.size);
    }
    EXPECT_EQ(p.idx1->size, 96u);
}

TEST_F(AVIWriterTest, OddRatesCarryWholeSamplesAndOddPicturesArePadded) {
    const std::string path = dir_.File("odd.avi");
    qbAVIWriter* w = Begin(path, 24, 16, 16);
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(w->sampleRate, 44088u);
    EXPECT_EQ(w->samplesPerFrame, 1837u);
    // Noise gives pictures of varied sizes; some are odd.
    for (uint32_t seed = 0; seed < 16; ++seed) {
        BitmapPtr bitmap = avitest::MakeBitmap(imagefixtures::TestPicture(16, 16, seed), 16, 16);
        ASSERT_EQ(WriteAVIFrame(w, bitmap.get()), 0);
    }
    ASSERT_EQ(FinishAVIWriter(w), 0);
    Parsed p = Parse(path);
    uint64_t padded = 0, odd = 0;
    for (const Chunk& c : Children(p.b, p.movi)) {
        if (c.id == "00wb") {
            EXPECT_EQ(c.size, 1837u * 4);
        }
        if (c.id != "01dc") continue;
        padded += c.size + (c.size & 1);
        if (c.size & 1) {
            ++odd;
            EXPECT_EQ(p.b[c.data() + c.size], 0);
        }
    }
    EXPECT_GT(odd, 0u);
    EXPECT_EQ(p.movi.size, 4 + padded + 16 * 16 + 32768 + 16 * 1837 * 4);
    EXPECT_EQ(U32(p.b, Children(p.b, p.header[1])[1].data() + 4), 44088u);
}

TEST_F(AVIWriterTest, ASecondIndexPairBeginsAtFrame2044) {
    const std::string path = dir_.File("long.avi");
    qbAVIWriter* w = Begin(path, 25, 8, 8);
    ASSERT_NE(w, nullptr);
    BitmapPtr bitmap = avitest::MakeBitmap(avitest::Scene(8, 8, 0), 8, 8);
    for (int i = 0; i < 3000; ++i) ASSERT_EQ(WriteAVIFrame(w, bitmap.get()), 0);
    ASSERT_EQ(FinishAVIWriter(w), 0);
    Parsed p = Parse(path);
    const Bytes& b = p.b;
    const size_t audioIndx = Children(b, p.header[1])[2].data();
    const size_t videoIndx = Children(b, p.header[2])[2].data();
    ASSERT_EQ(U32(b, videoIndx + 4), 2u);
    EXPECT_EQ(U32(b, videoIndx + 36), 2044u);
    EXPECT_EQ(U32(b, videoIndx + 52), 956u);
    EXPECT_EQ(U32(b, audioIndx + 36), 2044u * 1764);
    EXPECT_EQ(U32(b, audioIndx + 52), 956u * 1764);
    // The second pair stands right after frame 2044's picture.
    const std::vector<Chunk> m = Children(b, p.movi);
    ASSERT_EQ(m.size(), 2u * 2 + 2u * 3000);
    const Chunk& second = m[2 + 2 * 2044];
    EXPECT_EQ(second.id, "ix00");
    EXPECT_EQ(second.at, U64(b, audioIndx + 40));
    EXPECT_EQ(m[3 + 2 * 2044].at, U64(b, videoIndx + 40));
    EXPECT_EQ(U32(b, m[3 + 2 * 2044].data() + 4), 956u);
    EXPECT_EQ(U32(b, m[1].data() + 4), 2044u);
    EXPECT_EQ(p.idx1->size, 32u * 3000);
}

TEST_F(AVIWriterTest, RatesWithoutWholeSamplesAndAFullSuperIndexAreRefused) {
    qbAVIWriter* w = nullptr;
    const std::string path = dir_.File("rates.avi");
    for (int fps : {0, -5, 44000, 1000001, 2000000})
        EXPECT_EQ(BeginAVIWriter(path.c_str(), fps, 8, 8, 90, "", &w), ERR_WRONGUSAGE) << fps;
    // 23 microseconds a frame: 43,478 frames of one sample each.
    ASSERT_EQ(BeginAVIWriter(path.c_str(), 43478, 8, 8, 90, "", &w), 0);
    EXPECT_EQ(w->samplesPerFrame, 1u);
    EXPECT_EQ(w->sampleRate, 43478u);
    CloseAVIWriter(w);

    // One frame a period: the 1,023rd period has no super index entry.
    w = Begin(path, 25, 8, 8);
    ASSERT_NE(w, nullptr);
    w->periodLength = 1;
    BitmapPtr bitmap = avitest::MakeBitmap(avitest::Scene(8, 8, 0), 8, 8);
    for (int i = 0; i < 1022; ++i) ASSERT_EQ(WriteAVIFrame(w, bitmap.get()), 0) << i;
    EXPECT_EQ(WriteAVIFrame(w, bitmap.get()), ERR_WRONGUSAGE);
    ASSERT_EQ(FinishAVIWriter(w), 0);
    Parsed p = Parse(path);
    EXPECT_EQ(U32(p.b, p.header[0].data() + 16), 1022u);
    EXPECT_EQ(U32(p.b, Children(p.b, p.header[2])[2].data() + 4), 1022u);
    EXPECT_EQ(Children(p.b, p.movi).size(), 4u * 1022);
}

TEST_F(AVIWriterTest, AnUnwritableFileIsNamed) {
    qbAVIWriter* w = nullptr;
    const std::string path = dir_.File("missing/out.avi");
    EXPECT_EQ(BeginAVIWriter(path.c_str(), 25, 8, 8, 90, "", &w), ERR_WRITEFILE);
    EXPECT_EQ(w, nullptr);
    EXPECT_EQ(std::string(GetErrorDetail()), path);
}

// Lowered budgets: every RIFF after the first is an "AVIX" with a movi list
// and index pairs of its own; only the first has an idx1.
TEST_F(AVIWriterTest, ContinuationRIFFsBeyondTheBudget) {
    const std::string path = dir_.File("split.avi");
    qbAVIWriter* w = Begin(path, 25, 64, 48);
    ASSERT_NE(w, nullptr);
    w->progress->budget = 150000;
    w->nextBudget = 250000;
    ASSERT_EQ(WriteFrames(w, 60), 0);
    ASSERT_EQ(FinishAVIWriter(w), 0);
    Parsed p = Parse(path);
    ASSERT_GE(p.riffs.size(), 3u);
    EXPECT_EQ(p.riffs.back().end(), p.b.size());
    uint32_t frames = 0;
    for (size_t r = 0; r < p.riffs.size(); ++r) {
        const std::vector<Chunk> top = Children(p.b, p.riffs[r]);
        EXPECT_EQ(p.riffs[r].type, r ? "AVIX" : "AVI ");
        EXPECT_EQ(Find(top, "idx1") != nullptr, r == 0);
        const Chunk* movi = Find(top, "LIST", "movi");
        ASSERT_NE(movi, nullptr);
        const std::vector<Chunk> m = Children(p.b, *movi);
        ASSERT_GE(m.size(), 4u);
        EXPECT_EQ(m[0].id, "ix00");
        // Offsets count from this RIFF.
        EXPECT_EQ(U64(p.b, m[1].data() + 12), p.riffs[r].at);
        EXPECT_EQ(U32(p.b, m[1].data() + 24) + p.riffs[r].at, m[3].data());
        uint32_t here = 0;
        for (const Chunk& c : m) here += c.id == "01dc";
        if (r == 0) {
            EXPECT_EQ(p.idx1->size, 32 * here);
        }
        frames += here;
    }
    EXPECT_EQ(frames, 60u);
    if (!imagefixtures::HaveTool("ffprobe")) GTEST_SKIP() << "no ffprobe";
    EXPECT_NE(avitest::Probe(path).find("nb_read_frames=60"), std::string::npos) << avitest::Probe(path);
}

TEST_F(AVIWriterTest, FfmpegPlaysTheFileAndBothReadersSeeThePictures) {
    if (!imagefixtures::HaveTool("ffprobe") || !imagefixtures::HaveTool("ffmpeg")) GTEST_SKIP() << "no ffmpeg";
    const std::string path = dir_.File("play.avi");
    qbAVIWriter* w = Begin(path, 25, 640, 480);
    ASSERT_NE(w, nullptr);
    ASSERT_EQ(WriteFrames(w, 10), 0);
    ASSERT_EQ(FinishAVIWriter(w), 0);

    const std::string probe = avitest::Probe(path);
    for (const char* line : {"codec_name=pcm_s16le", "sample_rate=44100", "channels=2", "codec_name=mjpeg", "width=640",
                             "height=480", "r_frame_rate=25/1", "nb_read_frames=10"})
        EXPECT_NE(probe.find(line), std::string::npos) << line << "\n" << probe;
    EXPECT_EQ(avitest::Capture("ffmpeg -v error -i '" + path + "' -f null - 2>&1"), "");
    const auto decoded = avitest::Decode(path, 640, 480);
    ASSERT_EQ(decoded.size(), 10u);
    for (int f = 0; f < 10; ++f) EXPECT_GE(avitest::PSNR(decoded[f], avitest::Scene(640, 480, f)), 38.0) << f;

    InstallImageCodecHooks();
    int32_t width = 0, height = 0, frames = 0;
    qbAVIReaderPtr reader(OpenAVIReader(FileOpen(path.c_str(), kFileModeRead, nullptr), &width, &height, &frames));
    ASSERT_NE(reader, nullptr);
    ASSERT_EQ(frames, 10);
    for (int f = 0; f < 10; ++f) {
        const PixelBuffer pixels = ReadAVIFrame(reader.get(), f);
        ASSERT_NE(pixels, nullptr);
        const std::vector<uint32_t> read(pixels.get(), pixels.get() + 640 * 480);
        EXPECT_GE(avitest::PSNR(read, avitest::Scene(640, 480, f)), 38.0) << f;
    }
}

// A file size limit makes writes come up short: the frame fails, and once
// the limit is lifted the next frame and the finish complete the file.
TEST_F(AVIWriterTest, AShortWriteFailsTheFrameAndLeavesTheWriterUsable) {
    const std::string path = dir_.File("full.avi");
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        signal(SIGXFSZ, SIG_IGN);
        qbAVIWriter* w = nullptr;
        if (BeginAVIWriter(path.c_str(), 25, 64, 48, 90, "", &w)) _exit(10);
        BitmapPtr bitmap = avitest::MakeBitmap(avitest::Scene(64, 48, 0), 64, 48);
        if (WriteAVIFrame(w, bitmap.get())) _exit(11);
        rlimit limit{};
        getrlimit(RLIMIT_FSIZE, &limit);
        const rlimit saved = limit;
        limit.rlim_cur = static_cast<rlim_t>(w->progress->end + 3000);
        setrlimit(RLIMIT_FSIZE, &limit);
        if (WriteAVIFrame(w, bitmap.get()) != ERR_WRITE) _exit(12);
        setrlimit(RLIMIT_FSIZE, &saved);
        if (WriteAVIFrame(w, bitmap.get())) _exit(13);
        if (FinishAVIWriter(w)) _exit(14);
        // A finish that cannot append the index says so.
        if (BeginAVIWriter((path + "2").c_str(), 25, 64, 48, 90, "", &w) || WriteAVIFrame(w, bitmap.get())) _exit(15);
        limit.rlim_cur = static_cast<rlim_t>(w->progress->end);
        setrlimit(RLIMIT_FSIZE, &limit);
        _exit(FinishAVIWriter(w) == ERR_WRITE ? 0 : 16);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    ASSERT_EQ(WEXITSTATUS(status), 0);
    Parsed p = Parse(path);
    EXPECT_EQ(U32(p.b, p.header[0].data() + 16), 2u);
    EXPECT_EQ(p.idx1->size, 64u);
    EXPECT_EQ(p.riffs[0].end(), p.b.size());
    if (!imagefixtures::HaveTool("ffprobe")) GTEST_SKIP() << "no ffprobe";
    EXPECT_NE(avitest::Probe(path).find("nb_read_frames=2"), std::string::npos) << avitest::Probe(path);
    EXPECT_EQ(avitest::Capture("ffmpeg -v error -i '" + path + "' -f null - 2>&1"), "");
}

// Over a gigabyte for real (CTest label "slow"; set QB_SLOW_TESTS=1 to run
// it directly).
TEST(AVIWriterSlowTest, AFileBeyondAGigabyteContinuesInAVIXRIFFs) {
    if (!std::getenv("QB_SLOW_TESTS")) GTEST_SKIP() << "slow";
    imagefixtures::ScratchDir dir;
    const std::string path = dir.File("big.avi");
    qbAVIWriter* w = nullptr;
    // One frame a second: 176,400 bytes of silence each, plus the noise.
    ASSERT_EQ(BeginAVIWriter(path.c_str(), 1, 1024, 768, 100, "big", &w), 0);
    BitmapPtr bitmap = avitest::MakeBitmap(imagefixtures::TestPicture(1024, 768, 7), 1024, 768);
    int frames = 0;
    while (w->progress->end < 1100000000) {
        ASSERT_EQ(WriteAVIFrame(w, bitmap.get()), 0);
        ++frames;
    }
    ASSERT_EQ(FinishAVIWriter(w), 0);
    const Bytes b = imagefixtures::ReadBytes(path);
    const std::vector<Chunk> riffs = Children(b, 0, b.size());
    ASSERT_EQ(riffs.size(), 2u);
    EXPECT_EQ(riffs[1].type, "AVIX");
    EXPECT_NE(Find(Children(b, riffs[0]), "idx1"), nullptr);
    EXPECT_EQ(Find(Children(b, riffs[1]), "idx1"), nullptr);
    EXPECT_GT(riffs[0].size, 1000000000u);
    if (!imagefixtures::HaveTool("ffprobe")) GTEST_SKIP() << "no ffprobe";
    EXPECT_NE(avitest::Probe(path).find("nb_read_frames=" + std::to_string(frames)), std::string::npos);
}

}  // namespace
