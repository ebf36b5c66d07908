// Reading a display option table: keys in the fixed order in which later
// keys may depend on earlier ones ("bgpic" decides the size and whether the
// backdrop keys count; percentages of "scalewidth" need the final width).
#include "display/displayoptions.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "core/chars.h"
#include "core/argapi.h"
#include "core/errcodes.h"
#include "core/errors.h"
#include "core/runstate.h"
#include "core/truth.h"
#include "display/adapter.h"
#include "display/bgpics.h"
#include "display/displaymenus.h"
#include "display/displays.h"
#include "display/gradientopts.h"

namespace {

struct FlagKey {
    const char* key;
    uint32_t bit;
};

// In the order the keys are read.
constexpr FlagKey kFlagKeys[] = {
    {"borderless", kDispBorderless},       {"sizeable", kDispSizeable},
    {"fixed", kDispFixed},                 {"nohide", kDispNoHide},
    {"nomodeswitch", kDispNoModeSwitch},   {"smoothscale", kDispSmoothScale},
    {"active", kDispActive},               {"hidepointer", kDispHidePointer},
    {"usequartz", kDispUseQuartz},         {"noclose", kDispNoClose},
    {"keepproportions", kDispKeepProportions}, {"fitscale", kDispFitScale},
    {"keepscreenon", kDispKeepScreenOn},   {"hidefromtaskbar", kDispHideFromTaskbar},
    {"hideoptionsmenu", kDispHideOptionsMenu}, {"nohardwarescale", kDispNoHardwareScale},
    {"disableblanker", kDispDisableBlanker}, {"rememberposition", kDispRememberPosition},
};

struct NamedValue {
    const char* name;
    int value;
};

constexpr NamedValue kModeNames[] = {
    {"windowed", DISPMODE_WINDOWED},          {"fullscreen", DISPMODE_FULLSCREEN},
    {"ask", DISPMODE_ASK},                    {"moderequester", DISPMODE_MODEREQUESTER},
    {"fakefullscreen", DISPMODE_FAKEFULLSCREEN},
};

constexpr NamedValue kBackfillNames[] = {{"color", 1}, {"gradient", 2}, {"texture", 3}, {"picture", 4}};

constexpr char kNotFound[] = "(not found)";

int AbsIndex(ScriptState* L, int idx) { return idx < 0 && idx > kRegistryIndex ? VmGetTop(L) + idx + 1 : idx; }

// Pushes t[key] and returns its type; the caller pops it.
int PushField(ScriptState* L, int idx, const char* key) {
    VmPushString(L, key);
    IndexOptionTable(L, idx);
    return VmType(L, -1);
}

// A truth value: a boolean, or a number that is not 0. *present tells
// whether the key was there.
bool ReadTruth(ScriptState* L, int idx, const char* key, bool* present) {
    const int type = PushField(L, idx, key);
    VmSetTop(L, -2);
    *present = type != kTypeNil && type != kTypeNone;
    if (!*present) return false;
    // Another kind than a number or a boolean raises with the key's name.
    if (type != kTypeBoolean) {
        int32_t ignored = 0;
        GetTableFieldInt(L, idx, key, &ignored, nullptr);
    }
    return FieldTruth(L, idx, key, false);
}

void ReadFlag(ScriptState* L, int idx, const char* key, uint32_t bit, uint32_t* flags) {
    bool present = false;
    const bool on = ReadTruth(L, idx, key, &present);
    if (!present) return;
    if (on)
        *flags |= bit;
    else
        *flags &= ~bit;
}

int LookUpName(const char* text, const NamedValue* table, size_t count, int* out) {
    for (size_t i = 0; i < count; ++i) {
        if (StrCmpNoCase(text, table[i].name) == 0) {
            *out = table[i].value;
            return 0;
        }
    }
    return ERR_WRONGUSAGE;
}

const char* NameOf(int value, const NamedValue* table, size_t count) {
    for (size_t i = 0; i < count; ++i)
        if (table[i].value == value) return table[i].name;
    return kNotFound;
}

int ReadRegion(ScriptState* L, int idx, qbRegion* region) {
    int32_t* fields[] = {&region->x, &region->y, &region->width, &region->height};
    const char* keys[] = {"x", "y", "width", "height"};
    int found = 0;
    GetTableFieldInt(L, idx, "type", &region->type, &found);
    if (!found || region->type != kRegionBox) return ERR_WRONGUSAGE;
    for (size_t i = 0; i < 4; ++i) {
        found = 0;
        GetTableFieldInt(L, idx, keys[i], fields[i], &found);
        if (!found) {
            SetErrorDetail(keys[i]);
            return ERR_MISSINGPARAMTR;
        }
    }
    if (region->x < 0 || region->y < 0 || region->width < 1 || region->height < 1) return ERR_WRONGUSAGE;
    return 0;
}

// A table of region tables from index 0 to the first Nil. More regions than
// the record holds are refused before anything is stored.
int ParseDisplayRegions(ScriptState* L, int idx, const char* key, std::vector<qbRegion>* out, bool* given) {
    const int type = PushField(L, idx, key);
    if (type == kTypeNil || type == kTypeNone) {
        VmSetTop(L, -2);
        return 0;
    }
    if (type != kTypeTable) {
        VmSetTop(L, -2);
        SetErrorDetail(key);
        return ERR_TABLEORNIL;
    }
    const int list = VmGetTop(L);
    std::vector<qbRegion> regions;
    int err = 0;
    for (int i = 0;; ++i) {
        VmRawGetIndex(L, list, i);
        const int elementType = VmType(L, -1);
        if (elementType == kTypeNil) {
            VmSetTop(L, -2);
            break;
        }
        if (elementType != kTypeTable) {
            err = ERR_TABLEORNIL;
        } else if (regions.size() == kMaxDisplayRegions) {
            err = ERR_WRONGUSAGE;
        } else {
            qbRegion region;
            err = ReadRegion(L, VmGetTop(L), &region);
            if (!err) regions.push_back(region);
        }
        VmSetTop(L, -2);
        if (err) break;
    }
    VmSetTop(L, list - 1);
    if (err) return err;
    *out = std::move(regions);
    *given = true;
    return 0;
}

int ParseBackfillOptions(ScriptState* L, int idx, qbBackfillOptions* backfill) {
    const int type = PushField(L, idx, "backfill");
    if (type != kTypeTable) {
        VmSetTop(L, -2);
        return 0;
    }
    const int t = VmGetTop(L);
    int err = 0;
    const char* name = nullptr;
    if (GetTableFieldString(L, t, "type", &name, nullptr)) {
        int value = 0;
        err = LookUpName(name, kBackfillNames, std::size(kBackfillNames), &value);
        if (!err) backfill->type = value;
    }
    if (!err) {
        GetTableFieldInt(L, t, "color", &backfill->startColor, nullptr);
        GetTableFieldInt(L, t, "startcolor", &backfill->startColor, nullptr);
        GetTableFieldInt(L, t, "endcolor", &backfill->endColor, nullptr);
        GetTableFieldInt(L, t, "x", &backfill->x, nullptr);
        GetTableFieldInt(L, t, "y", &backfill->y, nullptr);
        GetTableFieldInt(L, t, "brush", &backfill->brush, nullptr);
        bool present = false;
        if (bool on = ReadTruth(L, t, "scalepicture", &present); present) backfill->scalePicture = on;
        if (bool on = ReadTruth(L, t, "hidetitlebar", &present); present) backfill->hideTitleBar = on;
        if (bool on = ReadTruth(L, t, "smoothscale", &present); present) backfill->smoothScale = on;
    }
    VmSetTop(L, t - 1);
    return err;
}

// The picture of "bgpic": it may not be shown by another display (by any,
// while creating); the display takes its size and its backdrop settings.
int ParseBGPicKey(ScriptState* L, int idx, qbParsedDisplayOptions* out, bool creating, qbDisplayRef* changed) {
    ObjectID id;
    if (!GetTableFieldObjectID(L, idx, "bgpic", &id, nullptr)) return 0;
    qbBGPic* picture = nullptr;
    if (int err = GetBGPic(L, id, &picture, 0)) return err;
    qbTaken<qbDisplay> display = nullptr;
    if (changed)
        if (int err = changed->Take(&display)) return err;
    for (qbDisplay* d = FirstDisplay(); d; d = NextDisplay(d)) {
        if (d->bgpic != picture) continue;
        if (creating || d != display) return ERR_MULTIBGPIC;
    }
    qbDisplayOptions& o = out->options;
    o.hasBGPic = true;
    o.bgpic = id;
    o.width = picture->currentWidth;
    o.height = picture->currentHeight;
    if (picture->fill.valid) {
        o.fill.style = picture->fill.style;
        o.fill.colour = picture->fill.colour;
        o.fill.gradient = picture->fill.gradient;
        o.fill.textureBrush = picture->fill.textureBrush;
        o.fill.textureX = picture->fill.textureX;
        o.fill.textureY = picture->fill.textureY;
    }
    out->bgpicGiven = true;
    return 0;
}

int ParseFillKeys(ScriptState* L, int idx, qbDisplayFill* fill) {
    GetTableFieldInt(L, idx, "fillstyle", &fill->style, nullptr);
    switch (fill->style) {
    case kFillColour: GetTableFieldUInt(L, idx, "color", &fill->colour, nullptr); break;
    case kFillGradient:
        if (int err = ParseGradientOptions(L, idx, &fill->gradient)) return err;
        break;
    case kFillTexture:
        GetTableFieldObjectID(L, idx, "texturebrush", &fill->textureBrush, nullptr);
        GetTableFieldInt(L, idx, "texturex", &fill->textureX, nullptr);
        GetTableFieldInt(L, idx, "texturey", &fill->textureY, nullptr);
        break;
    default: return ERR_WRONGUSAGE;
    }
    return 0;
}

// A percentage (stored negative) of the display's size; a size that comes
// out below one pixel would later divide by zero. The product is 64-bit and
// saturates: -INT32_MIN has no 32-bit value.
int ResolveScaleSize(int32_t* size, int32_t of) {
    if (*size < 0) *size = static_cast<int32_t>(std::min<int64_t>(int64_t{of} * -int64_t{*size} / 100, INT32_MAX));
    return *size < 1 ? ERR_WRONGUSAGE : 0;
}

// The menu is found again once every key is read (FindMenuAgain): *named
// tells whether the table named one.
int ParseMenuKey(ScriptState* L, int idx, qbParsedDisplayOptions* out, ObjectID* menuId, bool* named) {
    const int type = PushField(L, idx, "menu");
    VmSetTop(L, -2);
    if (type == kTypeNil || type == kTypeNone) return 0;
    if (HasDisplayAdapter()) return ERR_DISPLAYADAPTERSUPPORT;
    ObjectID id;
    GetTableFieldObjectID(L, idx, "menu", &id, nullptr);
    out->menuGiven = true;
    out->menu = nullptr;
    if (id.number == -1 && !id.handle) return 0;
    *menuId = id;
    *named = true;
    return GetMenuRecord(id, &out->menu);
}

// The keys only CreateDisplay reads.
void ParseCreationKeys(ScriptState* L, int idx, qbParsedDisplayOptions* out) {
    qbDisplayOptions& o = out->options;
    bool present = false;
    if (bool on = ReadTruth(L, idx, "hidden", &present); present) o.hidden = on;
    if (bool on = ReadTruth(L, idx, "layers", &present); present) o.layers = on;
    if (bool on = ReadTruth(L, idx, "__backfill", &present); present) o.backfill = on;
    if (bool on = ReadTruth(L, idx, "__resourcemonitor", &present); present) o.resourceMonitor = on;
    GetTableFieldInt(L, idx, "__restorewidth", &out->restoreWidth, nullptr);
    GetTableFieldInt(L, idx, "__restoreheight", &out->restoreHeight, nullptr);
    if (PushField(L, idx, "__placement") == kTypeString) {
        const auto* bytes = reinterpret_cast<const uint8_t*>(VmToCString(L, -1));
        out->placement.assign(bytes, bytes + VmStrLen(L, -1));
    }
    VmSetTop(L, -2);
}

}  // namespace

