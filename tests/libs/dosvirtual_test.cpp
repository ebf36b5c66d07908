// Virtual files: parts of files under new names, and strings as files.
#include "core/errcodes.h"
#include "dos_fixture.h"

namespace {

class DosVirtualTest : public dostest::DosFixture {};

TEST_F(DosVirtualTest, StringFilesReadLikeFiles) {
    ASSERT_EQ(Call("DefineVirtualFileFromString", {std::string("line1\nline2"), std::string("v.txt")}), 0);
    const std::string name = Str(1);
    ASSERT_EQ(Call("FileToString", {name}), 0);
    EXPECT_EQ(Str(1), "line1\nline2");
    // Two handles keep positions of their own.
    ASSERT_EQ(Call("OpenFile", {1.0, name}), 0);
    ASSERT_EQ(Call("OpenFile", {2.0, name}), 0);
    ASSERT_EQ(Call("ReadLine", {1.0}), 0);
    EXPECT_EQ(Str(1), "line1");
    ASSERT_EQ(Call("ReadLine", {2.0}), 0);
    EXPECT_EQ(Str(1), "line1");
    // Not writable, and not to be undefined while open.
    EXPECT_EQ(Call("OpenFile", {3.0, name, 1006.0}), ERR_WRITEFILE);
    EXPECT_EQ(Call("UndefineVirtualStringFile", {name}), ERR_WRONGUSAGE);
    ASSERT_EQ(Call("CloseFile", {1.0}), 0);
    ASSERT_EQ(Call("CloseFile", {2.0}), 0);
    ASSERT_EQ(Call("UndefineVirtualStringFile", {name}), 0);
    EXPECT_EQ(Call("OpenFile", {1.0, name}), ERR_READFILE);
    EXPECT_EQ(Call("UndefineVirtualStringFile", {name}), ERR_WRONGUSAGE);
    EXPECT_EQ(Call("UndefineVirtualStringFile", {std::string("plain.txt")}), ERR_WRONGUSAGE);
    EXPECT_EQ(Call("DefineVirtualFileFromString", {std::string("x"), std::string()}), ERR_WRONGUSAGE);
}

TEST_F(DosVirtualTest, WritableStringFilesGrow) {
    ASSERT_EQ(Call("DefineVirtualFileFromString", {std::string(), std::string("w.bin"), 1.0}), 0);
    const std::string name = Str(1);
    ASSERT_EQ(Call("OpenFile", {1.0, name, 1006.0}), 0);
    const std::string block(1000, 'q');
    for (int i = 0; i < 70; ++i) ASSERT_EQ(Call("WriteString", {1.0, block}), 0);
    ASSERT_EQ(Call("CloseFile", {1.0}), 0);
    ASSERT_EQ(Call("FileToString", {name}), 0);
    EXPECT_EQ(Num(2), 70000);
    EXPECT_EQ(Str(1), std::string(70000, 'q'));
    ASSERT_EQ(Call("UndefineVirtualStringFile", {name}), 0);
}

TEST_F(DosVirtualTest, PartsOfFiles) {
    std::string bytes;
    for (int i = 0; i < 64; ++i) bytes.push_back(static_cast<char>(i));
    const std::string path = dir_.Write("f.bin", bytes);
    ASSERT_EQ(Call("DefineVirtualFile", {path, 10.0, 20.0, std::string("x.bin")}), 0);
    const std::string part = Str(1);
    ASSERT_EQ(Call("FileToString", {part}), 0);
    EXPECT_EQ(Str(1), bytes.substr(10, 20));
    // A part of the part counts from the part.
    ASSERT_EQ(Call("DefineVirtualFile", {part, 5.0, 3.0, std::string("y.bin")}), 0);
    ASSERT_EQ(Call("FileToString", {Str(1)}), 0);
    EXPECT_EQ(Str(1), bytes.substr(15, 3));
    EXPECT_EQ(Call("DefineVirtualFile", {part, 15.0, 6.0, std::string("z.bin")}), ERR_WRONGUSAGE);
    EXPECT_EQ(Call("DefineVirtualFile", {path, 0.0, 0.0, std::string("z.bin")}), ERR_WRONGUSAGE);
    EXPECT_EQ(Call("DefineVirtualFile", {std::string(), 0.0, 4.0, std::string("z.bin")}), ERR_WRONGUSAGE);
    // Each number fits a file offset, their sum does not.
    EXPECT_EQ(Call("DefineVirtualFile", {path, 5.0e18, 5.0e18, std::string("z.bin")}), ERR_WRONGUSAGE);
}

}  // namespace
