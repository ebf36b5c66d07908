// The memblock library's block list, the creating and freeing commands and
// the typed access to single values, ranges and copies.
#include "libs/memblock.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

#include "core/argapi.h"
#include "core/chars.h"
#include "core/chunkname.h"
#include "core/errcodes.h"
#include "core/errors.h"
#include "core/memfile.h"
#include "core/numbers.h"
#include "core/settings.h"
#include "core/objectlist.h"
#include "draw/attributes.h"
#include "libs/memblockinternal.h"
#include "sound/samplesources.h"

namespace {

qbObjectList blockList;

void Unlink(qbMemBlock* block) { UnlinkObject(&blockList, block); }

void FreeBlock(ScriptState* L, qbMemBlock* block) {
    Unlink(block);
    std::unique_ptr<qbMemBlock> owner(block);
    FreeObjectDataList(L, &block->data);
}

// A creating command's id: a numeric id first frees the block it names.
// Appends the block and pushes the automatic id for Nil; the result count.
int AddBlock(ScriptState* L, const NewObjectID& id, std::unique_ptr<qbMemBlock> block) {
    if (!id.chooseFlag) {
        if (qbObject* o = FindListedObject(blockList, ObjectID{id.id, nullptr})) {
            if (static_cast<qbMemBlock*>(o)->users > 0) return ERR_WRONGUSAGE;
            FreeBlock(L, static_cast<qbMemBlock*>(o));
        }
    }
    block->type = kObjectTypeMemory;
    block->id = id.chooseFlag ? 0 : id.id;
    block->handle = id.chooseFlag ? block.get() : nullptr;
    if (int err = AppendObject(&blockList, block.get())) return err;
    qbMemBlock* raw = block.release();
    if (!id.chooseFlag) return 0;
    VmPushLightUserdata(L, raw);
    return 1;
}

std::unique_ptr<qbMemBlock> NewBlock() { return std::unique_ptr<qbMemBlock>(new (std::nothrow) qbMemBlock); }

int cmdAllocMem(ScriptState* L) {
    CheckArgCount(L, 2, 2, 0, 0);
    const NewObjectID id = GetNewObjectIDArg(L, 1);
    int64_t size = 0;
    if (int err = SizeArg(L, 2, &size)) return err;
    if (size <= 0) return ERR_WRONGUSAGE;
    std::unique_ptr<qbMemBlock> block = NewBlock();
    if (!block) return ERR_MEM;
    block->bytes = static_cast<uint8_t*>(std::malloc(static_cast<size_t>(size)));
    if (!block->bytes) return ERR_MEM;
    block->size = static_cast<int32_t>(size);
    return AddBlock(L, id, std::move(block));
}

int cmdAllocMemFromPointer(ScriptState* L) {
    CheckArgCount(L, 3, 3, 0, 0);
    const NewObjectID id = GetNewObjectIDArg(L, 1);
    const int type = VmType(L, 2);
    if (type != kTypeLightUserdata && type != kTypeUserdata) return ERR_WRONGUSAGE;
    const auto address = reinterpret_cast<uintptr_t>(VmToUserdata(L, 2));
    int64_t size = 0;
    if (int err = SizeArg(L, 3, &size)) return err;
    if (size < 0) return ERR_WRONGUSAGE;
    qbMemBlock* parent = nullptr;
    int64_t offset = 0;
    for (qbObject* o = blockList.head; o && !parent; o = o->next) {
        auto* b = static_cast<qbMemBlock*>(o);
        const auto start = reinterpret_cast<uintptr_t>(MemBlockData(*b));
        const int64_t extent = MemBlockSize(*b);
        if (start && address >= start && address - start < static_cast<uint64_t>(extent)) {
            parent = b;
            offset = static_cast<int64_t>(address - start);
        }
    }
    if (!parent || size > MemBlockSize(*parent) - offset) return ERR_WRONGUSAGE;
    std::unique_ptr<qbMemBlock> block = NewBlock();
    if (!block) return ERR_MEM;
    block->parent = parent;
    block->parentOffset = offset;
    ++parent->users;
    block->size = static_cast<int32_t>(size);
    block->foreign = true;
    return AddBlock(L, id, std::move(block));
}

int cmdAllocMemFromVirtualFile(ScriptState* L) {
    CheckArgCount(L, 2, 2, 0, 0);
    const NewObjectID id = GetNewObjectIDArg(L, 1);
    const char* name = VmCheckString(L, 2, nullptr);
    qbChunkName chunk;
    if (!ParseChunkName(name, &chunk) || !chunk.stream || !chunk.virtualFile) return ERR_WRONGUSAGE;
    std::unique_ptr<qbMemBlock> block = NewBlock();
    if (!block) return ERR_MEM;
    block->foreign = true;
    block->file = chunk.virtualFile;
    // The count keeps the dos library from undefining the file under us.
    ++block->file->openCount;
    return AddBlock(L, id, std::move(block));
}

int cmdFreeMem(ScriptState* L) {
    CheckArgCount(L, 1, 1, 0, 0);
    qbMemBlock* block = nullptr;
    if (int err = MemBlockArg(L, 1, &block)) return err;
    if (block->users > 0) return ERR_WRONGUSAGE;
    FreeBlock(L, block);
    return 0;
}

int cmdGetMemPointer(ScriptState* L) {
    CheckArgCount(L, 1, 2, 0, 0);
    qbMemBlock* block = nullptr;
    if (int err = MemBlockArg(L, 1, &block)) return err;
    const int64_t offset = OptIntegerArg(L, 2, 0);
    const int64_t size = MemBlockSize(*block);
    if (offset < 0 || (SizeKnown(*block) && offset >= size)) return ERR_WRONGUSAGE;
    VmPushLightUserdata(L, MemBlockData(*block) + offset);
    return 1;
}

uint64_t LoadUnsigned(const uint8_t* p, int width, bool little) {
    uint64_t v = 0;
    for (int i = 0; i < width; ++i) v |= static_cast<uint64_t>(p[i]) << (8 * (little ? i : width - 1 - i));
    return v;
}

void StoreUnsigned(uint8_t* p, uint64_t v, int width, bool little) {
    for (int i = 0; i < width; ++i) p[i] = static_cast<uint8_t>(v >> (8 * (little ? i : width - 1 - i)));
}

// The bytes of #STRING with length 0: text and the usual white space.
bool IsTextByte(uint8_t c) { return IsGraphChar(c) || c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

int cmdPeek(ScriptState* L) {
    CheckArgCount(L, 2, 4, 0, 0);
    qbMemBlock* block = nullptr;
    if (int err = MemBlockArg(L, 1, &block)) return err;
    const int64_t offset = IntegerArg(L, 2);
    const int32_t type = static_cast<int32_t>(VmOptInt(L, 3, kMemInteger));
    if (offset < 0) return ERR_MEMRANGE;
    const uint8_t* base = MemBlockData(*block);
    if (type == kMemString) {
        int64_t length = 0;
        if (int err = OptSizeArg(L, 4, 0, &length)) return err;
        if (length < 0) return ERR_WRONGUSAGE;
        if (length > 0) {
            if (!InRange(*block, offset, length)) return ERR_MEMRANGE;
            VmPushLString(L, reinterpret_cast<const char*>(base + offset), static_cast<size_t>(length));
            return 1;
        }
        const int64_t size = MemBlockSize(*block);
        const bool known = SizeKnown(*block);
        if (known && offset > size) return ERR_MEMRANGE;
        int64_t end = offset;
        while ((!known || end < size) && IsTextByte(base[end])) ++end;
        VmPushLString(L, reinterpret_cast<const char*>(base + offset), static_cast<size_t>(end - offset));
        return 1;
    }
    const int width = TypeWidth(type);
    if (!width) return ERR_WRONGUSAGE;
    const bool little = GetFlagArg(L, 4, false);
    if (!InRange(*block, offset, width)) return ERR_MEMRANGE;
    const uint64_t bits = LoadUnsigned(base + offset, width, little);
    double value = static_cast<double>(bits);
    if (type == kMemFloat) {
        float f;
        const uint32_t b32 = static_cast<uint32_t>(bits);
        std::memcpy(&f, &b32, 4);
        value = f;
    } else if (type == kMemDouble) {
        std::memcpy(&value, &bits, 8);
    }
    VmPushNumber(L, value);
    return 1;
}

int cmdPoke(ScriptState* L) {
    CheckArgCount(L, 3, 5, 0, 0);
    qbMemBlock* block = nullptr;
    if (int err = MemBlockArg(L, 1, &block)) return err;
    const int64_t offset = IntegerArg(L, 2);
    const int32_t type = static_cast<int32_t>(VmOptInt(L, 4, kMemInteger));
    const bool little = GetFlagArg(L, 5, false);
    if (offset < 0) return ERR_MEMRANGE;
    if (type == kMemString) {
        size_t length = 0;
        const char* text = VmCheckString(L, 3, &length);
        if (!InRange(*block, offset, static_cast<int64_t>(length) + 1)) return ERR_MEMRANGE;
        if (int err = CheckWritable(*block)) return err;
        std::memcpy(MemBlockData(*block) + offset, text, length + 1);
        return 0;
    }
    const int width = TypeWidth(type);
    if (!width) return ERR_WRONGUSAGE;
    uint64_t bits = 0;
    if (type == kMemFloat) {
        const float f = static_cast<float>(VmCheckNumber(L, 3));
        uint32_t b32;
        std::memcpy(&b32, &f, 4);
        bits = b32;
    } else if (type == kMemDouble) {
        const double d = VmCheckNumber(L, 3);
        std::memcpy(&bits, &d, 8);
    } else {
        bits = VmCheckInt(L, 3);
    }
    if (!InRange(*block, offset, width)) return ERR_MEMRANGE;
    if (int err = CheckWritable(*block)) return err;
    StoreUnsigned(MemBlockData(*block) + offset, bits, width, little);
    return 0;
}

int cmdFillMem(ScriptState* L) {
    CheckArgCount(L, 3, 5, 0, 0);
    qbMemBlock* block = nullptr;
    if (int err = MemBlockArg(L, 1, &block)) return err;
    const uint32_t value = VmCheckInt(L, 2);
    int64_t count = 0;
    if (int err = SizeArg(L, 3, &count)) return err;
    const int64_t offset = OptIntegerArg(L, 4, 0);
    const int32_t type = static_cast<int32_t>(VmOptInt(L, 5, kMemByte));
    if (count <= 0) return 0;
    if (offset < 0 || !InRange(*block, offset, count)) return ERR_MEMRANGE;
    int width = 0;
    switch (type) {
    case kMemByte: width = 1; break;
    case kMemShort: width = 2; break;
    case kMemInteger: width = 4; break;
    default: return ERR_WRONGUSAGE;
    }
    if (offset % width || count % width) return ERR_WRONGUSAGE;
    if (int err = CheckWritable(*block)) return err;
    uint8_t* p = MemBlockData(*block) + offset;
    if (width == 1) {
        std::memset(p, static_cast<int>(value & 0xFFu), static_cast<size_t>(count));
        return 0;
    }
    uint8_t pattern[4];
    StoreUnsigned(pattern, value, width, false);
    // A pattern whose bytes are all equal is a plain byte fill.
    if (std::memcmp(pattern, pattern + 1, static_cast<size_t>(width - 1)) == 0) {
        std::memset(p, pattern[0], static_cast<size_t>(count));
        return 0;
    }
    // Doubling copies: each memcpy repeats what is already written.
    std::memcpy(p, pattern, static_cast<size_t>(width));
    int64_t done = width;
    while (done < count) {
        const int64_t n = done < count - done ? done : count - done;
        std::memcpy(p + done, p, static_cast<size_t>(n));
        done += n;
    }
    return 0;
}

int cmdCopyMem(ScriptState* L) {
    CheckArgCount(L, 3, 5, 0, 0);
    qbMemBlock* source = nullptr;
    qbMemBlock* dest = nullptr;
    if (int err = MemBlockArg(L, 1, &source)) return err;
    if (int err = MemBlockArg(L, 2, &dest)) return err;
    int64_t length = 0;
    if (int err = SizeArg(L, 3, &length)) return err;
    const int64_t sourceOffset = OptIntegerArg(L, 4, 0);
    const int64_t destOffset = OptIntegerArg(L, 5, 0);
    if (length <= 0) return 0;
    if (sourceOffset < 0 || destOffset < 0) return ERR_MEMRANGE;
    if (source == dest) return ERR_WRONGUSAGE;
    if (!InRange(*source, sourceOffset, length) || !InRange(*dest, destOffset, length)) return ERR_MEMRANGE;
    if (int err = CheckWritable(*dest)) return err;
    // Two blocks may wrap overlapping memory (pointer and file blocks).
    std::memmove(MemBlockData(*dest) + destOffset, MemBlockData(*source) + sourceOffset, static_cast<size_t>(length));
    return 0;
}

const ScriptCommand kMemblockCommands[] = {
    {"AllocMem", cmdAllocMem},
    {"AllocMemFromPointer", cmdAllocMemFromPointer},
    {"AllocMemFromVirtualFile", cmdAllocMemFromVirtualFile},
    {"FreeMem", cmdFreeMem},
    {"GetMemPointer", cmdGetMemPointer},
    {"Peek", cmdPeek},
    {"Poke", cmdPoke},
    {"FillMem", cmdFillMem},
    {"CopyMem", cmdCopyMem},
    {"ReadMem", cmdReadMem},
    {"WriteMem", cmdWriteMem},
    {"DumpMem", cmdDumpMem},
    {"MemToTable", cmdMemToTable},
    {"TableToMem", cmdTableToMem},
    {nullptr, nullptr},
};
static_assert(sizeof kMemblockCommands / sizeof kMemblockCommands[0] == 15);

}  // namespace

qbMemBlock::~qbMemBlock() {
    if (file) --file->openCount;
    if (parent) --parent->users;
    if (!foreign) std::free(bytes);
}

uint8_t* MemBlockData(const qbMemBlock& block) {
    if (block.file) return block.file->data;
    if (block.parent) return MemBlockData(*block.parent) + block.parentOffset;
    return block.bytes;
}

int64_t MemBlockSize(const qbMemBlock& block) {
    if (block.file) return block.file->size;
    if (block.parent) {
        // The parent may be a virtual file that has changed since.
        const int64_t rest = std::max<int64_t>(0, MemBlockSize(*block.parent) - block.parentOffset);
        return block.size > 0 ? std::min<int64_t>(block.size, rest) : rest;
    }
    return block.size;
}

bool SizeKnown(const qbMemBlock& block) { return block.file || block.parent || block.size > 0; }

bool InRange(const qbMemBlock& block, int64_t offset, int64_t count) {
    if (!SizeKnown(block)) return true;
    const int64_t size = MemBlockSize(block);
    return offset >= 0 && count >= 0 && offset <= size && count <= size - offset;
}

int CheckWritable(const qbMemBlock& block) {
    if (block.parent) return CheckWritable(*block.parent);
    return block.file && !block.file->writable ? ERR_WRONGUSAGE : 0;
}

int TypeWidth(int32_t type) {
    switch (type) {
    case kMemInteger: return 4;
    case kMemShort: return 2;
    case kMemByte: return 1;
    case kMemFloat: return 4;
    case kMemDouble: return 8;
    default: return 0;
    }
}

int64_t IntegerArg(ScriptState* L, int idx) { return ClampToInt32(VmCheckNumber(L, idx)); }

int64_t OptIntegerArg(ScriptState* L, int idx, int64_t def) {
    return VmType(L, idx) <= kTypeNil ? def : IntegerArg(L, idx);
}

int SizeArg(ScriptState* L, int idx, int64_t* out) {
    int32_t v = 0;
    if (int err = GetIntArgWithin(L, idx, INT32_MIN, INT32_MAX, &v)) return err;
    *out = v;
    return 0;
}

int OptSizeArg(ScriptState* L, int idx, int64_t def, int64_t* out) {
    if (VmType(L, idx) > kTypeNil) return SizeArg(L, idx, out);
    *out = def;
    return 0;
}

int GetMemBlock(ObjectID id, qbMemBlock** out) {
    if (qbObject* o = FindListedObject(blockList, id)) {
        *out = static_cast<qbMemBlock*>(o);
        return 0;
    }
    if (id.handle) return ERR_FINDARRAY;
    SetErrorArgIndex(id.number);
    return ERR_FINDMEMBLK;
}

int MemBlockArg(ScriptState* L, int idx, qbMemBlock** out) { return GetMemBlock(GetObjectIDArg(L, idx), out); }

namespace {

constexpr int32_t kAttrSize = 57;

int FindBlockForAttribute(ScriptState* L, int32_t, int idx, void** out) {
    qbMemBlock* block = nullptr;
    if (int err = GetMemBlock(GetObjectIDArg(L, idx), &block)) return err;
    *out = block;
    return 0;
}

// CreateSample's "memory" source. A block of unknown size (a foreign
// pointer) is trusted as the script's own Peek would trust it.
int ReadBlockForSample(ObjectID id, int64_t offset, void* out, size_t bytes) {
    qbMemBlock* block = nullptr;
    if (int err = GetMemBlock(id, &block)) return err;
    if (offset < 0 || bytes > static_cast<size_t>(INT64_MAX) ||
        !InRange(*block, offset, static_cast<int64_t>(bytes)))
        return ERR_MEMRANGE;
    if (bytes) std::memcpy(out, MemBlockData(*block) + offset, bytes);
    return 0;
}

int BlockAttribute(const qbAttributeQuery& q) {
    VmPushNumber(q.L, static_cast<double>(MemBlockSize(*static_cast<const qbMemBlock*>(q.object))));
    return 1;
}

}  // namespace

int InitMemblockLibrary(ScriptState* L) {
    if (int err = RegisterObjectList(&blockList)) return err;
    SetAttributeLookup(kObjectTypeMemory, &FindBlockForAttribute);
    const qbAttributeRow row{kObjectTypeMemory, kAttrSize, &BlockAttribute};
    AddAttributeRows(&row, 1);
    SetSampleMemoryReader(&ReadBlockForSample);
    // Registration raises on failure; its result only counts the tables made.
    VmRegisterCommands(L, nullptr, kMemblockCommands, 0);
    return RegisterCommandTable(kMemblockCommands, "memblock");
}

void FreeAllMemblocks(ScriptState* L) {
    // At shutdown the dos library has freed its virtual files already, and
    // parents go in any order.
    for (qbObject* o = blockList.head; o; o = o->next) {
        auto* block = static_cast<qbMemBlock*>(o);
        block->file = nullptr;
        block->parent = nullptr;
    }
    while (blockList.head) FreeBlock(L, static_cast<qbMemBlock*>(blockList.head));
}
