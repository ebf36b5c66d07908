// Virtual files: parts of other files under names of their own, and script
// strings that open as files. A string file is a MemoryFile of the file
// layer; the handles opening it keep their own positions.
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "core/chunkname.h"
#include "core/errcodes.h"
#include "core/errors.h"
#include "core/file.h"
#include "core/linkedfile.h"
#include "core/memfile.h"
#include "libs/doscommands.h"
#include "libs/dos.h"

namespace {

struct VirtualStringFile {
    MemoryFile file;
    int stringRef = -1;  // keeps the script's string alive when not a copy
    std::string name;
    ~VirtualStringFile() {
        if (file.writable) std::free(file.data);
    }
};

std::vector<std::unique_ptr<VirtualStringFile>> stringFiles;

void Release(ScriptState* L, VirtualStringFile& v) {
    RemoveVirtualFile(&v.file);
    if (L) {
        if (v.stringRef != -1) VmReleaseRef(L, kRegistryIndex, v.stringRef);
        if (v.file.registryRef != -1) VmReleaseRef(L, kRegistryIndex, v.file.registryRef);
    }
    v.stringRef = v.file.registryRef = -1;
}

bool ToOffset(double value, uint64_t* out) {
    if (!std::isfinite(value) || value < 0 || value > 9.0e18) return false;
    *out = static_cast<uint64_t>(value);
    return true;
}

}  // namespace

int cmdDefineVirtualFile(ScriptState* L) {
    CheckArgCount(L, 4, 4, 0, 0);
    size_t fileLength = 0;
    VmCheckString(L, 1, &fileLength);
    const std::string fileName = ResolveLinkedFileArg(L, 1, 0, nullptr);
    uint64_t offset = 0;
    uint64_t size = 0;
    if (!ToOffset(VmCheckNumber(L, 2), &offset) || !ToOffset(VmCheckNumber(L, 3), &size)) return ERR_WRONGUSAGE;
    const char* newName = VmCheckString(L, 4, nullptr);
    if (size == 0 || fileLength == 0) return ERR_WRONGUSAGE;
    std::string container = fileName;
    uint64_t base = 0;
    if (IsChunkName(fileName.c_str())) {
        qbChunkName chunk;
        // A string file has no place in a container to count from.
        if (!ParseChunkName(fileName.c_str(), &chunk) || chunk.stream) return ERR_WRONGUSAGE;
        if (offset > chunk.size || size > chunk.size - offset) return ERR_WRONGUSAGE;
        base = chunk.offset;
        container = chunk.containerPath;
    }
    if (offset > static_cast<uint64_t>(INT64_MAX) - base || size > static_cast<uint64_t>(INT64_MAX) - base - offset)
        return ERR_WRONGUSAGE;
    // The container must open as any file read: a FIFO or a device is
    // refused here at once rather than holding or flooding each reader of
    // the part later (every open of the part asks again).
    if (!qbFilePtr(FileOpen(fileName.c_str(), kFileModeRead | kFileModeAdapters, nullptr))) {
        SetErrorDetail(fileName.c_str());
        return ERR_READFILE;
    }
    const std::string name = MakeChunkName(newName, offset, size, base, container.c_str());
    VmPushLString(L, name.data(), name.size());
    return 1;
}

int cmdDefineVirtualFileFromString(ScriptState* L) {
    CheckArgCount(L, 2, 3, 0, 0);
    size_t length = 0;
    const char* text = VmCheckString(L, 1, &length);
    size_t nameLength = 0;
    const char* name = VmCheckString(L, 2, &nameLength);
    const bool writable = VmOptNumber(L, 3, 0) != 0;
    if (nameLength == 0) return ERR_WRONGUSAGE;
    std::unique_ptr<VirtualStringFile> v(new (std::nothrow) VirtualStringFile);
    if (!v) return ERR_MEM;
    try {
        v->name = name;
        stringFiles.reserve(stringFiles.size() + 1);
    } catch (const std::bad_alloc&) {
        return ERR_MEM;
    }
    v->file.name = v->name.c_str();
    v->file.size = static_cast<int64_t>(length);
    if (writable) {
        const size_t capacity = length ? length : static_cast<size_t>(kMemoryFileGrowStep);
        v->file.data = static_cast<uint8_t*>(std::malloc(capacity));
        if (!v->file.data) return ERR_MEM;
        if (length) std::memcpy(v->file.data, text, length);
        v->file.capacity = static_cast<int64_t>(capacity);
        v->file.writable = 1;
    } else {
        // The VM never moves a string, so its bytes serve while the
        // reference keeps it.
        v->file.data = reinterpret_cast<uint8_t*>(const_cast<char*>(text));
        v->file.capacity = static_cast<int64_t>(length);
        VmPushValue(L, 1);
        v->stringRef = VmMakeRef(L, kRegistryIndex);
    }
    VmPushLightUserdata(L, v.get());
    v->file.registryRef = VmMakeRef(L, kRegistryIndex);
    AddVirtualFile(&v->file);
    const std::string chunk = MakeChunkName(name, kStreamChunkOffset, 0, static_cast<uint64_t>(v->file.registryRef),
                                            "unused");
    stringFiles.push_back(std::move(v));
    VmPushLString(L, chunk.data(), chunk.size());
    return 1;
}

int cmdUndefineVirtualStringFile(ScriptState* L) {
    CheckArgCount(L, 1, 1, 0, 0);
    const char* name = VmCheckString(L, 1, nullptr);
    qbChunkName chunk;
    if (!ParseChunkName(name, &chunk) || !chunk.stream) return ERR_WRONGUSAGE;
    auto it = std::find_if(stringFiles.begin(), stringFiles.end(),
                           [&](const auto& v) { return &v->file == chunk.virtualFile; });
    if (it == stringFiles.end()) return ERR_WRONGUSAGE;
    // Open handles read the bytes; freeing them now would pull the data
    // from under them.
    if ((*it)->file.openCount > 0) return ERR_WRONGUSAGE;
    std::unique_ptr<VirtualStringFile> v = std::move(*it);
    stringFiles.erase(it);
    Release(L, *v);
    return 0;
}

void FreeVirtualStringFiles(ScriptState* L) {
    for (auto& v : stringFiles) Release(L, *v);
    stringFiles.clear();
}
