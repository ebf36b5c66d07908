// The command line: the option table, the argument scan, the applet choice and
// the opening of the command libraries.
#include "core/cmdline.h"

#include <array>
#include <cctype>
#include <cstring>
#include <string>

#include "core/applet.h"
#include "core/catalog.h"
#include "core/chars.h"
#include "core/errors.h"
#include "core/linkeddata.h"
#include "core/settings.h"
#include "display/requesters.h"
#include "libs/errorhandler.h"
#include "libs/system.h"
#include "platform/platform.h"

// clang-format off
// Help texts and group headings are messages numbered in table order.
const qbOptionRow kOptionTable[] = {
    {"WINDOW", 1, false, MSG_OPTIONGROUP_FIRST + 0, MSG_OPTIONHELP_FIRST + 0, nullptr, nullptr},
    {"BORDERLESS", 2, false, 0, MSG_OPTIONHELP_FIRST + 1, nullptr, nullptr},
    {"SIZEABLE", 3, false, 0, MSG_OPTIONHELP_FIRST + 2, nullptr, nullptr},
    {"FIXED", 15, false, 0, MSG_OPTIONHELP_FIRST + 3, nullptr, nullptr},
    {"NOHIDE", 26, false, 0, MSG_OPTIONHELP_FIRST + 4, nullptr, nullptr},
    {"DISABLEBLANKER", 75, false, 0, MSG_OPTIONHELP_FIRST + 5, nullptr, nullptr},
    {"ALLDISPLAYS", 82, false, 0, MSG_OPTIONHELP_FIRST + 6, nullptr, nullptr},
    {"OVERRIDEPLACEMENT", 91, false, 0, MSG_OPTIONHELP_FIRST + 7, nullptr, nullptr},
    {"FULLSCREEN", 22, false, MSG_OPTIONGROUP_FIRST + 1, MSG_OPTIONHELP_FIRST + 8, nullptr, nullptr},
    {"FAKEFULLSCREEN", 29, false, 0, MSG_OPTIONHELP_FIRST + 9, nullptr, nullptr},
    {"MODEREQUESTER", 79, false, 0, MSG_OPTIONHELP_FIRST + 10, nullptr, nullptr},
    {"ASKDISPLAYMODE", 80, false, 0, MSG_OPTIONHELP_FIRST + 11, nullptr, nullptr},
    {"SCRWIDTH", 27, true, 0, MSG_OPTIONHELP_FIRST + 12, "<width>", nullptr},
    {"SCRHEIGHT", 28, true, 0, MSG_OPTIONHELP_FIRST + 13, "<height>", nullptr},
    {"SCRDEPTH", 9, true, 0, MSG_OPTIONHELP_FIRST + 14, "<depth>", nullptr},
    {"MONITOR", 81, true, 0, MSG_OPTIONHELP_FIRST + 15, "<num>", nullptr},
    {"HIDEPOINTER", 30, false, 0, MSG_OPTIONHELP_FIRST + 16, nullptr, nullptr},
    {"NOMODESWITCH", 31, false, 0, MSG_OPTIONHELP_FIRST + 17, nullptr, nullptr},
    {"BACKFILL", 4, true, MSG_OPTIONGROUP_FIRST + 2, MSG_OPTIONHELP_FIRST + 18, "<mode>", "color|gradient|texture|picture"},
    {"STARTCOLOR", 7, true, 0, MSG_OPTIONHELP_FIRST + 19, "<color>", "$RRGGBB"},
    {"ENDCOLOR", 8, true, 0, MSG_OPTIONHELP_FIRST + 20, "<color>", "$RRGGBB"},
    {"BRUSHFILE", 13, true, 0, MSG_OPTIONHELP_FIRST + 21, "<image file>", nullptr},
    {"BRUSH", 6, true, 0, MSG_OPTIONHELP_FIRST + 22, "<brush id>", nullptr},
    {"SCALEPICTURE", 18, false, 0, MSG_OPTIONHELP_FIRST + 23, nullptr, nullptr},
    {"PICXPOS", 19, true, 0, MSG_OPTIONHELP_FIRST + 24, "<pos>", nullptr},
    {"PICYPOS", 20, true, 0, MSG_OPTIONHELP_FIRST + 25, "<pos>", nullptr},
    {"PICTRANS", 21, true, 0, MSG_OPTIONHELP_FIRST + 26, "<color>", "$RRGGBB"},
    {"HIDETITLEBAR", 5, false, 0, MSG_OPTIONHELP_FIRST + 27, nullptr, nullptr},
    {"AUTOSCALE", 36, false, MSG_OPTIONGROUP_FIRST + 3, MSG_OPTIONHELP_FIRST + 28, nullptr, nullptr},
    {"LAYERSCALE", 40, false, 0, MSG_OPTIONHELP_FIRST + 29, nullptr, nullptr},
    {"SCALEWIDTH", 37, true, 0, MSG_OPTIONHELP_FIRST + 30, "<width>", nullptr},
    {"SCALEHEIGHT", 38, true, 0, MSG_OPTIONHELP_FIRST + 31, "<height>", nullptr},
    {"SMOOTHSCALE", 39, false, 0, MSG_OPTIONHELP_FIRST + 32, nullptr, nullptr},
    {"KEEPPROPORTIONS", 61, false, 0, MSG_OPTIONHELP_FIRST + 33, nullptr, nullptr},
    {"FITSCALE", 62, false, 0, MSG_OPTIONHELP_FIRST + 34, nullptr, nullptr},
    {"NOSOUND", 16, false, MSG_OPTIONGROUP_FIRST + 4, MSG_OPTIONHELP_FIRST + 35, nullptr, nullptr},
    {"NUMCHANNELS", 88, true, 0, MSG_OPTIONHELP_FIRST + 36, "<count>", nullptr},
    {"REQUIREPLUGINS", 74, true, MSG_OPTIONGROUP_FIRST + 5, MSG_OPTIONHELP_FIRST + 37, "<list>", nullptr},
    {"REQUIRETAGS", 86, true, 0, MSG_OPTIONHELP_FIRST + 38, "<list>", nullptr},
    {"SKIPPLUGINS", 67, true, 0, MSG_OPTIONHELP_FIRST + 39, "<list>", nullptr},
    {"DEBUGDEVICE", 33, true, MSG_OPTIONGROUP_FIRST + 6, MSG_OPTIONHELP_FIRST + 40, "<name>", nullptr},
    {"DEBUGOUTPUT", 87, false, 0, MSG_OPTIONHELP_FIRST + 41, nullptr, nullptr},
    {"FORCEFLUSH", 89, false, 0, MSG_OPTIONHELP_FIRST + 42, nullptr, nullptr},
    {"NODEBUG", 94, false, 0, MSG_OPTIONHELP_FIRST + 43, nullptr, nullptr},
    {"HELP", 90, false, MSG_OPTIONGROUP_FIRST + 7, MSG_OPTIONHELP_FIRST + 44, nullptr, nullptr},
    {"QUIET", 11, false, 0, MSG_OPTIONHELP_FIRST + 45, nullptr, nullptr},
    {"TEMPDIR", 78, true, 0, MSG_OPTIONHELP_FIRST + 46, "<path>", nullptr},
    {"NOCHDIR", 92, false, 0, MSG_OPTIONHELP_FIRST + 47, nullptr, nullptr},
    {"USEQUARTZ", 25, false, 0, MSG_OPTIONHELP_FIRST + 48, nullptr, nullptr},
    {"SOFTTIMER", 70, false, 0, MSG_OPTIONHELP_FIRST + 49, nullptr, nullptr},
};
// clang-format on
const size_t kOptionCount = sizeof kOptionTable / sizeof kOptionTable[0];
static_assert(sizeof kOptionTable / sizeof kOptionTable[0] == 50);

