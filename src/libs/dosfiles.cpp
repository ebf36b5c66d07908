// The file objects of the dos library: opening and closing, and the byte,
// number and line input and output on them.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <new>
#include <stdexcept>
#include <string>

#include "core/errcodes.h"
#include "core/errors.h"
#include "core/file.h"
#include "core/fileinfo.h"
#include "core/linkedfile.h"
#include "core/numbers.h"
#include "core/replacefile.h"
#include "libs/blockstring.h"
#include "libs/doscommands.h"
#include "libs/dos.h"

namespace {

enum : int32_t { kAccessRead = 1, kAccessWrite = 2, kAccessReadWrite = 4 };

int Lookup(ScriptState* L, int idx, qbFileObject** out) { return GetFileRecord(GetObjectIDArg(L, idx), out); }

int ForReading(ScriptState* L, qbFileObject** out) {
    if (int err = Lookup(L, 1, out)) return err;
    return (*out)->access == kAccessWrite ? ERR_WRITEONLY : 0;
}

int ForWriting(ScriptState* L, qbFileObject** out) {
    if (int err = Lookup(L, 1, out)) return err;
    return (*out)->access == kAccessRead ? ERR_READONLY : 0;
}

// One byte in the library's I/O mode, or -1 at the end or on a failed read
// (FileReadFailed tells which). A plain file's byte reader counts on past
// its end, as fgetc does, so a read of the window's next byte goes through
// FileRead, which leaves the position where the read stopped.
int GetByte(qbFile* file) {
    if (GetDosIOMode() == kDosIOBuffered && (file->getPtr < file->getEnd || !file->stdio || file->adapter))
        return FileGetC(file);
    uint8_t byte;
    return FileReadBytes(file, &byte, 1) == 1 ? byte : -1;
}

// Reads exactly n bytes; a short read leaves the position where it stopped.
int ReadExactly(qbFile* file, void* buffer, size_t n) { return FileRead(file, buffer, n) == n ? 0 : ERR_READ; }

int WriteExactly(qbFile* file, const void* buffer, size_t n) {
    return FileWrite(file, buffer, n) == n ? 0 : ERR_WRITE;
}

// Numbers go to integers by truncation; what lies beyond 64 bits is cut.
uint64_t ToBits(double value) {
    if (!std::isfinite(value)) return 0;
    value = std::trunc(value);
    if (value >= 9223372036854775807.0) return static_cast<uint64_t>(INT64_MAX);
    if (value <= -9223372036854775808.0) return static_cast<uint64_t>(INT64_MIN);
    return static_cast<uint64_t>(static_cast<int64_t>(value));
}

// Big-endian unless little is set.
void Encode(uint64_t value, int size, bool little, uint8_t* out) {
    for (int i = 0; i < size; ++i) {
        const int shift = 8 * (little ? i : size - 1 - i);
        out[i] = static_cast<uint8_t>(value >> shift);
    }
}

uint64_t Decode(const uint8_t* in, int size, bool little) {
    uint64_t v = 0;
    for (int i = 0; i < size; ++i) {
        const int shift = 8 * (little ? i : size - 1 - i);
        v |= static_cast<uint64_t>(in[i]) << shift;
    }
    return v;
}

bool LittleArg(ScriptState* L, int idx) { return VmOptNumber(L, idx, 0) != 0; }

int ReadNumber(ScriptState* L, int size, bool little, uint64_t* out) {
    qbFileObject* f;
    if (int err = ForReading(L, &f)) return err;
    uint8_t bytes[8];
    if (int err = ReadExactly(f->file, bytes, static_cast<size_t>(size))) return err;
    *out = Decode(bytes, size, little);
    return 0;
}

int WriteNumber(ScriptState* L, uint64_t value, int size, bool little) {
    qbFileObject* f;
    if (int err = ForWriting(L, &f)) return err;
    uint8_t bytes[8];
    Encode(value, size, little, bytes);
    return WriteExactly(f->file, bytes, static_cast<size_t>(size));
}

int FloatSizeArg(ScriptState* L, int idx, int* size) {
    const double s = VmOptNumber(L, idx, 8);
    if (s != 4 && s != 8) return ERR_WRONGUSAGE;
    *size = static_cast<int>(s);
    return 0;
}

}  // namespace

