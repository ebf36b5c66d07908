// Reading an applet file into the applet record.
#pragma once

#include <cstddef>

#include "vm/vm.h"

struct qbApplet;
struct qbCommandLine;

// Start-up shows the header strings while plugins are scanned; they lie in
// this many bytes at the start of the (inflated) applet.
constexpr size_t kHeaderPreReadSize = 2048;

// Loads the applet named by the command-line record; 0 or an error code.
int LoadScriptOrApplet(ScriptState* L, qbCommandLine* cl, qbApplet* applet);

// The header strings near the start of an applet (tags 10-15 and 34), read
// from the first bytes of the file for the start-up progress display.
void ReadAppletHeaderStrings(const unsigned char* data, size_t size, qbApplet* applet);
// Reads the first kHeaderPreReadSize bytes of the applet at path (inflated
// when compressed) and takes the header strings from them. 0, or ERR_MEM or
// the inflate error of a compressed applet.
int PreReadAppletHeader(const char* path, int compressed, qbApplet* applet);

// The start-up check of the file named as the applet: it must open
// (ERR_FILEEXIST; ERR_NOAPPLET for a folder), hold 4 bytes (ERR_READ) and begin with "QBA" or "QBZ" and
// a NUL (ERR_NOAPPLET). *compressed tells which.
int CheckAppletFile(const char* path, int* compressed);
