// What start-up makes of the option values: display overrides, backfill,
// sound, plugins, debugging and the process flags; and the number syntax the
// option values are written in.
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

#include "core/applet.h"
#include "core/chars.h"
#include "core/errors.h"
#include "core/fileops.h"
#include "libs/errorhandler.h"
#include "libs/system.h"
#include "platform/platform.h"
#include "player/options.h"

namespace {

// Flag options that set bits of the display override flag word.
struct FlagBit {
    int option;
    uint32_t bit;
};
constexpr FlagBit kOverrideFlags[] = {
    {kOptBorderless, kDispBorderless},       {kOptSizeable, kDispSizeable},
    {kOptFixed, kDispFixed},                 {kOptNoHide, kDispNoHide},
    {kOptDisableBlanker, kDispDisableBlanker}, {kOptHidePointer, kDispHidePointer},
    {kOptNoModeSwitch, kDispNoModeSwitch},   {kOptAutoScale, kDispAutoScale},
    {kOptLayerScale, kDispLayerScale},       {kOptSmoothScale, kDispSmoothScale},
    {kOptKeepProportions, kDispKeepProportions}, {kOptFitScale, kDispFitScale},
    {kOptUseQuartz, kDispUseQuartz},
};

// Display modes in the order they are tested.
constexpr FlagBit kDisplayModes[] = {
    {kOptWindow, 1}, {kOptFullScreen, 2}, {kOptFakeFullScreen, 6}, {kOptModeRequester, 4}, {kOptAskDisplayMode, 3},
};

struct BackfillName {
    const char* name;
    int type;
};
constexpr BackfillName kBackfillTypes[] = {
    {"COLOR", 1}, {"RAINBOW", 2}, {"GRADIENT", 2}, {"TEXTURE", 3}, {"PICTURE", 4},
};
constexpr int kBackfillColor = 1;
constexpr int kBackfillGradient = 2;

// Whole numbers of options fit 32 bits; bigger ones wrap as they do in the
// container.
int32_t ToInt32(double n) {
    if (!std::isfinite(n) || std::fabs(n) >= 9.2e18) return 0;
    return static_cast<int32_t>(static_cast<uint32_t>(static_cast<int64_t>(n)));
}

bool Given(const qbOptionValues& v, int id) { return v.given[id]; }

// The number of a value option; "%" after it is allowed where percent says so.
int Number(const qbOptionValues& v, int id, int32_t& out, bool* percent = nullptr) {
    const std::string& text = v.text[id];
    size_t used = 0;
    int err = 0;
    double n = StringToNumber(text.c_str(), &used, &err);
    if (err) return err;
    if (percent) {
        *percent = used < text.size() && text[used] == '%';
        if (*percent) ++used;
    }
    while (used < text.size() && (text[used] == ' ' || text[used] == '\t')) ++used;
    if (used != text.size()) return ERR_SYNTAXERROR;
    out = ToInt32(n);
    return 0;
}

int ReadScaleOverride(const qbOptionValues& v, int id, int& out) {
    if (!Given(v, id)) return 0;
    bool percent = false;
    int32_t n;
    if (int err = Number(v, id, n, &percent)) return err;
    out = percent ? -n : n;
    return 0;
}

int ReadNumberIfGiven(const qbOptionValues& v, int id, int& out) {
    if (!Given(v, id)) return 0;
    int32_t n;
    if (int err = Number(v, id, n)) return err;
    out = n;
    return 0;
}

int ResolveBackfill(const qbOptionValues& v, qbBackfillOptions& b) {
    if (!Given(v, kOptBackfill)) return 0;
    int type = 0;
    for (const BackfillName& row : kBackfillTypes)
        if (StrCmpNoCase(v.text[kOptBackfill].c_str(), row.name) == 0) type = row.type;
    if (type == 0) return ERR_BACKFILL;
    const bool brush = Given(v, kOptBrush), brushFile = Given(v, kOptBrushFile);
    const bool start = Given(v, kOptStartColor), end = Given(v, kOptEndColor);
    if (brush && brushFile) return ERR_BACKFILL;
    if (type == kBackfillColor && !start) return ERR_BACKFILL;
    if (type == kBackfillGradient && !(start && end)) return ERR_BACKFILL;
    if (type > kBackfillGradient && !brush && !brushFile) return ERR_BACKFILL;
    b.type = type;
    if (brush) {
        if (int err = Number(v, kOptBrush, b.brush)) return err;
    }
    if (brushFile) {
        if (v.text[kOptBrushFile].size() >= kOptionPathSize) return ERR_ARGS;
        b.fileName = v.text[kOptBrushFile];
    }
    if (start) {
        if (int err = Number(v, kOptStartColor, b.startColor)) return err;
    }
    if (end) {
        if (int err = Number(v, kOptEndColor, b.endColor)) return err;
    }
    if (v.flag[kOptScalePicture]) b.scalePicture = 1;
    if (int err = ReadNumberIfGiven(v, kOptPicXPos, b.x)) return err;
    if (int err = ReadNumberIfGiven(v, kOptPicYPos, b.y)) return err;
    if (Given(v, kOptPicTrans)) {
        if (int err = Number(v, kOptPicTrans, b.transparentColor)) return err;
    }
    return 0;
}

int ResolveDisplay(const qbOptionValues& v, qbCommandLine* cl, qbDisplayOverrides& o) {
    for (const FlagBit& f : kOverrideFlags)
        if (v.flag[f.option]) o.flags |= f.bit;
    if (v.flag[kOptHideTitleBar]) o.backfill.hideTitleBar = 1;
    if (v.flag[kOptAutoScale] && v.flag[kOptLayerScale]) return ERR_CONSOLEARG;

    cl->allDisplays = v.flag[kOptAllDisplays];
    // A scaling size means nothing without a scaling engine.
    if (v.flag[kOptAutoScale] || v.flag[kOptLayerScale]) {
        if (int err = ReadScaleOverride(v, kOptScaleWidth, o.scaleWidth)) return err;
        if (int err = ReadScaleOverride(v, kOptScaleHeight, o.scaleHeight)) return err;
    }
    if (int err = ReadNumberIfGiven(v, kOptScrDepth, o.scrDepth)) return err;
    if (int err = ReadNumberIfGiven(v, kOptScrWidth, o.scrWidth)) return err;
    if (int err = ReadNumberIfGiven(v, kOptScrHeight, o.scrHeight)) return err;
    if (Given(v, kOptMonitor)) {
        int32_t monitor;
        if (int err = Number(v, kOptMonitor, monitor)) return err;
        if (monitor < 1) return ERR_MONITORRANGE;
        o.monitor = monitor - 1;
    }
    return ResolveBackfill(v, o.backfill);
}

int ResolveProcessFlags(const qbOptionValues& v, qbCommandLine* cl) {
    cl->quiet = v.flag[kOptQuiet];
    cl->nosound = v.flag[kOptNoSound];
    if (Given(v, kOptNumChannels)) {
        int32_t channels;
        if (int err = Number(v, kOptNumChannels, channels)) return err;
        if (channels < 1) return ERR_CONSOLEARG;
        cl->channelCount = channels;
    }
    if (Given(v, kOptTempDir)) {
        if (v.text[kOptTempDir].size() >= kOptionPathSize) return ERR_ARGS;
        SetTempDir(v.text[kOptTempDir].c_str());
    }
    StartupFlags.noChdir = v.flag[kOptNoChdir];
    if (Given(v, kOptSkipPlugins)) cl->skipPlugins = SplitOptionList(v.text[kOptSkipPlugins].c_str());
    if (Given(v, kOptRequirePlugins)) cl->requirePlugins = SplitOptionList(v.text[kOptRequirePlugins].c_str());
    if (Given(v, kOptRequireTags)) cl->requireTags = v.text[kOptRequireTags];
    if (Given(v, kOptDebugDevice)) {
        cl->debugDevice = 1;
        OpenDebugDevice();
    }
    StartupFlags.debugOutput = v.flag[kOptDebugOutput];
    StartupFlags.noDebug = v.flag[kOptNoDebug];
    StartupFlags.forceFlush = v.flag[kOptForceFlush];
    StartupFlags.overridePlacement = v.flag[kOptOverridePlacement];
    if (StartupFlags.debugOutput) SetCallTracing(true);
    SetDebugFunctionsDisabled(StartupFlags.noDebug != 0);
    // Assertions are debug functions too: NODEBUG lets them pass unchecked.
    SetAssertionsEnabled(StartupFlags.noDebug == 0);
    SetConsoleForceFlush(StartupFlags.forceFlush != 0);
    if (v.flag[kOptSoftTimer]) TimerSettings.flags |= kTimerSoftTimer;
    return 0;
}

}  // namespace

int ResolveStartupOptions(qbCommandLine* cl, const qbOptionValues& values, qbApplet* applet) {
    try {
        qbDisplayOverrides& o = applet->overrides;
        if (int err = ResolveDisplay(values, cl, o)) return err;
        if (int err = ResolveProcessFlags(values, cl)) return err;
        for (const FlagBit& m : kDisplayModes) {
            if (!values.flag[m.option]) continue;
            if (o.mode != 0) return ERR_CONSOLEARG;
            o.mode = static_cast<int>(m.bit);
        }
    } catch (const std::bad_alloc&) {
        return ERR_MEM;
    }
    return 0;
}

std::vector<std::string> SplitOptionList(const char* text) {
    std::vector<std::string> list;
    const char* p = text;
    for (;;) {
        const char* bar = std::strchr(p, '|');
        std::string entry = bar ? std::string(p, bar) : std::string(p);
        if (entry.empty()) break;
        list.push_back(std::move(entry));
        if (!bar) break;
        p = bar + 1;
    }
    return list;
}
