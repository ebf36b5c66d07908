// DownloadFile over HTTP against loopback servers the tests start: a
// scripted server thread for exact and hostile answers, and Python's
// http.server for real files.
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>

#include "display/eventlib.h"
#include "libs/transfer_fixture.h"

namespace {

using namespace nettest;

// Answers each of its connections with the next of its responses after
// reading the request head, which it keeps. An endless response repeats
// its text until the client goes away.
class HttpPeer {
public:
    struct Answer {
        Answer(std::string t, bool e = false, int ms = 0, std::string b = {}, int stall = 0)
            : text(std::move(t)), endless(e), trickleMs(ms), body(std::move(b)), stallMs(stall) {}
        std::string text;
        bool endless;   // sends text, then body until the client goes away
        int trickleMs;  // then sends the body one byte per pause
        std::string body;
        int stallMs;  // then says nothing for this long (or until the client goes)
                      // before closing
    };
    explicit HttpPeer(std::vector<Answer> answers, uint32_t address = INADDR_LOOPBACK)
        : answers_(std::move(answers)), host_(address == INADDR_LOOPBACK ? "127.0.0.1" : "127.0.0.2") {
        listener_ = BindLoopback(SOCK_STREAM, &port_, address);
        if (listener_ >= 0 && listen(listener_, 8) == 0) thread_ = std::thread([this] { Run(); });
    }
    ~HttpPeer() {
        if (thread_.joinable()) thread_.join();
        if (listener_ >= 0) close(listener_);
    }
    int port() const { return port_; }
    bool listening() const { return thread_.joinable(); }
    std::string url(const std::string& path = "/") const {
        return "http://" + host_ + ":" + std::to_string(port_) + path;
    }
    const std::vector<std::string>& requests() {
        if (thread_.joinable()) thread_.join();
        return requests_;
    }

private:
    void Run() {
        for (const Answer& a : answers_) {
            if (!WaitReadable(listener_, kPeerWaitMs)) return;
            const int fd = accept(listener_, nullptr, nullptr);
            if (fd < 0) return;
            std::string head;
            char c;
            while (head.find("\r\n\r\n") == std::string::npos && WaitReadable(fd, kPeerWaitMs) &&
                   recv(fd, &c, 1, 0) == 1)
                head += c;
            requests_.push_back(head);
            if (a.endless) {
                SendAll(fd, a.text);
                for (int i = 0; i < 100000 && send(fd, a.body.data(), a.body.size(), MSG_NOSIGNAL) > 0; ++i) {
                }
            } else if (a.trickleMs) {
                SendAll(fd, a.text);
                for (char b : a.body) {
                    if (send(fd, &b, 1, MSG_NOSIGNAL) != 1) break;
                    std::this_thread::sleep_for(std::chrono::milliseconds(a.trickleMs));
                }
            } else {
                SendAll(fd, a.text);
            }
            if (a.stallMs) WaitReadable(fd, a.stallMs);  // ends early once the client gives up
            shutdown(fd, SHUT_WR);
            char sink[4096];
            while (WaitReadable(fd, kPeerIdleMs) && recv(fd, sink, sizeof sink, 0) > 0) {
            }
            close(fd);
        }
    }
    static void SendAll(int fd, const std::string& text) {
        size_t done = 0;
        while (done < text.size()) {
            const ssize_t n = send(fd, text.data() + done, text.size() - done, MSG_NOSIGNAL);
            if (n <= 0) return;
            done += static_cast<size_t>(n);
        }
    }
    std::vector<Answer> answers_;
    std::string host_;
    std::vector<std::string> requests_;
    int listener_ = -1;
    int port_ = 0;
    std::thread thread_;
};

std::string Ok(const std::string& body) {
    return "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

using TransferHttpTest = TransferTest;

TEST_F(TransferHttpTest, LengthAndChunkedBodies) {
    std::string body(300000, '\0');
    std::mt19937 random(7);
    for (char& b : body) b = static_cast<char>(random());
    HttpPeer peer({{Ok(body)},
                   {"HTTP/1.1 200 OK\r\nTransfer-Encoding: "
                    "chunked\r\n\r\n5\r\nhello\r\n0\r\n\r\n"}});
    ASSERT_EQ(Download(peer.url("/data.bin"), nullptr, true), 0);
    EXPECT_TRUE(Text(1) == body);
    EXPECT_EQ(Number(2), body.size());
    EXPECT_EQ(seen.total, body.size());
    EXPECT_EQ(seen.count, body.size());
    ASSERT_EQ(Download(peer.url()), 0);
    EXPECT_EQ(Text(1), "hello");
    EXPECT_EQ(Number(2), 5);
    const auto& requests = peer.requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].rfind("GET /data.bin HTTP/1.1\r\nTE: trailers\r\nConnection: "
                                "close, TE\r\nHost: 127.0.0.1:",
                                0),
              0u)
        << requests[0];
}

