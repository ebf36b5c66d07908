#include "media/iffdelta.h"

#include <algorithm>

namespace {

constexpr int32_t kMaxPlanes = 8;
constexpr size_t kDataListPointers = 8;  // operation 7: op lists, then data lists

// A reading position inside the DLTA chunk; every read checks the end.
struct Cursor {
    const uint8_t* data;
    size_t size;
    size_t pos;

    bool Item(size_t bytes, uint32_t* value) {
        if (pos > size || size - pos < bytes) return false;
        uint32_t v = 0;
        for (size_t i = 0; i < bytes; ++i) v = v << 8 | data[pos + i];
        pos += bytes;
        *value = v;
        return true;
    }
    bool Byte(uint32_t* value) { return Item(1, value); }
};

bool Pointer(const uint8_t* delta, size_t size, size_t index, uint32_t* value) {
    Cursor c{delta, size, index * 4};
    return c.Item(4, value);
}

// One column of a plane: items of `bytes` big-endian bytes, of which the
// first `keep` are inside the row (a last column may overhang the row).
struct Column {
    uint8_t* plane;
    size_t rowBytes;
    uint64_t height;
    size_t offset;  // of the column's first byte within a row
    size_t keep;

    bool Write(uint64_t row, uint32_t item, size_t bytes, bool exclusive) const {
        if (row >= height) return false;
        uint8_t* dst = plane + static_cast<size_t>(row) * rowBytes + offset;
        for (size_t i = 0; i < keep; ++i) {
            const auto b = static_cast<uint8_t>(item >> (8 * (bytes - 1 - i)));
            dst[i] = exclusive ? static_cast<uint8_t>(dst[i] ^ b) : b;
        }
        return true;
    }
};

bool ByteVertical(const uint8_t* delta, size_t size, uint8_t interleave, const IFFDeltaTarget& t, uint8_t* plane,
                  uint32_t start) {
    Cursor c{delta, size, start};
    const bool exclusive = interleave == 1;
    for (size_t x = 0; x < t.rowBytes; ++x) {
        const Column col{plane, t.rowBytes, static_cast<uint64_t>(t.height), x, 1};
        uint32_t ops;
        if (!c.Byte(&ops)) return false;
        uint64_t row = 0;
        for (uint32_t i = 0; i < ops; ++i) {
            uint32_t op, count, value;
            if (!c.Byte(&op)) return false;
            if (op == 0) {
                if (!c.Byte(&count) || !c.Byte(&value)) return false;
                for (uint32_t k = 0; k < count; ++k)
                    if (!col.Write(row++, value, 1, exclusive)) return false;
            } else if (op & 0x80) {
                for (uint32_t k = 0; k < (op & 0x7F); ++k)
                    if (!c.Byte(&value) || !col.Write(row++, value, 1, exclusive)) return false;
            } else {
                row += op;
            }
        }
    }
    return true;
}

bool SplitLists(const uint8_t* delta, size_t size, uint32_t bits, const IFFDeltaTarget& t, uint8_t* plane,
                uint32_t opStart, uint32_t dataStart) {
    const size_t bytes = (bits & kIFFDeltaLongItems) ? 4 : 2;
    const size_t columns = (static_cast<size_t>(t.width) + 8 * bytes - 1) / (8 * bytes);
    Cursor ops{delta, size, opStart}, data{delta, size, dataStart};
    for (size_t x = 0; x < columns; ++x) {
        const size_t offset = x * bytes;
        if (offset >= t.rowBytes) return false;
        const Column col{plane, t.rowBytes, static_cast<uint64_t>(t.height), offset,
                         std::min(bytes, t.rowBytes - offset)};
        uint32_t count;
        if (!ops.Byte(&count)) return false;
        uint64_t row = 0;
        for (uint32_t i = 0; i < count; ++i) {
            uint32_t op, n, item;
            if (!ops.Byte(&op)) return false;
            if (op == 0) {
                if (!ops.Byte(&n) || !data.Item(bytes, &item)) return false;
                for (uint32_t k = 0; k < n; ++k)
                    if (!col.Write(row++, item, bytes, false)) return false;
            } else if (op & 0x80) {
                for (uint32_t k = 0; k < (op & 0x7F); ++k)
                    if (!data.Item(bytes, &item) || !col.Write(row++, item, bytes, false)) return false;
            } else {
                row += op;
            }
        }
    }
    return true;
}

// One column of operation 8 in items of `bytes`.
bool InterleavedColumn(Cursor* c, size_t bytes, const Column& col) {
    const uint32_t top = bytes == 4 ? 0x80000000u : 0x8000u;
    uint32_t count;
    if (!c->Item(bytes, &count)) return false;
    uint64_t row = 0;
    for (uint32_t i = 0; i < count; ++i) {
        uint32_t op, n, item;
        if (!c->Item(bytes, &op)) return false;
        if (op == 0) {
            if (!c->Item(bytes, &n) || !c->Item(bytes, &item)) return false;
            if (row + n > col.height) return false;
            for (uint32_t k = 0; k < n; ++k) col.Write(row++, item, bytes, false);
        } else if (op & top) {
            const uint32_t copies = op & ~top;
            if (row + copies > col.height) return false;
            for (uint32_t k = 0; k < copies; ++k)
                if (!c->Item(bytes, &item) || !col.Write(row++, item, bytes, false)) return false;
        } else {
            row += op;
        }
    }
    return true;
}

bool Interleaved(const uint8_t* delta, size_t size, uint32_t bits, const IFFDeltaTarget& t, uint8_t* plane,
                 uint32_t start) {
    const size_t bytes = (bits & kIFFDeltaLongItems) ? 4 : 2;
    Cursor c{delta, size, start};
    const uint64_t height = static_cast<uint64_t>(t.height);
    const size_t columns = t.rowBytes / bytes;
    for (size_t x = 0; x < columns; ++x)
        if (!InterleavedColumn(&c, bytes, Column{plane, t.rowBytes, height, x * bytes, bytes})) return false;
    // Rows of 32-bit items end in a 16-bit column when they are an odd
    // number of words long.
    if (bytes == 4 && t.rowBytes % 4 == 2)
        return InterleavedColumn(&c, 2, Column{plane, t.rowBytes, height, columns * 4, 2});
    return true;
}

bool EntryList(const uint8_t* delta, size_t size, int32_t operation, const IFFDeltaTarget& t, uint8_t* plane,
               uint32_t start) {
    const size_t bytes = operation == kIFFDeltaLong ? 4 : 2;
    const uint64_t planeBytes = static_cast<uint64_t>(t.rowBytes) * static_cast<uint64_t>(t.height);
    const uint64_t step = t.fields ? 2 * uint64_t{t.rowBytes} : t.rowBytes;
    Cursor c{delta, size, start};
    uint32_t entries;
    if (!c.Item(bytes, &entries)) return false;
    for (uint32_t e = 0; e < entries; ++e) {
        uint32_t raw, offset, item = 0;
        if (!c.Item(bytes, &raw) || !c.Item(4, &offset)) return false;
        offset &= 0xFFFFFFu;
        const int64_t n = bytes == 4 ? static_cast<int64_t>(static_cast<int32_t>(raw))
                                     : static_cast<int64_t>(static_cast<int16_t>(raw));
        const uint64_t count = static_cast<uint64_t>(n < 0 ? -n : n);
        if (count == 0) continue;
        if (offset + (count - 1) * step + bytes > planeBytes) return false;
        if (n > 0 && !c.Item(bytes, &item)) return false;
        for (uint64_t k = 0; k < count; ++k) {
            if (n < 0 && !c.Item(bytes, &item)) return false;
            uint8_t* dst = plane + offset + k * step;
            for (size_t i = 0; i < bytes; ++i) dst[i] = static_cast<uint8_t>(item >> (8 * (bytes - 1 - i)));
        }
    }
    return true;
}

}  // namespace

