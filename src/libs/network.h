// The network library: TCP connections, servers and UDP objects, their send
// and receive engines, and the polls that report them as events. All I/O
// runs on the main thread; every wait pumps events and sleeps 1 ms per idle
// pass.
#pragma once

#include <netinet/in.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "core/objects.h"
#include "libs/netclock.h"
#include "libs/socket.h"
#include "vm/stringblock.h"

struct ScriptState;
struct qbFile;

constexpr int kConnectionType = 54;
constexpr int kServerType = 55;
constexpr int kUDPObjectType = 56;

constexpr int kReceiveAll = 0;
constexpr int kReceiveBytes = 1;
constexpr int kReceiveLine = 2;

constexpr int32_t kDefaultNetworkTimeout = 10000;

struct qbConnection : qbObject {
    qbTcpSocket socket;
    int32_t dataReported = 0;
    int32_t closedReported = 0;
    // The transfer engine's progress reporting.
    int32_t progressCallback = 0;
    int64_t progressCount = 0;
    int64_t progressTotal = 0;
    int32_t userdata = 0;
    int32_t action = 0;
    // Readiness (netpoll): the order of creation, whether the epoll set
    // holds it, and which polls its last edge asks for.
    uint64_t seq = 0;
    bool watched = false;
    bool marked = false;
    bool wantData = false;
    bool wantClose = false;
    // Accepted by one of the script's servers.
    bool fromServer = false;
};

struct qbServer : qbObject {
    qbTcpSocket socket;
    bool watched = false;
    bool pending = false;  // clients may wait to be accepted
};

struct qbUDPObject : qbObject {
    qbUdpSocket socket;
    int32_t dataReported = 0;
};

// Opens the library into the table on the stack top; 0 or an error code.
int InitNetworkLibrary(ScriptState* L);
// Frees every connection, server and UDP object.
void FreeAllNetworkObjects(ScriptState* L);

// The one time-out of sends, receives and connects, in milliseconds.
int32_t GetNetworkTimeout();
void SetNetworkTimeoutValue(int32_t ms);
// Initialises the socket layer once; 0 or ERR_OPENSOCKET.
int EnsureSocketLayer();

// A received block that grows by realloc: no zero fill, and a large block
// moves by remapping its pages rather than by copying them.
struct qbGrowBlock {
    struct Free {
        void operator()(uint8_t* p) const { std::free(p); }
    };
    std::unique_ptr<uint8_t, Free> data;
    size_t capacity = 0;
};
// Room for at least need bytes; the capacity at least doubles, so each step
// is no larger than what the block already holds. False when memory ran out.
bool GrowBlockReserve(qbGrowBlock* b, size_t need);

// The longest string the VM holds: what a receive into a string may gather.
constexpr size_t kNetLongestString = kVmLongestString;

// Where received bytes go: exactly one sink per receive.
enum class NetSinkKind { kGrowBlock, kCallback, kFile, kBlock };

struct qbNetSink {
    NetSinkKind kind = NetSinkKind::kGrowBlock;
    int callback = 0;                     // kCallback: stack index of the function
    int userdata = 0;                     // kCallback: stack index of the userdata, 0 for none
    qbFile* file = nullptr;               // kFile
    // kFile: the descriptor, made non-blocking, of a FIFO or device the
    // file is; -1 for a regular file. Its writes wait at most one network
    // time-out for the reader to take bytes (ERR_WRITE after that), so a
    // reader that stops reading never holds the receive.
    int waitlessFd = -1;
    uint8_t* block = nullptr;             // kBlock: the caller's block of blockSize bytes
    size_t blockSize = 0;
    qbGrowBlock* grow = nullptr;           // kGrowBlock
    size_t used = 0;                       // kBlock and kGrowBlock: bytes stored
    // The most bytes one receive may deliver: one more is ERR_MEM, before
    // it is read (a string the VM cannot hold is never gathered).
    size_t most = SIZE_MAX;
    // kReceiveAll: the receive ends, complete, once this many bytes came,
    // so that a peer that never pauses cannot make one call endless.
    size_t enough = SIZE_MAX;
};

// The progress callback of the transfer engine, when a connection has one.
using NetProgressHook = int (*)(ScriptState* L, qbConnection* c);
void SetNetProgressHook(NetProgressHook hook);

// The IPv4 address of a dotted text or, failing that, the first of a name's;
// 0 or the resolver's code (kSockTimeout once the network time-out passed).
// The lookup pumps events as it waits: an error of theirs (a quit, a
// failing handler) ends it and goes to *pumpError.
int ResolveIPv4(ScriptState* L, const char* host, in_addr* out, int* pumpError);
// The same for a name, by the system resolver, whatever test hook is set.
int LookUpIPv4(ScriptState* L, const char* host, in_addr* out, int* pumpError);

