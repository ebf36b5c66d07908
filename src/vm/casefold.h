// Case folding of ISO 8859-1 text, exactly as names are matched: the VM
// folds command and constant names with it, the runtime its file names,
// options and tags.
#pragma once

#include <cstddef>

extern const unsigned char kLowerCaseTable[256];
extern const unsigned char kUpperCaseTable[256];

int StrCmpNoCase(const char* a, const char* b);
int StrNCmpNoCase(const char* a, const char* b, size_t n);
char* StrToLower(char* text);
