// The network library's receive engine on loopback: 256 MB through
// ReceiveData in bytes mode against a plain blocking recv loop with the same
// 8192-byte pieces, both fed by a sender thread in the same run; and 1000
// line round trips through SendData and ReceiveData against an echo thread.
// QB_BENCH_NET_SCALE (default 1) divides the 256 MB for a quick run.
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <thread>

#include "core/vmhost.h"
#include "libs/netcommands.h"
#include "libs/network.h"
#include "vm/vm.h"

namespace {

constexpr size_t kMB = 1 << 20;
constexpr size_t kPiece = 8192;

size_t Bytes() {
    const char* s = std::getenv("QB_BENCH_NET_SCALE");
    const long v = s ? std::atol(s) : 1;
    return 256 * kMB / static_cast<size_t>(v > 0 ? v : 1);
}

// A listener on 127.0.0.1; its port in *port.
int Listen(int* port) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    listen(fd, 4);
    getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    *port = ntohs(a.sin_port);
    return fd;
}

// Accepts one client (waiting at most 5 s) and sends it `bytes` bytes.
std::thread Sender(int listener, size_t bytes) {
    return std::thread([listener, bytes] {
        pollfd p{listener, POLLIN, 0};
        if (poll(&p, 1, 5000) <= 0) return;
        const int fd = accept(listener, nullptr, nullptr);
        const std::string block(kPiece * 8, 'n');
        for (size_t sent = 0; sent < bytes;) {
            const ssize_t n = send(fd, block.data(), std::min(block.size(), bytes - sent), MSG_NOSIGNAL);
            if (n <= 0) break;
            sent += static_cast<size_t>(n);
        }
        close(fd);
    });
}

struct Vm {
    ScriptState* L;
    Vm() : L(VmOpen()) {
        InstallVmHost();
        EnsureSocketLayer();
        SetNetworkTimeoutValue(5000);
    }
    ~Vm() {
        FreeAllNetworkObjects(L);
        VmClose(L);
    }
    int Call(CommandHandler fn, int nargs) {
        VmPushCClosure(L, fn, 0);
        VmInsert(L, -(nargs + 1));
        return VmPCall(L, nargs, kMultRet, 0);
    }
    bool Open(int port) {
        VmSetTop(L, 0);
        VmPushNumber(L, 1);
        VmPushString(L, "127.0.0.1");
        VmPushNumber(L, port);
        return Call(cmdOpenConnection, 3) == 0;
    }
};

void BM_ReceiveDataBytes(benchmark::State& state) {
    const size_t bytes = Bytes();
    Vm vm;
    for (auto _ : state) {
        state.PauseTiming();
        int port = 0;
        const int listener = Listen(&port);
        std::thread sender = Sender(listener, bytes);
        if (!vm.Open(port)) state.SkipWithError("connect failed");
        VmSetTop(vm.L, 0);
        state.ResumeTiming();
        VmPushNumber(vm.L, 1);
        VmPushNumber(vm.L, kReceiveBytes);
        VmPushNumber(vm.L, static_cast<double>(bytes));
        if (vm.Call(cmdReceiveData, 3) != 0 || VmToNumber(vm.L, 2) != static_cast<double>(bytes))
            state.SkipWithError("short receive");
        state.PauseTiming();
        VmSetTop(vm.L, 0);
        FreeAllNetworkObjects(vm.L);
        SetNetworkTimeoutValue(5000);
        sender.join();
        close(listener);
        state.ResumeTiming();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes));
}

void BM_PlainRecvLoop(benchmark::State& state) {
    const size_t bytes = Bytes();
    for (auto _ : state) {
        state.PauseTiming();
        int port = 0;
        const int listener = Listen(&port);
        std::thread sender = Sender(listener, bytes);
        const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        a.sin_port = htons(static_cast<uint16_t>(port));
        connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
        state.ResumeTiming();
        // The same work as the string sink: every piece appended to one
        // growing text.
        std::string text;
        char piece[kPiece];
        for (;;) {
            const ssize_t n = recv(fd, piece, sizeof piece, 0);
            if (n <= 0) break;
            text.append(piece, static_cast<size_t>(n));
        }
        benchmark::DoNotOptimize(text.data());
        state.PauseTiming();
        if (text.size() != bytes) state.SkipWithError("short receive");
        close(fd);
        sender.join();
        close(listener);
        state.ResumeTiming();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes));
}

void BM_LineRoundTrips(benchmark::State& state) {
    constexpr int kTrips = 1000;
    Vm vm;
    for (auto _ : state) {
        state.PauseTiming();
        int port = 0;
        const int listener = Listen(&port);
        std::thread echo([listener] {
            pollfd p{listener, POLLIN, 0};
            if (poll(&p, 1, 5000) <= 0) return;
            const int fd = accept(listener, nullptr, nullptr);
            char buf[256];
            for (;;) {
                const ssize_t n = recv(fd, buf, sizeof buf, 0);
                if (n <= 0 || send(fd, buf, static_cast<size_t>(n), MSG_NOSIGNAL) != n) break;
            }
            close(fd);
        });
        if (!vm.Open(port)) state.SkipWithError("connect failed");
        state.ResumeTiming();
        for (int i = 0; i < kTrips; ++i) {
            VmSetTop(vm.L, 0);
            VmPushNumber(vm.L, 1);
            VmPushString(vm.L, "ping line\n");
            vm.Call(cmdSendData, 2);
            VmSetTop(vm.L, 0);
            VmPushNumber(vm.L, 1);
            VmPushNumber(vm.L, kReceiveLine);
            if (vm.Call(cmdReceiveData, 2) != 0 || VmToNumber(vm.L, 2) != 9) {
                state.SkipWithError("bad line");
                break;
            }
        }
        state.PauseTiming();
        VmSetTop(vm.L, 0);
        FreeAllNetworkObjects(vm.L);
        SetNetworkTimeoutValue(5000);
        echo.join();
        close(listener);
        state.ResumeTiming();
    }
}

}  // namespace

BENCHMARK(BM_ReceiveDataBytes)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK(BM_PlainRecvLoop)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK(BM_LineRoundTrips)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
