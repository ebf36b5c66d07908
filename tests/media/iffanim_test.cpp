// The IFF ANIM reader through the anim-format layer: every delta operation
// against the pictures the builder encoded, rewinding, palettes in deltas,
// HAM and keying, field mode, malformed deltas and the key frame's checks.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <algorithm>
#include <filesystem>

#include "animbuilder.h"
#include "animtest.h"
#include "claimedchunks.h"
#include "core/file.h"
#include "core/pixelbuffer.h"
#include "imaging/ilbm.h"
#include "peak_memory.h"

using animbuilder::AnimFile;
using animbuilder::Bytes;
using animbuilder::DeltaOptions;
using animbuilder::Picture;
using animbuilder::Layout;
using animtest::Colours;
using animtest::Frame;
using animtest::Open;

namespace {

std::vector<uint32_t> Palette(int n) {
    std::vector<uint32_t> p;
    for (int i = 0; i < n; ++i) p.push_back(static_cast<uint32_t>(0x0F1E2D + i * 0x0B1309) & 0xFFFFFF);
    return p;
}

// A width x height layout of `planes` planes, its palette of `colours`
// entries.
Layout Sized(int32_t width, int32_t height, int planes, int colours) {
    Layout l;
    l.width = width;
    l.height = height;
    l.planes = planes;
    l.palette = Palette(colours);
    return l;
}

// A picture that changes by a moving block and a little noise each frame.
Picture MakePicture(int32_t w, int32_t h, int planes, int frame) {
    Picture p(static_cast<size_t>(w * h));
    const int mask = (1 << planes) - 1;
    uint32_t seed = 1234;
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x) {
            seed = seed * 1103515245u + 12345u;
            int v = (x / 4 + y) & mask;
            if (x >= frame * 3 && x < frame * 3 + 10 && y >= frame % h && y < frame % h + 4) v = (frame * 5 + 1) & mask;
            if ((seed >> 16) % 29 == static_cast<uint32_t>(frame % 29)) v = static_cast<int>(seed >> 24) & mask;
            p[static_cast<size_t>(y * w + x)] = static_cast<uint8_t>(v);
        }
    return p;
}

struct Built {
    std::string path;
    std::vector<Picture> pictures;
};

Built BuildAnim(const imagefixtures::ScratchDir& dir, const std::string& name, Layout layout, const DeltaOptions& o,
                int frames) {
    layout.palette = Palette(1 << layout.planes);
    Built b;
    b.pictures.push_back(MakePicture(layout.width, layout.height, layout.planes, 0));
    AnimFile anim(layout, b.pictures[0]);
    for (int f = 1; f < frames; ++f) {
        b.pictures.push_back(MakePicture(layout.width, layout.height, layout.planes, f));
        DeltaOptions d = o;
        d.delay = static_cast<uint32_t>(f);
        anim.AddDelta(b.pictures.back(), d);
    }
    b.path = dir.File(name);
    imagefixtures::WriteBytes(b.path, anim.Build());
    return b;
}

void ExpectFrames(const Built& b, animtest::Opened& o, const std::vector<int>& order) {
    const std::vector<uint32_t> palette = Palette(256);
    for (int f : order) EXPECT_EQ(Frame(o, f), Colours(b.pictures[static_cast<size_t>(f)], palette)) << "frame " << f;
}

}  // namespace

