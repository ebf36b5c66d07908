// The network library's UDP objects, name lookups, the host name and the
// reachability test.
#include <arpa/inet.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "core/argapi.h"
#include "core/errcodes.h"
#include "core/errors.h"
#include "core/numbers.h"
#include "core/truth.h"
#include "libs/netcommands.h"

namespace {

// The host IsOnline tries unless the environment names another as
// "host:port" (tests point it at a server of their own on loopback).
constexpr const char* kOnlineProbeVariable = "QB_ONLINE_PROBE";
constexpr const char* kOnlineProbeHost = "www.wikipedia.org";
constexpr int kOnlineProbePort = 80;

int FindUdp(ScriptState* L, qbUDPObject** out) {
    const ObjectID id = GetObjectIDArg(L, 1);
    if (qbObject* o = FindListed(UDPListHead(), id)) {
        *out = static_cast<qbUDPObject*>(o);
        return 0;
    }
    if (id.handle) return ERR_FINDARRAY;
    SetErrorArgIndex(id.number);
    return ERR_FINDUDPOBJECT;
}

// Stores a list of texts at the key from index 1 into the table on top.
void SetTextList(ScriptState* L, const char* key, const std::vector<std::string>& items) {
    VmPushString(L, key);
    VmPushNewTable(L);
    for (size_t i = 0; i < items.size(); ++i) {
        VmPushString(L, items[i].c_str());
        VmRawSetIndex(L, -2, static_cast<int>(i + 1));
    }
    VmRawSet(L, -3);
}

std::string Dotted(const in_addr& address) {
    char text[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &address, text, sizeof text);
    return text;
}

// ToIP and ToHostName: a lookup by address for dotted text when asked, else
// by name; pushes the chosen text and the host table. One lookup, aliases
// and all, within the network time-out.
int LookUpHost(ScriptState* L, bool wantName) {
    CheckArgCount(L, 1, 1, 0, 0);
    const char* name = VmCheckString(L, 1, nullptr);
    if (int err = EnsureSocketLayer()) return err;
    in_addr dotted{};
    const bool byAddress = wantName && inet_pton(AF_INET, name, &dotted) == 1;
    qbHostTable table;
    int pumpError = 0;
    const int err = LookUpHostTable(L, name, byAddress ? &dotted : nullptr, &table, &pumpError);
    if (pumpError) return pumpError;
    if (err) {
        SetErrorDetail(ResolverErrorText(err));
        return ERR_SOCKET;
    }
    std::vector<std::string> addresses;
    for (const in_addr& a : table.addresses) addresses.push_back(Dotted(a));
    VmPushString(L, wantName ? table.name.c_str() : addresses.front().c_str());
    VmPushNewTable(L);
    SetTableFieldString(L, "name", table.name.c_str());
    SetTextList(L, "ip", addresses);
    SetTextList(L, "alias", table.aliases);
    return 2;
}

}  // namespace

