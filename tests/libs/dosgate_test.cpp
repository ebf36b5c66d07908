// The dos library's roads through the file gate: a write in place never
// cuts a file a live object reads, every write that did not reach the file
// says so, a device is no file to sum, a line never grows without bound and
// a stream without a size ends where a read met its end.
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "core/errcodes.h"
#include "core/file.h"
#include "core/fileid.h"
#include "core/readholds.h"
#include "dos_fixture.h"
#include "libs/system.h"
#include "system_fixture.h"

#if defined(__SANITIZE_ADDRESS__)
#define QB_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define QB_SANITIZED 1
#endif
#endif

namespace {

// Files may grow to limit bytes while it lives, past which writes fail as
// on a full disk (EFBIG; SIGXFSZ ignored). ctest runs each test in a
// process of its own, so the cap reaches no other test.
class FileSizeCap {
public:
    explicit FileSizeCap(rlim_t limit) {
        getrlimit(RLIMIT_FSIZE, &old_);
        oldHandler_ = signal(SIGXFSZ, SIG_IGN);
        rlimit capped = old_;
        capped.rlim_cur = limit;
        ok_ = setrlimit(RLIMIT_FSIZE, &capped) == 0;
    }
    ~FileSizeCap() {
        setrlimit(RLIMIT_FSIZE, &old_);
        signal(SIGXFSZ, oldHandler_);
    }
    bool ok() const { return ok_; }

private:
    rlimit old_{};
    sighandler_t oldHandler_ = SIG_DFL;
    bool ok_ = false;
};

class DosGateTest : public dostest::DosFixture {
protected:
    std::vector<std::string> LinesUntilEof(double id) {
        std::vector<std::string> lines;
        for (int guard = 0; guard < 100000; ++guard) {
            if (Call("Eof", {id}) != 0 || Num(1) != 0) break;
            if (Call("ReadLine", {id}) != 0) break;
            lines.push_back(Str(1));
        }
        return lines;
    }
};

// OpenFile in either writing mode refuses a file a live object reads before
// it truncates a byte; so does any other writer that opens it in place.
TEST_F(DosGateTest, AWriteInPlaceNeverCutsAFileALiveObjectReads) {
    const std::string path = dir_.Write("read.bin", std::string(60000, 'r'));
    qbReadHold hold;
    hold = NativeFileIdOf(path.c_str());
    EXPECT_EQ(Call("OpenFile", {1.0, path, 1006.0}), ERR_WRONGUSAGE);
    EXPECT_EQ(Detail(), path);
    EXPECT_EQ(Call("OpenFile", {1.0, path, 1004.0}), ERR_WRONGUSAGE);
    EXPECT_EQ(FileCount(), 0);
    EXPECT_EQ(FileOpen(path.c_str(), kFileModeWrite, nullptr), nullptr);
    EXPECT_EQ(FileOpen(path.c_str(), kFileModeReadWrite, nullptr), nullptr);
    EXPECT_EQ(ScratchDir::Read(path), std::string(60000, 'r'));
    // Reading it is no harm.
    ASSERT_EQ(Call("OpenFile", {1.0, path, 1005.0}), 0);
    EXPECT_EQ(Call("CloseFile", {1.0}), 0);

    hold = qbFileId{};
    ASSERT_EQ(Call("OpenFile", {1.0, path, 1006.0}), 0);
    EXPECT_EQ(Call("CloseFile", {1.0}), 0);
    EXPECT_EQ(ScratchDir::Read(path), "");
}

// Bytes that wait in the buffer and never reach the file (a full disk) make
// FlushFile and CloseFile answer ERR_WRITE; the id is free either way.
TEST_F(DosGateTest, FlushAndCloseSayWhenBytesDidNotReachTheFile) {
    const std::string path = dir_ / "full.txt";
    FileSizeCap cap(100);
    ASSERT_TRUE(cap.ok());
    ASSERT_EQ(Call("OpenFile", {1.0, path, 1006.0}), 0);
    ASSERT_EQ(Call("WriteLine", {1.0, std::string(500, 'x')}), 0);
    EXPECT_EQ(Call("FlushFile", {1.0}), ERR_WRITE);
    ASSERT_EQ(Call("OpenFile", {2.0, dir_ / "full2.txt", 1006.0}), 0);
    ASSERT_EQ(Call("WriteLine", {2.0, std::string(500, 'y')}), 0);
    EXPECT_EQ(Call("CloseFile", {2.0}), ERR_WRITE);
    EXPECT_EQ(Call("CloseFile", {2.0}), ERR_FINDFILE);
    // What fits is written and answers 0.
    ASSERT_EQ(Call("OpenFile", {3.0, dir_ / "small.txt", 1006.0}), 0);
    ASSERT_EQ(Call("WriteLine", {3.0, std::string("fits")}), 0);
    EXPECT_EQ(Call("FlushFile", {3.0}), 0);
    EXPECT_EQ(Call("CloseFile", {3.0}), 0);
    EXPECT_EQ(ScratchDir::Read(dir_ / "small.txt"), "fits\n");
}

// A device like /dev/zero never ends: CRC32 and MD5 refuse it at once.
TEST_F(DosGateTest, ChecksumsRefuseADevice) {
    for (const char* command : {"CRC32", "MD5"}) {
        EXPECT_EQ(Call(command, {std::string("/dev/zero")}), ERR_READFILE) << command;
        EXPECT_EQ(Detail(), "/dev/zero");
    }
}

// A line is never longer than the longest string a command builds: a device
// that never ends one ends the read with ERR_MEM, and the script goes on.
TEST_F(DosGateTest, ALineHasABound) {
    qbFilePtr zero(FileOpen("/dev/zero", kFileModeRead | kFileModeAnyKind, nullptr));
    ASSERT_TRUE(zero);
    qbBlockString line;
    EXPECT_EQ(ReadFileLine(zero.get(), 1 << 20, &line), ERR_MEM);
    EXPECT_EQ(kLongestLine, size_t{1} << 30);
    // Short of the bound a line is read whole, over several blocks too.
    const std::string longLine(kStringBlock * 2 + 5, 'a');
    const std::string path = dir_.Write("lines.txt", longLine + "\nb");
    qbFilePtr text(FileOpen(path.c_str(), kFileModeRead, nullptr));
    EXPECT_EQ(ReadFileLine(text.get(), longLine.size(), &line), 0);
    EXPECT_EQ(JoinBlocks(line), longLine);
    // Past it the read stops with ERR_MEM one byte beyond the bound.
    ASSERT_EQ(FileSeek(text.get(), 0, kSeekBeginning), static_cast<int64_t>(longLine.size() + 1));
    EXPECT_EQ(ReadFileLine(text.get(), 1000, &line), ERR_MEM);
    EXPECT_EQ(FileSeek(text.get(), 0, kSeekCurrent), 1001);
}

#if !defined(QB_SANITIZED)
// A script reading /dev/zero by lines, ExitOnError off, with less memory
// than a line would need: ReadLine fails as a command (GetLastError tells
// ERR_MEM) and the script goes on. (The sanitizers reserve more address
// space than any cap leaves.)
class DosScriptTest : public libstest::SystemVmFixture {
protected:
    void SetUp() override {
        SystemVmFixture::SetUp();
        SetRuntimeTag(kTagQuiet, 1);
        SetErrorHandlerRef(-1);
        VmPushValue(L, kGlobalsIndex);
        ASSERT_EQ(InitSystemLibrary(L), 0);
        ASSERT_EQ(InitDosLibrary(L), 0);
        VmSetTop(L, 0);
    }
    void TearDown() override {
        FreeDosObjects(L);
        FreeSystemObjects(L);
        SystemVmFixture::TearDown();
    }
};

TEST_F(DosScriptTest, ReadLineOutOfMemoryIsACommandError) {
    long pages = 0;
    std::ifstream("/proc/self/statm") >> pages;
    ASSERT_GT(pages, 0);
    rlimit old{};
    getrlimit(RLIMIT_AS, &old);
    rlimit capped = old;
    capped.rlim_cur = static_cast<rlim_t>(pages) * static_cast<rlim_t>(sysconf(_SC_PAGESIZE)) + (rlim_t{256} << 20);
    ASSERT_EQ(setrlimit(RLIMIT_AS, &capped), 0);
    const std::string result = Eval(R"(.function main maxstack=6
    GETGLOBAL 0 "exitonerror"
    LOADK 1 #0
    CALL 0 2 1
    GETGLOBAL 0 "openfile"
    LOADK 1 #9
    LOADK 2 "/dev/zero"
    CALL 0 3 1
    GETGLOBAL 0 "readline"
    LOADK 1 #9
    CALL 0 2 1
    GETGLOBAL 0 "getlasterror"
    CALL 0 1 2
    GETGLOBAL 1 "readchr"
    LOADK 2 #9
    CALL 1 2 2
    RETURN 0 3
.end)");
    setrlimit(RLIMIT_AS, &old);
    EXPECT_EQ(result, "1000 0");
}
#endif

// Eof of a FIFO or a /proc file is 0 until a read met the end, so that a
// While Not Eof loop reads every line.
TEST_F(DosGateTest, EofOfAStreamWaitsForItsEnd) {
    const std::string fifo = dir_ / "pipe";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    std::thread writer([&] {
        const int fd = open(fifo.c_str(), O_WRONLY | O_CLOEXEC);
        if (fd < 0) return;
        const std::string text = "one\ntwo\r\nthree\n";
        (void)!write(fd, text.data(), text.size());
        close(fd);
    });
    ASSERT_EQ(Call("OpenFile", {1.0, fifo}), 0);
    writer.join();
    EXPECT_EQ(LinesUntilEof(1.0), (std::vector<std::string>{"one", "two", "three"}));

    std::vector<std::string> expected;
    {
        std::ifstream in("/proc/self/status");
        for (std::string l; std::getline(in, l);) expected.push_back(l.substr(0, l.find(':')));
    }
    ASSERT_EQ(Call("OpenFile", {2.0, std::string("/proc/self/status")}), 0);
    std::vector<std::string> names;
    for (const std::string& l : LinesUntilEof(2.0)) names.push_back(l.substr(0, l.find(':')));
    EXPECT_EQ(names, expected);
    EXPECT_GT(names.size(), 10u);

    // A regular file ends where its size says, as before.
    const std::string plain = dir_.Write("plain.txt", "a\nb\n");
    ASSERT_EQ(Call("OpenFile", {3.0, plain}), 0);
    EXPECT_EQ(LinesUntilEof(3.0), (std::vector<std::string>{"a", "b"}));
}

}  // namespace
