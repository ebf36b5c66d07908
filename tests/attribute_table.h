// Every (type, attribute) pair that GetAttribute's table names, by type,
// for the walks that hold the rows present against the rows still waiting
// for their objects.
#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <utility>
#include <vector>

namespace attribute_table {

inline const std::map<int32_t, std::vector<int32_t>> kPairs = {
    {1, {0, 1, 5, 6, 9, 16, 17, 39, 91}},
    {2, {9, 14, 15, 11, 83, 18, 91}},
    {3, {0, 1, 5, 9, 16, 17, 73, 85, 91}},
    {4, {0, 1, 5, 11, 16, 17, 37, 91}},
    {8, {0, 1, 30, 31, 32, 33, 34, 35, 36}},
    {21, {0,  1,  2,  3,  28, 29, 24, 25, 26, 27, 4,  6,  7,  8,  21, 22, 30, 31, 32, 33, 34, 35, 38, 40, 41, 42,
          43, 44, 45, 46, 47, 48, 49, 50, 61, 51, 52, 53, 54, 55, 56, 63, 64, 69, 70, 71, 77, 78, 79, 86, 87, 88, 89}},
    {22, {0, 1, 7, 8, 65, 66, 67, 68, 9, 10, 13, 74, 6, 62, 11, 12, 37, 14, 18, 19, 72, 83, 84, 30, 31, 32, 33, 34, 35,
          36, 82}},
    {32, {0, 1, 5, 11, 16, 17, 7, 8, 12, 23}},
    {33, {9, 14, 18, 15, 19, 20, 72, 80, 81, 83, 84, 91}},
    {35, {0, 1, 7, 8}},
    {36, {0, 1, 9}},
    {37, {9, 11, 12}},
    {39, {57}},
    {40, {58, 59}},
    {41, {58, 59, 14}},
    {42, {58, 59, 14}},
    {43, {30, 31, 32, 33, 34, 35}},
    {44, {42, 87}},
    {45, {87}},
    {50, {0, 1, 11, 18, 19, 14, 43, 44, 45, 72, 75, 83, 84, 91}},
};

// Every pair of the given types, with the extra pairs.
inline std::set<std::pair<int32_t, int32_t>> PairsOf(const std::set<int32_t>& types,
                                                     std::set<std::pair<int32_t, int32_t>> extra = {}) {
    for (const auto& [type, attributes] : kPairs)
        if (types.count(type))
            for (int32_t attribute : attributes) extra.insert({type, attribute});
    return extra;
}

}  // namespace attribute_table
