// Pushing a walk's arguments onto the script's stack, the same in every
// walk's world; each world gives what is its own: its picture and server,
// the objects it made, its menu, its hostile values and what it hangs on a
// table it pushed.
#pragma once

#include <functional>
#include <map>
#include <string>

#include "command_call.h"
#include "vm/vm.h"
#include "walk_args.h"

namespace walkworld {

struct PushPlace {
    ScriptState* L;
    const std::string& picture;
    int port;
    const std::map<std::string, int>& made;  // name -> registry reference
    std::function<void()> menu;
    std::function<void(const Arg&)> hostile;
    std::function<void(const Arg&)> tableMade;  // the table on the stack's top, filled
};

inline int WalkNothing(ScriptState*) { return 0; }

inline void PushWalkArg(const PushPlace& w, const Arg& a) {
    ScriptState* L = w.L;
    switch (a.kind) {
        case Arg::kNumber: VmPushNumber(L, a.number); break;
        case Arg::kText: VmPushLString(L, a.text.data(), a.text.size()); break;
        case Arg::kPicture: VmPushString(L, w.picture.c_str()); break;
        case Arg::kFunction: VmPushCClosure(L, WalkNothing, 0); break;
        case Arg::kMenu: w.menu(); break;
        case Arg::kUrl: VmPushString(L, ("http://127.0.0.1:" + std::to_string(w.port) + "/walk").c_str()); break;
        case Arg::kPort: VmPushNumber(L, w.port); break;
        case Arg::kConstant: {
            const int top = VmGetTop(L);
            VmPushString(L, ("#" + a.text).c_str());
            if (CallCommand(L, "GetConstant", 1, 1)) {
                VmSetTop(L, top);
                VmPushNil(L);
            }
            break;
        }
        case Arg::kMade:
            if (auto it = w.made.find(a.text); it != w.made.end())
                VmRawGetIndex(L, kRegistryIndex, it->second);
            else
                VmPushNil(L);
            break;
        case Arg::kHostile: w.hostile(a); break;
        case Arg::kTable:
            VmPushNewTable(L);
            for (size_t i = 0; i < a.items.size(); ++i) {
                PushWalkArg(w, a.items[i]);
                VmRawSetIndex(L, -2, static_cast<int>(i) + a.first);
            }
            for (size_t i = 0; i < a.keys.size(); ++i) {
                VmPushString(L, a.keys[i].c_str());
                PushWalkArg(w, a.values[i]);
                VmRawSet(L, -3);
            }
            if (w.tableMade) w.tableMade(a);
            break;
    }
}

// A menu of one bar item holding one item: name, then what the item holds.
inline void PushWalkMenu(ScriptState* L, const std::function<void()>& item) {
    VmPushNewTable(L);
    VmPushNewTable(L);
    VmPushString(L, "Walk");
    VmRawSetIndex(L, -2, 0);
    VmPushNewTable(L);
    VmPushNewTable(L);
    item();
    VmRawSetIndex(L, -2, 0);
    VmRawSetIndex(L, -2, 1);
    VmRawSetIndex(L, -2, 0);
}

}  // namespace walkworld
