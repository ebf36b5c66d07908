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

    // One folder being emptied: its entries and the next one to take, its
    // name in the folder below it on the list, and how long the shared
    // path was before its name was added.
    struct Level {
        qbFd folder;
        std::vector<qbFolderEntryAt> entries;
        size_t next = 0;
        std::string name;
        size_t pathLength = 0;
    };

    // Deletes the contents of the open folder shown as path, folders
    // within it too. The folders being emptied are a list, not calls, so
    // depth costs memory (and a descriptor a level), never the stack.
    int Contents(qbFd folder, const std::string& path, Answer* answer) {
        std::string shown = path;
        std::vector<Level> levels;
        Level root;
        root.folder = std::move(folder);
        if (int err = List(&root, shown)) return err;
        levels.push_back(std::move(root));
        while (!levels.empty()) {
            Level& top = levels.back();
            if (top.next == top.entries.size()) {
                // Emptied: with a pattern list only the matching files go,
                // and the folders that held them stay.
                const Level done = std::move(levels.back());
                levels.pop_back();
                if (levels.empty()) return 0;
                if (patterns.empty() && unlinkat(levels.back().folder.get(), done.name.c_str(), AT_REMOVEDIR) != 0) {
                    SetErrorDetail(shown.c_str());
                    return ERR_DELETEFILE;
                }
                shown.resize(done.pathLength);
                continue;
            }
            const qbFolderEntryAt& e = top.entries[top.next++];
            const std::string entry = FromSystemPath(e.name.c_str());
            const size_t length = shown.size();
            shown = doswalk::Join(shown, entry);
            int err = 0;
            if (!S_ISDIR(e.st.st_mode)) {
                if (Matches(entry)) err = File(top.folder.get(), e.name.c_str(), shown, answer);
            } else if (Enters(entry)) {
                Level inner;
                inner.folder = OpenFolderAt(top.folder.get(), e.name.c_str());
                if (!inner.folder) {
                    // No longer a folder: what took its place (a link) is
                    // never entered, and goes as a file would.
                    if (errno == ELOOP || errno == ENOTDIR) {
                        if (Matches(entry)) err = File(top.folder.get(), e.name.c_str(), shown, answer);
                    } else {
                        SetErrorDetail(shown.c_str());
                        err = ERR_LOCK2;
                    }
                } else {
                    if ((err = List(&inner, shown)) == 0) {
                        inner.name = e.name;
                        inner.pathLength = length;
                        levels.push_back(std::move(inner));
                        continue;
                    }
                }
            }
            if (err) return err;
            if (*answer == Answer::Abort) return 0;
            *answer = Answer::Go;
            shown.resize(length);
        }
        return 0;
    }

    int List(Level* level, const std::string& path) {
        if (ListFolderAt(level->folder.get(), &level->entries)) return 0;
        SetErrorDetail(path.c_str());
        return ERR_LOCK2;
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
        qbFd folder(open(native.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (!folder) {
            SetErrorDetail(path.c_str());
            return ERR_LOCK2;
        }
        err = del.Contents(std::move(folder), path, &answer);
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
