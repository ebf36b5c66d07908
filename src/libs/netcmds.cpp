// The network library's commands on connections and servers: opening,
// closing, sending, receiving and the addresses of either end.
#include <arpa/inet.h>
#include <sys/socket.h>

#include <memory>
#include <new>
#include <string>

#include "core/argapi.h"
#include "core/context.h"
#include "core/errcodes.h"
#include "core/errors.h"
#include "core/numbers.h"
#include "core/truth.h"
#include "libs/netcommands.h"
#include "vm/stringblock.h"

namespace {

// What one receive of whatever waits may take beyond what had come when it
// began.
constexpr size_t kReceiveAllBeyond = size_t{4} << 20;

// Ports as scripts give them: a number within [low, 65535], else -1.
int PortArg(ScriptState* L, int idx, int low, double def) {
    const double port = VmOptNumber(L, idx, def);
    if (!(port >= low && port <= 65535)) return -1;
    return static_cast<int>(port);
}

template <typename Node>
int Find(ScriptState* L, int idx, qbObject** head, int missing, Node** out) {
    const ObjectID id = GetObjectIDArg(L, idx);
    if (qbObject* o = FindListed(head, id)) {
        *out = static_cast<Node*>(o);
        return 0;
    }
    if (id.handle) return ERR_FINDARRAY;
    SetErrorArgIndex(id.number);
    return missing;
}

int FindConnection(ScriptState* L, int idx, qbConnection** out) {
    return Find(L, idx, ConnectionListHead(), ERR_FINDCLIENT, out);
}

// The descriptor of the object of a GetLocalIP/GetLocalPort kind.
int FindKindSocket(ScriptState* L, int* fd) {
    const int kind = ClampToInt32(VmOptNumber(L, 2, kNetworkConnection));
    if (kind == kNetworkUdp) {
        qbUDPObject* u = nullptr;
        if (int err = Find(L, 1, UDPListHead(), ERR_FINDUDPOBJECT, &u)) return err;
        *fd = u->socket.fd;
    } else if (kind == kNetworkConnection) {
        qbConnection* c = nullptr;
        if (int err = FindConnection(L, 1, &c)) return err;
        *fd = c->socket.fd;
    } else {
        qbServer* s = nullptr;
        if (int err = Find(L, 1, ServerListHead(), ERR_FINDSERVER, &s)) return err;
        *fd = s->socket.fd;
    }
    return 0;
}

int PeerAddress(ScriptState* L, sockaddr_in* address) {
    qbConnection* c = nullptr;
    if (int err = FindConnection(L, 1, &c)) return err;
    socklen_t length = sizeof *address;
    if (getpeername(c->socket.fd, reinterpret_cast<sockaddr*>(address), &length) != 0) return ERR_PEERNAME;
    return 0;
}

int LocalAddress(ScriptState* L, sockaddr_in* address) {
    int fd = -1;
    if (int err = FindKindSocket(L, &fd)) return err;
    socklen_t length = sizeof *address;
    if (getsockname(fd, reinterpret_cast<sockaddr*>(address), &length) != 0) return ERR_SOCKNAME;
    return 0;
}

int PushDotted(ScriptState* L, const in_addr& address) {
    char text[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &address, text, sizeof text);
    VmPushString(L, text);
    return 1;
}

// Marks the connection's data as taken when the command returns, unless a
// callback freed the connection meanwhile.
class DataTakenOnReturn {
public:
    explicit DataTakenOnReturn(qbConnection* c) : c_(c), guard_(c) {}
    ~DataTakenOnReturn() {
        if (guard_.Alive()) NetDataTaken(c_);
    }
    DataTakenOnReturn(const DataTakenOnReturn&) = delete;
    DataTakenOnReturn& operator=(const DataTakenOnReturn&) = delete;

private:
    qbConnection* c_;
    NetBusyGuard guard_;
};

// The receive callback and its userdata from the argument at idx on.
void ReadCallback(ScriptState* L, int idx, qbNetSink* sink) {
    if (VmGetTop(L) < idx || VmType(L, idx) == kTypeNil) return;
    VmCheckFunction(L, idx);
    sink->kind = NetSinkKind::kCallback;
    sink->callback = idx;
    if (VmGetTop(L) > idx) sink->userdata = idx + 1;
}

}  // namespace

