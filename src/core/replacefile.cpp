// Whole-or-nothing file writes through a new file and a rename.
#include "core/replacefile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

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
#include "core/objects.h"
#include "core/pluginadapters.h"

namespace {

constexpr int kTempNameTries = 100;

// Writes through a link land in the file it leads to, as an open for
// writing would.
std::string ResolvedTarget(const std::string& target) {
    struct stat st;
    if (lstat(target.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return target;
    char resolved[PATH_MAX];
    return realpath(target.c_str(), resolved) ? std::string(resolved) : target;
}

// A new file ".name.pid.n" beside target, with the target's permissions, or
// those a new file gets. -1 when none could be made.
int CreateBeside(const std::string& target, std::string* temp) {
    const size_t slash = target.find_last_of('/');
    const size_t cut = slash == std::string::npos ? 0 : slash + 1;
    struct stat st;
    const bool exists = stat(target.c_str(), &st) == 0;
    static std::atomic<unsigned> counter{0};
    for (int tries = 0; tries < kTempNameTries; ++tries) {
        *temp = target.substr(0, cut) + "." + target.substr(cut) + "." + std::to_string(getpid()) + "." +
                std::to_string(++counter);
        const int fd = open(temp->c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno == EEXIST) continue;
        if (fd < 0) return -1;
        if (exists) fchmod(fd, st.st_mode & 07777);
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
    if (id && (id == NativeFileIdOf(source) || IsFileReadByObject(id))) {
        SetErrorDetail(name);
        return ERR_WRONGUSAGE;
    }
    return 0;
}

int BeginReplaceFile(const char* name, const qbReplaceOptions& options, qbReplaceFile* out) {
    if (int err = CheckWriteTarget(name, options.source)) return err;
    const qbFileId id = NativeFileIdOf(name);
    struct stat st;
    const bool special = id && stat(ToSystemPath(name).c_str(), &st) == 0 && !S_ISREG(st.st_mode);
    const bool inPlace = !name || special || IsChunkName(name) || IsMemoryName(name) ||
                         (options.adapters && GetAdapterList(kPluginCapsFileAdapter) != nullptr);
    if (inPlace) {
        const uint32_t mode = options.adapters ? kFileModeWrite | kFileModeAdapters : kFileModeWrite;
        out->file.reset(FileOpen(name, mode, options.adapterTag));
    } else {
        out->target = ResolvedTarget(ToSystemPath(name));
        const int fd = CreateBeside(out->target, &out->temp);
        if (fd >= 0) {
            close(fd);
            out->file.reset(FileOpen(FromSystemPath(out->temp.c_str()).c_str(), kFileModeWrite, nullptr));
        } else {
            out->temp.clear();
        }
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
