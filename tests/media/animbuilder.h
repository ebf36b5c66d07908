// IFF ANIM files made for the reader tests: an ILBM key frame and delta
// FORMs from our own encoders of operations 5, 7, 8, 100 and 101, written
// from index pictures (one byte per pixel) with our own plane split.
#pragma once

#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace animbuilder {

using Bytes = std::vector<uint8_t>;
using Picture = std::vector<uint8_t>;  // width x height palette indices

inline void PutBE(Bytes* b, uint32_t v, int n) {
    for (int i = n - 1; i >= 0; --i) b->push_back(static_cast<uint8_t>(v >> (8 * i)));
}
inline void SetBE(Bytes* b, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) (*b)[at + static_cast<size_t>(i)] = static_cast<uint8_t>(v >> (24 - 8 * i));
}

inline Bytes Chunk(const std::string& id, const Bytes& data) {
    Bytes b(id.begin(), id.end());
    PutBE(&b, static_cast<uint32_t>(data.size()), 4);
    b.insert(b.end(), data.begin(), data.end());
    if (data.size() & 1) b.push_back(0);
    return b;
}

inline Bytes Form(const std::string& type, const std::vector<Bytes>& chunks) {
    Bytes inner(type.begin(), type.end());
    for (const Bytes& c : chunks) inner.insert(inner.end(), c.begin(), c.end());
    return Chunk("FORM", inner);
}

struct Layout {
    int32_t width = 32, height = 8, planes = 3;
    std::vector<uint32_t> palette;  // 0x00RRGGBB
    uint32_t camg = 0;              // 0: no CAMG chunk
    uint32_t masking = 0, transparent = 0;
    int dpan = -1;                  // -1: no DPAN chunk
    uint32_t keyDelay = 0;          // jiffies; also adds an ANHD to the key frame
};

inline size_t RowBytes(int32_t width) { return ((static_cast<size_t>(width) + 15) >> 4) * 2; }

// Plane after plane, each height rows of RowBytes.
inline Bytes ToPlanes(const Picture& pic, int32_t width, int32_t height, int32_t planes) {
    const size_t rb = RowBytes(width);
    Bytes out(rb * static_cast<size_t>(height) * static_cast<size_t>(planes), 0);
    for (int32_t p = 0; p < planes; ++p)
        for (int32_t y = 0; y < height; ++y)
            for (int32_t x = 0; x < width; ++x)
                if (pic[static_cast<size_t>(y * width + x)] >> p & 1)
                    out[(static_cast<size_t>(p) * height + y) * rb + (x >> 3)] |= static_cast<uint8_t>(0x80 >> (x & 7));
    return out;
}

struct DeltaOptions {
    int32_t operation = 5;
    uint32_t bits = 0;
    uint8_t interleave = 0;
    uint32_t delay = 1;
    std::optional<std::vector<uint32_t>> cmap;
};

class AnimFile {
public:
    AnimFile(const Layout& layout, const Picture& key) : s_(layout) { frames_.push_back(ToPlanes(key, s_.width, s_.height, s_.planes)); }

    // Encodes the frame against the buffer the reader updates: two frames
    // back with interleave 0, the previous frame otherwise.
    void AddDelta(const Picture& pic, const DeltaOptions& o) {
        const Bytes target = ToPlanes(pic, s_.width, s_.height, s_.planes);
        const size_t n = frames_.size();
        const Bytes& base = o.interleave == 0 && n >= 2 ? frames_[n - 2] : frames_[n - 1];
        AddRawDelta(Encode(o, base, target), o);
        frames_.push_back(target);
    }
    // A delta FORM with the given DLTA bytes as they are.
    void AddRawDelta(const Bytes& dlta, const DeltaOptions& o) {
        std::vector<Bytes> chunks = {Anhd(o.operation, o.delay, o.interleave, o.bits)};
        if (o.cmap) chunks.push_back(Cmap(*o.cmap));
        chunks.push_back(Chunk("DLTA", dlta));
        deltas_.push_back(Form("ILBM", chunks));
    }
    void AddRawChunk(const Bytes& chunk) { deltas_.push_back(chunk); }

