// Brush pixels and planes through their commands: pixel reads and writes,
// tables of ARGB numbers both ways, plane conversions, the flood fill,
// saving (read back by netpbm), and the brushes made from gradients,
// textures, the desktop, layers and sprites.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "core/errcodes.h"
#include "display/adapter.h"
#include "objects/bgpiclib.h"
#include "objects/sprite_fixture.h"

namespace {

class BrushPixelTest : public SpriteWorld {
protected:
    void SetUp() override {
        SpriteWorld::SetUp();
        VmPushValue(L_, kGlobalsIndex);
        ASSERT_EQ(InitBGPicLibrary(L_), 0);
        VmSetTop(L_, 0);
    }
    qbBrush* Brush(int32_t id) {
        qbBrush* b = nullptr;
        GetBrushRecord(nullptr, ObjectID{id, nullptr}, &b, kBrushHardwareToo);
        return b;
    }
    static std::vector<uint32_t> Pixels(qbBrush* b) {
        return GetBitmapARGB(b->bitmap, 0, 0, b->width, b->height, b->mask, b->alpha, -1, true, kLockReadOnly);
    }
    // Results of the command as numbers (the stack is cleared).
    std::vector<double> Results(const char* command, std::initializer_list<double> args, int count) {
        for (double a : args) VmPushNumber(L_, a);
        EXPECT_EQ(Run(command, static_cast<int>(args.size()), count), 0) << command;
        std::vector<double> out;
        for (int i = 1; i <= count; ++i) out.push_back(VmToNumber(L_, i));
        VmSetTop(L_, 0);
        return out;
    }
    // The table on the stack top as numbers from index 0.
    std::vector<double> TableNumbers(int idx, int count) {
        std::vector<double> out;
        for (int i = 0; i < count; ++i) {
            VmRawGetIndex(L_, idx, i);
            out.push_back(VmToNumber(L_, -1));
            VmSetTop(L_, -2);
        }
        return out;
    }
    int FromTable(int32_t id, const std::vector<double>& values, int32_t w, int32_t h, int32_t type) {
        VmPushNumber(L_, id);
        VmPushNewTable(L_);
        for (size_t i = 0; i < values.size(); ++i) {
            VmPushNumber(L_, values[i]);
            VmRawSetIndex(L_, -2, static_cast<int>(i));
        }
        VmPushNumber(L_, w);
        VmPushNumber(L_, h);
        VmPushNumber(L_, type);
        const int err = Run("RGBArrayToBrush", 5);
        VmSetTop(L_, 0);
        return err;
    }
    std::string TempPath(const char* name) { return ::testing::TempDir() + "brushpixels_" + name; }
};

TEST_F(BrushPixelTest, SinglePixelsInsideAndOutside) {
    MakeBrush(1, 4, 3, 0x102030);
    EXPECT_EQ(Results("ReadBrushPixel", {1, -1, 0}, 2), (std::vector<double>{4294967295.0, -1}));
    EXPECT_EQ(Results("ReadBrushPixel", {1, 0, 3}, 2), (std::vector<double>{4294967295.0, -1}));
    EXPECT_EQ(Results("ReadBrushPixel", {1, 3, 2}, 2), (std::vector<double>{0x102030, -1}));
    EXPECT_EQ(RunNumbers("WriteBrushPixel", {1, 4, 0, 0xFFFFFF}), 0);
    EXPECT_EQ(RunNumbers("WriteBrushPixel", {1, -5, -5, 0xFFFFFF, 0}), 0);
    EXPECT_EQ(RunNumbers("WriteBrushPixel", {1, 1, 1, 0xFFABCDEF, 0}), 0);
    EXPECT_EQ(Results("ReadBrushPixel", {1, 1, 1}, 2), (std::vector<double>{0xABCDEF, -1}));
    // With planes the second result is the mask bit or the alpha byte.
    ASSERT_EQ(RunNumbers("ChangeBrushTransparency", {1, 30}), 0);
    EXPECT_EQ(RunNumbers("WriteBrushPixel", {1, 2, 1, 0x00FF00, 0x1C8}), 0);
    EXPECT_EQ(Results("ReadBrushPixel", {1, 2, 1}, 2), (std::vector<double>{0x00FF00, 0xC8}));
    ASSERT_EQ(RunNumbers("ChangeBrushTransparency", {1, 28}), 0);
    EXPECT_EQ(RunNumbers("WriteBrushPixel", {1, 0, 0, 0, 0}), 0);
    EXPECT_EQ(Results("ReadBrushPixel", {1, 0, 0}, 2), (std::vector<double>{0, 0}));
    EXPECT_EQ(Results("ReadBrushPixel", {1, 2, 1}, 2), (std::vector<double>{0x00FF00, 1}));
}

TEST_F(BrushPixelTest, EveryEdgeOfThePixelCommandsWithEachPlane) {
    // Four pixels wide: alpha rows carry no padding, so a write one past a
    // row's end would land on the next row (past the plane on the last).
    constexpr int32_t kW = 4, kH = 3;
    const std::vector<std::pair<int32_t, int32_t>> outside = {{-1, 0},      {kW, 0},     {0, -1},     {0, kH},
                                                              {kW, kH - 1}, {kW - 1, kH}, {-1, kH - 1}, {kW, kH}};
    int32_t id = 1;
    for (int32_t type : {0, 28, 30}) {
        MakeBrush(id, kW, kH, 0);
        if (type) {
            ASSERT_EQ(RunNumbers("ChangeBrushTransparency", {double(id), double(type)}), 0);
        }
        for (int32_t y = 0; y < kH; ++y)
            for (int32_t x = 0; x < kW; ++x)
                ASSERT_EQ(RunNumbers("WriteBrushPixel", {double(id), double(x), double(y),
                                                         double(0x100000 * (x + 1) + 0x10 * (y + 1)), double(1 + x + kW * y)}),
                          0);
        const std::vector<uint32_t> before = Pixels(Brush(id));
        for (const auto& [x, y] : outside) {
            EXPECT_EQ(Results("ReadBrushPixel", {double(id), double(x), double(y)}, 2),
                      (std::vector<double>{4294967295.0, -1}))
                << type << " at " << x << "," << y;
            EXPECT_EQ(RunNumbers("WriteBrushPixel", {double(id), double(x), double(y), 0xFFFFFF, 0}), 0);
        }
        EXPECT_EQ(Pixels(Brush(id)), before) << type;
        for (const auto& [x, y] : std::vector<std::pair<int32_t, int32_t>>{{0, 0}, {kW - 1, 0}, {0, kH - 1}, {kW - 1, kH - 1}}) {
            const double second = type == 0 ? -1 : type == 28 ? 1 : 1 + x + kW * y;
            EXPECT_EQ(Results("ReadBrushPixel", {double(id), double(x), double(y)}, 2),
                      (std::vector<double>{double(0x100000 * (x + 1) + 0x10 * (y + 1)), second}))
                << type << " at " << x << "," << y;
        }
        ++id;
    }
}

TEST_F(BrushPixelTest, TablesOfPixelsBothWays) {
    MakeBrush(1, 2, 1, 0x123456);
    ASSERT_EQ(RunNumbers("WriteBrushPixel", {1, 1, 0, 0xABCDEF}), 0);
    VmPushNumber(L_, 1);
    ASSERT_EQ(Run("BrushToRGBArray", 1, 1), 0);
    EXPECT_EQ(TableNumbers(1, 3), (std::vector<double>{0xFF123456u, 0xFFABCDEFu, 0}));
    VmSetTop(L_, 0);

    // One entry short: refused, and brush 1 is still the one it was.
    EXPECT_EQ(FromTable(1, {1, 2, 3}, 2, 2, 0), ERR_NOTENOUGHPIXELS);
    ASSERT_NE(Brush(1), nullptr);
    EXPECT_EQ(Pixels(Brush(1)), (std::vector<uint32_t>{0xFF123456u, 0xFFABCDEFu}));
    EXPECT_EQ(FromTable(1, {1, 2}, 0, 2, 0), ERR_BADDIMENSIONS);

    // A brush with alpha goes through a table and comes back the same.
    MakeBrush(2, 5, 4, 0);
    ASSERT_EQ(RunNumbers("ChangeBrushTransparency", {2, 30}), 0);
    std::mt19937 rng(7);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 5; ++x)
            ASSERT_EQ(RunNumbers("WriteBrushPixel", {2, double(x), double(y), double(rng() & 0xFFFFFF), double(rng() & 255)}), 0);
    VmPushNumber(L_, 2);
    ASSERT_EQ(Run("BrushToRGBArray", 1, 1), 0);
    const std::vector<double> values = TableNumbers(1, 20);
    VmSetTop(L_, 0);
    ASSERT_EQ(FromTable(3, values, 5, 4, 30), 0);
    ASSERT_NE(Brush(3)->alpha, nullptr);
    EXPECT_EQ(Pixels(Brush(3)), Pixels(Brush(2)));
    // With a mask, alpha 0 is the only invisible value.
    ASSERT_EQ(FromTable(4, {0x00FFFFFF, 0x01000000}, 2, 1, 28), 0);
    EXPECT_EQ(Pixels(Brush(4)), (std::vector<uint32_t>{0x00FFFFFFu, 0xFF000000u}));
}

