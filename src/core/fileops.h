// Operations on the native file system, environment variables and temporary
// names. Names are the player's text (see filenames.h for the crossing).
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

// 1 on success, 0 on failure: newName taken (by anything: a file, a folder,
// a link) is a failure.
int RenameFile(const char* oldName, const char* newName);
// The same, replacing what newName holds, unless a live object reads it
// (core/readholds.h); for plugins, whose files table promises the system's
// rename.
int ReplaceRenameFile(const char* oldName, const char* newName);
// A file or an empty directory.
int RemoveFile(const char* name);
// FILEATTR bits to the POSIX mode; FILEATTR_NORMAL means 0644.
int SetFileProtection(const char* name, uint32_t attr);
// Seconds since 1970 (64-bit).
int SetFileDate(const char* name, int64_t accessTime, int64_t modifyTime);
// 0 or ERR_CREATEDIR; mode 0755.
int CreateDir(const char* name);

// realpath; a name that doesn't resolve is joined onto the current directory
// when relative and kept when absolute.
std::string GetFullPath(const char* name);
void GetFullPath(const char* name, char* buffer, size_t bufferSize);
std::string GetCurrentDirPath();
// The previous current directory, or nothing when the change failed.
std::optional<std::string> ChangeCurrentDir(const char* name);

std::optional<std::string> GetEnvVar(const char* name);
// 0 or ERR_SETENV (overwrites).
int SetEnvVar(const char* name, const char* value);
// 0 or ERR_UNSETENV for a name the system refuses.
int UnsetEnvVar(const char* name);

// The TEMPDIR option's folder; "/tmp" until it is set.
void SetTempDir(const char* folder);
std::string GetTempDir();
// A new empty file "quenbrook.XXXXXX" in the temporary folder, made unique by
// creating it; empty when that fails.
std::string MakeTempFileName();
// The same with the extension of name appended (for a chunk name, that of
// the file it carries).
std::string MakeTempFileNameWithExt(const char* name);
// The buffer forms for plugins; the buffer is empty on failure or when too small.
void MakeTempFileName(char* buffer, size_t bufferSize);

// The file system that holds path: the bytes free to this user and the
// bytes in use. 0, or ERR_STAT with the path as the detail.
int GetVolumeSpace(const char* path, uint64_t* freeBytes, uint64_t* usedBytes);
// The mount point of the file system that holds path. 0, or ERR_STAT with
// the path as the detail.
int QueryVolumeName(const char* path, char* buffer, size_t bufferSize);
std::string QueryVolumeName(const char* path);
