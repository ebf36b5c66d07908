// Chunk writer and reader: the byte layout of the function record tree.
#include "lib/chunk_codec.h"

#include <algorithm>

namespace {

constexpr int kConstNil = 0, kConstNumber = 3, kConstString = 4;
// Deeper nesting than any compiler produces; keeps hostile input off the C++ stack.
constexpr int kMaxNesting = 200;

struct ByteSink {
    std::vector<uint8_t> bytes;
    bool bigEndian = false;

    void Put8(uint8_t v) { bytes.push_back(v); }
    void PutWord(uint64_t v, int width) {
        for (int i = 0; i < width; ++i) {
            int shift = bigEndian ? (width - 1 - i) * 8 : i * 8;
            bytes.push_back(static_cast<uint8_t>(v >> shift));
        }
    }
    void Put32(uint32_t v) { PutWord(v, 4); }
    void PutInt(int32_t v) { Put32(static_cast<uint32_t>(v)); }
    void PutBytes(const std::string& s) { bytes.insert(bytes.end(), s.begin(), s.end()); }
    void PutString(const RawString& s) {
        Put32(static_cast<uint32_t>(s.size()));
        PutBytes(s);
    }
    void PutCount(size_t real, const std::optional<uint32_t>& override) {
        Put32(override ? *override : static_cast<uint32_t>(real));
    }
};

void WriteFunction(ByteSink& out, const FunctionRecord& f) {
    out.PutString(f.source);
    out.PutInt(f.lineDefined);
    out.Put8(f.nups);
    out.Put8(f.numParams);
    out.Put8(f.isVararg);
    out.Put8(f.maxStack);
    out.PutCount(f.lineInfo.size(), f.counts.lineInfo);
    for (int32_t line : f.lineInfo) out.PutInt(line);
    out.PutCount(f.locals.size(), f.counts.locals);
    for (const LocalVar& local : f.locals) {
        out.PutString(local.name);
        out.PutInt(local.startpc);
        out.PutInt(local.endpc);
    }
    out.PutCount(f.upvalueNames.size(), f.counts.upvalues);
    for (const RawString& name : f.upvalueNames) out.PutString(name);
    out.PutCount(f.constants.size(), f.counts.constants);
    for (const Constant& k : f.constants) {
        switch (k.kind) {
            case ConstKind::Nil: out.Put8(kConstNil); break;
            case ConstKind::Number:
                out.Put8(kConstNumber);
                out.PutWord(k.numberBits, 8);
                break;
            case ConstKind::String:
                out.Put8(kConstString);
                out.PutString(k.string);
                break;
            case ConstKind::Raw:
                out.Put8(k.rawType);
                out.PutBytes(k.rawPayload);
                break;
        }
    }
    out.PutCount(f.functions.size(), f.counts.functions);
    for (const FunctionRecord& child : f.functions) WriteFunction(out, child);
    out.PutCount(f.code.size(), f.counts.code);
    for (uint32_t word : f.code) out.Put32(word);
}

struct ByteSource {
    const std::vector<uint8_t>& bytes;
    size_t pos = 0;
    bool bigEndian = false;
    std::string error;

