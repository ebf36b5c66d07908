// The argument layer that every command handler reads its arguments through:
// argument counts, object ids, percentages, "#NAME" constants, and option
// tables read field by field. Every check raises and does not return then.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "vm/vm.h"

// Names one object: the number the script chose, or (handle non-zero) the
// automatic id, which is the address of the object record. A handle comes
// from the script as light userdata and may be any pointer: it is compared
// with the records' own, never followed.
struct ObjectID {
    int32_t number = 0;
    void* handle = nullptr;
};

inline bool operator==(const ObjectID& a, const ObjectID& b) {
    return a.number == b.number && a.handle == b.handle;
}

// The id argument of a creating command: chooseFlag 1 (and id 0) when the
// script passed Nil and leaves the choice to the system.
struct NewObjectID {
    int32_t id = 0;
    int chooseFlag = 0;
};

// Checks the argument count and, when version is not 0, that the applet was
// compiled by version.revision or newer. A max of 0 or below with min above 0
// means no upper bound. Raises ERR_TOOMANYARGS, ERR_MISSINGPARAMTR or
// ERR_OLDAPPLET.
ScriptState* CheckArgCount(ScriptState* L, int min, int max, int version, int revision);

// Lets a tool learn which argument counts the commands accept without running
// them: while a probe is set, CheckArgCount hands it min and max and raises
// ERR_WRONGUSAGE instead of checking, so the command goes no further.
using ArgCountProbe = void (*)(int min, int max);
void SetArgCountProbe(ArgCountProbe probe);

// Light userdata gives its handle; anything else goes through the number
// check (ERR_NUMEXPECTED) and is cut to 32 bits.
ObjectID GetObjectIDArg(ScriptState* L, int idx);
NewObjectID GetNewObjectIDArg(ScriptState* L, int idx);
// The same readers in the form of the plugins' API table (the pair goes
// through an out-pointer; the new id as {id, chooseFlag}).
void GetObjectIDArgInto(ScriptState* L, int idx, ObjectID* out);
void GetNewObjectIDArgInto(ScriptState* L, int idx, int32_t* idAndChooseFlag);

// Number arguments, all read through core/numbers so that a command gets
// the rule by using them: an id, coordinate or kind saturates to 32 bits;
// the optional form gives fallback for Nil or a left-out argument.
int32_t GetIntArg(ScriptState* L, int idx);
int32_t GetOptIntArg(ScriptState* L, int idx, int32_t fallback);
// A size the command checks against its own limits after the read: NaN and
// infinities are ERR_WRONGUSAGE (returned, not raised), others saturate.
int GetFiniteIntArg(ScriptState* L, int idx, int32_t* out);
// A count, size, rate or speed with a range of its own: ERR_WRONGUSAGE
// (returned) unless the number is finite and within lo..hi.
int GetIntArgWithin(ScriptState* L, int idx, int32_t lo, int32_t hi, int32_t* out);
// A flag: a number or a VM boolean (another kind raises ERR_NUMEXPECTED),
// true as the script's If reads it (core/truth.h: 0.5 is true, 0 false);
// fallback for Nil or a left-out argument.
bool GetFlagArg(ScriptState* L, int idx, bool fallback);

// A number, or a string of a number that may be followed by '%': a
// percentage of base, or with base 0 the fraction (and *percentFlag = 1).
// Raises ERR_PERCENTFORMAT or ERR_STRORNUM with the argument number.
double GetNumberOrPercentArg(ScriptState* L, int idx, int base, int allowOver100, int* percentFlag);

// The value of a "#NAME" reference held in a string: *outString is a string
// constant's text (null for a number constant), *outNumber a number
// constant's value (0 for a string constant). Returns 0, ERR_WRONGUSAGE,
// ERR_SYNTAXERROR or ERR_FINDCST; raises nothing.
int ParseConstantString(ScriptState* L, const char* text, size_t* outLength, const char** outString,
                        double* outNumber);

// Pushes a handle as light userdata, a number as a number; returns 1.
int PushObjectID(ScriptState* L, ObjectID id);