const char* GetDisplayModeName(int mode) { return NameOf(mode, kModeNames, std::size(kModeNames)); }

const char* GetBackfillTypeName(int type) { return NameOf(type, kBackfillNames, std::size(kBackfillNames)); }

qbParsedDisplayOptions OptionsOfDisplay(const qbDisplay* d) {
    qbParsedDisplayOptions p;
    qbDisplayOptions& o = p.options;
    o.title = d->title;
    o.x = d->x;
    o.y = d->y;
    // The picture's base size: the layer scaling engine draws its current
    // picture at the window's size.
    o.width = d->bgpic ? d->bgpic->baseWidth : d->width;
    o.height = d->bgpic ? d->bgpic->baseHeight : d->height;
    o.flags = d->flags;
    o.fill = d->fill;
    o.autoscale = d->autoscale;
    o.layerScale = d->layerScale;
    o.scaleWidth = d->scaleWidth;
    o.scaleHeight = d->scaleHeight;
    o.smoothScale = d->smoothScale;
    o.screen = d->screen;
    p.dragRegions = d->dragRegions;
    p.sizeRegions = d->sizeRegions;
    p.dragGiven = d->dragRegionsGiven != 0;
    p.sizeGiven = d->sizeRegionsGiven != 0;
    p.orientation = d->orientation;
    p.monitor = d->monitor;
    p.menu = static_cast<qbMenu*>(d->menu);
    return p;
}

