// The player's process entry.
#include "core/startup.h"

int main(int argc, char** argv) { return PlayerMain(argc, argv); }
