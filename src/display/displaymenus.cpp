// Menus: the menu list, CreateMenu's tree tables, freeing, and the item
// states, which live in the window's menu bar and are read and changed there.
#include "display/displaymenus.h"

#include <memory>
#include <new>
#include <string>
#include <utility>

#include "core/objectlist.h"
#include "core/chars.h"
#include "core/errcodes.h"
#include "core/errors.h"
#include "display/adapter.h"
#include "display/displays.h"
#include "platform/platform_ops.h"

namespace {

qbObjectList menuList;

qbMenu* AsMenu(qbObject* object) { return static_cast<qbMenu*>(object); }

bool IsAttached(const qbMenu* menu) {
    for (qbDisplay* d = FirstDisplay(); d; d = NextDisplay(d))
        if (d->menu == menu) return true;
    return false;
}

// Reads the string at t[index] into *out; Nil leaves it empty.
int ReadItemText(ScriptState* L, int t, int index, std::string* out) {
    VmRawGetIndex(L, t, index);
    const int type = VmType(L, -1);
    int err = 0;
    if (type == kTypeString)
        out->assign(VmToCString(L, -1), VmStrLen(L, -1));
    else if (type != kTypeNil)
        err = ERR_STRINGEXPECTED;
    VmSetTop(L, -2);
    return err;
}

int ReadItemOptions(ScriptState* L, int t, qbMenuItem* item) {
    int32_t flags = 0;
    GetTableFieldInt(L, t, "flags", &flags, nullptr);
    item->flags = static_cast<uint32_t>(flags);
    const char* text = nullptr;
    if (GetTableFieldString(L, t, "id", &text, nullptr)) item->id = text;
    text = nullptr;
    if (GetTableFieldString(L, t, "hotkey", &text, nullptr)) item->hotkey = text;
    return 0;
}

int ParseItem(ScriptState* L, int t, int level, qbMenuItem* item) {
    VmRawGetIndex(L, t, 0);
    const int labelType = VmType(L, -1);
    VmSetTop(L, -2);
    if (level == 0 && labelType != kTypeString) return ERR_STRINGEXPECTED;
    if (int err = ReadItemText(L, t, 0, &item->name)) return err;
    if (level == 0 && item->name.empty()) return ERR_WRONGUSAGE;
    VmRawGetIndex(L, t, 1);
    const int subType = VmType(L, -1);
    int err = 0;
    if (subType == kTypeTable) {
        err = level >= kMaxMenuLevel ? ERR_MENUCOMPLEXITY : ParseMenuTree(L, VmGetTop(L), level + 1, &item->submenu);
    } else if (subType != kTypeNil) {
        err = ERR_TABLEORNIL;
    }
    VmSetTop(L, -2);
    if (err || subType == kTypeTable) return err;
    return ReadItemOptions(L, t, item);
}

// Which state bits a menu-item command sets and clears, and which one a
// query reads.
struct ItemAction {
    bool needsToggle;
    uint32_t set;
    uint32_t clear;
    uint32_t query;  // 0: a change, not a query
};

int MenuItemCommand(ScriptState* L, const ItemAction& action) {
    CheckArgCount(L, 2, 2, 0, 0);
    if (HasDisplayAdapter()) return ERR_DISPLAYADAPTERSUPPORT;
    const ObjectID displayId = GetObjectIDArg(L, 1);
    const char* itemId = VmCheckString(L, 2, nullptr);
    if (displayId.number == 0 && !displayId.handle) return ERR_NOCONTEXTMENU;
    qbDisplay* d = nullptr;
    if (int err = GetDisplayRecord(displayId, &d)) return err;
    auto* menu = static_cast<qbMenu*>(d->menu);
    if (!menu) return ERR_NOMENU;
    if (d->state == DISPSTATE_CLOSED) return ERR_CLOSEDDISPLAY;
    if (d->fullScreen) return ERR_FULLSCREEN;
    qbMenuItem* item = FindMenuItem(menu->tree, itemId);
    if (!item) {
        SetErrorDetail(itemId);
        return ERR_FINDMENUITEM;
    }
    if (action.needsToggle && !(item->flags & MENUITEM_TOGGLE)) return ERR_WRONGUSAGE;
    if (action.query) {
        uint32_t state = 0;
        if (int err = GetNativeMenuItemState(d, item, &state)) return err;
        VmPushNumber(L, (state & action.query) ? 1 : 0);
        return 1;
    }
    return SetNativeMenuItemState(d, item, action.set, action.clear);
}

}  // namespace

qbObjectList* MenuListHead() { return &menuList; }

