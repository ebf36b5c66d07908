// The file layer over stdio and memory: reading, seeking, sizes, byte order,
// writing, whole-file loads and copies.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>

#include "core/chunkname.h"
#include "core/errcodes.h"
#include "core/errors.h"
#include "core/file.h"
#include "core/memory.h"
#include "scratch.h"

namespace {

class FileTest : public ::testing::Test {
protected:
    void Write(const std::string& data) { dir_.Write("f", data); }
    std::string Read() { return ScratchDir::Read(path_); }
    qbFilePtr Open(uint32_t mode, const char* tag = nullptr) { return qbFilePtr(FileOpen(path_.c_str(), mode, tag)); }

    ScratchDir dir_;
    std::string path_ = dir_ / "f";
};

TEST_F(FileTest, SeekReturnsThePreviousPosition) {
    EXPECT_FALSE(Open(kFileModeRead));
    Write("0123456789abcdefghij");
    qbFilePtr f = Open(kFileModeRead);
    ASSERT_TRUE(f);
    EXPECT_EQ(FileSeek(f.get(), 10, kSeekBeginning), 0);
    EXPECT_EQ(FileSeek(f.get(), 0, kSeekCurrent), 10);
    EXPECT_EQ(FileGetC(f.get()), 'a');
    EXPECT_EQ(FileSeek(f.get(), -3, kSeekCurrent), 11);
    EXPECT_EQ(FileGetC(f.get()), '8');
    EXPECT_EQ(FileSeek(f.get(), -1, kSeekEnd), 9);
    EXPECT_EQ(FileGetC(f.get()), 'j');
    // GetFileSize leaves the position where it was.
    EXPECT_EQ(GetFileSize(f.get()), 20);
    EXPECT_EQ(FileSeek(f.get(), 0, kSeekCurrent), 20);
    EXPECT_EQ(FileSeek(f.get(), -100, kSeekBeginning), -1);
}

// A part of a file reads no further than its end, by any read: small and
// large reads, bytes, seeks past either end; the file around it reads on.
TEST_F(FileTest, APartOfAFileEndsWhereItsSizeDoes) {
    Write("0123456789");
    const std::string part = MakeChunkName("p.txt", 3, 4, 0, path_.c_str());
    qbFilePtr f(FileOpen(part.c_str(), kFileModeRead, nullptr));
    ASSERT_TRUE(f);
    EXPECT_EQ(GetFileSize(f.get()), 4);
    char buffer[40000] = {};
    EXPECT_EQ(FileRead(f.get(), buffer, 3), 3u);
    EXPECT_EQ(std::string(buffer, 3), "345");
    EXPECT_FALSE(FileEof(f.get()));
    // One byte left, more asked; then none left.
    EXPECT_EQ(FileRead(f.get(), buffer, 2), 1u);
    EXPECT_EQ(buffer[0], '6');
    EXPECT_TRUE(FileEof(f.get()));
    for (const size_t count : {size_t{1}, size_t{100}, sizeof buffer}) EXPECT_EQ(FileRead(f.get(), buffer, count), 0u);
    EXPECT_EQ(FileGetC(f.get()), -1);
    EXPECT_EQ(FileSeek(f.get(), 0, kSeekCurrent), 4);
    EXPECT_FALSE(FileReadFailed(f.get()));
    // Seeks stop at its ends; a read larger than the window stops at the end too.
    EXPECT_EQ(FileSeek(f.get(), 100, kSeekBeginning), 4);
    EXPECT_EQ(FileSeek(f.get(), 0, kSeekCurrent), 4);
    EXPECT_EQ(FileRead(f.get(), buffer, 1), 0u);
    EXPECT_EQ(FileSeek(f.get(), -100, kSeekEnd), 4);
    EXPECT_EQ(FileRead(f.get(), buffer, sizeof buffer), 4u);
    EXPECT_EQ(std::string(buffer, 4), "3456");
    EXPECT_EQ(FileRead(f.get(), buffer, sizeof buffer), 0u);
    EXPECT_EQ(FileSeek(f.get(), -1, kSeekEnd), 4);
    EXPECT_EQ(FileGetC(f.get()), '6');
    EXPECT_EQ(FileGetC(f.get()), -1);
    EXPECT_FALSE(FileReadFailed(f.get()));
    // A part of no bytes is at its end at once.
    const std::string empty = MakeChunkName("e.txt", 9, 0, 0, path_.c_str());
    qbFilePtr none(FileOpen(empty.c_str(), kFileModeRead, nullptr));
    ASSERT_TRUE(none);
    EXPECT_EQ(FileRead(none.get(), buffer, 1), 0u);
    EXPECT_EQ(FileGetC(none.get()), -1);
    EXPECT_TRUE(FileEof(none.get()));
    EXPECT_EQ(FileSeek(none.get(), 0, kSeekCurrent), 0);
    // The whole file past its end: fgetc's position counts on.
    qbFilePtr whole = Open(kFileModeRead);
    ASSERT_TRUE(whole);
    EXPECT_EQ(FileRead(whole.get(), buffer, sizeof buffer), 10u);
    EXPECT_EQ(FileGetC(whole.get()), -1);
    EXPECT_EQ(FileSeek(whole.get(), 0, kSeekCurrent), 11);
    EXPECT_TRUE(FileEof(whole.get()));
}

TEST_F(FileTest, WritingTruncatesAndReadWriteSwitchesDirection) {
    Write("old contents");
    {
        qbFilePtr f = Open(kFileModeWrite);
        ASSERT_TRUE(f);
        // A file opened for writing has no known size and counts as at its end.
        EXPECT_TRUE(FileEof(f.get()));
        EXPECT_EQ(FileWrite(f.get(), "new", 3), 3u);
        EXPECT_TRUE(FilePutC(f.get(), '!'));
        EXPECT_EQ(GetFileSize(f.get()), 4);
    }
    EXPECT_EQ(Read(), "new!");
    std::filesystem::remove(path_);
    qbFilePtr f = Open(kFileModeReadWrite);
    ASSERT_TRUE(f);
    EXPECT_EQ(FileWrite(f.get(), "hello", 5), 5u);
    FileSeek(f.get(), 1, kSeekBeginning);
    EXPECT_EQ(FileGetC(f.get()), 'e');
    EXPECT_TRUE(FilePutC(f.get(), 'X'));
    EXPECT_EQ(FileGetC(f.get()), 'l');
    EXPECT_TRUE(FileFlush(f.get()));
    f.reset();
    EXPECT_EQ(Read(), "heXlo");
}

// A read large enough to bypass the read-ahead leaves nothing of it to
// find: a seek back just behind it reads the file, not old bytes.
TEST_F(FileTest, ASeekBackAfterADirectReadReadsTheFile) {
    std::string data(100000, 0);
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i % 251);
    Write(data);
    qbFilePtr f = Open(kFileModeRead);
    ASSERT_TRUE(f);
    std::string buf(40000, 0);
    EXPECT_EQ(FileGetC(f.get()), 0);
    ASSERT_EQ(FileRead(f.get(), buf.data(), 32767), 32767u);  // the rest of the read-ahead
    ASSERT_EQ(FileRead(f.get(), buf.data(), 40000), 40000u);  // straight from the file
    EXPECT_EQ(FileSeek(f.get(), 50000, kSeekBeginning), 72768);
    EXPECT_EQ(FileGetC(f.get()), 50000 % 251);
}

