// Running external programs: synchronously through the shell, or
// asynchronously with an argument vector and optional output redirection.
#pragma once

#include <spawn.h>
#include <string>
#include <sys/types.h>
#include <vector>

// path, argument text, asynchronous flag, user record (may be null), out
// process id of an asynchronous run (may be null). 0 or an error code.
int RunProgram(const char* path, const char* args, int async, void* user, pid_t* outPid);
int ExecuteProgram(const char* path, const char* args, int flag);

// The argument vector of an asynchronous run: the path first, then the
// arguments of the text; `outputFile` receives a '>' redirection (empty when
// none). 0, or ERR_WRONGUSAGE for an unclosed quote or too many arguments.
int SplitProgramArguments(const char* path, const char* args, std::vector<std::string>& argv, std::string& outputFile);

// Whether RunProgram runs the path as a program (an executable file, or a
// name to look up on the search path) rather than opening it as a document
// (an existing file without execute permission, or a folder).
bool IsProgramPath(const char* path);

// The child of posix_spawn starts with no blocked signals and the default
// handling of the signals a program expects to find: our threads may block
// some, and the process may ignore SIGPIPE for its own sockets.
void ResetChildSignals(posix_spawnattr_t* attr);
