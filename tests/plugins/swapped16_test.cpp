// A plugin's blended line over byte-swapped 16-bit pixels gives exactly the
// byte-swap of the line over the plain format.
#include <gtest/gtest.h>

#include "plugins/basetables.h"
#include "plugins/plugin.h"
#include "swapped16.h"

TEST(Swapped16Plugins, BlendedPixelLine) {
    swapped16::ExpectBufferTwins([](uint16_t* pixels, int32_t rowLength, int format) {
        const qbAdapterTag tags[] = {{1, format}, {2, rowLength}, {3, swapped16::kH}, {0, 0}};
        for (int32_t y = 0; y < swapped16::kH; ++y)
            kPluginGraphicsTable.DrawPixelLine(pixels, -1, y, swapped16::kW, y / 2, 0x803080C0u, 1, tags);
    });
}
