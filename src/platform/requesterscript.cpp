// The scripted requester answers: the file is read whole at the first
// requester, each requester takes the next line, and each one first appends
// what it was asked to the log beside the file.
#include "platform/requesterscript.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>
#include <vector>

#include "core/chars.h"
#include "core/errcodes.h"
#include "platform/requesterrules.h"

namespace {

constexpr const char* kCancel = "cancel";

struct Script {
    std::mutex mutex;
    std::string path;  // the file the lines came from
    bool read = false;
    bool readable = false;
    std::vector<std::string> lines;
    size_t next = 0;
};

Script& S() {
    static Script script;
    return script;
}

const char* ScriptPath() {
    const char* path = std::getenv(kRequesterAnswersVariable);
    return path && *path ? path : nullptr;
}

void Forget(Script& s) {
    s.read = false;
    s.readable = false;
    s.path.clear();
    s.lines.clear();
    s.next = 0;
}

// Loads the file when it was not read yet or the variable names another.
void Load(Script& s, const char* path) {
    if (s.read && s.path == path) return;
    Forget(s);
    s.path = path;
    s.read = true;
    std::ifstream in(path, std::ios::binary);
    if (!in) return;
    s.readable = true;
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        s.lines.push_back(line);
    }
}

void AppendLog(const std::string& scriptPath, const char* kind, const char* title, const char* body,
               const std::string& extra) {
    std::ofstream log(scriptPath + ".log", std::ios::binary | std::ios::app);
    log << kind << '\t' << EscapeLogField(Latin1ToUTF8(title ? title : "")) << '\t'
        << EscapeLogField(Latin1ToUTF8(body ? body : "")) << '\t' << EscapeLogField(Latin1ToUTF8(extra.c_str()))
        << '\n';
}

// Logs the requester and takes its line: false when there is none (no
// variable, an unreadable file, no line left).
bool NextAnswer(const char* kind, const char* title, const char* body, const std::string& extra, std::string* out) {
    const char* path = ScriptPath();
    if (!path) return false;
    Script& s = S();
    std::lock_guard lock(s.mutex);
    Load(s, path);
    AppendLog(s.path, kind, title, body, extra);
    if (!s.readable || s.next >= s.lines.size()) return false;
    *out = s.lines[s.next++];
    return true;
}

// A whole decimal number (or "0x" hex when allowed) without sign or blanks.
bool ReadNumber(const std::string& text, bool hex, long long* out) {
    const bool isHex = hex && text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    const char* start = text.c_str() + (isHex ? 2 : 0);
    const char* digits = isHex ? "0123456789abcdefABCDEF" : "0123456789";
    if (!*start || !std::strchr(digits, *start)) return false;
    errno = 0;
    char* end = nullptr;
    const long long v = std::strtoll(start, &end, isHex ? 16 : 10);
    if (errno || *end) return false;
    *out = v;
    return true;
}

// The items of a list: each ended by NUL, the list by an empty one.
std::vector<std::string> ListItems(const char* items) {
    std::vector<std::string> list;
    for (const char* p = items; p && *p; p += std::strlen(p) + 1) list.emplace_back(p);
    return list;
}

std::string Join(const std::vector<std::string>& parts) {
    std::string joined;
    for (size_t i = 0; i < parts.size(); ++i) {
        if (i) joined += '|';
        joined += parts[i];
    }
    return joined;
}

std::vector<std::string> SplitTabs(const std::string& text) {
    std::vector<std::string> parts;
    size_t start = 0;
    for (;;) {
        const size_t tab = text.find('\t', start);
        parts.push_back(text.substr(start, tab == std::string::npos ? std::string::npos : tab - start));
        if (tab == std::string::npos) return parts;
        start = tab + 1;
    }
}

}  // namespace

bool RequesterScriptActive() { return ScriptPath() != nullptr; }

void ResetRequesterScript() {
    Script& s = S();
    std::lock_guard lock(s.mutex);
    Forget(s);
}

