// The memblock commands that move a block's bytes elsewhere: to and from
// files, to standard output as a hex dump, and to and from script tables.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "core/argapi.h"
#include "core/chars.h"
#include "core/errcodes.h"
#include "core/file.h"
#include "libs/dos.h"
#include "libs/mathlib.h"
#include "libs/memblockinternal.h"

namespace {

// The access words of a dos file record.
constexpr int32_t kFileAccessRead = 1;
constexpr int32_t kFileAccessWrite = 2;

constexpr int kDumpBytesPerLine = 16;

// The block range of ReadMem and WriteMem; 1 when there is anything to move.
int TransferArgs(ScriptState* L, qbFileObject** file, qbMemBlock** block, int64_t* length, int64_t* offset) {
    CheckArgCount(L, 3, 4, 0, 0);
    if (int err = GetFileRecord(GetObjectIDArg(L, 1), file)) return err;
    if (int err = MemBlockArg(L, 2, block)) return err;
    if (int err = SizeArg(L, 3, length)) return err;
    *offset = OptIntegerArg(L, 4, 0);
    return 0;
}

void StoreBits(uint8_t* p, uint64_t v, int width, bool little) {
    for (int i = 0; i < width; ++i) p[i] = static_cast<uint8_t>(v >> (8 * (little ? i : width - 1 - i)));
}

uint64_t LoadBits(const uint8_t* p, int width, bool little) {
    uint64_t v = 0;
    for (int i = 0; i < width; ++i) v |= static_cast<uint64_t>(p[i]) << (8 * (little ? i : width - 1 - i));
    return v;
}

// The player runs on little-endian machines only: the host order is that.
constexpr bool kHostLittle = true;

int32_t OptionInt(ScriptState* L, int idx, const char* key, int32_t def) {
    if (VmType(L, idx) != kTypeTable) return def;
    int32_t v = def;
    GetTableFieldInt(L, idx, key, &v, nullptr);
    return v;
}

double ElementValue(const uint8_t* p, int32_t type, bool little, bool isSigned) {
    const int width = TypeWidth(type);
    const uint64_t bits = LoadBits(p, width, little);
    switch (type) {
    case kMemShort: return isSigned ? static_cast<int16_t>(bits) : static_cast<double>(bits);
    case kMemByte: return isSigned ? static_cast<int8_t>(bits) : static_cast<double>(bits);
    case kMemFloat: {
        const uint32_t b32 = static_cast<uint32_t>(bits);
        float f;
        std::memcpy(&f, &b32, 4);
        return f;
    }
    case kMemDouble: {
        double d;
        std::memcpy(&d, &bits, 8);
        return d;
    }
    default: return static_cast<double>(bits);
    }
}

uint64_t ElementBits(double value, int32_t type) {
    if (type == kMemFloat) {
        const float f = static_cast<float>(value);
        uint32_t b32;
        std::memcpy(&b32, &f, 4);
        return b32;
    }
    if (type == kMemDouble) {
        uint64_t bits;
        std::memcpy(&bits, &value, 8);
        return bits;
    }
    // The store keeps the low bytes.
    return ScriptUInt32(value);
}

}  // namespace

int cmdReadMem(ScriptState* L) {
    qbFileObject* file = nullptr;
    qbMemBlock* block = nullptr;
    int64_t length = 0, offset = 0;
    if (int err = TransferArgs(L, &file, &block, &length, &offset)) return err;
    if (length < 1) return 0;
    if (offset < 0) return ERR_WRONGUSAGE;
    if (file->access == kFileAccessWrite) return ERR_WRITEONLY;
    if (!InRange(*block, offset, length)) return ERR_MEMRANGE;
    if (int err = CheckWritable(*block)) return err;
    uint8_t* p = MemBlockData(*block) + offset;
    const size_t n = static_cast<size_t>(length);
    const size_t got = GetDosIOMode() == kDosIOBuffered ? FileReadBytes(file->file, p, n) : FileRead(file->file, p, n);
    return got == n ? 0 : ERR_READ;
}

int cmdWriteMem(ScriptState* L) {
    qbFileObject* file = nullptr;
    qbMemBlock* block = nullptr;
    int64_t length = 0, offset = 0;
    if (int err = TransferArgs(L, &file, &block, &length, &offset)) return err;
    if (length < 1) return 0;
    if (offset < 0) return ERR_WRONGUSAGE;
    if (file->access == kFileAccessRead) return ERR_READONLY;
    if (!InRange(*block, offset, length)) return ERR_MEMRANGE;
    const uint8_t* p = MemBlockData(*block) + offset;
    const size_t n = static_cast<size_t>(length);
    const size_t put =
        GetDosIOMode() == kDosIOBuffered ? FileWriteBytes(file->file, p, n) : FileWrite(file->file, p, n);
    return put == n ? 0 : ERR_WRITE;
}

