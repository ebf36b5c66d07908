// Reading an applet file into the applet record. Every size and count read
// from the file is checked against the bytes that are left before it is used,
// so a damaged or hostile applet ends with an error code, never an overrun.
#include "core/appletload.h"

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include <unistd.h>

#include "core/applet.h"
#include "core/chars.h"
#include "core/errors.h"
#include "core/file.h"
#include "core/linkeddata.h"
#include "core/startup.h"
#include "platform/platform.h"

namespace {

constexpr int kLastTag = 34;
constexpr size_t kLabelNameSize = 1024;

// Sequential reads of the container with the position and the file size known,
// so that no size read from the file is trusted before it is checked.
// A string longer than its field, or cut off by the end of the file, is refused
// with ERR_READ like any other short read.
class SectionReader {
public:
    SectionReader(qbFile* file, int64_t position, int64_t size) : file_(file), pos_(position), size_(size) {}

    uint64_t Remaining() const { return pos_ < size_ ? static_cast<uint64_t>(size_ - pos_) : 0; }
    bool AtEnd() const { return pos_ >= size_; }

    int Bytes(void* out, uint64_t n) {
        if (n > Remaining()) return ERR_READ;
        size_t got = FileRead(file_, out, static_cast<size_t>(n));
        pos_ += static_cast<int64_t>(got);
        return got == n ? 0 : ERR_READ;
    }

    int Skip(uint64_t n) {
        if (n > Remaining()) return ERR_READ;
        if (FileSeek(file_, static_cast<int64_t>(n), kSeekCurrent) < 0) return ERR_READ;
        pos_ += static_cast<int64_t>(n);
        return 0;
    }

    int U8(uint8_t& v) { return Bytes(&v, 1); }

    int U32(uint32_t& v) {
        unsigned char b[4];
        if (int err = Bytes(b, 4)) return err;
        v = (uint32_t{b[0]} << 24) | (uint32_t{b[1]} << 16) | (uint32_t{b[2]} << 8) | b[3];
        return 0;
    }

    // A NUL-ended string that must fit a field of fieldSize bytes with its NUL.
    int CString(std::string& out, size_t fieldSize) {
        out.clear();
        for (;;) {
            uint8_t c;
            if (int err = U8(c)) return err;
            if (c == 0) return 0;
            if (out.size() + 1 >= fieldSize) return ERR_READ;
            out += static_cast<char>(c);
        }
    }

