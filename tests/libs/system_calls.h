// Calls the system library's command handlers directly on a fresh VM: the
// arguments are pushed by the test, the results stay on the stack.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "core/vmhost.h"
#include "libs/errorhandler.h"
#include "libs/system.h"
#include "libs/systemcommands.h"
#include "vm/vm.h"

namespace libstest {

class SystemCallTest : public ::testing::Test {
protected:
    void SetUp() override {
        InstallVmHost(OfferToErrorHandler, cmdGetLastError);
        L = VmOpen();
        ASSERT_NE(L, nullptr);
    }
    void TearDown() override {
        FreeSystemObjects(L);
        VmClose(L);
    }

    // Calls fn on the nargs values on top; the code it failed with (0 when
    // none). Its results replace the arguments.
    int Call(CommandHandler fn, int nargs) {
        VmPushCClosure(L, fn, 0);
        VmInsert(L, -(nargs + 1));
        return VmPCall(L, nargs, kMultRet, 0);
    }
    double Number(int idx) { return VmToNumber(L, idx); }
    std::string Text(int idx) { return ValueToString(L, idx); }
    // A list table with its elements from index 0.
    void PushList(std::initializer_list<const char*> items) {
        VmPushNewTable(L);
        int i = 0;
        for (const char* s : items) {
            VmPushString(L, s);
            VmRawSetIndex(L, -2, i++);
        }
    }
    std::string ListText(int idx, int n) {
        std::string out;
        for (int i = 0; i < n; ++i) {
            VmRawGetIndex(L, idx, i);
            if (i) out += ',';
            out += ValueToString(L, -1);
            VmSetTop(L, -2);
        }
        return out;
    }

    ScriptState* L = nullptr;
};

}  // namespace libstest
