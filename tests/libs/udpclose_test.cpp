// Closing a UDP object gives its port back to the system.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "core/errcodes.h"
#include "net_fixture.h"

namespace {

// Whether a fresh UDP socket may bind 127.0.0.1:port (no address sharing).
bool PortFree(int port) {
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<uint16_t>(port));
    const bool bound = bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    close(fd);
    return bound;
}

using UdpCloseTest = nettest::NetCallTest;

TEST_F(UdpCloseTest, ClosingAnObjectFreesItsPortAndItsId) {
    VmPushNumber(L, 1);
    VmPushNumber(L, 0);
    VmPushString(L, "127.0.0.1");
    ASSERT_EQ(Call(cmdCreateUDPObject, 3), 0);
    VmSetTop(L, 0);
    ASSERT_EQ(Call(cmdGetLocalPort, {1, kNetworkUdp}), 0);
    const int port = static_cast<int>(Number(1));
    VmSetTop(L, 0);
    ASSERT_GT(port, 0);
    ASSERT_FALSE(PortFree(port)) << "the object holds its port";

    ASSERT_EQ(Call(cmdCloseUDPObject, {1}), 0);
    VmSetTop(L, 0);
    EXPECT_TRUE(PortFree(port));
    EXPECT_EQ(Call(cmdCloseUDPObject, {1}), ERR_FINDUDPOBJECT);
    VmSetTop(L, 0);
    EXPECT_EQ(Call(cmdGetLocalPort, {1, kNetworkUdp}), ERR_FINDUDPOBJECT);
}

}  // namespace
