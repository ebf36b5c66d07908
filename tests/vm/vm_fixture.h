// The two fixtures of the VM tests. NativeFixture: a fresh state and a way to
// run a lambda as a protected native command. VmFixture: programs assembled
// from text in-process, an "emit" command that records what scripts pass it,
// helpers that evaluate one operation on a few operands, and a host record
// that keeps what the VM hands its host (the VM runs alone here; fixtures
// over the runtime core install the core's host on top).
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "core/errcodes.h"
#include "lib/assembler.h"
#include "vm/callextras.h"
#include "vm/host.h"
#include "vm/internal.h"

namespace vmtest {

// The text form of a value: numbers as "%.14g", strings between double quotes
// (so that 12 and "12" differ), the other kinds by name.
inline std::string Show(ScriptState* L, int idx) {
    switch (VmType(L, idx)) {
        case kTypeNone: return "none";
        case kTypeNil: return "nil";
        case kTypeBoolean: return VmToBoolean(L, idx) ? "true" : "false";
        case kTypeNumber: {
            char buf[64];
            std::snprintf(buf, sizeof buf, "%.14g", VmToNumber(L, idx));
            return buf;
        }
        case kTypeString: {
            const std::string text(VmToCString(L, idx), VmStrLen(L, idx));
            return "\"" + text + "\"";
        }
        case kTypeTable: {
            // Tables that carry a raw "name" string show it, so that
            // metamethod arguments can be told apart.
            if (idx < 0 && idx > kRegistryIndex) idx = VmGetTop(L) + idx + 1;
            VmPushString(L, "name");
            VmRawGet(L, idx);
            std::string s = VmType(L, -1) == kTypeString ? std::string("table:") + VmToCString(L, -1) : "table";
            VmSetTop(L, -2);
            return s;
        }
        case kTypeFunction: return "function";
        case kTypeUserdata: return "userdata";
        case kTypeLightUserdata: return "lightuserdata";
        default: return "other";
    }
}

// emit(...): appends the text of each argument, joined by blanks, to the
// vector its upvalue points at.
inline int EmitCommand(ScriptState* L) {
    auto* out = static_cast<std::vector<std::string>*>(VmToUserdata(L, VmUpvalueIndex(1)));
    std::string line;
    for (int i = 1; i <= VmGetTop(L); i++) {
        if (i > 1) line += ' ';
        line += Show(L, i);
    }
    out->push_back(line);
    return 0;
}

// What the VM handed the test host: the error detail and argument index set
// before a raise, and the line of the last raise.
struct HostLog {
    std::string detail;
    int argIndex = 0;
    int raiseLine = 0;
};
inline HostLog& Hosted() {
    static HostLog log;
    return log;
}
// Records into Hosted(); the rest stays the VM's defaults (a failed command's
// code is raised, tracer lines go to standard output).
inline void InstallTestHost() {
    Hosted() = HostLog{};
    VmHost host;
    host.setErrorDetail = [](const char* text) { Hosted().detail = text; };
    host.setErrorArgIndex = [](int index) { Hosted().argIndex = index; };
    host.noteRaise = [](ScriptState*, int line) { Hosted().raiseLine = line; };
    VmSetHost(&host);
}

using NativeBody = std::function<int(ScriptState*)>;

inline int NativeTrampoline(ScriptState* L) {
    return (*static_cast<NativeBody*>(VmToUserdata(L, VmUpvalueIndex(1))))(L);
}

// A command answering "x", "y", "z".
inline int ThreeCommand(ScriptState* L) {
    VmPushString(L, "x");
    VmPushString(L, "y");
    VmPushString(L, "z");
    return 3;
}

// A main chunk that stores a recursive function in the global "rec" and
// answers rec(depth), which counts its way down to 0 and back; depth is an
// assembler operand ("#1500", "@depth").
inline std::string RecursionProgram(const std::string& depth) {
    return ".function main maxstack=4\n    CLOSURE 0 rec\n    SETGLOBAL 0 \"rec\"\n    GETGLOBAL 0 \"rec\"\n" +
           std::string(depth[0] == '@' ? "    GETGLOBAL 1 \"" + depth.substr(1) + "\"\n" : "    LOADK 1 " + depth + "\n") +
           "    CALL 0 2 2\n    RETURN 0 2\n"
           "  .function rec params=1 maxstack=4\n    EQ 1 0 #0\n    JMP base\n    GETGLOBAL 1 \"rec\"\n"
           "    SUB 2 0 #1\n    CALL 1 2 2\n    ADD 1 1 #1\n    RETURN 1 2\nbase:\n    LOADK 1 #0\n"
           "    RETURN 1 2\n  .end\n.end\n";
}

class NativeFixture : public ::testing::Test {
protected:
    void SetUp() override {
        InstallTestHost();
        L = VmOpen();
        ASSERT_NE(L, nullptr);
    }
    void TearDown() override { VmClose(L); }

    // Runs body protected as a native command over the nargs values on top;
    // answers the code it raised or returned (0 when none).
    int Run(NativeBody body, int nargs = 0) {
        VmPushLightUserdata(L, &body);
        VmPushCClosure(L, NativeTrampoline, 1);
        VmInsert(L, -(nargs + 1));
        return VmPCall(L, nargs, kMultRet, 0);
    }
    std::string StringAt(int idx) {
        const char* s = VmToCString(L, idx);
        return s ? std::string(s, VmStrLen(L, idx)) : std::string("<null>");
    }

