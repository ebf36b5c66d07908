// The network library's engines: connecting, sending in pieces and receiving
// by mode into one sink. Every wait pumps events between its passes; an idle
// pass waits at most 1 ms on the socket, so data arriving ends it early.
#include <arpa/inet.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "core/errcodes.h"
#include "core/errors.h"
#include "core/file.h"
#include "core/ostime.h"
#include "core/settings.h"
#include "display/display.h"
#include "display/eventlib.h"
#include "display/events.h"
#include "libs/netclock.h"
#include "libs/netpoll.h"
#include "libs/network.h"

namespace {

NetProgressHook progressHook = nullptr;
// A block or file receive with an empty buffer reads straight into its
// target, in pieces of up to kDirectPiece: one copy and one event pump per
// piece rather than per buffer's worth. kDirectRoom is the least room a
// growing block keeps ahead of its bytes.
constexpr size_t kDirectPiece = 262144;
constexpr size_t kDirectRoom = 65536;

// Fresh pages of a large block, faulted in by one call rather than one trap
// per page inside recv.
void Prefault(uint8_t* p, size_t n) {
    const auto from = (reinterpret_cast<uintptr_t>(p) + 4095) & ~uintptr_t{4095};
    const auto to = (reinterpret_cast<uintptr_t>(p) + n) & ~uintptr_t{4095};
    if (to > from) madvise(reinterpret_cast<void*>(from), to - from, MADV_POPULATE_WRITE);
}

void IdleWait(int fd, short events) {
    pollfd p{fd, events, 0};
    poll(&p, 1, 1);
}

// One pump between passes: 0, or the error (ERR_USERABORT for a quit) that
// ends the wait. Handlers do not run inside a wait, but clients arriving
// meanwhile are accepted, so that a full backlog turns none away; they are
// reported once the handler that waits returns.
int Pump(ScriptState* L) {
    int error = 0;
    if (PumpEvents(L, 0, nullptr, &error)) return error ? error : ERR_USERABORT;
    // A quit asked for elsewhere (a signal, another window) ends the wait too.
    if (EventQuitRequested()) return ERR_USERABORT;
    if (ObjectHandler(kObjConnect).function != -1) NetPollAcceptPending(*ServerListHead());
    return 0;
}

int Progress(ScriptState* L, qbConnection* c, size_t n) {
    if (!c->progressCallback || n == 0) return 0;
    c->progressCount += static_cast<int64_t>(n);
    return progressHook ? progressHook(L, c) : 0;
}

// Calls the receive callback with one piece; 0 to go on.
int CallReceiveCallback(ScriptState* L, const qbNetSink& sink, const uint8_t* data, size_t n, size_t total) {
    VmPushValue(L, sink.callback);
    VmPushNewTable(L);
    SetTableFieldInt(L, "action", 0);
    SetTableFieldInt(L, "size", static_cast<int32_t>(n));
    SetTableFieldFloat(L, "total", static_cast<double>(total));
    VmPushString(L, "data");
    VmPushLString(L, reinterpret_cast<const char*>(data), n);
    VmRawSet(L, -3);
    if (sink.userdata) {
        VmPushString(L, "userdata");
        VmPushValue(L, sink.userdata);
        VmRawSet(L, -3);
    }
    SetRuntimeTag(kTagCallbackNesting, 1);
    const int err = VmPCall(L, 1, 1, 0);
    SetRuntimeTag(kTagCallbackNesting, 0);
    if (err) return err;
    int result = 0;
    if (VmType(L, -1) == kTypeBoolean) {
        result = VmToBoolean(L, -1) ? 1 : 0;
    } else if (VmType(L, -1) == kTypeNumber) {
        result = VmToNumber(L, -1) == 1 ? 1 : 0;
    } else {
        VmSetTop(L, -2);
        return ERR_NUMCALLBACK;
    }
    VmSetTop(L, -2);
    if (result == 1 || EventQuitRequested()) return ERR_USERABORT;
    return 0;
}

// A callback closed the connection that its send or receive works on.
int Gone(int32_t id) {
    SetErrorArgIndex(id);
    return ERR_FINDCLIENT;
}

// Writes n bytes to a non-blocking FIFO or device, waiting for its reader
// as the receive waits for its peer: events pumped between passes, ERR_WRITE
// once a network time-out passed without a byte taken, or the reader left.
int WriteWithin(ScriptState* L, int fd, const uint8_t* data, size_t n) {
    int64_t lastProgress = GetMonotonicMicros();
    while (n > 0) {
        const ssize_t put = write(fd, data, n);
        if (put > 0) {
            data += put;
            n -= static_cast<size_t>(put);
            lastProgress = GetMonotonicMicros();
            continue;
        }
        if (put < 0 && errno != EAGAIN && errno != EINTR) return ERR_WRITE;
        const int32_t limit = GetNetworkTimeout();
        if (limit != 0 && GetMonotonicMicros() - lastProgress > static_cast<int64_t>(limit) * 1000) return ERR_WRITE;
        if (int err = Pump(L)) return err;
        IdleWait(fd, POLLOUT);
    }
    return 0;
}

// Hands one piece to the sink; total counts the bytes so far, this piece
// included. 0 or the error that ends the receive.
int Deliver(ScriptState* L, qbNetSink& sink, const uint8_t* data, size_t n, size_t total, bool line) {
    switch (sink.kind) {
        case NetSinkKind::kCallback: return CallReceiveCallback(L, sink, data, n, total);
        case NetSinkKind::kFile:
            if (sink.waitlessFd >= 0) return WriteWithin(L, sink.waitlessFd, data, n);
            return FileWriteBytes(sink.file, data, n) == n ? 0 : ERR_WRITE;
        case NetSinkKind::kBlock: {
            const size_t room = sink.blockSize - std::min(sink.blockSize, sink.used + (line ? 1 : 0));
            if (n > room) return ERR_MEM;
            std::memcpy(sink.block + sink.used, data, n);
            sink.used += n;
            return 0;
        }
        case NetSinkKind::kGrowBlock: {
            if (!GrowBlockReserve(sink.grow, sink.used + n)) return ERR_MEM;
            std::memcpy(sink.grow->data.get() + sink.used, data, n);
            sink.used += n;
            return 0;
        }
    }
    return 0;
}

// The bytes of a line run up to the next CR or LF.
size_t PlainRun(const uint8_t* p, size_t n) {
    for (size_t i = 0; i < n; ++i)
        if (p[i] == '\n' || p[i] == '\r') return i;
    return n;
}

}  // namespace

