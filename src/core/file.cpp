// Opening a name through the right back-end, and the dispatch of every
// operation to the adapter, the memory file or stdio.
#include "core/file.h"

#include <array>
#include <cstring>

#include "core/chunkname.h"
#include "core/loadertags.h"
#include "core/pluginadapters.h"
#include "core/stdiofile.h"

namespace {

// What FileOpen learned about a chunk or memory name before the adapters.
struct VirtualSource {
    bool isChunk = false;  // chunk or memory name: only chunk-serving adapters
    const char* adapterName = nullptr;  // what FOpen is given
    const void* memoryData = nullptr;   // memory and stream chunks
    std::string container;
    uint64_t offset = 0;
    uint64_t size = 0;
};

int AdapterModeCode(uint32_t mode) {
    if (mode & kFileModeWrite) return 1;
    if (mode & kFileModeReadWrite) return 2;
    if (mode & kFileModeRead) return 4;
    return 0;
}

bool AdapterMayServe(const qbAdapterPlugin* p, const char* tag, bool isChunk) {
    if (!AdapterCallable(p) || !p->slots.FOpen || p->skipAsLoader) return false;
    if (!LoaderAllowedByTag(tag, p->name, 1)) return false;
    if (p->onlyWhenNamed && !LoaderNamedByTag(tag, p->name)) return false;
    return !isChunk || (p->fileAdapterFlags & kFileAdapterServesChunks);
}

bool OpenThroughAdapter(qbFile* file, const char* name, const char* tag, const VirtualSource& source) {
    const int modeCode = AdapterModeCode(file->mode);
    for (qbAdapterNode* node = GetAdapterList(kPluginCapsFileAdapter); node; node = node->next) {
        qbAdapterPlugin* plugin = node->plugin;
        if (!AdapterMayServe(plugin, tag, source.isChunk)) continue;
        std::array<qbFileTag, 6> tags{};
        size_t n = 0;
        tags[n++] = {kFileTagStreamFlags, reinterpret_cast<uintptr_t>(&file->streamFlags)};
        if (source.isChunk) {
            if (source.memoryData) {
                tags[n++] = {kFileTagMemory, reinterpret_cast<uintptr_t>(source.memoryData)};
            } else {
                tags[n++] = {kFileTagContainer, reinterpret_cast<uintptr_t>(source.container.c_str())};
                tags[n++] = {kFileTagOffset, static_cast<uintptr_t>(source.offset)};
            }
            tags[n++] = {kFileTagSize, static_cast<uintptr_t>(source.size)};
        }
        tags[n] = {kFileTagEnd, 0};
        if (void* handle = plugin->slots.FOpen(source.isChunk ? source.adapterName : name, modeCode, tags.data())) {
            file->adapter = plugin;
            file->adapterHandle = handle;
            return true;
        }
        file->streamFlags = 0;
    }
    return false;
}

const qbAdapterSlots* Slots(const qbFile* file) {
    return file->adapter && AdapterCallable(file->adapter) ? &file->adapter->slots : nullptr;
}

// Reads and drops count bytes: how a stream that can't seek moves forward.
bool SkipForward(qbFile* file, int64_t count) {
    std::array<char, 16384> scrap;
    while (count > 0) {
        const size_t step = count < static_cast<int64_t>(scrap.size()) ? static_cast<size_t>(count) : scrap.size();
        if (FileRead(file, scrap.data(), step) != step) return false;
        count -= static_cast<int64_t>(step);
    }
    return true;
}

// The adapter's own end test; one without it is always at its end.
int AdapterEof(const qbFile* file) {
    const qbAdapterSlots* slots = Slots(file);
    return slots && slots->FEof ? slots->FEof(file->adapterHandle) != 0 : 1;
}

int64_t AdapterSeek(qbFile* file, int64_t offset, int mode) {
    const qbAdapterSlots* slots = Slots(file);
    if (!slots || !slots->FSeek) return -1;
    void* h = file->adapterHandle;
    if (!(file->streamFlags & kStreamFlagNoSeek) ||
        (offset == 0 && (mode == kSeekCurrent || mode == kSeekBeginning)))
        return slots->FSeek(h, offset, mode);
    if (!(file->mode & kFileModeStreamSeek) || mode == kSeekEnd) return -1;
    const int64_t current = slots->FSeek(h, 0, kSeekCurrent);
    if (current < 0) return -1;
    bool rewind = false;
    int64_t skip = 0;
    if (mode == kSeekBeginning) {
        if (offset < 0) return -1;
        rewind = offset < current;
        skip = rewind ? offset : offset - current;
    } else if (offset < 0) {
        if (current + offset < 0) return -1;
        rewind = true;
        skip = current + offset;
    } else {
        skip = offset;
    }
    if (rewind && slots->FSeek(h, 0, kSeekBeginning) < 0) return -1;
    return SkipForward(file, skip) ? current : -1;
}

}  // namespace

