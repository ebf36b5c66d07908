// What the memblock library's command files share: argument readers, the
// range rule and the typed accessors.
#pragma once

#include <cstddef>
#include <cstdint>

#include "libs/memblock.h"

// The system library's value types as the memory commands use them.
enum : int32_t {
    kMemInteger = 1,
    kMemString = 3,
    kMemShort = 6,
    kMemByte = 7,
    kMemFloat = 11,
    kMemDouble = 12,
};

// The block of the id argument at idx; 0 or the lookup's error.
int MemBlockArg(ScriptState* L, int idx, qbMemBlock** out);
// The most elements MemToTable makes, and StrToArray: a table of them
// takes some 1.5 GB already.
constexpr int64_t kMaxTableElements = int64_t{1} << 26;

// Whether the block has a size to test ranges against.
bool SizeKnown(const qbMemBlock& block);
// 1 when [offset, offset + count) lies inside the block, or the block's size
// is not known; offset and count are not negative.
bool InRange(const qbMemBlock& block, int64_t offset, int64_t count);
// 0, or ERR_WRONGUSAGE for a block over a virtual file the script may only
// read (its bytes are a script string that equal strings share).
int CheckWritable(const qbMemBlock& block);
// The width in bytes of a numeric type, or 0.
int TypeWidth(int32_t type);
// An offset argument: truncated, saturating at the int32 limits.
int64_t IntegerArg(ScriptState* L, int idx);
int64_t OptIntegerArg(ScriptState* L, int idx, int64_t def);
// A size, count or length argument: ERR_WRONGUSAGE (returned) unless finite
// and inside 32 bits, so that inf or 1e300 never becomes a 2 GiB request;
// the optional form gives def for Nil or a left-out argument.
int SizeArg(ScriptState* L, int idx, int64_t* out);
int OptSizeArg(ScriptState* L, int idx, int64_t def, int64_t* out);

int cmdReadMem(ScriptState* L);
int cmdWriteMem(ScriptState* L);
int cmdDumpMem(ScriptState* L);
int cmdMemToTable(ScriptState* L);
int cmdTableToMem(ScriptState* L);
