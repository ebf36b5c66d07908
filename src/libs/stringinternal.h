// What the string library's command files share.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "vm/vm.h"

// The string argument at idx as a view (zero bytes included).
std::string_view StringArg(ScriptState* L, int idx);
// A count or position argument: truncated, saturating at the int32 limits.
int64_t IntArg(ScriptState* L, int idx);
int64_t OptIntArg(ScriptState* L, int idx, int64_t def);
// Pushes a result string; 1.
int PushText(ScriptState* L, std::string_view text);
// The longest result the library builds. The VM holds strings of up to
// 4 GB, but a result is built and then copied into the VM: a hostile count
// (PadNum to 2^31 digits) fails at once with ERR_MEM rather than moving
// gigabytes.
constexpr uint64_t kMaxStringLength = uint64_t{1} << 30;

// Substring search from start; the offset of the first match or npos. The
// case-insensitive form compares through the lower-case fold table.
size_t FindBytes(std::string_view s, std::string_view sub, size_t start, bool caseSensitive);
