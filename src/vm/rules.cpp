// What script values mean in operations: truth, arithmetic and bit patterns,
// equality and order (with the nil rules), concatenation and indexing through
// "__index"/"__newindex" with their redirection limits.
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "core/errcodes.h"
#include "vm/casefold.h"
#include "vm/internal.h"

namespace {

constexpr int kMaxReadRedirects = 101;
constexpr int kMaxWriteRedirects = 100;
constexpr size_t kMaxConcatLength = 4294967293u;

[[noreturn]] void Raise(ScriptState* L, int code) {
    VmRaiseError(L, code);
}

// Metamethods of a table's metatable, skipping the lookup when the metatable
// is known not to have the event.
const ScriptValue* FastTM(ScriptState* L, VmTable* mt, int event) {
    if (mt == nullptr) return nullptr;
    if (event < 8 && (mt->flags & (1u << event))) return nullptr;
    return VmFastMetamethod(mt, event, L->g->tmname[event]);
}

void PushCall(ScriptState* L, const ScriptValue& f, const ScriptValue& a, const ScriptValue& b) {
    VmCheckStackRoom(L, 3);
    L->top[0] = f;
    L->top[1] = a;
    L->top[2] = b;
    L->top += 3;
}

ScriptValue CallTMRes(ScriptState* L, const ScriptValue& f, const ScriptValue& a, const ScriptValue& b) {
    PushCall(L, f, a, b);
    int err = VmCallValue(L, L->top - 3, 1);
    if (err != 0) VmActiveHost.commandError(L, err);
    L->top--;
    return *L->top;
}

void CallTM(ScriptState* L, const ScriptValue& f, const ScriptValue& a, const ScriptValue& b, const ScriptValue& c) {
    VmCheckStackRoom(L, 4);
    L->top[0] = f;
    L->top[1] = a;
    L->top[2] = b;
    L->top[3] = c;
    L->top += 4;
    int err = VmCallValue(L, L->top - 4, 0);
    if (err != 0) VmActiveHost.commandError(L, err);
}

// A metamethod's verdict is false only for nil and the number 0.
bool MetaTruth(const ScriptValue& v) { return !(IsNil(&v) || (IsNumber(&v) && v.value.n == 0)); }

double ArithNumbers(ScriptState* L, int event, double nb, double nc) {
    switch (event) {
        case TM_ADD: return nb + nc;
        case TM_SUB: return nb - nc;
        case TM_MUL: return nb * nc;
        case TM_DIV:
            if (nc == 0) Raise(L, ERR_ZERODIVISION);
            return nb / nc;
        case TM_DIVINT:
        case TM_MOD: {
            // 64-bit so that the one quotient without a 32-bit result
            // (-2147483648 by -1) is simply 2147483648.
            int64_t ib = VmTruncInt32(nb), ic = VmTruncInt32(nc);
            if (ic == 0) Raise(L, ERR_ZERODIVISION);
            return static_cast<double>(event == TM_DIVINT ? ib / ic : ib % ic);
        }
        case TM_LSH: return static_cast<uint32_t>(VmBitPattern(nb) << (VmTruncInt32(nc) & 31));
        case TM_RSH: return VmBitPattern(nb) >> (VmTruncInt32(nc) & 31);
        case TM_OR: return VmBitPattern(nb) | VmBitPattern(nc);
        case TM_AND: return VmBitPattern(nb) & VmBitPattern(nc);
        case TM_XOR: return VmBitPattern(nb) ^ VmBitPattern(nc);
        default: return std::pow(nb, nc);
    }
}

// The metamethod both order operands agree on, or nil.
const ScriptValue* SharedOrderTM(ScriptState* L, const ScriptValue* a, const ScriptValue* b, int event) {
    const ScriptValue* tm1 = VmGetMetamethod(L, a, event);
    if (IsNil(tm1)) return tm1;
    const ScriptValue* tm2 = VmGetMetamethod(L, b, event);
    if (!VmRawEqualObj(tm1, tm2)) return &kNilObject;
    return tm1;
}

[[noreturn]] void MixedKinds(ScriptState* L, const ScriptValue* a, const ScriptValue* b) {
    bool numStr = (IsNumber(a) && IsString(b)) || (IsString(a) && IsNumber(b));
    Raise(L, numStr ? ERR_NUMSTRCMP : ERR_WRONGOP);
}

void FieldNotInitialized(ScriptState* L, const ScriptValue& key) {
    char detail[kVmErrorDetailSize];
    if (IsString(&key)) {
        std::snprintf(detail, sizeof detail, "\"%s\"", VmStrData(StrValue(&key)));
    } else if (IsNumber(&key)) {
        std::snprintf(detail, sizeof detail, "%g", key.value.n);
    } else {
        std::snprintf(detail, sizeof detail, "%s", VmTypeName(L, key.tt));
    }
    VmActiveHost.setErrorDetail(detail);
    Raise(L, ERR_FIELDINIT);
}

}  // namespace

