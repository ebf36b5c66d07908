// Time to answer a new client while 100, 1,000 or 5,000 others stay
// connected: the player's server (a thread that steps the dispatcher's
// network hooks, receives the line with ReceiveData, sends it back with
// SendData and closes clients that left, waiting in the dispatcher's
// network wait; the script handlers' calls are left out) beside a Python asyncio
// line-echo server (epoll) on the same machine. Each iteration connects one
// more client, sends a line and waits for it to come back.
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "core/vmhost.h"
#include "display/eventsources.h"
#include "libs/netcommands.h"
#include "libs/network.h"
#include "vm/vm.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr const char* kAsyncioServer = R"(
import asyncio, resource
soft, hard = resource.getrlimit(resource.RLIMIT_NOFILE)
resource.setrlimit(resource.RLIMIT_NOFILE, (hard, hard))
async def echo(reader, writer):
    while True:
        line = await reader.readline()
        if not line:
            break
        writer.write(line)
        await writer.drain()
    writer.close()
async def main():
    server = await asyncio.start_server(echo, '127.0.0.1', 0, backlog=4096)
    print('port', server.sockets[0].getsockname()[1], flush=True)
    await server.serve_forever()
asyncio.run(main())
)";

void RaiseDescriptorLimit() {
    rlimit limit{};
    getrlimit(RLIMIT_NOFILE, &limit);
    limit.rlim_cur = limit.rlim_max;
    setrlimit(RLIMIT_NOFILE, &limit);
}

int Connect(int port) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<uint16_t>(port));
    if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

// One new client's round trip, in seconds; negative when it failed.
double AnswerTime(int port) {
    const auto start = Clock::now();
    const int fd = Connect(port);
    if (fd < 0) return -1;
    const char line[] = "ping\n";
    if (send(fd, line, sizeof line - 1, MSG_NOSIGNAL) != sizeof line - 1) {
        close(fd);
        return -1;
    }
    std::string back;
    char piece[64];
    while (back.find('\n') == std::string::npos) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, 60000) <= 0) break;
        const ssize_t n = recv(fd, piece, sizeof piece, 0);
        if (n <= 0) break;
        back.append(piece, static_cast<size_t>(n));
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    close(fd);
    return back == "ping\n" ? seconds : -1;
}

