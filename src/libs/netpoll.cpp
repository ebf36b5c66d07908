// Readiness of connections and servers through one edge-triggered epoll
// set. An edge marks what may have news: a connection's data or close, a
// server's waiting clients. A mark stays until the dispatcher's poll has
// looked (a stage without a handler never looks, so nothing is lost while
// none is installed); a receive that took data marks its connection again,
// since what it left behind brings no new edge.
#include "libs/netpoll.h"

#include <poll.h>
#include <sys/epoll.h>
#include <unistd.h>

#include <algorithm>
#include <deque>
#include <map>

#include "libs/network.h"

namespace {

struct Arrival {
    qbServer* server;
    qbConnection* client;
};

struct PollSet {
    int fd = -1;
    uint64_t nextSeq = 0;
    // Connections with a mark by their order of creation, which is the
    // order of the list: a round walks them from a cursor that is a place
    // in that order, so a connection freed meanwhile simply leaves (a freed
    // connection never stays, whatever handlers are installed).
    std::map<uint64_t, qbConnection*> marked;
    std::deque<Arrival> arrivals;
    // Edges were taken since the last wait: a later stage may have taken
    // an edge that an earlier stage of the same round still has to see,
    // so the next wait must not sleep.
    bool edgesTaken = false;
};

PollSet set;

constexpr int kEventBatch = 256;

void Mark(qbConnection* c) {
    c->wantData = c->wantClose = true;
    if (c->marked) return;
    c->marked = true;
    set.marked.emplace(c->seq, c);
}

bool Register(int fd, void* node) {
    if (set.fd < 0) set.fd = epoll_create1(EPOLL_CLOEXEC);
    if (set.fd < 0 || fd < 0) return false;
    epoll_event event{};
    event.events = EPOLLIN | EPOLLRDHUP | EPOLLET;
    event.data.ptr = node;
    return epoll_ctl(set.fd, EPOLL_CTL_ADD, fd, &event) == 0;
}

// Takes the edges since the last gather.
void Gather() {
    if (set.fd < 0) return;
    epoll_event events[kEventBatch];
    for (;;) {
        const int n = epoll_wait(set.fd, events, kEventBatch, 0);
        if (n > 0) set.edgesTaken = true;
        for (int i = 0; i < n; ++i) {
            auto* node = static_cast<qbObject*>(events[i].data.ptr);
            if (node->type == kServerType) static_cast<qbServer*>(node)->pending = true;
            else Mark(static_cast<qbConnection*>(node));
        }
        if (n < kEventBatch) return;
    }
}

}  // namespace

void NetPollWatch(qbConnection* c) {
    c->seq = set.nextSeq++;
    c->watched = Register(c->socket.fd, c);
    Mark(c);
}

void NetPollWatch(qbServer* s) {
    s->watched = Register(s->socket.fd, s);
    s->pending = true;
}

void NetPollForget(qbConnection* c) {
    if (c->marked) set.marked.erase(c->seq);
    c->marked = false;
    std::erase_if(set.arrivals, [c](const Arrival& a) { return a.client == c; });
}

void NetPollForget(qbServer* s) {
    std::erase_if(set.arrivals, [s](const Arrival& a) { return a.server == s; });
}

void NetPollRecheck(qbConnection* c) { Mark(c); }

void NetPollAcceptPending(qbObject* servers) {
    Gather();
    for (qbObject* o = servers; o; o = o->next) {
        auto* s = static_cast<qbServer*>(o);
        if (!s->pending && s->watched) continue;
        // An edge comes once per arrival burst: the queue is taken to its
        // end, or the rest would wait for the next client.
        ObjectID client;
        int got;
        while ((got = AcceptServerClient(s, &client)) > 0)
            set.arrivals.push_back(Arrival{s, static_cast<qbConnection*>(client.handle)});
        // Out of descriptors the clients stay queued, and no edge comes for
        // them again: the server stays pending, tried again every round
        // (the next tick, or once a descriptor was freed).
        s->pending = got < 0;
    }
}

bool NetPollNextArrival(size_t* cursor, qbObject* servers, ObjectID* server, ObjectID* client) {
    if (*cursor == 0) NetPollAcceptPending(servers);
    if (set.arrivals.empty()) return false;
    const Arrival a = set.arrivals.front();
    set.arrivals.pop_front();
    ++*cursor;
    *server = IDOf(*a.server);
    *client = IDOf(*a.client);
    return true;
}

namespace {

// One step of a round over the marks for one of the two polls. The cursor
// is 0 at the start of a round, else one more than the order of the next
// connection to look at; marks that need no look are dropped on the way.
bool NextMarked(size_t* cursor, bool qbConnection::*want, int (*poll)(qbConnection*), qbConnection** out) {
    if (*cursor == 0) {
        Gather();
        *cursor = 1;
    }
    for (auto it = set.marked.lower_bound(*cursor - 1); it != set.marked.end();) {
        qbConnection* c = it->second;
        *cursor = it->first + 2;
        if (!c->wantData && !c->wantClose) {
            c->marked = false;
            it = set.marked.erase(it);
            continue;
        }
        if (!(c->*want)) {
            ++it;
            continue;
        }
        c->*want = !c->watched;
        if (poll(c)) {
            *out = c;
            return true;
        }
        ++it;
    }
    return false;
}

}  // namespace

bool NetPollNextData(size_t* cursor, qbConnection** out) {
    return NextMarked(cursor, &qbConnection::wantData, PollConnectionReceive, out);
}

bool NetPollNextClosed(size_t* cursor, qbConnection** out) {
    return NextMarked(cursor, &qbConnection::wantClose, PollConnectionClosed, out);
}

bool NetPollWait(int timeoutMs) {
    if (set.fd < 0 || (!*ConnectionListHead() && !*ServerListHead())) return false;
    pollfd p{set.fd, POLLIN, 0};
    const bool looked = set.edgesTaken;
    // The set's own descriptor turns readable with its first edge; the
    // edges are taken into the marks here, or a wait that no dispatcher
    // step follows (no handler installed) would find it readable for ever.
    if (poll(&p, 1, looked ? 0 : timeoutMs) > 0) Gather();
    set.edgesTaken = false;
    return true;
}

size_t NetPollMarkCount() { return set.marked.size(); }

void NetPollReset() {
    if (set.fd >= 0) close(set.fd);
    set = PollSet{};
}
