// GetAttribute: the general rules (argument count, ATTRCOUNT, plugin types,
// unknown attributes) over the table of per-type rows.
#include "draw/attributes.h"

#include <array>
#include <map>

#include "core/argapi.h"
#include "core/errcodes.h"
#include "core/errors.h"
#include "core/numbers.h"

namespace {

struct AttributeTable {
    std::array<std::array<AttributeGetter, kAttrSlots>, kFirstPluginObjectType> rows{};
    std::array<AttributeLookup, kFirstPluginObjectType> lookups{};
    std::array<int (*)(), kFirstPluginObjectType> counters{};
    std::map<int32_t, AttributeTypeHook> pluginHooks;
};

AttributeTable& Table() {
    static AttributeTable table;
    return table;
}

bool BuiltIn(int32_t type) { return type >= 1 && type < kFirstPluginObjectType; }

// The lookup errors of the built-in types (0: the number names no type).
int LookupErrorOf(int32_t type) {
    switch (type) {
    case 1: return ERR_FINDBGPIC;
    case 2: return ERR_FINDSAMPLE;
    case 3: return ERR_FINDBRUSH;
    case 4: return ERR_FINDANIM;
    case 8: return ERR_FINDTEXTOBJECT;
    case 21: return ERR_FINDDISPLAY;
    case 32: return ERR_FINDSPRITE;
    case 33: return ERR_FINDMUSIC;
    case 35: return ERR_FINDCLIPREGION;
    case 36: return ERR_FINDPOINTER;
    case 37: return ERR_FINDASYNCDRAW;
    case 39: return ERR_FINDMEMBLK;
    case 41: return ERR_FINDINTERVAL;
    case 42: return ERR_FINDTIMEOUT;
    case 43: return ERR_FINDFONT;
    case 44: return ERR_FINDFILE;
    case 45: return ERR_FINDDIR;
    case 49: return ERR_FINDPATH;
    case 50: return ERR_FINDVIDEO;
    case 51: return ERR_FINDMOVE;
    case 52: return ERR_FINDANIMSTREAM;
    case 53: return ERR_FINDTIMER;
    case 54: return ERR_FINDCLIENT;
    case 55: return ERR_FINDSERVER;
    case 56: return ERR_FINDUDPOBJECT;
    case 57: return ERR_FINDMENU;
    default: return 0;
    }
}

// A type without a lookup of its own: any registered object of the type.
int RegistryLookup(ScriptState* L, int32_t type, int idx, void** out) {
    const ObjectID id = GetObjectIDArg(L, idx);
    if (qbObject* o = FindObjectByID(type, id)) {
        *out = o;
        return 0;
    }
    SetErrorArgIndex(id.number);
    return TypeLookupError(type);
}

int Count(int32_t type) {
    if (BuiltIn(type) && Table().counters[type]) return Table().counters[type]();
    return CountObjectsOfType(type);
}

}  // namespace

void SetAttributeLookup(int32_t type, AttributeLookup lookup) {
    if (BuiltIn(type)) Table().lookups[type] = lookup;
}

void AddAttributeRows(const qbAttributeRow* rows, size_t count) {
    for (size_t i = 0; i < count; ++i)
        if (BuiltIn(rows[i].type) && rows[i].attribute >= 0 && rows[i].attribute < kAttrSlots)
            Table().rows[rows[i].type][rows[i].attribute] = rows[i].get;
}

bool HasAttributeRow(int32_t type, int32_t attribute) {
    return BuiltIn(type) && attribute >= 0 && attribute < kAttrSlots && Table().rows[type][attribute];
}

void SetAttributeCounter(int32_t type, int (*count)()) {
    if (BuiltIn(type)) Table().counters[type] = count;
}

void SetAttributeTypeHook(int32_t type, AttributeTypeHook hook) {
    if (type < kFirstPluginObjectType) return;
    if (hook) Table().pluginHooks[type] = hook;
    else Table().pluginHooks.erase(type);
}

int TypeLookupError(int32_t type) {
    const int err = LookupErrorOf(type);
    return err ? err : ERR_WRONGUSAGE;
}

int cmdGetAttribute(ScriptState* L) {
    CheckArgCount(L, 3, 4, 0, 0);
    const int32_t type = ClampToInt32(VmCheckNumber(L, 1));
    const int32_t attribute = ClampToInt32(VmCheckNumber(L, 3));
    if (type < 1) return ERR_WRONGUSAGE;
    if (!BuiltIn(type)) {
        if (attribute == kAttrCount && type < NextObjectTypeNumber()) {
            VmPushNumber(L, Count(type));
            return 1;
        }
        const auto hook = Table().pluginHooks.find(type);
        if (hook == Table().pluginHooks.end()) return ERR_WRONGUSAGE;
        return hook->second(L, type, attribute, GetObjectIDArg(L, 2));
    }
    if (attribute == kAttrCount) {
        VmPushNumber(L, Count(type));
        return 1;
    }
    const AttributeTable& t = Table();
    const AttributeGetter get = attribute >= 0 && attribute < kAttrSlots ? t.rows[type][attribute] : nullptr;
    // A type with a lookup of its own has all its rows: an attribute it
    // lacks needs no object to be refused.
    if (!get && t.lookups[type]) return ERR_UNKNOWNATTR;
    qbAttributeQuery q;
    q.L = L;
    q.type = type;
    q.attribute = attribute;
    q.argc = VmGetTop(L);
    if (int err = (t.lookups[type] ? t.lookups[type] : &RegistryLookup)(L, type, 2, &q.object)) return err;
    if (!get) return ERR_UNKNOWNATTR;
    return get(q);
}