TEST(IFFAnimTest, EveryOperationDecodesItsFramesInAnyOrder) {
    imagefixtures::ScratchDir dir;
    struct Case {
        int32_t op;
        uint32_t bits;
        uint8_t interleave;
        int32_t width;
    };
    // Width 100: operation 7 with long items has 4 columns, the last one
    // overhanging the 14-byte row; operation 8's rows end in a 16-bit column.
    for (const Case& c : {Case{5, 0, 0, 40}, Case{5, 0, 1, 40}, Case{7, 0, 0, 100}, Case{7, 1, 0, 100},
                          Case{8, 0, 0, 100}, Case{8, 1, 0, 100}, Case{100, 0, 0, 64}, Case{101, 0, 0, 48}}) {
        SCOPED_TRACE("operation " + std::to_string(c.op) + " bits " + std::to_string(c.bits));
        Layout layout;
        layout.width = c.width;
        layout.height = 9;
        layout.planes = 4;
        DeltaOptions o;
        o.operation = c.op;
        o.bits = c.bits;
        o.interleave = c.interleave;
        const Built b = BuildAnim(dir, "op.anim", layout, o, 9);
        auto anim = Open(b.path);
        ASSERT_EQ(anim.err, 0);
        ASSERT_TRUE(IsIFFAnimFile(anim.anim.get()));
        EXPECT_EQ(anim.width, c.width);
        // Operations 100 and 101 leave two loop frames at the end uncounted.
        EXPECT_EQ(anim.frames, c.op >= 100 ? 7 : 9);
        // In order, then frame 3 after frame 7 (a rewind), then frame 0
        // after the last.
        ExpectFrames(b, anim, {0, 1, 2, 3, 4, 5, 6, 3, 0, 2, 1});
        if (c.op < 100) ExpectFrames(b, anim, {7, 3, 8, 0, 8, 1});
        EXPECT_EQ(GetAnimFileFrameDelay(anim.anim.get(), 3), 50u);  // 3 jiffies
    }
}

TEST(IFFAnimTest, HalfBriteColoursFollowPalettesInDeltas) {
    imagefixtures::ScratchDir dir;
    Layout layout;
    layout.width = 16;
    layout.height = 2;
    layout.planes = 6;
    layout.camg = 0x80;
    layout.palette = Palette(32);
    Picture key(32, 40), next(32, 40);
    next[0] = 3;
    AnimFile anim(layout, key);
    DeltaOptions o;
    o.cmap = std::vector<uint32_t>(32, 0x806040);
    anim.AddDelta(next, o);
    const std::string path = dir.File("ehb.anim");
    imagefixtures::WriteBytes(path, anim.Build());
    auto a = Open(path);
    ASSERT_EQ(a.err, 0);
    EXPECT_EQ(Frame(a, 0)[1], (layout.palette[8] >> 1) & 0x7F7F7F);
    const auto f1 = Frame(a, 1);
    EXPECT_EQ(f1[1], 0x403020u);  // half of the delta's colour 8
    EXPECT_EQ(f1[0], 0x806040u);
    // Back at the key frame its own palette is in force again.
    EXPECT_EQ(Frame(a, 0)[1], (layout.palette[8] >> 1) & 0x7F7F7F);
}

TEST(IFFAnimTest, TransparencyKeysPaletteIndexAndHamColour) {
    imagefixtures::ScratchDir dir;
    Layout layout;
    layout.width = 16;
    layout.height = 1;
    layout.planes = 3;
    layout.masking = 2;
    layout.transparent = 5;
    layout.palette = Palette(8);
    Picture key(16, 0);
    key[2] = 5;
    AnimFile anim(layout, key);
    anim.AddDelta(key, DeltaOptions{});
    const std::string path = dir.File("key.anim");
    imagefixtures::WriteBytes(path, anim.Build());
    auto a = Open(path, kDeinterlaceDefault, true);
    ASSERT_EQ(a.err, 0);
    int32_t keyed = 0;
    const auto f = Frame(a, 0, &keyed);
    EXPECT_EQ(keyed, 1);
    EXPECT_EQ(f[2], layout.palette[5]);
    EXPECT_EQ(f[0], 0xFF000000u | layout.palette[0]);

    // HAM6: index 0x20 | v sets red to v << 4; the key is (t << 12) | t.
    Layout ham = layout;
    ham.planes = 6;
    ham.camg = 0x800;
    ham.transparent = 0x0F0;
    ham.palette = std::vector<uint32_t>(16, 0);
    ham.palette[1] = 0x0F00F0;
    Picture hp(16, 0);
    hp[1] = 1;         // 0x0F00F0: the key
    hp[2] = 0x20 | 3;  // red 0x30 on top of it
    AnimFile hamAnim(ham, hp);
    hamAnim.AddDelta(hp, DeltaOptions{});
    const std::string hamPath = dir.File("ham.anim");
    imagefixtures::WriteBytes(hamPath, hamAnim.Build());
    auto h = Open(hamPath, kDeinterlaceDefault, true);
    ASSERT_EQ(h.err, 0);
    const auto hf = Frame(h, 1, &keyed);
    EXPECT_EQ(keyed, 1);
    EXPECT_EQ(hf[1], 0x0F00F0u);
    EXPECT_EQ(hf[2], 0xFF3000F0u);
    EXPECT_EQ(hf[0], 0xFF000000u);
}

