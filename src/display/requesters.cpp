// Requesters: without a window system nothing can be asked, which counts as cancelling.
#include "display/requesters.h"

#include "core/errcodes.h"

int ShowFileRequester(const char*, const char*, char* path, size_t pathSize) {
    if (path && pathSize) path[0] = 0;
    return ERR_USERABORT;
}
