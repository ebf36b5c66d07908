// A download into a string whose declared length the VM cannot hold is
// refused before its body is read; onto a file the length is no bound.
#include <filesystem>

#include "core/scratch.h"
#include "libs/transfer_fixture.h"
#include "peak_memory.h"

namespace {

using namespace nettest;
using TransferLengthTest = TransferTest;

// Answers one request with a 2^63-byte Content-Length, then sends zeros
// from a small buffer until `limit` bytes went out or the client left.
class HugeBodyPeer {
public:
    explicit HugeBodyPeer(size_t limit) : limit_(limit) {
        listener_ = BindLoopback(SOCK_STREAM, &port_);
        if (listener_ >= 0 && listen(listener_, 4) == 0) thread_ = std::thread([this] { Run(); });
    }
    ~HugeBodyPeer() {
        if (thread_.joinable()) thread_.join();
        if (listener_ >= 0) close(listener_);
    }
    std::string url() const { return "http://127.0.0.1:" + std::to_string(port_) + "/huge"; }

private:
    void Run() {
        if (!WaitReadable(listener_, kPeerWaitMs)) return;
        const int fd = accept(listener_, nullptr, nullptr);
        if (fd < 0) return;
        std::string head;
        char c;
        while (head.find("\r\n\r\n") == std::string::npos && WaitReadable(fd, kPeerWaitMs) && recv(fd, &c, 1, 0) == 1)
            head += c;
        const std::string answer = "HTTP/1.1 200 OK\r\nContent-Length: 9223372036854775808\r\n\r\n";
        send(fd, answer.data(), answer.size(), MSG_NOSIGNAL);
        const std::string zeros(65536, '\0');
        for (size_t sent = 0; sent < limit_;) {
            const ssize_t n = send(fd, zeros.data(), std::min(zeros.size(), limit_ - sent), MSG_NOSIGNAL);
            if (n <= 0) break;
            sent += static_cast<size_t>(n);
        }
        close(fd);
    }
    size_t limit_;
    int listener_ = -1;
    int port_ = 0;
    std::thread thread_;
};

TEST_F(TransferLengthTest, ALengthNoStringHoldsIsRefusedUnread) {
    // Enough that reading it into memory shows in the peak.
    HugeBodyPeer peer(size_t{200} << 20);
    int err = 0;
    const uint64_t growth = PeakGrowth([&] { err = Download(peer.url()); });
    EXPECT_EQ(err, ERR_MEM);
    EXPECT_LT(growth, uint64_t{100} << 20);
}

TEST_F(TransferLengthTest, OntoAFileTheLengthIsNoBound) {
    const ScratchDir scratch;
    const std::string path = scratch / "huge.bin";
    HugeBodyPeer peer(1000);
    EXPECT_EQ(Download(peer.url(), [&](ScriptState* S) { SetString(S, "file", path); }), ERR_RECVCLOSED);
}

}  // namespace
