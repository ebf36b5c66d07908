// The player under a virtual X server of its own, as the window tests run
// it: whether the X tools are there, and a shell script run on a fresh
// 1024x768 screen with the player's own video driver.
#pragma once

#include <cstdlib>
#include <string>

#include "e2e/e2e_util.h"

inline bool HaveTool(const char* name) {
    return std::system(("command -v " + std::string(name) + " >/dev/null").c_str()) == 0;
}

class XvfbFixture : public e2e::E2eFixture {
protected:
    // Runs the script as run.sh in the test's folder, with no error box
    // that could wait for a click unless errorBox. The script's status is
    // kept in status.txt: xvfb-run's own status also reports trouble
    // removing its temporary folder, which says nothing about the player.
    e2e::RunResult UnderXvfb(const std::string& script, bool errorBox = false) {
        // xvfb-run starts the script once the server has said it is ready,
        // yet on a loaded machine a first client has been seen refused; the
        // script starts only once the root window answers.
        e2e::WriteFile(dir_ / "run.sh", "i=0\nuntil xwininfo -root >/dev/null 2>&1 || [ $i -ge 100 ]; do "
                                        "i=$((i+1)); sleep 0.1; done\n" + script);
        const std::string box = errorBox ? "-u QB_NO_ERROR_BOX" : "QB_NO_ERROR_BOX=1";
        e2e::RunResult r = Run("cd " + dir_.string() + " && env -u SDL_VIDEODRIVER " + box +
                               " timeout 150 xvfb-run -a -s '-screen 0 "
                               "1024x768x24' sh -c 'sh run.sh; echo $? >status.txt'");
        const std::string status = e2e::ReadFile(dir_ / "status.txt");
        if (!status.empty()) r.status = std::stoi(status);
        return r;
    }
};
