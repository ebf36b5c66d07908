// The handlers of the dos library's commands, for its command table.
#pragma once

struct ScriptState;

// Files and their input and output.
int cmdOpenFile(ScriptState* L);
int cmdCloseFile(ScriptState* L);
int cmdEof(ScriptState* L);
int cmdReadChr(ScriptState* L);
int cmdReadShort(ScriptState* L);
int cmdReadInt(ScriptState* L);
int cmdReadFloat(ScriptState* L);
int cmdReadString(ScriptState* L);
int cmdReadLine(ScriptState* L);
int cmdWriteChr(ScriptState* L);
int cmdWriteShort(ScriptState* L);
int cmdWriteInt(ScriptState* L);
int cmdWriteFloat(ScriptState* L);
int cmdWriteString(ScriptState* L);
int cmdWriteLine(ScriptState* L);
int cmdSeek(ScriptState* L);
int cmdFilePos(ScriptState* L);
int cmdFileLength(ScriptState* L);
int cmdFlushFile(ScriptState* L);
int cmdSetIOMode(ScriptState* L);
int cmdFileAttributes(ScriptState* L);

// Whole files, the line iterator, assets and the environment.
int cmdFileToString(ScriptState* L);
int cmdStringToFile(ScriptState* L);
int cmdFileLines(ScriptState* L);
int cmdGetAsset(ScriptState* L);
int cmdGetEnv(ScriptState* L);
int cmdSetEnv(ScriptState* L);
int cmdUnsetEnv(ScriptState* L);

// Virtual files.
int cmdDefineVirtualFile(ScriptState* L);
int cmdDefineVirtualFileFromString(ScriptState* L);
int cmdUndefineVirtualStringFile(ScriptState* L);

// Pack files, checksums and patches.
int cmdCompressFile(ScriptState* L);
int cmdDecompressFile(ScriptState* L);
int cmdCRC32(ScriptState* L);
int cmdMD5(ScriptState* L);
int cmdApplyPatch(ScriptState* L);

// Directories, paths, attributes, temporary files and wildcards.
int cmdOpenDirectory(ScriptState* L);
int cmdCloseDirectory(ScriptState* L);
int cmdNextDirectoryEntry(ScriptState* L);
int cmdReadDirectory(ScriptState* L);
int cmdGetFileAttributes(ScriptState* L);
int cmdSetFileAttributes(ScriptState* L);
int cmdIsDirectory(ScriptState* L);
int cmdFileSize(ScriptState* L);
int cmdExists(ScriptState* L);
int cmdFilePart(ScriptState* L);
int cmdPathPart(ScriptState* L);
int cmdFullPath(ScriptState* L);
int cmdRename(ScriptState* L);
int cmdMakeDirectory(ScriptState* L);
int cmdChangeDirectory(ScriptState* L);
int cmdGetCurrentDirectory(ScriptState* L);
int cmdGetVolumeName(ScriptState* L);
int cmdGetVolumeInfo(ScriptState* L);
int cmdGetTempFileName(ScriptState* L);
int cmdMatchPattern(ScriptState* L);

// Copying and deleting files and trees.
int cmdCopyFile(ScriptState* L);
int cmdDeleteFile(ScriptState* L);

// Serialised tables and functions.
int cmdWriteTable(ScriptState* L);
int cmdReadTable(ScriptState* L);
int cmdWriteFunction(ScriptState* L);
int cmdReadFunction(ScriptState* L);

// Starting programs.
int cmdExecute(ScriptState* L);
int cmdRun(ScriptState* L);