int NetPump(ScriptState* L) { return Pump(L); }

bool GrowBlockReserve(qbGrowBlock* b, size_t need) {
    if (need <= b->capacity) return true;
    const size_t capacity = std::max({need, b->capacity * 2, kDirectRoom});
    void* grown = std::realloc(b->data.get(), capacity);
    if (!grown) return false;
    static_cast<void>(b->data.release());
    b->data.reset(static_cast<uint8_t*>(grown));
    b->capacity = capacity;
    return true;
}

void SetNetProgressHook(NetProgressHook hook) { progressHook = hook; }

int ConnectTcp(ScriptState* L, const char* host, int port, qbTcpSocket* s) {
    InitTcpSocket(s, -1, -1);
    if (int err = SocketCreate(&s->fd, AF_INET, SOCK_STREAM, 0)) {
        SetErrorDetail(SocketErrorText(err));
        return ERR_SOCKET;
    }
    TimeoutMarkStart(&s->timeout);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    int pumpError = 0;
    int err = ResolveIPv4(L, host, &address.sin_addr, &pumpError);
    if (err) {
        SetErrorDetail(ResolverErrorText(err));
    } else {
        // Inside a handler a connect draws on the handlers' budget as every
        // other wait on a peer does.
        NetSharedWait shared(NetHandlerBudget(nullptr));
        err = SocketConnect(L, s->fd, reinterpret_cast<sockaddr*>(&address), sizeof address, GetNetworkTimeout(),
                            &pumpError, &shared);
        if (err) SetErrorDetail(SocketErrorText(err));
    }
    if (!err) {
        TimeoutInit(&s->timeout, 0, 0);
        return 0;
    }
    SocketDestroy(&s->fd);
    if (EventQuitRequested()) return ERR_USERABORT;
    if (pumpError > 0) return pumpError;
    return ERR_SOCKET;
}