    bool Fail(const std::string& what) {
        if (error.empty()) error = "offset " + std::to_string(pos) + ": " + what;
        return false;
    }
    size_t Remaining() const { return bytes.size() - pos; }
    bool Get8(uint8_t& v, const char* what) {
        if (Remaining() < 1) return Fail(std::string("unexpected end of data in ") + what);
        v = bytes[pos++];
        return true;
    }
    bool GetWord(uint64_t& v, int width, const char* what) {
        if (Remaining() < static_cast<size_t>(width))
            return Fail(std::string("unexpected end of data in ") + what);
        v = 0;
        for (int i = 0; i < width; ++i) {
            int shift = bigEndian ? (width - 1 - i) * 8 : i * 8;
            v |= static_cast<uint64_t>(bytes[pos + i]) << shift;
        }
        pos += width;
        return true;
    }
    bool Get32(uint32_t& v, const char* what) {
        uint64_t w = 0;
        if (!GetWord(w, 4, what)) return false;
        v = static_cast<uint32_t>(w);
        return true;
    }
    bool GetInt(int32_t& v, const char* what) {
        uint32_t w = 0;
        if (!Get32(w, what)) return false;
        v = static_cast<int32_t>(w);
        return true;
    }
    bool GetBytes(std::string& s, size_t n, const char* what) {
        if (Remaining() < n) return Fail(std::string("unexpected end of data in ") + what);
        s.assign(bytes.begin() + static_cast<std::ptrdiff_t>(pos),
                 bytes.begin() + static_cast<std::ptrdiff_t>(pos + n));
        pos += n;
        return true;
    }
    bool GetString(RawString& s, const char* what) {
        uint32_t size = 0;
        return Get32(size, what) && GetBytes(s, size, what);
    }
    // A count must be non-negative and its elements (each at least minSize bytes)
    // must fit in what is left, so a corrupt count never drives a huge allocation.
    bool GetCount(size_t& n, size_t minSize, const char* what) {
        int32_t v = 0;
        if (!GetInt(v, what)) return false;
        if (v < 0) return Fail(std::string("negative ") + what);
        if (static_cast<uint64_t>(v) * minSize > Remaining())
            return Fail(std::string(what) + " exceeds the data");
        n = static_cast<size_t>(v);
        return true;
    }
};

bool ReadFunction(ByteSource& in, FunctionRecord& f, int depth) {
    if (depth > kMaxNesting) return in.Fail("functions nested too deeply");
    if (!in.GetString(f.source, "source") || !in.GetInt(f.lineDefined, "line defined") ||
        !in.Get8(f.nups, "nups") || !in.Get8(f.numParams, "numparams") ||
        !in.Get8(f.isVararg, "is_vararg") || !in.Get8(f.maxStack, "maxstacksize"))
        return false;
    size_t n = 0;
    if (!in.GetCount(n, 4, "line info count")) return false;
    f.lineInfo.resize(n);
    for (int32_t& line : f.lineInfo)
        if (!in.GetInt(line, "line info")) return false;
    if (!in.GetCount(n, 12, "local count")) return false;
    f.locals.resize(n);
    for (LocalVar& local : f.locals)
        if (!in.GetString(local.name, "local name") || !in.GetInt(local.startpc, "local start") ||
            !in.GetInt(local.endpc, "local end"))
            return false;
    if (!in.GetCount(n, 4, "upvalue name count")) return false;
    f.upvalueNames.resize(n);
    for (RawString& name : f.upvalueNames)
        if (!in.GetString(name, "upvalue name")) return false;
    if (!in.GetCount(n, 1, "constant count")) return false;
    f.constants.resize(n);
    for (Constant& k : f.constants) {
        uint8_t type = 0;
        if (!in.Get8(type, "constant type")) return false;
        if (type == kConstNil) {
            k.kind = ConstKind::Nil;
        } else if (type == kConstNumber) {
            k.kind = ConstKind::Number;
            if (!in.GetWord(k.numberBits, 8, "number constant")) return false;
        } else if (type == kConstString) {
            k.kind = ConstKind::String;
            if (!in.GetString(k.string, "string constant")) return false;
        } else {
            --in.pos;
            return in.Fail("unknown constant type " + std::to_string(type));
        }
    }
    // A function record takes at least 36 bytes.
    if (!in.GetCount(n, 36, "function count")) return false;
    f.functions.resize(n);
    for (FunctionRecord& child : f.functions)
        if (!ReadFunction(in, child, depth + 1)) return false;
    if (!in.GetCount(n, 4, "instruction count")) return false;
    f.code.resize(n);
    for (uint32_t& word : f.code)
        if (!in.Get32(word, "code")) return false;
    return true;
}

}  // namespace

std::vector<uint8_t> WriteChunk(const Chunk& chunk) {
    ByteSink out;
    const ChunkHeader& h = chunk.header;
    out.bytes.assign(h.signature.begin(), h.signature.end());
    out.Put8(h.order);
    out.bytes.insert(out.bytes.end(), h.sizes.begin(), h.sizes.end());
    out.bigEndian = h.order != 1;
    out.PutWord(h.testBits, 8);
    WriteFunction(out, chunk.main);
    out.PutBytes(chunk.tail);
    if (chunk.truncateAt && *chunk.truncateAt < out.bytes.size())
        out.bytes.resize(*chunk.truncateAt);
    return std::move(out.bytes);
}

bool ReadChunk(const std::vector<uint8_t>& bytes, Chunk& chunk, std::string& error) {
    chunk = Chunk{};
    ByteSource in{bytes, 0, false, {}};
    std::string sig;
    if (!in.GetBytes(sig, 4, "signature") || !in.Get8(chunk.header.order, "byte order")) {
        error = in.error;
        return false;
    }
    std::copy_n(sig.begin(), chunk.header.signature.size(), chunk.header.signature.begin());
    for (uint8_t& size : chunk.header.sizes)
        if (!in.Get8(size, "size bytes")) {
            error = in.error;
            return false;
        }
    in.bigEndian = chunk.header.order != 1;
    if (!in.GetWord(chunk.header.testBits, 8, "test number") || !ReadFunction(in, chunk.main, 0)) {
        error = in.error;
        return false;
    }
    chunk.tail.assign(bytes.begin() + static_cast<std::ptrdiff_t>(in.pos), bytes.end());
    return true;
}
