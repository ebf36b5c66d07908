// Turning error codes into texts (message table, detail, argument index, user
// codes), the text of the error requester, and the console progress lines.
#include "core/errors.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <charconv>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include "core/catalog.h"
#include "core/chars.h"
#include "core/context.h"
#include "core/messages.h"
#include "core/settings.h"
#include "platform/platform_ops.h"

namespace {

constexpr int kFirstUserCode = 1581;
constexpr int kLastBuiltinCode = 1580;
constexpr size_t kConsoleLineSize = 512;
constexpr size_t kRequesterTextSize = 1024;

struct ErrorState {
    char detail[kErrorDetailSize] = {};
    int argIndex = 0;
    // A plugin may register a code without a text; that code reads as unknown.
    std::vector<std::optional<std::string>> userTexts;
    bool forceFlush = false;
};

ErrorState& Errors() {
    static ErrorState state;
    return state;
}

// The codes whose detail is a file name; only its file part is shown.
bool IsFileNameCode(int code) {
    switch (code) {
    case ERR_LOADPICTURE: case ERR_READFILE: case ERR_OPENSOUND: case ERR_NOALPHA:
    case ERR_OPENANIM2: case ERR_OPENSOUND2: case ERR_LOADPICTURE2: case ERR_IMAGEERROR:
    case ERR_LOADVIDEO: case ERR_NOTRANSPARENCY:
        return true;
    default:
        return false;
    }
}

enum class Placeholder { kNone, kText, kNumber };

// Where the first placeholder of a message starts and what it takes; "%%" is
// a literal percent sign, not a placeholder.
Placeholder FindPlaceholder(const char* msg, size_t* pos, size_t* len) {
    for (size_t i = 0; msg[i]; ++i) {
        if (msg[i] != '%') continue;
        const char* p = msg + i + 1;
        if (*p == '%') {
            ++i;
            continue;
        }
        if (*p == 's') {
            *pos = i;
            *len = 2;
            return Placeholder::kText;
        }
        if (*p == 'd') {
            *pos = i;
            *len = 2;
            return Placeholder::kNumber;
        }
        if (p[0] == 'l' && p[1] == 'd') {
            *pos = i;
            *len = 3;
            return Placeholder::kNumber;
        }
    }
    return Placeholder::kNone;
}

// The next conversion of a printf-style text at or after p: 's', 'd' (also
// for "%ld"), '?' for any other, 0 at the end. "%%" is no conversion.
char NextConversion(const char*& p) {
    for (; *p; ++p) {
        if (*p != '%') continue;
        if (p[1] == '%') {
            ++p;
            continue;
        }
        if (p[1] == 's' || p[1] == 'd') {
            p += 2;
            return p[-1];
        }
        if (p[1] == 'l' && p[2] == 'd') {
            p += 3;
            return 'd';
        }
        return '?';
    }
    return 0;
}

// Writes into a caller's buffer and cuts at its end.
struct BoundedText {
    char* out;
    size_t room;  // bytes left for characters, the terminator excluded
    void Add(const char* text, size_t n) {
        n = std::min(n, room);
        std::memcpy(out, text, n);
        out += n;
        room -= n;
    }
    void Add(char c) { Add(&c, 1); }
};

// Formats a message with its one placeholder filled. Texts from plugins and
// scripts go through here too, so it never hands them to printf as a format:
// a stray '%' is copied as it stands, and the filling is copied, not read.
void FillMessage(const char* msg, const char* text, long number, char* out, size_t outSize) {
    if (outSize == 0) return;
    BoundedText w{out, outSize - 1};
    size_t pos = 0;
    size_t len = 0;
    const Placeholder kind = FindPlaceholder(msg, &pos, &len);
    for (size_t i = 0; msg[i] && w.room > 0; ++i) {
        if (kind != Placeholder::kNone && i == pos) {
            if (kind == Placeholder::kText) {
                if (text) w.Add(text, std::strlen(text));
            } else {
                char digits[24];
                const auto result = std::to_chars(digits, digits + sizeof digits, number);
                w.Add(digits, static_cast<size_t>(result.ptr - digits));
            }
            i += len - 1;
        } else if (msg[i] == '%' && msg[i + 1] == '%') {
            w.Add('%');
            ++i;
        } else {
            w.Add(msg[i]);
        }
    }
    *w.out = 0;
}

const char* UnknownCodeText() { return GetMessageText(MSG_UNKNOWNCODE); }

}  // namespace