    Bytes Build() const {
        std::vector<Bytes> key;
        Bytes bmhd;
        PutBE(&bmhd, static_cast<uint32_t>(s_.width), 2);
        PutBE(&bmhd, static_cast<uint32_t>(s_.height), 2);
        PutBE(&bmhd, 0, 4);
        bmhd.push_back(static_cast<uint8_t>(s_.planes));
        bmhd.push_back(static_cast<uint8_t>(s_.masking));
        bmhd.push_back(0);
        bmhd.push_back(0);
        PutBE(&bmhd, s_.transparent, 2);
        bmhd.push_back(10);
        bmhd.push_back(11);
        PutBE(&bmhd, static_cast<uint32_t>(s_.width), 2);
        PutBE(&bmhd, static_cast<uint32_t>(s_.height), 2);
        key.push_back(Chunk("BMHD", bmhd));
        if (s_.keyDelay) key.push_back(Anhd(0, s_.keyDelay, 0, 0));
        if (s_.camg) {
            Bytes d;
            PutBE(&d, s_.camg, 4);
            key.push_back(Chunk("CAMG", d));
        }
        if (s_.dpan >= 0) {
            Bytes d;
            PutBE(&d, 4, 2);
            PutBE(&d, static_cast<uint32_t>(s_.dpan), 2);
            PutBE(&d, 0, 4);
            key.push_back(Chunk("DPAN", d));
        }
        key.push_back(Cmap(s_.palette));
        // Row after row, plane after plane.
        const size_t rb = RowBytes(s_.width);
        Bytes body;
        for (int32_t y = 0; y < s_.height; ++y)
            for (int32_t p = 0; p < s_.planes; ++p) {
                const auto at = frames_[0].begin() + static_cast<long>((static_cast<size_t>(p) * s_.height + y) * rb);
                body.insert(body.end(), at, at + static_cast<long>(rb));
            }
        key.push_back(Chunk("BODY", body));
        std::vector<Bytes> forms = {Form("ILBM", key)};
        forms.insert(forms.end(), deltas_.begin(), deltas_.end());
        Bytes inner{'A', 'N', 'I', 'M'};
        for (const Bytes& f : forms) inner.insert(inner.end(), f.begin(), f.end());
        Bytes out{'F', 'O', 'R', 'M'};
        PutBE(&out, static_cast<uint32_t>(inner.size()), 4);
        out.insert(out.end(), inner.begin(), inner.end());
        return out;
    }

    static Bytes Anhd(int32_t op, uint32_t delay, uint8_t interleave, uint32_t bits) {
        Bytes d;
        d.push_back(static_cast<uint8_t>(op));
        d.push_back(0);
        PutBE(&d, 0, 4);  // w, h
        PutBE(&d, 0, 4);  // x, y
        PutBE(&d, 0, 4);  // abstime
        PutBE(&d, delay, 4);
        d.push_back(interleave);
        d.push_back(0);
        PutBE(&d, bits, 4);
        d.resize(40, 0);
        return Chunk("ANHD", d);
    }
    static Bytes Cmap(const std::vector<uint32_t>& colours) {
        Bytes d;
        for (uint32_t c : colours) PutBE(&d, c, 3);
        return Chunk("CMAP", d);
    }

private:
    size_t PlaneBytes() const { return RowBytes(s_.width) * static_cast<size_t>(s_.height); }

    // The item of `bytes` at a column of one plane row (bytes past the row
    // read as 0).
    uint32_t Item(const Bytes& planes, int32_t p, int32_t y, size_t offset, size_t bytes) const {
        const size_t rb = RowBytes(s_.width);
        uint32_t v = 0;
        for (size_t i = 0; i < bytes; ++i) {
            const size_t at = offset + i;
            v = v << 8 | (at < rb ? planes[static_cast<size_t>(p) * PlaneBytes() + static_cast<size_t>(y) * rb + at] : 0);
        }
        return v;
    }

