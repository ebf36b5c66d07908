// Tests of the precompiled chunk loader and the code checker: chunks are built
// byte by byte in either byte order, prototypes for the checker by hand.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "core/errcodes.h"
#include "vm/internal.h"
#include "vm_fixture.h"

namespace {

// ---- chunk building -------------------------------------------------------------

class Bytes {
public:
    explicit Bytes(bool bigEndian = false) : bigEndian_(bigEndian) {}

    Bytes& Byte(uint8_t b) {
        data_.push_back(static_cast<char>(b));
        return *this;
    }
    Bytes& Word(uint32_t w) { return Scalar(w, 4); }
    Bytes& Int(int32_t v) { return Word(static_cast<uint32_t>(v)); }
    Bytes& Number(double d) { return Scalar(std::bit_cast<uint64_t>(d), 8); }
    Bytes& Text(std::string_view s) {
        data_.append(s);
        return *this;
    }
    Bytes& String(std::string_view s) {
        Word(static_cast<uint32_t>(s.size() + 1));
        data_.append(s);
        return Byte(0);
    }
    Bytes& NoString() { return Word(0); }

    // The header with the test number and order byte open to variation.
    Bytes& Header(double testNumber = kChunkTestNumber, std::optional<uint8_t> order = std::nullopt) {
        for (unsigned char c : kChunkSignature) Byte(c);
        Byte(order ? *order : (bigEndian_ ? 0 : 1));
        for (unsigned char c : kChunkSizes) Byte(c);
        return Number(testNumber);
    }

    const std::string& str() const { return data_; }
    size_t size() const { return data_.size(); }

private:
    Bytes& Scalar(uint64_t v, int n) {
        for (int i = 0; i < n; ++i) {
            int shift = bigEndian_ ? (n - 1 - i) * 8 : i * 8;
            Byte(static_cast<uint8_t>(v >> shift));
        }
        return *this;
    }

    bool bigEndian_;
    std::string data_;
};

struct LocalDesc {
    std::string name;
    int32_t startpc;
    int32_t endpc;
};
using ConstDesc = std::variant<std::monostate, double, std::string>;

struct FuncDesc {
    std::optional<std::string> source;
    int32_t lineDefined = 0;
    uint8_t nups = 0, numparams = 0, isVararg = 0, maxStack = 2;
    std::vector<int32_t> lines;
    std::vector<LocalDesc> locals;
    std::vector<std::string> upvalueNames;
    std::vector<ConstDesc> constants;
    std::vector<FuncDesc> nested;
    std::vector<Instruction> code = {CreateABC(OP_RETURN, 0, 1, 0)};
};

void WriteFunction(Bytes& out, const FuncDesc& f) {
    if (f.source) out.String(*f.source); else out.NoString();
    out.Int(f.lineDefined).Byte(f.nups).Byte(f.numparams).Byte(f.isVararg).Byte(f.maxStack);
    out.Int(static_cast<int32_t>(f.lines.size()));
    for (int32_t l : f.lines) out.Int(l);
    out.Int(static_cast<int32_t>(f.locals.size()));
    for (const auto& v : f.locals) out.String(v.name).Int(v.startpc).Int(v.endpc);
    out.Int(static_cast<int32_t>(f.upvalueNames.size()));
    for (const auto& n : f.upvalueNames) out.String(n);
    out.Int(static_cast<int32_t>(f.constants.size()));
    for (const auto& c : f.constants) {
        if (std::holds_alternative<double>(c)) out.Byte(3).Number(std::get<double>(c));
        else if (std::holds_alternative<std::string>(c)) out.Byte(4).String(std::get<std::string>(c));
        else out.Byte(0);
    }
    out.Int(static_cast<int32_t>(f.nested.size()));
    for (const auto& n : f.nested) WriteFunction(out, n);
    out.Int(static_cast<int32_t>(f.code.size()));
    for (Instruction i : f.code) out.Word(i);
}

std::string Chunk(const FuncDesc& f, bool bigEndian = false) {
    Bytes b(bigEndian);
    b.Header();
    WriteFunction(b, f);
    return b.str();
}

// A main function using every part of the record.
FuncDesc RichFunction() {
    FuncDesc inner;
    inner.lineDefined = 3;
    inner.nups = 1;
    inner.numparams = 1;
    inner.maxStack = 3;
    inner.upvalueNames = {"up"};
    inner.code = {CreateABC(OP_GETUPVAL, 1, 0, 0), CreateABC(OP_RETURN, 1, 2, 0)};
    inner.lines = {4, 5};

    FuncDesc f;
    f.source = "@demo.qbs";
    f.maxStack = 4;
    f.isVararg = 1;
    f.lines = {1, 2, 2, 6, 7};
    f.locals = {{"x", 1, 5}, {"fn", 3, 5}};
    f.constants = {std::monostate{}, 2.5, std::string("print")};
    f.nested = {inner};
    f.code = {
        CreateABx(OP_LOADK, 1, 1),
        CreateABx(OP_GETGLOBAL, 2, 2),
        CreateABx(OP_CLOSURE, 3, 0),
        CreateABC(OP_MOVE, 0, 1, 0),
        CreateABC(OP_RETURN, 0, 1, 0),
    };
    return f;
}

// ---- loading through the VM --------------------------------------------------

struct StreamSource {
    const std::string* bytes;
    size_t pos;
    size_t block;
};

const char* ReadBlocks(ScriptState*, void* ud, size_t* size) {
    auto* s = static_cast<StreamSource*>(ud);
    *size = std::min(s->block, s->bytes->size() - s->pos);
    const char* p = s->bytes->data() + s->pos;
    s->pos += *size;
    return p;
}

class UndumpTest : public vmtest::NativeFixture {
protected:

