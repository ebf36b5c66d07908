// The dumper against the loader: a chunk read and written back gives the same
// bytes (which also pins the layout the assembler writes), a big-endian twin
// loads the same prototype, and a native function cannot be dumped.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "core/errcodes.h"
#include "lib/assembler.h"
#include "vm/internal.h"
#include "vm_fixture.h"

namespace {

int Collect(ScriptState*, const void* p, size_t size, void* ud) {
    auto* out = static_cast<std::vector<uint8_t>*>(ud);
    const auto* bytes = static_cast<const uint8_t*>(p);
    out->insert(out->end(), bytes, bytes + size);
    return 0;
}

class DumpTest : public vmtest::NativeFixture {
protected:
    std::vector<uint8_t> Assemble(const std::string& text) {
        std::vector<uint8_t> bytes;
        std::string error;
        EXPECT_TRUE(AssembleText(text, bytes, error)) << error;
        return bytes;
    }

    // Loads the chunk and dumps the function again.
    std::vector<uint8_t> RoundTrip(const std::vector<uint8_t>& chunk) {
        VmSetTop(L, 0);
        EXPECT_EQ(VmLoadBuffer(L, reinterpret_cast<const char*>(chunk.data()), chunk.size(), "t"), 0);
        std::vector<uint8_t> out;
        EXPECT_EQ(VmDumpFunction(L, -1, Collect, &out), 0);
        return out;
    }
};

const char* const kPrograms[] = {
    // Every kind of constant and debug record, nested functions with and
    // without their own source, upvalue names and a vararg function.
    R"(.function main maxstack=8 line=0
.source "@main.qbs"
.line 3
    LOADK 0 #-0
    LOADK 1 #nan
    LOADK 2 #inf
    LOADK 3 "text with \000 zero"
    LOADK 4 ""
    LOADNIL 5 5
    CLOSURE 6 inner
    MOVE 0 0
    CLOSURE 7 other
.line 9
    RETURN 0 1
.local a 0 10
.local b 2 10
  .function inner params=1 vararg=1 maxstack=4 upvalues=1 line=4
  .upvalue x
    GETUPVAL 1 0
    RETURN 1 2
  .end
  .function other maxstack=3 line=12
  .source "@other.qbs"
    LOADK 0 #1e300
    RETURN 0 2
  .end
.end
)",
    // No line information, no locals, upvalue names absent.
    R"(.function main maxstack=4
    LOADK 0 #1
    CLOSURE 1 f
    MOVE 0 0
    RETURN 0 1
  .function f maxstack=2 upvalues=1
  .count upvalues=0
    GETUPVAL 0 0
    RETURN 0 2
  .end
.end
)",
};

TEST_F(DumpTest, LoadThenDumpGivesBackTheBytes) {
    for (const char* text : kPrograms) {
        std::vector<uint8_t> chunk = Assemble(text);
        EXPECT_EQ(RoundTrip(chunk), chunk) << text;
    }
    // The bundled example and the valid seeds of the loader's fuzz corpus.
    std::ifstream example(std::string(QB_SOURCE_DIR) + "/examples/hello.qbs");
    std::string hello((std::istreambuf_iterator<char>(example)), std::istreambuf_iterator<char>());
    std::vector<uint8_t> chunk = Assemble(hello);
    EXPECT_EQ(RoundTrip(chunk), chunk);
    for (const auto& e : std::filesystem::directory_iterator(std::string(QB_SOURCE_DIR) + "/fuzz/corpus/undump")) {
        if (e.path().filename().string().rfind("valid_", 0) != 0) continue;
        if (e.path().filename().string().find("bigendian") != std::string::npos) continue;
        std::ifstream in(e.path(), std::ios::binary);
        std::vector<uint8_t> seed((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        EXPECT_EQ(RoundTrip(seed), seed) << e.path();
    }
}

TEST_F(DumpTest, BigEndianTwinLoadsTheSamePrototype) {
    for (const char* text : kPrograms) {
        // The same lines in both, so that the line info is the same.
        std::vector<uint8_t> little = Assemble(std::string("\n") + text);
        std::vector<uint8_t> big = Assemble(std::string(".header bigendian\n") + text);
        ASSERT_NE(little, big);
        // Dumped in the host's order, the big-endian load equals the little one.
        EXPECT_EQ(RoundTrip(big), little) << text;
    }
}

TEST_F(DumpTest, NativeFunctionsAndOtherValuesAreRefused) {
    VmPushCClosure(L, [](ScriptState*) { return 0; }, 0);
    std::vector<uint8_t> out;
    EXPECT_EQ(VmDumpFunction(L, -1, Collect, &out), ERR_NOQBFUNC);
    EXPECT_TRUE(out.empty());
    VmPushNumber(L, 1);
    EXPECT_EQ(VmDumpFunction(L, -1, Collect, &out), ERR_FUNCEXPECTED);
    EXPECT_TRUE(out.empty());
}

}  // namespace
