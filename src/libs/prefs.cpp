// Preferences files: "PRFS" and one table stream.
#include "libs/prefs.h"

#include <cstring>
#include <string>
#include <vector>

#include "core/applet.h"
#include "core/argapi.h"
#include "core/context.h"
#include "core/errcodes.h"
#include "core/errors.h"
#include "core/file.h"
#include "core/fileops.h"
#include "core/replacefile.h"
#include "libs/serialize.h"
#include "platform/platform_ops.h"
#include "vm/vm.h"

namespace {

// The file of the running applet; ERR_WRONGUSAGE without an identifier.
int PrefsPath(ScriptState* L, std::string* out) {
    const qbApplet* applet = GetAppletRecord(L);
    if (!applet || !applet->identifier[0]) return ERR_WRONGUSAGE;
    char folder[4096] = {};
    if (int err = GetPrefsPath(folder, sizeof folder)) return err;
    // Without a folder the name alone would land in the current folder.
    if (!folder[0]) return ERR_UNSUPPORTEDFEAT;
    std::string name(applet->identifier, strnlen(applet->identifier, sizeof applet->identifier));
    // The file stays inside the preferences folder.
    for (char& c : name)
        if (c == '/' || c == '\\') c = '_';
    if (name == "." || name == "..") {
        // Appending, not inserting: g++ 12 at -O3 takes the insert for an
        // overlapping copy.
        std::string prefixed(1, '_');
        prefixed += name;
        name = std::move(prefixed);
    }
    *out = folder;
    if (!out->empty() && out->back() != '/') *out += '/';
    *out += name;
    return 0;
}

}  // namespace

int WritePrefsFile(ScriptState* L, int idx) {
    std::string path;
    if (int err = PrefsPath(L, &path)) return err;
    std::vector<uint8_t> bytes{'P', 'R', 'F', 'S'};
    if (int err = WriteTableStream(L, idx, qbSerialSink{nullptr, &bytes, nullptr})) return err;
    qbReplaceFile out;
    if (int err = BeginReplaceFile(path.c_str(), qbReplaceOptions{}, &out)) return err;
    if (FileWrite(out.file.get(), bytes.data(), bytes.size()) != bytes.size() || CommitReplaceFile(&out) != 0) {
        SetErrorDetail(path.c_str());
        return ERR_WRITEFILE;
    }
    return 0;
}

int ReadPrefsStream(ScriptState* L, qbFile* file) {
    qbSerialSource source{file, nullptr, 0, 0};
    char magic[4];
    if (int err = ReadSerializedBytes(source, magic, 4, true)) return err;
    if (std::memcmp(magic, "PRFS", 4) != 0) return ERR_FILEFORMAT;
    return ReadTableStream(L, source, true);
}

int ReadPrefsFile(ScriptState* L, bool fill) {
    std::string path;
    if (int err = PrefsPath(L, &path)) return err;
    if (!fill) VmPushNewTable(L);
    qbFilePtr file(FileOpen(path.c_str(), kFileModeRead, nullptr));
    if (!file) return 0;
    return ReadPrefsStream(L, file.get());
}

int DeletePrefsFile(ScriptState* L) {
    std::string path;
    if (int err = PrefsPath(L, &path)) return err;
    // By the road SavePrefs wrote it: an identifier that is no ASCII names
    // the file in the system's text. A missing file is no error.
    RemoveFile(path.c_str());
    return 0;
}

int cmdSavePrefs(ScriptState* L) {
    CheckArgCount(L, 1, 1, 0, 0);
    VmCheckTable(L, 1);
    return WritePrefsFile(L, 1);
}

int cmdLoadPrefs(ScriptState* L) {
    CheckArgCount(L, 1, 1, 0, 0);
    VmCheckTable(L, 1);
    VmSetTop(L, 1);
    const int err = ReadPrefsFile(L, true);
    VmSetTop(L, 1);
    return err;
}

int cmdDeletePrefs(ScriptState* L) {
    CheckArgCount(L, 0, 0, 0, 0);
    return DeletePrefsFile(L);
}
