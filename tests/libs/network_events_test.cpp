// Network objects as the event dispatcher reports them: clients wait at a
// server until an "OnConnect" handler is installed, then are accepted all
// at once and reported one per dispatcher call.
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "display/eventlib_fixture.h"
#include "libs/netcommands.h"
#include "libs/client_turns.h"
#include "libs/network.h"
#include "libs/private_resolver.h"
#include "libs/python_server.h"
#include "wait_for.h"

namespace {

class NetworkEventsTest : public EventWorld {
protected:
    void SetUp() override {
        EventWorld::SetUp();
        VmPushValue(L, kGlobalsIndex);
        ASSERT_EQ(InitNetworkLibrary(L), 0);
        VmSetTop(L, 0);
        SetNetworkTimeoutValue(300);
    }
    void TearDown() override {
        FreeAllNetworkObjects(L);
        EventWorld::TearDown();
    }
    static int Connections() {
        int n = 0;
        for (qbObject* o = *ConnectionListHead(); o; o = o->next) ++n;
        return n;
    }
    // A server on 127.0.0.1 with the backlog; its port.
    int Serve(int backlog) {
        if (Call("createserver", {"#1", "#0", "\"127.0.0.1\"", "#" + std::to_string(backlog)}) != 0) return 0;
        sockaddr_in address{};
        socklen_t length = sizeof address;
        getsockname(static_cast<qbServer*>(*ServerListHead())->socket.fd, reinterpret_cast<sockaddr*>(&address),
                    &length);
        return ntohs(address.sin_port);
    }
    // The echo server's handlers: each "OnReceiveData" receives one line and
    // sends a whole one back.
    void InstallEcho() {
        VmPushCClosure(L, EchoLine, 0);
        SetGlobal("echoline");
        VmPushCClosure(L, Nothing, 0);
        SetGlobal("nothing");
        ASSERT_EQ(Install({{"onreceivedata", "echoline"}, {"onconnect", "nothing"}}), 0);
    }
    static int Nothing(ScriptState*) { return 0; }
    static int EchoLine(ScriptState* L) {
        VmPushString(L, "id");
        VmGetTableAt(L, 1);
        VmPushCClosure(L, cmdReceiveData, 0);
        VmPushValue(L, 2);
        VmPushNumber(L, kReceiveLine);
        if (VmPCall(L, 2, 3, 0) != 0 || VmToNumber(L, 5) != 1) return 0;
        const std::string line = std::string(VmToCString(L, 3), VmStrLen(L, 3)) + "\n";
        VmPushCClosure(L, cmdSendData, 0);
        VmPushValue(L, 2);
        VmPushLString(L, line.data(), line.size());
        VmPCall(L, 2, 0, 0);
        return 0;
    }
};

TEST_F(NetworkEventsTest, ClientsAreAcceptedOnlyWhileAnOnConnectHandlerListens) {
    ASSERT_EQ(Call("createserver", {"#1", "#0", "\"127.0.0.1\""}), 0);
    sockaddr_in address{};
    socklen_t length = sizeof address;
    ASSERT_EQ(getsockname(static_cast<qbServer*>(*ServerListHead())->socket.fd, reinterpret_cast<sockaddr*>(&address),
                          &length),
              0);
    char port[16];
    std::snprintf(port, sizeof port, "#%d", ntohs(address.sin_port));
    ASSERT_EQ(Call("openconnection", {"#10", "\"127.0.0.1\"", port}), 0);
    ASSERT_EQ(Call("openconnection", {"#11", "\"127.0.0.1\"", port}), 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    for (int i = 0; i < 3; ++i) ASSERT_EQ(Check(), 0);
    EXPECT_EQ(Connections(), 2);

    Define("connected", R"(    GETGLOBAL 1 "emit"
    GETTABLE 2 0 "action"
    GETTABLE 3 0 "serverid"
    GETTABLE 4 0 "clientid"
    CALL 1 4 1
    RETURN 0 1
)");
    ASSERT_EQ(Install({{"onconnect", "connected"}}), 0);
    // One round accepts every waiting client and reports them one by one.
    ASSERT_EQ(Check(), 0);
    EXPECT_EQ(out.size(), 1u);
    EXPECT_EQ(Connections(), 4);
    for (int i = 0; i < 3; ++i) ASSERT_EQ(Check(), 0);
    ASSERT_EQ(out.size(), 2u);
    EXPECT_EQ(out[0], "OnConnect 1 userdata");
    EXPECT_EQ(out[1], out[0]);
    EXPECT_EQ(Connections(), 4);
}

// Ten clients that trickle a byte every quarter time-out and never end
// their line, then a good one. The server's waits inside handlers share one
// budget, so the good client is answered within two time-outs, counted in
// the trickle's turns; waits that each had a time-out of their own would
// hold it ten.
TEST_F(NetworkEventsTest, TenTricklingClientsHoldAGoodOneNoLongerThanTwoTimeOuts) {
    if (access("/usr/bin/python3", X_OK) != 0) GTEST_SKIP() << "no /usr/bin/python3";
    constexpr int kSlow = 10;
    constexpr int kTurnsPerTimeOut = 4;
    SetNetworkTimeoutValue(1000);
    const int port = Serve(128);
    ASSERT_GT(port, 0);
    InstallEcho();
    nettest::PythonServer clients({"-c", R"(
import socket, sys, time
)" + nettest::kAwaitAnswerPython + R"(
port, k, turn = int(sys.argv[1]), int(sys.argv[2]), float(sys.argv[3])
slow = [socket.create_connection(('127.0.0.1', port)) for i in range(k)]
print('port 0', flush=True)
for s in slow:
    s.sendall(b'x')
time.sleep(turn)
good = socket.create_connection(('127.0.0.1', port))
good.sendall(b'hello\n')
good.setblocking(False)
await_answer(good, turn, slow)
)",
                                  std::to_string(port), std::to_string(kSlow),
                                  std::to_string(1.0 / kTurnsPerTimeOut)});
    ASSERT_EQ(clients.firstLine(), "port 0");
    const std::string said =
        nettest::CheckUntilClientsSay(clients, [&] { return Check(); }, std::chrono::seconds(300));
    const int turns = nettest::AnswerTurns(said, "hello");
    ASSERT_GE(turns, 0) << said;
    EXPECT_LE(turns, 2 * kTurnsPerTimeOut) << said;
}

// The script opened twenty connections to a peer that trickles a byte
// every quarter time-out and never ends a line; its handler receives a
// line from whichever connection has data, as it does for its server's
// clients. Those waits draw on the handlers' one budget too, so a good
// client of the server is answered within two time-outs; waits on the
// script's own connections that each had a time-out would hold it twenty.
TEST_F(NetworkEventsTest, TwentyTricklingPeersOfTheScriptHoldAGoodClientNoLongerThanTwoTimeOuts) {
    if (access("/usr/bin/python3", X_OK) != 0) GTEST_SKIP() << "no /usr/bin/python3";
    constexpr int kPeers = 20;
    constexpr int kTurnsPerTimeOut = 4;
    SetNetworkTimeoutValue(1000);
    const int port = Serve(128);
    ASSERT_GT(port, 0);
    InstallEcho();
    nettest::PythonServer peer({"-c", R"(
import socket, sys, time
)" + nettest::kAwaitAnswerPython + R"(
port, k, turn = int(sys.argv[1]), int(sys.argv[2]), float(sys.argv[3])
listener = socket.socket()
listener.bind(('127.0.0.1', 0))
listener.listen(k)
print('port', listener.getsockname()[1], flush=True)
peers = [listener.accept()[0] for i in range(k)]
for s in peers:
    s.sendall(b'x')
time.sleep(turn)
good = socket.create_connection(('127.0.0.1', port))
good.sendall(b'hello\n')
good.setblocking(False)
await_answer(good, turn, peers)
)",
                               std::to_string(port), std::to_string(kPeers), std::to_string(1.0 / kTurnsPerTimeOut)});
    ASSERT_GT(peer.port(), 0) << peer.firstLine();
    for (int i = 0; i < kPeers; ++i)
        ASSERT_EQ(Call("openconnection", {"#" + std::to_string(100 + i), "\"127.0.0.1\"", "#" + std::to_string(peer.port())}),
                  0);
    const std::string said = nettest::CheckUntilClientsSay(peer, [&] { return Check(); }, std::chrono::seconds(300));
    const int turns = nettest::AnswerTurns(said, "hello");
    ASSERT_GE(turns, 0) << said;
    EXPECT_LE(turns, 2 * kTurnsPerTimeOut) << said;
}