int cmdOpenFile(ScriptState* L) {
    CheckArgCount(L, 2, 4, 0, 0);
    const NewObjectID id = GetNewObjectIDArg(L, 1);
    size_t nameLength = 0;
    VmCheckString(L, 2, &nameLength);
    // Start-up opens the files an applet declares with mode 0: read.
    int32_t mode = ClampToInt32(VmOptNumber(L, 3, kDosModeRead));
    if (mode == 0) mode = kDosModeRead;
    int32_t access;
    const char* name;
    if (mode == kDosModeRead) {
        access = kAccessRead;
        name = ResolveLinkedFileArg(L, 2, 0, nullptr);
    } else if (mode == kDosModeWrite || mode == kDosModeReadWrite) {
        access = mode == kDosModeWrite ? kAccessWrite : kAccessReadWrite;
        name = VmToCString(L, 2);
    } else {
        return ERR_WRONGUSAGE;
    }
    if (nameLength == 0) return ERR_WRONGUSAGE;
    const char* adapter = nullptr;
    if (VmGetTop(L) >= 4 && VmType(L, 4) != kTypeNil) {
        VmCheckTable(L, 4);
        GetTableFieldString(L, 4, "adapter", &adapter, nullptr);
    }
    if (!id.chooseFlag) {
        qbFileObject* old;
        if (GetFileRecord(ObjectID{id.id, nullptr}, &old) == 0) FreeFileRecord(L, old);
        SetErrorArgIndex(0);
    }
    const std::string nameCopy = name;
    // Writing in place would cut what a live object reads.
    if (access != kAccessRead)
        if (int err = CheckWriteTarget(nameCopy.c_str(), nullptr)) return err;
    PrintMessage(GetMessageText(MSG_OPENINGFILE), VmToCString(L, 2), 1);
    // A FIFO's reader waits for its writer here, as cat does.
    qbFilePtr file(FileOpen(nameCopy.c_str(), static_cast<uint32_t>(access) | kFileModeAdapters | kFileModeAnyKind,
                            adapter));
    if (!file) {
        PrintFailedMessage();
        SetErrorDetail(VmToCString(L, 2));
        return access == kAccessRead ? ERR_READFILE : ERR_WRITEFILE;
    }
    std::unique_ptr<qbFileObject> record(new (std::nothrow) qbFileObject);
    if (!record) return ERR_MEM;
    try {
        record->name = nameCopy;
    } catch (const std::bad_alloc&) {
        return ERR_MEM;
    }
    PrintDoneMessage();
    record->type = kObjectTypeFile;
    record->id = id.chooseFlag ? 0 : id.id;
    record->handle = id.chooseFlag ? record.get() : nullptr;
    record->openMode = mode;
    record->access = access;
    record->file = file.release();
    if (int err = AppendFileRecord(record.get())) {
        FileClose(record->file);
        return err;
    }
    qbFileObject* r = record.release();
    if (!id.chooseFlag) return 0;
    return PushObjectID(L, IDOf(*r));
}

int cmdCloseFile(ScriptState* L) {
    CheckArgCount(L, 1, 1, 0, 0);
    qbFileObject* f;
    if (int err = Lookup(L, 1, &f)) return err;
    return FreeFileRecord(L, f);
}

int cmdEof(ScriptState* L) {
    CheckArgCount(L, 1, 1, 0, 0);
    qbFileObject* f;
    if (int err = Lookup(L, 1, &f)) return err;
    VmPushNumber(L, FileEof(f->file) ? 1 : 0);
    return 1;
}

int cmdReadChr(ScriptState* L) {
    CheckArgCount(L, 1, 1, 0, 0);
    qbFileObject* f;
    if (int err = ForReading(L, &f)) return err;
    const int c = GetByte(f->file);
    if (c < 0) return ERR_READ;
    VmPushNumber(L, c);
    return 1;
}

int cmdReadShort(ScriptState* L) {
    CheckArgCount(L, 1, 2, 0, 0);
    uint64_t v;
    if (int err = ReadNumber(L, 2, LittleArg(L, 2), &v)) return err;
    VmPushNumber(L, static_cast<uint16_t>(v));
    return 1;
}

