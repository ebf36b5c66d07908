// The script epoch: every road from native code into the VM moves it, so a
// command's references (core/objectref.h) find their objects again after
// script code that may have freed them; a read that runs no code leaves it.
#include <functional>

#include "vm/callgiven.h"
#include "vm_fixture.h"

namespace {

int Nothing(ScriptState*) { return 0; }

class ScriptEpochTest : public vmtest::NativeFixture {
protected:
    // Whether body, run as a command, moved the epoch.
    bool Moves(const std::function<void(ScriptState*)>& body) {
        uint64_t before = 0, after = 0;
        EXPECT_EQ(Run([&](ScriptState* S) {
                      before = VmScriptEpoch();
                      body(S);
                      after = VmScriptEpoch();
                      return 0;
                  }),
                  0);
        return after != before;
    }

    // A table whose "__index" is a function (or, plain, a table).
    static void PushIndexed(ScriptState* S, bool function) {
        VmPushNewTable(S);
        VmPushNewTable(S);
        VmPushString(S, "__index");
        if (function)
            VmPushCClosure(S, Nothing, 0);
        else
            VmPushNewTable(S);
        VmRawSet(S, -3);
        VmSetMetatable(S, -2);
    }
};

TEST_F(ScriptEpochTest, EveryCallIntoTheVmMovesItAndAPlainReadDoesNot) {
    EXPECT_TRUE(Moves([](ScriptState* S) {
        VmPushCClosure(S, Nothing, 0);
        VmCall(S, 0, 0);
    }));
    EXPECT_TRUE(Moves([](ScriptState* S) {
        VmPushCClosure(S, Nothing, 0);
        VmPCall(S, 0, 0, 0);
    }));
    EXPECT_TRUE(Moves([](ScriptState* S) {
        VmPushCClosure(S, Nothing, 0);
        VmCallGiven(S, 0, 0);
    }));
    // A native read through a table's "__index" function.
    EXPECT_TRUE(Moves([](ScriptState* S) {
        PushIndexed(S, true);
        VmPushString(S, "key");
        VmGetTableAt(S, -2);
    }));
    EXPECT_FALSE(Moves([](ScriptState* S) {
        PushIndexed(S, false);
        VmPushString(S, "key");
        VmGetTableAt(S, -2);
    }));
}

}  // namespace
