// AVI files made for the reader tests: a header list with one video stream
// (and optionally a PCM audio stream), a movi list of frame chunks, and an
// idx1 index with movi-relative or absolute offsets.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace avibuilder {

using Bytes = std::vector<uint8_t>;

inline void PutLE(Bytes* b, uint32_t v, int n) {
    for (int i = 0; i < n; ++i) b->push_back(static_cast<uint8_t>(v >> (8 * i)));
}
inline void Put(Bytes* b, const std::string& s) { b->insert(b->end(), s.begin(), s.end()); }

inline Bytes Chunk(const std::string& id, const Bytes& data) {
    Bytes b;
    Put(&b, id);
    PutLE(&b, static_cast<uint32_t>(data.size()), 4);
    b.insert(b.end(), data.begin(), data.end());
    if (data.size() & 1) b.push_back(0);
    return b;
}
inline Bytes List(const std::string& type, const std::vector<Bytes>& chunks) {
    Bytes d;
    Put(&d, type);
    for (const Bytes& c : chunks) d.insert(d.end(), c.begin(), c.end());
    return Chunk("LIST", d);
}

enum class Index { kNone, kRelative, kAbsolute };

struct Layout {
    int32_t width = 4, height = 3;
    int32_t strfWidth = -1;  // -1: the same as avih
    std::string handler = "DIB ";
    uint32_t bitCount = 24;
    uint32_t avihFrames = 0;  // 0: the number of frames
    bool audio = false;
    Index index = Index::kRelative;
    std::string chunkId = "00dc";
    bool recLists = false;
    std::vector<Bytes> extraIndexEntries;  // 16 bytes each, appended to idx1
};

// A frame of 0x00RRGGBB pixels as a bottom-up BGR DIB, rows padded to 4
// bytes when asked.
inline Bytes Dib(const std::vector<uint32_t>& pixels, int32_t width, int32_t height, bool padded) {
    Bytes b;
    for (int32_t y = height - 1; y >= 0; --y) {
        size_t row = 0;
        for (int32_t x = 0; x < width; ++x, row += 3) {
            const uint32_t p = pixels[static_cast<size_t>(y * width + x)];
            b.insert(b.end(), {static_cast<uint8_t>(p), static_cast<uint8_t>(p >> 8), static_cast<uint8_t>(p >> 16)});
        }
        while (padded && row % 4) b.push_back(0), ++row;
    }
    return b;
}

inline Bytes IndexEntry(const std::string& id, uint32_t offset, uint32_t size) {
    Bytes e;
    Put(&e, id);
    PutLE(&e, 0x10, 4);
    PutLE(&e, offset, 4);
    PutLE(&e, size, 4);
    return e;
}

inline Bytes Build(const Layout& s, const std::vector<Bytes>& frames) {
    Bytes avih;
    PutLE(&avih, 40000, 4);
    PutLE(&avih, 0, 4);
    PutLE(&avih, 0, 4);
    PutLE(&avih, 0x10, 4);
    PutLE(&avih, s.avihFrames ? s.avihFrames : static_cast<uint32_t>(frames.size()), 4);
    PutLE(&avih, 0, 4);
    PutLE(&avih, s.audio ? 2 : 1, 4);
    PutLE(&avih, 0, 4);
    PutLE(&avih, static_cast<uint32_t>(s.width), 4);
    PutLE(&avih, static_cast<uint32_t>(s.height), 4);
    avih.resize(56, 0);
    Bytes strh;
    Put(&strh, "vids");
    Put(&strh, s.handler);
    strh.resize(56, 0);
    Bytes strf;
    PutLE(&strf, 40, 4);
    PutLE(&strf, static_cast<uint32_t>(s.strfWidth >= 0 ? s.strfWidth : s.width), 4);
    PutLE(&strf, static_cast<uint32_t>(s.height), 4);
    PutLE(&strf, 1, 2);
    PutLE(&strf, s.bitCount, 2);
    Put(&strf, s.handler == "DIB " ? std::string(4, '\0') : s.handler);
    strf.resize(40, 0);
    std::vector<Bytes> hdrl = {Chunk("avih", avih), List("strl", {Chunk("strh", strh), Chunk("strf", strf)})};
    if (s.audio) {
        Bytes ah;
        Put(&ah, "auds");
        ah.resize(56, 0);
        Bytes af;
        for (uint32_t v : {1u, 1u}) PutLE(&af, v, 2);
        PutLE(&af, 8000, 4);
        PutLE(&af, 8000, 4);
        PutLE(&af, 1, 2);
        PutLE(&af, 8, 2);
        hdrl.push_back(List("strl", {Chunk("strh", ah), Chunk("strf", af)}));
    }
    Bytes out;
    Put(&out, "RIFF");
    PutLE(&out, 0, 4);
    Put(&out, "AVI ");
    const Bytes header = List("hdrl", hdrl);
    out.insert(out.end(), header.begin(), header.end());
    // The movi list: its "movi" type stands 8 bytes after the list's start.
    const size_t moviType = out.size() + 8;
    Bytes movi;
    Put(&movi, "movi");
    Bytes idx;
    for (const Bytes& f : frames) {
        if (s.audio) {
            const Bytes audio = Chunk("01wb", Bytes(7, 0x80));
            movi.insert(movi.end(), audio.begin(), audio.end());
        }
        Bytes c = Chunk(s.chunkId, f);
        if (s.recLists) c = List("rec ", {c});
        const size_t at = moviType + movi.size() + (s.recLists ? 12 : 0);
        movi.insert(movi.end(), c.begin(), c.end());
        const uint32_t offset =
            s.index == Index::kAbsolute ? static_cast<uint32_t>(at) : static_cast<uint32_t>(at - moviType);
        const Bytes e = IndexEntry(s.chunkId, offset, static_cast<uint32_t>(f.size()));
        idx.insert(idx.end(), e.begin(), e.end());
    }
    const Bytes moviList = Chunk("LIST", movi);
    out.insert(out.end(), moviList.begin(), moviList.end());
    for (const Bytes& e : s.extraIndexEntries) idx.insert(idx.end(), e.begin(), e.end());
    if (s.index != Index::kNone) {
        const Bytes c = Chunk("idx1", idx);
        out.insert(out.end(), c.begin(), c.end());
    }
    const auto riff = static_cast<uint32_t>(out.size() - 8);
    for (int i = 0; i < 4; ++i) out[4 + static_cast<size_t>(i)] = static_cast<uint8_t>(riff >> (8 * i));
    return out;
}

}  // namespace avibuilder