    ScriptState* L = nullptr;
};

class VmFixture : public ::testing::Test {
protected:
    void SetUp() override {
        InstallTestHost();
        VmLastErrorCode = 0;
        SetNativeCallExtra(kCallExtraTrace, false);
        L = VmOpen();
        ASSERT_NE(L, nullptr);
        VmPushLightUserdata(L, &out);
        RegisterClosure("emit", EmitCommand, 1);
        // Globals the programs use: two booleans, a table and a command.
        VmPushBoolean(L, 1);
        SetGlobal("yes");
        VmPushBoolean(L, 0);
        SetGlobal("no");
        VmPushNewTable(L);
        SetGlobal("tbl");
        RegisterClosure("three", ThreeCommand);
    }
    void TearDown() override { VmClose(L); }

    // Stores fn under a global name; its nup upvalues are taken from the top.
    void RegisterClosure(const char* name, CommandHandler fn, int nup = 0) {
        VmPushCClosure(L, fn, nup);
        SetGlobal(name);
    }
    // Pops the top value into a global (raw, whatever the globals' metatable).
    void SetGlobal(const char* name) {
        VmPushString(L, name);
        VmInsert(L, -2);
        VmRawSet(L, kGlobalsIndex);
    }
    void PushGlobal(const char* name) {
        VmPushString(L, name);
        VmGetTableAt(L, kGlobalsIndex);
    }

    // Assembles and loads a program; the closure is left on the stack top.
    bool Load(const std::string& text, const char* chunkname = "test") {
        std::vector<uint8_t> bytes;
        std::string error;
        if (!AssembleText(text, bytes, error)) {
            ADD_FAILURE() << "assembly failed: " << error << "\n" << text;
            return false;
        }
        int rc = VmLoadBuffer(L, reinterpret_cast<const char*>(bytes.data()), bytes.size(), chunkname);
        if (rc != 0) {
            ADD_FAILURE() << "load failed with " << rc << "\n" << text;
            return false;
        }
        return true;
    }
    // Clears the stack, runs the program protected and returns the error code
    // (0 when none); the results stay on the stack from index 1.
    int Run(const std::string& text, int nresults = kMultRet) {
        VmSetTop(L, 0);
        if (!Load(text)) return -1;
        return VmPCall(L, 0, nresults, 0);
    }
    // What Eval answers for a program that fails with the error code.
    static std::string Failure(int code) {
        std::string s = "E";
        s += std::to_string(code);
        return s;
    }
    // Runs the program and answers its results as text, or "E<code>".
    std::string Eval(const std::string& text) {
        int rc = Run(text);
        if (rc != 0) return Failure(rc);
        std::string s;
        for (int i = 1; i <= VmGetTop(L); i++) {
            if (i > 1) s += ' ';
            s += Show(L, i);
        }
        return s;
    }

    // An operand loaded into register r: "@name" reads a global, anything else
    // is a constant literal of the assembler.
    static std::string LoadOperand(int r, const std::string& v) {
        if (!v.empty() && v[0] == '@') return "GETGLOBAL " + std::to_string(r) + " \"" + v.substr(1) + "\"\n";
        return "LOADK " + std::to_string(r) + " " + v + "\n";
    }
    // R2 := R0 op R1.
    std::string Binary(const std::string& op, const std::string& b, const std::string& c) {
        return Eval(".function main maxstack=4\n" + LoadOperand(0, b) + LoadOperand(1, c) + op +
                    " 2 0 1\nRETURN 2 2\n.end\n");
    }
    // R1 := op R0.
    std::string Unary(const std::string& op, const std::string& b) {
        return Eval(".function main maxstack=4\n" + LoadOperand(0, b) + op + " 1 0\nRETURN 1 2\n.end\n");
    }
    // 1 or 0: whether "R0 op R1" holds, through the jump of a test instruction
    // with A = want (so A = 0 answers the negation).
    std::string Compare(const std::string& op, const std::string& b, const std::string& c, int want = 1) {
        return Eval(".function main maxstack=4\n" + LoadOperand(0, b) + LoadOperand(1, c) + op + " " +
                    std::to_string(want) +
                    " 0 1\nJMP yes\nLOADK 2 #0\nRETURN 2 2\nyes:\nLOADK 2 #1\nRETURN 2 2\n.end\n");
    }
    // R(n) := R0 .. ... .. R(n-1).
    std::string Concat(const std::vector<std::string>& values) {
        std::string text = ".function main maxstack=250\n";
        int n = static_cast<int>(values.size());
        for (int i = 0; i < n; i++) text += LoadOperand(i, values[i]);
        text += "CONCAT " + std::to_string(n) + " 0 " + std::to_string(n - 1) + "\nRETURN " + std::to_string(n) +
                " 2\n.end\n";
        return Eval(text);
    }

    // The error detail of the last raise that set one.
    std::string Detail() const { return Hosted().detail; }

    // The text of t[key] (raw) for the table at tableIdx.
    std::string RawAt(int tableIdx, int key) {
        VmRawGetIndex(L, tableIdx, key);
        std::string s = Show(L, -1);
        VmSetTop(L, -2);
        return s;
    }
    std::string RawField(int tableIdx, const char* key) {
        VmPushString(L, key);
        VmRawGet(L, tableIdx);
        std::string s = Show(L, -1);
        VmSetTop(L, -2);
        return s;
    }
    // Code that calls emit("text") through registers 10 and 11.
    static std::string Emit(const std::string& text) {
        return "    GETGLOBAL 10 \"emit\"\n    LOADK 11 \"" + text + "\"\n    CALL 10 2 1\n";
    }

    ScriptState* L = nullptr;
    std::vector<std::string> out;  // what "emit" recorded
};

}  // namespace vmtest