int ParseMonitorKey(ScriptState* L, int idx, int32_t* monitor, bool* given) {
    int32_t value = 0;
    int found = 0;
    GetTableFieldInt(L, AbsIndex(L, idx), "monitor", &value, &found);
    *given = found != 0;
    if (!found) return 0;
    if (value > 1 && !RequireAppletVersion(6, 0)) return ERR_OLDAPPLET;
    if (value < 1) return ERR_MONITORRANGE;
    *monitor = value - 1;
    return 0;
}

int ParseScreenModeOptions(ScriptState* L, int idx, qbScreenMode* screen) {
    idx = AbsIndex(L, idx);
    const char* name = nullptr;
    if (GetTableFieldString(L, idx, "mode", &name, nullptr)) {
        int mode = 0;
        if (int err = LookUpName(name, kModeNames, std::size(kModeNames), &mode)) return err;
        screen->mode = mode;
    }
    GetTableFieldInt(L, idx, "scrwidth", &screen->width, nullptr);
    GetTableFieldInt(L, idx, "scrheight", &screen->height, nullptr);
    GetTableFieldInt(L, idx, "scrdepth", &screen->depth, nullptr);
    bool present = false;
    if (bool on = ReadTruth(L, idx, "desktop", &present); present) screen->desktop = on;
    InitBackfillOptions(screen->backfill);
    return ParseBackfillOptions(L, idx, &screen->backfill);
}

