// Name lookups that wait as every other network wait does: the system
// resolver works on glibc's lookup helper (getaddrinfo_a) while the main
// thread pumps events, and the lookup ends at the network time-out, however
// long the resolver's own settings would let it try.
#include <arpa/inet.h>
#include <netdb.h>
#include <poll.h>

#include <atomic>
#include <csignal>
#include <cstring>
#include <memory>
#include <string>

#include "core/ostime.h"
#include "libs/network.h"

namespace {

// One lookup, shared with the helper: whichever side is done with it last
// frees it, so that a lookup given up at the time-out may run on to the
// resolver's own end without anything left behind.
struct Lookup {
    enum State { kRunning, kDone, kAbandoned };
    std::string name;
    addrinfo hints{};
    gaicb request{};
    sigevent notify{};
    std::atomic<int> state{kRunning};
    ~Lookup() {
        if (request.ar_result) freeaddrinfo(request.ar_result);
    }
};

void LookupFinished(sigval value) {
    auto* lookup = static_cast<Lookup*>(value.sival_ptr);
    if (lookup->state.exchange(Lookup::kDone) == Lookup::kAbandoned) delete lookup;
}

// The resolver's codes (those of gethostbyname) for what getaddrinfo says.
int ResolverCode(int gai) {
    switch (gai) {
        case EAI_NONAME: return HOST_NOT_FOUND;
        case EAI_AGAIN: return TRY_AGAIN;
        case EAI_NODATA:
        case EAI_ADDRFAMILY: return NO_DATA;
        case EAI_MEMORY: return ENOMEM;
        case EAI_SYSTEM: return errno > 0 ? errno : NO_RECOVERY;
        default: return NO_RECOVERY;
    }
}

}  // namespace

int LookUpIPv4(ScriptState* L, const char* host, in_addr* out, int* pumpError) {
    auto lookup = std::make_unique<Lookup>();
    lookup->name = host;
    lookup->hints.ai_family = AF_INET;
    lookup->hints.ai_socktype = SOCK_STREAM;
    lookup->request.ar_name = lookup->name.c_str();
    lookup->request.ar_request = &lookup->hints;
    lookup->notify.sigev_notify = SIGEV_THREAD;
    lookup->notify.sigev_notify_function = LookupFinished;
    lookup->notify.sigev_value.sival_ptr = lookup.get();
    gaicb* list[] = {&lookup->request};
    if (int gai = getaddrinfo_a(GAI_NOWAIT, list, 1, &lookup->notify)) return ResolverCode(gai);
    const int64_t deadline = NetDeadlineFromNow();
    while (lookup->state.load() != Lookup::kDone) {
        *pumpError = NetPump(L);
        if (*pumpError || (deadline >= 0 && GetMonotonicMicros() > deadline)) {
            // The helper frees it once the resolver gives its answer.
            if (lookup->state.exchange(Lookup::kAbandoned) == Lookup::kRunning) static_cast<void>(lookup.release());
            return kSockTimeout;
        }
        poll(nullptr, 0, 1);
    }
    if (int gai = gai_error(&lookup->request)) return ResolverCode(gai);
    for (const addrinfo* a = lookup->request.ar_result; a; a = a->ai_next) {
        if (a->ai_family != AF_INET || !a->ai_addr) continue;
        *out = reinterpret_cast<const sockaddr_in*>(a->ai_addr)->sin_addr;
        return 0;
    }
    return NO_ADDRESS;
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
