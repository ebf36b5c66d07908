// ISO 8859-1/UTF-8 conversion, path helpers and the bit scan: the small
// helpers whose exact results names, error texts and file names depend on.
// (The case folding tables live with the VM, which matches names by them.)
#include "core/chars.h"

#include <bit>
#include <cstring>

#include "core/memory.h"

namespace {

constexpr size_t kFilePartBufferSize = 1024;
constexpr size_t kNativePathLimit = 1024;

bool IsChunkName(const char* path) {
    return std::strncmp(path, kChunkNamePrefix, sizeof(kChunkNamePrefix) - 1) == 0;
}

bool IsSeparator(char c) { return c == '/' || c == '\\'; }

bool IsContinuation(unsigned char c) { return (c & 0xC0) == 0x80; }

}  // namespace

int IsGraphChar(int c) { return (c >= 33 && c <= 126) || (c >= 161 && c <= 255); }

std::string EscapePercent(const char* text) {
    if (!text || !std::strchr(text, '%')) return {};
    std::string out;
    out.reserve(std::strlen(text) + 8);
    for (const char* p = text; *p; ++p) {
        out += *p;
        if (*p == '%') out += '%';
    }
    return out;
}

std::string Latin1ToUTF8(const char* text) {
    std::string out;
    if (!text) return out;
    for (auto p = reinterpret_cast<const unsigned char*>(text); *p; ++p) {
        if (*p < 0x80) {
            out += static_cast<char>(*p);
        } else {
            out += static_cast<char>(0xC0 | (*p >> 6));
            out += static_cast<char>(0x80 | (*p & 0x3F));
        }
    }
    return out;
}

namespace {

enum class Utf8Step { kLatin1, kBeyondLatin1, kInvalid };

// Decodes one character at p into *value and moves p past it. A lead byte
// whose sequence is cut short (by the terminator or by a byte that isn't a
// continuation) consumes only the continuation bytes that are there, so the
// terminator is never passed. Two-byte forms of ASCII (0xC0, 0xC1) and bytes
// that can't start a sequence are invalid.
Utf8Step DecodeUtf8(const unsigned char*& p, unsigned* value) {
    const unsigned char c = *p++;
    *value = c;
    if (c < 0x80) return Utf8Step::kLatin1;
    int follow = 0;
    if (c >= 0xC2 && c <= 0xDF) follow = 1;
    else if (c >= 0xE0 && c <= 0xEF) follow = 2;
    else if (c >= 0xF0 && c <= 0xF4) follow = 3;
    else return Utf8Step::kInvalid;
    unsigned v = c & (0x3Fu >> follow);
    for (int i = 0; i < follow; ++i) {
        if (!IsContinuation(*p)) return Utf8Step::kInvalid;
        v = (v << 6) | (*p++ & 0x3Fu);
    }
    *value = v;
    return v <= 0xFF ? Utf8Step::kLatin1 : Utf8Step::kBeyondLatin1;
}

}  // namespace

std::string UTF8ToLatin1(const char* text) {
    std::string out;
    if (!text) return out;
    auto p = reinterpret_cast<const unsigned char*>(text);
    while (*p) {
        unsigned value = 0;
        const Utf8Step step = DecodeUtf8(p, &value);
        out += step == Utf8Step::kLatin1 ? static_cast<char>(value) : '?';
    }
    return out;
}

bool TryUTF8ToLatin1(const char* text, std::string& out) {
    out.clear();
    if (!text) return true;
    auto p = reinterpret_cast<const unsigned char*>(text);
    while (*p) {
        unsigned value = 0;
        if (DecodeUtf8(p, &value) != Utf8Step::kLatin1) return false;
        out += static_cast<char>(value);
    }
    return true;
}

std::string FileNameToLatin1(const char* name) {
    std::string out;
    if (!TryUTF8ToLatin1(name, out)) out = name;
    return out;
}

char* ConvertCharset(const char* text, int from, int to) {
    if (!text) return nullptr;
    std::string converted;
    if (from == kCharsetLatin1 && to == kCharsetUTF8) converted = Latin1ToUTF8(text);
    else if (from == kCharsetUTF8 && to == kCharsetLatin1) converted = UTF8ToLatin1(text);
    else return nullptr;
    auto* copy = static_cast<char*>(AllocMemory(converted.size() + 1, 0));
    if (copy) std::memcpy(copy, converted.c_str(), converted.size() + 1);
    return copy;
}

const char* GetPathFilePart(const char* path) {
    if (!path) return "";
    const char* p = path;
    while (*p == '/') ++p;
    const char* part = p;
    for (const char* q = p; *q; ++q) {
        if (IsSeparator(*q)) part = q;
        else if (*q == ':') part = q + 1;
    }
    return part;
}

const char* FilePartEx(const char* path) {
    if (!path) return "";
    if (IsChunkName(path)) {
        // Per thread, so that a loader thread can't overwrite the main thread's name.
        thread_local char carried[kFilePartBufferSize];
        const char* start = std::strchr(path, '*');
        size_t len = 0;
        if (start) {
            ++start;
            const char* end = std::strchr(start, '?');
            len = end ? static_cast<size_t>(end - start) : std::strlen(start);
            if (len >= sizeof(carried)) len = sizeof(carried) - 1;
            std::memcpy(carried, start, len);
        }
        carried[len] = 0;
        return carried;
    }
    const size_t len = std::strlen(path);
    if (len < 2) return path;
    if (IsSeparator(path[len - 1])) return path + len;
    const char* last = nullptr;
    for (const char* q = path; *q; ++q)
        if (IsSeparator(*q)) last = q;
    if (last) return last + 1;
    if (const char* colon = std::strchr(path, ':')) return colon + 1;
    return path;
}

int AddPart(char* path, const char* name, size_t bufferSize) {
    if (!path || bufferSize == 0) return 0;
    if (!name) name = "";
    size_t len = strnlen(path, bufferSize - 1);
    path[len] = 0;
    const bool needSeparator = len > 0 && !IsSeparator(path[len - 1]);
    const size_t need = len + (needSeparator ? 1 : 0) + std::strlen(name);
    if (needSeparator && len + 1 < bufferSize) path[len++] = '/';
    for (const char* q = name; *q && len + 1 < bufferSize; ++q) path[len++] = *q;
    path[len] = 0;
    return need < bufferSize ? 1 : 0;
}

std::string MakeNativePath(const char* path) {
    if (!path) return {};
    std::string out(path);
    if (IsChunkName(path) || out.size() >= kNativePathLimit) return out;
    for (char& c : out)
        if (c == '\\') c = '/';
    return out;
}

int FindLowestSetBit(uint32_t word) { return word ? std::countr_zero(word) : -1; }
