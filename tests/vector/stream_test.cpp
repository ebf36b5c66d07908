// The command stream: sizes and padding, the walkers, the terminator through
// many appends, and a failed allocation.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "core/errcodes.h"
#include "vector/path.h"

namespace {

size_t TextCommandSize(const char* text) {
    qbPath p;
    EXPECT_EQ(AppendPathCommand(&p, QB_PATH_TEXT,
                                {qbPathArg::Pointer(nullptr), qbPathArg::Int(12), qbPathArg::String(text, std::strlen(text))}),
              0);
    EXPECT_EQ(PathStreamLength(p.commands.get()), p.writeOffset);
    return p.writeOffset - 4 - QB_PATH_TEXT_ARGS;
}

TEST(PathStream, TextsArePaddedToWords) {
    EXPECT_EQ(TextCommandSize(""), 4u);
    EXPECT_EQ(TextCommandSize("ab"), 4u);
    EXPECT_EQ(TextCommandSize("abc"), 8u);
    EXPECT_EQ(TextCommandSize("abcdef"), 8u);
    EXPECT_EQ(TextCommandSize("abcdefg"), 12u);
    EXPECT_EQ(TextCommandSize("abcdefgh"), 12u);
}

// One of each command; the walker and the bounded check land on the
// terminator, and no prefix of the stream passes the check.
TEST(PathStream, WalkersLandOnTheTerminator) {
    qbPath p;
    const auto D = [](double v) { return qbPathArg::Double(v); };
    ASSERT_EQ(AppendPathCommand(&p, QB_PATH_MOVE, {qbPathArg::Int(0), D(1), D(2)}), 0);
    ASSERT_EQ(AppendPathCommand(&p, QB_PATH_LINE, {qbPathArg::Int(1), D(3), D(4)}), 0);
    ASSERT_EQ(AppendPathCommand(&p, QB_PATH_CURVE, {qbPathArg::Int(0), D(1), D(2), D(3), D(4), D(5), D(6)}), 0);
    ASSERT_EQ(AppendPathCommand(&p, QB_PATH_SUBPATH, {}), 0);
    ASSERT_EQ(AppendPathCommand(&p, QB_PATH_ARC, {D(1), D(2), D(3), D(4), D(5), D(6), qbPathArg::Int(1)}), 0);
    ASSERT_EQ(AppendPathCommand(&p, QB_PATH_BOX,
                                {D(1), D(2), D(3), D(4), qbPathArg::Int(1), qbPathArg::Int(2), qbPathArg::Int(3),
                                 qbPathArg::Int(4)}),
              0);
    ASSERT_EQ(AppendPathCommand(&p, QB_PATH_TEXT, {qbPathArg::Pointer(&p), qbPathArg::Int(9), qbPathArg::String("xyz", 3)}),
              0);
    ASSERT_EQ(AppendPathCommand(&p, QB_PATH_CLOSE, {}), 0);
    const size_t expected = 24 + 24 + 56 + 4 + 56 + 52 + (16 + 8) + 4;
    EXPECT_EQ(p.writeOffset, expected);
    EXPECT_EQ(PathStreamLength(p.commands.get()), expected);
    EXPECT_EQ(CheckPathStream(p.commands.get(), expected + 4), static_cast<int64_t>(expected));
    for (size_t n = 0; n < expected + 4; ++n) EXPECT_EQ(CheckPathStream(p.commands.get(), n), -1) << n;
    // The handle keeps all its 8 bytes.
    EXPECT_EQ(ReadPathPointer(p.commands.get() + expected - 4 - 24 + 4), &p);
}

TEST(PathStream, UnknownCodesFailTheCheck) {
    const uint8_t four[] = {4, 0, 0, 0, 0, 0, 0, 0};
    EXPECT_EQ(CheckPathStream(four, sizeof four), -1);
    const uint8_t textWithoutEnd[] = {9, 0, 0, 0, 1, 2, 3, 4, 5, 6, 7, 8, 1, 0, 0, 0, 'a', 'b'};
    EXPECT_EQ(CheckPathStream(textWithoutEnd, sizeof textWithoutEnd), -1);
}

TEST(PathStream, TheWritePositionStaysOnTheTerminator) {
    qbPath p;
    for (int i = 0; i < 10000; ++i) {
        ASSERT_EQ(AppendPathCommand(&p, QB_PATH_LINE, {qbPathArg::Int(0), qbPathArg::Double(i), qbPathArg::Double(-i)}),
                  0);
        ASSERT_EQ(ReadPathInt(p.commands.get() + p.writeOffset), 0) << i;
        ASSERT_LE(p.writeOffset + 4, static_cast<size_t>(p.capacity));
    }
    EXPECT_EQ(p.writeOffset, 10000u * 24);
    EXPECT_EQ(ReadPathDouble(p.commands.get() + 9999 * 24 + 8), 9999.0);
}

TEST(PathStream, AFailedGrowthLeavesThePathAsItWas) {
    qbPath p;
    ASSERT_EQ(AppendPathCommand(&p, QB_PATH_CLOSE, {}), 0);
    const uint8_t* before = p.commands.get();
    const int32_t capacity = p.capacity;
    SetPathBufferLimit(capacity);
    const std::string big(4000, 'x');
    EXPECT_EQ(AppendPathCommand(&p, QB_PATH_TEXT,
                                {qbPathArg::Pointer(nullptr), qbPathArg::Int(1), qbPathArg::String(big.data(), big.size())}),
              ERR_MEM);
    SetPathBufferLimit(INT32_MAX);
    EXPECT_EQ(p.commands.get(), before);
    EXPECT_EQ(p.capacity, capacity);
    EXPECT_EQ(p.writeOffset, 4u);
    EXPECT_EQ(ReadPathInt(p.commands.get() + 4), 0);
}

}  // namespace
