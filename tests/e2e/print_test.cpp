// An applet prints at the cursor twice, ends a line with NPrint, and shows
// a text object and a brush made from it; the saved frame shows the glyphs
// where TextWidth puts them.
#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <string>

#include "e2e/e2e_util.h"
#include "e2e/frames.h"

namespace {

std::string PrintChunk() {
    std::string body = e2e::CallCommand("Locate", {10, 10});
    for (const char* text : {"Hi", "Yo"}) body += "    GETGLOBAL 0 \"print\"\n    LOADK 1 \"" + std::string(text) +
                                                   "\"\n    CALL 0 2 1\n";
    body += "    GETGLOBAL 0 \"nprint\"\n    LOADK 1 \"!\"\n    CALL 0 2 1\n";
    // Where the cursor stands now, and the widths the test checks against.
    for (const char* text : {"HiYo", "HiYo!", "Obj"})
        body += "    GETGLOBAL 0 \"debugprint\"\n    GETGLOBAL 1 \"textwidth\"\n    LOADK 2 \"" + std::string(text) +
                "\"\n    CALL 1 2 0\n    CALL 0 0 1\n";
    body += "    GETGLOBAL 0 \"createtextobject\"\n    LOADK 1 #1\n    LOADK 2 \"Obj\"\n    CALL 0 3 1\n";
    body += e2e::CallCommand("DisplayTextObject", {1, 10, 100});
    body += e2e::CallCommand("ConvertToBrush", {8, 1, 2});
    body += e2e::CallCommand("DisplayBrush", {2, 10, 200});
    return e2e::MainFunction(body, 8);
}

// The leftmost and rightmost inked columns in the rows y0..y1.
void InkSpan(const e2e::Frame& f, int y0, int y1, int* left, int* right) {
    *left = f.width;
    *right = -1;
    for (int y = y0; y < y1; ++y)
        for (int x = 0; x < f.width; ++x)
            if (f.At(x, y) != 0) {
                *left = std::min(*left, x);
                *right = std::max(*right, x);
            }
}

class PrintRoadTest : public e2e::E2eFixture {};

TEST_F(PrintRoadTest, PrintedTextATextObjectAndItsBrushStandWhereTextWidthSays) {
    const std::string source = PrintChunk();
    const auto qba = Pack(Chunk(source, "print"), dir_ / "print.qba", "--include print.qbs:1:1000:0");
    const e2e::RunResult r = PlaySavingFrames(qba);
    ASSERT_EQ(r.status, 0) << r.err;
    std::istringstream out(r.out);
    int hiyo = 0, line = 0, obj = 0;
    out >> hiyo >> line >> obj;
    ASSERT_GT(hiyo, 0);
    const e2e::Frame f = e2e::LastSavedFrame(dir_);
    ASSERT_EQ(f.width, 640);
    int left = 0, right = 0;
    InkSpan(f, 10, 30, &left, &right);
    EXPECT_GE(left, 10);
    EXPECT_LE(left, 12);
    EXPECT_GT(right, 10 + hiyo);  // the "!" after both prints
    EXPECT_LT(right, 10 + line);
    for (int y : {100, 200}) {
        InkSpan(f, y, y + 20, &left, &right);
        EXPECT_GE(left, 10) << y;
        EXPECT_LE(left, 12) << y;
        EXPECT_LT(right, 10 + obj) << y;
        EXPECT_GT(right, 10 + obj / 2) << y;
    }
}

}  // namespace
