// Name lookups that wait as every other network wait does: the system
// resolver works on a thread of its own while the main thread pumps events,
// and the wait ends at the network time-out, however long the resolver's
// own settings would let it try.
//
// A lookup given up at its deadline cannot be stopped inside the resolver,
// so each thread holds its resolver to what is left of the time-out (one try,
// of as many servers as whole seconds are left), and no more than
// kMostLookupThreads are waited for at once: a lookup that finds them all
// busy waits for one within its own time-out, and one given up before it got
// a thread never starts. A lookup given up (at its deadline, or when the
// handlers' budget is spent) frees its place at once, its thread running on
// to its resolver's end beside the others, up to kMostThreadsAtAll: a
// given-up lookup never takes the place of a later one.
#include <arpa/inet.h>
#include <netdb.h>
#include <poll.h>
#include <resolv.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <exception>
#include <memory>
#include <new>
#include <string>
#include <thread>
#include <vector>

#include "core/ostime.h"
#include "libs/network.h"

namespace {

constexpr int kMostLookupThreads = 8;
// Threads given up on end within a second or so of their deadline (the
// resolver counts whole seconds); this many let lookups given up every
// 20 ms go on without ever making a later one wait.
constexpr int kMostThreadsAtAll = 64;

enum class LookupKind { kAddress, kTable, kReverse };

// One lookup, shared with its thread: whichever side is done with it last
// frees it, so that a lookup given up at the time-out may run on to the
// resolver's end without anything left behind.
struct Lookup {
    LookupKind kind = LookupKind::kAddress;
    std::string name;
    in_addr address{};  // kReverse: asked; kAddress: found
    int64_t deadline = -1;
    std::atomic<bool> done{false};
    std::atomic<bool> holdsPlace{false};  // one of the kMostLookupThreads places
    int result = 0;
    qbHostTable table;  // kTable and kReverse
};

// The resolver's codes (those of gethostbyname) for what getaddrinfo says.
int ResolverCode(int gai, int savedErrno) {
    switch (gai) {
        case EAI_NONAME: return HOST_NOT_FOUND;
        case EAI_AGAIN: return TRY_AGAIN;
        case EAI_NODATA:
        case EAI_ADDRFAMILY: return NO_DATA;
        case EAI_MEMORY: return ENOMEM;
        case EAI_SYSTEM: return savedErrno > 0 ? savedErrno : NO_RECOVERY;
        default: return NO_RECOVERY;
    }
}

// This thread's resolver makes one try within what is left of the
// deadline. It counts whole seconds, at least one a server, so it asks only
// as many servers as there are seconds left, sharing them out.
void BoundResolver(int64_t deadline) {
    if (deadline < 0 || res_init() != 0) return;
    const int64_t left = std::max<int64_t>(0, deadline - GetMonotonicMicros());
    const int64_t seconds = std::clamp<int64_t>((left + 999999) / 1000000, 1, 3600);
    _res.nscount = static_cast<int>(std::clamp<int64_t>(seconds, 1, std::max(1, _res.nscount)));
    _res.retrans = static_cast<int>(seconds / _res.nscount);
    _res.retry = 1;
}

void FreePlace(Lookup* lookup) {
    if (lookup->holdsPlace.exchange(false)) NetLookupThreads().places.fetch_sub(1);
}

// One of the places and one of the threads, when both are free.
bool TakePlace(Lookup* lookup) {
    qbLookupThreads& threads = NetLookupThreads();
    int places = threads.places.load();
    if (places >= kMostLookupThreads || threads.running.load() >= kMostThreadsAtAll) return false;
    if (!threads.places.compare_exchange_strong(places, places + 1)) return false;
    threads.running.fetch_add(1);
    lookup->holdsPlace.store(true);
    return true;
}

int FindAddress(Lookup* lookup) {
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    errno = 0;
    if (int gai = getaddrinfo(lookup->name.c_str(), nullptr, &hints, &found)) return ResolverCode(gai, errno);
    int result = NO_ADDRESS;
    for (const addrinfo* a = found; a; a = a->ai_next) {
        if (a->ai_family != AF_INET || !a->ai_addr) continue;
        lookup->address = reinterpret_cast<const sockaddr_in*>(a->ai_addr)->sin_addr;
        result = 0;
        break;
    }
    freeaddrinfo(found);
    return result;
}

int FindTable(Lookup* lookup) {
    hostent entry{};
    std::vector<char> buffer;
    const int err = lookup->kind == LookupKind::kReverse
                        ? SocketGetHostByAddr(&lookup->address, sizeof lookup->address, &entry, buffer)
                        : SocketGetHostByName(lookup->name.c_str(), &entry, buffer);
    return err ? err : HostTableOf(entry, &lookup->table);
}

void RunLookup(const std::shared_ptr<Lookup>& lookup) {
    BoundResolver(lookup->deadline);
    try {
        lookup->result = lookup->kind == LookupKind::kAddress ? FindAddress(lookup.get()) : FindTable(lookup.get());
    } catch (const std::bad_alloc&) {
        lookup->result = ENOMEM;
    }
    lookup->done.store(true, std::memory_order_release);
    FreePlace(lookup.get());
    NetLookupThreads().running.fetch_sub(1);
}

// Runs the lookup on a thread of its own while events are pumped, until it
// answers or the network time-out passes, or inside a handler the budget
// of waiting is spent (kSockTimeout; a pump's error in *pumpError).
int Await(ScriptState* L, const std::shared_ptr<Lookup>& lookup, int* pumpError) {
    lookup->deadline = NetDeadlineFromNow();
    NetSharedWait shared(NetHandlerBudget(nullptr));
    bool started = false;
    for (;;) {
        if (!started && TakePlace(lookup.get())) {
            try {
                std::thread(RunLookup, lookup).detach();
            } catch (const std::exception&) {  // no thread, or no memory for its start
                FreePlace(lookup.get());
                NetLookupThreads().running.fetch_sub(1);
                return TRY_AGAIN;
            }
            started = true;
        }
        if (started && lookup->done.load(std::memory_order_acquire)) return lookup->result;
        *pumpError = NetPump(L);
        if (*pumpError || (lookup->deadline >= 0 && GetMonotonicMicros() > lookup->deadline) || !shared.GoOn()) {
            FreePlace(lookup.get());
            return kSockTimeout;
        }
        poll(nullptr, 0, 1);
    }
}

}  // namespace

