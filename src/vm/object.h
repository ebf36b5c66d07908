// The VM's object model: tagged values, the collectable objects (strings,
// tables, closures, upvalues, prototypes, userdata) and the state records.
// Every collectable object starts with the GCObject header; the tag byte says
// which record follows.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "vm/opcodes.h"
#include "vm/vm.h"

constexpr int kTypeProto = 9;
constexpr int kTypeUpval = 10;
constexpr int kTypeDeadKey = -1;

struct GCObject {
    GCObject* next;
    uint8_t tt;
    uint8_t marked;
};

// Mark byte bits.
constexpr uint8_t kMarkBit = 0x01;
constexpr uint8_t kWeakKeyBit = 0x02;   // tables; for userdata: finaliser still to run
constexpr uint8_t kWeakValueBit = 0x04;
constexpr uint8_t kFixedBit = 0x10;

// 16 bytes: a 4-byte tag and an 8-byte payload (padding between).
struct ScriptValue {
    int32_t tt;
    union {
        GCObject* gc;
        void* p;
        double n;
        int32_t b;
    } value;
};

struct VmString : GCObject {
    uint8_t reserved;
    uint32_t hash;
    uint32_t len;
    // followed by len bytes and a NUL
};
inline char* VmStrData(VmString* s) { return reinterpret_cast<char*>(s + 1); }
inline const char* VmStrData(const VmString* s) { return reinterpret_cast<const char*>(s + 1); }

struct VmTable;

struct VmUserdata : GCObject {
    VmTable* metatable;
    uint32_t len;
    // followed by the data block (8-byte aligned)
};
inline void* VmUdataBlock(VmUserdata* u) { return u + 1; }

struct VmNode {
    ScriptValue key;
    ScriptValue val;
    VmNode* next;
};

struct VmTable : GCObject {
    uint8_t flags;       // bit e set: metatable has no entry for event e (e < 8)
    uint8_t lsizenode;   // log2 of the node count
    VmTable* metatable;
    ScriptValue* array;
    VmNode* node;
    VmNode* firstfree;   // only moves down
    GCObject* gclist;
    int32_t sizearray;
};
constexpr int kMaxArrayBits = 24;
constexpr int kMaxNodeBits = 24;
inline int VmNodeCount(const VmTable* t) { return 1 << t->lsizenode; }

struct VmLocVar {
    VmString* varname;
    int32_t startpc;
    int32_t endpc;
};

struct ScriptProto : GCObject {
    ScriptValue* k;
    Instruction* code;
    ScriptProto** p;
    int32_t* lineinfo;
    uint8_t* linestarts;  // per instruction: 1 where a line starts (made for the line hook)
    uint64_t* qcode;      // per instruction: the interpreter's pre-decoded word (quicken.h)
    uintptr_t qdelta;     // qcode less twice the address of code (interp.cpp)
    VmLocVar* locvars;
    VmString** upvalues;
    VmString* source;
    int32_t sizeupvalues;
    int32_t sizek;
    int32_t sizecode;
    int32_t sizelineinfo;
    int32_t sizep;
    int32_t sizelocvars;
    int32_t lineDefined;
    GCObject* gclist;
    uint8_t nups;
    uint8_t numparams;
    uint8_t is_vararg;
    uint8_t maxstacksize;
};

struct VmUpval : GCObject {
    ScriptValue* v;      // the stack slot while open, &value once closed
    ScriptValue value;
};

struct VmClosureHeader : GCObject {
    uint8_t isNative;
    uint8_t nupvalues;
    GCObject* gclist;
};

struct VmNativeClosure : VmClosureHeader {
    CommandHandler f;
    // followed by nupvalues ScriptValues
};
inline ScriptValue* VmNativeUpvalues(VmNativeClosure* c) { return reinterpret_cast<ScriptValue*>(c + 1); }

struct VmScriptClosure : VmClosureHeader {
    ScriptProto* p;
    ScriptValue globals;
    // followed by nupvalues VmUpval pointers
};
inline VmUpval** VmScriptUpvals(VmScriptClosure* c) { return reinterpret_cast<VmUpval**>(c + 1); }