    // Loads through a reader of unknown size, `block` bytes per call.
    int LoadStream(const std::string& bytes, size_t block = 1 << 20) {
        VmSetTop(L, 0);
        StreamSource src{&bytes, 0, block};
        return VmLoad(L, ReadBlocks, &src, "test");
    }
    int LoadWhole(const std::string& bytes) {
        VmSetTop(L, 0);
        return VmLoadBuffer(L, bytes.data(), bytes.size(), "test");
    }
    // Both kinds of source must come to the same verdict.
    int Load(const std::string& bytes) {
        int streamed = LoadStream(bytes);
        int whole = LoadWhole(bytes);
        EXPECT_EQ(streamed, whole);
        return whole;
    }
    const ScriptProto* Loaded() {
        EXPECT_EQ(VmGetTop(L), 1);
        auto* cl = static_cast<VmScriptClosure*>(ClosureValue(L->top - 1));
        return cl->p;
    }
};

std::string Text(const VmString* s) { return s ? std::string(VmStrData(s), s->len) : "<none>"; }

// The loaded prototype written back by the dumper (in the host's order).
std::string Dumped(ScriptState* L, const ScriptProto* p) {
    std::string out;
    VmDump(
        L, p,
        [](ScriptState*, const void* bytes, size_t size, void* ud) {
            static_cast<std::string*>(ud)->append(static_cast<const char*>(bytes), size);
            return 0;
        },
        &out);
    return out;
}

// ---- records ---------------------------------------------------------------------

TEST_F(UndumpTest, LoadsEveryPartOfARecordFromBlocksOfAnySize) {
    const std::string good = Chunk(RichFunction());
    ASSERT_EQ(Load(good), 0);
    const ScriptProto* p = Loaded();
    EXPECT_EQ(Text(p->source), "@demo.qbs");
    EXPECT_EQ(p->sizecode, 5);
    EXPECT_EQ(p->lineinfo[3], 6);
    ASSERT_EQ(p->sizek, 3);
    EXPECT_TRUE(IsNil(&p->k[0]));
    EXPECT_EQ(p->k[1].value.n, 2.5);
    EXPECT_EQ(Text(StrValue(&p->k[2])), "print");
    ASSERT_EQ(p->sizelocvars, 2);
    EXPECT_EQ(Text(p->locvars[1].varname), "fn");
    EXPECT_EQ(p->locvars[1].startpc, 3);
    EXPECT_EQ(p->is_vararg, 1);
    ASSERT_EQ(p->sizep, 1);
    EXPECT_EQ(Text(p->p[0]->upvalues[0]), "up");
    EXPECT_EQ(p->p[0]->lineDefined, 3);
    for (size_t block : {size_t{1}, size_t{3}, size_t{7}}) {
        ASSERT_EQ(LoadStream(good, block), 0);
        EXPECT_EQ(Dumped(L, Loaded()), good) << block;
    }
    for (size_t n = 0; n < good.size(); ++n) ASSERT_EQ(Load(good.substr(0, n)), ERR_UNEXPECTEDEOF) << "cut at " << n;
}

TEST_F(UndumpTest, BigEndianTwinsLoadTheSamePrototype) {
    const std::string little = Chunk(RichFunction());
    ASSERT_EQ(LoadWhole(Chunk(RichFunction(), true)), 0);
    EXPECT_EQ(Dumped(L, Loaded()), little);
    // Any order byte but 1 means big-endian.
    Bytes odd(true);
    odd.Header(kChunkTestNumber, 7);
    WriteFunction(odd, RichFunction());
    ASSERT_EQ(Load(odd.str()), 0);
    EXPECT_EQ(Dumped(L, Loaded()), little);
}

TEST_F(UndumpTest, HeaderFaults) {
    auto withNumber = [](double n) {
        Bytes b;
        b.Header(n);
        WriteFunction(b, FuncDesc{});
        return b.str();
    };
    std::string sizes = Chunk(FuncDesc{});
    sizes[5 + sizeof kChunkSizes - 1] += 1;  // each size byte is compared
    const struct {
        std::string bytes;
        int code;
    } cases[] = {
        {"", ERR_UNEXPECTEDEOF},
        {"\x1bQB", ERR_UNEXPECTEDEOF},
        {"\x1bQBX", ERR_BADSIGNATURE},
        {"p", ERR_BADSIGNATURE},  // a text script is foreign data, even a short one
        {sizes, ERR_VMMISMATCH},
        {withNumber(31415926.9), 0},  // the test number is truncated
        {withNumber(31415927.0), ERR_UNKNUMFMT},
        {withNumber(31415925.999), ERR_UNKNUMFMT},
        {withNumber(-31415926.5), ERR_UNKNUMFMT},
        {withNumber(std::numeric_limits<double>::quiet_NaN()), ERR_UNKNUMFMT},
        {withNumber(1e300), ERR_UNKNUMFMT},
    };
    for (const auto& c : cases) EXPECT_EQ(Load(c.bytes), c.code) << testing::PrintToString(c.bytes);
}

// A main function's record up to its line-info count, with nothing in it.
Bytes BareHead() {
    Bytes b;
    b.Header().NoString().Int(0).Byte(0).Byte(0).Byte(0).Byte(2);
    return b;
}

TEST_F(UndumpTest, RecordFaults) {
    FuncDesc negLine;
    negLine.lineDefined = -1;
    FuncDesc negLocal;
    negLocal.locals = {{"x", -2, 1}};
    FuncDesc lines;
    lines.lines = {-5};  // line numbers are not counts: any value goes
    FuncDesc someNames, allNames;
    someNames.nested = {FuncDesc{}};
    someNames.nested[0].nups = 2;
    someNames.nested[0].upvalueNames = {"a"};
    allNames = someNames;
    allNames.nested[0].upvalueNames = {"a", ""};  // size 1: an empty name is still a name
    FuncDesc badType;
    badType.constants = {1.0};
    std::string badTypeBytes = Chunk(badType);
    badTypeBytes[badTypeBytes.size() - 8 - 4 - 8 - 1] = 5;  // the type byte before the number
    FuncDesc noReturn;
    noReturn.code = {CreateABC(OP_RETURN, 0, 1, 0), CreateABC(OP_MOVE, 0, 1, 0)};
    FuncDesc nestedNoReturn;
    nestedNoReturn.nested = {noReturn};
    FuncDesc mainUps;
    mainUps.nups = 1;
    const Instruction ret = CreateABC(OP_RETURN, 0, 1, 0);
    const struct {
        const char* what;
        std::string bytes;
        int code;
    } cases[] = {
        {"negative line defined", Chunk(negLine), ERR_BADINTEGER},
        {"negative local start", Chunk(negLocal), ERR_BADINTEGER},
        {"negative count", BareHead().Int(-1).str(), ERR_BADINTEGER},
        {"negative line", Chunk(lines), 0},
        {"some upvalue names", Chunk(someNames), ERR_BADUPVALUES},
        {"all upvalue names", Chunk(allNames), 0},
        {"constant type 5", badTypeBytes, ERR_BADCONSTANT},
        {"string constant of size 0",
         BareHead().Int(0).Int(0).Int(0).Int(1).Byte(4).NoString().Int(0).Int(1).Word(ret).str(), ERR_BADCONSTANT},
        {"local without a name", BareHead().Int(0).Int(1).NoString().Int(0).Int(1).Int(0).Int(0).Int(0).Int(1).Word(ret).str(),
         ERR_BADBYTECODE},
        {"upvalue without a name",
         BareHead().Int(0).Int(0).Int(0).Int(0).Int(1).NoString().Int(1).Byte(1).Byte(0).Byte(0).Byte(2)
             .Int(0).Int(0).Int(1).NoString().Text(std::string(16, '\0')).str(),
         ERR_BADBYTECODE},
        {"checker fault", Chunk(noReturn), ERR_BADBYTECODE},
        {"checker fault in a nested function", Chunk(nestedNoReturn), ERR_BADBYTECODE},
        {"main function with upvalues", Chunk(mainUps), ERR_BADBYTECODE},
    };
    for (const auto& c : cases) EXPECT_EQ(Load(c.bytes), c.code) << c.what;

    // Embedded zero bytes belong to a string constant; the terminator does not.
    FuncDesc s;
    s.constants = {std::string("a\0b", 3)};
    ASSERT_EQ(Load(Chunk(s)), 0);
    EXPECT_EQ(Text(StrValue(&Loaded()->k[0])), std::string("a\0b", 3));
}

TEST_F(UndumpTest, NestedFunctionsInheritAnAbsentSource) {
    FuncDesc f;
    f.source = "=parent";
    f.nested = {FuncDesc{}, FuncDesc{}};
    f.nested[1].source = "=own";
    f.nested[0].nested = {FuncDesc{}};
    ASSERT_EQ(Load(Chunk(f)), 0);
    const ScriptProto* p = Loaded();
    EXPECT_EQ(p->p[0]->source, p->source);  // the very same string
    EXPECT_EQ(p->p[0]->p[0]->source, p->source);
    EXPECT_EQ(Text(p->p[1]->source), "=own");
}

TEST_F(UndumpTest, NestingDepthIsBounded) {
    // Written iteratively: a recursive writer of this depth would itself
    // exhaust the test's stack under the sanitizers.
    auto chain = [](int depth) {
        Bytes b;
        b.Header();
        for (int i = 0; i < depth; ++i) {
            b.NoString().Int(i == 0 ? 0 : 1).Byte(0).Byte(0).Byte(0).Byte(2);
            b.Int(0).Int(0).Int(0).Int(0).Int(1);  // no lines, locals, upvalues, constants; one nested
        }
        b.NoString().Int(1).Byte(0).Byte(0).Byte(0).Byte(2);
        b.Int(0).Int(0).Int(0).Int(0).Int(0).Int(1).Word(CreateABC(OP_RETURN, 0, 1, 0));
        for (int i = 0; i < depth; ++i) b.Int(1).Word(CreateABC(OP_RETURN, 0, 1, 0));
        return b.str();
    };
    EXPECT_EQ(Load(chain(200)), 0);
    EXPECT_EQ(Load(chain(201)), ERR_BADBYTECODE);
    EXPECT_EQ(Load(chain(5000)), ERR_BADBYTECODE);
}

// ---- hostile counts ----------------------------------------------------------------

// Builds a record whose count at `field` (0 line info, 1 locals, 2 constants,
// 3 nested, 4 code) is huge while only a few bytes follow. The filler reads
// as well-formed elements (nils, or strings too long to arrive), so that a
// reader that grows as it goes meets the end of input too.
std::string HugeCount(int field, int32_t count) {
    constexpr int kConstantsField = 2;
    Bytes b;
    b.Header().NoString().Int(0).Byte(0).Byte(0).Byte(0).Byte(2);
    int before = field + (field >= kConstantsField ? 1 : 0);  // upvalue names precede constants
    for (int i = 0; i < before; ++i) b.Int(0);
    b.Int(count);
    for (int i = 0; i < 16; ++i) b.Byte(field == kConstantsField ? 0 : 1);
    return b.str();
}

TEST_F(UndumpTest, HugeCountsFailFastWithoutHugeAllocations) {
    for (int field = 0; field < 5; ++field) {
        std::string bytes = HugeCount(field, std::numeric_limits<int32_t>::max());
        EXPECT_EQ(LoadWhole(bytes), ERR_UNEXPECTEDEOF) << field;
        EXPECT_EQ(LoadStream(bytes), ERR_UNEXPECTEDEOF) << field;
        EXPECT_EQ(LoadStream(bytes, 1), ERR_UNEXPECTEDEOF) << field;
    }
    // A string whose size claims 4 GiB.
    Bytes s;
    s.Header().Word(0xFFFFFFFFu).Text("abc");
    EXPECT_EQ(Load(s.str()), ERR_UNEXPECTEDEOF);
}

TEST_F(UndumpTest, LongStreamsGrowTheirArrays) {
    FuncDesc f;
    f.constants.assign(3000, std::monostate{});
    f.constants[2999] = std::string(200000, 'x');
    f.lines.assign(1000, 9);
    f.code.assign(999, CreateABC(OP_MOVE, 0, 1, 0));
    f.code.push_back(CreateABC(OP_RETURN, 0, 1, 0));
    std::string bytes = Chunk(f);
    ASSERT_EQ(LoadStream(bytes, 4096), 0);
    const ScriptProto* p = Loaded();
    EXPECT_EQ(p->sizek, 3000);
    EXPECT_EQ(p->sizecode, 1000);
    EXPECT_EQ(p->sizelineinfo, 1000);
    EXPECT_EQ(StrValue(&p->k[2999])->len, 200000u);
    EXPECT_EQ(LoadStream(bytes.substr(0, bytes.size() - 100000), 4096), ERR_UNEXPECTEDEOF);
}

// ---- the checker on hand-built prototypes -------------------------------------------

struct ProtoBuilder {
    std::vector<Instruction> code;
    std::vector<ScriptValue> k;
    std::vector<ScriptProto> nestedStore;
    std::vector<ScriptProto*> nested;
    std::vector<Instruction> nestedCode{CreateABC(OP_RETURN, 0, 1, 0)};
    ScriptProto p{};

