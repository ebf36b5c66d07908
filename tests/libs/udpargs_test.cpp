// Every argument of the UDP commands on both sides of its bounds: ports,
// addresses, the text sent and the most a receive takes.
#include <chrono>
#include <string>
#include <limits>
#include <thread>

#include "core/errcodes.h"
#include "net_fixture.h"

namespace {

constexpr double kNan = std::numeric_limits<double>::quiet_NaN();
constexpr double kInfinity = std::numeric_limits<double>::infinity();

// Polls 5 ms apart: a minute before a test calls it a hang.
constexpr int kPollTries = 12000;

class UdpArgs : public nettest::NetCallTest {
protected:
    int Create(double id, double port, const char* ip) {
        VmSetTop(L, 0);
        VmPushNumber(L, id);
        VmPushNumber(L, port);
        VmPushString(L, ip);
        const int err = Call(cmdCreateUDPObject, 3);
        VmSetTop(L, 0);
        return err;
    }
    int LocalPort(double id) {
        VmSetTop(L, 0);
        if (Call(cmdGetLocalPort, {id, kNetworkUdp}) != 0) return -1;
        const int port = static_cast<int>(Number(1));
        VmSetTop(L, 0);
        return port;
    }
    // SendUDPData's code; *sent the count it answered.
    int Send(double id, const std::string& text, const char* ip, double port, double* sent = nullptr) {
        VmSetTop(L, 0);
        VmPushNumber(L, id);
        VmPushLString(L, text.data(), text.size());
        VmPushString(L, ip);
        VmPushNumber(L, port);
        const int err = Call(cmdSendUDPData, 4);
        if (!err && sent) *sent = Number(1);
        VmSetTop(L, 0);
        return err;
    }
    // ReceiveUDPData(id, maximum)'s code; the datagram in got once one came.
    int Receive(double id, double maximum, std::string* got) {
        for (int i = 0; i < kPollTries; ++i) {
            VmSetTop(L, 0);
            if (const int err = Call(cmdReceiveUDPData, {id, maximum})) return err;
            *got = Text(1);
            const bool came = Number(3) != 0;
            VmSetTop(L, 0);
            if (came) return 0;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return -1;
    }
};

TEST_F(UdpArgs, PortsOfANewObject) {
    for (const double bad : {-1.0, -0.5, 65535.5, 65536.0, kNan})
        EXPECT_EQ(Create(1, bad, "127.0.0.1"), ERR_WRONGUSAGE) << bad;
    EXPECT_EQ(LocalPort(1), -1);
    ASSERT_EQ(Create(1, 0, "127.0.0.1"), 0);
    const int port = LocalPort(1);
    ASSERT_GT(port, 0);
    // The highest port is a port: only its being taken may refuse it.
    const int highest = Create(2, 65535, "127.0.0.1");
    EXPECT_TRUE(highest == 0 || highest == ERR_SOCKET) << highest;
    if (highest == 0) {
        EXPECT_EQ(LocalPort(2), 65535);
    }
    // A port taken, and an address no interface has, are the socket's
    // errors; no object is made.
    EXPECT_EQ(Create(3, port, "127.0.0.1"), ERR_SOCKET);
    EXPECT_EQ(Create(4, 0, "192.0.2.1"), ERR_SOCKET);
    EXPECT_EQ(LocalPort(3), -1);
    EXPECT_EQ(LocalPort(4), -1);
}

TEST_F(UdpArgs, SendAndReceiveBounds) {
    ASSERT_EQ(Create(1, 0, "127.0.0.1"), 0);
    const int port = LocalPort(1);
    ASSERT_GT(port, 0);
    for (const double bad : {0.0, 0.5, -1.0, 65535.5, 65536.0, kNan})
        EXPECT_EQ(Send(1, "x", "127.0.0.1", bad), ERR_WRONGUSAGE) << bad;
    EXPECT_EQ(Send(1, "", "127.0.0.1", port), ERR_WRONGUSAGE);
    EXPECT_EQ(Send(1, "x", "localhost", port), ERR_BADIP);
    EXPECT_EQ(Send(1, "x", "127.0.0.256", port), ERR_BADIP);
    EXPECT_EQ(Send(9, "x", "127.0.0.1", port), ERR_FINDUDPOBJECT);
    // The lowest and the highest port take a datagram though none listens.
    double sent = 0;
    ASSERT_EQ(Send(1, "ab", "127.0.0.1", 1, &sent), 0);
    EXPECT_EQ(sent, 2);
    ASSERT_EQ(Send(1, "abc", "127.0.0.1", 65535, &sent), 0);
    EXPECT_EQ(sent, 3);

    std::string got;
    // One byte is the least a receive takes; the rest of the datagram goes.
    for (const double bad : {0.0, 0.999, -1.0, kNan}) EXPECT_EQ(Receive(1, bad, &got), ERR_WRONGUSAGE) << bad;
    ASSERT_EQ(Send(1, "q", "127.0.0.1", port, &sent), 0);
    EXPECT_EQ(sent, 1);
    ASSERT_EQ(Receive(1, 1, &got), 0);
    EXPECT_EQ(got, "q");
    ASSERT_EQ(Send(1, "xyz", "127.0.0.1", port), 0);
    ASSERT_EQ(Receive(1, 1.9, &got), 0);
    EXPECT_EQ(got, "x");
    ASSERT_EQ(Send(1, "xyz", "127.0.0.1", port), 0);
    ASSERT_EQ(Receive(1, 2, &got), 0);
    EXPECT_EQ(got, "xy");
    // 8192 bytes is the most, whatever the maximum asks.
    std::string big(8193, 'b');
    for (size_t i = 0; i < big.size(); i += 7) big[i] = static_cast<char>('a' + i % 26);
    for (const double maximum : {8191.0, 8192.0, 8193.0, 1e300, kInfinity}) {
        ASSERT_EQ(Send(1, big, "127.0.0.1", port, &sent), 0) << maximum;
        EXPECT_EQ(sent, big.size());
        ASSERT_EQ(Receive(1, maximum, &got), 0) << maximum;
        EXPECT_TRUE(got == big.substr(0, maximum < 8192 ? 8191 : 8192)) << maximum << " " << got.size();
    }
}

}  // namespace
