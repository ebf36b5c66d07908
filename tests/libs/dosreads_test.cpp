// Reads that stop short of a file's end: a file cut under its reader and a
// read that fails are errors, never a shorter file, and a loop reading to
// the end always ends. Parts of files open only over files a reader may
// read.
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>

#include "core/errcodes.h"
#include "core/errors.h"
#include "core/pluginadapters.h"
#include "dos_fixture.h"
#include "platform/platform.h"

namespace {

namespace fs = std::filesystem;

// An adapter whose files fail after their first bytes, as a device with a
// read error does: reads then give nothing while its end test says there
// is more. It serves names starting "failing:".
constexpr char kFailingText[] = "first\nsecond\n";

struct FailingHandle {
    size_t position = 0;
};

void* FailingOpen(const char* name, int, const qbFileTag*) {
    if (std::strncmp(name, "failing:", 8) != 0) return nullptr;
    return std::make_unique<FailingHandle>().release();
}
int FailingClose(void* h) {
    std::unique_ptr<FailingHandle> owner(static_cast<FailingHandle*>(h));
    return 1;
}
size_t FailingRead(void* p, void* buffer, size_t count) {
    auto* h = static_cast<FailingHandle*>(p);
    const size_t n = std::min(count, sizeof kFailingText - 1 - h->position);
    std::memcpy(buffer, kFailingText + h->position, n);
    h->position += n;
    return n;
}
int FailingGetC(void* p) {
    unsigned char c = 0;
    return FailingRead(p, &c, 1) ? c : -1;
}
int FailingEof(void*) { return 0; }

class DosReadsTest : public dostest::DosFixture {
protected:
    void SetUp() override {
        DosFixture::SetUp();
        plugin_.name = "failing";
        plugin_.slots.FOpen = FailingOpen;
        plugin_.slots.FClose = FailingClose;
        plugin_.slots.FRead = FailingRead;
        plugin_.slots.FGetC = FailingGetC;
        plugin_.slots.FEof = FailingEof;
        ASSERT_EQ(AddAdapterPlugin(kPluginCapsFileAdapter, &plugin_), 0);
    }
    void TearDown() override {
        RemoveAdapterPlugin(kPluginCapsFileAdapter, &plugin_);
        DosFixture::TearDown();
    }

    // Runs the script's `While Not Eof(1) ReadLine(1)` loop for at most
    // steps lines, asking its progress as it goes (which must forget no
    // end met); how many lines it read, and how many reads failed.
    struct Loop {
        bool ended = false;
        int lines = 0;
        int failures = 0;
    };
    Loop ReadToEof(int steps) {
        Loop loop;
        for (int i = 0; i < steps; ++i) {
            if (Call("Eof", {1.0}) != 0 || Num(1) != 0) {
                loop.ended = true;
                break;
            }
            const int err = Call("ReadLine", {1.0});
            if (err == ERR_READ)
                ++loop.failures;
            else if (err == 0)
                ++loop.lines;
            if (Call("FilePos", {1.0}) != 0 || Call("FileLength", {1.0}) != 0) break;
        }
        return loop;
    }

    // Calls the FileLines iterator at stack slot 1 to its end: 0, or the
    // error code that stopped it; *lines counts the lines it gave.
    int IterateLines(int* lines) {
        *lines = 0;
        for (int i = 0; i < 100000; ++i) {
            VmSetTop(L, 1);
            VmPushValue(L, 1);
            if (int status = VmPCall(L, 0, 1, 0)) return status;
            if (VmType(L, -1) == kTypeNil) return 0;
            ++*lines;
        }
        return -1;
    }

