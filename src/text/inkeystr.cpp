// InKeyStr: a line of keyboard input at the text cursor. Each accepted
// character is echoed as a PRINT layer of its own (layers are on for the
// duration), so that a backspace undoes just its echo; at the end every
// echo goes and the whole input is printed once.
#include <algorithm>
#include <new>
#include <string>
#include <vector>

#include "core/argapi.h"
#include "core/errcodes.h"
#include "core/eventqueue.h"
#include "display/display.h"
#include "display/eventlib.h"
#include "display/events.h"
#include "display/output.h"
#include "objects/layers.h"
#include "text/font.h"
#include "text/print.h"
#include "text/textlib.h"

namespace {

constexpr size_t kMaxInput = 1024;

enum : int32_t {
    kKeyBackspace = 271,
    kKeyTab = 272,
    kKeyEnter = 273,
    kKeyReturn = 274,
    kKeySpace = 276,
};

enum : int32_t { kInputAll = 0, kInputAlphanumerical = 1, kInputAlphabetical = 2, kInputNumerical = 3, kInputHex = 4 };

bool IsDigit(int c) { return c >= '0' && c <= '9'; }
bool IsLetter(int c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= 192 && c <= 246) || (c >= 248 && c <= 255);
}

bool Accepts(int32_t type, int c) {
    switch (type) {
        case kInputAll: return c == ' ' || (c >= 33 && c <= 126) || (c >= 161 && c <= 255);
        case kInputAlphanumerical: return c == ' ' || IsDigit(c) || IsLetter(c);
        case kInputAlphabetical: return c == ' ' || IsLetter(c);
        case kInputNumerical: return IsDigit(c);
        case kInputHex: return IsDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
        default: return false;
    }
}

// Input reads the keyboard on the display itself.
int CheckInputOutput(const qbDisplay* d) {
    if (int err = CheckOutputGuard(d, OutputGuard::Refresh)) return err;
    return d->refreshBlock ? ERR_BEGINREFRESH : 0;
}

struct Input {
    qbDisplay* display;
    int32_t type;
    size_t maxLength;
    bool password;
    std::string text;
    std::vector<int32_t> cursors;  // per character, the cursor x before its echo
    int32_t startX = 0;
    int32_t startY = 0;
    bool finished = false;
    int error = 0;

    int32_t& CursorX() { return display->outputPosition[kTextCursorX]; }
    int32_t& CursorY() { return display->outputPosition[kTextCursorY]; }

    void Key(ScriptState* L, int32_t code) {
        if (code == kKeyBackspace) {
            if (text.empty()) return;
            text.pop_back();
            UndoLayer(L, kLayerPrint, ObjectID{}, 1, false);
            CursorX() = cursors.back();
            cursors.pop_back();
            return;
        }
        if (code == kKeyEnter || code == kKeyReturn) {
            const qbFont* font = CurrentFont(*GetTextStyle());
            CursorX() = display->outputPosition[kTextLeftMargin];
            CursorY() += font ? font->height : 0;
            finished = true;
            return;
        }
        if (code == kKeyTab || code == kKeySpace) code = ' ';
        if (code < 0 || code > 255) return;
        if (maxLength > 0 && text.size() >= maxLength) return;
        if (!Accepts(type, code)) return;
        if (text.size() == kMaxInput) {
            finished = true;
            return;
        }
        cursors.push_back(CursorX());
        text += static_cast<char>(code);
        if (int err = PrintText(L, password ? "*" : std::string(1, static_cast<char>(code)), true)) {
            error = err;
            finished = true;
        }
    }

    // Takes every queued event; key presses are handled in order.
    void Drain(ScriptState* L) {
        LockEventQueue();
        for (int n = 0; !finished; ++n) {
            qbInputEvent e;
            if (PeekQueuedEvent(L, n, &e, 0) != n + 1) break;
            if (e.type == kEventKey && e.state) Key(L, e.key[1]);
        }
        FlushEvents(L, -1, 0);
        UnlockEventQueue();
    }

    void UndoEchoes(ScriptState* L) {
        for (size_t i = 0; i < cursors.size(); ++i) UndoLayer(L, kLayerPrint, ObjectID{}, 1, false);
    }
};

}  // namespace

int cmdInKeyStr(ScriptState* L) {
    CheckArgCount(L, 1, 3, 0, 0);
    const int32_t type = VmCheckInt(L, 1);
    const double maxArg = VmOptNumber(L, 2, 0);
    const bool password = GetFlagArg(L, 3, false);
    qbDisplay* d = GetCurrentDisplay();
    if (!d) return ERR_FINDDISPLAY;
    if (int err = CheckInputOutput(d)) return err;
    Input in{d, type, maxArg > 0 ? static_cast<size_t>(std::min(maxArg, 1e9)) : 0, password, {}, {}};
    try {
        in.text.reserve(kMaxInput);
        in.cursors.reserve(kMaxInput);
    } catch (const std::bad_alloc&) {
        return ERR_MEM;
    }
    in.startX = in.CursorX();
    in.startY = in.CursorY();
    const int32_t layersWere = d->layersEnabled;
    d->layersEnabled = 1;
    for (;;) {
        int pumpError = 0;
        if (PumpEvents(L, kPumpWaitEvent, nullptr, &pumpError)) {
            if (pumpError) {
                in.error = pumpError;
                break;
            }
            in.finished = true;
        }
        // A quit an earlier pump took stands until the script ends.
        if (EventQuitRequested()) in.finished = true;
        if (!in.finished) in.Drain(L);
        if (in.finished) break;
        int ignored = 0;
        if (int err = WaitForEvents(L, 0, nullptr, &ignored)) {
            in.error = err;
            break;
        }
    }
    in.UndoEchoes(L);
    d->layersEnabled = layersWere;
    if (in.error) return in.error;
    // The finished input stands once, where it began.
    in.CursorX() = in.startX;
    in.CursorY() = in.startY;
    if (!in.text.empty())
        if (int err = PrintText(L, password ? std::string(in.text.size(), '*') : in.text, true)) return err;
    VmPushLString(L, in.text.data(), in.text.size());
    return 1;
}
