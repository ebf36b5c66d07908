// Builds four-channel "M.K." module files for the tests: patterns of cells,
// an order table and up to 31 instruments with their bytes.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <vector>

namespace modbuild {

struct Cell {
    int period = 0;
    int instrument = 0;
    int effect = 0;
    int param = 0;
};

struct Instrument {
    std::vector<int8_t> data;  // an odd count is padded by a zero byte
    int finetune = 0;
    int volume = 64;
    int loopStartWords = 0;
    int loopLengthWords = 1;
    int lengthWords = -1;  // -1: from data
};

struct Module {
    int songLength = 1;
    std::array<uint8_t, 128> order{};
    std::vector<std::array<Cell, 256>> patterns = std::vector<std::array<Cell, 256>>(1);
    std::array<Instrument, 31> instruments{};

    Cell& At(int pattern, int row, int channel) {
        if (static_cast<size_t>(pattern) >= patterns.size()) patterns.resize(static_cast<size_t>(pattern) + 1);
        return patterns[static_cast<size_t>(pattern)][static_cast<size_t>(row * 4 + channel)];
    }
};

// A square wave of period bytes, len bytes long.
inline std::vector<int8_t> Square(size_t len, size_t period = 32) {
    std::vector<int8_t> v(len);
    for (size_t i = 0; i < len; ++i) v[i] = (i % period) < period / 2 ? 100 : -100;
    return v;
}

inline std::vector<uint8_t> Build(const Module& m) {
    std::vector<uint8_t> f(1084, 0);
    const char name[] = "test module";
    std::copy(name, name + sizeof name - 1, f.begin());
    auto word = [&](size_t at, int v) {
        f[at] = static_cast<uint8_t>(v >> 8);
        f[at + 1] = static_cast<uint8_t>(v);
    };
    for (size_t i = 0; i < 31; ++i) {
        const Instrument& in = m.instruments[i];
        const size_t h = 20 + 30 * i;
        const int words = in.lengthWords >= 0 ? in.lengthWords : static_cast<int>((in.data.size() + 1) / 2);
        word(h + 22, words);
        f[h + 24] = static_cast<uint8_t>(in.finetune & 15);
        f[h + 25] = static_cast<uint8_t>(in.volume);
        word(h + 26, in.loopStartWords);
        word(h + 28, in.loopLengthWords);
    }
    f[950] = static_cast<uint8_t>(m.songLength);
    f[951] = 127;
    std::copy(m.order.begin(), m.order.end(), f.begin() + 952);
    f[1080] = 'M';
    f[1081] = '.';
    f[1082] = 'K';
    f[1083] = '.';
    int patterns = 0;
    for (uint8_t o : m.order) patterns = std::max(patterns, o + 1);
    for (int p = 0; p < patterns; ++p) {
        for (size_t c = 0; c < 256; ++c) {
            Cell cell = static_cast<size_t>(p) < m.patterns.size() ? m.patterns[static_cast<size_t>(p)][c] : Cell{};
            f.push_back(static_cast<uint8_t>((cell.instrument & 0xF0) | ((cell.period >> 8) & 15)));
            f.push_back(static_cast<uint8_t>(cell.period));
            f.push_back(static_cast<uint8_t>((cell.instrument & 15) << 4 | (cell.effect & 15)));
            f.push_back(static_cast<uint8_t>(cell.param));
        }
    }
    for (const Instrument& in : m.instruments) {
        for (int8_t b : in.data) f.push_back(static_cast<uint8_t>(b));
        if (in.data.size() % 2) f.push_back(0);
    }
    return f;
}

}  // namespace modbuild
