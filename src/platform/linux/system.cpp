// System services that need no desktop: native paths, dates, the console,
// the machine's memory.
#include <unistd.h>

#include <cstdio>
#include <ctime>

#include "platform/linux/linux_backend.h"

namespace linux_backend {

namespace {

constexpr size_t kMaxNativePath = 1024;

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

void FormatDateTime(int kind, char* buffer, size_t size, char* secondBuffer, size_t secondSize) {
    Copy(buffer, size, "");
    Copy(secondBuffer, secondSize, "");
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    if (!localtime_r(&now, &local)) return;
    char text[64];
    switch (kind) {
        case 0:
            if (std::strftime(text, sizeof text, "%x", &local)) Copy(buffer, size, text);
            break;
        case 1:
            std::snprintf(text, sizeof text, "%.2d-%.2d-%.2d", local.tm_mon + 1, local.tm_mday, local.tm_year + 1900 - 2000);
            Copy(buffer, size, text);
            std::snprintf(text, sizeof text, "%.2d:%.2d:%.2d", local.tm_hour, local.tm_min, local.tm_sec);
            Copy(secondBuffer, secondSize, text);
            break;
        case 2:
            std::snprintf(text, sizeof text, "%.2d:%.2d:%.2d", local.tm_hour, local.tm_min, local.tm_sec);
            Copy(buffer, size, text);
            break;
        case 3:
            if (std::strftime(text, sizeof text, "%A", &local)) Copy(buffer, size, text);
            break;
        default: break;
    }
}

void PrintConsoleV(const char* format, va_list args) {
    if (format) std::vprintf(format, args);
}

uint64_t GetPhysicalMemorySize() {
    const long pages = sysconf(_SC_PHYS_PAGES);
    const long pageSize = sysconf(_SC_PAGESIZE);
    if (pages <= 0 || pageSize <= 0) return 0;
    return static_cast<uint64_t>(pages) * static_cast<uint64_t>(pageSize);
}

}  // namespace linux_backend
