// The requester rules shared by the native requesters, the scripted answers
// of tests and whatever dialog program shows them.
#include "platform/requesterrules.h"

#include <algorithm>
#include <cstring>

#include "core/buttons.h"
#include "core/chars.h"
#include "core/errcodes.h"
#include "core/errors.h"

namespace {

std::string Message(int number, const char* fallback) {
    const char* text = GetMessageText(number);
    return text && *text ? text : fallback;
}

bool EndsWithNoCase(std::string_view name, std::string_view suffix) {
    if (suffix.size() > name.size()) return false;
    const std::string tail(name.substr(name.size() - suffix.size()));
    return StrCmpNoCase(tail.c_str(), std::string(suffix).c_str()) == 0;
}

// Up to the last "/" included; "" for a bare name.
std::string FolderOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string NameOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

int ParseButtonSet(const char* buttons, qbRequesterButtons* out) {
    *out = qbRequesterButtons{};
    std::string text = buttons && *buttons ? buttons : "OK";
    int type = -1;
    ParseRequesterButtons(text.data(), &type);
    const std::string ok = Message(MSG_OK, "OK"), cancel = Message(MSG_CANCEL, "Cancel");
    const std::string yes = Message(MSG_YES, "Yes"), no = Message(MSG_NO, "No");
    switch (type) {
        case kRequesterOk:
            *out = {{ok}, {0}, 0, -1};
            return 0;
        case kRequesterOkCancel:
            *out = {{ok, cancel}, {1, 0}, 0, 1};
            return 0;
        case kRequesterYesNo:
            *out = {{yes, no}, {1, 0}, 0, 1};
            return 0;
        case kRequesterYesNoCancel:
            *out = {{yes, no, cancel}, {1, 2, 0}, 0, 2};
            return 0;
        default: break;
    }
    size_t start = 0;
    for (;;) {
        const size_t bar = text.find('|', start);
        out->labels.push_back(text.substr(start, bar == std::string::npos ? std::string::npos : bar - start));
        if (out->labels.size() > kMaxRequesterButtons) {
            *out = qbRequesterButtons{};
            return ERR_WINDOW;
        }
        if (bar == std::string::npos) break;
        start = bar + 1;
    }
    const int n = static_cast<int>(out->labels.size());
    for (int i = 0; i < n; ++i) out->results.push_back(i + 1 < n ? i + 1 : 0);
    if (n < 3) out->defaultButton = 0;
    if (n == 2) out->cancelButton = 1;
    return 0;
}

bool IsValidNumberText(std::string_view text) {
    if (text.empty()) return false;
    if (text.front() == '-') text.remove_prefix(1);
    int dots = 0;
    for (char c : text) {
        if (c == '.') {
            if (++dots > 1) return false;
        } else if (c < '0' || c > '9') {
            return false;
        }
    }
    return true;
}

bool StringFieldAccepts(std::string_view text, int type, int maxLength) {
    if (maxLength > 0 && text.size() > static_cast<size_t>(maxLength)) return false;
    return type != kStringNumerical || IsValidNumberText(text);
}

std::string StringFieldDefault(const char* text, int type, int maxLength) {
    std::string start = text ? text : "";
    if (type == kStringNumerical && !IsValidNumberText(start)) start.assign(1, '0');
    if (maxLength > 0 && start.size() > static_cast<size_t>(maxLength)) start.resize(maxLength);
    return start;
}

std::string TypeIntoStringField(std::string text, std::string_view typed, int type, int maxLength) {
    for (char c : typed) {
        text.push_back(c);
        if (!StringFieldAccepts(text, type, maxLength)) {
            text.pop_back();
            break;
        }
    }
    return text;
}

void CopyStringResult(std::string_view text, char* out) {
    if (!out) return;
    const size_t n = std::min(text.size(), kStringResultSize - 1);
    std::memcpy(out, text.data(), n);
    out[n] = 0;
}

std::vector<std::string> FilePatternSuffixes(const char* pattern) {
    std::vector<std::string> suffixes;
    if (!pattern || !*pattern || std::strcmp(pattern, "*") == 0 || std::strcmp(pattern, "#?") == 0) return suffixes;
    std::string_view rest = pattern;
    for (;;) {
        const size_t bar = rest.find('|');
        std::string part(rest.substr(0, bar));
        if (!part.empty()) suffixes.push_back(part.front() == '.' ? part : "." + part);
        if (bar == std::string_view::npos) break;
        rest.remove_prefix(bar + 1);
    }
    return suffixes;
}

bool FilePatternShows(const std::vector<std::string>& suffixes, std::string_view name, bool folder) {
    if (folder || suffixes.empty()) return true;
    return std::any_of(suffixes.begin(), suffixes.end(),
                       [&](const std::string& suffix) { return EndsWithNoCase(name, suffix); });
}

void FillFileResult(const std::vector<std::string>& paths, qbFileRequestResult* out) {
    *out = qbFileRequestResult{};
    if (paths.empty()) return;
    out->folder = FolderOf(paths.front());
    for (const std::string& path : paths) {
        out->files += NameOf(path);
        out->files.push_back('\0');
    }
    out->count = static_cast<int32_t>(paths.size());
    out->chosen = 1;
}

void FontRequestDefaults(const char* name, int size, std::string* outName, int* outSize) {
    if (!name || !*name) {
        *outName = "Helvetica";
        *outSize = 12;
        return;
    }
    *outName = name;
    *outSize = size;
}

void FillFontRecord(std::string_view name, int size, qbFontRequest* out) {
    *out = qbFontRequest{};
    const size_t n = std::min(name.size(), sizeof out->name - 1);
    std::memcpy(out->name, name.data(), n);
    out->size = size;
    out->weight = 80;
}

int32_t ColourFromRGB(int red, int green, int blue) {
    auto clamp = [](int v) { return static_cast<int32_t>(std::clamp(v, 0, 255)); };
    return (clamp(red) << 16) | (clamp(green) << 8) | clamp(blue);
}

bool RequesterDriverUsable(const char* videoDriver) {
    if (!videoDriver || !*videoDriver) return false;
    return StrCmpNoCase(videoDriver, "dummy") != 0 && StrCmpNoCase(videoDriver, "offscreen") != 0;
}
