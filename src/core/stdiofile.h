// The stdio back-end behind ordinary files and applet chunks (used by the
// file layer only). Reads go through a read-ahead window in the handle
// (qbFile::getPtr/getEnd) so that FileGetC costs no call; every operation
// here knows about the window, and the stream itself stands at its end.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "core/file.h"

// "wb" for write, "r+b" for read and write, else "rb". Chunks of the applet
// open for reading only: writing through one would truncate or overwrite the
// applet itself.
std::unique_ptr<StdioFile> OpenStdioFile(const char* name, uint32_t mode);
// FileOverNewFile's and FileOpenExpected's back-end (core/file.h).
std::unique_ptr<StdioFile> StdioOverNewFile(int fd, const char* systemPath);
std::unique_ptr<StdioFile> OpenStdioExpected(const char* systemPath, uint32_t mode, const qbFileId& expected);
size_t StdioRead(qbFile* f, void* buffer, size_t count);
size_t StdioWrite(qbFile* f, const void* buffer, size_t count);
// FileGetC once the window is empty: refills it.
int StdioGetC(qbFile* f);
int64_t StdioSeek(qbFile* f, int64_t offset, int mode);
int StdioEof(const qbFile* f);
int StdioReadFailed(const qbFile* f);
int StdioFlush(qbFile* f);
int StdioClose(qbFile* f);
