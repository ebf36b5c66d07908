// The example examples/movebrush.qbs, run by the player in this process on
// the in-memory backend with a test picture as its brush.png: the window is
// read at every pump, each new place of the picture is answered with the
// next key, and the picture must stand where the keys so far have moved it.
// Escape must end the applet with status 0.
#include <gtest/gtest.h>

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "core/eventqueue.h"
#include "display/display.h"
#include "display/eventlib.h"
#include "e2e/e2e_util.h"
#include "imaging/imagefixtures.h"
#include "platform/null/null_backend.h"
#include "platform/platform_ops.h"
#include "player/startup.h"

namespace fs = std::filesystem;

namespace {

// What the example draws: a 640 x 480 display, brush 2 of this colour under
// everything, and brush 1 from brush.png, here a test picture of its size.
constexpr int kPictureWidth = 160, kPictureHeight = 100;
constexpr uint32_t kBackground = 0x203040;
constexpr int kStep = 10;

// Every pixel tells where it lies, so a picture cut or shifted shows.
uint32_t PicturePixel(int x, int y) { return 0x800000u | (static_cast<uint32_t>(x) << 8) | static_cast<uint32_t>(y); }

using Position = std::pair<int, int>;

enum class Frame { Blank, Picture, Other };

// A frame of one colour (the window before the background and the
// background before the picture), the picture alone on the background (its
// position then in *at), or anything else.
Frame Classify(const null_backend::Surface& s, Position* at) {
    auto pixel = [&](int x, int y) { return s.At(x, y) & 0xFFFFFFu; };
    int left = -1, top = -1;
    for (int y = 0; y < s.height && left < 0; ++y)
        for (int x = 0; x < s.width; ++x)
            if (pixel(x, y) != kBackground) {
                left = x;
                top = y;
                break;
            }
    if (left < 0) return Frame::Blank;
    bool uniform = true;
    for (int y = 0; y < s.height && uniform; ++y)
        for (int x = 0; x < s.width; ++x) uniform = uniform && pixel(x, y) == pixel(0, 0);
    if (uniform) return Frame::Blank;
    for (int y = 0; y < s.height; ++y)
        for (int x = 0; x < s.width; ++x) {
            const bool inside = x >= left && x < left + kPictureWidth && y >= top && y < top + kPictureHeight;
            if (pixel(x, y) != (inside ? PicturePixel(x - left, y - top) : kBackground)) return Frame::Other;
        }
    *at = {left, top};
    return Frame::Picture;
}

class MoveBrushTest : public e2e::E2eFixture {
protected:
    void SetUp() override {
        E2eFixture::SetUp();
        SetPlatformBackend(&NullPlatformOps());
        null_backend::Reset();
    }
    void TearDown() override {
        null_backend::Reset();
        E2eFixture::TearDown();
    }
};

}  // namespace

TEST_F(MoveBrushTest, ArrowKeysMoveThePictureAndEscapeEndsTheApplet) {
    std::vector<uint32_t> picture;
    for (int y = 0; y < kPictureHeight; ++y)
        for (int x = 0; x < kPictureWidth; ++x) picture.push_back(PicturePixel(x, y));
    ASSERT_TRUE(imagefixtures::WriteRgbPng((dir_ / "brush.png").string(), kPictureWidth, kPictureHeight, picture,
                                           false, false));
    const std::string source = e2e::ReadFile(fs::path(QB_SOURCE_DIR) / "examples" / "movebrush.qbs");
    ASSERT_FALSE(source.empty());
    const fs::path qba =
        Pack(Chunk(source, "movebrush"), dir_ / "movebrush.qba", "--include movebrush.qbs:1:1000000:0");

    // "A" is no arrow: the picture stays until the arrow after it.
    const struct {
        const char* keys[2];
        int dx, dy;
    } moves[] = {
        {{"RIGHT"}, kStep, 0}, {{"RIGHT"}, kStep, 0}, {{"DOWN"}, 0, kStep},
        {{"A", "LEFT"}, -kStep, 0}, {{"UP"}, 0, -kStep}, {{"UP"}, 0, -kStep},
    };
    std::vector<Position> expected{{(640 - kPictureWidth) / 2, (480 - kPictureHeight) / 2}};
    for (const auto& m : moves) expected.push_back({expected.back().first + m.dx, expected.back().second + m.dy});

    // A key goes down and up again, as typed.
    auto press = [](const qbDisplay* d, const char* name) {
        const int64_t named = KeyCodeFromName(name, false);
        const int32_t code = named >= 0 ? static_cast<int32_t>(named) : name[0] | 0x20;
        null_backend::ScriptEvent({const_cast<qbDisplay*>(d), kEventKey, 1, 0, code});
        null_backend::ScriptEvent({const_cast<qbDisplay*>(d), kEventKey, 0, 0, code});
    };
    std::vector<Position> seen;
    int otherFrames = 0;
    size_t movesSent = 0;
    std::atomic<const qbDisplay*> window = nullptr;
    null_backend::SetPumpObserver([&] {
        const qbDisplay* d = GetCurrentDisplay();
        const null_backend::Surface* s = d ? null_backend::GetSurface(d) : nullptr;
        if (!s) return;
        window = d;
        Position at;
        const Frame frame = Classify(*s, &at);
        if (frame == Frame::Other) ++otherFrames;
        if (frame != Frame::Picture || (!seen.empty() && seen.back() == at)) return;
        seen.push_back(at);
        if (movesSent == std::size(moves)) {
            press(d, "ESC");
            return;
        }
        for (const char* key : moves[movesSent].keys)
            if (key) press(d, key);
        ++movesSent;
    });

    // An applet that ignores Escape would wait for ever; closing its window
    // ends it then, and the test fails.
    std::mutex mutex;
    std::condition_variable ended;
    bool done = false, closed = false;
    std::thread watchdog([&] {
        std::unique_lock lock(mutex);
        if (ended.wait_for(lock, std::chrono::seconds(20), [&] { return done; })) return;
        closed = true;
        null_backend::ScriptEvent({const_cast<qbDisplay*>(window.load()), kEventCloseRequest, 0, 0, 0});
    });
    std::string player = QB_PLAYER_PATH, applet = qba.string(), quiet = "-quiet";
    char* argv[] = {player.data(), applet.data(), quiet.data(), nullptr};
    const int status = PlayerMain(3, argv);
    {
        std::lock_guard lock(mutex);
        done = true;
    }
    ended.notify_one();
    watchdog.join();

    EXPECT_FALSE(closed) << "Escape did not end the applet";
    EXPECT_EQ(status, 0);
    EXPECT_EQ(seen, expected);
    EXPECT_EQ(otherFrames, 0);
}
