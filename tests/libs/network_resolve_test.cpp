// A name lookup ends at the network time-out whatever the resolver's own
// settings: a child process in a mount namespace of its own sees a
// resolv.conf that names a server which never answers.
#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/wait.h>

#include <cstdio>
#include <fstream>

#include "libs/net_fixture.h"
#include "libs/net_peer.h"
#include "wait_for.h"

namespace {

using namespace nettest;
using NetworkResolveTest = NetCallTest;

constexpr int kSkip = 77;

// In the child: 0 when both lookups failed as lookups do, kSkip when the
// namespace could not be made, else 1; the reason goes to fd.
int LookUpBehindASilentServer(ScriptState* L, int fd) {
    const auto say = [fd](const std::string& text) {
        if (write(fd, text.data(), text.size()) < 0) return;
    };
    if (unshare(CLONE_NEWNS) != 0) return say("unshare(CLONE_NEWNS) refused"), kSkip;
    if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) return say("mount private refused"), kSkip;
    // The silent server: a socket on port 53 that nothing ever reads, at a
    // loopback address of this process's own, so that runs beside it do
    // not meet.
    const unsigned pid = static_cast<unsigned>(getpid());
    const std::string ip = "127.77." + std::to_string((pid >> 8) & 255) + "." + std::to_string((pid & 255) | 1);
    const int silent = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(53);
    address.sin_addr.s_addr = inet_addr(ip.c_str());
    if (bind(silent, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
        return say("no port 53 on " + ip), kSkip;
    // Left to itself the resolver would try for 150 s.
    const std::string conf = ::testing::TempDir() + "silent_resolv" + std::to_string(pid) + ".conf";
    std::ofstream(conf) << "nameserver " << ip << "\noptions timeout:30 attempts:5\n";
    const bool mounted = mount(conf.c_str(), "/etc/resolv.conf", nullptr, MS_BIND, nullptr) == 0;
    std::remove(conf.c_str());  // the mount keeps it while the child lives
    if (!mounted) return say("bind mount refused"), kSkip;
    VmPushNumber(L, 1);
    VmPushString(L, "qb-silent-lookup.test");
    VmPushNumber(L, 80);
    VmPushCClosure(L, cmdOpenConnection, 0);
    VmInsert(L, -4);
    const int opened = VmPCall(L, 3, 0, 0);
    VmSetTop(L, 0);
    VmPushCClosure(L, cmdToIP, 0);
    VmPushString(L, "qb-silent-lookup.test");
    const int looked = VmPCall(L, 1, 2, 0);
    say("OpenConnection " + std::to_string(opened) + ", ToIP " + std::to_string(looked));
    return opened == ERR_SOCKET && looked == ERR_SOCKET ? 0 : 1;
}

TEST_F(NetworkResolveTest, ASilentResolverEndsAtTheTimeOut) {
    int out[2];
    ASSERT_EQ(pipe2(out, O_CLOEXEC), 0);
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        close(out[0]);
        _exit(LookUpBehindASilentServer(L, out[1]));
    }
    close(out[1]);
    int status = 0;
    // Two lookups of one time-out each; only a lookup that waits for the
    // resolver (150 s) misses this.
    const bool ended = test_wait::WaitFor([&] { return waitpid(pid, &status, WNOHANG) == pid; },
                                          std::chrono::seconds(30));
    if (!ended) {
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
    }
    std::string said;
    char piece[256];
    ssize_t n;
    while ((n = read(out[0], piece, sizeof piece)) > 0) said.append(piece, static_cast<size_t>(n));
    close(out[0]);
    ASSERT_TRUE(ended) << "the lookups waited for the resolver";
    ASSERT_TRUE(WIFEXITED(status));
    if (WEXITSTATUS(status) == kSkip) GTEST_SKIP() << said;
    EXPECT_EQ(WEXITSTATUS(status), 0) << said;
}

}  // namespace
