// The descriptor stream under ordinary files: bytes written small and large
// arrive in order, reads see what was written before them, and a write the
// system refuses fails the flush and the close.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "core/fdstream.h"

namespace {

TEST(FdStreamTest, WritesSmallAndLargeArriveInOrderAndReadsSeeThem) {
    char path[] = "/tmp/qb_fdstream_XXXXXX";
    const int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    unlink(path);
    auto s = StreamOverDescriptor(fd);
    ASSERT_NE(s, nullptr);
    std::string want;
    for (size_t size : {3u, 5000u, 20000u, 1u, 9000u}) {
        const std::string piece(size, static_cast<char>('a' + want.size() % 26));
        ASSERT_EQ(StreamWrite(*s, piece.data(), piece.size()), piece.size());
        want += piece;
    }
    ASSERT_EQ(SeekStream(*s, 0, SEEK_SET), 0);
    std::string got(want.size() + 10, '\0');
    EXPECT_EQ(StreamRead(*s, got.data(), got.size()), want.size());
    got.resize(want.size());
    EXPECT_TRUE(got == want);
    // A write after the read goes where the descriptor stands.
    ASSERT_EQ(StreamWrite(*s, "xyz", 3), 3u);
    EXPECT_EQ(SeekStream(*s, 0, SEEK_END), static_cast<int64_t>(want.size() + 3));
    EXPECT_TRUE(CloseStream(std::move(s)));
}

TEST(FdStreamTest, ARefusedWriteFailsTheFlushAndTheClose) {
    const int fd = open("/dev/full", O_WRONLY | O_CLOEXEC);
    if (fd < 0) GTEST_SKIP() << "no /dev/full";
    auto s = StreamOverDescriptor(fd);
    ASSERT_EQ(StreamWrite(*s, "abc", 3), 3u);
    EXPECT_FALSE(FlushStream(*s));
    EXPECT_FALSE(FlushStream(*s)) << "the failure stays until cleared";
    ClearStreamFailure(*s);
    EXPECT_TRUE(FlushStream(*s));
    const std::string big(100000, 'x');
    EXPECT_LT(StreamWrite(*s, big.data(), big.size()), big.size());
    EXPECT_FALSE(CloseStream(std::move(s)));
}

}  // namespace