int cmdCreateUDPObject(ScriptState* L) {
    CheckArgCount(L, 1, 3, 0, 0);
    const NewObjectID id = GetNewObjectIDArg(L, 1);
    const double port = VmOptNumber(L, 2, 0);
    const char* ip = VmOptString(L, 3, "*", nullptr);
    if (!(port >= 0 && port <= 65535)) return ERR_WRONGUSAGE;
    if (int err = EnsureSocketLayer()) return err;
    if (!id.chooseFlag) FreeNumberedObject(L, kUDPObjectType, id.id);
    std::unique_ptr<qbUDPObject> u(new (std::nothrow) qbUDPObject);
    if (!u) return ERR_MEM;
    u->type = kUDPObjectType;
    if (int err = SocketCreate(&u->socket.fd, AF_INET, SOCK_DGRAM, 0)) {
        SetErrorDetail(SocketErrorText(err));
        return ERR_SOCKET;
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    int pumpError = 0;
    int err = std::string(ip) == "*" ? 0 : ResolveIPv4(L, ip, &address.sin_addr, &pumpError);
    if (pumpError) {
        SocketDestroy(&u->socket.fd);
        return pumpError;
    }
    if (err) SetErrorDetail(ResolverErrorText(err));
    else if ((err = SocketBind(u->socket.fd, reinterpret_cast<sockaddr*>(&address), sizeof address)))
        SetErrorDetail(SocketErrorText(err));
    if (err) {
        SocketDestroy(&u->socket.fd);
        return ERR_SOCKET;
    }
    TimeoutInit(&u->socket.timeout, 0, 0);
    return ListNewObject(L, u.release(), id);
}

int cmdCloseUDPObject(ScriptState* L) {
    CheckArgCount(L, 1, 1, 0, 0);
    qbUDPObject* u = nullptr;
    if (int err = FindUdp(L, &u)) return err;
    FreeUDPObject(L, u);
    return 0;
}

int cmdSendUDPData(ScriptState* L) {
    CheckArgCount(L, 4, 4, 0, 0);
    qbUDPObject* u = nullptr;
    if (int err = FindUdp(L, &u)) return err;
    size_t length = 0;
    const char* data = VmCheckString(L, 2, &length);
    const char* ip = VmCheckString(L, 3, nullptr);
    const double port = VmCheckNumber(L, 4);
    if (!(port >= 1 && port <= 65535) || length == 0) return ERR_WRONGUSAGE;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    if (inet_pton(AF_INET, ip, &address.sin_addr) != 1) return ERR_BADIP;
    size_t sent = 0;
    const int err = SocketSendTo(u->socket.fd, data, length, &sent, reinterpret_cast<sockaddr*>(&address),
                                 sizeof address, &u->socket.timeout);
    if (err) {
        SetErrorDetail(err == kSockClosed ? "connection refused" : SocketErrorText(err));
        return ERR_SOCKET;
    }
    VmPushNumber(L, static_cast<double>(sent));
    return 1;
}

int cmdReceiveUDPData(ScriptState* L) {
    CheckArgCount(L, 1, 2, 0, 0);
    qbUDPObject* u = nullptr;
    if (int err = FindUdp(L, &u)) return err;
    const double maximum = VmOptNumber(L, 2, static_cast<double>(kSocketBufferSize));
    // The datagram buffer holds 8192 bytes; a maximum below one byte asks
    // for nothing that could be received.
    if (!(maximum >= 1)) return ERR_WRONGUSAGE;
    const size_t limit = std::min(static_cast<size_t>(std::min(maximum, 8192.0)), kSocketBufferSize);
    TimeoutMarkStart(&u->socket.timeout);
    sockaddr_in from{};
    socklen_t fromLength = sizeof from;
    size_t got = 0;
    const int err = SocketRecvFrom(u->socket.fd, u->socket.data, limit, &got, reinterpret_cast<sockaddr*>(&from),
                                   &fromLength, &u->socket.timeout);
    u->dataReported = 0;
    if (err == kSockTimeout) {
        VmPushString(L, "");
        VmPushString(L, "");
        VmPushNumber(L, 0);
        return 3;
    }
    if (err) {
        SetErrorDetail(SocketErrorText(err));
        return ERR_SOCKET;
    }
    VmPushLString(L, reinterpret_cast<const char*>(u->socket.data), got);
    char text[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &from.sin_addr, text, sizeof text);
    VmPushString(L, text);
    VmPushNumber(L, ntohs(from.sin_port));
    return 3;
}

int cmdGetHostName(ScriptState* L) {
    CheckArgCount(L, 0, 0, 0, 0);
    if (int err = EnsureSocketLayer()) return err;
    char name[257] = {};
    if (gethostname(name, 256) != 0) return ERR_HOSTNAME;
    VmPushString(L, name);
    return 1;
}

int cmdToIP(ScriptState* L) { return LookUpHost(L, false); }

int cmdToHostName(ScriptState* L) { return LookUpHost(L, true); }

int cmdIsOnline(ScriptState* L) {
    CheckArgCount(L, 0, 0, 0, 0);
    std::string host = kOnlineProbeHost;
    int port = kOnlineProbePort;
    if (const char* probe = std::getenv(kOnlineProbeVariable); probe && *probe) {
        host = probe;
        if (const size_t colon = host.rfind(':'); colon != std::string::npos) {
            port = std::atoi(host.c_str() + colon + 1);
            host.resize(colon);
        }
    }
    bool online = false;
    if (EnsureSocketLayer() == 0 && port >= 1 && port <= 65535) {
        if (std::unique_ptr<qbTcpSocket> socket(new (std::nothrow) qbTcpSocket); socket) {
            online = ConnectTcp(L, host.c_str(), port, socket.get()) == 0;
            SocketDestroy(&socket->fd);
        }
    }
    return PushTruth(L, online);
}
