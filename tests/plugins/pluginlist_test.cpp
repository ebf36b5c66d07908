// The plugin list: what the start-up scan loads at once and what it only
// knows, requiring by name with the version test, the one RequirePlugin
// call and the tags it receives.
#include <gtest/gtest.h>

#include <vector>

#include "core/plugincaps.h"
#include "counted_fifo.h"
#include "plugin_fixture.h"
#include "plugins/pluginlist.h"

namespace {

using plugintest::PluginFixture;
namespace fs = std::filesystem;

class PluginListTest : public PluginFixture {
protected:
    // a.qbp, _b.qbp and c.qbp in folder "scan".
    std::string ScanFolder() {
        for (const char* name : {"a.qbp", "_b.qbp", "c.qbp"}) Place("good", name, "scan");
        return (dir_ / "scan").string();
    }

    static qbPluginNode* Node(const std::string& name) {
        for (const auto& node : GetPluginNodes())
            if (node->name == name) return node.get();
        return nullptr;
    }

    static int Require(const char* name, int version = 0, int revision = 0) {
        return RequirePluginByName(nullptr, name, version, revision, 0, 0, 0, nullptr);
    }
};

TEST_F(PluginListTest, ScanLoadsAllButUnderscoredAndSkipped) {
    const std::string folder = ScanFolder();
    int count = 0;
    ASSERT_EQ(ScanPluginFolder(folder, nullptr, &count), 0);
    EXPECT_EQ(count, 3);
    EXPECT_TRUE(GetPluginNodes().empty());

    const std::vector<std::string> skip = {"c"};
    ASSERT_EQ(ScanPluginFolder(folder, &skip, nullptr), 0);
    ASSERT_EQ(GetPluginNodes().size(), 3u);
    ASSERT_NE(Node("a.qbp"), nullptr);
    EXPECT_TRUE(Node("a.qbp")->handle);
    ASSERT_NE(Node("b.qbp"), nullptr);
    EXPECT_FALSE(Node("b.qbp")->handle);
    EXPECT_EQ(Node("b.qbp")->path, folder + "/_b.qbp");
    ASSERT_NE(Node("c.qbp"), nullptr);
    EXPECT_FALSE(Node("c.qbp")->handle);
    EXPECT_EQ(Count(Log(), ": InitPlugin"), 1);

    // A second scan finds them all there already.
    ASSERT_EQ(ScanPluginFolder(folder, &skip, nullptr), 0);
    EXPECT_EQ(GetPluginNodes().size(), 3u);

    ASSERT_EQ(Require("b"), 0);
    EXPECT_TRUE(Node("b.qbp")->handle);
    EXPECT_EQ(Count(Log(), "b: RequirePlugin(0, 0)"), 1);
    ASSERT_EQ(Require("C.qbp"), 0);
    EXPECT_TRUE(Node("c.qbp")->handle);

    // The list in its order (the folder's, by name), for plugins.
    qbPluginListEntry* list = ListLoadedPlugins();
    std::string names;
    for (qbPluginListEntry* e = list; e; e = e->next) {
        names += e->plugin->name;
        EXPECT_EQ(&FindPluginNodeByInfo(e->plugin)->handle->record, e->plugin);
    }
    EXPECT_EQ(names, "bac");
    std::free(list);

    FreePluginList();
    EXPECT_EQ(Count(Log(), ": ClosePlugin"), 3);
}

TEST_F(PluginListTest, ALoaderTagFindsALoadedPluginOnNoList) {
    Place("named", "named.qbp", "scan");
    ASSERT_EQ(ScanPluginFolder((dir_ / "scan").string(), nullptr, nullptr), 0);
    ASSERT_EQ(GetPluginList(PLUGINCAPS_IMAGE), nullptr);
    ParseLoaderTag("inbuilt|named", PLUGINCAPS_IMAGE);
    ASSERT_NE(GetPluginList(PLUGINCAPS_IMAGE), nullptr);
    EXPECT_STREQ(GetPluginList(PLUGINCAPS_IMAGE)->plugin->name, "named");
    EXPECT_EQ(GetPluginList(PLUGINCAPS_IMAGE)->plugin->onlyWhenNamed, 1);
}

TEST_F(PluginListTest, StarSkipsEverything) {
    const std::vector<std::string> skip = {"*"};
    ASSERT_EQ(ScanPluginFolder(ScanFolder(), &skip, nullptr), 0);
    EXPECT_EQ(GetPluginNodes().size(), 3u);
    for (const auto& node : GetPluginNodes()) EXPECT_FALSE(node->handle) << node->name;
    EXPECT_EQ(Log(), "");
    EXPECT_EQ(ListLoadedPlugins(), nullptr);
}

TEST_F(PluginListTest, BrokenPluginIsReportedAndTheOthersLoad) {
    const std::string folder = ScanFolder();
    std::ofstream(dir_ / "scan" / "broken.qbp") << "text\n";
    ::testing::internal::CaptureStderr();
    ASSERT_EQ(ScanPluginFolder(folder, nullptr, nullptr), 0);
    const std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find(folder + "/broken.qbp\n(Reason: Cannot load plugin: "), std::string::npos) << err;
    EXPECT_TRUE(Node("a.qbp")->handle);
    EXPECT_TRUE(Node("c.qbp")->handle);
    EXPECT_EQ(Node("broken.qbp"), nullptr);
}

