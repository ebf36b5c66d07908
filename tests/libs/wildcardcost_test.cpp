// The wildcard matcher places each run between stars once: the answers are
// the backtracking matcher's, and the cost is bounded by the name's length
// times the longest run.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "deadline_child.h"
#include "libs/wildcard.h"

namespace {

// The reference: the last "*" takes one more character after every
// failure, sets and specials as the dos library reads them.
bool InSet(const std::string& p, size_t at, size_t end, unsigned char c) {
    size_t i = at + 1;
    const bool negated = p[i] == '!';
    if (negated) ++i;
    bool found = false;
    while (i < end - 1) {
        const auto lo = static_cast<unsigned char>(p[i]);
        if (i + 2 < end - 1 && p[i + 1] == '-' && lo < static_cast<unsigned char>(p[i + 2])) {
            found = found || (c >= lo && c <= static_cast<unsigned char>(p[i + 2]));
            i += 3;
        } else {
            found = found || c == lo;
            ++i;
        }
    }
    return found != negated;
}

bool Takes(const std::string& p, size_t at, char c, size_t* next) {
    *next = at + 1;
    if (p[at] == '?') return true;
    if (p[at] == '#') return c >= '0' && c <= '9';
    if (p[at] == '[') {
        size_t i = at + 1;
        if (i < p.size() && p[i] == '!') ++i;
        while (i < p.size() && p[i] != ']') ++i;
        if (i < p.size()) {
            *next = i + 1;
            return InSet(p, at, i + 1, static_cast<unsigned char>(c));
        }
    }
    return p[at] == c;
}

bool Backtracking(const std::string& p, const std::string& n) {
    size_t i = 0, k = 0, starP = std::string::npos, starN = 0;
    while (k < n.size()) {
        size_t next;
        if (i < p.size() && p[i] == '*') {
            starP = ++i;
            starN = k;
        } else if (i < p.size() && Takes(p, i, n[k], &next)) {
            i = next;
            ++k;
        } else if (starP == std::string::npos) {
            return false;
        } else {
            i = starP;
            k = ++starN;
        }
    }
    while (i < p.size() && p[i] == '*') ++i;
    return i == p.size();
}

TEST(WildcardCostTest, AnswersAsTheBacktrackingMatcher) {
    const char* table[][2] = {
        {"", ""},           {"*", ""},          {"", "a"},         {"a*", "a"},        {"*a", "ba"},
        {"*a*", "bab"},     {"a*b*c", "abc"},   {"a*b*c", "acbc"}, {"a*b*c", "acb"},   {"*ab*ab", "abab"},
        {"*ab*ab", "aba"},  {"??*", "a"},       {"*?", ""},        {"#*#", "1x2"},     {"[*]*", "*x"},
        {"[*]", "a"},       {"[a-c]*[!x]", "bx"}, {"[*", "[xyz"},  {"*[", "x["},       {"*.txt", "a.txt.gz"},
        {"*a*a*a", "aaa"},  {"*a*a*a", "aa"},   {"**a**", "a"},    {"a*a", "a"},       {"*[]]*", "x]"},
    };
    for (const auto& c : table) EXPECT_EQ(WildcardMatch(c[0], c[1]), Backtracking(c[0], c[1])) << c[0] << " " << c[1];
    std::mt19937 rng(3);
    const std::string pieces = "ab*?#[]!-1";
    for (int round = 0; round < 20000; ++round) {
        std::string p, n;
        for (int i = rng() % 8; i > 0; --i) p += pieces[rng() % pieces.size()];
        for (int i = rng() % 8; i > 0; --i) n += "ab1]"[rng() % 4];
        ASSERT_EQ(WildcardMatch(p, n), Backtracking(p, n)) << p << " " << n;
    }
}

TEST(WildcardCostTest, ALongRunAfterTheLastStarIsPlacedOnce) {
    const std::string name(100000, 'a');
    size_t steps = 0;
    // The steps count the pattern's reading too.
    EXPECT_TRUE(WildcardMatch("*" + std::string(50000, 'a'), name, &steps));
    EXPECT_LE(steps, 50001u + 100000u);
    // Runs between stars: each placed once at its leftmost place.
    std::string stars;
    for (int i = 0; i < 10000; ++i) stars += "*a?a";
    EXPECT_FALSE(WildcardMatch(stars + "*b", name, &steps));
    EXPECT_LE(steps, stars.size() + 2 + 200000u);
}

// A "[" that no "]" closes stands for itself; finding that out once per
// reading, not once per test, keeps 2,000 of them as cheap as 2,000 "a":
// the pattern read once, then each placement of the run between the stars
// tests at most its 2,000 elements (10^8 tests here, where reading the
// pattern again at every test would cost 10^11 and not end in time).
TEST(WildcardCostTest, UnclosedBracketsCostWhatLettersCost) {
    using namespace std::chrono_literals;
    const std::string run(2000, '[');
    std::string name;
    while (name.size() < 120000) name += std::string(1999, '[') + "a";
    name += "x";
    const std::string pattern = "*" + run + "*x";
    EXPECT_EQ(libstest::RunInChild(
                  [&] {
                      size_t steps = 0;
                      const bool matched = WildcardMatch(pattern, name, &steps);
                      return !matched && steps <= pattern.size() + name.size() * (run.size() + 1);
                  },
                  30s),
              libstest::ChildEnd::Passed);
    // The same run of letters, and the brackets where they do match.
    std::string letters = name;
    for (char& c : letters)
        if (c == '[') c = 'b';
    size_t steps = 0;
    EXPECT_FALSE(WildcardMatch("*" + std::string(2000, 'b') + "*x", letters, &steps));
    EXPECT_TRUE(WildcardMatch(pattern, std::string(2000, '[') + "x"));
    EXPECT_TRUE(MatchPatternList("*.txt;" + pattern, "a" + std::string(2000, '[') + "yx"));
}

}  // namespace

