// Reading an applet file into the applet record.
#pragma once

#include <cstddef>

#include "vm/vm.h"

struct qbApplet;
struct qbCommandLine;

// Loads the applet named by the command-line record; 0 or an error code.
int LoadScriptOrApplet(ScriptState* L, qbCommandLine* cl, qbApplet* applet);

// The header strings near the start of an applet (tags 10-15 and 34), read
// from the first bytes of the file for the start-up progress display.
void ReadAppletHeaderStrings(const unsigned char* data, size_t size, qbApplet* applet);

// The start-up check of the file named as the applet: it must open
// (ERR_FILEEXIST), hold 4 bytes (ERR_READ) and begin with "QBA" or "QBZ" and
// a NUL (ERR_NOAPPLET). *compressed tells which.
int CheckAppletFile(const char* path, int* compressed);
