// Opening an applet: plain or compressed, alone or appended to the executable;
// then its sections and icon block. Every size and offset read from the file
// is checked against the bytes that are there before it is used, so a damaged
// or hostile applet ends with an error code, never an overrun.
#include "core/appletload.h"

#include <sys/stat.h>

#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "core/applet.h"
#include "core/appletsections.h"
#include "core/chars.h"
#include "core/dir.h"
#include "core/errors.h"
#include "core/file.h"
#include "core/fileid.h"
#include "core/filenames.h"
#include "core/fileops.h"
#include "core/linkeddata.h"
#include "core/packfile.h"
#include "core/runstate.h"
#include "platform/platform.h"

qbTimerSettings TimerSettings;

namespace {

constexpr size_t kMagicSize = 4;
constexpr char kPlainMagic[kMagicSize + 1] = {'Q', 'B', 'A', '\0', '\0'};
// Names of files in memory or inside other files: no folder to enter.
constexpr char kVirtualNamePrefix[] = ":::";
constexpr double kLoaderProgressShare = 80.0;
constexpr double kScanProgressShare = 20.0;

bool SameMagic(const unsigned char* b, const char* magic) { return std::memcmp(b, magic, kMagicSize) == 0; }

bool IsVirtualName(const char* path) { return std::strncmp(path, kVirtualNamePrefix, 3) == 0; }

// The applet's path did not open: whatever is there but a regular file (a
// folder, a FIFO, a device) is no applet, and saying that nothing exists
// would send the user looking for a missing file. Asked of the name alone:
// opening a FIFO would wait for a writer.
int UnopenedApplet(const char* path) {
    SetErrorDetail(path);
    struct stat st;
    if (!IsVirtualName(path) && stat(NativePathOf(path).c_str(), &st) == 0 && !S_ISREG(st.st_mode))
        return ERR_NOAPPLET;
    qbPathInfo info;
    return GetPathInfo(path, &info, 0) && info.kind == 1 ? ERR_NOAPPLET : ERR_FILEEXIST;
}

bool CopyPath(char* field, size_t size, const std::string& path) {
    if (path.size() >= size) return false;
    std::memcpy(field, path.c_str(), path.size() + 1);
    return true;
}

std::string FolderOf(const char* path) {
    std::string folder(path, static_cast<size_t>(GetPathFilePart(path) - path));
    while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
    return folder;
}

void EnterWorkingFolder(const qbCommandLine* cl) {
    if (StartupFlags.noChdir) return;
    std::string folder;
    if (DataIsLinked) folder = FolderOf(cl->executablePath);
    else if (!IsVirtualName(cl->scriptPath)) folder = FolderOf(cl->scriptPath);
    // When the folder can't be entered, relative names resolve against the
    // folder the player started in.
    if (!folder.empty()) ChangeCurrentDir(folder.c_str());
}

// "script" names the source the player runs; it only ever runs applets.
struct ScriptEntryReset {
    ScriptState* L;
    ~ScriptEntryReset() { VmRegistrySetString(L, "script", ":none:"); }
};

// Where the icon block of a compressed applet lies: behind the stream, in the
// outer file.
struct OuterIcons {
    std::string path;
    int64_t position = -1;
};

// Inflates the compressed applet at base of f into a temporary file and
// opens that instead.
int OpenInflatedApplet(qbFilePtr& f, int64_t base, OuterIcons& icons, std::string& container) {
    std::string temp = MakeTempFileName();
    if (temp.empty()) {
        SetErrorDetail(GetTempDir().c_str());
        return ERR_WRITEFILE;
    }
    if (int err = AddTemporaryFile(temp.c_str())) return err;
    uint64_t consumed = 0;
    int err = InflatePackFile(kAppletPackMagic, nullptr, temp.c_str(), f.get(), base, nullptr, &consumed, nullptr, 0);
    f.reset();
    if (err) return err;
    icons.position = base + static_cast<int64_t>(consumed);
    f.reset(FileOpen(temp.c_str(), kFileModeRead, nullptr));
    if (!f) {
        SetErrorDetail(temp.c_str());
        return ERR_READFILE;
    }
    container = temp;
    return 0;
}

int ReadOuterIcons(const OuterIcons& icons) {
    qbFilePtr f(FileOpen(icons.path.c_str(), kFileModeRead, nullptr));
    if (!f) {
        SetErrorDetail(icons.path.c_str());
        return ERR_READFILE;
    }
    int64_t size = GetFileSize(f.get());
    if (size <= icons.position || FileSeek(f.get(), icons.position, kSeekBeginning) < 0) return 0;
    AppletReader in(f.get(), 0, icons.position, size);
    uint8_t mark;
    if (in.U8(mark) != 0 || mark != kIconBlockMark) return 0;
    return ReadIconBlock(in, icons.path);
}

// Opens the container, checks its magic and reads its sections.
int ReadAppletFile(ScriptState* L, qbCommandLine* cl, qbApplet* applet) {
    qbFilePtr f(FileOpen(cl->scriptPath, kFileModeRead, nullptr));
    if (!f) {
        SetErrorDetail(cl->scriptPath);
        return ERR_READFILE;
    }
    ScriptEntryReset reset{L};
    std::string container = cl->scriptPath;
    OuterIcons outer;
    int64_t size = GetFileSize(f.get());
    int64_t base = LinkedDataOffset;
    if (size < 0 || FileSeek(f.get(), base, kSeekBeginning) < 0) return ERR_READ;
    if (size - base > static_cast<int64_t>(kMagicSize)) {
        unsigned char magic[kMagicSize];
        if (FileRead(f.get(), magic, kMagicSize) != kMagicSize) return ERR_READ;
        if (SameMagic(magic, kAppletPackMagic)) {
            outer.path = cl->scriptPath;
            if (int err = OpenInflatedApplet(f, base, outer, container)) return err;
            base = 0;
            LinkedDataOffset = 0;
            size = GetFileSize(f.get());
            if (FileRead(f.get(), magic, kMagicSize) != kMagicSize) std::memset(magic, 0, kMagicSize);
        }
        if (SameMagic(magic, kPlainMagic)) cl->appletFlag = 1;
        if (FileSeek(f.get(), base, kSeekBeginning) < 0) return ERR_READ;
    }
    if (!cl->appletFlag) {
        SetErrorDetail(FilePartEx(cl->scriptPath));
        return ERR_NOAPPLET;
    }

    applet->appletFlag = 1;
    if (FileSeek(f.get(), static_cast<int64_t>(kMagicSize), kSeekCurrent) < 0) return ERR_READ;
    AppletReader in(f.get(), base, base + static_cast<int64_t>(kMagicSize), size);
    AppletLoad load{L, cl, applet, in, container, {}, {}, false, -1, false};
    if (int err = ReadAppletSections(load)) return err;
    applet->container = NativeFileIdOf(container.c_str());
    if (outer.position >= 0) return ReadOuterIcons(outer);
    return ReadTrailingIcons(in, container);
}

}  // namespace

