// The part of a video's drawing rectangle that lies on its display: the
// rule both the presentation of pictures and the mask that keeps the
// display's own blits off a playing video use.
#pragma once

#include <cstdint>

struct qbVideoClip {
    int32_t sourceX = 0, sourceY = 0;  // into the picture
    int32_t x = 0, y = 0;              // on the display
    int32_t width = 0, height = 0;     // 0 when nothing shows
};

// A negative x or y cuts the picture's left or top; the size is cut at the
// picture and at the area.
qbVideoClip ClipVideoRect(int32_t x, int32_t y, int32_t width, int32_t height, int32_t areaWidth, int32_t areaHeight);
