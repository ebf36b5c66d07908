// The network library's three object lists, their freeing, the polls that
// the event dispatcher turns into events, and the library's opening.
#include "libs/network.h"

#include <sys/socket.h>

#include <cerrno>
#include <memory>
#include <new>
#include <unordered_map>
#include <vector>

#include "core/errcodes.h"
#include "core/objectlist.h"
#include "core/settings.h"
#include "display/eventsources.h"
#include "libs/netcommands.h"
#include "libs/netpoll.h"
#include "libs/transfer.h"

namespace {

// Each list is indexed and linked both ways, so that appending, finding
// and unlinking one of thousands of connections costs O(1): a script's
// every send and receive looks its connection up.
qbObjectList connectionList;
qbObjectList serverList;
qbObjectList udpList;
// The lists' heads, as the dispatcher and the library's callers name them.
qbObject*& connections = connectionList.head;
qbObject*& servers = serverList.head;
qbObject*& udpObjects = udpList.head;

int32_t networkTimeout = kDefaultNetworkTimeout;
bool socketLayerReady = false;
// What handlers waited on peers while the script serves, shared by every
// connection and lookup.
qbNetWaitBudget handlerWaits;
qbLookupThreads lookupThreads;

qbObjectList* ListOf(const qbObject* const* head) {
    return head == &connections ? &connectionList : head == &servers ? &serverList : &udpList;
}

// False when memory ran out; the node is then not listed.
bool Append(qbObject** head, qbObject* node) { return AppendObject(ListOf(head), node) == 0; }

void Unlink(qbObject** head, qbObject* node) { UnlinkObject(ListOf(head), node); }

// A node that could not be listed, with its socket.
void DestroyUnlisted(qbObject* node) {
    if (node->type == kConnectionType) {
        std::unique_ptr<qbConnection> c(static_cast<qbConnection*>(node));
        SocketDestroy(&c->socket.fd);
    } else if (node->type == kServerType) {
        std::unique_ptr<qbServer> s(static_cast<qbServer*>(node));
        SocketDestroy(&s->socket.fd);
    } else {
        std::unique_ptr<qbUDPObject> u(static_cast<qbUDPObject*>(node));
        SocketDestroy(&u->socket.fd);
    }
}

// The dispatcher walks the UDP objects from the head with an index cursor;
// behind it the library keeps the node to poll next, so that freeing that
// node in a handler moves the walk on to its successor. Connections and
// servers are walked by readiness (netpoll).
qbObject* udpCursor = nullptr;

// The connections that sends and receives are working on, innermost last;
// a freed one's entry becomes null.
std::vector<qbConnection*> busy;

// One step of the dispatcher's walk over the UDP objects: the next node
// from the cursor on whose poll answers 1.
bool NextUdpInList(size_t* index, qbUDPObject** out) {
    qbObject*& node = udpCursor;
    if (*index == 0) node = udpObjects;
    while (node) {
        auto* candidate = static_cast<qbUDPObject*>(node);
        node = node->next;
        ++*index;
        if (PollUdpReceive(candidate)) {
            *out = candidate;
            return true;
        }
    }
    return false;
}

bool NextUdpDatagram(size_t* index, ObjectID* id) {
    qbUDPObject* u = nullptr;
    if (!NextUdpInList(index, &u)) return false;
    *id = IDOf(*u);
    return true;
}

bool NextServerClient(size_t* index, ObjectID* server, ObjectID* client) {
    return NetPollNextArrival(index, servers, server, client);
}

bool NextConnectionData(size_t* index, ObjectID* id) {
    qbConnection* c = nullptr;
    if (!NetPollNextData(index, &c)) return false;
    *id = IDOf(*c);
    return true;
}

bool NextConnectionClosed(size_t* index, ObjectID* id) {
    qbConnection* c = nullptr;
    if (!NetPollNextClosed(index, &c)) return false;
    *id = IDOf(*c);
    return true;
}

constexpr int kAcceptFailuresPassed = 64;

// Errors of accept that say the player, not the client, lacks something.
bool OutOfResources(int err) { return err == EMFILE || err == ENFILE || err == ENOBUFS || err == ENOMEM; }

// A peek that must not wait.
qbSocketTimeout NoWait() {
    qbSocketTimeout tm;
    TimeoutInit(&tm, 0, 0);
    return tm;
}

const ScriptCommand kNetworkCommands[] = {
    {"OpenConnection", cmdOpenConnection},
    {"CloseConnection", cmdCloseConnection},
    {"CreateServer", cmdCreateServer},
    {"CloseServer", cmdCloseServer},
    {"SendData", cmdSendData},
    {"ReceiveData", cmdReceiveData},
    {"GetConnectionIP", cmdGetConnectionIP},
    {"GetConnectionPort", cmdGetConnectionPort},
    {"GetLocalIP", cmdGetLocalIP},
    {"GetLocalPort", cmdGetLocalPort},
    {"GetHostName", cmdGetHostName},
    {"ToIP", cmdToIP},
    {"ToHostName", cmdToHostName},
    {"SetNetworkTimeout", cmdSetNetworkTimeout},
    {"CreateUDPObject", cmdCreateUDPObject},
    {"CloseUDPObject", cmdCloseUDPObject},
    {"SendUDPData", cmdSendUDPData},
    {"ReceiveUDPData", cmdReceiveUDPData},
    {"IsOnline", cmdIsOnline},
    {"DownloadFile", cmdDownloadFile},
    {"UploadFile", cmdUploadFile},
    {nullptr, nullptr},
};

const ScriptConstant kNetworkConstants[] = {
    {"RECEIVEALL", nullptr, kReceiveAll},
    {"RECEIVEBYTES", nullptr, kReceiveBytes},
    {"RECEIVELINE", nullptr, kReceiveLine},
    {"FTPASCII", nullptr, 97},
    {"FTPBINARY", nullptr, 105},
    {"DOWNLOADFILE_STATUS", nullptr, 0},
    {"UPLOADFILE_STATUS", nullptr, 0},
    {"UPLOADFILE_RESPONSE", nullptr, 1},
    {"NETWORKCONNECTION", nullptr, kNetworkConnection},
    {"NETWORKSERVER", nullptr, kNetworkServer},
    {"NETWORKUDP", nullptr, kNetworkUdp},
    {"RECEIVEDATA_PACKET", nullptr, 0},
    {nullptr, nullptr, 0},
};

}  // namespace