TEST_F(BrushPixelTest, PlanesAreConvertedDroppedAndInverted) {
    MakeBrush(1, 3, 1, 0);
    ASSERT_EQ(RunNumbers("ChangeBrushTransparency", {1, 30}), 0);
    ASSERT_EQ(RunNumbers("WriteBrushPixel", {1, 0, 0, 0, 0}), 0);
    ASSERT_EQ(RunNumbers("WriteBrushPixel", {1, 1, 0, 0, 1}), 0);
    ASSERT_EQ(RunNumbers("ChangeBrushTransparency", {1, 28}), 0);
    EXPECT_EQ(Brush(1)->alpha, nullptr);
    ASSERT_NE(Brush(1)->mask, nullptr);
    EXPECT_EQ(Pixels(Brush(1)), (std::vector<uint32_t>{0, 0xFF000000u, 0xFF000000u}));
    EXPECT_EQ(RunNumbers("ChangeBrushTransparency", {1, 5}), ERR_WRONGUSAGE);
    EXPECT_EQ(RunNumbers("InvertAlphaChannel", {1}), ERR_WRONGUSAGE);

    // Every byte of the mask, padding included, comes back after two turns.
    qbBitmapPlane& plane = *Brush(1)->mask->plane;
    std::mt19937 rng(3);
    for (uint32_t i = 0; i < plane.rowBytes * static_cast<uint32_t>(plane.height); ++i)
        plane.data[i] = static_cast<uint8_t>(rng());
    const std::vector<uint8_t> before(plane.data, plane.data + plane.rowBytes * plane.height);
    ASSERT_EQ(RunNumbers("InvertMask", {1}), 0);
    EXPECT_EQ(plane.data[0], static_cast<uint8_t>(~before[0]));
    ASSERT_EQ(RunNumbers("InvertMask", {1}), 0);
    EXPECT_EQ(std::vector<uint8_t>(plane.data, plane.data + plane.rowBytes * plane.height), before);

    // A key colour becomes the mask; -1 removes every plane.
    MakeBrush(2, 2, 1, 0xFF00FF);
    ASSERT_EQ(RunNumbers("WriteBrushPixel", {2, 1, 0, 0x00FF00}), 0);
    ASSERT_EQ(RunNumbers("SetBrushTransparency", {2, 0xFF00FF}), 0);
    EXPECT_EQ(Pixels(Brush(2)), (std::vector<uint32_t>{0x00FF00FFu, 0xFF00FF00u}));
    EXPECT_EQ(Brush(2)->transparentColour, 0xFF00FF);
    ASSERT_EQ(RunNumbers("SetBrushTransparency", {2, -1}), 0);
    EXPECT_EQ(Brush(2)->mask, nullptr);
    ASSERT_EQ(RunNumbers("ChangeBrushTransparency", {2, 30}), 0);
    ASSERT_EQ(RunNumbers("InvertAlphaChannel", {2}), 0);
    EXPECT_EQ(Results("ReadBrushPixel", {2, 0, 0}, 2)[1], 0);
    ASSERT_EQ(RunNumbers("DeleteAlphaChannel", {2}), 0);
    EXPECT_EQ(Brush(2)->alpha, nullptr);
}

