// An applet that puts its 640x480 display full screen in an 800x600 mode
// over a red-to-blue gradient backfill, shows a grey brush over all of it and saves a
// snapshot of its window and one of its monitor; and the check of the two
// files: the window is all grey, the monitor the virtual screen with the
// display in its middle and the gradient around it (never grey nor black).
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "imaging/imagefixtures.h"

namespace e2e {

constexpr char kVirtualSnapshotsApplet[] = R"(
.function main maxstack=10
.line 1
    GETGLOBAL 0 "changedisplaymode"
    LOADK 1 #2
    LOADK 2 #800
    LOADK 3 #600
    NEWTABLE 4 0 1
    NEWTABLE 5 0 3
    LOADK 6 "gradient"
    SETTABLE 5 "type" 6
    LOADK 6 #16711680
    SETTABLE 5 "startcolor" 6
    LOADK 6 #255
    SETTABLE 5 "endcolor" 6
    SETTABLE 4 "backfill" 5
    CALL 0 5 1
.line 2
    GETGLOBAL 0 "createbrush"
    LOADK 1 #1
    LOADK 2 #640
    LOADK 3 #480
    LOADK 4 #8421504
    CALL 0 5 1
    GETGLOBAL 0 "displaybrush"
    LOADK 1 #1
    LOADK 2 #0
    LOADK 3 #0
    CALL 0 4 1
.line 3
    GETGLOBAL 0 "savesnapshot"
    LOADK 1 "window.bmp"
    LOADK 2 #0
    CALL 0 3 1
    GETGLOBAL 0 "savesnapshot"
    LOADK 1 "desktop.bmp"
    LOADK 2 #2
    CALL 0 3 1
    RETURN 0 1 0
.end
)";

// The BMP file as 0xRRGGBB rows, read by netpbm.
inline std::vector<uint32_t> ReadBmpRows(const std::filesystem::path& bmp, int* width, int* height) {
    std::vector<uint32_t> pixels;
    const std::string ppm = bmp.string() + ".ppm";
    EXPECT_EQ(imagefixtures::RunQuietly("bmptopnm '" + bmp.string() + "' > '" + ppm + "'"), 0) << bmp;
    EXPECT_TRUE(imagefixtures::ReadPPM(ppm, width, height, &pixels)) << bmp;
    return pixels;
}

// The snapshot of the window (0xRRGGBB rows) and the one of the monitor.
inline void ExpectVirtualScreenSnapshots(const std::vector<uint32_t>& window, int windowWidth, int windowHeight,
                                         const std::vector<uint32_t>& desktop, int width, int height) {
    constexpr uint32_t kGrey = 0x808080;
    EXPECT_EQ(windowWidth, 640);
    EXPECT_EQ(windowHeight, 480);
    int notGrey = 0;
    for (uint32_t p : window) notGrey += p != kGrey;
    EXPECT_EQ(notGrey, 0);
    ASSERT_EQ(width, 800);
    ASSERT_EQ(height, 600);
    int wrong = 0;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const uint32_t p = desktop[static_cast<size_t>(y) * width + x];
            const bool inside = x >= 80 && x < 720 && y >= 60 && y < 540;
            wrong += inside ? p != kGrey : (p == kGrey || p == 0);
        }
    EXPECT_EQ(wrong, 0);
    EXPECT_NE(desktop.front(), desktop.back());
}

// The two files the applet saved in dir.
inline void ExpectVirtualSnapshots(const std::filesystem::path& dir) {
    int ww = 0, wh = 0, dw = 0, dh = 0;
    const std::vector<uint32_t> window = ReadBmpRows(dir / "window.bmp", &ww, &wh);
    const std::vector<uint32_t> desktop = ReadBmpRows(dir / "desktop.bmp", &dw, &dh);
    ExpectVirtualScreenSnapshots(window, ww, wh, desktop, dw, dh);
}

}  // namespace e2e
