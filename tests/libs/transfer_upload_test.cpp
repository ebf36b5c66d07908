// UploadFile: multipart HTTP uploads against a peer that reads exactly the
// declared Content-Length and against a Python echo handler, the form
// parts' checks, and FTP STOR against the scripted FTP server.
#include <cstdio>
#include <fstream>

#include "libs/ftp_peer.h"
#include "libs/transfer_fixture.h"

namespace {

using namespace nettest;
using TransferUploadTest = TransferTest;

// Reads one request head and exactly the body its Content-Length declares,
// answers, and keeps whatever else the client sends.
class UploadPeer {
public:
    UploadPeer() {
        listener_ = BindLoopback(SOCK_STREAM, &port_);
        if (listener_ >= 0 && listen(listener_, 4) == 0) thread_ = std::thread([this] { Run(); });
    }
    ~UploadPeer() {
        Join();
        if (listener_ >= 0) close(listener_);
    }
    std::string url() const { return "http://127.0.0.1:" + std::to_string(port_) + "/up"; }
    void Join() {
        if (thread_.joinable()) thread_.join();
    }
    std::string head, body, extra;

private:
    void Run() {
        if (!WaitReadable(listener_, kPeerWaitMs)) return;
        const int fd = accept(listener_, nullptr, nullptr);
        if (fd < 0) return;
        char c;
        while (head.find("\r\n\r\n") == std::string::npos && WaitReadable(fd, kPeerWaitMs) && recv(fd, &c, 1, 0) == 1)
            head += c;
        const size_t at = head.find("Content-Length: ");
        const size_t length = at == std::string::npos ? 0 : std::stoul(head.substr(at + 16));
        char piece[4096];
        while (body.size() < length && WaitReadable(fd, kPeerWaitMs)) {
            const ssize_t n = recv(fd, piece, std::min(sizeof piece, length - body.size()), 0);
            if (n <= 0) break;
            body.append(piece, static_cast<size_t>(n));
        }
        const std::string answer = "HTTP/1.1 200 OK\r\nContent-Length: 6\r\n\r\nstored";
        send(fd, answer.data(), answer.size(), MSG_NOSIGNAL);
        ssize_t n;
        while (WaitReadable(fd, kPeerIdleMs) && (n = recv(fd, piece, sizeof piece, 0)) > 0)
            extra.append(piece, static_cast<size_t>(n));
        close(fd);
    }
    int listener_ = -1;
    int port_ = 0;
    std::thread thread_;
};

// formdata = {entries...}, each entry a list of key/value pairs.
using Entry = std::vector<std::pair<std::string, std::string>>;
FillOptions Form(std::vector<Entry> entries) {
    return [entries](ScriptState* S) {
        VmPushString(S, "formdata");
        VmPushNewTable(S);
        for (size_t i = 0; i < entries.size(); ++i) {
            VmPushNumber(S, static_cast<double>(i + 1));
            VmPushNewTable(S);
            for (const auto& [key, value] : entries[i]) SetString(S, key.c_str(), value);
            VmRawSet(S, -3);
        }
        VmRawSet(S, -3);
    };
}

TEST_F(TransferUploadTest, MultipartBodyMatchesItsLength) {
    const std::string path = ::testing::TempDir() + "transfer_upload_part.bin";
    std::ofstream(path, std::ios::binary) << std::string(20000, 'f');
    UploadPeer peer;
    ASSERT_EQ(Upload(peer.url(),
                     Form({{{"name", "field"}, {"data", "value"}},
                           {{"name", "doc"}, {"file", path}},
                           {{"name", "note"}, {"data", "hi"}, {"mimetype", "text/plain"}, {"filealias", "n.txt"}}}),
                     true),
              0);
    EXPECT_EQ(Text(1), "stored");
    EXPECT_EQ(Number(2), 6);
    EXPECT_EQ(seen.action, 1);  // the answer came last
    peer.Join();
    EXPECT_EQ(peer.head.rfind("POST /up HTTP/1.1\r\n", 0), 0u) << peer.head;
    const size_t at = peer.head.find("Content-Type: multipart/form-data; boundary=");
    ASSERT_NE(at, std::string::npos) << peer.head;
    const std::string declared = peer.head.substr(at + 44, peer.head.find("\r\n", at) - at - 44);
    const std::string boundary = "--" + declared;
    EXPECT_EQ(peer.extra, "");  // nothing beyond the declared length
    EXPECT_EQ(peer.body.rfind(boundary + "\r\nContent-Disposition: form-data; "
                                         "name=\"field\"\r\n\r\nvalue\r\n",
                              0),
              0u)
        << peer.body;
    EXPECT_NE(peer.body.find("name=\"doc\"; "
                             "filename=\"transfer_upload_part.bin\"\r\nContent-Type: "
                             "application/octet-stream\r\n\r\n" +
                             std::string(20000, 'f') + "\r\n"),
              std::string::npos);
    EXPECT_NE(peer.body.find("name=\"note\"; filename=\"n.txt\"\r\nContent-Type: "
                             "text/plain\r\n\r\nhi\r\n"),
              std::string::npos);
    EXPECT_EQ(peer.body.substr(peer.body.size() - boundary.size() - 4), boundary + "--\r\n");
    std::remove(path.c_str());
}

TEST_F(TransferUploadTest, FormPartsAreChecked) {
    const std::string url = "http://127.0.0.1:9/up";  // refused before any connect
    EXPECT_EQ(Upload(url, Form({})), ERR_WRONGUSAGE);
    EXPECT_EQ(Upload(url, Form({{{"data", "x"}}})), ERR_MISSINGFIELD);
    EXPECT_STREQ(GetErrorDetail(), "Name");
    EXPECT_EQ(Upload(url, Form({{{"name", ""}, {"data", "x"}}})), ERR_WRONGUSAGE);
    EXPECT_EQ(Upload(url, Form({{{"name", "n"}}})), ERR_MISSINGFIELD);
    EXPECT_STREQ(GetErrorDetail(), "Data");
    EXPECT_EQ(Upload(url, Form({{{"name", "n"}, {"data", ""}}})), ERR_WRONGUSAGE);
    EXPECT_EQ(Upload(url, Form({{{"name", "n"}, {"data", "x"}, {"mimetype", "text/plain"}}})), ERR_MISSINGFIELD);
    EXPECT_STREQ(GetErrorDetail(), "FileAlias");
    EXPECT_EQ(Upload(url, Form({{{"name", "n"}, {"data", "x"}, {"filealias", "a"}}})), ERR_MISSINGFIELD);
    EXPECT_STREQ(GetErrorDetail(), "MIMEType");
    EXPECT_EQ(Upload(url, Form({{{"name", "n"}, {"file", "/nonexistent/f"}}})), ERR_READFILE);
    EXPECT_EQ(Upload(url, Form({{{"name", "n"}, {"file", "/dev/null"}, {"data", "x"}}})), ERR_WRONGUSAGE);
    EXPECT_EQ(Upload(url,
                     [](ScriptState* S) {
                         VmPushString(S, "formdata");
                         VmPushNewTable(S);
                         VmPushNumber(S, 1);
                         VmPushString(S, "not a table");
                         VmRawSet(S, -3);
                         VmRawSet(S, -3);
                     }),
              ERR_TABEXPECTED2);
    // An HTTP upload sends form parts only: "file" would have the answer
    // written over the file being sent.
    EXPECT_EQ(Upload(url, [](ScriptState* S) { SetString(S, "data", "x"); }), ERR_WRONGUSAGE);
    EXPECT_EQ(Upload(url, [](ScriptState* S) { SetString(S, "file", "/dev/null"); }), ERR_WRONGUSAGE);
    EXPECT_EQ(Upload("ftp://127.0.0.1:9/f", [](ScriptState* S) { SetString(S, "data", ""); }), ERR_WRONGUSAGE);
    EXPECT_EQ(Upload("ftp://127.0.0.1:9/f",
                     [](ScriptState* S) {
                         SetString(S, "data", "x");
                         SetString(S, "file", "/dev/null");
                     }),
              ERR_WRONGUSAGE);
}

TEST_F(TransferUploadTest, FtpStor) {
    FtpPeer peer;
    std::vector<FtpStep> steps = peer.Opening();
    steps.push_back(Reply("150 send it"));
    steps.push_back(Take());
    steps.push_back(Reply("226 stored"));
    steps.push_back(Command());
    peer.Start(steps);
    const std::string text(100000, 't');
    ASSERT_EQ(
        Upload(
            peer.url("/in/up load.txt", "user:secret@"), [&](ScriptState* S) { SetString(S, "data", text); }, true),
        0);
    EXPECT_EQ(VmGetTop(L), 0);
    EXPECT_EQ(seen.action, 0);
    EXPECT_EQ(seen.count, text.size());
    peer.Join();
    EXPECT_TRUE(peer.taken() == text);
    ASSERT_EQ(peer.commands().size(), 6u);
    EXPECT_EQ(peer.commands()[4], "stor /in/up load.txt");

    FtpPeer refused;
    steps = refused.Opening();
    steps.push_back(Reply("550 read-only"));
    refused.Start(steps);
    EXPECT_EQ(Upload(refused.url("/f"), [&](ScriptState* S) { SetString(S, "data", "x"); }), ERR_UPLOADFORBIDDEN);
    EXPECT_STREQ(GetErrorDetail(), "/f");
    FtpPeer failed;
    steps = failed.Opening();
    steps.push_back(Reply("150 send it"));
    steps.push_back(Take());
    steps.push_back(Reply("452 disk full"));
    failed.Start(steps);
    EXPECT_EQ(Upload(failed.url("/f"), [&](ScriptState* S) { SetString(S, "data", "x"); }), ERR_FTPERROR);
}

// Python's http.server with a handler that echoes what was posted.
TEST_F(TransferUploadTest, PythonEchoesTheBody) {
    const char* script =
        "import http.server\n"
        "class H(http.server.BaseHTTPRequestHandler):\n"
        "    def do_POST(self):\n"
        "        body = self.rfile.read(int(self.headers['Content-Length']))\n"
        "        self.send_response(200)\n"
        "        self.send_header('Content-Length', str(len(body)))\n"
        "        self.end_headers()\n"
        "        self.wfile.write(body)\n"
        "    def log_message(self, *args):\n"
        "        pass\n"
        "s = http.server.HTTPServer(('127.0.0.1', 0), H)\n"
        "print('port', s.server_address[1], flush=True)\n"
        "s.serve_forever()\n";
    PythonServer server({"-u", "-c", script});
    if (server.port() == 0) GTEST_SKIP() << "no /usr/bin/python3: " << server.firstLine();
    SetNetworkTimeoutValue(5000);
    ASSERT_EQ(Upload("http://127.0.0.1:" + std::to_string(server.port()) + "/echo",
                     Form({{{"name", "a"}, {"data", "first"}}, {{"name", "b"}, {"data", "second"}}})),
              0);
    const std::string echoed = Text(1);
    EXPECT_EQ(echoed.rfind("-----------Quenbrook", 0), 0u) << echoed;
    EXPECT_NE(echoed.find("name=\"b\"\r\n\r\nsecond\r\n"), std::string::npos);
    EXPECT_EQ(echoed.substr(echoed.size() - 4), "--\r\n");
}

}  // namespace
