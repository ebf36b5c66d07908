// Fuzz target of the serialised-table and function readers: the input is
// lent to the file layer as a memory file and read as a table layout, then
// from its start again as a function layout. Every input must end in a
// result or an error code.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "core/file.h"
#include "core/memfile.h"
#include "libs/serialize.h"
#include "vm/vm.h"
#include "vmnetfuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const std::vector<uint8_t> bytes(data, data + size);
    if (RegisterMemoryBuffer(bytes.data(), bytes.size()) != 0) return 0;
    ScriptState* L = VmOpen();
    qbFilePtr file(FileOpen(MakeMemoryName(bytes.data(), bytes.size()).c_str(), kFileModeRead, nullptr));
    if (L && file) {
        qbSerialSource source{file.get(), nullptr, 0, 0};
        const int tableResult = ReadTableLayout(L, source);
        if (tableResult == 0 && VmType(L, -1) != kTypeTable) __builtin_trap();
        // Each reader's code and, when it read, the table's pairs or the
        // function's precompiled bytes; where each stopped in the file.
        FuzzNoteValue(tableResult);
        if (tableResult == 0) vmnetfuzz::NoteValue(L, -1);
        FuzzNoteValue(FileSeek(file.get(), 0, kSeekCurrent));
        VmSetTop(L, 0);
        FileSeek(file.get(), 0, kSeekBeginning);
        const int functionResult = ReadFunctionLayout(L, source);
        if (functionResult == 0 && VmType(L, -1) != kTypeFunction) __builtin_trap();
        FuzzNoteValue(functionResult);
        if (functionResult == 0) vmnetfuzz::NoteValue(L, -1);
        FuzzNoteValue(FileSeek(file.get(), 0, kSeekCurrent));
        VmSetTop(L, 0);
    }
    file.reset();
    if (L) VmClose(L);
    UnregisterMemoryBuffer(bytes.data());
    return 0;
}
