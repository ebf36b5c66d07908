// The player holds a descriptor for each level of a tree it walks (DeleteFile
// and CopyFile name every entry in its open folder), so a tree deeper than
// the usual soft limit of 1,024 descriptors needs more: the soft limit is
// raised to the hard one at start. The player's own descriptors never meet
// select(), which alone cares how high they go (sockets are checked against
// FD_SETSIZE where they meet it). Programs it starts get the soft limit it
// was given, as a program that uses select() expects.
#pragma once

#include <spawn.h>
#include <sys/types.h>

void RaiseDescriptorLimit();
// posix_spawnp with the soft limit the player was given, which the child
// inherits.
int SpawnWithGivenLimit(pid_t* pid, const char* file, const posix_spawn_file_actions_t* actions,
                        const posix_spawnattr_t* attr, char* const argv[], char* const envp[]);