// A port whose listener's queue is full: connects to it hang unanswered.
int unansweredPort = 0;

// An onconnect handler that opens a connection of its own to that port.
int ConnectOnward(ScriptState* L) {
    VmPushCClosure(L, cmdOpenConnection, 0);
    VmPushNil(L);
    VmPushString(L, "127.0.0.1");
    VmPushNumber(L, unansweredPort);
    VmPCall(L, 3, 0, 0);
    return 0;
}

// Ten clients come whose onconnect handler connects onward to a peer that
// never answers, then a good one: those connects draw on the handlers' one
// budget of waiting, so the good client is answered within two time-outs;
// connects that each waited a time-out would hold it ten.
TEST_F(NetworkEventsTest, ConnectsThatHangInHandlersHoldAGoodClientNoLongerThanTwoTimeOuts) {
    if (access("/usr/bin/python3", X_OK) != 0) GTEST_SKIP() << "no /usr/bin/python3";
    constexpr int kTurnsPerTimeOut = 4;
    SetNetworkTimeoutValue(1000);
    // A listener that takes no connection past its first: the rest wait
    // unanswered.
    const int listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(listen(listener, 0), 0);
    ASSERT_EQ(getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length), 0);
    unansweredPort = ntohs(address.sin_port);
    std::vector<int> fillers;
    for (int i = 0; i < 3; ++i) {
        fillers.push_back(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
        connect(fillers.back(), reinterpret_cast<sockaddr*>(&address), sizeof address);
    }
    const int port = Serve(128);
    ASSERT_GT(port, 0);
    InstallEcho();
    VmPushCClosure(L, ConnectOnward, 0);
    SetGlobal("connectonward");
    ASSERT_EQ(Install({{"onconnect", "connectonward"}}), 0);
    nettest::PythonServer clients({"-c", R"(
import socket, sys, time
)" + nettest::kAwaitAnswerPython + R"(
port, turn = int(sys.argv[1]), float(sys.argv[2])
slow = [socket.create_connection(('127.0.0.1', port)) for i in range(10)]
print('port 0', flush=True)
time.sleep(turn)
good = socket.create_connection(('127.0.0.1', port))
good.sendall(b'hello\n')
good.setblocking(False)
await_answer(good, turn)
)",
                                  std::to_string(port), std::to_string(1.0 / kTurnsPerTimeOut)});
    ASSERT_EQ(clients.firstLine(), "port 0");
    const std::string said =
        nettest::CheckUntilClientsSay(clients, [&] { return Check(); }, std::chrono::seconds(300));
    const int turns = nettest::AnswerTurns(said, "hello");
    for (int fd : fillers) close(fd);
    close(listener);
    ASSERT_GE(turns, 0) << said;
    EXPECT_LE(turns, 2 * kTurnsPerTimeOut) << said;
}

