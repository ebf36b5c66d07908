// The display mode the user picks, and window placements kept across runs.
#include "display/placement.h"

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "core/argapi.h"
#include "core/errcodes.h"
#include "core/preproc.h"
#include "display/adapter.h"
#include "display/display.h"
#include "display/requesters.h"
#include "vm/vm.h"

namespace {

constexpr const char* kModeQuestion = "Please select desired display mode!";
constexpr const char* kModeButtons = "Full screen (best fit)|Windowed|Full screen (manual select)|Cancel";
constexpr int kQuestionIcon = 4;

qbPlacementStore store;

int AskForMode(ScriptState* L, qbDisplay* d) {
    const std::vector<qbDisplayModeEntry> modes = SortedDisplayModes(d);
    if (modes.empty()) return ERR_NODISPMODES;
    // Entries end with a zero byte each, the list with an empty one.
    std::string entries;
    int selected = -1;
    for (size_t i = 0; i < modes.size(); ++i) {
        char text[32];
        std::snprintf(text, sizeof text, "%dx%d", modes[i].width, modes[i].height);
        entries += text;
        entries += '\0';
        if (selected < 0 && modes[i].width >= d->width && modes[i].height >= d->height)
            selected = static_cast<int>(i);
    }
    entries += '\0';
    int chosen = -1;
    if (int err = ShowListRequester(L, nullptr, d->title, kModeQuestion, entries.c_str(), std::max(selected, 0), 0,
                                    &chosen))
        return err;
    if (chosen < 0) return ERR_USERABORT;
    if (static_cast<size_t>(chosen) >= modes.size()) return ERR_WRONGUSAGE;
    d->screen.width = modes[static_cast<size_t>(chosen)].width;
    d->screen.height = modes[static_cast<size_t>(chosen)].height;
    d->screen.mode = DISPMODE_FULLSCREEN;
    return 0;
}

// The placement entry of the display at the top of the stack, made when
// missing: table["__placement"][id].
void PushPlacementEntry(ScriptState* L, int table, int32_t id) {
    VmPushString(L, "__placement");
    VmRawGet(L, table);
    if (VmType(L, -1) != kTypeTable) {
        VmSetTop(L, -2);
        VmPushNewTable(L);
        VmPushString(L, "__placement");
        VmPushValue(L, -2);
        VmRawSet(L, table);
    }
    const int placements = VmGetTop(L);
    VmRawGetIndex(L, placements, id);
    if (VmType(L, -1) != kTypeTable) {
        VmSetTop(L, -2);
        VmPushNewTable(L);
        VmPushValue(L, -1);
        VmRawSetIndex(L, placements, id);
    }
}

}  // namespace

int ChooseDisplayMode(ScriptState* L, qbDisplay* d) {
    if (d->screen.mode == DISPMODE_ASK) {
        int button = 0;
        if (int err = ShowSystemRequester(L, nullptr, d->title, kModeQuestion, kModeButtons, kQuestionIcon, 0, &button))
            return err;
        switch (button) {
        case 1: d->screen.mode = DISPMODE_FULLSCREEN; break;
        case 2: d->screen.mode = DISPMODE_WINDOWED; break;
        case 3: d->screen.mode = DISPMODE_MODEREQUESTER; break;
        default: return ERR_USERABORT;
        }
    }
    if (d->screen.mode == DISPMODE_MODEREQUESTER) return AskForMode(L, d);
    return 0;
}

void SetPlacementStore(const qbPlacementStore& s) { store = s; }

void SaveDisplayPlacement(ScriptState* L, const qbDisplay* d, bool wasFullScreen) {
    if (!L || !store.read || !store.write || !(d->flags & kDispRememberPosition) || d->id == 0 || d->isBackfill)
        return;
    const int top = VmGetTop(L);
    if (store.read(L) != 0 || VmType(L, -1) != kTypeTable) {
        VmSetTop(L, top);
        VmPushNewTable(L);
    }
    const int table = VmGetTop(L);
    PushPlacementEntry(L, table, d->id);
    SetTableFieldInt(L, "active", wasFullScreen ? 0 : 1);
    if (!wasFullScreen) {
        SetTableFieldInt(L, "x", d->x);
        SetTableFieldInt(L, "y", d->y);
        SetTableFieldInt(L, "width", d->width);
        SetTableFieldInt(L, "height", d->height);
        SetTableFieldInt(L, "scalewidth", d->scaleWidth);
        SetTableFieldInt(L, "scaleheight", d->scaleHeight);
        SetTableFieldInt(L, "autoscale", d->autoscale ? 1 : 0);
        SetTableFieldInt(L, "layerscale", d->layerScale ? 1 : 0);
        SetTableFieldInt(L, "sizeable", (d->flags & kDispSizeable) ? 1 : 0);
        VmPushString(L, "osdata");
        VmPushLString(L, reinterpret_cast<const char*>(d->placement.data()), d->placement.size());
        VmRawSet(L, -3);
    }
    store.write(L, table);
    VmSetTop(L, top);
}
