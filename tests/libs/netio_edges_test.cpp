// A receive at the edges of where it must stop: a block filled to its last
// byte, a receive of whatever waits ending at its "enough" with more still
// waiting, every receive at its most; and the descriptors written or
// watched on descriptor 0.
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <thread>
#include <vector>

#include "bounded_child.h"
#include "core/errcodes.h"
#include "core/replacefile.h"
#include "core/scratch.h"
#include "libs/net_fixture.h"
#include "libs/netclock.h"
#include "libs/netpoll.h"
#include "libs/socket.h"

namespace {

using NetReceiveEdgeTest = nettest::NetCallTest;

// A connection over one end of a socket pair; the other end is the peer.
struct PairedConnection {
    qbConnection c;
    int peer = -1;
    PairedConnection() {
        int pair[2];
        if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, pair) != 0) return;
        InitTcpSocket(&c.socket, 0, 0);
        c.socket.fd = pair[0];
        peer = pair[1];
    }
    ~PairedConnection() {
        SocketDestroy(&c.socket.fd);
        if (peer >= 0) close(peer);
    }
};

std::string Pattern(size_t n, size_t from = 0) {
    std::string s;
    for (size_t i = 0; i < n; ++i) s += static_cast<char>('a' + (from + i) % 26);
    return s;
}

TEST_F(NetReceiveEdgeTest, ABlockTakesBytesUpToItsLastAndEnoughEndsTheReceiveThere) {
    SetNetworkTimeoutValue(30000);
    PairedConnection p;
    ASSERT_GE(p.peer, 0);
    const std::string rest = Pattern(1000);
    const std::string sent = "abc\n" + rest + "wxyz\n";
    ASSERT_EQ(write(p.peer, sent.data(), sent.size()), static_cast<ssize_t>(sent.size()));
    std::vector<uint8_t> block(300, 0xEE);
    auto receive = [&](int mode, size_t size, size_t enough, qbNetReceipt* receipt) {
        qbNetSink sink;
        sink.kind = NetSinkKind::kBlock;
        sink.block = block.data();
        sink.blockSize = size;
        sink.enough = enough;
        qbNetClock clock = NetClockStart(NetWaitWhole());
        const int err = NetReceive(L, &p.c, mode, 0, &clock, sink, receipt);
        return err ? err : static_cast<int>(sink.used);
    };
    // A line and its terminator fill the block exactly.
    qbNetReceipt receipt;
    EXPECT_EQ(receive(kReceiveLine, 4, SIZE_MAX, &receipt), 3);
    EXPECT_EQ(std::string(block.begin(), block.begin() + 4), std::string("abc\0", 4));
    // The bytes still waiting go past enough, which is the block's size:
    // the receive ends complete at it, at once.
    EXPECT_EQ(receive(kReceiveAll, 300, 300, &receipt), 300);
    EXPECT_TRUE(receipt.complete);
    EXPECT_EQ(receipt.count, 300u);
    EXPECT_EQ(std::string(block.begin(), block.end()), rest.substr(0, 300));
    EXPECT_EQ(receive(kReceiveAll, 300, 300, &receipt), 300);
    EXPECT_EQ(std::string(block.begin(), block.end()), rest.substr(300, 300));
    EXPECT_EQ(receive(kReceiveAll, 300, 300, &receipt), 300);
    EXPECT_EQ(receive(kReceiveAll, 100, 100, &receipt), 100);
    EXPECT_EQ(std::string(block.begin(), block.begin() + 100), rest.substr(900, 100));
    // One byte more than the block holds is refused.
    EXPECT_EQ(receive(kReceiveLine, 4, SIZE_MAX, &receipt), ERR_MEM);
}