int cmdDumpMem(ScriptState* L) {
    CheckArgCount(L, 1, 3, 0, 0);
    qbMemBlock* block = nullptr;
    if (int err = MemBlockArg(L, 1, &block)) return err;
    int64_t length = 0;
    if (int err = OptSizeArg(L, 2, 0, &length)) return err;
    const int64_t offset = OptIntegerArg(L, 3, 0);
    if (offset < 0) return ERR_WRONGUSAGE;
    if (length < 1) {
        length = MemBlockSize(*block);
        if (length < 1) return ERR_WRONGUSAGE;
    }
    if (!InRange(*block, offset, length)) return ERR_MEMRANGE;
    const uint8_t* base = MemBlockData(*block);
    for (int64_t line = offset; line < offset + length; line += kDumpBytesPerLine) {
        const int count = static_cast<int>(std::min<int64_t>(kDumpBytesPerLine, offset + length - line));
        std::printf("%.8x: ", static_cast<unsigned>(line));
        for (int i = 0; i < count; ++i) std::printf("%.2x ", base[line + i]);
        for (int i = count; i < kDumpBytesPerLine; ++i) std::fputs("   ", stdout);
        for (int i = 0; i < count; ++i) {
            const uint8_t c = base[line + i];
            std::putchar(IsGraphChar(c) || c == ' ' ? c : '.');
        }
        std::putchar('\n');
    }
    return 0;
}

int cmdMemToTable(ScriptState* L) {
    CheckArgCount(L, 2, 3, 0, 0);
    qbMemBlockRef found(L, GetObjectIDArg(L, 1));
    qbTaken<qbMemBlock> block = nullptr;
    if (int err = found.Take(&block)) return err;
    const int32_t type = static_cast<int32_t>(VmCheckInt(L, 2));
    int64_t items = OptionInt(L, 3, "items", 0);
    const int64_t offset = OptionInt(L, 3, "offset", 0);
    const bool little = (OptionInt(L, 3, "endianswitch", 0) != 0) != kHostLittle;
    const bool isSigned = OptionInt(L, 3, "signed", 0) != 0;
    if (int err = found.Take(&block)) return err;
    const int width = TypeWidth(type);
    if (offset < 0 || !width || items < 0) return ERR_WRONGUSAGE;
    const int64_t size = MemBlockSize(*block);
    if (items == 0) {
        // As many as fit after the offset.
        items = size > offset ? (size - offset) / width : 0;
        if (items == 0) return ERR_WRONGUSAGE;
    }
    if (!InRange(*block, offset, items * width)) return ERR_MEMRANGE;
    if (items > kMaxTableElements) return ERR_MEM;
    const uint8_t* p = MemBlockData(*block) + offset;
    VmPushNewTableSized(L, static_cast<int>(items), 0);
    for (int64_t i = 0; i < items; ++i) {
        VmPushNumber(L, ElementValue(p + i * width, type, little, isSigned));
        VmRawSetIndex(L, -2, static_cast<int>(i));
    }
    return 1;
}

int cmdTableToMem(ScriptState* L) {
    CheckArgCount(L, 3, 4, 0, 0);
    VmCheckTable(L, 1);
    qbMemBlockRef found(L, GetObjectIDArg(L, 2));
    qbTaken<qbMemBlock> block = nullptr;
    if (int err = found.Take(&block)) return err;
    const int32_t type = static_cast<int32_t>(VmCheckInt(L, 3));
    const int64_t offset = OptionInt(L, 4, "offset", 0);
    const bool little = (OptionInt(L, 4, "endianswitch", 0) != 0) != kHostLittle;
    if (int err = found.Take(&block)) return err;
    const int width = TypeWidth(type);
    if (offset < 0 || !width) return ERR_WRONGUSAGE;
    const int64_t size = MemBlockSize(*block);
    const bool known = SizeKnown(*block);
    if (known && offset > size) return ERR_MEMRANGE;
    for (int64_t i = 0;; ++i) {
        VmRawGetIndex(L, 1, static_cast<int>(i));
        const bool present = VmType(L, -1) != kTypeNil;
        const double value = VmToNumber(L, -1);
        VmSetTop(L, -2);
        if (!present) break;
        const int64_t at = offset + i * width;
        // An unknown size holds nothing that could be checked.
        if (!known || !InRange(*block, at, width)) return ERR_MEMRANGE;
        if (int err = CheckWritable(*block)) return err;
        StoreBits(MemBlockData(*block) + at, ElementBits(value, type), width, little);
        if (i >= INT32_MAX) break;
    }
    return 0;
}