// What ToIP and ToHostName tell of a host.
struct qbHostTable {
    std::string name;  // the official name
    std::vector<in_addr> addresses;
    std::vector<std::string> aliases;
};
// The host's table by name, or by address when byAddress is given, within
// the network time-out as LookUpIPv4 is (0 or the resolver's code).
int LookUpHostTable(ScriptState* L, const char* name, const in_addr* byAddress, qbHostTable* out, int* pumpError);
// The table of a resolver's entry; NO_ADDRESS when it has no IPv4 address.
int HostTableOf(const hostent& entry, qbHostTable* table);
// One pump of a network wait: 0, or the error (ERR_USERABORT for a quit)
// that ends the wait.
int NetPump(ScriptState* L);
// Connects a fresh socket to host:port; 0, or ERR_SOCKET (detail set) or
// ERR_USERABORT with the socket destroyed.
int ConnectTcp(ScriptState* L, const char* host, int port, qbTcpSocket* socket);
// Lists a connected socket as a connection under the id (a chosen id frees
// an old connection of that number first); the new node.
int AddConnection(ScriptState* L, ObjectID id, bool chooseId, qbConnection** out);

// How a send, or a receive that is not a line, waits on the connection.
// Inside a handler or callback no other handler runs until it returns, so
// a server's connection is bounded as a whole there: one slow client
// holds the server at most one time-out per call (what came is kept). Else
// the bulk floor, as for transfers.
qbNetWaitRule NetTransferRule(const qbConnection& c);
// The budget that every wait on a peer draws on inside a handler or
// callback while the script serves (a server is listed, or the wait is on
// a client a server accepted): sends, receives and name lookups, on any
// connection, so that slow peers together hold the server's clients no
// longer than one time-out; null elsewhere. c: the connection waited on,
// null for a lookup.
qbNetWaitBudget* NetHandlerBudget(const qbConnection* c);
// The name lookups' threads (netresolve). A lookup holds one of the places
// while its caller waits for it; a thread its caller gave up on runs on to
// its resolver's end in `running` alone.
struct qbLookupThreads {
    std::atomic<int> places{0};   // lookups being waited for
    std::atomic<int> running{0};  // threads, given-up ones included
};
qbLookupThreads& NetLookupThreads();

// Sends in pieces of 8192 bytes; the last socket result goes to
// *socketResult, the count to *sent; 0 or a callback's error.
int NetSend(ScriptState* L, qbConnection* c, const void* data, size_t length, size_t* sent, int* socketResult);
// The same, turning every shortfall into an error (ERR_SENDDATA, ERR_SOCKET,
// ERR_USERABORT).
int NetSendAll(ScriptState* L, qbConnection* c, const void* data, size_t length);
// ERR_SENDDATA for a send that stopped short, the count sent and the reason
// in its message.
int NetSendShortfall(size_t sent, size_t length, int socketResult);

// How a receive ended.
struct qbNetReceipt {
    size_t count = 0;       // bytes delivered
    int socketResult = 0;   // 0 when complete, else why it stopped
    bool complete = false;  // the line feed or the full count arrived; kReceiveAll: ended by a close after data
    NetWaitEnd end = NetWaitEnd::kGoOn;
};

// Receives by mode (count for kReceiveBytes) into the sink, waiting by the
// clock's rule (a body read in pieces passes the same clock to each). 0, or what broke the receive off: a callback's error, a user abort,
// ERR_MEM, ERR_WRITE or ERR_FINDCLIENT when a callback freed the connection.
// How far it got is in the receipt either way.
int NetReceive(ScriptState* L, qbConnection* c, int mode, size_t want, qbNetClock* clock, qbNetSink& sink,
               qbNetReceipt* receipt);
// The bytes that had arrived on the connection and wait to be received.
size_t NetBytesWaiting(const qbConnection* c);
// The error of a receive that did not complete (ERR_RECVTIMEOUT,
// ERR_RECVCLOSED, ERR_SOCKET with the detail); 0 when it did.
int NetReceiveError(const qbNetReceipt& receipt);

// Marks a connection that a send or receive is working on while callbacks
// run: a callback may close it, and the engine must then stop touching it.
class NetBusyGuard {
public:
    explicit NetBusyGuard(qbConnection* c);
    ~NetBusyGuard();
    NetBusyGuard(const NetBusyGuard&) = delete;
    NetBusyGuard& operator=(const NetBusyGuard&) = delete;
    // False once the connection was freed.
    bool Alive() const;

private:
    size_t slot_;
};

// Unlinks and frees one object, moving the dispatcher's cursors off it.
void FreeConnection(ScriptState* L, qbConnection* c);
void FreeServer(ScriptState* L, qbServer* s);
void FreeUDPObject(ScriptState* L, qbUDPObject* u);

// A receive of the script took data: its next data or its close may be
// reported again.
void NetDataTaken(qbConnection* c);

// The polls of the event dispatcher, each 1 once per occurrence.
int PollConnectionReceive(qbConnection* c);
int PollConnectionClosed(qbConnection* c);
int PollUdpReceive(qbUDPObject* u);
// 1 with a client accepted; 0 when none waits; -1 when one may wait but
// cannot be taken now (out of descriptors or memory).
int AcceptServerClient(qbServer* s, ObjectID* client);

// The node of a list (one of the heads below) under the id, or null.
qbObject* FindListed(qbObject** head, ObjectID id);

// The list heads, for the library's commands.
qbObject** ConnectionListHead();
qbObject** ServerListHead();
qbObject** UDPListHead();
