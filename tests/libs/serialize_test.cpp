// Serialised tables and functions: golden bytes, round trips through files
// and memory, and the refusals of bad input and unwritable tables.
#include <unistd.h>

#include <cmath>
#include <cstring>
#include <limits>

#include "core/errcodes.h"
#include "dos_fixture.h"
#include "lib/assembler.h"
#include "libs/base64.h"
#include "libs/serialize.h"

namespace {

using dostest::Bytes;

int NativeCommand(ScriptState*) { return 0; }

class SerializeTest : public dostest::DosFixture {
protected:
    // Writes with fn(handle) into a new file and gives its bytes.
    template <typename Fn>
    std::string WriteFile(Fn fn) {
        const std::string path = dir_ / "out.bin";
        EXPECT_EQ(Call("OpenFile", {1.0, path, 1006.0}), 0);
        fn();
        EXPECT_EQ(Call("CloseFile", {1.0}), 0);
        return ScratchDir::Read(path);
    }
    // Calls command(1, table-or-function at the stack top saved in slot, flags...).
    int WriteValue(const char* command, int ref, double armour = 0, double noWrap = 0) {
        VmSetTop(L, 0);
        VmPushNumber(L, 1);
        VmRawGetIndex(L, kRegistryIndex, ref);
        VmPushNumber(L, armour);
        VmPushNumber(L, noWrap);
        return CallCommand(L, command, 4, kMultRet);
    }
    int Ref() { return VmMakeRef(L, kRegistryIndex); }
    void OpenForReading(const std::string& bytes) {
        const std::string path = dir_.Write("in.bin", bytes);
        ASSERT_EQ(Call("OpenFile", {2.0, path, 1005.0}), 0);
    }
    // Reads a table layout from memory; the result or the error code.
    int ReadMemory(const std::string& bytes) {
        VmSetTop(L, 0);
        qbSerialSource source{nullptr, reinterpret_cast<const uint8_t*>(bytes.data()), 0, bytes.size()};
        return ReadTableLayout(L, source);
    }
    void SetNumber(const char* key, double value) {
        VmPushString(L, key);
        VmPushNumber(L, value);
        VmSetTableAt(L, -3);
    }
    double Field(int idx, const char* key) {
        VmPushString(L, key);
        VmGetTableAt(L, idx < 0 ? idx - 1 : idx);
        const double v = VmToNumber(L, -1);
        VmSetTop(L, VmGetTop(L) - 1);
        return v;
    }
    std::string Plain(int ref) {
        std::vector<uint8_t> bytes;
        VmRawGetIndex(L, kRegistryIndex, ref);
        EXPECT_EQ(WriteTableStream(L, -1, qbSerialSink{nullptr, &bytes, nullptr}), 0);
        VmSetTop(L, VmGetTop(L) - 1);
        return std::string(bytes.begin(), bytes.end());
    }
};

TEST_F(SerializeTest, GoldenBytes) {
    VmPushNewTable(L);
    const int empty = Ref();
    VmPushNewTable(L);
    SetNumber("a", 1);
    const int a = Ref();
    EXPECT_EQ(WriteFile([&] { EXPECT_EQ(WriteValue("WriteTable", empty), 0); }), std::string("QBT0") + Bytes({0}));
    EXPECT_EQ(WriteFile([&] { EXPECT_EQ(WriteValue("WriteTable", a), 0); }),
              std::string("QBT0") + Bytes({3, 0, 0, 0, 1, 0x61, 2, 0x3F, 0xF0, 0, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(WriteFile([&] { EXPECT_EQ(WriteValue("WriteTable", empty, 1), 0); }), "QBT100000008UUJUMAA=");
    uint64_t count = 0;
    VmRawGetIndex(L, kRegistryIndex, a);
    EXPECT_EQ(WriteTableStream(L, -1, qbSerialSink{nullptr, nullptr, &count}), 0);
    EXPECT_EQ(count, 16u);
}

TEST_F(SerializeTest, LongArmourWrapsAndCountsLineFeeds) {
    VmPushNewTable(L);
    VmPushString(L, "s");
    const std::string text(400, 'q');
    VmPushLString(L, text.data(), text.size());
    VmSetTableAt(L, -3);
    const int t = Ref();
    const std::string wrapped = WriteFile([&] { EXPECT_EQ(WriteValue("WriteTable", t, 1), 0); });
    const std::string flat = WriteFile([&] { EXPECT_EQ(WriteValue("WriteTable", t, 1, 1), 0); });
    const std::string body = wrapped.substr(12);
    EXPECT_EQ(std::stoul(wrapped.substr(4, 8), nullptr, 16), body.size());
    EXPECT_NE(body.back(), '\n');
    for (size_t i = 0; i < body.size(); ++i) EXPECT_EQ(body[i] == '\n', i % 73 == 72) << i;
    EXPECT_EQ(flat.find('\n'), std::string::npos);
    std::string unwrapped = body;
    std::erase(unwrapped, '\n');
    EXPECT_EQ(unwrapped, flat.substr(12));
    // Decoded, the armour is the plain layout.
    ASSERT_EQ(ReadMemory(wrapped), 0);
    EXPECT_EQ(Plain(t), Plain(Ref()));
}

TEST_F(SerializeTest, TablesRoundTripAmongOtherData) {
    int dummy = 0;
    VmPushNewTable(L);
    SetNumber("n", 2.5);
    VmPushNumber(L, 7);
    VmPushString(L, "seven");
    VmSetTableAt(L, -3);
    VmPushString(L, "big");
    const std::string big(100000, 'z');
    VmPushLString(L, big.data(), big.size());
    VmSetTableAt(L, -3);
    VmPushString(L, "id");
    VmPushLightUserdata(L, &dummy);
    VmSetTableAt(L, -3);
    VmPushString(L, "flag");
    VmPushBoolean(L, 1);
    VmSetTableAt(L, -3);
    VmPushString(L, std::string(257, 'k').c_str());
    VmPushNumber(L, 3);
    VmSetTableAt(L, -3);
    VmPushString(L, "inner");
    VmPushNewTable(L);
    SetNumber("deep", 9);
    VmSetTableAt(L, -3);
    const int t = Ref();
    const std::string file = WriteFile([&] {
        for (int armour = 0; armour < 3; ++armour) {
            EXPECT_EQ(WriteValue("WriteTable", t, armour ? 1 : 0, armour == 2), 0);
            EXPECT_EQ(Call("WriteInt", {1.0, 1234.0}), 0);
        }
    });
    OpenForReading(file);
    for (int i = 0; i < 3; ++i) {
        ASSERT_EQ(Call("ReadTable", {2.0}), 0) << i;
        EXPECT_EQ(Field(1, "n"), 2.5);
        EXPECT_EQ(Field(1, "deep"), 0);
        VmPushString(L, "inner");
        VmGetTableAt(L, 1);
        EXPECT_EQ(Field(-1, "deep"), 9);
        VmPushString(L, "big");
        VmGetTableAt(L, 1);
        EXPECT_EQ(Str(-1), big);
        VmPushNumber(L, 7);
        VmGetTableAt(L, 1);
        EXPECT_EQ(Str(-1), "seven");
        VmPushString(L, "id");
        VmGetTableAt(L, 1);
        EXPECT_EQ(VmType(L, -1), kTypeNumber);
        EXPECT_EQ(Num(-1), 0);
        VmPushString(L, "flag");
        VmGetTableAt(L, 1);
        EXPECT_EQ(VmType(L, -1), kTypeNil);
        EXPECT_EQ(Field(1, std::string(257, 'k').c_str()), 3);
        ASSERT_EQ(Call("ReadInt", {2.0}), 0);
        EXPECT_EQ(Num(1), 1234);
    }
    EXPECT_EQ(Call("ReadTable", {2.0}), ERR_READ);
}

// Byte runs of 2, 4 and 8 are the widths numbers swap at: keys, values and
// armour texts of every length around them keep their byte order, plain and
// armoured, read from a file and from memory.
TEST_F(SerializeTest, ByteRunsOfEveryShortLengthKeepTheirOrder) {
    const std::string keys = "abcdefghi", values = "123456789";
    for (size_t n = 0; n <= keys.size(); ++n) {
        VmSetTop(L, 0);
        VmPushNewTable(L);
        if (n > 0) {
            VmPushLString(L, keys.data(), n);
            VmPushLString(L, values.data(), n);
            VmSetTableAt(L, -3);
        }
        const int t = Ref();
        const std::string file = WriteFile([&] {
            for (int armour = 0; armour < 3; ++armour) EXPECT_EQ(WriteValue("WriteTable", t, armour ? 1 : 0, armour == 2), 0);
        });
        auto check = [&](const char* road, int armour) {
            VmPushNil(L);
            int entries = 0;
            while (VmNext(L, 1)) {
                ++entries;
                EXPECT_EQ(Str(-2), keys.substr(0, n)) << road << " " << armour << " length " << n;
                EXPECT_EQ(Str(-1), values.substr(0, n)) << road << " " << armour << " length " << n;
                VmSetTop(L, VmGetTop(L) - 1);
            }
            EXPECT_EQ(entries, n > 0 ? 1 : 0) << road << " " << armour << " length " << n;
        };
        OpenForReading(file);
        for (int armour = 0; armour < 3; ++armour) {
            VmSetTop(L, 0);
            ASSERT_EQ(Call("ReadTable", {2.0}), 0) << armour << " length " << n;
            check("file", armour);
        }
        EXPECT_EQ(Call("CloseFile", {2.0}), 0);
        ASSERT_EQ(ReadMemory(file), 0) << n;
        check("memory", 0);
    }
}

TEST_F(SerializeTest, FunctionsRoundTripPlainAndArmoured) {
    std::vector<uint8_t> chunk;
    std::string error;
    ASSERT_TRUE(AssembleText(".function main params=1 maxstack=2\n    ADD 0 0 #1\n    RETURN 0 2\n.end\n", chunk,
                             error))
        << error;
    ASSERT_EQ(VmLoadBuffer(L, reinterpret_cast<const char*>(chunk.data()), chunk.size(), "t"), 0);
    const int f = Ref();
    VmPushCClosure(L, NativeCommand, 0);
    const int native = Ref();
    const std::string file = WriteFile([&] {
        EXPECT_EQ(WriteValue("WriteFunction", f), 0);
        EXPECT_EQ(WriteValue("WriteFunction", f, 1), 0);
        EXPECT_EQ(WriteValue("WriteFunction", native), ERR_NOQBFUNC);
        VmSetTop(L, 0);
        VmPushNumber(L, 1);
        VmPushNewTable(L);
        VmPushString(L, "f");
        VmRawGetIndex(L, kRegistryIndex, f);
        VmSetTableAt(L, -3);
        EXPECT_EQ(CallCommand(L, "WriteTable", 2, kMultRet), 0);
    });
    EXPECT_EQ(file.substr(0, 4), "QBF0");
    OpenForReading(file);
    for (int i = 0; i < 2; ++i) {
        ASSERT_EQ(Call("ReadFunction", {2.0}), 0);
        VmPushNumber(L, 41);
        ASSERT_EQ(VmPCall(L, 1, 1, 0), 0);
        EXPECT_EQ(Num(-1), 42);
    }
    EXPECT_EQ(Call("ReadFunction", {2.0}), ERR_READFUNC);
    ASSERT_EQ(Call("Seek", {2.0, -static_cast<double>(file.size() - file.rfind("QBT0")), 2.0}), 0);
    ASSERT_EQ(Call("ReadTable", {2.0}), 0);
    VmPushString(L, "f");
    VmGetTableAt(L, 1);
    VmPushNumber(L, 1);
    ASSERT_EQ(VmPCall(L, 1, 1, 0), 0);
    EXPECT_EQ(Num(-1), 2);
}

TEST_F(SerializeTest, MagicsAndFileModes) {
    VmPushNewTable(L);
    const int t = Ref();
    OpenForReading("QBF0" + Bytes({0, 0, 0, 0}));
    EXPECT_EQ(Call("ReadTable", {2.0}), ERR_READTABLE);
    VmSetTop(L, 0);
    VmPushNumber(L, 2);
    VmRawGetIndex(L, kRegistryIndex, t);
    EXPECT_EQ(CallCommand(L, "WriteTable", 2, kMultRet), ERR_READONLY);
    EXPECT_EQ(Call("CloseFile", {2.0}), 0);
    OpenForReading("QBT0" + Bytes({0}));
    EXPECT_EQ(Call("ReadFunction", {2.0}), ERR_READFUNC);
    ASSERT_EQ(Call("OpenFile", {3.0, dir_ / "w.bin", 1006.0}), 0);
    EXPECT_EQ(Call("ReadTable", {3.0}), ERR_WRITEONLY);
    EXPECT_EQ(Call("ReadFunction", {3.0}), ERR_WRITEONLY);
}

TEST_F(SerializeTest, BadStreamsGiveCleanCodes) {
    const std::string good = std::string("QBT0") +
                             Bytes({3, 0, 0, 0, 1, 'a', 4, 2, 0x40, 0, 0, 0, 0, 0, 0, 0, 3, 0, 0, 0, 2, 'h', 'i', 0, 0});
    ASSERT_EQ(ReadMemory(good), 0);
    for (size_t cut = 0; cut < good.size(); ++cut) EXPECT_EQ(ReadMemory(good.substr(0, cut)), ERR_READ) << cut;
    EXPECT_EQ(ReadMemory("QBT0" + Bytes({1})), ERR_FILEFORMAT);
    EXPECT_EQ(ReadMemory("QBT0" + Bytes({3, 0, 0, 0, 1, 'a', 6})), ERR_FILEFORMAT);
    EXPECT_EQ(ReadMemory("QBT0" + Bytes({3, 0, 0, 0, 1, 'a', 0})), ERR_FILEFORMAT);
    EXPECT_EQ(ReadMemory("QBT0" + Bytes({3, 0xFF, 0xFF, 0xFF, 0xFF, 'a'})), ERR_READ);
    EXPECT_EQ(ReadMemory("QBT0" + Bytes({3, 0, 0, 0, 1, 'a', 3, 0xFF, 0xFF, 0xFF, 0xFF})), ERR_READ);
    EXPECT_EQ(ReadMemory("QBT0" + Bytes({3, 0, 0, 0, 1, 'a', 5, 0xFF, 0xFF, 0xFF, 0xFF})), ERR_READ);
    EXPECT_EQ(ReadMemory("QBT0" + Bytes({3, 0, 0, 0, 1, 'a', 5, 0, 0, 0, 2, 'h', 'i', 0})), ERR_FILEFORMAT);
    EXPECT_EQ(ReadMemory("QBT1ffffffffAAAA"), ERR_READ);
    EXPECT_EQ(ReadMemory("QBT10000000xAAAA"), ERR_FILEFORMAT);
    EXPECT_EQ(ReadMemory("QBT100000004!!!!"), ERR_BADBASE64);
    EXPECT_EQ(ReadMemory("QBT100000008AAAAAAAA"), ERR_READTABLE);
    EXPECT_EQ(ReadMemory("QBT100000008UUJUMAA"), ERR_READ);
    EXPECT_EQ(ReadMemory("QBT0" + Bytes({2, 0x7F, 0xF8, 0, 0, 0, 0, 0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0})),
              ERR_FILEFORMAT);
    std::string deep = "QBT0";
    for (int i = 0; i < 100000; ++i) deep += Bytes({2, 0, 0, 0, 0, 0, 0, 0, 0, 4});
    EXPECT_EQ(ReadMemory(deep), ERR_FILEFORMAT);
}

TEST_F(SerializeTest, ArmourInsideArmourReadsBack) {
    std::string layout = "QBT0" + Bytes({3, 0, 0, 0, 1, 'x', 2, 0x40, 0x14, 0, 0, 0, 0, 0, 0, 0});
    for (int level = 0; level < 3; ++level) {
        std::string text(Base64EncodedSize(layout.size()), '\0');
        EncodeBase64(nullptr, nullptr, reinterpret_cast<uint8_t*>(text.data()),
                     reinterpret_cast<const uint8_t*>(layout.data()), layout.size(), nullptr, 1);
        char hex[9];
        std::snprintf(hex, sizeof hex, "%.8lx", static_cast<unsigned long>(text.size()));
        layout = std::string("QBT1") + hex + text;
    }
    ASSERT_EQ(ReadMemory(layout), 0);
    EXPECT_EQ(Field(1, "x"), 5);
}

TEST_F(SerializeTest, UnwritableTablesAreRefusedWhole) {
    VmPushNewTable(L);
    VmPushString(L, "inner");
    VmPushNewTable(L);
    VmPushString(L, "outer");
    VmPushValue(L, -4);
    VmSetTableAt(L, -3);
    VmSetTableAt(L, -3);
    const int loop = Ref();
    EXPECT_EQ(WriteFile([&] { EXPECT_EQ(WriteValue("WriteTable", loop), ERR_WRONGUSAGE); }), "");

    VmPushNewTable(L);
    VmPushBoolean(L, 1);
    VmPushNumber(L, 1);
    VmSetTableAt(L, -3);
    const int booleanKey = Ref();
    EXPECT_EQ(WriteFile([&] { EXPECT_EQ(WriteValue("WriteTable", booleanKey), ERR_WRONGUSAGE); }), "");

    // The deepest nesting written is the deepest read.
    for (int levels : {kSerialMaxDepth, kSerialMaxDepth + 1}) {
        VmSetTop(L, 0);
        ASSERT_TRUE(VmCheckStack(L, levels + 8));
        VmPushNewTable(L);
        for (int i = 1; i < levels; ++i) {
            VmPushNewTable(L);
            VmPushNumber(L, 1);
            VmPushValue(L, -2);
            VmSetTableAt(L, -4);
        }
        VmSetTop(L, 1);
        std::vector<uint8_t> bytes{'Q', 'B', 'T', '0'};
        const int written = WriteTableStream(L, 1, qbSerialSink{nullptr, &bytes, nullptr});
        if (levels > kSerialMaxDepth) {
            EXPECT_EQ(written, ERR_WRONGUSAGE);
        } else {
            ASSERT_EQ(written, 0);
            EXPECT_EQ(ReadMemory(std::string(bytes.begin(), bytes.end())), 0);
        }
    }
}

}  // namespace

namespace {

// A file of 4 GB (sparse) whose one string claims 2^32 - 1 bytes: more than
// any script string, refused before its bytes are read (the file stays at
// the length's end).
TEST_F(SerializeTest, AStringLongerThanAnyIsRefusedBeforeItIsRead) {
    const std::string path = dir_.Write("huge.bin", "QBT0" + Bytes({3, 0xFF, 0xFF, 0xFF, 0xFF}));
    ASSERT_EQ(truncate(path.c_str(), (int64_t{1} << 32) + 64), 0);
    ASSERT_EQ(Call("OpenFile", {2.0, path, 1005.0}), 0);
    EXPECT_EQ(Call("ReadTable", {2.0}), ERR_MEM);
    ASSERT_EQ(Call("FilePos", {2.0}), 0);
    EXPECT_EQ(Num(1), 9);
}

}  // namespace
