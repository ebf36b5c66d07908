// The dispatcher's sources served by other subsystems: music streams asking
// for data, the sound event queue (sample, music and video ends, finished
// programs), the network objects and messages from other programs. Each
// step delivers at most one event and remembers where the walk stands.
#include "display/eventsources.h"

#include <cstring>
#include <string>

#include "core/errcodes.h"
#include "core/extprogram.h"
#include "core/memory.h"
#include "core/soundevents.h"
#include "display/display.h"
#include "display/eventlib.h"
#include "display/pollinterval.h"
#include "platform/platform.h"

namespace {

qbEventSourceHooks hooks;

enum NetworkStage : int { kNetUdp, kNetServers, kNetData, kNetClosed, kNetDone };

struct SourceWalk {
    bool musicDone = false;
    bool soundDone = false;
    int networkStage = kNetUdp;
    size_t cursor = 0;
    bool messagesDone = false;
};

SourceWalk walk;

bool Installed(int slot) { return ObjectHandler(slot).function != -1; }

void SetHandler(qbEventMessage* msg, int slot, const char* action, int type) {
    msg->type = type;
    msg->function = ObjectHandler(slot).function;
    msg->userData = ObjectHandler(slot).userData;
    std::snprintf(msg->action, sizeof msg->action, "%s", action);
}

int Deliver(ScriptState* L, qbEventMessage* msg) { return DeliverEvent(L, msg, false); }

// The sound library holds the music for as long as its handler runs.
int RunFill(ObjectID id, const std::function<int()>& deliver) {
    return hooks.runMusicFill ? hooks.runMusicFill(id, deliver) : deliver();
}

// The slot and action of a sound event kind; false for unknown kinds.
bool SoundSlot(int kind, int* slot, const char** action) {
    switch (kind) {
        case kSoundEventSampleEnd: *slot = kObjSampleEnd, *action = "OnSampleEnd"; return true;
        case kSoundEventSampleLoop: *slot = kObjSampleLoop, *action = "OnSampleLoop"; return true;
        case kSoundEventMusicEnd: *slot = kObjMusicEnd, *action = "OnMusicEnd"; return true;
        case kSoundEventVideoEnd: *slot = kObjVideoEnd, *action = "OnVideoEnd"; return true;
        case kSoundEventRunFinished: *slot = kObjRunFinished, *action = "RunFinished"; return true;
        default: return false;
    }
}

// The reference of a run's own finish callback, or -1 when its value is no
// function (or it has none).
int RunCallback(ScriptState* L, void* run) {
    if (!run || !hooks.runUserData) return -1;
    const int ref = hooks.runUserData(static_cast<const qbRunningProgram*>(run));
    if (ref == -1 || !VmCheckStack(L, 1)) return -1;
    VmRawGetIndex(L, kRegistryIndex, ref);
    const bool function = VmType(L, -1) == kTypeFunction;
    VmSetTop(L, -2);
    return function ? ref : -1;
}

void FreeRun(ScriptState* L, void* run) {
    if (run && hooks.freeRun) hooks.freeRun(L, static_cast<qbRunningProgram*>(run));
}

// "command", "rawargs", "args" and "argc" of a command line: the arguments
// lose their double quotes and each blank outside quotes ends one.
void SetCommandLineFields(ScriptState* L, const std::string& text) {
    const size_t blank = text.find(' ');
    const std::string command = text.substr(0, blank);
    const std::string raw = blank == std::string::npos ? std::string() : text.substr(blank + 1);
    std::string args;
    int argc = 0;
    if (!raw.empty()) {
        argc = 1;
        bool quoted = false;
        for (char c : raw) {
            if (c == '"') {
                quoted = !quoted;
            } else if (c == ' ' && !quoted) {
                args += '\0';
                ++argc;
            } else {
                args += c;
            }
        }
    }
    SetTableFieldString(L, "command", command.c_str());
    VmPushString(L, "rawargs");
    VmPushLString(L, raw.data(), raw.size());
    VmRawSet(L, -3);
    VmPushString(L, "args");
    VmPushLString(L, args.data(), args.size());
    VmRawSet(L, -3);
    SetTableFieldInt(L, "argc", argc);
}

// The two strings of a block: the first, and the one after its zero.
const char* SecondString(const char* block) { return block + std::strlen(block) + 1; }

}  // namespace

