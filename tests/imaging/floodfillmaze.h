// A maze for the flood fill: nested square walls one pixel thick with
// one-pixel corridors between them, each wall open on alternate sides, so
// the one open area winds through half of every ring.
#pragma once

#include <cstdint>
#include <vector>

inline std::vector<uint32_t> RingMaze(int32_t n, uint32_t wall, uint32_t open) {
    std::vector<uint32_t> px(static_cast<size_t>(n) * n, open);
    auto at = [&](int32_t x, int32_t y) -> uint32_t& { return px[static_cast<size_t>(y) * n + x]; };
    int ring = 0;
    for (int32_t d = 1; d < n - 1 - d; d += 2, ++ring) {
        for (int32_t i = d; i <= n - 1 - d; ++i) at(i, d) = at(i, n - 1 - d) = at(d, i) = at(n - 1 - d, i) = wall;
        if (ring % 2 == 0)
            at(d, n / 2) = open;
        else
            at(n - 1 - d, n / 2) = open;
    }
    return px;
}