int cmdReadInt(ScriptState* L) {
    CheckArgCount(L, 1, 2, 0, 0);
    uint64_t v;
    if (int err = ReadNumber(L, 4, LittleArg(L, 2), &v)) return err;
    VmPushNumber(L, static_cast<int32_t>(static_cast<uint32_t>(v)));
    return 1;
}

int cmdReadFloat(ScriptState* L) {
    CheckArgCount(L, 1, 3, 0, 0);
    int size;
    if (int err = FloatSizeArg(L, 2, &size)) return err;
    uint64_t v;
    if (int err = ReadNumber(L, size, LittleArg(L, 3), &v)) return err;
    if (size == 4) {
        const uint32_t bits = static_cast<uint32_t>(v);
        float x;
        std::memcpy(&x, &bits, sizeof x);
        VmPushNumber(L, x);
    } else {
        double x;
        std::memcpy(&x, &v, sizeof x);
        VmPushNumber(L, x);
    }
    return 1;
}

int cmdReadString(ScriptState* L) {
    CheckArgCount(L, 2, 2, 0, 0);
    qbFileObject* f;
    if (int err = ForReading(L, &f)) return err;
    const double wanted = VmCheckNumber(L, 2);
    if (!(wanted >= 0) || wanted > 9.0e15) return ERR_WRONGUSAGE;
    // No string longer than the VM's longest is read at all.
    if (wanted > static_cast<double>(kLongestLine)) return ERR_MEM;
    const uint64_t length = static_cast<uint64_t>(wanted);
    // The result grows a block per read, so that a huge length on a short
    // file fails before it allocates.
    qbBlockString text;
    try {
        while (text.size < length) {
            const size_t piece = static_cast<size_t>(std::min<uint64_t>(length - text.size, kStringBlock));
            const size_t got = FileRead(f->file, AppendBlock(&text, piece), piece);
            if (got != piece) return ERR_READ;
        }
        PushBlockString(L, &text);
    } catch (const std::bad_alloc&) {
        return ERR_MEM;
    } catch (const std::length_error&) {
        return ERR_MEM;
    }
    return 1;
}

int cmdReadLine(ScriptState* L) {
    CheckArgCount(L, 1, 1, 0, 0);
    qbFileObject* f;
    if (int err = ForReading(L, &f)) return err;
    qbBlockString line;
    try {
        if (int err = ReadFileLine(f->file, kLongestLine, &line)) return err;
        PushBlockString(L, &line);
    } catch (const std::bad_alloc&) {
        return ERR_MEM;
    }
    return 1;
}

int ReadFileLine(qbFile* file, size_t longest, qbBlockString* line) {
    *line = {};
    try {
        for (;;) {
            const int c = GetByte(file);
            if (c < 0) return FileReadFailed(file) ? ERR_READ : 0;
            if (c == '\n') return 0;
            if (c == '\r') continue;
            if (line->size >= longest) return ERR_MEM;
            AppendByte(line, static_cast<char>(c));
        }
    } catch (const std::bad_alloc&) {
        return ERR_MEM;
    } catch (const std::length_error&) {
        return ERR_MEM;
    }
}

int cmdWriteChr(ScriptState* L) {
    CheckArgCount(L, 2, 2, 0, 0);
    return WriteNumber(L, ToBits(VmCheckNumber(L, 2)), 1, false);
}

int cmdWriteShort(ScriptState* L) {
    CheckArgCount(L, 2, 3, 0, 0);
    return WriteNumber(L, ToBits(VmCheckNumber(L, 2)), 2, LittleArg(L, 3));
}

int cmdWriteInt(ScriptState* L) {
    CheckArgCount(L, 2, 3, 0, 0);
    return WriteNumber(L, ToBits(VmCheckNumber(L, 2)), 4, LittleArg(L, 3));
}

int cmdWriteFloat(ScriptState* L) {
    CheckArgCount(L, 2, 4, 0, 0);
    const double value = VmCheckNumber(L, 2);
    int size;
    if (int err = FloatSizeArg(L, 3, &size)) return err;
    uint64_t bits;
    if (size == 4) {
        const float single = static_cast<float>(value);
        uint32_t b;
        std::memcpy(&b, &single, sizeof b);
        bits = b;
    } else {
        std::memcpy(&bits, &value, sizeof bits);
    }
    return WriteNumber(L, bits, size, LittleArg(L, 4));
}

