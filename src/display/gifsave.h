// A picture saved as a one-frame GIF: the ARGB pixels quantised to the
// palette, the key colour as the transparent one.
#pragma once

#include <cstdint>

// 0, ERR_MEM (no index buffer), ERR_WRONGUSAGE (a side above 65535),
// ERR_WRITEFILE (the name as detail) or ERR_WRITE. keyColour -1: none.
int WriteGIFImageFile(const uint32_t* pixels, int32_t width, int32_t height, const char* fileName,
                      int32_t keyColour, int32_t colours, bool dither);
