// Case folding (ISO 8859-1, shared with the VM), charset conversion and path
// helpers with the exact behaviour that names, error texts and file names
// rely on.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "vm/casefold.h"

// Names of parts of the applet file (and of virtual files) begin with this.
inline constexpr char kChunkNamePrefix[] = ":::chunk";

int IsGraphChar(int c);
// A copy with every '%' doubled; empty when the text has no '%' (use it as is).
std::string EscapePercent(const char* text);
std::string Latin1ToUTF8(const char* text);
// Characters beyond ISO 8859-1 and invalid or cut-short sequences become '?'.
std::string UTF8ToLatin1(const char* text);
// False, with out incomplete, when the text has an invalid sequence or a
// character beyond ISO 8859-1.
bool TryUTF8ToLatin1(const char* text, std::string& out);
// A file name from the system in ISO 8859-1, or its raw bytes when it can't
// be converted, so that the name still opens the same file.
std::string FileNameToLatin1(const char* name);

enum : int { kCharsetLatin1 = 0, kCharsetUTF8 = 1 };
// A new text from AllocMemory (the caller frees it with FreeMemory), or null
// for a null text, a pair of charsets other than those two, or no memory.
char* ConvertCharset(const char* text, int from, int to);
// Position of the file part separator (see the path rules); writing a NUL there
// leaves the folder part.
const char* GetPathFilePart(const char* path);
// The name's file part; for a chunk name, the file name it carries (between
// '*' and '?'), in a per-thread buffer that the thread's next call overwrites.
const char* FilePartEx(const char* path);
// Appends name as a path component, never writing past bufferSize bytes.
// 1, or 0 when the result had to be cut short.
int AddPart(char* path, const char* name, size_t bufferSize);
std::string MakeNativePath(const char* path);
int FindLowestSetBit(uint32_t word);
// The table is made at compile time; kept for the start-up sequence's sake.
void BuildCRC32Table();
uint32_t ComputeCRC32(const void* buffer, long length);
// Continues a CRC-32 over more bytes: start with 0, pass each block and the
// result of the one before.
uint32_t UpdateCRC32(uint32_t crc, const void* buffer, size_t length);
// The same sum without processor-specific instructions, and one byte at a
// time: the plain forms that the fast one is checked against.
uint32_t ComputeCRC32Portable(const void* buffer, long length);
uint32_t ComputeCRC32Bytewise(const void* buffer, long length);