TEST_F(FileTest, MixedReadsAndSeeksKeepExactPositions) {
    // Bytes read ahead for FileGetC must never show: every read, seek and
    // end test sees the position the caller stands at.
    std::string data(100000, 0);
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i % 251);
    Write(data);
    qbFilePtr f = Open(kFileModeRead);
    ASSERT_TRUE(f);
    auto at = [&](int64_t pos) { return static_cast<int>(static_cast<unsigned char>(data[static_cast<size_t>(pos)])); };
    EXPECT_EQ(FileGetC(f.get()), at(0));
    char buf[70000];
    ASSERT_EQ(FileRead(f.get(), buf, 10), 10u);
    EXPECT_EQ(std::string(buf, 10), data.substr(1, 10));
    EXPECT_EQ(FileSeek(f.get(), 0, kSeekCurrent), 11);
    EXPECT_EQ(FileSeek(f.get(), -5, kSeekCurrent), 11);  // back inside what was read ahead
    EXPECT_EQ(FileGetC(f.get()), at(6));
    ASSERT_EQ(FileRead(f.get(), buf, 65536), 65536u);  // partly from the window, partly direct
    EXPECT_EQ(std::string(buf, 65536), data.substr(7, 65536));
    EXPECT_EQ(FileGetC(f.get()), at(65543));
    EXPECT_EQ(FileSeek(f.get(), 99990, kSeekBeginning), 65544);
    EXPECT_FALSE(FileEof(f.get()));
    ASSERT_EQ(FileRead(f.get(), buf, 100), 10u);
    EXPECT_TRUE(FileEof(f.get()));
    // Past the end each FileGetC still counts one on.
    EXPECT_EQ(FileGetC(f.get()), -1);
    EXPECT_EQ(FileGetC(f.get()), -1);
    EXPECT_EQ(FileSeek(f.get(), 3, kSeekBeginning), 100002);
    EXPECT_EQ(FileGetC(f.get()), at(3));
    EXPECT_EQ(GetFileSize(f.get()), 100000);
    EXPECT_EQ(FileSeek(f.get(), 0, kSeekCurrent), 4);
}

