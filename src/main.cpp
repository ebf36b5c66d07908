// The player's process entry.
#include "core/startup.h"
#include "platform/platform.h"

int main(int argc, char** argv) {
    // The in-memory backend serves until the window system is wired in.
    SetPlatformBackend(&NullPlatformOps());
    return EnterMain(argc, argv, PlayerMain);
}
