// Native file identities by name.
#include "core/fileid.h"

#include <sys/stat.h>

#include "core/chunkname.h"
#include "core/filenames.h"
#include "core/memfile.h"

qbFileId NativeFileIdOf(const char* name) {
    if (!name || !*name || IsChunkName(name) || IsMemoryName(name)) return {};
    struct stat st;
    if (stat(NativePathOf(name).c_str(), &st) != 0) return {};
    return FileIdOf(st);
}
