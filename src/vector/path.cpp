// The path list, the command stream's writer and walkers, and the line style.
#include "vector/path.h"

#include <cstring>
#include <limits>
#include <new>

#include "core/errcodes.h"
#include "core/errors.h"
#include "core/objectlist.h"

namespace {

qbObjectList pathList;
int64_t bufferLimit = std::numeric_limits<int32_t>::max();

// Room a command may take besides its strings: the largest one is 56 bytes,
// and the terminator follows it.
constexpr size_t kCommandRoom = 128;
constexpr size_t kMinGrowth = 1024;

size_t ArgSize(const qbPathArg& a) {
    switch (a.kind) {
    case qbPathArg::kInt: return 4;
    case qbPathArg::kDouble: return 8;
    case qbPathArg::kPointer: return 8;
    case qbPathArg::kString: return QB_PATH_STRING_SIZE(a.length);
    }
    return 0;
}

// Makes room for needed more bytes past the write position. ERR_MEM leaves
// the path as it was.
int Reserve(qbPath* path, size_t needed) {
    const size_t used = path->commands ? path->writeOffset : 0;
    if (path->commands && static_cast<size_t>(path->capacity) - used >= needed) return 0;
    const size_t grown = static_cast<size_t>(path->capacity) + std::max(needed, kMinGrowth);
    if (grown > static_cast<uint64_t>(bufferLimit) || grown < needed) return ERR_MEM;
    std::unique_ptr<uint8_t[]> buffer(new (std::nothrow) uint8_t[grown]);
    if (!buffer) return ERR_MEM;
    if (path->commands) std::memcpy(buffer.get(), path->commands.get(), used);
    path->commands = std::move(buffer);
    path->capacity = static_cast<int32_t>(grown);
    path->writeOffset = used;
    return 0;
}

void Terminate(qbPath* path) { std::memset(path->commands.get() + path->writeOffset, 0, 4); }

void Unlink(qbPath* path) { UnlinkObject(&pathList, path); }

// Fixed argument bytes of a code, or -1 for an unknown one (text excluded).
int FixedArgs(int32_t code) {
    switch (code) {
    case QB_PATH_MOVE:
    case QB_PATH_LINE: return QB_PATH_POINT_ARGS;
    case QB_PATH_CURVE: return QB_PATH_CURVE_ARGS;
    case QB_PATH_ARC: return QB_PATH_ARC_ARGS;
    case QB_PATH_BOX: return QB_PATH_BOX_ARGS;
    case QB_PATH_SUBPATH:
    case QB_PATH_CLOSE: return 0;
    default: return -1;
    }
}

}  // namespace

qbLineStyle& GetLineStyle() {
    static qbLineStyle style;
    return style;
}

void ResetLineStyle() { GetLineStyle() = qbLineStyle{}; }

qbPathStyle SnapshotPathStyle(const qbDrawState& draw) {
    const qbLineStyle& l = GetLineStyle();
    qbPathStyle s;
    s.join = l.join;
    s.cap = l.cap;
    s.dashOffset = l.dashOffset;
    s.dashCount = l.dashCount;
    s.dashes = l.dashes.get();
    s.fillRule = l.fillRule;
    s.draw = draw;
    return s;
}

qbVectorLineStyle VectorLineStyleOf(const qbLineStyle& line, uint32_t formStyle) {
    qbVectorLineStyle v{};
    v.join = line.join;
    v.cap = line.cap;
    v.fillRule = line.fillRule;
    v.antialias = (formStyle & kFormAntialias) ? 1 : 0;
    v.dashOffset = line.dashOffset;
    v.dashes = line.dashes.get();
    v.dashCount = line.dashCount;
    return v;
}

qbVectorLineStyle VectorLineStyleOf(const qbPathStyle& style) {
    qbVectorLineStyle v{};
    v.join = style.join;
    v.cap = style.cap;
    v.fillRule = style.fillRule;
    v.antialias = (style.draw.formStyle & kFormAntialias) ? 1 : 0;
    v.dashOffset = style.dashOffset;
    v.dashes = style.dashes;
    v.dashCount = style.dashCount;
    return v;
}

int AppendPathCommand(qbPath* path, int32_t code, std::initializer_list<qbPathArg> args) {
    size_t needed = kCommandRoom;
    for (const qbPathArg& a : args)
        if (a.kind == qbPathArg::kString) needed += QB_PATH_STRING_SIZE(a.length);
    if (int err = Reserve(path, needed)) return err;
    uint8_t* p = path->commands.get() + path->writeOffset;
    std::memcpy(p, &code, 4);
    p += 4;
    for (const qbPathArg& a : args) {
        switch (a.kind) {
        case qbPathArg::kInt: std::memcpy(p, &a.i, 4); break;
        case qbPathArg::kDouble: std::memcpy(p, &a.d, 8); break;
        case qbPathArg::kPointer: WritePathPointer(p, a.p); break;
        case qbPathArg::kString:
            std::memset(p, 0, ArgSize(a));
            std::memcpy(p, a.s, a.length);
            break;
        }
        p += ArgSize(a);
    }
    path->writeOffset = static_cast<size_t>(p - path->commands.get());
    Terminate(path);
    return 0;
}

