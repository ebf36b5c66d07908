// The dos library: files opened by scripts, virtual files, the environment,
// pack files and checksums. Directories, paths, serialised tables and
// program starts join it later.
#pragma once

#include <cstdint>
#include <string>

#include "core/objects.h"
#include "libs/blockstring.h"
#include "libs/stringinternal.h"

struct ScriptState;
struct qbFile;
struct qbFileInfo;

constexpr int kObjectTypeFile = 44;
constexpr int kObjectTypeDirectory = 45;

// The script's #MODE_* constants.
constexpr int32_t kDosModeReadWrite = 1004;
constexpr int32_t kDosModeRead = 1005;
constexpr int32_t kDosModeWrite = 1006;
// #IO_BUFFERED and #IO_UNBUFFERED.
constexpr int32_t kDosIOBuffered = 0;
constexpr int32_t kDosIOUnbuffered = 1;

// One file that OpenFile opened.
struct qbFileObject : qbObject {
    int32_t openMode = 0;  // the #MODE_* the script passed
    int32_t access = 0;    // 1 read, 2 write, 4 read and write
    qbFile* file = nullptr;
    std::string name;  // as opened, for FileAttributes' "path"
};

int InitDosLibrary(ScriptState* L);
// Frees every file and virtual file at shutdown.
void FreeDosObjects(ScriptState* L);

// The open file of that id: 0, ERR_FINDARRAY (automatic id) or ERR_FINDFILE
// (numeric id, the number set as the message's argument).
int GetFileRecord(ObjectID id, qbFileObject** out);
// Pushes a new table of "type", "size" (files only), "flags", "time" and
// "lastaccesstime".
void PushFileInfoTable(ScriptState* L, const qbFileInfo& info);

int GetDosIOMode();
void SetDosIOMode(int mode);

// The file list as the object registry sees it, and its upkeep.
struct qbObjectList;
qbObjectList* FileListHead();
// ERR_MEM leaves the record out of the list, the caller's.
int AppendFileRecord(qbFileObject* record);
// Unlinks, closes and frees the record; 0 or ERR_WRITE when the close
// failed, bytes written not reaching the file (the record is gone either way).
int FreeFileRecord(ScriptState* L, qbFileObject* record);

// The longest line ReadLine reads and the longest ReadString: the string
// library's bound on what a command builds.
constexpr size_t kLongestLine = kMaxStringLength;
// Reads one line (ReadLine's rules) into *line; ERR_MEM before it would grow
// past longest bytes or when memory runs out (a device that never ends a
// line), ERR_READ when a read failed or met the end of a file cut under it.
int ReadFileLine(qbFile* file, size_t longest, qbBlockString* line);

// The directory objects (dosdirs.cpp): their list, the adapter serving one
// ("inbuilt" for the inbuilt back-ends, as files and displays answer), its
// GetAttribute row and freeing them all.
qbObjectList* DirectoryListHead();
const char* GetDirectoryAdapterName(const qbObject* directory);
void InstallDirectoryAttributeRows();
void FreeDirectoryObjects(ScriptState* L);

// Makes the folder and every missing parent: 0 or ERR_CREATEDIR with the
// path as the detail. With madeLast, the folder the path names, when made,
// is made 0700 (a copy gives it its source's mode once filled) and
// *madeLast tells whether it was.
int MakeDirectoryPath(const std::string& path, bool* madeLast = nullptr);
// Temporary files, deleted at shutdown (dospaths.cpp). AddTempFile makes one
// (with the extension of the linked file chunk, when given) and gives its
// path, empty on failure; FindTempFile gives the one made for chunk, if any.
std::string AddTempFile(const char* chunk);
std::string FindTempFile(const char* chunk);
void DeleteTempFiles();

// The programs started by Run (dosrun.cpp): the dispatcher's hooks for
// their ends, freeing one once its end was handled (its watcher thread
// stopped, its callback released), and freeing all at shutdown.
struct qbRunningProgram;
void InstallRunHooks();
void RemoveRunningProgram(ScriptState* L, qbRunningProgram* run);
void FreeRunningPrograms(ScriptState* L);

// The virtual string files (dosvirtual.cpp).
void FreeVirtualStringFiles(ScriptState* L);
