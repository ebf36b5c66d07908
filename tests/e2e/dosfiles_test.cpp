// The dos library from an applet: a file written with CR LF lines, read back
// line by line, packed and unpacked and summed; and a file the applet
// declares, open when the script starts.
#include <gtest/gtest.h>

#include <string>

#include "e2e/e2e_util.h"

namespace {

// Calls the global with the arguments in registers 1 ...; results from 0.
const char kRoundTripScript[] = R"(
.function main maxstack=12
.line 1
    GETGLOBAL 0 "openfile"
    LOADK 1 #1
    LOADK 2 "notes.txt"
    LOADK 3 #1006
    CALL 0 4 1
    GETGLOBAL 0 "writestring"
    LOADK 1 #1
    LOADK 2 "first line\r\nsecond line\r\n\r\nlast"
    CALL 0 3 1
    GETGLOBAL 0 "closefile"
    LOADK 1 #1
    CALL 0 2 1
.line 2
    GETGLOBAL 0 "compressfile"
    LOADK 1 "notes.txt"
    LOADK 2 "notes.qbpk"
    CALL 0 3 1
    GETGLOBAL 0 "decompressfile"
    LOADK 1 "notes.qbpk"
    LOADK 2 "copy.txt"
    CALL 0 3 1
.line 3
    GETGLOBAL 0 "filelines"
    LOADK 1 "copy.txt"
    CALL 0 2 2
    LOADNIL 1 2
    TFORPREP 0 loop
body:
    GETGLOBAL 4 "debugprint"
    LOADK 5 "line:"
    MOVE 6 2
    CALL 4 3 1
loop:
    TFORLOOP 0 0 1
    JMP body
.line 4
    GETGLOBAL 0 "debugprint"
    GETGLOBAL 1 "md5"
    LOADK 2 "copy.txt"
    CALL 1 2 2
    CALL 0 2 1
    RETURN 0 1 0
.end
)";

// Reads the first line of the file that start-up opened as id 8.
const char kDeclaredScript[] = R"(
.function main maxstack=8
.line 1
    GETGLOBAL 0 "debugprint"
    GETGLOBAL 1 "readline"
    LOADK 2 #8
    CALL 1 2 2
    CALL 0 2 1
    RETURN 0 1 0
.end
)";

class DosFilesE2eTest : public e2e::E2eFixture {};

TEST_F(DosFilesE2eTest, LinesPackAndChecksumRoundTrip) {
    const e2e::RunResult r = PlayScript(kRoundTripScript, "-quiet", "", "notes");
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string md5 = Run("md5sum " + (dir_ / "notes.txt").string()).out.substr(0, 32);
    EXPECT_EQ(r.out, "line: first line\nline: second line\nline: \nline: last\n" + md5 + "\n");
    EXPECT_EQ(e2e::ReadFile(dir_ / "copy.txt"), "first line\r\nsecond line\r\n\r\nlast");
}

TEST_F(DosFilesE2eTest, DeclaredFilesAreOpenAtTheStart) {
    e2e::WriteFile(dir_ / "data.txt", "declared contents\nmore\n");
    const e2e::RunResult r = PlayScript(kDeclaredScript, "-quiet", "--declare 8:8:1:data.txt", "decl");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "declared contents\n");
}

}  // namespace
