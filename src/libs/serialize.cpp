// The table and function streams: typed big-endian entries, nested tables
// depth-first, functions as length-prefixed precompiled chunks.
#include "libs/serialize.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "core/errcodes.h"
#include "core/file.h"
#include "libs/base64.h"
#include "libs/dos.h"
#include "vm/stringblock.h"
#include "vm/vm.h"

namespace {

enum : uint8_t { kEnd = 0, kNumber = 2, kString = 3, kTable = 4, kFunction = 5 };

// A string longer than this is read from a file in pieces, so that a huge
// length on a short file fails before it has allocated much.
constexpr size_t kReadPiece = size_t{1} << 20;

int AbsIndex(ScriptState* L, int idx) { return idx < 0 && idx > kRegistryIndex ? VmGetTop(L) + idx + 1 : idx; }

int WriteByte(const qbSerialSink& sink, uint8_t b) { return WriteSerializedBytes(sink, &b, 1, true); }

int WriteDouble(const qbSerialSink& sink, double value) {
    if (int err = WriteByte(sink, kNumber)) return err;
    return WriteSerializedBytes(sink, &value, 8, false);
}

int WriteStringPayload(const qbSerialSink& sink, const char* text, size_t length) {
    if (length > UINT32_MAX) return ERR_WRONGUSAGE;
    const uint32_t n = static_cast<uint32_t>(length);
    if (int err = WriteSerializedBytes(sink, &n, 4, false)) return err;
    return WriteSerializedBytes(sink, text, length, true);
}

int WriteString(ScriptState* L, int idx, const qbSerialSink& sink) {
    if (int err = WriteByte(sink, kString)) return err;
    return WriteStringPayload(sink, VmToCString(L, idx), VmStrLen(L, idx));
}

// The tables on the way down, to refuse one that contains itself.
struct WriteWalk {
    ScriptState* L;
    const qbSerialSink& sink;
    std::vector<const void*> path;
};

int WriteEntries(WriteWalk& walk, int idx) {
    ScriptState* L = walk.L;
    if (walk.path.size() >= kSerialMaxDepth) return ERR_WRONGUSAGE;
    const void* self = VmToPointer(L, idx);
    if (std::find(walk.path.begin(), walk.path.end(), self) != walk.path.end()) return ERR_WRONGUSAGE;
    if (!VmCheckStack(L, 4)) return ERR_MEM;
    walk.path.push_back(self);
    const int top = VmGetTop(L);
    VmPushNil(L);
    while (VmNext(L, idx)) {
        const int valueType = VmType(L, -1);
        // Booleans and coroutines have no encoding: the pair is skipped
        // whole, so the stream stays readable.
        if (valueType != kTypeNumber && valueType != kTypeString && valueType != kTypeTable &&
            valueType != kTypeFunction && valueType != kTypeLightUserdata && valueType != kTypeUserdata) {
            VmSetTop(L, top + 1);
            continue;
        }
        int err = 0;
        const int keyType = VmType(L, -2);
        if (keyType == kTypeNumber) err = WriteDouble(walk.sink, VmToNumber(L, -2));
        else if (keyType == kTypeString) err = WriteString(L, -2, walk.sink);
        else err = ERR_WRONGUSAGE;
        if (!err) {
            const int value = VmGetTop(L);
            switch (valueType) {
            case kTypeNumber: err = WriteDouble(walk.sink, VmToNumber(L, value)); break;
            case kTypeString: err = WriteString(L, value, walk.sink); break;
            case kTypeTable:
                err = WriteByte(walk.sink, kTable);
                if (!err) err = WriteEntries(walk, value);
                break;
            case kTypeFunction:
                err = WriteByte(walk.sink, kFunction);
                if (!err) err = WriteFunctionStream(L, value, walk.sink, false, false);
                break;
            default: err = WriteDouble(walk.sink, 0.0); break;  // object ids
            }
        }
        if (err) {
            VmSetTop(L, top);
            return err;
        }
        VmSetTop(L, top + 1);
    }
    walk.path.pop_back();
    return WriteByte(walk.sink, kEnd);
}

int ReadU32(qbSerialSource& source, uint32_t* out) { return ReadSerializedBytes(source, out, 4, false); }

// Pushes a string of length bytes; memory is pushed in place, a file is
// read in pieces.
int PushStringPayload(ScriptState* L, qbSerialSource& source, uint32_t length) {
    if (length > SerialBytesLeft(source)) return ERR_READ;
    // Refused before its bytes are read: a string no script can hold.
    if (length > kVmLongestString) return ERR_MEM;
    if (!source.file) {
        VmPushLString(L, reinterpret_cast<const char*>(source.data + source.position), length);
        source.position += length;
        return 0;
    }
    std::string text;
    while (text.size() < length) {
        const size_t piece = std::min<size_t>(kReadPiece, length - text.size());
        const size_t at = text.size();
        text.resize(at + piece);
        if (int err = ReadSerializedBytes(source, text.data() + at, piece, true)) return err;
    }
    VmPushLString(L, text.data(), text.size());
    return 0;
}

int PushDouble(ScriptState* L, qbSerialSource& source, double* value) {
    if (int err = ReadSerializedBytes(source, value, 8, false)) return err;
    VmPushNumber(L, *value);
    return 0;
}

int ReadEntries(ScriptState* L, qbSerialSource& source, int depth) {
    if (depth >= kSerialMaxDepth) return ERR_FILEFORMAT;
    if (!VmCheckStack(L, 4)) return ERR_MEM;
    for (;;) {
        uint8_t type = 0;
        if (int err = ReadSerializedBytes(source, &type, 1, true)) return err;
        if (type == kEnd) return 0;
        if (type == kNumber) {
            double key = 0;
            if (int err = PushDouble(L, source, &key)) return err;
            // A NaN key would make the store raise.
            if (std::isnan(key)) return ERR_FILEFORMAT;
        } else if (type == kString) {
            uint32_t length = 0;
            if (int err = ReadU32(source, &length)) return err;
            if (int err = PushStringPayload(L, source, length)) return err;
        } else {
            return ERR_FILEFORMAT;
        }
        if (int err = ReadSerializedBytes(source, &type, 1, true)) return err;
        int err = 0;
        switch (type) {
        case kNumber: {
            double value = 0;
            err = PushDouble(L, source, &value);
            break;
        }
        case kString: {
            uint32_t length = 0;
            err = ReadU32(source, &length);
            if (!err) err = PushStringPayload(L, source, length);
            break;
        }
        case kTable:
            VmPushNewTable(L);
            err = ReadEntries(L, source, depth + 1);
            break;
        case kFunction: err = ReadFunctionStream(L, source, false); break;
        default: err = ERR_FILEFORMAT; break;
        }
        if (err) return err;
        VmSetTableAt(L, -3);
    }
}

int DumpWriter(ScriptState*, const void* p, size_t size, void* data) {
    auto* out = static_cast<std::vector<uint8_t>*>(data);
    const auto* bytes = static_cast<const uint8_t*>(p);
    out->insert(out->end(), bytes, bytes + size);
    return 0;
}

// Base64 text with a line feed before every 73rd character unless noWrap.
std::string ArmourText(const uint8_t* bytes, size_t length, bool noWrap) {
    std::string plain(Base64EncodedSize(length), '\0');
    EncodeBase64(nullptr, nullptr, reinterpret_cast<uint8_t*>(plain.data()), bytes, length, nullptr, 1);
    if (noWrap) return plain;
    std::string text;
    text.reserve(plain.size() + plain.size() / 72);
    for (size_t i = 0; i < plain.size(); ++i) {
        if (i && i % 72 == 0) text.push_back('\n');
        text.push_back(plain[i]);
    }
    return text;
}

int WriteArmour(const qbSerialSink& sink, const uint8_t* bytes, size_t length, bool noWrap) {
    const std::string text = ArmourText(bytes, length, noWrap);
    if (text.size() > UINT32_MAX) return ERR_WRONGUSAGE;
    char hex[16];
    std::snprintf(hex, sizeof hex, "%.8lx", static_cast<unsigned long>(text.size()));
    if (int err = WriteSerializedBytes(sink, hex, 8, true)) return err;
    return WriteSerializedBytes(sink, text.data(), text.size(), true);
}

int ReadHexLength(qbSerialSource& source, uint32_t* out) {
    char hex[8];
    if (int err = ReadSerializedBytes(source, hex, 8, true)) return err;
    uint32_t value = 0;
    for (char c : hex) {
        int digit;
        if (c >= '0' && c <= '9') digit = c - '0';
        else if (c >= 'a' && c <= 'f') digit = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F') digit = c - 'A' + 10;
        else return ERR_FILEFORMAT;
        value = value << 4 | static_cast<uint32_t>(digit);
    }
    *out = value;
    return 0;
}

// Reads the armour's text and decodes it.
int ReadArmour(qbSerialSource& source, std::vector<uint8_t>* decoded) {
    uint32_t length = 0;
    if (int err = ReadHexLength(source, &length)) return err;
    if (length > SerialBytesLeft(source)) return ERR_READ;
    std::vector<uint8_t> text(length);
    if (int err = ReadSerializedBytes(source, text.data(), length, true)) return err;
    decoded->assign(Base64DecodedBound(length), 0);
    size_t count = 0;
    if (int err = DecodeBase64(text.data(), length, decoded->data(), nullptr, &count)) return err;
    decoded->resize(count);
    return 0;
}

int ReadMagic(qbSerialSource& source, char magic[4]) { return ReadSerializedBytes(source, magic, 4, true); }

}  // namespace

