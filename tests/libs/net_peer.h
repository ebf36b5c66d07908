// Loopback peers for the network tests: a scripted TCP server on a thread of
// its own and a UDP echo. Every wait of theirs is bounded, so a test that
// goes wrong fails instead of hanging.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

namespace nettest {

constexpr int kPeerWaitMs = 30000;
// How long the peer stays after its steps while the client says nothing.
constexpr int kPeerIdleMs = 1000;
// How long a held peer waits for its release: only a hung test reaches it.
constexpr int kPeerHoldMs = 120000;

struct Step {
    enum Kind { kExpectLine, kSend, kSleep, kHalfClose, kReset, kClose, kHold } kind;
    std::string text;
    int ms = 0;
};

inline Step ExpectLine() { return {Step::kExpectLine, {}, 0}; }
inline Step Send(std::string text) { return {Step::kSend, std::move(text), 0}; }
inline Step Sleep(int ms) { return {Step::kSleep, {}, ms}; }
inline Step HalfClose() { return {Step::kHalfClose, {}, 0}; }
inline Step Reset() { return {Step::kReset, {}, 0}; }
inline Step Close() { return {Step::kClose, {}, 0}; }
// Reads nothing until the test calls Release(): a peer that never reads for
// as long as the test needs, however slowly the machine runs it.
inline Step Hold() { return {Step::kHold, {}, 0}; }

// A socket bound to 127.0.0.1 on a port the system chooses; -1 on failure.
// A socket bound to a free port of a loopback address (127.0.0.1 unless
// another of 127/8 is named: a second host on the same machine).
inline int BindLoopback(int type, int* port, uint32_t address = INADDR_LOOPBACK) {
    const int fd = socket(AF_INET, type | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(address);
    socklen_t len = sizeof a;
    if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
        if (fd >= 0) close(fd);
        return -1;
    }
    *port = ntohs(a.sin_port);
    return fd;
}

// A TCP client connected to the port on 127.0.0.1; -1 on failure.
inline int ConnectTo(int port) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (fd >= 0 && connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0) return fd;
    if (fd >= 0) close(fd);
    return -1;
}

inline bool WaitReadable(int fd, int ms) {
    pollfd p{fd, POLLIN, 0};
    return poll(&p, 1, ms) > 0;
}

// Accepts one client and plays the steps to it; the lines it read are kept.
class ScriptedPeer {
public:
    explicit ScriptedPeer(std::vector<Step> steps) : steps_(std::move(steps)) {
        listener_ = BindLoopback(SOCK_STREAM, &port_);
        if (listener_ >= 0 && listen(listener_, 8) == 0) thread_ = std::thread([this] { Run(); });
    }
    ~ScriptedPeer() {
        if (thread_.joinable()) thread_.join();
        if (listener_ >= 0) close(listener_);
    }
    ScriptedPeer(const ScriptedPeer&) = delete;
    ScriptedPeer& operator=(const ScriptedPeer&) = delete;

    // For a peer that never reads: a small fixed receive window, so that a
    // sender stalls once it is full instead of when the kernel's autotuned
    // buffers (tens of MB on loopback) are.
    void LimitReceiveBuffer(int bytes) { setsockopt(listener_, SOL_SOCKET, SO_RCVBUF, &bytes, sizeof bytes); }

    int port() const { return port_; }
    void Release() { released_ = true; }
    // Valid once the peer is done (after Join).
    const std::vector<std::string>& lines() const { return lines_; }
    void Join() {
        if (thread_.joinable()) thread_.join();
    }

private:
    void Run() {
        if (!WaitReadable(listener_, kPeerWaitMs)) return;
        int fd = accept(listener_, nullptr, nullptr);
        if (fd < 0) return;
        for (const Step& step : steps_) {
            switch (step.kind) {
                case Step::kExpectLine: lines_.push_back(ReadLine(fd)); break;
                case Step::kSend: SendAll(fd, step.text); break;
                case Step::kSleep: std::this_thread::sleep_for(std::chrono::milliseconds(step.ms)); break;
                case Step::kHold:
                    for (int waited = 0; !released_ && waited < kPeerHoldMs; waited += 5)
                        std::this_thread::sleep_for(std::chrono::milliseconds(5));
                    break;
                case Step::kHalfClose: shutdown(fd, SHUT_WR); break;
                case Step::kReset: {
                    linger l{1, 0};
                    setsockopt(fd, SOL_SOCKET, SO_LINGER, &l, sizeof l);
                    close(fd);
                    fd = -1;
                    break;
                }
                case Step::kClose:
                    close(fd);
                    fd = -1;
                    break;
            }
            if (fd < 0) return;
        }
        // Stays while the client still sends, so that nothing it sent is refused.
        char sink[4096];
        while (WaitReadable(fd, kPeerIdleMs) && recv(fd, sink, sizeof sink, 0) > 0) {
        }
        close(fd);
    }
    static std::string ReadLine(int fd) {
        std::string line;
        char c;
        while (WaitReadable(fd, kPeerWaitMs) && recv(fd, &c, 1, 0) == 1 && c != '\n') line += c;
        return line;
    }
    static void SendAll(int fd, const std::string& text) {
        size_t done = 0;
        while (done < text.size()) {
            const ssize_t n = send(fd, text.data() + done, text.size() - done, MSG_NOSIGNAL);
            if (n <= 0) return;
            done += static_cast<size_t>(n);
        }
    }

    std::vector<Step> steps_;
    std::vector<std::string> lines_;
    std::atomic<bool> released_{false};
    int listener_ = -1;
    int port_ = 0;
    std::thread thread_;
};

// Sends every datagram back to its sender, up to count of them.
class UdpEcho {
public:
    explicit UdpEcho(int count) {
        fd_ = BindLoopback(SOCK_DGRAM, &port_);
        if (fd_ >= 0) thread_ = std::thread([this, count] { Run(count); });
    }
    ~UdpEcho() {
        if (thread_.joinable()) thread_.join();
        if (fd_ >= 0) close(fd_);
    }
    UdpEcho(const UdpEcho&) = delete;
    UdpEcho& operator=(const UdpEcho&) = delete;
    int port() const { return port_; }

private:
    void Run(int count) {
        for (int i = 0; i < count && WaitReadable(fd_, kPeerWaitMs); ++i) {
            char buf[9000];
            sockaddr_in from{};
            socklen_t len = sizeof from;
            const ssize_t n = recvfrom(fd_, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&from), &len);
            if (n < 0) return;
            sendto(fd_, buf, static_cast<size_t>(n), 0, reinterpret_cast<sockaddr*>(&from), len);
        }
    }
    int fd_ = -1;
    int port_ = 0;
    std::thread thread_;
};

}  // namespace nettest