int GetMenuRecord(ObjectID id, qbMenu** out) {
    if (qbObject* m = FindListedObject(menuList, id)) {
        *out = AsMenu(m);
        return 0;
    }
    *out = nullptr;
    if (id.handle) return ERR_FINDARRAY;
    SetErrorArgIndex(id.number);
    return ERR_FINDMENU;
}

int ParseMenuTree(ScriptState* L, int idx, int level, qbMenuTree* out) {
    if (idx < 0 && idx > kRegistryIndex) idx = VmGetTop(L) + idx + 1;
    qbMenuTree tree;
    int err = 0;
    try {
        for (int i = 0; !err; ++i) {
            VmRawGetIndex(L, idx, i);
            const int type = VmType(L, -1);
            if (type == kTypeNil) {
                VmSetTop(L, -2);
                break;
            }
            if (type != kTypeTable) {
                err = ERR_TABLEORNIL;
            } else {
                qbMenuItem item;
                err = ParseItem(L, VmGetTop(L), level, &item);
                if (!err) tree.push_back(std::move(item));
            }
            VmSetTop(L, -2);
        }
    } catch (const std::bad_alloc&) {
        err = ERR_MEM;
    }
    if (err) return err;
    *out = std::move(tree);
    return 0;
}

int CreateMenuCore(ScriptState* L, NewObjectID id, qbMenuTree tree) {
    if (!id.chooseFlag) {
        if (int err = FreeMenuCore(ObjectID{id.id, nullptr}, false)) return err;
    }
    std::unique_ptr<qbMenu> menu(new (std::nothrow) qbMenu);
    if (!menu) return ERR_MEM;
    menu->tree = std::move(tree);
    menu->type = kObjectTypeMenu;
    menu->id = id.chooseFlag ? 0 : id.id;
    menu->handle = id.chooseFlag ? menu.get() : nullptr;
    if (int err = AppendObject(&menuList, menu.get())) return err;
    qbMenu* made = menu.release();
    if (id.chooseFlag && L) {
        VmPushLightUserdata(L, made->handle);
        return 1;
    }
    return 0;
}

int FreeMenuCore(ObjectID id, bool reportNotFound) {
    qbMenu* menu = nullptr;
    if (int err = GetMenuRecord(id, &menu)) return reportNotFound ? err : 0;
    if (IsAttached(menu)) return ERR_MENUATTACHED;
    UnlinkObject(&menuList, menu);
    FreeObjectDataList(nullptr, &menu->data);
    std::unique_ptr<qbMenu> owner(menu);
    return 0;
}

void FreeAllMenus() {
    while (qbObject* m = TakeFirstObject(&menuList)) {
        FreeObjectDataList(nullptr, &m->data);
        std::unique_ptr<qbMenu> owner(AsMenu(m));
    }
}

qbMenuItem* FindMenuItem(qbMenuTree& tree, const char* id) {
    for (qbMenuItem& item : tree) {
        if (!item.id.empty() && StrCmpNoCase(item.id.c_str(), id) == 0) return &item;
        if (qbMenuItem* found = FindMenuItem(item.submenu, id)) return found;
    }
    return nullptr;
}

int cmdCreateMenu(ScriptState* L) {
    CheckArgCount(L, 2, 2, 6, 0);
    const NewObjectID id = GetNewObjectIDArg(L, 1);
    if (VmType(L, 2) != kTypeTable) return ERR_TABLEORNIL;
    qbMenuTree tree;
    if (int err = ParseMenuTree(L, 2, 0, &tree)) return err;
    if (tree.empty()) return ERR_EMPTYMENUTREE;
    return CreateMenuCore(L, id, std::move(tree));
}

int cmdFreeMenu(ScriptState* L) {
    CheckArgCount(L, 1, 1, 0, 0);
    return FreeMenuCore(GetObjectIDArg(L, 1), true);
}

int cmdSelectMenuItem(ScriptState* L) { return MenuItemCommand(L, {true, MENUITEM_SELECTED, 0, 0}); }
int cmdDeselectMenuItem(ScriptState* L) { return MenuItemCommand(L, {true, 0, MENUITEM_SELECTED, 0}); }
int cmdIsMenuItemSelected(ScriptState* L) { return MenuItemCommand(L, {true, 0, 0, MENUITEM_SELECTED}); }
int cmdDisableMenuItem(ScriptState* L) { return MenuItemCommand(L, {false, MENUITEM_DISABLED, 0, 0}); }
int cmdEnableMenuItem(ScriptState* L) { return MenuItemCommand(L, {false, 0, MENUITEM_DISABLED, 0}); }
int cmdIsMenuItemDisabled(ScriptState* L) { return MenuItemCommand(L, {false, 0, 0, MENUITEM_DISABLED}); }