int HostTableOf(const hostent& entry, qbHostTable* table) {
    if (entry.h_addrtype != AF_INET || !entry.h_addr_list || !entry.h_addr_list[0]) return NO_ADDRESS;
    table->name = entry.h_name ? entry.h_name : "";
    for (char** a = entry.h_addr_list; *a; ++a) {
        in_addr address{};
        std::memcpy(&address, *a, sizeof address);
        table->addresses.push_back(address);
    }
    for (char** a = entry.h_aliases; a && *a; ++a) table->aliases.emplace_back(*a);
    return 0;
}

int LookUpIPv4(ScriptState* L, const char* host, in_addr* out, int* pumpError) {
    auto lookup = std::make_shared<Lookup>();
    lookup->name = host;
    const int err = Await(L, lookup, pumpError);
    if (!err) *out = lookup->address;
    return err;
}

int LookUpHostTable(ScriptState* L, const char* name, const in_addr* byAddress, qbHostTable* out, int* pumpError) {
    *pumpError = 0;
    if (!byAddress && HostLookupsReplaced()) {
        hostent entry{};
        std::vector<char> buffer;
        const int err = SocketGetHostByName(name, &entry, buffer);
        return err ? err : HostTableOf(entry, out);
    }
    auto lookup = std::make_shared<Lookup>();
    lookup->kind = byAddress ? LookupKind::kReverse : LookupKind::kTable;
    if (byAddress) lookup->address = *byAddress;
    else lookup->name = name;
    const int err = Await(L, lookup, pumpError);
    if (!err) *out = std::move(lookup->table);
    return err;
}

int ResolveIPv4(ScriptState* L, const char* host, in_addr* out, int* pumpError) {
    *pumpError = 0;
    if (inet_pton(AF_INET, host, out) == 1) return 0;
    if (!HostLookupsReplaced()) return LookUpIPv4(L, host, out, pumpError);
    hostent entry{};
    std::vector<char> buffer;
    if (int err = SocketGetHostByName(host, &entry, buffer)) return err;
    if (entry.h_addrtype != AF_INET || !entry.h_addr_list || !entry.h_addr_list[0]) return NO_ADDRESS;
    std::memcpy(out, entry.h_addr_list[0], sizeof *out);
    return 0;
}