// The usual logging idiom: the server's onconnect names each client,
// ToHostName(GetConnectionIP(id)).
int NameTheClient(ScriptState* L) {
    VmPushString(L, "clientid");
    VmGetTableAt(L, 1);  // 2
    VmPushCClosure(L, cmdGetConnectionIP, 0);
    VmPushValue(L, 2);
    if (VmPCall(L, 1, 1, 0) != 0) return 0;
    VmPushCClosure(L, cmdToHostName, 0);
    VmInsert(L, -2);
    VmPCall(L, 1, 0, 0);
    return 0;
}

// The fixture is set up in the child that sees the test's resolver.
class ResolvingServerTest : public NetworkEventsTest {
protected:
    void SetUp() override {}
    void TearDown() override {}
};

// Ten clients come from addresses whose reverse zone never answers, then a
// good one: the onconnect handler's lookups draw on the handlers' one budget
// of waiting with every other wait there, so the good client is answered
// within two time-outs; lookups that each waited a time-out would hold it
// ten.
TEST_F(ResolvingServerTest, ClientsNamedBySilentReverseLookupsHoldAGoodOneNoLongerThanTwoTimeOuts) {
    if (access("/usr/bin/python3", X_OK) != 0) GTEST_SKIP() << "no /usr/bin/python3";
    nettest::RunInChild(nettest::Answers::kNever, [this](std::string* said) {
        NetworkEventsTest::SetUp();
        if (HasFatalFailure()) return false;
        constexpr int kTurnsPerTimeOut = 4;
        SetNetworkTimeoutValue(1000);
        const int port = Serve(128);
        InstallEcho();
        VmPushCClosure(L, NameTheClient, 0);
        SetGlobal("nameclient");
        if (port <= 0 || Install({{"onconnect", "nameclient"}}) != 0) return false;
        nettest::PythonServer clients({"-c", R"(
import socket, sys, time
)" + nettest::kAwaitAnswerPython + R"(
port, turn = int(sys.argv[1]), float(sys.argv[2])
slow = [socket.create_connection(('127.0.0.1', port), source_address=('127.78.0.%d' % (i + 1), 0))
        for i in range(10)]
print('port 0', flush=True)
time.sleep(turn)
good = socket.create_connection(('127.0.0.1', port))
good.sendall(b'hello\n')
good.setblocking(False)
await_answer(good, turn)
)",
                                      std::to_string(port), std::to_string(1.0 / kTurnsPerTimeOut)});
        *said = clients.firstLine();
        if (*said != "port 0") return false;
        *said = nettest::CheckUntilClientsSay(clients, [&] { return Check(); }, std::chrono::seconds(300));
        const int turns = nettest::AnswerTurns(*said, "hello");
        return turns >= 0 && turns <= 2 * kTurnsPerTimeOut;
    }, std::chrono::seconds(120));
}

