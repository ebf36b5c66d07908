// Fuzz target of the pack-file inflater: any bytes, read through the file
// layer, inflate into a bounded memory block and into a growing memory file,
// and both agree on what the stream holds.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "core/chunkname.h"
#include "core/file.h"
#include "core/memfile.h"
#include "core/packfile.h"
#include "fuzznote.h"

namespace {

constexpr size_t kBlockSize = 4096;
constexpr char kMagic[] = "QBPK";

// A writable virtual file that takes the inflated bytes.
struct Target {
    MemoryFile file;
    std::string name;
    Target() {
        file.writable = 1;
        file.registryRef = 7;
        file.capacity = kMemoryFileGrowStep;
        file.data = static_cast<uint8_t*>(std::malloc(static_cast<size_t>(file.capacity)));
        AddVirtualFile(&file);
        name = MakeChunkName("out.bin", kStreamChunkOffset, 0, 7, "unused");
    }
};

qbFile* OpenInput(const std::vector<uint8_t>& bytes) {
    if (RegisterMemoryBuffer(bytes.data(), bytes.size())) return nullptr;
    return FileOpen(MakeMemoryName(bytes.data(), bytes.size()).c_str(), kFileModeRead, nullptr);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static Target target;
    if (size == 0) return 0;
    const std::vector<uint8_t> bytes(data, data + size);
    qbFilePtr source(OpenInput(bytes));
    if (!source) __builtin_trap();

    std::vector<uint8_t> block(kBlockSize);
    uint64_t inBlock = 0;
    uint64_t consumed = 0;
    const int blockResult =
        InflatePackFile(kMagic, nullptr, nullptr, source.get(), 0, &inBlock, &consumed, block.data(), block.size());
    if (blockResult == 0 && (inBlock > kBlockSize || consumed > size)) __builtin_trap();
    FuzzNoteValue(blockResult);
    FuzzNoteValue(static_cast<int64_t>(inBlock));
    FuzzNoteValue(static_cast<int64_t>(consumed));
    if (blockResult == 0) FuzzNote(block.data(), static_cast<size_t>(inBlock));

    target.file.size = 0;
    uint64_t inFile = 0;
    const int fileResult =
        InflatePackFile(kMagic, nullptr, target.name.c_str(), source.get(), 0, &inFile, nullptr, nullptr, 0);
    FuzzNoteValue(fileResult);
    FuzzNoteValue(static_cast<int64_t>(inFile));
    FuzzNoteValue(target.file.size);
    if (fileResult == 0) FuzzNote(target.file.data, static_cast<size_t>(target.file.size));
    if (fileResult == 0) {
        if (static_cast<uint64_t>(target.file.size) != inFile) __builtin_trap();
        // What the block took is the start of the whole stream.
        if (blockResult != 0 || std::memcmp(block.data(), target.file.data, static_cast<size_t>(inBlock)) != 0)
            __builtin_trap();
    }
    source.reset();
    UnregisterMemoryBuffer(bytes.data());
    return 0;
}
