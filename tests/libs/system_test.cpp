// The system library's debug output, value conversion and End.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "core/errcodes.h"
#include "core/vmhost.h"
#include "libs/errorhandler.h"
#include "libs/system.h"
#include "vm/vm.h"

namespace {

class SystemLibTest : public ::testing::Test {
protected:
    void SetUp() override {
        InstallVmHost(OfferToErrorHandler, cmdGetLastError);
        L_ = VmOpen();
        ASSERT_NE(L_, nullptr);
    }
    void TearDown() override { VmClose(L_); }

    std::string Top() {
        std::string s = ValueToString(L_, -1);
        VmSetTop(L_, -2);
        return s;
    }

    // Runs a command on the values already pushed; returns its output.
    std::string Run(CommandHandler fn, int nargs, int* code) {
        VmPushCClosure(L_, fn, 0);
        VmInsert(L_, -(nargs + 1));
        ::testing::internal::CaptureStdout();
        *code = VmPCall(L_, nargs, 0, 0);
        std::fflush(stdout);
        return ::testing::internal::GetCapturedStdout();
    }

    ScriptState* L_ = nullptr;
};

TEST_F(SystemLibTest, ValuesConvertByType) {
    VmPushNil(L_);
    EXPECT_EQ(Top(), "Nil");
    VmPushBoolean(L_, 1);
    EXPECT_EQ(Top(), "true");
    VmPushBoolean(L_, 0);
    EXPECT_EQ(Top(), "false");
    VmPushNumber(L_, 42);
    EXPECT_EQ(Top(), "42");
    VmPushNumber(L_, 1.0 / 3.0);
    EXPECT_EQ(Top(), "0.33333333333333");
    VmPushNumber(L_, 1e20);
    EXPECT_EQ(Top(), "1e+20");
    VmPushNumber(L_, -0.5);
    EXPECT_EQ(Top(), "-0.5");
    VmPushLString(L_, "a%d\0b", 5);
    EXPECT_EQ(Top(), std::string("a%d\0b", 5));
    VmPushLightUserdata(L_, reinterpret_cast<void*>(0x1234));
    EXPECT_EQ(Top(), "UserData: 0x1234");
    VmPushNewTable(L_);
    EXPECT_EQ(Top().rfind("Table: 0x", 0), 0u);
    VmPushCClosure(L_, cmdEnd, 0);
    EXPECT_EQ(Top().rfind("Function: 0x", 0), 0u);
}

TEST_F(SystemLibTest, ToStringMetamethodWins) {
    VmPushNewTable(L_);
    VmPushNewTable(L_);
    VmPushString(L_, "__tostring");
    VmPushCClosure(L_, [](ScriptState* L) {
        VmPushString(L, "custom text");
        return 1;
    }, 0);
    VmSetTableAt(L_, -3);
    VmSetMetatable(L_, -2);
    EXPECT_EQ(ValueToString(L_, 1), "custom text");
    EXPECT_EQ(VmGetTop(L_), 1);
}

TEST_F(SystemLibTest, DebugPrintSeparatesWithBlanks) {
    int code = -1;
    VmPushNumber(L_, 1);
    VmPushString(L_, "100%");
    VmPushNil(L_);
    EXPECT_EQ(Run(cmdDebugPrint, 3, &code), "1 100% Nil\n");
    EXPECT_EQ(code, 0);
    VmPushString(L_, "no newline");
    EXPECT_EQ(Run(cmdDebugPrintNR, 1, &code), "no newline");
    EXPECT_EQ(code, 0);
}

TEST_F(SystemLibTest, DebugPrintNeedsAnArgument) {
    int code = 0;
    EXPECT_EQ(Run(cmdDebugPrint, 0, &code), "");
    EXPECT_EQ(code, ERR_MISSINGPARAMTR);
}

TEST_F(SystemLibTest, EndSetsTheEndFlagAndAborts) {
    VmSetEndFlag(L_, 0);
    EXPECT_EQ(cmdEnd(L_), ERR_USERABORT);
    EXPECT_NE(VmGetEndFlag(L_), 0);
    VmSetEndFlag(L_, 0);
}

}  // namespace
