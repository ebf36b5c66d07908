// Fuzz target of SetLayerStyle: a stack of three brush layers on a display
// of the in-memory backend, made anew for every input, gets style tables
// whose keys, value kinds and values the input picks (numbers that must be
// refused among them: NaN, infinities, zero scales, negative sizes,
// position constants), under a position, a name or a group as the layer
// argument; every layer is then read back with GetLayerStyle and the
// display refreshed.
#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <string>
#include <utility>
#include <vector>

#include "core/argapi.h"
#include "core/settings.h"
#include "core/vmhost.h"
#include "display/bgpics.h"
#include "display/clipregions.h"
#include "display/display.h"
#include "display/displaylib.h"
#include "display/displays.h"
#include "draw/graphicslib.h"
#include "objects/brushes.h"
#include "objects/brushlib.h"
#include "objects/dirtyrects.h"
#include "objects/layers.h"
#include "objects/layersources.h"
#include "platform/null/null_backend.h"
#include "platform/platform_ops.h"
#include "vm/vm.h"
#include "pixelsfuzz.h"

namespace {

const char* const kKeys[] = {
    "type",        "id",          "partx",        "party",        "partwidth",  "partheight", "transform",
    "scalex",      "scaley",      "width",        "height",       "rotate",     "anchorx",    "anchory",
    "x",           "y",           "translatex",   "translatey",   "smoothscale", "transparency", "filters",
    "tint",        "tintcolor",   "clearfilters", "hidden",       "shadow",     "shadowcolor", "shadowdir",
    "shadowsize",  "shadowradius", "shadowsigma", "border",       "bordercolor", "bordersize", "edgecolor",
    "edgesize",    "outlinethickness", "clipregion", "nocliptransform", "z",    "group",
};
constexpr size_t kKeyCount = sizeof kKeys / sizeof kKeys[0];

const double kNumbers[] = {std::numeric_limits<double>::quiet_NaN(),
                           std::numeric_limits<double>::infinity(),
                           -std::numeric_limits<double>::infinity(),
                           -1, 0, 0.5, 1, 2, 3, 4, 12, 13, 14, 50, 90, 255, 300, 370, -100000, -90000, 100000,
                           1e9, -5, 0.25};
constexpr size_t kNumberCount = sizeof kNumbers / sizeof kNumbers[0];

const char* const kTexts[] = {"50%", "200%", "g", "", "x", "-5%", "blur", "1"};
constexpr size_t kTextCount = sizeof kTexts / sizeof kTexts[0];

int Call(ScriptState* L, const char* command, int nargs, int nresults) {
    VmPushString(L, command);
    VmGetTableAt(L, kGlobalsIndex);
    VmInsert(L, -(nargs + 1));
    const int err = VmPCall(L, nargs, nresults, 0);
    VmSetEndFlag(L, 0);
    return err;
}

void Numbers(ScriptState* L, const char* command, std::initializer_list<double> args) {
    for (double a : args) VmPushNumber(L, a);
    Call(L, command, static_cast<int>(args.size()), 0);
    VmSetTop(L, 0);
}

struct World {
    ScriptState* L = nullptr;
    qbDisplay* display = nullptr;
    World() {
        SetRuntimeTag(kTagQuiet, 1);
        SetPlatformBackend(nullptr);
        null_backend::Reset();
        InstallVmHost();
        L = VmOpen();
        for (int (*init)(ScriptState*) : {InitDisplayLibrary, InitGraphicsLibrary, InitBrushLibrary, InitLayersLibrary}) {
            VmPushValue(L, kGlobalsIndex);
            init(L);
            VmSetTop(L, 0);
        }
        SetRuntimeTag(kTagRaiseErrors, 1);
        SetPicturesPending(false);
        VmPushNumber(L, 1);
        VmPushNewTable(L);
        SetTableFieldInt(L, "width", 64);
        SetTableFieldInt(L, "height", 48);
        Call(L, "createdisplay", 2, 0);
        VmSetTop(L, 0);
        StartDisplays(L);
        display = GetCurrentDisplay();
        Numbers(L, "createbrush", {1, 16, 12, 0xFF0000});
        Numbers(L, "createbrush", {2, 8, 8, 0x00FF00});
        Call(L, "enablelayers", 0, 0);
        VmSetTop(L, 0);
    }
    // Everything goes with the input, so that nothing is left to be taken
    // for a leak.
    ~World() {
        FreeAllDisplays(L);
        FreeAllBGPics(L);
        ClearLayerSources();
        FreeAllBrushes(L);
        FreeLayersLibrary(L);
        FreeAllClipRegions(L);
        VmClose(L);
    }
};

// One value of the kind the byte picks, from the byte after it.
void PushValue(ScriptState* L, uint8_t kind, uint8_t pick) {
    switch (kind % 5) {
    case 0:
    case 1: VmPushNumber(L, kNumbers[pick % kNumberCount]); break;
    case 2: VmPushString(L, kTexts[pick % kTextCount]); break;
    case 3: {
        // A four-number table, as "transform" takes.
        VmPushNewTable(L);
        for (int i = 0; i < 4 - (pick >> 6 & 1); ++i) {
            VmPushNumber(L, kNumbers[(pick + i * 7) % kNumberCount]);
            VmRawSetIndex(L, -2, i);
        }
        break;
    }
    default: {
        // A filter list of one entry.
        VmPushNewTable(L);
        VmPushNewTable(L);
        SetTableFieldString(L, "name", (pick & 1) ? "tint" : "invert");
        VmRawSetIndex(L, -2, 0);
        break;
    }
    }
}

// A value as the script gets it. A table's entries are noted in the order
// of their keys, so that the order the table happens to keep them in does
// not count; functions and userdata by their type only (their addresses
// change from run to run).
void NoteValue(ScriptState* L, int index, int depth) {
    const int type = VmType(L, index);
    FuzzNoteValue(type);
    switch (type) {
        case kTypeNumber: FuzzNoteNumber(VmToNumber(L, index)); break;
        case kTypeBoolean: FuzzNoteValue(VmToBoolean(L, index)); break;
        case kTypeString: FuzzNoteText(std::string(VmToCString(L, index), VmStrLen(L, index))); break;
        case kTypeTable: {
            if (depth > 4) break;
            if (index < 0) index = VmGetTop(L) + 1 + index;
            std::vector<std::pair<std::string, uint64_t>> entries;
            VmPushNil(L);
            while (VmNext(L, index)) {
                std::string key = VmType(L, -2) == kTypeNumber ? "#" : "$";
                key += VmType(L, -2) == kTypeNumber ? std::to_string(VmToNumber(L, -2)) : VmToCString(L, -2);
                const uint64_t outer = fuzzAnswer;
                fuzzAnswer = kFuzzAnswerStart;
                NoteValue(L, VmGetTop(L), depth + 1);
                entries.emplace_back(std::move(key), fuzzAnswer);
                fuzzAnswer = outer;
                VmSetTop(L, -2);
            }
            std::sort(entries.begin(), entries.end());
            for (const auto& [key, answer] : entries) {
                FuzzNoteText(key);
                FuzzNoteValue(static_cast<int64_t>(answer));
            }
            break;
        }
        default: break;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    World world;
    ScriptState* L = world.L;
    qbDisplay* d = world.display;
    if (!d || !d->bgpic) return 0;
    Numbers(L, "displaybrush", {1, 5, 5});
    Numbers(L, "displaybrush", {2, 20, 10});
    Numbers(L, "displaybrush", {1, 30, 20});
    // Pairs: a layer argument, then key/kind/value triples up to a 0xFF byte.
    size_t i = 0;
    while (i < size) {
        VmSetTop(L, 0);
        const uint8_t which = data[i++];
        if (which % 5 == 3) VmPushString(L, "g");
        else if (which % 5 == 4) VmPushString(L, "nope");
        else VmPushNumber(L, which % 5 + 1);
        VmPushNewTable(L);
        while (i + 2 < size && data[i] != 0xFF) {
            VmPushString(L, kKeys[data[i] % kKeyCount]);
            PushValue(L, data[i + 1], data[i + 2]);
            VmSetTableAt(L, -3);
            i += 3;
        }
        ++i;
        const int err = Call(L, "setlayerstyle", 2, 0);
        FuzzNoteValue(err);
        if (err) NoteValue(L, -1, 0);
    }
    FuzzNoteValue(CountLayers(d->bgpic));
    for (int n = 1; n <= CountLayers(d->bgpic); ++n) {
        VmSetTop(L, 0);
        VmPushNumber(L, n);
        const int err = Call(L, "getlayerstyle", 1, 1);
        FuzzNoteValue(err);
        NoteValue(L, -1, 0);
    }
    VmSetTop(L, 0);
    RefreshLayerRect(L, 0, 0, 64, 48, 0);
    FuzzNoteDisplay(d);
    return 0;
}
