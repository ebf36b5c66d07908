// The dos library's path commands: tests for files and folders, taking paths
// apart and joining them, renaming, making folders, the current folder, the
// volume of a path, temporary files and wildcard matching.
#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <list>
#include <new>
#include <string>

#include "core/argapi.h"
#include "core/chars.h"
#include "core/chunkname.h"
#include "core/dir.h"
#include "core/errcodes.h"
#include "core/errors.h"
#include "core/fileinfo.h"
#include "core/fileops.h"
#include "core/filenames.h"
#include "core/folderfd.h"
#include "core/linkedfile.h"
#include "core/numbers.h"
#include "libs/doscommands.h"
#include "libs/dos.h"
#include "libs/wildcard.h"

namespace {

constexpr int kDirModeList = kDirLockRead | kDirUseAdapters;

struct TempFile {
    std::string path;
    std::string chunk;  // the linked file it was made for, or empty
};
std::list<TempFile> tempFiles;

bool IsSeparatorChar(char c) { return c == '/' || c == '\\'; }

// The kind of object a path names: -1 none, 0 file, 1 folder; size of a file.
int Examine(const char* name, int64_t* size) {
    if (!*name) return -1;
    qbDirHandlePtr dir(DirOpen(name, kDirModeList, nullptr));
    if (!dir) return -1;
    qbFileInfo info;
    ExamineDirHandle(dir.get(), &info);
    int isDir = 0;
    DirCheck(dir.get(), &isDir);
    if (size) *size = info.size;
    return isDir ? 1 : 0;
}

int VolumePathArg(ScriptState* L, std::string* path) {
    *path = VmCheckString(L, 1, nullptr);
    return path->empty() ? ERR_WRONGUSAGE : 0;
}

}  // namespace

