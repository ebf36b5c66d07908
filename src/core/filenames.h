// Names crossing to the file system. Script text is ISO 8859-1 while Linux
// file names are UTF-8 bytes; names read from the system come back through
// FileNameToLatin1 (chars.h), which keeps the raw bytes of a name it can't
// convert, and the way out here undoes that.
#pragma once

#include <string>

// Text for the system: ASCII and valid UTF-8 that holds a character beyond
// ISO 8859-1 pass unchanged (only a raw system name looks like that); any
// other text is taken as ISO 8859-1 and converted to UTF-8.
std::string ToSystemText(const char* text);

// A path for the system calls: '\' turned into '/' (MakeNativePath), then
// ToSystemText. When the converted path (or its folder) doesn't exist but the
// unconverted bytes do, those are used: a raw name from a listing opens the
// same file it came from.
std::string ToSystemPath(const char* name);

// A path from the system in the player's text.
std::string FromSystemPath(const char* path);

// "PROGDIR:" at the start of a name stands for the folder of the running
// executable; other names are as given.
std::string ExpandProgDir(const char* name);

// The system path of a name as every road of the file layer takes it:
// ExpandProgDir, then ToSystemPath. Readers, writers and the checks that
// compare files by identity all go through it, so that two spellings of one
// file are one file to all of them.
std::string NativePathOf(const char* name);
