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
