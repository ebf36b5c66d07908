// Linked data: the marker in the built player found and patched, the plugin
// block extracted into a private folder and removed, refused plugin names
// and blocks cut short.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "core/errcodes.h"
#include "core/errors.h"
#include "core/fileops.h"
#include "core/linkeddata.h"
#include "core/scratch.h"
#include "lib/exe_link.h"
#include "lib/file_util.h"

namespace fs = std::filesystem;

namespace {

using Bytes = std::vector<uint8_t>;

Bytes ToBytes(const std::string& s) { return Bytes(s.begin(), s.end()); }

std::string ToString(const Bytes& b) { return std::string(b.begin(), b.end()); }

Bytes MarkerBytes() {
    qbLinkMarker marker;
    BuildLinkMarker(&marker);
    return Bytes(marker.bytes, marker.bytes + kLinkMarkerSize);
}

unsigned Mode(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
}

class LinkedDataTest : public ::testing::Test {
protected:
    void SetUp() override {
        savedOffset_ = LinkedDataOffset;
        savedTemp_ = GetTempDir();
        temp_ = scratch_ / "tmp";
        fs::create_directories(temp_);
        SetTempDir(temp_.c_str());
    }
    void TearDown() override {
        RemoveExtractedPlugins();
        SetTempDir(savedTemp_.c_str());
        LinkedDataOffset = savedOffset_;
    }

    // Some executable bytes, the plugin block, an applet's start.
    std::string WriteLinked(const Bytes& block, const std::string& name = "app") {
        return scratch_.Write(name, Exe() + ToString(block) + std::string("QBA\0rest", 8));
    }

    static std::string Exe() { return std::string(kExeSize, '\x90'); }

    std::vector<std::string> TempEntries() const {
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(temp_)) names.push_back(e.path().filename().string());
        return names;
    }

    static constexpr uint32_t kExeSize = 100;
    ScratchDir scratch_;
    std::string temp_;
    std::string savedTemp_;
    uint32_t savedOffset_ = 0;
};

TEST_F(LinkedDataTest, TheMarkerIsFoundAndPatchedInACopyOfThePlayer) {
    Bytes player;
    std::string error;
    ASSERT_TRUE(ReadFileBytes(QB_PLAYER_PATH, player, error)) << error;
    size_t at = 0;
    ASSERT_TRUE(FindLinkMarker(player, at, error)) << error;
    const Bytes marker = MarkerBytes();
    EXPECT_TRUE(std::equal(marker.begin(), marker.end(), player.begin() + static_cast<long>(at)))
        << "the player's marker object is the one it reads at start-up";

    Bytes patched = player;
    PatchLinkMarker(patched, at, 0x01020304);
    const std::string copy = scratch_ / "player-copy";
    ASSERT_TRUE(WriteExecutableFile(copy, patched, error)) << error;
    Bytes back;
    ASSERT_TRUE(ReadFileBytes(copy, back, error));
    ASSERT_EQ(back.size(), player.size());
    qbLinkMarker read;
    std::memcpy(read.bytes, back.data() + at, kLinkMarkerSize);
    EXPECT_EQ(GetLinkMarkerOffset(&read), 0x01020304u);
    std::copy_n(player.begin() + static_cast<long>(at + kLinkMarkerOffsetAt), 4,
                back.begin() + static_cast<long>(at + kLinkMarkerOffsetAt));
    EXPECT_EQ(back, player) << "nothing but the offset word changes";
    EXPECT_EQ(Mode(copy) & 0111, 0111u);

    EXPECT_FALSE(FindLinkMarker(patched, at, error)) << "a linked copy is not linked again";
}

TEST_F(LinkedDataTest, TheMarkerSearchWantsExactlyOneMarker) {
    EXPECT_EQ(GetLinkMarkerOffset(reinterpret_cast<const qbLinkMarker*>(MarkerBytes().data())), kNoLinkedData);
    size_t at = 0;
    std::string error;
    Bytes none(4096, 0);
    EXPECT_FALSE(FindLinkMarker(none, at, error));

    const Bytes marker = MarkerBytes();
    const Bytes one = ToBytes(std::string(100, 'x') + ToString(marker) + std::string(200, 'x'));
    ASSERT_TRUE(FindLinkMarker(one, at, error)) << error;
    EXPECT_EQ(at, 100u);

    const Bytes two = ToBytes(ToString(one) + ToString(marker));
    EXPECT_FALSE(FindLinkMarker(two, at, error));

    // The name alone, or the marker cut off by the end of the file, is none.
    Bytes cut(marker.begin(), marker.end() - 3);
    EXPECT_FALSE(FindLinkMarker(cut, at, error));
}

TEST_F(LinkedDataTest, PluginsAreExtractedIntoAPrivateFolderAndRemoved) {
    for (bool packed : {false, true}) {
        SCOPED_TRACE(packed ? "packed" : "plain");
        const Bytes alpha = ToBytes(std::string(40000, 'a') + "end");
        const Bytes beta = ToBytes("beta plugin");
        const Bytes block = BuildPluginBlock({{"alpha", alpha}, {"beta", beta}}, packed);
        const std::string exe = WriteLinked(block);

        LinkedDataOffset = kExeSize;
        ASSERT_EQ(ExtractLinkedPlugins(exe.c_str(), kExeSize), 0) << GetErrorDetail();
        EXPECT_EQ(LinkedDataOffset, kExeSize + block.size()) << "the applet starts behind the block";

        const std::string folder = GetLinkedPluginFolder();
        ASSERT_FALSE(folder.empty());
        EXPECT_EQ(fs::path(folder).parent_path(), fs::path(temp_));
        EXPECT_EQ(Mode(folder), 0700u);
        EXPECT_EQ(ScratchDir::Read(folder + "/alpha.qbp"), ToString(alpha));
        EXPECT_EQ(ScratchDir::Read(folder + "/beta.qbp"), ToString(beta));
        EXPECT_EQ(Mode(folder + "/beta.qbp"), 0755u);

        RemoveExtractedPlugins();
        EXPECT_TRUE(GetLinkedPluginFolder().empty());
        EXPECT_TRUE(TempEntries().empty());
    }
}

