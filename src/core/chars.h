// Case folding (ISO 8859-1), charset conversion and path helpers with the
// exact behaviour that names, error texts and file names rely on.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// Names of parts of the applet file (and of virtual files) begin with this.
inline constexpr char kChunkNamePrefix[] = ":::chunk";

extern const unsigned char kLowerCaseTable[256];
extern const unsigned char kUpperCaseTable[256];

int StrCmpNoCase(const char* a, const char* b);
int StrNCmpNoCase(const char* a, const char* b, size_t n);
char* StrToLower(char* text);
int IsGraphChar(int c);
// A copy with every '%' doubled; empty when the text has no '%' (use it as is).
std::string EscapePercent(const char* text);
std::string Latin1ToUTF8(const char* text);
// Characters beyond ISO 8859-1 become '?'; stray high bytes pass unchanged.
std::string UTF8ToLatin1(const char* text);
// Position of the file part separator (see the path rules); writing a NUL there
// leaves the folder part.
const char* GetPathFilePart(const char* path);
// The name's file part; for a chunk name, the file name it carries (between
// '*' and '?'), copied into a buffer that the next call overwrites.
const char* FilePartEx(const char* path);
// Appends name as a path component, cutting the result to bufferSize - 1 bytes.
void AddPart(char* path, const char* name, size_t bufferSize);
std::string MakeNativePath(const char* path);
int FindLowestSetBit(uint32_t word);
// The table is made at compile time; kept for the start-up sequence's sake.
void BuildCRC32Table();
uint32_t ComputeCRC32(const void* buffer, long length);
