// Event types that plugins register by name: their handlers are installed
// like the built-in ones, their events come through the input queue or are
// delivered at once, and the plugin's hooks fill, call and free them.
#include <strings.h>

#include <cctype>
#include <string>
#include <vector>

#include "core/errcodes.h"
#include "core/memory.h"
#include "display/display.h"
#include "display/eventlib.h"

struct qbUserEventType {
    std::string name;
    int id = 0;
    int kind = 0;
    qbHandlerSlot handler;
    qbUserEventHooks hooks;
    int callingMode = 0;
};

namespace {

std::vector<qbUserEventType> userTypes;

std::string Lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

const qbUserEventType* ByName(const char* name) {
    for (const qbUserEventType& t : userTypes)
        if (strcasecmp(t.name.c_str(), name) == 0) return &t;
    return nullptr;
}

}  // namespace

int RegisterUserEvent(const char* name, int kind, const qbUserEventHooks* hooks, int callingMode) {
    if (!name || !*name || IsBuiltInHandlerName(name) || ByName(name)) return 0;
    qbUserEventType t;
    t.name = name;
    t.id = userTypes.empty() ? kFirstUserEventType : userTypes.back().id + 1;
    t.kind = kind;
    if (hooks) t.hooks = *hooks;
    t.callingMode = callingMode;
    userTypes.push_back(std::move(t));
    return userTypes.back().id;
}

const qbUserEventType* FindUserEventType(int type) {
    for (const qbUserEventType& t : userTypes)
        if (t.id == type) return &t;
    return nullptr;
}

const char* UserEventName(int type, int* function, int* userData) {
    const qbUserEventType* t = FindUserEventType(type);
    if (!t) return nullptr;
    *function = t->handler.function;
    *userData = t->handler.userData;
    return t->name.c_str();
}

bool IsCallingUserEvent(int type) {
    const qbUserEventType* t = FindUserEventType(type);
    return t && t->kind == 1;
}

int GetUserEventHandler(const char* name, int* outUserData) {
    const qbUserEventType* t = name ? ByName(name) : nullptr;
    if (outUserData) *outUserData = t ? t->handler.userData : -1;
    return t ? t->handler.function : -1;
}

int InstallUserEventHandlers(ScriptState* L, int table, bool withUserData) {
    for (qbUserEventType& t : userTypes)
        if (int err = InstallHandlerSlot(L, table, Lower(t.name).c_str(), withUserData, t.handler)) return err;
    return 0;
}

int CallUserEvent(ScriptState* L, int type, void* data) {
    const qbUserEventType* t = FindUserEventType(type);
    if (!t || !t->hooks.call) return 0;
    const int base = VmGetTop(L);
    const int n = t->hooks.call(L, type, data);
    int err = 0;
    if (n >= 0) err = ProtectedCallback(L, n, 0);
    else if (n != -1) err = -n;
    VmSetTop(L, base);
    // The type may have gone in the callback; its hooks were copied with it.
    if (const qbUserEventType* still = FindUserEventType(type); still && still->hooks.afterCall)
        still->hooks.afterCall(L, type, data);
    return err;
}

void FillUserEventTable(ScriptState* L, int type, void* data) {
    const qbUserEventType* t = FindUserEventType(type);
    if (t && t->hooks.fill) t->hooks.fill(L, type, data);
}

int DeliverUserEventNow(ScriptState* L, int type, void* data) {
    const qbUserEventType* t = FindUserEventType(type);
    int err = 0;
    if (t && (t->kind == 1 || t->handler.function != -1)) {
        qbEventMessage msg;
        msg.type = kMsgUserType;
        msg.userType = type;
        msg.function = t->handler.function;
        msg.userData = t->handler.userData;
        msg.block = data;
        std::snprintf(msg.action, sizeof msg.action, "%s", t->name.c_str());
        err = DeliverEvent(L, &msg, true);
    }
    FreeEventData(L, static_cast<uint32_t>(type), data);
    return err;
}

void FreeEventData(ScriptState* L, uint32_t type, void* data) {
    if (!data) return;
    const qbUserEventType* t = type >= kFirstUserEventType ? FindUserEventType(static_cast<int>(type)) : nullptr;
    if (t && t->kind == 1) {
        if (t->hooks.freeData) t->hooks.freeData(L, static_cast<int>(type), data);
        return;
    }
    FreeMemory(data);
}

void FreeUserEventTypes(ScriptState* L) {
    for (qbUserEventType& t : userTypes) {
        ReleaseHandlerRef(L, t.handler.function);
        ReleaseHandlerRef(L, t.handler.userData);
    }
    userTypes.clear();
    FreeObjectHandlers(L);
}
