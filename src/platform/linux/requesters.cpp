// The requester operations: nothing is shown, and nobody waited for, on a
// headless run; else a GTK dialog, and zenity where GTK cannot start.
#include "core/errcodes.h"
#include "platform/linux/requesters_linux.h"
#include "platform/requesterrules.h"

namespace linux_requesters {

int ColorRequesterNative(int32_t initial, int32_t* outColour) {
    if (outColour) *outColour = -1;
    if (RequestersHeadless() || !outColour) return ERR_WINDOW;
    const int err = GtkColorRequester(initial, outColour);
    return err == kGtkUnavailable ? ZenityColorRequester(initial, outColour) : err;
}

int ListRequesterNative(const char* title, const char* body, const char* items, int selected, int* outIndex) {
    if (outIndex) *outIndex = -1;
    if (RequestersHeadless() || !outIndex) return ERR_WINDOW;
    const int err = GtkListRequester(title, body, items, selected, outIndex);
    return err == kGtkUnavailable ? ZenityListRequester(title, body, items, selected, outIndex) : err;
}

int StringRequesterNative(const char* title, const char* body, const char* defaultText, int type, int maxLength,
                          int password, char* outText) {
    CopyStringResult("", outText);
    if (RequestersHeadless()) return ERR_WINDOW;
    const int err = GtkStringRequester(title, body, defaultText, type, maxLength, password, outText);
    if (err != kGtkUnavailable) return err;
    return ZenityStringRequester(title, body, defaultText, type, maxLength, password, outText);
}

// zenity has no font dialog.
int FontRequesterNative(ScriptState*, const char* initialName, int initialSize, qbFontRequest* outFont) {
    if (RequestersHeadless() || !outFont) return ERR_WINDOW;
    const int err = GtkFontRequester(initialName, initialSize, outFont);
    return err == kGtkUnavailable ? ERR_WINDOW : err;
}

int PathRequesterNative(const char* title, const char* initialFolder, std::optional<std::string>* outPath) {
    if (outPath) outPath->reset();
    if (RequestersHeadless() || !outPath) return ERR_WINDOW;
    const int err = GtkPathRequester(title, initialFolder, outPath);
    return err == kGtkUnavailable ? ZenityPathRequester(title, initialFolder, outPath) : err;
}

int FileRequesterNative(const char* title, const char* pattern, int mode, const char* initialFolder,
                        const char* initialFile, qbFileRequestResult* outResult) {
    if (outResult) *outResult = qbFileRequestResult{};
    if (RequestersHeadless() || !outResult) return ERR_WINDOW;
    const int err = GtkFileRequester(title, pattern, mode, initialFolder, initialFile, outResult);
    return err == kGtkUnavailable ? ZenityFileRequester(title, pattern, mode, initialFolder, initialFile, outResult)
                                  : err;
}

}  // namespace linux_requesters