int cmdOpenConnection(ScriptState* L) {
    CheckArgCount(L, 3, 3, 0, 0);
    const NewObjectID id = GetNewObjectIDArg(L, 1);
    const char* host = VmCheckString(L, 2, nullptr);
    VmCheckNumber(L, 3);
    const int port = PortArg(L, 3, 1, 0);
    if (port < 0) return ERR_WRONGUSAGE;
    if (int err = EnsureSocketLayer()) return err;
    if (!id.chooseFlag) FreeNumberedObject(L, kConnectionType, id.id);
    std::unique_ptr<qbConnection> c(new (std::nothrow) qbConnection);
    if (!c) return ERR_MEM;
    c->type = kConnectionType;
    if (int err = ConnectTcp(L, host, port, &c->socket)) return err;
    return ListNewObject(L, c.release(), id);
}

int cmdCloseConnection(ScriptState* L) {
    CheckArgCount(L, 1, 1, 0, 0);
    qbConnection* c = nullptr;
    if (int err = FindConnection(L, 1, &c)) return err;
    FreeConnection(L, c);
    return 0;
}

int cmdCreateServer(ScriptState* L) {
    CheckArgCount(L, 1, 4, 0, 0);
    const NewObjectID id = GetNewObjectIDArg(L, 1);
    const int port = PortArg(L, 2, 0, 0);
    const char* ip = VmOptString(L, 3, "*", nullptr);
    const int backlog = ClampToInt32(VmOptNumber(L, 4, 32));
    if (port < 0) return ERR_WRONGUSAGE;
    if (int err = EnsureSocketLayer()) return err;
    if (!id.chooseFlag) FreeNumberedObject(L, kServerType, id.id);
    std::unique_ptr<qbServer> s(new (std::nothrow) qbServer);
    if (!s) return ERR_MEM;
    s->type = kServerType;
    InitTcpSocket(&s->socket, -1, -1);
    if (int err = SocketCreate(&s->socket.fd, AF_INET, SOCK_STREAM, 0)) {
        SetErrorDetail(SocketErrorText(err));
        return ERR_SOCKET;
    }
    const int on = 1;
    if (setsockopt(s->socket.fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0) {
        SocketDestroy(&s->socket.fd);
        return ERR_SOCKOPT;
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    int pumpError = 0;
    int err = std::string(ip) == "*" ? 0 : ResolveIPv4(L, ip, &address.sin_addr, &pumpError);
    if (pumpError) {
        SocketDestroy(&s->socket.fd);
        return pumpError;
    }
    if (err) {
        SetErrorDetail(ResolverErrorText(err));
    } else if ((err = SocketBind(s->socket.fd, reinterpret_cast<sockaddr*>(&address), sizeof address)) ||
               (err = SocketListen(s->socket.fd, backlog))) {
        SetErrorDetail(SocketErrorText(err));
    }
    if (err) {
        SocketDestroy(&s->socket.fd);
        return ERR_SOCKET;
    }
    TimeoutInit(&s->socket.timeout, 0, 0);
    return ListNewObject(L, s.release(), id);
}

int cmdCloseServer(ScriptState* L) {
    CheckArgCount(L, 1, 1, 0, 0);
    qbServer* s = nullptr;
    if (int err = Find(L, 1, ServerListHead(), ERR_FINDSERVER, &s)) return err;
    FreeServer(L, s);
    return 0;
}

int cmdSendData(ScriptState* L) {
    CheckArgCount(L, 2, 2, 0, 0);
    qbConnection* c = nullptr;
    if (int err = FindConnection(L, 1, &c)) return err;
    size_t length = 0;
    const char* data = VmCheckString(L, 2, &length);
    size_t sent = 0;
    int result = 0;
    if (int err = NetSend(L, c, data, length, &sent, &result)) return err;
    // The rest of a stream cannot be sent later without a gap in it: a
    // shortfall is an error, never a count the script may overlook.
    if (sent < length) return NetSendShortfall(sent, length, result);
    VmPushNumber(L, static_cast<double>(sent));
    return 1;
}

int cmdReceiveData(ScriptState* L) {
    CheckArgCount(L, 2, 5, 0, 0);
    qbConnection* c = nullptr;
    if (int err = FindConnection(L, 1, &c)) return err;
    // Whatever the receive comes to, the connection's next data is news
    // again: one failed receive must not silence it for good.
    const DataTakenOnReturn taken(c);
    const double modeArg = VmCheckNumber(L, 2);
    if (modeArg != kReceiveAll && modeArg != kReceiveBytes && modeArg != kReceiveLine) return ERR_WRONGUSAGE;
    const int mode = static_cast<int>(modeArg);
    // The data goes straight into the block that becomes the script's
    // string: one copy of a line however long.
    qbGrowBlock text;
    qbNetSink sink;
    sink.grow = &text;
    sink.used = kVmStringBlockHeader;
    // A line is of use only whole, so it is bounded as a whole: one peer
    // that trickles a line without end cannot hold the script (what came
    // stays, with done 0 and the receive time-out). Bytes and whatever
    // waits are bulk, bounded by the floor, except on a server's
    // connection inside a handler.
    qbNetWaitRule rule = mode == kReceiveLine ? NetWaitWhole() : NetTransferRule(*c);
    // What the VM cannot hold is never gathered; one receive of whatever
    // waits takes what had come when it began and a bounded amount more.
    sink.most = kNetLongestString;
    size_t want = 0;
    if (mode == kReceiveAll) {
        if (VmGetTop(L) >= 3 && VmType(L, 3) != kTypeNil)
            rule.wait = ScriptTruth(L, 3);
        sink.enough = NetBytesWaiting(c) + kReceiveAllBeyond;
        ReadCallback(L, 4, &sink);
    } else if (mode == kReceiveBytes) {
        const double count = VmCheckNumber(L, 3);
        if (!(count >= 1)) return ERR_WRONGUSAGE;
        want = count >= 4294967295.0 ? 4294967295u : static_cast<size_t>(count);
        ReadCallback(L, 4, &sink);
    } else {
        ReadCallback(L, 3, &sink);
    }
    qbNetReceipt receipt;
    qbNetClock clock = NetClockStart(rule);
    if (int err = NetReceive(L, c, mode, want, &clock, sink, &receipt)) return err;
    const size_t length = sink.kind == NetSinkKind::kGrowBlock ? sink.used - kVmStringBlockHeader : 0;
    if (length > kNetLongestString || (length > 0 && !GrowBlockReserve(&text, sink.used + 1))) return ERR_MEM;
    if (length > 0)
        VmPushStringBlock(L, text.data.release(), length);
    else
        VmPushLString(L, "", 0);
    VmPushNumber(L, static_cast<double>(receipt.count));
    VmPushNumber(L, receipt.complete ? 1 : 0);
    // A cut line or a short count keeps what came; GetLastError says why
    // the rest did not. A receive of whatever waits has no such rest.
    if (!receipt.complete && mode != kReceiveAll) SetLastErrorCode(NetReceiveError(receipt));
    return 3;
}

int cmdGetConnectionIP(ScriptState* L) {
    CheckArgCount(L, 1, 1, 0, 0);
    sockaddr_in address{};
    if (int err = PeerAddress(L, &address)) return err;
    return PushDotted(L, address.sin_addr);
}

int cmdGetConnectionPort(ScriptState* L) {
    CheckArgCount(L, 1, 1, 0, 0);
    sockaddr_in address{};
    if (int err = PeerAddress(L, &address)) return err;
    VmPushNumber(L, ntohs(address.sin_port));
    return 1;
}

int cmdGetLocalIP(ScriptState* L) {
    CheckArgCount(L, 1, 2, 0, 0);
    sockaddr_in address{};
    if (int err = LocalAddress(L, &address)) return err;
    return PushDotted(L, address.sin_addr);
}

int cmdGetLocalPort(ScriptState* L) {
    CheckArgCount(L, 1, 2, 0, 0);
    sockaddr_in address{};
    if (int err = LocalAddress(L, &address)) return err;
    VmPushNumber(L, ntohs(address.sin_port));
    return 1;
}

int cmdSetNetworkTimeout(ScriptState* L) {
    CheckArgCount(L, 1, 1, 0, 0);
    const double ms = VmCheckNumber(L, 1);
    if (!(ms >= 0)) return ERR_WRONGUSAGE;
    SetNetworkTimeoutValue(ClampToInt32(ms));
    return 0;
}
