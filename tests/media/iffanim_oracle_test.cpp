// The builder's ANIMs decoded by FFmpeg's IFF decoder as well: every frame
// both decode must match exactly.
#include <gtest/gtest.h>

#include "animbuilder.h"
#include "animtest.h"

using animbuilder::AnimFile;
using animbuilder::DeltaOptions;
using animbuilder::Picture;
using animbuilder::Layout;

namespace {

Picture Moving(int32_t w, int32_t h, int planes, int frame) {
    Picture p(static_cast<size_t>(w * h));
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x) {
            int v = (x / 3 + y * 2) & ((1 << planes) - 1);
            if (x >= frame * 4 && x < frame * 4 + 9 && y >= frame && y < frame + 5) v = (frame * 3 + 1) & ((1 << planes) - 1);
            p[static_cast<size_t>(y * w + x)] = static_cast<uint8_t>(v);
        }
    return p;
}

}  // namespace

TEST(IFFAnimOracleTest, FramesMatchFfmpegsIffDecoder) {
    if (!imagefixtures::HaveTool("ffmpeg")) GTEST_SKIP() << "ffmpeg missing";
    imagefixtures::ScratchDir dir;
    struct Case {
        int32_t op;
        uint32_t bits;
        int32_t width;
    };
    int compared = 0;
    for (const Case& c : {Case{5, 0, 48}, Case{7, 0, 48}, Case{7, 1, 64}, Case{8, 0, 48}, Case{8, 1, 64}, Case{7, 1, 100}, Case{8, 1, 100}, Case{8, 1, 80}, Case{5, 0, 100}}) {
        SCOPED_TRACE("operation " + std::to_string(c.op) + " bits " + std::to_string(c.bits));
        Layout layout;
        layout.width = c.width;
        layout.height = 12;
        layout.planes = 4;
        for (int i = 0; i < 16; ++i) layout.palette.push_back(static_cast<uint32_t>(i * 0x0F0D0B) & 0xFFFFFF);
        std::vector<Picture> pictures = {Moving(c.width, 12, 4, 0)};
        AnimFile anim(layout, pictures[0]);
        for (int f = 1; f < 6; ++f) {
            pictures.push_back(Moving(c.width, 12, 4, f));
            DeltaOptions o;
            o.operation = c.op;
            o.bits = c.bits;
            o.delay = 2;
            anim.AddDelta(pictures.back(), o);
        }
        const std::string path = dir.File("oracle.anim"), raw = dir.File("oracle.raw");
        imagefixtures::WriteBytes(path, anim.Build());
        if (imagefixtures::RunQuietly("ffmpeg -v error -nostdin -y -i " + path +
                                      " -fps_mode passthrough -f rawvideo -pix_fmt bgra " + raw) != 0)
            continue;
        const auto bytes = imagefixtures::ReadBytes(raw);
        auto a = animtest::Open(path);
        ASSERT_EQ(a.err, 0);
        const size_t frameBytes = static_cast<size_t>(c.width) * 12 * 4;
        for (size_t f = 0; f < bytes.size() / frameBytes && f < static_cast<size_t>(a.frames); ++f) {
            std::vector<uint32_t> expected;
            for (size_t i = 0; i < frameBytes; i += 4) {
                const uint8_t* p = &bytes[f * frameBytes + i];
                expected.push_back(static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[1]) << 8 | p[0]);
            }
            EXPECT_EQ(animtest::Frame(a, static_cast<int32_t>(f)), expected) << "frame " << f;
            ++compared;
        }
    }
    EXPECT_GT(compared, 0);
}