void SetEventSourceHooks(const qbEventSourceHooks& h) { hooks = h; }
qbEventSourceHooks GetEventSourceHooks() { return hooks; }

bool WaitForNetwork(int timeoutMs) { return hooks.waitNetwork && hooks.waitNetwork(timeoutMs); }

void ResetSourceWalk() { walk = SourceWalk{}; }

int NextMusicRequest(ScriptState* L, qbEventMessage* msg) {
    if (walk.musicDone) return 0;
    walk.musicDone = true;
    if (!hooks.findMusicNeedingData || !Installed(kObjFillMusicBuffer)) return 0;
    // Once per tick of the poll interval, whatever the handler gives: a
    // handler that feeds nothing would otherwise be asked again at once,
    // in a loop that never lets the wait sleep.
    if (!TakePollTick()) return 0;
    ObjectID id;
    if (!hooks.findMusicNeedingData(&id, &msg->values[0], &msg->values[1])) return 0;
    SetHandler(msg, kObjFillMusicBuffer, "FillMusicBuffer", kMsgMusicBuffer);
    msg->id = id;
    return RunFill(id, [&] { return Deliver(L, msg); });
}

bool HasFillMusicBufferHandler() { return Installed(kObjFillMusicBuffer); }

int CallFillMusicBuffer(ScriptState* L, ObjectID id, int32_t samples, int32_t count) {
    if (!Installed(kObjFillMusicBuffer)) return ERR_NOFMBHANDLER;
    qbEventMessage msg;
    SetHandler(&msg, kObjFillMusicBuffer, "FillMusicBuffer", kMsgMusicBuffer);
    msg.id = id;
    msg.values[0] = samples;
    msg.values[1] = count;
    return RunFill(id, [&] { return DeliverEvent(L, &msg, true); });
}

int NextSoundEvent(ScriptState* L, qbEventMessage* msg) {
    if (walk.soundDone) return 0;
    if (!Installed(kObjSampleLoop) && !Installed(kObjSampleEnd) && !Installed(kObjMusicEnd) &&
        !Installed(kObjVideoEnd) && !Installed(kObjRunFinished) &&
        !(hooks.runsWithCallbacks && hooks.runsWithCallbacks())) {
        walk.soundDone = true;
        return 0;
    }
    while (std::optional<qbSoundEvent> ev = PopSoundEvent()) {
        int slot = 0;
        const char* action = nullptr;
        if (!SoundSlot(ev->type, &slot, &action)) continue;
        const bool run = ev->type == kSoundEventRunFinished;
        const int own = run && !Installed(slot) ? RunCallback(L, ev->id.handle) : -1;
        if (!Installed(slot) && own == -1) {
            // Nobody hears of it, but a finished run's record still goes.
            if (run) FreeRun(L, ev->id.handle);
            continue;
        }
        SetHandler(msg, slot, action, run ? kMsgRunFinished : kMsgSound);
        if (own != -1) msg->function = own;
        msg->id = ev->id;
        msg->values[0] = static_cast<int32_t>(ev->position);
        msg->values[1] = ev->loops;
        if (run) msg->block = ev->id.handle;
        return Deliver(L, msg);
    }
    walk.soundDone = true;
    return 0;
}

