// Requesters that start-up needs before any display exists.
#pragma once

#include <cstddef>

// Asks for a file; fills path (folder plus file name). 0, ERR_USERABORT when
// cancelled, or the requester's error.
int ShowFileRequester(const char* title, const char* pattern, char* path, size_t pathSize);