    int CString(char* field, size_t fieldSize) {
        std::string s;
        if (int err = CString(s, fieldSize)) return err;
        std::memcpy(field, s.c_str(), s.size() + 1);
        return 0;
    }

private:
    qbFile* file_;
    int64_t pos_;
    int64_t size_;
};

struct LoadState {
    ScriptState* L;
    qbCommandLine* cl;
    qbApplet* applet;
    SectionReader& in;
    bool bodyRead = false;
};

int ReadVersion(LoadState& s) {
    uint8_t major, minor;
    if (int err = s.in.U8(major)) return err;
    if (int err = s.in.U8(minor)) return err;
    if (major > 6 || (major == 6 && minor >= 2)) {
        char detail[32];
        std::snprintf(detail, sizeof detail, "%d.%d", major, minor);
        SetErrorDetail(detail);
        return ERR_APPLETVERSION;
    }
    s.applet->versionMajor = major;
    s.applet->versionMinor = minor;
    return 0;
}

char* HeaderField(qbApplet* applet, int tag) {
    switch (tag) {
    case 11: return applet->title;
    case 12: return applet->version;
    case 13: return applet->copyright;
    case 14: return applet->author;
    case 15: return applet->description;
    case 34: return applet->identifier;
    default: return nullptr;
    }
}

int ReadHeaderString(LoadState& s, int tag) {
    char* field = HeaderField(s.applet, tag);
    if (int err = s.in.CString(field, kHeaderStringSize)) return err;
    // The compiler marks an unset version string with 0xFF.
    if (tag == 12 && static_cast<unsigned char>(field[0]) == 0xFF) field[0] = '$';
    return 0;
}

int ReadLabels(LoadState& s) {
    uint32_t count;
    if (int err = s.in.U32(count)) return err;
    // Each label takes at least its value and the NUL of its name.
    if (count > s.in.Remaining() / 5) return ERR_READ;
    ScriptState* L = s.L;
    VmPushString(L, "labels");
    VmPushNewTable(L);
    int err = 0;
    std::string name;
    for (uint32_t i = 0; i < count && !err; ++i) {
        uint32_t value;
        if ((err = s.in.U32(value)) != 0) break;
        if ((err = s.in.CString(name, kLabelNameSize)) != 0) break;
        StrToLower(name.data());
        VmPushLString(L, name.data(), name.size());
        VmPushNumber(L, static_cast<int32_t>(value));
        VmSetTableAt(L, -3);
    }
    if (err) {
        VmSetTop(L, -3);
        return err;
    }
    VmSetTableAt(L, kRegistryIndex);
    return 0;
}

int ReadIncludeTable(LoadState& s) {
    uint32_t count;
    if (int err = s.in.U32(count)) return err;
    // Three numbers and two NULs at least per entry.
    if (count > s.in.Remaining() / 14) return ERR_READ;
    auto& table = s.applet->includeTable;
    for (uint32_t i = 0; i < count; ++i) {
        qbIncludeEntry e;
        if (int err = s.in.U32(e.firstLine)) return err;
        if (int err = s.in.U32(e.lastLine)) return err;
        if (int err = s.in.U32(e.lineOffset)) return err;
        if (int err = s.in.CString(e.fileName, kPathSize)) return err;
        if (int err = s.in.CString(e.sourceChunkName, kPathSize)) return err;
        table.push_back(std::move(e));
    }
    return 0;
}

int ReadScriptBody(LoadState& s) {
    uint32_t size;
    if (int err = s.in.U32(size)) return err;
    if (size > s.in.Remaining()) return ERR_READ;
    std::vector<uint8_t> body(size);
    if (int err = s.in.Bytes(body.data(), size)) return err;
    s.applet->scriptBody = std::move(body);
    s.applet->scriptSize = size;
    s.bodyRead = true;
    return 0;
}

int ReadSection(LoadState& s, int tag) {
    switch (tag) {
    case 0: {
        uint32_t length;
        if (int err = s.in.U32(length)) return err;
        return s.in.Skip(length);
    }
    case 1: return ReadScriptBody(s);
    case 9: return ReadLabels(s);
    case 10: return ReadVersion(s);
    case 11:
    case 12:
    case 13:
    case 14:
    case 15:
    case 34: return ReadHeaderString(s, tag);
    case 27: return ReadIncludeTable(s);
    default: return ERR_UNKNOWNSEC;
    }
}

int ReadSections(LoadState& s) {
    while (!s.bodyRead) {
        uint8_t tag;
        if (s.in.AtEnd() || s.in.U8(tag) != 0) return ERR_UNEXPECTEDEOF;
        if (tag > kLastTag) return ERR_UNKNOWNSEC;
        if (int err = ReadSection(s, tag)) return err;
    }
    return 0;
}

bool SameMagic(const unsigned char* b, const char* magic) { return std::memcmp(b, magic, 4) == 0; }

void EnterScriptFolder(const char* path) {
    std::string folder(path, static_cast<size_t>(GetPathFilePart(path) - path));
    while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
    if (!folder.empty() && chdir(folder.c_str()) != 0) {
        // Relative names then resolve against the folder the player started in.
    }
}

// "script" names the source the player runs; it only ever runs applets.
struct ScriptEntryReset {
    ScriptState* L;
    ~ScriptEntryReset() { VmRegistrySetString(L, "script", ":none:"); }
};

// Opens the container, checks its magic and reads its sections.
int ReadAppletFile(ScriptState* L, qbCommandLine* cl, qbApplet* applet) {
    qbFilePtr f(FileOpen(cl->scriptPath, kFileModeRead, nullptr));
    if (!f) {
        SetErrorDetail(cl->scriptPath);
        return ERR_READFILE;
    }
    ScriptEntryReset reset{L};
    int64_t size = GetFileSize(f.get());
    int64_t base = LinkedDataOffset;
    if (size < 0 || FileSeek(f.get(), base, kSeekBeginning) < 0) return ERR_READ;
    if (size - base > 4) {
        unsigned char magic[4];
        if (FileRead(f.get(), magic, 4) != 4) return ERR_READ;
        // Compressed applets need the pack-file reader, which this player lacks.
        if (SameMagic(magic, "QBZ\0")) return ERR_UNKNOWNSEC;
        if (SameMagic(magic, "QBA\0")) cl->appletFlag = 1;
        FileSeek(f.get(), base, kSeekBeginning);
    }
    if (!cl->appletFlag) {
        SetErrorDetail(FilePartEx(cl->scriptPath));
        return ERR_NOAPPLET;
    }

    applet->appletFlag = 1;
    if (FileSeek(f.get(), 4, kSeekCurrent) < 0) return ERR_READ;
    SectionReader in(f.get(), base + 4, size);
    LoadState state{L, cl, applet, in};
    return ReadSections(state);
}

}  // namespace

