// DownloadFile and UploadFile called directly on a fresh VM, with a progress
// callback that records what it saw, and Python servers started and stopped
// by pid for real exchanges.
#pragma once

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "libs/net_fixture.h"
#include "libs/net_peer.h"
#include "libs/transfer.h"

namespace nettest {

// What the progress callback saw, and whether it stops the transfer.
struct Progress {
    int calls = 0;
    double action = -1;
    double count = 0;
    double total = 0;
    double stopAfter = -1;
};
inline Progress* progress = nullptr;

inline double ProgressField(ScriptState* L, const char* key) {
    VmPushString(L, key);
    VmGetTableAt(L, 1);
    const double value = VmToNumber(L, -1);
    VmSetTop(L, -2);
    return value;
}

inline int RecordProgress(ScriptState* L) {
    progress->calls++;
    progress->action = ProgressField(L, "action");
    progress->count = ProgressField(L, "count");
    progress->total = ProgressField(L, "total");
    VmPushBoolean(L, progress->stopAfter >= 0 && progress->count >= progress->stopAfter);
    return 1;
}

inline void SetString(ScriptState* S, const char* key, const std::string& value) {
    VmPushString(S, key);
    VmPushLString(S, value.data(), value.size());
    VmRawSet(S, -3);
}

inline void SetFlag(ScriptState* S, const char* key) {
    VmPushString(S, key);
    VmPushBoolean(S, 1);
    VmRawSet(S, -3);
}

using FillOptions = std::function<void(ScriptState*)>;

class TransferTest : public NetCallTest {
protected:
    void SetUp() override {
        NetCallTest::SetUp();
        InitTransferEngine();
        progress = &seen;
    }
    void TearDown() override {
        progress = nullptr;
        NetCallTest::TearDown();
    }
    // The command on (url, options built by fill, [callback]).
    int Transfer(CommandHandler fn, const std::string& url, const FillOptions& fill, bool callback) {
        VmSetTop(L, 0);
        VmPushString(L, url.c_str());
        VmPushNewTable(L);
        if (fill) fill(L);
        int n = 2;
        if (callback) {
            VmPushCClosure(L, RecordProgress, 0);
            n = 3;
        }
        return Call(fn, n);
    }
    int Download(const std::string& url, const FillOptions& fill = {}, bool callback = false) {
        return Transfer(cmdDownloadFile, url, fill, callback);
    }
    int Upload(const std::string& url, const FillOptions& fill, bool callback = false) {
        return Transfer(cmdUploadFile, url, fill, callback);
    }
    Progress seen;
};

// /usr/bin/python3 with the arguments, stopped by its pid when it goes out
// of scope. The port is the number after "port " in its first line, or the
// whole line; 0 when it did not start.
class PythonServer {
public:
    explicit PythonServer(std::vector<std::string> args) {
        if (access("/usr/bin/python3", X_OK) != 0 || pipe(out_) != 0) return;
        pid_ = fork();
        if (pid_ == 0) {
            dup2(out_[1], 1);
            dup2(out_[1], 2);
            std::vector<char*> argv{const_cast<char*>("python3")};
            for (std::string& a : args) argv.push_back(a.data());
            argv.push_back(nullptr);
            execv("/usr/bin/python3", argv.data());
            _exit(127);
        }
        close(out_[1]);
        char c;
        while (WaitReadable(out_[0], kPeerWaitMs) && read(out_[0], &c, 1) == 1 && c != '\n') first_ += c;
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

private:
    int out_[2] = {-1, -1};
    pid_t pid_ = -1;
    int port_ = 0;
    std::string first_;
};

}  // namespace nettest