TEST(IFFAnimTest, FieldModeFillsTheOtherFieldByEitherDeinterlaceMode) {
    imagefixtures::ScratchDir dir;
    Layout layout = Sized(32, 5, 2, 4);
    const auto row = [](const Picture& p, int y) { return Picture(p.begin() + y * 32, p.begin() + (y + 1) * 32); };
    Picture a(32 * 5, 0), b = a, c;
    for (int y = 1; y < 5; y += 2) std::fill(b.begin() + y * 32, b.begin() + (y + 1) * 32, static_cast<uint8_t>(y % 4));
    c = b;
    for (int x = 0; x < 32 * 5; ++x) c[static_cast<size_t>(x)] = static_cast<uint8_t>((x / 32 == 1 || x / 32 == 3) ? 2 : 3);
    AnimFile anim(layout, a);
    DeltaOptions o;
    o.operation = 101;
    o.bits = 64;
    o.interleave = 1;
    anim.AddDelta(b, o);  // odd rows first: field 1
    anim.AddDelta(c, o);
    for (int i = 0; i < 4; ++i) anim.AddDelta(i % 2 ? c : b, o);
    const std::string path = dir.File("fields.anim");
    imagefixtures::WriteBytes(path, anim.Build());
    const std::vector<uint32_t> pal = Palette(4);

    // Doubling: frame 1 keeps its odd rows and repeats each below it into
    // the even row; the last even row (odd height) repeats the row above.
    auto d = Open(path, kDeinterlaceDouble);
    ASSERT_EQ(d.err, 0);
    auto f1 = Frame(d, 1);
    const auto expectRows = [&](const std::vector<uint32_t>& got, const std::vector<Picture>& rows) {
        ASSERT_EQ(got.size(), 32u * 5);
        for (int y = 0; y < 5; ++y)
            EXPECT_EQ(std::vector<uint32_t>(got.begin() + y * 32, got.begin() + (y + 1) * 32),
                      Colours(rows[static_cast<size_t>(y)], pal))
                << "row " << y;
    };
    expectRows(f1, {row(b, 1), row(b, 1), row(b, 3), row(b, 3), row(b, 3)});
    // Frame 2 keeps its even rows; each odd row repeats the row above.
    expectRows(Frame(d, 2), {row(c, 0), row(c, 0), row(c, 2), row(c, 2), row(c, 4)});

    // From the previous field: frame 2's odd rows are frame 1's.
    auto p = Open(path, kDeinterlaceDefault);
    ASSERT_EQ(p.err, 0);
    expectRows(Frame(p, 1), {row(a, 0), row(b, 1), row(a, 2), row(b, 3), row(a, 4)});
    expectRows(Frame(p, 2), {row(c, 0), row(b, 1), row(c, 2), row(b, 3), row(c, 4)});
}

TEST(IFFAnimTest, FrameCountsAndDelays) {
    imagefixtures::ScratchDir dir;
    Layout layout;
    layout.width = 16;
    layout.height = 1;
    layout.planes = 1;
    layout.palette = {0, 0xFFFFFF};
    layout.keyDelay = 7;
    // A DPAN of 0 frames: the FORMs are counted.
    layout.dpan = 0;
    Picture p(16, 0);
    AnimFile anim(layout, p);
    for (int f = 1; f < 5000; ++f) {
        p[static_cast<size_t>(f % 16)] ^= 1;
        DeltaOptions o;
        o.interleave = 1;
        o.delay = static_cast<uint32_t>(f % 300);
        anim.AddDelta(p, o);
    }
    const std::string path = dir.File("long.anim");
    imagefixtures::WriteBytes(path, anim.Build());
    auto a = Open(path);
    ASSERT_EQ(a.err, 0);
    EXPECT_EQ(a.frames, 5000);
    EXPECT_EQ(GetAnimFileFrameDelay(a.anim.get(), 0), 117u);  // 7 jiffies
    EXPECT_EQ(GetAnimFileFrameDelay(a.anim.get(), 4999), (4999u % 300 * 1000 + 30) / 60);
    EXPECT_EQ(GetAnimFileFrameDelay(a.anim.get(), 4500), (4500u % 300 * 1000 + 30) / 60);
    EXPECT_FALSE(Frame(a, 4999).empty());
    EXPECT_TRUE(Frame(a, 5000).empty());
}

