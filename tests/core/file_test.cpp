// The file layer over stdio: reading, seeking, sizes, byte order, writing.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "core/file.h"

namespace fs = std::filesystem;

namespace {

class FileTest : public ::testing::Test {
protected:
    void SetUp() override {
        path_ = fs::temp_directory_path() /
                ("qb_file_" + std::to_string(::getpid()) + "_" +
                 ::testing::UnitTest::GetInstance()->current_test_info()->name());
    }
    void TearDown() override { fs::remove(path_); }

    void Write(const std::string& data) { std::ofstream(path_, std::ios::binary) << data; }
    std::string Read() {
        std::ifstream in(path_, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    qbFilePtr Open(uint32_t mode, const char* tag = nullptr) { return qbFilePtr(FileOpen(path_.c_str(), mode, tag)); }

    fs::path path_;
};

TEST_F(FileTest, ReadsBytesAndBlocksUpToTheEnd) {
    Write("abcdef");
    qbFilePtr f = Open(kFileModeRead);
    ASSERT_TRUE(f);
    EXPECT_EQ(GetFileSize(f.get()), 6);
    EXPECT_EQ(FileGetC(f.get()), 'a');
    char buf[16] = {};
    EXPECT_EQ(FileRead(f.get(), buf, 3), 3u);
    EXPECT_STREQ(buf, "bcd");
    EXPECT_FALSE(FileEof(f.get()));
    EXPECT_EQ(FileRead(f.get(), buf, 10), 2u);
    EXPECT_TRUE(FileEof(f.get()));
    EXPECT_EQ(FileGetC(f.get()), -1);
}

TEST_F(FileTest, SeekReturnsThePreviousPosition) {
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

TEST_F(FileTest, BigEndianReaders) {
    Write(std::string("\xFF\xFE\x12\x34\x80\x00\x00\x01\xDE\xAD\xBE\xEF", 12));
    qbFilePtr f = Open(kFileModeRead);
    ASSERT_TRUE(f);
    EXPECT_EQ(FileReadInt16BE(f.get()), -2);
    EXPECT_EQ(FileReadUInt16BE(f.get()), 0x1234);
    EXPECT_EQ(FileReadUInt32BE(f.get()), 0x80000001u);
    FileSeek(f.get(), 8, kSeekBeginning);
    EXPECT_EQ(FileReadUInt16BE(f.get()), 0xDEAD);
    EXPECT_EQ(FileReadInt16BE(f.get()), static_cast<int16_t>(0xBEEF));
}

TEST_F(FileTest, MissingFilesAndForeignAdaptersDoNotOpen) {
    EXPECT_FALSE(Open(kFileModeRead));
    Write("x");
    EXPECT_FALSE(Open(kFileModeRead, "someplugin"));
    EXPECT_TRUE(Open(kFileModeRead, "inbuilt"));
    EXPECT_TRUE(Open(kFileModeRead, "Default"));
    EXPECT_TRUE(Open(kFileModeRead, ""));
}

TEST_F(FileTest, WritingCreatesAndTruncates) {
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
}

TEST_F(FileTest, ReadWriteModeCreatesAndSwitchesDirection) {
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

TEST_F(FileTest, CloseReportsAndFreesNull) {
    Write("x");
    EXPECT_EQ(FileClose(FileOpen(path_.c_str(), kFileModeRead, nullptr)), 1);
    EXPECT_EQ(FileClose(nullptr), 0);
}

}  // namespace