// Only regular files are plugins: a FIFO would hold the scan until
// something wrote to it. A link to a plugin still is one.
TEST_F(PluginListTest, TheScanPassesOverFifosAndFollowsLinks) {
    const std::string folder = ScanFolder();
    fs::create_symlink(Place("good", "e.qbp", "elsewhere"), dir_ / "scan" / "d.qbp");
    CountedFifo fifo((dir_ / "scan" / "x.qbp").string());
    ASSERT_TRUE(fifo.made());
    int count = 0;
    ASSERT_EQ(ScanPluginFolder(folder, nullptr, &count), 0);
    EXPECT_EQ(count, 4);
    ::testing::internal::CaptureStderr();
    ASSERT_EQ(ScanPluginFolder(folder, nullptr, nullptr), 0);
    const std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(err.find("x.qbp"), std::string::npos) << err;
    EXPECT_EQ(Node("x.qbp"), nullptr);
    ASSERT_NE(Node("d.qbp"), nullptr);
    EXPECT_EQ(LoadPluginByPath((dir_ / "scan" / "x.qbp").c_str(), 0, nullptr), ERR_DLOPEN);
    EXPECT_EQ(fifo.Readers(), 0) << "the FIFO was opened for reading";
}

TEST_F(PluginListTest, LoadByPathAnswersAlreadyThereWithoutAUserBreak) {
    const fs::path a = Place("good", "a.qbp");
    qbPluginNode* node = nullptr;
    ASSERT_EQ(LoadPluginByPath((dir_ / "a").c_str(), 1, &node), 0);
    ASSERT_NE(node, nullptr);
    qbPluginNode* again = nullptr;
    EXPECT_EQ(LoadPluginByPath(a.c_str(), 1, &again), kPluginAlreadyThere);
    EXPECT_EQ(again, node);
    EXPECT_NE(kPluginAlreadyThere, ERR_USERABORT);
    EXPECT_EQ(LoadPluginByPath((dir_ / "missing.qbp").c_str(), 1, &again), ERR_DLOPEN);
}

TEST_F(PluginListTest, RequireChecksTheVersionAndCallsRequirePluginOnce) {
    const std::vector<std::string> none;
    Place("good", "c.qbp", "scan");
    ASSERT_EQ(ScanPluginFolder((dir_ / "scan").string(), &none, nullptr), 0);

    EXPECT_EQ(Require("c", 2, 5), ERR_REQUIREPLUGIN);
    EXPECT_EQ(ErrorText(ERR_REQUIREPLUGIN), "This program requires c.qbp 2.5!");
    EXPECT_EQ(Require("nothere"), ERR_REQUIREPLUGIN);
    EXPECT_EQ(ErrorText(ERR_REQUIREPLUGIN), "This program requires nothere.qbp!");
    EXPECT_EQ(Count(Log(), "c: RequirePlugin("), 0);

    EXPECT_EQ(Require("c", 2, 4), 0);
    EXPECT_EQ(Require("c", 1, 0), 0);
    EXPECT_EQ(Count(Log(), "c: RequirePlugin(2, 4)"), 1);
    EXPECT_EQ(Count(Log(), "c: RequirePlugin("), 1);
}

TEST_F(PluginListTest, TagsArriveAndTheAnswerHidesDisplays) {
    Place("good", "a.qbp", "scan");
    Place("good", "b.qbp", "scan");
    ASSERT_EQ(ScanPluginFolder((dir_ / "scan").string(), nullptr, nullptr), 0);

    qbRequireTag mode{"mode", "fast", true, 0.0};
    qbRequireTag n{"n", "", false, 3.0};
    int hide = 0;
    ASSERT_EQ(RequirePluginWithTags(nullptr, "a", 1, 0, {mode, n}, &hide), 0);
    EXPECT_EQ(hide, 0);
    const std::string log = Log();
    EXPECT_NE(log.find("a: RequirePlugin(1, 0) state=0 reserved=0\na: tag answer\na: tag mode = \"fast\"\na: tag n = 3\n"),
              std::string::npos)
        << log;

    qbRequireTag hidden{"hidden", "", false, 1.0};
    ASSERT_EQ(RequirePluginWithTags(nullptr, "b", 0, 0, {hidden}, &hide), 0);
    EXPECT_EQ(hide, 1);
}

}  // namespace
