// DownloadFile and UploadFile called directly on a fresh VM, with a progress
// callback that records what it saw.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "libs/net_fixture.h"
#include "libs/net_peer.h"
#include "libs/python_server.h"
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
    // As a script answers: True and False are the numbers 1 and 0.
    VmPushNumber(L, progress->stopAfter >= 0 && progress->count >= progress->stopAfter ? 1 : 0);
    return 1;
}

inline void SetString(ScriptState* S, const char* key, const std::string& value) {
    VmPushString(S, key);
    VmPushLString(S, value.data(), value.size());
    VmRawSet(S, -3);
}

inline void SetFlag(ScriptState* S, const char* key) {
    VmPushString(S, key);
    VmPushNumber(S, 1);
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

}  // namespace nettest
