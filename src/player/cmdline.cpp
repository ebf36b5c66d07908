// The command line: the option table, the argument scan, the applet choice and
// the opening of the command libraries.
#include "player/cmdline.h"

#include <cctype>
#include <cstring>
#include <new>
#include <string>

#include "core/applet.h"
#include "core/catalog.h"
#include "core/chars.h"
#include "core/errors.h"
#include "core/linkeddata.h"
#include "core/settings.h"
#include "display/adapter.h"
#include "display/displaylib.h"
#include "display/eventlib.h"
#include "display/requesters.h"
#include "draw/draw.h"
#include "draw/graphicslib.h"
#include "libs/dos.h"
#include "libs/mathlib.h"
#include "libs/memblock.h"
#include "libs/moveobjectlib.h"
#include "libs/network.h"
#include "libs/stringlib.h"
#include "libs/system.h"
#include "libs/videolib.h"
#include "media/animlib.h"
#include "objects/bgpiclib.h"
#include "objects/brushlib.h"
#include "objects/layers.h"
#include "objects/spritecmds.h"
#include "platform/platform.h"
#include "platform/requesterscript.h"
#include "player/options.h"
#include "plugins/plugincmds.h"
#include "plugins/pluginvector.h"
#include "sound/soundlib.h"
#include "text/textlib.h"
#include "transitions/transitionlib.h"
#include "vector/vectorlib.h"

