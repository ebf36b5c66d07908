// Requesters: without a window system no file can be asked for, so the player
// says what it wanted and how it is started instead.
#include "display/requesters.h"

#include <cstdio>

int ShowFileRequester(const char* title, const char* pattern, char* path, size_t pathSize) {
    if (path && pathSize) path[0] = 0;
    std::fprintf(stderr, "%s (*.%s)\n", title ? title : "", pattern ? pattern : "*");
    return kNoFileRequester;
}
