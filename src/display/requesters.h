// Requesters that start-up needs before any display exists.
#pragma once

#include <cstddef>

// ShowFileRequester's answer where no requester can be shown: start-up ends
// without an error message, with a failing exit status.
constexpr int kNoFileRequester = -1;

// Asks for a file; fills path (folder plus file name). 0, ERR_USERABORT when
// cancelled, kNoFileRequester, or the requester's error.
int ShowFileRequester(const char* title, const char* pattern, char* path, size_t pathSize);