    qbAdapterPlugin plugin_;
};

// Log rotation: the file is cut while a script reads it by lines. The loop
// ends, once, with ERR_READ, after the lines read before the cut.
TEST_F(DosReadsTest, ACutLogEndsTheEofLoopWithAnError) {
    std::string log;
    for (int i = 0; i < 5000; ++i) log += "entry " + std::to_string(i) + "\n";
    const std::string path = dir_.Write("app.log", log);
    ASSERT_EQ(Call("OpenFile", {1.0, path}), 0);
    ASSERT_EQ(Call("ReadLine", {1.0}), 0);
    ASSERT_EQ(truncate(path.c_str(), 0), 0);
    const Loop loop = ReadToEof(10000);
    EXPECT_TRUE(loop.ended);
    EXPECT_EQ(loop.failures, 1);
    EXPECT_LT(loop.lines, 5000);
    // A read too large for the read-ahead meets the cut the same way.
    ASSERT_EQ(Call("OpenFile", {3.0, dir_.Write("big.log", std::string(100000, 'x'))}), 0);
    ASSERT_EQ(truncate((dir_ / "big.log").c_str(), 0), 0);
    EXPECT_EQ(Call("ReadString", {3.0, 50000.0}), ERR_READ);
    ASSERT_EQ(Call("FilePos", {3.0}), 0);
    EXPECT_EQ(Num(1), 0);
    ASSERT_EQ(Call("Eof", {3.0}), 0);
    EXPECT_EQ(Num(1), 1);

    // Read whole, the file ends without an error, and a seek back reads
    // it again.
    ASSERT_EQ(Call("OpenFile", {2.0, dir_.Write("whole.log", "a\nb")}), 0);
    for (const char* expected : {"a", "b"}) {
        ASSERT_EQ(Call("ReadLine", {2.0}), 0);
        EXPECT_EQ(Str(1), expected);
    }
    ASSERT_EQ(Call("Eof", {2.0}), 0);
    EXPECT_EQ(Num(1), 1);
    ASSERT_EQ(Call("Seek", {2.0, 0.0}), 0);
    ASSERT_EQ(Call("Eof", {2.0}), 0);
    EXPECT_EQ(Num(1), 0);
}

// Another handle changes a file a script reads: appends, cuts or rewrites
// it, with the reader mid-file, at the end it met, and at the end after it
// saw the file grow. Each step's answer: E Eof, P FilePos, N FileLength,
// L ReadLine ("!" for ERR_READ), S a seek to the start. What was appended
// is read; a cut is an error once, and the loop then ends.
TEST_F(DosReadsTest, EofAndPositionFollowAFileChangedByAnotherHandle) {
    const std::string path = dir_ / "changed.txt";
    const auto step = [&](char op) -> std::string {
        int err = 0;
        switch (op) {
            case 'E': err = Call("Eof", {1.0}); break;
            case 'P': err = Call("FilePos", {1.0}); break;
            case 'N': err = Call("FileLength", {1.0}); break;
            case 'L': err = Call("ReadLine", {1.0}); break;
            case 'S': return Call("Seek", {1.0, 0.0}) == 0 ? "S" : "S!";
        }
        if (err) return std::string(1, op) + (err == ERR_READ ? "!" : std::to_string(err));
        return std::string(1, op) + (op == 'L' ? Str(1) : std::to_string(static_cast<int64_t>(Num(1))));
    };
    const auto run = [&](const char* ops) {
        std::string out;
        for (const char* op = ops; *op; ++op) out += (out.empty() ? "" : " ") + step(*op);
        return out;
    };
    const auto append = [&](const char* text) { std::ofstream(path, std::ios::app | std::ios::binary) << text; };
    const auto rewrite = [&](const char* text) { std::ofstream(path, std::ios::trunc | std::ios::binary) << text; };
    const auto open = [&] {
        rewrite("ab\ncd\n");
        return Call("OpenFile", {1.0, path});
    };

    // Appended mid-file, at the end met, at the end after a growth.
    ASSERT_EQ(open(), 0);
    EXPECT_EQ(run("L"), "Lab");
    append("ef\n");
    EXPECT_EQ(run("EPLEPNLEPN"), "E0 P3 Lcd E0 P6 N9 Lef E1 P9 N9");
    append("gh\n");
    EXPECT_EQ(run("ELEPN"), "E0 Lgh E1 P12 N12");

    // Cut below the reader at the end it met: the end stays.
    ASSERT_EQ(open(), 0);
    EXPECT_EQ(run("LLE"), "Lab Lcd E1");
    ASSERT_EQ(truncate(path.c_str(), 2), 0);
    EXPECT_EQ(run("EPNLE"), "E1 P6 N6 L E1");

    // Grown after the end was met, then cut back before a read: the grown
    // size is what the reader knows, so the next read is short, an error.
    ASSERT_EQ(open(), 0);
    EXPECT_EQ(run("LLE"), "Lab Lcd E1");
    append("ef\n");
    EXPECT_EQ(run("EN"), "E0 N9");
    ASSERT_EQ(truncate(path.c_str(), 6), 0);
    EXPECT_EQ(run("EPNLEP"), "E0 P6 N9 L! E1 P6");

    // Rewritten longer mid-file: the window read before stays, the rest is
    // read from the new bytes at the reader's position.
    ASSERT_EQ(open(), 0);
    EXPECT_EQ(run("L"), "Lab");
    rewrite("0123456789\nxy\n");
    EXPECT_EQ(run("LEPLELEPN"), "Lcd E0 P6 L6789 E0 Lxy E1 P14 N14");
    // Rewritten shorter after the end: it ends where it was met.
    rewrite("z\n");
    EXPECT_EQ(run("EPLE"), "E1 P14 L E1");
    ASSERT_EQ(Call("CloseFile", {1.0}), 0);
}

// A read that fails ends the loop the same way, and the whole-file readers
// refuse the prefix they got.
TEST_F(DosReadsTest, AFailingReadIsAnError) {
    ASSERT_EQ(Call("OpenFile", {1.0, std::string("failing:log")}), 0);
    const Loop loop = ReadToEof(100);
    EXPECT_TRUE(loop.ended);
    EXPECT_EQ(loop.lines, 2);
    EXPECT_EQ(loop.failures, 1);
    // A file of the system whose read fails: the process's memory at
    // address 0, which no process maps.
    ASSERT_EQ(Call("OpenFile", {2.0, std::string("/proc/self/mem")}), 0);
    EXPECT_EQ(Call("ReadLine", {2.0}), ERR_READ);
    ASSERT_EQ(Call("Eof", {2.0}), 0);
    EXPECT_EQ(Num(1), 1);

    for (const char* command : {"CRC32", "MD5", "FileToString"})
        EXPECT_EQ(Call(command, {std::string("failing:log")}), ERR_READ) << command;
    EXPECT_EQ(Call("CompressFile", {std::string("failing:log"), dir_ / "out"}), ERR_READ);
    fs::create_directory(dir_ / "copies");
    EXPECT_EQ(Call("CopyFile", {std::string("failing:log"), dir_ / "copies"}), ERR_READ);
    EXPECT_TRUE(fs::is_empty(dir_ / "copies"));
    ASSERT_EQ(Call("FileLines", {std::string("failing:log")}), 0);
    int lines = 0;
    EXPECT_EQ(IterateLines(&lines), ERR_READ);
    EXPECT_EQ(lines, 2);
}

// A part of a file whose container was cut since: every whole-file reader
// answers ERR_READ, never the sum or text of what is left.
TEST_F(DosReadsTest, ReadersOfACutFileFail) {
    const std::string path = dir_.Write("data.bin", std::string(100000, 'd') + "\n");
    ASSERT_EQ(Call("DefineVirtualFile", {path, 0.0, 100001.0, std::string("part.bin")}), 0);
    const std::string part = Str(1);
    ASSERT_EQ(Call("CRC32", {part}), 0);
    ASSERT_EQ(truncate(path.c_str(), 50000), 0);
    for (const char* command : {"CRC32", "MD5", "FileToString"})
        EXPECT_EQ(Call(command, {part}), ERR_READ) << command;
    EXPECT_EQ(Call("CompressFile", {part, dir_ / "out"}), ERR_READ);
    fs::create_directory(dir_ / "copies");
    EXPECT_EQ(Call("CopyFile", {part, dir_ / "copies"}), ERR_READ);
    EXPECT_TRUE(fs::is_empty(dir_ / "copies"));
    ASSERT_EQ(Call("FileLines", {part}), 0);
    int lines = 0;
    EXPECT_EQ(IterateLines(&lines), ERR_READ);
}

// A part of a FIFO or of a device is refused when it is defined, and a
// container swapped for one later when the part is opened: nothing waits
// for a writer or reads without end.
TEST_F(DosReadsTest, PartsOnlyOfRegularFiles) {
    const std::string fifo = dir_ / "pipe";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_EQ(Call("DefineVirtualFile", {fifo, 0.0, 10.0, std::string("p.bin")}), ERR_READFILE);
    EXPECT_EQ(Detail(), fifo);
    EXPECT_EQ(Call("DefineVirtualFile", {std::string("/dev/zero"), 0.0, 10.0, std::string("z.bin")}), ERR_READFILE);
    EXPECT_EQ(Call("DefineVirtualFile", {dir_ / "missing", 0.0, 10.0, std::string("m.bin")}), ERR_READFILE);

    const std::string path = dir_.Write("swapped.bin", "0123456789");
    ASSERT_EQ(Call("DefineVirtualFile", {path, 2.0, 5.0, std::string("s.bin")}), 0);
    const std::string part = Str(1);
    fs::remove(path);
    fs::create_symlink("/dev/zero", path);
    EXPECT_EQ(Call("CRC32", {part}), ERR_READFILE);
    EXPECT_EQ(Call("FileToString", {part}), ERR_READFILE);
}

// "PROGDIR:" names the program's folder in a container as everywhere.
TEST_F(DosReadsTest, PartsOfProgramFolderFiles) {
    char exe[PATH_MAX] = {};
    GetExecutablePath(exe, sizeof exe);
    const std::string name = "qb_part_" + std::to_string(getpid());
    const std::string path = (fs::path(exe).parent_path() / name).string();
    std::ofstream(path, std::ios::binary) << "0123456789";
    const int defined = Call("DefineVirtualFile", {"PROGDIR:" + name, 3.0, 4.0, std::string("g.txt")});
    const int read = defined == 0 ? Call("FileToString", {Str(1)}) : defined;
    const std::string text = Str(1);
    fs::remove(path);
    ASSERT_EQ(read, 0);
    EXPECT_EQ(text, "3456");
}

// A string longer than any the commands build is refused before a byte is
// read.
TEST_F(DosReadsTest, ReadStringIsBounded) {
    ASSERT_EQ(Call("OpenFile", {1.0, dir_.Write("s.txt", "0123456789")}), 0);
    EXPECT_EQ(Call("ReadString", {1.0, 1e12}), ERR_MEM);
    EXPECT_EQ(Call("ReadString", {1.0, static_cast<double>(kLongestLine) + 1}), ERR_MEM);
    ASSERT_EQ(Call("FilePos", {1.0}), 0);
    EXPECT_EQ(Num(1), 0);
    ASSERT_EQ(Call("ReadString", {1.0, 10.0}), 0);
    EXPECT_EQ(Str(1), "0123456789");
}

}  // namespace
