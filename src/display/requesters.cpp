// Requesters: without a window system nothing can be asked, so the question
// goes to the console and counts as cancelled.
#include "display/requesters.h"

#include <cstdio>

#include "core/errcodes.h"

int ShowFileRequester(const char* title, const char* pattern, char* path, size_t pathSize) {
    if (path && pathSize) path[0] = 0;
    std::fprintf(stderr, "%s (*.%s): no file requester is available here.\nUsage: quenbrookplayer APPLET [-OPTION [VALUE]]...\n",
                 title ? title : "", pattern ? pattern : "*");
    return ERR_USERABORT;
}
