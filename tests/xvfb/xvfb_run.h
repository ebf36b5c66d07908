// The player under a virtual X server of its own, as the window tests run
// it: whether the X tools are there, and a shell script run on a fresh
// 1024x768 screen with the player's own video driver.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>

#include "e2e/e2e_util.h"

// Every virtual X server of the tests runs with this (see XvfbRun).
inline constexpr const char* kXvfbSteady = "-noreset";

inline bool HaveTool(const char* name) {
    return std::system(("command -v " + std::string(name) + " >/dev/null").c_str()) == 0;
}

// Shell lines for run.sh: await_window NAME PID looks for a window of that
// name until it is there (0) or 400 looks found none (1). Then it writes to
// waited.txt what the process PID was doing: its threads' states and kernel
// waits, its children, the stacks of its threads where gdb is there, and the
// windows the server holds, so that a player that never opens its window
// says where it stood.
inline constexpr const char* kAwaitWindow = R"sh(await_window() {
    n=0
    until xwininfo -name "$1" >/dev/null 2>&1; do
        n=$((n+1))
        if [ $n -ge 400 ]; then
            {
                echo "no window named $1 after $n looks; load: $(cat /proc/loadavg)"
                if kill -0 "$2" 2>/dev/null; then
                    echo "process $2 runs, started $(ps -o etimes= -p "$2") s ago:"
                    for t in /proc/"$2"/task/*; do
                        echo "  thread ${t##*/} $(cat "$t"/comm): state $(cut -d' ' -f3 "$t"/stat), waits in $(cat "$t"/wchan)"
                    done
                    echo "its children:"
                    ps -o pid=,stat=,etimes=,args= --ppid "$2"
                    echo "its kernel stack:"
                    cat /proc/"$2"/stack 2>&1
                    if command -v gdb >/dev/null; then
                        gdb -p "$2" -batch -ex 'thread apply all bt' 2>&1 | grep -E '^(Thread|#)'
                    fi
                else
                    echo "process $2 has ended"
                fi
                echo "the server's windows:"
                xwininfo -root -tree 2>&1 | head -40
            } >>waited.txt 2>&1
            return 1
        fi
        sleep 0.1
    done
    return 0
}
)sh";

// The start of a command that runs the rest on a fresh virtual X server of
// the given size: a server of its own (-a), whose messages and xauth's go to
// errorFile. A bare server resets when its last client leaves, and a client
// that connects during the reset is dropped: between the script's looks at
// the screen, the player's connection was, and it went on with no window.
// A desktop's server always has clients; -noreset keeps this one as steady.
inline std::string XvfbRun(const std::string& screen, const std::string& errorFile = "/dev/null") {
    return "xvfb-run -a -e " + errorFile + " -s '-screen 0 " + screen + " " + std::string(kXvfbSteady) + "' ";
}

class XvfbFixture : public e2e::E2eFixture {
protected:
    // A failed test says what await_window saw, and what the server and
    // xauth said (xvfb.txt), before its folder goes.
    void TearDown() override {
        if (HasFailure()) {
            for (const char* name : {"waited.txt", "xvfb.txt"}) {
                const std::string said = e2e::ReadFile(dir_ / name);
                if (!said.empty()) std::printf("%s:\n%s\n", name, said.c_str());
            }
        }
        e2e::E2eFixture::TearDown();
    }
    // What await_window wrote when the window never came, and whether the
    // server never answered; "" otherwise.
    std::string Waited() { return e2e::ReadFile(dir_ / "waited.txt"); }

    // Runs the script as run.sh in the test's folder, with no error box
    // that could wait for a click unless errorBox. The script's status is
    // kept in status.txt: xvfb-run's own status also reports trouble
    // removing its temporary folder, which says nothing about the player.
    // serverOptions: more of the server's options (its screen's first).
    e2e::RunResult UnderXvfb(const std::string& script, bool errorBox = false, const std::string& serverOptions = "") {
        // xvfb-run starts the script once the server has said it is ready,
        // yet on a loaded machine a first client has been seen refused; the
        // script starts only once the root window answers.
        e2e::WriteFile(dir_ / "run.sh", std::string(kAwaitWindow) +
                                            "i=0\nuntil xwininfo -root >/dev/null 2>&1 || [ $i -ge 100 ]; do "
                                            "i=$((i+1)); sleep 0.1; done\n"
                                            "xwininfo -root >/dev/null 2>root.txt || { echo \"the server at $DISPLAY "
                                            "never answered:\"; cat root.txt; } >>waited.txt\n" +
                                            script);
        const std::string box = errorBox ? "-u QB_NO_ERROR_BOX" : "QB_NO_ERROR_BOX=1";
        const std::string screen = "1024x768x24" + (serverOptions.empty() ? "" : " " + serverOptions);
        e2e::RunResult r = Run("cd " + dir_.string() + " && env -u SDL_VIDEODRIVER " + box + " timeout 150 " +
                               XvfbRun(screen, "xvfb.txt") + "sh -c 'sh run.sh; echo $? >status.txt'");
        const std::string status = e2e::ReadFile(dir_ / "status.txt");
        if (!status.empty()) r.status = std::stoi(status);
        return r;
    }
};
