#include "sound/samplesources.h"

#include "core/errcodes.h"
#include "core/errors.h"

namespace {

qbSampleSourceHooks hooks;

int NotFound(int error, ObjectID id) {
    if (id.handle) return ERR_FINDARRAY;
    SetErrorArgIndex(id.number);
    return error;
}

}  // namespace

void SetSampleMemoryReader(int (*reader)(ObjectID, int64_t, void*, size_t)) { hooks.readMemory = reader; }

void SetSampleFileReader(int (*reader)(ObjectID, void*, size_t)) { hooks.readFile = reader; }

int ReadSampleMemory(ObjectID block, int64_t offset, void* out, size_t bytes) {
    return hooks.readMemory ? hooks.readMemory(block, offset, out, bytes) : NotFound(ERR_FINDMEMBLK, block);
}

int ReadSampleFile(ObjectID file, void* out, size_t bytes) {
    return hooks.readFile ? hooks.readFile(file, out, bytes) : NotFound(ERR_FINDFILE, file);
}