int ParseDisplayOptions(ScriptState* L, int idx, qbParsedDisplayOptions* out, bool creating, qbDisplayRef* display) {
    idx = AbsIndex(L, idx);
    ObjectID menuId;
    bool menuNamed = false;
    qbDisplayOptions& o = out->options;
    const bool recording = IsVideoRecording() && !creating;
    if (!recording) {
        if (int err = ParseDisplayRegions(L, idx, "dragregion", &out->dragRegions, &out->dragGiven)) return err;
        if (int err = ParseDisplayRegions(L, idx, "sizeregion", &out->sizeRegions, &out->sizeGiven)) return err;
        for (const FlagKey& f : kFlagKeys) ReadFlag(L, idx, f.key, f.bit, &o.flags);
        int found = 0;
        GetTableFieldInt(L, idx, "x", &o.x, &found);
        out->xGiven = found != 0;
        found = 0;
        GetTableFieldInt(L, idx, "y", &o.y, &found);
        out->yGiven = found != 0;
        for (int32_t* size : {&o.scaleWidth, &o.scaleHeight}) {
            found = 0;
            GetTableFieldSizeOrPercent(L, idx, size == &o.scaleWidth ? "scalewidth" : "scaleheight", 1, size, &found);
            if (!found) continue;
            if (*size == 0) return ERR_WRONGUSAGE;
            out->scaleGiven = true;
        }
        int32_t scaleMode = 0;
        if (GetTableFieldInt(L, idx, "scalemode", &scaleMode, nullptr)) {
            o.flags &= ~(kDispAutoScale | kDispLayerScale);
            switch (scaleMode) {
            case 0: break;
            case 1: o.flags |= kDispAutoScale; break;
            case 2: o.flags |= kDispLayerScale; break;
            default: return ERR_WRONGUSAGE;
            }
        }
        found = 0;
        GetTableFieldInt(L, idx, "orientation", &out->orientation, &found);
        out->orientationGiven = found != 0;
        if (int err = ParseMenuKey(L, idx, out, &menuId, &menuNamed)) return err;
        if (int err = ParseMonitorKey(L, idx, &out->monitor, &out->monitorGiven)) return err;
    }
    if (int err = ParseBGPicKey(L, idx, out, creating, display)) return err;
    // The backdrop keys count only for a picture the display makes itself.
    bool ownPicture = creating && !out->bgpicGiven;
    if (!creating && !out->bgpicGiven && display) {
        qbTaken<qbDisplay> d = nullptr;
        if (int err = display->Take(&d)) return err;
        ownPicture = d->bgpic && d->bgpic->madeByDisplay;
    }
    if (!(creating && out->bgpicGiven)) {
        GetTableFieldInt(L, idx, "width", &o.width, nullptr);
        GetTableFieldInt(L, idx, "height", &o.height, nullptr);
        if (ownPicture) {
            if (int err = ParseFillKeys(L, idx, &o.fill)) return err;
        }
    }
    if (o.width < 1 || o.height < 1) return ERR_WRONGUSAGE;
    if (recording) return 0;

    const char* title = nullptr;
    size_t length = 0;
    if (PushField(L, idx, "title") != kTypeNil) {
        VmSetTop(L, -2);
        GetTableFieldString(L, idx, "title", &title, nullptr);
        length = std::strlen(title);
        if (length >= kDisplayTitleSize) return ERR_WRONGUSAGE;
        o.title.assign(title, length);
        out->titleGiven = true;
    } else {
        VmSetTop(L, -2);
    }
    if (creating) {
        ParseCreationKeys(L, idx, out);
        if (int err = ParseScreenModeOptions(L, idx, &o.screen)) return err;
    }
    if (o.scaleWidth) {
        if (int err = ResolveScaleSize(&o.scaleWidth, o.width)) return err;
    }
    if (o.scaleHeight) {
        if (int err = ResolveScaleSize(&o.scaleHeight, o.height)) return err;
    }
    o.autoscale = (o.flags & kDispAutoScale) ? 1 : 0;
    o.layerScale = (o.flags & kDispLayerScale) ? 1 : 0;
    o.smoothScale = (o.flags & kDispSmoothScale) ? 1 : 0;
    if (out->monitorGiven) {
        qbDisplay probe;
        if (out->monitor >= CountMonitors(&probe)) return ERR_MONITORRANGE;
    }
    // The keys read after "menu" may have run script code that freed it.
    return menuNamed ? GetMenuRecord(menuId, &out->menu) : 0;
}

void ApplyParsedDisplayOptions(qbDisplay* d, const qbParsedDisplayOptions& p) {
    if (p.dragGiven) {
        d->dragRegions = p.dragRegions;
        d->dragRegionsGiven = 1;
    }
    if (p.sizeGiven) {
        d->sizeRegions = p.sizeRegions;
        d->sizeRegionsGiven = 1;
    }
    if (p.orientationGiven) d->orientation = p.orientation;
    if (p.monitorGiven) d->monitor = p.monitor;
    if (p.menuGiven) d->menu = p.menu;
    if (!p.placement.empty()) d->placement = p.placement;
    if (p.restoreWidth > 0 && p.restoreHeight > 0) {
        d->restoreWidth = p.restoreWidth;
        d->restoreHeight = p.restoreHeight;
    }
}
