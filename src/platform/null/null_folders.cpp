// The in-memory backend's folders: the desktop's rules below a home of its
// own, made in the temporary folder at the first question and removed when
// the process ends, so that a run without a desktop never writes into the
// real user's folders.
#include <stdlib.h>

#include <filesystem>
#include <string>
#include <system_error>

#include "platform/linux/linux_backend.h"
#include "platform/null/null_backend.h"

namespace null_backend {

namespace {

class TemporaryHomeFolder {
public:
    TemporaryHomeFolder() {
        std::error_code ec;
        std::string pattern = (std::filesystem::temp_directory_path(ec) / "qb-home-XXXXXX").string();
        if (ec) pattern = "/tmp/qb-home-XXXXXX";
        if (::mkdtemp(pattern.data())) path_ = pattern;
    }
    ~TemporaryHomeFolder() {
        std::error_code ec;
        if (!path_.empty()) std::filesystem::remove_all(path_, ec);
    }
    TemporaryHomeFolder(const TemporaryHomeFolder&) = delete;
    TemporaryHomeFolder& operator=(const TemporaryHomeFolder&) = delete;
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

linux_backend::FolderPlaces Places() { return linux_backend::FolderPlaces{TemporaryHome(), "", ""}; }

int GetSystemFolderPath(int index, char* buffer, size_t size) {
    return linux_backend::FolderPathIn(Places(), index, buffer, size);
}

int GetPrefsPath(char* buffer, size_t size) { return linux_backend::PrefsPathIn(Places(), buffer, size); }

}  // namespace

const std::string& TemporaryHome() {
    static const TemporaryHomeFolder home;
    return home.path();
}

void FillFolderOps(qbPlatformOps& ops) {
    ops.GetSystemFolderPath = &GetSystemFolderPath;
    ops.GetPrefsPath = &GetPrefsPath;
}

}  // namespace null_backend
