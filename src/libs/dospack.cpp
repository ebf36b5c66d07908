// Pack files, the CRC32 and MD5 checksums of files, and patches.
#include <memory>
#include <new>

#include "core/chars.h"
#include "core/errcodes.h"
#include "core/errors.h"
#include "core/file.h"
#include "core/packfile.h"
#include "core/settings.h"
#include "display/events.h"
#include "libs/doscommands.h"
#include "libs/dos.h"
#include "libs/md5.h"
#include "libs/packdeflate.h"

namespace {

constexpr char kPackMagic[] = "QBPK";
constexpr size_t kChecksumBlock = 65536;

// Feeds every byte of the named file to sum in blocks.
template <typename Sum>
int ChecksumFile(ScriptState* L, Sum&& sum) {
    size_t length = 0;
    const char* name = VmCheckString(L, 1, &length);
    if (length == 0) return ERR_WRONGUSAGE;
    std::unique_ptr<uint8_t[]> block(new (std::nothrow) uint8_t[kChecksumBlock]);
    if (!block) return ERR_MEM;
    // A FIFO is summed once its writer ends it, as a reader of it expects; a
    // device is refused, as one like /dev/zero never ends.
    qbFilePtr file(FileOpen(name, kFileModeRead | kFileModeAdapters | kFileModeFifoToo, nullptr));
    if (!file) {
        SetErrorDetail(name);
        return ERR_READFILE;
    }
    while (const size_t got = FileReadBytes(file.get(), block.get(), kChecksumBlock)) sum(block.get(), got);
    // The sum of a prefix is no sum of the file: a read that failed, or a
    // file cut under it, is an error.
    return FileReadFailed(file.get()) ? ERR_READ : 0;
}

// Calls the progress function with {progress = percent}; the callback
// nesting count marks it as running.
int ReportProgress(ScriptState* L, int callback, int percent) {
    VmPushValue(L, callback);
    VmPushNewTable(L);
    SetTableFieldInt(L, "progress", percent);
    const qbCallbackScope running;
    return VmPCall(L, 1, 0, 0);
}

}  // namespace

int cmdCompressFile(ScriptState* L) {
    CheckArgCount(L, 2, 2, 0, 0);
    const char* source = VmCheckString(L, 1, nullptr);
    const char* destination = VmCheckString(L, 2, nullptr);
    uint64_t written = 0;
    if (int err = DeflatePackFile(kPackMagic, source, destination, nullptr, &written)) return err;
    VmPushNumber(L, static_cast<double>(written));
    return 1;
}

int cmdDecompressFile(ScriptState* L) {
    CheckArgCount(L, 2, 2, 0, 0);
    const char* source = VmCheckString(L, 1, nullptr);
    const char* destination = VmCheckString(L, 2, nullptr);
    uint64_t size = 0;
    if (int err = InflatePackFile(kPackMagic, source, destination, nullptr, 0, &size, nullptr, nullptr, 0))
        return err;
    VmPushNumber(L, static_cast<double>(size));
    return 1;
}

int cmdCRC32(ScriptState* L) {
    CheckArgCount(L, 1, 1, 0, 0);
    uint32_t crc = 0;
    if (int err = ChecksumFile(L, [&](const uint8_t* p, size_t n) { crc = UpdateCRC32(crc, p, n); })) return err;
    VmPushNumber(L, crc);
    return 1;
}

int cmdMD5(ScriptState* L) {
    CheckArgCount(L, 1, 1, 0, 0);
    MD5Context context;
    MD5Init(&context);
    if (int err = ChecksumFile(L, [&](const uint8_t* p, size_t n) { MD5Update(&context, p, n); })) return err;
    uint8_t digest[16];
    MD5Final(digest, &context);
    const std::string hex = MD5Hex(digest);
    VmPushLString(L, hex.data(), hex.size());
    return 1;
}

int cmdApplyPatch(ScriptState* L) {
    CheckArgCount(L, 3, 4, 0, 0);
    const ObjectID ids[3] = {GetObjectIDArg(L, 1), GetObjectIDArg(L, 2), GetObjectIDArg(L, 3)};
    qbFileObject* patch;
    qbFileObject* source;
    qbFileObject* destination;
    // Again after every callback, which may have closed any of them.
    auto lookup = [&]() {
        if (int err = GetFileRecord(ids[0], &patch)) return err;
        if (int err = GetFileRecord(ids[1], &source)) return err;
        return GetFileRecord(ids[2], &destination);
    };
    if (int err = lookup()) return err;
    const bool haveCallback = VmGetTop(L) >= 4 && VmType(L, 4) != kTypeNil;
    if (haveCallback) VmCheckFunction(L, 4);
    const int64_t patchSize = GetFileSize(patch->file);
    int64_t sourceLeft = GetFileSize(source->file);
    if (patchSize <= 0) return 0;
    if (sourceLeft < 0) sourceLeft = 0;
    int shown = 0;
    for (int64_t i = 0; i < patchSize; ++i) {
        const int p = FileGetC(patch->file);
        if (p < 0) return ERR_READ;
        int out;
        if (sourceLeft > 0) {
            const int s = FileGetC(source->file);
            if (s < 0) return ERR_READ;
            --sourceLeft;
            out = p ^ s;
        } else {
            out = ~p & 0xFF;
        }
        if (!FilePutC(destination->file, out)) return ERR_WRITE;
        // Whole percentages counted exactly, so that the last byte reports 100.
        const int percent = static_cast<int>((i + 1) * 100 / patchSize);
        if (percent != shown) {
            shown = percent;
            if (haveCallback)
                if (int err = ReportProgress(L, 4, shown); err || (err = lookup())) return err;
        }
        int error = 0;
        if (PumpEvents(L, 0, nullptr, &error)) return error ? error : ERR_USERABORT;
    }
    return 0;
}
