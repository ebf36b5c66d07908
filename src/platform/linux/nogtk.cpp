// A player built without GTK: every requester but the system one goes to
// zenity, and there is no font requester.
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
