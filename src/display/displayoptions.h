// The display option table that CreateDisplay, OpenDisplay, ChangeDisplayMode
// and SetDisplayAttributes read: flag keys, regions, scaling keys, the
// picture and its backdrop, the screen-mode and backfill keys.
#pragma once

#include <cstdint>
#include <vector>

#include "display/display.h"
#include "display/displays.h"

struct ScriptState;
struct qbMenu;

// A display holds at most this many drag and this many size regions.
constexpr size_t kMaxDisplayRegions = 64;
// The only region shape: the BOX shape constant.
constexpr int32_t kRegionBox = 14;

// Flag bits of a display that only the option table sets.
enum : uint32_t { kDisplayFakeFullScreen = 0x20000 };

// What one option table says. `options` is what CreateDisplay reads; the
// rest is applied to the record afterwards (ApplyParsedDisplayOptions).
struct qbParsedDisplayOptions {
    qbDisplayOptions options;
    std::vector<qbRegion> dragRegions;
    std::vector<qbRegion> sizeRegions;
    bool dragGiven = false;
    bool sizeGiven = false;
    bool xGiven = false;
    bool yGiven = false;
    bool scaleGiven = false;
    bool orientationGiven = false;
    int32_t orientation = 0;
    bool monitorGiven = false;
    int32_t monitor = 0;  // 0-based
    bool menuGiven = false;
    qbMenu* menu = nullptr;  // null with menuGiven: detach
    bool titleGiven = false;
    bool bgpicGiven = false;
    std::vector<uint8_t> placement;
    int32_t restoreWidth = 0;
    int32_t restoreHeight = 0;
};

// The options of an existing display, as a start for SetDisplayAttributes.
qbParsedDisplayOptions OptionsOfDisplay(const qbDisplay* display);

// Reads the table at idx into *out. creating: the table of CreateDisplay
// (the internal "__" keys, "hidden" and "layers" are read, and a BGPic that
// any display shows is refused); otherwise `display` is the display being
// changed (found again after the reads' script code; gone, the read ends
// with its error). 0 or the error code; the option readers raise on fields
// of the wrong kind.
int ParseDisplayOptions(ScriptState* L, int idx, qbParsedDisplayOptions* out, bool creating, qbDisplayRef* display);
// The screen-mode keys and the "backfill" sub-table.
int ParseScreenModeOptions(ScriptState* L, int idx, qbScreenMode* screen);
// "monitor" (1-based) into *monitor (0-based); *given tells whether the key
// was there. ERR_OLDAPPLET above 1 for old applets, ERR_MONITORRANGE below 1.
int ParseMonitorKey(ScriptState* L, int idx, int32_t* monitor, bool* given);
// Copies what CreateDisplay does not read into the new record.
void ApplyParsedDisplayOptions(qbDisplay* display, const qbParsedDisplayOptions& parsed);

// The names of the mode and backfill-type numbers; "(not found)" for others.
const char* GetDisplayModeName(int mode);
const char* GetBackfillTypeName(int type);
