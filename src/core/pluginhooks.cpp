// The plugin hook list. Hooks may add, disable or remove hooks (themselves
// too) while they run, so the list never moves a node and a removal during
// a run only marks the node.
#include "core/pluginhooks.h"

#include <list>
#include <new>

#include "core/platformhooks.h"

struct qbPluginHook {
    int kind = 0;
    int marshalled = 0;
    void* userData = nullptr;
    int disabled = 0;
    PluginHookFn0 fn0 = nullptr;
    PluginHookFn1 fn1 = nullptr;
    PluginHookFn2 fn2 = nullptr;
    bool removed = false;
};

namespace {

struct PluginHookList {
    std::list<qbPluginHook> hooks;
    int running = 0;
};

PluginHookList& Hooks() {
    static PluginHookList list;
    return list;
}

bool IsListed(const qbPluginHook* hook) {
    for (const qbPluginHook& h : Hooks().hooks)
        if (&h == hook && !h.removed) return true;
    return false;
}

// Marshalled calls belong to other platforms; here they answer 0.
int CallHook(const qbPluginHook& h, void* argument, intptr_t value) {
    switch (h.kind) {
    case 0:
        return h.marshalled ? CallMarshalledPluginFunc(reinterpret_cast<void*>(h.fn0), 1, h.userData)
                            : h.fn0(h.userData);
    case 1:
        return h.marshalled ? CallMarshalledPluginFunc(reinterpret_cast<void*>(h.fn1), 2, argument, h.userData)
                            : h.fn1(argument, h.userData);
    default:
        return h.marshalled ? CallMarshalledPluginFunc(reinterpret_cast<void*>(h.fn2), 2, value, h.userData)
                            : h.fn2(value, h.userData);
    }
}

bool Runs(const qbPluginHook& h, int kind) { return h.kind == kind && !h.disabled && !h.removed; }

int RunLoopHook(qbPluginHook& h) {
    // A marshalled hook would answer 0 for ever; it cannot run here.
    if (h.marshalled) return 0;
    for (;;) {
        const int result = CallHook(h, nullptr, 0);
        if (result == -1) return 0;
        if (result != 0) return result;
        // The hook may have been switched off from inside.
        if (!Runs(h, 0)) return 0;
    }
}

}  // namespace

qbPluginHook* AddPluginHook(int kind, PluginHookFn fn, void* userData, int marshalled) {
    if (kind < 0 || kind > 2 || !fn) return nullptr;
    qbPluginHook hook;
    hook.kind = kind;
    hook.marshalled = marshalled;
    hook.userData = userData;
    if (kind == 0) hook.fn0 = reinterpret_cast<PluginHookFn0>(fn);
    if (kind == 1) hook.fn1 = reinterpret_cast<PluginHookFn1>(fn);
    if (kind == 2) hook.fn2 = reinterpret_cast<PluginHookFn2>(fn);
    try {
        return &Hooks().hooks.emplace_back(hook);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

qbPluginHook* SetPluginHookDisabled(qbPluginHook* hook, int disabled) {
    if (!IsListed(hook)) return nullptr;
    hook->disabled = disabled;
    return hook;
}

void RemovePluginHook(qbPluginHook* hook) {
    PluginHookList& list = Hooks();
    if (!IsListed(hook)) return;
    if (list.running > 0)
        hook->removed = true;
    else
        list.hooks.remove_if([hook](const qbPluginHook& h) { return &h == hook; });
}

int RunPluginHooks(void* argument, int kind, intptr_t value) {
    PluginHookList& list = Hooks();
    struct Running {
        PluginHookList& list;
        explicit Running(PluginHookList& l) : list(l) { ++list.running; }
        ~Running() {
            if (--list.running == 0) list.hooks.remove_if([](const qbPluginHook& h) { return h.removed; });
        }
    } running(list);
    // Hooks appended while this runs are in the list already and run too.
    for (qbPluginHook& h : list.hooks) {
        if (!Runs(h, kind)) continue;
        if (kind == 0) return RunLoopHook(h);
        const int result = CallHook(h, argument, value);
        if (kind == 1 && result != 0) return result;
    }
    return 0;
}

void FreePluginHooks() {
    PluginHookList& list = Hooks();
    if (list.running > 0) {
        for (qbPluginHook& h : list.hooks) h.removed = true;
        return;
    }
    list.hooks.clear();
}
