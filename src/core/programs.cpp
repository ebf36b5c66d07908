// Running external programs and opening documents. Documents go to the
// desktop's opener; programs run through the shell when the caller waits,
// else from an argument vector with the output optionally sent to a file.
#include "core/programs.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <thread>

#include "core/chars.h"
#include "core/descriptorlimit.h"
#include "core/errcodes.h"
#include "core/errors.h"
#include "core/filenames.h"
#include "core/readholds.h"

extern char** environ;

namespace {

constexpr size_t kMaxProgramArguments = 127;
constexpr size_t kMaxOutputFileName = 256;

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// Reads one argument from p: double quotes group text with blanks in it and
// are dropped. False for a quote left open.
bool ReadArgument(const char*& p, std::string& out) {
    bool quoted = false;
    for (; *p && (quoted || !IsBlank(*p)); ++p) {
        if (*p == '"') quoted = !quoted;
        else out += *p;
    }
    return !quoted;
}

struct SpawnActions {
    posix_spawn_file_actions_t actions;
    SpawnActions() { posix_spawn_file_actions_init(&actions); }
    ~SpawnActions() { posix_spawn_file_actions_destroy(&actions); }
    SpawnActions(const SpawnActions&) = delete;
    SpawnActions& operator=(const SpawnActions&) = delete;
};

struct SpawnAttributes {
    posix_spawnattr_t attr;
    SpawnAttributes() { posix_spawnattr_init(&attr); }
    ~SpawnAttributes() { posix_spawnattr_destroy(&attr); }
    SpawnAttributes(const SpawnAttributes&) = delete;
    SpawnAttributes& operator=(const SpawnAttributes&) = delete;
};

int Spawn(const std::vector<std::string>& argv, const std::string& outputFile, pid_t* pid) {
    SpawnActions actions;
    // The child truncates the file: never one a live object reads.
    if (!outputFile.empty() && IsFileRead(SystemFileIdOf(outputFile.c_str()))) {
        SetErrorDetail(outputFile.c_str());
        return ERR_WRONGUSAGE;
    }
    if (!outputFile.empty()) {
        posix_spawn_file_actions_addopen(&actions.actions, STDOUT_FILENO, outputFile.c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_adddup2(&actions.actions, STDOUT_FILENO, STDERR_FILENO);
    }
    SpawnAttributes attributes;
    ResetChildSignals(&attributes.attr);
    std::vector<char*> args;
    args.reserve(argv.size() + 1);
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    const int rc = SpawnWithGivenLimit(pid, args[0], &actions.actions, &attributes.attr, args.data(), environ);
    return rc == 0 ? 0 : ERR_EXECUTE;
}

// Nobody else will wait for this child, so a thread of its own collects its
// status and no zombie stays behind.
void ReapInBackground(pid_t pid) {
    std::thread([pid] {
        int status = 0;
        while (waitpid(pid, &status, 0) == -1 && errno == EINTR) {
        }
    }).detach();
}

// The child goes to the caller when it asked for the process id, else it is
// reaped in the background.
void HandOver(pid_t pid, pid_t* outPid) {
    if (outPid) *outPid = pid;
    else ReapInBackground(pid);
}

// Whether the opener then finds an application for the document is not
// reported, but an opener that can't be started is.
int OpenDocument(const std::string& path, int async, pid_t* outPid) {
    pid_t pid = -1;
    if (Spawn({"xdg-open", path}, {}, &pid) != 0) return ERR_EXECUTE;
    HandOver(pid, async ? outPid : nullptr);
    return 0;
}

// Single quotes keep the shell from splitting or expanding a file name.
std::string ShellQuote(const std::string& text) {
    std::string out = "'";
    for (char c : text) {
        if (c == '\'') out += "'\\''";
        else out += c;
    }
    out += '\'';
    return out;
}

// The shell's own statuses for "not found" (127) and "found but not
// executable" (126) mean the program never ran.
int RunThroughShell(const std::string& path, const char* args) {
    struct stat st{};
    std::string command = stat(path.c_str(), &st) == 0 ? ShellQuote(path) : path;
    if (args && *args) {
        command += ' ';
        command += args;
    }
    // Spawned rather than run through system() so that the shell gets the
    // default signal handling back, SIGPIPE above all.
    pid_t pid = -1;
    if (Spawn({"/bin/sh", "-c", command}, {}, &pid) != 0) return ERR_EXECUTE;
    int status = 0;
    pid_t waited;
    while ((waited = waitpid(pid, &status, 0)) == -1 && errno == EINTR) {
    }
    if (waited != pid) return ERR_EXECUTE;
    if (WIFEXITED(status) && (WEXITSTATUS(status) == 127 || WEXITSTATUS(status) == 126)) return ERR_EXECUTE;
    return 0;
}

}  // namespace

// The child starts with no blocked signals and the default handling of the
// signals a program expects to find: our threads may block some, and the
// process may ignore SIGPIPE for its own sockets.
void ResetChildSignals(posix_spawnattr_t* attr) {
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setsigmask(attr, &none);
    sigset_t defaults;
    sigemptyset(&defaults);
    for (int sig : {SIGPIPE, SIGINT, SIGQUIT, SIGTERM, SIGHUP, SIGCHLD, SIGALRM, SIGUSR1, SIGUSR2})
        sigaddset(&defaults, sig);
    posix_spawnattr_setsigdefault(attr, &defaults);
    posix_spawnattr_setflags(attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
}

bool IsProgramPath(const char* path) {
    struct stat st{};
    if (stat(path, &st) != 0) return true;
    if (S_ISDIR(st.st_mode)) return false;
    return access(path, X_OK) == 0;
}

int SplitProgramArguments(const char* path, const char* args, std::vector<std::string>& argv,
                          std::string& outputFile) {
    argv.assign(1, path ? path : "");
    outputFile.clear();
    const char* p = args ? args : "";
    bool redirectNext = false;
    for (;;) {
        while (IsBlank(*p)) ++p;
        if (!*p) break;
        bool redirect = redirectNext;
        redirectNext = false;
        if (!redirect && *p == '>') {
            redirect = true;
            ++p;
            if (!*p || IsBlank(*p)) {
                redirectNext = true;
                continue;
            }
        }
        std::string word;
        if (!ReadArgument(p, word)) return ERR_WRONGUSAGE;
        if (redirect) {
            if (word.size() > kMaxOutputFileName) return ERR_WRONGUSAGE;
            outputFile = NativePathOf(word.c_str());
            continue;
        }
        if (argv.size() > kMaxProgramArguments) return ERR_WRONGUSAGE;
        argv.push_back(std::move(word));
    }
    // A '>' with no file name after it.
    if (redirectNext) return ERR_WRONGUSAGE;
    return 0;
}

int RunProgram(const char* path, const char* args, int async, void* user, pid_t* outPid) {
    (void)user;  // belongs to the thread that watches the program
    if (outPid) *outPid = -1;
    if (!path || !*path) return ERR_EXECUTE;
    // A program is a name like any other: "PROGDIR:" and the system's text.
    const std::string native = NativePathOf(path);
    if (!IsProgramPath(native.c_str())) return OpenDocument(native, async, outPid);
    if (!async) return RunThroughShell(native, args);

    std::vector<std::string> argv;
    std::string outputFile;
    if (int err = SplitProgramArguments(native.c_str(), args, argv, outputFile)) return err;
    pid_t pid = -1;
    if (int err = Spawn(argv, outputFile, &pid)) return err;
    HandOver(pid, outPid);
    return 0;
}

int ExecuteProgram(const char* path, const char* args, int flag) {
    return RunProgram(path, args, flag, nullptr, nullptr);
}
