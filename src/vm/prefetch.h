// A hint for walks that visit a table's items in an order known ahead, like
// a sort's scans: the object an item refers to (a string's header and first
// bytes) is asked into the cache while the walk still works on earlier items,
// so that the visit itself does not wait for memory.
#pragma once

struct ScriptState;

// Item n of the table at stack index idx; nothing for an absent item or one
// that refers to no object.
void VmPrefetchIndex(ScriptState* L, int idx, int n);
