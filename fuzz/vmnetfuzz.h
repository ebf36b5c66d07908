// Notes of what the script machine's readers leave on the stack: a value
// written out as text, a table with its pairs in sorted order (the order
// the machine walks a table in follows addresses for table and function
// keys, so only a sorted order is the same from run to run), a script
// function as its precompiled bytes.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <set>
#include <string>
#include <vector>

#include "core/preproc.h"
#include "fuzznote.h"
#include "vm/vm.h"

namespace vmnetfuzz {

// Tables nested deeper, or pairs beyond this many in one input, are
// counted, not written out: a hostile script can build tables of millions.
constexpr int kMaxDepth = 16;
constexpr size_t kMaxPairs = 20000;

struct ValueWriter {
    ScriptState* L;
    size_t pairsLeft = kMaxPairs;
    std::set<const void*> open;  // tables being written: a cycle is written as "^"

    static int Append(ScriptState*, const void* p, size_t size, void* data) {
        static_cast<std::string*>(data)->append(static_cast<const char*>(p), size);
        return 0;
    }

    // A kind letter before the value's text (g++ 12 warns wrongly of a
    // literal added before a string).
    static std::string Tagged(char kind, const std::string& text) {
        std::string out(1, kind);
        out += text;
        return out;
    }

    std::string Number(double v) {
        char text[32];
        std::snprintf(text, sizeof text, "%.9g", v);
        return text;
    }

    std::string Table(int idx, int depth) {
        const void* self = VmToPointer(L, idx);
        if (open.count(self)) return "{^}";
        if (depth >= kMaxDepth || !VmCheckStack(L, 4)) return "{...}";
        open.insert(self);
        std::vector<std::string> pairs;
        size_t count = 0;
        VmPushNil(L);
        while (VmNext(L, idx)) {
            ++count;
            if (pairsLeft > 0) {
                --pairsLeft;
                const int top = VmGetTop(L);
                std::string pair = Of(top - 1, depth + 1);
                pair += '=';
                pair += Of(top, depth + 1);
                pairs.push_back(std::move(pair));
            }
            VmSetTop(L, -2);
        }
        open.erase(self);
        std::string text(1, '{');
        text += std::to_string(count);
        if (pairs.size() == count) {
            std::sort(pairs.begin(), pairs.end());
            for (const std::string& p : pairs) {
                text += ';';
                text += p;
            }
        }
        text += '}';
        return text;
    }

    // The value at the absolute index idx.
    std::string Of(int idx, int depth) {
        switch (VmType(L, idx)) {
        case kTypeNil: return "n";
        case kTypeBoolean: return VmToBoolean(L, idx) ? "t" : "f";
        case kTypeNumber: return Tagged('#', Number(VmToNumber(L, idx)));
        case kTypeString: {
            const char* s = VmToCString(L, idx);
            const size_t n = VmStrLen(L, idx);
            return Tagged('s', std::to_string(n) + ":" + std::string(s, n));
        }
        case kTypeTable: return Table(idx, depth);
        case kTypeFunction: {
            if (VmIsCFunction(L, idx)) return "c";
            std::string bytes;
            VmPushValue(L, idx);
            const int err = VmDumpFunction(L, VmGetTop(L), Append, &bytes);
            VmSetTop(L, -2);
            return Tagged('F', std::to_string(err) + ":" + std::to_string(bytes.size()) + ":" + bytes);
        }
        case kTypeUserdata: return "u";
        case kTypeThread: return "r";
        default: return Tagged('?', std::to_string(VmType(L, idx)));
        }
    }
};

// The value at idx (relative or absolute) as text.
inline std::string DescribeValue(ScriptState* L, int idx) {
    if (idx < 0 && idx > kRegistryIndex) idx = VmGetTop(L) + idx + 1;
    if (idx == 0) return "-";
    ValueWriter w{L, kMaxPairs, {}};
    return w.Of(idx, 0);
}

inline void NoteValue(ScriptState* L, int idx) { FuzzNoteText(DescribeValue(L, idx)); }

// The registry's field name (a table the readers fill, or nil).
inline void NoteRegistryField(ScriptState* L, const char* name) {
    VmPushString(L, name);
    VmRawGet(L, kRegistryIndex);
    FuzzNoteText(name);
    NoteValue(L, -1);
    VmSetTop(L, -2);
}

}  // namespace vmnetfuzz

namespace vmnetfuzz {

// Integers of a record, in the order given.
template <class... T>
void NoteValues(T... v) {
    (FuzzNoteValue(static_cast<int64_t>(v)), ...);
}

// The start-up records the options file and the applet both fill.
inline void NoteBackfill(const qbBackfillOptions& b) {
    NoteValues(b.type, b.startColor, b.endColor, b.brush, b.x, b.y, b.transparentColor, b.scalePicture, b.smoothScale,
               b.hideTitleBar);
    FuzzNoteText(b.fileName);
}

inline void NoteRequireTags(const std::vector<qbRequireTag>& tags) {
    FuzzNoteValue(static_cast<int64_t>(tags.size()));
    for (const qbRequireTag& t : tags) {
        FuzzNoteText(t.key);
        FuzzNoteText(t.text);
        FuzzNoteValue(t.isText);
        FuzzNoteNumber(t.number);
    }
}

}  // namespace vmnetfuzz