qbObject** ConnectionListHead() { return &connections; }
qbObject** ServerListHead() { return &servers; }
qbObject** UDPListHead() { return &udpObjects; }

int32_t GetNetworkTimeout() { return networkTimeout; }
void SetNetworkTimeoutValue(int32_t ms) { networkTimeout = ms; }

qbObject* FindListed(qbObject** head, ObjectID id) { return FindListedObject(*ListOf(head), id); }

void FreeNumberedObject(ScriptState* L, int type, int32_t number) {
    qbObject** head = type == kConnectionType ? &connections : type == kServerType ? &servers : &udpObjects;
    qbObject* o = FindListed(head, ObjectID{number, nullptr});
    if (!o) return;
    if (type == kConnectionType) FreeConnection(L, static_cast<qbConnection*>(o));
    else if (type == kServerType) FreeServer(L, static_cast<qbServer*>(o));
    else FreeUDPObject(L, static_cast<qbUDPObject*>(o));
}

int ListNewObject(ScriptState* L, qbObject* node, NewObjectID id) {
    qbObject** link = node->type == kConnectionType ? &connections : node->type == kServerType ? &servers : &udpObjects;
    node->id = id.chooseFlag ? 0 : id.id;
    node->handle = id.chooseFlag ? node : nullptr;
    if (!Append(link, node)) {
        DestroyUnlisted(node);
        return ERR_MEM;
    }
    if (node->type == kConnectionType) NetPollWatch(static_cast<qbConnection*>(node));
    if (node->type == kServerType) NetPollWatch(static_cast<qbServer*>(node));
    if (!id.chooseFlag) return 0;
    VmPushLightUserdata(L, node);
    return 1;
}

int EnsureSocketLayer() {
    if (socketLayerReady) return 0;
    if (!IgnoreSigPipe()) return ERR_OPENSOCKET;
    socketLayerReady = true;
    return 0;
}

NetBusyGuard::NetBusyGuard(qbConnection* c) : slot_(busy.size()) { busy.push_back(c); }

NetBusyGuard::~NetBusyGuard() { busy.resize(slot_); }

bool NetBusyGuard::Alive() const { return busy[slot_] != nullptr; }

void FreeConnection(ScriptState* L, qbConnection* c) {
    for (qbConnection*& b : busy)
        if (b == c) b = nullptr;
    NetPollForget(c);
    Unlink(&connections, c);
    std::unique_ptr<qbConnection> owner(c);
    SocketDestroy(&c->socket.fd);
    FreeObjectDataList(L, &c->data);
}

void FreeServer(ScriptState* L, qbServer* s) {
    NetPollForget(s);
    Unlink(&servers, s);
    std::unique_ptr<qbServer> owner(s);
    SocketDestroy(&s->socket.fd);
    FreeObjectDataList(L, &s->data);
}

