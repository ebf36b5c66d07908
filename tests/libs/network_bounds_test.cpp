// What no peer can buy of a server: a line trickled without end holds a
// ReceiveData for one time-out at most, a flood one receive for a bounded
// amount, clients queued while descriptors ran out are still taken, and
// closed connections leave the poll set.
#include <fcntl.h>
#include <sys/resource.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <thread>
#include <vector>

#include "core/context.h"
#include "core/errcodes.h"
#include "libs/net_fixture.h"
#include "libs/net_peer.h"
#include "libs/netpoll.h"
#include "wait_for.h"

namespace {

using namespace nettest;
using test_wait::WaitFor;
using NetworkBoundsTest = NetCallTest;

// How long a misbehaving peer goes on: only a receive that waits it out
// (a hang) reaches its end.
constexpr auto kPeerGuard = std::chrono::seconds(60);

class ServerTest : public NetCallTest {
protected:
    void SetUp() override {
        NetCallTest::SetUp();
        CreateServer();
    }
    // Server 1 on 127.0.0.1, on a port the system chose.
    void CreateServer() {
        VmPushNumber(L, 1);
        VmPushNumber(L, 0);
        VmPushString(L, "127.0.0.1");
        VmPushNumber(L, 1024);
        ASSERT_EQ(Call(cmdCreateServer, 4), 0);
        VmSetTop(L, 0);
        ASSERT_EQ(Call(cmdGetLocalPort, {1, kNetworkServer}), 0);
        port = static_cast<int>(Number(-1));
        VmSetTop(L, 0);
    }
    // The clients accepted by one dispatcher step over the servers.
    std::vector<ObjectID> Arrivals() {
        std::vector<ObjectID> out;
        size_t cursor = 0;
        ObjectID server, client;
        while (NetPollNextArrival(&cursor, *ServerListHead(), &server, &client)) out.push_back(client);
        return out;
    }
    int ReceiveLine(ObjectID id) {
        VmSetTop(L, 0);
        VmPushLightUserdata(L, id.handle);
        VmPushNumber(L, kReceiveLine);
        const int err = Call(cmdReceiveData, 2);
        if (!err) {
            data = Text(1);
            flag = Number(3);
        }
        VmSetTop(L, 0);
        return err;
    }
    int port = 0;
};

// A peer that sends a line without its line feed, rate bytes a second,
// until stopped or its guard ends.
class LineTrickler {
public:
    LineTrickler(int port, int bytesPerSecond) : fd_(ConnectTo(port)) {
        thread_ = std::thread([this, bytesPerSecond] {
            const auto end = std::chrono::steady_clock::now() + kPeerGuard;
            const int piece = std::max(1, bytesPerSecond / 100);
            const auto pause = std::chrono::microseconds(1000000LL * piece / bytesPerSecond);
            while (!stop_ && std::chrono::steady_clock::now() < end) {
                const std::string bytes(static_cast<size_t>(piece), 'x');
                if (send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL) <= 0) break;
                sent_ += bytes.size();
                std::this_thread::sleep_for(pause);
            }
            ended_ = true;
        });
    }
    ~LineTrickler() {
        Finish();
        close(fd_);
    }
    bool ended() const { return ended_; }
    // Stops and ends the line with its line feed; the bytes before it.
    size_t Finish() {
        stop_ = true;
        if (thread_.joinable()) {
            thread_.join();
            send(fd_, "\n", 1, MSG_NOSIGNAL);
        }
        return sent_;
    }

private:
    size_t sent_ = 0;
    int fd_;
    std::atomic<bool> stop_{false};
    std::atomic<bool> ended_{false};
    std::thread thread_;
};