int CheckAppletFile(const char* path, int* compressed) {
    qbFilePtr f(FileOpen(path, kFileModeRead, nullptr));
    if (!f) return UnopenedApplet(path);
    unsigned char magic[kMagicSize];
    if (FileRead(f.get(), magic, kMagicSize) != kMagicSize) return ERR_READ;
    bool packed = SameMagic(magic, kAppletPackMagic);
    if (!packed && !SameMagic(magic, kPlainMagic)) {
        SetErrorDetail(path);
        return ERR_NOAPPLET;
    }
    if (compressed) *compressed = packed;
    return 0;
}

void ReadAppletHeaderStrings(const unsigned char* data, size_t size, qbApplet* applet) {
    size_t i = kMagicSize;
    while (i < size) {
        int tag = data[i++];
        if (tag == 10) {
            i += 2;
            continue;
        }
        if (tag == 29) continue;
        char* field = nullptr;
        switch (tag) {
        case 11: field = applet->title; break;
        case 12: field = applet->version; break;
        case 13: field = applet->copyright; break;
        case 14: field = applet->author; break;
        case 15: field = applet->description; break;
        case 34: field = applet->identifier; break;
        default: return;
        }
        const void* nul = std::memchr(data + i, 0, size - i);
        if (!nul) return;
        size_t len = static_cast<size_t>(static_cast<const unsigned char*>(nul) - (data + i));
        if (len >= kHeaderStringSize) return;
        std::memcpy(field, data + i, len + 1);
        if (tag == 12 && data[i] == 0xFF) field[0] = '$';
        i += len + 1;
    }
}

int PreReadAppletHeader(const char* path, int compressed, qbApplet* applet) {
    std::vector<unsigned char> buffer;
    try {
        buffer.resize(kHeaderPreReadSize);
    } catch (const std::bad_alloc&) {
        return ERR_MEM;
    }
    size_t got = 0;
    if (compressed) {
        uint64_t inflated = 0;
        if (int err = InflatePackFile(kAppletPackMagic, path, nullptr, nullptr, 0, &inflated, nullptr,
                                      buffer.data(), buffer.size()))
            return err;
        got = static_cast<size_t>(inflated);
    } else {
        qbFilePtr f(FileOpen(path, kFileModeRead, nullptr));
        if (f) got = FileRead(f.get(), buffer.data(), buffer.size());
    }
    ReadAppletHeaderStrings(buffer.data(), got, applet);
    return 0;
}

int LoadScriptOrApplet(ScriptState* L, qbCommandLine* cl, qbApplet* applet) {
    if (!IsVirtualName(cl->scriptPath) && !CopyPath(cl->scriptPath, sizeof cl->scriptPath, GetFullPath(cl->scriptPath)))
        return ERR_ARGS;
    if (qbFilePtr probe{FileOpen(cl->scriptPath, kFileModeRead, nullptr)}; !probe)
        return UnopenedApplet(cl->scriptPath);

    EnterWorkingFolder(cl);
    PrintMessage(GetMessageText(MSG_OPENINGSCRIPT), cl->scriptPath, 1);
    if (int err = ReadAppletFile(L, cl, applet)) {
        PrintFailedMessage();
        return err;
    }
    PrintDoneMessage();

    if (!DataIsLinked && !cl->quiet) {
        double n = static_cast<double>(applet->preprocessorList.size());
        StartupProgress.step = kLoaderProgressShare / (n + 2.0);
        StartupProgress.progress = kScanProgressShare + StartupProgress.step;
        if (CheckUserBreak()) return ERR_USERABORT;
    }
    return 0;
}
