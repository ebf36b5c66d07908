// Fuzz target of the preferences reader: the input, lent to the file layer
// as a memory file, is read into a table that already holds a pair. Every
// input must end in a result or an error code.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "core/file.h"
#include "core/memfile.h"
#include "libs/prefs.h"
#include "vm/vm.h"
#include "vmnetfuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const std::vector<uint8_t> bytes(data, data + size);
    if (RegisterMemoryBuffer(bytes.data(), bytes.size()) != 0) return 0;
    ScriptState* L = VmOpen();
    qbFilePtr file(FileOpen(MakeMemoryName(bytes.data(), bytes.size()).c_str(), kFileModeRead, nullptr));
    if (L && file) {
        VmPushNewTable(L);
        VmPushString(L, "kept");
        VmPushNumber(L, 1);
        VmSetTableAt(L, -3);
        // The code and the table read into: the pair it held and those read.
        FuzzNoteValue(ReadPrefsStream(L, file.get()));
        vmnetfuzz::NoteValue(L, 1);
        FuzzNoteValue(VmGetTop(L));
        VmSetTop(L, 0);
    }
    file.reset();
    if (L) VmClose(L);
    UnregisterMemoryBuffer(bytes.data());
    return 0;
}
