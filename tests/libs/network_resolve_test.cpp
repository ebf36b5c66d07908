// Name lookups end at the network time-out whatever the resolver's own
// settings, and lookups given up leave room for the next, behind the test's
// own resolver (private_resolver.h).
#include <functional>
#include <string>

#include "libs/net_fixture.h"
#include "libs/private_resolver.h"

namespace {

using namespace nettest;
using NetworkResolveTest = NetCallTest;

// Runs the case with the fixture's VM in a child behind the test's resolver.
void RunInChild(ScriptState* L, Answers answers, const std::function<bool(ScriptState*, std::string*)>& run) {
    nettest::RunInChild(answers, [&](std::string* said) { return run(L, said); });
}

// ToIP or ToHostName of the text: the code, and the first result in *text.
int LookUp(ScriptState* L, CommandHandler command, const char* name, std::string* text) {
    VmSetTop(L, 0);
    VmPushCClosure(L, command, 0);
    VmPushString(L, name);
    const int err = VmPCall(L, 1, 2, 0);
    const char* s = err ? nullptr : VmToCString(L, 1);
    *text = s ? s : "";
    VmSetTop(L, 0);
    return err;
}

TEST_F(NetworkResolveTest, ASilentResolverEndsAtTheTimeOut) {
    RunInChild(L, Answers::kNever, [](ScriptState* L, std::string* said) {
        VmPushNumber(L, 1);
        VmPushString(L, "qb-silent-lookup.test");
        VmPushNumber(L, 80);
        VmPushCClosure(L, cmdOpenConnection, 0);
        VmInsert(L, -4);
        const int opened = VmPCall(L, 3, 0, 0);
        VmSetTop(L, 0);
        std::string text;
        const int looked = LookUp(L, cmdToIP, "qb-silent-lookup.test", &text);
        // A lookup by address asks the same server.
        const int named = LookUp(L, cmdToHostName, "10.11.12.13", &text);
        *said = "OpenConnection " + std::to_string(opened) + ", ToIP " + std::to_string(looked) + ", ToHostName " +
                std::to_string(named);
        return opened == ERR_SOCKET && looked == ERR_SOCKET && named == ERR_SOCKET;
    });
}

// A server that answers the first query only: ToIP's address and its table
// (aliases too) come from one lookup, so the answer is all it needs.
TEST_F(NetworkResolveTest, ToIPOfANameAnsweredOnceGivesItsAddress) {
    RunInChild(L, Answers::kFirstQueryOnly, [](ScriptState* L, std::string* said) {
        std::string text;
        const int err = LookUp(L, cmdToIP, "qb-answered-once.test", &text);
        *said = "ToIP " + std::to_string(err) + " " + text;
        return err == 0 && text == "10.9.8.7";
    });
}

// Twenty-five lookups given up at 50 ms while the resolver would try each
// for 150 s; then a name the server answers at once is found.
TEST_F(NetworkResolveTest, GivenUpLookupsLeaveRoomForTheNext) {
    RunInChild(L, Answers::kNamesStartingAnswered, [](ScriptState* L, std::string* said) {
        SetNetworkTimeoutValue(50);
        std::string text;
        int failed = 0;
        for (int i = 0; i < 25; ++i) {
            const std::string name = "qb-unanswered-" + std::to_string(i) + ".test";
            if (LookUp(L, cmdToIP, name.c_str(), &text) == ERR_SOCKET) ++failed;
        }
        SetNetworkTimeoutValue(5000);
        const int err = LookUp(L, cmdToIP, "answered.test", &text);
        *said = std::to_string(failed) + " of 25 given up; ToIP " + std::to_string(err) + " " + text;
        return failed == 25 && err == 0 && text == "10.9.8.7";
    });
}

}  // namespace

namespace {

// Forty lookups given up at 200 ms, while each resolver thread is held to
// a whole second at least; then a name the server answers at once, with a
// time-out of 2 s, is found. The given-up threads run on, but none holds a
// place that a later lookup would wait for.
TEST_F(NetworkResolveTest, GivenUpLookupsNeverFailALaterOne) {
    RunInChild(L, Answers::kNamesStartingAnswered, [](ScriptState* L, std::string* said) {
        SetNetworkTimeoutValue(200);
        std::string text;
        int failed = 0;
        for (int i = 0; i < 40; ++i) {
            const std::string name = "qb-given-up-" + std::to_string(i) + ".test";
            if (LookUp(L, cmdToIP, name.c_str(), &text) == ERR_SOCKET) ++failed;
        }
        const int held = NetLookupThreads().places.load();
        SetNetworkTimeoutValue(2000);
        const int err = LookUp(L, cmdToIP, "answered-later.test", &text);
        *said = std::to_string(failed) + " of 40 given up, " + std::to_string(held) + " places held; ToIP " +
                std::to_string(err) + " " + text;
        return failed == 40 && held == 0 && err == 0 && text == "10.9.8.7";
    });
}

}  // namespace
