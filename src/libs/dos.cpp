// The dos library's registration, its file list and the shutdown of every
// dos object.
#include "libs/dos.h"

#include <ctime>
#include <iterator>
#include <memory>

#include "core/objectlist.h"
#include "core/errcodes.h"
#include "core/errors.h"
#include "core/file.h"
#include "core/fileinfo.h"
#include "core/pluginadapters.h"
#include "core/settings.h"
#include "draw/attributes.h"
#include "libs/doscommands.h"
#include "sound/samplesources.h"

namespace {

qbObjectList fileList;
int ioMode = kDosIOBuffered;

// In the library's fixed order.
const ScriptCommand kDosCommands[] = {
    {"OpenFile", cmdOpenFile},
    {"Eof", cmdEof},
    {"ReadChr", cmdReadChr},
    {"ReadLine", cmdReadLine},
    {"ReadString", cmdReadString},
    {"Seek", cmdSeek},
    {"WriteChr", cmdWriteChr},
    {"WriteLine", cmdWriteLine},
    {"WriteString", cmdWriteString},
    {"Exists", cmdExists},
    {"FileSize", cmdFileSize},
    {"PathPart", cmdPathPart},
    {"FilePart", cmdFilePart},
    {"MakeDirectory", cmdMakeDirectory},
    {"GetVolumeInfo", cmdGetVolumeInfo},
    {"DeleteFile", cmdDeleteFile},
    {"Execute", cmdExecute},
    {"Run", cmdRun},
    {"ChangeDirectory", cmdChangeDirectory},
    {"GetVolumeName", cmdGetVolumeName},
    {"CloseFile", cmdCloseFile},
    {"ReadDirectory", cmdReadDirectory},
    {"FullPath", cmdFullPath},
    {"CopyFile", cmdCopyFile},
    {"Rename", cmdRename},
    {"IsDirectory", cmdIsDirectory},
    {"CRC32", cmdCRC32},
    {"WriteShort", cmdWriteShort},
    {"WriteInt", cmdWriteInt},
    {"WriteFloat", cmdWriteFloat},
    {"ReadShort", cmdReadShort},
    {"ReadInt", cmdReadInt},
    {"ReadFloat", cmdReadFloat},
    {"FilePos", cmdFilePos},
    {"MatchPattern", cmdMatchPattern},
    {"FlushFile", cmdFlushFile},
    {"SetIOMode", cmdSetIOMode},
    {"GetFileAttributes", cmdGetFileAttributes},
    {"SetFileAttributes", cmdSetFileAttributes},
    {"GetTempFileName", cmdGetTempFileName},
    {"FileLength", cmdFileLength},
    {"CompressFile", cmdCompressFile},
    {"DecompressFile", cmdDecompressFile},
    {"OpenDirectory", cmdOpenDirectory},
    {"CloseDirectory", cmdCloseDirectory},
    {"NextDirectoryEntry", cmdNextDirectoryEntry},
    {"WriteFunction", cmdWriteFunction},
    {"ReadFunction", cmdReadFunction},
    {"DefineVirtualFile", cmdDefineVirtualFile},
    {"ReadTable", cmdReadTable},
    {"WriteTable", cmdWriteTable},
    {"GetCurrentDirectory", cmdGetCurrentDirectory},
    {"ApplyPatch", cmdApplyPatch},
    {"DefineVirtualFileFromString", cmdDefineVirtualFileFromString},
    {"UndefineVirtualStringFile", cmdUndefineVirtualStringFile},
    {"FileToString", cmdFileToString},
    {"StringToFile", cmdStringToFile},
    {"GetEnv", cmdGetEnv},
    {"SetEnv", cmdSetEnv},
    {"UnsetEnv", cmdUnsetEnv},
    {"MD5", cmdMD5},
    {"FileLines", cmdFileLines},
    {"FileAttributes", cmdFileAttributes},
    {"GetAsset", cmdGetAsset},
    {nullptr, nullptr},
};

const ScriptConstant kDosConstants[] = {
    {"FREESPACE", nullptr, 1},
    {"USEDSPACE", nullptr, 0},
    {"EOF", nullptr, -1},
    {"MODE_READWRITE", nullptr, kDosModeReadWrite},
    {"MODE_WRITE", nullptr, kDosModeWrite},
    {"MODE_READ", nullptr, kDosModeRead},
    {"COPYFILE_STATUS", nullptr, 0},
    {"COPYFILE_OVERWRITE", nullptr, 1},
    {"COPYFILE_UNPROTECT", nullptr, 2},
    {"DELETEFILE_STATUS", nullptr, 0},
    {"DELETEFILE_UNPROTECT", nullptr, 1},
    {"IO_BUFFERED", nullptr, kDosIOBuffered},
    {"IO_UNBUFFERED", nullptr, kDosIOUnbuffered},
    {"FILEATTR_NORMAL", nullptr, 65536},
    {"FILEATTR_READ_USR", nullptr, 1},
    {"FILEATTR_WRITE_USR", nullptr, 2},
    {"FILEATTR_DELETE_USR", nullptr, 4},
    {"FILEATTR_EXECUTE_USR", nullptr, 8},
    {"FILEATTR_READ_GRP", nullptr, 512},
    {"FILEATTR_WRITE_GRP", nullptr, 1024},
    {"FILEATTR_EXECUTE_GRP", nullptr, 2048},
    {"FILEATTR_READ_OTH", nullptr, 4096},
    {"FILEATTR_WRITE_OTH", nullptr, 8192},
    {"FILEATTR_EXECUTE_OTH", nullptr, 16384},
    {"FILEATTR_PURE", nullptr, 16},
    {"FILEATTR_ARCHIVE", nullptr, 32},
    {"FILEATTR_SCRIPT", nullptr, 64},
    {"FILEATTR_HIDDEN", nullptr, 128},
    {"FILEATTR_SYSTEM", nullptr, 256},
    {"FILEATTR_READONLY", nullptr, 32768},
    {"DOSTYPE_FILE", nullptr, 0},
    {"DOSTYPE_DIRECTORY", nullptr, 1},
    {"SEEK_BEGINNING", nullptr, kSeekBeginning},
    {"SEEK_CURRENT", nullptr, kSeekCurrent},
    {"SEEK_END", nullptr, kSeekEnd},
    {nullptr, nullptr, 0},
};

std::string FormatFileTime(int64_t seconds) {
    static constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                              "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    const std::time_t t = static_cast<std::time_t>(seconds);
    std::tm local{};
    if (!localtime_r(&t, &local)) return {};
    char text[64];
    std::snprintf(text, sizeof text, "%.2d-%s-%d %.2d:%.2d:%.2d", local.tm_mday, kMonths[local.tm_mon % 12],
                  local.tm_year + 1900, local.tm_hour, local.tm_min, local.tm_sec);
    return text;
}

// CreateSample's "file" source: the next bytes of an open file.
int ReadFileForSample(ObjectID id, void* out, size_t bytes) {
    qbFileObject* record = nullptr;
    if (int err = GetFileRecord(id, &record)) return err;
    if (record->access == 2) return ERR_WRITEONLY;
    return FileRead(record->file, out, bytes) == bytes ? 0 : ERR_READ;
}

// GetAttribute's rows for open files: the mode the script opened it with
// and the adapter that serves it.
void InstallFileAttributeRows() {
    constexpr int32_t kAttrMode = 42, kAttrAdapter = 87;
    SetAttributeLookup(kObjectTypeFile, [](ScriptState* L, int32_t, int idx, void** out) {
        qbFileObject* record = nullptr;
        if (int err = GetFileRecord(GetObjectIDArg(L, idx), &record)) return err;
        *out = record;
        return 0;
    });
    const qbAttributeRow rows[] = {
        {kObjectTypeFile, kAttrMode,
         [](const qbAttributeQuery& q) {
             VmPushNumber(q.L, static_cast<const qbFileObject*>(q.object)->openMode);
             return 1;
         }},
        {kObjectTypeFile, kAttrAdapter,
         [](const qbAttributeQuery& q) {
             const qbFile* file = static_cast<const qbFileObject*>(q.object)->file;
             VmPushString(q.L, file && file->adapter ? file->adapter->name : "inbuilt");
             return 1;
         }},
    };
    AddAttributeRows(rows, std::size(rows));
}

}  // namespace

