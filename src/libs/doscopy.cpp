// The dos library's CopyFile and DeleteFile: single files and whole trees,
// filtered by wildcard lists, with the script's callback asked before
// overwriting or unprotecting and told the progress.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "core/argapi.h"
#include "core/chars.h"
#include "core/chunkname.h"
#include "core/dir.h"
#include "core/errcodes.h"
#include "core/errors.h"
#include "core/file.h"
#include "core/fileinfo.h"
#include "core/filenames.h"
#include "core/fileops.h"
#include "core/linkedfile.h"
#include "core/replacefile.h"
#include "core/settings.h"
#include "libs/doscommands.h"
#include "libs/dos.h"
#include "libs/wildcard.h"

namespace {

// What a walk meets in a folder. Other is anything that is neither a file
// nor a folder (a FIFO, a socket, a device, a link leading nowhere): reading
// one could wait for ever, so no walk opens it.
enum class EntryKind { File, Folder, Other };

struct FolderEntry {
    std::string name;
    EntryKind kind;
};

EntryKind KindOf(mode_t mode) {
    if (S_ISDIR(mode)) return EntryKind::Folder;
    return S_ISREG(mode) ? EntryKind::File : EntryKind::Other;
}

// A native folder read with lstat, so that every entry is seen, a dangling
// link too; followLinks then describes a link by what it leads to (Other
// when it leads nowhere), else a link is a file of its own.
bool ListNativeFolder(const std::string& folder, bool followLinks, std::vector<FolderEntry>* entries) {
    const std::string native = ToSystemPath(folder.c_str());
    DIR* dir = opendir(native.c_str());
    if (!dir) return false;
    std::unique_ptr<DIR, int (*)(DIR*)> closer(dir, closedir);
    while (const dirent* entry = readdir(dir)) {
        if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0) continue;
        const std::string full = native + (native.empty() || native.back() != '/' ? "/" : "") + entry->d_name;
        struct stat st;
        if (lstat(full.c_str(), &st) != 0) continue;  // gone since readdir
        EntryKind kind = KindOf(st.st_mode);
        if (S_ISLNK(st.st_mode))
            kind = !followLinks ? EntryKind::File
                   : stat(full.c_str(), &st) == 0 ? KindOf(st.st_mode)
                                                  : EntryKind::Other;
        entries->push_back({FromSystemPath(entry->d_name), kind});
    }
    return true;
}

// The entries of a folder, read whole before anything in it changes.
// ERR_LOCK2 with the folder as detail when it can't be read.
int ListFolder(const std::string& folder, int mode, bool followLinks, std::vector<FolderEntry>* entries) {
    qbDirHandlePtr dir(DirOpen(folder.c_str(), mode, nullptr));
    bool listed = dir != nullptr;
    if (listed && dir->native) {
        listed = ListNativeFolder(GetDirHandlePath(dir.get()), followLinks, entries);
    } else if (listed) {
        const char* name;
        int isDir;
        while (ReadDirEntry(dir.get(), &name, &isDir, nullptr))
            entries->push_back({name, isDir ? EntryKind::Folder : EntryKind::File});
    }
    if (!listed) {
        SetErrorDetail(folder.c_str());
        return ERR_LOCK2;
    }
    return 0;
}

// Whether a native path names something other than a file or folder; false
// for what is not native or not there, which the file layer reports.
bool IsSpecialFile(const std::string& path) {
    struct stat st;
    return stat(ToSystemPath(path.c_str()).c_str(), &st) == 0 && KindOf(st.st_mode) == EntryKind::Other;
}

constexpr int kDirModeList = kDirLockRead | kDirUseAdapters;
// The status callback hears of every block of this size; without a callback
// larger blocks go faster.
constexpr size_t kCallbackBlock = 16384;
constexpr size_t kPlainBlock = 1 << 20;

// What the walk does next: go on, skip the current file, or stop the whole
// command (an abort is no error).
enum class Answer { Go, Skip, Abort };

