// A script's server as its handlers serve it: a slow client holds a handler
// at most one time-out per call, so the clients beside it are answered, and
// a receive that failed leaves the connection's next data reported.
#include <sys/socket.h>

#include <map>
#include <string>

#include "display/eventlib_fixture.h"
#include "libs/net_peer.h"
#include "libs/netcommands.h"
#include "libs/client_turns.h"
#include "libs/netpoll.h"
#include "libs/network.h"
#include "libs/python_server.h"
#include "wait_for.h"

namespace {

// What the handlers saw, for the test to read.
struct Served {
    std::map<const void*, std::string> role;  // by connection: the first line it sent
    int slowReceives = 0;
    bool slowReceiveCut = false;  // a receive of the slow sender ended with done 0 and what came
    int sendErr = -1;             // the send to the slow reader
    int calls = 0;
};
Served* served = nullptr;

// ReceiveData(id, args...) on the stack top's table id; the code, with the
// results left at [base + 1, base + 3].
int Receive(ScriptState* L, std::initializer_list<double> args, int base) {
    VmSetTop(L, base);
    VmPushCClosure(L, cmdReceiveData, 0);
    VmPushValue(L, 2);
    for (double a : args) VmPushNumber(L, a);
    return VmPCall(L, 1 + static_cast<int>(args.size()), 3, 0);
}

int Send(ScriptState* L, const std::string& text) {
    VmPushCClosure(L, cmdSendData, 0);
    VmPushValue(L, 2);
    VmPushLString(L, text.data(), text.size());
    const int err = VmPCall(L, 2, 0, 0);
    if (err) VmSetTop(L, -2);
    return err;
}

// Each client names itself in its first line: "in" then trickles bytes into
// a 100,000-byte receive, "out" reads a 4 MB send slowly, any other line is
// echoed.
int ServeClient(ScriptState* L) {
    VmPushString(L, "id");
    VmGetTableAt(L, 1);  // 2: the connection
    const void* id = VmToPointer(L, 2);
    std::string& role = served->role[id];
    if (role.empty()) {
        if (Receive(L, {kReceiveLine}, 2) != 0 || VmToNumber(L, 5) != 1) return 0;
        role = std::string(VmToCString(L, 3), VmStrLen(L, 3));
        if (role == "out") {
            // A small send buffer: the send stalls on the reader, not once
            // the kernel's autotuned buffers (megabytes) are full.
            const int bytes = 16384;
            setsockopt(static_cast<const qbConnection*>(id)->socket.fd, SOL_SOCKET, SO_SNDBUF, &bytes, sizeof bytes);
            served->sendErr = Send(L, std::string(size_t{4} << 20, 'o'));
        } else if (role != "in") {
            Send(L, role + "\n");
        }
    }
    if (role == "in" && Receive(L, {kReceiveBytes, 100000}, 2) == 0) {
        ++served->slowReceives;
        const double count = VmToNumber(L, 4);
        if (VmToNumber(L, 5) == 0 && count > 0 && VmStrLen(L, 3) == count) served->slowReceiveCut = true;
    }
    return 0;
}

// Fails its first two receives (a bad mode, then a callback that answers no
// number), then takes a line.
int FailTwiceThenTake(ScriptState* L) {
    VmPushString(L, "id");
    VmGetTableAt(L, 1);
    const int call = ++served->calls;
    if (call == 1) {
        Receive(L, {7}, 2);
    } else if (call == 2) {
        VmSetTop(L, 2);
        VmPushCClosure(L, cmdReceiveData, 0);
        VmPushValue(L, 2);
        VmPushNumber(L, kReceiveAll);
        VmPushBoolean(L, false);
        VmPushCClosure(L, [](ScriptState* S) { VmPushString(S, "no number"); return 1; }, 0);
        VmPCall(L, 4, 3, 0);
    } else if (Receive(L, {kReceiveLine}, 2) == 0) {
        served->role[nullptr] = std::string(VmToCString(L, 3), VmStrLen(L, 3));
    }
    return 0;
}

class NetworkHandlerTest : public EventWorld {
protected:
    void SetUp() override {
        EventWorld::SetUp();
        VmPushValue(L, kGlobalsIndex);
        ASSERT_EQ(InitNetworkLibrary(L), 0);
        VmSetTop(L, 0);
        SetNetworkTimeoutValue(1000);
        served = &seen;
    }
    void TearDown() override {
        FreeAllNetworkObjects(L);
        served = nullptr;
        EventWorld::TearDown();
    }
    // A server on 127.0.0.1 whose clients' data goes to the C function;
    // its port.
    int Serve(CommandHandler onData) {
        VmPushCClosure(L, onData, 0);
        SetGlobal("ondata");
        VmPushCClosure(L, [](ScriptState*) { return 0; }, 0);
        SetGlobal("nothing");
        if (Install({{"onreceivedata", "ondata"}, {"onconnect", "nothing"}}) != 0) return 0;
        if (Call("createserver", {"#1", "#0", "\"127.0.0.1\""}) != 0) return 0;
        sockaddr_in address{};
        socklen_t length = sizeof address;
        getsockname(static_cast<qbServer*>(*ServerListHead())->socket.fd, reinterpret_cast<sockaddr*>(&address),
                    &length);
        return ntohs(address.sin_port);
    }
    Served seen;
};

// One client sends 2 KB/s into a 100,000-byte receive, one reads a 4 MB
// send at 20 KB/s: both pass the bulk floor, so a handler bounded by it
// holds the server until they are done. Bounded as a whole, the three good
// clients are answered while the slow ones have moved a fraction of it.
TEST_F(NetworkHandlerTest, SlowClientsDoNotHoldTheServer) {
    if (access("/usr/bin/python3", X_OK) != 0) GTEST_SKIP() << "no /usr/bin/python3";
    const int port = Serve(ServeClient);
    ASSERT_GT(port, 0);
    nettest::PythonServer clients({"-c", R"(
import socket, sys, time
port = int(sys.argv[1])
)" + nettest::kConnectPython + R"(
slow_in = connect(b'in\n')
slow_out = connect(b'out\n', 4096)
print('port 0', flush=True)
sent_in = read_out = 0
good, answers = [], {}
tick = 0
end = time.time() + 300
while len(answers) < 3 and time.time() < end:
    if time.time() >= tick:
        tick = time.time() + 0.1
        try:
            sent_in += slow_in.send(b'x' * 200)
        except OSError:
            pass
        try:
            read_out += len(slow_out.recv(2048))
        except OSError:
            pass
    # The good clients come once the slow reader is being served.
    if not good and read_out > 0:
        good = [connect(b'good%d\n' % i) for i in range(3)]
        texts = [b''] * 3
    for i, g in enumerate(good):
        try:
            texts[i] += g.recv(100)
        except OSError:
            pass
        if texts[i].endswith(b'\n'):
            answers[i] = texts[i]
    time.sleep(0.01)
print('served', len(answers), sent_in, read_out, flush=True)
)",
                                  std::to_string(port)});
    ASSERT_EQ(clients.firstLine(), "port 0");
    const std::string line =
        nettest::CheckUntilClientsSay(clients, [&] { return Check(); }, std::chrono::seconds(400));
    int answered = 0;
    long sentIn = 0, readOut = 0;
    ASSERT_EQ(std::sscanf(line.c_str(), "served %d %ld %ld", &answered, &sentIn, &readOut), 3) << line;
    EXPECT_EQ(answered, 3);
    // Counted, not timed: the slow ones had far from finished.
    EXPECT_LT(sentIn, 50000);
    EXPECT_LT(readOut, 1000000);
    EXPECT_TRUE(seen.slowReceiveCut);
    EXPECT_EQ(seen.sendErr, ERR_SENDDATA);
}

