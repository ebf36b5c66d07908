// The GIF reader and writer: our files read back by our reader, hand-made
// streams for the decoder's rules, and the frame rules (interlace,
// transparency, disposals, restarts).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "core/errcodes.h"
#include "imaging/gif.h"
#include "imagefixtures.h"
#include "giffixtures.h"

using namespace imagefixtures;
using namespace giffixtures;

namespace {

TEST(GIFTest, WrittenFramesReadBackExactly) {
    ScratchDir dir;
    const std::string path = dir.File("anim.gif");
    std::mt19937 rng(3);
    struct Case {
        int32_t colours;
        bool differencing;
    };
    // Colour counts that give every code size from 2 to 8 bits; a large
    // noisy frame takes the code width through to 12 bits and clears.
    const std::vector<Case> cases = {{2, false}, {3, false}, {7, true}, {16, true}, {33, false}, {100, true}, {256, false}};
    constexpr int32_t kW = 97, kH = 61;
    qbGIFWriter* w = nullptr;
    ASSERT_EQ(WriteGIF(path.c_str(), nullptr, kW, kH, &w), 0);
    std::vector<std::vector<uint32_t>> expected;
    for (const Case& c : cases) {
        std::vector<uint32_t> palette(static_cast<size_t>(c.colours));
        for (auto& p : palette) p = rng() & 0xFFFFFF;
        std::vector<uint8_t> indices(kW * kH);
        for (size_t i = 0; i < indices.size(); ++i)
            indices[i] = static_cast<uint8_t>(i % 5 == 0 ? rng() % static_cast<uint32_t>(c.colours) : (i / 7) % static_cast<uint32_t>(c.colours));
        qbGIFFrame f;
        f.indices = indices.data();
        f.width = kW;
        f.height = kH;
        f.palette = palette.data();
        f.colourCount = c.colours;
        f.delayMs = 40;
        f.differencing = c.differencing;
        ASSERT_EQ(WriteAnimGIF(w, f), 0);
        std::vector<uint32_t> argb(indices.size());
        for (size_t i = 0; i < indices.size(); ++i) argb[i] = 0xFF000000u | palette[indices[i]];
        expected.push_back(argb);
    }
    ASSERT_EQ(CloseGIFWriter(w), 0);

    Reader r = OpenReader(path);
    ASSERT_TRUE(r.reader);
    EXPECT_EQ(r.frames, static_cast<int32_t>(cases.size()));
    for (uint32_t k = 0; k < cases.size(); ++k) {
        EXPECT_EQ(Frame(r, k), expected[k]) << "frame " << k;
        EXPECT_EQ(GetGIFFrameDelay(r.reader.get(), k), 40u);
    }
    // Backwards and at random, every frame stays the same.
    for (uint32_t k : {6u, 2u, 0u, 5u, 3u}) EXPECT_EQ(Frame(r, k), expected[k]) << "frame " << k;
}

TEST(GIFTest, InterlacedRowsFillFourPasses) {
    // Rows 0, 1, 2 of the stream land on rows 0, 2, 1.
    GifFile g(1, 3);
    g.Image(0, 0, 1, 3, {0, 1, 2}, 2, /*interlaced=*/true);
    ScratchDir dir;
    Reader r = g.Open(dir);
    ASSERT_TRUE(r.reader);
    const std::vector<uint32_t> f = Frame(r, 0);
    ASSERT_EQ(f.size(), 3u);
    EXPECT_EQ(f[0], 0xFF000000u | GifFile::Colour(0));
    EXPECT_EQ(f[1], 0xFF000000u | GifFile::Colour(2));
    EXPECT_EQ(f[2], 0xFF000000u | GifFile::Colour(1));
}

// Every height through two full cycles of the passes (the pass ends at 1, 2,
// 4 and 8 rows included), placed off the canvas origin: stream row r lands
// on the r-th row of the pass order and nothing spills past the image.
TEST(GIFTest, InterlacedRowsAtEveryHeight) {
    constexpr int32_t kW = 6, kH = 24, kLeft = 2, kTop = 3, kImageW = 3;
    ScratchDir dir;
    for (int32_t h = 1; h <= 17; ++h) {
        std::vector<int32_t> order;
        for (int32_t start : {0, 4, 2, 1})
            for (int32_t y = start; y < h; y += (start == 0 ? 8 : start * 2)) order.push_back(y);
        ASSERT_EQ(order.size(), static_cast<size_t>(h));
        std::vector<uint8_t> indices;
        for (int32_t r = 0; r < h; ++r)
            for (int32_t x = 0; x < kImageW; ++x) indices.push_back(static_cast<uint8_t>(r + 1));
        GifFile g(kW, kH, 32);
        g.Image(kLeft, kTop, kImageW, h, indices, 5, /*interlaced=*/true);
        Reader r = g.Open(dir);
        ASSERT_TRUE(r.reader) << h;
        const std::vector<uint32_t> f = Frame(r, 0);
        ASSERT_EQ(f.size(), static_cast<size_t>(kW * kH)) << h;
        const uint32_t outside = f[0];
        for (int32_t y = 0; y < kH; ++y)
            for (int32_t x = 0; x < kW; ++x) {
                uint32_t want = outside;
                if (x >= kLeft && x < kLeft + kImageW && y >= kTop && y < kTop + h) {
                    const auto row = std::find(order.begin(), order.end(), y - kTop) - order.begin();
                    want = 0xFF000000u | GifFile::Colour(static_cast<int>(row) + 1);
                }
                EXPECT_EQ(f[static_cast<size_t>(y * kW + x)], want) << "height " << h << " at " << x << "," << y;
            }
    }
}

TEST(GIFTest, GIF87aWithGarbageAfterTheTrailer) {
    GifFile g(4, 2);
    g.version = "GIF87a";
    g.Image(0, 0, 4, 2, {1, 2, 3, 0, 1, 2, 3, 0}, 2);
    g.trailing = {0x2C, 0xFF, 0x00, 0x13, 0x37};
    ScratchDir dir;
    Reader r = g.Open(dir);
    ASSERT_TRUE(r.reader);
    EXPECT_EQ(r.frames, 1);
    EXPECT_EQ(Frame(r, 0)[2], 0xFF000000u | GifFile::Colour(3));
}

// Hand-made code streams: what the decoder accepts and what fails a frame.
TEST(GIFTest, DecoderRules) {
    ScratchDir dir;
    auto decode = [&](const std::vector<int>& codes, int minimum, int32_t w, int32_t h) {
        GifFile g(w, h);
        g.Codes(0, 0, w, h, codes, minimum);
        Reader r = g.Open(dir);
        return r.reader ? Frame(r, 0) : std::vector<uint32_t>{};
    };
    const uint32_t c1 = 0xFF000000u | GifFile::Colour(1), c2 = 0xFF000000u | GifFile::Colour(2);
    // Minimum size 2: clear 4, end 5. Code 6 right after it is defined
    // (the previous string plus its first byte): 1 1 1.
    EXPECT_EQ(decode({4, 1, 6, 5}, 2, 3, 1), (std::vector<uint32_t>{c1, c1, c1}));
    // A code above the next free one fails the frame.
    EXPECT_TRUE(decode({4, 1, 7, 5}, 2, 3, 1).empty());
    // A frame whose row ends early fails; so does a minimum code size of 9.
    EXPECT_TRUE(decode({4, 1, 2, 5}, 2, 3, 1).empty());
    EXPECT_TRUE(decode({4, 1, 2, 1, 5}, 9, 4, 1).empty());
    // Codes that stop well short of the row without an end code (the last
    // byte's padding reads as a few more) meet the end of the sub-blocks:
    // the frame fails.
    EXPECT_TRUE(decode({4, 1, 2}, 2, 20, 1).empty());
    EXPECT_TRUE(decode({4, 1}, 2, 20, 1).empty());
    // Clear codes anywhere restart the table.
    EXPECT_EQ(decode({4, 2, 4, 1, 5}, 2, 2, 1), (std::vector<uint32_t>{c2, c1}));
    // A truncated file fails the frame (the reader opens: the scan stops at
    // the end of the file).
    GifFile g(64, 64);
    std::vector<uint8_t> noise(64 * 64);
    std::mt19937 rng(1);
    for (auto& v : noise) v = static_cast<uint8_t>(rng() & 3);
    g.Image(0, 0, 64, 64, noise, 2);
    std::vector<uint8_t> bytes = g.Bytes();
    bytes.resize(bytes.size() - 200);
    const std::string cut = dir.File("cut.gif");
    WriteBytes(cut, bytes);
    Reader r = OpenReader(cut);
    if (r.reader) {
        EXPECT_TRUE(Frame(r, 0).empty());
    }
}

// A file cut at every length, through a comment extension, a graphic
// control and an image of several sub-blocks: the reader refuses it or
// opens it, and then each frame is the whole file's or fails; never a
// frame of made-up pixels. A bad signature is refused.
TEST(GIFTest, EveryCutOfTheFileFailsCleanly) {
    ScratchDir dir;
    GifFile g(64, 64);
    std::vector<uint8_t> noise(64 * 64);
    std::mt19937 rng(3);
    for (auto& v : noise) v = static_cast<uint8_t>(rng() & 3);
    g.Control(0, -1);
    g.Image(0, 0, 64, 64, noise, 2);
    std::vector<uint8_t> bytes = g.Bytes();
    // After the header and the 4-entry global table.
    const std::vector<uint8_t> comment = {0x21, 0xFE, 3, 'a', 'b', 'c', 2, 'd', 'e', 0};
    bytes.insert(bytes.begin() + 6 + 7 + 12, comment.begin(), comment.end());
    const std::string path = dir.File("whole.gif");
    WriteBytes(path, bytes);
    Reader whole = OpenReader(path);
    ASSERT_TRUE(whole.reader);
    ASSERT_EQ(whole.frames, 1);
    const std::vector<uint32_t> want = Frame(whole, 0);
    ASSERT_EQ(want.size(), 64u * 64u);
    // Every cut up to the image's first codes, then a few inside them.
    int opened = 0;
    for (size_t size = 0; size < bytes.size(); size += size < 80 ? 1 : 97) {
        WriteBytes(path, std::vector<uint8_t>(bytes.begin(), bytes.begin() + static_cast<ptrdiff_t>(size)));
        Reader r = OpenReader(path);
        if (!r.reader) continue;
        ++opened;
        EXPECT_EQ(r.width, 64) << size;
        EXPECT_LE(r.frames, 1) << size;
        if (r.frames == 0) continue;
        const std::vector<uint32_t> got = Frame(r, 0);
        if (!got.empty()) {
            ASSERT_EQ(got, want) << "cut at " << size;
        }
    }
    EXPECT_GT(opened, 0);
    bytes[3] = '9';
    WriteBytes(path, bytes);
    EXPECT_FALSE(OpenReader(path).reader);
}

// An encoder may send the clear code late: with all 4096 codes made the
// table stays as it is and the codes go on at 12 bits.
TEST(GIFTest, DeferredClearKeepsDecoding) {
    std::vector<int> codes = {256};
    std::vector<uint32_t> expected;
    // Literal codes only: each adds an entry, 3838 fill the table.
    std::mt19937 rng(9);
    for (int i = 0; i < 3838 + 500; ++i) {
        const int v = static_cast<int>(rng() & 0xFF);
        codes.push_back(v);
        expected.push_back(0xFF000000u | GifFile::Colour(v));
    }
    // Two codes made long ago still stand for their strings.
    codes.push_back(300);
    codes.push_back(4095);
    codes.push_back(257);
    const int32_t width = static_cast<int32_t>(expected.size()) + 4;
    // Codes 300 and 4095 expand to two pixels each: entry n holds the
    // literals at n - 258 and n - 257.
    for (int code : {300, 4095}) {
        expected.push_back(expected[static_cast<size_t>(code - 258)]);
        expected.push_back(expected[static_cast<size_t>(code - 257)]);
    }
    GifFile g(width, 1, 256);
    g.Codes(0, 0, width, 1, codes, 8);
    ScratchDir dir;
    Reader r = g.Open(dir);
    ASSERT_TRUE(r.reader);
    EXPECT_EQ(Frame(r, 0), expected);
}

TEST(GIFTest, TransparencyAndDisposals) {
    ScratchDir dir;
    GifFile g(4, 1);
    g.background = 3;
    // Frame 0 fills, frame 1 (transparent index 0, disposal 2) draws one
    // pixel, frame 2 sees the rectangle of frame 1 cleared to alpha 0;
    // frame 3 (disposal 3, hanging off the screen) is undone for frame 4.
    g.Image(0, 0, 4, 1, {1, 1, 1, 1}, 2);
    g.Control(2, 0);
    g.Image(1, 0, 2, 1, {0, 2}, 2);
    g.Image(0, 0, 1, 1, {2}, 2);
    g.Control(3, -1);
    g.Image(2, 0, 5, 3, std::vector<uint8_t>(15, 2), 2);
    g.Image(0, 0, 1, 1, {1}, 2);
    Reader r = g.Open(dir);
    ASSERT_TRUE(r.reader);
    ASSERT_EQ(r.frames, 5);
    const uint32_t c1 = 0xFF000000u | GifFile::Colour(1), c2 = 0xFF000000u | GifFile::Colour(2);
    EXPECT_EQ(Frame(r, 1), (std::vector<uint32_t>{c1, c1, c2, c1}));  // transparent pixel kept the canvas
    EXPECT_EQ(Frame(r, 2), (std::vector<uint32_t>{c2, GifFile::Colour(0), GifFile::Colour(0), c1}));
    EXPECT_EQ(Frame(r, 3), (std::vector<uint32_t>{c2, GifFile::Colour(0), c2, c2}));
    EXPECT_EQ(Frame(r, 4), (std::vector<uint32_t>{c1, GifFile::Colour(0), GifFile::Colour(0), c1}));
    uint32_t transparency = 7;
    GetGIFFrame(r.reader.get(), 1, &transparency);
    EXPECT_EQ(transparency, 0u);  // only key-colour mode reports it
    Reader keyed = g.Open(dir, /*keyColours=*/true);
    GetGIFFrame(keyed.reader.get(), 1, &transparency);
    EXPECT_EQ(transparency, 1u);
}

// A broken frame 0 can't be decoded; frame 1 covers the screen and makes
// every later frame reachable from it.
TEST(GIFTest, LaterFramesRestartFromTheNearestFullFrame) {
    GifFile g(2, 1);
    g.Codes(0, 0, 2, 1, {4, 1, 7, 5}, 2);
    g.Image(0, 0, 2, 1, {1, 2}, 2);
    for (int i = 0; i < 5; ++i) g.Image(i & 1, 0, 1, 1, {static_cast<uint8_t>(i & 3)}, 2);
    ScratchDir dir;
    Reader r = g.Open(dir);
    ASSERT_TRUE(r.reader);
    ASSERT_EQ(r.frames, 7);
    EXPECT_TRUE(Frame(r, 0).empty());
    const std::vector<uint32_t> five = Frame(r, 5);
    ASSERT_EQ(five.size(), 2u);
    const std::vector<uint32_t> two = Frame(r, 2);
    ASSERT_EQ(two.size(), 2u);
    EXPECT_EQ(two[0], 0xFF000000u | GifFile::Colour(0));
    EXPECT_EQ(two[1], 0xFF000000u | GifFile::Colour(2));
}

TEST(GIFTest, FrameTableGrowsPastItsFirstBlock) {
    GifFile g(1, 1);
    for (int i = 0; i < 4100; ++i) {
        g.Control(0, -1, i % 7);
        g.Image(0, 0, 1, 1, {static_cast<uint8_t>(i & 3)}, 2);
    }
    ScratchDir dir;
    Reader r = g.Open(dir);
    ASSERT_TRUE(r.reader);
    EXPECT_EQ(r.frames, 4100);
    EXPECT_EQ(GetGIFFrameDelay(r.reader.get(), 4099), (4099 % 7) * 10u);
    EXPECT_EQ(Frame(r, 4098)[0], 0xFF000000u | GifFile::Colour(4098 & 3));
}

TEST(GIFTest, WriterRulesAndFailures) {
    ScratchDir dir;
    qbGIFWriter* w = nullptr;
    EXPECT_EQ(WriteGIF(dir.File("big.gif").c_str(), nullptr, 65536, 1, &w), ERR_WRONGUSAGE);
    EXPECT_FALSE(std::filesystem::exists(dir.File("big.gif")));
    EXPECT_EQ(WriteGIF("/no/such/folder/x.gif", nullptr, 4, 4, &w), ERR_WRITEFILE);

    // A full device: the frame or the close reports the short write.
    ASSERT_EQ(WriteGIF("/dev/full", nullptr, 300, 300, &w), 0);
    std::vector<uint8_t> indices(300 * 300, 1);
    const uint32_t palette[2] = {0, 0xFFFFFF};
    qbGIFFrame f;
    f.indices = indices.data();
    f.width = f.height = 300;
    f.palette = palette;
    f.colourCount = 2;
    const int first = WriteAnimGIF(w, f);
    const int closed = CloseGIFWriter(w);
    EXPECT_TRUE(first == ERR_WRITE || closed == ERR_WRITE);
    EXPECT_EQ(closed, ERR_WRITE);

    // An unchanged frame of a picture one pixel wide is 1 x 1.
    const std::string path = dir.File("thin.gif");
    ASSERT_EQ(WriteGIF(path.c_str(), nullptr, 1, 5, &w), 0);
    std::vector<uint8_t> column = {0, 1, 0, 1, 0};
    f.indices = column.data();
    f.width = 1;
    f.height = 5;
    f.differencing = true;
    f.transparentSlot = true;
    f.colourCount = 3;
    const uint32_t three[3] = {0x112233, 0x445566, 0};
    f.palette = three;
    ASSERT_EQ(WriteAnimGIF(w, f), 0);
    ASSERT_EQ(WriteAnimGIF(w, f), 0);
    ASSERT_EQ(CloseGIFWriter(w), 0);
    Reader r = OpenReader(path);
    ASSERT_TRUE(r.reader);
    ASSERT_EQ(r.frames, 2);
    EXPECT_EQ(Frame(r, 1), Frame(r, 0));
}

}  // namespace