int CheckAppletFile(const char* path, int* compressed) {
    qbFilePtr f(FileOpen(path, kFileModeRead, nullptr));
    if (!f) {
        SetErrorDetail(path);
        return ERR_FILEEXIST;
    }
    unsigned char magic[4];
    if (FileRead(f.get(), magic, 4) != 4) return ERR_READ;
    bool packed = SameMagic(magic, "QBZ\0");
    if (!packed && !SameMagic(magic, "QBA\0")) {
        SetErrorDetail(path);
        return ERR_NOAPPLET;
    }
    if (compressed) *compressed = packed;
    return 0;
}

void ReadAppletHeaderStrings(const unsigned char* data, size_t size, qbApplet* applet) {
    size_t i = 4;
    while (i < size) {
        int tag = data[i++];
        if (tag == 10) {
            i += 2;
        } else if (tag == 29) {
            continue;
        } else if (char* field = HeaderField(applet, tag)) {
            const void* nul = std::memchr(data + i, 0, size - i);
            if (!nul) return;
            size_t len = static_cast<size_t>(static_cast<const unsigned char*>(nul) - (data + i));
            if (len >= kHeaderStringSize) return;
            std::memcpy(field, data + i, len + 1);
            if (tag == 12 && data[i] == 0xFF) field[0] = '$';
            i += len + 1;
        } else {
            return;
        }
    }
}

int LoadScriptOrApplet(ScriptState* L, qbCommandLine* cl, qbApplet* applet) {
    char full[PATH_MAX];
    if (realpath(cl->scriptPath, full) && std::strlen(full) < sizeof cl->scriptPath)
        std::memcpy(cl->scriptPath, full, std::strlen(full) + 1);
    if (qbFile* probe = FileOpen(cl->scriptPath, kFileModeRead, nullptr)) {
        FileClose(probe);
    } else {
        SetErrorDetail(cl->scriptPath);
        return ERR_FILEEXIST;
    }

    EnterScriptFolder(cl->scriptPath);
    PrintMessage(GetMessageText(MSG_OPENINGSCRIPT), cl->scriptPath, 1);
    if (int err = ReadAppletFile(L, cl, applet)) {
        PrintFailedMessage();
        return err;
    }
    PrintDoneMessage();

    if (!DataIsLinked && !cl->quiet) {
        double n = static_cast<double>(applet->preprocessorList.size());
        StartupProgress.step = 80.0 / (n + 2.0);
        StartupProgress.progress = 20.0 + StartupProgress.step;
        if (CheckUserBreak()) return ERR_USERABORT;
    }
    return 0;
}