int AppendPathStream(qbPath* path, const uint8_t* commands, size_t length) {
    if (length == 0) return 0;
    if (int err = Reserve(path, length + kCommandRoom)) return err;
    std::memcpy(path->commands.get() + path->writeOffset, commands, length);
    path->writeOffset += length;
    Terminate(path);
    return 0;
}

void ClearPathCommands(qbPath* path) {
    path->commands.reset();
    path->capacity = 0;
    path->writeOffset = 0;
}

void SetPathBufferLimit(int64_t bytes) { bufferLimit = bytes; }

int32_t ReadPathInt(const uint8_t* p) {
    int32_t v;
    std::memcpy(&v, p, 4);
    return v;
}

double ReadPathDouble(const uint8_t* p) {
    double v;
    std::memcpy(&v, p, 8);
    return v;
}

void* ReadPathPointer(const uint8_t* p) {
    uint64_t v;
    std::memcpy(&v, p, 8);
    return reinterpret_cast<void*>(static_cast<uintptr_t>(v));
}

void WritePathDouble(uint8_t* p, double v) { std::memcpy(p, &v, 8); }

void WritePathPointer(uint8_t* p, const void* v) {
    const uint64_t bits = reinterpret_cast<uintptr_t>(v);
    std::memcpy(p, &bits, 8);
}

size_t PathCommandSize(const uint8_t* p) {
    const int32_t code = ReadPathInt(p);
    if (code == QB_PATH_END) return 0;
    if (code == QB_PATH_TEXT) {
        const char* text = reinterpret_cast<const char*>(p + 4 + QB_PATH_TEXT_ARGS);
        return 4 + QB_PATH_TEXT_ARGS + QB_PATH_STRING_SIZE(std::strlen(text));
    }
    const int fixed = FixedArgs(code);
    return fixed < 0 ? 0 : 4 + static_cast<size_t>(fixed);
}

size_t PathStreamLength(const uint8_t* commands) {
    size_t at = 0;
    if (!commands) return 0;
    while (size_t n = PathCommandSize(commands + at)) at += n;
    return at;
}

int64_t CheckPathStream(const uint8_t* data, size_t size) {
    size_t at = 0;
    while (true) {
        if (size - at < 4) return -1;
        const int32_t code = ReadPathInt(data + at);
        if (code == QB_PATH_END) return static_cast<int64_t>(at);
        size_t n;
        if (code == QB_PATH_TEXT) {
            const size_t text = at + 4 + QB_PATH_TEXT_ARGS;
            if (text >= size) return -1;
            const void* nul = std::memchr(data + text, 0, size - text);
            if (!nul) return -1;
            const size_t length = static_cast<size_t>(static_cast<const uint8_t*>(nul) - (data + text));
            n = 4 + QB_PATH_TEXT_ARGS + QB_PATH_STRING_SIZE(length);
        } else {
            const int fixed = FixedArgs(code);
            if (fixed < 0) return -1;
            n = 4 + static_cast<size_t>(fixed);
        }
        if (n > size - at) return -1;
        at += n;
    }
}

qbObjectList* PathListHead() { return &pathList; }

int GetPath(ObjectID id, qbPath** out) {
    if (qbObject* o = FindListedObject(pathList, id)) {
        *out = static_cast<qbPath*>(o);
        return 0;
    }
    if (id.handle) return ERR_FINDARRAY;
    SetErrorArgIndex(id.number);
    return ERR_FINDPATH;
}

int AddPath(ScriptState* L, const NewObjectID& id, qbPath** out) {
    std::unique_ptr<qbPath> path(new (std::nothrow) qbPath);
    if (!path) return ERR_MEM;
    if (!id.chooseFlag) {
        qbPath* old = nullptr;
        if (GetPath(ObjectID{id.id, nullptr}, &old) == 0) FreePath(L, old);
    }
    path->type = kObjectTypeVectorPath;
    path->id = id.chooseFlag ? 0 : id.id;
    path->handle = id.chooseFlag ? path.get() : nullptr;
    if (int err = AppendObject(&pathList, path.get())) return err;
    *out = path.release();
    return 0;
}

void FreePath(ScriptState* L, qbPath* path) {
    Unlink(path);
    std::unique_ptr<qbPath> owner(path);
    FreeObjectDataList(L, &path->data);
}

void FreeAllPaths(ScriptState* L) {
    while (pathList.head) FreePath(L, static_cast<qbPath*>(pathList.head));
}
