// Saving and restoring the display state a redirected output changes.
#include "display/selection.h"

#include <algorithm>
#include <iterator>

#include "display/bgpics.h"
#include "display/display.h"
#include "display/doublebuffer.h"

namespace {

EndSelectionHook endSelection = nullptr;

}  // namespace

void SaveDisplayOutputState(qbDisplay* d, int32_t kind, int32_t width) {
    if (!d->outputStateSaved) {
        std::copy(std::begin(d->outputPosition), std::end(d->outputPosition), d->savedOutputPosition);
        d->savedLayers = d->layersEnabled;
        d->outputStateSaved = 1;
    }
    d->outputPosition[0] = d->outputPosition[1] = d->outputPosition[2] = 0;
    d->outputPosition[3] = width - 1;
    if (kind != 1) d->layersEnabled = 0;
}

void RestoreDisplayOutputState(qbDisplay* d) {
    if (!d->outputStateSaved) return;
    std::copy(std::begin(d->savedOutputPosition), std::end(d->savedOutputPosition), d->outputPosition);
    d->layersEnabled = d->savedLayers;
    d->outputStateSaved = 0;
}

bool IsDoubleBuffering(const qbDisplay* d) { return d && (d->softDoubleBuffer || d->hardDoubleBuffer); }

void SetEndSelectionHook(EndSelectionHook hook) { endSelection = hook; }

int EndOutputSelection(ScriptState* L, qbDisplay* d, bool noRefresh) {
    if (!d || d->output.type == kObjectTypeDisplay) return 0;
    if (endSelection) return endSelection(L, d, noRefresh);
    SaveAndResetOutput(d, nullptr);
    if (d == GetCurrentDisplay()) SetCurrentOutputBGPic(d->bgpic);
    RestoreDisplayOutputState(d);
    ResumeDoubleBuffer(d);
    return 0;
}
