// The case-blind substring search (FindStr, CountStr and ReplaceStr with
// case off) finds what a plain folded compare at every place finds, in time
// linear in text and needle.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "deadline_child.h"
#include "libs/stringinternal.h"
#include "libs/stringlib_fixture.h"

namespace {

using namespace std::chrono_literals;

// ISO 8859-1 capitals fold to small letters: A-Z and 0xC0-0xDD but 0xD7.
unsigned char Fold(char c) {
    const auto u = static_cast<unsigned char>(c);
    if ((u >= 'A' && u <= 'Z') || (u >= 0xC0 && u <= 0xDD && u != 0xD7)) return static_cast<unsigned char>(u + 32);
    return u;
}

size_t NaiveFind(const std::string& s, const std::string& sub, size_t start) {
    if (sub.empty()) return std::string::npos;
    for (size_t i = start; i + sub.size() <= s.size(); ++i) {
        size_t k = 0;
        while (k < sub.size() && Fold(s[i + k]) == Fold(sub[k])) ++k;
        if (k == sub.size()) return i;
    }
    return std::string::npos;
}

TEST(FoldedSearchTest, FindsWhatAFoldedCompareAtEveryPlaceFinds) {
    std::mt19937 rng(9);
    // Few letters, so that needles recur with partial matches; both cases
    // of an accented letter, a sign without a case, and a lone 0xFF.
    const std::string letters = "aAbB\xC9\xE9\xD7\xF7\xFF";
    // Mostly one letter in both cases, some of another: long partial
    // matches, with borders inside the needles.
    const std::string runs = "aAaAaAaAbB";
    auto random = [&](size_t n, size_t kinds) {
        std::string s;
        for (size_t i = 0; i < n; ++i) s += kinds ? letters[rng() % kinds] : runs[rng() % runs.size()];
        return s;
    };
    for (int round = 0; round < 3000; ++round) {
        // Every tenth text is long, with long needles: false starts cost
        // enough that the search goes on in its linear form.
        const bool longer = round % 10 == 0;
        const std::string s = longer ? random(3000, 0) + random(40, 9) + random(3000, 0) : random(rng() % 40, 9);
        const size_t length = longer ? 20 + rng() % 80 : 1 + rng() % 6;
        const std::string sub = round % 3 == 0 && s.size() > length ? s.substr(rng() % (s.size() - length), length)
                                                                    : random(length, longer ? 0 : 9);
        for (size_t start : {size_t{0}, size_t{1}, s.size() / 2}) {
            ASSERT_EQ(FindBytes(s, sub, start, false), NaiveFind(s, sub, start)) << s << " / " << sub << " @" << start;
        }
    }
}

class FoldedSearchCostTest : public libstest::StringLibFixture {};

// A needle that matches up to its last byte everywhere costs text x needle
// compared place by place; the search must not.
TEST_F(FoldedSearchCostTest, ALongNeedleCostsLinearTime) {
    const std::string needle = std::string(100000 - 1, 'A') + "b";
    const std::string text = std::string(1000000, 'a') + "B";
    auto work = [&] {
        return Call(cmdFindStr, {text, needle, 0.0}) == "900001" &&
               Call(cmdCountStr, {text, needle, 0.0}) == "1" &&
               Call(cmdFindStr, {text, needle, 0.0, 500000.0}) == "900001";
    };
    EXPECT_EQ(libstest::RunInChild(work, 120s), libstest::ChildEnd::Passed);
}

}  // namespace