TEST_F(LinkedDataTest, WithoutAPluginBlockTheAppendedDataIsTheApplet) {
    const std::string exe = WriteLinked({});
    LinkedDataOffset = kExeSize;
    EXPECT_EQ(ExtractLinkedPlugins(exe.c_str(), kExeSize), 0);
    EXPECT_EQ(LinkedDataOffset, kExeSize);
    EXPECT_TRUE(GetLinkedPluginFolder().empty());
    EXPECT_TRUE(TempEntries().empty());

    // Appended data shorter than a block's magic is left to the loader too.
    const std::string tiny = scratch_.Write("tiny", std::string(kExeSize, 'x') + "QB");
    EXPECT_EQ(ExtractLinkedPlugins(tiny.c_str(), kExeSize), 0);
    EXPECT_EQ(ExtractLinkedPlugins((scratch_ / "missing").c_str(), kExeSize), ERR_READFILE);
}

TEST_F(LinkedDataTest, APluginAlreadyExtractedIsNotWrittenAgain) {
    const Bytes block = BuildPluginBlock({{"same", ToBytes("first")}, {"same", ToBytes("second!")},
                                          {"other", ToBytes("third")}},
                                         false);
    const std::string exe = WriteLinked(block);
    LinkedDataOffset = kExeSize;
    ASSERT_EQ(ExtractLinkedPlugins(exe.c_str(), kExeSize), 0);
    EXPECT_EQ(ScratchDir::Read(GetLinkedPluginFolder() + "/same.qbp"), "first");
    EXPECT_EQ(ScratchDir::Read(GetLinkedPluginFolder() + "/other.qbp"), "third");
    EXPECT_EQ(LinkedDataOffset, kExeSize + block.size());
}

TEST_F(LinkedDataTest, NamesThatLeaveTheFolderAreRefused) {
    for (const char* name : {"../x", ".", "..", "a/b", "a\\b", "/abs", ""}) {
        SCOPED_TRACE(name);
        EXPECT_FALSE(IsLinkedPluginNameSafe(name));
    }
    EXPECT_TRUE(IsLinkedPluginNameSafe("..x"));
    EXPECT_TRUE(IsLinkedPluginNameSafe("plugin.v2"));
    EXPECT_FALSE(IsLinkedPluginNameSafe(std::string(kLinkedPluginNameMax + 1, 'n').c_str()));

    for (const char* name : {"../x", ".", "..", "a/b", "a\\b"}) {
        SCOPED_TRACE(name);
        const std::string exe = WriteLinked(BuildPluginBlock({{"good", ToBytes("ok")}, {name, ToBytes("evil")}}, false));
        EXPECT_EQ(ExtractLinkedPlugins(exe.c_str(), kExeSize), ERR_LINKPLUGIN);
        EXPECT_STREQ(GetErrorDetail(), name);
        RemoveExtractedPlugins();
        EXPECT_TRUE(TempEntries().empty()) << "nothing lands beside the extraction folder";
        EXPECT_FALSE(fs::exists(scratch_ / "x.qbp"));
        EXPECT_FALSE(fs::exists(temp_ + "/x.qbp"));
    }

    // A name that never ends within its limit is refused as it is read.
    Bytes endless = BuildPluginBlock({}, false);
    endless.pop_back();
    const std::string longName(kLinkedPluginNameMax + 10, 'n');
    endless.insert(endless.end(), longName.begin(), longName.end());
    endless.push_back(0);
    const std::string exe = WriteLinked(endless);
    EXPECT_EQ(ExtractLinkedPlugins(exe.c_str(), kExeSize), ERR_LINKPLUGIN);
}

TEST_F(LinkedDataTest, ABlockCutShortGivesErrRead) {
    for (bool packed : {false, true}) {
        const Bytes block = BuildPluginBlock({{"alpha", ToBytes(std::string(3000, 'q'))}}, packed);
        // Cut in the flags, in the name, in the size word, in the data, and
        // before the empty name that ends the block.
        for (size_t keep : {size_t{6}, size_t{10}, size_t{15}, size_t{30}, block.size() - 1}) {
            SCOPED_TRACE(std::string(packed ? "packed" : "plain") + " cut to " + std::to_string(keep));
            const std::string exe = scratch_.Write("cut", Exe() + ToString(block).substr(0, keep));
            // Inside a packed plugin's stream the cut is the stream's own fault.
            const int expected = packed && keep == 30 ? ERR_ZLIBDATA : ERR_READ;
            EXPECT_EQ(ExtractLinkedPlugins(exe.c_str(), kExeSize), expected);
            RemoveExtractedPlugins();
        }
    }

    // A size word that claims more than the file holds.
    Bytes lying = BuildPluginBlock({{"alpha", ToBytes("tiny")}}, false);
    lying[4 + 4 + 6 + 3] = 0xFF;  // low byte of the size word behind "alpha\0"
    lying.resize(lying.size() - 1);
    EXPECT_EQ(ExtractLinkedPlugins(scratch_.Write("lying", Exe() + ToString(lying)).c_str(), kExeSize), ERR_READ);
}

}  // namespace
