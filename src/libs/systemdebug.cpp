// The system library's debugging aids: error names, assertions, the prompt
// on standard input, the line hook switch and the compatibility words.
#include <cstdio>
#include <cstring>
#include <string>

#include "core/argapi.h"
#include "core/chars.h"
#include "core/errcodes.h"
#include "core/errors.h"
#include "core/numbers.h"
#include "display/eventlib.h"
#include "libs/system.h"
#include "libs/systemcommands.h"

namespace {

constexpr size_t kPromptLineSize = 16384;

int lineBasedShapes = 0;
int singleMusic = 0;
bool assertionsOn = true;
bool lineHookOn = true;

}  // namespace

int GetLegacyLineBasedShapes() { return lineBasedShapes; }
int GetLegacySingleMusic() { return singleMusic; }
void SetAssertionsEnabled(bool on) { assertionsOn = on; }
bool AreAssertionsEnabled() { return assertionsOn; }
bool IsLineHookEnabled() { return lineHookOn; }

int cmdGetErrorName(ScriptState* L) {
    CheckArgCount(L, 1, 1, 0, 0);
    char text[kErrorTextSize];
    GetErrorText(ClampToInt32(VmCheckNumber(L, 1)), text);
    VmPushString(L, text);
    return 1;
}

int cmdAssert(ScriptState* L) {
    CheckArgCount(L, 1, 1, 0, 0);
    if (!assertionsOn) return 0;
    const int t = VmType(L, 1);
    if (t == kTypeNil || (t == kTypeNumber && VmToNumber(L, 1) == 0)) return ERR_ASSERTFAILED;
    VmPushValue(L, 1);
    return 1;
}

int cmdDebugPrompt(ScriptState* L) {
    CheckArgCount(L, 1, 1, 0, 0);
    const std::string prompt = ValueToString(L, 1);
    std::fwrite(prompt.data(), 1, prompt.size(), stdout);
    std::fflush(stdout);
    char line[kPromptLineSize + 1];
    if (!std::fgets(line, sizeof line, stdin)) line[0] = 0;
    size_t n = std::strlen(line);
    while (n > 0 && (line[n - 1] == '\n' || line[n - 1] == '\r')) --n;
    VmPushLString(L, line, n);
    return 1;
}

int cmdEnableLineHook(ScriptState* L) {
    CheckArgCount(L, 0, 0, 0, 0);
    lineHookOn = true;
    SetLineHookDisabled(false);
    return 0;
}

int cmdDisableLineHook(ScriptState* L) {
    CheckArgCount(L, 0, 0, 0, 0);
    lineHookOn = false;
    SetLineHookDisabled(true);
    return 0;
}

int cmdLegacyControl(ScriptState* L) {
    CheckArgCount(L, 2, 2, 0, 0);
    const char* name = VmCheckString(L, 1, nullptr);
    const int value = ClampToInt32(VmCheckNumber(L, 2));
    if (StrCmpNoCase(name, "linebasedshapes") == 0) {
        lineBasedShapes = value;
    } else if (StrCmpNoCase(name, "singlemusic") == 0) {
        singleMusic = value;
    } else {
        SetErrorDetail(name);
        return ERR_UNKNOWNTAG;
    }
    return 0;
}
