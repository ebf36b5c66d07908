// The socket layer. Waits use poll rather than select: a descriptor number
// at or above FD_SETSIZE would write outside an fd_set.
#include "libs/socket.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>

#include "display/events.h"

namespace {

HostByNameFunction hostByName = nullptr;

double NowSeconds() {
    timeval tv{};
    gettimeofday(&tv, nullptr);
    return static_cast<double>(tv.tv_sec) + tv.tv_usec / 1e6;
}

// The poll time-out of the time-out record, in whole milliseconds rounded up
// so that a short remaining wait is still a wait.
int PollMillis(const qbSocketTimeout* tm) {
    const double retry = TimeoutGetRetry(tm);
    if (retry < 0) return -1;
    return static_cast<int>(std::min(std::ceil(retry * 1000), 2147483647.0));
}

int TcpSend(void* ctx, const void* data, size_t length, size_t* sent, qbSocketTimeout* tm) {
    return SocketSend(static_cast<qbTcpSocket*>(ctx)->fd, data, length, sent, tm);
}

int TcpRecv(void* ctx, void* data, size_t length, size_t* got, qbSocketTimeout* tm) {
    return SocketRecv(static_cast<qbTcpSocket*>(ctx)->fd, data, length, got, tm);
}

const char* TcpError(void*, int code) { return SocketErrorText(code); }

// The code of a failed call: EINTR is handled by the callers.
int Errno() { return errno > 0 ? errno : kSockUnknown; }

}  // namespace

void TimeoutInit(qbSocketTimeout* tm, double block, double total) {
    tm->block = block;
    tm->total = total;
}

void TimeoutMarkStart(qbSocketTimeout* tm) { tm->start = NowSeconds(); }

double TimeoutGetRetry(const qbSocketTimeout* tm) {
    if (tm->block < 0 && tm->total < 0) return -1;
    const double left = std::max(0.0, tm->total - (NowSeconds() - tm->start));
    if (tm->block < 0) return left;
    if (tm->total < 0) return std::max(0.0, tm->block - (NowSeconds() - tm->start));
    return std::min(tm->block, left);
}

bool TimeoutExpired(const TimeValue& elapsed, int32_t limitMs) {
    if (limitMs == 0) return false;
    const int64_t ms = static_cast<int64_t>(elapsed.seconds) * 1000 + elapsed.microseconds / 1000;
    return ms > limitMs;
}

int IgnoreSigPipe() { return signal(SIGPIPE, SIG_IGN) == SIG_ERR ? 0 : 1; }

int SocketClose() { return 1; }

int SocketCreate(int* fd, int domain, int type, int protocol) {
    const int s = socket(domain, type | SOCK_NONBLOCK | SOCK_CLOEXEC, protocol);
    if (s < 0) return Errno();
    *fd = s;
    return 0;
}

void SocketSetNonBlocking(int fd) {
    const int flags = fcntl(fd, F_GETFL, 0);
    if (flags >= 0) fcntl(fd, F_SETFL, flags | O_NONBLOCK);
}

void SocketSetBlocking(int fd) {
    const int flags = fcntl(fd, F_GETFL, 0);
    if (flags >= 0) fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
}

int SocketBind(int fd, const sockaddr* address, socklen_t length) {
    SocketSetBlocking(fd);
    const int err = bind(fd, address, length) == 0 ? 0 : Errno();
    SocketSetNonBlocking(fd);
    return err;
}

int SocketListen(int fd, int backlog) {
    SocketSetBlocking(fd);
    const int err = listen(fd, backlog) == 0 ? 0 : Errno();
    SocketSetNonBlocking(fd);
    return err;
}

int SocketWaitFd(int fd, int what, qbSocketTimeout* tm) {
    if (tm->block == 0) return kSockTimeout;
    for (;;) {
        pollfd p{fd, 0, 0};
        if (what & 1) p.events |= POLLIN;
        if (what & 2) p.events |= POLLOUT;
        const int n = poll(&p, 1, PollMillis(tm));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return Errno();
        if (n == 0) return kSockTimeout;
        if (what == 3 && (p.revents & (POLLIN | POLLHUP))) return kSockClosed;
        return 0;
    }
}

