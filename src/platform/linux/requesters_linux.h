// The Linux requesters: the system requester in an SDL message box, the
// other six as GTK 3 dialogs in the player's own process, and where GTK
// cannot start, through zenity, a dialog program run for each one (it has
// no font dialog). A headless run (no display server, or SDL's dummy or
// offscreen driver) shows none: each answers ERR_WINDOW at once instead of
// waiting for nobody.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/platform_types.h"

namespace linux_requesters {

// The video driver a requester would be shown with, or null without one.
const char* RequesterVideoDriver();
bool RequestersHeadless();

// What a run of zenity answered: its exit status (0 chosen, 1 cancelled)
// and its standard output without the final line feed.
struct ZenityReply {
    int status = -1;
    std::string output;
};
// Runs "zenity" from PATH with the arguments (UTF-8); 0, or ERR_WINDOW when
// it could not be run or ended with anything but 0 or 1.
int RunZenity(const std::vector<std::string>& args, ZenityReply* reply);

// The requesters through zenity (ISO 8859-1 texts in and out), without the
// headless check.
int ZenityColorRequester(int32_t initial, int32_t* outColour);
int ZenityListRequester(const char* title, const char* body, const char* items, int selected, int* outIndex);
int ZenityStringRequester(const char* title, const char* body, const char* defaultText, int type, int maxLength,
                          int password, char* outText);
int ZenityPathRequester(const char* title, const char* initialFolder, std::optional<std::string>* outPath);
int ZenityFileRequester(const char* title, const char* pattern, int mode, const char* initialFolder,
                        const char* initialFile, qbFileRequestResult* outResult);
// zenity's colour answer: "rgb(r,g,b)", "rgba(r,g,b,a)" or "#rrggbb";
// -1 when it is none of them.
int32_t ParseZenityColour(const std::string& text);
// A glob that matches the suffix in any case (".png" -> "*.[pP][nN][gG]").
std::string CaseBlindGlob(const std::string& suffix);

// The requesters as GTK dialogs (ISO 8859-1 texts in and out), without the
// headless check. Each answers kGtkUnavailable, having shown nothing, when
// GTK cannot start on this display or the player was built without it.
constexpr int kGtkUnavailable = -1;
int GtkColorRequester(int32_t initial, int32_t* outColour);
int GtkListRequester(const char* title, const char* body, const char* items, int selected, int* outIndex);
int GtkStringRequester(const char* title, const char* body, const char* defaultText, int type, int maxLength,
                       int password, char* outText);
int GtkFontRequester(const char* initialName, int initialSize, qbFontRequest* outFont);
int GtkPathRequester(const char* title, const char* initialFolder, std::optional<std::string>* outPath);
int GtkFileRequester(const char* title, const char* pattern, int mode, const char* initialFolder,
                     const char* initialFile, qbFileRequestResult* outResult);

// Whether the string field, holding the UTF-8 text, takes the UTF-8
// insertion at the character position: the whole change is refused when the
// new text would be longer than the maximum, no number in a NUMERICAL field,
// or hold a character that ISO 8859-1 has not.
bool StringFieldTakesInsert(const char* current, int position, std::string_view inserted, int type, int maxLength);

// The backend's operations.
int ColorRequesterNative(int32_t initial, int32_t* outColour);
int ListRequesterNative(const char* title, const char* body, const char* items, int selected, int* outIndex);
int StringRequesterNative(const char* title, const char* body, const char* defaultText, int type, int maxLength,
                          int password, char* outText);
int SystemRequesterNative(const char* title, const char* body, const char* buttons, int icon, int* outResult);
int FontRequesterNative(ScriptState* L, const char* initialName, int initialSize, qbFontRequest* outFont);
int PathRequesterNative(const char* title, const char* initialFolder, std::optional<std::string>* outPath);
int FileRequesterNative(const char* title, const char* pattern, int mode, const char* initialFolder,
                        const char* initialFile, qbFileRequestResult* outResult);

}  // namespace linux_requesters