TEST_F(FileTest, ByteOrderReadersAndWritersRoundTrip) {
    {
        qbFilePtr f = Open(kFileModeWrite);
        ASSERT_TRUE(f);
        EXPECT_TRUE(FileWriteUInt16LE(f.get(), 0xFFFE));
        EXPECT_TRUE(FileWriteUInt16BE(f.get(), 0x1234));
        EXPECT_TRUE(FileWriteUInt32LE(f.get(), 0x80000001u));
        EXPECT_TRUE(FileWriteUInt32BE(f.get(), 0xDEADBEEFu));
        EXPECT_EQ(FileWriteString(f.get(), "ab"), 2u);
    }
    EXPECT_EQ(Read(), std::string("\xFE\xFF\x12\x34\x01\x00\x00\x80\xDE\xAD\xBE\xEF" "ab", 14));
    qbFilePtr f = Open(kFileModeRead);
    ASSERT_TRUE(f);
    EXPECT_EQ(FileReadInt16LE(f.get()), -2);
    EXPECT_EQ(FileReadUInt16BE(f.get()), 0x1234);
    EXPECT_EQ(FileReadUInt32LE(f.get()), 0x80000001u);
    EXPECT_EQ(FileReadUInt32BE(f.get()), 0xDEADBEEFu);
    // Bytes past the end read as all ones.
    EXPECT_EQ(FileReadUInt32LE(f.get()), 0xFFFF6261u);
    FileSeek(f.get(), 0, kSeekBeginning);
    EXPECT_EQ(FileReadInt16BE(f.get()), static_cast<int16_t>(0xFEFF));
}

TEST_F(FileTest, LoadFileToMemoryAllocatesTheExtraBytes) {
    Write("0123456789");
    void* data = nullptr;
    int64_t size = 0;
    ASSERT_EQ(LoadFileToMemory(path_.c_str(), nullptr, nullptr, &data, &size, 0, 8), 0);
    MemoryPtr<char> owner(static_cast<char*>(data));
    EXPECT_EQ(size, 10);
    EXPECT_EQ(std::string(owner.get(), 10), "0123456789");
    // The sanitizer build faults here when the 8 bytes were not allocated.
    std::memset(owner.get() + 10, 0, 8);
}

TEST_F(FileTest, LoadFileToMemoryRewindsAGivenFileAndReportsMissingOnes) {
    Write("abc");
    qbFilePtr f = Open(kFileModeRead);
    ASSERT_TRUE(f);
    FileSeek(f.get(), 2, kSeekBeginning);
    void* data = nullptr;
    ASSERT_EQ(LoadFileToMemory("unused", nullptr, f.get(), &data, nullptr, 0, 1), 0);
    MemoryPtr<char> owner(static_cast<char*>(data));
    EXPECT_EQ(std::string(owner.get(), 3), "abc");

    const std::string missing = path_ + ".missing";
    data = reinterpret_cast<void*>(1);
    EXPECT_EQ(LoadFileToMemory(missing.c_str(), nullptr, nullptr, &data, nullptr, 1, 0), ERR_READFILE);
    EXPECT_EQ(data, nullptr);
    EXPECT_STREQ(GetErrorDetail(), missing.c_str());
}