TEST_F(TransferHttpTest, IntoAFile) {
    const std::string path = ::testing::TempDir() + "transfer_http_file.bin";
    HttpPeer peer(std::vector<HttpPeer::Answer>{{Ok("file body")}});
    VmSetTop(L, 0);
    VmPushString(L, peer.url().c_str());
    VmPushNewTable(L);
    VmPushString(L, "file");
    VmPushString(L, path.c_str());
    VmRawSet(L, -3);
    ASSERT_EQ(Call(cmdDownloadFile, 2), 0);
    EXPECT_EQ(Text(1), "");
    EXPECT_EQ(Number(2), 9);
    std::ifstream in(path, std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "file body");
    std::remove(path.c_str());
}

TEST_F(TransferHttpTest, RedirectsStopAfterFive) {
    std::vector<HttpPeer::Answer> answers;
    answers.push_back(
        {"HTTP/1.1 302 Found\r\nLocation: "
         "next.html\r\nContent-Length: 0\r\n\r\n"});
    for (int i = 0; i < 5; ++i)
        answers.push_back(
            {"HTTP/1.1 302 Found\r\nLocation: /r" + std::to_string(i) + "\r\nContent-Length: 5\r\n\r\nsixth"});
    HttpPeer peer(answers);
    ASSERT_EQ(Download(peer.url("/dir/start")), 0);
    EXPECT_EQ(Text(1), "sixth");
    const auto& requests = peer.requests();
    ASSERT_EQ(requests.size(), 6u);
    EXPECT_EQ(requests[1].rfind("GET /dir/next.html ", 0), 0u);
    EXPECT_EQ(requests[5].rfind("GET /r3 ", 0), 0u);
}

// Credentials the script put in its custom headers go to the host, port
// and scheme it named, and to no other a redirect names; the other lines
// follow every redirect.
TEST_F(TransferHttpTest, CredentialHeadersStayWithTheirOrigin) {
    constexpr uint32_t kSecondHost = 0x7F000002;  // 127.0.0.2
    HttpPeer far(std::vector<HttpPeer::Answer>{{Ok("far")}}, kSecondHost);
    if (!far.listening()) GTEST_SKIP() << "127.0.0.2 cannot be bound here";
    HttpPeer otherPort(std::vector<HttpPeer::Answer>{{Ok("port")}});
    HttpPeer origin({{"HTTP/1.1 302 Found\r\nLocation: /same\r\nContent-Length: 0\r\n\r\n"},
                     {"HTTP/1.1 301 Moved\r\nLocation: " + far.url("/far") + "\r\nContent-Length: 0\r\n\r\n"},
                     {"HTTP/1.1 302 Found\r\nLocation: " + otherPort.url("/p") + "\r\nContent-Length: 0\r\n\r\n"}});
    const FillOptions headers = [](ScriptState* S) {
        SetString(S, "customheaders",
                  "Authorization: Bearer T\r\nX-Keep: 1\r\ncookie: s=C\r\nPROXY-Authorization : Basic Z\r\n");
    };
    ASSERT_EQ(Download(origin.url("/start"), headers), 0);
    EXPECT_EQ(Text(1), "far");
    ASSERT_EQ(Download(origin.url("/again"), headers), 0);
    EXPECT_EQ(Text(1), "port");
    const auto& mine = origin.requests();
    ASSERT_EQ(mine.size(), 3u);
    const std::string all = "\r\nAuthorization: Bearer T\r\nX-Keep: 1\r\ncookie: s=C\r\nPROXY-Authorization : Basic Z\r\n";
    for (const std::string& r : mine) EXPECT_NE(r.find(all), std::string::npos) << r;
    EXPECT_EQ(mine[1].rfind("GET /same ", 0), 0u);
    for (const std::string& r : {far.requests().at(0), otherPort.requests().at(0)}) {
        EXPECT_NE(r.find("\r\nX-Keep: 1\r\n"), std::string::npos) << r;
        for (const char* credential : {"Authorization", "uthorization", "ookie", "Bearer", "s=C"})
            EXPECT_EQ(r.find(credential), std::string::npos) << credential << " in " << r;
    }
}

