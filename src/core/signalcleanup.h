// Files and folders that must not outlive the process even when SIGTERM or
// SIGINT (Ctrl-C) ends it: the inflated applet and the private folder of a
// linked executable's plugins. The handler removes them and then ends the
// process with the signal's usual status.
#pragma once

// Installs the handlers of SIGTERM and SIGINT.
void InstallSignalCleanup();
// A path to remove on those signals; a folder is emptied first. Takes the
// path in the system's spelling. Silently ignored once the fixed table is full.
void AddSignalCleanupPath(const char* systemPath, bool folder);
// The path is gone by other means (shutdown removed it).
void ForgetSignalCleanupPath(const char* systemPath);
