// The AVI anim reader through the anim-format layer: DIB and Motion-JPEG
// frames from our own builder and from ffmpeg, checked against ffmpeg's own
// decode; indexes, scanning, and the headers it refuses.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>

#include "animtest.h"
#include "avibuilder.h"
#include "claimedchunks.h"
#include "imaging/codechooks.h"
#include "media/avireader.h"
#include "platform/imagecodecs.h"
#include "platform/platform.h"
#include "peak_memory.h"

using animtest::Frame;
using animtest::Open;
using avibuilder::Bytes;

namespace {

// Motion-JPEG frames decode through the platform's image decoder: the
// Linux backend with the picture layer's JPEG reader, as the player runs.
class LinuxDecoder {
public:
    LinuxDecoder() : old_(&ActivePlatformOps()) {
        SetPlatformBackend(&LinuxPlatformOps());
        InstallImageCodecHooks();
    }
    ~LinuxDecoder() { SetPlatformBackend(old_); }

private:
    const qbPlatformOps* old_;
};

std::vector<uint32_t> Pixels(int32_t w, int32_t h, uint32_t seed) {
    std::vector<uint32_t> p;
    for (int32_t i = 0; i < w * h; ++i) {
        seed = seed * 1664525u + 1013904223u;
        p.push_back(seed >> 8);
    }
    return p;
}

std::string WriteAvi(const imagefixtures::ScratchDir& dir, const std::string& name, const avibuilder::Layout& layout,
                     const std::vector<Bytes>& frames) {
    const std::string path = dir.File(name);
    imagefixtures::WriteBytes(path, avibuilder::Build(layout, frames));
    return path;
}

// ffmpeg's own decode of every frame, as 0x00RRGGBB.
std::vector<std::vector<uint32_t>> FfmpegFrames(const imagefixtures::ScratchDir& dir, const std::string& path,
                                                int32_t w, int32_t h) {
    const std::string raw = dir.File("oracle.raw");
    if (imagefixtures::RunQuietly("ffmpeg -v error -nostdin -y -idct int -i " + path + " -sws_flags bilinear+full_chroma_int+full_chroma_inp+accurate_rnd -f rawvideo -pix_fmt bgra " + raw) != 0)
        return {};
    const Bytes bytes = imagefixtures::ReadBytes(raw);
    const size_t frameBytes = static_cast<size_t>(w) * static_cast<size_t>(h) * 4;
    std::vector<std::vector<uint32_t>> frames;
    for (size_t at = 0; at + frameBytes <= bytes.size(); at += frameBytes) {
        std::vector<uint32_t> f(static_cast<size_t>(w) * static_cast<size_t>(h));
        for (size_t i = 0; i < f.size(); ++i) {
            const uint8_t* p = &bytes[at + 4 * i];
            f[i] = static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[1]) << 8 | p[0];
        }
        frames.push_back(f);
    }
    return frames;
}

int MaxChannelDifference(const std::vector<uint32_t>& a, const std::vector<uint32_t>& b) {
    if (a.size() != b.size()) return 256;
    int worst = 0;
    for (size_t i = 0; i < a.size(); ++i)
        for (int s = 0; s < 24; s += 8)
            worst = std::max(worst, std::abs(static_cast<int>((a[i] >> s) & 0xFF) - static_cast<int>((b[i] >> s) & 0xFF)));
    return worst;
}

// The frame chunks of the movi list (a flat one, as ffmpeg writes it).
std::vector<Bytes> MoviChunks(const Bytes& file) {
    std::vector<Bytes> chunks;
    const uint8_t movi[] = {'m', 'o', 'v', 'i'};
    auto at = std::search(file.begin(), file.end(), movi, movi + 4);
    if (at == file.end()) return chunks;
    size_t pos = static_cast<size_t>(at - file.begin()) + 4;
    while (pos + 8 <= file.size()) {
        uint32_t size;
        std::memcpy(&size, &file[pos + 4], 4);
        if (std::memcmp(&file[pos], "idx1", 4) == 0 || pos + 8 + size > file.size()) break;
        if (std::memcmp(&file[pos + 2], "dc", 2) == 0)
            chunks.emplace_back(file.begin() + static_cast<long>(pos + 8), file.begin() + static_cast<long>(pos + 8 + size));
        pos += 8 + size + (size & 1);
    }
    return chunks;
}

