// The dos library's CopyFile and DeleteFile: single files and whole trees,
// filtered by wildcard lists, with the script's callback asked before
// overwriting or unprotecting and told the progress.
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
#include <unordered_set>
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
#include "core/folderfd.h"
#include "core/fileops.h"
#include "core/linkedfile.h"
#include "core/replacefile.h"
#include "core/settings.h"
#include "libs/doscommands.h"
#include "libs/dos.h"
#include "libs/doswalk.h"
#include "libs/wildcard.h"

namespace {

// What a walk meets in a folder. Other is anything that is neither a file
// nor a folder (a FIFO, a socket, a device, a link leading nowhere): reading
// one could wait for ever, so no walk opens it.
enum class EntryKind { File, Folder, Other };

struct FolderEntry {
    std::string name;    // the player's text
    std::string system;  // the system's name
    EntryKind kind;
};

EntryKind KindOf(mode_t mode) {
    if (S_ISDIR(mode)) return EntryKind::Folder;
    return S_ISREG(mode) ? EntryKind::File : EntryKind::Other;
}

// The entries of a folder, read whole before anything in it changes: the
// open native folder source when there is one (every entry seen, a link
// described by what it leads to, Other when it leads nowhere), else the
// folder an adapter serves. ERR_LOCK2 with the folder as detail when it
// can't be read.
int ListFolder(const std::string& folder, int source, std::vector<FolderEntry>* entries) {
    bool listed;
    if (source >= 0) {
        std::vector<qbFolderEntryAt> native;
        listed = ListFolderAt(source, &native);
        for (qbFolderEntryAt& e : native) {
            if (S_ISLNK(e.st.st_mode) && fstatat(source, e.name.c_str(), &e.st, 0) != 0) e.st.st_mode = 0;
            entries->push_back({FromSystemPath(e.name.c_str()), std::move(e.name), KindOf(e.st.st_mode)});
        }
    } else {
        qbDirHandlePtr dir(DirOpen(folder.c_str(), kDirLockRead | kDirUseAdapters, nullptr));
        listed = dir != nullptr;
        const char* name;
        int isDir;
        while (listed && ReadDirEntry(dir.get(), &name, &isDir, nullptr))
            entries->push_back({name, ToSystemText(name), isDir ? EntryKind::Folder : EntryKind::File});
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
    return stat(NativePathOf(path.c_str()).c_str(), &st) == 0 && KindOf(st.st_mode) == EntryKind::Other;
}

// The status callback hears of every block of this size; without a callback
// larger blocks go faster.
constexpr size_t kCallbackBlock = 16384;
constexpr size_t kPlainBlock = 1 << 20;

using doswalk::Answer;
using doswalk::Join;

struct FileId {
    dev_t dev;
    ino_t ino;
    bool operator==(const FileId&) const = default;
};

bool NativeId(const std::string& path, FileId* id) {
    struct stat st;
    if (stat(NativePathOf(path.c_str()).c_str(), &st) != 0) return false;
    *id = {st.st_dev, st.st_ino};
    return true;
}

// ---- CopyFile ---------------------------------------------------------------

// The descriptor of a whole native file the file layer opened (and
// checked), nothing of it read yet; -1 for others (a part of a container,
// an adapter's, memory).
int OpenDescriptor(const qbFile* file) {
    const StdioFile* s = file && !file->adapter && !file->memory ? file->stdio.get() : nullptr;
    const bool whole = s && s->stream && !s->limit && s->base == 0 && s->position == 0 && !s->streamed &&
                       file->getPtr == file->getEnd;
    return whole ? s->stream->fd : -1;
}

// Copies the open native file inside the kernel (no callback hears of
// blocks then). False when the file systems can't, before anything was
// written: the caller copies block by block instead.
bool KernelCopy(int in, int out, int64_t* copied, int* err) {
    // From the file's start, whatever the stream's own position.
    loff_t from = 0;
    for (;;) {
        const ssize_t n = copy_file_range(in, &from, out, nullptr, size_t{1} << 30, 0);
        if (n > 0) {
            *copied += n;
            continue;
        }
        if (n == 0) return true;
        if (errno == EINTR) continue;
        if (*copied == 0 && (errno == EXDEV || errno == EINVAL || errno == ENOSYS || errno == EOPNOTSUPP))
            return false;
        *err = ERR_WRITE;
        return true;
    }
}

// Where a copied file goes: its name in an open destination folder, and the
// path the script sees in messages. Inside a copied tree a link met on the
// destination side is never followed; the file the script named itself is
// written as any writer writes a name (through a link to its target).
struct Target {
    int folder;
    std::string name;  // the system's name in folder
    std::string shown;
    bool followLink;
    // The path the writing road takes: through the folder's descriptor,
    // the name's bytes as listed.
    std::string Path() const { return PathThroughFolder(folder, name); }
};

// What a copied file is read from: the name the script sees (and adapters
// and parts of the applet are opened by), and, for a native file, the
// system's path of it, through its open folder inside a walk, so that the
// copy reads the very entry listed, byte for byte.
struct Source {
    std::string shown;
    std::string system;  // empty: opened by shown
};

// Whether the native file is something other than a file or folder; false
// for what is not there, which the file layer reports.
bool IsSpecialSystemFile(const std::string& system) {
    struct stat st;
    return stat(system.c_str(), &st) == 0 && KindOf(st.st_mode) == EntryKind::Other;
}

struct Copy : doswalk::Walk {
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

    // Copies the bytes of the open source over the target (see
    // BeginReplaceFile: a new file beside a regular target replaces it only
    // once complete, so a failure keeps the old one; a FIFO or device is
    // written in place).
    int Bytes(qbFile* in, const Source& from, const Target& to, const qbFileInfo& info, Answer* answer) {
        const std::string& source = from.shown;
        const std::string destination = to.Path();
        // The source's system path, for the refusal of a copy over itself.
        const std::string sourcePath = !from.system.empty()          ? from.system
                                       : IsChunkName(source.c_str()) ? std::string()
                                                                     : NativePathOf(source.c_str());
        qbReplaceOptions options;
        options.systemNames = true;
        options.source = sourcePath.c_str();
        // A link put in the file's place since it was looked at is
        // replaced, not written through.
        options.keepLinks = !to.followLink;
        qbReplaceFile out;
        if (int err = BeginReplaceFile(destination.c_str(), options, &out)) {
            SetErrorDetail(to.shown.c_str());
            return err;
        }
        // Only a new file of our own takes the source's mode and dates.
        const int fd = out.temp.empty() ? -1 : ReplaceFileDescriptor(out);
        const size_t blockSize = HasCallback() ? kCallbackBlock : kPlainBlock;
        std::unique_ptr<char[]> block(new (std::nothrow) char[blockSize]);
        int err = block ? 0 : ERR_MEM;
        int64_t copied = 0;
        // From the descriptor the file layer opened and checked, never the
        // name again: the name may be spelt for the file layer alone
        // ("PROGDIR:"), or lead elsewhere by now.
        const int inFd = OpenDescriptor(in);
        const bool kernel = !err && fd >= 0 && inFd >= 0 && !HasCallback() && !IsChunkName(source.c_str()) &&
                            KernelCopy(inFd, fd, &copied, &err);
        while (!err && !kernel) {
            const size_t got = FileRead(in, block.get(), blockSize);
            if (got == 0) {
                if (FileReadFailed(in)) err = ERR_READ;
                break;
            }
            if (FileWrite(out.file.get(), block.get(), got) != got) err = ERR_WRITE;
            copied += static_cast<int64_t>(got);
            if (!err && HasCallback() && StatusMessage(source, to.shown, copied, info.size) == Answer::Abort) {
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

    int File(const Source& from, const Target& to, Answer* answer) {
        const std::string& source = from.shown;
        const bool special =
            from.system.empty() ? IsSpecialFile(source) : IsSpecialSystemFile(from.system);
        if (!IsChunkName(source.c_str()) && special) {
            *answer = Answer::Skip;
            return 0;
        }
        // An adapter may serve the name; any other file of a walk opens as
        // listed.
        qbFilePtr in(from.system.empty() ? FileOpen(source.c_str(), kFileModeRead | kFileModeAdapters, nullptr)
                                         : FileOpenThroughAdapter(source.c_str(), kFileModeRead, nullptr));
        if (!in && !from.system.empty())
            in.reset(FileOpen(from.system.c_str(), kFileModeRead | kFileModeSystemName, nullptr));
        if (!in) {
            SetErrorDetail(source.c_str());
            return ERR_READFILE;
        }
        struct stat st;
        const bool exists = fstatat(to.folder, to.name.c_str(), &st, to.followLink ? 0 : AT_SYMLINK_NOFOLLOW) == 0;
        if (exists && S_ISLNK(st.st_mode)) {
            SetErrorDetail(to.shown.c_str());
            return ERR_WRITEFILE;
        }
        struct stat read;
        if (exists && !in->adapter && !in->memory && in->stdio && in->stdio->stream &&
            fstat(in->stdio->stream->fd, &read) == 0 && read.st_dev == st.st_dev && read.st_ino == st.st_ino)
            return ERR_WRONGUSAGE;
        qbFileInfo info;
        if (!GetFileInfo(in.get(), &info)) info.size = -1;
        if (exists) {
            double r = 0;
            if (HasCallback()) {
                VmPushNewTable(L);
                SetTableFieldInt(L, "action", 1);
                SetTableFieldString(L, "source", source.c_str());
                SetTableFieldString(L, "destination", to.shown.c_str());
                if ((*answer = Ask(&r)) != Answer::Go) return 0;
            }
            if (!(st.st_mode & S_IWUSR)) {
                if (!HasCallback()) {
                    *answer = Answer::Skip;
                    return 0;
                }
                VmPushNewTable(L);
                SetTableFieldInt(L, "action", 2);
                SetTableFieldString(L, "destination", to.shown.c_str());
                if ((*answer = Ask(&r)) != Answer::Go) return 0;
                fchmodat(to.folder, to.name.c_str(), static_cast<mode_t>(FileAttrToMode(kFileAttrNormal)),
                         to.followLink ? 0 : AT_SYMLINK_NOFOLLOW);
            }
        }
        return Bytes(in.get(), from, to, info, answer);
    }

    // One folder being copied: its entries and the next one to copy, the
    // source (-1 when an adapter serves it) and the copy, both open, and
    // how long the shared paths were before its name was added.
    struct Level {
        std::vector<FolderEntry> entries;
        size_t next = 0;
        qbFd ownFrom, ownDest;  // empty for the folders the command opened
        int from = -1, dest = -1;
        size_t sourceLength = 0, shownLength = 0;
        FileId id{};
        bool native = false;
        bool made = false;  // the copy was made here: it takes mode when filled
        mode_t mode = 0;
    };

    // The folders being copied by their ids, so that a link back to one of
    // them (which would lead round forever) is met at the cost of a look-up.
    struct IdHash {
        size_t operator()(const FileId& f) const {
            return std::hash<uint64_t>()(static_cast<uint64_t>(f.ino) * 31 + static_cast<uint64_t>(f.dev));
        }
    };
    std::unordered_set<FileId, IdHash> copying;
    std::vector<Level> levels;
    // The source and copy of the folder on top, as the script sees them.
    std::string sourcePath, shownPath;
    const mode_t mask = CurrentUmask();

    // Lists the folder and puts it on top; its source folder's mode is the
    // copy's once filled.
    int Enter(Level level) {
        if (int listed = ListFolder(sourcePath, level.from, &level.entries)) return listed;
        struct stat st;
        level.native = level.from >= 0 && fstat(level.from, &st) == 0;
        level.mode = level.native ? st.st_mode & 0777 : 0777;
        if (level.native) {
            level.id = {st.st_dev, st.st_ino};
            copying.insert(level.id);
        }
        levels.push_back(std::move(level));
        return 0;
    }

    // Takes the folder on top off, its copy given its mode.
    void Leave() {
        Level& top = levels.back();
        if (top.made) fchmod(top.dest, top.mode & ~mask);
        if (top.native) copying.erase(top.id);
        sourcePath.resize(top.sourceLength);
        shownPath.resize(top.shownLength);
        levels.pop_back();
    }

    // The folder the walk meets as entry e of the folder on top, opened on
    // both sides and entered; 0 with nothing entered when it is passed over.
    int EnterFolder(const FolderEntry& e) {
        Level& top = levels.back();
        Level inner;
        inner.sourceLength = sourcePath.size();
        inner.shownLength = shownPath.size();
        const std::string source = Join(sourcePath, e.name), shown = Join(shownPath, e.name);
        // The source side follows links (as it always has).
        if (top.from >= 0) {
            inner.ownFrom = qbFd(openat(top.from, e.system.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
            struct stat st;
            if (!inner.ownFrom && (errno == EMFILE || errno == ENFILE)) {
                // Deeper than the descriptors the player may hold.
                SetErrorDetail(source.c_str());
                return ERR_LOCK2;
            }
            if (!inner.ownFrom || fstat(inner.ownFrom.get(), &st) != 0) return 0;  // gone since the listing
            const FileId id{st.st_dev, st.st_ino};
            // The destination inside the source is not copied into itself.
            if ((haveDestination && id == destination) || copying.count(id)) return 0;
            inner.from = inner.ownFrom.get();
        }
        inner.ownDest = MakeFolderAt(top.dest, e.system.c_str(), &inner.made);
        if (!inner.ownDest) {
            const bool outOfDescriptors = errno == EMFILE || errno == ENFILE;
            SetErrorDetail(shown.c_str());
            return outOfDescriptors ? ERR_LOCK2 : ERR_CREATEDIR;
        }
        inner.dest = inner.ownDest.get();
        sourcePath = source;
        shownPath = shown;
        return Enter(std::move(inner));
    }

    // Copies the contents of the folder source (open as from when native,
    // -1 when an adapter serves it) into the open folder dest, shown as
    // shown; made: dest was made for the copy. Each folder is made with one
    // call in its open parent and entered without following a link, and
    // the source is walked by descriptor too, so a deep tree costs its
    // depth, not a look-up of every prefix of every path. The folders being
    // walked are a list, not calls, so depth costs memory, never the stack.
    int Tree(const std::string& source, int from, int dest, const std::string& shown, bool made,
             Answer* answer) {
        sourcePath = source;
        shownPath = shown;
        Level root;
        root.from = from;
        root.dest = dest;
        root.made = made;
        int err = Enter(std::move(root));
        while (!err && *answer != Answer::Abort && !levels.empty()) {
            Level& top = levels.back();
            if (top.next == top.entries.size()) {
                Leave();
                continue;
            }
            const FolderEntry& e = top.entries[top.next++];
            // Never opened: FIFOs, sockets, devices and links leading nowhere.
            if (e.kind == EntryKind::Other) continue;
            // A name from an adapter that is no single entry would reach
            // outside the folder being written.
            if (!IsPlainEntryName(e.system)) continue;
            if (e.kind == EntryKind::Folder) {
                if (Enters(e.name)) err = EnterFolder(e);
                continue;
            }
            if (!Matches(e.name)) continue;
            *answer = Answer::Go;
            const Source file{Join(sourcePath, e.name),
                              top.from >= 0 ? PathThroughFolder(top.from, e.system) : std::string()};
            err = File(file, {top.dest, e.system, Join(shownPath, e.name), false}, answer);
        }
        // A stop leaves every folder copied so far with its mode.
        while (!levels.empty()) Leave();
        return err;
    }
};

// Whether the folder at inner is outer or lies inside it.
bool Inside(const std::string& inner, const std::string& outer) {
    const std::string a = GetFullPath(inner.c_str()), b = GetFullPath(outer.c_str());
    return a.compare(0, b.size(), b) == 0 && (a.size() == b.size() || a[b.size()] == '/' || b == "/");
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
    doswalk::ReadOptions(L, 4, copy);
    if (source.empty() || destFolder.empty()) return ERR_WRONGUSAGE;
    if (!copy.patterns.empty())
        while (source.size() > 1 && doswalk::IsSeparatorChar(source.back())) source.pop_back();
    bool folder = false;
    qbFd nativeSource;
    if (!IsChunkName(source.c_str())) {
        qbDirHandlePtr dir(DirOpen(source.c_str(), kDirLockRead | kDirUseAdapters, nullptr));
        int isDir = 0;
        folder = dir && DirCheck(dir.get(), &isDir) == 0 && isDir;
        if (folder && dir->native) nativeSource = OpenFolderPath(NativePathOf(source.c_str()).c_str());
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
    // A folder copied into a folder made for it keeps it as private as
    // the source.
    bool madeDest = false;
    if (int err = MakeDirectoryPath(destFolder, folder ? &madeDest : nullptr)) return err;
    // The folder the script named, its links followed; all below it is
    // written by descriptor.
    const qbFd dest = OpenFolderPath(NativePathOf(destFolder.c_str()).c_str());
    if (!dest) {
        SetErrorDetail(destFolder.c_str());
        return ERR_LOCK2;
    }
    Answer answer = Answer::Go;
    int err;
    if (folder) {
        copy.haveDestination = NativeId(destFolder, &copy.destination);
        err = copy.Tree(source, nativeSource.get(), dest.get(), destFolder, madeDest, &answer);
    } else {
        // A new name may lead into a folder below the one named.
        const std::string shown = Join(destFolder, newName.empty() ? FilePartEx(source.c_str()) : newName);
        const std::string system = NativePathOf(shown.c_str());
        const size_t slash = system.find_last_of('/');
        const qbFd parent = OpenFolderPath(slash == std::string::npos ? "." : system.substr(0, slash + 1).c_str());
        const std::string name = system.substr(slash == std::string::npos ? 0 : slash + 1);
        if (!parent || !IsPlainEntryName(name)) {
            SetErrorDetail(shown.c_str());
            return ERR_WRITEFILE;
        }
        err = copy.File({source, {}}, {parent.get(), name, shown, true}, &answer);
    }
    return err ? err : copy.error;
}
