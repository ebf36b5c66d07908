// Fuzz target of chunk-name and memory-name parsing: any text is parsed or
// refused, a parsed name rebuilds to one that parses the same, and opening
// it never reaches outside the file layer's registered memory.
#include <cstddef>
#include <cstdint>
#include <string>

#include "core/chars.h"
#include "core/chunkname.h"
#include "core/file.h"
#include "core/memfile.h"

namespace {

// A virtual file and a lent buffer for the names to find.
struct Fixtures {
    MemoryFile virtualFile;
    char lent[16] = "0123456789abcde";
    Fixtures() {
        virtualFile.registryRef = 3;
        virtualFile.data = reinterpret_cast<uint8_t*>(lent);
        virtualFile.size = 8;
        virtualFile.capacity = 8;
        AddVirtualFile(&virtualFile);
        RegisterMemoryBuffer(lent, sizeof lent);
    }
};

void ReadAll(const char* name) {
    qbFilePtr f(FileOpen(name, kFileModeRead, nullptr));
    if (!f) return;
    FileSeek(f.get(), -3, kSeekEnd);
    while (FileGetC(f.get()) >= 0) {
    }
    FileSeek(f.get(), INT64_MIN, kSeekCurrent);
    char buffer[64];
    FileRead(f.get(), buffer, sizeof buffer);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static Fixtures fixtures;
    const std::string name(reinterpret_cast<const char*>(data), size);
    const char* text = name.c_str();
    FilePartEx(text);
    qbChunkName parsed;
    if (ParseChunkName(text, &parsed)) {
        const std::string rebuilt =
            MakeChunkName(parsed.fileName.c_str(), parsed.stream ? kStreamChunkOffset : parsed.offset, parsed.size,
                          parsed.stream ? static_cast<uint64_t>(parsed.slot) : 0, parsed.containerPath.c_str());
        qbChunkName again;
        if (!ParseChunkName(rebuilt.c_str(), &again) || again.offset != parsed.offset || again.size != parsed.size ||
            again.fileName != parsed.fileName || again.containerPath != parsed.containerPath ||
            again.extension != parsed.extension)
            __builtin_trap();
        // Only names that touch no file on disk are opened.
        if (parsed.stream || parsed.containerPath.empty()) ReadAll(text);
    }
    const void* address = nullptr;
    uint64_t length = 0;
    if (ParseMemoryName(text, &address, &length)) ReadAll(text);
    return 0;
}