// Call frame state bits.
constexpr uint32_t kFrameNative = 1;
constexpr uint32_t kFrameHasFrame = 2;
constexpr uint32_t kFrameCalling = 4;
constexpr uint32_t kFrameSavedPC = 8;
constexpr uint32_t kFrameYielded = 16;

struct CallFrame {
    ScriptValue* base;
    ScriptValue* top;
    uint32_t state;
    const Instruction* savedpc;
    uintptr_t qdelta;         // where the function's pre-decoded words are, kept while it calls (interp.cpp)
    const Instruction* tracedpc;  // last instruction the line hook looked at
    int tailcalls;
};

struct VmStringTable {
    GCObject** hash;
    uint32_t nuse;
    uint32_t size;
    uint32_t capacity;  // buckets actually held; size is the number counted as live (string.cpp)
};

struct VmScratch {
    char* buffer;
    size_t size;
};

// Record of one protected run; the innermost is linked from the state.
struct VmErrorJump {
    VmErrorJump* previous;
    int status;
};

using VmPanicFn = int (*)(ScriptState*);

constexpr int kNumMetaEvents = 23;
enum MetaEvent : int {
    TM_INDEX, TM_NEWINDEX, TM_GC, TM_MODE, TM_EQ, TM_ADD, TM_SUB, TM_MUL, TM_DIV,
    TM_DIVINT, TM_MOD, TM_LSH, TM_RSH, TM_OR, TM_AND, TM_XOR, TM_POW, TM_UNM,
    TM_NOT, TM_LT, TM_LE, TM_CONCAT, TM_CALL,
};

constexpr int kGosubStackSize = 4096;

// A gosub return position and the depth of the frame that pushed it: a frame
// may only return to its own gosubs, and its entries go when it ends.
struct GosubEntry {
    const Instruction* pc;
    int depth;
};

// Freed small blocks kept for reuse, one list per size class (mem.cpp), up
// to a byte bound that follows the live size.
constexpr int kPoolClasses = 32;
struct VmBlockPool {
    void* head[kPoolClasses];
    size_t bytes;  // the capacities of the blocks held
    size_t limit;
};

// Bits of the trap word: non-zero when the interpreter must look before the
// next instruction or at the next call or jump.
constexpr uint32_t kTrapHookBits = 0x0D;  // call, line and count hooks (their mask bits)
constexpr uint32_t kTrapEnd = 0x100;
constexpr uint32_t kTrapInit = 0x200;     // a line or count hook whose tracing has not started

struct VmGlobal {
    VmStringTable strt;
    GCObject* rootgc;      // every collectable object but userdata
    GCObject* rootudata;
    GCObject* tmudata;     // userdata whose finalisers are due
    VmScratch buff;
    size_t GCthreshold;
    size_t nblocks;        // live VM bytes
    VmPanicFn panic;
    ScriptValue registry;
    ScriptValue defaultMeta;
    ScriptState* mainthread;
    VmNode dummynode[1];
    VmString* tmname[kNumMetaEvents];
    // Interpreter values shared by every activation.
    int endFlag;
    int gosubCount;
    GosubEntry* gosubStack;  // kGosubStackSize entries, made on the first gosub

    int currentInstrIndex;
    int labelJumpOffset;
    bool errorHandlerRunning;  // the script's error handler is being called
    size_t memLimit;       // live bytes allowed (0: no limit); guards fuzzing
    // Every growth of nblocks added up, never lowered by a free: what a run
    // allocated in all, which a live limit cannot bound (fuzzing budgets it).
    size_t grownBytes;
    // Collector state beyond the counts above.
    bool gcStress;           // a test mode: every collection check and every growing allocation collects
    bool runningFinalisers;  // the due finalisers are being called
    bool gcRunning;          // a collection is marking or sweeping
    int gcHold;              // windows where the VM's invariants are broken: no collection at allocation
    uint32_t collections;    // full collections so far
    VmBlockPool pool;
};

