// Memory that runs out inside a command, in the VM's own heap as much as in
// the command's containers, fails that command with ERR_MEM: with
// ExitOnError off the script reads the code from GetLastError and goes on.
// Memory that runs out in script code a command called ends that code.
#include <sys/resource.h>
#include <unistd.h>

#include <fstream>
#include <string>

#include "core/errcodes.h"
#include "core/settings.h"
#include "deadline_child.h"
#include "libs/stringlib.h"
#include "libs/system.h"
#include "system_fixture.h"
#include "vm/object.h"

#if defined(__SANITIZE_ADDRESS__)
#define QB_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define QB_SANITIZED 1
#endif
#endif

namespace {

using namespace std::chrono_literals;

class CommandMemoryTest : public libstest::SystemVmFixture {
protected:
    void SetUp() override {
        SystemVmFixture::SetUp();
        SetRuntimeTag(kTagQuiet, 1);
        SetRuntimeTag(kTagRaiseErrors, 0);
        VmPushValue(L, kGlobalsIndex);
        ASSERT_EQ(InitSystemLibrary(L), 0);
        ASSERT_EQ(InitStringLibrary(L), 0);
        VmSetTop(L, 0);
    }
    void TearDown() override {
        FreeSystemObjects(L);
        SystemVmFixture::TearDown();
    }
    void SetBig(const std::string& text) {
        VmPushLString(L, text.data(), text.size());
        SetGlobal("big");
    }
    // Calls command(big, arg...) for no results, then answers GetLastError
    // and a value made after it, which only a script still running makes.
    std::string CallOnBig(const std::string& command, const std::string& args) {
        int n = 1;
        std::string loads;
        for (size_t at = 0; at < args.size();) {
            const size_t end = args.find(';', at);
            const std::string arg = args.substr(at, end - at);
            loads += (arg == "@big" ? "    GETGLOBAL " : "    LOADK ") + std::to_string(++n) + " " +
                     (arg == "@big" ? std::string("\"big\"") : arg) + "\n";
            at = end == std::string::npos ? args.size() : end + 1;
        }
        return Eval(".function main maxstack=8\n    GETGLOBAL 0 \"" + command + "\"\n    GETGLOBAL 1 \"big\"\n" +
                    loads + "    CALL 0 " + std::to_string(n + 1) +
                    " 1\n    GETGLOBAL 0 \"getlasterror\"\n    CALL 0 1 2\n    LOADK 1 \"on\"\n    RETURN 0 3\n.end\n");
    }
    // The four commands, each needing more than the VM may take.
    void ExpectFourFailAsCommands() {
        const std::string failed = std::to_string(ERR_MEM) + " \"on\"";
        EXPECT_EQ(CallOnBig("repeatstr", "#2"), failed);
        EXPECT_EQ(CallOnBig("insertstr", "@big;#1"), failed);
        EXPECT_EQ(CallOnBig("base64str", "#0"), failed);
        EXPECT_EQ(CallOnBig("splitstr", "\",\""), failed);
    }
};

// The VM's heap limit stands for the machine's memory.
TEST_F(CommandMemoryTest, TheVmHeapRunningOutFailsTheCommand) {
    std::string big;
    for (int i = 0; i < 200000; ++i) big += "ab,";
    SetBig(big);
    L->g->memLimit = L->g->nblocks + big.size() / 2;
    ExpectFourFailAsCommands();
    // Memory running out in script code a command runs (an order function)
    // ends that code.
    VmPushNewTable(L);
    for (int i = 0; i < 2; ++i) {
        VmPushNumber(L, i);
        VmRawSetIndex(L, -2, i);
    }
    SetGlobal("list");
    EXPECT_EQ(Eval(R"(.function main maxstack=6
    GETGLOBAL 0 "sort"
    GETGLOBAL 1 "list"
    CLOSURE 2 before
    CALL 0 3 1
    LOADK 0 "on"
    RETURN 0 2
  .function before params=2 maxstack=4
    GETGLOBAL 2 "big"
    GETGLOBAL 3 "big"
    CONCAT 2 2 3
    LOADK 2 #0
    RETURN 2 2
  .end
.end)"),
              Failure(ERR_MEM));
    L->g->memLimit = 0;
}

#if !defined(QB_SANITIZED)
// A 300 MB string under an address-space cap of 1.4 GB, in a child (the
// sanitizers reserve more address space than any cap leaves).
TEST_F(CommandMemoryTest, RunningOutOfTheMachinesMemoryFailsTheCommand) {
    SetBig(std::string(300 << 20, ','));
    auto work = [&] {
        rlimit cap{};
        getrlimit(RLIMIT_AS, &cap);
        cap.rlim_cur = static_cast<rlim_t>(1400) << 20;
        if (setrlimit(RLIMIT_AS, &cap) != 0) return false;
        ExpectFourFailAsCommands();
        return !HasFailure();
    };
    EXPECT_EQ(libstest::RunInChild(work, 120s), libstest::ChildEnd::Passed);
}
#endif

}  // namespace