// A Location is a request target like the script's URL: with "encoded" it
// passes its bytes on, so a control byte in it is refused before the next
// request; escaped, it goes out as %0b.
TEST_F(TransferHttpTest, AControlByteInALocationIsRefusedOrEscaped) {
    const std::string moved = "HTTP/1.1 302 Found\r\nLocation: /a\x0b" "b\r\nContent-Length: 0\r\n\r\n";
    HttpPeer peer({{moved}, {moved}, {Ok("escaped")}});
    EXPECT_EQ(Download(peer.url(), [](ScriptState* S) { SetFlag(S, "encoded"); }), ERR_WRONGUSAGE);
    ASSERT_EQ(Download(peer.url()), 0);
    EXPECT_EQ(Text(1), "escaped");
    const auto& r = peer.requests();
    ASSERT_EQ(r.size(), 3u);
    EXPECT_EQ(r[2].rfind("GET /a%0bb HTTP/1.1\r\n", 0), 0u) << r[2];
}

// A progress callback is a callback: WaitEvent inside it is refused with
// ERR_WRONGUSAGE (1055), as in every other callback, and the transfer
// goes on.
int waitEventAnswer = -1;
int WaitEventInProgress(ScriptState* L) {
    // A quit request ends any wait, so that a WaitEvent let through returns
    // (no display gives it events here) instead of holding the test.
    SetEventQuitRequested(true);
    VmPushCClosure(L, cmdWaitEvent, 0);
    waitEventAnswer = VmPCall(L, 0, 0, 0);
    SetEventQuitRequested(false);
    VmPushNumber(L, 0);
    return 1;
}

TEST_F(TransferHttpTest, WaitEventInAProgressCallbackIsRefused) {
    HttpPeer peer(std::vector<HttpPeer::Answer>{{Ok("body")}});
    VmSetTop(L, 0);
    VmPushString(L, peer.url().c_str());
    VmPushNewTable(L);
    VmPushCClosure(L, WaitEventInProgress, 0);
    ASSERT_EQ(Call(cmdDownloadFile, 3), 0);
    EXPECT_EQ(Text(1), "body");
    EXPECT_EQ(waitEventAnswer, ERR_WRONGUSAGE);
}

TEST_F(TransferHttpTest, StatusAnswers) {
    HttpPeer peer({{"HTTP/1.1 404 Not Found\r\nContent-Length: 4\r\n\r\ngone"},
                   {"HTTP/1.1 404 Not Found\r\n\r\n"},
                   {"HTTP/1.1 204 No Content\r\n\r\n"},
                   {"HTTQ/1.1 200 OK\r\n\r\n"},
                   {"HTTP/1.1 200 OK\r\nTransfer-Encoding: gzip\r\n\r\n"},
                   {"HTTP/1.1 401 Unauthorized\r\n\r\n"},
                   {"HTTP/1.1 100 Continue\r\nX: y\r\n\r\nHTTP/1.1 200 "
                    "OK\r\n\r\nuntil close"}});
    ASSERT_EQ(Download(peer.url("/a b")), 0);
    EXPECT_EQ(Text(1), "gone");
    EXPECT_EQ(Download(peer.url("/missing file"),
                       [](ScriptState* S) {
                           VmPushString(S, "fail404");
                           VmPushBoolean(S, 1);
                           VmRawSet(S, -3);
                       }),
              ERR_FILENOTFOUND);
    EXPECT_STREQ(GetErrorDetail(), "/missing file");
    EXPECT_EQ(Download(peer.url()), ERR_HTTPERROR);
    EXPECT_EQ(GetErrorArgIndex(), 204);
    EXPECT_EQ(Download(peer.url()), ERR_HTTPERROR);
    EXPECT_EQ(GetErrorArgIndex(), 1001);
    EXPECT_EQ(Download(peer.url()), ERR_HTTPTE);
    EXPECT_EQ(Download(peer.url()), ERR_REQAUTH);
    ASSERT_EQ(Download(peer.url()), 0);
    EXPECT_EQ(Text(1), "until close");
    EXPECT_EQ(peer.requests()[0].rfind("GET /a%20b HTTP/1.1", 0), 0u);
}

