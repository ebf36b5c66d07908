// The dos library's file objects: ids, the byte, number and line input and
// output, the whole-file helpers, the line iterator and the environment.
#include <fstream>
#include <random>

#include "core/errcodes.h"
#include "core/errors.h"
#include "dos_fixture.h"

namespace {

using dostest::Bytes;

class DosFilesTest : public dostest::DosFixture {
protected:
    std::string Read(const std::string& path) { return ScratchDir::Read(path); }
};

TEST_F(DosFilesTest, AutomaticAndNumericIds) {
    const std::string path = dir_ / "a.txt";
    ASSERT_EQ(Call("OpenFile", {nullptr, path, 1006.0}), 0);
    void* handle = Handle(1);
    ASSERT_NE(handle, nullptr);
    EXPECT_EQ(Call("CloseFile", {handle}), 0);
    EXPECT_EQ(Call("CloseFile", {handle}), ERR_FINDARRAY);
    EXPECT_EQ(Call("CloseFile", {7.0}), ERR_FINDFILE);
    EXPECT_EQ(GetErrorArgIndex(), 7);

    // Reopening an id closes the old file, whose bytes are then on disk.
    ASSERT_EQ(Call("OpenFile", {1.0, path, 1006.0}), 0);
    ASSERT_EQ(Call("WriteLine", {1.0, std::string("first")}), 0);
    ASSERT_EQ(Call("OpenFile", {1.0, dir_ / "b.txt", 1006.0}), 0);
    EXPECT_EQ(Read(path), "first\n");
    EXPECT_EQ(FileCount(), 1);

    // A failed open leaves no record, and the id stays free.
    EXPECT_EQ(Call("OpenFile", {2.0, dir_ / "missing"}), ERR_READFILE);
    EXPECT_EQ(Detail(), dir_ / "missing");
    EXPECT_EQ(Call("OpenFile", {3.0, dir_ / "no/dir/x", 1006.0}), ERR_WRITEFILE);
    EXPECT_EQ(FileCount(), 1);
    EXPECT_EQ(Call("OpenFile", {4.0, path, 1234.0}), ERR_WRONGUSAGE);
    EXPECT_EQ(Call("OpenFile", {4.0, std::string()}), ERR_WRONGUSAGE);
    // Mode 0 is how start-up opens declared files: read.
    EXPECT_EQ(Call("OpenFile", {5.0, path, 0.0}), 0);
    EXPECT_EQ(Call("ReadLine", {5.0}), 0);
    EXPECT_EQ(Str(1), "first");
}

TEST_F(DosFilesTest, NumbersInBothByteOrders) {
    const std::string path = dir_ / "n.bin";
    ASSERT_EQ(Call("OpenFile", {1.0, path, 1006.0}), 0);
    ASSERT_EQ(Call("WriteInt", {1.0, -2.0}), 0);
    ASSERT_EQ(Call("WriteInt", {1.0, -2.0, 1.0}), 0);
    ASSERT_EQ(Call("WriteShort", {1.0, 65534.0}), 0);
    ASSERT_EQ(Call("WriteFloat", {1.0, 0.1, 4.0}), 0);
    ASSERT_EQ(Call("WriteFloat", {1.0, 0.1}), 0);
    EXPECT_EQ(Call("WriteFloat", {1.0, 0.1, 2.0}), ERR_WRONGUSAGE);
    ASSERT_EQ(Call("CloseFile", {1.0}), 0);
    const std::string bytes = Read(path);
    ASSERT_EQ(bytes.size(), 4u + 4 + 2 + 4 + 8);
    EXPECT_EQ(bytes.substr(0, 10), Bytes({0xFF, 0xFF, 0xFF, 0xFE, 0xFE, 0xFF, 0xFF, 0xFF, 0xFF, 0xFE}));

    ASSERT_EQ(Call("OpenFile", {1.0, path}), 0);
    ASSERT_EQ(Call("ReadInt", {1.0}), 0);
    EXPECT_EQ(Num(1), -2);
    ASSERT_EQ(Call("ReadInt", {1.0, 1.0}), 0);
    EXPECT_EQ(Num(1), -2);
    ASSERT_EQ(Call("ReadShort", {1.0}), 0);
    EXPECT_EQ(Num(1), 65534);
    ASSERT_EQ(Call("ReadFloat", {1.0, 4.0}), 0);
    EXPECT_EQ(Num(1), static_cast<double>(0.1f));
    ASSERT_EQ(Call("ReadFloat", {1.0}), 0);
    EXPECT_EQ(Num(1), 0.1);
    ASSERT_EQ(Call("Seek", {1.0, 8.0}), 0);
    ASSERT_EQ(Call("ReadShort", {1.0, 1.0}), 0);
    EXPECT_EQ(Num(1), 0xFEFF);
}

TEST_F(DosFilesTest, LinesDropCarriageReturns) {
    const std::string path = dir_.Write("l.txt", Bytes({0x61, 0x0D, 0x0A, 0x62}));
    ASSERT_EQ(Call("OpenFile", {1.0, path}), 0);
    for (const char* expected : {"a", "b", "", ""}) {
        ASSERT_EQ(Call("ReadLine", {1.0}), 0);
        EXPECT_EQ(Str(1), expected);
    }
    ASSERT_EQ(Call("Eof", {1.0}), 0);
    EXPECT_EQ(Num(1), 1);
}

// A log that grows while it is read: Eof looks again at the file where the
// size it knew runs out, so a loop to the end reads what was appended,
// before and after it first met the end.
TEST_F(DosFilesTest, AGrowingLogIsReadToItsNewEnd) {
    const std::string path = dir_.Write("log.txt", "a\nb\n");
    ASSERT_EQ(Call("OpenFile", {1.0, path}), 0);
    ASSERT_EQ(Call("ReadLine", {1.0}), 0);
    EXPECT_EQ(Str(1), "a");
    const auto append = [&](const char* text) { std::ofstream(path, std::ios::app | std::ios::binary) << text; };
    append("c\nd\n");
    std::string lines;
    const auto readToEnd = [&] {
        for (int guard = 0; guard < 100; ++guard) {
            EXPECT_EQ(Call("Eof", {1.0}), 0);
            if (Num(1) != 0) return;
            EXPECT_EQ(Call("ReadLine", {1.0}), 0);
            lines += Str(1) + ";";
        }
    };
    readToEnd();
    EXPECT_EQ(lines, "b;c;d;");
    append("e\n");
    readToEnd();
    EXPECT_EQ(lines, "b;c;d;e;");
    // A file cut short keeps its end where the reader stands.
    std::ofstream(path, std::ios::binary | std::ios::trunc) << "a";
    ASSERT_EQ(Call("Eof", {1.0}), 0);
    EXPECT_EQ(Num(1), 1);
}

TEST_F(DosFilesTest, SeekPositionsAndShortReads) {
    const std::string path = dir_.Write("s.bin", "0123456789");
    ASSERT_EQ(Call("OpenFile", {1.0, path}), 0);
    ASSERT_EQ(Call("Seek", {1.0, -1.0}), 0);
    ASSERT_EQ(Call("FilePos", {1.0}), 0);
    EXPECT_EQ(Num(1), 10);
    ASSERT_EQ(Call("FileLength", {1.0}), 0);
    EXPECT_EQ(Num(1), 10);
    ASSERT_EQ(Call("Seek", {1.0, -3.0, 2.0}), 0);
    ASSERT_EQ(Call("ReadChr", {1.0}), 0);
    EXPECT_EQ(Num(1), '7');
    // A read past the end fails and leaves the position where it stopped.
    EXPECT_EQ(Call("ReadString", {1.0, 5.0}), ERR_READ);
    ASSERT_EQ(Call("FilePos", {1.0}), 0);
    EXPECT_EQ(Num(1), 10);
    EXPECT_EQ(Call("ReadChr", {1.0}), ERR_READ);
    EXPECT_EQ(Call("ReadChr", {1.0}), ERR_READ);
    ASSERT_EQ(Call("ReadLine", {1.0}), 0);
    EXPECT_EQ(Str(1), "");
    ASSERT_EQ(Call("FilePos", {1.0}), 0);
    EXPECT_EQ(Num(1), 10);
    EXPECT_EQ(Call("ReadInt", {1.0}), ERR_READ);
    // A huge length fails on the short file without asking for its size.
    ASSERT_EQ(Call("Seek", {1.0, 0.0}), 0);
    EXPECT_EQ(Call("ReadString", {1.0, 536870912.0}), ERR_READ);
    ASSERT_EQ(Call("Seek", {1.0, 2.0}), 0);
    ASSERT_EQ(Call("ReadString", {1.0, 3.0}), 0);
    EXPECT_EQ(Str(1), "234");
    EXPECT_EQ(Call("Seek", {1.0, 0.0, 9.0}), ERR_SEEKFILE);
}

TEST_F(DosFilesTest, AccessModesAndStringLengths) {
    const std::string path = dir_ / "w.txt";
    ASSERT_EQ(Call("OpenFile", {1.0, path, 1006.0}), 0);
    EXPECT_EQ(Call("ReadChr", {1.0}), ERR_WRITEONLY);
    EXPECT_EQ(Call("ReadLine", {1.0}), ERR_WRITEONLY);
    EXPECT_EQ(Call("WriteString", {1.0, std::string("abc"), 4.0}), ERR_STRTOOSHORT);
    ASSERT_EQ(Call("WriteString", {1.0, std::string("abc"), 0.0}), 0);
    ASSERT_EQ(Call("WriteString", {1.0, std::string("xyz"), 2.0}), 0);
    ASSERT_EQ(Call("WriteChr", {1.0, 321.0}), 0);  // the low byte
    ASSERT_EQ(Call("CloseFile", {1.0}), 0);
    EXPECT_EQ(Read(path), "abcxyA");
    ASSERT_EQ(Call("OpenFile", {1.0, path}), 0);
    EXPECT_EQ(Call("WriteChr", {1.0, 65.0}), ERR_READONLY);
    EXPECT_EQ(Call("WriteLine", {1.0, std::string("x")}), ERR_READONLY);

    // Read and write on one handle.
    ASSERT_EQ(Call("OpenFile", {2.0, path, 1004.0}), 0);
    ASSERT_EQ(Call("WriteChr", {2.0, 66.0}), 0);
    ASSERT_EQ(Call("ReadChr", {2.0}), 0);
    EXPECT_EQ(Num(1), 'b');
    ASSERT_EQ(Call("CloseFile", {2.0}), 0);

    EXPECT_EQ(Call("SetIOMode", {2.0}), ERR_WRONGUSAGE);
    ASSERT_EQ(Call("SetIOMode", {1.0}), 0);
    ASSERT_EQ(Call("OpenFile", {1.0, path}), 0);
    ASSERT_EQ(Call("ReadLine", {1.0}), 0);
    EXPECT_EQ(Str(1), "BbcxyA");
}

TEST_F(DosFilesTest, WholeFilesKeepEveryByte) {
    std::string data(1 << 20, '\0');
    std::mt19937 random(3);
    for (char& c : data) c = static_cast<char>(random() % 4 == 0 ? 0 : random());
    const std::string path = dir_ / "big.bin";
    ASSERT_EQ(Call("StringToFile", {data, path}), 0);
    EXPECT_EQ(Read(path), data);
    ASSERT_EQ(Call("FileToString", {path}), 0);
    EXPECT_EQ(Str(1), data);
    EXPECT_EQ(Num(2), data.size());
    ASSERT_EQ(Call("StringToFile", {std::string(), path}), 0);
    ASSERT_EQ(Call("FileToString", {path}), 0);
    EXPECT_EQ(Str(1), "");
    EXPECT_EQ(Call("FileToString", {dir_ / "missing"}), ERR_READFILE);
    EXPECT_EQ(Call("StringToFile", {std::string("x"), dir_ / "no/dir/x"}), ERR_WRITEFILE);
}

TEST_F(DosFilesTest, DirectoriesAreNoFiles) {
    EXPECT_EQ(Call("OpenFile", {1.0, dir_.str()}), ERR_READFILE);
    EXPECT_EQ(Call("FileToString", {dir_.str()}), ERR_READFILE);
    EXPECT_EQ(Call("FileLines", {dir_.str()}), ERR_READFILE);
    EXPECT_EQ(FileCount(), 0);
}

TEST_F(DosFilesTest, FileLinesComesInPiecesAndCloses) {
    const std::string path = dir_.Write("long.txt", std::string(3000, 'x') + "\r\n\r\nend");
    const int before = OpenDescriptors();
    ASSERT_EQ(Call("FileLines", {path}), 0);
    ASSERT_EQ(VmType(L, 1), kTypeFunction);
    EXPECT_EQ(OpenDescriptors(), before + 1);
    std::vector<std::string> lines;
    for (;;) {
        VmPushValue(L, 1);
        ASSERT_EQ(VmPCall(L, 0, 1, 0), 0);
        if (VmType(L, -1) == kTypeNil) break;
        lines.push_back(Str(-1));
        VmSetTop(L, 1);
    }
    ASSERT_EQ(lines.size(), 5u);
    EXPECT_EQ(lines[0].size(), 1024u);
    EXPECT_EQ(lines[1].size(), 1024u);
    EXPECT_EQ(lines[2], std::string(952, 'x'));
    EXPECT_EQ(lines[3], "");
    EXPECT_EQ(lines[4], "end");
    EXPECT_EQ(OpenDescriptors(), before);

    // An iterator dropped before the end closes its file when collected.
    ASSERT_EQ(Call("FileLines", {path}), 0);
    VmPushValue(L, 1);
    ASSERT_EQ(VmPCall(L, 0, 1, 0), 0);
    EXPECT_EQ(OpenDescriptors(), before + 1);
    VmSetTop(L, 0);
    VmSetGcThreshold(L, 0);
    EXPECT_EQ(OpenDescriptors(), before);
}

TEST_F(DosFilesTest, Environment) {
    unsetenv("QB_DOS_TEST_VAR");
    ASSERT_EQ(Call("GetEnv", {std::string("QB_DOS_TEST_VAR")}), 0);
    EXPECT_EQ(Str(1), "");
    EXPECT_EQ(Num(2), 0);
    ASSERT_EQ(Call("SetEnv", {std::string("QB_DOS_TEST_VAR"), std::string("v 1")}), 0);
    ASSERT_EQ(Call("GetEnv", {std::string("QB_DOS_TEST_VAR")}), 0);
    EXPECT_EQ(Str(1), "v 1");
    EXPECT_EQ(Num(2), 1);
    ASSERT_EQ(Call("UnsetEnv", {std::string("QB_DOS_TEST_VAR")}), 0);
    ASSERT_EQ(Call("GetEnv", {std::string("QB_DOS_TEST_VAR")}), 0);
    EXPECT_EQ(Num(2), 0);
    EXPECT_EQ(Call("SetEnv", {std::string("A=B"), std::string("x")}), ERR_SETENV);
    ASSERT_EQ(Call("GetAsset", {std::string("pic.png")}), 0);
    EXPECT_EQ(Str(1), "pic.png");
}

TEST_F(DosFilesTest, AttributesOfAnOpenFile) {
    const std::string path = dir_.Write("attr.txt", "12345");
    ASSERT_EQ(Call("OpenFile", {1.0, path}), 0);
    ASSERT_EQ(Call("FileAttributes", {1.0}), 0);
    ASSERT_EQ(VmType(L, 1), kTypeTable);
    auto field = [&](const char* key) {
        VmPushString(L, key);
        VmGetTableAt(L, 1);
        std::string text = VmType(L, -1) == kTypeString ? Str(-1)
                           : VmType(L, -1) == kTypeNil  ? "nil"
                                                        : std::to_string(static_cast<int>(Num(-1)));
        VmSetTop(L, 1);
        return text;
    };
    EXPECT_EQ(field("type"), "0");
    EXPECT_EQ(field("size"), "5");
    EXPECT_EQ(field("noseek"), "0");
    EXPECT_EQ(field("streaming"), "0");
    EXPECT_NE(field("path").find("attr.txt"), std::string::npos);
    // "05-Mar-2016 09:04:01"
    const std::string time = field("time");
    EXPECT_EQ(time.size(), 20u);
    EXPECT_EQ(time[2], '-');
}

}  // namespace
