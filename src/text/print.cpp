// Print and NPrint: the arguments made text and joined by spaces, laid out
// from the cursor between the display's margins with its tab stops.
#include "text/print.h"

#include <algorithm>

#include "core/argapi.h"
#include "core/errcodes.h"
#include "display/display.h"
#include "text/textout.h"

namespace {

PrintValueConverter converter = nullptr;

// Without any converter (a library test) the VM's own plain text.
std::string PlainText(ScriptState* L, int idx) {
    switch (VmType(L, idx)) {
        case kTypeNil: return "Nil";
        case kTypeString:
        case kTypeNumber: {
            VmPushValue(L, idx);
            std::string s(VmToCString(L, -1), VmStrLen(L, -1));
            VmSetTop(L, -2);
            return s;
        }
        default: return VmToBoolean(L, idx) ? "True" : "False";
    }
}

int PrintArgs(ScriptState* L, bool newLine) {
    CheckArgCount(L, 1, -1, 0, 0);
    const int n = VmGetTop(L);
    std::string text;
    for (int i = 1; i <= n; ++i) {
        if (i > 1) text += ' ';
        text += PrintValueText(L, i);
    }
    if (newLine) text += '\n';
    return PrintText(L, text, false);
}

}  // namespace

void SetPrintValueConverter(PrintValueConverter convert) { converter = convert; }

std::string PrintValueText(ScriptState* L, int idx) {
    if (idx < 0 && idx > kGlobalsIndex) idx = VmGetTop(L) + idx + 1;
    VmPushString(L, "tostring");
    VmGetTableAt(L, kGlobalsIndex);
    if (VmType(L, -1) == kTypeFunction) {
        VmPushValue(L, idx);
        VmCall(L, 1, 1);
        std::string s = VmType(L, -1) == kTypeString || VmType(L, -1) == kTypeNumber ? PlainText(L, -1) : "";
        VmSetTop(L, -2);
        return s;
    }
    VmSetTop(L, -2);
    return converter ? converter(L, idx) : PlainText(L, idx);
}

int32_t PrintWrapWidth(int32_t leftMargin, int32_t rightMargin) {
    const int64_t wrap = int64_t{rightMargin} + 1 - leftMargin;
    return wrap > 0 && wrap <= INT32_MAX ? static_cast<int32_t>(wrap) : 0;
}

void StartPrintLayout(const qbDisplay& d, qbTextLayout* layout) {
    layout->print = true;
    layout->x = kTextAlignCenter;
    layout->cursorX = d.outputPosition[kTextCursorX];
    layout->cursorY = d.outputPosition[kTextCursorY];
    layout->leftMargin = d.outputPosition[kTextLeftMargin];
    layout->wrapWidth = PrintWrapWidth(layout->leftMargin, d.outputPosition[kTextRightMargin]);
    layout->tabStops.assign(d.tabStops, d.tabStops + std::min(d.tabCount, int32_t{kTabStopCount}));
}

int PrintText(ScriptState* L, const std::string& text, bool raw) {
    qbDisplay* d = GetCurrentDisplay();
    if (!d) return ERR_FINDDISPLAY;
    qbTextLayout layout;
    layout.style = *GetTextStyle();
    // Printed text is always read as ISO 8859-1.
    layout.encoding = kEncodingLatin1;
    layout.text = text;
    StartPrintLayout(*d, &layout);
    return RenderText(L, &layout, kRenderTextPrint, raw, nullptr, nullptr);
}

int cmdPrint(ScriptState* L) { return PrintArgs(L, false); }
int cmdNPrint(ScriptState* L) { return PrintArgs(L, true); }
