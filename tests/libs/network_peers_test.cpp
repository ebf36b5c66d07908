// The network commands against hostile Python peers the tests start: a cut
// line, a short read, a trickle, a peer that never reads and a long line;
// each is reported as what it is, and none holds the script.
#include <sys/resource.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "core/context.h"
#include "core/errcodes.h"
#include "core/errors.h"
#include "display/eventlib.h"
#include "libs/net_fixture.h"
#include "libs/python_server.h"

namespace {

using namespace nettest;

// One accepted client, served by the behaviour named in argv[1].
constexpr const char* kPeer = R"(
import socket, sys, time
mode = sys.argv[1]
ls = socket.socket()
if mode == 'noread':
    ls.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 65536)
ls.bind(('127.0.0.1', 0))
ls.listen(4)
print('port', ls.getsockname()[1], flush=True)
c, _ = ls.accept()
if mode == 'cut':
    c.sendall(b'partial-no-newline')
    c.close()
elif mode == 'short':
    c.sendall(b'y' * 100)
    c.close()
elif mode == 'trickle':
    for i in range(600):
        c.send(b'z')
        time.sleep(0.02)
    c.send(b'\n')
    time.sleep(60)
elif mode == 'endless':
    piece = b'q' * (1 << 20)
    try:
        while True:
            c.sendall(piece)
    except OSError:
        pass
elif mode == 'line':
    c.sendall(b'q' * int(sys.argv[2]) + b'\n')
    time.sleep(60)
else:
    time.sleep(120)
)";

class NetworkPeersTest : public NetCallTest {
protected:
    // ReceiveData and the code GetLastError gives right after it.
    int ReceiveWithLastError(int id, int mode, std::initializer_list<double> extra = {}) {
        const int err = Receive(id, mode, extra);
        last = GetLastErrorCode();
        return err;
    }
    int last = -1;
};

TEST_F(NetworkPeersTest, ACutLineAShortCountAndSilenceAreNotWhole) {
    if (access("/usr/bin/python3", X_OK) != 0) GTEST_SKIP() << "no /usr/bin/python3";
    {
        PythonServer peer({"-c", kPeer, "cut"});
        ASSERT_TRUE(Open(1, peer.port())) << peer.firstLine();
        ASSERT_EQ(ReceiveWithLastError(1, kReceiveLine), 0);
        EXPECT_EQ(data, "partial-no-newline");
        EXPECT_EQ(count, 18);
        EXPECT_EQ(flag, 0);
        EXPECT_EQ(last, ERR_RECVCLOSED);
    }
    {
        PythonServer peer({"-c", kPeer, "short"});
        ASSERT_TRUE(Open(2, peer.port())) << peer.firstLine();
        ASSERT_EQ(ReceiveWithLastError(2, kReceiveBytes, {200}), 0);
        EXPECT_EQ(data, std::string(100, 'y'));
        EXPECT_EQ(count, 100);
        EXPECT_EQ(flag, 0);
        EXPECT_EQ(last, ERR_RECVCLOSED);
    }
    {
        // A peer that never answers is no empty line.
        PythonServer peer({"-c", kPeer, "silent"});
        ASSERT_TRUE(Open(3, peer.port())) << peer.firstLine();
        ASSERT_EQ(ReceiveWithLastError(3, kReceiveLine), 0);
        EXPECT_EQ(data, "");
        EXPECT_EQ(flag, 0);
        EXPECT_EQ(last, ERR_RECVTIMEOUT);
    }
}

// Fifty bytes a second, each pause far below the time-out: the floor ends
// the receive with the part that came, where the pauses alone would wait
// for all 600 bytes and the line feed.
TEST_F(NetworkPeersTest, ATricklingLineEndsAtTheLowSpeedFloor) {
    if (access("/usr/bin/python3", X_OK) != 0) GTEST_SKIP() << "no /usr/bin/python3";
    PythonServer peer({"-c", kPeer, "trickle"});
    ASSERT_TRUE(Open(1, peer.port())) << peer.firstLine();
    ASSERT_EQ(ReceiveWithLastError(1, kReceiveLine), 0);
    EXPECT_EQ(flag, 0);
    EXPECT_LT(count, 600);
    EXPECT_EQ(data, std::string(static_cast<size_t>(count), 'z'));
    EXPECT_EQ(last, ERR_RECVTIMEOUT);
}

