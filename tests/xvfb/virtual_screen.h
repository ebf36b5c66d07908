// One Xvfb for a test process, started at the first use and stopped at its
// end: GTK, once started, keeps its connection to the first server it saw,
// so every in-process test of a binary shares the one screen.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "xvfb/xvfb_run.h"

extern char** environ;

class VirtualScreen {
public:
    static VirtualScreen& Get() {
        static VirtualScreen screen;
        return screen;
    }
    bool Ready() const { return !display_.empty(); }
    ~VirtualScreen() {
        if (pid_ > 0) {
            ::kill(pid_, SIGTERM);
            ::waitpid(pid_, nullptr, 0);
        }
    }

private:
    VirtualScreen() {
        if (!HaveTool("Xvfb")) return;
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC) != 0) return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, fds[1], 3);
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
        char* argv[] = {const_cast<char*>("Xvfb"), const_cast<char*>("-displayfd"), const_cast<char*>("3"),
                        const_cast<char*>("-screen"), const_cast<char*>("0"), const_cast<char*>("1024x768x24"),
                        const_cast<char*>("-nolisten"), const_cast<char*>("tcp"), const_cast<char*>(kXvfbSteady),
                        nullptr};
        const int spawned = posix_spawnp(&pid_, "Xvfb", &actions, nullptr, argv, environ);
        posix_spawn_file_actions_destroy(&actions);
        ::close(fds[1]);
        if (spawned != 0) pid_ = -1;
        std::string number;
        pollfd p{fds[0], POLLIN, 0};
        while (pid_ > 0 && ::poll(&p, 1, 20000) == 1) {
            char c;
            if (::read(fds[0], &c, 1) != 1 || c == '\n') break;
            number += c;
        }
        ::close(fds[0]);
        if (number.empty()) return;
        display_ = ":" + number;
        setenv("DISPLAY", display_.c_str(), 1);
        unsetenv("WAYLAND_DISPLAY");
        unsetenv("SDL_VIDEODRIVER");
        setenv("GDK_BACKEND", "x11", 1);
        // No session bus here: GTK's settings stay in memory, and no
        // accessibility bridge is looked for.
        setenv("NO_AT_BRIDGE", "1", 1);
        setenv("GSETTINGS_BACKEND", "memory", 1);
    }
    pid_t pid_ = -1;
    std::string display_;
};

