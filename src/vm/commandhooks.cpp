// Command hooks that plugins install around script commands, and the boundary
// where an error raised inside a hook's run function stops.
#include "vm/commandhooks.h"

#include <algorithm>
#include <list>
#include <new>

#include "vm/callextras.h"

namespace {

struct HookNode {
    qbCommandHook hook;
    int running = 0;       // nesting: a run function may call its own commands
    bool removed = false;  // removed while running; freed when the run ends
};

struct HookList {
    std::list<HookNode> nodes;  // a list, so that records never move
    HookNode* active = nullptr;  // the innermost running hook
};

HookList& Hooks() {
    static HookList list;
    return list;
}

void UpdateExtrasBit() {
    const std::list<HookNode>& nodes = Hooks().nodes;
    bool any = std::any_of(nodes.begin(), nodes.end(), [](const HookNode& n) { return !n.removed; });
    SetNativeCallExtra(kCallExtraHooks, any);
    // Bits of removed handlers stay until no hook is left; a stale bit only
    // sends a call through the lookup.
    if (nodes.empty()) HookedHandlerFilter = 0;
}

void FilterHandlers(const qbCommandHook& hook) {
    for (CommandHandler h : hook.handlers) HookedHandlerFilter |= HandlerFilterBit(h);
}

HookNode* NodeOf(qbCommandHook* hook) {
    for (HookNode& n : Hooks().nodes)
        if (&n.hook == hook) return &n;
    return nullptr;
}

HookNode* FindHook(CommandHandler handler) {
    for (HookNode& n : Hooks().nodes) {
        if (n.removed || n.hook.disabled) continue;
        const auto& hs = n.hook.handlers;
        if (std::find(hs.begin(), hs.end(), handler) != hs.end()) return &n;
    }
    return nullptr;
}

struct HookRun {
    HookNode* node;
    CommandHandler handler;
    int result;
};

void RunHook(ScriptState* L, void* data) {
    auto* run = static_cast<HookRun*>(data);
    run->result = run->node->hook.run(&run->node->hook, L, run->handler, run->node->hook.userData);
}

}  // namespace

qbCommandHook* AddCommandHook(const qbCommandHook& hook) {
    if (hook.run == nullptr) return nullptr;
    try {
        HookNode& n = Hooks().nodes.emplace_back();
        n.hook = hook;
        FilterHandlers(n.hook);
        UpdateExtrasBit();
        return &n.hook;
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

int AddCommandToHook(qbCommandHook* hook, CommandHandler handler) {
    if (hook == nullptr || handler == nullptr || NodeOf(hook) == nullptr) return 0;
    auto& hs = hook->handlers;
    if (std::find(hs.begin(), hs.end(), handler) != hs.end()) return 1;
    try {
        hs.push_back(handler);
    } catch (const std::bad_alloc&) {
        return 0;
    }
    HookedHandlerFilter |= HandlerFilterBit(handler);
    return 1;
}

void RemoveCommandHook(qbCommandHook* hook) {
    HookNode* n = NodeOf(hook);
    if (n == nullptr) return;
    if (n->running > 0) {
        n->removed = true;
    } else {
        Hooks().nodes.remove_if([n](const HookNode& x) { return &x == n; });
    }
    UpdateExtrasBit();
}

void SetCommandHookDisabled(qbCommandHook* hook, bool disabled) {
    if (HookNode* n = NodeOf(hook)) n->hook.disabled = disabled;
}

void RemoveAllCommandHooks() {
    HookList& list = Hooks();
    for (HookNode& n : list.nodes) n.removed = true;
    list.nodes.remove_if([](const HookNode& n) { return n.running == 0; });
    UpdateExtrasBit();
}

int TryCommandHook(ScriptState* L, CommandHandler handler, int* result) {
    HookNode* node = FindHook(handler);
    if (node == nullptr) return 0;
    // Marks the hook as running until this call is left, by any road.
    struct Running {
        HookNode* node;
        HookNode* outer;
        explicit Running(HookNode* n) : node(n), outer(Hooks().active) {
            Hooks().active = n;
            n->running++;
        }
        ~Running() {
            HookList& list = Hooks();
            node->running--;
            list.active = outer;
            if (node->removed && node->running == 0) {
                HookNode* gone = node;
                list.nodes.remove_if([gone](const HookNode& x) { return &x == gone; });
            }
        }
    } running(node);
    HookRun run{node, handler, 0};
    // A raise must not come back to the code that raised it (that code would
    // go on with bad data), so it is caught here, where the command can end.
    int status = VmProtectedNative(L, RunHook, &run);
    if (status == 0) {
        *result = run.result;
        return 1;
    }
    if (!PassErrorToActiveHook(L, status)) VmThrow(L, status);
    *result = status;
    return 1;
}

int PassErrorToActiveHook(ScriptState* L, int code) {
    HookNode* n = Hooks().active;
    if (n == nullptr || n->hook.onError == nullptr) return 0;
    n->hook.onError(&n->hook, L, code, n->hook.userData);
    return 1;
}
