// The handlers of the network library's commands, and the helpers the
// library's files share.
#pragma once

#include <memory>

#include "core/argapi.h"
#include "libs/network.h"

struct ScriptState;

// Object kinds of GetLocalIP and GetLocalPort.
constexpr int kNetworkConnection = 99;
constexpr int kNetworkServer = 115;
constexpr int kNetworkUdp = 117;

int cmdOpenConnection(ScriptState* L);
int cmdCloseConnection(ScriptState* L);
int cmdCreateServer(ScriptState* L);
int cmdCloseServer(ScriptState* L);
int cmdSendData(ScriptState* L);
int cmdReceiveData(ScriptState* L);
int cmdGetConnectionIP(ScriptState* L);
int cmdGetConnectionPort(ScriptState* L);
int cmdGetLocalIP(ScriptState* L);
int cmdGetLocalPort(ScriptState* L);
int cmdGetHostName(ScriptState* L);
int cmdToIP(ScriptState* L);
int cmdToHostName(ScriptState* L);
int cmdSetNetworkTimeout(ScriptState* L);
int cmdCreateUDPObject(ScriptState* L);
int cmdCloseUDPObject(ScriptState* L);
int cmdSendUDPData(ScriptState* L);
int cmdReceiveUDPData(ScriptState* L);
int cmdIsOnline(ScriptState* L);

// Frees the object of that number in the list, if any (a creation under a
// number in use replaces the old object).
void FreeNumberedObject(ScriptState* L, int type, int32_t number);
// Names the node by the creating command's id argument and appends it to
// its list; pushes the automatic id and answers 1, else answers 0.
int ListNewObject(ScriptState* L, qbObject* node, NewObjectID id);
