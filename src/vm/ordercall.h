// The call a sort makes for every comparison: an order function applied to
// two items of a table. One entry does what pushing the function and both
// items, calling and reading the answer through the stack API would, without
// the index checks and copies of each of those steps.
#pragma once

struct ScriptState;

// Stands for the value at stack index pin instead of a table item.
constexpr int kVmOrderPinned = -1;

// Calls the function at stack index fn with items a and b of the table at
// stack index t (or the pinned value) and tells whether its first result,
// read as a number, is non-zero. Errors raised by the function unwind as
// from VmCall; a code a native function (a command given as the order)
// returns is reported as the script's own call of it would be, and reads as
// "not before" when the script goes on.
bool VmCallOrder(ScriptState* L, int fn, int t, int a, int b, int pin);
