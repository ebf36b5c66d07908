// Double buffering with a display adapter that double-buffers by itself:
// its three slots are called, drawing reaches it through its blits, and
// satellites are refused; without asking for hardware the buffers stay ours,
// and a software Flip copies just the rectangles of its frame.
#include <string>
#include <utility>
#include <vector>

#include "core/plugin.h"
#include "display/dirtylist.h"
#include "display/displayhooks.h"
#include "display/doublebuffer.h"
#include "display/output.h"
#include "display_fixture.h"

namespace {

std::vector<std::string> calls;
void* const kHandle = reinterpret_cast<void*>(0x4321);

void Log(std::string line) { calls.push_back(std::move(line)); }

qbDisplayAdapterSlots Slots() {
    qbDisplayAdapterSlots s;
    s.OpenDisplay = [](const char*, int32_t, int32_t, int32_t, int32_t, uint32_t, const qbAdapterTag*) {
        return kHandle;
    };
    s.BltBitMap = [](void*, void* dst, const qbAdapterBlitBlock* b, uint32_t, void*) {
        if (dst == kHandle) Log("BltBitMap " + std::to_string(b->dstX) + " " + std::to_string(b->width));
        return 0;
    };
    s.BeginDoubleBuffer = [](void* h, void*) {
        Log(std::string("BeginDoubleBuffer ") + (h == kHandle ? "1" : "0"));
        return 0;
    };
    s.EndDoubleBuffer = [](void* h, void*) {
        Log(std::string("EndDoubleBuffer ") + (h == kHandle ? "1" : "0"));
        return 0;
    };
    s.Flip = [](void* h, const qbAdapterTag* t) {
        Log("Flip " + std::string(h == kHandle ? "1 " : "0 ") + std::to_string(t[0].tag) + " " +
            std::to_string(t[0].value) + " " + std::to_string(t[1].tag));
        return 0;
    };
    return s;
}

const qbDisplayAdapterSlots kSlots = Slots();

int NoHook(qbDisplayHook*, int, const void*, void*) { return 0; }

class AdapterDoubleBufferTest : public DisplayWorld {
protected:
    qbDisplay* OpenWithAdapter(int32_t width = 32, int32_t height = 24) {
        plugin_.name = "db";
        plugin_.capabilities = PLUGINCAPS_DISPLAYADAPTER;
        plugin_.displaySlots = &kSlots;
        SetAdapterWindowOpen(true);
        EXPECT_EQ(SetDisplayAdapter(&plugin_, 0, nullptr), 0);
        SetAdapterWindowOpen(false);
        qbDisplayOptions o;
        o.width = width;
        o.height = height;
        o.flags = kDisplayActivate;
        qbDisplay* d = Make(1, o);
        EXPECT_EQ(StartDisplays(nullptr), 0);
        calls.clear();
        return d;
    }
    qbPlugin plugin_;
};

}  // namespace

TEST_F(AdapterDoubleBufferTest, TheAdapterGetsItsThreeSlotCallsAndTheDrawing) {
    qbDisplay* d = OpenWithAdapter();
    ASSERT_EQ(d->adapterHandle, kHandle);
    ASSERT_EQ(BeginDoubleBufferCore(nullptr, d, true, false), 0);
    EXPECT_EQ(d->hardDoubleBuffer, 1);
    EXPECT_EQ(d->softDoubleBuffer, 0);
    EXPECT_EQ(d->drawBuffer, nullptr);
    EXPECT_EQ(d->output.type, kOutputBrush);
    EXPECT_EQ(BeginDoubleBufferCore(nullptr, d, true, false), ERR_ENDDOUBLEBUFFER);

    BitmapPtr red = FilledBitmap(4, 4, 0xFF0000);
    qbSafeBlt b;
    b.source = red.get();
    b.destination = d->output.bitmap;
    b.dstX = 3;
    b.width = b.height = b.srcWidth = b.srcHeight = 4;
    b.dstWidth = 32;
    b.dstHeight = 24;
    SafeBlt(nullptr, b);
    ASSERT_EQ(FlipDoubleBuffer(nullptr, d, true), 0);
    ASSERT_EQ(EndDoubleBufferCore(nullptr, d), 0);
    EXPECT_EQ(d->output.type, kObjectTypeDisplay);
    EXPECT_EQ(d->hardDoubleBuffer, 0);
    EXPECT_EQ(calls, (std::vector<std::string>{"BeginDoubleBuffer 1", "BltBitMap 3 4", "Flip 1 1 1 0",
                                               "EndDoubleBuffer 1"}));
}

