// The event and display libraries in a fresh VM over the in-memory backend:
// scripts are assembled, handlers are script functions that "emit" what
// they were given, and input arrives through the backend's scripted events.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "core/eventqueue.h"
#include "core/settings.h"
#include "core/timers.h"
#include "core/timerthread.h"
#include "core/vmhost.h"
#include "display/displaylib.h"
#include "display/eventlib.h"
#include "display/events.h"
#include "display_fixture.h"
#include "lib/assembler.h"
#include "vm/vm.h"

class EventWorld : public DisplayWorld {
protected:
    void SetUp() override {
        DisplayWorld::SetUp();
        ASSERT_EQ(InitEventQueue(), 0);
        ASSERT_EQ(StartTimerThread(), 0);
        InstallVmHost();
        L = VmOpen();
        ASSERT_NE(L, nullptr);
        VmPushValue(L, kGlobalsIndex);
        ASSERT_EQ(InitDisplayLibrary(L), 0);
        ASSERT_EQ(InitEventLibrary(L), 0);
        VmSetTop(L, 0);
        VmPushLightUserdata(L, &out);
        VmPushCClosure(L, Emit, 1);
        SetGlobal("emit");
        SetEventQuitRequested(false);
        UseBackend();
        d = MakeOpen(1, 64, 48);
        ASSERT_NE(d, nullptr);
    }
    void TearDown() override {
        FreeEventSystem(L);
        FreeAllDisplays(L);
        FreeAllBGPics(L);
        ClearEventQueue(L);
        StopTimerThread();
        VmClose(L);
        SetRuntimeTag(kTagCallbackNesting, 0);
        DisplayWorld::TearDown();
    }

    // Runs before the display opens; the in-memory backend by default.
    virtual void UseBackend() {}

    static int Emit(ScriptState* L) {
        auto* sink = static_cast<std::vector<std::string>*>(VmToUserdata(L, VmUpvalueIndex(1)));
        std::string line;
        for (int i = 1; i <= VmGetTop(L); ++i) {
            if (i > 1) line += ' ';
            if (VmType(L, i) == kTypeString) line += std::string(VmToCString(L, i), VmStrLen(L, i));
            else if (VmType(L, i) == kTypeNumber) line += std::to_string(static_cast<long long>(VmToNumber(L, i)));
            else if (VmType(L, i) == kTypeBoolean) line += VmToBoolean(L, i) ? "true" : "false";
            else line += VmTypeName(L, VmType(L, i));
        }
        sink->push_back(line);
        return 0;
    }

    void SetGlobal(const char* name) {
        VmPushString(L, name);
        VmInsert(L, -2);
        VmRawSet(L, kGlobalsIndex);
    }

    bool Load(const std::string& text) {
        std::vector<uint8_t> bytes;
        std::string error;
        if (!AssembleText(text, bytes, error)) {
            ADD_FAILURE() << error << "\n" << text;
            return false;
        }
        return VmLoadBuffer(L, reinterpret_cast<const char*>(bytes.data()), bytes.size(), "test") == 0;
    }
    // Runs a chunk; its error code.
    int Run(const std::string& text) {
        VmSetTop(L, 0);
        if (!Load(text)) return -1;
        const int err = VmPCall(L, 0, kMultRet, 0);
        VmSetEndFlag(L, 0);
        return err;
    }
    // Defines the global script function name from an assembled chunk.
    void Define(const char* name, const std::string& body) {
        ASSERT_TRUE(Load(".function " + std::string(name) + " params=1 maxstack=8\n" + body + ".end\n"));
        SetGlobal(name);
    }
    // A handler that emits its tag, the message's action and one more field.
    void DefineEmitter(const char* name, const char* tag, const char* field = "id") {
        Define(name, std::string("    GETGLOBAL 1 \"emit\"\n    LOADK 2 \"") + tag +
                         "\"\n    GETTABLE 3 0 \"action\"\n    GETTABLE 4 0 \"" + field +
                         "\"\n    CALL 1 4 1\n    RETURN 0 1\n");
    }
    // InstallEventHandler{key = global function or number}.
    int Install(const std::vector<std::pair<std::string, std::string>>& fields) {
        std::string text = ".function main maxstack=6\n    GETGLOBAL 0 \"installeventhandler\"\n    NEWTABLE 1 0 4\n";
        for (const auto& [key, value] : fields) {
            if (value[0] == '#' || value[0] == '"') text += "    LOADK 2 " + value + "\n";
            else text += "    GETGLOBAL 2 \"" + value + "\"\n";
            text += "    SETTABLE 1 \"" + key + "\" 2\n";
        }
        return Run(text + "    CALL 0 2 1\n    RETURN 0 1\n.end\n");
    }
    // Calls a command with number or global arguments; error code.
    int Call(const char* command, const std::vector<std::string>& args = {}) {
        std::string text = ".function main maxstack=12\n    GETGLOBAL 0 \"" + std::string(command) + "\"\n";
        int r = 1;
        for (const std::string& a : args) {
            if (a == "nil") text += "    LOADNIL " + std::to_string(r) + " " + std::to_string(r) + "\n";
            else if (a[0] == '#' || a[0] == '"') text += "    LOADK " + std::to_string(r) + " " + a + "\n";
            else text += "    GETGLOBAL " + std::to_string(r) + " \"" + a + "\"\n";
            ++r;
        }
        return Run(text + "    CALL 0 " + std::to_string(args.size() + 1) + " 0\n    RETURN 0 0\n.end\n");
    }
    int Wait() { return Call("waitevent"); }
    int Check() { return Call("checkevent"); }

    // The backend posts one scripted event per pump; this moves them all
    // into the queue.
    void Inject(uint32_t type, int32_t a, int32_t b, int32_t c) {
        null_backend::ScriptEvent({d, type, a, b, c});
        while (null_backend::PendingScriptedEvents()) {
            int error = 0;
            PumpEvents(L, kPumpCheck, nullptr, &error);
        }
    }
    void Click(int32_t x, int32_t y, bool down) { Inject(kEventLeftButton, x, y, down ? 1 : 0); }
    void Key(int32_t code, bool down, int32_t qualifiers = 0) { Inject(kEventKey, down ? 1 : 0, qualifiers, code); }

    // Waits (bounded) until the timer thread counts more firings than seen.
    static bool WaitForFiring(uint64_t seen) {
        for (int i = 0; i < 30000; ++i) {
            if (CountTimerFirings() > seen) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        return false;
    }

    ScriptState* L = nullptr;
    qbDisplay* d = nullptr;
    std::vector<std::string> out;
};
