// Whole-or-nothing file writes through a new file and a rename.
#include "core/replacefile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "core/chunkname.h"
#include "core/errcodes.h"
#include "core/errors.h"
#include "core/fileid.h"
#include "core/filenames.h"
#include "core/loadertags.h"
#include "core/memfile.h"
#include "core/pluginadapters.h"
#include "core/readholds.h"
#include "core/signalcleanup.h"

namespace {

constexpr int kTempNameTries = 100;

void DropTemp(const std::string& temp) {
    unlink(temp.c_str());
    ForgetSignalCleanupPath(temp.c_str());
}
// As many links as the system follows before it gives up (ELOOP).
constexpr int kMostLinks = 40;

std::string FolderOf(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// Whether path's folder is one others may write and only owners may delete
// from (the system's temporary folder, a group's shared folder: sticky and
// writable by its group or by everybody); its owner then.
bool InStickyFolder(const std::string& path, uid_t* owner) {
    struct stat folder;
    if (stat(FolderOf(path).c_str(), &folder) != 0) return false;
    *owner = folder.st_uid;
    return (folder.st_mode & S_ISVTX) && (folder.st_mode & (S_IWOTH | S_IWGRP));
}

// The kernel's protections of such folders at their strictest (fs.
// protected_symlinks, fs.protected_regular at 2), kept whatever its
// switches say, since the road below resolves links itself and hands a
// replaced file back to its owner: a link there leads the writer on, and a
// file there is replaced or written, only when the writer or the folder's
// owner owns it.
bool OwnedHere(const std::string& path, const struct stat& st) {
    uid_t owner = 0;
    return !InStickyFolder(path, &owner) || st.st_uid == geteuid() || st.st_uid == owner;
}

// Writes through a link land in the file it leads to, as an open for
// writing would; a link that leads nowhere yet leads to the file the write
// creates. Relative targets are taken from the link's folder. Empty when a
// link may not lead the writer on, or the links lead round.
std::string ResolvedTarget(std::string target) {
    for (int links = 0; links < kMostLinks; ++links) {
        struct stat st;
        if (lstat(target.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return target;
        if (!OwnedHere(target, st)) return {};
        char to[PATH_MAX];
        const ssize_t n = readlink(target.c_str(), to, sizeof to - 1);
        if (n <= 0) return {};
        to[n] = 0;
        const size_t slash = target.find_last_of('/');
        if (to[0] == '/' || slash == std::string::npos)
            target = to;
        else
            target = target.substr(0, slash + 1) + to;
    }
    return {};
}

// The temporary name beside target: ".name.pid.n", the name cut so that the
// whole fits the longest name a folder holds.
std::string TempNameFor(const std::string& target, unsigned serial) {
    const size_t slash = target.find_last_of('/');
    const size_t cut = slash == std::string::npos ? 0 : slash + 1;
    std::string tail(".");
    tail.append(std::to_string(getpid())).append(".").append(std::to_string(serial));
    const size_t room = NAME_MAX - 1 - tail.size();
    std::string name(target, 0, cut);
    name.append(".").append(target, cut, std::min(room, target.size() - cut)).append(tail);
    return name;
}

// The extended attributes a replace carries: the access ACL (without it a
// named user loses the file and the group bits, the ACL's mask, let in the
// whole group) and the user's own user.* attributes. security.capability
// goes, as the set-ID bits do: the new content is the writer's. Other
// security.* and trusted.* attributes are the system's to give.
constexpr const char* kAccessAcl = "system.posix_acl_access";

bool CarriedAttribute(const char* name) {
    return std::strcmp(name, kAccessAcl) == 0 || std::strncmp(name, "user.", 5) == 0;
}

// The old file's attributes, read on its descriptor when it opens (the
// file stat() saw), else by name. False when they could not be read.
bool ReadAttributes(const std::string& target, std::vector<std::pair<std::string, std::string>>* out) {
    const int fd = open(target.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
    auto list = [&](char* buf, size_t size) {
        return fd >= 0 ? flistxattr(fd, buf, size) : llistxattr(target.c_str(), buf, size);
    };
    auto get = [&](const char* name, void* buf, size_t size) {
        return fd >= 0 ? fgetxattr(fd, name, buf, size) : lgetxattr(target.c_str(), name, buf, size);
    };
    bool ok = true;
    std::string names;
    for (int tries = 0; tries < 4; ++tries) {
        const ssize_t n = list(nullptr, 0);
        if (n < 0) {
            // A file system without attributes has none to carry.
            ok = errno == ENOTSUP;
            break;
        }
        names.resize(static_cast<size_t>(n));
        const ssize_t got = list(names.data(), names.size());
        if (got >= 0) {
            names.resize(static_cast<size_t>(got));
            break;
        }
        if (errno != ERANGE || tries == 3) ok = false;
    }
    for (size_t at = 0; ok && at < names.size(); at += std::strlen(names.c_str() + at) + 1) {
        const char* name = names.c_str() + at;
        if (!CarriedAttribute(name)) continue;
        std::string value;
        ssize_t n = -1;
        for (int tries = 0; tries < 4; ++tries) {
            n = get(name, nullptr, 0);
            if (n < 0) break;
            value.resize(static_cast<size_t>(n));
            n = get(name, value.data(), value.size());
            if (n >= 0 || errno != ERANGE) break;
        }
        // An attribute gone since the list was taken is no loss.
        if (n < 0 && errno == ENODATA) continue;
        if (n < 0) ok = false;
        else out->emplace_back(name, value.substr(0, static_cast<size_t>(n)));
    }
    if (fd >= 0) close(fd);
    return ok;
}

// Gives the new file the old one's owner, group, permissions and carried
// attributes. Where the owner or the group can't be kept (a user replacing
// another's file) the set-user-ID or set-group-ID bit goes: the new content
// is the writer's, and must never run with the old owner's rights. False
// when an attribute could not be carried: the caller then writes in place,
// since a file without its ACL would widen or narrow who reads it.
bool TakeOwnership(int fd, const struct stat& old, const std::string& target) {
    // The owner, else at least the group when the writer is in it; what
    // could not be kept shows in the new file's own stat.
    if (fchown(fd, old.st_uid, old.st_gid) != 0) (void)!fchown(fd, static_cast<uid_t>(-1), old.st_gid);
    std::vector<std::pair<std::string, std::string>> attributes;
    if (!ReadAttributes(target, &attributes)) return false;
    bool hasAcl = false;
    for (const auto& [name, value] : attributes) {
        hasAcl = hasAcl || name == kAccessAcl;
        if (fsetxattr(fd, name.c_str(), value.data(), value.size(), 0) != 0) return false;
    }
    // A folder's default ACL gave the new file one the old file lacks.
    if (!hasAcl && fremovexattr(fd, kAccessAcl) != 0 && errno != ENODATA && errno != ENOTSUP) return false;
    mode_t mode = old.st_mode & 07777;
    struct stat now;
    if (fstat(fd, &now) != 0) mode &= ~(S_ISUID | S_ISGID);
    else {
        if (now.st_uid != old.st_uid) mode &= ~S_ISUID;
        if (now.st_gid != old.st_gid) mode &= ~S_ISGID;
    }
    // After fchown, which may have cleared the bits itself; with an ACL the
    // group bits are its mask, which the old mode holds.
    fchmod(fd, mode);
    return true;
}

// Why no new file could be made beside a target.
enum class NoNewFile {
    Refused,     // the folder refuses the writer a new name: written in place
    Attributes,  // the old file's ACL or attributes could not be carried: in place
    Full,        // no room for an inode, a quota spent: ERR_WRITE, the old file stays
    Failed,      // anything else (no such folder): ERR_WRITEFILE
};

// A new file beside target with the target's owner, permissions and
// carried attributes, or those a new file gets. -1 when none could be
// made, or the old file's attributes could not be carried, with why.
int CreateBeside(const std::string& target, const struct stat* old, std::string* temp, NoNewFile* why) {
    static std::atomic<unsigned> counter{0};
    *why = NoNewFile::Failed;
    for (int tries = 0; tries < kTempNameTries; ++tries) {
        *temp = TempNameFor(target, ++counter);
        const int fd = open(temp->c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno == EEXIST) continue;
        if (fd < 0) {
            if (errno == EACCES || errno == EPERM || errno == EROFS) *why = NoNewFile::Refused;
            if (errno == ENOSPC || errno == EDQUOT) *why = NoNewFile::Full;
            break;
        }
        // A signal that ends the player while the file is written takes it.
        AddSignalCleanupPath(temp->c_str(), false);
        if (!old || TakeOwnership(fd, *old, target)) return fd;
        close(fd);
        DropTemp(*temp);
        *why = NoNewFile::Attributes;
        break;
    }
    temp->clear();
    return -1;
}

}  // namespace

bool IsSameNativeFile(const char* a, const char* b) {
    const qbFileId id = NativeFileIdOf(a);
    return id && id == NativeFileIdOf(b);
}

qbReplaceFile::~qbReplaceFile() {
    file.reset();
    if (!temp.empty()) DropTemp(temp);
}

namespace {

// The refusal of CheckWriteTarget for a system path and the source's.
int CheckSystemTarget(const char* shown, const std::string& path, const std::string& source) {
    struct stat st, from;
    if (path.empty() || stat(path.c_str(), &st) != 0) return 0;
    const qbFileId id = FileIdOf(st);
    if ((!source.empty() && stat(source.c_str(), &from) == 0 && FileIdOf(from) == id) || IsFileRead(id)) {
        SetErrorDetail(shown);
        return ERR_WRONGUSAGE;
    }
    return 0;
}

int Refuse(const char* name) {
    SetErrorDetail(name ? name : "");
    return ERR_WRITEFILE;
}

}  // namespace

int CheckWriteTarget(const char* name, const char* source) {
    const qbFileId id = NativeFileIdOf(name);
    if (id && (id == NativeFileIdOf(source) || IsFileRead(id))) {
        SetErrorDetail(name);
        return ERR_WRONGUSAGE;
    }
    return 0;
}

int BeginReplaceFile(const char* name, const qbReplaceOptions& options, qbReplaceFile* out) {
    const bool system = options.systemNames;
    if (system) {
        if (int err = CheckSystemTarget(name, name ? name : "", options.source ? options.source : ""))
            return err;
    } else if (int err = CheckWriteTarget(name, options.source)) {
        return err;
    }
    // A FIFO's open waits for its reader; these writers never wait for one.
    constexpr uint32_t kMode = kFileModeWrite | kFileModeNoWait;
    const bool virtualName = !name || (!system && (IsChunkName(name) || IsMemoryName(name)));
    if (options.adapters && !system && GetAdapterList(kPluginCapsFileAdapter) != nullptr) {
        // A name an adapter serves is the adapter's to write; every other
        // name keeps the replace road.
        out->file.reset(virtualName ? FileOpen(name, kMode | kFileModeAdapters, options.adapterTag)
                                    : FileOpenThroughAdapter(name, kMode, options.adapterTag));
        if (out->file) return 0;
        if (virtualName || !LoaderAllowedByTag(options.adapterTag, "inbuilt", 0)) return Refuse(name);
    }
    if (virtualName) {
        out->file.reset(FileOpen(name, kMode, nullptr));
        return out->file ? 0 : Refuse(name);
    }
    const std::string path = system ? std::string(name) : NativePathOf(name);
    if (path.empty()) return Refuse(name);
    // The file the name leads to, its links resolved here so that the new
    // file goes beside that one (a link kept, with keepLinks, is replaced
    // as a file would be, never written through).
    const std::string target = options.keepLinks ? path : ResolvedTarget(path);
    if (target.empty()) return Refuse(name);
    struct stat st;
    const bool exists = lstat(target.c_str(), &st) == 0;
    const bool link = exists && S_ISLNK(st.st_mode);
    if (link && !options.keepLinks) return Refuse(name);
    if (exists && !link && !OwnedHere(target, st)) return Refuse(name);
    // A FIFO or a device stays what it is; a file with other names keeps
    // them all only when its own inode takes the bytes.
    const bool inPlace = exists && !link && (!S_ISREG(st.st_mode) || st.st_nlink > 1);
    if (!inPlace) {
        out->target = target;
        NoNewFile why;
        const int fd = CreateBeside(out->target, exists && !link ? &st : nullptr, &out->temp, &why);
        if (fd >= 0) {
            struct stat made;
            if (fstat(fd, &made) == 0) out->made = FileIdOf(made);
            if (AfterMakingNewFile) AfterMakingNewFile(out->temp.c_str());
            // The bytes go through the descriptor that made the new file:
            // its name is in a folder others may write, and may lead
            // elsewhere by now.
            out->file.reset(FileOverNewFile(fd, out->temp.c_str()));
            return out->file ? 0 : Refuse(name);
        }
        // No new file can be made beside it (a folder the writer may not
        // write, a file it may), or it could not take the old file's ACL or
        // attributes: the file is written in place, but never through a
        // link the caller keeps. A file system without room for the new
        // file would have no room for the bytes either: a write in place
        // would cut the old file and fail.
        out->target.clear();
        if (why == NoNewFile::Full) {
            SetErrorDetail(name);
            return ERR_WRITE;
        }
        if (why == NoNewFile::Failed || link) return Refuse(name);
    }
    // The file that was looked at, or a new one, never what a link put in
    // its place since leads to.
    if (BeforeOpeningInPlace) BeforeOpeningInPlace(target.c_str());
    out->file.reset(FileOpenExpected(target.c_str(), kMode, exists ? FileIdOf(st) : qbFileId{}));
    return out->file ? 0 : Refuse(name);
}

int ReplaceFileDescriptor(const qbReplaceFile& replace) {
    const qbFile* f = replace.file.get();
    return f && !f->adapter && !f->memory && f->stdio && f->stdio->stream ? f->stdio->stream->fd : -1;
}

int CommitReplaceFile(qbReplaceFile* replace) {
    if (!FileClose(replace->file.release())) return ERR_WRITE;
    if (replace->temp.empty()) return 0;
    // Only the file written takes the target's place, never what another
    // user put at its name (who then keeps it: the destructor leaves a
    // name that is no longer ours).
    struct stat now;
    if (lstat(replace->temp.c_str(), &now) != 0 || FileIdOf(now) != replace->made) {
        ForgetSignalCleanupPath(replace->temp.c_str());
        replace->temp.clear();
        return ERR_WRITE;
    }
    if (std::rename(replace->temp.c_str(), replace->target.c_str()) != 0) return ERR_WRITE;
    ForgetSignalCleanupPath(replace->temp.c_str());
    replace->temp.clear();
    return 0;
}
