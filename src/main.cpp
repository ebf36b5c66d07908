// The player's process entry.
#include "platform/platform.h"
#include "player/startup.h"

int main(int argc, char** argv) {
    SetPlatformBackend(&LinuxPlatformOps());
    return EnterMain(argc, argv, PlayerMain);
}
