// The message table a handler receives, and the protected call of the
// handler with it.
#include <cstring>

#include "core/errcodes.h"
#include "core/settings.h"
#include "core/truth.h"
#include "display/display.h"
#include "display/eventlib.h"

namespace {

void SetBoolean(ScriptState* L, const char* key, bool value) {
    VmPushString(L, key);
    PushTruth(L, value);
    VmRawSet(L, -3);
}

// The file names of a drop: zero-terminated names one after another, an
// empty name ends them.
int PushDroppedFiles(ScriptState* L, const char* names) {
    VmPushString(L, "dropfiles");
    VmPushNewTable(L);
    int count = 0;
    for (const char* p = names; p && *p; p += std::strlen(p) + 1) {
        VmPushString(L, p);
        VmRawSetIndex(L, -2, count++);
    }
    VmRawSet(L, -3);
    return count;
}

void FillTable(ScriptState* L, const qbEventMessage& msg) {
    SetTableFieldString(L, "action", msg.action);
    const auto* d = static_cast<const qbDisplay*>(msg.source);
    switch (msg.type) {
        case kMsgKey:
            SetTableFieldString(L, "key", msg.key);
            SetTableFieldObjectID(L, "id", msg.id);
            break;
        case kMsgWindow:
        case kMsgInterval:
        case kMsgTimeout: SetTableFieldObjectID(L, "id", msg.id); break;
        case kMsgSize:
            SetTableFieldInt(L, "width", d->width);
            SetTableFieldInt(L, "height", d->height);
            SetTableFieldObjectID(L, "id", msg.id);
            break;
        case kMsgMove:
            SetTableFieldInt(L, "x", d->x);
            SetTableFieldInt(L, "y", d->y);
            SetTableFieldObjectID(L, "id", msg.id);
            break;
        case kMsgMouseMove:
            SetTableFieldInt(L, "x", msg.data[0]);
            SetTableFieldInt(L, "y", msg.data[1]);
            SetTableFieldObjectID(L, "id", msg.id);
            break;
        case kMsgModeSwitch:
            SetTableFieldInt(L, "mode", d->fullScreen ? 2 : 1);
            SetTableFieldInt(L, "width", d->width);
            SetTableFieldInt(L, "height", d->height);
            SetTableFieldObjectID(L, "id", msg.id);
            break;
        case kMsgDropFiles: {
            SetTableFieldObjectID(L, "id", msg.id);
            SetTableFieldInt(L, "x", msg.data[0]);
            SetTableFieldInt(L, "y", msg.data[1]);
            const int count = PushDroppedFiles(L, static_cast<const char*>(msg.block));
            SetTableFieldInt(L, "numdropfiles", count);
            break;
        }
        case kMsgOrientation:
            SetTableFieldObjectID(L, "id", msg.id);
            SetTableFieldInt(L, "orientation", d->orientation);
            break;
        case kMsgMenuSelect:
            SetTableFieldObjectID(L, "id", msg.id);
            SetTableFieldString(L, "item", msg.block ? static_cast<const char*>(msg.block) : "");
            SetBoolean(L, "selected", msg.data[2] != 0);
            break;
        case kMsgButton: FillButtonTable(L, msg); break;
        case kMsgUserType:
            // The display's id unless the type's hook says otherwise.
            if (msg.id.number || msg.id.handle) SetTableFieldObjectID(L, "id", msg.id);
            FillUserEventTable(L, msg.userType, msg.block);
            // The action is the type's name, whatever the hook stored.
            SetTableFieldString(L, "action", msg.action);
            break;
        case kMsgSound:
        case kMsgCommandMessage:
        case kMsgUserMessage:
        case kMsgConnect:
        case kMsgDisconnect:
        case kMsgReceiveData:
        case kMsgReceiveUDPData:
        case kMsgMusicBuffer:
        case kMsgApplicationMessage:
        case kMsgRunFinished: FillSourceTable(L, msg); break;
        default:
            if (msg.id.number || msg.id.handle) SetTableFieldObjectID(L, "id", msg.id);
            break;
    }
    if (msg.userData != -1) {
        VmPushString(L, "userdata");
        VmRawGetIndex(L, kRegistryIndex, msg.userData);
        VmRawSet(L, -3);
    }
}

}  // namespace

// Runtime tag 10 counts callbacks in progress: raised and lowered once per
// call, so that nested deliveries leave it where they found it.
int ProtectedCallback(ScriptState* L, int nargs, int nresults) {
    SetRuntimeTag(kTagCallbackNesting, 1);
    const int err = VmPCall(L, nargs, nresults, 0);
    SetRuntimeTag(kTagCallbackNesting, 0);
    return err;
}

int DeliverEvent(ScriptState* L, qbEventMessage* msg, bool discardResults) {
    msg->stackBase = VmGetTop(L);
    if (!VmCheckStack(L, 8)) return ERR_MEM;
    if (msg->type == kMsgUserType && IsCallingUserEvent(msg->userType)) {
        const int err = CallUserEvent(L, msg->userType, msg->block);
        VmSetTop(L, msg->stackBase);
        if (EventQuitRequested()) return err ? err : ERR_USERABORT;
        return err;
    }
    VmRawGetIndex(L, kRegistryIndex, msg->function);
    VmPushNewTable(L);
    FillTable(L, *msg);
    if (msg->type == kMsgCommandMessage) msg->reply.clear();
    if (!discardResults) {
        // The copy below the function outlives the call for the runner.
        VmPushValue(L, -1);
        VmInsert(L, -3);
    }
    const int err = ProtectedCallback(L, 1, discardResults ? 0 : kMultRet);
    FinishRunMessage(L, *msg);
    if (!err && msg->type == kMsgCommandMessage && !discardResults && VmGetTop(L) > msg->stackBase + 1) {
        if (const char* text = VmToCString(L, msg->stackBase + 2)) msg->reply.assign(text, VmStrLen(L, msg->stackBase + 2));
    }
    if (discardResults) VmSetTop(L, msg->stackBase);
    if (EventQuitRequested()) return err ? err : ERR_USERABORT;
    return err;
}