int NetSend(ScriptState* L, qbConnection* c, const void* data, size_t length, size_t* sent, int* socketResult) {
    *sent = 0;
    *socketResult = 0;
    const auto* p = static_cast<const uint8_t*>(data);
    const NetBusyGuard guard(c);
    const int32_t id = c->id;
    // A peer that takes the bytes a few at a time ends at the floor, as a
    // receive's trickle does, or inside a handler at the deadline.
    qbNetClock clock = NetClockStart(NetTransferRule(*c));
    NetSharedWait shared(NetHandlerBudget(c));
    while (*sent < length) {
        // A quit or a failing handler during the send ends the script as it
        // would anywhere else, not as a short send.
        if (int err = Pump(L)) return err;
        if (NetClockDeadline(clock) != NetWaitEnd::kGoOn) {
            *socketResult = kSockTimeout;
            break;
        }
        size_t n = 0;
        const int result =
            SocketSend(c->socket.fd, p + *sent, std::min(length - *sent, kSocketBufferSize), &n, &c->socket.timeout);
        *socketResult = result;
        *sent += n;
        c->socket.buffer.sent += static_cast<uint32_t>(n);
        if (int err = Progress(L, c, n)) return err;
        if (!guard.Alive()) return Gone(id);
        if (c->progressCallback && n > 0) shared.CallbackRan();
        NetClockProgress(&clock, n);
        if (result == 0) continue;
        if (result != kSockTimeout) break;
        if (n == 0 && NetClockCheck(&clock) != NetWaitEnd::kGoOn) break;
        if (!shared.GoOn()) break;
        IdleWait(c->socket.fd, POLLOUT);
    }
    return 0;
}

int NetSendShortfall(size_t sent, size_t length, int socketResult) {
    char text[160];
    std::snprintf(text, sizeof text, " (%zu of %zu bytes sent: %s)", sent, length,
                  SocketErrorText(socketResult == 0 ? kSockTimeout : socketResult));
    SetErrorDetail(text);
    return ERR_SENDDATA;
}

int NetSendAll(ScriptState* L, qbConnection* c, const void* data, size_t length) {
    size_t sent = 0;
    int result = 0;
    const int err = NetSend(L, c, data, length, &sent, &result);
    if (EventQuitRequested()) return ERR_USERABORT;
    if (err) return err;
    if (result != 0 && result != kSockTimeout) {
        SetErrorDetail(SocketErrorText(result));
        return ERR_SOCKET;
    }
    return sent < length ? NetSendShortfall(sent, length, result) : 0;
}

size_t NetBytesWaiting(const qbConnection* c) {
    int queued = 0;
    if (ioctl(c->socket.fd, FIONREAD, &queued) != 0 || queued < 0) queued = 0;
    return BufferAvailable(c->socket.buffer) + static_cast<size_t>(queued);
}