int WriteSerializedBytes(const qbSerialSink& sink, const void* bytes, size_t size, bool raw) {
    if (sink.counter) {
        *sink.counter += size;
        return 0;
    }
    uint8_t swapped[8];
    const void* out = bytes;
    if (!raw && (size == 2 || size == 4 || size == 8) && std::endian::native == std::endian::little) {
        std::memcpy(swapped, bytes, size);
        std::reverse(swapped, swapped + size);
        out = swapped;
    }
    if (sink.memory) {
        const auto* p = static_cast<const uint8_t*>(out);
        sink.memory->insert(sink.memory->end(), p, p + size);
        return 0;
    }
    if (!sink.file) return ERR_WRITE;
    const size_t written =
        GetDosIOMode() == kDosIOBuffered ? FileWrite(sink.file, out, size) : FileWriteBytes(sink.file, out, size);
    return written == size ? 0 : ERR_WRITE;
}

int ReadSerializedBytes(qbSerialSource& source, void* bytes, size_t size, bool raw) {
    if (source.file) {
        const size_t got = GetDosIOMode() == kDosIOBuffered ? FileRead(source.file, bytes, size)
                                                            : FileReadBytes(source.file, bytes, size);
        if (got != size) return ERR_READ;
    } else {
        if (size > source.end - source.position) return ERR_READ;
        // An empty function chunk has no buffer to copy into.
        if (size > 0) std::memcpy(bytes, source.data + source.position, size);
        source.position += size;
    }
    if (!raw && (size == 2 || size == 4 || size == 8) && std::endian::native == std::endian::little) {
        auto* p = static_cast<uint8_t*>(bytes);
        std::reverse(p, p + size);
    }
    return 0;
}

