// Python servers for the transfer tests, started and stopped by pid:
// Debian's /usr/bin/python3, whose packages (pyftpdlib) the python3 first on
// PATH may not see.
#pragma once

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

namespace nettest {

// /usr/bin/python3 with the arguments, stopped by its pid when it goes out
// of scope. The port is the number after "port " in its first line, or the
// whole line; 0 when it did not start.
class PythonServer {
public:
    static constexpr int kStartMs = 5000;

    explicit PythonServer(std::vector<std::string> args) {
        if (access("/usr/bin/python3", X_OK) != 0 || pipe(out_) != 0) return;
        pid_ = fork();
        if (pid_ == 0) {
            dup2(out_[1], 1);
            dup2(out_[1], 2);
            // Python finds its library from its own path: a bare "python3"
            // would be looked up in PATH, where another Python may stand first.
            std::vector<char*> argv{const_cast<char*>("/usr/bin/python3")};
            for (std::string& a : args) argv.push_back(a.data());
            argv.push_back(nullptr);
            execv("/usr/bin/python3", argv.data());
            _exit(127);
        }
        close(out_[1]);
        char c;
        while (Readable(out_[0]) && read(out_[0], &c, 1) == 1 && c != '\n') first_ += c;
        const size_t at = first_.find("port ");
        port_ = std::atoi(first_.c_str() + (at == std::string::npos ? 0 : at + 5));
    }
    ~PythonServer() {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            waitpid(pid_, nullptr, 0);
        }
        if (out_[0] >= 0) close(out_[0]);
    }
    PythonServer(const PythonServer&) = delete;
    PythonServer& operator=(const PythonServer&) = delete;
    int port() const { return port_; }
    const std::string& firstLine() const { return first_; }
    // The next line it printed, waiting at most ms for each byte; "" when
    // none came (or it ended).
    std::string NextLine(int ms) {
        std::string line;
        char c;
        while (Readable(out_[0], ms) && read(out_[0], &c, 1) == 1 && c != '\n') line += c;
        return line;
    }
    // Whether a line (or its end) waits to be read.
    bool HasOutput() { return Readable(out_[0], 0); }

private:
    static bool Readable(int fd, int ms = kStartMs) {
        pollfd p{fd, POLLIN, 0};
        return poll(&p, 1, ms) > 0;
    }
    int out_[2] = {-1, -1};
    pid_t pid_ = -1;
    int port_ = 0;
    std::string first_;
};

}  // namespace nettest