int NetReceive(ScriptState* L, qbConnection* c, int mode, size_t want, qbNetClock* clockArg, qbNetSink& sink,
               qbNetReceipt* receipt) {
    qbNetClock& clock = *clockArg;
    const qbNetWaitRule& rule = clock.rule;
    qbReceiveBuffer& buffer = c->socket.buffer;
    const NetBusyGuard guard(c);
    const int32_t id = c->id;
    NetSharedWait shared(NetHandlerBudget(c));
    const bool callbacks = sink.kind == NetSinkKind::kCallback || c->progressCallback;
    const bool line = mode == kReceiveLine;
    const bool perByte = line && sink.kind == NetSinkKind::kCallback;
    const bool direct = !line && (sink.kind == NetSinkKind::kGrowBlock || sink.kind == NetSinkKind::kFile);
    std::vector<uint8_t> scratch;  // a file receive's piece
    TimeoutMarkStart(&c->socket.timeout);
    // How far this receive may go: past `most` is ERR_MEM, `enough` ends a
    // receive of whatever waits.
    const size_t most = sink.most;
    const size_t enough = mode == kReceiveAll ? sink.enough : SIZE_MAX;
    NetWaitEnd end = NetWaitEnd::kGoOn;
    size_t total = 0;
    bool done = false;
    int result = 0;
    int err = 0;
    while (!err && !done) {
        result = 0;
        while (!done && result == 0) {
            if ((err = Pump(L))) break;
            // A bounded section ends at its deadline even while bytes flow.
            if ((end = NetClockDeadline(clock)) != NetWaitEnd::kGoOn) {
                result = kSockTimeout;
                break;
            }
            if (total >= enough) {
                done = true;
                break;
            }
            if (direct && BufferIsEmpty(buffer) && (mode != kReceiveBytes || total < want)) {
                size_t room = kDirectPiece;
                if (mode == kReceiveBytes) room = std::min(room, want - total);
                room = std::min(room, enough - total);
                // One byte past the most is read only to learn that there is one.
                if (most - total < room) room = most - total + 1;
                uint8_t* to = nullptr;
                if (sink.kind == NetSinkKind::kGrowBlock) {
                    if (!GrowBlockReserve(sink.grow, sink.used + std::min(room, kDirectRoom))) {
                        err = ERR_MEM;
                        break;
                    }
                    to = sink.grow->data.get() + sink.used;
                    room = std::min(room, sink.grow->capacity - sink.used);
                    Prefault(to, room);
                } else {
                    if (scratch.size() < room) scratch.resize(room);
                    to = scratch.data();
                }
                size_t got = 0;
                result = buffer.io->recv(buffer.io->ctx, to, room, &got, buffer.tm);
                if (got == 0) continue;
                if (got > most - total) {
                    err = ERR_MEM;
                    break;
                }
                NetClockProgress(&clock, got);
                buffer.received += static_cast<uint32_t>(got);
                total += got;
                done = mode == kReceiveBytes && total == want;
                if (sink.kind == NetSinkKind::kGrowBlock)
                    sink.used += got;
                else
                    err = Deliver(L, sink, to, got, total, false);
                if (!err && guard.Alive()) err = Progress(L, c, got);
                if (!err && !guard.Alive()) err = Gone(id);
                if (err) break;
                if (callbacks) shared.CallbackRan();
                continue;
            }
            if (BufferIsEmpty(buffer)) result = BufferFill(&buffer);
            const size_t available = BufferAvailable(buffer);
            if (available == 0) continue;
            NetClockProgress(&clock, available);
            const uint8_t* p = buffer.data + buffer.first;
            size_t take = available;
            size_t consumed = available;
            if (mode == kReceiveBytes) {
                take = consumed = std::min(available, want - total);
                done = total + take == want;
            } else if (mode == kReceiveAll) {
                take = consumed = std::min(available, enough - total);
            } else if (line) {
                take = perByte ? std::min<size_t>(1, PlainRun(p, available)) : PlainRun(p, available);
                consumed = take;
                if (take == 0) {
                    consumed = 1;
                    done = p[0] == '\n';
                }
            }
            // Consumed before the sink sees it: a callback may receive on
            // this connection itself. The piece stays in place until the
            // next refill, and the callback gets its own copy.
            if (take > most - total) {
                err = ERR_MEM;
                break;
            }
            BufferSkip(&buffer, consumed);
            if (take > 0) {
                total += take;
                err = Deliver(L, sink, p, take, total, line);
                if (!err && guard.Alive()) err = Progress(L, c, take);
                if (!err && !guard.Alive()) err = Gone(id);
                if (err) break;
                if (callbacks) shared.CallbackRan();
                if (sink.kind == NetSinkKind::kCallback) result = 0;
            }
        }
        if (err || done || end != NetWaitEnd::kGoOn) break;
        if (result != kSockTimeout || !rule.wait) break;
        if ((end = NetClockCheck(&clock)) != NetWaitEnd::kGoOn) break;
        // The server's waits inside handlers share one budget: once it is
        // spent, this one ends as at its deadline, what came kept.
        if (!shared.GoOn()) {
            end = NetWaitEnd::kDeadline;
            break;
        }
        IdleWait(c->socket.fd, POLLIN);
    }
    if (mode == kReceiveAll && result == kSockClosed && total > 0) result = 0;
    if (mode == kReceiveAll) done = result == 0;
    receipt->count = total;
    receipt->socketResult = done ? 0 : result;
    receipt->complete = done;
    receipt->end = end;
    if (line && sink.kind == NetSinkKind::kBlock && sink.used < sink.blockSize) sink.block[sink.used] = 0;
    if (EventQuitRequested()) return ERR_USERABORT;
    return err;
}

int NetReceiveError(const qbNetReceipt& receipt) {
    if (receipt.complete) return 0;
    switch (receipt.socketResult) {
        case 0:
        case kSockTimeout: return ERR_RECVTIMEOUT;
        case kSockClosed: return ERR_RECVCLOSED;
        default: SetErrorDetail(SocketErrorText(receipt.socketResult)); return ERR_SOCKET;
    }
}