qbFile* FileOpen(const char* name, uint32_t mode, const char* adapterTag) {
    if (!name) return nullptr;
    auto file = std::make_unique<qbFile>();
    file->mode = mode;
    const bool writing = mode & (kFileModeWrite | kFileModeReadWrite);
    VirtualSource source;
    qbChunkName chunk;
    const bool systemName = mode & kFileModeSystemName;
    if (systemName) {
        // The system's own path: no part of the applet, no memory, no adapter.
    } else if (IsChunkName(name)) {
        if (!ParseChunkName(name, &chunk)) return nullptr;
        source.isChunk = true;
        source.adapterName = chunk.fileName.c_str();
        source.size = chunk.size;
        if (chunk.stream) {
            if (writing && !chunk.virtualFile->writable) return nullptr;
            file->memory = chunk.virtualFile;
            source.memoryData = chunk.virtualFile->data;
        } else {
            source.container = chunk.containerPath;
            source.offset = chunk.offset;
        }
    } else if (IsMemoryName(name)) {
        const void* data = nullptr;
        uint64_t size = 0;
        // Only buffers lent to the file layer open: any other address would
        // let a script string read arbitrary memory.
        if (writing || !ParseMemoryName(name, &data, &size) || !IsRegisteredMemory(data, size)) return nullptr;
        file->ownedMemory = std::make_unique<MemoryFile>();
        MemoryFile* m = file->ownedMemory.get();
        m->data = static_cast<uint8_t*>(const_cast<void*>(data));
        m->capacity = static_cast<int64_t>(size);
        m->size = static_cast<int64_t>(size);
        m->name = m->nameText;
        file->memory = m;
        source.isChunk = true;
        source.adapterName = m->name;
        source.memoryData = data;
        source.size = size;
    }
    if ((mode & kFileModeAdapters) && !systemName && OpenThroughAdapter(file.get(), name, adapterTag, source)) {
        file->memory = nullptr;
        file->ownedMemory.reset();
        return file.release();
    }
    if (file->memory) {
        if (!file->ownedMemory) ++file->memory->openCount;
        return file.release();
    }
    if (!LoaderAllowedByTag(adapterTag, "inbuilt", 0)) return nullptr;
    file->stdio = OpenStdioFile(name, mode);
    return file->stdio ? file.release() : nullptr;
}

qbFile* FileOverNewFile(int fd, const char* systemPath) {
    auto file = std::make_unique<qbFile>();
    file->mode = kFileModeWrite | kFileModeSystemName;
    file->stdio = StdioOverNewFile(fd, systemPath);
    return file->stdio ? file.release() : nullptr;
}

qbFile* FileOpenExpected(const char* systemPath, uint32_t mode, const qbFileId& expected) {
    if (!systemPath) return nullptr;
    auto file = std::make_unique<qbFile>();
    file->mode = mode | kFileModeSystemName;
    file->stdio = OpenStdioExpected(systemPath, mode, expected);
    return file->stdio ? file.release() : nullptr;
}

qbFile* FileOpenThroughAdapter(const char* name, uint32_t mode, const char* adapterTag) {
    if (!name || IsChunkName(name) || IsMemoryName(name)) return nullptr;
    auto file = std::make_unique<qbFile>();
    file->mode = mode | kFileModeAdapters;
    return OpenThroughAdapter(file.get(), name, adapterTag, VirtualSource{}) ? file.release() : nullptr;
}

