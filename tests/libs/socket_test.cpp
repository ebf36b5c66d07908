// The socket layer on its own: time-out arithmetic, the texts of its codes,
// and would-block and closed outcomes on a socket pair.
#include <gtest/gtest.h>

#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "core/ostime.h"
#include "libs/socket.h"

namespace {

qbSocketTimeout NoWait() {
    qbSocketTimeout tm;
    TimeoutInit(&tm, 0, 0);
    return tm;
}

TEST(SocketLayer, TimeoutRetryTakesTheTighterLimit) {
    qbSocketTimeout tm;
    TimeoutInit(&tm, -1, -1);
    TimeoutMarkStart(&tm);
    EXPECT_EQ(TimeoutGetRetry(&tm), -1);
    TimeoutInit(&tm, 2, -1);
    EXPECT_NEAR(TimeoutGetRetry(&tm), 2, 0.1);
    TimeoutInit(&tm, -1, 3);
    EXPECT_NEAR(TimeoutGetRetry(&tm), 3, 0.1);
    TimeoutInit(&tm, 5, 1);
    EXPECT_NEAR(TimeoutGetRetry(&tm), 1, 0.1);
    tm.start -= 10;  // long past: nothing left, never negative
    EXPECT_EQ(TimeoutGetRetry(&tm), 0);

    EXPECT_FALSE(TimeoutExpired(TimeValue{100000, 0}, 0));
    EXPECT_FALSE(TimeoutExpired(TimeValue{1, 0}, 1000));
    EXPECT_TRUE(TimeoutExpired(TimeValue{1, 1000}, 1000));
}

TEST(SocketLayer, CodesReadAsTheirTexts) {
    EXPECT_STREQ(SocketErrorText(0), "");
    EXPECT_STREQ(SocketErrorText(kSockTimeout), "timeout");
    EXPECT_STREQ(SocketErrorText(kSockClosed), "closed");
    EXPECT_STREQ(SocketErrorText(kSockUnknown), "unknown error");
    EXPECT_STREQ(SocketErrorText(-77), "unknown error");
    EXPECT_STREQ(SocketErrorText(ECONNREFUSED), std::strerror(ECONNREFUSED));
    EXPECT_STREQ(ResolverErrorText(kSockClosed), "closed");
    EXPECT_STREQ(ResolverErrorText(HOST_NOT_FOUND), hstrerror(HOST_NOT_FOUND));
}

TEST(SocketLayer, NoWaitAllowedMeansTimeoutAtOnceAndAClosedPeerIsClosed) {
    int pair[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0, pair), 0);
    qbSocketTimeout none = NoWait();
    char buf[4];
    size_t got = 99;
    const int64_t start = GetMonotonicMicros();
    EXPECT_EQ(SocketRecv(pair[0], buf, sizeof buf, &got, &none), kSockTimeout);
    EXPECT_EQ(got, 0u);
    EXPECT_EQ(SocketPeek(pair[0], &none, false), kSockTimeout);
    EXPECT_EQ(SocketWaitFd(pair[0], 1, &none), kSockTimeout);
    EXPECT_LT(GetMonotonicMicros() - start, 5000);

    // A short wait ends by its time-out.
    qbSocketTimeout brief;
    TimeoutInit(&brief, 0.05, -1);
    TimeoutMarkStart(&brief);
    EXPECT_EQ(SocketRecv(pair[0], buf, sizeof buf, &got, &brief), kSockTimeout);

    size_t sent = 0;
    ASSERT_EQ(SocketSend(pair[1], "ab", 2, &sent, &none), 0);
    EXPECT_EQ(sent, 2u);
    EXPECT_EQ(SocketPeek(pair[0], &none, false), 0);
    close(pair[1]);
    EXPECT_EQ(SocketRecv(pair[0], buf, sizeof buf, &got, &none), 0);
    EXPECT_EQ(got, 2u);
    EXPECT_EQ(SocketRecv(pair[0], buf, sizeof buf, &got, &none), kSockClosed);
    EXPECT_EQ(SocketPeek(pair[0], &none, false), kSockClosed);
    // Writing to the closed pair is a result, not a signal.
    EXPECT_EQ(SocketSend(pair[0], "x", 1, &sent, &none), kSockClosed);
    SocketDestroy(&pair[0]);
    EXPECT_EQ(pair[0], -1);
    EXPECT_EQ(SocketRecv(pair[0], buf, sizeof buf, &got, &none), kSockClosed);
}

// On a datagram socket an empty datagram is one to take, nothing waiting is
// a time-out, never the end of a stream; each is taken whole.
TEST(SocketLayer, DatagramsEmptyOrNotAreDataAndNoneIsATimeout) {
    qbSocketTimeout none = NoWait();
    int pair[2] = {-1, -1};
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_DGRAM | SOCK_NONBLOCK, 0, pair), 0);
    char buf[8];
    size_t got = 99;
    sockaddr_storage from{};
    socklen_t fromLength = sizeof from;
    const auto recvFrom = [&] {
        fromLength = sizeof from;
        return SocketRecvFrom(pair[0], buf, sizeof buf, &got, reinterpret_cast<sockaddr*>(&from), &fromLength,
                              &none);
    };
    EXPECT_EQ(SocketPeek(pair[0], &none, true), kSockTimeout);
    EXPECT_EQ(recvFrom(), kSockTimeout);
    ASSERT_EQ(send(pair[1], "", 0, 0), 0);
    ASSERT_EQ(send(pair[1], "abc", 3, 0), 3);
    EXPECT_EQ(SocketPeek(pair[0], &none, true), 0);
    EXPECT_EQ(SocketPeek(pair[0], &none, true), 0);
    EXPECT_EQ(recvFrom(), 0);
    EXPECT_EQ(got, 0u);
    EXPECT_EQ(SocketPeek(pair[0], &none, true), 0);
    EXPECT_EQ(recvFrom(), 0);
    EXPECT_EQ(got, 3u);
    EXPECT_EQ(std::string(buf, 3), "abc");
    EXPECT_EQ(SocketPeek(pair[0], &none, true), kSockTimeout);
    EXPECT_EQ(recvFrom(), kSockTimeout);
    SocketDestroy(&pair[0]);
    SocketDestroy(&pair[1]);
    EXPECT_EQ(SocketPeek(pair[0], &none, true), kSockClosed);
}

}  // namespace
