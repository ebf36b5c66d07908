// Readiness of the library's connections and servers: one epoll set holds
// them all, so that a dispatcher round costs what became ready, not what is
// open. The dispatcher's polls still decide each event; readiness only
// chooses which nodes they look at.
#pragma once

#include <cstddef>

#include "core/objects.h"

struct qbConnection;
struct qbServer;

// Adds a node to the set; a node the set cannot take is looked at in every
// round instead.
void NetPollWatch(qbConnection* c);
void NetPollWatch(qbServer* s);
// Drops a node about to be freed from every queue.
void NetPollForget(qbConnection* c);
void NetPollForget(qbServer* s);
// The connection's data or close may be news again (a receive took data).
void NetPollRecheck(qbConnection* c);

// Accepts every client waiting at a ready server into the connection list;
// they are reported one by one by NetPollNextArrival. A server out of
// descriptors stays pending and is tried again on the next call.
void NetPollAcceptPending(qbObject* servers);
// The dispatcher's steps: the next ready connection whose poll answers 1,
// and the next accepted client with its server. A cursor of 0 starts a
// round (gathering readiness first).
bool NetPollNextData(size_t* cursor, qbConnection** out);
bool NetPollNextClosed(size_t* cursor, qbConnection** out);
bool NetPollNextArrival(size_t* cursor, qbObject* servers, ObjectID* server, ObjectID* client);
// The dispatcher's wait while connections or servers are open: at most
// timeoutMs for an edge; false when none is open.
bool NetPollWait(int timeoutMs);
// The connections the set keeps a mark for: never more than are open.
size_t NetPollMarkCount();
// Closes the set and empties the queues (all nodes are gone).
void NetPollReset();