bool IsSeparatorChar(char c) { return c == '/' || c == '\\'; }

std::string Join(const std::string& folder, const std::string& name) {
    if (folder.empty() || IsSeparatorChar(folder.back())) return folder + name;
    return folder + "/" + name;
}

// The script's callback with its user value and the pattern list.
struct Walk {
    ScriptState* L;
    int callback = 0;  // stack index, 0 for none
    int userValue = 0;
    std::string patterns;
    bool filterDirs = true;
    int error = 0;  // a failing callback's error

    bool HasCallback() const { return callback != 0; }

    // Calls the callback with the message table on top; its result as a
    // number, or Abort with error set when the call failed.
    bool Call(double* result) {
        if (userValue) {
            VmPushValue(L, userValue);
            VmSetTableAtKey("userdata");
        }
        VmPushValue(L, callback);
        VmInsert(L, -2);
        SetRuntimeTag(kTagCallbackNesting, GetRuntimeTag(kTagCallbackNesting) + 1);
        const int err = VmPCall(L, 1, 1, 0);
        SetRuntimeTag(kTagCallbackNesting, GetRuntimeTag(kTagCallbackNesting) - 1);
        if (err) {
            error = err;
            return false;
        }
        *result = VmToNumber(L, -1);
        VmSetTop(L, -2);
        return !VmGetEndFlag(L);
    }
    void VmSetTableAtKey(const char* key) {
        VmPushString(L, key);
        VmInsert(L, -2);
        VmSetTableAt(L, -3);
    }
    // Asks with one of the question actions: -1 aborts, 0 skips.
    Answer Ask(double* result) {
        if (!Call(result)) return Answer::Abort;
        if (*result == -1) return Answer::Abort;
        return *result == 0 ? Answer::Skip : Answer::Go;
    }
    bool Matches(const std::string& name) const { return patterns.empty() || MatchPatternList(patterns, name); }
    bool Enters(const std::string& name) const { return patterns.empty() || !filterDirs || Matches(name); }
};

struct FileId {
    dev_t dev;
    ino_t ino;
    bool operator==(const FileId&) const = default;
};

bool NativeId(const std::string& path, FileId* id) {
    struct stat st;
    if (stat(ToSystemPath(path.c_str()).c_str(), &st) != 0) return false;
    *id = {st.st_dev, st.st_ino};
    return true;
}

// ---- CopyFile ---------------------------------------------------------------

// Copies a native file inside the kernel (no callback hears of blocks then).
// False when the file systems can't, before anything was written: the
// caller copies block by block instead.
bool KernelCopy(const std::string& source, int out, int64_t* copied, int* err) {
    const int in = open(ToSystemPath(source.c_str()).c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0) return false;
    bool done = true;
    for (;;) {
        const ssize_t n = copy_file_range(in, nullptr, out, nullptr, size_t{1} << 30, 0);
        if (n > 0) {
            *copied += n;
            continue;
        }
        if (n == 0) break;
        if (errno == EINTR) continue;
        if (*copied == 0 && (errno == EXDEV || errno == EINVAL || errno == ENOSYS || errno == EOPNOTSUPP)) {
            done = false;
        } else {
            *err = ERR_WRITE;
        }
        break;
    }
    close(in);
    return done;
}

struct Copy : Walk {
    std::vector<FileId> path;  // the folders being copied, outermost first
    FileId destination{};
    bool haveDestination = false;

    Answer StatusMessage(const std::string& source, const std::string& dest, int64_t copied, int64_t size) {
        VmPushNewTable(L);
        SetTableFieldInt(L, "action", 0);
        SetTableFieldString(L, "source", source.c_str());
        SetTableFieldString(L, "destination", dest.c_str());
        SetTableFieldFloat(L, "copied", static_cast<double>(copied));
        SetTableFieldFloat(L, "filesize", static_cast<double>(size));
        double r = 0;
        if (!Call(&r)) return Answer::Abort;
        return r == 1 ? Answer::Abort : Answer::Go;
    }

