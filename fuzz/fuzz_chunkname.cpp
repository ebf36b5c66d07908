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
#include "fuzznote.h"

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
    FuzzNoteValue(f ? 1 : 0);
    if (!f) return;
    FuzzNoteValue(FileSeek(f.get(), -3, kSeekEnd));
    for (int c; (c = FileGetC(f.get())) >= 0;) FuzzNoteValue(c);
    FuzzNoteValue(FileSeek(f.get(), INT64_MIN, kSeekCurrent));
    char buffer[64];
    const auto n = FileRead(f.get(), buffer, sizeof buffer);
    FuzzNoteValue(static_cast<int64_t>(n));
    if (n > 0 && static_cast<size_t>(n) <= sizeof buffer) FuzzNote(buffer, static_cast<size_t>(n));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static Fixtures fixtures;
    const std::string name(reinterpret_cast<const char*>(data), size);
    const char* text = name.c_str();
    FuzzNoteText(FilePartEx(text));
    qbChunkName parsed;
    const int isChunk = ParseChunkName(text, &parsed);
    FuzzNoteValue(isChunk);
    if (isChunk) {
        FuzzNoteValue(parsed.stream);
        FuzzNoteValue(static_cast<int64_t>(parsed.offset));
        FuzzNoteValue(static_cast<int64_t>(parsed.size));
        FuzzNoteValue(parsed.slot);
        FuzzNoteText(parsed.fileName);
        FuzzNoteText(parsed.containerPath);
        FuzzNoteText(parsed.extension);
        const std::string rebuilt =
            MakeChunkName(parsed.fileName.c_str(), parsed.stream ? kStreamChunkOffset : parsed.offset, parsed.size,
                          parsed.stream ? static_cast<uint64_t>(parsed.slot) : 0, parsed.containerPath.c_str());
        qbChunkName again;
        if (!ParseChunkName(rebuilt.c_str(), &again) || again.offset != parsed.offset || again.size != parsed.size ||
            again.fileName != parsed.fileName || again.containerPath != parsed.containerPath ||
            again.extension != parsed.extension)
            __builtin_trap();
        FuzzNoteText(rebuilt);
        // Only names that touch no file on disk are opened.
        if (parsed.stream || parsed.containerPath.empty()) ReadAll(text);
    }
    const void* address = nullptr;
    uint64_t length = 0;
    const int isMemory = ParseMemoryName(text, &address, &length);
    FuzzNoteValue(isMemory);
    if (isMemory) {
        // The address is where the buffer lies this run; only whether it is
        // the lent buffer is the same from run to run.
        FuzzNoteValue(address == fixtures.lent);
        FuzzNoteValue(static_cast<int64_t>(length));
        ReadAll(text);
    }
    return 0;
}
