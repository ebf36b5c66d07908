// A VM with the math, memblock, string and dos libraries open in its
// globals; commands are called by name and their results come back as one
// text ("|" between results, numbers as "%.14g", "E<code>" for an error).
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <variant>
#include <vector>

#include "command_call.h"
#include "core/settings.h"
#include "core/vmhost.h"
#include "libs/dos.h"
#include "libs/errorhandler.h"
#include "libs/mathlib.h"
#include "libs/memblock.h"
#include "libs/stringlib.h"
#include "vm/vm.h"

namespace libstest {

using CallArg = std::variant<double, std::string, std::nullptr_t, void*>;

class LibCallFixture : public ::testing::Test {
protected:
    void SetUp() override {
        InstallVmHost(OfferToErrorHandler, cmdGetLastError);
        L = VmOpen();
        ASSERT_NE(L, nullptr);
        SetRuntimeTag(kTagQuiet, 1);
        for (auto init : {InitStringLibrary, InitMathLibrary, InitMemblockLibrary, InitDosLibrary}) {
            VmPushValue(L, kGlobalsIndex);
            ASSERT_EQ(init(L), 0);
            VmSetTop(L, 0);
        }
    }
    void TearDown() override {
        FreeDosObjects(L);
        FreeAllMemblocks(L);
        VmClose(L);
        ResetRuntimeSettings();
    }

    void Push(const CallArg& a) {
        if (auto* n = std::get_if<double>(&a))
            VmPushNumber(L, *n);
        else if (auto* s = std::get_if<std::string>(&a))
            VmPushLString(L, s->data(), s->size());
        else if (auto* p = std::get_if<void*>(&a))
            VmPushLightUserdata(L, *p);
        else
            VmPushNil(L);
    }

    // Leaves the results on the stack from index 1.
    int Raw(const char* command, const std::vector<CallArg>& args) {
        VmSetTop(L, 0);
        for (const CallArg& a : args) Push(a);
        return CallCommand(L, command, static_cast<int>(args.size()), kMultRet);
    }

    std::string Run(const char* command, const std::vector<CallArg>& args) {
        const int err = Raw(command, args);
        // Built up: g++ 12 at -O3 takes a literal joined to a temporary
        // string for an overlapping copy.
        if (err) {
            std::string e = "E";
            e += std::to_string(err);
            return e;
        }
        std::string s;
        for (int i = 1; i <= VmGetTop(L); ++i) {
            if (i > 1) s += '|';
            if (VmType(L, i) == kTypeNumber) {
                char buf[64];
                std::snprintf(buf, sizeof buf, "%.14g", VmToNumber(L, i));
                s += buf;
            } else if (VmType(L, i) == kTypeString) {
                s += std::string(VmToCString(L, i), VmStrLen(L, i));
            } else {
                s += VmTypeName(L, VmType(L, i));
            }
        }
        return s;
    }

    double Num(const char* command, const std::vector<CallArg>& args) {
        EXPECT_EQ(Raw(command, args), 0) << command;
        return VmToNumber(L, 1);
    }

    // The elements 0 to n-1 of the table at idx, joined by ",".
    std::string List(int idx, int n) {
        std::string out;
        for (int i = 0; i < n; ++i) {
            VmRawGetIndex(L, idx, i);
            if (i) out += ',';
            char buf[64];
            if (VmType(L, -1) == kTypeNumber) {
                std::snprintf(buf, sizeof buf, "%.14g", VmToNumber(L, -1));
                out += buf;
            } else if (VmType(L, -1) == kTypeString) {
                out += std::string(VmToCString(L, -1), VmStrLen(L, -1));
            } else {
                out += VmTypeName(L, VmType(L, -1));
            }
            VmSetTop(L, -2);
        }
        return out;
    }

    ScriptState* L = nullptr;
};

}  // namespace libstest