    // Copies the bytes of the open source over dest (see BeginReplaceFile:
    // a new file beside a regular dest replaces it only once complete, so a
    // failure keeps the old one; a FIFO or device is written in place).
    int Bytes(qbFile* in, const std::string& source, const std::string& dest, const qbFileInfo& info,
              Answer* answer) {
        qbReplaceOptions options;
        options.source = source.c_str();
        qbReplaceFile out;
        if (int err = BeginReplaceFile(dest.c_str(), options, &out)) return err;
        // Only a new file of our own takes the source's mode and dates.
        const int fd = out.temp.empty() ? -1 : ReplaceFileDescriptor(out);
        const size_t blockSize = HasCallback() ? kCallbackBlock : kPlainBlock;
        std::unique_ptr<char[]> block(new (std::nothrow) char[blockSize]);
        int err = block ? 0 : ERR_MEM;
        int64_t copied = 0;
        const bool kernel = !err && fd >= 0 && !HasCallback() && !in->adapter && !in->memory &&
                            !IsChunkName(source.c_str()) && KernelCopy(source, fd, &copied, &err);
        while (!err && !kernel) {
            const size_t got = FileRead(in, block.get(), blockSize);
            if (got == 0) {
                if (FileReadFailed(in)) err = ERR_READ;
                break;
            }
            if (FileWrite(out.file.get(), block.get(), got) != got) err = ERR_WRITE;
            copied += static_cast<int64_t>(got);
            if (!err && HasCallback() && StatusMessage(source, dest, copied, info.size) == Answer::Abort) {
                *answer = Answer::Abort;
                break;
            }
        }
        if (!err && *answer != Answer::Abort && info.size >= 0 && copied < info.size) err = ERR_READ;
        if (err || *answer == Answer::Abort) return err;
        if (fd >= 0) {
            if (!FileFlush(out.file.get())) return ERR_WRITE;
            fchmod(fd, static_cast<mode_t>(FileAttrToMode(info.protection)));
            const timespec times[2] = {{static_cast<time_t>(info.accessTime), 0},
                                       {static_cast<time_t>(info.modifyTime), 0}};
            futimens(fd, times);
        }
        return CommitReplaceFile(&out);
    }

    int File(const std::string& source, const std::string& dest, Answer* answer) {
        if (!IsChunkName(source.c_str()) && IsSpecialFile(source)) {
            *answer = Answer::Skip;
            return 0;
        }
        qbFilePtr in(FileOpen(source.c_str(), kFileModeRead | kFileModeAdapters, nullptr));
        if (!in) {
            SetErrorDetail(source.c_str());
            return ERR_READFILE;
        }
        FileId from{}, to{};
        if (NativeId(source, &from) && NativeId(dest, &to) && from == to) return ERR_WRONGUSAGE;
        qbFileInfo info;
        if (!GetFileInfo(in.get(), &info)) info.size = -1;
        const std::string target = ToSystemPath(dest.c_str());
        struct stat st;
        if (stat(target.c_str(), &st) == 0) {
            double r = 0;
            if (HasCallback()) {
                VmPushNewTable(L);
                SetTableFieldInt(L, "action", 1);
                SetTableFieldString(L, "source", source.c_str());
                SetTableFieldString(L, "destination", dest.c_str());
                if ((*answer = Ask(&r)) != Answer::Go) return 0;
            }
            if (!(st.st_mode & S_IWUSR)) {
                if (!HasCallback()) {
                    *answer = Answer::Skip;
                    return 0;
                }
                VmPushNewTable(L);
                SetTableFieldInt(L, "action", 2);
                SetTableFieldString(L, "destination", dest.c_str());
                if ((*answer = Ask(&r)) != Answer::Go) return 0;
                SetFileProtection(dest.c_str(), kFileAttrNormal);
            }
        }
        return Bytes(in.get(), source, dest, info, answer);
    }