TEST_F(NetworkHandlerTest, AFailedReceiveLeavesTheNextDataReported) {
    const int port = Serve(FailTwiceThenTake);
    ASSERT_GT(port, 0);
    const int fd = nettest::ConnectTo(port);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(send(fd, "ab", 2, 0), 2);
    const auto calls = [&](int n) {
        return test_wait::WaitFor([&] {
            EXPECT_EQ(Check(), 0);
            return seen.calls >= n;
        });
    };
    ASSERT_TRUE(calls(2));  // the bad mode took nothing: the same data again
    ASSERT_EQ(send(fd, "c\n", 2, 0), 2);
    ASSERT_TRUE(calls(3));  // the failed callback took "ab": the new data
    EXPECT_TRUE(test_wait::WaitFor([&] {
        EXPECT_EQ(Check(), 0);
        return seen.role.count(nullptr) == 1;
    }));
    EXPECT_EQ(seen.role[nullptr], "c");
    close(fd);
}

// With handlers for data and for closes, a quiet connection drops out of
// the readiness marks once both have looked; its next data must bring it
// back, line after line.
TEST_F(NetworkHandlerTest, AQuietConnectionIsReportedAgainWhenDataComes) {
    VmPushCClosure(L, [](ScriptState*) { return 0; }, 0);
    SetGlobal("gone");
    ASSERT_EQ(Install({{"ondisconnect", "gone"}}), 0);
    const int port = Serve([](ScriptState* S) {
        VmPushString(S, "id");
        VmGetTableAt(S, 1);
        if (Receive(S, {kReceiveLine}, 2) == 0 && VmToNumber(S, 5) == 1) {
            served->role[nullptr] += std::string(VmToCString(S, 3), VmStrLen(S, 3));
            ++served->calls;
        }
        return 0;
    });
    ASSERT_GT(port, 0);
    const int fd = nettest::ConnectTo(port);
    ASSERT_GE(fd, 0);
    for (int line = 1; line <= 3; ++line) {
        ASSERT_EQ(send(fd, "x\n", 2, 0), 2);
        ASSERT_TRUE(test_wait::WaitFor([&] {
            EXPECT_EQ(Check(), 0);
            return seen.calls >= line;
        })) << "line " << line;
        // Both stages have looked at the quiet connection: no mark is left.
        ASSERT_TRUE(test_wait::WaitFor([&] {
            EXPECT_EQ(Check(), 0);
            return NetPollMarkCount() == 0;
        }));
    }
    EXPECT_EQ(seen.role[nullptr], "xxx");
    close(fd);
}

}  // namespace

