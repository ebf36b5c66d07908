// Network objects as the event dispatcher reports them: clients wait at a
// server until an "OnConnect" handler is installed, then arrive one per
// dispatcher call.
#include <sys/socket.h>

#include <cstdio>

#include "display/eventlib_fixture.h"
#include "libs/network.h"

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
    ASSERT_EQ(Check(), 0);
    EXPECT_EQ(out.size(), 1u);
    EXPECT_EQ(Connections(), 3);
    for (int i = 0; i < 3; ++i) ASSERT_EQ(Check(), 0);
    ASSERT_EQ(out.size(), 2u);
    EXPECT_EQ(out[0], "OnConnect 1 userdata");
    EXPECT_EQ(out[1], out[0]);
    EXPECT_EQ(Connections(), 4);
}

}  // namespace
