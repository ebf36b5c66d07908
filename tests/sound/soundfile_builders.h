// Sound files built byte by byte: WAVE, 8SVX and 16SV with chosen headers,
// for the readers' tests and the fuzz target's seeds.
#pragma once

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

namespace soundfiles {

using Bytes = std::vector<uint8_t>;

inline void Tag(Bytes& b, const char* t) {
    for (int i = 0; i < 4; ++i) b.push_back(static_cast<uint8_t>(t[i]));
}
inline void LE16(Bytes& b, uint32_t v) {
    b.push_back(static_cast<uint8_t>(v));
    b.push_back(static_cast<uint8_t>(v >> 8));
}
inline void LE32(Bytes& b, uint32_t v) {
    LE16(b, v & 0xFFFF);
    LE16(b, v >> 16);
}
inline void BE16(Bytes& b, uint32_t v) {
    b.push_back(static_cast<uint8_t>(v >> 8));
    b.push_back(static_cast<uint8_t>(v));
}
inline void BE32(Bytes& b, uint32_t v) {
    BE16(b, v >> 16);
    BE16(b, v & 0xFFFF);
}

struct Wave {
    uint32_t fmtSize = 16;
    uint32_t formatTag = 1;
    uint32_t channels = 1;
    uint32_t rate = 22050;
    uint32_t bits = 16;
    bool listChunkFirst = false;
    int64_t dataSize = -1;  // -1: the PCM's size
};

inline Bytes MakeWave(const Wave& w, const Bytes& pcm) {
    Bytes b;
    b.reserve(128 + pcm.size());
    Tag(b, "RIFF");
    LE32(b, 0);
    Tag(b, "WAVE");
    if (w.listChunkFirst) {
        Tag(b, "LIST");
        LE32(b, 4);
        Tag(b, "INFO");
    }
    Tag(b, "fmt ");
    LE32(b, w.fmtSize);
    LE16(b, w.formatTag);
    LE16(b, w.channels);
    LE32(b, w.rate);
    const uint32_t frameBytes = w.bits / 8 * w.channels;
    LE32(b, w.rate * frameBytes);
    LE16(b, frameBytes);
    LE16(b, w.bits);
    for (uint32_t i = 16; i < w.fmtSize; ++i) b.push_back(0);
    Tag(b, "data");
    LE32(b, w.dataSize < 0 ? static_cast<uint32_t>(pcm.size()) : static_cast<uint32_t>(w.dataSize));
    b.insert(b.end(), pcm.begin(), pcm.end());
    const uint32_t riff = static_cast<uint32_t>(b.size() - 8);
    for (int i = 0; i < 4; ++i) b[4 + static_cast<size_t>(i)] = static_cast<uint8_t>(riff >> (8 * i));
    return b;
}

struct Iff {
    bool sixteen = false;
    bool stereo = false;
    uint32_t rate = 8000;
    uint8_t compression = 0;
    uint32_t vhdrSize = 20;
    int64_t bodySize = -1;
    bool annoChunk = false;
};

// body holds the data as the file stores it (stereo: left block, right block).
inline Bytes MakeIff(const Iff& f, const Bytes& body) {
    Bytes b;
    b.reserve(128 + body.size());
    Tag(b, "FORM");
    BE32(b, 0);
    Tag(b, f.sixteen ? "16SV" : "8SVX");
    Tag(b, "VHDR");
    BE32(b, f.vhdrSize);
    BE32(b, static_cast<uint32_t>(body.size()));  // one-shot length
    BE32(b, 0);
    BE32(b, 0);
    BE16(b, f.rate);
    b.push_back(1);  // octaves
    b.push_back(f.compression);
    BE32(b, 0x10000);  // volume
    if (f.annoChunk) {
        Tag(b, "ANNO");
        BE32(b, 4);
        Tag(b, "test");
    }
    if (f.stereo) {
        Tag(b, "CHAN");
        BE32(b, 4);
        BE32(b, 6);
    }
    Tag(b, "BODY");
    BE32(b, f.bodySize < 0 ? static_cast<uint32_t>(body.size()) : static_cast<uint32_t>(f.bodySize));
    b.insert(b.end(), body.begin(), body.end());
    const uint32_t form = static_cast<uint32_t>(b.size() - 8);
    for (int i = 0; i < 4; ++i) b[4 + static_cast<size_t>(i)] = static_cast<uint8_t>(form >> (24 - 8 * i));
    return b;
}

inline Bytes Ramp(size_t n, uint32_t seed = 1) {
    Bytes b(n);
    for (size_t i = 0; i < n; ++i) b[i] = static_cast<uint8_t>(i * 7 + seed * 13 + (i >> 3));
    return b;
}

// A WAVE file of `frames` of a 1 kHz tone at half volume, 16-bit mono.
inline std::string ToneWaveFile(int frames, int rate) {
    Bytes pcm;
    for (int i = 0; i < frames; ++i)
        LE16(pcm, static_cast<uint16_t>(static_cast<int16_t>(std::lround(16000 * std::sin(2 * M_PI * 1000 * i / rate)))));
    Wave w;
    w.rate = static_cast<uint32_t>(rate);
    const Bytes file = MakeWave(w, pcm);
    return std::string(file.begin(), file.end());
}

}  // namespace soundfiles