// The JPEG without its Huffman table segments, its JFIF header named
// "AVI1" as Motion-JPEG writers name it.
Bytes StripTables(const Bytes& jpeg, int* removed) {
    Bytes out(jpeg.begin(), jpeg.begin() + 2);
    size_t pos = 2;
    while (pos + 4 <= jpeg.size() && jpeg[pos + 1] != 0xDA) {
        const size_t length = static_cast<size_t>(jpeg[pos + 2]) << 8 | jpeg[pos + 3];
        if (jpeg[pos + 1] == 0xC4) {
            ++*removed;
        } else {
            const size_t at = out.size();
            out.insert(out.end(), jpeg.begin() + static_cast<long>(pos), jpeg.begin() + static_cast<long>(pos + 2 + length));
            if (jpeg[pos + 1] == 0xE0 && std::memcmp(&out[at + 4], "JFIF", 4) == 0) std::memcpy(&out[at + 4], "AVI1", 4);
        }
        pos += 2 + length;
    }
    out.insert(out.end(), jpeg.begin() + static_cast<long>(pos), jpeg.end());
    return out;
}

}  // namespace

TEST(AVIReaderTest, DibFramesByIndexOrScanInAnyOrder) {
    imagefixtures::ScratchDir dir;
    // Width 5: rows of 15 bytes, stored packed by some writers and padded to
    // 16 by others.
    const int32_t w = 5, h = 3;
    std::vector<std::vector<uint32_t>> pictures;
    for (uint32_t f = 0; f < 4; ++f) pictures.push_back(Pixels(w, h, f + 1));
    struct Case {
        avibuilder::Index index;
        bool padded, rec, audio;
    };
    for (const Case& c : {Case{avibuilder::Index::kRelative, false, false, false},
                          Case{avibuilder::Index::kAbsolute, true, false, true},
                          Case{avibuilder::Index::kNone, true, true, true},
                          Case{avibuilder::Index::kRelative, true, true, false}}) {
        SCOPED_TRACE(std::to_string(static_cast<int>(c.index)) + (c.padded ? " padded" : "") + (c.rec ? " rec" : ""));
        avibuilder::Layout layout;
        layout.width = w;
        layout.height = h;
        layout.index = c.index;
        layout.recLists = c.rec;
        layout.audio = c.audio;
        std::vector<Bytes> frames;
        for (const auto& p : pictures) frames.push_back(avibuilder::Dib(p, w, h, c.padded));
        auto a = Open(WriteAvi(dir, "dib.avi", layout, frames));
        ASSERT_EQ(a.err, 0);
        EXPECT_EQ(a.frames, 4);
        EXPECT_FALSE(IsIFFAnimFile(a.anim.get()));
        for (int f : {0, 1, 2, 3, 0, 2, 1, 3, 3, 0}) EXPECT_EQ(Frame(a, f), pictures[static_cast<size_t>(f)]) << f;
        EXPECT_EQ(GetAnimFileFrameDelay(a.anim.get(), 1), 0u);
        EXPECT_TRUE(Frame(a, 4).empty());
    }
}

TEST(AVIReaderTest, BrokenIndexIsDroppedAndFramesAreScanned) {
    imagefixtures::ScratchDir dir;
    avibuilder::Layout layout;
    // Stream 20 of a file of one stream: the index goes, the frames stay.
    layout.extraIndexEntries = {avibuilder::IndexEntry("20dc", 4, 36)};
    const auto picture = Pixels(4, 3, 9);
    const std::string path = WriteAvi(dir, "idx.avi", layout, {avibuilder::Dib(picture, 4, 3, false)});
    qbAVIReaderPtr reader(OpenAVIReader(FileOpen(path.c_str(), kFileModeRead, nullptr), nullptr, nullptr, nullptr));
    ASSERT_TRUE(reader);
    EXPECT_FALSE(reader->indexed);
    PixelBuffer frame = ReadAVIFrame(reader.get(), 0);
    ASSERT_TRUE(frame);
    EXPECT_EQ(std::vector<uint32_t>(frame.get(), frame.get() + 12), picture);
}

