// The dos library's directory objects, directory listings and the
// attributes of files and folders.
#include <algorithm>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "core/objectlist.h"
#include "core/argapi.h"
#include "core/chunkname.h"
#include "core/dir.h"
#include "core/errcodes.h"
#include "core/errors.h"
#include "core/file.h"
#include "core/fileinfo.h"
#include "core/fileops.h"
#include "core/linkedfile.h"
#include "draw/attributes.h"
#include "libs/doscommands.h"
#include "libs/dos.h"

namespace {

constexpr int kDirModeList = kDirLockRead | kDirUseAdapters;

qbObjectList dirList;

struct qbDirectoryObject : qbObject {
    int32_t finished = 0;
    qbDirHandlePtr dir;
};

int Lookup(ObjectID id, qbDirectoryObject** out) {
    if (qbObject* o = FindListedObject(dirList, id)) {
        *out = static_cast<qbDirectoryObject*>(o);
        return 0;
    }
    if (id.handle) return ERR_FINDARRAY;
    SetErrorArgIndex(id.number);
    return ERR_FINDDIR;
}

void FreeRecord(ScriptState* L, qbDirectoryObject* record) {
    UnlinkObject(&dirList, record);
    std::unique_ptr<qbDirectoryObject> owner(record);
    FreeObjectDataList(L, &record->data);
}

// Opens path as a directory to list: 0, ERR_LOCK2 (path as the detail) or
// the directory test's error.
int OpenListing(const char* path, const char* adapter, qbDirHandlePtr* out) {
    qbDirHandlePtr dir(DirOpen(path, kDirModeList, adapter));
    if (!dir) {
        SetErrorDetail(path);
        return ERR_LOCK2;
    }
    if (int err = DirCheck(dir.get(), nullptr)) return err;
    *out = std::move(dir);
    return 0;
}

// Stores the names at indexes 0, 1, ... of the table at idx and "" after them.
void StoreList(ScriptState* L, int idx, const std::vector<std::string>& names) {
    int i = 0;
    for (const std::string& name : names) {
        VmPushLString(L, name.data(), name.size());
        VmRawSetIndex(L, idx, i++);
    }
    VmPushString(L, "");
    VmRawSetIndex(L, idx, i);
}

}  // namespace

qbObjectList* DirectoryListHead() { return &dirList; }

void InstallDirectoryAttributeRows() {
    constexpr int32_t kAttrAdapter = 87;
    SetAttributeLookup(kObjectTypeDirectory, [](ScriptState* L, int32_t, int idx, void** out) {
        qbDirectoryObject* d = nullptr;
        if (int err = Lookup(GetObjectIDArg(L, idx), &d)) return err;
        *out = d;
        return 0;
    });
    const qbAttributeRow row{kObjectTypeDirectory, kAttrAdapter, [](const qbAttributeQuery& q) {
                                 VmPushString(q.L, GetDirectoryAdapterName(static_cast<const qbObject*>(q.object)));
                                 return 1;
                             }};
    AddAttributeRows(&row, 1);
}

void FreeDirectoryObjects(ScriptState* L) {
    while (dirList.head) FreeRecord(L, static_cast<qbDirectoryObject*>(dirList.head));
}

int cmdOpenDirectory(ScriptState* L) {
    CheckArgCount(L, 2, 3, 0, 0);
    const NewObjectID id = GetNewObjectIDArg(L, 1);
    const std::string path = VmCheckString(L, 2, nullptr);
    const char* adapter = nullptr;
    if (VmGetTop(L) >= 3 && VmType(L, 3) != kTypeNil) {
        VmCheckTable(L, 3);
        GetTableFieldString(L, 3, "adapter", &adapter, nullptr);
    }
    if (!id.chooseFlag) {
        qbDirectoryObject* old;
        if (Lookup(ObjectID{id.id, nullptr}, &old) == 0) FreeRecord(L, old);
        SetErrorArgIndex(0);
    }
    qbDirHandlePtr dir;
    if (int err = OpenListing(path.c_str(), adapter, &dir)) return err;
    std::unique_ptr<qbDirectoryObject> record(new (std::nothrow) qbDirectoryObject);
    if (!record) return ERR_MEM;
    record->type = kObjectTypeDirectory;
    record->id = id.chooseFlag ? 0 : id.id;
    record->handle = id.chooseFlag ? record.get() : nullptr;
    record->dir = std::move(dir);
    if (int err = AppendObject(&dirList, record.get())) return err;
    qbDirectoryObject* made = record.release();
    if (!id.chooseFlag) return 0;
    return PushObjectID(L, IDOf(*made));
}

int cmdCloseDirectory(ScriptState* L) {
    CheckArgCount(L, 1, 1, 0, 0);
    qbDirectoryObject* d;
    if (int err = Lookup(GetObjectIDArg(L, 1), &d)) return err;
    FreeRecord(L, d);
    return 0;
}