// Every read of an option table's field goes through here: the key on the
// stack top is replaced by t[key] of the value at idx, as VmGetTableAt does.
// Script code may run there (the table's "__index" chain) and free what the
// command found: commands hold their objects through core/objectref.h.
void IndexOptionTable(ScriptState* L, int idx);

// Option tables. Each getter reads one field of the table at idx (through its
// "__index" chain) and leaves the stack as it was. A field that is absent or
// Nil returns 0 and leaves the output alone; a present one is stored, sets
// *found (when given) to 1 and returns 1; a present field of the wrong kind
// raises with the field name as the error detail.
int GetTableFieldFloat(ScriptState* L, int idx, const char* key, double* out, int* found);
int GetTableFieldInt(ScriptState* L, int idx, const char* key, int32_t* out, int* found);
// Negative numbers are cut to a signed 32-bit integer and kept as its bits,
// the others clamp to 0..4294967295 (colours $AARRGGBB).
int GetTableFieldUInt(ScriptState* L, int idx, const char* key, uint32_t* out, int* found);
int GetTableFieldObjectID(ScriptState* L, int idx, const char* key, ObjectID* out, int* found);
// The VM's own text, valid while the table holds the field (a number field's
// text stays valid as long as the table lives).
int GetTableFieldString(ScriptState* L, int idx, const char* key, const char** out, int* found);
// Flag fields, read as GetFlagArg reads an argument (another kind raises
// with the field name): the shorthand is false when the field is absent;
// the other form stores 1 or 0 and leaves *out alone when it is absent.
bool GetTableFieldFlag(ScriptState* L, int idx, const char* key);
int GetTableFieldFlagInto(ScriptState* L, int idx, const char* key, int32_t* out, int* found);
// Option-table shorthand: a text is the field's copy, empty when absent.
inline std::string GetTableFieldText(ScriptState* L, int idx, const char* key) {
    const char* s = nullptr;
    return GetTableFieldString(L, idx, key, &s, nullptr) && s ? std::string(s) : std::string();
}
// Copies at most bufferSize - 1 characters and always terminates (a longer
// text is cut).
int GetTableFieldStringCopy(ScriptState* L, int idx, const char* key, char* buffer, size_t bufferSize,
                            int* found);
// A new copy from AllocMemory that the caller frees with FreeMemory. With a
// non-zero fontFlag the name goes through ResolveLinkedFile first and
// *outIsFont tells whether a linked font was found. No memory: *outCopy is
// null and the result 0.
int GetTableFieldStringDup(ScriptState* L, int idx, const char* key, int fontFlag, int* outIsFont, char** outCopy,
                           size_t* outLength, int* found);
// A number as an integer, or "n%" stored as -n (ERR_PERCENTFORMATSTR).
int GetTableFieldSizeOrPercent(ScriptState* L, int idx, const char* key, int allowOver100, int32_t* out,
                               int* found);
// As GetNumberOrPercentArg on the field; a malformed text raises
// ERR_PERCENTFORMATSTR and another kind ERR_NUMTABLEARG, both naming the field.
int GetTableFieldNumberOrPercent(ScriptState* L, int idx, const char* key, int base, int allowOver100,
                                 double* out, int* percentFlag, int* found);
// A table of four numbers at the keys 0 to 3.
int GetTableFieldQuad(ScriptState* L, int idx, const char* key, double out[4], int* found);
// A layer number, or the name of a layer of the current BGPic.
int GetTableFieldLayerID(ScriptState* L, int idx, const char* key, int32_t* out, int* found);
// How a layer name becomes a layer id, installed by the layers library: the
// id of the named layer on the current BGPic, 0 when none has the name.
using LayerNameLookup = int (*)(const char* name);
void SetLayerNameLookup(LayerNameLookup lookup);

// Setters store one field into the table on the stack top and leave it there.
void SetTableFieldObjectID(ScriptState* L, const char* key, ObjectID value);
void SetTableFieldString(ScriptState* L, const char* key, const char* value);
void SetTableFieldFloat(ScriptState* L, const char* key, double value);
void SetTableFieldUInt(ScriptState* L, const char* key, uint32_t value);
void SetTableFieldInt(ScriptState* L, const char* key, int32_t value);