    // Runs of a column: {start row, items} of rows that differ, with the
    // unchanged rows between as skips.
    struct Run {
        int32_t skip;
        std::vector<uint32_t> items;
    };
    std::vector<Run> ColumnRuns(const Bytes& base, const Bytes& target, int32_t p, size_t offset, size_t bytes,
                                int32_t maxCopy, int32_t maxSkip, bool xorValues) const {
        std::vector<Run> runs;
        int32_t skip = 0;
        for (int32_t y = 0; y < s_.height;) {
            const uint32_t was = Item(base, p, y, offset, bytes), now = Item(target, p, y, offset, bytes);
            if (was == now) {
                ++y;
                if (++skip == maxSkip) {
                    runs.push_back({skip, {}});
                    skip = 0;
                }
                continue;
            }
            Run r{skip, {}};
            skip = 0;
            while (y < s_.height && static_cast<int32_t>(r.items.size()) < maxCopy) {
                const uint32_t w = Item(base, p, y, offset, bytes), t = Item(target, p, y, offset, bytes);
                if (w == t) break;
                r.items.push_back(xorValues ? w ^ t : t);
                ++y;
            }
            runs.push_back(r);
        }
        return runs;
    }

    Bytes Encode(const DeltaOptions& o, const Bytes& base, const Bytes& target) const {
        Bytes d(64, 0);
        const size_t rb = RowBytes(s_.width);
        for (int32_t p = 0; p < s_.planes; ++p) {
            SetBE(&d, static_cast<size_t>(p) * 4, static_cast<uint32_t>(d.size()));
            switch (o.operation) {
            case 5: EncodeByteVertical(&d, base, target, p, rb, o.interleave == 1); break;
            case 7: EncodeSplit(&d, base, target, p, (o.bits & 1) ? 4 : 2); break;
            case 8: EncodeInterleaved(&d, base, target, p, rb, (o.bits & 1) ? 4 : 2); break;
            default: EncodeEntries(&d, base, target, p, rb, o.operation == 100 ? 4 : 2, (o.bits & 64) != 0); break;
            }
        }
        return d;
    }

    // Operation 5: runs of three or more equal bytes as run ops.
    void EncodeByteVertical(Bytes* d, const Bytes& base, const Bytes& target, int32_t p, size_t rb, bool xorValues) const {
        for (size_t x = 0; x < rb; ++x) {
            Bytes ops;
            int count = 0;
            for (const Run& r : ColumnRuns(base, target, p, x, 1, 127, 127, xorValues)) {
                if (r.skip) ops.push_back(static_cast<uint8_t>(r.skip)), ++count;
                if (r.items.empty()) continue;
                const bool same = r.items.size() >= 3 &&
                                  std::all_of(r.items.begin(), r.items.end(), [&](uint32_t v) { return v == r.items[0]; });
                if (same) {
                    ops.insert(ops.end(), {0, static_cast<uint8_t>(r.items.size()), static_cast<uint8_t>(r.items[0])});
                } else {
                    ops.push_back(static_cast<uint8_t>(0x80 | r.items.size()));
                    for (uint32_t v : r.items) ops.push_back(static_cast<uint8_t>(v));
                }
                ++count;
            }
            d->push_back(static_cast<uint8_t>(count));
            d->insert(d->end(), ops.begin(), ops.end());
        }
    }

