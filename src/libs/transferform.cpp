// The parts of an HTTP upload ("formdata"): reading and checking them from
// the script's table, and the multipart body whose length the request
// declares before a byte of it is sent.
#include <string>

#include "core/argapi.h"
#include "core/errcodes.h"
#include "core/errors.h"
#include "core/file.h"
#include "libs/transfercall.h"
#include "libs/transferfields.h"
#include "vm/vm.h"

namespace {

constexpr int kOptionsSlot = 2;
constexpr const char* kDefaultMimeType = "application/octet-stream";

// A string field of the entry on the stack top: 0 with *present, or
// ERR_STRINGEXPECTED for another kind of value.
int PartField(ScriptState* L, const char* key, std::string* out, bool* present) {
    VmPushString(L, key);
    IndexOptionTable(L, -2);
    *present = false;
    int err = 0;
    if (VmType(L, -1) == kTypeString) {
        *out = std::string(VmToCString(L, -1), VmStrLen(L, -1));
        *present = true;
    } else if (VmType(L, -1) != kTypeNil) {
        SetErrorDetail(key);
        err = ERR_STRINGEXPECTED;
    }
    VmSetTop(L, -2);
    return err;
}

int MissingField(const char* name) {
    SetErrorDetail(name);
    return ERR_MISSINGFIELD;
}

// The entry on the stack top into part.
int ReadPart(ScriptState* L, FormPart* part) {
    bool hasName = false, hasFile = false, hasData = false, hasMime = false, hasAlias = false;
    std::string file, alias;
    if (int err = PartField(L, "name", &part->name, &hasName))
        return err == ERR_STRINGEXPECTED ? MissingField("Name") : err;
    if (!hasName) return MissingField("Name");
    if (part->name.empty()) return ERR_WRONGUSAGE;
    if (int err = PartField(L, "file", &file, &hasFile)) return err;
    if (int err = PartField(L, "data", &part->data, &hasData)) return err;
    if (int err = PartField(L, "mimetype", &part->mimeType, &hasMime)) return err;
    if (int err = PartField(L, "filealias", &alias, &hasAlias)) return err;
    if (hasMime && part->mimeType.empty()) return ERR_WRONGUSAGE;
    if (hasFile) {
        if (hasData) return ERR_WRONGUSAGE;
        part->file.reset(FileOpen(file.c_str(), kFileModeRead, nullptr));
        if (!part->file) {
            SetErrorDetail(file.c_str());
            return ERR_READFILE;
        }
        const int64_t size = GetFileSize(part->file.get());
        if (size < 0) return ERR_FILESIZE;
        if (size == 0) return ERR_WRONGUSAGE;
        part->size = static_cast<uint64_t>(size);
        part->fileName = file.substr(file.find_last_of("/:") + 1);
        if (!hasMime) part->mimeType = kDefaultMimeType;
    } else {
        if (!hasData) return MissingField("Data");
        if (part->data.empty()) return ERR_WRONGUSAGE;
        part->size = part->data.size();
    }
    if (hasAlias) part->fileName = alias;
    if (hasAlias && part->mimeType.empty()) return MissingField("MIMEType");
    // The file's own name may hold anything a folder allows: it is escaped
    // in the head. What the script names itself may not break a line.
    if (int err = CheckHeaderValue(part->name)) return err;
    if (int err = hasAlias ? CheckHeaderValue(alias) : 0) return err;
    if (int err = CheckHeaderValue(part->mimeType)) return err;
    if (!part->mimeType.empty() && part->fileName.empty()) return MissingField("FileAlias");
    return 0;
}

// The lines before a part's data; the data is followed by CR LF.
std::string PartHead(const FormPart& part, const std::string& boundary) {
    std::string head = boundary + "\r\nContent-Disposition: form-data; name=\"" + FormDataQuoted(part.name) + "\"";
    if (!part.mimeType.empty())
        head += "; filename=\"" + FormDataQuoted(part.fileName) + "\"\r\nContent-Type: " + part.mimeType;
    return head + "\r\n\r\n";
}

}  // namespace

int ReadFormParts(ScriptState* L, std::vector<FormPart>* parts) {
    VmPushString(L, "formdata");
    IndexOptionTable(L, kOptionsSlot);
    if (VmType(L, -1) != kTypeTable) {
        VmSetTop(L, -2);
        return ERR_WRONGUSAGE;
    }
    int err = 0;
    for (int i = 1; !err; ++i) {
        VmRawGetIndex(L, -1, i);
        if (VmType(L, -1) == kTypeNil) {
            VmSetTop(L, -2);
            break;
        }
        if (VmType(L, -1) != kTypeTable) {
            SetErrorDetail("formdata");
            err = ERR_TABEXPECTED2;
        } else {
            parts->emplace_back();
            err = ReadPart(L, &parts->back());
        }
        VmSetTop(L, -2);
    }
    VmSetTop(L, -2);
    if (!err && parts->empty()) err = ERR_WRONGUSAGE;
    return err;
}

uint64_t MultipartLength(const std::vector<FormPart>& parts, const std::string& boundary) {
    uint64_t length = boundary.size() + 4;
    for (const FormPart& part : parts) length += PartHead(part, boundary).size() + part.size + 2;
    return length;
}

int SendMultipart(TransferCall& call, qbConnection* c, const std::string& boundary) {
    c->action = 0;
    c->progressCount = 0;
    c->progressTotal = static_cast<int64_t>(MultipartLength(call.parts, boundary));
    for (FormPart& part : call.parts) {
        const std::string head = PartHead(part, boundary);
        if (int err = NetSendAll(call.L, c, head.data(), head.size())) return err;
        if (part.file) {
            // A redirected upload sends every part again.
            if (FileSeek(part.file.get(), 0, kSeekBeginning) < 0) return TransferSourceFault();
            if (int err = TransferSendFile(call, c, part.file.get(), part.size)) return err;
        } else if (int err = NetSendAll(call.L, c, part.data.data(), part.data.size())) {
            return err;
        }
        if (int err = NetSendAll(call.L, c, "\r\n", 2)) return err;
    }
    const std::string end = boundary + "--\r\n";
    return NetSendAll(call.L, c, end.data(), end.size());
}