void FreeUDPObject(ScriptState* L, qbUDPObject* u) {
    if (udpCursor == u) udpCursor = u->next;
    Unlink(&udpObjects, u);
    std::unique_ptr<qbUDPObject> owner(u);
    SocketDestroy(&u->socket.fd);
    FreeObjectDataList(L, &u->data);
}

void FreeAllNetworkObjects(ScriptState* L) {
    while (connections) FreeConnection(L, static_cast<qbConnection*>(connections));
    while (servers) FreeServer(L, static_cast<qbServer*>(servers));
    while (udpObjects) FreeUDPObject(L, static_cast<qbUDPObject*>(udpObjects));
    NetPollReset();
    if (socketLayerReady) SocketClose();
    socketLayerReady = false;
    networkTimeout = kDefaultNetworkTimeout;
    handlerWaits = {};
}

qbNetWaitRule NetTransferRule(const qbConnection& c) {
    return c.fromServer && GetRuntimeTag(kTagCallbackNesting) != 0 ? NetWaitWhole() : NetWaitBulk();
}

qbLookupThreads& NetLookupThreads() { return lookupThreads; }

qbNetWaitBudget* NetHandlerBudget(const qbConnection* c) {
    if (GetRuntimeTag(kTagCallbackNesting) == 0) return nullptr;
    return servers || (c && c->fromServer) ? &handlerWaits : nullptr;
}

void NetDataTaken(qbConnection* c) {
    c->dataReported = 0;
    NetPollRecheck(c);
}

int PollConnectionReceive(qbConnection* c) {
    if (c->dataReported || c->closedReported) return 0;
    qbSocketTimeout tm = NoWait();
    if (!BufferIsEmpty(c->socket.buffer) || SocketPeek(c->socket.fd, &tm, false) == 0) {
        c->dataReported = 1;
        return 1;
    }
    return 0;
}

int PollConnectionClosed(qbConnection* c) {
    if (c->closedReported) return 0;
    qbSocketTimeout tm = NoWait();
    if (SocketPeek(c->socket.fd, &tm, false) == kSockClosed) {
        c->closedReported = 1;
        return 1;
    }
    return 0;
}

int PollUdpReceive(qbUDPObject* u) {
    if (u->dataReported) return 0;
    qbSocketTimeout tm = NoWait();
    if (SocketPeek(u->socket.fd, &tm, true) == 0) {
        u->dataReported = 1;
        return 1;
    }
    return 0;
}

int AcceptServerClient(qbServer* s, ObjectID* client) {
    qbSocketTimeout tm = NoWait();
    int fd = -1;
    int err = 0;
    // A client that failed on its way in (its error handed on by accept)
    // is no sign that none waits behind it; a bounded number are passed.
    for (int failed = 0; failed < kAcceptFailuresPassed; ++failed) {
        sockaddr_storage from{};
        socklen_t length = sizeof from;
        err = SocketAccept(s->socket.fd, &fd, reinterpret_cast<sockaddr*>(&from), &length, &tm);
        if (err == 0 || err == kSockTimeout || OutOfResources(err)) break;
    }
    if (err == kSockTimeout) return 0;
    // Out of descriptors or memory the client stays queued for a later try.
    if (err) return OutOfResources(err) ? -1 : 0;
    std::unique_ptr<qbConnection> c(new (std::nothrow) qbConnection);
    if (!c) {
        SocketDestroy(&fd);
        return -1;
    }
    InitTcpSocket(&c->socket, 0, 0);
    c->socket.fd = fd;
    c->type = kConnectionType;
    c->fromServer = true;
    c->handle = c.get();
    *client = IDOf(*c);
    if (!Append(&connections, c.get())) {
        SocketDestroy(&c->socket.fd);
        return -1;
    }
    NetPollWatch(c.release());
    return 1;
}

int InitNetworkLibrary(ScriptState* L) {
    for (qbObjectList* list : {&connectionList, &serverList, &udpList})
        if (int err = RegisterObjectList(list)) return err;
    VmRegisterCommands(L, nullptr, kNetworkCommands, 0);
    VmRegisterConstants(L, kNetworkConstants, 0);
    if (int err = RegisterCommandTable(kNetworkCommands, "network", kNetworkConstants)) return err;
    qbEventSourceHooks hooks = GetEventSourceHooks();
    hooks.nextUdpDatagram = NextUdpDatagram;
    hooks.nextServerClient = NextServerClient;
    hooks.nextConnectionData = NextConnectionData;
    hooks.nextConnectionClosed = NextConnectionClosed;
    hooks.waitNetwork = NetPollWait;
    SetEventSourceHooks(hooks);
    InitTransferEngine();
    return 0;
}