int SocketConnect(ScriptState* L, int fd, const sockaddr* address, socklen_t length, int32_t timeoutMs,
                  int* outError, NetSharedWait* shared) {
    if (outError) *outError = 0;
    if (fd < 0) return kSockClosed;
    int rc;
    while ((rc = connect(fd, address, length)) != 0 && errno == EINTR) {
    }
    if (rc == 0) return 0;
    if (errno != EAGAIN && errno != EINPROGRESS) return Errno();
    const int64_t start = GetMonotonicMicros();
    for (;;) {
        int pumpError = 0;
        if (PumpEvents(L, 0, nullptr, &pumpError)) {
            if (outError) *outError = pumpError ? pumpError : -1;
            return kSockTimeout;
        }
        pollfd p{fd, POLLIN | POLLOUT, 0};
        int n;
        while ((n = poll(&p, 1, 10)) < 0 && errno == EINTR) {
        }
        if (n < 0) return Errno();
        if (n == 0) {
            if (GetMonotonicMicros() - start > static_cast<int64_t>(timeoutMs) * 1000) return kSockTimeout;
            if (shared && !shared->GoOn()) return kSockTimeout;
            continue;
        }
        // The outcome of the connect itself: a refused or failed one leaves
        // its error on the socket.
        int soError = 0;
        socklen_t len = sizeof soError;
        if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &soError, &len) != 0) return Errno();
        return soError;
    }
}

int SocketAccept(int fd, int* outFd, sockaddr* address, socklen_t* length, qbSocketTimeout* tm) {
    for (;;) {
        const int s = accept4(fd, address, length, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (s >= 0) {
            *outFd = s;
            return 0;
        }
        if (errno == EINTR) continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK && errno != ECONNABORTED) return Errno();
        if (int err = SocketWaitFd(fd, 1, tm)) return err;
    }
}

int SocketSend(int fd, const void* data, size_t length, size_t* sent, qbSocketTimeout* tm) {
    return SocketSendTo(fd, data, length, sent, nullptr, 0, tm);
}

int SocketSendTo(int fd, const void* data, size_t length, size_t* sent, const sockaddr* address, socklen_t addrLength,
                 qbSocketTimeout* tm) {
    *sent = 0;
    if (fd < 0) return kSockClosed;
    for (;;) {
        const ssize_t n = address ? sendto(fd, data, length, MSG_NOSIGNAL, address, addrLength)
                                  : send(fd, data, length, MSG_NOSIGNAL);
        if (n > 0) {
            *sent = static_cast<size_t>(n);
            return 0;
        }
        if (n == 0 || errno == EPIPE) return kSockClosed;
        if (errno == EINTR) continue;
        if (address && errno == ECONNREFUSED) return kSockClosed;
        if (errno != EAGAIN && errno != EWOULDBLOCK) return Errno();
        if (int err = SocketWaitFd(fd, 2, tm)) return err;
    }
}

int SocketRecv(int fd, void* data, size_t length, size_t* got, qbSocketTimeout* tm) {
    return SocketRecvFrom(fd, data, length, got, nullptr, nullptr, tm);
}

int SocketRecvFrom(int fd, void* data, size_t length, size_t* got, sockaddr* address, socklen_t* addrLength,
                   qbSocketTimeout* tm) {
    *got = 0;
    if (fd < 0) return kSockClosed;
    for (;;) {
        const ssize_t n = address ? recvfrom(fd, data, length, 0, address, addrLength) : recv(fd, data, length, 0);
        if (n > 0) {
            *got = static_cast<size_t>(n);
            return 0;
        }
        // An empty datagram is a datagram, not the end of a stream.
        if (n == 0) return address ? 0 : kSockClosed;
        if (errno == EINTR) continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK) return Errno();
        if (int err = SocketWaitFd(fd, 1, tm)) return err;
    }
}