TEST_F(BrushPixelTest, FloodFillStopsAtTheBorder) {
    MakeBrush(1, 12, 10, 0x000000);
    // A closed outline of red from (2, 2) to (8, 7).
    for (int x = 2; x <= 8; ++x) {
        RunNumbers("WriteBrushPixel", {1, double(x), 2, 0xFF0000});
        RunNumbers("WriteBrushPixel", {1, double(x), 7, 0xFF0000});
    }
    for (int y = 2; y <= 7; ++y) {
        RunNumbers("WriteBrushPixel", {1, 2, double(y), 0xFF0000});
        RunNumbers("WriteBrushPixel", {1, 8, double(y), 0xFF0000});
    }
    const auto before = Pixels(Brush(1));
    ASSERT_EQ(RunNumbers("FloodFill", {1, 2, 5, 0xFF0000, 0x00FF00}), 0);  // on the border
    EXPECT_EQ(Pixels(Brush(1)), before);
    ASSERT_EQ(RunNumbers("FloodFill", {1, 5, 5, 0xFF0000, 0x00FF00}), 0);
    const auto after = Pixels(Brush(1));
    for (int y = 0; y < 10; ++y)
        for (int x = 0; x < 12; ++x) {
            const bool inside = x > 2 && x < 8 && y > 2 && y < 7;
            EXPECT_EQ(after[y * 12 + x], inside ? 0xFF00FF00u : before[y * 12 + x]) << x << "," << y;
        }
    EXPECT_EQ(RunNumbers("FloodFill", {1, -1, 0, 0, 1}), ERR_NEGCOORDS);
    EXPECT_EQ(RunNumbers("FloodFill", {1, 12, 0, 0, 1}), ERR_COORDSRANGE);
}

