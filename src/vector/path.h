// Vector paths: the path records of the vectorgraphics library, their
// command streams (layout in include/qbvector.h), the process-wide line style
// and the snapshot of it that drawing carries.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <memory>

#include "core/objectref.h"
#include "core/objects.h"
#include "draw/draw.h"
#include "qbvector.h"

constexpr int kObjectTypeVectorPath = 49;

struct qbPath : qbObject {
    // Null while the path is empty; otherwise the stream, always ended by a
    // 0 code at writeOffset (which the next command overwrites).
    std::unique_ptr<uint8_t[]> commands;
    int32_t capacity = 0;
    size_t writeOffset = 0;
};

struct qbLineStyle {
    int32_t join = QB_JOIN_MITER;
    int32_t cap = QB_CAP_BUTT;
    double dashOffset = 0;
    int32_t dashCount = 0;
    std::unique_ptr<double[]> dashes;
    int32_t fillRule = QB_FILLRULE_WINDING;
};
qbLineStyle& GetLineStyle();
// Back to the defaults, the dash array freed.
void ResetLineStyle();

// What a render request and a path layer carry: the line style and the draw
// state as they were when the path was drawn.
struct qbPathStyle {
    int32_t join = 0;
    int32_t cap = 0;
    double dashOffset = 0;
    int32_t dashCount = 0;
    const double* dashes = nullptr;  // the line style's, not copied
    int32_t fillRule = 0;
    qbDrawState draw;
};
qbPathStyle SnapshotPathStyle(const qbDrawState& draw);
qbVectorLineStyle VectorLineStyleOf(const qbPathStyle& style);
// The same from the line style and form style in force, with no copy of the
// draw state.
qbVectorLineStyle VectorLineStyleOf(const qbLineStyle& line, uint32_t formStyle);

// One argument of a command, in the order the stream holds them.
struct qbPathArg {
    enum Kind : int { kInt = 0, kDouble = 1, kString = 2, kPointer = 3 };
    Kind kind;
    int32_t i = 0;
    double d = 0;
    const char* s = nullptr;
    size_t length = 0;
    const void* p = nullptr;
    static qbPathArg Int(int32_t v) { return {kInt, v}; }
    static qbPathArg Double(double v) { return {kDouble, 0, v}; }
    static qbPathArg String(const char* v, size_t n) { return {kString, 0, 0, v, n}; }
    static qbPathArg Pointer(const void* v) { return {kPointer, 0, 0, nullptr, 0, v}; }
};

// Appends one command and the terminator. ERR_MEM (the path unchanged) when
// the buffer cannot grow.
int AppendPathCommand(qbPath* path, int32_t code, std::initializer_list<qbPathArg> args);
// Appends a whole stream's commands (its terminator left out). ERR_MEM.
int AppendPathStream(qbPath* path, const uint8_t* commands, size_t length);
// Makes the path empty again.
void ClearPathCommands(qbPath* path);

// Buffers past this many bytes are refused as if memory ran out; the
// capacity is a 32-bit count. Tests lower it to reach the failure.
void SetPathBufferLimit(int64_t bytes);

// The stream's commands up to (not including) the terminator, by each
// command's fixed size. Only for streams this code wrote.
size_t PathStreamLength(const uint8_t* commands);
// Bytes of the command at p including its code, or 0 for the terminator.
size_t PathCommandSize(const uint8_t* p);
// For bytes from elsewhere: the length of a well-formed stream within size
// bytes up to its terminator (which then lies inside), or -1.
int64_t CheckPathStream(const uint8_t* data, size_t size);

// Unaligned stream access.
int32_t ReadPathInt(const uint8_t* p);
double ReadPathDouble(const uint8_t* p);
void* ReadPathPointer(const uint8_t* p);
void WritePathDouble(uint8_t* p, double v);
void WritePathPointer(uint8_t* p, const void* v);

// The path list.
struct qbObjectList;
qbObjectList* PathListHead();
// ERR_FINDPATH (with the number) or ERR_FINDARRAY.
int GetPath(ObjectID id, qbPath** out);
// A command's hold on a path (core/objectref.h).
inline int FindPathByID(ScriptState*, ObjectID id, qbPath** out) { return GetPath(id, out); }
using qbPathRef = qbObjectRef<qbPath, FindPathByID>;
// Appends a new empty path; a numeric id first frees the path of that id.
int AddPath(ScriptState* L, const NewObjectID& id, qbPath** out);
void FreePath(ScriptState* L, qbPath* path);
void FreeAllPaths(ScriptState* L);