// The player's server on its own thread: the only thread that touches the
// player.
class PlayerServer {
public:
    PlayerServer() {
        thread_ = std::thread([this] { Run(); });
        while (port_.load() == 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ~PlayerServer() {
        stop_ = true;
        thread_.join();
    }
    int port() const { return port_.load(); }
    int accepted() const { return accepted_.load(); }

private:
    static int Call(ScriptState* L, CommandHandler fn, int nargs) {
        VmPushCClosure(L, fn, 0);
        VmInsert(L, -(nargs + 1));
        return VmPCall(L, nargs, kMultRet, 0);
    }
    void Run() {
        InstallVmHost();
        ScriptState* L = VmOpen();
        VmPushValue(L, kGlobalsIndex);
        InitNetworkLibrary(L);
        VmSetTop(L, 0);
        SetNetworkTimeoutValue(5000);
        VmPushNumber(L, 1);
        VmPushNumber(L, 0);
        VmPushString(L, "127.0.0.1");
        VmPushNumber(L, 4096);
        if (Call(L, cmdCreateServer, 4) != 0) {
            port_ = -1;
            return;
        }
        VmSetTop(L, 0);
        VmPushNumber(L, 1);
        VmPushNumber(L, kNetworkServer);
        Call(L, cmdGetLocalPort, 2);
        const int port = static_cast<int>(VmToNumber(L, -1));
        VmSetTop(L, 0);
        const qbEventSourceHooks hooks = GetEventSourceHooks();
        port_ = port;
        while (!stop_) {
            size_t cursor = 0;
            ObjectID server, client, id;
            while (hooks.nextServerClient(&cursor, &server, &client)) ++accepted_;
            cursor = 0;
            while (hooks.nextConnectionData(&cursor, &id)) {
                VmSetTop(L, 0);
                VmPushLightUserdata(L, id.handle);
                VmPushNumber(L, kReceiveLine);
                if (Call(L, cmdReceiveData, 2) != 0 || VmToNumber(L, 3) != 1) continue;
                const std::string line = std::string(VmToCString(L, 1), VmStrLen(L, 1)) + "\n";
                VmSetTop(L, 0);
                VmPushLightUserdata(L, id.handle);
                VmPushLString(L, line.data(), line.size());
                Call(L, cmdSendData, 2);
            }
            // A client that left is closed, as a script's "OnDisconnect" does.
            cursor = 0;
            while (hooks.nextConnectionClosed(&cursor, &id)) {
                VmSetTop(L, 0);
                VmPushLightUserdata(L, id.handle);
                Call(L, cmdCloseConnection, 1);
            }
            VmSetTop(L, 0);
            WaitForNetwork(1);
        }
        FreeAllNetworkObjects(L);
        VmClose(L);
    }
    std::thread thread_;
    std::atomic<int> port_{0};
    std::atomic<int> accepted_{0};
    std::atomic<bool> stop_{false};
};

// Python's asyncio server, stopped by its pid.
class AsyncioServer {
public:
    AsyncioServer() {
        int out[2];
        if (pipe(out) != 0) return;
        pid_ = fork();
        if (pid_ == 0) {
            dup2(out[1], 1);
            execl("/usr/bin/python3", "python3", "-c", kAsyncioServer, static_cast<char*>(nullptr));
            _exit(127);
        }
        close(out[1]);
        std::string first;
        char c;
        pollfd p{out[0], POLLIN, 0};
        while (poll(&p, 1, 10000) > 0 && read(out[0], &c, 1) == 1 && c != '\n') first += c;
        close(out[0]);
        if (first.rfind("port ", 0) == 0) port_ = std::atoi(first.c_str() + 5);
    }
    ~AsyncioServer() {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            waitpid(pid_, nullptr, 0);
        }
    }
    int port() const { return port_; }

private:
    pid_t pid_ = -1;
    int port_ = 0;
};

// Opens n clients that stay connected and say nothing.
std::vector<int> Hold(int port, int n) {
    std::vector<int> held;
    for (int i = 0; i < n; ++i) {
        const int fd = Connect(port);
        if (fd < 0) break;
        held.push_back(fd);
    }
    return held;
}

void Measure(benchmark::State& state, int port, std::vector<int>& held) {
    if (static_cast<int64_t>(held.size()) != state.range(0)) {
        state.SkipWithError("could not open the idle clients");
        return;
    }
    // The server has taken every idle client once a fresh one is answered.
    if (AnswerTime(port) < 0) state.SkipWithError("no answer");
    std::vector<double> times;
    for (auto _ : state) {
        const double seconds = AnswerTime(port);
        if (seconds < 0) {
            state.SkipWithError("no answer");
            break;
        }
        state.SetIterationTime(seconds);
        times.push_back(seconds);
    }
    // A loaded machine's outliers move the mean; the median and the 90th
    // percentile say more.
    if (!times.empty()) {
        std::sort(times.begin(), times.end());
        state.counters["median_us"] = times[times.size() / 2] * 1e6;
        state.counters["p90_us"] = times[times.size() * 9 / 10] * 1e6;
    }
    for (int fd : held) close(fd);
}

void BM_PlayerAnswersANewClient(benchmark::State& state) {
    RaiseDescriptorLimit();
    PlayerServer server;
    std::vector<int> held = Hold(server.port(), static_cast<int>(state.range(0)));
    while (server.accepted() < static_cast<int>(held.size()))
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    Measure(state, server.port(), held);
}

void BM_AsyncioAnswersANewClient(benchmark::State& state) {
    RaiseDescriptorLimit();
    AsyncioServer server;
    if (server.port() <= 0) {
        state.SkipWithError("no python3 asyncio server");
        return;
    }
    std::vector<int> held = Hold(server.port(), static_cast<int>(state.range(0)));
    Measure(state, server.port(), held);
}

}  // namespace

BENCHMARK(BM_PlayerAnswersANewClient)
    ->Arg(100)->Arg(1000)->Arg(5000)->UseManualTime()->Iterations(200)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_AsyncioAnswersANewClient)
    ->Arg(100)->Arg(1000)->Arg(5000)->UseManualTime()->Iterations(200)->Unit(benchmark::kMicrosecond);