int cmdWriteString(ScriptState* L) {
    CheckArgCount(L, 2, 3, 0, 0);
    size_t length = 0;
    const char* text = VmCheckString(L, 2, &length);
    const double wanted = VmOptNumber(L, 3, 0);
    if (wanted < 0 || wanted > static_cast<double>(length)) return ERR_STRTOOSHORT;
    if (wanted > 0) length = static_cast<size_t>(wanted);
    qbFileObject* f;
    if (int err = ForWriting(L, &f)) return err;
    return WriteExactly(f->file, text, length);
}

int cmdWriteLine(ScriptState* L) {
    CheckArgCount(L, 2, 2, 0, 0);
    const char* text = VmCheckString(L, 2, nullptr);
    qbFileObject* f;
    if (int err = ForWriting(L, &f)) return err;
    if (int err = WriteExactly(f->file, text, std::strlen(text))) return err;
    return WriteExactly(f->file, "\n", 1);
}

int cmdSeek(ScriptState* L) {
    CheckArgCount(L, 2, 3, 0, 0);
    qbFileObject* f;
    if (int err = Lookup(L, 1, &f)) return err;
    const double position = VmCheckNumber(L, 2);
    const int mode = ClampToInt32(VmOptNumber(L, 3, kSeekBeginning));
    if (!std::isfinite(position) || std::fabs(position) > 9.2e18) return ERR_SEEKFILE;
    int64_t offset = static_cast<int64_t>(position);
    int how = mode;
    if (offset == -1 && mode == kSeekBeginning) {
        offset = 0;
        how = kSeekEnd;
    }
    return FileSeek(f->file, offset, how) < 0 ? ERR_SEEKFILE : 0;
}

int cmdFilePos(ScriptState* L) {
    CheckArgCount(L, 1, 1, 0, 0);
    qbFileObject* f;
    if (int err = Lookup(L, 1, &f)) return err;
    VmPushNumber(L, static_cast<double>(FileSeek(f->file, 0, kSeekCurrent)));
    return 1;
}

int cmdFileLength(ScriptState* L) {
    CheckArgCount(L, 1, 1, 0, 0);
    qbFileObject* f;
    if (int err = Lookup(L, 1, &f)) return err;
    int64_t size = GetFileSize(f->file);
    if (size < 0) {
        // A file opened for writing keeps no size: the end of it tells.
        const int64_t here = FileSeek(f->file, 0, kSeekCurrent);
        if (here >= 0 && FileSeek(f->file, 0, kSeekEnd) >= 0) size = FileSeek(f->file, here, kSeekBeginning);
    }
    VmPushNumber(L, static_cast<double>(size));
    return 1;
}

int cmdFlushFile(ScriptState* L) {
    CheckArgCount(L, 1, 1, 0, 0);
    qbFileObject* f;
    if (int err = Lookup(L, 1, &f)) return err;
    return FileFlush(f->file) ? 0 : ERR_WRITE;
}

int cmdSetIOMode(ScriptState* L) {
    CheckArgCount(L, 1, 1, 0, 0);
    const double mode = VmCheckNumber(L, 1);
    if (mode != kDosIOBuffered && mode != kDosIOUnbuffered) return ERR_WRONGUSAGE;
    SetDosIOMode(static_cast<int>(mode));
    return 0;
}

int cmdFileAttributes(ScriptState* L) {
    CheckArgCount(L, 1, 1, 0, 0);
    qbFileObject* f;
    if (int err = Lookup(L, 1, &f)) return err;
    qbFileInfo info;
    if (!GetFileInfo(f->file, &info)) return ERR_STAT;
    PushFileInfoTable(L, info);
    SetTableFieldString(L, "path", info.path && *info.path ? info.path : f->name.c_str());
    const uint32_t flags = GetFileFlags(f->file);
    SetTableFieldInt(L, "streaming", (flags & 1) ? 1 : 0);
    SetTableFieldInt(L, "noseek", (flags & 2) ? 1 : 0);
    return 1;
}
