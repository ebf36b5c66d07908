// Table 2 of the plugin base: files and directories through the player's
// file layer, so that plugins open what scripts open (applet parts, memory
// files, file adapters) with the same names.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "core/chars.h"
#include "core/chunkname.h"
#include "core/dir.h"
#include "core/errcodes.h"
#include "core/file.h"
#include "core/fileinfo.h"
#include "core/fileops.h"
#include "core/memfile.h"
#include "core/memory.h"
#include "core/vectorname.h"
#include "plugins/basetables.h"

namespace {

// Copies text into the caller's buffer: 1, or 0 (and an empty buffer) when
// it does not fit.
int CopyOut(const std::string& text, char* to, size_t size) {
    if (to == nullptr || size == 0) return 0;
    if (text.size() >= size) {
        to[0] = 0;
        return 0;
    }
    std::memcpy(to, text.c_str(), text.size() + 1);
    return 1;
}

uint32_t OpenMode(uint32_t mode) {
    uint32_t host = kFileModeAdapters;
    if (mode & QBFILE_WRITE) host |= kFileModeWrite;
    if (mode & QBFILE_READWRITE) host |= kFileModeReadWrite;
    if ((mode & QBFILE_READ) || !(host & (kFileModeWrite | kFileModeReadWrite))) host |= kFileModeRead;
    return host;
}

// While the first vector loader loads a part of the applet, the virtual
// name it was handed stands for the part's real name.
const char* OpenName(const char* name) {
    const char* real = GetLoaderCallFileName();
    if (real && name && std::strncmp(name, ":::chunk", 8) == 0 && std::strcmp(name, real) != 0) return real;
    return name;
}

qbFile* Open(const char* name, uint32_t mode, const char* adapterTag) {
    return name ? FileOpen(OpenName(name), OpenMode(mode), adapterTag) : nullptr;
}

int SeekC(qbFile* file, int64_t offset, int whence) {
    int mode;
    switch (whence) {
        case SEEK_SET: mode = kSeekBeginning; break;
        case SEEK_CUR: mode = kSeekCurrent; break;
        case SEEK_END: mode = kSeekEnd; break;
        default: return -1;
    }
    return file && FileSeek(file, offset, mode) >= 0 ? 0 : -1;
}
int64_t Seek(qbFile* file, int64_t offset, int mode) { return file ? FileSeek(file, offset, mode) : -1; }
size_t Read(qbFile* file, void* to, size_t count) { return file && to ? FileRead(file, to, count) : 0; }
size_t Write(qbFile* file, const void* from, size_t count) { return file && from ? FileWrite(file, from, count) : 0; }
int GetC(qbFile* file) { return FileGetC(file); }
int PutC(qbFile* file, int c) { return file ? FilePutC(file, c) : 0; }
int Eof(qbFile* file) { return file ? FileEof(file) : 1; }
int Flush(qbFile* file) { return file ? FileFlush(file) : 0; }
uint32_t Flags(const qbFile* file) { return file ? GetFileFlags(file) : 0; }
int Close(qbFile* file) { return file ? FileClose(file) : 0; }

int Remove(const char* name) { return name ? RemoveFile(name) : 0; }
int MakeDir(const char* name) { return name ? CreateDir(name) : ERR_CREATEDIR; }
int Rename(const char* from, const char* to) { return from && to ? ReplaceRenameFile(from, to) : 0; }

qbDirHandle* OpenDir(const char* name, const char* adapterTag) {
    return name ? DirOpen(name, kDirLockRead | kDirUseAdapters, adapterTag) : nullptr;
}
void CloseDir(qbDirHandle* dir) {
    if (dir) DirClose(dir);
}
void EndCloseDir(qbDirHandle*) {}
int DirPath(qbDirHandle* dir, char* to, size_t size) {
    return dir ? CopyOut(GetDirHandlePath(dir), to, size) : 0;
}
int CheckDir(qbDirHandle* dir, int* isDirectory) { return dir ? DirCheck(dir, isDirectory) : ERR_WRONGUSAGE; }

void FillEntry(const char* name, const qbFileInfo& info, qbDirEntry* out) {
    out->name = name;
    out->isDirectory = info.kind == 1;
    out->protection = info.protection;
    out->size = info.size;
    out->modified = TimeToDate(info.modifyTime);
}
int ExamineDir(qbDirHandle* dir, qbDirEntry* out) {
    if (dir == nullptr || out == nullptr) return 0;
    qbFileInfo info;
    if (ExamineDirHandle(dir, &info) != 0) return 0;
    FillEntry(FilePartEx(dir->name.c_str()), info, out);
    return 1;
}
int NextEntry(qbDirHandle* dir, qbDirEntry* out) {
    if (dir == nullptr || out == nullptr) return 0;
    const char* name = nullptr;
    int isDir = 0;
    qbFileInfo info;
    if (!ReadDirEntry(dir, &name, &isDir, &info)) return 0;
    FillEntry(name, info, out);
    out->isDirectory = isDir;
    return 1;
}

int CurrentDir(char* to, size_t size) { return CopyOut(GetCurrentDirPath(), to, size); }
void TempName(char* to, size_t size) {
    if (to && size) CopyOut(MakeTempFileName(), to, size);
}
void TempNameExt(const char* name, char* to, size_t size) {
    if (to && size) CopyOut(MakeTempFileNameWithExt(name ? name : ""), to, size);
}
int JoinPart(char* path, const char* name, size_t size) { return path && name && size ? AddPart(path, name, size) : 0; }
const char* FilePart(const char* path) { return path ? GetPathFilePart(path) : nullptr; }
const char* FilePartOf(const char* path) { return path ? FilePartEx(path) : nullptr; }

int PartName(const char* name, int64_t* offset, int64_t* length) {
    qbChunkName chunk;
    if (name == nullptr || !ParseChunkName(name, &chunk) || chunk.stream) return 0;
    if (offset) *offset = static_cast<int64_t>(chunk.offset);
    if (length) *length = static_cast<int64_t>(chunk.size);
    return 1;
}

int ResolveName(const char* name, char* to, size_t size, int64_t* offset, int64_t* length) {
    if (name == nullptr) return 0;
    qbChunkName chunk;
    if (ParseChunkName(name, &chunk) && !chunk.stream) {
        if (!CopyOut(chunk.containerPath, to, size)) return 0;
        if (offset) *offset = static_cast<int64_t>(chunk.offset);
        if (length) *length = static_cast<int64_t>(chunk.size);
        return 1;
    }
    if (!CopyOut(name, to, size)) return 0;
    if (offset) *offset = -1;
    if (length) *length = -1;
    return 1;
}

// The host's buffers behind slot 24's strings without the copy flag; the
// next call of the same thread replaces them.
thread_local std::string examinedPath;
thread_local std::string examinedName;

char* Duplicate(const std::string& text) {
    char* copy = static_cast<char*>(AllocMemory(text.size() + 1, 0));
    if (copy) std::memcpy(copy, text.c_str(), text.size() + 1);
    return copy;
}

int ExamineFile(qbFile* file, qbAdapterStat* out, uint32_t flags) {
    if (file == nullptr || out == nullptr) return 0;
    qbFileInfo info;
    if (!GetFileInfo(file, &info)) return 0;
    const std::string path = info.path ? info.path : "";
    const std::string name = info.name[0] ? std::string(info.name) : std::string(FilePartEx(path.c_str()));
    qbAdapterStat st;
    st.type = info.kind;
    st.size = info.size;
    st.protection = info.protection;
    st.modified = TimeToDate(info.modifyTime);
    st.accessed = TimeToDate(info.accessTime);
    st.third = TimeToDate(info.changeTime);
    st.extra[0] = info.extra[0];
    st.extra[1] = info.extra[1];
    if (flags & QBFILE_EXAMINE_COPY) {
        char* p = Duplicate(path);
        char* n = p ? Duplicate(name) : nullptr;
        if (n == nullptr) {
            FreeMemory(p);
            return 0;
        }
        st.path = p;
        st.name = n;
    } else {
        examinedPath = path;
        examinedName = name;
        st.path = examinedPath.c_str();
        st.name = examinedName.c_str();
    }
    *out = st;
    return 1;
}

int StatFile(const char* name, qbFileState* out) {
    if (name == nullptr || out == nullptr) return 0;
    qbPathInfo info;
    if (!GetPathInfo(name, &info, 1)) return 0;
    bool ok = false;
    auto when = [&ok](const qbDateRecord& date) {
        return qbTimeValue{static_cast<uint32_t>(DateToTime(date, &ok)), 0};
    };
    out->isDirectory = info.kind == 1;
    out->protection = info.protection;
    out->size = info.size;
    out->modified = when(info.modified);
    out->accessed = when(info.accessed);
    return 1;
}

int WriteMemory(const char* name, const void* data, size_t size, uint32_t flags) {
    if (name == nullptr || (data == nullptr && size > 0)) return ERR_WRONGUSAGE;
    if ((flags & QBFILE_WRITE_DIRECT) || size == 0) {
        qbFile* file = FileOpen(name, kFileModeWrite | kFileModeAdapters, nullptr);
        if (file == nullptr) return ERR_WRITEFILE;
        const bool whole = FileWrite(file, data, size) == size;
        const bool closed = FileClose(file) != 0;
        return whole && closed ? 0 : ERR_WRITE;
    }
    // Lent for the copy only, so that the name cannot outlive the block.
    if (int err = RegisterMemoryBuffer(data, size)) return err;
    const std::string source = MakeMemoryName(data, size);
    const int err = CopyFileContents(source.c_str(), nullptr, name, nullptr);
    UnregisterMemoryBuffer(data);
    return err;
}

qbFile* OpenTags(const char* name, uint32_t mode, const qbPluginTag* tags) {
    const char* adapterTag = nullptr;
    for (const qbPluginTag* t = tags; t && t->tag != 0; ++t)
        if (t->tag == QBFILE_TAG_ADAPTER) adapterTag = reinterpret_cast<const char*>(t->value);
    return Open(name, mode, adapterTag);
}

}  // namespace

const qbFilesTable kPluginFilesTable = {
    Open,        Close,       SeekC,      Read,       Write,       GetC,     PutC,      Eof,          // 0-7
    Remove,      OpenDir,     CloseDir,   DirPath,    ExamineDir,  CheckDir, EndCloseDir, NextEntry,  // 8-15
    MakeDir,     Rename,      CurrentDir, TempName,   JoinPart,    FilePart, FilePartOf,              // 16-22
    ResolveName, ExamineFile, Seek,       Flags,      StatFile,    WriteMemory,                       // 23-28
    PartName,    Flush,       TempNameExt, OpenTags,                                                  // 29-32
};