    int Folder(const std::string& source, const std::string& dest, Answer* answer, bool top = false) {
        FileId self{};
        if (NativeId(source, &self)) {
            // A link back to a folder being copied would lead round forever.
            for (const FileId& f : path)
                if (f == self) return 0;
            path.push_back(self);
        }
        if (!top) {
            if (int err = MakeDirectoryPath(dest)) return err;
        }
        const size_t depth = path.size();
        std::vector<FolderEntry> entries;
        if (int listed = ListFolder(source, kDirModeList, true, &entries)) return listed;
        int err = 0;
        for (const auto& [entry, kind] : entries) {
            const std::string from = Join(source, entry), to = Join(dest, entry);
            // Never opened: FIFOs, sockets, devices and links leading nowhere.
            if (kind == EntryKind::Other) continue;
            if (kind == EntryKind::Folder) {
                if (!Enters(entry)) continue;
                FileId id{};
                // The destination inside the source is not copied into itself.
                if (haveDestination && NativeId(from, &id) && id == destination) continue;
                err = Folder(from, to, answer);
            } else {
                if (!Matches(entry)) continue;
                *answer = Answer::Go;
                err = File(from, to, answer);
            }
            if (err || *answer == Answer::Abort) break;
        }
        path.resize(depth > 0 ? depth - 1 : 0);
        return err;
    }
};

// Whether the folder at inner is outer or lies inside it.
bool Inside(const std::string& inner, const std::string& outer) {
    const std::string a = GetFullPath(inner.c_str()), b = GetFullPath(outer.c_str());
    return a.compare(0, b.size(), b) == 0 && (a.size() == b.size() || a[b.size()] == '/' || b == "/");
}

// ---- DeleteFile -------------------------------------------------------------

struct Delete : Walk {
    int File(const std::string& file, Answer* answer) {
        const std::string native = ToSystemPath(file.c_str());
        double r = 0;
        struct stat st;
        const bool found = lstat(native.c_str(), &st) == 0;
        const bool link = found && S_ISLNK(st.st_mode);
        if (found && HasCallback() && !link && !(st.st_mode & S_IWUSR)) {
            VmPushNewTable(L);
            SetTableFieldInt(L, "action", 1);
            SetTableFieldString(L, "file", file.c_str());
            if ((*answer = Ask(&r)) != Answer::Go) return 0;
            SetFileProtection(file.c_str(), kFileAttrNormal);
        }
        if (HasCallback()) {
            VmPushNewTable(L);
            SetTableFieldInt(L, "action", 0);
            SetTableFieldString(L, "file", file.c_str());
            if (!Call(&r) || r == 1) {
                *answer = Answer::Abort;
                return 0;
            }
        }
        return RemoveFile(file.c_str()) ? 0 : ERR_DELETEFILE;
    }

    // Deletes the folder's contents and, unless keep, the folder itself.
    int Folder(const std::string& folder, bool keep, Answer* answer) {
        std::vector<FolderEntry> entries;
        // Links are not followed: a link goes as itself, what it leads to
        // (if anything) stays.
        if (int listed = ListFolder(folder, kDirLockRead, false, &entries)) return listed;
        for (const auto& [entry, kind] : entries) {
            const std::string path = Join(folder, entry);
            int err;
            if (kind == EntryKind::Folder) {
                if (!Enters(entry)) continue;
                // With a pattern list only the matching files go; the
                // folders that held them stay.
                err = Folder(path, !patterns.empty(), answer);
            } else {
                if (!Matches(entry)) continue;
                err = File(path, answer);
            }
            if (err) return err;
            if (*answer == Answer::Abort) return 0;
            *answer = Answer::Go;
        }
        if (!keep && !RemoveFile(folder.c_str())) return ERR_DELETEFILE;
        return 0;
    }
};

