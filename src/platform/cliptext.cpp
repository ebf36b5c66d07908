#include "platform/cliptext.h"

#include <algorithm>

#include "core/chars.h"

// The text ends at its first NUL, as the desktop's clipboard text does.
std::string ClipboardTextToUTF8(const std::string& latin1) { return Latin1ToUTF8(latin1.c_str()); }

std::string ClipboardTextFromUTF8(const char* utf8) {
    return ClipboardLineEnds(UTF8ToLatin1(utf8 ? utf8 : ""));
}

std::string ClipboardLineEnds(std::string text) {
    std::replace(text.begin(), text.end(), '\r', '\n');
    return text;
}

// FNV-1a over the type and the text.
uint64_t ClipboardHash(int type, const std::string& text) {
    uint64_t h = 14695981039346656037ull;
    auto add = [&h](unsigned char c) {
        h ^= c;
        h *= 1099511628211ull;
    };
    add(static_cast<unsigned char>(type));
    for (const char c : text) add(static_cast<unsigned char>(c));
    return h;
}