// A script's ReceiveData(id, #RECEIVELINE) server: every client that sent a
// line is answered while one peer trickles a line that never ends, at a
// rate below and above the low-speed floor. The trickled part is kept,
// piece by piece, with done 0 and the receive time-out.
TEST_F(ServerTest, ATrickledLineHoldsTheServerForOneTimeOutAtMost) {
    for (const int rate : {120, 2000}) {
        LineTrickler trickler(port, rate);
        constexpr int kGood = 3;
        std::atomic<int> answered{0};
        std::vector<std::thread> good;
        std::vector<ObjectID> open;
        // The trickle has begun before the good clients come.
        ASSERT_TRUE(WaitFor([&] {
            for (ObjectID id : Arrivals()) open.push_back(id);
            return !open.empty() && NetBytesWaiting(static_cast<qbConnection*>(open[0].handle)) > 0;
        }));
        for (int i = 0; i < kGood; ++i)
            good.emplace_back([&] {
                const int fd = ConnectTo(port);
                send(fd, "ping\n", 5, MSG_NOSIGNAL);
                char reply[5] = {};
                if (WaitReadable(fd, 120000) && recv(fd, reply, sizeof reply, MSG_WAITALL) == 5 &&
                    std::string(reply, 5) == "pong\n")
                    ++answered;
                close(fd);
            });
        std::string trickled;
        bool cut = false;
        while (answered < kGood && !trickler.ended()) {
            for (ObjectID id : Arrivals()) open.push_back(id);
            size_t cursor = 0;
            qbConnection* c = nullptr;
            while (NetPollNextData(&cursor, &c)) {
                ASSERT_EQ(ReceiveLine(IDOf(*c)), 0);
                if (flag == 1) {
                    EXPECT_EQ(data, "ping");
                    VmPushLightUserdata(L, c->handle);
                    VmPushString(L, "pong\n");
                    ASSERT_EQ(Call(cmdSendData, 2), 0);
                    VmSetTop(L, 0);
                } else {
                    EXPECT_EQ(GetLastErrorCode(), ERR_RECVTIMEOUT);
                    trickled += data;
                    cut = true;
                }
            }
            NetPollWait(1);
        }
        EXPECT_FALSE(trickler.ended()) << rate << " B/s held the server until the peer gave up";
        EXPECT_EQ(answered, kGood) << rate;
        EXPECT_TRUE(cut) << rate;
        // A caller that goes on until done gets the line whole.
        const size_t sent = trickler.Finish();
        flag = 0;
        for (int tries = 0; tries < 120 && flag != 1; ++tries) {
            ASSERT_EQ(ReceiveLine(open[0]), 0);
            trickled += data;
        }
        EXPECT_EQ(trickled, std::string(sent, 'x')) << rate;
        for (std::thread& t : good) t.join();
        FreeAllNetworkObjects(L);
        SetNetworkTimeoutValue(kTestTimeoutMs);
        CreateServer();
    }
}

// Clients that arrive while the player has no descriptor left stay queued
// and are taken once one is free; none is lost for want of a new arrival.
TEST_F(ServerTest, ClientsQueuedOutOfDescriptorsAreTakenLater) {
    constexpr int kClients = 3;
    std::vector<int> clients;
    for (int i = 0; i < kClients; ++i) clients.push_back(ConnectTo(port));
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &saved), 0);
    auto spend = [] { return open("/dev/null", O_RDONLY | O_CLOEXEC); };
    const int lowest = spend();
    close(lowest);
    rlimit tight = saved;
    tight.rlim_cur = static_cast<rlim_t>(lowest + 8);
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &tight), 0);
    std::vector<int> spent;
    for (int fd; (fd = spend()) >= 0;) spent.push_back(fd);
    ASSERT_EQ(errno, EMFILE);
    // Their arrival is seen while no descriptor is left.
    NetPollWait(1);
    EXPECT_TRUE(Arrivals().empty());
    close(spent.back());
    spent.pop_back();
    size_t taken = 0;
    ASSERT_TRUE(WaitFor([&] { return (taken += Arrivals().size()) >= 1; }));
    EXPECT_EQ(taken, 1u);
    for (int fd : spent) close(fd);
    setrlimit(RLIMIT_NOFILE, &saved);
    EXPECT_TRUE(WaitFor([&] { return (taken += Arrivals().size()) >= kClients; }));
    EXPECT_EQ(taken, static_cast<size_t>(kClients));
    for (int fd : clients) close(fd);
}

