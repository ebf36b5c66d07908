// Where and why the loader's code checker refuses a chunk, for the tools
// that write chunks: they name the place the player would only call "Bad
// bytecode!".
#pragma once

#include <cstddef>
#include <vector>

struct VmCodeFault {
    // The nested-function indices that lead from the main function to the
    // refused one (empty: the main function itself).
    std::vector<int> path;
    int pc = -1;                  // the refused instruction; -1: the function's header
    const char* reason = nullptr;  // null: something other than the checker refused the chunk
};

// Reads the chunk as the player's loader does, in a VM state of its own, and
// returns 0 when the loader would take it, else the loader's error code;
// when the checker refused a function, *fault says which, where and why.
// The functions are checked as the loader reads them: each one's nested
// functions before its own code.
int VmCheckChunk(const char* data, size_t size, VmCodeFault* fault);