uint64_t SerialBytesLeft(const qbSerialSource& source) {
    if (!source.file) return source.end - source.position;
    const int64_t size = GetFileSize(source.file);
    const int64_t position = FileSeek(source.file, 0, kSeekCurrent);
    if (size < 0 || position < 0 || IsFileNoSeek(source.file)) return UINT64_MAX;
    return position >= size ? 0 : static_cast<uint64_t>(size - position);
}

int WriteTableStream(ScriptState* L, int idx, const qbSerialSink& sink) {
    WriteWalk walk{L, sink, {}};
    return WriteEntries(walk, AbsIndex(L, idx));
}

int ReadTableStream(ScriptState* L, qbSerialSource& source, bool fill) {
    if (!fill) VmPushNewTable(L);
    return ReadEntries(L, source, 0);
}

int WriteFunctionStream(ScriptState* L, int idx, const qbSerialSink& sink, bool armour, bool noWrap) {
    std::vector<uint8_t> chunk;
    if (int err = VmDumpFunction(L, AbsIndex(L, idx), DumpWriter, &chunk)) return err;
    if (armour) return WriteArmour(sink, chunk.data(), chunk.size(), noWrap);
    if (chunk.size() > UINT32_MAX) return ERR_WRONGUSAGE;
    const uint32_t n = static_cast<uint32_t>(chunk.size());
    if (int err = WriteSerializedBytes(sink, &n, 4, false)) return err;
    return WriteSerializedBytes(sink, chunk.data(), chunk.size(), true);
}

