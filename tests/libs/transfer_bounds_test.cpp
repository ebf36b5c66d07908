// DownloadFile against servers that trickle (python3 on 127.0.0.1): a reply
// ends whole at its deadline, a body at the floor however it is cut, and a
// download that fails or may not write leaves the old file as it was.
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <thread>
#include <fstream>

#include "bounded_child.h"
#include "core/fileid.h"
#include "core/objects.h"
#include "core/scratch.h"
#include "libs/transfer_fixture.h"

namespace {

using namespace nettest;
using TransferBoundsTest = TransferTest;

// A trickle of this many pieces, one every kPieceSeconds, outlasts the
// client's time-out thirty times over: only a call that waits it out
// reaches its end.
constexpr int kPieces = 100;
constexpr const char* kPieceSeconds = "0.3";

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

std::string Trickler() { return std::string(QB_SOURCE_DIR) + "/tests/libs/trickler.py"; }

std::string UrlOf(const std::string& mode, int port) {
    return (mode.rfind("ftp", 0) == 0 ? "ftp://127.0.0.1:" : "http://127.0.0.1:") + std::to_string(port) + "/f";
}

TEST_F(TransferBoundsTest, TrickledRepliesAndBodiesEndAtTheirBound) {
    if (access("/usr/bin/python3", X_OK) != 0) GTEST_SKIP() << "no /usr/bin/python3";
    const ScratchDir scratch;
    const std::filesystem::path dir = scratch.str();
    const std::string path = scratch / "old.txt";
    for (const std::string mode : {"ftp-reply", "ftp-data", "chunked", "body"}) {
        std::ofstream(path, std::ios::binary) << "the old file";
        PythonServer server({"-u", Trickler(), mode, std::to_string(kPieces), kPieceSeconds});
        ASSERT_GT(server.port(), 0) << server.firstLine();
        EXPECT_EQ(Download(UrlOf(mode, server.port()), [&](ScriptState* S) { SetString(S, "file", path); }),
                  ERR_RECVTIMEOUT)
            << mode;
        // The failed download took nothing of the old file and left no
        // other behind.
        EXPECT_EQ(ReadFile(path), "the old file") << mode;
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir), {}), 1) << mode;
    }
}

// A download cut off part-way (the peer closes in the middle of a body of
// known length) leaves the old file whole; a complete one replaces it.
TEST_F(TransferBoundsTest, ACutDownloadKeepsTheOldFile) {
    if (access("/usr/bin/python3", X_OK) != 0) GTEST_SKIP() << "no /usr/bin/python3";
    const ScratchDir scratch;
    const std::string path = scratch / "cut.txt";
    std::ofstream(path, std::ios::binary) << "the old file";
    {
        PythonServer server({"-u", Trickler(), "flood", "200000", "0"});
        ASSERT_GT(server.port(), 0) << server.firstLine();
        EXPECT_EQ(Download(UrlOf("flood", server.port()), [&](ScriptState* S) { SetString(S, "file", path); }),
                  ERR_RECVCLOSED);
        EXPECT_TRUE(ReadFile(path) == "the old file");
    }
    PythonServer server({"-u", Trickler(), "ftp-data", "3", "0"});
    ASSERT_GT(server.port(), 0) << server.firstLine();
    ASSERT_EQ(Download(UrlOf("ftp", server.port()), [&](ScriptState* S) { SetString(S, "file", path); }), 0);
    EXPECT_EQ(ReadFile(path), "qqq");
}

