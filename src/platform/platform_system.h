// Backend operations, listed for platform_ops.h.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "platform/platform_types.h"

// Clipboard, URLs, system folders, dates, native paths, the console.
// X(result, name, (parameters), (arguments))
#define QB_PLATFORM_SYSTEM_OPS(X) \
    X(int, EmptyClipboard, (), ()) \
    X(int, GetClipboardType, (int* outType), (outType)) \
    X(int, ReadClipboardContents, (qbClipboardData* data, int* outType), (data, outType)) \
    X(int, WriteClipboard, (int type, const qbClipboardData* data), (type, data)) \
    X(int, OpenURLNative, (const char* url), (url)) \
    X(int, GetSystemFolderPath, (int index, char* buffer, size_t size), (index, buffer, size)) \
    X(int, GetPrefsPath, (char* buffer, size_t size), (buffer, size)) \
    X(uint64_t, GetPhysicalMemorySize, (), ()) \
    X(void, FormatDateTime, (int kind, char* buffer, size_t size, char* secondBuffer, size_t secondSize), (kind, buffer, size, secondBuffer, secondSize)) \
    X(std::optional<std::string>, ToNativePath, (const char* path), (path)) \
    X(void, PrintConsoleV, (const char* format, va_list args), (format, args))