TEST_F(FileTest, CopyFileContentsCopiesAndNamesTheFailingSide) {
    std::string big(40000, 0);
    for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 7);
    Write(big);
    const std::string copy = path_ + ".copy";
    ASSERT_EQ(CopyFileContents(path_.c_str(), nullptr, copy.c_str(), nullptr), 0);
    EXPECT_EQ(ScratchDir::Read(copy), big);

    const std::string missing = path_ + ".missing";
    EXPECT_EQ(CopyFileContents(missing.c_str(), nullptr, copy.c_str(), nullptr), ERR_READFILE);
    EXPECT_STREQ(GetErrorDetail(), missing.c_str());
    const std::string unwritable = path_ + ".nodir/x";
    EXPECT_EQ(CopyFileContents(path_.c_str(), nullptr, unwritable.c_str(), nullptr), ERR_WRITEFILE);
    EXPECT_STREQ(GetErrorDetail(), unwritable.c_str());
}

// A lent buffer, registered for the life of the test.
class MemoryFileTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(RegisterMemoryBuffer(data_, sizeof data_ - 1), 0); }
    void TearDown() override { UnregisterMemoryBuffer(data_); }
    qbFilePtr Open(uint32_t mode = kFileModeRead) {
        return qbFilePtr(FileOpen(MakeMemoryName(data_, sizeof data_ - 1).c_str(), mode, nullptr));
    }
    char data_[21] = "abcdefghijklmnopqrst";
};

TEST_F(MemoryFileTest, ReadsARegisteredBufferAndNeverWritesIt) {
    qbFilePtr f = Open();
    ASSERT_TRUE(f);
    EXPECT_EQ(GetFileSize(f.get()), 20);
    EXPECT_EQ(FileGetC(f.get()), 'a');
    char buf[32] = {};
    EXPECT_EQ(FileRead(f.get(), buf, 30), 19u);
    EXPECT_STREQ(buf, "bcdefghijklmnopqrst");
    EXPECT_TRUE(FileEof(f.get()));
    EXPECT_EQ(FileWrite(f.get(), "XY", 2), 0u);
    EXPECT_FALSE(FilePutC(f.get(), 'Z'));
    EXPECT_EQ(data_[0], 'a');
    // A part    // A part of a registered buffer opens too.
    qbFilePtr part(FileOpen(MakeMemoryName(data_ + 5, 3).c_str(), kFileModeRead, nullptr));
    ASSERT_TRUE(part);
    EXPECT_EQ(FileGetC(part.get()), 'f');
    EXPECT_EQ(GetFileSize(part.get()), 3);
}

TEST_F(MemoryFileTest, SeeksStayInsideTheBuffer) {
    qbFilePtr f = Open();
    ASSERT_TRUE(f);
    EXPECT_EQ(FileSeek(f.get(), 10, kSeekBeginning), 0);
    EXPECT_EQ(FileSeek(f.get(), 0, kSeekCurrent), 10);
    EXPECT_EQ(FileSeek(f.get(), 100, kSeekCurrent), 10);
    EXPECT_EQ(FileSeek(f.get(), 0, kSeekCurrent), 20);
    EXPECT_EQ(FileSeek(f.get(), -100, kSeekCurrent), 20);
    EXPECT_EQ(FileGetC(f.get()), 'a');
    EXPECT_EQ(FileSeek(f.get(), INT64_MIN, kSeekEnd), 1);
    EXPECT_EQ(FileGetC(f.get()), 'a');
    EXPECT_EQ(FileSeek(f.get(), -2, kSeekEnd), 1);
    EXPECT_EQ(FileGetC(f.get()), 's');
    EXPECT_EQ(FileSeek(f.get(), 0, 7), -1);
}

TEST_F(MemoryFileTest, OnlyRegisteredRangesOpenAndNeverForWriting) {
    EXPECT_FALSE(Open(kFileModeWrite));
    EXPECT_FALSE(Open(kFileModeReadWrite));
    EXPECT_FALSE(Open(kFileModeWrite | kFileModeAdapters));
    char other[8] = {};
    for (const std::string& name :
         {MakeMemoryName(other, sizeof other), MakeMemoryName(data_, 21), MakeMemoryName(data_ + 19, 2),
          MakeMemoryName(reinterpret_cast<const void*>(reinterpret_cast<uintptr_t>(data_) - 1), 2), std::string(":::memory"), std::string(":::memory1234"),
          MakeMemoryName(data_, 20) + "x", MakeMemoryName(data_, 20).substr(0, 30),
          std::string(":::memory") + std::string(32, 'g')})
        EXPECT_FALSE(qbFilePtr(FileOpen(name.c_str(), kFileModeRead, nullptr))) << name;
    EXPECT_EQ(RegisterMemoryBuffer(nullptr, 4), ERR_WRONGUSAGE);
    EXPECT_EQ(RegisterMemoryBuffer(other, 0), ERR_WRONGUSAGE);
    UnregisterMemoryBuffer(data_);
    EXPECT_FALSE(Open());
    ASSERT_EQ(RegisterMemoryBuffer(data_, sizeof data_ - 1), 0);
}

