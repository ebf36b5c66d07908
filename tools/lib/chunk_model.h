// In-memory form of a precompiled chunk, exact to the byte: the assembler builds
// it, the disassembler reads it back, and the chunk codec converts it to bytes.
#pragma once

#include <array>
#include <bit>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "vm/opcodes.h"

// A string field holds the bytes that follow its size word, terminator included,
// so that strings whose last byte is not zero (or of size 0) survive a round trip.
// An empty value is the size-0 string ("none", or "same as the parent" for a source).
using RawString = std::string;

inline RawString MakeRawString(const std::string& text) { return text + '\0'; }

enum class ConstKind : uint8_t { Nil, Number, String, Raw };

struct Constant {
    ConstKind kind = ConstKind::Nil;
    uint64_t numberBits = 0;  // bits, not a double, so NaN payloads are kept
    RawString string;         // for String
    uint8_t rawType = 0;      // for Raw: the type byte, then rawPayload verbatim
    std::string rawPayload;
};

inline bool SameConstant(const Constant& a, const Constant& b) {
    if (a.kind != b.kind) return false;
    switch (a.kind) {
        case ConstKind::Nil: return true;
        case ConstKind::Number: return a.numberBits == b.numberBits;
        case ConstKind::String: return a.string == b.string;
        case ConstKind::Raw: return a.rawType == b.rawType && a.rawPayload == b.rawPayload;
    }
    return false;
}

struct LocalVar {
    RawString name;
    int32_t startpc = 0;
    int32_t endpc = 0;
};

// Count words written instead of the real element counts (broken-chunk tests).
struct CountOverrides {
    std::optional<uint32_t> lineInfo, locals, upvalues, constants, functions, code;
};

struct FunctionRecord {
    RawString source;  // empty: size 0
    int32_t lineDefined = 0;
    uint8_t nups = 0;
    uint8_t numParams = 0;
    uint8_t isVararg = 0;
    uint8_t maxStack = 0;
    std::vector<int32_t> lineInfo;
    std::vector<LocalVar> locals;
    std::vector<RawString> upvalueNames;
    std::vector<Constant> constants;
    std::vector<FunctionRecord> functions;
    std::vector<uint32_t> code;
    CountOverrides counts;
};

struct ChunkHeader {
    std::array<uint8_t, 4> signature = {kChunkSignature[0], kChunkSignature[1],
                                        kChunkSignature[2], kChunkSignature[3]};
    uint8_t order = 1;  // 1 little-endian; anything else means the fields are big-endian
    std::array<uint8_t, 8> sizes = {kChunkSizes[0], kChunkSizes[1], kChunkSizes[2],
                                    kChunkSizes[3], kChunkSizes[4], kChunkSizes[5],
                                    kChunkSizes[6], kChunkSizes[7]};
    uint64_t testBits = std::bit_cast<uint64_t>(kChunkTestNumber);
};

struct Chunk {
    ChunkHeader header;
    FunctionRecord main;
    std::string tail;                  // bytes after the main function record
    std::optional<size_t> truncateAt;  // cut the output to this many bytes
};