TEST_F(TransferHttpTest, RequestHeadersCredentialsProxyAndSilentFail) {
    HttpPeer peer({{Ok("a")}, {Ok("b")}, {Ok("c")}});
    const std::string port = std::to_string(peer.port());
    ASSERT_EQ(Download("http://u:p@127.0.0.1:" + port), 0);
    ASSERT_EQ(Download("http://127.0.0.1:" + port + "/%41%20",
                       [](ScriptState* S) {
                           VmPushString(S, "encoded");
                           VmPushBoolean(S, 1);
                           VmRawSet(S, -3);
                           VmPushString(S, "customheaders");
                           VmPushString(S, "X-One: 1\r\n");
                           VmRawSet(S, -3);
                       }),
              0);
    static std::string proxy;
    proxy = "http://127.0.0.1:" + port;
    ASSERT_EQ(Download("http://example.invalid/x y",
                       [](ScriptState* S) {
                           VmPushString(S, "proxy");
                           VmPushString(S, proxy.c_str());
                           VmRawSet(S, -3);
                       }),
              0);
    const auto& r = peer.requests();
    ASSERT_EQ(r.size(), 3u);
    EXPECT_EQ(r[0].rfind("GET / HTTP/1.1\r\n", 0), 0u);
    EXPECT_NE(r[0].find("\r\nAuthorization: Basic dTpw\r\n"), std::string::npos) << r[0];
    EXPECT_EQ(r[1].rfind("GET /A%20 HTTP/1.1\r\nX-One: 1\r\nTE: trailers", 0), 0u) << r[1];
    EXPECT_EQ(r[2].rfind("GET http://example.invalid/x%20y HTTP/1.1\r\n", 0), 0u) << r[2];
    EXPECT_NE(r[2].find("\r\nHost: example.invalid\r\n"), std::string::npos);

    ASSERT_EQ(Download("https://127.0.0.1/",
                       [](ScriptState* S) {
                           VmPushString(S, "silentfail");
                           VmPushBoolean(S, 1);
                           VmRawSet(S, -3);
                       }),
              0);
    EXPECT_EQ(Text(1), "Unknown protocol in URL!");
    EXPECT_EQ(Number(2), -1);
}

TEST_F(TransferHttpTest, ArgumentCountsAreChecked) {
    EXPECT_EQ(Call(cmdDownloadFile, 0), ERR_MISSINGPARAMTR);
    VmSetTop(L, 0);
    EXPECT_EQ(Call(cmdUploadFile, {1}), ERR_MISSINGPARAMTR);
    VmSetTop(L, 0);
    EXPECT_EQ(Call(cmdDownloadFile, {1, 2, 3, 4, 5}), ERR_TOOMANYARGS);
    VmSetTop(L, 0);
}

// The script's False is the number 0: each flag given as 0 is off, and
// 1 (True) turns it on.
TEST_F(TransferHttpTest, FlagsGivenAsZeroAreOff) {
    HttpPeer peer({{"HTTP/1.1 404 Not Found\r\nContent-Length: 4\r\n\r\ngone"},
                   {"HTTP/1.1 302 Found\r\nLocation: /next\r\nContent-Length: 5\r\n\r\nmoved"},
                   {Ok("a")},
                   {"HTTP/1.1 404 Not Found\r\nContent-Length: 4\r\n\r\ngone"}});
    auto flags = [](std::initializer_list<std::pair<const char*, double>> fields) {
        static std::vector<std::pair<const char*, double>> set;
        set.assign(fields);
        return [](ScriptState* S) {
            for (const auto& [key, value] : set) {
                VmPushString(S, key);
                VmPushNumber(S, value);
                VmRawSet(S, -3);
            }
        };
    };
    ASSERT_EQ(Download(peer.url("/missing"), flags({{"fail404", 0}, {"silentfail", 0}})), 0);
    EXPECT_EQ(Text(1), "gone");
    ASSERT_EQ(Download(peer.url("/old"), flags({{"redirect", 0}})), 0);
    EXPECT_EQ(Text(1), "moved");
    ASSERT_EQ(Download(peer.url("/%41"), flags({{"encoded", 0}})), 0);
    EXPECT_EQ(Download(peer.url("/missing"), flags({{"fail404", 1}, {"silentfail", 0}})), ERR_FILENOTFOUND);
    const auto& r = peer.requests();
    ASSERT_EQ(r.size(), 4u);
    EXPECT_EQ(r[2].rfind("GET /%2541 HTTP/1.1", 0), 0u) << r[2];
}

