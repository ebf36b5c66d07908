// Menus: CreateMenu's tree checks (depth, labels, emptiness) leave nothing
// behind, item lookup order, freeing attached menus, and the item commands
// reaching the backend's item states.
#include <functional>
#include <vector>

#include "core/objectlist.h"
#include "displaylib_fixture.h"

namespace {

using Push = std::function<void(ScriptState*)>;

Push Item(const char* label, Push sub = nullptr, const char* id = nullptr, int32_t flags = 0) {
    return [=](ScriptState* L) {
        VmPushNewTable(L);
        if (label) {
            VmPushString(L, label);
            VmRawSetIndex(L, -2, 0);
        }
        if (sub) {
            sub(L);
            VmRawSetIndex(L, -2, 1);
        }
        if (id) SetTableFieldString(L, "id", id);
        if (flags) SetTableFieldInt(L, "flags", flags);
    };
}

Push Tree(std::vector<Push> items) {
    return [=](ScriptState* L) {
        VmPushNewTable(L);
        int i = 0;
        for (const Push& item : items) {
            item(L);
            VmRawSetIndex(L, -2, i++);
        }
    };
}

class MenusTest : public DisplayLibWorld {
protected:
    int CreateMenu(int32_t id, const Push& tree) {
        VmPushNumber(L_, id);
        tree(L_);
        return Run("CreateMenu", 2);
    }

    static int MenuCount() {
        int n = 0;
        for (qbObject* m = MenuListHead()->head; m; m = m->next) ++n;
        return n;
    }

    // Display 1 open with menu 1 attached.
    void OpenWithMenu() {
        ASSERT_EQ(CreateMenu(1, Tree({Item("File", Tree({Item("Open", nullptr, "open"),
                                                          Item("Wrap", nullptr, "wrap", MENUITEM_TOGGLE)}))})),
                  0);
        ASSERT_EQ(Create(1, [&] {
                      Field("menu", 1);
                      Field("active", 1);
                  }),
                  0);
        ASSERT_EQ(StartDisplays(L_), 0);
    }

    int Item2(const char* command, int32_t display, const char* item) {
        VmPushNumber(L_, display);
        VmPushString(L_, item);
        return Run(command, 2, 1);
    }
};

}  // namespace

TEST_F(MenusTest, AFourthLevelIsRefusedAndLeavesNothing) {
    const Push threeLevels = Tree({Item("A", Tree({Item("B", Tree({Item("C")}))}))});
    ASSERT_EQ(CreateMenu(1, threeLevels), 0);
    const Push fourLevels = Tree({Item("A", Tree({Item("B", Tree({Item("C", Tree({Item("D")}))}))}))});
    EXPECT_EQ(CreateMenu(2, fourLevels), ERR_MENUCOMPLEXITY);
    EXPECT_EQ(MenuCount(), 1);
    qbMenu* menu = nullptr;
    EXPECT_EQ(GetMenuRecord(ObjectID{2, nullptr}, &menu), ERR_FINDMENU);
}

TEST_F(MenusTest, TreeShapesThatAreRefused) {
    EXPECT_EQ(CreateMenu(1, Tree({})), ERR_EMPTYMENUTREE);
    EXPECT_EQ(CreateMenu(1,
                         [](ScriptState* L) {
                             VmPushNewTable(L);
                             VmPushNumber(L, 5);
                             VmRawSetIndex(L, -2, 0);
                         }),
              ERR_TABLEORNIL);
    EXPECT_EQ(CreateMenu(1, Tree({Item("")})), ERR_WRONGUSAGE);
    EXPECT_EQ(CreateMenu(1, Tree({Item(nullptr)})), ERR_STRINGEXPECTED);
    EXPECT_EQ(MenuCount(), 0);
    // Below the titles a missing label is a separator.
    ASSERT_EQ(CreateMenu(1, Tree({Item("File", Tree({Item(nullptr), Item("Quit")}))})), 0);
    qbMenu* menu = nullptr;
    ASSERT_EQ(GetMenuRecord(ObjectID{1, nullptr}, &menu), 0);
    ASSERT_EQ(menu->tree[0].submenu.size(), 2u);
    EXPECT_TRUE(menu->tree[0].submenu[0].name.empty());
}