int FileClose(qbFile* file) {
    std::unique_ptr<qbFile> owner(file);
    if (!owner) return 0;
    if (owner->adapter) {
        const qbAdapterSlots* slots = Slots(owner.get());
        return slots && slots->FClose ? slots->FClose(owner->adapterHandle) != 0 : 0;
    }
    if (owner->memory) {
        if (!owner->ownedMemory) --owner->memory->openCount;
        return 1;
    }
    return owner->stdio ? StdioClose(owner.get()) : 0;
}

size_t FileRead(qbFile* file, void* buffer, size_t count) {
    if (!file || !buffer) return 0;
    if (file->adapter) {
        const qbAdapterSlots* slots = Slots(file);
        const size_t got = slots && slots->FRead ? slots->FRead(file->adapterHandle, buffer, count) : 0;
        if (got < count) file->adapterEndMet = true;
        return got;
    }
    if (file->memory) return MemoryFileRead(file->memory, &file->memoryPosition, buffer, count);
    return file->stdio ? StdioRead(file, buffer, count) : 0;
}

size_t FileWrite(qbFile* file, const void* buffer, size_t count) {
    if (!file || !buffer) return 0;
    if (file->adapter) {
        const qbAdapterSlots* slots = Slots(file);
        return slots && slots->FWrite ? slots->FWrite(file->adapterHandle, buffer, count) : 0;
    }
    if (file->memory) return MemoryFileWrite(file->memory, &file->memoryPosition, buffer, count);
    return file->stdio ? StdioWrite(file, buffer, count) : 0;
}

int FileGetCSlow(qbFile* file) {
    if (!file) return -1;
    if (file->adapter) {
        const qbAdapterSlots* slots = Slots(file);
        const int c = slots && slots->FGetC ? slots->FGetC(file->adapterHandle) : -1;
        if (c < 0) file->adapterEndMet = true;
        return c < 0 ? -1 : c & 0xFF;
    }
    if (file->memory) {
        unsigned char byte;
        return MemoryFileRead(file->memory, &file->memoryPosition, &byte, 1) == 1 ? byte : -1;
    }
    return file->stdio ? StdioGetC(file) : -1;
}

int FilePutC(qbFile* file, int c) {
    if (file && file->adapter) {
        const qbAdapterSlots* slots = Slots(file);
        return slots && slots->FPutC ? slots->FPutC(file->adapterHandle, c & 0xFF) != 0 : 0;
    }
    const unsigned char byte = static_cast<unsigned char>(c);
    return FileWrite(file, &byte, 1) == 1;
}

size_t FileWriteString(qbFile* file, const char* text) { return text ? FileWrite(file, text, std::strlen(text)) : 0; }

int64_t FileSeek(qbFile* file, int64_t offset, int mode) {
    if (!file || mode < kSeekCurrent || mode > kSeekEnd) return -1;
    if (file->adapter) {
        const int64_t previous = AdapterSeek(file, offset, mode);
        if (previous >= 0 && !(offset == 0 && mode == kSeekCurrent)) file->adapterEndMet = false;
        return previous;
    }
    if (file->memory) return MemoryFileSeek(file->memory, &file->memoryPosition, offset, mode);
    return file->stdio ? StdioSeek(file, offset, mode) : -1;
}

int FileEof(qbFile* file) {
    if (!file) return 1;
    if (file->adapter) return file->adapterEndMet || AdapterEof(file);
    if (file->memory) return file->memoryPosition >= file->memory->size;
    // A size of all ones (not opened for reading) always counts as the end.
    return file->stdio ? StdioEof(file) : 1;
}

int FileReadFailed(qbFile* file) {
    if (!file) return 0;
    if (file->adapter) return !AdapterEof(file);
    if (file->memory) return 0;
    return file->stdio ? StdioReadFailed(file) : 0;
}

int FileFlush(qbFile* file) {
    if (!file) return 0;
    if (file->adapter) {
        const qbAdapterSlots* slots = Slots(file);
        return slots && slots->FFlush ? slots->FFlush(file->adapterHandle) != 0 : 0;
    }
    if (file->memory) return 1;
    return file->stdio ? StdioFlush(file) : 0;
}

uint32_t GetFileFlags(const qbFile* file) { return file ? file->streamFlags : 0; }

int IsFileNoSeek(const qbFile* file) { return (GetFileFlags(file) & kStreamFlagNoSeek) != 0; }

const char* GetFileAdapterName(const qbFile* file) { return file && file->adapter ? file->adapter->name : nullptr; }