struct ScriptState : GCObject {
    ScriptValue* top;
    ScriptValue* base;
    VmGlobal* g;
    CallFrame* ci;
    ScriptValue* stack_last;
    ScriptValue* stack;
    int stacksize;
    CallFrame* end_ci;
    CallFrame* base_ci;
    uint16_t size_ci;
    uint16_t nCcalls;
    uint32_t trap;         // non-zero: the interpreter must look before the next instruction
    uint8_t hookmask;
    uint8_t allowhook;
    uint8_t hookinit;
    int basehookcount;
    int hookcount;
    int lineperiod;        // the line hook sees every lineperiod-th line event
    int linecountdown;     // line events until the hook sees the next one
    VmHook hook;
    ScriptValue gt;
    GCObject* openupval;
    GCObject* gclist;
    VmErrorJump* errorJmp;
    ptrdiff_t errfunc;
};

// Limits.
constexpr int kBasicStackSize = 40;
constexpr int kExtraStack = 5;
constexpr int kBasicFrames = 8;
constexpr int kMaxFrames = 4096;
constexpr int kMaxNativeCalls = 200;
constexpr int kMaxFrameSlots = 2048;

// ---- value helpers ----------------------------------------------------------
inline bool IsNil(const ScriptValue* v) { return v->tt == kTypeNil; }
inline bool IsNumber(const ScriptValue* v) { return v->tt == kTypeNumber; }
inline bool IsString(const ScriptValue* v) { return v->tt == kTypeString; }
inline bool IsTable(const ScriptValue* v) { return v->tt == kTypeTable; }
inline bool IsFunction(const ScriptValue* v) { return v->tt == kTypeFunction; }
inline bool IsCollectable(const ScriptValue* v) { return v->tt >= kTypeString; }

inline VmString* StrValue(const ScriptValue* v) { return static_cast<VmString*>(v->value.gc); }
inline VmTable* TableValue(const ScriptValue* v) { return static_cast<VmTable*>(v->value.gc); }
inline VmClosureHeader* ClosureValue(const ScriptValue* v) { return static_cast<VmClosureHeader*>(v->value.gc); }
inline VmUserdata* UdataValue(const ScriptValue* v) { return static_cast<VmUserdata*>(v->value.gc); }
inline ScriptState* ThreadValue(const ScriptValue* v) { return static_cast<ScriptState*>(v->value.gc); }

inline void SetNil(ScriptValue* v) { v->tt = kTypeNil; }
inline void SetNumber(ScriptValue* v, double n) { v->tt = kTypeNumber; v->value.n = n; }
inline void SetBoolean(ScriptValue* v, int b) { v->tt = kTypeBoolean; v->value.b = b ? 1 : 0; }
inline void SetLightUserdata(ScriptValue* v, void* p) { v->tt = kTypeLightUserdata; v->value.p = p; }
inline void SetGCValue(ScriptValue* v, GCObject* o, int tt) { v->tt = tt; v->value.gc = o; }
inline void SetString(ScriptValue* v, VmString* s) { SetGCValue(v, s, kTypeString); }
inline void SetTable(ScriptValue* v, VmTable* t) { SetGCValue(v, t, kTypeTable); }
inline void SetClosure(ScriptValue* v, VmClosureHeader* c) { SetGCValue(v, c, kTypeFunction); }
inline void SetObject(ScriptValue* dst, const ScriptValue* src) { *dst = *src; }
// Copies field by field, as the value was most likely written: one 16-byte
// load of a value stored a moment ago as a tag and a payload cannot take
// them from the store buffer and waits until both reach the cache.
inline void CopyValue(ScriptValue* dst, const ScriptValue* src) {
    dst->value = src->value;
    dst->tt = src->tt;
}

// The shared nil that lookups return for a missing key.
extern const ScriptValue kNilObject;

// Registry layout.
constexpr int kRefFreeListIndex = 1;
constexpr int kSizesTableIndex = 2;
constexpr int kFirstRef = 3;