int ReadFunctionStream(ScriptState* L, qbSerialSource& source, bool armour) {
    std::vector<uint8_t> chunk;
    if (armour) {
        if (int err = ReadArmour(source, &chunk)) return err;
    } else {
        uint32_t length = 0;
        if (int err = ReadU32(source, &length)) return err;
        if (length > SerialBytesLeft(source)) return ERR_READ;
        chunk.resize(length);
        if (int err = ReadSerializedBytes(source, chunk.data(), length, true)) return err;
    }
    // Only precompiled chunks: text would otherwise be compiled as source.
    static constexpr uint8_t kSignature[4] = {27, 'Q', 'B', 'B'};
    if (chunk.size() < 4 || std::memcmp(chunk.data(), kSignature, 4) != 0) return ERR_FILEFORMAT;
    return VmLoadBuffer(L, reinterpret_cast<const char*>(chunk.data()), chunk.size(), "=serialised function");
}

int WriteTableLayout(ScriptState* L, int idx, qbFile* file, bool armour, bool noWrap) {
    // Built in memory first, so that a refused table writes nothing.
    std::vector<uint8_t> plain{'Q', 'B', 'T', '0'};
    if (int err = WriteTableStream(L, idx, qbSerialSink{nullptr, &plain, nullptr})) return err;
    const qbSerialSink sink{file, nullptr, nullptr};
    if (!armour) return WriteSerializedBytes(sink, plain.data(), plain.size(), true);
    if (int err = WriteSerializedBytes(sink, "QBT1", 4, true)) return err;
    return WriteArmour(sink, plain.data(), plain.size(), noWrap);
}

int ReadTableLayout(ScriptState* L, qbSerialSource& source) {
    // Armour may hold armour: each level decodes into a shorter buffer.
    std::vector<uint8_t> decoded;
    qbSerialSource inner = source;
    qbSerialSource* current = &source;
    for (;;) {
        char magic[4];
        if (int err = ReadMagic(*current, magic)) return err;
        if (std::memcmp(magic, "QBT0", 4) == 0) return ReadTableStream(L, *current, false);
        if (std::memcmp(magic, "QBT1", 4) != 0) return ERR_READTABLE;
        std::vector<uint8_t> next;
        if (int err = ReadArmour(*current, &next)) return err;
        decoded.swap(next);
        inner = qbSerialSource{nullptr, decoded.data(), 0, decoded.size()};
        current = &inner;
    }
}

int WriteFunctionLayout(ScriptState* L, int idx, qbFile* file, bool armour, bool noWrap) {
    std::vector<uint8_t> bytes{'Q', 'B', 'F', armour ? uint8_t{'1'} : uint8_t{'0'}};
    if (int err = WriteFunctionStream(L, idx, qbSerialSink{nullptr, &bytes, nullptr}, armour, noWrap)) return err;
    return WriteSerializedBytes(qbSerialSink{file, nullptr, nullptr}, bytes.data(), bytes.size(), true);
}

int ReadFunctionLayout(ScriptState* L, qbSerialSource& source) {
    char magic[4];
    if (int err = ReadMagic(source, magic)) return err;
    if (std::memcmp(magic, "QBF0", 4) == 0) return ReadFunctionStream(L, source, false);
    if (std::memcmp(magic, "QBF1", 4) == 0) return ReadFunctionStream(L, source, true);
    return ERR_READFUNC;
}