// Without an options table, or with Nil in its place, every option keeps
// its default: the URL is escaped, redirects are followed, a 404 is a body,
// the agent is the player's own.
TEST_F(TransferHttpTest, WithoutAnOptionsTableEveryOptionKeepsItsDefault) {
    for (bool nil : {false, true}) {
        HttpPeer peer({{Ok("a")},
                       {"HTTP/1.1 302 Found\r\nLocation: /next\r\nContent-Length: 5\r\n\r\nmoved"},
                       {Ok("next")},
                       {"HTTP/1.1 404 Not Found\r\nContent-Length: 4\r\n\r\ngone"}});
        auto download = [&](const std::string& path) {
            VmSetTop(L, 0);
            VmPushString(L, peer.url(path).c_str());
            if (nil) VmPushNil(L);
            return Call(cmdDownloadFile, nil ? 2 : 1);
        };
        ASSERT_EQ(download("/%41+b"), 0) << nil;
        EXPECT_EQ(Text(1), "a");
        ASSERT_EQ(download("/old"), 0);
        EXPECT_EQ(Text(1), "next");
        ASSERT_EQ(download("/missing"), 0);
        EXPECT_EQ(Text(1), "gone");
        const auto& r = peer.requests();
        ASSERT_EQ(r.size(), 4u);
        EXPECT_EQ(r[0].rfind("GET /%2541%2bb HTTP/1.1", 0), 0u) << r[0];
        EXPECT_NE(r[0].find("\r\nUser-Agent: Quenbrook 6.1\r\n"), std::string::npos) << r[0];
        EXPECT_EQ(r[2].rfind("GET /next HTTP/1.1", 0), 0u) << r[2];
    }
}

TEST_F(TransferHttpTest, HostileServersEndCleanly) {
    const std::string longHeader = "HTTP/1.1 200 OK\r\nX: " + std::string(40000, 'x') + "\r\n\r\n";
    const std::string longStatus = "HTTP/1.1 200 " + std::string(2000, 'x') + "\r\n\r\n";
    HttpPeer peer({{"HTTP/1.1 200 OK\r\nContent-Length: -5\r\n\r\n"},
                   {"HTTP/1.1 200 OK\r\nContent-Length: abc\r\n\r\n"},
                   {"HTTP/1.1 200 OK\r\nContent-Length: 1000000000000\r\n\r\n0123456789"},
                   {"HTTP/1.1 200 OK\r\nTransfer-Encoding: "
                    "chunked\r\n\r\nFFFFFFFFFFFFFFFF\r\nabc"},
                   {"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\nZZ\r\n"},
                   {longHeader},
                   {longStatus},
                   {Ok("abc").substr(0, Ok("abc").size() - 1)}});
    EXPECT_EQ(Download(peer.url()), ERR_HTTPERROR);
    EXPECT_EQ(Download(peer.url()), ERR_HTTPERROR);
    // A length or chunk no string holds is refused before it is read.
    EXPECT_EQ(Download(peer.url()), ERR_MEM);
    EXPECT_EQ(Download(peer.url()), ERR_MEM);
    EXPECT_EQ(Download(peer.url()), ERR_HTTPERROR);
    EXPECT_EQ(GetErrorArgIndex(), 3000);
    EXPECT_EQ(Download(peer.url()), ERR_HTTPERROR);
    EXPECT_EQ(Download(peer.url()), ERR_HTTPERROR);
    EXPECT_EQ(Download(peer.url()), ERR_RECVCLOSED);
}