int cmdNextDirectoryEntry(ScriptState* L) {
    CheckArgCount(L, 1, 1, 0, 0);
    qbDirectoryObject* d;
    if (int err = Lookup(GetObjectIDArg(L, 1), &d)) return err;
    if (d->finished) return 0;
    const char* name = nullptr;
    qbFileInfo info;
    if (!ReadDirEntry(d->dir.get(), &name, nullptr, &info)) {
        d->finished = 1;
        return 0;
    }
    PushFileInfoTable(L, info);
    SetTableFieldString(L, "name", name);
    return 1;
}

const char* GetDirectoryAdapterName(const qbObject* object) {
    const auto* d = static_cast<const qbDirectoryObject*>(object);
    const char* name = GetDirAdapterName(d->dir.get());
    return name ? name : "inbuilt";
}

int cmdReadDirectory(ScriptState* L) {
    CheckArgCount(L, 3, 4, 0, 0);
    const std::string path = VmCheckString(L, 1, nullptr);
    VmCheckTable(L, 2);
    VmCheckTable(L, 3);
    const bool sort = VmOptNumber(L, 4, 1) != 0;
    qbDirHandlePtr dir(DirOpen(path.c_str(), kDirModeList, nullptr));
    if (!dir) {
        SetErrorDetail(path.c_str());
        return ERR_LOCK2;
    }
    std::vector<std::string> files, dirs;
    try {
        const char* name;
        int isDir;
        while (ReadDirEntry(dir.get(), &name, &isDir, nullptr)) (isDir ? dirs : files).emplace_back(name);
    } catch (const std::bad_alloc&) {
        return ERR_MEM;
    }
    dir.reset();
    // The names are distinct, so any sort gives Sort's byte order.
    if (sort) {
        std::sort(files.begin(), files.end());
        std::sort(dirs.begin(), dirs.end());
    }
    StoreList(L, 2, files);
    StoreList(L, 3, dirs);
    VmPushNumber(L, static_cast<double>(files.size()));
    VmPushNumber(L, static_cast<double>(dirs.size()));
    return 2;
}

int cmdGetFileAttributes(ScriptState* L) {
    CheckArgCount(L, 1, 2, 0, 0);
    const std::string given = VmCheckString(L, 1, nullptr);
    const std::string name = ResolveLinkedFileArg(L, 1, 0, nullptr);
    const char* adapter = VmGetTop(L) >= 2 && VmType(L, 2) != kTypeNil ? VmCheckString(L, 2, nullptr) : nullptr;
    const bool chunk = IsChunkName(name.c_str()) != 0;
    qbFileInfo info;
    std::string path;
    qbDirHandlePtr dir(DirOpen(name.c_str(), kDirModeList, adapter));
    int isDir = 0;
    if (dir && DirCheck(dir.get(), &isDir) == 0 && isDir) {
        ExamineDirHandle(dir.get(), &info);
        path = GetDirHandlePath(dir.get());
    } else if (DescribeNativeName(name.c_str(), &info)) {
        dir.reset();
        path = GetFullPath(name.c_str());
    } else {
        dir.reset();
        qbFilePtr file(FileOpen(name.c_str(), kFileModeRead | kFileModeAdapters, adapter));
        if (!file) {
            SetErrorDetail(given.c_str());
            return ERR_READFILE;
        }
        if (!GetFileInfo(file.get(), &info)) {
            SetErrorDetail(given.c_str());
            return ERR_EXAMINE;
        }
        path = info.path && *info.path ? info.path : GetFullPath(name.c_str());
    }
    info.path = nullptr;  // the handle it pointed into may be closed
    PushFileInfoTable(L, info);
    SetTableFieldString(L, "path", chunk ? given.c_str() : path.c_str());
    SetTableFieldInt(L, "virtual", chunk ? 1 : 0);
    return 1;
}

int cmdSetFileAttributes(ScriptState* L) {
    CheckArgCount(L, 2, 2, 0, 0);
    const std::string path = VmCheckString(L, 1, nullptr);
    VmCheckTable(L, 2);
    if (IsChunkName(path.c_str())) return ERR_WRONGUSAGE;
    qbFileInfo current;
    {
        qbDirHandlePtr dir(DirOpen(path.c_str(), kDirLockRead, nullptr));
        if (!dir) {
            SetErrorDetail(path.c_str());
            return ERR_LOCK2;
        }
        ExamineDirHandle(dir.get(), &current);
    }
    uint32_t flags = 0;
    int found = 0;
    GetTableFieldUInt(L, 2, "flags", &flags, &found);
    if (found && !SetFileProtection(path.c_str(), flags)) return ERR_SETFILEATTR;
    int64_t modify = current.modifyTime, access = current.accessTime;
    bool dated = false;
    for (const char* key : {"time", "lastaccesstime"}) {
        const char* text = nullptr;
        found = 0;
        GetTableFieldString(L, 2, key, &text, &found);
        if (!found) continue;
        qbDateRecord date;
        bool ok = false;
        if (!ParseDateString(text, &date)) return ERR_INVALIDDATE;
        const int64_t seconds = DateToTime(date, &ok);
        if (!ok) return ERR_INVALIDDATE;
        (key[0] == 't' ? modify : access) = seconds;
        dated = true;
    }
    if (dated && !SetFileDate(path.c_str(), access, modify)) return ERR_INVALIDDATE;
    return 0;
}
