// The built-in message table as data: default texts by message number, and the
// message number of every built-in error code.
#pragma once

#include <cstddef>

struct MessageRow {
    int number;
    const char* text;
};

extern const MessageRow kMessageRows[];
extern const size_t kMessageRowCount;
// Indexed by code - 1000 for codes 1000..1580; -1 where a code has no row.
extern const short kCodeMessageNumbers[];
extern const size_t kCodeMessageCount;
