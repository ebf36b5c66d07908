// Requesters through zenity: one run of the program per requester, with an
// argument vector (no shell), UTF-8 texts, and the answer read from its
// standard output. zenity's exit status 1 is the user's cancel.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "core/chars.h"
#include "core/descriptorlimit.h"
#include "core/errcodes.h"
#include "core/programs.h"
#include "platform/linux/requesters_linux.h"
#include "platform/requesterrules.h"

extern char** environ;

namespace linux_requesters {

namespace {

constexpr int kZenityChosen = 0;
constexpr int kZenityCancelled = 1;
// zenity checks nothing while the user types: an answer that the field
// would have refused is asked for again, up to this many times.
constexpr int kMaxStringAttempts = 50;
// Separates the names of a multiple choice; no file name holds it.
constexpr char kFileSeparator[] = "\n";

class Fd {
public:
    explicit Fd(int fd = -1) : fd_(fd) {}
    ~Fd() { Close(); }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return fd_; }
    void Close() {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
    }

private:
    int fd_;
};

std::string Utf8(const char* latin1) { return Latin1ToUTF8(latin1 ? latin1 : ""); }

std::string Latin1(const std::string& utf8) { return UTF8ToLatin1(utf8.c_str()); }

std::string TitleArg(const char* title) { return "--title=" + Utf8(title); }

std::vector<std::string> SplitAll(const std::string& text, const std::string& separator) {
    std::vector<std::string> parts;
    size_t start = 0;
    for (;;) {
        const size_t at = text.find(separator, start);
        parts.push_back(text.substr(start, at == std::string::npos ? std::string::npos : at - start));
        if (at == std::string::npos) return parts;
        start = at + separator.size();
    }
}

}  // namespace

int RunZenity(const std::vector<std::string>& args, ZenityReply* reply) {
    *reply = ZenityReply{};
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) return ERR_WINDOW;
    Fd readEnd(fds[0]), writeEnd(fds[1]);
    std::vector<char*> argv;
    std::string program = "zenity";
    argv.push_back(program.data());
    std::vector<std::string> copies(args);
    for (std::string& a : copies) argv.push_back(a.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, writeEnd.get(), STDOUT_FILENO);
    // GTK's warnings about dialogs without a parent are no concern of the
    // player's output.
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    // zenity starts with no blocked signals and their default handling: the
    // player's threads block some and the player may ignore SIGPIPE.
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    ResetChildSignals(&attr);
    pid_t pid = -1;
    const int spawned = SpawnWithGivenLimit(&pid, "zenity", &actions, &attr, argv.data(), environ);
    posix_spawnattr_destroy(&attr);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) return ERR_WINDOW;
    writeEnd.Close();

    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(readEnd.get(), buffer, sizeof buffer);
        if (n > 0) {
            reply->output.append(buffer, static_cast<size_t>(n));
        } else if (n == 0 || errno != EINTR) {
            break;
        }
    }
    int status = 0;
    while (::waitpid(pid, &status, 0) == -1) {
        if (errno != EINTR) return ERR_WINDOW;
    }
    if (!reply->output.empty() && reply->output.back() == '\n') reply->output.pop_back();
    if (!WIFEXITED(status)) return ERR_WINDOW;
    reply->status = WEXITSTATUS(status);
    return reply->status == kZenityChosen || reply->status == kZenityCancelled ? 0 : ERR_WINDOW;
}

int32_t ParseZenityColour(const std::string& text) {
    int r = 0, g = 0, b = 0;
    double a = 0;
    char tail = 0;
    if (std::sscanf(text.c_str(), "rgb(%d,%d,%d)%c", &r, &g, &b, &tail) == 3 ||
        std::sscanf(text.c_str(), "rgba(%d,%d,%d,%lf)%c", &r, &g, &b, &a, &tail) == 4) {
        if (r < 0 || r > 255 || g < 0 || g > 255 || b < 0 || b > 255) return -1;
        return ColourFromRGB(r, g, b);
    }
    if (text.size() == 7 && text[0] == '#') {
        for (size_t i = 1; i < 7; ++i)
            if (!std::isxdigit(static_cast<unsigned char>(text[i]))) return -1;
        return static_cast<int32_t>(std::strtol(text.c_str() + 1, nullptr, 16));
    }
    return -1;
}

std::string CaseBlindGlob(const std::string& suffix) {
    std::string glob = "*";
    for (char c : suffix) {
        const unsigned char u = static_cast<unsigned char>(c);
        if (std::isalpha(u)) {
            glob += '[';
            glob += static_cast<char>(std::tolower(u));
            glob += static_cast<char>(std::toupper(u));
            glob += ']';
        } else if (c == '*' || c == '?' || c == '[' || c == ']') {
            glob += '[';
            glob += c;
            glob += ']';
        } else {
            glob += c;
        }
    }
    return glob;
}

