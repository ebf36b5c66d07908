// A fresh VM state per test and a way to run a lambda as a native command,
// protected, over the values on top of the stack: the answer is the code it
// raised or returned (0 when none).
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "vm/internal.h"

namespace vmtest {

using NativeBody = std::function<int(ScriptState*)>;

inline int NativeTrampoline(ScriptState* L) {
    return (*static_cast<NativeBody*>(VmToUserdata(L, VmUpvalueIndex(1))))(L);
}

class NativeFixture : public ::testing::Test {
protected:
    void SetUp() override {
        L = VmOpen();
        ASSERT_NE(L, nullptr);
    }
    void TearDown() override { VmClose(L); }

    int Run(NativeBody body, int nargs = 0) {
        VmPushLightUserdata(L, &body);
        VmPushCClosure(L, NativeTrampoline, 1);
        VmInsert(L, -(nargs + 1));
        return VmPCall(L, nargs, kMultRet, 0);
    }

    std::string StringAt(int idx) {
        size_t len = VmStrLen(L, idx);
        const char* s = VmToCString(L, idx);
        return s ? std::string(s, len) : std::string("<null>");
    }

    ScriptState* L = nullptr;
};

}  // namespace vmtest
