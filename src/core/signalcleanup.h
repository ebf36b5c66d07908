// Files and folders that must not outlive the process even when a signal
// ends it (SIGTERM, SIGINT, SIGHUP, SIGQUIT, SIGXFSZ): the inflated applet,
// the private folder of a linked executable's plugins and a save's new file
// while it is written.
// The handler removes them and then ends the process with the signal's
// usual status.
#pragma once

// Installs the handlers of those signals.
void InstallSignalCleanup();
// A path to remove on those signals; a folder is emptied first. Takes the
// path in the system's spelling. Silently ignored while the fixed table is
// full; a forgotten path frees its slot.
void AddSignalCleanupPath(const char* systemPath, bool folder);
// The path is gone by other means (shutdown removed it).
void ForgetSignalCleanupPath(const char* systemPath);
