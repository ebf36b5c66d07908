// The player's process entry.
#include "player/startup.h"
#include "platform/platform.h"

int main(int argc, char** argv) {
    SetPlatformBackend(&LinuxPlatformOps());
    return EnterMain(argc, argv, PlayerMain);
}
