// The entry through which display adapters feed their input into the queue:
// buttons, keys with the quit switches and the full-screen toggle, window
// changes, call requests and user event types.
#include <cstring>

#include "core/errcodes.h"
#include "core/eventqueue.h"
#include "core/memory.h"
#include "core/ostime.h"
#include "core/preproc.h"
#include "core/runstate.h"
#include "display/adapter.h"
#include "display/display.h"
#include "display/displayscaling.h"
#include "display/eventlib.h"
#include "display/refresh.h"
#include "platform/platform.h"

namespace {

constexpr int32_t kKeyEscape = 275;
constexpr int32_t kKeyReturn = 274;
constexpr uint32_t kControlMask = 0x80400000u | 0x80800000u;  // LCONTROL, RCONTROL
constexpr uint32_t kCommandMask = 0x80100000u | 0x80200000u;  // LCOMMAND, RCOMMAND
constexpr uint32_t kEventQuitRequest = 23;
constexpr uint32_t kEventCallRequest = 24;

// LeftMouseQuit, EscapeQuit and CtrlCQuit for the input adapters post.
bool quitSwitches[3] = {};
bool QuitSwitchOn(int key) { return quitSwitches[key - kQuitShortcutCtrlC]; }

bool Qualified(int32_t qualifiers, uint32_t mask) { return (static_cast<uint32_t>(qualifiers) & mask & 0x7fffffff) != 0; }

// RETURN with a command key switches between window and full screen where
// the display allows it.
bool MayToggleFullScreen(qbDisplay* d) { return CanToggleFullScreen(d) && !(d->flags & kDispNoModeSwitch); }

}  // namespace

void SetEventQuitSwitch(int key, bool on) {
    if (key >= kQuitShortcutCtrlC && key <= kQuitShortcutEscape) quitSwitches[key - kQuitShortcutCtrlC] = on;
}

int PostAdapterEvent(ScriptState* L, int kind, const qbAdapterInput& in) {
    auto post = [](qbDisplay* d, uint32_t type, int32_t a, int32_t b, int32_t c, void* block) {
        const int r = PostEvent(d, type, a, b, c, block);
        PostWakeEvent();
        return r == 1 ? 0 : ERR_ADDSYSEVENT;
    };
    auto quit = [&post]() {
        SetEventQuitRequested(true);
        return post(nullptr, kEventQuitRequest, 0, 0, 0, nullptr);
    };
    if (IsShuttingDown()) return 0;
    qbDisplay* d = in.display;
    if (kind >= 3 && kind <= 9 && !d) return ERR_FINDDISPLAY;
    switch (kind) {
        case 0: return quit();
        case 1: {
            void* block = AllocMemory(sizeof in.call, 0);
            if (!block) return ERR_MEM;
            std::memcpy(block, in.call, sizeof in.call);
            if (int err = post(nullptr, kEventCallRequest, 0, 0, 0, block)) {
                FreeMemory(block);
                return err;
            }
            return 0;
        }
        case 2: PostWakeEvent(); return 0;
        case 3: {
            const int32_t button = in.words[2];
            if (button == 0) {
                d->view.mouseX = in.words[0];
                d->view.mouseY = in.words[1];
                d->view.mouseMovedMicros = GetMonotonicMicros();
                d->view.mouseMoved = 1;
                PostWakeEvent();
                return 0;
            }
            static const uint32_t kTypes[3] = {kEventLeftButton, kEventRightButton, kEventMiddleButton};
            if (button < 1 || button > 3) return ERR_WRONGUSAGE;
            d->lastButtonWord[button - 1] = in.words[3];
            if (int err = post(d, kTypes[button - 1], in.words[0], in.words[1], in.words[3], nullptr)) return err;
            return button == 1 && in.words[3] && QuitSwitchOn(kQuitShortcutLeftButton) ? quit() : 0;
        }
        case 4: {
            const int32_t code = in.words[0];
            const bool pressed = in.words[1] != 0;
            if (code >= 0 && code < kKeyStateCount) d->keyState[code] = pressed ? 1 : 0;
            if (int err = post(d, kEventKey, pressed ? 1 : 0, in.words[2], code, nullptr)) return err;
            if (!pressed) {
                if (code == kKeyReturn && Qualified(in.words[2], kCommandMask) && MayToggleFullScreen(d))
                    return post(d, kEventFullScreenToggle, 0, 0, 0, nullptr);
                return 0;
            }
            if ((code == kKeyEscape && QuitSwitchOn(kQuitShortcutEscape)) ||
                ((code == 'c' || code == 'C') && Qualified(in.words[2], kControlMask) && QuitSwitchOn(kQuitShortcutCtrlC)))
                return quit();
            return 0;
        }
        case 5: return post(d, kEventCloseRequest, 0, 0, 0, nullptr);
        case 6: {
            // The adapter's window has its new size already.
            qbResizeRequest r;
            r.x = d->x;
            r.y = d->y;
            r.width = in.words[0];
            r.height = in.words[1];
            r.noWindow = true;
            if (int err = ResizeDisplay(L, d, r)) return err;
            return post(d, kEventResized, in.words[0], in.words[1], 0, nullptr);
        }
        case 7:
            d->x = in.words[0];
            d->y = in.words[1];
            return post(d, kEventMoved, in.words[0], in.words[1], 0, nullptr);
        case 8:
            if (!in.words[0]) {
                d->flags |= kDisplayHidden;
                return post(d, kEventMinimised, 0, 0, 0, nullptr);
            }
            d->flags &= ~kDisplayHidden;
            d->state = DISPSTATE_OPEN;
            RefreshDisplay(L, d);
            return post(d, kEventRestored, 0, 0, 0, nullptr);
        case 9: return post(d, in.words[0] ? kEventActivated : kEventDeactivated, 0, 0, 0, nullptr);
        default:
            if (kind >= 28) return post(d, static_cast<uint32_t>(kind), in.words[0], in.words[1], in.words[2], in.block);
            return ERR_WRONGUSAGE;
    }
}