// clang-format off
// Help texts and group headings are messages numbered in table order.
const qbOptionRow kOptionTable[] = {
    {"WINDOW", kOptWindow, false, MSG_OPTIONGROUP_FIRST + 0, MSG_OPTIONHELP_FIRST + 0, nullptr, nullptr},
    {"BORDERLESS", kOptBorderless, false, 0, MSG_OPTIONHELP_FIRST + 1, nullptr, nullptr},
    {"SIZEABLE", kOptSizeable, false, 0, MSG_OPTIONHELP_FIRST + 2, nullptr, nullptr},
    {"FIXED", kOptFixed, false, 0, MSG_OPTIONHELP_FIRST + 3, nullptr, nullptr},
    {"NOHIDE", kOptNoHide, false, 0, MSG_OPTIONHELP_FIRST + 4, nullptr, nullptr},
    {"DISABLEBLANKER", kOptDisableBlanker, false, 0, MSG_OPTIONHELP_FIRST + 5, nullptr, nullptr},
    {"ALLDISPLAYS", kOptAllDisplays, false, 0, MSG_OPTIONHELP_FIRST + 6, nullptr, nullptr},
    {"OVERRIDEPLACEMENT", kOptOverridePlacement, false, 0, MSG_OPTIONHELP_FIRST + 7, nullptr, nullptr},
    {"FULLSCREEN", kOptFullScreen, false, MSG_OPTIONGROUP_FIRST + 1, MSG_OPTIONHELP_FIRST + 8, nullptr, nullptr},
    {"FAKEFULLSCREEN", kOptFakeFullScreen, false, 0, MSG_OPTIONHELP_FIRST + 9, nullptr, nullptr},
    {"MODEREQUESTER", kOptModeRequester, false, 0, MSG_OPTIONHELP_FIRST + 10, nullptr, nullptr},
    {"ASKDISPLAYMODE", kOptAskDisplayMode, false, 0, MSG_OPTIONHELP_FIRST + 11, nullptr, nullptr},
    {"SCRWIDTH", kOptScrWidth, true, 0, MSG_OPTIONHELP_FIRST + 12, "<width>", nullptr},
    {"SCRHEIGHT", kOptScrHeight, true, 0, MSG_OPTIONHELP_FIRST + 13, "<height>", nullptr},
    {"SCRDEPTH", kOptScrDepth, true, 0, MSG_OPTIONHELP_FIRST + 14, "<depth>", nullptr},
    {"MONITOR", kOptMonitor, true, 0, MSG_OPTIONHELP_FIRST + 15, "<num>", nullptr},
    {"HIDEPOINTER", kOptHidePointer, false, 0, MSG_OPTIONHELP_FIRST + 16, nullptr, nullptr},
    {"NOMODESWITCH", kOptNoModeSwitch, false, 0, MSG_OPTIONHELP_FIRST + 17, nullptr, nullptr},
    {"BACKFILL", kOptBackfill, true, MSG_OPTIONGROUP_FIRST + 2, MSG_OPTIONHELP_FIRST + 18, "<mode>", "color|gradient|texture|picture"},
    {"STARTCOLOR", kOptStartColor, true, 0, MSG_OPTIONHELP_FIRST + 19, "<color>", "$RRGGBB"},
    {"ENDCOLOR", kOptEndColor, true, 0, MSG_OPTIONHELP_FIRST + 20, "<color>", "$RRGGBB"},
    {"BRUSHFILE", kOptBrushFile, true, 0, MSG_OPTIONHELP_FIRST + 21, "<image file>", nullptr},
    {"BRUSH", kOptBrush, true, 0, MSG_OPTIONHELP_FIRST + 22, "<brush id>", nullptr},
    {"SCALEPICTURE", kOptScalePicture, false, 0, MSG_OPTIONHELP_FIRST + 23, nullptr, nullptr},
    {"PICXPOS", kOptPicXPos, true, 0, MSG_OPTIONHELP_FIRST + 24, "<pos>", nullptr},
    {"PICYPOS", kOptPicYPos, true, 0, MSG_OPTIONHELP_FIRST + 25, "<pos>", nullptr},
    {"PICTRANS", kOptPicTrans, true, 0, MSG_OPTIONHELP_FIRST + 26, "<color>", "$RRGGBB"},
    {"HIDETITLEBAR", kOptHideTitleBar, false, 0, MSG_OPTIONHELP_FIRST + 27, nullptr, nullptr},
    {"AUTOSCALE", kOptAutoScale, false, MSG_OPTIONGROUP_FIRST + 3, MSG_OPTIONHELP_FIRST + 28, nullptr, nullptr},
    {"LAYERSCALE", kOptLayerScale, false, 0, MSG_OPTIONHELP_FIRST + 29, nullptr, nullptr},
    {"SCALEWIDTH", kOptScaleWidth, true, 0, MSG_OPTIONHELP_FIRST + 30, "<width>", nullptr},
    {"SCALEHEIGHT", kOptScaleHeight, true, 0, MSG_OPTIONHELP_FIRST + 31, "<height>", nullptr},
    {"SMOOTHSCALE", kOptSmoothScale, false, 0, MSG_OPTIONHELP_FIRST + 32, nullptr, nullptr},
    {"KEEPPROPORTIONS", kOptKeepProportions, false, 0, MSG_OPTIONHELP_FIRST + 33, nullptr, nullptr},
    {"FITSCALE", kOptFitScale, false, 0, MSG_OPTIONHELP_FIRST + 34, nullptr, nullptr},
    {"NOSOUND", kOptNoSound, false, MSG_OPTIONGROUP_FIRST + 4, MSG_OPTIONHELP_FIRST + 35, nullptr, nullptr},
    {"NUMCHANNELS", kOptNumChannels, true, 0, MSG_OPTIONHELP_FIRST + 36, "<count>", nullptr},
    {"REQUIREPLUGINS", kOptRequirePlugins, true, MSG_OPTIONGROUP_FIRST + 5, MSG_OPTIONHELP_FIRST + 37, "<list>", nullptr},
    {"REQUIRETAGS", kOptRequireTags, true, 0, MSG_OPTIONHELP_FIRST + 38, "<list>", nullptr},
    {"SKIPPLUGINS", kOptSkipPlugins, true, 0, MSG_OPTIONHELP_FIRST + 39, "<list>", nullptr},
    {"DEBUGDEVICE", kOptDebugDevice, true, MSG_OPTIONGROUP_FIRST + 6, MSG_OPTIONHELP_FIRST + 40, "<name>", nullptr},
    {"DEBUGOUTPUT", kOptDebugOutput, false, 0, MSG_OPTIONHELP_FIRST + 41, nullptr, nullptr},
    {"FORCEFLUSH", kOptForceFlush, false, 0, MSG_OPTIONHELP_FIRST + 42, nullptr, nullptr},
    {"NODEBUG", kOptNoDebug, false, 0, MSG_OPTIONHELP_FIRST + 43, nullptr, nullptr},
    {"HELP", kOptHelp, false, MSG_OPTIONGROUP_FIRST + 7, MSG_OPTIONHELP_FIRST + 44, nullptr, nullptr},
    {"QUIET", kOptQuiet, false, 0, MSG_OPTIONHELP_FIRST + 45, nullptr, nullptr},
    {"TEMPDIR", kOptTempDir, true, 0, MSG_OPTIONHELP_FIRST + 46, "<path>", nullptr},
    {"NOCHDIR", kOptNoChdir, false, 0, MSG_OPTIONHELP_FIRST + 47, nullptr, nullptr},
    {"USEQUARTZ", kOptUseQuartz, false, 0, MSG_OPTIONHELP_FIRST + 48, nullptr, nullptr},
    {"SOFTTIMER", kOptSoftTimer, false, 0, MSG_OPTIONHELP_FIRST + 49, nullptr, nullptr},
};
// clang-format on
const size_t kOptionCount = sizeof kOptionTable / sizeof kOptionTable[0];
static_assert(sizeof kOptionTable / sizeof kOptionTable[0] == 50);

