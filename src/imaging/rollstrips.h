// The curl of the roll and wallpaper transitions: one-pixel strips of a
// picture placed along a cylinder's profile.
#pragma once

#include <cstdint>

// Pitches count pixels for the pictures and bytes for the planes. The
// picture's planes may be null (opaque), the curl's only where the
// picture's are.
struct qbRollRecord {
    void* curl = nullptr;
    int32_t curlPitch = 0;
    const void* picture = nullptr;
    int32_t picturePitch = 0;
    int32_t bytesPerPixel = 4;  // 2 or 4
    const uint8_t* pictureMask = nullptr;
    int32_t pictureMaskPitch = 0;
    const uint8_t* pictureAlpha = nullptr;
    int32_t pictureAlphaPitch = 0;
    uint8_t* curlMask = nullptr;
    int32_t curlMaskPitch = 0;
    uint8_t* curlAlpha = nullptr;
    int32_t curlAlphaPitch = 0;
    // n angles across the cylinder: entry i is asin(1 - 2i/n) + pi/2.
    const double* profile = nullptr;
    int32_t width = 0, height = 0;
    int32_t alongX = 0;  // the curl moves along x (rows otherwise)
    int32_t n = 0;
    int32_t position = 0;  // the curl's near edge along the roll
    // Written: the lines [start, end) the curl covers, extent = end - start.
    int32_t extent = 0, start = 0, end = 0;
};

// Fills the profile table of n entries.
void FillRollProfile(double* profile, int32_t n);

// Draws the curl: each line L of the band [position, position + n) inside
// the picture shows the picture's line position + (n / 2) x (pi - angle),
// the arc the sheet has wound by then (the last line where the sheet is
// shorter). The curl's planes are cleared outside the band. Writes extent,
// start and end.
void DrawRollStrips(qbRollRecord& record);
