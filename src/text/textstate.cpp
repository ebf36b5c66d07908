// The commands that set the text style and the current display's text
// cursor, margins and tab stops, and the default encoding.
#include <algorithm>
#include <iterator>

#include "core/argapi.h"
#include "core/errcodes.h"
#include "core/numbers.h"
#include "display/display.h"
#include "display/output.h"
#include "text/textlib.h"

namespace {

constexpr int32_t kCenter = -100000;
constexpr int32_t kLeft = -90000;
constexpr int32_t kRight = -80000;
constexpr int32_t kTop = -70000;
constexpr int32_t kBottom = -60000;

}  // namespace

int cmdSetFontColor(ScriptState* L) {
    CheckArgCount(L, 1, 1, 0, 0);
    GetTextStyle()->colour = VmCheckInt(L, 1);
    return 0;
}

int cmdResetTabs(ScriptState* L) {
    CheckArgCount(L, 0, 0, 0, 0);
    qbDisplay* d = GetCurrentDisplay();
    if (!d) return ERR_FINDDISPLAY;
    d->tabCount = 0;
    return 0;
}

int cmdAddTab(ScriptState* L) {
    CheckArgCount(L, 1, 0, 0, 0);
    qbDisplay* d = GetCurrentDisplay();
    if (!d) return ERR_FINDDISPLAY;
    const int n = VmGetTop(L);
    for (int i = 1; i <= n; ++i) {
        const int32_t pos = GetIntArg(L, i);
        if (d->tabCount >= kTabStopCount) return ERR_INTERNAL;
        if (pos < 0) return ERR_NEGCOORDS;
        int32_t* end = d->tabStops + d->tabCount;
        int32_t* at = std::upper_bound(d->tabStops, end, pos);
        std::move_backward(at, end, end + 1);
        *at = pos;
        ++d->tabCount;
    }
    return 0;
}

int cmdLocate(ScriptState* L) {
    CheckArgCount(L, 2, 2, 0, 0);
    const int32_t x = GetIntArg(L, 1);
    const int32_t y = GetIntArg(L, 2);
    // Only the bare constants are refused: an offset from one is a position.
    if (x == kCenter || x == kLeft || x == kRight || y == kCenter || y == kTop || y == kBottom)
        return ERR_NOCOORDCST;
    qbDisplay* d = GetCurrentDisplay();
    if (!d) return ERR_FINDDISPLAY;
    const int32_t left = d->outputPosition[kTextLeftMargin];
    const int32_t right = d->outputPosition[kTextRightMargin];
    d->outputPosition[kTextCursorX] = x >= left && x <= right ? x : left;
    d->outputPosition[kTextCursorY] = y;
    return 0;
}

int cmdSetMargins(ScriptState* L) {
    CheckArgCount(L, 2, 2, 0, 0);
    int32_t left = GetIntArg(L, 1);
    int32_t right = GetIntArg(L, 2);
    if (left >= right) return ERR_WRONGUSAGE;
    const qbOutputView out = GetCurrentOutput();
    qbDisplay* d = out.display;
    if (!d) return ERR_FINDDISPLAY;
    left = std::max(left, 0);
    right = std::min(right, out.width - 1);
    d->outputPosition[kTextLeftMargin] = left;
    d->outputPosition[kTextRightMargin] = right;
    d->outputPosition[kTextCursorX] = left;
    d->outputPosition[kTextCursorY] = 0;
    return 0;
}

int cmdSetFontStyle(ScriptState* L) {
    CheckArgCount(L, 1, 4, 0, 0);
    const int n = VmGetTop(L);
    const uint32_t style = VmCheckInt(L, 1);
    qbTextStyle* s = GetTextStyle();
    if (style & kTextNormal) {
        s->flags = kTextNormal;
        return 0;
    }
    if (style == kTextShadow) {
        if (n >= 2) s->shadowColour = VmCheckInt(L, 2);
        if (n >= 3) s->shadowSize = GetIntArg(L, 3);
        if (n >= 4) s->shadowDirection = GetIntArg(L, 4);
    } else if (style == kTextEdge) {
        // Four arguments are the shadow's form: an edge then takes none.
        if (n == 2 || n == 3) s->edgeColour = VmCheckInt(L, 2);
        if (n == 3) s->edgeSize = GetIntArg(L, 3);
    } else if (n > 1) {
        return ERR_TOOMANYARGS;
    }
    s->flags |= style;
    ClampTextStyle(s);
    return 0;
}

int cmdSetDefaultEncoding(ScriptState* L) {
    CheckArgCount(L, 1, 1, 0, 0);
    int encoding = 0;
    if (int err = ReadEncodingArg(L, 1, &encoding)) return err;
    SetDefaultEncodingValue(encoding);
    return 0;
}
