// A script's pattern search ends within a budget of matcher steps tied to
// its subject, whatever the pattern: a search that would backtrack for
// hours ends with ERR_STACK instead.
#include <gtest/gtest.h>

#include <string>

#include "core/errcodes.h"
#include "deadline_child.h"
#include "libs/patterns.h"
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

// A set is tested by one lookup and charged one step: a long set does not
// turn a scan into a search that runs out of steps. Backtracking against it
// still ends with the stack error.
TEST_F(ScriptPatternBudgetTest, ALongSetIsTestedInOneStep) {
    const std::string stack = libstest::ErrorText(ERR_STACK);
    const std::string pattern = ".-[" + std::string(1000, 'c') + "]";
    EXPECT_EQ(RunInChild([&] { return FirstOfIterator(std::string(10000, 'a'), pattern) == stack; }, 60s),
              ChildEnd::Passed);
    std::string set;
    for (int i = 0; i < 1500; ++i) set += static_cast<char>('a' + i % 20);
    const size_t at = 1000000;
    EXPECT_EQ(Call(cmdPatternFindStrDirect, {std::string(at, 'x') + "q", "[" + set + "]"}),
              std::to_string(at) + "|" + std::to_string(at));
}

// Where a match may start is found by testing the first item at every
// place, a step each, in a search and in a replace; the set is read once.
TEST_F(ScriptPatternBudgetTest, TheScanForAStartPlaceIsCharged) {
    const std::string subject(100000, 'x');
    const std::string pattern = "[" + std::string(100000, 'a') + "]";
    qbMatchState ms;
    ms.budget = 10000000;
    size_t start = 0, end = 0;
    EXPECT_EQ(PatternFind(ms, subject.data(), subject.size(), pattern.data(), pattern.size(), 0, false, &start, &end),
              0);
    const uint64_t spent = 10000000 - ms.budget;
    EXPECT_GE(spent, subject.size());
    EXPECT_LE(spent, subject.size() + pattern.size() + 10);
    EXPECT_TRUE(Call(cmdPatternReplaceStr, {subject, pattern, std::string("y")}) == subject + "|0");
}

// The steps of the slowest search the budget was first made for (".-b"
// over 100 KB, at 1000 steps a subject byte): no search may cost more than
// twice that any more, whatever its subject's length.
constexpr uint64_t kEarlierWorstSteps = 200000000;

// "%w+@" scans the rest of the subject from every start and backtracks over
// it: the budget, a few steps a byte and item, ends it after a few starts.
TEST_F(ScriptPatternBudgetTest, ABacktrackOverTheWholeSubjectEndsAtItsBudget) {
    const std::string subject(10000000, 'a');
    const uint64_t budget = PatternBudget(subject.size(), "%w+@", 4);
    EXPECT_LE(budget, 2 * kEarlierWorstSteps);
    const std::string stack = libstest::ErrorText(ERR_STACK);
    EXPECT_EQ(RunInChild([&] { return Call(cmdPatternFindStrDirect, {subject, "%w+@"}) == stack; }, 120s),
              ChildEnd::Passed);
    // A scan of any length keeps its answer: the last byte of 100 MB.
    std::string big(100000000, 'a');
    big.back() = 'b';
    EXPECT_EQ(Call(cmdPatternFindStrDirect, {big, "[b]"}), "99999999|99999999");
    EXPECT_EQ(Call(cmdPatternFindStrDirect, {big, "a*b", 5.0}), "5|99999999");
}

// A loop of Direct calls, each from where the last match ended, over runs
// of "a" closed by "bc": each call is charged over the subject from its
// start, so the loop spends no more than the iterator's one budget.
TEST_F(ScriptPatternBudgetTest, ALoopOfDirectCallsCostsWhatTheIteratorDoes) {
    std::string subject;
    while (subject.size() < (2u << 20)) subject += std::string(30000, 'a') + "bc";
    const std::string pattern = "a*c";
    uint64_t steps = 0;
    size_t init = 0;
    int r = 1;
    // A loop that outspends the bound is stopped there: it has failed.
    while (r == 1 && init < subject.size() && steps <= 2 * kEarlierWorstSteps) {
        qbMatchState ms;
        size_t start = 0, end = 0;
        r = PatternFind(ms, subject.data(), subject.size(), pattern.data(), pattern.size(), init, true, &start, &end);
        steps += PatternBudget(subject.size() - init, pattern.data(), pattern.size()) - ms.budget;
        init = end;
    }
    EXPECT_EQ(r, ERR_STACK);
    EXPECT_LE(steps, PatternBudget(subject.size(), pattern.data(), pattern.size()));
    EXPECT_LE(steps, 2 * kEarlierWorstSteps);
}

// An iterator's calls share one budget over its subject. Each call here
// finds the "c" closing a block, after trying every place of the block's
// run of "a" (the run squared); one budget does not cover two blocks,
// where a budget per call would let the loop walk them all.
TEST_F(ScriptPatternBudgetTest, AnIteratorsCallsShareOneBudget) {
    const size_t run = 1000;
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