TEST_F(MenusTest, ItemsAreFoundWithoutLetterCaseDepthFirst) {
    ASSERT_EQ(CreateMenu(1, Tree({Item("A", Tree({Item("Deep", nullptr, "Dup")})), Item("B", nullptr, "dup")})), 0);
    qbMenu* menu = nullptr;
    ASSERT_EQ(GetMenuRecord(ObjectID{1, nullptr}, &menu), 0);
    qbMenuItem* found = FindMenuItem(menu->tree, "DUP");
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(found->name, "Deep");
    EXPECT_EQ(FindMenuItem(menu->tree, "none"), nullptr);
}

TEST_F(MenusTest, AnAttachedMenuIsNotFreed) {
    OpenWithMenu();
    EXPECT_EQ(RunNumbers("FreeMenu", {1}), ERR_MENUATTACHED);
    EXPECT_EQ(MenuCount(), 1);
    VmPushNewTable(L_);
    Field("menu", -1);
    ASSERT_EQ(Run("SetDisplayAttributes", 1), 0);
    EXPECT_EQ(RunNumbers("FreeMenu", {1}), 0);
    EXPECT_EQ(RunNumbers("FreeMenu", {1}), ERR_FINDMENU);
}

TEST_F(MenusTest, ItemCommandsChangeAndReadTheItemStates) {
    OpenWithMenu();
    EXPECT_EQ(Item2("SelectMenuItem", 1, "open"), ERR_WRONGUSAGE);
    ASSERT_EQ(Item2("SelectMenuItem", 1, "WRAP"), 0);
    ASSERT_EQ(Item2("IsMenuItemSelected", 1, "wrap"), 0);
    EXPECT_EQ(VmToNumber(L_, -1), 1);
    ASSERT_EQ(Item2("DeselectMenuItem", 1, "wrap"), 0);
    ASSERT_EQ(Item2("IsMenuItemSelected", 1, "wrap"), 0);
    EXPECT_EQ(VmToNumber(L_, -1), 0);
    ASSERT_EQ(Item2("DisableMenuItem", 1, "open"), 0);
    ASSERT_EQ(Item2("IsMenuItemDisabled", 1, "open"), 0);
    EXPECT_EQ(VmToNumber(L_, -1), 1);
    // The states live in the window's menu bar.
    qbMenu* menu = nullptr;
    ASSERT_EQ(GetMenuRecord(ObjectID{1, nullptr}, &menu), 0);
    const auto& states = null_backend::GetSurface(Find(1))->menuStates;
    EXPECT_EQ(states.at(FindMenuItem(menu->tree, "open")), uint32_t{MENUITEM_DISABLED});
    ASSERT_EQ(Item2("EnableMenuItem", 1, "open"), 0);
    ASSERT_EQ(Item2("IsMenuItemDisabled", 1, "open"), 0);
    EXPECT_EQ(VmToNumber(L_, -1), 0);

    EXPECT_EQ(Item2("SelectMenuItem", 1, "missing"), ERR_FINDMENUITEM);
    EXPECT_NE(Text(ERR_FINDMENUITEM).find("missing"), std::string::npos);
    EXPECT_EQ(Item2("SelectMenuItem", 0, "wrap"), ERR_NOCONTEXTMENU);
    ASSERT_EQ(Create(2), 0);
    EXPECT_EQ(Item2("SelectMenuItem", 2, "wrap"), ERR_NOMENU);
    EXPECT_EQ(Item2("SelectMenuItem", 9, "wrap"), ERR_FINDDISPLAY);
}

TEST_F(MenusTest, AClosedDisplaysMenuItemsAreNotReached) {
    OpenWithMenu();
    ASSERT_EQ(Create(2, [&] {
                  Field("menu", 1);
                  Field("hidden", 1);
              }),
              0);
    EXPECT_EQ(Item2("SelectMenuItem", 2, "wrap"), ERR_CLOSEDDISPLAY);
}
