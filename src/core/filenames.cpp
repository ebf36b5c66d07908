// ISO 8859-1 names to UTF-8 file names and back.
#include "core/filenames.h"

#include <sys/stat.h>

#include <climits>
#include <cstring>

#include "core/chars.h"
#include "platform/platform.h"

namespace {

constexpr char kProgDir[] = "PROGDIR:";
constexpr size_t kProgDirLength = sizeof(kProgDir) - 1;

enum class TextKind { kAscii, kUtf8BeyondLatin1, kOther };

// Strict UTF-8 (no overlong forms, no surrogates, nothing above U+10FFFF).
TextKind Classify(const char* text) {
    auto p = reinterpret_cast<const unsigned char*>(text);
    bool ascii = true;
    bool beyond = false;
    while (*p) {
        const unsigned c = *p;
        if (c < 0x80) {
            ++p;
            continue;
        }
        ascii = false;
        int extra;
        unsigned value;
        if (c >= 0xC2 && c <= 0xDF) extra = 1, value = c & 0x1F;
        else if (c >= 0xE0 && c <= 0xEF) extra = 2, value = c & 0x0F;
        else if (c >= 0xF0 && c <= 0xF4) extra = 3, value = c & 0x07;
        else return TextKind::kOther;
        ++p;
        for (int i = 0; i < extra; ++i, ++p) {
            if ((*p & 0xC0) != 0x80) return TextKind::kOther;
            value = (value << 6) | (*p & 0x3F);
        }
        if ((extra == 2 && (value < 0x800 || (value >= 0xD800 && value <= 0xDFFF))) ||
            (extra == 3 && (value < 0x10000 || value > 0x10FFFF)))
            return TextKind::kOther;
        if (value > 0xFF) beyond = true;
    }
    if (ascii) return TextKind::kAscii;
    return beyond ? TextKind::kUtf8BeyondLatin1 : TextKind::kOther;
}

bool Exists(const std::string& path) {
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0;
}

std::string FolderOf(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace

std::string ToSystemText(const char* text) {
    if (!text) return {};
    if (Classify(text) != TextKind::kOther) return text;
    return Latin1ToUTF8(text);
}

std::string ToSystemPath(const char* name) {
    if (!name) return {};
    std::string raw = MakeNativePath(name);
    if (Classify(raw.c_str()) != TextKind::kOther) return raw;
    std::string converted = Latin1ToUTF8(raw.c_str());
    if (Exists(converted)) return converted;
    if (Exists(raw)) return raw;
    // A new file: it goes where its folder is.
    if (!Exists(FolderOf(converted)) && Exists(FolderOf(raw))) return raw;
    return converted;
}

std::string FromSystemPath(const char* path) { return path ? FileNameToLatin1(path) : std::string(); }

std::string ExpandProgDir(const char* name) {
    if (!name) return {};
    if (std::strncmp(name, kProgDir, kProgDirLength) != 0) return name;
    char folder[PATH_MAX] = {};
    GetExecutablePath(folder, sizeof folder);
    *const_cast<char*>(GetPathFilePart(folder)) = 0;
    std::string joined(folder);
    std::string rest(name + kProgDirLength);
    joined.resize(joined.size() + rest.size() + 2);
    AddPart(joined.data(), rest.c_str(), joined.size());
    joined.resize(std::strlen(joined.c_str()));
    return joined;
}

std::string NativePathOf(const char* name) {
    if (!name) return {};
    return ToSystemPath(ExpandProgDir(name).c_str());
}