// Ten clients that never read take a 4 MB send each, then a good one comes:
// the sends inside handlers share one budget of waiting with every other
// wait there, so the good client is answered within two time-outs, counted
// in turns of a quarter time-out; sends that each waited a time-out of
// their own would hold it ten.
TEST_F(NetworkHandlerTest, TenClientsThatNeverReadHoldAGoodOneNoLongerThanTwoTimeOuts) {
    if (access("/usr/bin/python3", X_OK) != 0) GTEST_SKIP() << "no /usr/bin/python3";
    constexpr int kTurnsPerTimeOut = 4;
    const int port = Serve(ServeClient);
    ASSERT_GT(port, 0);
    nettest::PythonServer clients({"-c", R"(
import socket, sys, time
)" + nettest::kAwaitAnswerPython + R"(
port, turn = int(sys.argv[1]), float(sys.argv[2])
)" + nettest::kConnectPython + R"(
slow = [connect(b'out\n', 4096) for i in range(10)]
print('port 0', flush=True)
time.sleep(turn)
good = connect(b'good\n')
await_answer(good, turn)
)",
                                  std::to_string(port), std::to_string(1.0 / kTurnsPerTimeOut)});
    ASSERT_EQ(clients.firstLine(), "port 0");
    const std::string said =
        nettest::CheckUntilClientsSay(clients, [&] { return Check(); }, std::chrono::seconds(300));
    const int turns = nettest::AnswerTurns(said, "good");
    ASSERT_GE(turns, 0) << said;
    EXPECT_LE(turns, 2 * kTurnsPerTimeOut) << said;
    EXPECT_EQ(seen.sendErr, ERR_SENDDATA);
}