// Connections opened and closed with no handler installed leave the poll
// set at once: it keeps marks only for those still open.
TEST_F(NetworkBoundsTest, ClosedConnectionsLeaveThePollSet) {
    int port = 0;
    const int listener = BindLoopback(SOCK_STREAM, &port);
    ASSERT_EQ(listen(listener, 512), 0);
    constexpr int kRounds = 300;
    for (int i = 0; i < kRounds; ++i) {
        ASSERT_TRUE(Open(10 + i, port)) << i;
        ASSERT_EQ(Call(cmdCloseConnection, {10.0 + i}), 0);
        VmSetTop(L, 0);
    }
    EXPECT_EQ(NetPollMarkCount(), 0u);
    for (int i = 0; i < 5; ++i) ASSERT_TRUE(Open(1000 + i, port));
    EXPECT_LE(NetPollMarkCount(), 5u);
    close(listener);
}

// The most bytes one receive may gather in a socket buffer: what had come
// when a receive began is at most this.
size_t SocketBufferBound() {
    size_t low = 0, def = 0, high = 0;
    std::ifstream("/proc/sys/net/ipv4/tcp_rmem") >> low >> def >> high;
    return std::max<size_t>(high, size_t{8} << 20);
}

// One receive of whatever waits, on a connection flooded without a pause,
// returns what had come and a bounded amount more, not the flood.
TEST_F(NetworkBoundsTest, OneReceiveAllOfAFloodIsBounded) {
    int port = 0;
    const int listener = BindLoopback(SOCK_STREAM, &port);
    ASSERT_EQ(listen(listener, 1), 0);
    const size_t bound = 2 * SocketBufferBound() + (size_t{4} << 20);
    const size_t flood = bound + (size_t{64} << 20);
    std::atomic<bool> stop{false};
    std::thread flooder([&] {
        const int fd = accept(listener, nullptr, nullptr);
        const std::string piece(1 << 20, 'f');
        for (size_t sent = 0; sent < flood && !stop;) {
            const ssize_t n = send(fd, piece.data(), piece.size(), MSG_NOSIGNAL);
            if (n <= 0) break;
            sent += static_cast<size_t>(n);
        }
        close(fd);
    });
    ASSERT_TRUE(Open(1, port));
    ASSERT_EQ(Receive(1, kReceiveAll), 0);
    stop = true;
    EXPECT_GT(count, 0);
    EXPECT_LE(count, static_cast<double>(bound));
    EXPECT_EQ(data.size(), count);
    FreeAllNetworkObjects(L);
    flooder.join();
    close(listener);
}

// A line longer than the receive may gather is out of memory before more
// than that is read, and what was allocated stays tied to that bound.
TEST_F(NetworkBoundsTest, ALineBeyondTheMostIsOutOfMemoryBeforeItIsRead) {
    int pair[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, pair), 0);
    const std::string endless(1 << 16, 'x');
    size_t queued = 0;
    for (ssize_t n; (n = write(pair[1], endless.data(), endless.size())) > 0;) queued += static_cast<size_t>(n);
    constexpr size_t kMost = 10000;
    ASSERT_GT(queued, 4 * (kMost + kSocketBufferSize + 1));
    // The bound is checked, not the time-out: under the collector's stress on
    // a loaded machine each callback takes long enough to spend the short one.
    SetNetworkTimeoutValue(30000);
    qbConnection c;
    InitTcpSocket(&c.socket, 0, 0);
    c.socket.fd = pair[0];
    for (const bool callback : {false, true}) {
        qbGrowBlock grown;
        qbNetSink sink;
        sink.grow = &grown;
        sink.most = kMost;
        VmSetTop(L, 0);
        if (callback) {
            VmPushCClosure(L, [](ScriptState* S) { VmPushNumber(S, 0); return 1; }, 0);
            sink.kind = NetSinkKind::kCallback;
            sink.callback = 1;
        }
        for (const int mode : {kReceiveLine, kReceiveAll}) {
            qbNetReceipt receipt;
            qbNetClock clock = NetClockStart(mode == kReceiveLine ? NetWaitWhole() : NetWaitBulk());
            EXPECT_EQ(NetReceive(L, &c, mode, 0, &clock, sink, &receipt), ERR_MEM) << mode << callback;
            EXPECT_LE(receipt.count, kMost);
            EXPECT_LE(grown.capacity, 2 * kMost + 65536);
        }
    }
    SocketDestroy(&c.socket.fd);
    close(pair[1]);
}

}  // namespace
