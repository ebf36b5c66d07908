// Strings built in place: a receiver that writes a large text straight into
// the block that becomes the script's string spares a copy of every byte
// (and the page faults of a second block of that size).
#pragma once

#include <cstddef>

struct ScriptState;

// block comes from std::malloc or std::realloc and holds kVmStringBlockHeader
// bytes for the VM, then the len bytes of the string, then at least one spare
// byte. The VM owns block from the call on, also when it raises.
constexpr size_t kVmStringBlockHeader = 32;
// The longest string the VM makes: its block, header and closing byte
// included, stays below the largest request the allocator grants.
constexpr size_t kVmLongestString = 4294967292u - kVmStringBlockHeader - 1;
void VmPushStringBlock(ScriptState* L, void* block, size_t len);
