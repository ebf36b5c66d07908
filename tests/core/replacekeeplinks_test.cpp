// A replace that keeps links: a link at the name is replaced as a file would
// be and what it leads to stays (a walk inside a tree another user may
// change, where a link planted at a name must lead nowhere).
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <string>

#include "core/errcodes.h"
#include "core/file.h"
#include "core/replacefile.h"
#include "scratch.h"

namespace {

TEST(ReplaceKeepingLinks, ALinkIsReplacedNotWrittenThrough) {
    ScratchDir dir;
    const std::string outside = dir.Write("outside", "root's");
    const std::string name = dir / "copy";
    ASSERT_EQ(symlink(outside.c_str(), name.c_str()), 0);
    qbReplaceOptions options;
    options.keepLinks = true;
    qbReplaceFile out;
    ASSERT_EQ(BeginReplaceFile(name.c_str(), options, &out), 0);
    ASSERT_EQ(FileWrite(out.file.get(), "new", 3), 3u);
    ASSERT_EQ(CommitReplaceFile(&out), 0);
    EXPECT_EQ(ScratchDir::Read(outside), "root's");
    EXPECT_TRUE(std::filesystem::is_regular_file(std::filesystem::symlink_status(name)));
    EXPECT_EQ(ScratchDir::Read(name), "new");
}

}  // namespace