bool IsSupportedIFFDelta(int32_t operation) {
    return operation == kIFFDeltaByteVertical || operation == kIFFDeltaSplitLists ||
           operation == kIFFDeltaInterleaved || operation == kIFFDeltaLong || operation == kIFFDeltaShort;
}

bool ApplyIFFDelta(int32_t operation, uint32_t bits, uint8_t interleave, const uint8_t* delta, size_t deltaSize,
                   const IFFDeltaTarget& t) {
    if (!IsSupportedIFFDelta(operation) || !t.planes || t.rowBytes == 0 || t.height <= 0) return false;
    const size_t planeBytes = t.rowBytes * static_cast<size_t>(t.height);
    const int32_t planes = std::min(t.planeCount, kMaxPlanes);
    for (int32_t p = 0; p < planes; ++p) {
        uint32_t start;
        if (!Pointer(delta, deltaSize, static_cast<size_t>(p), &start)) return false;
        if (start == 0) continue;
        if (start >= deltaSize) return false;
        uint8_t* plane = t.planes + static_cast<size_t>(p) * planeBytes;
        bool ok = false;
        switch (operation) {
        case kIFFDeltaByteVertical: ok = ByteVertical(delta, deltaSize, interleave, t, plane, start); break;
        case kIFFDeltaSplitLists: {
            uint32_t dataStart;
            ok = Pointer(delta, deltaSize, kDataListPointers + static_cast<size_t>(p), &dataStart) &&
                 SplitLists(delta, deltaSize, bits, t, plane, start, dataStart);
            break;
        }
        case kIFFDeltaInterleaved: ok = Interleaved(delta, deltaSize, bits, t, plane, start); break;
        default: ok = EntryList(delta, deltaSize, operation, t, plane, start); break;
        }
        if (!ok) return false;
    }
    return true;
}
