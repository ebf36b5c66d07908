// A plugin file checked against itself before it is mapped: the dynamic
// loader touches mapped pages past the end of a cut file, which ends the
// process with SIGBUS rather than with a load error.
#pragma once

#include <string>

// True when path is a regular file (after links) holding an ELF header of
// this machine's class and byte order whose program headers, and every
// segment they describe, lie inside the file. Otherwise false, with why in
// reason. Never blocks on a FIFO or device.
bool CheckPluginElf(const char* path, std::string* reason);
