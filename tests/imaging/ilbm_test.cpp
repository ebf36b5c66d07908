// The ILBM reader and writer on hand-built files: bodies, display modes,
// key colours, refusals, ByteRun1 packing, and the loader chain.
#include <gtest/gtest.h>

#include <cstring>
#include <iterator>
#include <random>

#include "core/errcodes.h"
#include "core/errors.h"
#include "imagefixtures.h"
#include "ilbmfixtures.h"
#include "imaging/ilbm.h"
#include "imaging/loaderchain.h"

using namespace ilbmfixtures;
using imagefixtures::ScratchDir;
using imagefixtures::WriteBytes;

namespace {

std::vector<uint32_t> Indices(uint32_t width, uint32_t height, uint32_t count, uint32_t seed) {
    std::mt19937 rng(seed);
    std::vector<uint32_t> v(width * height);
    for (auto& i : v) i = rng() % count;
    return v;
}

std::vector<uint32_t> Colours(uint32_t count, uint32_t seed) {
    std::mt19937 rng(seed);
    std::vector<uint32_t> v(count);
    for (auto& c : v) c = rng() & 0xFFFFFF;
    return v;
}

struct Reading {
    int err = 0;
    ILBMReadRequest r;
};

Reading Read(const ScratchDir& dir, const Bytes& file, ILBMReadRequest r = {}) {
    const std::string path = dir.File("pic.iff");
    WriteBytes(path, file);
    Reading out;
    qbFilePtr f(FileOpen(path.c_str(), kFileModeRead, nullptr));
    out.r = std::move(r);
    out.err = ReadILBM(f.get(), &out.r);
    return out;
}

void ExpectPixels(const Reading& got, const std::vector<uint32_t>& want) {
    ASSERT_EQ(got.err, 0);
    ASSERT_TRUE(got.r.pixels);
    for (size_t i = 0; i < want.size(); ++i) ASSERT_EQ(got.r.pixels[i], want[i]) << "pixel " << i;
}

std::vector<uint32_t> Map(const std::vector<uint32_t>& indices, const std::vector<uint32_t>& palette) {
    std::vector<uint32_t> v;
    for (uint32_t i : indices) v.push_back(i < palette.size() ? palette[i] : 0);
    return v;
}

TEST(ILBMReadTest, PlainRunAndMaskedBodiesDecodeAlike) {
    ScratchDir dir;
    const uint32_t w = 13, h = 5, planes = 4;
    const auto idx = Indices(w, h, 16, 1);
    const auto pal = Colours(16, 2);
    for (bool mask : {false, true})
        for (uint32_t compression : {0u, 1u}) {
            SCOPED_TRACE(testing::Message() << "mask " << mask << " compression " << compression);
            Bytes body = PlainBody(idx, w, h, planes, mask);
            if (compression) body = LiteralRuns(body, 2);
            const Header hd{w, h, planes, mask ? 1u : 0u, compression, 0};
            const Reading got = Read(dir, Form({Bmhd(hd), Cmap(pal), Chunk("BODY", body)}));
            EXPECT_EQ(got.r.width, 13);
            EXPECT_EQ(got.r.key, -1);
            ExpectPixels(got, Map(idx, pal));
        }
}

TEST(ILBMReadTest, RunsEndAtTheRowAndProbeStopsAtTheHeader) {
    ScratchDir dir;
    // A repeat of 5 into a 2-byte row fills it; the next row starts afresh.
    const Bytes body{0xFC, 0xFF, 0xFF, 0x00};
    const Header hd{16, 2, 1, 0, 1, 0};
    const Reading got = Read(dir, Form({Bmhd(hd), Cmap({0x000000, 0xFFFFFF}), Chunk("BODY", body)}));
    std::vector<uint32_t> want(32, 0xFFFFFF);
    std::fill(want.begin() + 16, want.end(), 0);
    ExpectPixels(got, want);

    ILBMReadRequest probe;
    probe.probe = true;
    const Reading p = Read(dir, Form({Bmhd({300, 200, 8, 0, 1, 0})}), std::move(probe));
    EXPECT_EQ(p.err, 0);
    EXPECT_EQ(p.r.width, 300);
    EXPECT_EQ(p.r.height, 200);
    EXPECT_FALSE(p.r.pixels);
}

TEST(ILBMReadTest, ExtraHalfBriteFromACamgAfterTheBody) {
    ScratchDir dir;
    const uint32_t w = 64, h = 1;
    std::vector<uint32_t> idx(64);
    for (uint32_t i = 0; i < 64; ++i) idx[i] = i;
    auto pal = Colours(32, 3);
    const Bytes file = Form({Bmhd({w, h, 6, 0, 0, 0}), Cmap(pal), Chunk("BODY", PlainBody(idx, w, h, 6)),
                             Camg(0x80)});
    ILBMReadRequest r;
    r.wantPaletteCopy = true;
    const Reading got = Read(dir, file, std::move(r));
    for (uint32_t i = 0; i < 32; ++i) pal.push_back((pal[i] >> 1) & 0x7F7F7F);
    ExpectPixels(got, pal);
    ASSERT_TRUE(got.r.paletteCopy);
    EXPECT_EQ(got.r.paletteCopy[40], pal[40]);
}

TEST(ILBMReadTest, HoldAndModifyRowsStartBlack) {
    ScratchDir dir;
    std::vector<uint32_t> pal(64);
    pal[3] = 0x102030;
    pal[50] = 0xABCDEF;
    {
        // HAM6: blue 5, red 9, green 15, palette 3; the second row starts
        // with green alone.
        const std::vector<uint32_t> idx{0x15, 0x29, 0x3F, 0x03, 0x37, 0x00, 0x00, 0x00};
        const Reading got = Read(dir, Form({Bmhd({4, 2, 6, 0, 1, 0}), Camg(0x800), Cmap(pal),
                                            Chunk("BODY", LiteralRuns(PlainBody(idx, 4, 2, 6), 2))}));
        ExpectPixels(got, {0x000050, 0x900050, 0x90F050, 0x102030, 0x007000, 0, 0, 0});
        EXPECT_EQ(got.r.key, -1);
    }
    {
        const std::vector<uint32_t> idx{0x41, 0x80 | 0x3F, 0xC0 | 0x20, 50};
        const Reading got = Read(dir, Form({Bmhd({4, 1, 8, 0, 0, 0}), Camg(0x800), Cmap(pal),
                                            Chunk("BODY", PlainBody(idx, 4, 1, 8))}));
        ExpectPixels(got, {0x000004, 0xFC0004, 0xFC8004, 0xABCDEF});
    }
}

TEST(ILBMReadTest, DeepPicturesNeedNoPalette) {
    ScratchDir dir;
    const uint32_t w = 9, h = 3;
    const auto rgb = Colours(w * h, 4);
    std::vector<uint32_t> values;
    for (uint32_t c : rgb) values.push_back((c >> 16) | (c & 0xFF00) | (c & 0xFF) << 16);
    for (uint32_t compression : {0u, 1u}) {
        Bytes body = PlainBody(values, w, h, 24, true);
        if (compression) body = LiteralRuns(body, 2);
        ILBMReadRequest r;
        r.wantPaletteCopy = true;
        r.mode1 = true;
        const Reading got = Read(dir, Form({Bmhd({w, h, 24, 1, compression, 0}), Chunk("BODY", body)}), std::move(r));
        ExpectPixels(got, rgb);
        EXPECT_FALSE(got.r.paletteCopy);
        EXPECT_EQ(got.r.key, -1);
    }
}

TEST(ILBMReadTest, KeyColours) {
    ScratchDir dir;
    const uint32_t w = 5, h = 2;
    const auto idx = Indices(w, h, 4, 5);
    std::vector<uint32_t> pal{0x112233, 0xA8A8A8, 0xA8A8B7, 0x445566};
    auto file = [&](uint32_t planes, uint32_t masking, uint32_t transparent) {
        return Form({Bmhd({w, h, planes, masking, 0, transparent}), Cmap(pal),
                     Chunk("BODY", PlainBody(idx, w, h, planes))});
    };
    {
        // A caller's palette replaces entries up to its first 0xFFFFFFFF and
        // gets the merged palette back.
        std::vector<uint32_t> caller(256, 0xFFFFFFFF);
        caller[0] = 0x0000FF;
        caller[1] = 0x00FF00;
        ILBMReadRequest r;
        r.palette = caller.data();
        r.mode1 = true;
        const Reading got = Read(dir, file(2, 2, 3), std::move(r));
        ExpectPixels(got, Map(idx, {0x0000FF, 0x00FF00, pal[2], pal[3]}));
        EXPECT_EQ(got.r.key, -1);
        EXPECT_EQ(caller[2], pal[2]);
        EXPECT_EQ(caller[4], 0u);
    }
    {
        // One plane, a caller colour: entry 0's colour is the key and the
        // set pixels take the caller colour.
        ILBMReadRequest r;
        r.callerColour = 0xFF00FF;
        const auto bits = Indices(w, h, 2, 6);
        const Reading got = Read(dir,
                                 Form({Bmhd({w, h, 1, 0, 0, 0}), Cmap(pal), Chunk("BODY", PlainBody(bits, w, h, 1))}),
                                 std::move(r));
        ExpectPixels(got, Map(bits, {0x112233, 0xFF00FF}));
        EXPECT_EQ(got.r.key, 0x112233);
    }
    {
        // Masking 2 with mode 1: the first free colour from 0xA8A8A8 in
        // steps of 15 goes to the transparent index.
        ILBMReadRequest r;
        r.mode1 = true;
        r.wantPaletteCopy = true;
        const Reading got = Read(dir, file(2, 2, 3), std::move(r));
        EXPECT_EQ(got.r.key, 0xA8A8C6);
        ExpectPixels(got, Map(idx, {pal[0], pal[1], pal[2], 0xA8A8C6}));
        EXPECT_EQ(got.r.paletteCopy[3], 0xA8A8C6u);
    }
    for (int mode : {0, 1}) {
        // Without a mode, or with a transparent index beyond the palette,
        // there is no key.
        ILBMReadRequest r;
        r.mode2 = mode == 1;
        const Reading got = Read(dir, file(2, 2, mode ? 300 : 3), std::move(r));
        EXPECT_EQ(got.r.key, -1);
        ExpectPixels(got, Map(idx, pal));
    }
}

TEST(ILBMReadTest, RefusesWhatItCannotDecode) {
    ScratchDir dir;
    const auto idx = Indices(4, 2, 2, 7);
    const Bytes body = PlainBody(idx, 4, 2, 1);
    const Bytes cmap = Cmap({0, 0xFFFFFF});
    for (const Bytes& file : {
             Form({Bmhd({4, 2, 12, 0, 0, 0}), Chunk("BODY", PlainBody(idx, 4, 2, 12))}),  // 9-23 planes
             Form({Bmhd({4, 2, 25, 0, 0, 0}), Chunk("BODY", PlainBody(idx, 4, 2, 25))}),
             Form({Bmhd({0, 2, 1, 0, 0, 0}), cmap, Chunk("BODY", body)}),           // no width
             Form({Bmhd({4, 2, 1, 0, 0, 0}), Chunk("BODY", body)}),                 // no CMAP
             Form({Bmhd({4, 2, 1, 0, 0, 0}), cmap}),                                // no BODY
             Form({Bmhd({4, 2, 1, 0, 1, 0}), cmap, Chunk("BODY", Bytes{0x01, 0xFF})}),  // short runs
             Form({cmap, Chunk("BODY", body)}),                                     // no BMHD
         }) {
        const Reading got = Read(dir, file);
        EXPECT_EQ(got.err, ERR_LOADPICTURE2);
        EXPECT_FALSE(got.r.pixels);
    }
}

TEST(ByteRun1Test, PackingRulesAndRoundTrip) {
    auto pack = [](const Bytes& row) {
        Bytes out(ByteRun1WorstCase(row.size()));
        out.resize(PackByteRun1Row(row.data(), row.size(), out.data()));
        return out;
    };
    EXPECT_EQ(pack({7}), (Bytes{0, 7}));
    EXPECT_EQ(pack({1, 1, 2}), (Bytes{2, 1, 1, 2}));
    EXPECT_EQ(pack({1, 2, 2, 2}), (Bytes{0, 1, 0xFE, 2}));
    Bytes long_run(300, 9);
    EXPECT_EQ(pack(long_run), (Bytes{0x81, 9, 0x81, 9, 0xD5, 9}));
    Bytes literal(130);
    for (size_t i = 0; i < literal.size(); ++i) literal[i] = static_cast<uint8_t>(i);
    const Bytes packed = pack(literal);
    EXPECT_EQ(packed.size(), 132u);
    EXPECT_EQ(packed[0], 127);
    EXPECT_EQ(packed[129], 1);

    std::mt19937 rng(8);
    for (int round = 0; round < 200; ++round) {
        Bytes row(1 + rng() % 600);
        for (auto& b : row) b = static_cast<uint8_t>(rng() % 3 ? row[0] + rng() % 2 : rng());
        const Bytes p = pack(row);
        ASSERT_LE(p.size(), ByteRun1WorstCase(row.size()));
        Bytes back(row.size());
        ASSERT_EQ(UnpackByteRun1(p.data(), p.size(), back.data(), back.size()), p.size());
        ASSERT_EQ(back, row);
    }
}

TEST(ILBMWriteTest, OddSizesPadAndReadBack) {
    ScratchDir dir;
    const std::string path = dir.File("out.iff");
    for (int width : {1, 17, 40, 300}) {
        const int height = 3;
        auto pixels = imagefixtures::TestPicture(width, height, 9, true);
        ASSERT_EQ(WriteILBM(path.c_str(), nullptr, pixels.data(), width, height, width * 4), 0);
        const Bytes file = imagefixtures::ReadBytes(path);
        auto be32 = [&](size_t at) {
            return uint32_t{file[at]} << 24 | uint32_t{file[at + 1]} << 16 | uint32_t{file[at + 2]} << 8 |
                   file[at + 3];
        };
        const uint32_t body = be32(44);
        EXPECT_EQ(file.size(), 48 + body + (body & 1));
        EXPECT_EQ(be32(4), 40 + body + (body & 1));
        EXPECT_EQ(file[48 - 8], 'B');
        // Every field of the header, the page as big as the picture.
        const auto hi = [](int v) { return static_cast<uint8_t>(v >> 8); };
        const auto lo = [](int v) { return static_cast<uint8_t>(v); };
        const Bytes header = {'B', 'M', 'H', 'D', 0, 0, 0, 20, hi(width), lo(width), hi(height), lo(height), 0, 0,
                              0, 0, 24, 0, 1, 0, 0, 0, 1, 1, hi(width), lo(width), hi(height), lo(height)};
        EXPECT_EQ(Bytes(file.begin() + 12, file.begin() + 40), header) << width;
        qbFilePtr f(FileOpen(path.c_str(), kFileModeRead, nullptr));
        ILBMReadRequest r;
        ASSERT_EQ(ReadILBM(f.get(), &r), 0);
        for (auto& p : pixels) p &= 0xFFFFFF;
        for (size_t i = 0; i < pixels.size(); ++i) ASSERT_EQ(r.pixels[i], pixels[i]);
    }
    const uint32_t one = 0;
    EXPECT_EQ(WriteILBM(dir.File("wide.iff").c_str(), nullptr, &one, 65536, 1, 4), ERR_WRONGUSAGE);
    EXPECT_FALSE(std::filesystem::exists(dir.File("wide.iff")));
    EXPECT_EQ(WriteILBM(dir.File("no/such/dir.iff").c_str(), nullptr, &one, 1, 1, 4), ERR_WRITEFILE);
}

TEST(ILBMLoaderChainTest, LoadsWithKeyAndPaletteCopy) {
    ScratchDir dir;
    const auto idx = Indices(6, 4, 4, 10);
    const std::vector<uint32_t> pal{0x010203, 0x040506, 0x070809, 0x0A0B0C};
    const std::string path = dir.File("chain.iff");
    WriteBytes(path, Form({Bmhd({6, 4, 2, 2, 0, 1}), Cmap(pal), Chunk("BODY", PlainBody(idx, 6, 4, 2))}));
    qbInbuiltLoadResult out;
    ASSERT_EQ(LoadImageInbuilt(path.c_str(), "inbuilt", nullptr, kImageOpenMode, nullptr, kNoCallerColour, 1, false,
                               true, &out),
              0);
    EXPECT_EQ(out.native, 0);
    EXPECT_EQ(out.image->format, kImageFormatILBM);
    EXPECT_EQ(out.transparency, 0xA8A8A8);
    ASSERT_TRUE(out.paletteCopy);
    EXPECT_EQ(out.paletteCopy[1], 0xA8A8A8u);
    const uint32_t* px = GetImageRecordData(out.image.get());
    for (size_t i = 0; i < idx.size(); ++i) EXPECT_EQ(px[i], idx[i] == 1 ? 0xA8A8A8u : pal[idx[i]]);

    WriteBytes(path, Form({Bmhd({6, 4, 12, 0, 0, 0}), Chunk("BODY", PlainBody(idx, 6, 4, 12))}));
    qbInbuiltLoadResult refused;
    EXPECT_EQ(LoadImageInbuilt(path.c_str(), "inbuilt", nullptr, kImageOpenMode, nullptr, kNoCallerColour, 0, false,
                               false, &refused),
              ERR_LOADPICTURE2);
    EXPECT_EQ(std::string(GetErrorDetail()), path);
}

}  // namespace

