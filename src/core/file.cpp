// The file layer's handle and its stdio back-end for ordinary files.
#include "core/file.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>

#include <sys/types.h>

#include "core/chars.h"

namespace {

const char* StdioModeText(uint32_t mode) {
    if (mode & kFileModeWrite) return "wb";
    if (mode & kFileModeReadWrite) return "r+b";
    return "rb";
}

void CopyPath(char* dest, const char* src) {
    size_t n = std::min(std::strlen(src), kFilePathSize - 1);
    std::memcpy(dest, src, n);
    dest[n] = 0;
}

std::unique_ptr<StdioFile> OpenStdioFile(const char* name, uint32_t mode) {
    auto rec = std::make_unique<StdioFile>();
    std::string path = MakeNativePath(name);
    if (path.empty()) path = name;
    const char* how = StdioModeText(mode);
    rec->stream = std::fopen(path.c_str(), how);
    if (!rec->stream && (mode & kFileModeReadWrite)) {
        // Read-and-write creates a missing file first.
        if (FILE* created = std::fopen(path.c_str(), "wb")) {
            std::fclose(created);
            rec->stream = std::fopen(path.c_str(), how);
        }
    }
    if (!rec->stream) return nullptr;
    char full[PATH_MAX];
    CopyPath(rec->path, realpath(path.c_str(), full) ? full : path.c_str());
    if ((mode & (kFileModeWrite | kFileModeReadWrite)) == 0) {
        if (fseeko(rec->stream, 0, SEEK_END) == 0) rec->size = ftello(rec->stream);
        fseeko(rec->stream, 0, SEEK_SET);
    }
    return rec;
}

// stdio needs a seek between a read and a write on the same stream.
void SwitchDirection(StdioFile* f, bool writing) {
    if (f->lastWasWrite != static_cast<int>(writing)) {
        fseeko(f->stream, 0, SEEK_CUR);
        f->lastWasWrite = writing;
    }
}

size_t StdioRead(StdioFile* f, void* buffer, size_t count) {
    if (!f->stream) return 0;
    if (f->limit) {
        int64_t left = f->size - f->position;
        if (left <= 0) return 0;
        if (static_cast<uint64_t>(left) < count) count = static_cast<size_t>(left);
    }
    SwitchDirection(f, false);
    size_t got = std::fread(buffer, 1, count, f->stream);
    f->position += static_cast<int64_t>(got);
    return got;
}

int StdioGetC(StdioFile* f) {
    if (!f->stream) return -1;
    if (f->limit && f->position >= f->size) return -1;
    SwitchDirection(f, false);
    int c = std::fgetc(f->stream);
    f->position++;
    return c == EOF ? -1 : c;
}

size_t StdioWrite(StdioFile* f, const void* buffer, size_t count) {
    if (!f->stream) return 0;
    SwitchDirection(f, true);
    size_t put = std::fwrite(buffer, 1, count, f->stream);
    f->position += static_cast<int64_t>(put);
    return put;
}

int64_t StdioSeek(StdioFile* f, int64_t offset, int mode) {
    if (!f->stream) return -1;
    int64_t previous = f->position;
    int64_t target;
    if (mode == kSeekBeginning) {
        target = f->base + offset;
    } else if (mode == kSeekCurrent) {
        target = f->base + f->position + offset;
    } else if (f->limit || f->size != kUnknownFileSize) {
        target = f->base + f->size + offset;
    } else {
        if (fseeko(f->stream, offset, SEEK_END) != 0) return -1;
        target = ftello(f->stream);
    }
    if (f->limit && target > f->base + f->size) target = f->base + f->size;
    if (target < 0 || fseeko(f->stream, target, SEEK_SET) != 0) return -1;
    f->position = target - f->base;
    f->lastWasWrite = 0;
    return previous;
}

}  // namespace

qbFile* FileOpen(const char* name, uint32_t mode, const char* adapterTag) {
    if (!name) return nullptr;
    // Only the inbuilt back-end exists: a tag must allow it.
    if (adapterTag && *adapterTag && StrCmpNoCase(adapterTag, "default") != 0 &&
        StrCmpNoCase(adapterTag, "inbuilt") != 0)
        return nullptr;
    auto file = std::make_unique<qbFile>();
    file->mode = mode;
    file->stdio = OpenStdioFile(name, mode);
    if (!file->stdio) return nullptr;
    return file.release();
}

int FileClose(qbFile* file) {
    std::unique_ptr<qbFile> owner(file);
    if (!owner || !owner->stdio || !owner->stdio->stream) return 0;
    return std::fclose(owner->stdio->stream) == 0;
}

size_t FileRead(qbFile* file, void* buffer, size_t count) {
    return file && file->stdio ? StdioRead(file->stdio.get(), buffer, count) : 0;
}

size_t FileWrite(qbFile* file, const void* buffer, size_t count) {
    return file && file->stdio ? StdioWrite(file->stdio.get(), buffer, count) : 0;
}

int FileGetC(qbFile* file) { return file && file->stdio ? StdioGetC(file->stdio.get()) : -1; }

int FilePutC(qbFile* file, int c) {
    unsigned char byte = static_cast<unsigned char>(c);
    return FileWrite(file, &byte, 1) == 1;
}

int64_t FileSeek(qbFile* file, int64_t offset, int mode) {
    return file && file->stdio ? StdioSeek(file->stdio.get(), offset, mode) : -1;
}

int FileEof(qbFile* file) {
    if (!file || !file->stdio) return 1;
    // A size of all ones (not opened for reading) always counts as the end.
    return file->stdio->position >= file->stdio->size;
}

int FileFlush(qbFile* file) {
    if (!file || !file->stdio || !file->stdio->stream) return 0;
    return std::fflush(file->stdio->stream) == 0;
}

int64_t GetFileSize(qbFile* file) {
    int64_t p = FileSeek(file, 0, kSeekEnd);
    if (p < 0) return kUnknownFileSize;
    return FileSeek(file, p, kSeekBeginning);
}

int FileReadInt16BE(qbFile* file) {
    int hi = FileGetC(file);
    int lo = FileGetC(file);
    return static_cast<int16_t>(static_cast<uint16_t>(((hi & 0xFF) << 8) | (lo & 0xFF)));
}

int FileReadUInt16BE(qbFile* file) {
    int hi = FileGetC(file);
    int lo = FileGetC(file);
    return ((hi & 0xFF) << 8) | (lo & 0xFF);
}

uint32_t FileReadUInt32BE(qbFile* file) {
    uint32_t v = 0;
    for (int i = 0; i < 4; ++i) v = (v << 8) | static_cast<uint32_t>(FileGetC(file) & 0xFF);
    return v;
}