namespace {

// A long run between stars is found by one search, not tried at every
// place of the name: a run of letters by a linear search, a run with "?"
// or a set by a bit-parallel one at a word a byte for every 64 elements.
// Doubling the name doubles the steps.
TEST(WildcardCostTest, ALongRunBetweenStarsIsFoundInTimeLinearInTheName) {
    const std::string letters = std::string(49999, 'a') + "b";
    std::string classes = std::string(49998, 'a') + "?b";
    classes[1000] = '#';
    classes.insert(2000, "[b-c]");
    // A text the run takes.
    auto taken = [](const std::string& run) {
        std::string t;
        for (size_t i = 0; i < run.size(); ++i) {
            if (run[i] == '?') t += 'z';
            else if (run[i] == '#') t += '7';
            else if (run[i] == '[') {
                t += run[i + 1];
                i = run.find(']', i);
            } else t += run[i];
        }
        return t;
    };
    for (const std::string& run : {letters, classes}) {
        const std::string pattern = "*" + run + "*";
        size_t steps100 = 0, steps200 = 0;
        EXPECT_FALSE(WildcardMatch(pattern, std::string(100000, 'a'), &steps100));
        EXPECT_FALSE(WildcardMatch(pattern, std::string(200000, 'a'), &steps200));
        const size_t words = (run.size() + 63) / 64;
        EXPECT_LE(steps200, 2 * pattern.size() + 200000 * (words + 1) + 256 * (words + 2));
        EXPECT_LE(steps200, 2 * steps100 + 2 * pattern.size() + 256 * (words + 2));
        const std::string name = std::string(70000, 'a') + taken(run) + "yz";
        EXPECT_TRUE(WildcardMatch(pattern, name));
        EXPECT_TRUE(WildcardMatch("a*" + run + "*z", name));
        EXPECT_FALSE(WildcardMatch("a*" + run + "*zz", name));
    }
}

// Runs longer than the ones tried in place, over a small alphabet, so that
// near misses abound: the same answers as the backtracking matcher.
TEST(WildcardCostTest, LongRunsAnswerAsTheBacktrackingMatcher) {
    std::mt19937 rng(7);
    const std::string pieces = "ab?#[";
    for (int round = 0; round < 3000; ++round) {
        std::string p = "*";
        for (int run = 1 + static_cast<int>(rng() % 2); run > 0; --run) {
            for (int i = 17 + static_cast<int>(rng() % 70); i > 0; --i) {
                const char c = pieces[rng() % pieces.size()];
                p += c == '[' ? (rng() % 2 ? "[!a]" : "[1b]") : std::string(1, c);
            }
            p += "*";
        }
        if (rng() % 2) p += "b";
        std::string n;
        for (int i = static_cast<int>(rng() % 300); i > 0; --i) n += "ab1"[rng() % 3 ? rng() % 2 : 2];
        ASSERT_EQ(WildcardMatch(p, n), Backtracking(p, n)) << p << " " << n;
    }
}

}  // namespace
