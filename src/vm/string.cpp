// Interned strings (one object per distinct byte sequence) and the conversions
// between numbers and strings that arithmetic, concatenation and the argument
// checkers share.
#include <algorithm>
#include <bit>
#include <cmath>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "core/errcodes.h"
#include "vm/internal.h"
#include "vm/stringblock.h"
#include "vm/strtable.h"

const ScriptValue kNilObject = {kTypeNil, {nullptr}};

namespace {

constexpr uint32_t kMaxStringBuckets = 1073741822u;
constexpr size_t kBufferDoublingLimit = 1 << 20;

uint32_t HashBytes(const char* s, size_t len) {
    auto h = static_cast<uint32_t>(len);
    size_t step = (len >> 5) + 1;  // long strings hash a sample of their bytes
    for (size_t i = len; i >= step; i -= step)
        h ^= (h << 5) + (h >> 2) + static_cast<unsigned char>(s[i - 1]);
    return h;
}

constexpr char kDigitPairs[] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

// Number of decimal digits of u (at least 1); u is below 10^19. The bit
// length gives the count or one more, and one comparison decides, without a
// loop over the digits.
int DecimalDigits(uint64_t u) {
    static constexpr uint64_t kPowersOfTen[] = {
        1u, 10u, 100u, 1000u, 10000u, 100000u, 1000000u, 10000000u, 100000000u, 1000000000u,
        10000000000u, 100000000000u, 1000000000000u, 10000000000000u, 100000000000000u,
        1000000000000000u, 10000000000000000u, 100000000000000000u, 1000000000000000000u,
        10000000000000000000u};
    const uint64_t v = u | 1;  // 0 has one digit, like 1; no power of ten is odd
    const int bits = 64 - std::countl_zero(v);
    const int low = (bits * 1233) >> 12;  // 1233 / 4096 is just above log10(2)
    return low + 1 - (v < kPowersOfTen[low] ? 1 : 0);
}

// Writes the digits of u so that they end just before end, two at a time from
// the right. Called with 32-bit values where they fit: dividing those by 100
// is a shorter multiplication.
template <typename Unsigned>
void WriteDigitsBefore(char* end, Unsigned u) {
    char* p = end;
    while (u >= 100) {
        p -= 2;
        std::memcpy(p, &kDigitPairs[2 * (u % 100)], 2);
        u /= 100;
    }
    if (u >= 10) {
        std::memcpy(p - 2, &kDigitPairs[2 * u], 2);
    } else {
        p[-1] = static_cast<char>('0' + u);
    }
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// strtoul(s, end, 16) as it behaves with a 32-bit unsigned long: scripts were
// written against that range, so overflow saturates at 4294967295 and a minus
// sign negates modulo 2^32.
uint32_t StrToU32Hex(const char* s, const char** end) {
    const char* p = s;
    while (std::isspace(static_cast<unsigned char>(*p))) p++;
    bool negative = false;
    if (*p == '+' || *p == '-') negative = (*p++ == '-');
    if (p[0] == '0' && (p[1] == 'x' || p[1] == 'X') && HexDigit(p[2]) >= 0) p += 2;
    const char* digits = p;
    uint64_t v = 0;
    bool overflow = false;
    for (int d; (d = HexDigit(*p)) >= 0; p++) {
        v = (v << 4) | static_cast<uint64_t>(d);
        if (v > 0xFFFFFFFFu) {
            overflow = true;
            v &= 0xFFFFFFFFu;  // keep it bounded; the value is saturated below
        }
    }
    if (p == digits) {
        *end = s;
        return 0;
    }
    *end = p;
    if (overflow) return 0xFFFFFFFFu;
    auto r = static_cast<uint32_t>(v);
    return negative ? 0u - r : r;
}

}  // namespace

// The bucket array is counted as live memory at its nominal size, which
// doubles as strings are added and halves in collections that leave it mostly
// empty. Physically the array keeps its larger size until the nominal one is
// far below it: a script that makes many short-lived strings would otherwise
// rebuild the array twice around every collection, halving it after the sweep
// and doubling it again as the next strings arrive. What is held beyond the
// nominal size is spare room, like the freed blocks the allocator keeps.
namespace {

// The physical array stays below this many times the nominal size; when it
// has to shrink it keeps twice the nominal size, which covers the doubling
// that strings made between two collections bring back.
constexpr uint32_t kMaxSpareFactor = 4;

void Rebucket(ScriptState* L, uint32_t capacity) {
    VmStringTable* tb = &L->g->strt;
    size_t bytes = capacity * sizeof(GCObject*) + VmStringChainWords(capacity) * sizeof(uint64_t);
    VmStringTable fresh{static_cast<GCObject**>(std::calloc(1, bytes)), 0, 0, capacity};
    if (fresh.hash == nullptr) VmThrow(L, ERR_MEM);
    for (uint32_t i = 0; i < tb->capacity; i++) {
        GCObject* p = tb->hash[i];
        while (p != nullptr) {
            GCObject* next = p->next;
            uint32_t b = static_cast<VmString*>(p)->hash & (capacity - 1);
            p->next = fresh.hash[b];
            fresh.hash[b] = p;
            VmStringChainUsed(&fresh, b);
            p = next;
        }
    }
    std::free(tb->hash);
    tb->hash = fresh.hash;
    tb->capacity = capacity;
}

}  // namespace

void VmStringTableInit(ScriptState* L, uint32_t size) {
    VmStringTable* tb = &L->g->strt;
    *tb = VmStringTable{};
    Rebucket(L, size);
    VmCountBytes(L, 0, size * sizeof(GCObject*));
    tb->size = size;
}

// The count comes first, so that the memory limit refuses a doubling before
// anything is allocated. Should the physical array then fail to grow, the
// chains stay where they are, which is still a valid table.
void VmStringTableResize(ScriptState* L, uint32_t newsize) {
    VmStringTable* tb = &L->g->strt;
    VmCountBytes(L, tb->size * sizeof(GCObject*), newsize * sizeof(GCObject*));
    tb->size = newsize;
    if (newsize > tb->capacity)
        Rebucket(L, newsize);
    else if (newsize <= tb->capacity / kMaxSpareFactor)
        Rebucket(L, 2 * newsize);
}

namespace {

// Fills the header of a string whose bytes are in place and enters it into
// the table. Inlined: every new string passes here.
[[gnu::always_inline]] inline void LinkString(ScriptState* L, VmString* ts, uint32_t h, size_t len) {
    VmStringTable* tb = &L->g->strt;
    const uint32_t b = h & (tb->capacity - 1);
    ts->tt = kTypeString;
    ts->marked = 0;
    ts->reserved = 0;
    ts->hash = h;
    ts->len = static_cast<uint32_t>(len);
    VmStrData(ts)[len] = '\0';
    ts->next = tb->hash[b];
    tb->hash[b] = ts;
    VmStringChainUsed(tb, b);
    tb->nuse++;
    if (tb->nuse > tb->size && tb->size <= kMaxStringBuckets) VmStringTableResize(L, tb->size * 2);
}

// Copies n bytes. Most pieces of a new string are short (a number's digits,
// a separator): those are moved in one or two words, overlapping, without
// a call.
[[gnu::always_inline]] inline void CopyBytes(char* dst, const char* src, size_t n) {
    if (n >= 8 && n <= 16) {
        uint64_t head, tail;
        std::memcpy(&head, src, 8);
        std::memcpy(&tail, src + n - 8, 8);
        std::memcpy(dst, &head, 8);
        std::memcpy(dst + n - 8, &tail, 8);
    } else if (n >= 4 && n < 8) {
        uint32_t head, tail;
        std::memcpy(&head, src, 4);
        std::memcpy(&tail, src + n - 4, 4);
        std::memcpy(dst, &head, 4);
        std::memcpy(dst + n - 4, &tail, 4);
    } else if (n > 0 && n < 4) {
        dst[0] = src[0];
        dst[n / 2] = src[n / 2];
        dst[n - 1] = src[n - 1];
    } else if (n > 16) {
        std::memcpy(dst, src, n);
    }
}

// Whether two byte runs of length len are equal. The hash samples only some
// bytes of a longer string, so strings that differ elsewhere (lines of
// numbers that differ in one digit) meet with equal hashes and lengths: their
// first word tells most of them apart without a call.
[[gnu::always_inline]] inline bool SameBytes(const char* a, const char* b, size_t len) {
    if (len >= sizeof(uint64_t)) {
        uint64_t wa, wb;
        std::memcpy(&wa, a, sizeof wa);
        std::memcpy(&wb, b, sizeof wb);
        if (wa != wb) return false;
    }
    return std::memcmp(a, b, len) == 0;
}

// The interned string of these bytes, or null. The stored hash is compared
// first, then the length, then the bytes.
[[gnu::always_inline]] inline VmString* FindString(ScriptState* L, const char* s, size_t len, uint32_t h) {
    const VmStringTable* tb = &L->g->strt;
    for (GCObject* o = tb->hash[h & (tb->capacity - 1)]; o != nullptr; o = o->next) {
        auto* ts = static_cast<VmString*>(o);
        if (ts->hash == h && ts->len == len && SameBytes(s, VmStrData(ts), len)) return ts;
    }
    return nullptr;
}

}  // namespace

VmString* VmNewString(ScriptState* L, const char* s, size_t len) {
    const uint32_t h = HashBytes(s, len);
    if (VmString* found = FindString(L, s, len, h)) return found;
    // The size check of the allocator refuses lengths that do not fit 32 bits.
    size_t size = len < 0xFFFFFFFFu ? sizeof(VmString) + len + 1 : SIZE_MAX;
    auto* ts = static_cast<VmString*>(VmRealloc(L, nullptr, 0, size));
    CopyBytes(VmStrData(ts), s, len);
    LinkString(L, ts, h, len);
    return ts;
}

VmString* VmJoinStrings(ScriptState* L, const ScriptValue* values, int n, size_t len) {
    const size_t size = sizeof(VmString) + len + 1;
    // The pieces are on the stack, so a collection inside the allocation
    // keeps them, and it moves nothing.
    auto* ts = static_cast<VmString*>(VmRealloc(L, nullptr, 0, size));
    char* out = VmStrData(ts);
    for (int j = 0; j < n; j++) {
        const VmString* piece = StrValue(values + j);
        CopyBytes(out, VmStrData(piece), piece->len);
        out += piece->len;
    }
    const uint32_t h = HashBytes(VmStrData(ts), len);
    if (VmString* found = FindString(L, VmStrData(ts), len, h)) {
        VmRealloc(L, ts, size, 0);
        return found;
    }
    LinkString(L, ts, h, len);
    return ts;
}

static_assert(sizeof(VmString) == kVmStringBlockHeader, "a string's bytes follow its header");

VmString* VmAdoptString(ScriptState* L, void* block, size_t len) {
    struct Owner {
        void* p;
        ~Owner() { std::free(p); }
    } owner{block};
    const char* s = static_cast<const char*>(block) + kVmStringBlockHeader;
    // Small blocks are copied: a freed string of a pooled size goes to the
    // pool, which must never be handed a block it did not size.
    constexpr size_t kAdoptMin = 4096;
    static_assert(kAdoptMin > kPoolClasses * 16, "adopted strings are never pooled");
    if (len < kAdoptMin) return VmNewString(L, s, len);
    if (len >= 0xFFFFFFFFu) VmRaiseError(L, ERR_MEM);
    const uint32_t h = HashBytes(s, len);
    if (VmString* found = FindString(L, s, len, h)) return found;
    const size_t size = sizeof(VmString) + len + 1;
    VmCountBytes(L, 0, size);
    // Giving back the unused tail of a large block remaps it, no copy.
    if (void* fitted = std::realloc(block, size)) owner.p = fitted;
    auto* ts = static_cast<VmString*>(owner.p);
    owner.p = nullptr;
    LinkString(L, ts, h, len);
    return ts;
}

bool VmStringToNumber(const char* s, double* result) {
    const char* end = s;
    double value;
    if (s[0] == '0' && s[1] == 'x' && s[2] != '\0') {
        const char* start = s + 2;
        value = StrToU32Hex(start, &end);
        if (end == start) return false;
    } else if (s[0] == '$') {
        const char* start = s + 1;
        value = StrToU32Hex(start, &end);
        if (end == start) return false;
    } else {
        char* e = nullptr;
        value = std::strtod(s, &e);
        end = e;
        if (end == s) return false;
    }
    while (std::isspace(static_cast<unsigned char>(*end))) end++;
    if (*end != '\0') return false;
    *result = value;
    return true;
}

int VmNumberToText(double n, char* buf) {
    // Whole numbers of up to 14 digits print without exponent or fraction
    // under "%.14g"; writing their digits directly spares the formatter,
    // which dominates concatenation of counters. -0 keeps its sign through
    // the formatter.
    if (!(n > -1e14 && n < 1e14) || n != static_cast<double>(static_cast<int64_t>(n)) || (n == 0 && std::signbit(n)))
        return std::snprintf(buf, 32, "%.14g", n);
    auto v = static_cast<int64_t>(n);
    int len = 0;
    if (v < 0) buf[len++] = '-';
    uint64_t u = v < 0 ? static_cast<uint64_t>(-v) : static_cast<uint64_t>(v);
    len += DecimalDigits(u);
    buf[len] = '\0';
    if (u <= UINT32_MAX)
        WriteDigitsBefore(buf + len, static_cast<uint32_t>(u));
    else
        WriteDigitsBefore(buf + len, u);
    return len;
}

bool VmToNumberValue(const ScriptValue* obj, ScriptValue* n) {
    switch (obj->tt) {
    case kTypeNumber: *n = *obj; return true;
    case kTypeNil: SetNumber(n, 0); return true;
    case kTypeString: {
        double d;
        if (!VmStringToNumber(VmStrData(StrValue(obj)), &d)) return false;
        SetNumber(n, d);
        return true;
    }
    default: return false;
    }
}

bool VmToStringValue(ScriptState* L, ScriptValue* obj) {
    switch (obj->tt) {
    case kTypeString: return true;
    case kTypeNil: SetString(obj, VmNewString(L, "", 0)); return true;
    case kTypeNumber: {
        char buf[32];
        int len = VmNumberToText(obj->value.n, buf);
        SetString(obj, VmNewString(L, buf, static_cast<size_t>(len)));
        return true;
    }
    default: return false;
    }
}

bool VmRawEqualObj(const ScriptValue* a, const ScriptValue* b) {
    if (a->tt != b->tt) return false;
    switch (a->tt) {
    case kTypeNil: return true;
    case kTypeNumber: return a->value.n == b->value.n;
    case kTypeBoolean: return a->value.b == b->value.b;
    case kTypeLightUserdata: return a->value.p == b->value.p;
    default: return a->value.gc == b->value.gc;
    }
}

char* VmBufferReserve(ScriptState* L, size_t n) {
    VmScratch* buff = &L->g->buff;
    if (n > buff->size) {
        // Moderate sizes at least double: strings of growing lengths, one
        // after another, would otherwise resize the buffer at every step.
        size_t newsize = std::max(n, size_t{32});
        if (buff->size < kBufferDoublingLimit) newsize = std::max(newsize, 2 * buff->size);
        buff->buffer = VmResizeVector(L, buff->buffer, buff->size, newsize);
        buff->size = newsize;
    }
    return buff->buffer;
}