namespace {

// The command libraries in their fixed opening order; rows without an open
// function are libraries this player does not have yet.
const ScriptCommand kLibraryList[] = {
    {"string", InitStringLibrary}, {"math", InitMathLibrary},   {"graphics", InitGraphicsLibrary},  {"draw", InitDrawLibrary},
    {"moveobject", InitMoveObjectLibrary},{"dos", InitDosLibrary},{"event", InitEventLibrary}, {"system", InitSystemLibrary},
    {"layers", InitLayersLibrary},       {"text", InitTextLibrary}, {"anim", InitAnimLibrary},      {"display", InitDisplayLibrary},
    {"sound", InitSoundLibrary},        {"brush", InitBrushLibrary}, {"bgpic", InitBGPicLibrary}, {"transitionfx", InitTransitionFXLibrary},
    {"sprite", InitSpriteLibrary}, {"memblock", InitMemblockLibrary}, {"vectorgraphics", InitVectorLibrary}, {"network", InitNetworkLibrary},
    {"video", InitVideoLibrary},        {nullptr, nullptr},
};

constexpr char kBanner[] = "QuenbrookPlayer 6.1 [Linux]\nThe multimedia applet player\n\n";
constexpr char kUsage[] = "Usage: quenbrookplayer APPLET [-OPTION [VALUE]]...\n";
constexpr int kDefaultChannelCount = 30;

bool CopyBounded(char* dest, size_t size, const std::string& src) {
    if (src.size() >= size) return false;
    std::memcpy(dest, src.c_str(), src.size() + 1);
    return true;
}

// What a user tries first when asking for help; the table's own spelling is
// -HELP.
bool IsHelpSpelling(const char* arg) { return StrCmpNoCase(arg, "--help") == 0 || StrCmpNoCase(arg, "-h") == 0; }

// Joins the arguments into one text; arguments that are no options are quoted
// so that a path with blanks stays one token. A text too long for the
// argument buffer is refused rather than cut.
int BuildArgumentText(int argc, char** argv, std::string& text) {
    for (int i = 1; i < argc; ++i) {
        if (i > 1) text += ' ';
        if (IsHelpSpelling(argv[i])) {
            text += "-HELP";
        } else if (argv[i][0] == '-') {
            text += argv[i];
        } else {
            text += '"';
            text += argv[i];
            text += '"';
        }
        if (text.size() > kArgumentTextSize) return ERR_ARGS;
    }
    return 0;
}

bool IsNameChar(char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_'; }

int ScanArguments(const std::string& text, qbOptionValues& values, qbCommandLine* cl) {
    enum class Due { None, Known, Unknown } due = Due::None;
    int dueSlot = 0;
    size_t i = 0;
    const size_t n = text.size();
    while (i < n) {
        if (text[i] == ' ') {
            ++i;
            continue;
        }
        if (text[i] == '-') {
            if (due != Due::None) return ERR_ARGS;
            size_t start = ++i;
            while (i < n && IsNameChar(text[i])) ++i;
            if (i == start) return ERR_ARGS;
            std::string name = text.substr(start, i - start);
            if (i < n) ++i;  // the character after the name ends it ("=" included)
            cl->arguments.push_back({name, {}});
            if (const qbOptionRow* row = FindOption(name.c_str(), name.size())) {
                values.given[row->id] = true;
                if (row->takesValue) {
                    due = Due::Known;
                    dueSlot = row->id;
                } else {
                    values.flag[row->id] = 1;
                }
            } else {
                cl->unknownOptions.push_back({name, {}});
                due = Due::Unknown;
            }
            continue;
        }
        std::string token;
        if (text[i] == '"') {
            size_t end = text.find('"', i + 1);
            if (end == std::string::npos) return ERR_ARGS;
            token = text.substr(i + 1, end - i - 1);
            i = end + 1;
        } else {
            size_t end = text.find(' ', i);
            if (end == std::string::npos) end = n;
            token = text.substr(i, end - i);
            i = end;
        }
        if (due == Due::Known) {
            values.text[dueSlot] = token;
            cl->arguments.back().value = token;
        } else if (due == Due::Unknown) {
            cl->unknownOptions.back().value = token;
            cl->arguments.back().value = token;
        } else {
            if (values.given[kOptApplet]) return ERR_ARGS;  // a second applet name
            values.text[kOptApplet] = token;
            values.given[kOptApplet] = true;
        }
        due = Due::None;
    }
    // An option the table does not know may stand last without a value.
    return due == Due::Known ? ERR_ARGS : 0;
}

// The start-up's answer when no applet was given and no requester could ask
// for one: the usage is on standard error, and the run fails without an
// error message of its own.
constexpr int kNoAppletChosen = -1;

int AskForApplet(qbCommandLine* cl) {
    const char* title = GetMessageText(MSG_SELECTAPPLET);
    qbFileRequestResult chosen;
    const int err =
        ShowFileRequester(nullptr, nullptr, title ? title : "", "qba", kReqNormal, nullptr, nullptr, 0, &chosen);
    // A requester that the system can't show (no desktop, no dialog program)
    // leaves the user how the player is started instead; one that a test
    // run's scripted answers or an adapter refused says why itself.
    if (err == ERR_WINDOW && !RequesterScriptActive() && !DisplayAdapter().requester) {
        PrintOptionHelp(stderr);
        return kNoAppletChosen;
    }
    if (err) return err;
    if (!chosen.chosen) return ERR_USERABORT;
    const std::string path = chosen.folder + chosen.files.c_str();
    if (!CopyBounded(cl->scriptPath, sizeof cl->scriptPath, path)) return ERR_ARGS;
    CopyBounded(cl->scriptPathAsTyped, sizeof cl->scriptPathAsTyped, path);
    return 0;
}

// The applet named on the command line, else the executable when an applet
// is appended to it, else the one the user picks.
int ChooseAppletFile(const qbOptionValues& values, qbCommandLine* cl) {
    if (values.given[kOptApplet] && LinkedDataOffset != 0) {
        // The executable is the applet: a name given is a document for it.
        cl->fileArgument = values.text[kOptApplet];
    } else if (values.given[kOptApplet]) {
        cl->scriptNamed = 1;
        if (!CopyBounded(cl->scriptPath, sizeof cl->scriptPath, values.text[kOptApplet])) return ERR_ARGS;
        CopyBounded(cl->scriptPathAsTyped, sizeof cl->scriptPathAsTyped, values.text[kOptApplet]);
    } else if (LinkedDataOffset == 0) {
        if (int err = AskForApplet(cl)) return err;
    }
    if (LinkedDataOffset != 0) std::memcpy(cl->scriptPath, cl->executablePath, sizeof cl->scriptPath);
    return 0;
}

void SetRegistryEntries(ScriptState* L, qbCommandLine* cl, qbApplet* applet) {
    VmRegistrySetLightUserdata(L, "applet", applet);
    VmRegistrySetLightUserdata(L, "clargs", cl);
    VmPushString(L, "inclevels");
    VmPushNewTable(L);
    VmPushString(L, "count");
    VmPushNumber(L, 0);
    VmSetTableAt(L, -3);
    VmSetTableAt(L, kRegistryIndex);
    VmPushString(L, "_g");
    VmPushValue(L, kGlobalsIndex);
    VmRawSet(L, kGlobalsIndex);
}

}  // namespace

const ScriptCommand* CommandLibraryList() { return kLibraryList; }

int OpenLibraries(ScriptState* L) {
    // The system library's plugin commands and the vectorgraphics library's
    // plugin engines come from the plugin list.
    InstallPluginCommands();
    InstallPluginVectorEngines();
    for (const ScriptCommand* lib = kLibraryList; lib->name; ++lib) {
        if (!lib->handler) continue;
        VmPushValue(L, kGlobalsIndex);
        int err = lib->handler(L);
        VmSetTop(L, 0);
        if (err) return err;
    }
    return 0;
}

const qbOptionRow* FindOption(const char* name, size_t length) {
    for (const qbOptionRow& row : kOptionTable)
        if (std::strlen(row.name) == length && StrNCmpNoCase(row.name, name, length) == 0) return &row;
    return nullptr;
}

namespace {

// Options of the system that do nothing of their own on this platform: the
// help keeps their texts and says what becomes of them here.
const char* NoteOnThisPlatform(int id) {
    switch (id) {
        case kOptUseQuartz:
            return "macOS only: here it sets the displays' \"usequartz\" flag, which changes nothing";
        case kOptSoftTimer:
            return "changes nothing here: timers run on the system's monotonic clock";
        default:
            return nullptr;
    }
}

}  // namespace

void PrintOptionHelp(FILE* out) {
    std::fputs(kUsage, out);
    for (const qbOptionRow& row : kOptionTable) {
        if (row.heading) {
            const char* heading = GetMessageText(row.heading);
            std::fprintf(out, "\n%s\n", heading ? heading : "");
        }
        std::string left = std::string("  -") + row.name;
        if (row.valueName) left += std::string(" ") + row.valueName;
        const char* help = GetMessageText(row.help);
        std::fprintf(out, "%-28s %s", left.c_str(), help ? help : "");
        if (row.valueHint) std::fprintf(out, " (%s)", row.valueHint);
        if (const char* note = NoteOnThisPlatform(row.id)) std::fprintf(out, "\n%-28s (%s)", "", note);
        std::fputc('\n', out);
    }
}

int ParseCommandLine(ScriptState* L, qbCommandLine* cl, qbApplet* applet, const qbLinkMarker* marker, int argc,
                     char** argv) {
    BuildCRC32Table();
    if (int err = CheckOSVersionAndActivate()) return err;
    applet->overrides = qbDisplayOverrides{};
    applet->screenModeOptions = qbScreenModeOptions{};
    TimerSettings = qbTimerSettings{};
    StartupFlags = qbStartupFlags{};
    if (!GetPlayerCatalog()) SetPlayerCatalog(LoadCatalog("Quenbrook.catalog"));

    uint32_t word = GetLinkMarkerOffset(marker);
    if (word != kNoLinkedData) {
        LinkedDataOffset = word;
        DataIsLinked = 1;
    }
    GetExecutablePath(cl->executablePath, sizeof cl->executablePath);

    try {
        std::string text;
        qbOptionValues values;
        if (int err = BuildArgumentText(argc, argv, text)) return err;
        if (int err = ScanArguments(text, values, cl)) return err;
        if (values.flag[kOptHelp]) {
            PrintOptionHelp(stdout);
            return ERR_USERABORT;
        }
        if (int err = ChooseAppletFile(values, cl)) return err;
        if (int err = ReadIniOptions(cl, values)) return err;
        if (int err = ResolveStartupOptions(cl, values, applet)) return err;
    } catch (const std::bad_alloc&) {
        return ERR_MEM;
    }

    if (DataIsLinked) cl->quiet = 1;
    SetRuntimeTag(kTagQuiet, cl->quiet);
    if (!cl->quiet) ConsolePrintf("%s", kBanner);

    if (int err = InitRuntimeCore()) return err;
    SetRegistryEntries(L, cl, applet);
    if (int err = OpenLibraries(L)) return err;

    SetRuntimeTag(kTagNoSound, cl->nosound);
    SetRuntimeTag(kTagAudioChannels, cl->channelCount > 0 ? cl->channelCount : kDefaultChannelCount);
    return 0;
}