namespace {

constexpr int kOptQuiet = 11;
constexpr int kOptNoSound = 16;
constexpr int kOptDebugOutput = 87;
constexpr int kOptNoDebug = 94;

// The command libraries in their fixed opening order; rows without an open
// function are libraries this player does not have yet.
const ScriptCommand kLibraryList[] = {
    {"string", nullptr},       {"math", nullptr},     {"graphics", nullptr},  {"draw", nullptr},
    {"moveobject", nullptr},   {"dos", nullptr},      {"event", nullptr},     {"system", InitSystemLibrary},
    {"layers", nullptr},       {"text", nullptr},     {"anim", nullptr},      {"display", nullptr},
    {"sound", nullptr},        {"brush", nullptr},    {"bgpic", nullptr},     {"transitionfx", nullptr},
    {"sprite", nullptr},       {"memblock", nullptr}, {"vectorgraphics", nullptr}, {"network", nullptr},
    {"video", nullptr},        {nullptr, nullptr},
};

// The option-value array: slot 0 holds the applet name.
struct OptionValues {
    std::array<int, kOptionSlotCount> flag{};
    std::array<std::string, kOptionSlotCount> text{};
    std::array<bool, kOptionSlotCount> given{};
};

bool CopyBounded(char* dest, size_t size, const std::string& src) {
    if (src.size() >= size) return false;
    std::memcpy(dest, src.c_str(), src.size() + 1);
    return true;
}

// Joins the arguments into one text; arguments that are no options are quoted
// so that a path with blanks stays one token.
int BuildArgumentText(int argc, char** argv, std::string& text) {
    if (argc > 1 && std::strncmp(argv[1], "-psn", 4) == 0) {
        // Started from the desktop: the bundle's stored arguments count instead.
        char stored[kArgumentTextSize];
        GetBundleExecutableArgs(stored, sizeof stored);
        text = stored;
        return 0;
    }
    for (int i = 1; i < argc; ++i) {
        if (i > 1) text += ' ';
        if (argv[i][0] == '-') {
            text += argv[i];
        } else {
            text += '"';
            text += argv[i];
            text += '"';
        }
        // An over-long argument list is refused rather than cut.
        if (text.size() >= kArgumentTextSize) return ERR_ARGS;
    }
    return 0;
}

bool IsNameChar(char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_'; }

int ScanArguments(const std::string& text, OptionValues& values, qbCommandLine* cl) {
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
            if (const qbOptionRow* row = FindOption(name.c_str(), name.size())) {
                if (row->takesValue) {
                    due = Due::Known;
                    dueSlot = row->id;
                } else {
                    values.flag[row->id] = 1;
                    values.given[row->id] = true;
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
            values.given[dueSlot] = true;
        } else if (due == Due::Unknown) {
            cl->unknownOptions.back().value = token;
        } else {
            if (values.given[0]) return ERR_ARGS;  // a second applet name
            values.text[0] = token;
            values.given[0] = true;
        }
        due = Due::None;
    }
    // An option the table does not know may stand last without a value.
    return due == Due::Known ? ERR_ARGS : 0;
}

int ChooseAppletFile(const OptionValues& values, qbCommandLine* cl) {
    if (values.given[0]) {
        if (!CopyBounded(cl->scriptPath, sizeof cl->scriptPath, values.text[0])) return ERR_ARGS;
        CopyBounded(cl->scriptPathAsTyped, sizeof cl->scriptPathAsTyped, values.text[0]);
    } else if (const char* document = InstallAppleEventHandlers()) {
        if (!CopyBounded(cl->scriptPath, sizeof cl->scriptPath, document)) return ERR_ARGS;
    } else if (LinkedDataOffset == 0) {
        const char* title = GetMessageText(MSG_SELECTAPPLET);
        int err = ShowFileRequester(title ? title : "", "qba", cl->scriptPath, sizeof cl->scriptPath);
        if (err) return err;
    }
    if (LinkedDataOffset != 0) std::memcpy(cl->scriptPath, cl->executablePath, sizeof cl->scriptPath);
    return 0;
}

// Applies the options that this player acts on; the others are accepted.
int ResolveStartupOptions(qbCommandLine* cl, const OptionValues& values, qbApplet*) {
    cl->quiet = values.flag[kOptQuiet];
    cl->nosound = values.flag[kOptNoSound];
    if (values.flag[kOptDebugOutput]) SetCallTracing(true);
    SetDebugFunctionsDisabled(values.flag[kOptNoDebug] != 0);
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

int OpenLibraries(ScriptState* L) {
    for (const ScriptCommand* lib = kLibraryList; lib->name; ++lib) {
        if (!lib->handler) continue;
        VmPushValue(L, kGlobalsIndex);
        int err = lib->handler(L);
        VmSetTop(L, 0);
        if (err) return err;
    }
    return 0;
}

}  // namespace

const qbOptionRow* FindOption(const char* name, size_t length) {
    for (const qbOptionRow& row : kOptionTable)
        if (std::strlen(row.name) == length && StrNCmpNoCase(row.name, name, length) == 0) return &row;
    return nullptr;
}

int ParseCommandLine(ScriptState* L, qbCommandLine* cl, qbApplet* applet, const qbLinkMarker* marker, int argc,
                     char** argv) {
    BuildCRC32Table();
    if (int err = CheckOSVersionAndActivate()) return err;
    applet->overrides = qbDisplayOverrides{};
    applet->screenModeOptions = qbScreenModeOptions{};
    SetPlayerCatalog(LoadCatalog("Quenbrook.catalog"));

    uint32_t word = GetLinkMarkerOffset(marker);
    if (word != kNoLinkedData) {
        LinkedDataOffset = word;
        DataIsLinked = 1;
    }
    GetExecutablePath(cl->executablePath, sizeof cl->executablePath);

    std::string text;
    OptionValues values;
    if (int err = BuildArgumentText(argc, argv, text)) return err;
    if (int err = ScanArguments(text, values, cl)) return err;
    if (int err = ChooseAppletFile(values, cl)) return err;
    if (int err = ResolveStartupOptions(cl, values, applet)) return err;

    if (DataIsLinked) cl->quiet = 1;
    SetRuntimeTag(kTagQuiet, cl->quiet);
    if (!cl->quiet)
        ConsolePrintf("QuenbrookPlayer 6.1 [Linux]\nThe multimedia applet player\n\n");

    if (int err = InitRuntimeCore()) return err;
    SetRegistryEntries(L, cl, applet);
    if (int err = OpenLibraries(L)) return err;

    SetRuntimeTag(kTagNoSound, cl->nosound);
    SetRuntimeTag(kTagTimerRes, 30);
    return 0;
}
