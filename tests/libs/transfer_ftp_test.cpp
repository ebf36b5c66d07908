// DownloadFile over FTP against a scripted server thread (exact commands,
// hostile replies, stalls) and against pyftpdlib for a real exchange.
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>

#include "libs/ftp_peer.h"
#include "libs/transfer_fixture.h"

namespace {

using namespace nettest;
using TransferFtpTest = TransferTest;

std::string RandomBytes(size_t n, unsigned seed) {
    std::string bytes(n, '\0');
    std::mt19937 random(seed);
    for (char& b : bytes) b = static_cast<char>(random());
    return bytes;
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

TEST_F(TransferFtpTest, BinaryRetrIsByteExact) {
    const std::string body = RandomBytes(200000, 3);
    FtpPeer peer;
    std::vector<FtpStep> steps{Reply("220-Welcome"), Reply("220-to the test"), Reply("220 ready")};
    for (FtpStep& s : peer.Opening()) steps.push_back(s);
    steps.erase(steps.begin() + 3);  // the opening's own greeting
    steps.push_back(Reply("150 Opening BINARY mode data connection (200000 bytes)"));
    steps.push_back(Serve(body));
    steps.push_back(Reply("226 done"));
    steps.push_back(Command());
    peer.Start(steps);
    ASSERT_EQ(Download(peer.url("/dir/my file.bin"), nullptr, true), 0);
    EXPECT_TRUE(Text(1) == body);
    EXPECT_EQ(Number(2), body.size());
    EXPECT_EQ(seen.total, 200000);
    EXPECT_EQ(seen.count, body.size());
    peer.Join();
    const std::vector<std::string> expected{"user anonymous", "pass anonymous@quenbrook.net", "pasv",
                                            "type i",         "retr /dir/my file.bin",        "quit"};
    EXPECT_EQ(peer.commands(), expected);
}

TEST_F(TransferFtpTest, IntoAFileWithCredentialsAndAsciiType) {
    const std::string path = ::testing::TempDir() + "transfer_ftp_file.txt";
    FtpPeer peer;
    std::vector<FtpStep> steps = peer.Opening();
    steps.push_back(Reply("125 go"));
    steps.push_back(Serve("a\r\nb\r\n"));
    steps.push_back(Reply("226 done"));
    steps.push_back(Command());
    peer.Start(steps);
    ASSERT_EQ(Download(peer.url("/t.txt;type=A", "u:p@"), [&](ScriptState* S) { SetString(S, "file", path); }), 0);
    EXPECT_EQ(Text(1), "");
    EXPECT_EQ(Number(2), 6);
    EXPECT_EQ(ReadFile(path), "a\r\nb\r\n");
    peer.Join();
    ASSERT_EQ(peer.commands().size(), 6u);
    EXPECT_EQ(peer.commands()[0], "user u");
    EXPECT_EQ(peer.commands()[1], "pass p");
    EXPECT_EQ(peer.commands()[3], "type a");
    EXPECT_EQ(peer.commands()[4], "retr /t.txt");
    std::remove(path.c_str());
    EXPECT_EQ(Download(peer.url("/t.txt;type=x")), ERR_BADURL);
    // A decoded CR LF would end the command and start another.
    EXPECT_EQ(Download(peer.url("/a%0d%0adele%20b"), [](ScriptState* S) { SetFlag(S, "encoded"); }), ERR_BADURL);
}

// The data connection goes where the control connection went, whatever
// address the PASV reply names.
TEST_F(TransferFtpTest, PasvAddressIsIgnored) {
    FtpPeer peer;
    std::vector<FtpStep> steps = peer.Opening(peer.Pasv("127,0,0,2"));
    steps.push_back(Reply("150 go"));
    steps.push_back(Serve("bounced"));
    steps.push_back(Reply("226 done"));
    peer.Start(steps);
    ASSERT_EQ(Download(peer.url("/f")), 0);
    EXPECT_EQ(Text(1), "bounced");
}

// A data connection that closes short of the size the opening reply
// announced lost the rest, though the server says 226: the call fails with
// ERR_RECVCLOSED and the file it was to replace keeps its old bytes. The
// size may stand on any line of a 150 reply, or in a 125 reply (a data
// connection already open); the progress total is that size.
TEST_F(TransferFtpTest, AShortDataConnectionKeepsTheOldFile) {
    static std::string target;
    target = ::testing::TempDir() + "qb_ftp_short_" + std::to_string(getpid());
    std::ofstream(target, std::ios::binary) << "old";
    const std::vector<std::vector<std::string>> openings{
        {"150 Opening BINARY mode data connection for f (1000000 bytes)"},
        {"150-Opening BINARY mode data connection for f (1000000 bytes)", "150 go ahead"},
        {"125 Data connection already open; transfer starting (1000000 bytes)"},
    };
    for (const std::vector<std::string>& opening : openings) {
        for (const bool toFile : {true, false}) {
            FtpPeer peer;
            std::vector<FtpStep> steps = peer.Opening();
            for (const std::string& line : opening) steps.push_back(Reply(line));
            steps.push_back(Serve(RandomBytes(500000, 7)));
            steps.push_back(Reply("226 Transfer complete"));
            steps.push_back(Command());
            peer.Start(steps);
            seen = Progress{};
            const FillOptions fill = [toFile](ScriptState* S) {
                if (toFile) SetString(S, "file", target);
            };
            EXPECT_EQ(Download(peer.url("/f"), fill, true), ERR_RECVCLOSED) << opening[0] << toFile;
            EXPECT_EQ(seen.total, 1000000) << opening[0];
        }
    }
    EXPECT_EQ(ReadFile(target), "old");
    std::remove(target.c_str());
}

TEST_F(TransferFtpTest, RefusedAndHostileReplies) {
    struct Case {
        std::vector<FtpStep> steps;
        int error;
        int detail;  // -1: not checked
    };
    const std::vector<FtpStep> login{Reply("220 ready"), Command(), Reply("331 password"), Command()};
    auto with = [](std::vector<FtpStep> a, const std::vector<FtpStep>& b) {
        a.insert(a.end(), b.begin(), b.end());
        return a;
    };
    const std::vector<Case> cases{
        {{Reply("421 busy")}, ERR_FTPERROR, 0},
        {{Reply("220-a"), Reply("221 b")}, ERR_FTPERROR, 1},
        {{Reply("220 " + std::string(2000, 'x'))}, ERR_FTPERROR, 0},
        {with(login, {Reply("530 no")}), ERR_FTPAUTH, -1},
        {with(login, {Reply("230 in"), Command(), Reply("227 Entering Passive Mode (127,0,0,1,4)")}), ERR_FTPERROR, 2},
        {with(login, {Reply("230 in"), Command(), Reply("227 Entering Passive Mode (127,0,0,1,4,1,7)")}), ERR_FTPERROR,
         2},
        {with(login, {Reply("230 in"), Command(), Reply("227 Entering Passive Mode (127,0,0,1,0,0)")}), ERR_FTPERROR,
         2},
    };
    for (size_t i = 0; i < cases.size(); ++i) {
        FtpPeer peer;
        peer.Start(cases[i].steps);
        EXPECT_EQ(Download(peer.url("/f")), cases[i].error) << i;
        if (cases[i].detail >= 0) {
            EXPECT_EQ(GetErrorArgIndex(), cases[i].detail) << i;
        }
    }
    FtpPeer missing;
    std::vector<FtpStep> steps = missing.Opening();
    steps.push_back(Reply("550 no such file"));
    missing.Start(steps);
    EXPECT_EQ(Download(missing.url("/x")), ERR_FILENOTFOUND);
    EXPECT_STREQ(GetErrorDetail(), "/x");
}

TEST_F(TransferFtpTest, StallEndsAfterTheTimeoutAndCallbackStops) {
    FtpPeer stalled;
    std::vector<FtpStep> steps = stalled.Opening();
    steps.push_back(Reply("150 go"));
    steps.push_back(Serve("part", kTestTimeoutMs * 30));  // the client gives up first
    stalled.Start(steps);
    EXPECT_EQ(Download(stalled.url("/f")), ERR_RECVTIMEOUT);
    stalled.Join();

    FtpPeer endless;
    steps = endless.Opening();
    steps.push_back(Reply("150 go"));
    steps.push_back(Serve(std::string(1 << 20, 'z')));
    endless.Start(steps);
    seen.stopAfter = 50000;
    ASSERT_EQ(Download(endless.url("/f"), nullptr, true), 0);
    EXPECT_GE(Number(2), 50000);
    EXPECT_EQ(Text(1).size(), Number(2));
}

// pyftpdlib with a full user, a read-only user and anonymous access.
TEST_F(TransferFtpTest, Pyftpdlib) {
    if (system("/usr/bin/python3 -c 'import pyftpdlib' 2>/dev/null") != 0) GTEST_SKIP() << "no pyftpdlib";
    const std::filesystem::path dir = std::filesystem::path(::testing::TempDir()) / "transfer_ftp_served";
    std::filesystem::create_directories(dir);
    const std::string body = RandomBytes(300000, 5);
    std::ofstream(dir / "data.bin", std::ios::binary).write(body.data(), static_cast<std::streamsize>(body.size()));
    std::ofstream(dir / "lines.txt") << "a\nb\n";
    const std::string up = (dir / "up.txt").string();
    const std::string source = (dir / "source.bin").string();
    std::ofstream(source, std::ios::binary) << "file contents";
    {
        PythonServer server({"-u", std::string(QB_SOURCE_DIR) + "/tests/libs/ftpserver.py", dir.string()});
        ASSERT_GT(server.port(), 0) << server.firstLine();
        SetNetworkTimeoutValue(5000);
        const std::string at = "127.0.0.1:" + std::to_string(server.port());
        ASSERT_EQ(Download("ftp://" + at + "/data.bin"), 0);
        EXPECT_TRUE(Text(1) == body);
        // The server turns line ends into CR LF in ASCII mode.
        ASSERT_EQ(Download("ftp://reader:secret@" + at + "/lines.txt;type=a"), 0);
        EXPECT_EQ(Text(1), "a\r\nb\r\n");
        EXPECT_EQ(Download("ftp://user:wrong@" + at + "/data.bin"), ERR_FTPAUTH);
        EXPECT_EQ(Download("ftp://" + at + "/x"), ERR_FILENOTFOUND);
        EXPECT_STREQ(GetErrorDetail(), "/x");

        ASSERT_EQ(Upload("ftp://user:secret@" + at + "/up.txt", [](ScriptState* S) { SetString(S, "data", "text"); }),
                  0);
        EXPECT_EQ(VmGetTop(L), 0);
        EXPECT_EQ(ReadFile(up), "text");
        ASSERT_EQ(Upload(
                      "ftp://user:secret@" + at + "/up file.bin", [&](ScriptState* S) { SetString(S, "file", source); },
                      true),
                  0);
        EXPECT_EQ(ReadFile((dir / "up file.bin").string()), "file contents");
        EXPECT_EQ(seen.total, 13);
        EXPECT_EQ(seen.count, 13);
        EXPECT_EQ(Upload("ftp://reader:secret@" + at + "/no.txt", [](ScriptState* S) { SetString(S, "data", "x"); }),
                  ERR_UPLOADFORBIDDEN);
        EXPECT_EQ(Upload("ftp://" + at + "/no.txt", [](ScriptState* S) { SetString(S, "data", "x"); }),
                  ERR_UPLOADFORBIDDEN);
        EXPECT_FALSE(std::filesystem::exists(dir / "no.txt"));
    }
    std::filesystem::remove_all(dir);
}

}  // namespace
