// Script text bound for an HTTP request's head: a value that would add a
// line of its own is refused before anything connects, custom header lines
// go out as lines, and a file's own name is escaped inside its part's head.
#include <cstdio>
#include <fstream>

#include "libs/transfer_fixture.h"

namespace {

using namespace nettest;
using TransferFieldsTest = TransferTest;

// Takes one request and answers it: the head and body it read are kept.
class CapturePeer {
public:
    CapturePeer() {
        listener_ = BindLoopback(SOCK_STREAM, &port_);
        if (listener_ >= 0) listen(listener_, 4);
    }
    ~CapturePeer() {
        Join();
        if (listener_ >= 0) close(listener_);
    }
    std::string url(const std::string& path = "/x") const {
        return "http://127.0.0.1:" + std::to_string(port_) + path;
    }
    void Serve() {
        thread_ = std::thread([this] { Run(); });
    }
    void Join() {
        if (thread_.joinable()) thread_.join();
    }
    // Whether a client waits to be accepted: a refused call never connected.
    bool Knocked() const { return WaitReadable(listener_, 0); }
    std::string request;

private:
    void Run() {
        if (!WaitReadable(listener_, kPeerWaitMs)) return;
        const int fd = accept(listener_, nullptr, nullptr);
        if (fd < 0) return;
        char piece[4096];
        size_t end = std::string::npos;
        size_t length = 0;
        while (WaitReadable(fd, kPeerWaitMs)) {
            const ssize_t n = recv(fd, piece, sizeof piece, 0);
            if (n <= 0) break;
            request.append(piece, static_cast<size_t>(n));
            if (end == std::string::npos && (end = request.find("\r\n\r\n")) != std::string::npos) {
                const size_t at = request.find("Content-Length: ");
                length = at < end ? std::stoul(request.substr(at + 16)) : 0;
            }
            if (end != std::string::npos && request.size() >= end + 4 + length) break;
        }
        const std::string answer = "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok";
        send(fd, answer.data(), answer.size(), MSG_NOSIGNAL);
        close(fd);
    }
    int listener_ = -1;
    int port_ = 0;
    std::thread thread_;
};

FillOptions Field(const char* key, std::string value) {
    return [key, value](ScriptState* S) {
        SetString(S, key, value);
        if (std::string(key) == "posttype") SetString(S, "post", "a=1");
    };
}

FillOptions Part(std::vector<std::pair<std::string, std::string>> fields) {
    return [fields](ScriptState* S) {
        VmPushString(S, "formdata");
        VmPushNewTable(S);
        VmPushNumber(S, 1);
        VmPushNewTable(S);
        for (const auto& [key, value] : fields) SetString(S, key.c_str(), value);
        VmRawSet(S, -3);
        VmRawSet(S, -3);
    };
}

FillOptions Encoded() {
    return [](ScriptState* S) { SetFlag(S, "encoded"); };
}

TEST_F(TransferFieldsTest, LineBreaksInFieldsAreRefusedBeforeConnecting) {
    CapturePeer peer;
    const std::string injected = std::string("x\r\nX-Injected: 1");
    for (const std::string& bad : {injected, std::string("x\ny"), std::string("x\ry"), std::string("x\0y", 3)}) {
        for (const char* key : {"useragent", "posttype"}) {
            EXPECT_EQ(Download(peer.url(), Field(key, bad)), ERR_WRONGUSAGE) << key;
        }
        EXPECT_EQ(Upload(peer.url(), Part({{"name", bad}, {"data", "d"}})), ERR_WRONGUSAGE);
        EXPECT_EQ(Upload(peer.url(), Part({{"name", "n"}, {"data", "d"}, {"mimetype", "t/p"}, {"filealias", bad}})),
                  ERR_WRONGUSAGE);
        EXPECT_EQ(Upload(peer.url(), Part({{"name", "n"}, {"data", "d"}, {"mimetype", bad}, {"filealias", "a"}})),
                  ERR_WRONGUSAGE);
    }
    // Custom headers are lines: only a break that is not a line's closing
    // CR LF, a NUL or an empty line (the end of the head) is refused.
    for (const std::string& bad : {std::string("A: 1\nB: 2\r\n"), std::string("A: 1\rB: 2"),
                                   std::string("A: 1\r\n\r\nGET /other HTTP/1.1"), std::string("\r\n"),
                                   std::string("A: 1\0B", 6)})
        EXPECT_EQ(Download(peer.url(), Field("customheaders", bad)), ERR_WRONGUSAGE);
    // An escaped URL hands its blanks on as they are.
    EXPECT_EQ(Download(peer.url("/a b"), Encoded()), ERR_WRONGUSAGE);
    EXPECT_EQ(Download(peer.url("/a\tHTTP/1.0"), Encoded()), ERR_WRONGUSAGE);
    EXPECT_EQ(Download("http://127.0.0.1 :" + peer.url().substr(17), Encoded()), ERR_WRONGUSAGE);
    // Every byte below 0x21 and DEL, in the path, the query and (through
    // a proxy, where the whole URL is the target) the user part: a peer may
    // take a vertical tab or form feed for the blank that ends the target.
    for (const char* bad : {"/a\x0b", "/a\x0c", "/a?q=\x7f", "/a\x01", "/a\x1f"})
        EXPECT_EQ(Download(peer.url(bad), Encoded()), ERR_WRONGUSAGE) << bad;
    static std::string proxy;
    proxy = "http://127.0.0.1:" + peer.url().substr(17, peer.url().find('/', 17) - 17);
    const FillOptions viaProxy = [](ScriptState* S) {
        SetFlag(S, "encoded");
        SetString(S, "proxy", proxy);
    };
    EXPECT_EQ(Download("http://u\x0bs:p@example.invalid/", viaProxy), ERR_WRONGUSAGE);
    EXPECT_EQ(Download("http://u s:p@example.invalid/", viaProxy), ERR_WRONGUSAGE);
    EXPECT_FALSE(peer.Knocked());
}

// Bytes above 0x7F are parts of UTF-8 characters: "\xC3\x85" (Å) goes out
// as it is.
TEST_F(TransferFieldsTest, HighBytesPassInAnEncodedTarget) {
    CapturePeer peer;
    peer.Serve();
    ASSERT_EQ(Download(peer.url("/\xC3\x85"), Encoded()), 0);
    peer.Join();
    EXPECT_EQ(peer.request.rfind("GET /\xC3\x85 HTTP/1.1\r\n", 0), 0u) << peer.request;
}

TEST_F(TransferFieldsTest, CustomHeadersGoOutAsLines) {
    CapturePeer peer;
    peer.Serve();
    const FillOptions fill = [](ScriptState* S) {
        SetString(S, "customheaders", "X-A: 1\r\nX-B: 2");
        SetFlag(S, "encoded");
    };
    ASSERT_EQ(Download(peer.url("/a%20b"), fill), 0);
    peer.Join();
    EXPECT_EQ(peer.request.rfind("GET /a%20b HTTP/1.1\r\nX-A: 1\r\nX-B: 2\r\nTE: trailers\r\n", 0), 0u)
        << peer.request;
}

TEST_F(TransferFieldsTest, FileNameIsEscapedInThePartHead) {
    const std::string dir = ::testing::TempDir();
    const std::string name = "up\r\nX-Injected \"1\".txt";
    std::ofstream(dir + name, std::ios::binary) << "body";
    CapturePeer peer;
    peer.Serve();
    ASSERT_EQ(Upload(peer.url(), Part({{"name", "a\"b"}, {"file", dir + name}})), 0);
    peer.Join();
    EXPECT_NE(peer.request.find("Content-Disposition: form-data; name=\"a%22b\"; "
                                "filename=\"up%0D%0AX-Injected %221%22.txt\"\r\n"
                                "Content-Type: application/octet-stream\r\n\r\nbody\r\n"),
              std::string::npos)
        << peer.request;
    EXPECT_EQ(peer.request.find("\nX-Injected"), std::string::npos);
    std::remove((dir + name).c_str());
}

}  // namespace
