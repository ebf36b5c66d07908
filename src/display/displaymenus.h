// Menus that displays show: the menu records, their trees as the script
// describes them, and the item states that the window's menu bar keeps.
#pragma once

#include <cstdint>

#include "core/argapi.h"
#include "core/objects.h"
#include "core/preproc.h"

struct ScriptState;

constexpr int kObjectTypeMenu = 57;
// A tree holds menu titles, their items and one level of sub-items.
constexpr int kMaxMenuLevel = 2;

enum : uint32_t { MENUITEM_TOGGLE = 1, MENUITEM_SELECTED = 2, MENUITEM_DISABLED = 4 };

// Records are owned by the menu list from creation to FreeMenuCore.
struct qbMenu : qbObject {
    qbMenuTree tree;
};

struct qbObjectList;
qbObjectList* MenuListHead();
// ERR_FINDMENU (with the number as the message's argument) or ERR_FINDARRAY.
int GetMenuRecord(ObjectID id, qbMenu** out);
// Reads the tree table at idx from its index 0 up to the first Nil. Errors:
// ERR_TABLEORNIL, ERR_STRINGEXPECTED, ERR_WRONGUSAGE (an empty title),
// ERR_MENUCOMPLEXITY (a fourth level), ERR_MEM; *out is left empty then.
int ParseMenuTree(ScriptState* L, int idx, int level, qbMenuTree* out);
// Appends a menu; an automatic id's handle is pushed (result count 1).
int CreateMenuCore(ScriptState* L, NewObjectID id, qbMenuTree tree);
// ERR_MENUATTACHED while a display shows it; not found only with
// reportNotFound.
int FreeMenuCore(ObjectID id, bool reportNotFound);
void FreeAllMenus();
// Depth first, a node before its sub-tree; ids compare without letter case.
qbMenuItem* FindMenuItem(qbMenuTree& tree, const char* id);

int cmdCreateMenu(ScriptState* L);
int cmdFreeMenu(ScriptState* L);
int cmdSelectMenuItem(ScriptState* L);
int cmdDeselectMenuItem(ScriptState* L);
int cmdIsMenuItemSelected(ScriptState* L);
int cmdDisableMenuItem(ScriptState* L);
int cmdEnableMenuItem(ScriptState* L);
int cmdIsMenuItemDisabled(ScriptState* L);
