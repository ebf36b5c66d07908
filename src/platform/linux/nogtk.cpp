// A player built without GTK: every requester but the system one goes to
// zenity, and there is no font requester; the clipboard carries text only,
// through SDL.
#include "core/errcodes.h"
#include "platform/linux/clipboard_gtk.h"
#include "platform/linux/requesters_linux.h"

namespace linux_requesters {

int GtkColorRequester(int32_t, int32_t* outColour) {
    *outColour = -1;
    return kGtkUnavailable;
}
int GtkListRequester(const char*, const char*, const char*, int, int* outIndex) {
    *outIndex = -1;
    return kGtkUnavailable;
}
int GtkStringRequester(const char*, const char*, const char*, int, int, int, char*) { return kGtkUnavailable; }
int GtkFontRequester(const char*, int, qbFontRequest*) { return kGtkUnavailable; }
int GtkPathRequester(const char*, const char*, std::optional<std::string>* outPath) {
    outPath->reset();
    return kGtkUnavailable;
}
int GtkFileRequester(const char*, const char*, int, const char*, const char*, qbFileRequestResult* outResult) {
    *outResult = qbFileRequestResult{};
    return kGtkUnavailable;
}

}  // namespace linux_requesters

namespace gtk_clipboard {

bool Use() { return false; }
bool InUse() { return false; }
int Read(int* outType, std::string* outUtf8, ClipboardPicture*) {
    *outType = kClipboardEmpty;
    outUtf8->clear();
    return ERR_CLIPOPEN;
}
int WriteText(const std::string&) { return ERR_CLIPWRITE; }
int WritePicture(const ClipboardPicture&) { return ERR_CLIPWRITE; }
int Clear() { return ERR_CLIPWRITE; }
bool Pump() { return false; }

}  // namespace gtk_clipboard
