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

class ScriptPatternBudgetTest : public libstest::StringLibFixture {
protected:
    // The first call of a PatternFindStr iterator over s.
    std::string FirstOfIterator(const std::string& s, const std::string& pattern) {
        VmSetTop(L, 0);
        VmPushCClosure(L, cmdPatternFindStr, 0);
        VmPushLString(L, s.data(), s.size());
        VmPushLString(L, pattern.data(), pattern.size());
        if (int err = VmPCall(L, 2, 1, 0)) return libstest::ErrorText(err);
        return Results(VmPCall(L, 0, kMultRet, 0));
    }
};

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

// A set is tested as often as a single byte, but each test costs the set's
// length: ".-" tried at every start place of 10 KB against a set of 1000
// bytes spends its budget and says so, instead of answering -1 after
// 5 x 10^10 byte comparisons.
TEST_F(ScriptPatternBudgetTest, ALongSetCostsItsLengthAtEveryTest) {
    const std::string stack = libstest::ErrorText(ERR_STACK);
    const std::string pattern = ".-[" + std::string(1000, 'c') + "]";
    EXPECT_EQ(RunInChild([&] { return FirstOfIterator(std::string(10000, 'a'), pattern) == stack; }, 60s),
              ChildEnd::Passed);
    // Within the budget a long set still answers: every byte tested once.
    EXPECT_EQ(Call(cmdPatternFindStrDirect, {std::string(10000, 'a') + "c", "[" + std::string(1000, 'c') + "]"}),
              "10000|10000");
}

// Where a match may start is found by testing the first item at every
// place; with a set first each of those tests costs the set's length too,
// in a search and in a replace.
TEST_F(ScriptPatternBudgetTest, TheScanForAStartPlaceIsCharged) {
    const std::string stack = libstest::ErrorText(ERR_STACK);
    const std::string subject(100000, 'x');
    const std::string pattern = "[" + std::string(100000, 'a') + "]";
    EXPECT_EQ(RunInChild([&] { return FirstOfIterator(subject, pattern) == stack; }, 60s), ChildEnd::Passed);
    EXPECT_EQ(RunInChild([&] { return Call(cmdPatternReplaceStr, {subject, pattern, std::string("y")}) == stack; },
                         60s),
              ChildEnd::Passed);
}

// An iterator's calls share one budget over its subject. Each call here
// finds the "c" closing a block, after trying every place of the block's
// run of "a" (the run squared); one budget does not cover two blocks,
// where a budget per call would let the loop walk all ten.
TEST_F(ScriptPatternBudgetTest, AnIteratorsCallsShareOneBudget) {
    const size_t run = 11000;
    std::string block(run, 'a');
    block += "bc";
    std::string subject;
    while (subject.size() < 100000) subject += block;
    VmSetTop(L, 0);
    VmPushCClosure(L, cmdPatternFindStr, 0);
    VmPushLString(L, subject.data(), subject.size());
    VmPushString(L, "a*c");
    ASSERT_EQ(VmPCall(L, 2, 1, 0), 0);
    const std::string stack = libstest::ErrorText(ERR_STACK);
    const size_t blocks = subject.size() / block.size();
    EXPECT_EQ(RunInChild(
                  [&] {
                      for (size_t call = 0; call < blocks; ++call) {
                          VmSetTop(L, 1);
                          VmPushValue(L, 1);
                          const std::string r = Results(VmPCall(L, 0, kMultRet, 0), 2);
                          if (r == stack) return call >= 1 && call <= 2;
                          if (r != "c") return false;
                      }
                      return false;
                  },
                  60s),
              ChildEnd::Passed);
}

}  // namespace