    void EncodeSplit(Bytes* d, const Bytes& base, const Bytes& target, int32_t p, size_t bytes) const {
        const size_t columns = (static_cast<size_t>(s_.width) + 8 * bytes - 1) / (8 * bytes);
        Bytes ops, data;
        for (size_t c = 0; c < columns; ++c) {
            Bytes colOps;
            int count = 0;
            for (const Run& r : ColumnRuns(base, target, p, c * bytes, bytes, 127, 127, false)) {
                if (r.skip) colOps.push_back(static_cast<uint8_t>(r.skip)), ++count;
                if (r.items.empty()) continue;
                if (r.items.size() >= 2 &&
                    std::all_of(r.items.begin(), r.items.end(), [&](uint32_t v) { return v == r.items[0]; })) {
                    colOps.insert(colOps.end(), {0, static_cast<uint8_t>(r.items.size())});
                    PutBE(&data, r.items[0], static_cast<int>(bytes));
                } else {
                    colOps.push_back(static_cast<uint8_t>(0x80 | r.items.size()));
                    for (uint32_t v : r.items) PutBE(&data, v, static_cast<int>(bytes));
                }
                ++count;
            }
            ops.push_back(static_cast<uint8_t>(count));
            ops.insert(ops.end(), colOps.begin(), colOps.end());
        }
        d->insert(d->end(), ops.begin(), ops.end());
        SetBE(d, 32 + static_cast<size_t>(p) * 4, static_cast<uint32_t>(d->size()));
        d->insert(d->end(), data.begin(), data.end());
    }

    void EncodeInterleavedColumn(Bytes* d, const Bytes& base, const Bytes& target, int32_t p, size_t offset,
                                 size_t bytes) const {
        const uint32_t top = bytes == 4 ? 0x80000000u : 0x8000u;
        Bytes ops;
        uint32_t count = 0;
        const int n = static_cast<int>(bytes);
        for (const Run& r : ColumnRuns(base, target, p, offset, bytes, 0x7FFF, 0x7FFF, false)) {
            if (r.skip) PutBE(&ops, static_cast<uint32_t>(r.skip), n), ++count;
            if (r.items.empty()) continue;
            if (r.items.size() >= 2 &&
                std::all_of(r.items.begin(), r.items.end(), [&](uint32_t v) { return v == r.items[0]; })) {
                PutBE(&ops, 0, n);
                PutBE(&ops, static_cast<uint32_t>(r.items.size()), n);
                PutBE(&ops, r.items[0], n);
            } else {
                PutBE(&ops, top | static_cast<uint32_t>(r.items.size()), n);
                for (uint32_t v : r.items) PutBE(&ops, v, n);
            }
            ++count;
        }
        PutBE(d, count, n);
        d->insert(d->end(), ops.begin(), ops.end());
    }

    void EncodeInterleaved(Bytes* d, const Bytes& base, const Bytes& target, int32_t p, size_t rb, size_t bytes) const {
        const size_t columns = rb / bytes;
        for (size_t c = 0; c < columns; ++c) EncodeInterleavedColumn(d, base, target, p, c * bytes, bytes);
        if (bytes == 4 && rb % 4 == 2) EncodeInterleavedColumn(d, base, target, p, columns * 4, 2);
    }

    // Operations 100 and 101: one entry per changed run down a column (each
    // field on its own in field mode).
    void EncodeEntries(Bytes* d, const Bytes& base, const Bytes& target, int32_t p, size_t rb, size_t bytes,
                       bool fields) const {
        const int n = static_cast<int>(bytes);
        Bytes entries;
        uint32_t count = 0;
        const int32_t step = fields ? 2 : 1;
        for (size_t c = 0; c + bytes <= rb; c += bytes)
            for (int32_t first = 0; first < step; ++first)
                for (int32_t y = first; y < s_.height;) {
                    if (Item(base, p, y, c, bytes) == Item(target, p, y, c, bytes)) {
                        y += step;
                        continue;
                    }
                    std::vector<uint32_t> items;
                    const int32_t start = y;
                    while (y < s_.height && Item(base, p, y, c, bytes) != Item(target, p, y, c, bytes)) {
                        items.push_back(Item(target, p, y, c, bytes));
                        y += step;
                    }
                    PutBE(&entries, static_cast<uint32_t>(-static_cast<int32_t>(items.size())), n);
                    PutBE(&entries, static_cast<uint32_t>(static_cast<size_t>(start) * rb + c), 4);
                    for (uint32_t v : items) PutBE(&entries, v, n);
                    ++count;
                }
        PutBE(d, count, n);
        d->insert(d->end(), entries.begin(), entries.end());
    }

    Layout s_;
    std::vector<Bytes> frames_;
    std::vector<Bytes> deltas_;
};

}  // namespace animbuilder
