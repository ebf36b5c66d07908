// Creating the objects an applet declares: each declaration becomes a call
// of the script command a script would use (by its lower-case global name),
// with an option table built from the declaration, so that declared objects
// go through exactly the checks of created ones. Displays come last.
#include <cstdint>
#include <functional>
#include <string>
#include <variant>

#include "core/applet.h"
#include "core/argapi.h"
#include "core/chars.h"
#include "core/chunkname.h"
#include "core/context.h"
#include "core/errors.h"
#include "core/linkeddata.h"
#include "core/preproc.h"
#include "core/settings.h"
#include "display/displayoptions.h"
#include "player/options.h"
#include "player/placements.h"
#include "player/startup.h"

namespace {

constexpr int32_t kLoadAlpha = 0x1;
constexpr int32_t kLoadTransparency = 0x2;
constexpr int32_t kFontEngineMask = 0xFFFF;
constexpr int32_t kFontNoCache = 0x10000;

struct FlagKey {
    uint32_t bit;
    const char* key;
};

// The display flag bits that are option keys of CreateDisplay.
constexpr FlagKey kDisplayFlagKeys[] = {
    {kDispBorderless, "borderless"},       {kDispSizeable, "sizeable"},
    {kDispFixed, "fixed"},                 {kDispNoModeSwitch, "nomodeswitch"},
    {kDispHidePointer, "hidepointer"},     {kDispNoHide, "nohide"},
    {kDispSmoothScale, "smoothscale"},     {kDispActive, "active"},
    {kDispHidden, "hidden"},               {kDispLayers, "layers"},
    {kDispUseQuartz, "usequartz"},         {kDispNoClose, "noclose"},
    {kDispKeepProportions, "keepproportions"}, {kDispFitScale, "fitscale"},
    {kDispKeepScreenOn, "keepscreenon"},   {kDispHideFromTaskbar, "hidefromtaskbar"},
    {kDispHideOptionsMenu, "hideoptionsmenu"}, {kDispNoHardwareScale, "nohardwarescale"},
    {kDispDisableBlanker, "disableblanker"}, {kDispRememberPosition, "rememberposition"},
};

const char* CommandOf(int type) {
    switch (type) {
    case kDeclBGPic: return "LoadBGPic";
    case kDeclBrush: return "LoadBrush";
    case kDeclAnim: return "LoadAnim";
    case kDeclMusic: return "OpenMusic";
    case kDeclSample: return "LoadSample";
    case kDeclButton: return "CreateButton";
    case kDeclKeyDown: return "CreateKeyDown";
    case kDeclSprite: return "LoadSprite";
    case kDeclFile: return "OpenFile";
    case kDeclFont: return "OpenFont";
    case kDeclDisplay: return "CreateDisplay";
    case kDeclVideo: return "OpenVideo";
    case kDeclMenu: return "CreateMenu";
    default: return nullptr;
    }
}

bool IsImageType(int type) { return type == kDeclBrush || type == kDeclSprite || type == kDeclAnim; }

void SetIndexNumber(ScriptState* L, int index, double value) {
    VmPushNumber(L, value);
    VmRawSetIndex(L, -2, index);
}

void PushGradientFields(ScriptState* L, const qbGradientOptions& g) {
    SetTableFieldInt(L, "gradientstyle", g.style);
    SetTableFieldInt(L, "gradientstartcolor", g.startColor);
    SetTableFieldInt(L, "gradientendcolor", g.endColor);
    SetTableFieldInt(L, "gradientangle", g.angle);
    SetTableFieldFloat(L, "gradientcenterx", g.centerX);
    SetTableFieldFloat(L, "gradientcentery", g.centerY);
    SetTableFieldFloat(L, "gradientbalance", g.balance);
    SetTableFieldFloat(L, "gradientborder", g.border);
    if (g.stops.empty()) return;
    VmPushString(L, "gradientcolors");
    VmPushNewTable(L);
    int index = 0;
    for (const qbGradientStop& stop : g.stops) {
        SetIndexNumber(L, index++, stop.color);
        SetIndexNumber(L, index++, stop.position);
    }
    VmSetTableAt(L, -3);
}

void PushImageOptions(ScriptState* L, const qbPreprocessorEntry& e, const std::string& file) {
    VmPushNewTable(L);
    if (e.valueA != -1) SetTableFieldInt(L, "transparency", e.valueA);
    if (e.valueB & kLoadAlpha)
        SetTableFieldInt(L, "loadalpha", 1);
    else if (e.valueB & kLoadTransparency)
        SetTableFieldInt(L, "loadtransparency", 1);
    if (const auto* b = std::get_if<qbBGPicRecord>(&e.record)) {
        if (b->fillStyle != 0) {
            SetTableFieldInt(L, "fillstyle", b->fillStyle);
            if (b->fillStyle == 2) {
                PushGradientFields(L, b->gradient);
            } else if (b->fillStyle == 3) {
                SetTableFieldInt(L, "texturebrush", b->textureBrush);
                SetTableFieldInt(L, "texturex", b->textureX);
                SetTableFieldInt(L, "texturey", b->textureY);
            } else if (b->fillStyle == 1) {
                SetTableFieldInt(L, "fillcolor", b->fillColor);
            }
        }
        SetTableFieldInt(L, "scalewidth", b->scaleWidth);
        SetTableFieldInt(L, "scaleheight", b->scaleHeight);
        SetTableFieldInt(L, "smoothscale", b->smoothScale);
    } else if (const auto* r = std::get_if<qbImageRecord>(&e.record)) {
        SetTableFieldInt(L, "width", r->width);
        SetTableFieldInt(L, "height", r->height);
        SetTableFieldInt(L, "x", r->x);
        SetTableFieldInt(L, "y", r->y);
        if (e.type == kDeclBrush) {
            if (r->globalAlpha != -1) SetTableFieldInt(L, "globalalpha", r->globalAlpha);
            SetTableFieldInt(L, "hardware", r->hardware);
            SetTableFieldInt(L, "scalewidth", r->scaleWidth);
            SetTableFieldInt(L, "scaleheight", r->scaleHeight);
            SetTableFieldInt(L, "smoothscale", r->smoothScale);
            if (r->display != 0) SetTableFieldInt(L, "display", r->display);
        } else {
            SetTableFieldInt(L, "frames", r->frames);
            SetTableFieldInt(L, "fpr", r->framesPerRow);
        }
        if (e.type == kDeclAnim) {
            SetTableFieldInt(L, "fromdisk", r->fromDisk);
            SetTableFieldInt(L, "skiploopframes", r->skipLoopFrames);
            SetTableFieldInt(L, "deinterlace", r->deinterlace);
        }
        if (r->cache) {
            SetTableFieldString(L, "cache", file.c_str());
            SetTableFieldInt(L, "cachealpha", r->cacheAlpha);
        }
        if (r->cachedLoad) SetTableFieldString(L, "cachedload", file.c_str());
    }
    if (!e.loader.empty()) SetTableFieldString(L, "loader", e.loader.c_str());
    if (!e.adapter.empty()) SetTableFieldString(L, "adapter", e.adapter.c_str());
}

// Runs inside the declared command's protected call: a tree nested deeper
// than the stack has room for ends start-up with ERR_STACK like any other
// failing declaration.
void PushMenuTree(ScriptState* L, const qbMenuTree& tree) {
    constexpr int kSlotsPerLevel = 4;  // the level's table, an item, a key and its value
    if (!VmCheckStack(L, kSlotsPerLevel)) VmRaiseError(L, ERR_STACK);
    VmPushNewTable(L);
    int index = 0;
    for (const qbMenuItem& item : tree) {
        VmPushNewTable(L);
        if (!item.name.empty()) {
            VmPushString(L, item.name.c_str());
            VmRawSetIndex(L, -2, 0);
        }
        SetTableFieldInt(L, "flags", static_cast<int32_t>(item.flags));
        if (!item.id.empty()) SetTableFieldString(L, "id", item.id.c_str());
        if (!item.hotkey.empty()) SetTableFieldString(L, "hotkey", item.hotkey.c_str());
        if (!item.submenu.empty()) {
            PushMenuTree(L, item.submenu);
            VmRawSetIndex(L, -2, 1);
        }
        VmRawSetIndex(L, -2, index++);
    }
}

void PushRegions(ScriptState* L, const char* key, const std::vector<qbRegion>& regions) {
    VmPushString(L, key);
    VmPushNewTable(L);
    int index = 0;
    for (const qbRegion& r : regions) {
        VmPushNewTable(L);
        SetTableFieldInt(L, "type", r.type);
        SetTableFieldInt(L, "x", r.x);
        SetTableFieldInt(L, "y", r.y);
        SetTableFieldInt(L, "width", r.width);
        SetTableFieldInt(L, "height", r.height);
        VmRawSetIndex(L, -2, index++);
    }
    VmSetTableAt(L, -3);
}

void PushBackfill(ScriptState* L, const qbDisplayDeclaration& decl) {
    VmPushString(L, "backfill");
    VmPushNewTable(L);
    const qbBackfillOptions& b = decl.backfill;
    SetTableFieldInt(L, "hidetitlebar", decl.hideTitleBar);
    if (b.type != 0) {
        SetTableFieldString(L, "type", GetBackfillTypeName(b.type));
        SetTableFieldInt(L, "color", b.startColor);
        SetTableFieldInt(L, "startcolor", b.startColor);
        SetTableFieldInt(L, "endcolor", b.endColor);
        SetTableFieldInt(L, "x", b.x);
        SetTableFieldInt(L, "y", b.y);
        SetTableFieldInt(L, "brush", b.brush);
        SetTableFieldInt(L, "scalepicture", b.scalePicture);
        SetTableFieldInt(L, "smoothscale", b.smoothScale);
    }
    VmSetTableAt(L, -3);
}

void PushDisplayOptions(ScriptState* L, const qbPreprocessorEntry& e, const qbDisplayDeclaration& d,
                        const qbRestoredPlacement& restored, bool bgpicOneDeclared, int hideDisplays) {
    VmPushNewTable(L);
    SetTableFieldString(L, "title", d.title.c_str());
    SetTableFieldInt(L, "x", d.x);
    SetTableFieldInt(L, "y", d.y);
    if (d.scaleWidth != 0) SetTableFieldInt(L, "scalewidth", d.scaleWidth);
    if (d.scaleHeight != 0) SetTableFieldInt(L, "scaleheight", d.scaleHeight);
    for (const FlagKey& f : kDisplayFlagKeys) {
        if (d.flags & f.bit) SetTableFieldInt(L, f.key, 1);
    }
    if (hideDisplays) SetTableFieldInt(L, "hidden", 1);
    if (d.flags & kDispAutoScale) SetTableFieldInt(L, "scalemode", 1);
    if (d.flags & kDispLayerScale) SetTableFieldInt(L, "scalemode", 2);
    if (d.flags & kDispUseBGPic) {
        SetTableFieldInt(L, "bgpic", d.bgpic);
    } else if (e.id == 1 && bgpicOneDeclared) {
        SetTableFieldInt(L, "bgpic", 1);
    } else {
        SetTableFieldInt(L, "width", d.width);
        SetTableFieldInt(L, "height", d.height);
        SetTableFieldInt(L, "fillstyle", d.fillStyle);
        if (d.fillStyle == 2) {
            PushGradientFields(L, d.gradient);
        } else if (d.fillStyle == 3) {
            SetTableFieldInt(L, "texturebrush", d.textureBrush);
            SetTableFieldInt(L, "texturex", d.textureX);
            SetTableFieldInt(L, "texturey", d.textureY);
        } else {
            SetTableFieldInt(L, "color", d.color);
        }
    }
    if (!d.dragRegions.empty()) PushRegions(L, "dragregion", d.dragRegions);
    if (!d.sizeRegions.empty()) PushRegions(L, "sizeregion", d.sizeRegions);
    SetTableFieldInt(L, "orientation", d.orientation);
    SetTableFieldInt(L, "monitor", d.monitor + 1);
    if (d.menu != -1) SetTableFieldInt(L, "menu", d.menu);
    SetTableFieldString(L, "mode", GetDisplayModeName(d.mode));
    SetTableFieldInt(L, "scrwidth", d.scrWidth);
    SetTableFieldInt(L, "scrheight", d.scrHeight);
    SetTableFieldInt(L, "scrdepth", d.scrDepth);
    SetTableFieldInt(L, "desktop", d.desktop);
    if (restored.width != 0 && restored.height != 0) {
        SetTableFieldInt(L, "__restorewidth", restored.width);
        SetTableFieldInt(L, "__restoreheight", restored.height);
    }
    VmPushString(L, "__placement");
    VmPushLString(L, reinterpret_cast<const char*>(restored.data.data()), restored.data.size());
    VmRawSet(L, -3);
    PushBackfill(L, d);
}

std::string FileNameOf(const qbPreprocessorEntry& e, const qbCommandLine* cl) {
    if (e.linkedSize == 0) return e.name;
    const char* container = !e.appletPath.empty() ? e.appletPath.c_str() : (cl ? cl->scriptPath : "");
    return MakeChunkName(e.name.c_str(), e.linkedOffset, e.linkedSize, LinkedDataOffset, container);
}

// Pushes the arguments after the id; the count.
int PushArguments(ScriptState* L, const qbPreprocessorEntry& e, const std::string& file) {
    switch (e.type) {
    case kDeclBGPic:
    case kDeclBrush:
    case kDeclAnim:
    case kDeclSprite:
        VmPushString(L, file.c_str());
        PushImageOptions(L, e, file);
        return 2;
    case kDeclMusic:
    case kDeclSample:
    case kDeclVideo:
        VmPushString(L, file.c_str());
        if (e.loader.empty() && e.adapter.empty()) return 1;
        VmPushNewTable(L);
        if (!e.loader.empty()) SetTableFieldString(L, "loader", e.loader.c_str());
        if (!e.adapter.empty()) SetTableFieldString(L, "adapter", e.adapter.c_str());
        return 2;
    case kDeclFile:
        VmPushString(L, file.c_str());
        VmPushNumber(L, 0);
        if (e.adapter.empty()) return 2;
        VmPushNewTable(L);
        SetTableFieldString(L, "adapter", e.adapter.c_str());
        return 3;
    case kDeclFont:
        VmPushString(L, file.c_str());
        VmPushNumber(L, static_cast<uint32_t>(e.valueA));
        VmPushNewTable(L);
        if (e.valueB & kFontEngineMask) SetTableFieldInt(L, "engine", e.valueB & kFontEngineMask);
        if (e.valueB & kFontNoCache) SetTableFieldInt(L, "cache", 0);
        return 3;
    case kDeclButton: {
        const auto* b = std::get_if<qbButtonRecord>(&e.record);
        const qbButtonRecord box = b ? *b : qbButtonRecord{};
        for (int v : {box.x1, box.y1, box.x2, box.y2}) VmPushNumber(L, v);
        return 4;
    }
    case kDeclKeyDown: VmPushString(L, e.name.c_str()); return 1;
    case kDeclMenu: {
        const auto* tree = std::get_if<qbMenuTree>(&e.record);
        PushMenuTree(L, tree ? *tree : qbMenuTree{});
        return 1;
    }
    default: return 0;
    }
}

struct DeclaredCall {
    const char* function;
    double id;
    const std::function<int(ScriptState*)>* pushArguments;
    int result = 0;  // the command's own error code
};

// The protected part of a declared command: its arguments are made inside
// the protected call, so that running out of memory or stack while building
// them is an error of the declaration, not the end of the process.
int PushArgumentsAndCall(ScriptState* L) {
    auto* call = static_cast<DeclaredCall*>(VmToUserdata(L, 1));
    VmSetTop(L, 0);
    VmPushString(L, call->function);
    VmGetTableAt(L, kGlobalsIndex);
    VmPushNumber(L, call->id);
    const int nargs = 1 + (*call->pushArguments)(L);
    call->result = VmCall(L, nargs, 0);
    return 0;
}

// Calls the command's global function in protected mode: a missing command
// or a failing one ends start-up with its code and nothing unwinds further.
// The error text names the declaration's line and command, not the VM's.
int CallDeclaredCommand(ScriptState* L, const qbPreprocessorEntry& e, const char* command,
                        const std::function<int(ScriptState*)>& pushArguments) {
    std::string lower(command);
    StrToLower(lower.data());
    // The wrapper, its record, the function, the id and four arguments; a
    // deeper option table checks its own room.
    constexpr int kStackRoom = 16;
    if (!VmCheckStack(L, kStackRoom)) return ERR_STACK;
    const int top = VmGetTop(L);
    VmPushString(L, lower.c_str());
    VmGetTableAt(L, kGlobalsIndex);
    const bool found = VmType(L, -1) == kTypeFunction;
    VmSetTop(L, top);
    int err = 0;
    if (!found) {
        SetErrorDetail((lower + "()").c_str());
        err = ERR_FUNCDECLA;
    } else {
        DeclaredCall call{lower.c_str(), static_cast<double>(e.id), &pushArguments};
        VmPushCClosure(L, PushArgumentsAndCall, 0);
        VmPushLightUserdata(L, &call);
        err = VmPCall(L, 1, 0, 0);
        if (err == 0) err = call.result;
    }
    VmSetTop(L, top);
    if (err) {
        SetCurrentLine(e.sourceLine);
        SetCurrentCommandName(command);
    }
    return err;
}

void BeginEntry(const qbPreprocessorEntry& e, const qbCommandLine* cl, const char* command) {
    const bool entryQuiet = cl && !cl->appletFlag && !cl->quiet;
    SetRuntimeTag(kTagQuiet, entryQuiet ? e.quiet : 1);
    SetCurrentLine(e.sourceLine);
    SetCurrentCommandName(command);
}

}  // namespace

