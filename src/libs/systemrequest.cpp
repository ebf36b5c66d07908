// The system library's requesters: each takes the applet's title when the
// script gives none, belongs to the current display while it is open, and
// leaves that display's input state fresh afterwards, since the keys and
// buttons let go meanwhile never reached it. A cancel is an answer, not an
// error.
#include <cstring>
#include <string>

#include "core/applet.h"
#include "core/argapi.h"
#include "core/context.h"
#include "core/errcodes.h"
#include "core/numbers.h"
#include "display/display.h"
#include "display/displays.h"
#include "display/requesters.h"
#include "libs/system.h"
#include "libs/systemcommands.h"
#include "libs/systeminternal.h"
#include "platform/requesterrules.h"

namespace {

constexpr int kFileModeHideIcons = 65536;
constexpr int kStringRequestMax = 1024;

// Where the last file requester ended; the next one without a folder or a
// file opens there.
std::string& LastFileFolder() {
    static std::string folder;
    return folder;
}

std::string TitleArg(ScriptState* L, int idx) {
    std::string title = VmCheckString(L, idx, nullptr);
    if (title.empty()) {
        if (const qbApplet* applet = GetAppletRecord(L)) title = applet->title;
    }
    return title;
}


std::string TextArg(ScriptState* L, int idx) {
    if (VmGetTop(L) < idx || VmType(L, idx) == kTypeNil) return "";
    return VmCheckString(L, idx, nullptr);
}

// Runs one requester for the current display and resets that display's
// input afterwards; a cancel reported as ERR_USERABORT is no error.
template <class Show>
int Ask(Show show, bool* cancelled = nullptr) {
    qbDisplay* display = GetCurrentDisplay();
    int err = show(display);
    if (display) ResetDisplayInput(display);
    if (cancelled) *cancelled = err == ERR_USERABORT;
    return err == ERR_USERABORT ? 0 : err;
}

// Some digits, with at most one sign in front and one point.
bool IsWholeNumber(const std::string& text) {
    return IsValidNumberText(text) && text.find_first_of("0123456789") != std::string::npos;
}

void PushPath(ScriptState* L, const std::string& folder, const char* file) {
    const std::string path = folder + file;
    VmPushLString(L, path.data(), path.size());
}

}  // namespace

void ForgetLastFileFolder() { LastFileFolder().clear(); }

int cmdSystemRequest(ScriptState* L) {
    CheckArgCount(L, 3, 4, 0, 0);
    const std::string title = TitleArg(L, 1);
    const std::string body = VmCheckString(L, 2, nullptr);
    const std::string buttons = VmCheckString(L, 3, nullptr);
    const int icon = GetOptIntArg(L, 4, kReqIconNone);
    if (icon < kReqIconNone || icon > kReqIconQuestion) return ERR_WRONGUSAGE;
    int result = 0;
    if (int err = Ask([&](qbDisplay* d) {
            return ShowSystemRequester(L, d, title.c_str(), body.c_str(), buttons.c_str(), icon, 0, &result);
        }))
        return err;
    VmPushNumber(L, result);
    return 1;
}

int cmdStringRequest(ScriptState* L) {
    CheckArgCount(L, 2, 6, 0, 0);
    const std::string title = TitleArg(L, 1);
    const std::string body = VmCheckString(L, 2, nullptr);
    std::string text = TextArg(L, 3);
    const int type = GetOptIntArg(L, 4, 0);
    const int maxLength = GetOptIntArg(L, 5, 0);
    const int sixth = GetOptIntArg(L, 6, 0);
    if (type != 0 && type != kStringNumerical) return ERR_WRONGUSAGE;
    if (maxLength < 0 || maxLength > kStringRequestMax) return ERR_WRONGUSAGE;
    if (type == kStringNumerical && !text.empty() && !IsWholeNumber(text)) return ERR_WRONGUSAGE;
    if (maxLength > 0 && text.size() > static_cast<size_t>(maxLength)) text.resize(static_cast<size_t>(maxLength));
    char out[kStringResultSize] = {};
    bool cancelled = false;
    if (int err = Ask(
            [&](qbDisplay* d) {
                return ShowStringRequester(L, d, title.c_str(), body.c_str(), text.c_str(), type, maxLength, sixth,
                                           0, out);
            },
            &cancelled))
        return err;
    VmPushString(L, cancelled ? "" : out);
    VmPushNumber(L, cancelled ? 0 : 1);
    return 2;
}