// 5,000 clients stay connected; one more is answered all the same.
TEST_F(NetworkEventsTest, ANewClientIsAnsweredWithFiveThousandOpen) {
    if (access("/usr/bin/python3", X_OK) != 0) GTEST_SKIP() << "no /usr/bin/python3";
    constexpr int kOpen = 5000;
    rlimit limit{};
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &limit), 0);
    const rlimit saved = limit;
    const rlim_t want = kOpen + 1000;
    if (limit.rlim_max != RLIM_INFINITY && limit.rlim_max < want) GTEST_SKIP() << "descriptor limit too low";
    limit.rlim_cur = std::max<rlim_t>(limit.rlim_cur, want);
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &limit), 0);
    SetNetworkTimeoutValue(5000);
    const int port = Serve(4096);
    ASSERT_GT(port, 0);
    InstallEcho();
    nettest::PythonServer clients({"-c", R"(
import resource, socket, sys
soft, hard = resource.getrlimit(resource.RLIMIT_NOFILE)
resource.setrlimit(resource.RLIMIT_NOFILE, (min(hard, int(sys.argv[2]) + 1000), hard))
print('port 0', flush=True)
port = int(sys.argv[1])
held = [socket.create_connection(('127.0.0.1', port)) for i in range(int(sys.argv[2]))]
good = socket.create_connection(('127.0.0.1', port))
good.sendall(b'hello\n')
good.settimeout(150)
answer = b''
while not answer.endswith(b'\n'):
    piece = good.recv(100)
    if not piece:
        break
    answer += piece
print('answer', answer.decode().strip(), flush=True)
)",
                                  std::to_string(port), std::to_string(kOpen)});
    ASSERT_EQ(clients.firstLine(), "port 0");
    EXPECT_TRUE(test_wait::WaitFor(
        [&] {
            // Each call reports one client's arrival.
            for (int i = 0; i < 100; ++i) EXPECT_EQ(Check(), 0);
            return clients.HasOutput();
        },
        std::chrono::seconds(150)));
    EXPECT_EQ(clients.NextLine(1000), "answer hello");
    EXPECT_GE(Connections(), kOpen + 1);
    FreeAllNetworkObjects(L);
    setrlimit(RLIMIT_NOFILE, &saved);
}

}  // namespace
