// Native file operations, environment variables and temporary names.
#include "core/fileops.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>
#include <sstream>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include "core/chars.h"
#include "core/errcodes.h"
#include "core/errors.h"
#include "core/fileinfo.h"
#include "core/filenames.h"
#include "core/readholds.h"

namespace {

struct TempFolder {
    std::mutex lock;
    std::string folder = "/tmp";
};

TempFolder& Temp() {
    static TempFolder temp;
    return temp;
}

void CopyOut(const std::string& text, char* buffer, size_t bufferSize) {
    if (!buffer || bufferSize == 0) return;
    if (text.size() >= bufferSize) {
        buffer[0] = 0;
        return;
    }
    std::memcpy(buffer, text.c_str(), text.size() + 1);
}

std::string ExtensionOf(const char* name) {
    const char* part = FilePartEx(name);
    const char* dot = std::strrchr(part, '.');
    if (!dot || dot[1] == 0) return {};
    return dot;
}

}  // namespace

int RenameFile(const char* oldName, const char* newName) {
    if (!oldName || !newName) return 0;
    const std::string from = NativePathOf(oldName), to = NativePathOf(newName);
    // The system's rename replaces what the new name held, silently; a
    // rename never costs another file.
    if (renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return 1;
    if (errno != EINVAL) return 0;
    // A file system that can't rename so: a file is linked under the new
    // name (which fails on a taken one) and loses the old; a folder has no
    // such road.
    struct stat st;
    if (lstat(from.c_str(), &st) != 0 || S_ISDIR(st.st_mode)) return 0;
    if (link(from.c_str(), to.c_str()) != 0) return 0;
    if (unlink(from.c_str()) == 0) return 1;
    unlink(to.c_str());
    return 0;
}

int ReplaceRenameFile(const char* oldName, const char* newName) {
    if (!oldName || !newName) return 0;
    const std::string from = NativePathOf(oldName), to = NativePathOf(newName);
    // What a live object reads must stay under its name: a reader of a
    // mapped file would die at its next page.
    if (IsFileRead(SystemFileIdOf(to.c_str()))) {
        SetErrorDetail(newName);
        return 0;
    }
    return std::rename(from.c_str(), to.c_str()) == 0;
}

int RemoveFile(const char* name) { return name && std::remove(NativePathOf(name).c_str()) == 0; }

int SetFileProtection(const char* name, uint32_t attr) {
    return name && chmod(NativePathOf(name).c_str(), static_cast<mode_t>(FileAttrToMode(attr))) == 0;
}

int SetFileDate(const char* name, int64_t accessTime, int64_t modifyTime) {
    if (!name) return 0;
    struct timespec times[2] = {};
    times[0].tv_sec = static_cast<time_t>(accessTime);
    times[1].tv_sec = static_cast<time_t>(modifyTime);
    return utimensat(AT_FDCWD, NativePathOf(name).c_str(), times, 0) == 0;
}

int CreateDir(const char* name) {
    if (!name || mkdir(NativePathOf(name).c_str(), 0755) != 0) return ERR_CREATEDIR;
    return 0;
}

std::string GetCurrentDirPath() {
    char buffer[PATH_MAX];
    return getcwd(buffer, sizeof buffer) ? FromSystemPath(buffer) : std::string();
}

std::string GetFullPath(const char* name) {
    if (!name) return {};
    char full[PATH_MAX];
    if (realpath(NativePathOf(name).c_str(), full)) return FromSystemPath(full);
    const std::string given = MakeNativePath(ExpandProgDir(name).c_str());
    if (!given.empty() && given[0] == '/') return given;
    std::string joined = GetCurrentDirPath();
    if (!joined.empty() && joined.back() != '/') joined += '/';
    return joined + given;
}

void GetFullPath(const char* name, char* buffer, size_t bufferSize) { CopyOut(GetFullPath(name), buffer, bufferSize); }

std::optional<std::string> ChangeCurrentDir(const char* name) {
    if (!name) return std::nullopt;
    std::string old = GetCurrentDirPath();
    if (chdir(NativePathOf(name).c_str()) != 0) return std::nullopt;
    return old;
}

std::optional<std::string> GetEnvVar(const char* name) {
    if (!name) return std::nullopt;
    const char* value = std::getenv(ToSystemText(name).c_str());
    if (!value) return std::nullopt;
    return FromSystemPath(value);
}

int SetEnvVar(const char* name, const char* value) {
    if (!name || !value) return ERR_SETENV;
    return setenv(ToSystemText(name).c_str(), ToSystemText(value).c_str(), 1) == 0 ? 0 : ERR_SETENV;
}

int UnsetEnvVar(const char* name) {
    if (!name) return ERR_UNSETENV;
    return unsetenv(ToSystemText(name).c_str()) == 0 ? 0 : ERR_UNSETENV;
}

void SetTempDir(const char* folder) {
    TempFolder& temp = Temp();
    std::lock_guard guard(temp.lock);
    temp.folder = folder && *folder ? folder : "/tmp";
}

std::string GetTempDir() {
    TempFolder& temp = Temp();
    std::lock_guard guard(temp.lock);
    return temp.folder;
}

std::string MakeTempFileName() {
    std::string pattern = NativePathOf(GetTempDir().c_str());
    if (pattern.empty() || pattern.back() != '/') pattern += '/';
    pattern += "quenbrook.XXXXXX";
    const int fd = mkstemp(pattern.data());
    if (fd < 0) return {};
    close(fd);
    return FromSystemPath(pattern.c_str());
}

std::string MakeTempFileNameWithExt(const char* name) {
    std::string made = MakeTempFileName();
    if (made.empty() || !name) return made;
    // The file mkstemp made keeps its name free; the name with the extension
    // is the one handed out.
    const std::string withExt = made + ExtensionOf(name);
    if (withExt != made) {
        const std::string system = NativePathOf(withExt.c_str());
        const int fd = open(system.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd < 0) {
            RemoveFile(made.c_str());
            return {};
        }
        close(fd);
        RemoveFile(made.c_str());
    }
    return withExt;
}

void MakeTempFileName(char* buffer, size_t bufferSize) { CopyOut(MakeTempFileName(), buffer, bufferSize); }

int GetVolumeSpace(const char* path, uint64_t* freeBytes, uint64_t* usedBytes) {
    struct statvfs vfs {};
    if (!path || statvfs(NativePathOf(path).c_str(), &vfs) != 0) {
        SetErrorDetail(path ? path : "");
        return ERR_STAT;
    }
    if (freeBytes) *freeBytes = static_cast<uint64_t>(vfs.f_bavail) * vfs.f_frsize;
    if (usedBytes) *usedBytes = static_cast<uint64_t>(vfs.f_blocks - vfs.f_bfree) * vfs.f_frsize;
    return 0;
}

std::string QueryVolumeName(const char* path) {
    char full[PATH_MAX];
    if (!path || !realpath(NativePathOf(*path ? path : ".").c_str(), full)) return {};
    const std::string target = full;
    std::ifstream info("/proc/self/mountinfo");
    std::string line, best = "/";
    while (std::getline(info, line)) {
        // The fifth field is the mount point, with blanks and the like
        // written as octal escapes.
        std::istringstream fields(line);
        std::string field, point;
        for (int i = 0; i < 5 && fields >> field; ++i) point = field;
        std::string mount;
        for (size_t i = 0; i < point.size(); ++i) {
            if (point[i] == '\\' && i + 3 < point.size()) {
                mount += static_cast<char>(std::strtol(point.substr(i + 1, 3).c_str(), nullptr, 8));
                i += 3;
            } else {
                mount += point[i];
            }
        }
        const bool holds = target.compare(0, mount.size(), mount) == 0 &&
                           (mount == "/" || target.size() == mount.size() || target[mount.size()] == '/');
        if (holds && mount.size() > best.size()) best = mount;
    }
    return FromSystemPath(best.c_str());
}

int QueryVolumeName(const char* path, char* buffer, size_t bufferSize) {
    const std::string name = QueryVolumeName(path);
    if (name.empty()) {
        SetErrorDetail(path ? path : "");
        return ERR_STAT;
    }
    CopyOut(name, buffer, bufferSize);
    return 0;
}