// The chunk search and the row unpacker work on the file's read-ahead bytes
// in place; ids and commands that straddle its end, in stdio files larger
// than the read-ahead and in memory files, must read as byte by byte.
TEST(ILBMReadAheadTest, ChunkSearchAndRowsAcrossTheReadAhead) {
    constexpr size_t kReadAhead = 32768;
    ScratchDir dir;
    std::mt19937 rng(11);
    Bytes stream(12);
    // Each scan starts a fresh read-ahead where it starts (the size query
    // drops it); the ids end at every place around its end, with bytes of
    // them scattered in between.
    const char* const ids[] = {"CAMG", "CMAP", "BODY", "CAMG", "CMAP", "BODY"};
    const int lastByteAfterEnd[] = {0, 1, 2, 3, 4, -2};
    for (size_t k = 0; k < std::size(ids); ++k) {
        const size_t start = stream.size() + kReadAhead + lastByteAfterEnd[k] - 3;
        while (stream.size() < start)
            stream.push_back(static_cast<uint8_t>(rng() % 16 ? rng() & 0x7F : "CAMGPODX"[rng() % 8]));
        stream.insert(stream.end(), ids[k], ids[k] + 4);
    }
    auto reference = [&](size_t from, const char* id) -> int64_t {
        for (size_t end = from + 3; end < stream.size(); ++end) {
            if (std::memcmp(&stream[end - 3], id, 4) == 0) return static_cast<int64_t>(end + 1);
            if (std::memcmp(&stream[end - 3], "BODY", 4) == 0) return -1;
        }
        return -1;
    };
    const std::string path = dir.File("scan.bin");
    WriteBytes(path, stream);
    ASSERT_EQ(RegisterMemoryBuffer(stream.data(), stream.size()), 0);
    for (const std::string& name : {path, MakeMemoryName(stream.data(), stream.size())}) {
        qbFilePtr f(FileOpen(name.c_str(), kFileModeRead, nullptr));
        ASSERT_TRUE(f);
        int64_t from = 12;
        for (const char* id : ids) {
            FileSeek(f.get(), from, kSeekBeginning);
            const int64_t want = reference(static_cast<size_t>(from), id);
            ASSERT_GT(want, 0) << id;
            ASSERT_TRUE(FindIFFChunk(f.get(), id)) << name << " " << id << " from " << from;
            EXPECT_EQ(FileSeek(f.get(), 0, kSeekCurrent), want) << id;
            from = want;
        }
    }

    // Rows of random commands (runs, literals, skips, literals longer than
    // the row) unpacked from the file agree with the in-memory unpacker.
    Bytes packed;
    const size_t rowBytes = 333;
    for (int row = 0; packed.size() < 3 * kReadAhead; ++row) {
        for (size_t at = 0; at < rowBytes;) {
            const uint32_t kind = rng() % 9;
            if (kind == 0) {
                packed.push_back(0x80);
            } else if (kind < 5) {
                const size_t n = 1 + rng() % 128;
                packed.push_back(static_cast<uint8_t>(n - 1));
                for (size_t i = 0; i < n; ++i) packed.push_back(static_cast<uint8_t>(rng()));
                at += n;
            } else {
                const size_t n = 2 + rng() % 127;
                packed.push_back(static_cast<uint8_t>(1 - static_cast<int>(n)));
                packed.push_back(static_cast<uint8_t>(rng()));
                at += n;
            }
        }
    }
    WriteBytes(path, packed);
    ASSERT_EQ(RegisterMemoryBuffer(packed.data(), packed.size()), 0);
    for (const std::string& name : {path, MakeMemoryName(packed.data(), packed.size())}) {
        qbFilePtr f(FileOpen(name.c_str(), kFileModeRead, nullptr));
        ASSERT_TRUE(f);
        size_t in = 0;
        Bytes got(rowBytes), want(rowBytes);
        while (in < packed.size()) {
            const size_t used = UnpackByteRun1(packed.data() + in, packed.size() - in, want.data(), rowBytes);
            ASSERT_NE(used, 0u);
            ASSERT_TRUE(UnpackByteRun1Row(f.get(), got.data(), rowBytes));
            ASSERT_EQ(got, want) << name << " at " << in;
            in += used;
            ASSERT_EQ(FileSeek(f.get(), 0, kSeekCurrent), static_cast<int64_t>(in));
        }
        EXPECT_FALSE(UnpackByteRun1Row(f.get(), got.data(), rowBytes));
    }
    UnregisterMemoryBuffer(packed.data());
    UnregisterMemoryBuffer(stream.data());
}