TEST_F(NetworkPeersTest, ASendThatStopsShortIsAnErrorWithItsCount) {
    if (access("/usr/bin/python3", X_OK) != 0) GTEST_SKIP() << "no /usr/bin/python3";
    PythonServer peer({"-c", kPeer, "noread"});
    ASSERT_TRUE(Open(1, peer.port())) << peer.firstLine();
    const std::string big(64u << 20, 's');
    VmPushNumber(L, 1);
    VmPushLString(L, big.data(), big.size());
    ASSERT_EQ(Call(cmdSendData, 2), ERR_SENDDATA);
    char text[kErrorTextSize];
    GetErrorText(ERR_SENDDATA, text);
    EXPECT_NE(std::strstr(text, " of 67108864 bytes sent: timeout"), nullptr) << text;
    unsigned long sent = 0;
    ASSERT_EQ(std::sscanf(std::strstr(text, "(") + 1, "%lu", &sent), 1) << text;
    EXPECT_GT(sent, 0u);
    EXPECT_LT(sent, big.size());

    // A quit while the send waits ends the script, not as a short send.
    SetEventQuitRequested(true);
    VmSetTop(L, 0);
    VmPushNumber(L, 1);
    VmPushLString(L, big.data(), big.size());
    EXPECT_EQ(Call(cmdSendData, 2), ERR_USERABORT);
    SetEventQuitRequested(false);
}

#if defined(__SANITIZE_ADDRESS__)
#define QB_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define QB_SANITIZED 1
#endif
#endif

// The process's resident and peak resident kilobytes.
long StatusKb(const char* key) {
    FILE* f = std::fopen("/proc/self/status", "r");
    if (!f) return -1;
    char row[256];
    long kb = -1;
    const size_t n = std::strlen(key);
    while (std::fgets(row, sizeof row, f))
        if (std::strncmp(row, key, n) == 0) kb = std::atol(row + n);
    std::fclose(f);
    return kb;
}

// One copy of a long line: the peak grows by the line and little more (a
// copy per growth step or a second copy onto the stack is twice that).
TEST_F(NetworkPeersTest, ALongLineIsHeldOnce) {
#ifdef QB_SANITIZED
    GTEST_SKIP() << "the sanitizers' quarantine holds freed blocks";
#endif
    if (access("/usr/bin/python3", X_OK) != 0) GTEST_SKIP() << "no /usr/bin/python3";
    constexpr size_t kLine = 100u << 20;
    PythonServer peer({"-c", kPeer, "line", std::to_string(kLine)});
    ASSERT_TRUE(Open(1, peer.port())) << peer.firstLine();
    SetNetworkTimeoutValue(30000);
    // Resets the peak to what is resident now.
    if (FILE* f = std::fopen("/proc/self/clear_refs", "w")) {
        std::fputs("5", f);
        std::fclose(f);
    }
    const long start = StatusKb("VmRSS:");
    VmPushNumber(L, 1);
    VmPushNumber(L, kReceiveLine);
    ASSERT_EQ(Call(cmdReceiveData, 2), 0);
    ASSERT_EQ(VmStrLen(L, 1), kLine);
    EXPECT_EQ(Number(3), 1);
    const long peak = StatusKb("VmHWM:");
    ASSERT_GT(start, 0);
    EXPECT_LT(static_cast<double>(peak - start) * 1024, kLine * 1.25) << (peak - start) << " kB";
}

// A line longer than the memory the player may have: the receive ends with
// ERR_MEM, the process goes on.
TEST_F(NetworkPeersTest, ALineThePlayerCannotHoldIsOutOfMemory) {
#ifdef QB_SANITIZED
    GTEST_SKIP() << "the sanitizers reserve more address space than any limit leaves";
#endif
    if (access("/usr/bin/python3", X_OK) != 0) GTEST_SKIP() << "no /usr/bin/python3";
    PythonServer peer({"-c", kPeer, "endless"});
    ASSERT_TRUE(Open(1, peer.port())) << peer.firstLine();
    SetNetworkTimeoutValue(30000);
    rlimit limit{};
    ASSERT_EQ(getrlimit(RLIMIT_AS, &limit), 0);
    const rlimit saved = limit;
    const long size = StatusKb("VmSize:");
    ASSERT_GT(size, 0);
    limit.rlim_cur = static_cast<rlim_t>(size + (256 << 10)) * 1024;
    ASSERT_EQ(setrlimit(RLIMIT_AS, &limit), 0);
    VmPushNumber(L, 1);
    VmPushNumber(L, kReceiveLine);
    const int err = Call(cmdReceiveData, 2);
    setrlimit(RLIMIT_AS, &saved);
    EXPECT_EQ(err, ERR_MEM);
}

}  // namespace