// An upload whose body takes longer than the time-out to go out (the
// server reads it slowly but steadily) still gets its answer: the head is
// bounded from the request's end, not from the connection.
TEST_F(TransferBoundsTest, ALongUploadStillReadsItsAnswer) {
    if (access("/usr/bin/python3", X_OK) != 0) GTEST_SKIP() << "no /usr/bin/python3";
    const ScratchDir scratch;
    const std::string path = scratch / "upload.bin";
    // Sixteen times the loopback's send buffer, read at 32 MB a second.
    std::ofstream(path, std::ios::binary) << std::string(size_t{64} << 20, 'u');
    PythonServer server({"-u", Trickler(), "slowread", std::to_string(256 << 10), "0.008"});
    ASSERT_GT(server.port(), 0) << server.firstLine();
    ASSERT_EQ(Upload(UrlOf("slowread", server.port()),
                     [&](ScriptState* S) {
                         VmPushString(S, "formdata");
                         VmPushNewTable(S);
                         VmPushNumber(S, 1);
                         VmPushNewTable(S);
                         SetString(S, "name", "doc");
                         SetString(S, "file", path);
                         VmRawSet(S, -3);
                         VmRawSet(S, -3);
                     }),
              0);
    EXPECT_EQ(Text(1), "ok");
}

qbObject* readers = nullptr;

// A download onto the file a live object reads (a from-disk anim, a video,
// a music stream) is refused before anything is written, over HTTP and FTP.
TEST_F(TransferBoundsTest, ADownloadOntoAFileALiveObjectReadsIsRefused) {
    if (access("/usr/bin/python3", X_OK) != 0) GTEST_SKIP() << "no /usr/bin/python3";
    const ScratchDir scratch;
    const std::string path = scratch / "read.avi";
    std::ofstream(path, std::ios::binary) << "frames being read";
    ASSERT_EQ(RegisterObjectList(&readers), 0);
    qbObject reader;
    reader.readsFrom = NativeFileIdOf(path.c_str());
    readers = &reader;
    for (const std::string mode : {"ftp-data", "body"}) {
        PythonServer server({"-u", Trickler(), mode, "3", "0"});
        ASSERT_GT(server.port(), 0) << server.firstLine();
        EXPECT_EQ(Download(UrlOf(mode, server.port()), [&](ScriptState* S) { SetString(S, "file", path); }),
                  ERR_WRONGUSAGE)
            << mode;
        EXPECT_EQ(ReadFile(path), "frames being read") << mode;
    }
    readers = nullptr;
}

// A download into a FIFO ends within its time-out: refused at once when
// nobody reads the FIFO, ERR_WRITE once its reader stops taking bytes (the
// body is three times what the pipe holds); a reader that keeps reading
// gets every byte.
TEST_F(TransferBoundsTest, ADownloadIntoAFifoEndsWithinItsTimeOut) {
    if (access("/usr/bin/python3", X_OK) != 0) GTEST_SKIP() << "no /usr/bin/python3";
    const ScratchDir scratch;
    const std::string fifo = scratch / "pipe";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    PythonServer server({"-u", Trickler(), "flood", "400000", "0"});
    ASSERT_GT(server.port(), 0) << server.firstLine();
    auto download = [&](int expected) {
        return test_child::InChild([&] {
            return Download(UrlOf("flood", server.port()), [&](ScriptState* S) { SetString(S, "file", fifo); }) ==
                           expected
                       ? 0
                       : 1;
        });
    };
    EXPECT_EQ(download(ERR_WRITEFILE), 0);
    const int reader = open(fifo.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(reader, 0);
    EXPECT_EQ(download(ERR_WRITE), 0);
    // A reader that takes the bytes as they come gets all of them (the peer
    // then cuts the body short), however often the pipe was full.
    char block[65536];
    while (read(reader, block, sizeof block) > 0) {
    }
    std::atomic<bool> ended{false};
    size_t got = 0;
    std::thread drain([&] {
        for (;;) {
            const bool last = ended;
            for (ssize_t n; (n = read(reader, block, sizeof block)) > 0;) got += static_cast<size_t>(n);
            if (last) return;
            pollfd p{reader, POLLIN, 0};
            poll(&p, 1, 10);
        }
    });
    EXPECT_EQ(download(ERR_RECVCLOSED), 0);
    ended = true;
    drain.join();
    EXPECT_EQ(got, 200000u);
    close(reader);
}

}  // namespace
