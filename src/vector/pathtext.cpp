#include "vector/pathtext.h"

int ResolvePathTextHandles(uint8_t* commands, qbVectorEngine* engine) {
    (void)commands;
    (void)engine;
    return 0;
}