int32_t VmTruncInt32(double x) {
    if (!(x > -2147483649.0 && x < 2147483648.0)) return INT32_MIN;
    return static_cast<int32_t>(x);
}

uint32_t VmBitPattern(double x) {
    if (std::isnan(x)) return 0;
    if (x < 0) return static_cast<uint32_t>(VmTruncInt32(x));
    if (x > 4294967295.0) return 4294967295u;
    return static_cast<uint32_t>(x);
}

bool VmIsFalse(const ScriptValue* o) {
    switch (o->tt) {
        case kTypeNil: return true;
        case kTypeBoolean: return o->value.b == 0;
        case kTypeNumber: return o->value.n == 0;
        case kTypeString: return VmStrData(StrValue(o))[0] == '\0';
        default: return false;
    }
}

ScriptValue VmArith(ScriptState* L, const ScriptValue* rb, const ScriptValue* rc, int event) {
    ScriptValue b = *rb, c = *rc, nb, nc;
    ScriptValue result;
    if (VmToNumberValue(&b, &nb) && VmToNumberValue(&c, &nc)) {
        SetNumber(&result, ArithNumbers(L, event, nb.value.n, nc.value.n));
        return result;
    }
    const ScriptValue* tm = VmGetMetamethod(L, &b, event);
    if (IsNil(tm)) tm = VmGetMetamethod(L, &c, event);
    if (!IsFunction(tm)) Raise(L, ERR_WRONGOP);
    return CallTMRes(L, *tm, b, c);
}

ScriptValue VmUnaryMinus(ScriptState* L, const ScriptValue* rb) {
    ScriptValue b = *rb, n, result;
    if (VmToNumberValue(&b, &n)) {
        SetNumber(&result, -n.value.n);
        return result;
    }
    const ScriptValue* tm = VmGetMetamethod(L, &b, TM_UNM);
    if (!IsFunction(tm)) Raise(L, ERR_WRONGOP);
    return CallTMRes(L, *tm, b, b);
}

ScriptValue VmBitNot(ScriptState* L, const ScriptValue* rb) {
    ScriptValue b = *rb, n, result;
    if (VmToNumberValue(&b, &n)) {
        SetNumber(&result, static_cast<uint32_t>(~VmBitPattern(n.value.n)));
        return result;
    }
    const ScriptValue* tm = VmGetMetamethod(L, &b, TM_NOT);
    if (!IsFunction(tm)) Raise(L, ERR_WRONGOP);
    return CallTMRes(L, *tm, b, b);
}