int MakeDirectoryPath(const std::string& path, bool* madeLast) {
    // Folder by folder, each made (or taken) in its open parent, as
    // `mkdir -p` does: no prefix is looked up again, so a deep path costs
    // its depth. The path's links are followed: the script named it.
    const std::string system = NativePathOf(path.c_str());
    qbFd folder = OpenFolderPath(!system.empty() && system[0] == '/' ? "/" : ".");
    bool made = false;
    for (size_t start = 0; folder && start < system.size();) {
        size_t end = system.find('/', start);
        if (end == std::string::npos) end = system.size();
        const std::string name = system.substr(start, end - start);
        start = end + 1;
        if (name.empty() || name == ".") continue;
        bool last = true;  // only "" and "." follow
        for (size_t at = end; last && at < system.size(); ++at)
            last = system[at] == '/' || (system[at] == '.' && (at + 1 == system.size() || system[at + 1] == '/') &&
                                         system[at - 1] == '/');
        made = mkdirat(folder.get(), name.c_str(), madeLast && last ? 0700 : 0755) == 0;
        if (!made && errno != EEXIST) folder = qbFd();
        else folder = qbFd(openat(folder.get(), name.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    }
    if (madeLast) *madeLast = made && folder;
    if (folder) return 0;
    SetErrorDetail(path.c_str());
    return ERR_CREATEDIR;
}

std::string AddTempFile(const char* chunk) {
    std::string path = chunk ? MakeTempFileNameWithExt(chunk) : MakeTempFileName();
    if (!path.empty()) tempFiles.push_back({path, chunk ? chunk : ""});
    return path;
}

std::string FindTempFile(const char* chunk) {
    for (const TempFile& t : tempFiles)
        if (t.chunk == chunk) return t.path;
    return {};
}

void DeleteTempFiles() {
    for (const TempFile& t : tempFiles) RemoveFile(t.path.c_str());
    tempFiles.clear();
}

int cmdIsDirectory(ScriptState* L) {
    CheckArgCount(L, 1, 1, 0, 0);
    const std::string given = VmCheckString(L, 1, nullptr);
    const int kind = Examine(ResolveLinkedFileArg(L, 1, 0, nullptr), nullptr);
    if (kind < 0) {
        SetErrorDetail(given.c_str());
        return ERR_STAT;
    }
    VmPushNumber(L, kind);
    return 1;
}

int cmdFileSize(ScriptState* L) {
    CheckArgCount(L, 1, 1, 0, 0);
    VmCheckString(L, 1, nullptr);
    int64_t size = 0;
    const int kind = Examine(ResolveLinkedFileArg(L, 1, 0, nullptr), &size);
    VmPushNumber(L, kind == 0 ? static_cast<double>(size) : -1);
    return 1;
}

int cmdExists(ScriptState* L) {
    CheckArgCount(L, 1, 1, 0, 0);
    VmCheckString(L, 1, nullptr);
    VmPushNumber(L, Examine(ResolveLinkedFileArg(L, 1, 0, nullptr), nullptr) >= 0 ? 1 : 0);
    return 1;
}

int cmdFilePart(ScriptState* L) {
    CheckArgCount(L, 1, 1, 0, 0);
    VmPushString(L, FilePartEx(VmCheckString(L, 1, nullptr)));
    return 1;
}

int cmdPathPart(ScriptState* L) {
    CheckArgCount(L, 1, 1, 0, 0);
    size_t len = 0;
    const char* path = VmCheckString(L, 1, &len);
    if (IsChunkName(path)) return ERR_WRONGUSAGE;
    size_t end = len;
    while (end > 0 && !IsSeparatorChar(path[end - 1]) && path[end - 1] != ':') --end;
    VmPushLString(L, path, end);
    return 1;
}

int cmdFullPath(ScriptState* L) {
    CheckArgCount(L, 2, 2, 0, 0);
    // Joined without a fixed buffer, so that no length cuts the result.
    std::string path = VmCheckString(L, 1, nullptr);
    const char* name = VmCheckString(L, 2, nullptr);
    try {
        if (!path.empty() && !IsSeparatorChar(path.back()) && path.back() != ':' && *name) path += '/';
        path += name;
    } catch (const std::bad_alloc&) {
        return ERR_MEM;
    }
    VmPushLString(L, path.data(), path.size());
    return 1;
}

int cmdRename(ScriptState* L) {
    CheckArgCount(L, 2, 2, 0, 0);
    const std::string given = VmCheckString(L, 1, nullptr);
    const std::string to = VmCheckString(L, 2, nullptr);
    if (given.empty() || to.empty() || IsChunkName(given.c_str()) || IsChunkName(to.c_str())) return ERR_WRONGUSAGE;
    // The object keeps its folder, the one its name stands for: a
    // "PROGDIR:" name stays in the player's folder.
    const std::string from = ExpandProgDir(given.c_str());
    const char* file = FilePartEx(to.c_str());
    if (!*file) return ERR_WRONGUSAGE;
    size_t end = from.size();
    while (end > 0 && IsSeparatorChar(from[end - 1])) --end;  // a folder given as "a/b/"
    while (end > 0 && !IsSeparatorChar(from[end - 1])) --end;
    const std::string target = from.substr(0, end) + file;
    if (!RenameFile(from.c_str(), target.c_str())) return ERR_RENAME;
    return 0;
}

int cmdMakeDirectory(ScriptState* L) {
    CheckArgCount(L, 1, 1, 0, 0);
    const std::string path = VmCheckString(L, 1, nullptr);
    if (path.empty()) return ERR_WRONGUSAGE;
    return MakeDirectoryPath(path);
}

int cmdChangeDirectory(ScriptState* L) {
    CheckArgCount(L, 1, 1, 0, 0);
    const char* path = VmCheckString(L, 1, nullptr);
    if (!ChangeCurrentDir(path)) {
        SetErrorDetail(path);
        return ERR_DIRLOCK;
    }
    return 0;
}

int cmdGetCurrentDirectory(ScriptState* L) {
    CheckArgCount(L, 0, 0, 0, 0);
    VmPushString(L, GetCurrentDirPath().c_str());
    return 1;
}

int cmdGetVolumeName(ScriptState* L) {
    CheckArgCount(L, 1, 1, 0, 0);
    std::string path;
    if (int err = VolumePathArg(L, &path)) return err;
    const std::string name = QueryVolumeName(path.c_str());
    if (name.empty()) {
        SetErrorDetail(path.c_str());
        return ERR_STAT;
    }
    VmPushString(L, name.c_str());
    return 1;
}

int cmdGetVolumeInfo(ScriptState* L) {
    CheckArgCount(L, 2, 2, 0, 0);
    std::string path;
    if (int err = VolumePathArg(L, &path)) return err;
    const int kind = ClampToInt32(VmCheckNumber(L, 2));
    if (kind != 0 && kind != 1) return ERR_WRONGUSAGE;
    uint64_t freeBytes = 0, usedBytes = 0;
    if (int err = GetVolumeSpace(path.c_str(), &freeBytes, &usedBytes)) return err;
    VmPushNumber(L, static_cast<double>(kind == 1 ? freeBytes : usedBytes));
    return 1;
}

int cmdGetTempFileName(ScriptState* L) {
    CheckArgCount(L, 0, 0, 0, 0);
    std::string path;
    try {
        path = AddTempFile(nullptr);
    } catch (const std::bad_alloc&) {
        return ERR_MEM;
    }
    if (path.empty()) return ERR_MEM;
    VmPushString(L, path.c_str());
    return 1;
}

int cmdMatchPattern(ScriptState* L) {
    CheckArgCount(L, 2, 2, 0, 0);
    size_t nameLen = 0, listLen = 0;
    const char* name = VmCheckString(L, 1, &nameLen);
    const char* list = VmCheckString(L, 2, &listLen);
    VmPushNumber(L, MatchPatternList({list, listLen}, {name, nameLen}) ? 1 : 0);
    return 1;
}
