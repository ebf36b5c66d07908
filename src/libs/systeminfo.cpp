// The system library's information commands: the applet's header strings,
// the command line the player was started with, the user's country and
// language, the memory size and constants by name.
#include <cstddef>

#include "core/applet.h"
#include "core/argapi.h"
#include "core/context.h"
#include "core/errcodes.h"
#include "core/linkeddata.h"
#include "core/locale.h"
#include "core/numbers.h"
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