// A virtual file of the dos library, reached through its stream chunk name.
class VirtualFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        file_.registryRef = 4711;
        file_.writable = 1;
        AddVirtualFile(&file_);
    }
    void TearDown() override {
        RemoveVirtualFile(&file_);
        FreeMemory(file_.data);
    }
    qbFilePtr Open(uint32_t mode) { return qbFilePtr(FileOpen(":::chunkS4711:0*notes.txt?", mode, nullptr)); }
    MemoryFile file_;
};

TEST_F(VirtualFileTest, WritesGrowInWholeStepsAndReadBack) {
    EXPECT_TRUE(IsVirtualFile(&file_));
    {
        qbFilePtr f = Open(kFileModeWrite);
        ASSERT_TRUE(f);
        EXPECT_EQ(file_.openCount, 1);
        EXPECT_EQ(FileWrite(f.get(), "hello", 5), 5u);
        EXPECT_EQ(file_.capacity, kMemoryFileGrowStep);
        std::string big(70000, 'x');
        EXPECT_EQ(FileWrite(f.get(), big.data(), big.size()), big.size());
        EXPECT_EQ(file_.capacity, 2 * kMemoryFileGrowStep);
        EXPECT_EQ(file_.size, 70005);
    }
    EXPECT_EQ(file_.openCount, 0);
    qbFilePtr f = Open(kFileModeRead);
    ASSERT_TRUE(f);
    // The size in the name gives way to the virtual file's own.
    EXPECT_EQ(GetFileSize(f.get()), 70005);
    char buf[6] = {};
    EXPECT_EQ(FileRead(f.get(), buf, 5), 5u);
    EXPECT_STREQ(buf, "hello");
}

TEST_F(VirtualFileTest, ReadOnlyAndUnknownVirtualFilesRefuse) {
    file_.writable = 0;
    EXPECT_FALSE(Open(kFileModeWrite));
    EXPECT_FALSE(Open(kFileModeReadWrite));
    EXPECT_TRUE(Open(kFileModeRead));
    EXPECT_FALSE(qbFilePtr(FileOpen(":::chunkS4712:0*notes.txt?", kFileModeRead, nullptr)));
    RemoveVirtualFile(&file_);
    EXPECT_FALSE(IsVirtualFile(&file_));
    EXPECT_FALSE(Open(kFileModeRead));
}

// A write that ends exactly at the block's end fits it, at the block's first
// size and after a growth: the block stays where it is (a handle opened
// through an adapter was given its address) and keeps its size; one byte
// more grows it by a step.
TEST_F(VirtualFileTest, AWriteEndingAtTheBlocksEndKeepsTheBlock) {
    file_.data = static_cast<uint8_t*>(AllocMemory(4, 0));
    ASSERT_TRUE(file_.data);
    std::memcpy(file_.data, "abcd", 4);
    file_.capacity = file_.size = 4;
    qbFilePtr f = Open(kFileModeWrite);
    ASSERT_TRUE(f);
    uint8_t* block = file_.data;
    ASSERT_EQ(FileWrite(f.get(), "wxyz", 4), 4u);
    EXPECT_EQ(file_.data, block);
    EXPECT_EQ(file_.capacity, 4);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(file_.data), 4), "wxyz");

    ASSERT_EQ(FileWrite(f.get(), "!", 1), 1u);
    EXPECT_EQ(file_.capacity, 4 + kMemoryFileGrowStep);
    block = file_.data;
    const std::string rest(static_cast<size_t>(kMemoryFileGrowStep) - 1, 'r');
    ASSERT_EQ(FileWrite(f.get(), rest.data(), rest.size()), rest.size());
    EXPECT_EQ(file_.data, block);
    EXPECT_EQ(file_.capacity, 4 + kMemoryFileGrowStep);
    EXPECT_EQ(file_.size, file_.capacity);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(file_.data) + 3, 3), "z!r");
}

}  // namespace
