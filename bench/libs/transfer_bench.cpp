// DownloadFile over loopback HTTP: 256 MB from a server thread that sends
// from memory (so the server is never the limit), once with Content-Length
// and once chunked, into a script string and into a file, against
// `curl -s -o /dev/null` on the same URLs in the same run; and the same
// file through Python's http.server for reference.
// QB_BENCH_NET_SCALE (default 1) divides the 256 MB for a quick run.
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "../../tests/libs/python_server.h"
#include "core/vmhost.h"
#include "libs/network.h"
#include "libs/transfer.h"
#include "vm/vm.h"

namespace {

constexpr size_t kMB = 1 << 20;
constexpr size_t kChunk = 64 * 1024;

size_t Bytes() {
    const char* s = std::getenv("QB_BENCH_NET_SCALE");
    const long v = s ? std::atol(s) : 1;
    return 256 * kMB / static_cast<size_t>(v > 0 ? v : 1);
}

bool SendAll(int fd, const char* p, size_t n) {
    while (n > 0) {
        const ssize_t k = send(fd, p, n, MSG_NOSIGNAL);
        if (k <= 0) return false;
        p += k;
        n -= static_cast<size_t>(k);
    }
    return true;
}

// Serves "/length" and "/chunked" from memory to one client at a time
// until it is destroyed.
class MemoryServer {
public:
    explicit MemoryServer(size_t bytes) : bytes_(bytes), block_(kChunk, 'd') {
        listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof a;
        bind(listener_, reinterpret_cast<sockaddr*>(&a), sizeof a);
        listen(listener_, 8);
        getsockname(listener_, reinterpret_cast<sockaddr*>(&a), &len);
        port_ = ntohs(a.sin_port);
        char head[32];
        std::snprintf(head, sizeof head, "%zx\r\n", kChunk);
        chunk_ = head + block_ + "\r\n";
        thread_ = std::thread([this] { Run(); });
    }
    ~MemoryServer() {
        stop_ = true;
        thread_.join();
        close(listener_);
    }
    std::string url(const char* path) const { return "http://127.0.0.1:" + std::to_string(port_) + path; }

private:
    void Run() {
        while (!stop_) {
            pollfd p{listener_, POLLIN, 0};
            if (poll(&p, 1, 50) <= 0) continue;
            const int fd = accept(listener_, nullptr, nullptr);
            if (fd < 0) continue;
            std::string request;
            char c;
            while (request.find("\r\n\r\n") == std::string::npos && recv(fd, &c, 1, 0) == 1) request += c;
            if (request.find(" /chunked ") != std::string::npos) {
                const std::string head = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n";
                bool ok = SendAll(fd, head.data(), head.size());
                for (size_t sent = 0; ok && sent < bytes_; sent += kChunk)
                    ok = SendAll(fd, chunk_.data(), chunk_.size());
                if (ok) SendAll(fd, "0\r\n\r\n", 5);
            } else {
                const std::string head = "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(bytes_) + "\r\n\r\n";
                bool ok = SendAll(fd, head.data(), head.size());
                for (size_t sent = 0; ok && sent < bytes_; sent += kChunk)
                    ok = SendAll(fd, block_.data(), std::min(kChunk, bytes_ - sent));
            }
            shutdown(fd, SHUT_WR);
            while (recv(fd, &c, 1, 0) > 0) {
            }
            close(fd);
        }
    }
    size_t bytes_;
    std::string block_;
    std::string chunk_;
    int listener_ = -1;
    int port_ = 0;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

std::string TempFile() { return (std::filesystem::temp_directory_path() / "qb_transfer_bench.bin").string(); }

// DownloadFile(url[, {file = ...}]); the byte count, 0 on failure.
double Download(ScriptState* L, const std::string& url, bool intoFile) {
    VmSetTop(L, 0);
    VmPushCClosure(L, cmdDownloadFile, 0);
    VmPushString(L, url.c_str());
    VmPushNewTable(L);
    if (intoFile) {
        VmPushString(L, "file");
        VmPushString(L, TempFile().c_str());
        VmRawSet(L, -3);
    }
    if (VmPCall(L, 2, kMultRet, 0) != 0) return 0;
    const double n = VmToNumber(L, 2);
    VmSetTop(L, 0);
    return n;
}

void RunDownloads(benchmark::State& state, const std::string& url, size_t bytes, bool intoFile) {
    ScriptState* L = VmOpen();
    InstallVmHost();
    EnsureSocketLayer();
    InitTransferEngine();
    SetNetworkTimeoutValue(5000);
    for (auto _ : state) {
        if (Download(L, url, intoFile) != static_cast<double>(bytes)) state.SkipWithError("short download");
        // The result is garbage from here on: collected outside the timing,
        // so that the next download neither compares its equal bytes against
        // it when interning nor pays for its release.
        state.PauseTiming();
        VmSetGcThreshold(L, 0);
        state.ResumeTiming();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes));
    FreeAllNetworkObjects(L);
    VmClose(L);
    std::remove(TempFile().c_str());
}

void RunCurl(benchmark::State& state, const std::string& url, size_t bytes, bool intoFile) {
    const std::string command = "curl -s -o " + (intoFile ? TempFile() : std::string("/dev/null")) + " " + url;
    for (auto _ : state)
        if (std::system(command.c_str()) != 0) state.SkipWithError("curl failed");
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes));
    std::remove(TempFile().c_str());
}

void BM_DownloadFile(benchmark::State& state) {
    const size_t bytes = Bytes();
    MemoryServer server(bytes);
    RunDownloads(state, server.url(state.range(0) ? "/chunked" : "/length"), bytes, state.range(1) != 0);
}

void BM_Curl(benchmark::State& state) {
    const size_t bytes = Bytes();
    MemoryServer server(bytes);
    RunCurl(state, server.url(state.range(0) ? "/chunked" : "/length"), bytes, state.range(1) != 0);
}

// Python's http.server serving a file of the same size, for reference.
void BM_PythonServer(benchmark::State& state) {
    const size_t bytes = Bytes();
    const std::filesystem::path dir = std::filesystem::temp_directory_path() / "qb_transfer_bench_served";
    std::filesystem::create_directories(dir);
    {
        std::ofstream out(dir / "data.bin", std::ios::binary);
        const std::string block(kChunk, 'p');
        for (size_t done = 0; done < bytes; done += kChunk)
            out.write(block.data(), static_cast<std::streamsize>(std::min(kChunk, bytes - done)));
    }
    {
        nettest::PythonServer python(
            {"-u", "-m", "http.server", "0", "--bind", "127.0.0.1", "--directory", dir.string()});
        const std::string url = "http://127.0.0.1:" + std::to_string(python.port()) + "/data.bin";
        if (python.port() == 0)
            state.SkipWithError("no python3");
        else if (state.range(0))
            RunCurl(state, url, bytes, false);
        else
            RunDownloads(state, url, bytes, false);
    }
    std::filesystem::remove_all(dir);
}

}  // namespace

// Arguments: {chunked, into a file}.
BENCHMARK(BM_DownloadFile)
    ->ArgsProduct({{0, 1}, {0, 1}})
    ->ArgNames({"chunked", "file"})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(3);
BENCHMARK(BM_Curl)
    ->ArgsProduct({{0, 1}, {0, 1}})
    ->ArgNames({"chunked", "file"})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(3);
// Argument: 0 DownloadFile, 1 curl.
BENCHMARK(BM_PythonServer)
    ->Arg(0)
    ->Arg(1)
    ->ArgName("curl")
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(3);
