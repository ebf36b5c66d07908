// A 24-bit BMP file written by the tests, as a picture fixture.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include <unistd.h>

namespace test_bmp {

inline void Put16(std::vector<uint8_t>& v, uint32_t x) {
    v.push_back(static_cast<uint8_t>(x));
    v.push_back(static_cast<uint8_t>(x >> 8));
}
inline void Put32(std::vector<uint8_t>& v, uint32_t x) {
    Put16(v, x & 0xFFFF);
    Put16(v, x >> 16);
}

// A bottom-up 24-bit BMP whose pixel (x, y) is $RRGGBB = x << 16 | y << 8 | 7.
inline std::string WriteBmp(int32_t w, int32_t h) {
    const uint32_t row = (static_cast<uint32_t>(w) * 3 + 3) & ~3u;
    std::vector<uint8_t> v{'B', 'M'};
    Put32(v, 54 + row * h);
    Put32(v, 0);
    Put32(v, 54);
    Put32(v, 40);
    Put32(v, static_cast<uint32_t>(w));
    Put32(v, static_cast<uint32_t>(h));
    Put16(v, 1);
    Put16(v, 24);
    for (int i = 0; i < 6; ++i) Put32(v, 0);
    for (int32_t y = h - 1; y >= 0; --y) {
        for (int32_t x = 0; x < w; ++x) {
            v.push_back(7);
            v.push_back(static_cast<uint8_t>(y));
            v.push_back(static_cast<uint8_t>(x));
        }
        for (uint32_t pad = static_cast<uint32_t>(w) * 3; pad < row; ++pad) v.push_back(0);
    }
    // CTest runs test processes side by side: a shared name would let one
    // rewrite the file while another reads it.
    const std::string path = testing::TempDir() + "picture_" + std::to_string(getpid()) + "_" + std::to_string(w) +
                             "x" + std::to_string(h) + ".bmp";
    FILE* f = std::fopen(path.c_str(), "wb");
    EXPECT_NE(f, nullptr);
    std::fwrite(v.data(), 1, v.size(), f);
    std::fclose(f);
    return path;
}

}  // namespace test_bmp
