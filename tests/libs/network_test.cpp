// The network library against loopback peers that each test starts itself:
// receive modes, time-outs, argument errors, callbacks, misbehaving peers
// and UDP objects.
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "core/errcodes.h"
#include "core/context.h"
#include "core/errors.h"
#include "core/ostime.h"
#include "display/eventsources.h"
#include "net_fixture.h"
#include "net_peer.h"

namespace {

using namespace nettest;

double NowMs() { return GetTimeSeconds() * 1000; }
// Polls 5 ms apart: a minute before a test calls it a hang.
constexpr int kPollTries = 12000;

class NetworkTest : public NetCallTest {};

TEST_F(NetworkTest, LinesAllAndAClosedPeer) {
    ScriptedPeer peer({Send("abc\r\ndef\n"), Sleep(150), Send("0123456789"), Close()});
    ASSERT_TRUE(Open(1, peer.port()));
    ASSERT_EQ(Receive(1, kReceiveLine), 0);
    EXPECT_EQ(data, "abc");
    EXPECT_EQ(count, 3);
    EXPECT_EQ(flag, 1);
    ASSERT_EQ(Receive(1, kReceiveLine), 0);
    EXPECT_EQ(data, "def");
    EXPECT_EQ(count, 3);
    EXPECT_EQ(flag, 1);
    // Nothing waits yet, and without waiting that is an answer at once (a
    // wait would have brought the ten bytes the peer sends later).
    ASSERT_EQ(Receive(1, kReceiveAll, {0}), 0);
    EXPECT_EQ(data, "");
    EXPECT_EQ(count, 0);
    EXPECT_EQ(flag, 0);
    // Ten bytes and the close: the close after data counts as success.
    ASSERT_EQ(Receive(1, kReceiveAll, {1}), 0);
    EXPECT_EQ(data, "0123456789");
    EXPECT_EQ(count, 10);
    EXPECT_EQ(flag, 1);
}

TEST_F(NetworkTest, ABytesReceiveShortOfItsCountEndsWithWhatCame) {
    ScriptedPeer peer({Send("wxyz"), Sleep(kTestTimeoutMs * 2)});
    ASSERT_TRUE(Open(1, peer.port()));
    // The least count takes one byte and is whole.
    ASSERT_EQ(Receive(1, kReceiveBytes, {1}), 0);
    EXPECT_EQ(data, "w");
    EXPECT_EQ(count, 1);
    EXPECT_EQ(flag, 1);
    const double start = NowMs();
    ASSERT_EQ(Receive(1, kReceiveBytes, {5}), 0);
    EXPECT_GE(NowMs() - start, kTestTimeoutMs - 20);
    EXPECT_EQ(data, "xyz");
    EXPECT_EQ(count, 3);
    EXPECT_EQ(flag, 0);
    EXPECT_EQ(GetLastErrorCode(), ERR_RECVTIMEOUT);
    EXPECT_EQ(Receive(1, kReceiveBytes, {0}), ERR_WRONGUSAGE);
    EXPECT_EQ(Receive(1, 3), ERR_WRONGUSAGE);
}

TEST_F(NetworkTest, ArgumentsOutOfRangeAndMissingObjects) {
    EXPECT_EQ(Open(1, 0), false);
    VmPushNumber(L, 1);
    VmPushString(L, "127.0.0.1");
    VmPushNumber(L, 65536);
    EXPECT_EQ(Call(cmdOpenConnection, 3), ERR_WRONGUSAGE);
    VmSetTop(L, 0);
    VmPushNumber(L, 1);
    VmPushString(L, "127.0.0.1");
    VmPushNumber(L, 0);
    EXPECT_EQ(Call(cmdOpenConnection, 3), ERR_WRONGUSAGE);
    VmSetTop(L, 0);
    EXPECT_EQ(Call(cmdSetNetworkTimeout, {-1}), ERR_WRONGUSAGE);
    EXPECT_EQ(Call(cmdGetLocalIP, {7, kNetworkServer}), ERR_FINDSERVER);
    EXPECT_EQ(Call(cmdGetLocalPort, {7, kNetworkUdp}), ERR_FINDUDPOBJECT);
    EXPECT_EQ(Call(cmdCloseConnection, {9}), ERR_FINDCLIENT);
    EXPECT_EQ(Call(cmdCreateServer, {1, 70000}), ERR_WRONGUSAGE);
    VmPushLightUserdata(L, &L);
    EXPECT_EQ(Call(cmdCloseServer, 1), ERR_FINDARRAY);
    VmSetTop(L, 0);
    EXPECT_EQ(Call(cmdCreateUDPObject, {3}), 0);
    EXPECT_EQ(Call(cmdReceiveUDPData, {3, 0}), ERR_WRONGUSAGE);
}

TEST_F(NetworkTest, ARefusedConnectCarriesTheSystemsText) {
    int port = 0;
    const int fd = BindLoopback(SOCK_STREAM, &port);
    ASSERT_GE(fd, 0);
    close(fd);  // nothing listens there now
    EXPECT_FALSE(Open(1, port));
    VmPushNumber(L, 1);
    VmPushString(L, "127.0.0.1");
    VmPushNumber(L, port);
    EXPECT_EQ(Call(cmdOpenConnection, 3), ERR_SOCKET);
    EXPECT_STREQ(GetErrorDetail(), "Connection refused");
    EXPECT_EQ(*ConnectionListHead(), nullptr);
}

TEST_F(NetworkTest, ANoLimitTimeOutGivesUpAConnectAfterItsFirstWait) {
    // A listener with a full queue leaves further connects pending.
    int port = 0;
    const int listener = BindLoopback(SOCK_STREAM, &port);
    ASSERT_GE(listener, 0);
    ASSERT_EQ(listen(listener, 0), 0);
    std::vector<int> fillers;
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<uint16_t>(port));
    for (int i = 0; i < 4; ++i) {
        const int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
        connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
        fillers.push_back(fd);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    SetNetworkTimeoutValue(0);
    const double start = NowMs();
    VmPushNumber(L, 1);
    VmPushString(L, "127.0.0.1");
    VmPushNumber(L, port);
    EXPECT_EQ(Call(cmdOpenConnection, 3), ERR_SOCKET);
    EXPECT_LT(NowMs() - start, 30000);  // no wait for ever
    EXPECT_STREQ(GetErrorDetail(), "timeout");
    for (int fd : fillers) close(fd);
    close(listener);
}

// Receive callbacks: C functions standing in for script functions.
std::string collected;
int Collect(ScriptState* L) {
    VmPushString(L, "data");
    VmGetTableAt(L, 1);
    collected += VmToCString(L, -1);
    VmPushNumber(L, 0);
    return 1;
}
int Stop(ScriptState* L) {
    VmPushNumber(L, 1);
    return 1;
}
int GiveTable(ScriptState* L) {
    VmPushNewTable(L);
    return 1;
}
// Closes connection 1, the one being received on.
int CloseOwn(ScriptState* L) {
    VmPushCClosure(L, cmdCloseConnection, 0);
    VmPushNumber(L, 1);
    VmPCall(L, 1, 0, 0);
    VmPushNumber(L, 0);
    return 1;
}

TEST_F(NetworkTest, ReceiveCallbacksTakeTheDataOrStopTheReceive) {
    ScriptedPeer peer({Send("hello\nworld\nmore\n")});
    ASSERT_TRUE(Open(1, peer.port()));
    collected.clear();
    auto receiveLineWith = [&](CommandHandler fn) {
        VmSetTop(L, 0);
        VmPushNumber(L, 1);
        VmPushNumber(L, kReceiveLine);
        VmPushCClosure(L, fn, 0);
        const int err = Call(cmdReceiveData, 3);
        if (!err) {
            data = Text(1);
            count = Number(2);
        }
        VmSetTop(L, 0);
        return err;
    };
    ASSERT_EQ(receiveLineWith(Collect), 0);
    EXPECT_EQ(collected, "hello");  // once per byte in line mode
    EXPECT_EQ(data, "");
    EXPECT_EQ(count, 5);
    EXPECT_EQ(receiveLineWith(Stop), ERR_USERABORT);
    EXPECT_EQ(receiveLineWith(GiveTable), ERR_NUMCALLBACK);
    EXPECT_EQ(receiveLineWith(CloseOwn), ERR_FINDCLIENT);
    EXPECT_EQ(*ConnectionListHead(), nullptr);
}

TEST_F(NetworkTest, PollsReportDataAndTheCloseOnceEach) {
    ScriptedPeer peer({Send("ping\n"), Sleep(100), HalfClose()});
    ASSERT_TRUE(Open(1, peer.port()));
    auto* c = static_cast<qbConnection*>(*ConnectionListHead());
    bool seen = false;
    for (int i = 0; i < kPollTries && !seen; ++i) {
        seen = PollConnectionReceive(c) == 1;
        if (!seen) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    ASSERT_TRUE(seen);
    EXPECT_EQ(PollConnectionReceive(c), 0);
    ASSERT_EQ(Receive(1, kReceiveLine), 0);
    EXPECT_EQ(data, "ping");
    int closes = 0;
    for (int i = 0; i < kPollTries && closes == 0; ++i) {
        closes += PollConnectionClosed(c);
        if (!closes) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    EXPECT_EQ(closes, 1);
    EXPECT_EQ(PollConnectionClosed(c), 0);
    EXPECT_EQ(PollConnectionReceive(c), 0);  // a closed connection has no news
}

TEST_F(NetworkTest, TheDispatcherWalkMovesPastAConnectionClosedUnderIt) {
    VmPushNumber(L, 1);
    ASSERT_EQ(Call(cmdCreateServer, 1), 0);
    VmSetTop(L, 0);
    ASSERT_EQ(Call(cmdGetLocalPort, {1, kNetworkServer}), 0);
    const int port = static_cast<int>(Number(-1));
    VmSetTop(L, 0);
    VmPushValue(L, kGlobalsIndex);
    ASSERT_EQ(InitNetworkLibrary(L), 0);
    VmSetTop(L, 0);
    const qbEventSourceHooks hooks = GetEventSourceHooks();
    ASSERT_NE(hooks.nextServerClient, nullptr);
    for (int id = 10; id < 13; ++id) ASSERT_TRUE(Open(id, port));
    // One accepted client per call, each a new automatic id.
    size_t cursor = 0;
    ObjectID server, client;
    std::vector<ObjectID> accepted;
    for (int i = 0; i < kPollTries && accepted.size() < 3; ++i) {
        if (hooks.nextServerClient(&cursor, &server, &client)) {
            accepted.push_back(client);
            EXPECT_EQ(server.number, 1);
            EXPECT_NE(client.handle, nullptr);
            continue;
        }
        cursor = 0;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    ASSERT_EQ(accepted.size(), 3u);
    // The list holds 10, 11, 12 and then their accepted ends. Data reaches
    // the ends of 10, 11 and 12; the walk answers the first, the second is
    // closed under its cursor, and the walk goes on with the third.
    SendText(10, "a");
    SendText(12, "b");
    SendText(11, "c");
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    cursor = 0;
    ObjectID id;
    ASSERT_TRUE(hooks.nextConnectionData(&cursor, &id));
    EXPECT_EQ(id.handle, accepted[0].handle);
    VmPushLightUserdata(L, accepted[1].handle);
    ASSERT_EQ(Call(cmdCloseConnection, 1), 0);
    ASSERT_TRUE(hooks.nextConnectionData(&cursor, &id));
    EXPECT_EQ(id.handle, accepted[2].handle);
    EXPECT_FALSE(hooks.nextConnectionData(&cursor, &id));
}

TEST_F(NetworkTest, PeersThatCloseResetTrickleOrNeverRead) {
    {
        ScriptedPeer peer({Close()});
        ASSERT_TRUE(Open(1, peer.port()));
        peer.Join();
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        // The first send may still go out; the second meets the reset and
        // stops short, which is an error, not a count.
        VmPushNumber(L, 1);
        VmPushString(L, "lost");
        const int first = Call(cmdSendData, 2);
        EXPECT_TRUE(first == 0 || first == ERR_SENDDATA) << first;
        VmSetTop(L, 0);
        VmPushNumber(L, 1);
        VmPushLString(L, std::string(100000, 'x').data(), 100000);
        EXPECT_EQ(Call(cmdSendData, 2), ERR_SENDDATA);
        VmSetTop(L, 0);
        ASSERT_EQ(Receive(1, kReceiveAll, {0}), 0);
        EXPECT_EQ(flag, 0);
    }
    {
        ScriptedPeer peer({Send("h"), Sleep(50), Send("e"), Sleep(50), Send("y"), Sleep(50), Send("\r\n")});
        ASSERT_TRUE(Open(2, peer.port()));
        ASSERT_EQ(Receive(2, kReceiveLine), 0);
        EXPECT_EQ(data, "hey");
    }
    {
        ScriptedPeer peer({Send("partial"), Sleep(50), Reset()});
        ASSERT_TRUE(Open(3, peer.port()));
        peer.Join();
        ASSERT_EQ(Receive(3, kReceiveAll, {1}), 0);
        EXPECT_LE(count, 7);
        EXPECT_EQ(flag, 0);
    }
    {
        ScriptedPeer peer({Hold()});
        peer.LimitReceiveBuffer(64 << 10);
        ASSERT_TRUE(Open(4, peer.port()));
        const std::string big(64 << 20, 'z');
        const double start = NowMs();
        VmPushNumber(L, 4);
        VmPushLString(L, big.data(), big.size());
        EXPECT_EQ(Call(cmdSendData, 2), ERR_SENDDATA);
        VmSetTop(L, 0);
        EXPECT_GE(NowMs() - start, kTestTimeoutMs - 20);
        ASSERT_EQ(Call(cmdCloseConnection, {4}), 0);
        peer.Release();
    }
}

TEST_F(NetworkTest, UdpObjectsExchangeDatagrams) {
    ASSERT_EQ(Call(cmdCreateUDPObject, {1, 0}), 0);
    VmSetTop(L, 0);
    VmPushNil(L);
    ASSERT_EQ(Call(cmdCreateUDPObject, 1), 0);
    ASSERT_EQ(VmType(L, 1), kTypeLightUserdata);
    void* second = VmToUserdata(L, 1);
    VmSetTop(L, 0);
    VmPushLightUserdata(L, second);
    VmPushNumber(L, kNetworkUdp);
    ASSERT_EQ(Call(cmdGetLocalPort, 2), 0);
    const double port = Number(1);
    VmSetTop(L, 0);
    // Without a port each object gets a free one of its own.
    VmPushNil(L);
    ASSERT_EQ(Call(cmdCreateUDPObject, 1), 0);
    VmPushNumber(L, kNetworkUdp);
    ASSERT_EQ(Call(cmdGetLocalPort, 2), 0);
    EXPECT_NE(Number(1), port);
    VmSetTop(L, 0);

    auto send = [&](const std::string& text, const char* ip, double to) {
        VmSetTop(L, 0);
        VmPushNumber(L, 1);
        VmPushLString(L, text.data(), text.size());
        VmPushString(L, ip);
        VmPushNumber(L, to);
        const int err = Call(cmdSendUDPData, 4);
        VmSetTop(L, 0);
        return err;
    };
    ASSERT_EQ(send("datagram", "127.0.0.1", port), 0);
    auto* u = static_cast<qbUDPObject*>((*UDPListHead())->next);
    bool ready = false;
    for (int i = 0; i < kPollTries && !ready; ++i) {
        ready = PollUdpReceive(u) == 1;
        if (!ready) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    ASSERT_TRUE(ready);
    EXPECT_EQ(PollUdpReceive(u), 0);
    VmPushLightUserdata(L, second);
    VmPushNumber(L, 4);
    ASSERT_EQ(Call(cmdReceiveUDPData, 2), 0);
    EXPECT_EQ(Text(1), "data");  // the rest of the datagram is dropped
    EXPECT_EQ(Text(2), "127.0.0.1");
    VmSetTop(L, 0);
    VmPushLightUserdata(L, second);
    ASSERT_EQ(Call(cmdReceiveUDPData, 1), 0);
    EXPECT_EQ(Text(1), "");
    EXPECT_EQ(Text(2), "");
    EXPECT_EQ(Number(3), 0);
    VmSetTop(L, 0);
    // Without a maximum a datagram comes whole up to the buffer's 8192 bytes.
    std::string big(2000, 'b');
    for (size_t i = 0; i < big.size(); i += 7) big[i] = static_cast<char>('a' + i % 26);
    ASSERT_EQ(send(big, "127.0.0.1", port), 0);
    ready = false;
    for (int i = 0; i < kPollTries && !ready; ++i) {
        ready = PollUdpReceive(u) == 1;
        if (!ready) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    ASSERT_TRUE(ready);
    VmPushLightUserdata(L, second);
    ASSERT_EQ(Call(cmdReceiveUDPData, 1), 0);
    EXPECT_EQ(Text(1).size(), big.size());
    EXPECT_TRUE(Text(1) == big);
    VmSetTop(L, 0);

    UdpEcho echo(1);
    ASSERT_EQ(send("echo me", "127.0.0.1", echo.port()), 0);
    std::string back;
    for (int i = 0; i < kPollTries && back.empty(); ++i) {
        ASSERT_EQ(Call(cmdReceiveUDPData, {1}), 0);
        back = Text(1);
        if (back.empty()) std::this_thread::sleep_for(std::chrono::milliseconds(5));
        else EXPECT_EQ(Number(3), echo.port());
        VmSetTop(L, 0);
    }
    EXPECT_EQ(back, "echo me");
    EXPECT_EQ(send("x", "localhost", port), ERR_BADIP);
    EXPECT_EQ(send("", "127.0.0.1", port), ERR_WRONGUSAGE);
    EXPECT_EQ(send("x", "127.0.0.1", 0), ERR_WRONGUSAGE);
}

TEST_F(NetworkTest, NamesAndTheReachabilityTest) {
    VmPushString(L, "localhost");
    ASSERT_EQ(Call(cmdToIP, 1), 0);
    EXPECT_EQ(Text(1), "127.0.0.1");
    VmRawGetIndex(L, 2, 0);
    VmPushString(L, "ip");
    VmGetTableAt(L, 2);
    VmRawGetIndex(L, -1, 1);
    EXPECT_EQ(Text(-1), "127.0.0.1");
    VmPushString(L, "name");
    VmGetTableAt(L, 2);
    EXPECT_EQ(Text(-1).rfind("localhost", 0), 0u) << Text(-1);  // the hosts file's first name for it
    VmSetTop(L, 0);
    VmPushString(L, "127.0.0.1");
    ASSERT_EQ(Call(cmdToHostName, 1), 0);
    EXPECT_FALSE(Text(1).empty());
    VmSetTop(L, 0);
    ASSERT_EQ(Call(cmdGetHostName, 0), 0);
    EXPECT_FALSE(Text(1).empty());
    VmSetTop(L, 0);

    ScriptedPeer peer({});
    auto probe = [](int port) {
        char text[32];
        std::snprintf(text, sizeof text, "127.0.0.1:%d", port);
        setenv("QB_ONLINE_PROBE", text, 1);
    };
    probe(peer.port());
    ASSERT_EQ(Call(cmdIsOnline, 0), 0);
    EXPECT_EQ(VmType(L, 1), kTypeNumber);
    EXPECT_EQ(VmToNumber(L, 1), 1);
    VmSetTop(L, 0);
    int closed = 0;
    const int fd = BindLoopback(SOCK_STREAM, &closed);
    close(fd);
    probe(closed);
    ASSERT_EQ(Call(cmdIsOnline, 0), 0);
    EXPECT_EQ(VmType(L, 1), kTypeNumber);
    EXPECT_EQ(VmToNumber(L, 1), 0);
    unsetenv("QB_ONLINE_PROBE");
    EXPECT_EQ(*ConnectionListHead(), nullptr);
}

TEST_F(NetworkTest, ALongLineWithoutALineFeedComesWhole) {
    const size_t size = 100u << 20;
    ScriptedPeer peer({Send(std::string(size, 'q')), Close()});
    ASSERT_TRUE(Open(1, peer.port()));
    // The peer's hundred megabytes may stall past the short time-out on a
    // loaded machine, which would end the line early by the time-out's rule.
    SetNetworkTimeoutValue(30000);
    const double start = NowMs();
    ASSERT_EQ(Receive(1, kReceiveLine), 0);
    EXPECT_EQ(count, static_cast<double>(size));
    EXPECT_EQ(data.size(), size);
    // Linear growth: far below what copying the whole line per piece takes.
    EXPECT_LT(NowMs() - start, 20000);
}

TEST_F(NetworkTest, DescriptorsAbove1023WorkAsAnyOther) {
    rlimit limit{};
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &limit), 0);
    const rlimit saved = limit;
    const rlim_t want = 3000;
    if (limit.rlim_max != RLIM_INFINITY && limit.rlim_max < want) GTEST_SKIP() << "descriptor limit too low";
    limit.rlim_cur = std::max<rlim_t>(limit.rlim_cur, want);
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &limit), 0);

    VmPushNumber(L, 1);
    VmPushNumber(L, 0);
    VmPushString(L, "127.0.0.1");
    VmPushNumber(L, 256);
    ASSERT_EQ(Call(cmdCreateServer, 4), 0);
    VmSetTop(L, 0);
    ASSERT_EQ(Call(cmdGetLocalPort, {1, kNetworkServer}), 0);
    const int port = static_cast<int>(Number(-1));
    VmSetTop(L, 0);
    auto* server = static_cast<qbServer*>(*ServerListHead());
    constexpr int kCount = 1100;
    std::vector<ObjectID> accepted;
    for (int i = 0; i < kCount; ++i) {
        ASSERT_TRUE(Open(100 + i, port)) << i;
        ObjectID client;
        for (int t = 0; t < 30000 && AcceptServerClient(server, &client) != 1; ++t)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        ASSERT_NE(client.handle, nullptr) << i;
        accepted.push_back(client);
    }
    int high = 0;
    for (qbObject* o = *ConnectionListHead(); o; o = o->next)
        if (static_cast<qbConnection*>(o)->socket.fd > 1023) ++high;
    EXPECT_GT(high, 1000);
    // Every client sends its number; its accepted end reads it back.
    for (int i = 0; i < kCount; ++i) ASSERT_EQ(SendText(100 + i, std::to_string(i) + "\n"), std::to_string(i).size() + 1);
    for (int i = 0; i < kCount; ++i) {
        VmPushLightUserdata(L, accepted[i].handle);
        VmPushNumber(L, kReceiveLine);
        ASSERT_EQ(Call(cmdReceiveData, 2), 0);
        ASSERT_EQ(Text(1), std::to_string(i));
        VmSetTop(L, 0);
    }
    FreeAllNetworkObjects(L);
    setrlimit(RLIMIT_NOFILE, &saved);
}

}  // namespace