qbObjectList* FileListHead() { return &fileList; }

int AppendFileRecord(qbFileObject* record) { return AppendObject(&fileList, record); }

int FreeFileRecord(ScriptState* L, qbFileObject* record) {
    UnlinkObject(&fileList, record);
    std::unique_ptr<qbFileObject> owner(record);
    const int closed = FileClose(record->file);
    record->file = nullptr;
    FreeObjectDataList(L, &record->data);
    return closed ? 0 : ERR_WRITE;
}

int GetFileRecord(ObjectID id, qbFileObject** out) {
    if (qbObject* o = FindListedObject(fileList, id)) {
        *out = static_cast<qbFileObject*>(o);
        return 0;
    }
    if (id.handle) return ERR_FINDARRAY;
    SetErrorArgIndex(id.number);
    return ERR_FINDFILE;
}

void PushFileInfoTable(ScriptState* L, const qbFileInfo& info) {
    VmPushNewTable(L);
    SetTableFieldInt(L, "type", info.kind == 1 ? 1 : 0);
    if (info.kind != 1) SetTableFieldFloat(L, "size", static_cast<double>(info.size));
    SetTableFieldUInt(L, "flags", info.protection);
    SetTableFieldString(L, "time", FormatFileTime(info.modifyTime).c_str());
    SetTableFieldString(L, "lastaccesstime", FormatFileTime(info.accessTime).c_str());
}

int GetDosIOMode() { return ioMode; }
void SetDosIOMode(int mode) { ioMode = mode; }

int InitDosLibrary(ScriptState* L) {
    if (int err = RegisterObjectList(&fileList)) return err;
    SetSampleFileReader(&ReadFileForSample);
    InstallFileAttributeRows();
    if (int err = RegisterObjectList(DirectoryListHead())) return err;
    InstallDirectoryAttributeRows();
    InstallRunHooks();
    // Registration raises on failure; its result only counts the tables made.
    VmRegisterCommands(L, nullptr, kDosCommands, 0);
    VmRegisterConstants(L, kDosConstants, 0);
    return RegisterCommandTable(kDosCommands, "dos", kDosConstants);
}

void FreeDosObjects(ScriptState* L) {
    while (fileList.head) FreeFileRecord(L, static_cast<qbFileObject*>(fileList.head));
    DeleteTempFiles();
    FreeDirectoryObjects(L);
    FreeVirtualStringFiles(L);
    FreeRunningPrograms(L);
    ioMode = kDosIOBuffered;
}