int NextNetworkEvent(ScriptState* L, qbEventMessage* msg) {
    while (walk.networkStage != kNetDone) {
        bool found = false;
        ObjectID id;
        switch (walk.networkStage) {
            case kNetUdp:
                found = Installed(kObjReceiveUDPData) && hooks.nextUdpDatagram &&
                        hooks.nextUdpDatagram(&walk.cursor, &id);
                if (found) SetHandler(msg, kObjReceiveUDPData, "OnReceiveUDPData", kMsgReceiveUDPData);
                break;
            case kNetServers:
                found = Installed(kObjConnect) && hooks.nextServerClient &&
                        hooks.nextServerClient(&walk.cursor, &id, &msg->otherID);
                if (found) SetHandler(msg, kObjConnect, "OnConnect", kMsgConnect);
                break;
            case kNetData:
                found = Installed(kObjReceiveData) && hooks.nextConnectionData &&
                        hooks.nextConnectionData(&walk.cursor, &id);
                if (found) SetHandler(msg, kObjReceiveData, "OnReceiveData", kMsgReceiveData);
                break;
            default:
                found = Installed(kObjDisconnect) && hooks.nextConnectionClosed &&
                        hooks.nextConnectionClosed(&walk.cursor, &id);
                if (found) SetHandler(msg, kObjDisconnect, "OnDisconnect", kMsgDisconnect);
                break;
        }
        if (found) {
            msg->id = id;
            return Deliver(L, msg);
        }
        ++walk.networkStage;
        walk.cursor = 0;
    }
    return 0;
}

int NextProgramMessage(ScriptState* L, qbEventMessage* msg) {
    if (walk.messagesDone) return 0;
    while (void* message = PollNativeMessage()) {
        if (!Installed(kObjUserMessage)) {
            FreeMemory(message);
            continue;
        }
        SetHandler(msg, kObjUserMessage, "OnUserMessage", kMsgUserMessage);
        msg->text = SecondString(static_cast<const char*>(message));
        FreeMemory(message);
        return Deliver(L, msg);
    }
    walk.messagesDone = true;
    return 0;
}

void FinishRunMessage(ScriptState* L, const qbEventMessage& msg) {
    if (msg.type == kMsgRunFinished) FreeRun(L, msg.block);
}

void FillSourceTable(ScriptState* L, const qbEventMessage& msg) {
    switch (msg.type) {
        case kMsgSound:
            SetTableFieldObjectID(L, "id", msg.id);
            if (std::strcmp(msg.action, "OnMusicEnd") != 0 && std::strcmp(msg.action, "OnVideoEnd") != 0) {
                SetTableFieldInt(L, "time", msg.values[0]);
                SetTableFieldInt(L, "starts", msg.values[1]);
            }
            break;
        case kMsgCommandMessage:
        case kMsgUserMessage: SetCommandLineFields(L, msg.text); break;
        case kMsgConnect:
            SetTableFieldObjectID(L, "serverid", msg.id);
            SetTableFieldObjectID(L, "clientid", msg.otherID);
            break;
        case kMsgDisconnect:
        case kMsgReceiveData:
        case kMsgReceiveUDPData: SetTableFieldObjectID(L, "id", msg.id); break;
        case kMsgMusicBuffer:
            SetTableFieldObjectID(L, "id", msg.id);
            SetTableFieldInt(L, "samples", msg.values[0]);
            SetTableFieldInt(L, "count", msg.values[1]);
            break;
        case kMsgApplicationMessage: {
            const auto* block = static_cast<const char*>(msg.block);
            SetTableFieldString(L, "message", block ? block : "");
            SetTableFieldString(L, "sender", block ? SecondString(block) : "");
            break;
        }
        case kMsgRunFinished: {
            const auto* run = static_cast<const qbRunningProgram*>(msg.block);
            SetTableFieldString(L, "program", run ? run->program.c_str() : "");
            SetTableFieldString(L, "args", run ? run->args.c_str() : "");
            if (const int ref = run && hooks.runUserData ? hooks.runUserData(run) : -1; ref != -1) {
                VmPushString(L, "runuserdata");
                VmRawGetIndex(L, kRegistryIndex, ref);
                VmRawSet(L, -3);
            }
            break;
        }
        default: break;
    }
}