// A translation comes from a file: it may carry conversions that the filling
// of its built-in text does not expect, so it is only taken when its
// placeholders are those of the built-in text, in the same order.
bool SamePlaceholders(const char* translated, const char* builtin) {
    if (!translated) return false;
    const char* a = translated;
    const char* b = builtin ? builtin : "";
    for (;;) {
        const char ca = NextConversion(a);
        const char cb = NextConversion(b);
        if (ca != cb || ca == '?') return false;
        if (ca == 0) return true;
    }
}

void SetErrorDetail(const char* text) {
    char* detail = Errors().detail;
    if (!text) {
        detail[0] = 0;
        return;
    }
    const size_t len = strnlen(text, kErrorDetailSize - 1);
    std::memmove(detail, text, len);
    detail[len] = 0;
}

const char* GetErrorDetail() { return Errors().detail; }
char* GetErrorDetailBuffer() { return Errors().detail; }
void SetErrorArgIndex(int index) { Errors().argIndex = index; }
int GetErrorArgIndex() { return Errors().argIndex; }

const char* GetMessageText(int number) {
    const char* text = nullptr;
    for (size_t i = 0; i < kMessageRowCount; ++i) {
        if (kMessageRows[i].number == number) {
            text = kMessageRows[i].text;
            break;
        }
    }
    if (const CatalogRecord* catalog = GetPlayerCatalog()) {
        const char* translated = GetCatalogText(catalog, number, text);
        if (translated && SamePlaceholders(translated, text)) return translated;
    }
    return text;
}

int GetErrorMessageNumber(int code) {
    if (code == ERR_NONE) return MSG_NOERROR;
    if (code < 1000 || code > kLastBuiltinCode) return -1;
    const size_t index = static_cast<size_t>(code - 1000);
    return index < kCodeMessageCount ? kCodeMessageNumbers[index] : -1;
}

namespace {

// Bytecode reaches a command through the global of its name in lower
// case; a hand-written chunk that spells it otherwise calls a missing
// function, and the text says what the name should be.
void AppendLowerCaseHint(const char* detail, char* out) {
    std::string name(detail);
    if (name.size() > 2 && name.compare(name.size() - 2, 2, "()") == 0) name.resize(name.size() - 2);
    std::string lower = name;
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (lower == name || !FindCommandSpelling(lower.c_str())) return;
    const size_t used = std::strlen(out);
    std::snprintf(out + used, kErrorTextSize - used, " Command names are in lower case: %s()", lower.c_str());
}

}  // namespace

int GetErrorText(int code, char* out) {
    ErrorState& e = Errors();
    if (code == ERR_OPENFONT || code == ERR_ERRORCALLED) {
        // The detail is the finished text (for Error(), the script's own
        // words), so it is shown as it stands.
        std::snprintf(out, kErrorTextSize, "%s", e.detail);
        return 0;
    }
    const char* msg = nullptr;
    if (code < 0 || code > kLastBuiltinCode) {
        if (code >= kFirstUserCode) {
            const size_t index = static_cast<size_t>(code - kFirstUserCode);
            if (index < e.userTexts.size() && e.userTexts[index]) msg = e.userTexts[index]->c_str();
        }
    } else {
        msg = GetMessageText(GetErrorMessageNumber(code));
    }
    if (!msg) msg = UnknownCodeText();

    size_t pos = 0;
    size_t len = 0;
    const char* text = e.detail;
    if (FindPlaceholder(msg, &pos, &len) == Placeholder::kText) {
        if (std::strncmp(e.detail, kChunkNamePrefix, sizeof(kChunkNamePrefix) - 1) == 0) {
            // A part of the applet file: name the linked file, not the container.
            const std::string carried = FilePartEx(e.detail);
            SetErrorDetail(FilePartEx(carried.c_str()));
        } else if (IsFileNameCode(code)) {
            text = FilePartEx(e.detail);
        }
    }
    FillMessage(msg, text, e.argIndex, out, kErrorTextSize);
    // The loader's checker knows where and why it refused the chunk: that
    // follows the message, which has no placeholder of its own for it.
    if (code == ERR_BADBYTECODE && e.detail[0]) {
        const size_t used = std::strlen(out);
        std::snprintf(out + used, kErrorTextSize - used, " %s", e.detail);
    }
    if (code == ERR_FUNCDECLA) AppendLowerCaseHint(e.detail, out);
    return 0;
}