int SocketPeek(int fd, qbSocketTimeout* tm, bool datagram) {
    if (fd < 0) return kSockClosed;
    for (;;) {
        char byte;
        sockaddr_storage from{};
        socklen_t fromLength = sizeof from;
        const ssize_t n = datagram ? recvfrom(fd, &byte, 1, MSG_PEEK, reinterpret_cast<sockaddr*>(&from), &fromLength)
                                   : recv(fd, &byte, 1, MSG_PEEK);
        if (n > 0 || (n == 0 && datagram)) return 0;
        if (n == 0) return kSockClosed;
        if (errno == EINTR) continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK) return Errno();
        if (int err = SocketWaitFd(fd, 1, tm)) return err;
    }
}

void SocketDestroy(int* fd) {
    if (*fd < 0) return;
    SocketSetBlocking(*fd);
    close(*fd);
    *fd = -1;
}

void SetHostByNameFunction(HostByNameFunction function) { hostByName = function; }

bool HostLookupsReplaced() { return hostByName != nullptr; }

int SocketGetHostByName(const char* name, hostent* out, std::vector<char>& buffer) {
    if (hostByName) return hostByName(name, out, buffer);
    if (buffer.size() < 8192) buffer.resize(8192);
    for (;;) {
        hostent* result = nullptr;
        int herr = 0;
        errno = 0;
        const int rc = gethostbyname_r(name, out, buffer.data(), buffer.size(), &result, &herr);
        if (rc == ERANGE && buffer.size() < (1u << 20)) {
            buffer.resize(buffer.size() * 2);
            continue;
        }
        if (rc == 0 && result) return 0;
        if (herr) return herr;
        return errno == 0 ? kSockUnknown : errno;
    }
}

int SocketGetHostByAddr(const void* address, socklen_t length, hostent* out, std::vector<char>& buffer) {
    if (buffer.size() < 8192) buffer.resize(8192);
    for (;;) {
        hostent* result = nullptr;
        int herr = 0;
        errno = 0;
        const int rc = gethostbyaddr_r(address, length, AF_INET, out, buffer.data(), buffer.size(), &result, &herr);
        if (rc == ERANGE && buffer.size() < (1u << 20)) {
            buffer.resize(buffer.size() * 2);
            continue;
        }
        if (rc == 0 && result) return 0;
        if (herr) return herr;
        return errno == 0 ? kSockUnknown : errno;
    }
}

const char* SocketErrorText(int code) {
    switch (code) {
        case 0: return "";
        case kSockTimeout: return "timeout";
        case kSockClosed: return "closed";
        default: break;
    }
    if (code < 0) return "unknown error";
    return std::strerror(code);
}

const char* ResolverErrorText(int code) {
    if (code < 1) return SocketErrorText(code);
    return hstrerror(code);
}

void InitTcpSocket(qbTcpSocket* s, double block, double total) {
    s->fd = -1;
    s->io = qbSocketIO{TcpSend, TcpRecv, TcpError, s};
    s->buffer.created = NowSeconds();
    s->buffer.sent = 0;
    s->buffer.received = 0;
    s->buffer.io = &s->io;
    s->buffer.tm = &s->timeout;
    s->buffer.first = s->buffer.last = 0;
    TimeoutInit(&s->timeout, block, total);
}

int BufferFill(qbReceiveBuffer* b) {
    if (!BufferIsEmpty(*b)) return 0;
    b->first = b->last = 0;
    size_t got = 0;
    const int err = b->io->recv(b->io->ctx, b->data, kSocketBufferSize, &got, b->tm);
    b->last = static_cast<uint32_t>(got);
    return err;
}

void BufferSkip(qbReceiveBuffer* b, size_t count) {
    count = std::min(count, BufferAvailable(*b));
    b->first += static_cast<uint32_t>(count);
    b->received += static_cast<uint32_t>(count);
    if (BufferIsEmpty(*b)) b->first = b->last = 0;
}
