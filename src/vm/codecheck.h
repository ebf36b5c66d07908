// Where and why the loader's code checker refuses a chunk: the tools that
// write chunks name the place in their text, and the player names it after
// its "Bad bytecode!".
#pragma once

#include <cstddef>
#include <string>
#include <vector>

struct VmCodeFault {
    // The nested-function indices that lead from the main function to the
    // refused one (empty: the main function itself).
    std::vector<int> path;
    int pc = -1;                  // the refused instruction; -1: the function's header
    const char* reason = nullptr;  // null: something other than the checker refused the chunk
    // Of the refused function: its number of instructions, and the opcode
    // and line of the refused instruction (-1 beyond the code, 0 for a
    // function without line info).
    int codeSize = 0;
    int opcode = -1;
    int line = 0;
};

// The fault as the player shows it after "Bad bytecode!": the function (by
// its nested-function indices), the instruction with its opcode and line,
// and the reason; "" when the fault has no reason.
std::string VmDescribeCodeFault(const VmCodeFault& fault);

// Reads the chunk as the player's loader does, in a VM state of its own, and
// returns 0 when the loader would take it, else the loader's error code;
// when the checker refused a function, *fault says which, where and why.
// The functions are checked as the loader reads them: each one's nested
// functions before its own code.
int VmCheckChunk(const char* data, size_t size, VmCodeFault* fault);