// The optional arguments shared by both commands from index first on:
// callback, user value, pattern list, filter directories.
void ReadOptions(ScriptState* L, int first, Walk& w) {
    const int top = VmGetTop(L);
    if (top >= first && VmType(L, first) != kTypeNil) {
        VmCheckFunction(L, first);
        w.callback = first;
    }
    if (top >= first + 1) w.userValue = first + 1;
    if (top >= first + 2 && VmType(L, first + 2) != kTypeNil) w.patterns = VmCheckString(L, first + 2, nullptr);
    w.filterDirs = VmOptNumber(L, first + 3, 1) != 0;
}

}  // namespace

int cmdCopyFile(ScriptState* L) {
    CheckArgCount(L, 2, 7, 0, 0);
    VmCheckString(L, 1, nullptr);
    std::string source = ResolveLinkedFileArg(L, 1, 0, nullptr);
    const std::string destFolder = VmCheckString(L, 2, nullptr);
    std::string newName;
    if (VmGetTop(L) >= 3 && VmType(L, 3) != kTypeNil) newName = VmCheckString(L, 3, nullptr);
    Copy copy;
    copy.L = L;
    ReadOptions(L, 4, copy);
    if (source.empty() || destFolder.empty()) return ERR_WRONGUSAGE;
    if (!copy.patterns.empty())
        while (source.size() > 1 && IsSeparatorChar(source.back())) source.pop_back();
    bool folder = false;
    if (!IsChunkName(source.c_str())) {
        qbDirHandlePtr dir(DirOpen(source.c_str(), kDirModeList, nullptr));
        int isDir = 0;
        folder = dir && DirCheck(dir.get(), &isDir) == 0 && isDir;
    }
    if (!folder) {
        // A FIFO would hold the probe until something writes to it.
        if (!IsChunkName(source.c_str()) && IsSpecialFile(source)) {
            SetErrorDetail(VmToCString(L, 1));
            return ERR_READFILE;
        }
        qbFilePtr probe(FileOpen(source.c_str(), kFileModeRead | kFileModeAdapters, nullptr));
        if (!probe) {
            SetErrorDetail(VmToCString(L, 1));
            return ERR_READFILE;
        }
    }
    if (folder && !newName.empty()) return ERR_WRONGUSAGE;
    if (!folder && !copy.patterns.empty()) return ERR_NODIRPATTERN;
    // A folder copied into itself would take in its own copy without end.
    if (folder && Inside(destFolder, source)) return ERR_WRONGUSAGE;
    if (int err = MakeDirectoryPath(destFolder)) return err;
    if (!qbDirHandlePtr(DirOpen(destFolder.c_str(), kDirLockRead, nullptr))) {
        SetErrorDetail(destFolder.c_str());
        return ERR_LOCK2;
    }
    Answer answer = Answer::Go;
    int err;
    if (folder) {
        copy.haveDestination = NativeId(destFolder, &copy.destination);
        err = copy.Folder(source, destFolder, &answer, true);
    } else {
        err = copy.File(source, Join(destFolder, newName.empty() ? FilePartEx(source.c_str()) : newName), &answer);
    }
    return err ? err : copy.error;
}

int cmdDeleteFile(ScriptState* L) {
    CheckArgCount(L, 1, 5, 0, 0);
    std::string path = VmCheckString(L, 1, nullptr);
    Delete del;
    del.L = L;
    ReadOptions(L, 2, del);
    if (path.empty() || IsChunkName(path.c_str())) return ERR_WRONGUSAGE;
    bool keep = !del.patterns.empty();
    if (path.size() > 1 && IsSeparatorChar(path.back())) {
        keep = true;
        while (path.size() > 1 && IsSeparatorChar(path.back())) path.pop_back();
    }
    struct stat st;
    const std::string native = ToSystemPath(path.c_str());
    if (lstat(native.c_str(), &st) != 0) {
        SetErrorDetail(path.c_str());
        return ERR_LOCK2;
    }
    Answer answer = Answer::Go;
    int err;
    if (S_ISDIR(st.st_mode)) {
        err = del.Folder(path, keep, &answer);
    } else {
        if (!del.patterns.empty()) return ERR_NODIRPATTERN;
        err = del.File(path, &answer);
    }
    return err ? err : del.error;
}
