// Which pointer a window shows for each kind asked, and moving the pointer
// with and without a window.
#include "linux_fixture.h"

namespace {

using PointerTest = LinuxBackendTest;

// A shape is shown only when asked for as a shape: the arrow and the busy
// pointer ignore a shape given with them.
TEST_F(PointerTest, OnlyTheShapeKindShowsTheShapeGiven) {
    uint32_t pixels[4] = {0xFF000000, 0xFFFFFFFF, 0xFFFFFFFF, 0xFF000000};
    qbNativePointer* shape = nullptr;
    ASSERT_EQ(CreateNativePointer(pixels, 0, 0, &shape, 2, 2), 0);
    Open(Display(0), nullptr);
    PushWindowEvent(WindowId(Display(0)), SDL_WINDOWEVENT_FOCUS_GAINED);
    PumpAll();
    const struct {
        int kind;
        qbNativePointer* pointer;
        int shown;
    } cases[] = {
        {kPointerShape, shape, kPointerShape}, {kPointerArrow, shape, kPointerArrow},
        {kPointerBusy, shape, kPointerBusy},   {kPointerShape, nullptr, kPointerArrow},
        {kPointerShape, shape, kPointerShape}, {99, shape, kPointerArrow},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.kind);
        SetWindowPointer(Display(0), c.pointer, c.kind);
        EXPECT_EQ(Window(Display(0)).pointerKind, c.shown);
        EXPECT_EQ(Window(Display(0)).pointer, c.shown == kPointerShape ? shape : nullptr);
        if (shape->cursor && c.shown != kPointerBusy) {
            EXPECT_EQ(SDL_GetCursor(), c.shown == kPointerShape ? shape->cursor : SDL_GetDefaultCursor());
        }
    }
    FreeNativePointer(shape);
}

TEST_F(PointerTest, MovingThePointerNeedsAnOpenWindow) {
    int x = -1;
    int y = -1;
    SDL_GetMouseState(&x, &y);
    MoveNativePointer(Display(0), 7, 9);  // no window: nothing to move in
    int nx = -1;
    int ny = -1;
    SDL_GetMouseState(&nx, &ny);
    EXPECT_EQ(nx, x);
    EXPECT_EQ(ny, y);
    Open(Display(0), nullptr);
    PushWindowEvent(WindowId(Display(0)), SDL_WINDOWEVENT_FOCUS_GAINED);
    PumpAll();
    MoveNativePointer(Display(0), 7, 9);
    SDL_GetMouseState(&x, &y);
    EXPECT_EQ(x, 7);
    EXPECT_EQ(y, 9);
}

}  // namespace