TEST(AVIReaderTest, RefusedHeadersAndFrames) {
    imagefixtures::ScratchDir dir;
    const Bytes dib = avibuilder::Dib(Pixels(4, 3, 1), 4, 3, false);
    const auto refused = [&](const avibuilder::Layout& layout, const std::vector<Bytes>& frames) {
        return Open(WriteAvi(dir, "refused.avi", layout, frames)).err;
    };
    avibuilder::Layout wrongSize;
    wrongSize.strfWidth = 5;
    EXPECT_EQ(refused(wrongSize, {dib}), ERR_OPENANIM2);
    avibuilder::Layout huge;
    huge.width = huge.height = 65535;
    EXPECT_EQ(refused(huge, {dib}), ERR_OPENANIM2);
    avibuilder::Layout codec;
    codec.handler = "XVID";
    EXPECT_EQ(refused(codec, {dib}), ERR_OPENANIM2);
    avibuilder::Layout depth;
    depth.bitCount = 32;
    EXPECT_EQ(refused(depth, {dib}), ERR_OPENANIM2);
    // Every frame takes 8 bytes at least: a count the file cannot hold is a
    // broken header; frames missing at the end are not, and the file has the
    // frames it holds, by its index or by its chunks.
    avibuilder::Layout countless;
    countless.avihFrames = 0x7FFFFFFF;
    EXPECT_EQ(refused(countless, {dib}), ERR_OPENANIM2);
    for (avibuilder::Index index : {avibuilder::Index::kRelative, avibuilder::Index::kNone}) {
        avibuilder::Layout fewer;
        fewer.avihFrames = 3;
        fewer.index = index;
        auto a = Open(WriteAvi(dir, "fewer.avi", fewer, {dib, dib}));
        EXPECT_EQ(a.frames, 2);
        EXPECT_FALSE(Frame(a, 1).empty());
    }
    // A file grown by holes (a sparse file) holds no more chunks than were
    // written: zeros are no chunk.
    avibuilder::Layout claims;
    claims.avihFrames = 0x7FFFFFFF;
    for (avibuilder::Index index : {avibuilder::Index::kRelative, avibuilder::Index::kNone}) {
        claims.index = index;
        const std::string path = WriteAvi(dir, "sparse.avi", claims, {dib});
        ASSERT_EQ(truncate(path.c_str(), int64_t{17} << 30), 0);
        EXPECT_EQ(Open(path).frames, 1);
        const std::string empty = WriteAvi(dir, "holes.avi", claims, {});
        ASSERT_EQ(truncate(empty.c_str(), int64_t{17} << 30), 0);
        EXPECT_EQ(Open(empty).err, ERR_OPENANIM2);
    }

    // A frame of the wrong size, or a Motion-JPEG frame whose segment runs
    // past its chunk, fails alone.
    const LinuxDecoder decoder;
    avibuilder::Layout mjpg;
    mjpg.handler = "MJPG";
    const Bytes cut = {0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x40, 'A', 'V', 'I', '1', 0};
    auto a = Open(WriteAvi(dir, "cut.avi", mjpg, {cut}));
    ASSERT_EQ(a.err, 0);
    EXPECT_TRUE(Frame(a, 0).empty());
    auto b = Open(WriteAvi(dir, "short.avi", avibuilder::Layout{}, {Bytes(dib.begin(), dib.end() - 1), dib}));
    ASSERT_EQ(b.err, 0);
    EXPECT_TRUE(Frame(b, 0).empty());
    EXPECT_FALSE(Frame(b, 1).empty());
}