    explicit ProtoBuilder(std::vector<Instruction> c, int maxStack = 4) : code(std::move(c)) {
        p.maxstacksize = static_cast<uint8_t>(maxStack);
    }
    ProtoBuilder& Number(double n) {
        ScriptValue v{};
        SetNumber(&v, n);
        k.push_back(v);
        return *this;
    }
    ProtoBuilder& Str() {  // the checker only looks at the tag
        ScriptValue v{};
        v.tt = kTypeString;
        k.push_back(v);
        return *this;
    }
    ProtoBuilder& Nested(int nups) {
        ScriptProto n{};
        n.nups = static_cast<uint8_t>(nups);
        n.maxstacksize = 2;
        nestedStore.push_back(n);
        return *this;
    }
    const ScriptProto* Get() {
        nested.clear();
        for (auto& n : nestedStore) {
            n.code = nestedCode.data();
            n.sizecode = 1;
            nested.push_back(&n);
        }
        p.code = code.data();
        p.sizecode = static_cast<int32_t>(code.size());
        p.k = k.data();
        p.sizek = static_cast<int32_t>(k.size());
        p.p = nested.data();
        p.sizep = static_cast<int32_t>(nested.size());
        return &p;
    }
    bool Check(bool topLevel = false) { return VmCheckCode(Get(), topLevel); }
};

constexpr Instruction kRet = CreateABC(OP_RETURN, 0, 1, 0);

TEST(CheckCode, FrameShapeAndEnding) {
    EXPECT_TRUE(ProtoBuilder({kRet}, 250).Check());
    EXPECT_FALSE(ProtoBuilder({kRet}, 251).Check());
    EXPECT_FALSE(ProtoBuilder({}).Check());
    EXPECT_FALSE(ProtoBuilder({kRet, CreateABC(OP_MOVE, 0, 1, 0)}).Check());

    ProtoBuilder lines({kRet, kRet});
    std::vector<int32_t> info{1, 2, 3};
    lines.p.lineinfo = info.data();
    lines.p.sizelineinfo = 1;
    EXPECT_FALSE(lines.Check());
    lines.p.sizelineinfo = 2;
    EXPECT_TRUE(lines.Check());

    ProtoBuilder params({kRet}, 3);
    params.p.numparams = 3;
    EXPECT_TRUE(params.Check());
    params.p.is_vararg = 1;  // the table of extra arguments needs a register too
    EXPECT_FALSE(params.Check());

    ProtoBuilder top({kRet});
    top.p.nups = 1;
    EXPECT_TRUE(top.Check(false));
    EXPECT_FALSE(top.Check(true));
}

// One instruction followed by enough RETURNs for any skip it makes, in a
// frame of 4 registers with a number and a string constant, a nested
// prototype and two upvalues.
TEST(CheckCode, OperandsStayInsideFrameConstantsAndCode) {
    const struct {
        Instruction i;
        bool ok;
    } ones[] = {
        {CreateABC(OP_MOVE, 3, 0, 0), true},     {CreateABC(OP_MOVE, 4, 0, 0), false},
        {CreateABC(OP_MOVE, 0, 4, 0), false},    {CreateABC(OP_ADD, 0, 251, 3), true},
        {CreateABC(OP_ADD, 0, 252, 0), false},   // constant 2 does not exist
        {CreateABC(OP_ADD, 0, 0, 249), false},   // neither register nor constant
        {CreateABC(OP_SETTABLE, 0, 4, 0), false}, {CreateABx(OP_LOADK, 0, 2), false},
        {CreateABx(OP_SETGLOBAL, 0, 1), true},   {CreateABx(OP_SETGLOBAL, 0, 0), false},  // a number names no global
        {CreateABC(OP_GETUPVAL, 0, 1, 0), true}, {CreateABC(OP_SETUPVAL, 0, 2, 0), false},
        {CreateABC(kNumOpcodes, 0, 0, 0), false}, {CreateABC(63, 0, 0, 0), false},
        // CALL: arguments up to A+B-1, results up to A+C-2.
        {CreateABC(OP_CALL, 1, 3, 4), true},     {CreateABC(OP_CALL, 1, 4, 1), false},
        {CreateABC(OP_CALL, 1, 1, 5), false},
        // RETURN: only the gosub return (C = 1) is exempt.
        {CreateABC(OP_RETURN, 2, 3, 0), true},   {CreateABC(OP_RETURN, 2, 4, 0), false},
        {CreateABC(OP_RETURN, 2, 4, 2), false},  {CreateABC(OP_RETURN, 2, 400, 1), true},
        {CreateABC(OP_CONCAT, 0, 1, 3), true},   {CreateABC(OP_CONCAT, 0, 3, 3), false},
        {CreateABC(OP_CONCAT, 0, 1, 4), false},  {CreateABC(OP_CONCAT, 0, 1, 251), false},
        {CreateABx(OP_SETLIST, 0, 64 + 2), true}, {CreateABx(OP_SETLIST, 0, 3), false},
        {CreateABx(OP_SETLISTO, 1, 2), false},   {CreateABC(OP_SELF, 2, 0, 251), true},
        {CreateABC(OP_SELF, 3, 0, 251), false},
        // NEWTABLE: at most 2^24 slots in either part.
        {CreateABC(OP_NEWTABLE, 0, (24 << 3) | 1, 24), true}, {CreateABC(OP_NEWTABLE, 0, (24 << 3) | 2, 0), false},
        {CreateABC(OP_NEWTABLE, 0, (63 << 3) | 7, 0), false}, {CreateABC(OP_NEWTABLE, 0, 63 << 3, 0), true},
        {CreateABC(OP_NEWTABLE, 0, 0, 25), false},
    };
    for (const auto& c : ones) {
        ProtoBuilder b({c.i, kRet, kRet});
        b.Number(1).Str();
        b.Nested(0);
        b.p.nups = 2;
        EXPECT_EQ(b.Check(), c.ok) << std::hex << c.i;
    }

    const struct {
        std::vector<Instruction> code;
        int maxStack;
        bool ok;
    } runs[] = {
        // A test needs a JMP next and one more instruction after it.
        {{CreateABC(OP_EQ, 0, 0, 1), CreateJ(0, 0), kRet}, 4, true},
        {{CreateABC(OP_EQ, 0, 0, 1), kRet, kRet}, 4, false},
        {{kRet, CreateABC(OP_TEST, 0, 0, 1), kRet}, 4, false},
        {{CreateABC(OP_LOADBOOL, 0, 1, 1), kRet}, 4, false},
        {{CreateJ(1, 0), kRet, kRet}, 4, true},
        {{kRet, CreateJ(-2, 0), kRet}, 4, true},
        {{CreateJ(2, 0), kRet}, 4, false},
        {{CreateJ(-2, 2), kRet}, 4, false},
        {{CreateJ(0, 3), kRet}, 1, true},  // a JMP's high offset bits are no register
        {{kRet, CreateAsBx(OP_FORLOOP, 0, -2), kRet}, 3, true},
        {{kRet, CreateAsBx(OP_FORLOOP, 0, -3), kRet}, 3, false},
        {{kRet, CreateAsBx(OP_FORLOOP, 0, 1), kRet}, 3, false},
        {{kRet, CreateAsBx(OP_FORLOOP, 1, -2), kRet}, 3, false},
        {{CreateAsBx(OP_TFORPREP, 0, 0), kRet}, 2, true},
        {{CreateAsBx(OP_TFORPREP, 0, 1), kRet}, 2, false},
        {{CreateAsBx(OP_TFORPREP, 1, 0), kRet}, 2, false},
        // TFORLOOP with C: results up to A+C+2, its call from A+C+3 to A+C+5.
        {{CreateABC(OP_TFORLOOP, 0, 0, 1), CreateJ(0, 0), kRet}, 7, true},
        {{CreateABC(OP_TFORLOOP, 0, 0, 1), CreateJ(0, 0), kRet}, 6, false},
        {{CreateABC(OP_TFORLOOP, 0, 0, 400), CreateJ(0, 0), kRet}, 250, false},
        // An open call's results (C = 0) must be taken by the next instruction.
        {{CreateABC(OP_CALL, 0, 1, 0), CreateABC(OP_MOVE, 0, 1, 0), kRet}, 4, false},
        {{CreateABC(OP_CALL, 0, 1, 0), CreateABC(OP_RETURN, 0, 0, 0)}, 4, true},
        {{CreateABC(OP_CALL, 0, 1, 0), CreateABC(OP_RETURN, 0, 2, 0)}, 4, false},
        {{CreateABC(OP_TAILCALL, 0, 0, 0), CreateABx(OP_SETLISTO, 0, 0), kRet}, 4, true},
    };
    for (size_t i = 0; i < std::size(runs); i++)
        EXPECT_EQ(ProtoBuilder(runs[i].code, runs[i].maxStack).Check(), runs[i].ok) << "run " << i;
}

TEST(CheckCode, ClosureUpvalueLists) {
    auto closure = [](std::vector<Instruction> code, int nups) {
        ProtoBuilder b(std::move(code));
        b.Nested(nups);
        b.p.nups = 1;
        return b.Check();
    };
    EXPECT_TRUE(closure({CreateABx(OP_CLOSURE, 0, 0), CreateABC(OP_MOVE, 0, 1, 0),
                         CreateABC(OP_GETUPVAL, 0, 0, 0), kRet}, 2));
    EXPECT_FALSE(closure({CreateABx(OP_CLOSURE, 0, 1), kRet}, 0));  // no such prototype
    EXPECT_FALSE(closure({CreateABx(OP_CLOSURE, 0, 0), CreateABC(OP_MOVE, 0, 1, 0), kRet}, 2));
    EXPECT_FALSE(closure({CreateABx(OP_CLOSURE, 0, 0), CreateABC(OP_LOADNIL, 0, 0, 0), kRet}, 1));
}

}  // namespace