int ZenityColorRequester(int32_t initial, int32_t* outColour) {
    *outColour = -1;
    const int32_t start = initial < 0 ? 0 : initial & 0xFFFFFF;
    char colour[16];
    std::snprintf(colour, sizeof colour, "#%06x", static_cast<unsigned>(start));
    ZenityReply reply;
    if (int err = RunZenity({"--color-selection", std::string("--color=") + colour}, &reply)) return err;
    if (reply.status == kZenityCancelled) return 0;
    const int32_t chosen = ParseZenityColour(reply.output);
    if (chosen < 0) return ERR_WINDOW;
    *outColour = chosen;
    return 0;
}

int ZenityListRequester(const char* title, const char* body, const char* items, int selected, int* outIndex) {
    *outIndex = -1;
    // A hidden column of indices is what zenity prints back.
    std::vector<std::string> args = {"--list", "--radiolist", TitleArg(title), "--text=" + Utf8(body),
                                     "--column=",  "--column=#",  "--column=",   "--hide-column=2",
                                     "--print-column=2", "--hide-header"};
    int count = 0;
    for (const char* p = items; p && *p; p += std::strlen(p) + 1, ++count) {
        args.push_back(count == selected ? "TRUE" : "FALSE");
        args.push_back(std::to_string(count));
        args.push_back(Utf8(p));
    }
    ZenityReply reply;
    if (int err = RunZenity(args, &reply)) return err;
    if (reply.status == kZenityCancelled || reply.output.empty()) return 0;
    char* end = nullptr;
    const long index = std::strtol(reply.output.c_str(), &end, 10);
    if (*end || index < 0 || index >= count) return ERR_WINDOW;
    *outIndex = static_cast<int>(index);
    return 0;
}

int ZenityStringRequester(const char* title, const char* body, const char* defaultText, int type, int maxLength,
                          int password, char* outText) {
    CopyStringResult("", outText);
    std::vector<std::string> args = {"--entry", TitleArg(title), "--text=" + Utf8(body),
                                     "--entry-text=" + Utf8(StringFieldDefault(defaultText, type, maxLength).c_str())};
    if (password) args.push_back("--hide-text");
    for (int attempt = 0; attempt < kMaxStringAttempts; ++attempt) {
        ZenityReply reply;
        if (int err = RunZenity(args, &reply)) return err;
        if (reply.status == kZenityCancelled) return ERR_USERABORT;
        const std::string text = Latin1(reply.output);
        if (StringFieldAccepts(text, type, maxLength)) {
            CopyStringResult(text, outText);
            return 0;
        }
    }
    return ERR_WINDOW;
}

int ZenityPathRequester(const char* title, const char* initialFolder, std::optional<std::string>* outPath) {
    outPath->reset();
    std::vector<std::string> args = {"--file-selection", "--directory", TitleArg(title)};
    if (initialFolder && *initialFolder) {
        std::string folder = MakeNativePath(Utf8(initialFolder).c_str());
        if (folder.back() != '/') folder += '/';
        args.push_back("--filename=" + folder);
    }
    ZenityReply reply;
    if (int err = RunZenity(args, &reply)) return err;
    if (reply.status == kZenityCancelled || reply.output.empty()) return 0;
    *outPath = FileNameToLatin1(reply.output.c_str());
    return 0;
}

int ZenityFileRequester(const char* title, const char* pattern, int mode, const char* initialFolder,
                        const char* initialFile, qbFileRequestResult* outResult) {
    *outResult = qbFileRequestResult{};
    std::vector<std::string> args = {"--file-selection", TitleArg(title)};
    if (mode == kReqMultiSelect) {
        args.push_back("--multiple");
        args.push_back(std::string("--separator=") + kFileSeparator);
    }
    if (mode == kReqSaveMode) {
        args.push_back("--save");
        args.push_back("--confirm-overwrite");
    }
    std::string start = initialFolder && *initialFolder ? MakeNativePath(Utf8(initialFolder).c_str()) : "";
    if (!start.empty() && start.back() != '/') start += '/';
    if (initialFile && *initialFile) start += Utf8(initialFile);
    if (!start.empty()) args.push_back("--filename=" + start);
    const std::vector<std::string> suffixes = FilePatternSuffixes(pattern);
    if (!suffixes.empty()) {
        std::string names, globs;
        for (const std::string& s : suffixes) {
            if (!names.empty()) names += ' ', globs += ' ';
            names += '*';
            names += Utf8(s.c_str());
            globs += CaseBlindGlob(Utf8(s.c_str()));
        }
        args.push_back("--file-filter=" + names + " | " + globs);
    }
    ZenityReply reply;
    if (int err = RunZenity(args, &reply)) return err;
    if (reply.status == kZenityCancelled || reply.output.empty()) return 0;
    std::vector<std::string> paths;
    for (const std::string& p : mode == kReqMultiSelect ? SplitAll(reply.output, kFileSeparator)
                                                        : std::vector<std::string>{reply.output})
        if (!p.empty()) paths.push_back(FileNameToLatin1(p.c_str()));
    FillFileResult(paths, outResult);
    return 0;
}

}  // namespace linux_requesters