TEST(IFFAnimTest, MalformedDeltasFailTheirFrameOnly) {
    imagefixtures::ScratchDir dir;
    Layout layout;
    layout.width = 16;
    layout.height = 4;
    layout.planes = 1;
    layout.palette = {0x000000, 0xFFFFFF};
    Picture p(64, 0);
    const auto build = [&](int32_t op, const Bytes& dlta) {
        AnimFile anim(layout, p);
        DeltaOptions o;
        o.operation = op;
        anim.AddDelta(p, o);
        anim.AddRawDelta(dlta, o);
        anim.AddDelta(p, o);
        const std::string path = dir.File("bad" + std::to_string(op) + ".anim");
        imagefixtures::WriteBytes(path, anim.Build());
        return path;
    };
    const auto pointerTo = [](uint32_t offset, Bytes tail) {
        Bytes d(64 + tail.size(), 0);
        std::copy(tail.begin(), tail.end(), d.begin() + 64);
        animbuilder::SetBE(&d, 0, offset);
        return d;
    };
    struct Bad {
        int32_t op;
        Bytes dlta;
    };
    const std::vector<Bad> bad = {
        {5, pointerTo(4096, {})},                                    // plane pointer past the chunk
        {5, pointerTo(64, {1, 0x80 | 5, 1, 1, 1, 1, 1})},            // copy past the plane's 4 rows
        {5, pointerTo(64, {1, 0, 200, 1})},                          // run past the plane
        {5, pointerTo(64, {3})},                                     // ops past the chunk
        {7, pointerTo(64, {1, 0, 9})},                               // run with its data list past the chunk
        {8, pointerTo(64, {0, 1, 0, 0, 0, 9, 0, 1})},                // run of 9 rows
        {100, pointerTo(64, {0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0, 6, 1, 2, 3, 4})},    // offset 6 of 8 bytes
        {101, pointerTo(64, {0, 1, 0xFF, 0xFB, 0, 0, 0, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10})},  // 5 rows down
        {101, pointerTo(64, {0, 1, 0, 3, 0, 0xFF, 0xFF, 0xF0, 1, 2})},  // offset far past
        {5, Bytes{0, 0}},                                            // the plane pointer cut
        {8, Bytes{0, 0, 0}},
        {100, Bytes{}},
        {7, [] {  // op lists inside a chunk that ends before its data-list pointers
             Bytes d(20, 0);
             animbuilder::SetBE(&d, 0, 16);
             return d;
         }()},
    };
    for (size_t i = 0; i < bad.size(); ++i) {
        SCOPED_TRACE("case " + std::to_string(i));
        auto a = Open(build(bad[i].op, bad[i].dlta));
        ASSERT_EQ(a.err, 0);
        EXPECT_FALSE(Frame(a, 1).empty());
        EXPECT_TRUE(Frame(a, 2).empty());
        EXPECT_FALSE(Frame(a, 1).empty());
    }
}

