// The dos library's DeleteFile: a file, or a whole tree filtered by a
// wildcard list, with the script's callback asked before unprotecting and
// told of every file. A tree is walked by descriptor: every entry is removed
// in its open parent and no link is followed, so a user who swaps a folder
// not yet visited for a link to another tree (a root-run script deleting a
// folder the user can write) costs nothing outside the tree; a link goes as
// itself.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <vector>

#include "core/argapi.h"
#include "core/chunkname.h"
#include "core/errcodes.h"
#include "core/errors.h"
#include "core/fileinfo.h"
#include "core/filenames.h"
#include "core/folderfd.h"
#include "libs/doscommands.h"
#include "libs/doswalk.h"

namespace {

using doswalk::Answer;

struct Delete : doswalk::Walk {
    // Removes the file (anything but a folder) name in the open folder at;
    // shown to the callback as path.
    int File(int at, const char* name, const std::string& path, Answer* answer) {
        double r = 0;
        struct stat st;
        const bool found = fstatat(at, name, &st, AT_SYMLINK_NOFOLLOW) == 0;
        const bool link = found && S_ISLNK(st.st_mode);
        if (found && HasCallback() && !link && !(st.st_mode & S_IWUSR)) {
            VmPushNewTable(L);
            SetTableFieldInt(L, "action", 1);
            SetTableFieldString(L, "file", path.c_str());
            if ((*answer = Ask(&r)) != Answer::Go) return 0;
            // Never through a link put in the file's place meanwhile.
            fchmodat(at, name, static_cast<mode_t>(FileAttrToMode(kFileAttrNormal)), AT_SYMLINK_NOFOLLOW);
        }
        if (HasCallback()) {
            VmPushNewTable(L);
            SetTableFieldInt(L, "action", 0);
            SetTableFieldString(L, "file", path.c_str());
            if (!Call(&r) || r == 1) {
                *answer = Answer::Abort;
                return 0;
            }
        }
        if (unlinkat(at, name, 0) == 0) return 0;
        SetErrorDetail(path.c_str());
        return ERR_DELETEFILE;
    }

    // Deletes the contents of the open folder shown as path.
    int Contents(int folder, const std::string& path, Answer* answer) {
        std::vector<qbFolderEntryAt> entries;
        if (!ListFolderAt(folder, &entries)) {
            SetErrorDetail(path.c_str());
            return ERR_LOCK2;
        }
        for (const qbFolderEntryAt& e : entries) {
            const std::string entry = FromSystemPath(e.name.c_str());
            const std::string inner = doswalk::Join(path, entry);
            int err;
            if (S_ISDIR(e.st.st_mode)) {
                if (!Enters(entry)) continue;
                err = Folder(folder, e.name.c_str(), inner, answer);
            } else {
                if (!Matches(entry)) continue;
                err = File(folder, e.name.c_str(), inner, answer);
            }
            if (err) return err;
            if (*answer == Answer::Abort) return 0;
            *answer = Answer::Go;
        }
        return 0;
    }

    // The folder name in the open folder at, listed as a folder. With a
    // pattern list only the matching files go; the folders that held them
    // stay.
    int Folder(int at, const char* name, const std::string& path, Answer* answer) {
        const qbFd folder = OpenFolderAt(at, name);
        if (!folder) {
            // No longer a folder: what took its place (a link) is never
            // entered, and goes as a file would.
            if (errno == ELOOP || errno == ENOTDIR)
                return Matches(FromSystemPath(name)) ? File(at, name, path, answer) : 0;
            SetErrorDetail(path.c_str());
            return ERR_LOCK2;
        }
        if (int err = Contents(folder.get(), path, answer)) return err;
        if (*answer == Answer::Abort || !patterns.empty()) return 0;
        if (unlinkat(at, name, AT_REMOVEDIR) == 0) return 0;
        SetErrorDetail(path.c_str());
        return ERR_DELETEFILE;
    }
};

}  // namespace

int cmdDeleteFile(ScriptState* L) {
    CheckArgCount(L, 1, 5, 0, 0);
    std::string path = VmCheckString(L, 1, nullptr);
    Delete del;
    del.L = L;
    doswalk::ReadOptions(L, 2, del);
    if (path.empty() || IsChunkName(path.c_str())) return ERR_WRONGUSAGE;
    bool keep = !del.patterns.empty();
    if (path.size() > 1 && doswalk::IsSeparatorChar(path.back())) {
        keep = true;
        while (path.size() > 1 && doswalk::IsSeparatorChar(path.back())) path.pop_back();
    }
    struct stat st;
    const std::string native = NativePathOf(path.c_str());
    if (lstat(native.c_str(), &st) != 0) {
        SetErrorDetail(path.c_str());
        return ERR_LOCK2;
    }
    Answer answer = Answer::Go;
    int err;
    if (S_ISDIR(st.st_mode)) {
        // The folder named goes by its path (the script named it), all
        // within it by descriptor.
        const qbFd folder(open(native.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (!folder) {
            SetErrorDetail(path.c_str());
            return ERR_LOCK2;
        }
        err = del.Contents(folder.get(), path, &answer);
        if (!err && !keep && answer != Answer::Abort && rmdir(native.c_str()) != 0) {
            SetErrorDetail(path.c_str());
            err = ERR_DELETEFILE;
        }
    } else {
        if (!del.patterns.empty()) return ERR_NODIRPATTERN;
        err = del.File(AT_FDCWD, native.c_str(), path, &answer);
    }
    return err ? err : del.error;
}
