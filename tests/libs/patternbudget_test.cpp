// A script's pattern search ends within a budget of matcher steps tied to
// its subject, whatever the pattern: a search that would backtrack for
// hours ends with ERR_STACK instead.
#include <gtest/gtest.h>

#include <string>

#include "core/errcodes.h"
#include "deadline_child.h"
#include "libs/stringlib_fixture.h"

namespace {

using namespace std::chrono_literals;
using libstest::ChildEnd;
using libstest::RunInChild;

class ScriptPatternBudgetTest : public libstest::StringLibFixture {};

// ".-b" costs the subject squared over all start places, ".-.-b" its cube:
// both far past the budget, which the command spends over all of them.
TEST_F(ScriptPatternBudgetTest, QuadraticAndCubicSearchesEndWithTheStackError) {
    const std::string stack = libstest::ErrorText(ERR_STACK);
    EXPECT_EQ(RunInChild([&] { return Call(cmdPatternFindStrDirect, {std::string(100000, 'a'), ".-b"}) == stack; },
                         120s),
              ChildEnd::Passed);
    EXPECT_EQ(
        RunInChild([&] { return Call(cmdPatternFindStrDirect, {std::string(10000, 'a'), ".-.-b"}) == stack; }, 120s),
        ChildEnd::Passed);
    // A whole replace shares one budget: a balance tried at every place of
    // unclosed brackets scans to the end from each.
    EXPECT_EQ(RunInChild(
                  [&] {
                      return Call(cmdPatternReplaceStr, {std::string(20000, '('), "%b()", std::string("x")}) == stack;
                  },
                  120s),
              ChildEnd::Passed);
}

}  // namespace
