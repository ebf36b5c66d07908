// Tables and script functions as typed big-endian byte streams, plain or
// armoured in Base64 text; shared by the dos library's commands and the
// preferences files.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

struct ScriptState;
struct qbFile;

// Nesting deeper than this is refused on both sides, so that nothing is
// written that cannot be read back.
constexpr int kSerialMaxDepth = 200;

// Where a stream goes: exactly one of a file, a growing memory buffer or a
// byte counter (counting mode writes nothing).
struct qbSerialSink {
    qbFile* file = nullptr;
    std::vector<uint8_t>* memory = nullptr;
    uint64_t* counter = nullptr;
};

// Where a stream comes from: a file, or memory up to a fixed end. Reading
// past the end is ERR_READ.
struct qbSerialSource {
    qbFile* file = nullptr;
    const uint8_t* data = nullptr;
    size_t position = 0;
    size_t end = 0;
};

// Bytes as they are (raw) or, for sizes 2, 4 and 8, converted from host
// order to big-endian. 0, ERR_WRITE.
int WriteSerializedBytes(const qbSerialSink& sink, const void* bytes, size_t size, bool raw);
// The reverse; 0 or ERR_READ.
int ReadSerializedBytes(qbSerialSource& source, void* bytes, size_t size, bool raw);
// Bytes the source still holds, or SIZE_MAX when a file cannot tell.
uint64_t SerialBytesLeft(const qbSerialSource& source);

// The entry list of the table at idx, end byte included.
int WriteTableStream(ScriptState* L, int idx, const qbSerialSink& sink);
// One entry list: into a new table pushed on the stack, or with fill into
// the table on the stack top. On failure the stack may hold leftovers.
int ReadTableStream(ScriptState* L, qbSerialSource& source, bool fill);

// One length-prefixed precompiled chunk of the function at idx: a 4-byte
// length, or when armoured 8 hex digits and Base64 text. ERR_NOQBFUNC for a
// native command.
int WriteFunctionStream(ScriptState* L, int idx, const qbSerialSink& sink, bool armour, bool noWrap);
// Pushes the loaded function.
int ReadFunctionStream(ScriptState* L, qbSerialSource& source, bool armour);

// Whole layouts with their magics: "QBT0"/"QBT1" and "QBF0"/"QBF1".
int WriteTableLayout(ScriptState* L, int idx, qbFile* file, bool armour, bool noWrap);
int ReadTableLayout(ScriptState* L, qbSerialSource& source);
int WriteFunctionLayout(ScriptState* L, int idx, qbFile* file, bool armour, bool noWrap);
int ReadFunctionLayout(ScriptState* L, qbSerialSource& source);