// The most a receive may gather, and a block's room: a line, a count of
// bytes and whatever waits, into a growing string, a callback and a block,
// one byte below the most, exactly at it, and one byte above: the last is
// ERR_MEM, the others whole.
TEST_F(NetReceiveEdgeTest, EveryReceiveTakesUpToItsMostAndNoByteMore) {
    SetNetworkTimeoutValue(30000);
    constexpr size_t kMost = 5000;
    VmSetTop(L, 0);
    VmPushCClosure(L, [](ScriptState* S) { VmPushNumber(S, 0); return 1; }, 0);
    for (const NetSinkKind kind : {NetSinkKind::kGrowBlock, NetSinkKind::kCallback, NetSinkKind::kBlock}) {
        for (const int mode : {kReceiveLine, kReceiveBytes, kReceiveAll}) {
            for (const size_t size : {kMost - 1, kMost, kMost + 1}) {
                SCOPED_TRACE(testing::Message() << "sink " << static_cast<int>(kind) << " mode " << mode << " size "
                                                << size);
                PairedConnection p;
                ASSERT_GE(p.peer, 0);
                const std::string sent = Pattern(size) + (mode == kReceiveLine ? "\n" : "");
                ASSERT_EQ(write(p.peer, sent.data(), sent.size()), static_cast<ssize_t>(sent.size()));
                shutdown(p.peer, SHUT_WR);
                qbGrowBlock grown;
                std::vector<uint8_t> block(kMost + 1);
                qbNetSink sink;
                sink.kind = kind;
                sink.callback = 1;
                sink.grow = &grown;
                sink.block = block.data();
                // A line's block holds its terminator too.
                sink.blockSize = kMost + (mode == kReceiveLine ? 1 : 0);
                if (kind != NetSinkKind::kBlock) sink.most = kMost;
                qbNetReceipt receipt;
                qbNetClock clock = NetClockStart(mode == kReceiveLine ? NetWaitWhole() : NetWaitBulk());
                const int err = NetReceive(L, &p.c, mode, size, &clock, sink, &receipt);
                if (size > kMost) {
                    EXPECT_EQ(err, ERR_MEM);
                    // The most refuses the byte before it is taken; a
                    // block refuses the piece that would overrun it.
                    if (kind != NetSinkKind::kBlock) {
                        EXPECT_LE(receipt.count, kMost);
                    }
                    continue;
                }
                EXPECT_EQ(err, 0);
                EXPECT_TRUE(receipt.complete);
                EXPECT_EQ(receipt.count, size);
                const uint8_t* kept = kind == NetSinkKind::kBlock ? block.data() : grown.data.get();
                if (kind != NetSinkKind::kCallback) {
                    EXPECT_EQ(std::string(reinterpret_cast<const char*>(kept), sink.used), Pattern(size));
                }
            }
        }
    }
}

// What a receive's callback answers: 0, false or any number but 1 go on; 1
// or true stop the receive (ERR_USERABORT); anything else is
// ERR_NUMCALLBACK, and an error the callback raises is the receive's. Each
// call gets its piece, its size, the total so far and the user value.
std::string heard;
int answer = 0;

int Answering(ScriptState* S) {
    for (const char* key : {"data", "size", "total", "userdata"}) {
        VmPushString(S, key);
        VmGetTableAt(S, 1);
        heard += VmToCString(S, -1) ? VmToCString(S, -1) : "nil";
        heard += key[0] == 'u' ? ";" : ",";
        VmSetTop(S, 1);
    }
    switch (answer) {
        case 0: VmPushNumber(S, 0); break;
        case 1: VmPushNumber(S, 1); break;
        case 2: VmPushNumber(S, 2); break;
        case 3: VmPushBoolean(S, 1); break;
        case 4: VmPushBoolean(S, 0); break;
        case 5: VmPushString(S, "1"); break;
        default: VmRaiseError(S, ERR_WRONGUSAGE);
    }
    return 1;
}

TEST_F(NetReceiveEdgeTest, TheCallbacksAnswerSteersTheReceive) {
    SetNetworkTimeoutValue(30000);
    const std::string all = "a,1,1,ud;b,1,2,ud;c,1,3,ud;";
    const std::string first = "a,1,1,ud;";
    const std::pair<int, std::pair<int, std::string>> cases[] = {
        {0, {0, all}}, {2, {0, all}}, {4, {0, all}}, {1, {ERR_USERABORT, first}},
        {3, {ERR_USERABORT, first}}, {5, {ERR_NUMCALLBACK, first}}, {6, {ERR_WRONGUSAGE, first}}};
    for (const auto& [given, expected] : cases) {
        SCOPED_TRACE(given);
        PairedConnection p;
        ASSERT_GE(p.peer, 0);
        ASSERT_EQ(write(p.peer, "abc\n", 4), 4);
        VmSetTop(L, 0);
        VmPushCClosure(L, Answering, 0);
        VmPushString(L, "ud");
        qbNetSink sink;
        sink.kind = NetSinkKind::kCallback;
        sink.callback = 1;
        sink.userdata = 2;
        heard.clear();
        answer = given;
        qbNetReceipt receipt;
        qbNetClock clock = NetClockStart(NetWaitWhole());
        EXPECT_EQ(NetReceive(L, &p.c, kReceiveLine, 0, &clock, sink, &receipt), expected.first);
        EXPECT_EQ(heard, expected.second);
        if (expected.first == 0) {
            EXPECT_TRUE(receipt.complete);
            EXPECT_EQ(receipt.count, 3u);
        }
    }
}