TEST(IFFAnimTest, OpeningRefusesWhatItCannotDecode) {
    imagefixtures::ScratchDir dir;
    Layout layout;
    layout.width = 16;
    layout.height = 1;
    layout.planes = 1;
    layout.palette = {0, 0xFFFFFF};
    Picture p(16, 0);
    const auto write = [&](AnimFile& a, const std::string& name) {
        const std::string path = dir.File(name);
        imagefixtures::WriteBytes(path, a.Build());
        return path;
    };
    AnimFile unsupported(layout, p);
    DeltaOptions o;
    o.operation = 74;
    unsupported.AddRawDelta(Bytes(64, 0), o);
    AnimFile noDelta(layout, p);
    AnimFile strayChunk(layout, p);
    strayChunk.AddDelta(p, DeltaOptions{});
    strayChunk.AddRawChunk(animbuilder::Chunk("JUNK", Bytes(4, 0)));
    Layout deep = layout;
    deep.planes = 9;
    AnimFile tooDeep(deep, p);
    tooDeep.AddDelta(p, DeltaOptions{});
    // A delta FORM and its ANHD whose sizes claim far more than the file
    // holds: refused as a cut file is, without memory for what they claim.
    AnimFile claims(layout, p);
    claims.AddDelta(p, DeltaOptions{});
    Bytes claim{'F', 'O', 'R', 'M'};
    animbuilder::PutBE(&claim, 0x7FFFFFF0u, 4);
    for (char c : std::string("ILBMANHD")) claim.push_back(static_cast<uint8_t>(c));
    animbuilder::PutBE(&claim, 0x40000000u, 4);  // 1 GiB
    claim.resize(claim.size() + 24, 0);
    claims.AddRawChunk(claim);
    for (const std::string& path : {write(unsupported, "op74.anim"), write(noDelta, "nodelta.anim"),
                                    write(strayChunk, "stray.anim"), write(tooDeep, "deep.anim"),
                                    write(claims, "claims.anim")}) {
        rusage before{}, after{};
        getrusage(RUSAGE_SELF, &before);
        auto a = Open(path);
        getrusage(RUSAGE_SELF, &after);
        EXPECT_EQ(a.err, ERR_OPENANIM2) << path;
        EXPECT_LT(after.ru_maxrss - before.ru_maxrss, 256 * 1024) << path << ": peak KiB grew";
    }
}

