// The memblock library: typed values, the range rule, fills and copies,
// the hex dump, tables, files and blocks over virtual files.
#include <gtest/gtest.h>

#include <time.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <string>

#include "core/errcodes.h"
#include "libs/libcall_fixture.h"

namespace {

class MemblockTest : public libstest::LibCallFixture {
protected:
    // Block 1 of n bytes holding the given bytes from offset 0.
    void Block(int n, const std::string& bytes = {}) {
        ASSERT_EQ(Run("AllocMem", {1.0, double(n)}), "");
        for (size_t i = 0; i < bytes.size(); ++i)
            ASSERT_EQ(Run("Poke", {1.0, double(i), double(static_cast<unsigned char>(bytes[i])), 7.0}), "");
    }
    std::string Bytes(int offset, int n) { return Run("Peek", {1.0, double(offset), 3.0, double(n)}); }
    std::string Dump(std::vector<libstest::CallArg> args) {
        testing::internal::CaptureStdout();
        const std::string r = Run("DumpMem", args);
        std::fflush(stdout);
        return r + testing::internal::GetCapturedStdout();
    }
    // A virtual file over the text; its chunk name.
    std::string Virtual(const std::string& text, bool writable) {
        EXPECT_EQ(Raw("DefineVirtualFileFromString", {text, std::string("v.bin"), writable ? 1.0 : 0.0}), 0);
        return std::string(VmToCString(L, 1), VmStrLen(L, 1));
    }
};

TEST_F(MemblockTest, IntegersAreBigEndianAndUnsigned) {
    Block(4);
    EXPECT_EQ(Run("Poke", {1.0, 0.0, 1.0}), "");
    EXPECT_EQ(Bytes(0, 4), std::string("\0\0\0\1", 4));
    EXPECT_EQ(Run("Peek", {1.0, 0.0}), "1");
    EXPECT_EQ(Run("Peek", {1.0, 0.0, 1.0, 1.0}), "16777216");
    EXPECT_EQ(Run("Poke", {1.0, 0.0, -1.0}), "");
    EXPECT_EQ(Run("Peek", {1.0, 0.0}), "4294967295");
    EXPECT_EQ(Run("Poke", {1.0, 0.0, double(0x1234), 6.0, 1.0}), "");
    EXPECT_EQ(Run("Peek", {1.0, 0.0, 6.0}), "13330");
    EXPECT_EQ(Run("Poke", {1.0, 0.0, 1.5, 11.0, 1.0}), "");
    EXPECT_EQ(Run("Peek", {1.0, 0.0, 11.0, 1.0}), "1.5");
    EXPECT_EQ(Run("Peek", {1.0, 0.0, 2.0}), "E1055");
    EXPECT_EQ(Run("Poke", {1.0, 0.0, 1.0, 2.0}), "E1055");
}

TEST_F(MemblockTest, EveryTouchedByteMustLieInTheBlock) {
    Block(4);
    ASSERT_EQ(Run("FillMem", {1.0, 0.0, 4.0}), "");
    EXPECT_EQ(Run("Peek", {1.0, 0.0, 1.0}), "0");
    EXPECT_EQ(Run("Peek", {1.0, 1.0, 1.0}), "E1146");
    EXPECT_EQ(Run("Peek", {1.0, 3.0, 7.0}), "0");
    EXPECT_EQ(Run("Peek", {1.0, 4.0, 7.0}), "E1146");
    EXPECT_EQ(Run("Peek", {1.0, -1.0, 7.0}), "E1146");
    EXPECT_EQ(Run("Poke", {1.0, 1.0, 0.0, 12.0}), "E1146");
    EXPECT_EQ(Run("Poke", {1.0, 0.0, std::string("abcd"), 3.0}), "E1146");
    EXPECT_EQ(Run("Poke", {1.0, 0.0, std::string("abc"), 3.0}), "");
    EXPECT_EQ(Run("GetMemPointer", {1.0, 4.0}), "E1055");
    EXPECT_EQ(Run("GetMemPointer", {1.0, 3.0}), "userdata");
    EXPECT_EQ(Run("Peek", {2.0, 0.0}), "E1180");
    EXPECT_EQ(Run("Peek", {static_cast<void*>(this), 0.0}), "E1041");
}

// Sizes and counts are refused unless finite and inside 32 bits: inf, 1e300
// and 2^31 are no 2 GiB block, nor a count saturated into a range.
TEST_F(MemblockTest, SizesAndCountsBeyondThirtyTwoBitsAreRefused) {
    const double inf = std::numeric_limits<double>::infinity(), nan = std::nan("");
    for (double size : {inf, -inf, nan, 1e300, 2147483648.0, -2147483649.0}) {
        EXPECT_EQ(Run("AllocMem", {1.0, size}), "E1055") << size;
        EXPECT_EQ(Run("Peek", {1.0, 0.0}), "E1180") << size;  // nothing was made
    }
    Block(8);
    for (double count : {inf, nan, 1e300}) {
        EXPECT_EQ(Run("FillMem", {1.0, 0.0, count}), "E1055") << count;
        EXPECT_EQ(Run("Peek", {1.0, 0.0, 3.0, count}), "E1055") << count;
        EXPECT_EQ(Run("DumpMem", {1.0, count}), "E1055") << count;
    }
    EXPECT_EQ(Run("FillMem", {1.0, 0.0, -5.0}), "");  // a count below 1 still does nothing
}

TEST_F(MemblockTest, StringPeekWithoutLengthStopsAtTheFirstNonTextByte) {
    Block(6, "ab\tc\x01z");
    EXPECT_EQ(Run("Peek", {1.0, 0.0, 3.0}), "ab\tc");
    EXPECT_EQ(Run("Peek", {1.0, 5.0, 3.0}), "z");
    EXPECT_EQ(Run("Peek", {1.0, 6.0, 3.0}), "");
    EXPECT_EQ(Run("Peek", {1.0, 0.0, 3.0, -1.0}), "E1055");
    EXPECT_EQ(Run("Peek", {1.0, 4.0, 3.0, 3.0}), "E1146");
}

TEST_F(MemblockTest, FillsKeepTheirAlignmentRules) {
    Block(8);
    EXPECT_EQ(Run("FillMem", {1.0, double(0xAB), 8.0}), "");
    EXPECT_EQ(Run("Peek", {1.0, 4.0}), "2880154539");
    EXPECT_EQ(Run("FillMem", {1.0, double(0x1234), 3.0, 0.0, 6.0}), "E1055");
    EXPECT_EQ(Run("FillMem", {1.0, double(0x1234), 4.0, 1.0, 6.0}), "E1055");
    EXPECT_EQ(Run("FillMem", {1.0, double(0x1234), 6.0, 2.0, 6.0}), "");
    EXPECT_EQ(Bytes(0, 8), "\xAB\xAB\x12\x34\x12\x34\x12\x34");
    EXPECT_EQ(Run("FillMem", {1.0, double(0x01020304), 8.0, 0.0, 1.0}), "");
    EXPECT_EQ(Bytes(0, 8), "\x01\x02\x03\x04\x01\x02\x03\x04");
    EXPECT_EQ(Run("FillMem", {1.0, 1.0, 4.0, 2.0, 1.0}), "E1055");
    EXPECT_EQ(Run("FillMem", {1.0, 1.0, 4.0, 6.0}), "E1146");
    EXPECT_EQ(Run("FillMem", {1.0, 1.0, 0.0, 600.0}), "");
    EXPECT_EQ(Run("FillMem", {1.0, 1.0, 4.0, 0.0, 12.0}), "E1055");
}

TEST_F(MemblockTest, CopiesNeedTwoBlocksAndRoomInBoth) {
    Block(4, "wxyz");
    ASSERT_EQ(Run("AllocMem", {2.0, 8.0}), "");
    EXPECT_EQ(Run("CopyMem", {1.0, 1.0, 2.0}), "E1055");
    EXPECT_EQ(Run("CopyMem", {1.0, 2.0, 4.0, 0.0, 5.0}), "E1146");
    EXPECT_EQ(Run("CopyMem", {1.0, 2.0, 4.0, 1.0}), "E1146");
    EXPECT_EQ(Run("CopyMem", {1.0, 2.0, 4.0, 0.0, 4.0}), "");
    EXPECT_EQ(Run("Peek", {2.0, 4.0, 3.0, 4.0}), "wxyz");
    EXPECT_EQ(Run("CopyMem", {1.0, 2.0, 0.0, -5.0}), "");
    // A numeric id made again replaces the old block.
    ASSERT_EQ(Run("AllocMem", {2.0, 2.0}), "");
    EXPECT_EQ(Run("Peek", {2.0, 0.0}), "E1146");
    ASSERT_EQ(Raw("AllocMem", {nullptr, 4.0}), 0);
    void* handle = VmToUserdata(L, 1);
    EXPECT_EQ(Run("FreeMem", {handle}), "");
    EXPECT_EQ(Run("FreeMem", {handle}), "E1041");
}

TEST_F(MemblockTest, DumpPrintsSixteenBytesALine) {
    Block(20, "Hello, world!\n\x01\xff" "ABCD");
    const std::string pad(36, ' ');
    EXPECT_EQ(Dump({1.0}),
              "00000000: 48 65 6c 6c 6f 2c 20 77 6f 72 6c 64 21 0a 01 ff Hello, world!..\xff\n"
              "00000010: 41 42 43 44 " + pad + "ABCD\n");
    const std::string pad42(42, ' ');
    EXPECT_EQ(Dump({1.0, 2.0, 17.0}), "00000011: 42 43 " + pad42 + "BC\n");
    EXPECT_EQ(Dump({1.0, 5.0, 17.0}), "E1146");
    EXPECT_EQ(Dump({1.0, 1.0, -1.0}), "E1055");
}

TEST_F(MemblockTest, TablesInHostOrderWithOptions) {
    Block(8, std::string("\xff\xff\x01\x00\x00\x02\x80\x00", 8));
    ASSERT_EQ(Raw("MemToTable", {1.0, 6.0}), 0);
    EXPECT_EQ(List(1, 5), "65535,1,512,128,nil");
    VmSetTop(L, 0);
    VmPushNumber(L, 1);
    VmPushNumber(L, 6);
    VmPushNewTable(L);
    SetTableFieldInt(L, "signed", 1);
    SetTableFieldInt(L, "endianswitch", 1);
    SetTableFieldInt(L, "items", 2);
    SetTableFieldInt(L, "offset", 2);
    ASSERT_EQ(CallCommand(L, "MemToTable", 3, 1), 0);
    EXPECT_EQ(List(1, 3), "256,2,nil");
    EXPECT_EQ(Run("MemToTable", {1.0, 3.0}), "E1055");
    ASSERT_EQ(Run("AllocMem", {2.0, 1.0}), "");
    EXPECT_EQ(Run("MemToTable", {2.0, 6.0}), "E1055");
    // A huge block as bytes would make a table of gigabytes.
    ASSERT_EQ(Run("AllocMem", {3.0, double(1 << 27)}), "");
    EXPECT_EQ(Run("MemToTable", {3.0, 7.0}), "E1000");
}

TEST_F(MemblockTest, TableToMemStopsAtTheFirstElementThatDoesNotFit) {
    Block(6);
    ASSERT_EQ(Run("FillMem", {1.0, 0.0, 6.0}), "");
    VmSetTop(L, 0);
    VmPushNewTable(L);
    const double values[] = {1, -1, 1e300, std::numeric_limits<double>::quiet_NaN()};
    for (int i = 0; i < 4; ++i) {
        VmPushNumber(L, values[i]);
        VmRawSetIndex(L, -2, i);
    }
    VmPushNumber(L, 1);
    VmPushNumber(L, 6);
    EXPECT_EQ(CallCommand(L, "TableToMem", 3, 0), ERR_MEMRANGE);
    EXPECT_EQ(Bytes(0, 6), std::string("\x01\x00\xff\xff\xff\xff", 6));
    VmSetTop(L, 0);
    VmPushNewTable(L);
    for (int i = 0; i < 4; ++i) {
        VmPushNumber(L, values[i] == 1 ? std::numeric_limits<double>::infinity() : values[i]);
        VmRawSetIndex(L, -2, i);
    }
    VmPushNumber(L, 1);
    VmPushNumber(L, 7);
    EXPECT_EQ(CallCommand(L, "TableToMem", 3, 0), 0);
    EXPECT_EQ(Bytes(0, 4), std::string("\xff\xff\xff\x00", 4));
}

TEST_F(MemblockTest, BlocksMoveToAndFromFiles) {
    Block(8);
    const std::string name = Virtual("abcdef", false);
    ASSERT_EQ(Run("OpenFile", {1.0, name}), "");
    EXPECT_EQ(Run("ReadMem", {1.0, 1.0, 4.0}), "");
    EXPECT_EQ(Bytes(0, 4), "abcd");
    EXPECT_EQ(Run("ReadMem", {1.0, 1.0, 4.0, 4.0}), "E1009");
    EXPECT_EQ(Run("ReadMem", {1.0, 1.0, 4.0, 5.0}), "E1146");
    EXPECT_EQ(Run("ReadMem", {1.0, 1.0, 4.0, -1.0}), "E1055");
    EXPECT_EQ(Run("WriteMem", {1.0, 1.0, 4.0}), "E1141");
    const std::string out = Virtual("", true);
    ASSERT_EQ(Run("OpenFile", {2.0, out, 1006.0}), "");
    EXPECT_EQ(Run("WriteMem", {2.0, 1.0, 3.0, 1.0}), "");
    EXPECT_EQ(Run("ReadMem", {2.0, 1.0, 3.0}), "E1142");
    ASSERT_EQ(Run("CloseFile", {2.0}), "");
    EXPECT_EQ(Run("FileToString", {out}), "bcd|3");
}

TEST_F(MemblockTest, BlockOverAWritableVirtualFileFollowsItsGrowth) {
    const std::string name = Virtual("0123", true);
    ASSERT_EQ(Run("AllocMemFromVirtualFile", {1.0, name}), "");
    EXPECT_EQ(Run("Peek", {1.0, 0.0, 3.0, 4.0}), "0123");
    EXPECT_EQ(Run("Peek", {1.0, 4.0, 7.0}), "E1146");
    ASSERT_EQ(Run("OpenFile", {2.0, name, 1004.0}), "");
    ASSERT_EQ(Run("Seek", {2.0, 4.0}), Run("Seek", {2.0, 4.0}));
    std::string big(100000, 'x');
    big[70000] = 'Q';
    ASSERT_EQ(Run("WriteString", {2.0, big}), "");
    ASSERT_EQ(Run("CloseFile", {2.0}), "");
    EXPECT_EQ(Run("Peek", {1.0, 70004.0, 3.0, 1.0}), "Q");
    EXPECT_EQ(Run("Poke", {1.0, 0.0, double(0x41), 7.0}), "");
    EXPECT_EQ(Run("Peek", {1.0, 0.0, 3.0, 2.0}), "A1");
    EXPECT_EQ(Run("UndefineVirtualStringFile", {name}), "E1055");
    ASSERT_EQ(Run("FreeMem", {1.0}), "");
    EXPECT_EQ(Run("UndefineVirtualStringFile", {name}), "");
    EXPECT_EQ(Run("AllocMemFromVirtualFile", {1.0, name}), "E1055");
    EXPECT_EQ(Run("AllocMemFromVirtualFile", {1.0, std::string("plain.txt")}), "E1055");
}

TEST_F(MemblockTest, BlockOverAScriptStringIsReadOnly) {
    const std::string text = "shared text";
    const std::string name = Virtual(text, false);
    ASSERT_EQ(Run("AllocMemFromVirtualFile", {1.0, name}), "");
    EXPECT_EQ(Run("Peek", {1.0, 0.0, 3.0}), text);
    EXPECT_EQ(Run("Poke", {1.0, 0.0, double(0x41), 7.0}), "E1055");
    EXPECT_EQ(Run("FillMem", {1.0, double(0x41), 2.0}), "E1055");
    ASSERT_EQ(Run("AllocMem", {2.0, 4.0}), "");
    EXPECT_EQ(Run("CopyMem", {2.0, 1.0, 2.0}), "E1055");
    EXPECT_EQ(Run("CopyMem", {1.0, 2.0, 4.0}), "");
    VmSetTop(L, 0);
    VmPushNewTable(L);
    VmPushNumber(L, 65);
    VmRawSetIndex(L, -2, 0);
    VmPushNumber(L, 1);
    VmPushNumber(L, 7);
    EXPECT_EQ(CallCommand(L, "TableToMem", 3, 0), ERR_WRONGUSAGE);
    VmSetTop(L, 0);
    // The script's own string, which the file's bytes are, stays as it was.
    VmPushLString(L, text.data(), text.size());
    EXPECT_EQ(std::string(VmToCString(L, 1)), text);
    EXPECT_EQ(Run("Peek", {1.0, 0.0, 3.0}), text);
}

TEST_F(MemblockTest, PointerBlocksLieInsideLiveBlocks) {
    Block(8, "abcdefgh");
    ASSERT_EQ(Raw("GetMemPointer", {1.0, 2.0}), 0);
    void* inner = VmToUserdata(L, 1);
    ASSERT_EQ(Run("AllocMemFromPointer", {2.0, inner, 0.0}), "");
    EXPECT_EQ(Run("Peek", {2.0, 0.0, 3.0, 6.0}), "cdefgh");
    EXPECT_EQ(Run("Peek", {2.0, 6.0, 7.0}), "E1146");
    EXPECT_EQ(Run("Poke", {2.0, 0.0, double('X'), 7.0}), "");
    EXPECT_EQ(Bytes(0, 4), "abXd");
    ASSERT_EQ(Run("AllocMemFromPointer", {3.0, inner, 2.0}), "");
    EXPECT_EQ(Run("Peek", {3.0, 1.0, 6.0}), "E1146");
    EXPECT_EQ(Run("AllocMemFromPointer", {4.0, inner, 7.0}), "E1055");
    // Only addresses inside a block are taken, never a made-up number.
    char outside[8] = {};
    EXPECT_EQ(Run("AllocMemFromPointer", {4.0, static_cast<void*>(outside), 4.0}), "E1055");
    EXPECT_EQ(Run("AllocMemFromPointer", {4.0, 5.0, 0.0}), "E1055");
    // The outer block stays while inner ones use it.
    EXPECT_EQ(Run("FreeMem", {1.0}), "E1055");
    EXPECT_EQ(Run("AllocMem", {1.0, 4.0}), "E1055");
    EXPECT_EQ(Run("AllocMemFromPointer", {1.0, inner, 0.0}), "E1055");
    ASSERT_EQ(Run("FreeMem", {2.0}), "");
    ASSERT_EQ(Run("FreeMem", {3.0}), "");
    EXPECT_EQ(Run("FreeMem", {1.0}), "");
    EXPECT_EQ(Run("AllocMem", {2.0, 0.0}), "E1055");
}

TEST_F(MemblockTest, PointerBlockFollowsAGrowingVirtualFile) {
    const std::string name = Virtual("0123", true);
    ASSERT_EQ(Run("AllocMemFromVirtualFile", {1.0, name}), "");
    ASSERT_EQ(Raw("GetMemPointer", {1.0, 1.0}), 0);
    ASSERT_EQ(Run("AllocMemFromPointer", {2.0, VmToUserdata(L, 1), 0.0}), "");
    ASSERT_EQ(Run("OpenFile", {3.0, name, 1004.0}), "");
    ASSERT_EQ(Run("Seek", {3.0, 4.0}), Run("Seek", {3.0, 4.0}));
    ASSERT_EQ(Run("WriteString", {3.0, std::string(100000, 'y')}), "");
    ASSERT_EQ(Run("CloseFile", {3.0}), "");
    EXPECT_EQ(Run("Peek", {2.0, 0.0, 3.0, 5.0}), "123yy");
    EXPECT_EQ(Run("Peek", {2.0, 100002.0, 7.0}), std::to_string('y'));
    EXPECT_EQ(Run("Peek", {2.0, 100003.0, 7.0}), "E1146");
}

}  // namespace

namespace {

double ThreadSeconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

// Blocks made by number and each peeked: a Peek finds its block whatever
// the count, so 80,000 take at most 4 x 8 times the work of 10,000 (a walk
// of all blocks at every Peek took 64 x).
TEST_F(MemblockTest, APeekCostsTheSameWhateverTheNumberOfBlocks) {
    auto cycle = [&](int n) {
        for (int i = 1; i <= n; ++i) EXPECT_EQ(Run("AllocMem", {double(i), 4.0}), "");
        const double start = ThreadSeconds();
        for (int i = 1; i <= n; ++i) EXPECT_EQ(Run("Peek", {double(i), 0.0, 1.0}).find('E'), std::string::npos);
        const double spent = ThreadSeconds() - start;
        for (int i = 1; i <= n; ++i) EXPECT_EQ(Run("FreeMem", {double(i)}), "");
        return spent;
    };
    double small = cycle(10'000);
    for (int again = 0; again < 2; ++again) small = std::min(small, cycle(10'000));
    EXPECT_LT(cycle(80'000), 4 * 8 * small);
}

}  // namespace
