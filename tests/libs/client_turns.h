// What the tests of a server learn from Python clients (python_server.h)
// that run beside it: the server checks its events at every wait until the
// clients say their line, and a line "answer <word> turns <n>" tells in how
// many of the clients' turns a good client was answered.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>

#include "libs/python_server.h"
#include "wait_for.h"

namespace nettest {

// Checks (each check must find no error) until the clients say a line,
// within most; the line, or an empty one.
template <class Check>
std::string CheckUntilClientsSay(PythonServer& clients, Check check, std::chrono::seconds most) {
    EXPECT_TRUE(test_wait::WaitFor(
        [&] {
            EXPECT_EQ(check(), 0);
            return clients.HasOutput();
        },
        most));
    return clients.NextLine(1000);
}

// The n of "answer <word> turns <n>", or -1 where said is another line.
inline int AnswerTurns(const std::string& said, const std::string& word) {
    char answer[64] = "";
    int turns = -1;
    if (std::sscanf(said.c_str(), "answer %63s turns %d", answer, &turns) != 2 || word != answer) return -1;
    return turns;
}

// The clients' Python: connect(first, rcvbuf) opens a connection to the
// port of argv[1] (its receive buffer rcvbuf bytes where given), sends
// first and stops blocking.
inline const std::string kConnectPython = R"(
def connect(first, rcvbuf=0):
    s = socket.socket()
    if rcvbuf:
        s.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, rcvbuf)
    s.connect(('127.0.0.1', port))
    s.sendall(first)
    s.setblocking(False)
    return s
)";

// The clients' Python: await_answer(good, turn, trickle) waits for the
// good client's line a turn at a time, sending a byte to each socket of
// trickle at every turn, and prints "answer <line> turns <n>".
inline const std::string kAwaitAnswerPython = R"(
def await_answer(good, turn, trickle=()):
    answer = b''
    turns = 0
    while not answer.endswith(b'\n') and turns < 1000:
        for s in trickle:
            try:
                s.send(b'x')
            except OSError:
                pass
        time.sleep(turn)
        turns += 1
        try:
            answer += good.recv(100)
        except OSError:
            pass
    print('answer', answer.decode().strip(), 'turns', turns, flush=True)
)";

}  // namespace nettest