TEST_F(AdapterDoubleBufferTest, WithoutHardwareTheBuffersAreOursAndSatellitesRefuseTheAdapters) {
    qbDisplay* d = OpenWithAdapter();
    ASSERT_EQ(BeginDoubleBufferCore(nullptr, d, false, false), 0);
    EXPECT_EQ(d->softDoubleBuffer, 1);
    ASSERT_NE(d->drawBuffer, nullptr);
    EXPECT_EQ(d->output.bitmap, d->drawBuffer.get());
    ASSERT_EQ(EndDoubleBufferCore(nullptr, d), 0);
    EXPECT_TRUE(calls.empty());

    ASSERT_NE(AddDisplayHook(ObjectID{1, nullptr}, &NoHook, nullptr, nullptr, 0), nullptr);
    EXPECT_EQ(BeginDoubleBufferCore(nullptr, d, true, false), ERR_SATELLITE);
    RemoveDisplayHook(d->hooks);
    EXPECT_EQ(BeginDoubleBufferCore(nullptr, d, false, true), ERR_LAYERSOFF);
}

using SoftDoubleBufferTest = DisplayWorld;

// A software Flip copies the rectangles of this frame, not those a former
// frame left in the list: a change the list does not hold stays unseen.
TEST_F(SoftDoubleBufferTest, AFlipCopiesOnlyThisFramesRectangles) {
    qbDisplay* d = MakeOpen(2, 40, 30);
    ASSERT_EQ(BeginDoubleBufferCore(nullptr, d, false, false), 0);
    ASSERT_EQ(FlipDoubleBuffer(nullptr, d, false), 0);  // the first frame is shown whole
    qbBitmap* draw = d->drawBuffer.get();
    qbBitmap* show = d->showBuffer.get();
    auto mark = [&](int32_t x, int32_t y, uint32_t colour) {
        WriteBitmapPixel(draw, x, y, colour, false);
        AppendDirtyRect(&d->dirtyRects, x, y, 1, 1, false);
    };
    mark(1, 1, 0x111111);
    mark(30, 20, 0x222222);
    ASSERT_EQ(FlipDoubleBuffer(nullptr, d, false), 0);
    EXPECT_EQ(ReadBitmapPixel(show, 1, 1, false), 0x111111u);
    EXPECT_EQ(ReadBitmapPixel(show, 30, 20, false), 0x222222u);
    WriteBitmapPixel(draw, 30, 20, 0x333333, false);
    mark(1, 1, 0x444444);
    ASSERT_EQ(FlipDoubleBuffer(nullptr, d, false), 0);
    EXPECT_EQ(ReadBitmapPixel(show, 1, 1, false), 0x444444u);
    EXPECT_EQ(ReadBitmapPixel(show, 30, 20, false), 0x222222u);
    ASSERT_EQ(EndDoubleBufferCore(nullptr, d), 0);
}

// With an adapter present our buffers cannot be swapped whole: the flip
// copies the frame over, to the last row and column whichever way round.
TEST_F(AdapterDoubleBufferTest, ASoftwareFlipBesideAnAdapterCopiesTheWholeFrame) {
    for (const auto& [width, height] : {std::pair{24, 32}, std::pair{32, 24}}) {
        qbDisplay* d = OpenWithAdapter(width, height);
        ASSERT_EQ(BeginDoubleBufferCore(nullptr, d, false, false), 0);
        FillBitmapRect(d->drawBuffer.get(), 0, 0, width, height, 0x00FF00);
        ASSERT_EQ(FlipDoubleBuffer(nullptr, d, false), 0);
        qbBitmap* show = d->showBuffer.get();
        ASSERT_NE(show, nullptr);
        for (const auto& [x, y] : {std::pair{0, height - 1}, std::pair{width - 1, 0}, std::pair{width - 1, height - 1}})
            EXPECT_EQ(ReadBitmapPixel(show, x, y, false) & 0xFFFFFF, 0x00FF00u) << width << "x" << height << " at " << x
                                                                                << "," << y;
        ASSERT_EQ(EndDoubleBufferCore(nullptr, d), 0);
        Clean();
    }
}
