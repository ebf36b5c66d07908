// Print and NPrint at the text cursor: styles, the cursor afterwards, tab
// stops and the right margin, and one PRINT layer per call.
#include <gtest/gtest.h>

#include "core/errcodes.h"
#include "text/textlayers.h"
#include "text_world.h"

namespace {

class PrintWorld : public TextWorld {};

TEST_F(PrintWorld, TagsStyleThePrintedTextAndTheCursorStandsAfterIt) {
    ASSERT_EQ(RunNumbers("Locate", {10, 10}), 0);
    ASSERT_EQ(RunText("Print", "x"), 0);
    EXPECT_EQ(CursorX(), 10 + Width("x"));
    EXPECT_EQ(CursorY(), 10);
    const int32_t plain = Ink(0, 0, 100, 40);
    ASSERT_GT(plain, 0);
    ASSERT_EQ(RunNumbers("Locate", {10, 100}), 0);
    ASSERT_EQ(RunText("Print", "[b]x"), 0);
    EXPECT_GT(Ink(0, 90, 100, 140), plain);
    EXPECT_EQ(RunText("Print", "[/color]"), ERR_TEXTSYNTAX);

    // Two lines: the second starts at the left margin; the cursor ends on
    // the top of the last line, after its last character.
    ASSERT_EQ(RunNumbers("SetMargins", {20, 600}), 0);
    ASSERT_EQ(RunNumbers("Locate", {200, 50}), 0);
    ASSERT_EQ(RunText("Print", "abc\nde"), 0);
    EXPECT_EQ(CursorX(), 20 + Width("de"));
    EXPECT_EQ(CursorY(), 50 + Height());
    ASSERT_EQ(RunText("NPrint", "x"), 0);
    EXPECT_EQ(CursorX(), 20);
    EXPECT_EQ(CursorY(), 50 + 2 * Height());

    // Words wrap at the right margin, the line's width counted from the
    // left margin, not from the display's edge.
    std::string words = "ab";
    while (Width(words + " ab") < 150) words += " ab";
    ASSERT_EQ(RunNumbers("SetMargins", {300, 400}), 0);
    ASSERT_EQ(RunNumbers("Locate", {300, 200}), 0);
    ASSERT_EQ(RunText("Print", words.c_str()), 0);
    EXPECT_GT(CursorY(), 200);
    EXPECT_LE(CursorX(), 401);
}

TEST_F(PrintWorld, TabsGoToTheNextStopFromTheLeftMarginOrBreakPastTheRightOne) {
    ASSERT_EQ(RunNumbers("SetMargins", {30, 600}), 0);
    ASSERT_EQ(RunNumbers("AddTab", {100, 200}), 0);
    ASSERT_EQ(RunNumbers("Locate", {30, 0}), 0);
    ASSERT_EQ(RunText("Print", "a\tb"), 0);
    EXPECT_EQ(CursorX(), 30 + 100 + Width("b"));
    EXPECT_EQ(CursorY(), 0);
    // Already past the first stop: the second one.
    ASSERT_EQ(RunText("Print", "\tc"), 0);
    EXPECT_EQ(CursorX(), 30 + 200 + Width("c"));
    // The right margin lies before the next stop: the tab breaks the line.
    ASSERT_EQ(RunNumbers("SetMargins", {30, 150}), 0);
    ASSERT_EQ(RunNumbers("Locate", {140, 0}), 0);
    ASSERT_EQ(RunText("Print", "\tb"), 0);
    EXPECT_EQ(CursorX(), 30 + Width("b"));
    EXPECT_EQ(CursorY(), Height());
}

TEST_F(PrintWorld, EachPrintIsOnePrintLayerThatUndoRemoves) {
    ASSERT_EQ(Run("EnableLayers", 0), 0);
    VmPushNumber(L_, 1);
    VmPushString(L_, "a");
    VmPushNil(L_);
    ASSERT_EQ(Run("Print", 3), 0);
    ASSERT_EQ(RunText("NPrint", "b"), 0);
    qbBGPic* picture = GetCurrentBGPic();
    ASSERT_EQ(CountLayers(picture), 2);
    const qbLayer* first = GetLayerByIndex(picture, 1);
    EXPECT_EQ(first->type, kLayerPrint);
    ASSERT_NE(TextLayoutOfLayer(first), nullptr);
    EXPECT_EQ(TextLayoutOfLayer(first)->text, "1 a Nil");
    VmPushNumber(L_, kLayerPrint);
    ASSERT_EQ(Run("Undo", 1), 0);
    EXPECT_EQ(CountLayers(picture), 1);
    EXPECT_EQ(TextLayoutOfLayer(GetLayerByIndex(picture, 1))->text, "1 a Nil");
}

}  // namespace
