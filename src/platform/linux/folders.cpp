// The user's folders and the player's preferences folder as the freedesktop
// conventions place them, and URLs handed to the desktop's opener.
#include <fcntl.h>
#include <pwd.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "core/chars.h"
#include "core/descriptorlimit.h"
#include "core/errcodes.h"
#include "core/errors.h"
#include "core/programs.h"
#include "platform/linux/linux_backend.h"

extern char** environ;

namespace linux_backend {

namespace {

enum : int {
    kFolderPrograms = 0,
    kFolderConfig = 1,
    kFolderHome = 2,
    kFolderDocuments = 3,
    kUserName = 4,
    kFolderSystemConfig = 5,
};

std::string Env(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

// The password entry's home folder or login name.
std::string PasswordField(bool home) {
    std::vector<char> buffer(16384);
    passwd entry{};
    passwd* found = nullptr;
    if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found) != 0 || !found) return "";
    const char* field = home ? found->pw_dir : found->pw_name;
    return field ? field : "";
}

std::string Home() {
    std::string home = Env("HOME");
    return home.empty() ? PasswordField(true) : home;
}

bool IsFolder(const std::string& path) {
    struct stat info {};
    return !path.empty() && ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

std::string ConfigFolder(const FolderPlaces& places) {
    if (!places.configHome.empty()) return places.configHome;
    return places.home.empty() ? "" : places.home + "/.config";
}

// XDG_DOCUMENTS_DIR="$HOME/Documents" in the user-dirs file, with $HOME
// expanded; "" when the file does not name it.
std::string UserDirsDocuments(const FolderPlaces& places) {
    const std::string config = ConfigFolder(places);
    if (config.empty()) return "";
    std::ifstream in(config + "/user-dirs.dirs");
    std::string line;
    const std::string key = "XDG_DOCUMENTS_DIR=";
    while (std::getline(in, line)) {
        if (line.compare(0, key.size(), key) != 0) continue;
        std::string value = line.substr(key.size());
        if (value.size() >= 2 && value.front() == '"' && value.back() == '"') value = value.substr(1, value.size() - 2);
        if (value.compare(0, 5, "$HOME") == 0) value = places.home + value.substr(5);
        return value;
    }
    return "";
}

std::string DocumentsFolder(const FolderPlaces& places) {
    const std::string named = UserDirsDocuments(places);
    if (!named.empty()) return named;
    if (!places.home.empty() && IsFolder(places.home + "/Documents")) return places.home + "/Documents";
    return places.home;
}

std::string SystemConfigFolder(const FolderPlaces& places) {
    const std::string first = places.configDirs.substr(0, places.configDirs.find(':'));
    return first.empty() ? "/etc/xdg" : first;
}

std::string Folder(int index, const FolderPlaces& places) {
    switch (index) {
        case kFolderPrograms: return "/usr/bin";
        case kFolderConfig: return ConfigFolder(places);
        case kFolderHome: return places.home;
        case kFolderDocuments: return DocumentsFolder(places);
        case kUserName: return PasswordField(false);
        case kFolderSystemConfig: return SystemConfigFolder(places);
        default: return "";
    }
}

// The file layer takes ISO 8859-1 paths; one that does not fit is none.
void CopyOut(const std::string& text, char* buffer, size_t size) {
    if (!buffer || size == 0) return;
    buffer[0] = 0;
    const std::string latin1 = FileNameToLatin1(text.c_str());
    if (latin1.size() >= size) return;
    std::snprintf(buffer, size, "%s", latin1.c_str());
}

}  // namespace

FolderPlaces DesktopPlaces() { return FolderPlaces{Home(), Env("XDG_CONFIG_HOME"), Env("XDG_CONFIG_DIRS")}; }

int FolderPathIn(const FolderPlaces& places, int index, char* buffer, size_t size) {
    CopyOut(Folder(index, places), buffer, size);
    return 0;
}

int GetSystemFolderPath(int index, char* buffer, size_t size) {
    return FolderPathIn(DesktopPlaces(), index, buffer, size);
}

int GetPrefsPath(char* buffer, size_t size) { return PrefsPathIn(DesktopPlaces(), buffer, size); }

int PrefsPathIn(const FolderPlaces& places, char* buffer, size_t size) {
    std::string path = ConfigFolder(places);
    if (path.empty()) {
        CopyOut("", buffer, size);
        return 0;
    }
    // The configuration folder itself may be missing on a new account.
    ::mkdir(path.c_str(), 0700);
    for (const char* part : {"MorvaleLumegrid", "Quenbrook", "Preferences"}) {
        path += '/';
        path += part;
        ::mkdir(path.c_str(), 0755);  // an existing folder is fine, and so is any other failure here
    }
    CopyOut(path, buffer, size);
    return 0;
}

int OpenURLNative(const char* url) {
    std::string program = "xdg-open";
    std::string argument = Latin1ToUTF8(url ? url : "");
    char* argv[] = {program.data(), argument.data(), nullptr};
    // The opener starts with no blocked signals and their default handling,
    // and its output does not mix into the player's.
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    ResetChildSignals(&attr);
    pid_t pid = -1;
    const int spawned = SpawnWithGivenLimit(&pid, "xdg-open", &actions, &attr, argv, environ);
    posix_spawnattr_destroy(&attr);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) {
        SetErrorDetail("xdg-open");
        return ERR_EXECUTE;
    }
    // xdg-open may stay as long as the program it starts: a thread of its
    // own waits for it, so that no zombie stays and the player goes on.
    std::thread([pid] {
        while (::waitpid(pid, nullptr, 0) == -1 && errno == EINTR) {
        }
    }).detach();
    return 0;
}

}  // namespace linux_backend
