// The soft limit of descriptors: raised for the player, given back to the
// programs it starts.
#include "core/descriptorlimit.h"

#include <sys/resource.h>

#include <mutex>

namespace {

// The limit the player was given, while it runs with a raised one.
struct GivenLimit {
    std::mutex lock;
    bool raised = false;
    rlimit given{};
};

GivenLimit& Given() {
    static GivenLimit limit;
    return limit;
}

}  // namespace

void RaiseDescriptorLimit() {
    GivenLimit& g = Given();
    const std::lock_guard<std::mutex> hold(g.lock);
    rlimit now{};
    if (g.raised || getrlimit(RLIMIT_NOFILE, &now) != 0 || now.rlim_cur >= now.rlim_max) return;
    rlimit raised = now;
    raised.rlim_cur = now.rlim_max;
    if (setrlimit(RLIMIT_NOFILE, &raised) != 0) return;
    g.given = now;
    g.raised = true;
}

int SpawnWithGivenLimit(pid_t* pid, const char* file, const posix_spawn_file_actions_t* actions,
                        const posix_spawnattr_t* attr, char* const argv[], char* const envp[]) {
    GivenLimit& g = Given();
    const std::lock_guard<std::mutex> hold(g.lock);
    rlimit raised{};
    // The child copies the limit at the spawn, and the spawn returns only
    // once the child runs the program (or failed to): the raised limit
    // comes back at once. The player's descriptors above the given limit
    // stay open meanwhile; only a new one there would wait for it.
    const bool lower = g.raised && getrlimit(RLIMIT_NOFILE, &raised) == 0 && setrlimit(RLIMIT_NOFILE, &g.given) == 0;
    const int rc = posix_spawnp(pid, file, actions, attr, argv, envp);
    if (lower) setrlimit(RLIMIT_NOFILE, &raised);
    return rc;
}
