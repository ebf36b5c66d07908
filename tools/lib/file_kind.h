// What kind of file the tools were handed, told by its first bytes, so that
// a tool given the wrong kind can say what it got.
#pragma once

#include <cstdint>
#include <vector>

enum class FileKind { Empty, Chunk, Applet, CompressedApplet, Executable, Text, Other };

FileKind DetectFileKind(const std::vector<uint8_t>& bytes);
// "a compiled chunk", "an applet", ...: the kind for a message.
const char* FileKindName(FileKind kind);