int VmEqualObj(ScriptState* L, const ScriptValue* pa, const ScriptValue* pb) {
    ScriptValue a = *pa, b = *pb;
    if (IsNil(&a) || IsNil(&b)) {
        if (IsNil(&a) && IsNil(&b)) return 1;
        const ScriptValue& other = IsNil(&a) ? b : a;
        if (IsNumber(&other)) return other.value.n == 0;
        if (IsString(&other)) return VmStrData(StrValue(&other))[0] == '\0';
        return 0;
    }
    if (a.tt != b.tt) MixedKinds(L, &a, &b);
    switch (a.tt) {
        case kTypeNumber: return a.value.n == b.value.n;
        case kTypeBoolean: return a.value.b == b.value.b;
        case kTypeLightUserdata: return a.value.p == b.value.p;
        case kTypeTable:
        case kTypeUserdata: {
            if (a.value.gc == b.value.gc) return 1;
            VmTable* mt1 = VmMetatableOf(L, &a);
            VmTable* mt2 = VmMetatableOf(L, &b);
            const ScriptValue* tm1 = FastTM(L, mt1, TM_EQ);
            if (tm1 == nullptr) return 0;
            const ScriptValue* tm = tm1;
            if (mt1 != mt2) {
                const ScriptValue* tm2 = FastTM(L, mt2, TM_EQ);
                if (tm2 == nullptr || !VmRawEqualObj(tm1, tm2)) return 0;
            }
            return MetaTruth(CallTMRes(L, *tm, a, b)) ? 1 : 0;
        }
        default: return a.value.gc == b.value.gc;
    }
}

int VmStrCompare(const VmString* ls, const VmString* rs, bool noCase) {
    const char* l = VmStrData(ls);
    size_t ll = ls->len;
    const char* r = VmStrData(rs);
    size_t lr = rs->len;
    if (!noCase) {
        // Byte order with a shorter prefix first: what the pieces between
        // embedded zero bytes give, without measuring each piece.
        if (int c = std::memcmp(l, r, ll < lr ? ll : lr)) return c;
        return ll < lr ? -1 : (ll > lr ? 1 : 0);
    }
    for (;;) {
        int temp = noCase ? StrCmpNoCase(l, r) : std::strcmp(l, r);
        if (temp != 0) return temp;
        // Equal up to an embedded zero byte: continue with the next pieces.
        size_t len = std::strlen(l);
        if (len == lr) return (len == ll) ? 0 : 1;
        if (len == ll) return -1;
        len++;
        l += len;
        ll -= len;
        r += len;
        lr -= len;
    }
}

int VmLessThan(ScriptState* L, const ScriptValue* pa, const ScriptValue* pb) {
    ScriptValue a = *pa, b = *pb;
    if (IsNil(&a)) {
        if (IsNumber(&b)) return b.value.n > 0;
        if (IsNil(&b) || IsString(&b)) return 0;
        Raise(L, ERR_WRONGOP);
    }
    if (IsNil(&b)) {
        if (IsNumber(&a)) return a.value.n < 0;
        if (IsString(&a)) return 0;
        Raise(L, ERR_WRONGOP);
    }
    if (a.tt != b.tt) MixedKinds(L, &a, &b);
    if (IsNumber(&a)) return a.value.n < b.value.n;
    if (IsString(&a)) return VmStrCompare(StrValue(&a), StrValue(&b), false) < 0;
    const ScriptValue* tm = SharedOrderTM(L, &a, &b, TM_LT);
    if (IsNil(tm)) Raise(L, ERR_WRONGOP);
    return MetaTruth(CallTMRes(L, *tm, a, b)) ? 1 : 0;
}

int VmLessEqual(ScriptState* L, const ScriptValue* pa, const ScriptValue* pb) {
    ScriptValue a = *pa, b = *pb;
    if (IsNil(&a)) {
        if (IsNil(&b)) return 1;
        if (IsNumber(&b)) return 0 <= b.value.n;
        if (IsString(&b)) return 0;
        Raise(L, ERR_WRONGOP);
    }
    if (IsNil(&b)) {
        if (IsNumber(&a)) return a.value.n <= 0;
        if (IsString(&a)) return 0;
        Raise(L, ERR_WRONGOP);
    }
    if (a.tt != b.tt) MixedKinds(L, &a, &b);
    if (IsNumber(&a)) return a.value.n <= b.value.n;
    if (IsString(&a)) return VmStrCompare(StrValue(&a), StrValue(&b), false) <= 0;
    const ScriptValue* tm = SharedOrderTM(L, &a, &b, TM_LE);
    if (!IsNil(tm)) return MetaTruth(CallTMRes(L, *tm, a, b)) ? 1 : 0;
    tm = SharedOrderTM(L, &b, &a, TM_LT);
    if (IsNil(tm)) Raise(L, ERR_WRONGOP);
    return MetaTruth(CallTMRes(L, *tm, b, a)) ? 0 : 1;
}

