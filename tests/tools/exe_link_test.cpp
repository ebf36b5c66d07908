// qbapplet's linking options and the executable it refuses to make.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "lib/exe_link.h"

namespace {

using Args = std::vector<std::string>;

TEST(ExeLinkOptions, AreTakenOutAndTheRestIsLeftForTheApplet) {
    Args args{"-o", "app", "--link-exe", "player", "--body", "x.qbb", "--link-plugin=a=one.bin",
              "--pack-plugins", "--link-plugin", "b=dir/two=.bin", "--title", "T"};
    ExeLinkCommand c;
    std::string error;
    ASSERT_TRUE(TakeExeLinkOptions(args, c, error)) << error;
    EXPECT_EQ(args, (Args{"-o", "app", "--body", "x.qbb", "--title", "T"}));
    EXPECT_EQ(c.playerPath, "player");
    EXPECT_TRUE(c.packPlugins);
    ASSERT_EQ(c.plugins.size(), 2u);
    EXPECT_EQ(c.plugins[0].name, "a");
    EXPECT_EQ(c.pluginPaths[0], "one.bin");
    EXPECT_EQ(c.plugins[1].name, "b");
    EXPECT_EQ(c.pluginPaths[1], "dir/two=.bin") << "the path is everything after the first '='";
}

TEST(ExeLinkOptions, RefuseWhatCannotBeLinked) {
    for (const Args& bad : {Args{"--link-exe"}, Args{"--link-exe", "p", "--link-plugin", "noequals"},
                            Args{"--link-exe", "p", "--link-plugin", "=file"},
                            Args{"--link-exe", "p", "--link-plugin", "name="}, Args{"--link-plugin", "a=b"},
                            Args{"--pack-plugins=yes"}, Args{"--link-exe="}}) {
        Args args = bad;
        ExeLinkCommand c;
        std::string error;
        EXPECT_FALSE(TakeExeLinkOptions(args, c, error)) << bad.back();
        EXPECT_FALSE(error.empty());
    }
}

TEST(ExeLinkOptions, AnExecutableWithoutMarkerIsNotLinked) {
    std::vector<uint8_t> out;
    std::string error;
    EXPECT_FALSE(LinkExecutable(std::vector<uint8_t>(1000, 0x7f), {'Q', 'B', 'A', 0}, {}, false, out, error));
    EXPECT_NE(error.find("no link marker"), std::string::npos) << error;
}

}  // namespace
