// A resolver of the test's own for name lookups: a child process in a
// mount namespace of its own sees a resolv.conf that names a DNS server of
// the test's on a loopback address, which answers as each case asks (never,
// only the first query, or only some names) and would otherwise let the
// resolver try for 150 s.
#pragma once

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "wait_for.h"

namespace nettest {

constexpr int kSkip = 77;
// The address the server gives every name it answers.
constexpr unsigned char kAnswer[4] = {10, 9, 8, 7};

enum class Answers { kNever, kFirstQueryOnly, kNamesStartingAnswered };

// The name asked in a DNS query, dotted; empty when the query is not one.
inline std::string QueryName(const unsigned char* q, size_t n, size_t* end) {
    std::string name;
    size_t at = 12;
    while (at < n && q[at] != 0) {
        const size_t length = q[at];
        if (length > 63 || at + 1 + length > n) return {};
        if (!name.empty()) name += '.';
        name.append(reinterpret_cast<const char*>(q + at + 1), length);
        at += 1 + length;
    }
    if (at + 5 > n) return {};
    *end = at + 5;  // the zero label, type and class
    return name;
}

// Answers queries as asked until the child ends: an A query with kAnswer,
// any other with no records.
inline void ServeDns(int fd, Answers answers) {
    bool answeredOne = false;
    for (;;) {
        unsigned char q[512];
        sockaddr_in from{};
        socklen_t fromLength = sizeof from;
        const ssize_t n = recvfrom(fd, q, sizeof q, 0, reinterpret_cast<sockaddr*>(&from), &fromLength);
        if (n < 12) continue;
        size_t end = 0;
        const std::string name = QueryName(q, static_cast<size_t>(n), &end);
        if (name.empty()) continue;
        const bool answer = answers == Answers::kFirstQueryOnly ? !answeredOne
                                                                : name.rfind("answered", 0) == 0;
        if (!answer) continue;
        answeredOne = true;
        std::vector<unsigned char> r(q, q + end);
        const bool typeA = q[end - 4] == 0 && q[end - 3] == 1;
        r[2] = 0x81 | (q[2] & 0x01);  // a response; recursion as asked
        r[3] = 0x80;                  // recursion available, no error
        r[4] = 0, r[5] = 1, r[6] = 0, r[7] = typeA ? 1 : 0;
        r[8] = r[9] = r[10] = r[11] = 0;
        if (typeA) {
            const unsigned char record[] = {0xC0, 0x0C, 0, 1, 0, 1, 0, 0, 0, 60, 0, 4};
            r.insert(r.end(), record, record + sizeof record);
            r.insert(r.end(), kAnswer, kAnswer + 4);
        }
        sendto(fd, r.data(), r.size(), 0, reinterpret_cast<sockaddr*>(&from), fromLength);
    }
}

// In the child: the namespace, the server and resolv.conf, then the case;
// 0 when the case held, kSkip when the namespace could not be made, else 1;
// what happened goes to fd.
inline int InPrivateResolver(int fd, Answers answers, const std::function<bool(std::string*)>& run) {
    const auto say = [fd](const std::string& text) {
        if (write(fd, text.data(), text.size()) < 0) return;
    };
    if (unshare(CLONE_NEWNS) != 0) return say("unshare(CLONE_NEWNS) refused"), kSkip;
    if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) return say("mount private refused"), kSkip;
    // A loopback address of this process's own, so that runs beside it do
    // not meet.
    const unsigned pid = static_cast<unsigned>(getpid());
    const std::string ip = "127.77." + std::to_string((pid >> 8) & 255) + "." + std::to_string((pid & 255) | 1);
    const int server = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(53);
    address.sin_addr.s_addr = inet_addr(ip.c_str());
    if (bind(server, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
        return say("no port 53 on " + ip), kSkip;
    // Left to itself the resolver would try for 150 s.
    const std::string conf = ::testing::TempDir() + "private_resolv" + std::to_string(pid) + ".conf";
    std::ofstream(conf) << "nameserver " << ip << "\noptions timeout:30 attempts:5\n";
    const bool mounted = mount(conf.c_str(), "/etc/resolv.conf", nullptr, MS_BIND, nullptr) == 0;
    std::remove(conf.c_str());  // the mount keeps it while the child lives
    if (!mounted) return say("bind mount refused"), kSkip;
    // A silent server never reads; the others answer from a thread that
    // ends with the child.
    if (answers != Answers::kNever) std::thread(ServeDns, server, answers).detach();
    std::string said;
    const bool held = run(&said);
    say(said);
    return held ? 0 : 1;
}

// Runs the case in a child and waits for it at most `within`: the bound
// that only lookups which wait for the resolver (150 s) miss.
inline void RunInChild(Answers answers, const std::function<bool(std::string*)>& run,
                       std::chrono::seconds within = std::chrono::seconds(30)) {
    int out[2];
    ASSERT_EQ(pipe2(out, O_CLOEXEC), 0);
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        close(out[0]);
        _exit(InPrivateResolver(out[1], answers, run));
    }
    close(out[1]);
    int status = 0;
    const bool ended = test_wait::WaitFor([&] { return waitpid(pid, &status, WNOHANG) == pid; }, within);
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

}  // namespace nettest