// Strings, most operands of a concatenation, are taken without a call.
inline bool ConcatOperand(ScriptState* L, ScriptValue* v) { return IsString(v) || VmToStringValue(L, v); }

void VmConcatRange(ScriptState* L, int total, int last) {
    do {
        ScriptValue* top = L->base + last + 1;
        int n = 2;  // values consumed by this step
        bool ok = ConcatOperand(L, top - 2) && ConcatOperand(L, top - 1);
        if (!ok) {
            ScriptValue x = top[-2], y = top[-1];
            const ScriptValue* tm = VmGetMetamethod(L, &x, TM_CONCAT);
            if (IsNil(tm)) tm = VmGetMetamethod(L, &y, TM_CONCAT);
            if (!IsFunction(tm)) Raise(L, ERR_CONCAT);
            ScriptValue r = CallTMRes(L, *tm, x, y);
            L->base[last - 1] = r;
        } else if (StrValue(top - 1)->len > 0) {
            size_t tl = static_cast<size_t>(StrValue(top - 1)->len) + StrValue(top - 2)->len;
            for (n = 2; n < total && ConcatOperand(L, top - n - 1); n++) {
                tl += StrValue(top - n - 1)->len;
                if (tl > kMaxConcatLength) Raise(L, ERR_INTERNAL);
            }
            if (tl > kMaxConcatLength) Raise(L, ERR_INTERNAL);
            VmString* joined = VmJoinStrings(L, top - n, n, tl);
            top = L->base + last + 1;
            SetString(top - n, joined);
        }
        total -= n - 1;
        last -= n - 1;
    } while (total > 1);
}

ScriptValue VmGetTable(ScriptState* L, const ScriptValue* t, const ScriptValue* key, bool strict) {
    ScriptValue tv = *t, kv = *key;
    bool origTable = IsTable(&tv);
    for (int redirects = 0;;) {
        const ScriptValue* tm;
        if (IsTable(&tv)) {
            VmTable* h = TableValue(&tv);
            const ScriptValue* v = VmTableGet(h, &kv);
            if (!IsNil(v)) return *v;
            tm = FastTM(L, h->metatable, TM_INDEX);
            if (tm == nullptr) break;
        } else {
            tm = VmGetMetamethod(L, &tv, TM_INDEX);
            if (IsNil(tm)) VmRaiseNamed(L, redirects == 0 ? t : &tv, ERR_TABLEDECLA, "{}");
        }
        if (IsFunction(tm)) return CallTMRes(L, *tm, tv, kv);
        if (++redirects > kMaxReadRedirects) {
            VmActiveHost.setErrorDetail("#1");
            Raise(L, ERR_INTERNAL1);
        }
        tv = *tm;
    }
    if (strict && origTable) FieldNotInitialized(L, kv);
    ScriptValue nil;
    SetNil(&nil);
    return nil;
}

void VmSetTable(ScriptState* L, const ScriptValue* t, const ScriptValue* key, const ScriptValue* val) {
    ScriptValue tv = *t, kv = *key, vv = *val;
    for (int redirects = 0;;) {
        const ScriptValue* tm;
        if (IsTable(&tv)) {
            VmTable* h = TableValue(&tv);
            ScriptValue* slot = VmTableSet(L, h, &kv);
            if (!IsNil(slot) || (tm = FastTM(L, h->metatable, TM_NEWINDEX)) == nullptr) {
                *slot = vv;
                return;
            }
        } else {
            tm = VmGetMetamethod(L, &tv, TM_NEWINDEX);
            if (IsNil(tm)) VmRaiseNamed(L, redirects == 0 ? t : &tv, ERR_TABLEDECLA, "{}");
        }
        if (IsFunction(tm)) {
            CallTM(L, *tm, tv, kv, vv);
            return;
        }
        if (++redirects > kMaxWriteRedirects) {
            VmActiveHost.setErrorDetail("#2");
            Raise(L, ERR_INTERNAL1);
        }
        tv = *tm;
    }
}
