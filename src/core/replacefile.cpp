// Whole-or-nothing file writes through a new file and a rename.
#include "core/replacefile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>

#include "core/chunkname.h"
#include "core/errcodes.h"
#include "core/errors.h"
#include "core/fileid.h"
#include "core/filenames.h"
#include "core/memfile.h"
#include "core/pluginadapters.h"
#include "core/readholds.h"

namespace {

constexpr int kTempNameTries = 100;
// As many links as the system follows before it gives up (ELOOP).
constexpr int kMostLinks = 40;

// Writes through a link land in the file it leads to, as an open for
// writing would; a link that leads nowhere yet leads to the file the write
// creates. Relative targets are taken from the link's folder.
std::string ResolvedTarget(std::string target) {
    for (int links = 0; links < kMostLinks; ++links) {
        struct stat st;
        if (lstat(target.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return target;
        char to[PATH_MAX];
        const ssize_t n = readlink(target.c_str(), to, sizeof to - 1);
        if (n <= 0) return target;
        to[n] = 0;
        const size_t slash = target.find_last_of('/');
        if (to[0] == '/' || slash == std::string::npos)
            target = to;
        else
            target = target.substr(0, slash + 1) + to;
    }
    return target;
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

// Gives the new file the old one's owner, group and permissions. Where the
// owner or the group can't be kept (a user replacing another's file) the
// set-user-ID or set-group-ID bit goes: the new content is the writer's,
// and must never run with the old owner's rights.
void TakeOwnership(int fd, const struct stat& old) {
    // The owner, else at least the group when the writer is in it; what
    // could not be kept shows in the new file's own stat.
    if (fchown(fd, old.st_uid, old.st_gid) != 0) (void)!fchown(fd, static_cast<uid_t>(-1), old.st_gid);
    mode_t mode = old.st_mode & 07777;
    struct stat now;
    if (fstat(fd, &now) != 0) mode &= ~(S_ISUID | S_ISGID);
    else {
        if (now.st_uid != old.st_uid) mode &= ~S_ISUID;
        if (now.st_gid != old.st_gid) mode &= ~S_ISGID;
    }
    // After fchown, which may have cleared the bits itself.
    fchmod(fd, mode);
}

// A new file beside target with the target's owner and permissions, or
// those a new file gets. -1 when none could be made.
int CreateBeside(const std::string& target, std::string* temp) {
    struct stat st;
    const bool exists = stat(target.c_str(), &st) == 0;
    static std::atomic<unsigned> counter{0};
    for (int tries = 0; tries < kTempNameTries; ++tries) {
        *temp = TempNameFor(target, ++counter);
        const int fd = open(temp->c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno == EEXIST) continue;
        if (fd < 0) return -1;
        if (exists) TakeOwnership(fd, st);
        return fd;
    }
    return -1;
}

}  // namespace

bool IsSameNativeFile(const char* a, const char* b) {
    const qbFileId id = NativeFileIdOf(a);
    return id && id == NativeFileIdOf(b);
}

qbReplaceFile::~qbReplaceFile() {
    file.reset();
    if (!temp.empty()) unlink(temp.c_str());
}

int CheckWriteTarget(const char* name, const char* source) {
    const qbFileId id = NativeFileIdOf(name);
    if (id && (id == NativeFileIdOf(source) || IsFileRead(id))) {
        SetErrorDetail(name);
        return ERR_WRONGUSAGE;
    }
    return 0;
}

int BeginReplaceFile(const char* name, const qbReplaceOptions& options, qbReplaceFile* out) {
    if (int err = CheckWriteTarget(name, options.source)) return err;
    const std::string path = name ? NativePathOf(name) : std::string();
    struct stat st;
    const bool special = !path.empty() &&
                         (options.keepLinks ? lstat(path.c_str(), &st) == 0 && !S_ISLNK(st.st_mode)
                                            : stat(path.c_str(), &st) == 0) &&
                         !S_ISREG(st.st_mode);
    const bool inPlace = !name || special || IsChunkName(name) || IsMemoryName(name) ||
                         (options.adapters && GetAdapterList(kPluginCapsFileAdapter) != nullptr);
    const uint32_t mode = options.adapters ? kFileModeWrite | kFileModeAdapters : kFileModeWrite;
    if (!inPlace) {
        out->target = options.keepLinks ? path : ResolvedTarget(path);
        const int fd = CreateBeside(out->target, &out->temp);
        if (fd >= 0) {
            close(fd);
            out->file.reset(FileOpen(FromSystemPath(out->temp.c_str()).c_str(), kFileModeWrite, nullptr));
        } else {
            // No new file can be made beside it (a folder the writer may not
            // write, a file it may): the file is written in place.
            out->temp.clear();
            out->target.clear();
            out->file.reset(FileOpen(name, mode, options.adapterTag));
        }
    } else {
        out->file.reset(FileOpen(name, mode, options.adapterTag));
    }
    if (!out->file) {
        SetErrorDetail(name ? name : "");
        return ERR_WRITEFILE;
    }
    return 0;
}

int ReplaceFileDescriptor(const qbReplaceFile& replace) {
    const qbFile* f = replace.file.get();
    return f && !f->adapter && !f->memory && f->stdio && f->stdio->stream ? fileno(f->stdio->stream) : -1;
}

int CommitReplaceFile(qbReplaceFile* replace) {
    if (!FileClose(replace->file.release())) return ERR_WRITE;
    if (replace->temp.empty()) return 0;
    if (std::rename(replace->temp.c_str(), replace->target.c_str()) != 0) return ERR_WRITE;
    replace->temp.clear();
    return 0;
}
