// A VM with the runtime's host for the string library's tests: commands are
// called on plain values and their results come back as text.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <variant>
#include <vector>

#include "core/vmhost.h"
#include "libs/errorhandler.h"
#include "libs/stringlib.h"
#include "vm/vm.h"

namespace libstest {

// "E" and the code (built up, as GCC 12 warns wrongly about a literal
// added to a temporary string).
inline std::string ErrorText(int err) {
    std::string s = "E";
    s += std::to_string(err);
    return s;
}

// A command argument: a number, a string, or a native function.
using Arg = std::variant<double, std::string, CommandHandler>;

class StringLibFixture : public ::testing::Test {
protected:
    void SetUp() override {
        InstallVmHost(OfferToErrorHandler, cmdGetLastError);
        L = VmOpen();
        ASSERT_NE(L, nullptr);
    }
    void TearDown() override { VmClose(L); }

    void Push(const Arg& a) {
        if (auto* n = std::get_if<double>(&a))
            VmPushNumber(L, *n);
        else if (auto* s = std::get_if<std::string>(&a))
            VmPushLString(L, s->data(), s->size());
        else
            VmPushCClosure(L, std::get<CommandHandler>(a), 0);
    }

    // The results joined by "|" (numbers as "%.14g"), or "E<code>".
    std::string Call(CommandHandler fn, const std::vector<Arg>& args) {
        VmSetTop(L, 0);
        VmPushCClosure(L, fn, 0);
        for (const Arg& a : args) Push(a);
        return Results(VmPCall(L, static_cast<int>(args.size()), kMultRet, 0));
    }

    // The values from index first to the top.
    std::string Results(int err, int first = 1) {
        if (err) return ErrorText(err);
        std::string s;
        for (int i = first; i <= VmGetTop(L); ++i) {
            if (i > first) s += '|';
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

    ScriptState* L = nullptr;
};

}  // namespace libstest
