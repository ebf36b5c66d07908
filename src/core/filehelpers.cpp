// What the readers above the file layer share: sizes, byte order, whole-file
// loads and copies.
#include <array>
#include <cstdlib>
#include <cstring>

#include "core/errcodes.h"
#include "core/errors.h"
#include "core/file.h"
#include "core/fileinfo.h"
#include "core/replacefile.h"

namespace {

constexpr size_t kBlockSize = 16384;

// The block handed out is from the C heap, as AllocMemory's are, so that
// FreeMemory frees it; realloc lets it grow without a copy.
struct FreeOnExit {
    void* block = nullptr;
    ~FreeOnExit() { std::free(block); }
};

// Reads until a short read; the block grows in kBlockSize steps.
int ReadUnknownSize(qbFile* file, FreeOnExit& block, size_t* got) {
    size_t used = 0;
    for (;;) {
        void* grown = std::realloc(block.block, used + kBlockSize);
        if (!grown) return ERR_MEM;
        block.block = grown;
        const size_t n = FileRead(file, static_cast<char*>(grown) + used, kBlockSize);
        used += n;
        if (n < kBlockSize) {
            if (FileReadFailed(file)) return ERR_READ;
            *got = used;
            return 0;
        }
    }
}

}  // namespace

int64_t GetFileSize(qbFile* file) {
    if (!file) return kUnknownFileSize;
    if (file->adapter) {
        qbFileInfo info;
        return GetFileInfo(file, &info) ? info.size : 0;
    }
    if (file->memory) return file->memory->size;
    // A file read knows its size from the open; asking by seeks would
    // forget an end a read met.
    if (file->stdio && file->stdio->size != kUnknownFileSize) return file->stdio->size;
    const int64_t p = FileSeek(file, 0, kSeekEnd);
    if (p < 0) return kUnknownFileSize;
    return FileSeek(file, p, kSeekBeginning);
}

int FileReadInt16LE(qbFile* file) {
    const int lo = FileGetC(file);
    const int hi = FileGetC(file);
    return static_cast<int16_t>(static_cast<uint16_t>(((hi & 0xFF) << 8) | (lo & 0xFF)));
}

int FileReadInt16BE(qbFile* file) {
    const int hi = FileGetC(file);
    const int lo = FileGetC(file);
    return static_cast<int16_t>(static_cast<uint16_t>(((hi & 0xFF) << 8) | (lo & 0xFF)));
}

int FileReadUInt16BE(qbFile* file) {
    const int hi = FileGetC(file);
    const int lo = FileGetC(file);
    return ((hi & 0xFF) << 8) | (lo & 0xFF);
}

uint32_t FileReadUInt32LE(qbFile* file) {
    uint32_t v = 0;
    for (int i = 0; i < 4; ++i) v |= static_cast<uint32_t>(FileGetC(file) & 0xFF) << (8 * i);
    return v;
}

uint32_t FileReadUInt32BE(qbFile* file) {
    uint32_t v = 0;
    for (int i = 0; i < 4; ++i) v = (v << 8) | static_cast<uint32_t>(FileGetC(file) & 0xFF);
    return v;
}

int FileWriteUInt16LE(qbFile* file, uint32_t value) {
    FilePutC(file, static_cast<int>(value & 0xFF));
    return FilePutC(file, static_cast<int>((value >> 8) & 0xFF));
}

int FileWriteUInt16BE(qbFile* file, uint32_t value) {
    FilePutC(file, static_cast<int>((value >> 8) & 0xFF));
    return FilePutC(file, static_cast<int>(value & 0xFF));
}

int FileWriteUInt32LE(qbFile* file, uint32_t value) {
    int last = 0;
    for (int i = 0; i < 4; ++i) last = FilePutC(file, static_cast<int>((value >> (8 * i)) & 0xFF));
    return last;
}

int FileWriteUInt32BE(qbFile* file, uint32_t value) {
    int last = 0;
    for (int i = 3; i >= 0; --i) last = FilePutC(file, static_cast<int>((value >> (8 * i)) & 0xFF));
    return last;
}

int LoadFileToMemory(const char* name, const char* adapterTag, qbFile* file, void** data, int64_t* size,
                     int useAdapters, size_t extra) {
    if (!data) return ERR_WRONGUSAGE;
    *data = nullptr;
    qbFilePtr opened;
    if (file) {
        FileSeek(file, 0, kSeekBeginning);
    } else {
        opened.reset(FileOpen(name, useAdapters ? kFileModeRead | kFileModeAdapters : kFileModeRead, adapterTag));
        if (!opened) {
            SetErrorDetail(name ? name : "");
            return ERR_READFILE;
        }
        file = opened.get();
    }
    FreeOnExit block;
    const int64_t known = GetFileSize(file);
    size_t length = 0;
    if (known == kUnknownFileSize) {
        if (int err = ReadUnknownSize(file, block, &length)) return err;
    } else if (known < 0 || static_cast<uint64_t>(known) > SIZE_MAX - extra) {
        return ERR_MEM;
    } else {
        length = static_cast<size_t>(known);
    }
    if (length + extra > 0) {
        void* sized = std::realloc(block.block, length + extra);
        if (!sized) return ERR_MEM;
        block.block = sized;
        if (known != kUnknownFileSize && FileRead(file, sized, length) != length) return ERR_READ;
    }
    *data = block.block;
    block.block = nullptr;
    if (size) *size = static_cast<int64_t>(length);
    return 0;
}

int CopyFileContents(const char* source, const char* adapterTag, const char* destination, qbFile* file) {
    qbFilePtr opened;
    if (file) {
        FileSeek(file, 0, kSeekBeginning);
    } else {
        opened.reset(FileOpen(source, kFileModeRead | kFileModeAdapters, adapterTag));
        if (!opened) {
            SetErrorDetail(source ? source : "");
            return ERR_READFILE;
        }
        file = opened.get();
    }
    qbReplaceOptions options;
    options.source = source;
    qbReplaceFile target;
    if (int err = BeginReplaceFile(destination, options, &target)) return err;
    std::array<char, kBlockSize> buffer;
    const int64_t size = GetFileSize(file);
    int64_t remaining = size;
    for (;;) {
        size_t want = buffer.size();
        if (size != kUnknownFileSize) {
            if (remaining <= 0) break;
            if (remaining < static_cast<int64_t>(want)) want = static_cast<size_t>(remaining);
        }
        const size_t got = FileRead(file, buffer.data(), want);
        if (got && FileWrite(target.file.get(), buffer.data(), got) != got) return ERR_WRITE;
        remaining -= static_cast<int64_t>(got);
        if (got < want) {
            if (size != kUnknownFileSize || FileReadFailed(file)) return ERR_READ;
            break;
        }
    }
    return CommitReplaceFile(&target);
}