char* GetErrorInfo(ScriptState* L, int code, char* out, const char** file, int* line) {
    GetErrorText(code, out);
    const bool withPlace = GetRuntimeTag(kTagFileAndLine) != 0;
    if (file) *file = withPlace ? GetCurrentScriptName(L) : nullptr;
    if (line) *line = withPlace ? GetCurrentScriptLine(L) : 0;
    return out;
}

int AddUserErrorCode(const char* text) {
    auto& texts = Errors().userTexts;
    try {
        if (text) texts.emplace_back(std::string(text));
        else texts.emplace_back(std::nullopt);
    } catch (const std::bad_alloc&) {
        return ERR_MEM;
    }
    return kFirstUserCode + static_cast<int>(texts.size()) - 1;
}

void FreeUserErrorList() {
    auto& texts = Errors().userTexts;
    texts.clear();
    texts.shrink_to_fit();
}

void FormatErrorRequesterText(ScriptState* L, const char* text, bool raw, char* out, size_t outSize) {
    if (outSize == 0) return;
    if (!text) text = "";
    if (raw || GetRuntimeTag(kTagFileAndLine) == 0) {
        std::snprintf(out, outSize, "%s", text);
        return;
    }
    const char* script = GetCurrentScriptName(L);
    const char* file = script ? FilePartEx(script) : "";
    const int line = GetCurrentScriptLine(L);
    const char* command = GetCurrentCommandName();
    if (!command || std::strcmp(command, "----") == 0) {
        std::snprintf(out, outSize, "%s\n%s: %s (%s: %d)", text, GetMessageText(MSG_FILE), file,
                      GetMessageText(MSG_CURRENTLINE), line);
    } else {
        std::snprintf(out, outSize, "%s\n%s: %s (%s: %d - %s: %s)", text, GetMessageText(MSG_FILE), file,
                      GetMessageText(MSG_CURRENTLINE), line, GetMessageText(MSG_INFUNCTION), command);
    }
}

// Standard error always has the text, where a player started from a terminal
// or a test shows it; the backend adds a box when a desktop can show one.
namespace {
std::atomic<ErrorRequesterHook> errorRequesterHook{nullptr};
}  // namespace

void SetErrorRequesterHook(ErrorRequesterHook hook) { errorRequesterHook.store(hook); }

void ShowErrorRequester(ScriptState* L, const char* text, int raw, int flags) {
    char buffer[kRequesterTextSize];
    FormatErrorRequesterText(L, text, raw != 0, buffer, sizeof(buffer));
    std::fprintf(stderr, "%s\n", buffer);
    std::fflush(stderr);
    if (ErrorRequesterHook hook = errorRequesterHook.load())
        hook(L, buffer, flags);
    else
        ShowErrorBoxNative(buffer);
}

void PrintMessage(const char* format, const char* file, int ellipsis) {
    if (!format || GetRuntimeTag(kTagQuiet) != 0) return;
    char line[kConsoleLineSize];
    if (file) {
        FillMessage(format, FilePartEx(file), 0, line, sizeof(line));
    } else if (ellipsis) {
        std::snprintf(line, sizeof(line), "%s", format);
    } else {
        // Printed literally: a '%' in the text is no conversion.
        ConsolePrintf("%s", format);
        return;
    }
    ConsolePrintf("%s%s", line, ellipsis ? "..." : "");
}

void PrintDoneMessage() {
    if (GetRuntimeTag(kTagQuiet) == 0) ConsolePrintf("%s\n", GetMessageText(MSG_DONE));
}

void PrintFailedMessage() {
    if (GetRuntimeTag(kTagQuiet) == 0) ConsolePrintf("%s\n", GetMessageText(MSG_FAILED));
}

void ConsolePrintf(const char* format, ...) {
    va_list args;
    va_start(args, format);
    ConsoleVPrintf(format, args);
    va_end(args);
}

int ConsoleVPrintf(const char* format, va_list args) {
    const int n = std::vprintf(format, args);
    if (Errors().forceFlush) std::fflush(stdout);
    return n;
}

void SetConsoleForceFlush(bool on) { Errors().forceFlush = on; }
