// The system library's information commands: the applet's header strings,
// the command line the player was started with, the user's country and
// language, the memory size, constants by name, the player's version, the
// desktop's folders, and the plugin commands that the plugin list lends.
#include <cstddef>

#include "core/applet.h"
#include "core/argapi.h"
#include "core/context.h"
#include "core/errors.h"
#include "core/errcodes.h"
#include "core/linkeddata.h"
#include "core/locale.h"
#include "core/numbers.h"
#include "libs/system.h"
#include "libs/systemcommands.h"
#include "platform/platform_ops.h"

namespace {

void SetField(ScriptState* L, const char* key, const char* value) {
    VmPushString(L, key);
    VmPushString(L, value);
    VmSetTableAt(L, -3);
}

}  // namespace

int cmdGetApplicationInfo(ScriptState* L) {
    CheckArgCount(L, 0, 0, 0, 0);
    const qbApplet* a = GetAppletRecord(L);
    VmPushNewTable(L);
    const qbApplet empty{};
    if (!a) a = &empty;
    SetField(L, "title", a->title);
    SetField(L, "version", a->version);
    SetField(L, "copyright", a->copyright);
    SetField(L, "author", a->author);
    SetField(L, "description", a->description);
    SetField(L, "identifier", a->identifier);
    return 1;
}

int cmdGetCommandLine(ScriptState* L) {
    CheckArgCount(L, 0, 0, 0, 0);
    const qbCommandLine* cl = GetCommandLineArgs(L);
    VmPushNewTable(L);
    int count = 0;
    if (cl) {
        for (const qbUnknownOption& a : cl->arguments) {
            VmPushNewTable(L);
            SetField(L, "arg", a.name.c_str());
            SetField(L, "param", a.value.c_str());
            VmRawSetIndex(L, -2, count++);
        }
    }
    VmPushNumber(L, count);
    VmPushNumber(L, cl ? cl->startFlags : 0);
    return 3;
}

int cmdGetProgramInfo(ScriptState* L) {
    CheckArgCount(L, 0, 0, 0, 0);
    const qbCommandLine* cl = GetCommandLineArgs(L);
    const qbCommandLine none{};
    if (!cl) cl = &none;
    if (DataIsLinked) {
        VmPushNumber(L, 2);
        VmPushString(L, cl->executablePath);
        return 2;
    }
    VmPushNumber(L, cl->scriptNamed);
    VmPushString(L, cl->scriptPath);
    VmPushString(L, cl->scriptPathAsTyped);
    return 3;
}

int cmdGetFileArgument(ScriptState* L) {
    CheckArgCount(L, 0, 0, 0, 0);
    const qbCommandLine* cl = GetCommandLineArgs(L);
    VmPushString(L, cl ? cl->fileArgument.c_str() : "");
    return 1;
}

int cmdGetSystemCountry(ScriptState* L) {
    CheckArgCount(L, 0, 0, 0, 0);
    VmPushNumber(L, GetLocaleCountry());
    return 1;
}

int cmdGetSystemLanguage(ScriptState* L) {
    CheckArgCount(L, 0, 0, 0, 0);
    VmPushNumber(L, GetLocaleLanguage());
    return 1;
}

int cmdGetMemoryInfo(ScriptState* L) {
    CheckArgCount(L, 1, 1, 0, 0);
    const int kind = ClampToInt32(VmCheckNumber(L, 1));
    if (kind != 0 && kind != 1) return ERR_WRONGUSAGE;
    VmPushNumber(L, static_cast<double>(GetPhysicalMemorySize()));
    return 1;
}

int cmdGetConstant(ScriptState* L) {
    CheckArgCount(L, 1, 1, 0, 0);
    const char* text = VmCheckString(L, 1, nullptr);
    size_t len = 0;
    const char* str = nullptr;
    double num = 0;
    if (int err = ParseConstantString(L, text, &len, &str, &num)) return err;
    if (str)
        VmPushLString(L, str, len);
    else
        VmPushNumber(L, num);
    return 1;
}

namespace {

// The desktop's folders by their index in the platform's list, and the
// player's own program file as the closest thing to an application bundle.
constexpr const char* kSystemInfoFields[] = {"programfiles", "appdata",     "userhome",
                                             "mydocuments",  "username",    "commonappdata"};
constexpr size_t kFolderBufferSize = 1024;

qbSystemPluginCommands& PluginCommands() {
    static qbSystemPluginCommands commands;
    return commands;
}

}  // namespace

void SetSystemPluginCommands(const qbSystemPluginCommands& commands) { PluginCommands() = commands; }

int cmdGetSystemInfo(ScriptState* L) {
    CheckArgCount(L, 0, 1, 0, 0);
    VmPushNewTable(L);
    int index = 0;
    for (const char* field : kSystemInfoFields) {
        char buffer[kFolderBufferSize] = {};
        if (int err = GetSystemFolderPath(index++, buffer, sizeof buffer)) return err;
        SetField(L, field, buffer);
    }
    const qbCommandLine* cl = GetCommandLineArgs(L);
    SetField(L, "appbundle", cl ? cl->executablePath : "");
    return 1;
}

int cmdGetVersion(ScriptState* L) {
    CheckArgCount(L, 0, 1, 0, 0);
    VmPushNewTable(L);
    const int table = VmGetTop(L);
    SetField(L, "application", "QuenbrookPlayer");
    SetField(L, "version", "6.1");
    SetField(L, "version_date", "05.03.16");
    SetField(L, "kernel", "6.1");
    SetField(L, "kernel_date", "05.03.16");
    SetField(L, "platform", "Linux");
    SetField(L, "cpu", "x86_64");
    for (const char* zero : {"beta", "bigendian"}) {
        VmPushString(L, zero);
        VmPushNumber(L, 0);
        VmSetTableAt(L, table);
    }
    VmPushString(L, "plugins");
    if (int (*list)(ScriptState*) = PluginCommands().pushPluginList) {
        if (int err = list(L)) return err;
    } else {
        VmPushNewTable(L);
    }
    VmSetTableAt(L, table);
    VmSetTop(L, table);
    return 1;
}

// Without the plugin list nothing is known or loaded.
int cmdHavePlugin(ScriptState* L) {
    if (CommandHandler fn = PluginCommands().havePlugin) return fn(L);
    CheckArgCount(L, 1, 3, 0, 0);
    VmPushNumber(L, 0);
    VmPushNumber(L, 0);
    return 2;
}

int cmdEnablePlugin(ScriptState* L) {
    if (CommandHandler fn = PluginCommands().enablePlugin) return fn(L);
    CheckArgCount(L, 1, 1, 0, 0);
    SetErrorDetail(VmCheckString(L, 1, nullptr));
    return ERR_FINDPLUGIN;
}

int cmdDisablePlugin(ScriptState* L) {
    if (CommandHandler fn = PluginCommands().disablePlugin) return fn(L);
    CheckArgCount(L, 1, 1, 0, 0);
    SetErrorDetail(VmCheckString(L, 1, nullptr));
    return ERR_FINDPLUGIN;
}

int cmdGetPlugins(ScriptState* L) {
    if (CommandHandler fn = PluginCommands().getPlugins) return fn(L);
    CheckArgCount(L, 0, 0, 0, 0);
    VmPushNewTable(L);
    return 1;
}

int cmdLoadPlugin(ScriptState* L) {
    if (CommandHandler fn = PluginCommands().loadPlugin) return fn(L);
    CheckArgCount(L, 1, 2, 0, 0);
    SetErrorDetail(VmCheckString(L, 1, nullptr));
    return ERR_LOADPLUGIN;
}