// Descriptor 0 is an ordinary one once standard input is closed (in a child,
// whose standard input is its own): a FIFO written there still waits for its
// reader instead of failing when the pipe is full.
TEST_F(NetReceiveEdgeTest, AFifoOnDescriptorZeroWaitsForItsReader) {
    SetNetworkTimeoutValue(30000);
    const ScratchDir scratch;
    const std::string fifo = scratch / "pipe";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    constexpr size_t kBody = 300000;
    EXPECT_EQ(test_child::InChild([&] {
                  const int reader = open(fifo.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
                  PairedConnection p;
                  if (reader < 0 || p.peer < 0) return 1;
                  close(0);
                  qbReplaceFile target;
                  if (BeginReplaceFile(fifo.c_str(), qbReplaceOptions{}, &target) != 0) return 2;
                  const int fd = ReplaceFileDescriptor(target);
                  if (fd != 0 || fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK) != 0) return 3;
                  // The peer sends the body and closes; the reader takes
                  // nothing until the pipe is full, then everything.
                  std::thread peer([&] {
                      const std::string body = Pattern(kBody);
                      for (size_t sent = 0; sent < body.size();) {
                          const ssize_t n = send(p.peer, body.data() + sent, body.size() - sent, MSG_NOSIGNAL);
                          if (n > 0) sent += static_cast<size_t>(n);
                          if (n < 0 && errno != EAGAIN) break;
                          if (n < 0) {
                              pollfd w{p.peer, POLLOUT, 0};
                              poll(&w, 1, -1);
                          }
                      }
                      shutdown(p.peer, SHUT_WR);
                  });
                  std::string got;
                  std::thread drain([&] {
                      const int full = fcntl(reader, F_GETPIPE_SZ);
                      for (int queued = 0; ioctl(reader, FIONREAD, &queued) == 0 && queued < full;)
                          std::this_thread::yield();
                      char piece[65536];
                      while (got.size() < kBody) {
                          const ssize_t n = read(reader, piece, sizeof piece);
                          if (n > 0) got.append(piece, static_cast<size_t>(n));
                          if (n == 0) break;
                          pollfd r{reader, POLLIN, 0};
                          if (n < 0) poll(&r, 1, 10);
                      }
                  });
                  qbNetSink sink;
                  sink.kind = NetSinkKind::kFile;
                  sink.file = target.file.get();
                  sink.waitlessFd = fd;
                  qbNetReceipt receipt;
                  qbNetClock clock = NetClockStart(NetWaitBulk());
                  const int err = NetReceive(L, &p.c, kReceiveAll, 0, &clock, sink, &receipt);
                  peer.join();
                  if (err) {
                      target.file.reset();  // the reader sees the end
                      drain.join();
                      return 4;
                  }
                  drain.join();
                  return receipt.count == kBody && got == Pattern(kBody) ? 0 : 5;
              }),
              0);
}

// The network's own descriptors on 0: a socket, and the poll set watching
// a connection, work there and give it back.
TEST_F(NetReceiveEdgeTest, SocketsAndThePollSetOnDescriptorZero) {
    EXPECT_EQ(test_child::InChild([&] {
                  close(0);
                  int fd = -1;
                  if (SocketCreate(&fd, AF_INET, SOCK_STREAM, 0) != 0 || fd != 0) return 1;
                  SocketDestroy(&fd);
                  if (fd != -1 || fcntl(0, F_GETFD) != -1) return 2;
                  PairedConnection p;
                  if (p.peer < 0 || p.c.socket.fd != 0) return 3;
                  // The connection moves off 0, which the set then takes.
                  p.c.socket.fd = dup(0);
                  close(0);
                  NetPollReset();
                  NetPollWatch(&p.c);
                  if (!p.c.watched || fcntl(0, F_GETFD) == -1) return 4;
                  NetPollForget(&p.c);
                  NetPollReset();
                  return fcntl(0, F_GETFD) == -1 ? 0 : 5;
              }),
              0);
}

}  // namespace
