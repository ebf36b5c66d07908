// GetAttribute's table: one row per (object type, attribute) with its
// getter, and per type the lookup that finds the object. The graphics
// library adds the rows of the types below it; every later library adds
// its own rows when it opens, so the command itself never changes.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/objects.h"

struct ScriptState;

constexpr int32_t kAttrCount = 60;
// Attribute numbers run from 0 to 91 today; the table has room above.
constexpr int32_t kAttrSlots = 128;

struct qbAttributeQuery {
    ScriptState* L = nullptr;
    int32_t type = 0;
    int32_t attribute = 0;
    void* object = nullptr;  // what the type's lookup found
    int argc = 0;            // the parameter, when given, is argument 4
};

// The object named by argument idx, or the type's lookup error.
using AttributeLookup = int (*)(ScriptState* L, int32_t type, int idx, void** out);
// Pushes the answer and returns how many values it pushed, or an error code.
using AttributeGetter = int (*)(const qbAttributeQuery& q);

struct qbAttributeRow {
    int32_t type;
    int32_t attribute;
    AttributeGetter get;
};

// Types below kFirstPluginObjectType only. A later row for the same pair
// replaces the earlier one.
void SetAttributeLookup(int32_t type, AttributeLookup lookup);
void AddAttributeRows(const qbAttributeRow* rows, size_t count);
bool HasAttributeRow(int32_t type, int32_t attribute);
// A type that counts its objects outside the registered lists (layers,
// intervals): ATTRCOUNT asks it instead.
void SetAttributeCounter(int32_t type, int (*count)());

// Types that plugins register answer through the hook the plugin base
// installs for them; without one GetAttribute gives ERR_WRONGUSAGE.
using AttributeTypeHook = int (*)(ScriptState* L, int32_t type, int32_t attribute, ObjectID id);
void SetAttributeTypeHook(int32_t type, AttributeTypeHook hook);

// The lookup error of a built-in type with no rows yet, or ERR_WRONGUSAGE
// for a number that names no type.
int TypeLookupError(int32_t type);

// Installs the rows of the objects the graphics library and those below it
// own (displays, BGPics, brushes, layers, clip regions, pointers, async
// drawing, event handlers, intervals and timeouts).
void InstallBuiltInAttributeRows();
// The rows of sprites (part of the built-in rows).
void InstallSpriteAttributeRows();

int cmdGetAttribute(ScriptState* L);