// Palettes and delta headers claiming gigabytes that the file holds (as a
// hole): the reader takes what it uses of each and skips the rest, so an
// answer costs the file's real bytes, not the claims.
TEST(IFFAnimTest, PalettesAndDeltaHeadersClaimingGigabytesCostWhatTheyUse) {
    imagefixtures::ScratchDir dir;
    Layout layout = Sized(16, 2, 2, 4);
    std::vector<Picture> pictures = {MakePicture(16, 2, 2, 0), MakePicture(16, 2, 2, 1), MakePicture(16, 2, 2, 2)};
    AnimFile anim(layout, pictures[0]);
    DeltaOptions withPalette;
    withPalette.cmap = layout.palette;
    anim.AddDelta(pictures[1], withPalette);
    anim.AddDelta(pictures[2], DeltaOptions{});
    const Bytes file = anim.Build();
    // The key frame's CMAP, and the first delta FORM's ANHD and CMAP; the
    // delta FORM's header stands 12 bytes before its first chunk.
    const size_t deltaForm = claimedchunks::Find(file, "ANHD") - 12;
    const std::vector<std::pair<size_t, size_t>> claims = {
        {claimedchunks::Find(file, "CMAP", 0), 12},
        {claimedchunks::Find(file, "ANHD", 0), deltaForm},
        {claimedchunks::Find(file, "CMAP", 1), deltaForm}};
    for (const auto& [chunk, form] : claims) {
        SCOPED_TRACE(chunk);
        const std::string path = dir.File("claims.anim");
        ASSERT_TRUE(claimedchunks::WriteClaim(path, file, chunk, 2'100'000'000u, {0, form}, true));
        int answer = 0;
        EXPECT_LT(PeakGrowth([&] { answer = IsAnimFile(path.c_str(), nullptr, nullptr, kAnimOpenMode); }), 32u << 20);
        EXPECT_EQ(answer, 1);
        auto a = Open(path);
        ASSERT_EQ(a.err, 0);
        EXPECT_EQ(a.frames, 3);
        for (int f : {0, 1, 2}) EXPECT_EQ(Frame(a, f), Colours(pictures[static_cast<size_t>(f)], layout.palette)) << f;
    }
}

// A DLTA claiming 1.5 GB, held as a hole, beside a 16 x 2 picture: more
// than any delta of its planes could use, so its frame is damaged and
// costs nothing, and the frames before it decode.
TEST(IFFAnimTest, ADeltaClaimingMoreThanItsPlanesCanUseIsADamagedFrame) {
    imagefixtures::ScratchDir dir;
    Layout layout = Sized(16, 2, 2, 4);
    std::vector<Picture> pictures = {MakePicture(16, 2, 2, 0), MakePicture(16, 2, 2, 1)};
    AnimFile anim(layout, pictures[0]);
    anim.AddDelta(pictures[1], DeltaOptions{});
    const Bytes file = anim.Build();
    const size_t dlta = claimedchunks::Find(file, "DLTA");
    const size_t deltaForm = claimedchunks::Find(file, "ANHD") - 12;
    const std::string path = dir.File("dlta.anim");
    ASSERT_TRUE(claimedchunks::WriteClaim(path, file, dlta, 1'500'000'000u, {0, deltaForm}, true));
    std::filesystem::resize_file(path, 1'600'000'000u);  // the hole reaches the claim's end
    std::vector<uint32_t> first, damaged = {1};
    int err = -1;
    EXPECT_LT(PeakGrowth([&] {
                  auto a = Open(path);
                  err = a.err;
                  if (err == 0) first = Frame(a, 0), damaged = Frame(a, 1);
              }),
              64u << 20);
    EXPECT_EQ(err, 0);
    EXPECT_EQ(first, Colours(pictures[0], layout.palette));
    EXPECT_TRUE(damaged.empty());
}

// A delta FORM's ANHD holds the operation up to the bits word (24 bytes): a
// shorter one in any delta refuses the file at the open, one of exactly
// that size plays.
TEST(IFFAnimTest, ADeltaHeaderShorterThanItsFieldsRefusesTheFile) {
    imagefixtures::ScratchDir dir;
    // A black strip of 16 x 1 in one plane.
    Layout layout;
    layout.width = 16;
    layout.height = layout.planes = 1;
    layout.palette = {0, 0xFFFFFF};
    const Picture p(16, 0);
    const Bytes full = AnimFile::Anhd(5, 3, 0, 0);
    for (size_t size : {size_t{23}, size_t{24}}) {
        SCOPED_TRACE(size);
        AnimFile anim(layout, p);
        anim.AddDelta(p, DeltaOptions{});
        const Bytes anhd = animbuilder::Chunk("ANHD", Bytes(full.begin() + 8, full.begin() + 8 + static_cast<long>(size)));
        anim.AddRawChunk(animbuilder::Form("ILBM", {anhd, animbuilder::Chunk("DLTA", Bytes(64, 0))}));
        const std::string path = dir.File("anhd" + std::to_string(size) + ".anim");
        imagefixtures::WriteBytes(path, anim.Build());
        auto a = Open(path);
        if (size < 24) {
            EXPECT_EQ(a.err, ERR_OPENANIM2);
            continue;
        }
        ASSERT_EQ(a.err, 0);
        EXPECT_EQ(a.frames, 3);
        EXPECT_EQ(GetAnimFileFrameDelay(a.anim.get(), 2), 50u);  // 3 jiffies
        EXPECT_EQ(Frame(a, 2), Colours(p, layout.palette));
    }
}

namespace {

// The file with its first chunk of `id` replaced by `chunk`, the file's
// FORM and the key frame's (the chunk stands in it) resized to match.
Bytes ReplaceKeyChunk(Bytes file, const std::string& id, const Bytes& chunk) {
    const size_t at = claimedchunks::Find(file, id);
    const size_t size = claimedchunks::Get(file, at + 4, true);
    const size_t old = 8 + size + (size & 1);
    const auto grown = static_cast<uint32_t>(chunk.size() - old);
    file.erase(file.begin() + static_cast<long>(at), file.begin() + static_cast<long>(at + old));
    file.insert(file.begin() + static_cast<long>(at), chunk.begin(), chunk.end());
    for (size_t form : {size_t{0}, size_t{12}}) claimedchunks::Set(&file, form + 4, claimedchunks::Get(file, form + 4, true) + grown, true);
    return file;
}

// The key frame's BODY packed by ByteRun1: a row of one byte as a repeat,
// any other as a literal.
Bytes PackBody(const Bytes& file, size_t rowBytes) {
    const size_t at = claimedchunks::Find(file, "BODY");
    const Bytes plain(file.begin() + static_cast<long>(at + 8),
                      file.begin() + static_cast<long>(at + 8 + claimedchunks::Get(file, at + 4, true)));
    Bytes packed;
    for (size_t row = 0; row < plain.size(); row += rowBytes) {
        const auto first = plain.begin() + static_cast<long>(row), last = first + static_cast<long>(rowBytes);
        if (std::all_of(first, last, [&](uint8_t b) { return b == *first; })) {
            packed.insert(packed.end(), {static_cast<uint8_t>(1 - static_cast<int>(rowBytes)), *first});
        } else {
            packed.push_back(static_cast<uint8_t>(rowBytes - 1));
            packed.insert(packed.end(), first, last);
        }
    }
    return ReplaceKeyChunk(file, "BODY", animbuilder::Chunk("BODY", packed));
}

}  // namespace

// Every check of the key frame's header and body refuses the file with the
// open's error, each alone; a picture of exactly the largest allowed size
// and a body packed by ByteRun1 play the same frames as the plain file.
TEST(IFFAnimTest, EveryKeyFrameCheckRefusesTheFileAndItsEdgesPlay) {
    imagefixtures::ScratchDir dir;
    Layout layout = Sized(32, 4, 2, 4);
    Picture key = MakePicture(32, 4, 2, 0);
    std::fill(key.begin(), key.begin() + 32, 3);  // a row of one byte in every plane
    const std::vector<Picture> pictures = {key, MakePicture(32, 4, 2, 1)};
    AnimFile anim(layout, pictures[0]);
    anim.AddDelta(pictures[1], DeltaOptions{});
    const Bytes plain = anim.Build();
    const size_t bmhd = claimedchunks::Find(plain, "BMHD") + 8;
    const auto withBmhd = [&](size_t offset, uint8_t value) {
        Bytes b = plain;
        b[bmhd + offset] = value;
        return b;
    };
    Bytes header(plain.begin(), plain.begin() + 12), otherForm = plain, noBody = plain;
    claimedchunks::Set(&header, 4, 4, true);
    std::copy_n("8SVX", 4, otherForm.begin() + 20);
    std::copy_n("BODZ", 4, noBody.begin() + static_cast<long>(claimedchunks::Find(plain, "BODY")));
    const Bytes shortBmhd = ReplaceKeyChunk(
        plain, "BMHD", animbuilder::Chunk("BMHD", Bytes(plain.begin() + static_cast<long>(bmhd), plain.begin() + static_cast<long>(bmhd) + 19)));
    const std::vector<std::pair<std::string, Bytes>> refused = {
        {"no key frame", header},          {"a key FORM of another type", otherForm},
        {"a BMHD short of its fields", shortBmhd}, {"no BODY", noBody},
        {"width 0", withBmhd(1, 0)},       {"height 0", withBmhd(3, 0)},
        {"no planes", withBmhd(8, 0)},     {"compression 2", withBmhd(10, 2)},
    };
    const std::string path = dir.File("key.anim");
    for (const auto& [what, bytes] : refused) {
        imagefixtures::WriteBytes(path, bytes);
        EXPECT_EQ(Open(path).err, ERR_OPENANIM2) << what;
    }
    const auto expectPlays = [&](const std::string& what) {
        auto a = Open(path);
        ASSERT_EQ(a.err, 0) << what;
        EXPECT_EQ(a.frames, 2) << what;
        for (int f : {0, 1, 0}) EXPECT_EQ(Frame(a, f), Colours(pictures[static_cast<size_t>(f)], layout.palette)) << what << " " << f;
    };
    imagefixtures::WriteBytes(path, plain);
    SetMaxImagePixels(32 * 4 - 1);
    EXPECT_EQ(Open(path).err, ERR_OPENANIM2) << "a pixel more than allowed";
    SetMaxImagePixels(32 * 4);
    expectPlays("as many pixels as allowed");
    SetMaxImagePixels(0);
    Bytes packed = PackBody(plain, 4);
    packed[claimedchunks::Find(packed, "BMHD") + 8 + 10] = 1;
    imagefixtures::WriteBytes(path, packed);
    expectPlays("ByteRun1");
}

// A delta FORM may hold other chunks before its header (a palette here),
// and one cut after its FORM header at the file's end fails its own frame
// only.
TEST(IFFAnimTest, DeltaFormsAreWalkedToTheirHeaderAndACutOneFailsAlone) {
    imagefixtures::ScratchDir dir;
    Layout layout = Sized(16, 2, 2, 4);
    const Picture p = MakePicture(16, 2, 2, 0);
    const std::vector<uint32_t> other = {0x102030, 0x405060, 0x708090, 0xA0B0C0};
    AnimFile anim(layout, p);
    // Zero plane pointers: no plane changes.
    anim.AddRawChunk(animbuilder::Form("ILBM", {AnimFile::Cmap(other), AnimFile::Anhd(5, 2, 0, 0),
                                                animbuilder::Chunk("DLTA", Bytes(64, 0))}));
    Bytes file = anim.Build();
    for (char c : std::string("FORM")) file.push_back(static_cast<uint8_t>(c));
    animbuilder::PutBE(&file, 100, 4);
    claimedchunks::Set(&file, 4, static_cast<uint32_t>(file.size() - 8), true);
    const std::string path = dir.File("cut.anim");
    imagefixtures::WriteBytes(path, file);
    auto a = Open(path);
    ASSERT_EQ(a.err, 0);
    ASSERT_EQ(a.frames, 3);
    EXPECT_EQ(GetAnimFileFrameDelay(a.anim.get(), 1), 33u);  // 2 jiffies
    EXPECT_EQ(Frame(a, 1), Colours(p, other));
    EXPECT_TRUE(Frame(a, 2).empty());
    EXPECT_EQ(Frame(a, 1), Colours(p, other));
    EXPECT_EQ(Frame(a, 0), Colours(p, layout.palette));
}

// HAM6, HAM8 and Extra Half-Brite frames, key and delta, as the picture
// reader reads the same planes and palette as an ILBM of its own.
TEST(IFFAnimTest, DisplayModesMatchThePictureReader) {
    imagefixtures::ScratchDir dir;
    const auto keyForm = [](const Bytes& anim) {
        return Bytes(anim.begin() + 12, anim.begin() + 20 + claimedchunks::Get(anim, 16, true));
    };
    const auto pictureOf = [&](const Bytes& ilbm) {
        const std::string path = dir.File("frame.iff");
        imagefixtures::WriteBytes(path, ilbm);
        qbFilePtr f(FileOpen(path.c_str(), kFileModeRead, nullptr));
        ILBMReadRequest r;
        EXPECT_EQ(ReadILBM(f.get(), &r), 0);
        std::vector<uint32_t> out;
        for (int32_t i = 0; r.pixels && i < r.width * r.height; ++i) out.push_back(r.pixels[static_cast<size_t>(i)] & 0xFFFFFF);
        return out;
    };
    struct Mode {
        const char* name;
        int planes;
        uint32_t camg;
    };
    for (const Mode& m : {Mode{"HAM6", 6, 0x800}, Mode{"HAM8", 8, 0x800}, Mode{"EHB", 6, 0x80}}) {
        SCOPED_TRACE(m.name);
        Layout layout;
        layout.width = 24;
        layout.height = 3;
        layout.planes = m.planes;
        layout.camg = m.camg;
        layout.palette = Palette(m.planes == 8 ? 64 : 32);
        const std::vector<Picture> pictures = {MakePicture(24, 3, m.planes, 0), MakePicture(24, 3, m.planes, 1)};
        AnimFile anim(layout, pictures[0]), second(layout, pictures[1]);
        anim.AddDelta(pictures[1], DeltaOptions{});
        second.AddDelta(pictures[1], DeltaOptions{});
        const Bytes file = anim.Build();
        const std::string path = dir.File("mode.anim");
        imagefixtures::WriteBytes(path, file);
        auto a = Open(path);
        ASSERT_EQ(a.err, 0);
        const auto opaque = [](std::vector<uint32_t> v) {
            for (uint32_t& p : v) p &= 0xFFFFFF;
            return v;
        };
        EXPECT_EQ(opaque(Frame(a, 0)), pictureOf(keyForm(file)));
        EXPECT_EQ(opaque(Frame(a, 1)), pictureOf(keyForm(second.Build())));
    }
}