TEST_F(BrushPixelTest, SavedFilesReadBackThroughNetpbm) {
    if (std::system("command -v pngtopam >/dev/null 2>&1 && command -v bmptopnm >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "netpbm is not installed";
    MakeBrush(1, 3, 2, 0);
    ASSERT_EQ(RunNumbers("ChangeBrushTransparency", {1, 30}), 0);
    const uint32_t colours[6] = {0xFF0000, 0x00FF00, 0x0000FF, 0x123456, 0xFFFFFF, 0x808080};
    for (int i = 0; i < 6; ++i)
        ASSERT_EQ(RunNumbers("WriteBrushPixel", {1, double(i % 3), double(i / 3), double(colours[i]), double(40 * i + 30)}), 0);
    const std::string png = TempPath("out.png"), bmp = TempPath("out.bmp"), pam = TempPath("out.pam");
    auto save = [&](const std::string& file, int format) {
        VmPushNumber(L_, 1);
        VmPushString(L_, file.c_str());
        VmPushNumber(L_, 0);
        VmPushNumber(L_, format);
        const int err = Run("SaveBrush", 4);
        VmSetTop(L_, 0);
        return err;
    };
    auto readPam = [&](const std::string& command) {
        EXPECT_EQ(std::system(command.c_str()), 0) << command;
        std::ifstream in(pam, std::ios::binary);
        const std::string all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        const size_t end = all.find("ENDHDR\n");
        return end == std::string::npos ? std::string() : all.substr(end + 7);
    };
    ASSERT_EQ(save(png, 1), 0);
    const std::string rgba = readPam("pngtopam -alphapam '" + png + "' > '" + pam + "'");
    ASSERT_EQ(rgba.size(), 24u);
    for (int i = 0; i < 6; ++i) {
        const auto* p = reinterpret_cast<const uint8_t*>(rgba.data()) + i * 4;
        EXPECT_EQ(uint32_t{p[0]} << 16 | uint32_t{p[1]} << 8 | p[2], colours[i]) << i;
        EXPECT_EQ(p[3], 40 * i + 30) << i;
    }
    ASSERT_EQ(save(bmp, 0), 0);
    ASSERT_EQ(std::system(("bmptopnm '" + bmp + "' > '" + pam + "' 2>/dev/null").c_str()), 0);
    std::ifstream in(pam, std::ios::binary);
    std::string magic;
    int w = 0, h = 0, maxval = 0;
    in >> magic >> w >> h >> maxval;
    in.get();
    std::vector<uint8_t> bytes(18);
    in.read(reinterpret_cast<char*>(bytes.data()), 18);
    EXPECT_EQ(magic, "P6");
    EXPECT_EQ(w, 3);
    EXPECT_EQ(h, 2);
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(uint32_t{bytes[i * 3]} << 16 | uint32_t{bytes[i * 3 + 1]} << 8 | bytes[i * 3 + 2], colours[i]) << i;
    std::remove(png.c_str());
    std::remove(bmp.c_str());
    std::remove(pam.c_str());
}

TEST_F(BrushPixelTest, GradientAndTextureBrushes) {
    // CreateGradientBGPic(5, type, start, end, width, height, angle) and the
    // brush of the same arguments.
    ASSERT_EQ(RunNumbers("CreateGradientBGPic", {5, 0, 0xFF0000, 0x0000FF, 60, 40, 30}), 0);
    ASSERT_EQ(RunNumbers("CreateGradientBrush", {1, 60, 40, 0, 0xFF0000, 0x0000FF, 30}), 0);
    qbBGPic* bgpic = nullptr;
    ASSERT_EQ(GetBGPic(L_, ObjectID{5, nullptr}, &bgpic, 0), 0);
    EXPECT_EQ(Pixels(Brush(1)), GetBitmapARGB(bgpic->base.bitmap, 0, 0, 60, 40, nullptr, nullptr, -1, true, kLockReadOnly));
    EXPECT_EQ(RunNumbers("CreateGradientBrush", {1, 0, 40, 0, 0xFF0000, 0x0000FF}), ERR_BADDIMENSIONS);
    EXPECT_EQ(Brush(1)->width, 60);

    MakeBrush(2, 2, 1, 0x111111);
    RunNumbers("WriteBrushPixel", {2, 1, 0, 0x222222});
    EXPECT_EQ(RunNumbers("CreateTexturedBrush", {2, 2, 5, 5}), ERR_WRONGUSAGE);
    ASSERT_EQ(RunNumbers("CreateTexturedBrush", {3, 2, 5, 2, 1}), 0);
    EXPECT_EQ(Pixels(Brush(3)), (std::vector<uint32_t>{0xFF222222u, 0xFF111111u, 0xFF222222u, 0xFF111111u, 0xFF222222u,
                                                       0xFF222222u, 0xFF111111u, 0xFF222222u, 0xFF111111u, 0xFF222222u}));
    // A texture that is not there leaves brush 3 as it was.
    EXPECT_NE(RunNumbers("CreateTexturedBrush", {3, 77, 5, 2}), 0);
    EXPECT_EQ(Brush(3)->width, 5);
}

TEST_F(BrushPixelTest, DesktopGrabs) {
    MakeBrush(1, 3, 3, 0x010203);
    VmPushNumber(L_, 1);
    VmPushNewTable(L_);
    SetTableFieldInt(L_, "x", -1);
    EXPECT_EQ(Run("GrabDesktop", 2), ERR_WRONGUSAGE);
    VmSetTop(L_, 0);
    EXPECT_EQ(Brush(1)->width, 3);
    VmPushNumber(L_, 1);
    VmPushNewTable(L_);
    SetTableFieldInt(L_, "x", 1900);
    SetTableFieldInt(L_, "y", 0);
    SetTableFieldInt(L_, "width", 500);
    SetTableFieldInt(L_, "height", 4);
    ASSERT_EQ(Run("GrabDesktop", 2), 0);
    VmSetTop(L_, 0);
    int32_t mx = 0, my = 0, mw = 0, mh = 0;
    ASSERT_EQ(GetDisplayMonitorInfo(display_, &mx, &my, &mw, &mh), 0);
    EXPECT_EQ(Brush(1)->width, mx + mw - 1900);
    EXPECT_EQ(Brush(1)->height, 4);

    // A rectangle of the window's own place on the screen has its pixels.
    MakeBrush(3, 50, 10, 0xFF0000);
    ASSERT_EQ(Show("DisplayBrush", {3, 0, 0}), 0);
    ASSERT_EQ(Real(0, 0), 0xFF0000u);
    const null_backend::Surface* surface = null_backend::GetSurface(display_);
    ASSERT_NE(surface, nullptr);
    VmPushNumber(L_, 2);
    VmPushNewTable(L_);
    SetTableFieldInt(L_, "x", surface->x);
    SetTableFieldInt(L_, "y", surface->y);
    SetTableFieldInt(L_, "width", 100);
    SetTableFieldInt(L_, "height", 80);
    ASSERT_EQ(Run("GrabDesktop", 2), 0);
    VmSetTop(L_, 0);
    const std::vector<uint32_t> grabbed = Pixels(Brush(2));
    int differing = 0;
    for (int y = 0; y < 80; ++y)
        for (int x = 0; x < 100; ++x) differing += (grabbed[y * 100 + x] & 0xFFFFFFu) != Real(x, y);
    EXPECT_EQ(differing, 0);
    EXPECT_EQ(grabbed[0] & 0xFFFFFFu, 0xFF0000u);
    EXPECT_NE(grabbed[60] & 0xFFFFFFu, 0xFF0000u);

    // A single row is a brush one pixel tall.
    VmPushNumber(L_, 2);
    VmPushNewTable(L_);
    SetTableFieldInt(L_, "x", surface->x);
    SetTableFieldInt(L_, "y", surface->y);
    SetTableFieldInt(L_, "width", 100);
    SetTableFieldInt(L_, "height", 1);
    ASSERT_EQ(Run("GrabDesktop", 2), 0);
    VmSetTop(L_, 0);
    EXPECT_EQ(Brush(2)->height, 1);
    EXPECT_EQ(Pixels(Brush(2))[49] & 0xFFFFFFu, 0xFF0000u);
}

// Both axes of the grabbed rectangle are clipped to the monitor's far edges:
// one pixel inside each edge is a brush one pixel across, the edge itself,
// a size below 1 or a negative start is refused and leaves the brush alone.
TEST_F(BrushPixelTest, DesktopGrabsAreClippedOnBothAxesAndEmptyOnesRefused) {
    int32_t mx = 0, my = 0, mw = 0, mh = 0;
    ASSERT_EQ(GetDisplayMonitorInfo(display_, &mx, &my, &mw, &mh), 0);
    ASSERT_NE(mw, mh);
    MakeBrush(1, 3, 2, 0x010203);
    const auto grab = [&](int32_t x, int32_t y, int32_t width, int32_t height) {
        VmPushNumber(L_, 1);
        VmPushNewTable(L_);
        SetTableFieldInt(L_, "x", x);
        SetTableFieldInt(L_, "y", y);
        SetTableFieldInt(L_, "width", width);
        SetTableFieldInt(L_, "height", height);
        const int err = Run("GrabDesktop", 2);
        VmSetTop(L_, 0);
        return err;
    };
    const int32_t right = mx + mw, bottom = my + mh;
    const struct {
        int32_t x, y, width, height;
    } refused[] = {
        {right, my, 5, 6},      {mx, bottom, 5, 6},     {right + 7, my, 5, 6}, {mx, bottom + 7, 5, 6},
        {mx, my, 0, 6},         {mx, my, 5, 0},         {mx, my, -2, 6},       {mx, my, 5, -2},
        {-1, my, 5, 6},         {mx, -1, 5, 6},
    };
    for (const auto& r : refused) {
        EXPECT_EQ(grab(r.x, r.y, r.width, r.height), ERR_WRONGUSAGE)
            << r.x << "," << r.y << " " << r.width << "x" << r.height;
        EXPECT_EQ(Brush(1)->width, 3);
        EXPECT_EQ(Brush(1)->height, 2);
    }
    ASSERT_EQ(grab(right - 1, my, 5, 6), 0);
    EXPECT_EQ(Brush(1)->width, 1);
    EXPECT_EQ(Brush(1)->height, 6);
    ASSERT_EQ(grab(mx, bottom - 1, 5, 6), 0);
    EXPECT_EQ(Brush(1)->width, 5);
    EXPECT_EQ(Brush(1)->height, 1);
    // Without a table the whole monitor is grabbed.
    VmPushNumber(L_, 1);
    ASSERT_EQ(Run("GrabDesktop", 1), 0);
    VmSetTop(L_, 0);
    EXPECT_EQ(Brush(1)->width, mw);
    EXPECT_EQ(Brush(1)->height, mh);
}

TEST_F(BrushPixelTest, BrushesFromLayersAndSprites) {
    MakeBrush(1, 20, 10, 0x445566);
    EXPECT_EQ(RunNumbers("ConvertToBrush", {22, 1, 2}), ERR_NOLAYERS);
    ASSERT_EQ(Run("EnableLayers", 0), 0);
    RunNumbers("WriteBrushPixel", {1, 5, 3, 0xABCDEF});
    ASSERT_EQ(Show("DisplayBrushPart", {1, 5, 3, 10, 10, 4, 2}), 0);
    ASSERT_EQ(RunNumbers("ConvertToBrush", {22, 1, 2}), 0);
    ASSERT_NE(Brush(2), nullptr);
    EXPECT_EQ(Brush(2)->width, 4);
    EXPECT_EQ(Brush(2)->height, 2);
    EXPECT_EQ(Pixels(Brush(2))[0], 0xFFABCDEFu);
    EXPECT_EQ(Pixels(Brush(2))[1], 0xFF445566u);
    EXPECT_EQ(RunNumbers("ConvertToBrush", {22, 9, 2}), ERR_LAYERRANGE);
    EXPECT_EQ(Brush(2)->width, 4);
    // A layer whose picture has a mask gives the mask and the layer key.
    MakeBrush(4, 6, 6, 0x778899);
    ASSERT_EQ(RunNumbers("ChangeBrushTransparency", {4, 28}), 0);
    ASSERT_EQ(Show("DisplayBrush", {4, 50, 50}), 0);
    ASSERT_EQ(RunNumbers("GetBrushLink", {5, 22, 2}), 0);
    ASSERT_NE(Brush(5)->mask, nullptr);
    EXPECT_EQ(Brush(5)->transparentColour, 0x123456);
    EXPECT_EQ(Pixels(Brush(5)), Pixels(Brush(4)));

    FramesSprite(7, 4, 6, 5);
    EXPECT_EQ(RunNumbers("ConvertToBrush", {32, 7, 3, 9}), ERR_ANIMFRAME);
    EXPECT_EQ(RunNumbers("ConvertToBrush", {32, 7, 2, 0}), ERR_ANIMFRAME);
    ASSERT_EQ(RunNumbers("ConvertToBrush", {32, 7, 3, 2}), 0);
    EXPECT_EQ(Brush(3)->width, 6);
    EXPECT_EQ(Pixels(Brush(3))[0], 0xFF000000u | FrameColour(1));
}

}  // namespace
