// The host record through which the VM reaches the program that embeds it,
// and the defaults that let the VM run alone.
#include "vm/host.h"

#include <cstdio>

#include "vm/internal.h"

namespace {

int NumberedErrorText(int code, char* out) {
    std::snprintf(out, kVmErrorTextSize, "error %d", code);
    return 0;
}
void DropDetail(const char*) {}
void DropArgIndex(int) {}
void IgnoreRaise(ScriptState*, int) {}
int RaiseCommandError(ScriptState* L, int code) {
    VmLastErrorCode = code;
    VmRaiseError(L, code);
}
int KeepCode(ScriptState*, int code) { return code; }
void PrintToStdout(const char* text) { std::fputs(text, stdout); }

constexpr VmHost kDefaults{NumberedErrorText, DropDetail, DropArgIndex, IgnoreRaise,
                           RaiseCommandError, KeepCode, PrintToStdout, nullptr};

template <typename Fn>
void Fill(Fn& field, Fn fallback) {
    if (field == nullptr) field = fallback;
}

}  // namespace

int VmLastErrorCode = 0;
constinit VmHost VmActiveHost = kDefaults;

void VmSetHost(const VmHost* host) {
    VmHost h = host ? *host : VmHost{};
    Fill(h.errorText, kDefaults.errorText);
    Fill(h.setErrorDetail, kDefaults.setErrorDetail);
    Fill(h.setErrorArgIndex, kDefaults.setErrorArgIndex);
    Fill(h.noteRaise, kDefaults.noteRaise);
    Fill(h.commandError, kDefaults.commandError);
    Fill(h.scriptErrorHandler, kDefaults.scriptErrorHandler);
    Fill(h.print, kDefaults.print);
    VmActiveHost = h;
}
