// System services that need no desktop: native paths, dates, the console,
// the machine's memory.
#include <unistd.h>

#include <clocale>
#include <cstdio>
#include <ctime>
#include <string>

#include "core/chars.h"

#include "platform/linux/linux_backend.h"

namespace linux_backend {

namespace {

constexpr size_t kMaxNativePath = 1024;
// The longest date or weekday text, in bytes.
constexpr size_t kMaxDateText = 64;

void Copy(char* buffer, size_t size, const char* text) {
    if (buffer && size) std::snprintf(buffer, size, "%s", text);
}

}  // namespace

// Script texts are ISO 8859-1; Linux file names are UTF-8.
std::optional<std::string> ToNativePath(const char* path) {
    if (!path) return std::nullopt;
    std::string out;
    size_t length = 0;
    for (const char* p = path; *p; ++p) {
        if (++length >= kMaxNativePath) return std::nullopt;
        const auto c = static_cast<unsigned char>(*p);
        if (c == '\\') {
            out += '/';
        } else if (c < 0x80) {
            out += static_cast<char>(c);
        } else {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

namespace {

// A date's words in the user's LC_TIME, read from the environment while the
// process itself stays in the C locale that the VM prints numbers in; an
// unknown locale gives the C words.
void FormatInUserLocale(const char* format, const std::tm& local, char* buffer, size_t size) {
    locale_t user = newlocale(LC_TIME_MASK, "", static_cast<locale_t>(nullptr));
    if (!user) user = newlocale(LC_TIME_MASK, "C", static_cast<locale_t>(nullptr));
    if (!user) return;
    char text[256];
    const size_t n = strftime_l(text, sizeof text, format, &local, user);
    freelocale(user);
    if (n == 0) return;
    // Script texts are ISO 8859-1: a UTF-8 locale's words are converted,
    // any other locale's bytes kept.
    std::string latin1;
    if (!TryUTF8ToLatin1(text, latin1)) latin1 = text;
    if (latin1.size() > kMaxDateText) latin1.resize(kMaxDateText);
    Copy(buffer, size, latin1.c_str());
}

}  // namespace

void FormatDateTimeAt(const std::tm& local, int kind, char* buffer, size_t size, char* secondBuffer,
                      size_t secondSize) {
    Copy(buffer, size, "");
    Copy(secondBuffer, secondSize, "");
    char text[64];
    switch (kind) {
        case 0: FormatInUserLocale("%x", local, buffer, size); break;
        case 1:
            // The year in two digits, whatever the century.
            std::snprintf(text, sizeof text, "%.2d-%.2d-%.2d", local.tm_mon + 1, local.tm_mday,
                          ((local.tm_year + 1900) % 100 + 100) % 100);
            Copy(buffer, size, text);
            std::snprintf(text, sizeof text, "%.2d:%.2d:%.2d", local.tm_hour, local.tm_min, local.tm_sec);
            Copy(secondBuffer, secondSize, text);
            break;
        case 2:
            std::snprintf(text, sizeof text, "%.2d:%.2d:%.2d", local.tm_hour, local.tm_min, local.tm_sec);
            Copy(buffer, size, text);
            break;
        case 3: FormatInUserLocale("%A", local, buffer, size); break;
        default: break;
    }
}

void FormatDateTime(int kind, char* buffer, size_t size, char* secondBuffer, size_t secondSize) {
    Copy(buffer, size, "");
    Copy(secondBuffer, secondSize, "");
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    if (!localtime_r(&now, &local)) return;
    FormatDateTimeAt(local, kind, buffer, size, secondBuffer, secondSize);
}

void PrintConsoleV(const char* format, va_list args) {
    if (format) std::vprintf(format, args);
}

// The size is a 32-bit value: a larger machine reports the largest one
// rather than what is left above 4 GiB.
uint32_t PhysicalMemoryFromPages(long pages, long pageSize) {
    if (pages <= 0 || pageSize <= 0) return 0;
    const uint64_t bytes = static_cast<uint64_t>(pages) * static_cast<uint64_t>(pageSize);
    return bytes > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<uint32_t>(bytes);
}

uint64_t GetPhysicalMemorySize() { return PhysicalMemoryFromPages(sysconf(_SC_PHYS_PAGES), sysconf(_SC_PAGESIZE)); }

}  // namespace linux_backend