int ShareDeclaredImages(qbApplet* applet) {
    auto& list = applet->preprocessorList;
    for (size_t i = 0; i < list.size(); ++i) {
        qbPreprocessorEntry& first = list[i];
        auto* a = std::get_if<qbImageRecord>(&first.record);
        if (!IsImageType(first.type) || !a || (first.valueB & kLoadTransparency) || a->cachedLoad) continue;
        if (first.type != kDeclBrush && a->frames == 0) continue;
        for (size_t j = i + 1; j < list.size(); ++j) {
            qbPreprocessorEntry& later = list[j];
            auto* b = std::get_if<qbImageRecord>(&later.record);
            if (!IsImageType(later.type) || !b || (later.valueB & kLoadTransparency)) continue;
            if (StrCmpNoCase(first.name.c_str(), later.name.c_str()) != 0) continue;
            if (a->scaleWidth != b->scaleWidth || a->scaleHeight != b->scaleHeight ||
                a->smoothScale != b->smoothScale)
                continue;
            b->cachedLoad = 1;
            a->cache = 1;
            if ((later.valueB & kLoadAlpha) && !(first.valueB & kLoadAlpha)) a->cacheAlpha = 1;
        }
    }
    return 0;
}

int CreateDeclaredObjects(ScriptState* L, qbCommandLine* cl, qbApplet* applet, int hideDisplays) {
    bool bgpicOne = false;
    for (qbPreprocessorEntry& e : applet->preprocessorList) {
        if (e.type == kDeclBGPic && e.id == 1) bgpicOne = true;
        const char* command = CommandOf(e.type);
        if (!command || e.type == kDeclDisplay) continue;
        BeginEntry(e, cl, command);
        const std::string file = FileNameOf(e, cl);
        if (int err = CallDeclaredCommand(L, e, command, [&](ScriptState* S) { return PushArguments(S, e, file); }))
            return err;
        // The script's first error must not find this declaration's line.
        ResetCurrentCommandInfo();
        if (int err = AdvanceStartupProgress()) return err;
    }
    for (qbPreprocessorEntry& e : applet->preprocessorList) {
        if (e.type == kDeclWarning) {
            if (!StartupFlags.noDebug) ConsolePrintf("*** WARNING %s ***\n", e.name.c_str());
            continue;
        }
        const qbDisplayDeclaration* declared = GetDisplayDeclaration(e);
        if (!declared) continue;
        BeginEntry(e, cl, "CreateDisplay");
        qbDisplayDeclaration decl = *declared;
        const qbRestoredPlacement restored = RestoreDisplayPlacement(L, e.id, &decl);
        if (int err = CallDeclaredCommand(L, e, "CreateDisplay", [&](ScriptState* S) {
                PushDisplayOptions(S, e, decl, restored, bgpicOne, hideDisplays);
                return 1;
            }))
            return err;
        ResetCurrentCommandInfo();
    }
    return 0;
}
