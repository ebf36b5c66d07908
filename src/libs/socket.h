// A thin layer over POSIX sockets and the system resolver: every socket is
// non-blocking, every operation answers one integer code, and a wait is
// bounded by the socket's time-out record. Main thread only.
#pragma once

#include <netdb.h>
#include <sys/socket.h>

#include <cstddef>
#include <cstdint>
#include <vector>

#include "core/ostime.h"
#include "libs/netclock.h"

struct ScriptState;

// Result codes: 0 success, the three below, or a positive system (or, from
// the two lookups, resolver) error number.
constexpr int kSockTimeout = -1;  // would block and no wait is allowed, or the wait ran out
constexpr int kSockClosed = -2;   // the peer closed, the descriptor is closed, or a broken pipe
constexpr int kSockUnknown = -3;

constexpr size_t kSocketBufferSize = 8192;

// Waits of one operation: block bounds each wait, total all of them since
// start (seconds; negative means no limit).
struct qbSocketTimeout {
    double block = -1;
    double total = -1;
    double start = 0;
};

void TimeoutInit(qbSocketTimeout* tm, double block, double total);
void TimeoutMarkStart(qbSocketTimeout* tm);
// Seconds a wait may still last; -1 for no limit.
double TimeoutGetRetry(const qbSocketTimeout* tm);
// Whether the elapsed time exceeds limitMs; a limit of 0 never expires.
bool TimeoutExpired(const TimeValue& elapsed, int32_t limitMs);

// How the receive buffer refills itself and how its owner's codes read.
struct qbSocketIO {
    int (*send)(void* ctx, const void* data, size_t length, size_t* sent, qbSocketTimeout* tm) = nullptr;
    int (*recv)(void* ctx, void* data, size_t length, size_t* got, qbSocketTimeout* tm) = nullptr;
    const char* (*error)(void* ctx, int code) = nullptr;
    void* ctx = nullptr;
};

// Bytes from first up to last are unread; an emptied buffer starts again at 0.
struct qbReceiveBuffer {
    double created = 0;
    uint32_t sent = 0;
    uint32_t received = 0;
    qbSocketIO* io = nullptr;
    qbSocketTimeout* tm = nullptr;
    uint32_t first = 0;
    uint32_t last = 0;
    uint8_t data[kSocketBufferSize];
};

struct qbTcpSocket {
    int fd = -1;
    qbSocketIO io;
    qbReceiveBuffer buffer;
    qbSocketTimeout timeout;
};

struct qbUdpSocket {
    int fd = -1;
    qbSocketTimeout timeout;
    uint8_t data[kSocketBufferSize];
};

// The layer's start and end. IgnoreSigPipe answers 1 when sockets can be used.
int IgnoreSigPipe();
int SocketClose();

int SocketCreate(int* fd, int domain, int type, int protocol);
void SocketSetNonBlocking(int fd);
void SocketSetBlocking(int fd);
int SocketBind(int fd, const sockaddr* address, socklen_t length);
int SocketListen(int fd, int backlog);
// Connects with a limit of timeoutMs (0: give up after the first wait that
// finds nothing ready), pumping events between waits; *outError gets the
// pump's error or user abort when that ended the wait. shared (when given)
// is the budget the wait draws on: spent, the connect ends as at its limit.
int SocketConnect(ScriptState* L, int fd, const sockaddr* address, socklen_t length, int32_t timeoutMs,
                  int* outError, NetSharedWait* shared = nullptr);
int SocketAccept(int fd, int* outFd, sockaddr* address, socklen_t* length, qbSocketTimeout* tm);
int SocketSend(int fd, const void* data, size_t length, size_t* sent, qbSocketTimeout* tm);
int SocketSendTo(int fd, const void* data, size_t length, size_t* sent, const sockaddr* address, socklen_t addrLength,
                 qbSocketTimeout* tm);
int SocketRecv(int fd, void* data, size_t length, size_t* got, qbSocketTimeout* tm);
int SocketRecvFrom(int fd, void* data, size_t length, size_t* got, sockaddr* address, socklen_t* addrLength,
                   qbSocketTimeout* tm);
// One byte looked at, not taken: 0 when data waits, kSockClosed at the end of
// a stream.
int SocketPeek(int fd, qbSocketTimeout* tm, bool datagram);
void SocketDestroy(int* fd);
// what: 1 read, 2 write, 3 both.
int SocketWaitFd(int fd, int what, qbSocketTimeout* tm);

// Lookups fill *out with pointers into buffer.
int SocketGetHostByName(const char* name, hostent* out, std::vector<char>& buffer);
// Where name lookups go instead of the system resolver (null: back to it),
// so that a test can keep every name on this machine.
using HostByNameFunction = int (*)(const char* name, hostent* out, std::vector<char>& buffer);
void SetHostByNameFunction(HostByNameFunction function);
bool HostLookupsReplaced();
int SocketGetHostByAddr(const void* address, socklen_t length, hostent* out, std::vector<char>& buffer);

const char* SocketErrorText(int code);
const char* ResolverErrorText(int code);

// The TCP record made ready for use: I/O vector, empty buffer and the
// time-out record, descriptor closed.
void InitTcpSocket(qbTcpSocket* s, double block, double total);

// The receive buffer.
inline bool BufferIsEmpty(const qbReceiveBuffer& b) { return b.first >= b.last; }
inline size_t BufferAvailable(const qbReceiveBuffer& b) { return BufferIsEmpty(b) ? 0 : b.last - b.first; }
// Refills an empty buffer through its I/O vector; the code of that receive
// (0 also when bytes were already there).
int BufferFill(qbReceiveBuffer* b);
void BufferSkip(qbReceiveBuffer* b, size_t count);