// Header lines or interim answers without end: the header section is
// bounded in bytes and answers, and the time-out covers it whole even while
// every pause of the server is shorter than the time-out.
TEST_F(TransferHttpTest, EndlessHeadersEndTheCall) {
    std::string slowLines;
    for (int i = 0; i < 40; ++i) slowLines += "X: y\r\n";
    HttpPeer peer({{"HTTP/1.1 200 OK\r\n", true, 0, "X-Filler: " + std::string(50, 'f') + "\r\n"},
                   {"", true, 0, "HTTP/1.1 100 Continue\r\n\r\n"},
                   {"HTTP/1.1 200 OK\r\n", false, kTestTimeoutMs / 6, slowLines}});
    EXPECT_EQ(Download(peer.url()), ERR_HTTPERROR);
    EXPECT_EQ(GetErrorArgIndex(), 1006);
    EXPECT_EQ(Download(peer.url()), ERR_HTTPERROR);
    EXPECT_EQ(GetErrorArgIndex(), 1006);
    EXPECT_EQ(Download(peer.url()), ERR_RECVTIMEOUT);
}

// A status line or one header line sent a byte at a time, each pause far
// below the time-out: the section's time counts from the connection across
// partial lines, so the call ends at the time-out, not when the trickle does.
TEST_F(TransferHttpTest, TrickledStatusAndHeaderLinesEndAtTheTimeOut) {
    constexpr int kByteMs = kTestTimeoutMs / 10;
    HttpPeer peer({{"", false, kByteMs, "HTTP/1.1 200 " + std::string(900, 'x')},
                   {"HTTP/1.1 200 OK\r\n", false, kByteMs, "X-Slow: " + std::string(900, 's')}});
    EXPECT_EQ(Download(peer.url()), ERR_RECVTIMEOUT);
    EXPECT_EQ(Download(peer.url()), ERR_RECVTIMEOUT);
}

// A short trickle whose pauses are shorter than the time-out, over well
// within one period, arrives whole; a server that then says nothing ends
// the call after the time-out.
TEST_F(TransferHttpTest, TrickleStallAndStopByCallback) {
    // The stalls outlast the client's time-out by far; the peer goes on as
    // soon as the client gives up.
    constexpr int kStall = kTestTimeoutMs * 30;
    HttpPeer peer({{"HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\n", false, 40, "01234"},
                   {"HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\n", false, 100, "01234", kStall},
                   {"HTTP/1.1 200 OK\r\n\r\nno length", false, 0, {}, kStall},
                   {"HTTP/1.1 200 OK\r\n\r\n", true, 0, std::string(4096, 'z')}});
    ASSERT_EQ(Download(peer.url()), 0);
    EXPECT_EQ(Text(1), "01234");
    EXPECT_EQ(Download(peer.url()), ERR_RECVTIMEOUT);
    EXPECT_EQ(Download(peer.url()), ERR_RECVTIMEOUT);
    seen.stopAfter = 100000;
    ASSERT_EQ(Download(peer.url(), nullptr, true), 0);
    EXPECT_GE(Number(2), 100000);
    EXPECT_EQ(Text(1).size(), Number(2));
    EXPECT_EQ(Text(1).find_first_not_of('z'), std::string::npos);
}

// Python's own server, started and stopped by pid, for a real exchange.
TEST_F(TransferHttpTest, PythonHttpServer) {
    if (access("/usr/bin/python3", X_OK) != 0) GTEST_SKIP() << "no /usr/bin/python3";
    // A folder of this process's own: another run's server may serve the same name.
    const std::filesystem::path dir =
        std::filesystem::path(::testing::TempDir()) / ("transfer_http_served_" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    std::string body(5 * 1024 * 1024, '\0');
    std::mt19937 random(11);
    for (char& b : body) b = static_cast<char>(random());
    std::ofstream(dir / "data.bin", std::ios::binary).write(body.data(), static_cast<std::streamsize>(body.size()));
    {
        PythonServer server({"-u", "-m", "http.server", "0", "--bind", "127.0.0.1", "--directory", dir.string()});
        ASSERT_GT(server.port(), 0) << server.firstLine();
        SetNetworkTimeoutValue(5000);
        EXPECT_EQ(Download("http://127.0.0.1:" + std::to_string(server.port()) + "/data.bin", nullptr, true), 0);
        EXPECT_TRUE(Text(1) == body);
        EXPECT_EQ(seen.total, body.size());
    }
    std::filesystem::remove_all(dir);
}

}  // namespace
