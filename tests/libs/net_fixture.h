// Calls the network library's commands directly on a fresh VM, with a short
// network time-out so that every wait of a test ends quickly.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "core/errors.h"
#include "core/vmhost.h"
#include "libs/errorhandler.h"
#include "libs/netcommands.h"
#include "libs/network.h"
#include "vm/vm.h"

namespace nettest {

// Long enough that a peer a loaded machine runs late is not taken for one
// that stopped sending.
constexpr int kTestTimeoutMs = 1000;

class NetCallTest : public ::testing::Test {
protected:
    void SetUp() override {
        InstallVmHost(OfferToErrorHandler, cmdGetLastError);
        L = VmOpen();
        ASSERT_NE(L, nullptr);
        ASSERT_EQ(EnsureSocketLayer(), 0);
        SetNetworkTimeoutValue(kTestTimeoutMs);
    }
    void TearDown() override {
        FreeAllNetworkObjects(L);
        VmClose(L);
    }

    // Calls fn on the nargs values on top; the code it failed with (0 when
    // none). Its results replace the arguments.
    int Call(CommandHandler fn, int nargs) {
        VmPushCClosure(L, fn, 0);
        VmInsert(L, -(nargs + 1));
        return VmPCall(L, nargs, kMultRet, 0);
    }
    int Call(CommandHandler fn, std::initializer_list<double> args) {
        for (double a : args) VmPushNumber(L, a);
        return Call(fn, static_cast<int>(args.size()));
    }
    double Number(int idx) { return VmToNumber(L, idx); }
    std::string Text(int idx) {
        const char* s = VmToCString(L, idx);
        return s ? std::string(s, VmStrLen(L, idx)) : std::string();
    }

    // Connection id on 127.0.0.1:port; false when the connect failed.
    bool Open(int id, int port) {
        VmSetTop(L, 0);
        VmPushNumber(L, id);
        VmPushString(L, "127.0.0.1");
        VmPushNumber(L, port);
        const int err = Call(cmdOpenConnection, 3);
        VmSetTop(L, 0);
        return err == 0;
    }
    // ReceiveData(id, mode, extra...): the code; data, count and flag stay
    // readable through the members below.
    int Receive(int id, int mode, std::initializer_list<double> extra = {}) {
        VmSetTop(L, 0);
        VmPushNumber(L, id);
        VmPushNumber(L, mode);
        for (double e : extra) VmPushNumber(L, e);
        const int err = Call(cmdReceiveData, 2 + static_cast<int>(extra.size()));
        if (!err) {
            data = Text(1);
            count = Number(2);
            flag = Number(3);
        }
        VmSetTop(L, 0);
        return err;
    }
    double SendText(int id, const std::string& text) {
        VmSetTop(L, 0);
        VmPushNumber(L, id);
        VmPushLString(L, text.data(), text.size());
        EXPECT_EQ(Call(cmdSendData, 2), 0);
        const double sent = Number(1);
        VmSetTop(L, 0);
        return sent;
    }

    ScriptState* L = nullptr;
    std::string data;
    double count = -1;
    double flag = -1;
};

}  // namespace nettest