// A stream format chunk claiming gigabytes that the file holds (as a hole):
// the reader takes the header it uses and skips the rest, so an answer
// costs the file's real bytes, not the claim.
TEST(AVIReaderTest, AStreamFormatClaimingGigabytesCostsWhatItUses) {
    imagefixtures::ScratchDir dir;
    const std::vector<uint32_t> picture = Pixels(4, 3, 7);
    const Bytes file = avibuilder::Build(avibuilder::Layout{}, {avibuilder::Dib(picture, 4, 3, false)});
    const std::string path = dir.File("strf.avi");
    const std::vector<size_t> holders = {0, claimedchunks::Find(file, "LIST", 0), claimedchunks::Find(file, "LIST", 1)};
    ASSERT_TRUE(claimedchunks::WriteClaim(path, file, claimedchunks::Find(file, "strf"), 2'500'000'000u, holders, false));
    int answer = 0;
    EXPECT_LT(PeakGrowth([&] { answer = IsAnimFile(path.c_str(), nullptr, nullptr, kAnimOpenMode); }), 32u << 20);
    EXPECT_EQ(answer, 1);
    auto a = Open(path);
    ASSERT_EQ(a.err, 0);
    EXPECT_EQ(Frame(a, 0), picture);
}

// A Motion-JPEG chunk claiming a gigabyte (a hole) for a 4 x 3 picture is
// a damaged frame refused unread; an index that lists one chunk for many
// frames, or a chunk larger than its entry says, is no index, so a chunk
// costs its bytes once whatever the index claims.
TEST(AVIReaderTest, AFrameCostsWhatItsPictureCanUseAndOnlyOnce) {
    imagefixtures::ScratchDir dir;
    const LinuxDecoder decoder;
    avibuilder::Layout mjpg;
    mjpg.handler = "MJPG";
    mjpg.index = avibuilder::Index::kNone;
    const Bytes jpeg = {0xFF, 0xD8, 0xFF, 0xD9};
    const Bytes file = avibuilder::Build(mjpg, {jpeg});
    const std::string path = dir.File("claim.avi");
    ASSERT_TRUE(claimedchunks::WriteClaim(path, file, claimedchunks::Find(file, "00dc"), 1'000'000'000u,
                                          {0, claimedchunks::Find(file, "LIST", 2)}, false));
    ASSERT_EQ(truncate(path.c_str(), int64_t{1} << 30), 0);  // the hole reaches the claim's end
    std::vector<uint32_t> frame = {1};
    int err = -1;
    EXPECT_LT(PeakGrowth([&] {
                  auto a = Open(path);
                  err = a.err;
                  if (err == 0) frame = Frame(a, 0);
              }),
              64u << 20);
    EXPECT_EQ(err, 0);
    EXPECT_TRUE(frame.empty());

    const std::vector<uint32_t> picture = Pixels(4, 3, 9);
    const Bytes dib = avibuilder::Dib(picture, 4, 3, false);
    avibuilder::Layout repeated;
    repeated.avihFrames = 20;
    for (int i = 0; i < 19; ++i) repeated.extraIndexEntries.push_back(avibuilder::IndexEntry("00dc", 4, 36));
    auto b = Open(WriteAvi(dir, "repeated.avi", repeated, {dib}));
    ASSERT_EQ(b.err, 0);
    EXPECT_EQ(b.frames, 1);
    EXPECT_EQ(Frame(b, 0), picture);

    Bytes listedShort = avibuilder::Build(avibuilder::Layout{}, {dib, dib});
    claimedchunks::Set(&listedShort, claimedchunks::Find(listedShort, "idx1") + 8 + 12, 35, false);
    const std::string shortPath = dir.File("short.avi");
    imagefixtures::WriteBytes(shortPath, listedShort);
    auto c = Open(shortPath);
    ASSERT_EQ(c.err, 0);
    EXPECT_TRUE(Frame(c, 0).empty());
    EXPECT_EQ(Frame(c, 1), picture);
}

TEST(AVIReaderTest, FfmpegFilesMatchFfmpegsDecode) {
    if (!imagefixtures::HaveTool("ffmpeg")) GTEST_SKIP() << "ffmpeg missing";
    const LinuxDecoder decoder;
    imagefixtures::ScratchDir dir;
    const std::string ff = "ffmpeg -v error -nostdin -y -f lavfi -i testsrc=size=";
    struct Case {
        std::string name, size, codec;
        int32_t w, h;
        int tolerance;
    };
    for (const Case& c : {Case{"raw.avi", "33x17", "-c:v rawvideo -pix_fmt bgr24", 33, 17, 0},
                          Case{"mjpeg.avi", "64x48", "-c:v mjpeg -q:v 3", 64, 48, 2}}) {
        SCOPED_TRACE(c.name);
        const std::string path = dir.File(c.name);
        ASSERT_EQ(imagefixtures::RunQuietly(ff + c.size + ":rate=10 -frames:v 6 " + c.codec + " " + path), 0);
        const auto oracle = FfmpegFrames(dir, path, c.w, c.h);
        ASSERT_EQ(oracle.size(), 6u);
        auto a = Open(path);
        ASSERT_EQ(a.err, 0);
        ASSERT_EQ(a.frames, 6);
        for (int f : {0, 1, 2, 3, 4, 5, 0, 4, 2})
            EXPECT_LE(MaxChannelDifference(Frame(a, f), oracle[static_cast<size_t>(f)]), c.tolerance) << "frame " << f;
    }
}

TEST(AVIReaderTest, MotionJpegWithoutHuffmanTablesGetsTheStandardOnes) {
    if (!imagefixtures::HaveTool("ffmpeg")) GTEST_SKIP() << "ffmpeg missing";
    const LinuxDecoder decoder;
    imagefixtures::ScratchDir dir;
    const std::string source = dir.File("std.avi");
    // The encoder's standard tables, which the frames then leave out.
    ASSERT_EQ(imagefixtures::RunQuietly("ffmpeg -v error -nostdin -y -f lavfi -i testsrc=size=48x32:rate=10 "
                                        "-frames:v 2 -c:v mjpeg -huffman default -q:v 4 " + source),
              0);
    const std::vector<Bytes> jpegs = MoviChunks(imagefixtures::ReadBytes(source));
    ASSERT_EQ(jpegs.size(), 2u);
    std::vector<Bytes> stripped;
    int removed = 0;
    for (const Bytes& j : jpegs) stripped.push_back(StripTables(j, &removed));
    ASSERT_GT(removed, 0);
    avibuilder::Layout layout;
    layout.width = 48;
    layout.height = 32;
    layout.handler = "mjpg";
    auto whole = Open(WriteAvi(dir, "whole.avi", layout, jpegs));
    layout.handler = "MJPG";
    auto bare = Open(WriteAvi(dir, "bare.avi", layout, stripped));
    ASSERT_EQ(whole.err, 0);
    ASSERT_EQ(bare.err, 0);
    for (int f : {0, 1}) {
        const auto expected = Frame(whole, f);
        ASSERT_FALSE(expected.empty());
        EXPECT_EQ(Frame(bare, f), expected);
    }
    // Without the picture layer's JPEG reader the platform decoder (FFmpeg)
    // takes the repaired frames: another IDCT, the same picture.
    SetImageCodecHooks(nullptr);
    auto viaFfmpeg = Open(dir.File("bare.avi"));
    const auto other = Frame(viaFfmpeg, 1);
    InstallImageCodecHooks();
    EXPECT_LE(MaxChannelDifference(other, Frame(whole, 1)), 4);
    std::vector<uint8_t> fixed;
    ASSERT_TRUE(FixMotionJPEGFrame(stripped[0].data(), stripped[0].size(), &fixed));
    EXPECT_EQ(fixed.size(), stripped[0].size() + 420);
    EXPECT_EQ(std::memcmp(fixed.data() + 6, "JFIF", 4), 0);
}

namespace {

// The pieces of an AVI put together by hand, for files the layout of
// avibuilder cannot describe.
Bytes Avih(uint32_t frames, uint32_t streams, int32_t w, int32_t h, size_t size = 56) {
    Bytes d(size, 0);
    const auto put = [&](size_t at, uint32_t v) {
        for (size_t i = 0; i < 4 && at + i < d.size(); ++i) d[at + i] = static_cast<uint8_t>(v >> (8 * i));
    };
    put(16, frames);
    put(24, streams);
    put(32, static_cast<uint32_t>(w));
    put(36, static_cast<uint32_t>(h));
    return avibuilder::Chunk("avih", d);
}
Bytes Strh(const std::string& type, const std::string& handler, size_t size = 56) {
    Bytes d;
    avibuilder::Put(&d, type);
    avibuilder::Put(&d, handler);
    d.resize(size, 0);
    return avibuilder::Chunk("strh", d);
}
Bytes VideoStrf(int32_t w, int32_t h, size_t size = 40) {
    Bytes d;
    avibuilder::PutLE(&d, 40, 4);
    avibuilder::PutLE(&d, static_cast<uint32_t>(w), 4);
    avibuilder::PutLE(&d, static_cast<uint32_t>(h), 4);
    avibuilder::PutLE(&d, 1, 2);
    avibuilder::PutLE(&d, 24, 2);
    d.resize(size, 0);
    return avibuilder::Chunk("strf", d);
}
Bytes AudioStrf(uint32_t format) {
    Bytes d;
    for (uint32_t v : {format, 1u}) avibuilder::PutLE(&d, v, 2);
    for (uint32_t v : {8000u, 8000u}) avibuilder::PutLE(&d, v, 4);
    for (uint32_t v : {1u, 8u}) avibuilder::PutLE(&d, v, 2);
    return avibuilder::Chunk("strf", d);
}
Bytes VideoStrl(int32_t w = 4, int32_t h = 3) { return avibuilder::List("strl", {Strh("vids", "DIB "), VideoStrf(w, h)}); }

// RIFF AVI of the header chunks, the movi chunks and, when given, an idx1
// of those entries.
Bytes Riff(const std::vector<Bytes>& hdrl, const std::vector<Bytes>& movi, const std::vector<Bytes>* index = nullptr) {
    Bytes body;
    avibuilder::Put(&body, "AVI ");
    for (const Bytes& c : {avibuilder::List("hdrl", hdrl), avibuilder::List("movi", movi)})
        body.insert(body.end(), c.begin(), c.end());
    if (index) {
        Bytes entries;
        for (const Bytes& e : *index) entries.insert(entries.end(), e.begin(), e.end());
        const Bytes c = avibuilder::Chunk("idx1", entries);
        body.insert(body.end(), c.begin(), c.end());
    }
    return avibuilder::Chunk("RIFF", body);
}

// Where each movi chunk stands, counted from the movi list's type as an
// index counts.
std::vector<uint32_t> MoviOffsets(const std::vector<Bytes>& movi) {
    std::vector<uint32_t> at;
    uint32_t pos = 4;
    for (const Bytes& c : movi) at.push_back(pos), pos += static_cast<uint32_t>(c.size());
    return at;
}

// Header chunks of a 4 x 3 video that is stream 10 of 11, after ten text
// streams: its chunks are "10dc", and names whose stream bytes are not two
// digits could read as 10 (or 9) if taken for numbers.
std::vector<Bytes> ElevenStreams(uint32_t frames) {
    std::vector<Bytes> hdrl = {Avih(frames, 11, 4, 3)};
    for (int i = 0; i < 10; ++i) hdrl.push_back(avibuilder::List("strl", {Strh("txts", "")}));
    hdrl.push_back(VideoStrl());
    return hdrl;
}

}  // namespace

// A chunk is a stream's only when both its stream bytes are digits: names
// around the digits ('/' and ':') that would count as stream 10 are
// skipped by the scan and make an index no index, whatever stands
// around them.
TEST(AVIReaderTest, ChunkNamesWithoutTwoDigitsNameNoStream) {
    imagefixtures::ScratchDir dir;
    std::vector<std::vector<uint32_t>> pictures;
    for (uint32_t f = 0; f < 4; ++f) pictures.push_back(Pixels(4, 3, 50 + f));
    const auto dib = [&](size_t f) { return avibuilder::Dib(pictures[f], 4, 3, false); };
    const auto write = [&](const Bytes& file) {
        const std::string path = dir.File("names.avi");
        imagefixtures::WriteBytes(path, file);
        return path;
    };
    // Scanned: the decoys stand before the frames.
    {
        const std::vector<Bytes> movi = {avibuilder::Chunk("0:dc", dib(2)), avibuilder::Chunk("/Ddc", dib(3)),
                                         avibuilder::Chunk("10dc", dib(0)), avibuilder::Chunk("09wb", Bytes(8, 0x80)),
                                         avibuilder::Chunk("10dc", dib(1))};
        auto a = Open(write(Riff(ElevenStreams(2), movi)));
        ASSERT_EQ(a.err, 0);
        EXPECT_EQ(a.frames, 2);
        for (int f : {0, 1, 0}) EXPECT_EQ(Frame(a, f), pictures[static_cast<size_t>(f)]) << f;
    }
    // Indexed: the index lists the second and third video chunks, the scan
    // finds the first two, so the frames tell which was read. An entry of a
    // stream the file has ("09wb", "rec "), or one past the frames the
    // header counts, keeps the index; any other drops it.
    const std::vector<Bytes> movi = {avibuilder::Chunk("10dc", dib(0)), avibuilder::Chunk("09wb", Bytes(8, 0x80)),
                                     avibuilder::Chunk("10dc", dib(1)), avibuilder::Chunk("10dc", dib(2))};
    const std::vector<uint32_t> at = MoviOffsets(movi);
    struct Case {
        std::string extra;
        uint32_t offset;
        bool kept;
    };
    for (const Case& c : {Case{"", 0, true}, Case{"rec ", at[0], true}, Case{"10dc", at[0], true},
                          Case{"0:dc", at[0], false}, Case{"/Ddc", at[0], false}, Case{"1/dc", at[1], false},
                          Case{"11dc", at[0], false}, Case{"10xx", at[0], false}}) {
        SCOPED_TRACE("extra entry '" + c.extra + "'");
        std::vector<Bytes> index = {avibuilder::IndexEntry("09wb", at[1], 8), avibuilder::IndexEntry("10dc", at[2], 36),
                                    avibuilder::IndexEntry("10dc", at[3], 36)};
        if (!c.extra.empty()) index.push_back(avibuilder::IndexEntry(c.extra, c.offset, 36));
        auto a = Open(write(Riff(ElevenStreams(2), movi, &index)));
        ASSERT_EQ(a.err, 0);
        EXPECT_EQ(a.frames, 2);
        for (int f : {0, 1, 0})
            EXPECT_EQ(Frame(a, f), pictures[static_cast<size_t>(f) + (c.kept ? 1 : 0)]) << f;
    }
}

// Each header the reader needs, broken one way at a time, refuses the
// file; the largest stream count and a video as the last of them open.
TEST(AVIReaderTest, EveryBrokenHeaderRefusesTheFile) {
    imagefixtures::ScratchDir dir;
    const std::vector<uint32_t> picture = Pixels(4, 3, 77);
    const std::vector<Bytes> movi = {avibuilder::Chunk("00dc", avibuilder::Dib(picture, 4, 3, false))};
    const Bytes audio = avibuilder::List("strl", {Strh("auds", ""), AudioStrf(1)});
    const auto open = [&](const std::vector<Bytes>& hdrl, const std::vector<Bytes>& chunks) {
        const std::string path = dir.File("headers.avi");
        imagefixtures::WriteBytes(path, Riff(hdrl, chunks));
        return Open(path);
    };
    struct Case {
        std::string what;
        std::vector<Bytes> hdrl;
    };
    const std::vector<Case> refused = {
        {"main header short", {Avih(1, 1, 4, 3, 52), VideoStrl()}},
        {"main header long", {Avih(1, 1, 4, 3, 60), VideoStrl()}},
        {"no frames", {Avih(0, 1, 4, 3), VideoStrl()}},
        {"17 streams declared", {Avih(1, 17, 4, 3), VideoStrl()}},
        {"no width", {Avih(1, 1, 0, 3), VideoStrl(0, 3)}},
        {"no height", {Avih(1, 1, 4, 0), VideoStrl(4, 0)}},
        {"negative width", {Avih(1, 1, -4, 3), VideoStrl(-4, 3)}},
        {"stream header short", {Avih(1, 1, 4, 3), avibuilder::List("strl", {Strh("vids", "DIB ", 52), VideoStrf(4, 3)})}},
        {"format before its stream", {Avih(1, 1, 4, 3), VideoStrf(4, 3), VideoStrl()}},
        {"video format short", {Avih(1, 1, 4, 3), avibuilder::List("strl", {Strh("vids", "DIB "), VideoStrf(4, 3, 36)})}},
        {"video of another height", {Avih(1, 1, 4, 3), VideoStrl(4, 2)}},
        {"compressed sound", {Avih(1, 2, 4, 3), VideoStrl(), avibuilder::List("strl", {Strh("auds", ""), AudioStrf(2)})}},
        {"sound only", {Avih(1, 1, 4, 3), audio}},
        {"a list of no type", {Avih(1, 1, 4, 3), avibuilder::Chunk("LIST", Bytes(2, 0)), VideoStrl()}},
    };
    for (const Case& c : refused) EXPECT_EQ(open(c.hdrl, movi).err, ERR_OPENANIM2) << c.what;
    EXPECT_EQ(open({Avih(1, 1, 4, 3), VideoStrl()}, {}).err, ERR_OPENANIM2) << "no frame chunk";
    // Sixteen streams, the video last: its chunks are "15dc".
    std::vector<Bytes> sixteen = {Avih(1, 16, 4, 3)};
    for (int i = 0; i < 15; ++i) sixteen.push_back(audio);
    sixteen.push_back(VideoStrl());
    const std::vector<Bytes> frame15 = {avibuilder::Chunk("15dc", avibuilder::Dib(picture, 4, 3, false))};
    auto a = open(sixteen, frame15);
    ASSERT_EQ(a.err, 0);
    EXPECT_EQ(Frame(a, 0), picture);
    // Seventeen, the video first, would play but for the count.
    sixteen.pop_back();
    sixteen.insert(sixteen.begin() + 1, {VideoStrl(), audio});
    EXPECT_EQ(open(sixteen, movi).err, ERR_OPENANIM2) << "17 stream headers";
    // A movi list that is not there: the headers run to the file's end.
    const std::string path = dir.File("nomovi.avi");
    Bytes file = Riff({Avih(1, 1, 4, 3), VideoStrl()}, movi);
    file.resize(claimedchunks::Find(file, "LIST", 2));
    claimedchunks::Set(&file, 4, static_cast<uint32_t>(file.size() - 8), false);
    imagefixtures::WriteBytes(path, file);
    EXPECT_EQ(Open(path).err, ERR_OPENANIM2) << "no movi list";
}

// A Motion-JPEG frame whose picture is not of the stream's size fails
// alone, through the picture layer's JPEG reader and through the platform
// decoder.
TEST(AVIReaderTest, AMotionJpegFrameOfAnotherSizeFailsAlone) {
    if (!imagefixtures::HaveTool("ffmpeg")) GTEST_SKIP() << "ffmpeg missing";
    const LinuxDecoder decoder;
    imagefixtures::ScratchDir dir;
    std::vector<Bytes> jpegs;
    for (const char* size : {"16x8", "16x9", "17x8"}) {
        const std::string path = dir.File(std::string(size) + ".jpg");
        ASSERT_EQ(imagefixtures::RunQuietly("ffmpeg -v error -nostdin -y -f lavfi -i testsrc=size=" + std::string(size) +
                                            " -frames:v 1 -c:v mjpeg " + path),
                  0);
        jpegs.push_back(imagefixtures::ReadBytes(path));
    }
    avibuilder::Layout layout;
    layout.width = 16;
    layout.height = 8;
    layout.handler = "MJPG";
    const std::string path = WriteAvi(dir, "sizes.avi", layout, jpegs);
    for (bool hooks : {true, false}) {
        SCOPED_TRACE(hooks ? "JPEG reader" : "platform decoder");
        if (!hooks) SetImageCodecHooks(nullptr);
        auto a = Open(path);
        ASSERT_EQ(a.err, 0);
        EXPECT_FALSE(Frame(a, 0).empty());
        EXPECT_TRUE(Frame(a, 1).empty());
        EXPECT_TRUE(Frame(a, 2).empty());
        EXPECT_FALSE(Frame(a, 0).empty());
    }
    InstallImageCodecHooks();
}
