// The base table as a plugin sees it: the exerciser plugin calls slots of the
// standard-library, zlib and hashing tables from its commands; the layout
// and the plugin-list table are checked from the host side.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>
#include <zlib.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <ctime>
#include <string>
#include <variant>
#include <vector>

#include "core/chunkname.h"
#include "core/errcodes.h"
#include "core/scratch.h"
#include "core/settings.h"
#include "display/eventlib.h"
#include "core/vmhost.h"
#include "basecheck_fixture.h"
#include "plugins/basetables.h"
#include "plugins/pluginlibrary.h"
#include "plugins/pluginlist.h"
#include "vm/vm.h"

namespace {

using BaseTableTest = plugintest::BaseCheckFixture;

TEST(BaseTableLayout, RootHoldsTheServedTablesWithTheirSlotCounts) {
    const qbPluginBase* base = GetPluginBase();
    EXPECT_EQ(base->stdlibTable, &kPluginStdlibTable);
    EXPECT_EQ(base->zlibTable, &kPluginZlibTable);
    EXPECT_EQ(base->pluginListTable, &kPluginListTable);
    EXPECT_EQ(base->hashTable, &kPluginHashTable);
    EXPECT_EQ(base->systemTable, &kPluginSystemTable);
    EXPECT_EQ(base->filesTable, &kPluginFilesTable);
    EXPECT_EQ(base->graphicsTable, &kPluginGraphicsTable);
    EXPECT_EQ(sizeof(qbStdlibTable) / sizeof(void*), 51u);
    EXPECT_EQ(sizeof(qbZlibTable) / sizeof(void*), 16u);
    EXPECT_EQ(sizeof(qbPluginListTable) / sizeof(void*), 5u);
    EXPECT_EQ(sizeof(qbHashTable) / sizeof(void*), 4u);
    // Every served slot is filled; zlib's last three stay null.
    auto slots = [](const void* table) { return static_cast<void* const*>(table); };
    for (int i = 0; i < 51; ++i) EXPECT_NE(slots(&kPluginStdlibTable)[i], nullptr) << "table 0 slot " << i;
    for (int i = 0; i < 16; ++i) EXPECT_EQ(slots(&kPluginZlibTable)[i] == nullptr, i >= 13) << "table 10 slot " << i;
}

TEST(BaseTableStdlib, FixedRecordsAndNullArguments) {
    const qbStdlibTable& t = kPluginStdlibTable;
    const time_t when = 1700000000;
    const qbTimeRecord* utc = t.Gmtime(&when);
    ASSERT_NE(utc, nullptr);
    EXPECT_EQ(utc->size, 48);
    EXPECT_EQ(utc->year, 123);
    EXPECT_EQ(utc->gmtoff, 0);
    EXPECT_EQ(t.Asctime(nullptr), nullptr);
    EXPECT_EQ(t.Mktime(nullptr), -1);
    char text[32] = "x";
    EXPECT_EQ(t.Strftime(text, sizeof text, "%Y", nullptr), 0u);
    EXPECT_EQ(t.Strftime(text, sizeof text, "%Y-%m-%d", utc), 10u);
    EXPECT_STREQ(text, "2023-11-14");
    double seconds = 0;
    t.Difftime(&seconds, 10, 4);
    EXPECT_EQ(seconds, 6.0);
    t.SetErrno(EDOM);
    EXPECT_EQ(t.GetErrno(), EDOM);
    qbFileStatus status{};
    EXPECT_EQ(t.Stat("/nonexistent-folder/none", &status), -1);
    EXPECT_EQ(t.Stat(".", &status), 0);
    EXPECT_TRUE(S_ISDIR(status.mode));
    char word[] = "\xe4" "bc";
    EXPECT_STREQ(t.StrUpper(word), "\xc4" "BC");
    EXPECT_STREQ(t.StrLower(word), "\xe4" "bc");
}

// The slots a plugin's C code calls for case, rounding, dates and open files:
// each answers as the C library does, with Latin-1 case.
TEST(BaseTableStdlib, CaseRoundingDatesAndOpenFilesAnswerAsTheCLibrary) {
    const qbStdlibTable& t = kPluginStdlibTable;
    EXPECT_EQ(t.StrNCaseCmp("\xc4" "BCx", "\xe4" "bcy", 3), 0);
    EXPECT_LT(t.StrNCaseCmp("\xc4" "BCx", "\xe4" "bcy", 4), 0);
    EXPECT_GT(t.StrNCaseCmp("b", "A", 1), 0);
    EXPECT_EQ(t.ToLower(0xC4), 0xE4);
    EXPECT_EQ(t.ToLower('Q'), 'q');
    EXPECT_EQ(t.ToLower('1'), '1');
    EXPECT_EQ(t.Lrint(2.5), 2L);
    EXPECT_EQ(t.Lrint(-3.7), -4L);
    struct timeval tv {};
    ASSERT_EQ(t.Gettimeofday(&tv, nullptr), 0);
    EXPECT_NEAR(static_cast<double>(tv.tv_sec), static_cast<double>(time(nullptr)), 5.0);

    const time_t when = 1700000000;
    qbTimeRecord record = *t.Gmtime(&when);
    char* text = t.Asctime(&record);
    ASSERT_NE(text, nullptr);
    EXPECT_STREQ(text, "Tue Nov 14 22:13:20 2023\n");
    struct tm local {};
    ASSERT_NE(localtime_r(&when, &local), nullptr);
    char expected[64];
    ASSERT_NE(asctime_r(&local, expected), nullptr);
    EXPECT_STREQ(t.Ctime(&when), expected);
    EXPECT_EQ(t.Ctime(nullptr), nullptr);
    // A day past the month's end comes back normalised.
    qbTimeRecord* mine = t.Localtime(&when);
    ASSERT_NE(mine, nullptr);
    record = *mine;
    record.mday += 17;  // 14 + 17 November: 1 December
    const time_t later = t.Mktime(&record);
    EXPECT_EQ(later, when + 17 * 86400);
    EXPECT_EQ(record.mon, 11);
    EXPECT_EQ(record.mday, 1);
    EXPECT_EQ(record.size, 48);

    ScratchDir dir;
    const std::string path = dir.Write("five.bin", "12345");
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    qbFileStatus status{};
    EXPECT_EQ(t.Fstat(fd, &status), 0);
    EXPECT_EQ(status.size, 5);
    EXPECT_TRUE(S_ISREG(status.mode));
    EXPECT_EQ(t.Fstat(fd, nullptr), -1);
    close(fd);
    EXPECT_EQ(t.Fstat(fd, &status), -1);
}

TEST_F(BaseTableTest, StandardLibraryThroughThePlugin) {
    EXPECT_EQ(Call("ErrnoAfterFailedOpen"), std::to_string(ENOENT));
    EXPECT_EQ(Call("LocalTimeMatches", {1700000000.0}), "1");
    EXPECT_EQ(Call("LocalTimeMatches", {0.0}), "1");
    EXPECT_EQ(Call("NullStat"), "-2");
    EXPECT_EQ(Call("FoldUpper", {double(0xE4)}), std::to_string(0xC4));
    EXPECT_EQ(Call("FoldCompare", {std::string("\xc4" "BC"), std::string("\xe4" "bc")}), "0");
    EXPECT_NE(Call("FoldCompare", {std::string("abc"), std::string("abd")}), "0");
}

TEST_F(BaseTableTest, ZlibSlotsMatchZlibItself) {
    std::string input;
    for (int i = 0; i < 300; ++i) input += "line " + std::to_string(i % 37) + "\n";
    const std::string packed = Call("Zlib", {input, 0.0});
    std::vector<Bytef> reference(compressBound(input.size()));
    uLongf size = reference.size();
    ASSERT_EQ(compress2(reference.data(), &size, reinterpret_cast<const Bytef*>(input.data()), input.size(),
                        Z_DEFAULT_COMPRESSION),
              Z_OK);
    EXPECT_EQ(packed, std::string(reinterpret_cast<const char*>(reference.data()), size));
    EXPECT_EQ(Call("Zlib", {packed, 1.0}), input);
    EXPECT_EQ(Call("Zlib", {std::string("not zlib data"), 1.0}), std::to_string(Z_DATA_ERROR));
}

TEST_F(BaseTableTest, HashingAndBase64) {
    EXPECT_EQ(Call("Crc", {std::string("123456789"), 9.0}), std::to_string(0xCBF43926u));
    EXPECT_EQ(Call("Crc", {std::string("123456789"), 0.0}), "-1");
    EXPECT_EQ(Call("Crc", {std::string("123456789"), -5.0}), "-1");
    EXPECT_EQ(Call("Md5", {std::string("abc")}), "900150983cd24fb0d6963f7d28e17f72");
    EXPECT_EQ(Call("Md5", {std::string("")}), "untouched") << "nothing written for length 0";
    EXPECT_EQ(Call("ToBase64", {std::string("foobar")}), "Zm9vYmFy");
    EXPECT_EQ(Call("ToBase64", {std::string("fo")}), "Zm8=");
    EXPECT_EQ(Call("FromBase64", {std::string("Zm9vYmFy")}), "foobar");
    EXPECT_EQ(Call("FromBase64", {std::string("Zm9v!!")}), "0") << "bad text";
}

TEST_F(BaseTableTest, FilesThroughThePlugin) {
    const std::string plain = (dir_ / "plain.txt").string();
    const std::string box = (dir_ / "box.qba").string();
    for (const auto& [path, text] : {std::pair{plain, "0123456789abcdef"}, std::pair{box, "HEADERpart-contentTAIL"}}) {
        FILE* f = std::fopen(path.c_str(), "wb");
        ASSERT_NE(f, nullptr);
        std::fputs(text, f);
        std::fclose(f);
    }
    const std::string part = MakeChunkName("inner.txt", 6, 12, 0, box.c_str());
    EXPECT_EQ(Call("ReadAt", {plain, 10.0, 4.0}), "abcd");
    EXPECT_EQ(Call("ReadAt", {plain, 2.0, 3.0, 1.0}), "234") << "the C seek form";
    EXPECT_EQ(Call("ReadAt", {part, 5.0, 100.0}), "content") << "a part ends at its own size";
    EXPECT_EQ(Call("ReadAt", {(dir_ / "none").string(), 0.0, 1.0}), "-1");
    EXPECT_EQ(Call("Examine", {plain}), "16 plain.txt");
    EXPECT_EQ(Call("Examine", {part}), "12 inner.txt");
}

TEST_F(BaseTableTest, SystemServicesThroughThePlugin) {
    EXPECT_EQ(Call("ZeroFilled", {4096.0}), "1");
    EXPECT_EQ(Call("HostTag", {25.0}), "0");
    EXPECT_EQ(Call("HostTag", {26.0}), "") << "no applet";
    EXPECT_EQ(Call("HostTag", {99.0}), "-1") << "an unknown tag is not handled";
    EXPECT_EQ(Call("RegisterType", {std::string("OnPing")}), "28");
    EXPECT_EQ(Call("RegisterType", {std::string("OnPong")}), "29");
    EXPECT_EQ(Call("RegisterType", {std::string("OnConnect")}), "0");
    EXPECT_EQ(Call("TimerElapsed", {4242.0}), "0");
    EXPECT_EQ(Call("PostType", {20.0}), std::to_string(ERR_WRONGUSAGE));
    EXPECT_EQ(Call("AddEntry", {std::string("one")}), "1");
    EXPECT_EQ(Call("AddEntry", {std::string("two")}), "2");
    FreeUserEventTypes(L_);
}

TEST_F(BaseTableTest, PluginListSlotsReadAndWriteTheRecord) {
    qbPluginListEntry* list = kPluginListTable.ListLoadedPlugins();
    ASSERT_NE(list, nullptr);
    qbPluginRecord* record = list->plugin;
    EXPECT_EQ(list->next, nullptr);
    kPluginListTable.SetPluginValue(record, 77);
    EXPECT_EQ(kPluginListTable.GetPluginValue(record), 77);
    kPluginListTable.SetPluginDisabled(record, 1);
    EXPECT_EQ(record->disabled, 1);
    EXPECT_EQ(kPluginListTable.GetPluginValue(nullptr), 0) << "an unknown record reads 0";
    kPluginListTable.SetPluginValue(nullptr, 5);  // and is left alone
    kPluginListTable.FreePluginList(list);
}

}  // namespace