std::string EscapeLogField(const std::string& text) {
    std::string out;
    for (char c : text) {
        switch (c) {
            case '\t': out += "\\t"; break;
            case '\n': out += "\\n"; break;
            case '\\': out += "\\\\"; break;
            default: out.push_back(c);
        }
    }
    return out;
}

int ScriptedSystemRequester(const char* title, const char* body, const char* buttons, int, int* outResult) {
    if (outResult) *outResult = 0;
    qbRequesterButtons set;
    const int parsed = ParseButtonSet(buttons, &set);
    std::string answer;
    if (!NextAnswer("system", title, body, buttons && *buttons ? buttons : "OK", &answer)) return ERR_WINDOW;
    if (parsed) return parsed;
    if (answer == kCancel) return 0;
    long long n = 0;
    if (!ReadNumber(answer, false, &n) || n < 1 || n > static_cast<long long>(set.results.size())) return ERR_WINDOW;
    if (outResult) *outResult = set.results[n - 1];
    return 0;
}

int ScriptedFileRequester(const char* title, const char* pattern, int mode, qbFileRequestResult* outResult) {
    *outResult = qbFileRequestResult{};
    std::string answer;
    if (!NextAnswer("file", title, "", pattern ? pattern : "", &answer)) return ERR_WINDOW;
    if (answer == kCancel) return 0;
    std::vector<std::string> paths = SplitTabs(answer);
    if (mode != kReqMultiSelect && paths.size() > 1) return ERR_WINDOW;
    for (std::string& path : paths) {
        if (path.empty()) return ERR_WINDOW;
        path = UTF8ToLatin1(path.c_str());
    }
    FillFileResult(paths, outResult);
    return 0;
}

int ScriptedPathRequester(const char* title, std::optional<std::string>* outPath) {
    outPath->reset();
    std::string answer;
    if (!NextAnswer("path", title, "", "", &answer)) return ERR_WINDOW;
    if (answer == kCancel) return 0;
    if (answer.empty()) return ERR_WINDOW;
    *outPath = UTF8ToLatin1(answer.c_str());
    return 0;
}

int ScriptedStringRequester(const char* title, const char* body, char* outText) {
    CopyStringResult("", outText);
    std::string answer;
    if (!NextAnswer("string", title, body, "", &answer)) return ERR_WINDOW;
    if (answer == kCancel) return ERR_USERABORT;
    CopyStringResult(UTF8ToLatin1(answer.c_str()), outText);
    return 0;
}

int ScriptedListRequester(const char* title, const char* body, const char* items, int* outIndex) {
    *outIndex = -1;
    const std::vector<std::string> list = ListItems(items);
    std::string answer;
    if (!NextAnswer("list", title, body, Join(list), &answer)) return ERR_WINDOW;
    if (answer == kCancel) return 0;
    long long n = 0;
    if (!ReadNumber(answer, false, &n) || n >= static_cast<long long>(list.size())) return ERR_WINDOW;
    *outIndex = static_cast<int>(n);
    return 0;
}

int ScriptedFontRequester(const char* title, qbFontRequest* outFont) {
    std::string answer;
    if (!NextAnswer("font", title, "", "", &answer)) return ERR_WINDOW;
    if (answer == kCancel) return 0;
    const size_t bar = answer.find('|');
    long long size = 0;
    if (bar == std::string::npos || bar == 0 || !ReadNumber(answer.substr(bar + 1), false, &size) || size > 0xFFFF)
        return ERR_WINDOW;
    FillFontRecord(UTF8ToLatin1(answer.substr(0, bar).c_str()), static_cast<int>(size), outFont);
    return 0;
}

int ScriptedColorRequester(const char* title, int32_t* outColour) {
    *outColour = -1;
    std::string answer;
    if (!NextAnswer("colour", title, "", "", &answer)) return ERR_WINDOW;
    if (answer == kCancel) return 0;
    long long colour = 0;
    if (!ReadNumber(answer, true, &colour) || colour > 0xFFFFFF) return ERR_WINDOW;
    *outColour = static_cast<int32_t>(colour);
    return 0;
}