int cmdFileRequest(ScriptState* L) {
    CheckArgCount(L, 1, 5, 0, 0);
    const std::string title = TitleArg(L, 1);
    const std::string pattern = TextArg(L, 2);
    const int mode = GetOptIntArg(L, 3, kReqNormal);
    const int kind = mode & ~kFileModeHideIcons;
    if (kind != kReqNormal && kind != kReqMultiSelect && kind != kReqSaveMode) return ERR_WRONGUSAGE;
    std::string folder = TextArg(L, 4);
    const std::string file = TextArg(L, 5);
    if (folder.empty() && file.empty()) folder = LastFileFolder();
    qbFileRequestResult result;
    if (int err = Ask([&](qbDisplay* d) {
            return ShowFileRequester(L, d, title.c_str(), pattern.c_str(), kind, folder.c_str(), file.c_str(), 0,
                                     &result);
        }))
        return err;
    if (!result.chosen || result.count <= 0) {
        VmPushString(L, "");
        return 1;
    }
    LastFileFolder() = result.folder;
    // The names follow one another, each ended by a NUL.
    const char* name = result.files.c_str();
    const char* end = name + result.files.size();
    if (kind != kReqMultiSelect) {
        PushPath(L, result.folder, name);
        return 1;
    }
    VmPushNewTable(L);
    int index = 0;
    for (; name < end && index < result.count; name += std::strlen(name) + 1) {
        PushPath(L, result.folder, name);
        VmRawSetIndex(L, -2, index++);
    }
    VmPushString(L, "");
    VmRawSetIndex(L, -2, index);
    return 1;
}

int cmdPathRequest(ScriptState* L) {
    CheckArgCount(L, 1, 3, 0, 0);
    const std::string title = TitleArg(L, 1);
    const int mode = GetOptIntArg(L, 2, 0);
    const std::string folder = TextArg(L, 3);
    std::optional<std::string> path;
    if (int err = Ask([&](qbDisplay* d) {
            return ShowPathRequester(L, d, title.c_str(), mode, folder.c_str(), 0, &path);
        }))
        return err;
    const std::string chosen = path.value_or("");
    VmPushLString(L, chosen.data(), chosen.size());
    return 1;
}

int cmdListRequest(ScriptState* L) {
    CheckArgCount(L, 3, 4, 0, 0);
    const std::string title = TitleArg(L, 1);
    const std::string body = VmCheckString(L, 2, nullptr);
    VmCheckTable(L, 3);
    int selected = GetOptIntArg(L, 4, -1);
    const int count = CountListItems(L, 3, false);
    if (count == 0) return ERR_WRONGUSAGE;
    // Each entry ended by a NUL, the list by an empty one: an empty entry
    // would end it early, so it shows as one space.
    std::string entries;
    for (int i = 0; i < count; ++i) {
        VmRawGetIndex(L, 3, i);
        const int type = VmType(L, -1);
        if (type != kTypeString && type != kTypeNumber) return ERR_WRONGUSAGE;
        // A NUL inside an entry would end it there in the list's form.
        const char* text = VmToCString(L, -1);
        const std::string entry = text ? text : "";
        VmSetTop(L, -2);
        entries += entry.empty() ? " " : entry;
        entries += '\0';
    }
    entries += '\0';
    if (selected < -1 || selected >= count) selected = -1;
    int result = -1;
    if (int err = Ask([&](qbDisplay* d) {
            return ShowListRequester(L, d, title.c_str(), body.c_str(), entries.c_str(), selected, 0, &result);
        }))
        return err;
    VmPushNumber(L, result);
    return 1;
}

int cmdColorRequest(ScriptState* L) {
    CheckArgCount(L, 1, 2, 0, 0);
    const std::string title = TitleArg(L, 1);
    const int32_t initial = GetOptIntArg(L, 2, -1);
    int32_t colour = -1;
    bool cancelled = false;
    if (int err = Ask([&](qbDisplay* d) { return ShowColorRequester(L, d, title.c_str(), initial, 0, &colour); },
                      &cancelled))
        return err;
    VmPushNumber(L, cancelled ? -1 : colour);
    return 1;
}

namespace {

void SetText(ScriptState* L, const char* key, const char* value) {
    VmPushString(L, key);
    VmPushString(L, value);
    VmSetTableAt(L, -3);
}

void SetNumber(ScriptState* L, const char* key, double value) {
    VmPushString(L, key);
    VmPushNumber(L, value);
    VmSetTableAt(L, -3);
}

}  // namespace

int cmdFontRequest(ScriptState* L) {
    CheckArgCount(L, 1, 3, 0, 0);
    const std::string title = TitleArg(L, 1);
    const std::string name = TextArg(L, 2);
    const int size = GetOptIntArg(L, 3, 0);
    // A cancel leaves the record as it was: no name.
    qbFontRequest font;
    if (int err = Ask([&](qbDisplay* d) {
            return ShowFontRequester(L, d, title.c_str(), name.c_str(), size, 0, &font);
        }))
        return err;
    font.name[sizeof font.name - 1] = 0;
    VmPushNewTable(L);
    SetText(L, "name", font.name);
    SetText(L, "family", font.name);
    SetNumber(L, "size", font.size);
    SetNumber(L, "weight", font.weight);
    SetNumber(L, "slant", font.slant);
    SetNumber(L, "underline", font.underline);
    SetNumber(L, "strikeout", font.zero1);
    SetNumber(L, "bold", font.bold);
    SetNumber(L, "italic", font.italic);
    SetNumber(L, "color", font.zero2);
    return 1;
}
